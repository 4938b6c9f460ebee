// Fixed-point maths helpers shared by the feature front end and the HMM decoder:
// clamping at zero, an integer square root, two table-driven base-2 logarithms
// returning 16.16 values, and a reciprocal square root with a built-in multiplier.
//
// All routines are pure integer functions (count-leading-zeros, shifts, 32x32->64
// multiplies, one table read); they keep no state and never allocate.
#ifndef ZU_MATH_H
#define ZU_MATH_H

#include <stdint.h>

// log2_frac_table[i] = round(65536 * log2(1 + (i + 0.5) / 64)), i = 0..63: the
// fractional log2 (0.16 unsigned) of the middle of the i-th of 64 equal mantissa
// intervals. 736, 2190, 3623, ... 64421, 65166.
extern const uint16_t (&log2_frac_table)[64];

// rsqrt_seed_table[(g - 8) + 9 * p] = round(2^32.5 / sqrt(g * 2^p)) for a 4-bit
// mantissa g = 8..16 and exponent parity p = 0, 1: the seeds of n_rsqrt.
// Entry 0 is 2^31, entries 8 and 9 are 1518500250 (2^30.5), entry 17 is 2^30.
extern const uint32_t (&rsqrt_seed_table)[18];

// v if v >= 0, else 0.
int32_t maxz(int32_t v);

// Integer square root with a strict test: r starts at 2^k, k = floor(floor(log2 v) / 2),
// and each lower bit c is kept when (r | c)^2 < v. The result is floor(sqrt(v)) except
// for perfect squares that are not powers of four, which give the root minus one
// (9 -> 2, 25 -> 4; 4 -> 2, 16 -> 4). zu_sqrt(0) = 0, zu_sqrt(2^32 - 1) = 65535.
uint32_t zu_sqrt(uint32_t v);

// 16.16 log2 of v (taken as unsigned): integer part floor(log2 v), fraction from
// log2_frac_table indexed by the 6 bits after the leading one (no interpolation,
// no rounding of the index; error below 0.0113). al_log2(0) = INT32_MIN (0x80000000),
// standing for minus infinity. al_log2(1) = 736, al_log2(3) = 104363.
int32_t al_log2(uint32_t v);

// 16.16 log2 of a 64-bit value, same resolution as al_log2:
// ((63 - clz64(v)) << 16) | log2_frac_table[bits 62..57 of v << clz64(v)].
// log2_64(1) = 736, log2_64(2^40) = 40 * 65536 + 736. log2_64(0) = INT32_MIN.
int32_t log2_64(uint64_t v);

// a * 2^28 / sqrt(x), truncated to 32 bits (callers keep the true result below 2^32;
// a larger one wraps). A seed from rsqrt_seed_table on a rounded 4-bit mantissa of x
// is refined by the second-order term of 1/sqrt(1 - eps). Relative error below about
// 1.3e-4 for x < 2^30, 4e-4 below 2^34, 1.5e-3 below 2^38, 6e-3 below 2^42.
// n_rsqrt(1, 1) = 2^28, n_rsqrt(1, 64) = 2^25, n_rsqrt(2, 4) = 2^28.
// x = 0 (a variance of zero) gives 2^28, the scale of a unit deviation.
uint32_t n_rsqrt(uint32_t a, uint64_t x);

#endif
