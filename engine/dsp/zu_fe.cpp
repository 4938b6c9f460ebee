// Feature front end: pre-emphasis, block-scaled two-frame FFT, quarter-octave band
// energies, cepstrum, zero crossings, harmonic peak, spectral slope, RMS, amplitude
// entropy, spectral flatness, deltas and the level meter. See zu_fe.h.
#include "dsp/zu_fe.h"

#include <bit>
#include <string.h>

#include "dsp/zu_math.h"

namespace {

// ---- Compile-time table generation (double precision, never run on the target) ----

constexpr double kPi = 3.14159265358979323846264338327950288;
constexpr double kLn2 = 0.693147180559945309417232121458176568;

// Square root of v >= 0 by Newton's iteration from a power-of-two start.
constexpr double ce_sqrt(double v) {
    if (v <= 0.0) return 0.0;
    double r = 1.0;
    while (r * r < v) r *= 2.0;
    for (int i = 0; i < 200; i++) r = 0.5 * (r + v / r);
    return r;
}

// Modified Bessel function of the first kind, order 0: sum_k ((x/2)^k / k!)^2.
constexpr double ce_bessel_i0(double x) {
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 100; k++) {
        term *= (x / 2.0) / k;
        sum += term * term;
    }
    return sum;
}

// cos(pi m / 32) for integer m: folded into [0, pi/2], then a Taylor series.
constexpr double ce_cos_pi_32(int m) {
    m %= 64;
    if (m < 0) m += 64;
    if (m > 32) m = 64 - m;
    double sign = 1.0;
    if (m > 16) {
        m = 32 - m;
        sign = -1.0;
    }
    const double x = kPi * m / 32.0;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 30; k++) {
        term *= -x * x / ((2.0 * k - 1.0) * (2.0 * k));
        sum += term;
    }
    return sign * sum;
}

// 2^x for 0 <= x < 1 as e^(x ln 2) by its series.
constexpr double ce_exp2_unit(double x) {
    const double y = x * kLn2;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 40; k++) {
        term *= y / k;
        sum += term;
    }
    return sum;
}

template <int N>
struct u16_table {
    uint16_t v[N];
};

// First half of a symmetric Kaiser window of length 2H, beta = 3, Q15 rounded.
template <int H>
constexpr u16_table<H> make_kaiser() {
    u16_table<H> t{};
    const double half = (2.0 * H - 1.0) / 2.0;
    const double i0_beta = ce_bessel_i0(3.0);
    for (int m = 0; m < H; m++) {
        const double r = (m - half) / half;
        const double w = ce_bessel_i0(3.0 * ce_sqrt(1.0 - r * r)) / i0_beta;
        t.v[m] = static_cast<uint16_t>(32768.0 * w + 0.5);
    }
    return t;
}

struct dct_table {
    int16_t v[16][16];
};

// Row i, column k: trunc(32768 cos(pi i (2k + 1) / 32)), limited to 32767.
constexpr dct_table make_dct() {
    dct_table t{};
    for (int i = 0; i < 16; i++) {
        for (int k = 0; k < 16; k++) {
            const double c = 32768.0 * ce_cos_pi_32(i * (2 * k + 1));
            const int q = static_cast<int>(c);  // truncates towards zero
            t.v[i][k] = static_cast<int16_t>(q > 32767 ? 32767 : q);
        }
    }
    return t;
}

struct u32_64_table {
    uint32_t v[64];
};

// Entry i: floor(2^31 2^((i + 0.5) / 64)).
constexpr u32_64_table make_exp2_frac() {
    u32_64_table t{};
    for (int i = 0; i < 64; i++) {
        t.v[i] = static_cast<uint32_t>(2147483648.0 * ce_exp2_unit((i + 0.5) / 64.0));
    }
    return t;
}

struct u32_16_table {
    uint32_t v[16];
};

// Entry k: ceil(2^32 / (k + 1)), entry 0 limited to 2^32 - 1.
constexpr u32_16_table make_reciprocal() {
    u32_16_table t{};
    for (uint64_t k = 0; k < 16; k++) {
        const uint64_t q = ((uint64_t)1 << 32) / (k + 1) + (((uint64_t)1 << 32) % (k + 1) != 0);
        t.v[k] = static_cast<uint32_t>(q > 0xFFFFFFFFu ? 0xFFFFFFFFu : q);
    }
    return t;
}

