// Fixed-point maths helpers: see zu_math.h for formats and results.
#include "dsp/zu_math.h"

#include <bit>

namespace {

// ---- Compile-time table generation (double precision, never run on the target) ----

constexpr double kLn2 = 0.693147180559945309417232121458176568;

// ln(y) for y in [1, 2] as 2 * atanh(z), z = (y - 1) / (y + 1) <= 1/3; the series
// converges by a factor of at least 9 per term.
constexpr double ce_ln_1_2(double y) {
    const double z = (y - 1.0) / (y + 1.0);
    const double z2 = z * z;
    double term = z;
    double sum = 0.0;
    for (int k = 1; k < 64; k += 2) {
        sum += term / k;
        term *= z2;
    }
    return 2.0 * sum;
}

// Square root of v > 0 by Newton's iteration from a power-of-two start.
constexpr double ce_sqrt(double v) {
    double r = 1.0;
    while (r * r < v) r *= 2.0;
    for (int i = 0; i < 200; i++) r = 0.5 * (r + v / r);
    return r;
}

// Round to the nearest integer, for non-negative values (no ties occur in these tables).
constexpr uint64_t ce_round_pos(double v) {
    return static_cast<uint64_t>(v + 0.5);
}

struct log2_frac_gen {
    uint16_t v[64];
};

// Entry i: round(65536 * log2(1 + (i + 0.5) / 64)).
constexpr log2_frac_gen make_log2_frac() {
    log2_frac_gen t{};
    for (int i = 0; i < 64; i++) {
        const double y = 1.0 + (i + 0.5) / 64.0;
        t.v[i] = static_cast<uint16_t>(ce_round_pos(65536.0 * ce_ln_1_2(y) / kLn2));
    }
    return t;
}

struct rsqrt_seed_gen {
    uint32_t v[18];
};

// Entry (g - 8) + 9 * p: round(2^32.5 / sqrt(g * 2^p)) = round(2^32 * sqrt(2 / (g * 2^p))).
constexpr rsqrt_seed_gen make_rsqrt_seed() {
    rsqrt_seed_gen t{};
    for (int p = 0; p < 2; p++) {
        for (int g = 8; g <= 16; g++) {
            const double root = ce_sqrt(2.0 / (g * (1 << p)));
            t.v[(g - 8) + 9 * p] = static_cast<uint32_t>(ce_round_pos(4294967296.0 * root));
        }
    }
    return t;
}

constexpr log2_frac_gen kLog2Frac = make_log2_frac();
constexpr rsqrt_seed_gen kRsqrtSeed = make_rsqrt_seed();

static_assert(kLog2Frac.v[0] == 736 && kLog2Frac.v[63] == 65166);
static_assert(kRsqrtSeed.v[0] == 2147483648u && kRsqrtSeed.v[8] == 1518500250u &&
              kRsqrtSeed.v[9] == 1518500250u && kRsqrtSeed.v[17] == 1073741824u);

}  // namespace

const uint16_t (&log2_frac_table)[64] = kLog2Frac.v;
const uint32_t (&rsqrt_seed_table)[18] = kRsqrtSeed.v;

int32_t maxz(int32_t v) {
    return v >= 0 ? v : 0;
}

uint32_t zu_sqrt(uint32_t v) {
    if (v == 0) return 0;
    // Top bit 2^k of the root, k = floor(floor(log2 v) / 2), set without a test.
    const int k = (31 - std::countl_zero(v)) >> 1;
    uint32_t r = 1u << k;
    // Lower bits are kept only while the square stays strictly below v. r | c <= 65535,
    // so the 32-bit product cannot overflow.
    for (uint32_t c = r >> 1; c != 0; c >>= 1) {
        const uint32_t t = r | c;
        if (t * t < v) r = t;
    }
    return r;
}

int32_t al_log2(uint32_t v) {
    if (v == 0) return INT32_MIN;  // log2 0 = minus infinity
    const int z = std::countl_zero(v);
    const uint32_t norm = v << z;           // leading one at bit 31
    const uint32_t i = (norm >> 25) & 63u;  // six mantissa bits after it, truncated
    return ((31 - z) << 16) + static_cast<int32_t>(kLog2Frac.v[i]);
}

int32_t log2_64(uint64_t v) {
    if (v == 0) return INT32_MIN;  // callers never pass 0; answer like al_log2
    const int z = std::countl_zero(v);
    const uint64_t norm = v << z;                                // leading one at bit 63
    const uint32_t i = static_cast<uint32_t>(norm >> 57) & 63u;  // bits 62..57
    return ((63 - z) << 16) | static_cast<int32_t>(kLog2Frac.v[i]);
}

uint32_t n_rsqrt(uint32_t a, uint64_t x) {
    if (x == 0) return 1u << 28;  // zero variance: unit scale instead of an undefined seed

    // f = floor(log2 x).
    const int f = 63 - std::countl_zero(x);

    // 4-bit mantissa g in 8..16, rounded half up when bits are dropped. The form
    // ((x >> (f - 4)) + 1) >> 1 equals (x + 2^(f - 4)) >> (f - 3) and cannot overflow
    // for x near 2^64.
    uint32_t g;
    if (f <= 3) {
        g = static_cast<uint32_t>(x << (3 - f));
    } else {
        g = static_cast<uint32_t>(((x >> (f - 4)) + 1) >> 1);
    }

    // Seed h ~ 2^32.5 / sqrt(g * 2^(f mod 2)); s brings it to the scale 2^28 / sqrt(x)
    // (s is at most 34, so the shifts are done in 64 bits).
    const uint32_t h = kRsqrtSeed.v[(g - 8) + 9 * static_cast<uint32_t>(f & 1)];
    const int s = (f >> 1) + 3;
    const uint32_t m =
        static_cast<uint32_t>((static_cast<uint64_t>(h) * a) >> s);  // ~ a*2^28/sqrt(x)
    const uint64_t l = static_cast<uint64_t>(h) >> s;  // ~ 2^28/sqrt(x), first estimate

    // e / 2^28 = eps = 1 - l^2 * x / 2^56 (l^2 * x stays near 2^56, below 2^56 * 17/16).
    const uint64_t l2x = l * l * x;
    const uint64_t l2x_q28 = (l2x + (1ull << 27)) >> 28;
    const int32_t e = static_cast<int32_t>(static_cast<uint32_t>((1ull << 28) - l2x_q28));

    // q / 2^31 = eps/2 + 3*eps^2/8: second-order expansion of 1/sqrt(1 - eps) - 1.
    const int64_t e2 = static_cast<int64_t>(e) * e;
    const int32_t e4 = static_cast<int32_t>(static_cast<uint32_t>(e) * 4u);
    const int64_t q = ((3 * e2) >> 28) + e4;

    // m * (1 + q / 2^31), kept to 32 bits.
    const int64_t corr = (q * static_cast<int64_t>(m)) >> 31;
    return m + static_cast<uint32_t>(corr);
}
