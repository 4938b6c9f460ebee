// Fixed-point mixed-radix FFT: see zu_fft.h for sizes, scaling and formats.
#include "dsp/zu_fft.h"

#include <bit>

namespace {

// ---- Compile-time twiddle generation (double precision, never run on the target) ----

constexpr double kPi = 3.14159265358979323846264338327950288;

struct sin_cos {
    double s, c;
};

// sin and cos of x = 2*pi*u/1024 for u = 0..128 (x <= pi/4) by their Taylor series.
constexpr sin_cos ce_sin_cos_octant(int u) {
    const double x = 2.0 * kPi * u / 1024.0;
    const double x2 = x * x;
    double s = 0.0, c = 0.0;
    double ts = x, tc = 1.0;
    for (int k = 0; k < 20; k++) {
        s += ts;
        c += tc;
        ts *= -x2 / ((2 * k + 2) * (2 * k + 3));
        tc *= -x2 / ((2 * k + 1) * (2 * k + 2));
    }
    return {s, c};
}

// sin and cos of 2*pi*t/1024 for any integer t, reduced exactly to the first octant.
constexpr sin_cos ce_sin_cos(int t) {
    t &= 1023;
    const int quadrant = t >> 8;
    const int r = t & 255;
    sin_cos b{};
    if (r <= 128) {
        b = ce_sin_cos_octant(r);
    } else {
        const sin_cos o = ce_sin_cos_octant(256 - r);  // angle pi/2 - x
        b = {o.c, o.s};
    }
    switch (quadrant) {  // add quadrant * pi/2
        case 1:
            return {b.c, -b.s};
        case 2:
            return {-b.s, -b.c};
        case 3:
            return {-b.c, b.s};
        default:
            return b;
    }
}

// round(v * 32768) to the nearest integer, limited to 32767 (Q15). No ties occur.
constexpr int16_t ce_q15(double v) {
    const double scaled = v * 32768.0;
    const long r =
        scaled >= 0.0 ? static_cast<long>(scaled + 0.5) : -static_cast<long>(-scaled + 0.5);
    return static_cast<int16_t>(r > 32767 ? 32767 : r);
}

struct twiddle_gen {
    zu_fft_twiddle e[256];
};

constexpr twiddle_gen make_twiddles() {
    twiddle_gen t{};
    for (int m = 0; m < 256; m++) {
        const sin_cos w1 = ce_sin_cos(m), w2 = ce_sin_cos(2 * m), w3 = ce_sin_cos(3 * m);
        t.e[m] = {ce_q15(w1.c), ce_q15(w1.s), ce_q15(w2.c),
                  ce_q15(w2.s), ce_q15(w3.c), ce_q15(w3.s)};
    }
    return t;
}

struct real_twiddle_gen {
    zu_fft_real_twiddle e[257];
};

constexpr real_twiddle_gen make_real_twiddles() {
    real_twiddle_gen t{};
    for (int m = 0; m <= 256; m++) {
        const sin_cos w = ce_sin_cos(m);
        t.e[m] = {ce_q15((1.0 - w.s) / 2.0), ce_q15(-w.c / 2.0), ce_q15((1.0 + w.s) / 2.0)};
    }
    return t;
}

constexpr twiddle_gen kTwiddles = make_twiddles();
constexpr real_twiddle_gen kRealTwiddles = make_real_twiddles();

static_assert(kTwiddles.e[0].c1 == 32767 && kTwiddles.e[0].s1 == 0);
static_assert(kRealTwiddles.e[0].ka == 16384 && kRealTwiddles.e[0].kb == -16384 &&
              kRealTwiddles.e[0].kc == 16384);
static_assert(kRealTwiddles.e[256].ka == 0 && kRealTwiddles.e[256].kb == 0 &&
              kRealTwiddles.e[256].kc == 32767);

// ---- Arithmetic helpers ----

// Sums that may exceed 32 bits wrap: they are formed in uint32_t, and only bits 16..31
// (the 16-bit result of an arithmetic shift by 16) are kept.
inline uint32_t u32(int32_t v) {
    return static_cast<uint32_t>(v);
}
inline int16_t hi16(uint32_t v) {
    return static_cast<int16_t>(v >> 16);
}

// Radix-4 digit reversal of the group start g of an n = 2^L point transform. For odd L
// the (L-1)/2 base-4 digits are reversed, shifted left by one and bit L-1 of g becomes
// the lowest bit.
inline int32_t digit_reverse(int32_t g, int L) {
    uint32_t r = 0;
    const uint32_t ug = static_cast<uint32_t>(g);
    for (int d = 0; d < (L >> 1); d++) r = (r << 2) | ((ug >> (2 * d)) & 3u);
    if (L & 1) r = (r << 1) | ((ug >> (L - 1)) & 1u);
    return static_cast<int32_t>(r);
}

// First pass over n complex points read through load(index): digit-reversed read and
// radix-4 butterflies without twiddles, each result >> 2 (floor) stored as 16 bits.
template <class Load>
inline void first_pass(zu_cplx16 *out, Load load, int32_t n) {
    const int L = std::countr_zero(static_cast<uint32_t>(n));
    const int32_t q = n >> 2;
    for (int32_t g = 0; g < n; g += 4) {
        const int32_t r = digit_reverse(g, L);  // < n/4 since g is a multiple of 4
        const zu_cplx16 x0 = load(r), x1 = load(r + q), x2 = load(r + 2 * q), x3 = load(r + 3 * q);
        const int32_t a_re = x0.re - x2.re, a_im = x0.im - x2.im;  // x0 - x2
        const int32_t s02_re = x0.re + x2.re, s02_im = x0.im + x2.im;
        const int32_t d_re = x1.re - x3.re, d_im = x1.im - x3.im;  // x1 - x3
        const int32_t s13_re = x1.re + x3.re, s13_im = x1.im + x3.im;
        out[g].re = static_cast<int16_t>((s02_re + s13_re) >> 2);
        out[g].im = static_cast<int16_t>((s02_im + s13_im) >> 2);
        out[g + 1].re = static_cast<int16_t>((a_re + d_im) >> 2);  // a - j*d
        out[g + 1].im = static_cast<int16_t>((a_im - d_re) >> 2);
        out[g + 2].re = static_cast<int16_t>((s02_re - s13_re) >> 2);
        out[g + 2].im = static_cast<int16_t>((s02_im - s13_im) >> 2);
        out[g + 3].re = static_cast<int16_t>((a_re - d_im) >> 2);  // a + j*d
        out[g + 3].im = static_cast<int16_t>((a_im + d_re) >> 2);
    }
}

// The passes after the first: radix-4 while 4a <= n, then one radix-2 pass when n is
// an odd power of two. step is the twiddle stride in 16-bit values (six per entry):
// 384 selects every 64th entry, i.e. the 16-point twiddles of the a = 4 stage.
inline void later_passes(zu_cplx16 *buf, int32_t n) {
    int32_t a = 4;
    int32_t step = 384;
    while (4 * a <= n) {
        fft4set(buf, a, n, step);
        step /= 4;
        a *= 4;
    }
    if (2 * a <= n) fft2set(buf, a, n, step);
}

}  // namespace