constexpr u16_table<128> kKaiser256 = make_kaiser<128>();
constexpr u16_table<256> kKaiser512 = make_kaiser<256>();
constexpr u16_table<512> kKaiser1024 = make_kaiser<512>();
constexpr dct_table kCepstrumDct = make_dct();
constexpr u32_64_table kExp2Frac = make_exp2_frac();
constexpr u32_16_table kReciprocal = make_reciprocal();

static_assert(kKaiser256.v[0] == 6714 && kKaiser512.v[0] == 6714 && kKaiser1024.v[0] == 6714);
static_assert(kKaiser256.v[127] == 32767 && kKaiser512.v[255] == 32768 &&
              kKaiser1024.v[511] == 32768);
static_assert(kExp2Frac.v[0] == 2159144271u && kExp2Frac.v[63] == 4271771996u);
static_assert(kCepstrumDct.v[0][0] == 32767 && kReciprocal.v[0] == 0xFFFFFFFFu);

// ---- Per-frame helpers (integer only) ----

inline int clz32(uint32_t v) {
    return std::countl_zero(v);
}  // 32 for 0

// 64-bit two's-complement product, wrapping instead of overflowing.
inline uint64_t mul_wrap64(uint64_t a, uint64_t b) {
    return a * b;
}

inline int16_t sat16(int32_t v) {
    return (int16_t)(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

// Quarter-octave band edge growth: 77936 / 65536 = 2^(1/4), rounded half up in 16.16 bins.
inline int32_t next_quarter_octave(int32_t edge_q16) {
    return (int32_t)((77936 * (int64_t)edge_q16 + 32768) >> 16);
}

// Harmonic-peak search range K: bins 1 .. K-1 (2 kHz, or 1 kHz below 12 kHz rates).
inline int32_t harmonic_bins(int32_t sample_rate, int32_t n) {
    const int32_t f = sample_rate > 11999 ? 2000 : 1000;
    return (2 * n * f + sample_rate / 2) / sample_rate;
}

}  // namespace

const uint16_t (&kaiser_window_256)[128] = kKaiser256.v;
const uint16_t (&kaiser_window_512)[256] = kKaiser512.v;
const uint16_t (&kaiser_window_1024)[512] = kKaiser1024.v;
const uint16_t filter_edges_128[17] = {3,  6,  9,  13, 17, 21, 27,  32, 39,
                                       46, 54, 64, 74, 85, 98, 112, 128};
const uint16_t filter_edges_256[17] = {4,  8,  13,  18,  25,  32,  41,  51, 63,
                                       76, 92, 110, 131, 156, 185, 218, 256};
const uint16_t filter_edges_512[17] = {4,   8,   14,  21,  29,  39,  52,  67, 86,
                                       110, 138, 173, 217, 270, 334, 414, 512};
const int16_t (&cepstrum_dct)[16][16] = kCepstrumDct.v;
const uint32_t (&exp2_frac_table)[64] = kExp2Frac.v;
const uint32_t (&reciprocal_table)[16] = kReciprocal.v;

namespace {

// Analysis set-up for each supported frame length.
struct fe_setup {
    int32_t frame_length;  // samples
    int32_t log2_frame_length;
    const uint16_t *window;  // Q15 half window of length frame_length
    int32_t band_count;
    int32_t first_band_edge;  // 16.16 bins
    int32_t flatness_start;   // 16.16 bins
    int32_t flatness_band_count;
    const uint16_t *filter_edges;
    int32_t slope_low_bins;
    uint32_t level_len;  // frames averaged by the level meter
};

const fe_setup kSetups[] = {
    {128, 7, kKaiser256.v, 25, 131072 /* 2.0 */, 524288 /* 8.0 */, 15, filter_edges_128, 2, 63},
    {256, 8, kKaiser512.v, 29, 131072 /* 2.0 */, 524288 /* 8.0 */, 19, filter_edges_256, 2, 63},
    {512, 9, kKaiser1024.v, 34, 95108 /* 1.4512 */, 380436 /* 5.8050 */, 25, filter_edges_512, 1,
     86},
};

}  // namespace

int32_t zu_fe_init(zu_fe *fe, int32_t sample_rate, int32_t frame_length) {
    memset(fe, 0, sizeof *fe);
    fe->sample_rate = sample_rate;
    fe->frame_length = frame_length;
    const fe_setup *setup = nullptr;
    for (const fe_setup &c : kSetups) {
        if (c.frame_length == frame_length) setup = &c;
    }
    if (!setup) return -1;
    fe->log2_frame_length = setup->log2_frame_length;
    fe->window = setup->window;
    fe->band_count = setup->band_count;
    fe->first_band_edge = setup->first_band_edge;
    fe->flatness_start = setup->flatness_start;
    fe->flatness_band_count = setup->flatness_band_count;
    fe->filter_edges = setup->filter_edges;
    fe->slope_low_bins = setup->slope_low_bins;
    fe->level_len = setup->level_len;
    // The harmonic sum reads power bins up to 3(K-1)+2; at very low rates that would run
    // past bin frame_length, and a rate of 0 would divide by zero.
    if (sample_rate <= 0 || 3 * harmonic_bins(sample_rate, frame_length) - 1 > frame_length) {
        memset(fe, 0, sizeof *fe);
        fe->sample_rate = sample_rate;
        fe->frame_length = frame_length;
        return -1;
    }
    fe->flatness_fine_bands = 8;
    fe->filter_count = 16;
    return 0;
}

int32_t zu_fe_close(zu_fe *fe) {
    (void)fe;
    return -1;
}

void zu_fe_sparse_matrix_vec_mult(int16_t *out, const int16_t *weights, const uint16_t *start,
                                  const uint16_t *len, const int16_t *in, uint32_t rows) {
    uint32_t p = 0;  // running position in weights
    for (uint32_t i = 0; i < rows; i++) {
        const int16_t *x = in + start[i];
        const uint32_t count = len[i] ? len[i] : 1;
        uint32_t acc = 0;  // 32-bit sum of Q15 x feature products, wrapping
        for (uint32_t j = 0; j < count; j++) acc += (uint32_t)(weights[p + j] * x[j]);
        p += count;
        out[i] = (int16_t)((int32_t)(acc + 16384u) >> 15);
    }
}

int32_t zu_fe_process(zu_fe *fe, const int16_t *samples, int32_t rate) {
    (void)rate;
    const int32_t n = fe->frame_length;
    const int32_t c = fe->feature_slot;
    int16_t *v = fe->feature_ring[c];
    int32_t *pw = fe->power;

    // 1. Pre-emphasis y = x - 0.95 x[-1] (31130 is 0.95 in Q15), limited to 16 bits.
    {
        int32_t prev = fe->last_sample;
        for (int32_t i = 0; i < n; i++) {
            fe->cur_frame[i] = sat16(samples[i] - ((prev * 31130) >> 15));
            prev = samples[i];
        }
        fe->last_sample = samples[n - 1];
    }

    // 2. Block scaling. Window rising over the previous frame, falling over the current
    //    one; products of Q15 window and 16-bit sample, at most 2^30 in magnitude.
    //    q ^ (q >> 1) marks the highest bit that differs from the sign, so after the shift
    //    by e every value fits 15 bits and a sign.
    int32_t e;
    {
        uint32_t bits = 0;
        for (int32_t m = 0; m < n; m++) {
            const int32_t a = fe->window[m] * fe->prev_frame[m];
            const int32_t b = fe->cur_frame[m] * fe->window[n - 1 - m];
            bits |= (uint32_t)(a ^ (a >> 1)) | (uint32_t)(b ^ (b >> 1));
        }
        e = bits == 0 ? 0 : 17 - clz32(bits);
        if (e < 0) e = 0;
        for (int32_t m = 0; m < n; m++) {
            fe->fft_in[m] = (int16_t)((fe->window[m] * fe->prev_frame[m]) >> e);
            fe->fft_in[n + m] = (int16_t)((fe->cur_frame[m] * fe->window[n - 1 - m]) >> e);
        }
    }
    const int32_t S = 16 - e;
    fe->spectrum_shift = S;

    // 3. Power spectrum, bins 0..n (16 x 16 products, 32-bit sum).
    fft_real(fe->fft_out, fe->fft_in, 2 * n);
    for (int32_t k = 0; k <= n; k++) {
        const int32_t re = fe->fft_out[k].re, im = fe->fft_out[k].im;
        pw[k] = (int32_t)((uint32_t)(re * re) + (uint32_t)(im * im));
    }

    // 4. Quarter-octave band energies over fractional bin edges (16.16 bins); partial
    //    bins at either end are weighted by the fraction they cover, rounded half up.
    {
        int32_t lo = 0, hi = fe->first_band_edge;
        for (int32_t b = 0; b < fe->band_count; b++) {
            if (b == fe->band_count - 1) hi = n << 16;
            const int32_t lb = lo >> 16, hb = hi >> 16;
            int64_t acc = 0;
            if (lb == hb) {
                if (lo < hi) acc = ((int64_t)pw[lb] * (hi - lo) + 32768) >> 16;
            } else {
                acc = ((int64_t)pw[lb] * (65536 - (lo & 0xFFFF)) + 32768) >> 16;
                for (int32_t k = lb + 1; k < hb; k++) acc += pw[k];
                acc += ((int64_t)pw[hb] * (hi & 0xFFFF) + 32768) >> 16;
            }
            fe->band_energy[b] = (uint32_t)((acc + 32) >> 6);
            lo = hi;
            hi = next_quarter_octave(hi);
        }
    }

    // 5. Normalised log energies: 512 (log2 E - 2S - 24), then scaled to length 32768.
    {
        int64_t sum_sq = 0;
        int32_t logs[34];
        for (int32_t b = 0; b < fe->band_count; b++) {
            uint32_t E = fe->band_energy[b];
            if (E == 0) E = 1;
            const int32_t z = clz32(E);
            const uint32_t top = z > 15 ? E << (z - 15) : E >> (15 - z);  // leading one at bit 16
            const uint32_t t = top & 0xFFFF;
            // q ~ 1024 ln(1 + t/65536) (rational approximation); t^2 < 2^32.
            const uint32_t q = ((t * t >> 6) + 6146 * t + 196608) / (4 * t + 393216);
            const int32_t r = (int32_t)((q * 94548 + 32768) >> 16);  // 1024 log2(1 + t/65536)
            const int32_t lv = ((7 - z) * 1024 - S * 2048 + 1 + r) >> 1;
            logs[b] = lv;
            sum_sq += (int64_t)lv * lv;
        }
        if (sum_sq >= 1024) {
            const uint32_t A = zu_sqrt((uint32_t)((sum_sq + 512) >> 10));  // ~ length / 32
            const uint32_t g = ((A >> 1) + (1u << 26)) / A;                // ~ 2^26 / A
            for (int32_t b = 0; b < fe->band_count; b++) {
                logs[b] = (int32_t)(((int64_t)g * logs[b] + 32768) >> 16);
            }
        }
        for (int32_t b = 0; b < fe->band_count; b++) v[b] = (int16_t)logs[b];
    }

    // 6. Cepstrum. One accumulator per triangular filter: segment f adds the rising half
    //    of filter f, segment f+1 its falling half. Weights are 16.16 (s j in 0..65535).
    {
        const uint16_t *edges = fe->filter_edges;
        int64_t acc[17] = {0};
        int32_t L[16];  // 16.16 log2 of each filter's energy, corrected by the window gain
        int32_t from = 0;
        for (int32_t k = 0; k <= 16; k++) {
            const int32_t to = edges[k];
            const uint32_t d = (uint32_t)(to - from);
            const uint32_t s = 65536u / d;
            for (uint32_t j = 0; j < d; j++) {
                const int64_t p = pw[from + (int32_t)j];
                acc[k] += p * (int64_t)(s * j);
                if (k > 0) acc[k - 1] += p * (int64_t)(65536 - s * j);
            }
            if (k >= 1) {
                L[k - 1] = al_log2((uint32_t)((acc[k - 1] >> 16) + 1)) - (S << 17);
            }
            from = to;
        }
        for (int32_t i = 0; i < 16; i++) {
            int64_t sum = 0;
            for (int32_t k = 0; k < 16; k++) sum += (int64_t)L[k] * cepstrum_dct[i][k];
            const int64_t cep = (sum + 16384) >> 15;
            v[34 + i] = (int16_t)((cep + 512) >> 10);
        }
    }

    // 7. Zero crossings: sign-bit changes between neighbouring samples of the frame.
    {
        int32_t zc = 0;
        for (int32_t k = 1; k < n; k++) zc += (fe->cur_frame[k] < 0) != (fe->cur_frame[k - 1] < 0);
        v[50] = (int16_t)zc;
    }

    // 8. Harmonic peak: bin k plus its second and third harmonics (smoothed), unsigned 32.
    {
        const int32_t K = harmonic_bins(fe->sample_rate, n);
        const uint32_t *P = (const uint32_t *)pw;
        uint32_t best = 2 * P[0] + P[1];
        int32_t peak = 0;
        for (int32_t k = 1; k < K; k++) {
            const uint32_t h = P[k] + ((P[2 * k] + P[2 * k + 1] + 1) >> 1) +
                               ((P[3 * k] + 2 * P[3 * k + 1] + P[3 * k + 2] + 2) >> 2);
            if (h > best) {
                best = h;
                peak = k;
            }
        }
        v[51] = (int16_t)peak;
        v[52] = (int16_t)((al_log2(best + 1) - (S << 17)) >> 8);
    }

    // 9. Spectral slope: least-squares slope of power over bin index relative to the mean
    //    power, as a signed log2 (x 256) plus 16, floored at 0. Also the mean power M.
    uint32_t M;
    {
        const int32_t m = fe->slope_low_bins;
        int64_t D = pw[0] >> 1;
        for (int32_t k = 1; k < m; k++) D += pw[k];
        int64_t H = D;
        for (int32_t k = m; k < n; k++) {
            D += pw[k];
            H += (int64_t)k * pw[k];
        }
        const int64_t I = pw[n] >> 1;
        const int64_t T = D + I;
        H += (int64_t)n * I;
        M = (uint32_t)(T >> fe->log2_frame_length);
        int32_t slope = 0;
        if (T != 0) {
            const uint32_t un = (uint32_t)n;
            const uint32_t Sk = (un >> 1) * (un + 1);               // sum of k, k = 0..n
            const uint32_t Skk = un * (un + 1) * (2 * un + 1) / 6;  // sum of k^2
            const int64_t N1 = (int64_t)n * ((int64_t)n * H - (int64_t)Sk * T);
            const int64_t O = (int64_t)n * Skk - (int64_t)Sk * Sk;
            const int32_t Lden = log2_64(mul_wrap64((uint64_t)O, (uint64_t)T));
            if (N1 > 0) {
                slope = maxz(log2_64((uint64_t)N1) + 1048576 - Lden) >> 8;
            } else if (N1 < 0) {
                slope = (-maxz(log2_64((uint64_t)-N1) + 1048576 - Lden)) >> 8;
            }
        }
        v[53] = (int16_t)slope;
    }

    // 10. RMS, linear x 32, corrected by the block shift.
    v[54] = (int16_t)((zu_sqrt(M) * 32) >> S);

    // 11. Amplitude-histogram entropy over both frames. Bin by the squared distance from
    //     full scale, squared again: fine near full scale, coarse near zero; 128 per sign.
    {
        uint32_t *hist = fe->histogram;
        memset(hist, 0, 256 * sizeof hist[0]);
        for (int32_t part = 0; part < 2; part++) {
            const int16_t *x = part == 0 ? fe->cur_frame : fe->prev_frame;
            for (int32_t k = 0; k < n; k++) {
                const int32_t s = x[k] < 0;
                const int32_t a = x[k] ^ -s;  // |x| - 1 for negative samples
                const int32_t dist = 32767 - a;
                const int32_t d2 = (dist * dist) >> 15;
                hist[128 * s + (int32_t)(((uint32_t)d2 * (uint32_t)d2) >> 23)]++;
            }
        }
        const int32_t B = 32 - clz32((uint32_t)n);  // log2(2n)
        int32_t sum = 0;
        for (int32_t i = 0; i < 256; i++) {
            const int32_t count = (int32_t)hist[i];
            if (count == 0) continue;
            // count (log2 count - B) in 16.16, then / 2n: one term of -sum p log2 p.
            sum += (count * (al_log2((uint32_t)count) - B * 65536)) >> B;
        }
        v[55] = (int16_t)(-sum >> 5);
    }

    // 12. Spectral flatness per band: geometric over arithmetic mean of the power, Q15.
    //     Bands run from 0.95 c to 1.05 c' (c' = c 2^(1/4)); above the fine bands the bins
    //     are averaged in groups of 2^h first.
    {
        int32_t centre = fe->flatness_start;
        for (int32_t j = 0; j < fe->flatness_band_count; j++) {
            const int32_t first = (int32_t)((62259 * (int64_t)centre - 2147483648LL) >> 32);
            const int32_t next = next_quarter_octave(centre);
            int32_t last = (int32_t)((68813 * (int64_t)next - 2147483648LL) >> 32);
            int32_t h = 0, g = 1;
            if (j >= fe->flatness_fine_bands) {
                h = (j + 4 - fe->flatness_fine_bands) >> 2;
                g = 1 << h;
                last = first - 1 + ((last - first + 1 + g / 2) & -g);
            }
            uint32_t T = 0;    // sum of group means
            int32_t Lsum = 0;  // sum of their 16.16 log2
            uint32_t O = 0;    // number of groups
            int32_t start = first;
            do {
                int64_t gsum = 0;
                for (int32_t k = 0; k < g; k++) gsum += pw[start + k];
                const uint32_t avg = (uint32_t)((gsum + g / 2) >> h);
                T += avg;
                Lsum += al_log2(avg + 1);
                O++;
                start += g;
            } while ((uint32_t)start <= (uint32_t)last);
            const uint32_t A = (uint32_t)(((uint64_t)T * reciprocal_table[O - 1]) >> 32);
            int32_t flat = 32767;
            if (A != 0) {
                const int32_t G = (Lsum + (int32_t)(O / 2)) / (int32_t)O;  // mean log2, 16.16
                const uint32_t Gm = exp2_frac_table[(G >> 10) & 63] >> (31 - (G >> 16));
                const int32_t z = clz32(Gm);
                const uint32_t R = z <= 14 ? (Gm << z) / (A >> (15 - z)) : (Gm << 15) / A;
                flat = R > 32767 ? 32767 : (int32_t)R;
            }
            v[56 + j] = (int16_t)flat;
            centre = next;
        }
    }

    // 13. Deltas of the previous frame's vector from its neighbours.
    {
        const int16_t *nw = fe->feature_ring[c];
        int16_t *mid = fe->feature_ring[(c + 2) % 3];
        const int16_t *old = fe->feature_ring[(c + 1) % 3];
        for (int32_t i = 0; i < 81; i++) {
            mid[81 + i] = (int16_t)((nw[i] + 1 - old[i]) >> 1);
            mid[162 + i] = (int16_t)((nw[i] + old[i] + 2 - 2 * mid[i]) >> 2);
        }
        fe->feature_count = 243;
    }

    // 14. The current frame becomes the previous one.
    memcpy(fe->prev_frame, fe->cur_frame, (size_t)n * sizeof fe->cur_frame[0]);

    // 15. Level meter.
    {
        uint32_t e_max = 0;
        int32_t peak_band = 0;
        uint64_t e_sum = 0;
        for (int32_t b = 0; b < fe->band_count; b++) {
            if (fe->band_energy[b] >= e_max) {  // ties go to the later band
                e_max = fe->band_energy[b];
                peak_band = b;
            }
            e_sum += fe->band_energy[b];
        }
        fe->peak_band = peak_band;
        fe->level_ring[fe->level_pos] = (uint32_t)((e_sum << 8) >> (2 * S));
        // 197283 / 65536 = 10 log10 2: 16.16 log2 to dB; offset 93.32 dB.
        const int64_t peak_log = (int64_t)al_log2(e_max + 1) - ((int64_t)S << 17);
        fe->peak_level = (fix16)((197283 * peak_log - 400803299328LL) >> 16);
        uint64_t R = 0;
        for (uint32_t i = 0; i < fe->level_len; i++) R += fe->level_ring[i];
        const int64_t mean_log =
            (int64_t)al_log2((uint32_t)(((R + 8) >> 4) + 1)) - al_log2(fe->level_len);
        fe->audio_level = (fix16)((197283 * mean_log - 452519854080LL) >> 16);  // -105.36 dB
        if (++fe->level_pos == fe->level_len) fe->level_pos = 0;
    }

    // 16. Next call writes the following slot.
    fe->feature_slot = (c + 1) % 3;
    return 0;
}
