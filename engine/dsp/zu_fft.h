// Fixed-point, table-driven FFT on 16-bit complex values (mixed radix 4/2, in place
// after a digit-reversing first pass). Every radix-4 stage divides by 4 and every
// radix-2 stage by 2, so the transforms return the DFT divided by its length:
//
//   fft      : out[k] = X[k] / n, k = 0..n-1,   n = 4, 8, ..., 1024 complex points
//   fft_real : out[k] = X[k] / N, k = 0..N/2,   N = 8, 16, ..., 1024 real samples
//
// with X[k] = sum_m x[m] * e^(-j*2*pi*k*m/len). Values are plain 16-bit integers in
// and out (same scale as the input). Products are 16x16->32 bits, sums wrap in 32 bits
// and every store keeps the low 16 bits of the shifted sum, without saturation.
// Integer only, no allocation, no recursion. Sizes outside the ranges above are not
// supported (the twiddle tables end at 1024).
#ifndef ZU_FFT_H
#define ZU_FFT_H

#include <stdint.h>

// One complex value: real part first, then imaginary part.
struct zu_cplx16 {
    int16_t re;
    int16_t im;
};

// Entry m of fft_twiddles, theta = 2*pi*m/1024, each value round(v * 32768) limited to
// 32767 (Q15; cos 0 is 32767). Sines are stored positive; the butterflies multiply by
// the conjugate (forward transform).
struct zu_fft_twiddle {
    int16_t c1, s1;  // cos theta, sin theta
    int16_t c2, s2;  // cos 2 theta, sin 2 theta
    int16_t c3, s3;  // cos 3 theta, sin 3 theta
};

// Entry m of fft_real_twiddles, phi = 2*pi*m/1024, Q15 as above:
// ka = (1 - sin phi) / 2, kb = -cos(phi) / 2, kc = (1 + sin phi) / 2.
// Entry 0 is (16384, -16384, 16384), entry 256 is (0, 0, 32767).
struct zu_fft_real_twiddle {
    int16_t ka, kb, kc;
};

extern const zu_fft_twiddle (&fft_twiddles)[256];            // m = 0..255
extern const zu_fft_real_twiddle (&fft_real_twiddles)[257];  // m = 0..256

// Complex transform: out[k] = X[k] / n for k = 0..n-1 in natural order.
// in: n complex values (read only); out: n complex values; they must not overlap.
void fft(zu_cplx16 *out, const zu_cplx16 *in, int32_t n);

// Real transform of N samples: out[k] = X[k] / N for k = 0..N/2 (N/2 + 1 values are
// written; the caller's array must hold them). Imaginary parts of bins 0 and N/2 are 0.
// in: N samples (read only); in and out must not overlap.
void fft_real(zu_cplx16 *out, const int16_t *in, int32_t N);

// Internal passes of fft/fft_real, exposed for tests.
// First pass: digit-reversed read of in, radix-4 butterflies without twiddles, each
// result >> 2 (floor), written in natural group order to out[0..n-1].
void fft4first(zu_cplx16 *out, const zu_cplx16 *in, int32_t n);
// Radix-4 pass in place on buf[0..n-1]: a = quarter length of this stage's butterflies,
// step = stride into fft_twiddles in 16-bit values (six per entry). Divides by 4,
// rounding half up.
void fft4set(zu_cplx16 *buf, int32_t a, int32_t n, int32_t step);
// Radix-2 pass in place: a = half length; uses the (cos 2 theta, sin 2 theta) pair of
// entries 0, step/6, 2*step/6, ... Divides by 2, rounding half up.
void fft2set(zu_cplx16 *buf, int32_t a, int32_t n, int32_t step);

#endif