const zu_fft_twiddle (&fft_twiddles)[256] = kTwiddles.e;
const zu_fft_real_twiddle (&fft_real_twiddles)[257] = kRealTwiddles.e;

void fft4first(zu_cplx16 *out, const zu_cplx16 *in, int32_t n) {
    const auto load = [in](int32_t i) { return in[i]; };
    first_pass(out, load, n);
}

void fft4set(zu_cplx16 *buf, int32_t a, int32_t n, int32_t step) {
    for (int32_t b = 0; b < n; b += 4 * a) {
        for (int32_t j = 0; j < a; j++) {
            const zu_fft_twiddle &w = kTwiddles.e[j * step / 6];
            zu_cplx16 *x = buf + b + j;
            const zu_cplx16 x0 = x[0], x1 = x[a], x2 = x[2 * a], x3 = x[3 * a];

            // Conjugate rotations, Q15 * value summed in 32 bits (|sum| < 2^31), then >> 1:
            // t = x * conj(w) * 2^14.
            const int32_t t1_re = (w.c1 * x1.re + w.s1 * x1.im) >> 1;
            const int32_t t1_im = (w.c1 * x1.im - w.s1 * x1.re) >> 1;
            const int32_t t2_re = (w.c2 * x2.re + w.s2 * x2.im) >> 1;
            const int32_t t2_im = (w.c2 * x2.im - w.s2 * x2.re) >> 1;
            const int32_t t3_re = (w.c3 * x3.re + w.s3 * x3.im) >> 1;
            const int32_t t3_im = (w.c3 * x3.im - w.s3 * x3.re) >> 1;

            // x0 * 2^14 with the rounding constant of the final >> 16 (divide by 4, half up).
            const uint32_t p_re = u32(x0.re * 16384 + 32768);
            const uint32_t p_im = u32(x0.im * 16384 + 32768);

            x[0].re = hi16(p_re + u32(t2_re) + u32(t1_re) + u32(t3_re));
            x[0].im = hi16(p_im + u32(t2_im) + u32(t1_im) + u32(t3_im));
            x[a].re = hi16(p_re - u32(t2_re) + (u32(t1_im) - u32(t3_im)));
            x[a].im = hi16(p_im - u32(t2_im) - (u32(t1_re) - u32(t3_re)));
            x[2 * a].re = hi16(p_re + u32(t2_re) - (u32(t1_re) + u32(t3_re)));
            x[2 * a].im = hi16(p_im + u32(t2_im) - (u32(t1_im) + u32(t3_im)));
            x[3 * a].re = hi16(p_re - u32(t2_re) - (u32(t1_im) - u32(t3_im)));
            x[3 * a].im = hi16(p_im - u32(t2_im) + (u32(t1_re) - u32(t3_re)));
        }
    }
}

