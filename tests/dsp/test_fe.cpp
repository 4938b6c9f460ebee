// Feature front end: set-up parameters, constant tables against their rules in double,
// the projection routine, and whole-front-end behaviour on silence, full scale, tones,
// alternating input and the one-frame delay of the feature vector.
#include "dsp/zu_fe.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/zu_math.h"

namespace {

std::unique_ptr<zu_fe> make_fe(int32_t rate, int32_t n) {
    auto fe = std::make_unique<zu_fe>();
    EXPECT_EQ(zu_fe_init(fe.get(), rate, n), 0) << rate << " Hz, " << n;
    return fe;
}

const int16_t *completed_vector(const zu_fe *fe) {
    return fe->feature_ring[(fe->feature_slot + 1) % 3];
}

// ---- zu_fe_init ----

TEST(FeInit, ParametersPerFrameLength) {
    struct {
        int32_t n, log2n, bands, first_edge, flat_start, flat_bands, slope_low;
        uint32_t level_len;
        const uint16_t *window;
        const uint16_t *edges;
    } cases[] = {
        {128, 7, 25, 131072, 524288, 15, 2, 63, kaiser_window_256, filter_edges_128},
        {256, 8, 29, 131072, 524288, 19, 2, 63, kaiser_window_512, filter_edges_256},
        {512, 9, 34, 95108, 380436, 25, 1, 86, kaiser_window_1024, filter_edges_512},
    };
    for (const auto &c : cases) {
        auto fe = std::make_unique<zu_fe>();
        memset(fe.get(), 0x5A, sizeof(zu_fe));  // init must clear everything
        ASSERT_EQ(zu_fe_init(fe.get(), 16000, c.n), 0) << c.n;
        EXPECT_EQ(fe->sample_rate, 16000);
        EXPECT_EQ(fe->frame_length, c.n);
        EXPECT_EQ(fe->log2_frame_length, c.log2n);
        EXPECT_EQ(fe->band_count, c.bands);
        EXPECT_EQ(fe->first_band_edge, c.first_edge);
        EXPECT_EQ(fe->flatness_start, c.flat_start);
        EXPECT_EQ(fe->flatness_fine_bands, 8);
        EXPECT_EQ(fe->flatness_band_count, c.flat_bands);
        EXPECT_EQ(fe->filter_count, 16);
        EXPECT_EQ(fe->filter_edges, c.edges);
        EXPECT_EQ(fe->filter_edges[16], c.n);
        EXPECT_EQ(fe->slope_low_bins, c.slope_low);
        EXPECT_EQ(fe->level_len, c.level_len);
        EXPECT_EQ(fe->window, c.window);
        EXPECT_EQ(fe->feature_slot, 0);
        EXPECT_EQ(fe->last_sample, 0);
        EXPECT_EQ(fe->audio_level, 0);
        for (int s = 0; s < 3; s++) {
            for (int i = 0; i < 256; i++) ASSERT_EQ(fe->feature_ring[s][i], 0);
        }
        for (int i = 0; i < 512; i++) ASSERT_EQ(fe->prev_frame[i], 0);
        for (int i = 0; i < 128; i++) ASSERT_EQ(fe->level_ring[i], 0u);
        EXPECT_EQ(zu_fe_close(fe.get()), -1);
    }
}

TEST(FeInit, RejectsUnsupportedFrameLengthAndRate) {
    struct {
        int32_t rate, n;
    } cases[] = {
        {16000, 300},
        {16000, 0},
        {16000, 64},
        {16000, 1024},
        {16000, -256},
        // Harmonic search would read past the last bin (or divide by zero).
        {0, 256},
        {-8000, 256},
        {4000, 256},
        {5885, 128},
        {5988, 256},
        {5970, 512},
    };
    for (const auto &c : cases) {
        auto fe = std::make_unique<zu_fe>();
        memset(fe.get(), 0x5A, sizeof(zu_fe));
        EXPECT_EQ(zu_fe_init(fe.get(), c.rate, c.n), -1) << c.rate << " Hz, " << c.n;
        EXPECT_EQ(fe->sample_rate, c.rate);
        EXPECT_EQ(fe->frame_length, c.n);
        EXPECT_EQ(fe->band_count, 0);
        EXPECT_EQ(fe->window, nullptr);
        EXPECT_EQ(fe->level_len, 0u);
    }
    // The lowest accepted rates, and every rate the engine supports.
    const int32_t ok[][2] = {{5886, 128},  {5989, 256},  {5971, 512},  {8000, 128}, {8000, 512},
                             {16000, 256}, {44100, 128}, {44100, 512}, {96000, 512}};
    for (const auto &c : ok) {
        zu_fe fe;
        EXPECT_EQ(zu_fe_init(&fe, c[0], c[1]), 0) << c[0] << " Hz, " << c[1];
    }
}

// ---- Constant tables against their rules, in double ----

TEST(FeTables, KaiserWindowsFollowTheRule) {
    struct {
        const uint16_t *table;
        int half;
        uint16_t last;
    } cases[] = {{kaiser_window_256, 128, 32767},
                 {kaiser_window_512, 256, 32768},
                 {kaiser_window_1024, 512, 32768}};
    for (const auto &c : cases) {
        const double N = 2.0 * c.half, mid = (N - 1) / 2, i0b = std::cyl_bessel_i(0.0, 3.0);
        for (int m = 0; m < c.half; m++) {
            const double r = (m - mid) / mid;
            const double w = std::cyl_bessel_i(0.0, 3.0 * std::sqrt(1.0 - r * r)) / i0b;
            ASSERT_EQ(c.table[m], (uint16_t)std::lround(32768.0 * w)) << c.half << " m " << m;
        }
        EXPECT_EQ(c.table[0], 6714);
        EXPECT_EQ(c.table[c.half - 1], c.last);
    }
}

TEST(FeTables, CepstrumDctFollowsTheRule) {
    for (int i = 0; i < 16; i++) {
        for (int k = 0; k < 16; k++) {
            const double v = std::trunc(32768.0 * std::cos(M_PI * i * (k + 0.5) / 16.0));
            ASSERT_EQ(cepstrum_dct[i][k], (int16_t)std::min(v, 32767.0)) << i << "," << k;
        }
    }
    for (int k = 0; k < 16; k++) EXPECT_EQ(cepstrum_dct[0][k], 32767);
}

TEST(FeTables, Exp2AndReciprocalFollowTheirRules) {
    for (int i = 0; i < 64; i++) {
        const double v = std::floor(2147483648.0 * std::exp2((i + 0.5) / 64.0));
        ASSERT_EQ(exp2_frac_table[i], (uint32_t)v) << i;
    }
    EXPECT_EQ(exp2_frac_table[0], 2159144271u);
    EXPECT_EQ(exp2_frac_table[63], 4271771996u);
    for (int k = 0; k < 16; k++) {
        const double v = std::min(std::ceil(4294967296.0 / (k + 1)), 4294967295.0);
        ASSERT_EQ(reciprocal_table[k], (uint32_t)v) << k;
    }
}

TEST(FeTables, FilterEdgesRiseToTheFrameLength) {
    const struct {
        const uint16_t *edges;
        uint16_t n;
    } cases[] = {{filter_edges_128, 128}, {filter_edges_256, 256}, {filter_edges_512, 512}};
    for (const auto &c : cases) {
        EXPECT_GT(c.edges[0], 0);
        for (int k = 1; k < 17; k++) EXPECT_GT(c.edges[k], c.edges[k - 1]) << c.n;
        EXPECT_EQ(c.edges[16], c.n);
    }
    EXPECT_EQ(filter_edges_256[8], 63);
    EXPECT_EQ(filter_edges_512[12], 217);
    EXPECT_EQ(filter_edges_128[5], 21);
}

// Band and flatness geometry, computed from the edge rules: quarter-octave edges of 256-sample
// frames run 2.0, 2.378, 2.828 ... bins, the last band ends at the frame length, and no
// flatness band holds more than 16 groups or reaches past the last bin.
TEST(FeTables, BandAndFlatnessGeometry) {
    for (int32_t n : {128, 256, 512}) {
        auto fe = make_fe(16000, n);
        int32_t u = fe->first_band_edge;
        for (int b = 0; b < fe->band_count - 1; b++) {
            EXPECT_LT(u, n << 16) << n;
            const double want = fe->first_band_edge / 65536.0 * std::pow(2.0, 0.25 * (b + 1));
            u = (int32_t)((77936 * (int64_t)u + 32768) >> 16);
            EXPECT_NEAR(u / 65536.0, want, 1e-4 * want) << n << " band " << b;
        }
        int32_t c = fe->flatness_start;
        for (int j = 0; j < fe->flatness_band_count; j++) {
            const int32_t first = (int32_t)((62259 * (int64_t)c - 2147483648LL) >> 32);
            const int32_t next = (int32_t)((77936 * (int64_t)c + 32768) >> 16);
            int32_t last = (int32_t)((68813 * (int64_t)next - 2147483648LL) >> 32);
            int32_t g = 1;
            if (j >= 8) {
                g = 1 << ((j + 4 - 8) >> 2);
                last = first - 1 + ((last - first + 1 + g / 2) & -g);
            }
            int groups = 0, end = 0;
            int32_t s = first;
            do {
                groups++;
                end = s + g - 1;
                s += g;
            } while (s <= last);
            EXPECT_LE(groups, 16) << n << " band " << j;
            EXPECT_LE(end, n) << n << " band " << j;
            EXPECT_NEAR(first, 0.95 * c / 65536.0 - 1.0, 0.51);  // floor(0.95 c - 0.5)
            c = next;
        }
    }
    auto fe = make_fe(16000, 256);
    EXPECT_EQ((77936 * (int64_t)131072 + 32768) >> 16, 155872);  // 2.378 bins
}

// ---- zu_fe_sparse_matrix_vec_mult ----

TEST(FeProjection, RowCompressedProducts) {
    const int16_t in[8] = {1000, -2000, 3, 32767, -32768, 7, 0, 100};
    struct {
        const char *name;
        std::vector<int16_t> weights;
        std::vector<uint16_t> start, len;
        std::vector<int16_t> want;
    } cases[] = {
        {"unit weights pick entries", {32767, 32767}, {0, 1}, {1, 1}, {1000, -2000}},
        {"half weight rounds half up", {16384}, {2}, {1}, {2}},     // (3 * 16384 + 16384) >> 15
        {"negative half rounds up", {-16384}, {2}, {1}, {-1}},      // (-49152 + 16384) >> 15
        {"sum of a row", {16384, 16384, 16384}, {0}, {3}, {-498}},  // -997 / 2 rounded up
        {"len 0 uses one weight", {32767, 16384, 16384}, {7, 0}, {0, 2}, {100, -500}},
        {"running position over rows",
         {32767, -32768, 8192, 8192},
         {3, 3, 0},
         {1, 1, 2},
         {32766, -32767, -250}},
        {"full-scale product wraps to 16 bits", {-32768}, {4}, {1}, {-32768}},  // 2^30 >> 15
    };
    for (const auto &c : cases) {
        std::vector<int16_t> out(c.start.size() + 1, 0x7777);
        zu_fe_sparse_matrix_vec_mult(out.data(), c.weights.data(), c.start.data(), c.len.data(), in,
                                     (uint32_t)c.start.size());
        for (size_t i = 0; i < c.want.size(); i++)
            EXPECT_EQ(out[i], c.want[i]) << c.name << " " << i;
        EXPECT_EQ(out.back(), 0x7777) << c.name;  // nothing written past the rows
    }
}

TEST(FeProjection, MatchesDirectSumOnRandomRows) {
    const uint32_t seed = 77;
    std::mt19937 rng(seed);
    std::vector<int16_t> in(256);
    for (auto &x : in) x = (int16_t)((int)(rng() % 2001) - 1000);
    const uint32_t rows = 40;
    std::vector<uint16_t> start(rows), len(rows);
    std::vector<int16_t> weights;
    for (uint32_t i = 0; i < rows; i++) {
        len[i] = (uint16_t)(rng() % 20);
        start[i] = (uint16_t)(rng() % (243 - 20));
        const uint32_t used = len[i] ? len[i] : 1;
        for (uint32_t j = 0; j < used; j++) weights.push_back((int16_t)(rng() % 65536 - 32768));
    }
    std::vector<int16_t> out(rows);
    zu_fe_sparse_matrix_vec_mult(out.data(), weights.data(), start.data(), len.data(), in.data(),
                                 rows);
    size_t p = 0;
    for (uint32_t i = 0; i < rows; i++) {
        const uint32_t used = len[i] ? len[i] : 1;
        double acc = 0;
        for (uint32_t j = 0; j < used; j++) acc += (double)weights[p + j] * in[start[i] + j];
        p += used;
        EXPECT_EQ(out[i], (int16_t)(int64_t)std::floor((acc + 16384) / 32768.0))
            << "seed " << seed << " row " << i;
    }
}

// ---- The whole front end ----

struct fe_case {
    int32_t rate, n;
};
const fe_case kConfigs[] = {{8000, 128}, {16000, 256}, {44100, 512}, {16000, 128}, {8000, 512}};

TEST(FeProcess, SilenceThroughTheFrontEnd) {
    for (const auto &c : kConfigs) {
        auto fe = make_fe(c.rate, c.n);
        std::vector<int16_t> zeros((size_t)c.n, 0);
        for (int t = 0; t < 3; t++) ASSERT_EQ(zu_fe_process(fe.get(), zeros.data(), c.rate), 0);
        const int16_t *v = completed_vector(fe.get());
        EXPECT_EQ(fe->spectrum_shift, 16);
        for (int k = 0; k <= c.n; k++) ASSERT_EQ(fe->power[k], 0);
        EXPECT_EQ(fe->feature_count, 243);
        // Every band energy is taken as 1: 512 (0 - 2*16 - 24) - 1/2 = -28672 before the
        // normalisation, which gives equal entries of total length about 32768.
        double len2 = 0;
        for (int b = 0; b < fe->band_count; b++) {
            EXPECT_EQ(v[b], v[0]);
            len2 += (double)v[b] * v[b];
        }
        EXPECT_LT(v[0], 0);
        EXPECT_NEAR(std::sqrt(len2), 32768.0, 40.0);
        for (int b = fe->band_count; b < 34; b++) EXPECT_EQ(v[b], 0);
        // Each filter log2 is log2(1) - 32 = 736 - 2^21 in 16.16; c0 sums 16 of them at 32767.
        const int64_t L = 736 - (16 << 17);
        EXPECT_EQ(v[34], (int16_t)((((16 * L * 32767 + 16384) >> 15) + 512) >> 10));
        for (int i = 35; i < 50; i++) EXPECT_EQ(v[i], 0) << i;
        EXPECT_EQ(v[50], 0);
        EXPECT_EQ(v[51], 0);
        EXPECT_EQ(v[52], (736 - (16 << 17)) >> 8);  // best = 0
        EXPECT_EQ(v[53], 0);
        EXPECT_EQ(v[54], 0);
        // All 2n samples in one bin: H = -(2n (log2(2n) + 736/65536 - log2(2n)) ... ) = -736.
        EXPECT_EQ(v[55], -736 >> 5);
        for (int j = 0; j < fe->flatness_band_count; j++) EXPECT_EQ(v[56 + j], 32767) << j;
        for (int i = 56 + fe->flatness_band_count; i < 81; i++) EXPECT_EQ(v[i], 0) << i;
        for (int i = 81; i < 256; i++) EXPECT_EQ(v[i], 0) << i;  // equal neighbours, no deltas
        // Levels: ties go to the last band; an empty level ring.
        EXPECT_EQ(fe->peak_band, fe->band_count - 1);
        EXPECT_EQ(fe->peak_level, (fix16)((197283LL * (736 - (16 << 17)) - 400803299328LL) >> 16));
        const int64_t mean_log = 736 - (int64_t)al_log2(fe->level_len);
        EXPECT_EQ(fe->audio_level, (fix16)((197283 * mean_log - 452519854080LL) >> 16));
        EXPECT_NEAR(fe->peak_level / 65536.0, 10 * log10(2.0) * (0.0112 - 32) - 93.32, 0.01);
    }
}

// Alternating full-scale input: after pre-emphasis every sample is at full scale, so the
// largest windowed product is 2^30 in magnitude and the block shift is 15 (S = 1); the
// sign changes on every sample and the energy sits at the highest bin.
TEST(FeProcess, AlternatingFullScale) {
    for (const auto &c : kConfigs) {
        auto fe = make_fe(c.rate, c.n);
        std::vector<int16_t> x((size_t)c.n);
        for (int i = 0; i < c.n; i++) x[i] = i % 2 ? 32767 : -32768;
        for (int t = 0; t < 3; t++) {
            ASSERT_EQ(zu_fe_process(fe.get(), x.data(), c.rate), 0);
            EXPECT_EQ(fe->spectrum_shift, 1) << c.n << " frame " << t;
            const int16_t *v = fe->feature_ring[(fe->feature_slot + 2) % 3];  // this frame
            EXPECT_EQ(v[50], c.n - 1);
            // All energy at the top bin, and no 32-bit wrap of the power.
            int32_t top = 0;
            for (int k = 0; k <= c.n; k++) {
                ASSERT_GE(fe->power[k], 0);
                if (fe->power[k] > fe->power[top]) top = k;
            }
            EXPECT_EQ(top, c.n);
        }
        EXPECT_EQ(fe->peak_band, fe->band_count - 1);
        EXPECT_EQ(fe->cur_frame[0], -32768);
        EXPECT_EQ(fe->cur_frame[1], 32767);
    }
}

// A pure tone centred on bin k (k sample_rate / 2n Hz) gives the harmonic peak k and a low
// flatness in the flatness bands that hold bin k well inside them.
TEST(FeProcess, PureToneHarmonicPeak) {
    struct {
        int32_t rate, n, bin;
    } cases[] = {
        {16000, 256, 5}, {16000, 256, 20}, {16000, 256, 63}, {8000, 128, 3},   {8000, 128, 31},
        {44100, 512, 9}, {44100, 512, 45}, {8000, 512, 50},  {16000, 128, 31},
    };
    for (const auto &c : cases) {
        auto fe = make_fe(c.rate, c.n);
        std::vector<int16_t> x((size_t)c.n);
        int64_t pos = 0;
        for (int t = 0; t < 4; t++) {
            for (int i = 0; i < c.n; i++, pos++) {
                x[i] = (int16_t)std::lround(12000.0 * std::sin(M_PI * c.bin * pos / c.n));
            }
            ASSERT_EQ(zu_fe_process(fe.get(), x.data(), c.rate), 0);
        }
        const int16_t *v = fe->feature_ring[(fe->feature_slot + 2) % 3];
        EXPECT_EQ(v[51], c.bin) << c.rate << " Hz, n " << c.n << ", bin " << c.bin;
        double centre = fe->flatness_start / 65536.0;
        int checked = 0;
        for (int j = 0; j < fe->flatness_band_count; j++, centre *= std::pow(2.0, 0.25)) {
            const double lo = 0.95 * centre, hi = 1.05 * centre * std::pow(2.0, 0.25);
            if (c.bin >= lo + 1 && c.bin <= hi - 1 && hi - lo >= 3) {
                EXPECT_LT(v[56 + j], 16384) << "bin " << c.bin << " band " << j;
                checked++;
            }
        }
        if (c.bin >= 2 * fe->flatness_start / 65536) {
            EXPECT_GT(checked, 0) << "bin " << c.bin;
        }
    }
}

TEST(FeProcess, NoiseIsFlatterThanTone) {
    auto fe = make_fe(16000, 256);
    std::mt19937 rng(5);
    std::vector<int16_t> x(256);
    for (int t = 0; t < 4; t++) {
        for (auto &s : x) s = (int16_t)((int)(rng() % 16001) - 8000);
        zu_fe_process(fe.get(), x.data(), 16000);
    }
    const int16_t *v = fe->feature_ring[(fe->feature_slot + 2) % 3];
    for (int j = 8; j < fe->flatness_band_count; j++) EXPECT_GT(v[56 + j], 16384) << j;
}

// The vector read after call t is the one whose static part call t-1 wrote; its deltas are
// (next - previous) / 2 and (next + previous - 2 this) / 4, rounded half up.
TEST(FeProcess, VectorIsOneFrameLateAndDeltasFollowNeighbours) {
    auto fe = make_fe(16000, 256);
    std::mt19937 rng(11);
    std::vector<std::vector<int16_t>> statics;  // static part written by each call
    std::vector<int16_t> x(256);
    for (int t = 0; t < 8; t++) {
        const int amp = 200 << (t % 5);
        for (auto &s : x) s = (int16_t)((int)(rng() % (2 * amp + 1)) - amp);
        const int32_t slot = fe->feature_slot;
        ASSERT_EQ(zu_fe_process(fe.get(), x.data(), 16000), 0);
        EXPECT_EQ(fe->feature_slot, (slot + 1) % 3);
        statics.emplace_back(fe->feature_ring[slot], fe->feature_ring[slot] + 81);
        if (t == 0) continue;
        const int16_t *v = completed_vector(fe.get());
        const std::vector<int16_t> zero(81, 0);
        const std::vector<int16_t> &prev = t >= 2 ? statics[t - 2] : zero;
        for (int i = 0; i < 81; i++) {
            ASSERT_EQ(v[i], statics[t - 1][i]) << "t " << t << " i " << i;
            const int nx = statics[t][i], pv = prev[i], me = statics[t - 1][i];
            ASSERT_EQ(v[81 + i], (int16_t)std::floor((nx - pv + 1) / 2.0)) << t << " " << i;
            ASSERT_EQ(v[162 + i], (int16_t)std::floor((nx + pv + 2 - 2 * me) / 4.0))
                << t << " " << i;
        }
        for (int i = 243; i < 256; i++) ASSERT_EQ(v[i], 0);
    }
}

// Level meter: a steady input reaches a constant audio level once the ring is full; a
// louder input raises both levels by 20 log10 of the gain (within the table resolution).
TEST(FeProcess, LevelMeterTracksLoudness) {
    struct {
        int32_t rate, n;
        int frames;
    } cases[] = {{16000, 256, 70}, {44100, 512, 90}};
    for (const auto &c : cases) {
        fix16 level[2], peak[2];
        for (int loud = 0; loud < 2; loud++) {
            auto fe = make_fe(c.rate, c.n);
            std::mt19937 rng(3);
            std::vector<int16_t> x((size_t)c.n);
            const int amp = loud ? 8000 : 1000;
            fix16 before = 0;
            for (int t = 0; t < c.frames; t++) {
                for (auto &s : x) s = (int16_t)(((int)(rng() % 2001) - 1000) * amp / 1000);
                zu_fe_process(fe.get(), x.data(), c.rate);
                if (t == c.frames - 2) before = fe->audio_level;
                EXPECT_GE(fe->peak_band, 0);
                EXPECT_LT(fe->peak_band, fe->band_count);
            }
            EXPECT_NEAR(fe->audio_level / 65536.0, before / 65536.0, 0.2);
            level[loud] = fe->audio_level;
            peak[loud] = fe->peak_level;
        }
        const double gain_db = 20 * log10(8.0);
        EXPECT_NEAR((level[1] - level[0]) / 65536.0, gain_db, 0.5) << c.n;
        EXPECT_NEAR((peak[1] - peak[0]) / 65536.0, gain_db, 3.0) << c.n;
    }
}

}  // namespace