void fft2set(zu_cplx16 *buf, int32_t a, int32_t n, int32_t step) {
    for (int32_t b = 0; b < n; b += 2 * a) {
        for (int32_t j = 0; j < a; j++) {
            const zu_fft_twiddle &w = kTwiddles.e[j * step / 6];
            zu_cplx16 *x = buf + b + j;
            const zu_cplx16 x0 = x[0], x1 = x[a];

            // t = x1 * conj(w^2) * 2^15, no shift; p = x0 * 2^15 plus the rounding constant.
            const int32_t t_re = w.c2 * x1.re + w.s2 * x1.im;
            const int32_t t_im = w.c2 * x1.im - w.s2 * x1.re;
            const uint32_t p_re = u32(x0.re * 32768 + 32768);
            const uint32_t p_im = u32(x0.im * 32768 + 32768);

            x[0].re = hi16(p_re + u32(t_re));
            x[0].im = hi16(p_im + u32(t_im));
            x[a].re = hi16(p_re - u32(t_re));
            x[a].im = hi16(p_im - u32(t_im));
        }
    }
}

void fft(zu_cplx16 *out, const zu_cplx16 *in, int32_t n) {
    fft4first(out, in, n);
    later_passes(out, n);
}

void fft_real(zu_cplx16 *out, const int16_t *in, int32_t N) {
    // Z[k]/n of the n = N/2 complex points z[m] = in[2m] + j*in[2m+1].
    const int32_t n = N >> 1;
    const auto load_pair = [in](int32_t i) { return zu_cplx16{in[2 * i], in[2 * i + 1]}; };
    first_pass(out, load_pair, n);
    later_passes(out, n);
    out[n] = out[0];  // Z[n] = Z[0]

    // Split into the spectrum of the real sequence. For each pair P = Z[k], Q = Z[n-k]
    // with Q15 coefficients (ka, kb, kc) of phi = 2*pi*k/N:
    //   out[k]   = ka*P + kc*conj(Q) + j*kb*(P - conj(Q))
    //   out[n-k] = ka*Q + kc*conj(P) - j*kb*(Q - conj(P))
    // The shift by 16 rather than 15 adds the factor 1/2 that turns Z/n into X/N. At
    // k = N/4 both writes hit one element and the second one (conj of Z[n/2]/2) stays.
    for (int32_t k = 0; k <= (N >> 2); k++) {
        const zu_fft_real_twiddle &w = kRealTwiddles.e[k * 1024 / N];
        const zu_cplx16 P = out[k], Q = out[n - k];
        const int32_t sum_im = P.im + Q.im;
        const int32_t diff_re = P.re - Q.re;
        const uint32_t kb_sum_im = u32(w.kb * sum_im);
        const uint32_t kb_diff_re = u32(w.kb * diff_re);
        out[k].re = hi16(u32(w.ka * P.re) + u32(w.kc * Q.re) - kb_sum_im + 32768u);
        out[k].im = hi16(u32(w.ka * P.im) - u32(w.kc * Q.im) + kb_diff_re + 32768u);
        out[n - k].re = hi16(u32(w.ka * Q.re) + u32(w.kc * P.re) + kb_sum_im + 32768u);
        out[n - k].im = hi16(u32(w.ka * Q.im) - u32(w.kc * P.im) + kb_diff_re + 32768u);
    }
}
