// Spike remover: constants, handle checks, click removal and repair geometry, and a
// sample-by-sample comparison with a direct (non-running-sum) reference model.
#include "dsp/zu_spike.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <random>
#include <vector>

namespace {

// The state is process-wide; 33 zero samples empty the window (the running sums return
// to exactly 0 and the ring holds only zeros), which is as good as a fresh start.
wd_state *fresh_state() {
    wd_state *st = nullptr;
    EXPECT_EQ(wd_init(spike_template, spike_template_len, &st), 0);
    std::vector<int16_t> zeros(64, 0);
    EXPECT_EQ(wd_classify(st, zeros.data(), (uint32_t)zeros.size()), 0);
    EXPECT_EQ(st->sum, 0);
    EXPECT_EQ(st->sum_sq, 0);
    return st;
}

TEST(SpikeConstants, TemplateStatisticsFollowTheirRule) {
    const wd_state *t = spike_template;
    ASSERT_EQ(t->taps, 33u);
    double s = 0, e = 0;
    for (uint32_t k = 0; k < t->taps; k++) {
        s += t->spike_tmpl[k];
        e += (double)t->spike_tmpl[k] * t->spike_tmpl[k];
    }
    EXPECT_EQ(t->spike_tmpl[33], 0);
    EXPECT_EQ(t->template_sum, (int32_t)s);
    // Centred energy / 65536, truncated.
    EXPECT_EQ(t->template_energy, (int64_t)((e - s * s / 33.0) / 65536.0));
    EXPECT_EQ(t->detect_threshold, (int64_t)(0.7 * 65536.0));
    EXPECT_EQ(t->mean_factor, 993);
    EXPECT_EQ(spike_template_len, 352u);
    // The spike peak sits at taps 15 to 17.
    for (uint32_t k = 0; k < t->taps; k++) {
        if (k < 15 || k > 17) {
            EXPECT_LT(t->spike_tmpl[k], 3000) << k;
        }
    }
}

TEST(SpikeHandle, InitClassifyCloseArguments) {
    wd_state *st = nullptr;
    wd_state other = *spike_template;
    struct {
        const char *name;
        const wd_state *tmpl;
        uint32_t len;
        bool give_out;
        int32_t expect;
    } cases[] = {
        {"valid", spike_template, 352, true, 0},
        {"other record", &other, 352, true, -2},
        {"none template", nullptr, 352, true, -2},
        {"short length", spike_template, 351, true, -2},
        {"long length", spike_template, 353, true, -2},
        {"no out", spike_template, 352, false, -2},
    };
    for (const auto &c : cases) {
        st = nullptr;
        EXPECT_EQ(wd_init(c.tmpl, c.len, c.give_out ? &st : nullptr), c.expect) << c.name;
        if (c.expect == 0) {
            EXPECT_EQ(st, spike_template) << c.name;
        } else {
            EXPECT_EQ(st, nullptr) << c.name;
        }
    }
    int16_t x[4] = {1, 2, 3, 4};
    EXPECT_EQ(wd_classify(nullptr, x, 4), -1);
    EXPECT_EQ(wd_close(nullptr), -2);
    ASSERT_EQ(wd_init(spike_template, 352, &st), 0);
    EXPECT_EQ(wd_close(st), 0);
}

TEST(SpikeHandle, InitResetsOnlySamplesSeen) {
    wd_state *st = fresh_state();
    int16_t x[40];
    for (int i = 0; i < 40; i++) x[i] = (int16_t)(100 * i - 1000);
    ASSERT_EQ(wd_classify(st, x, 40), 0);
    const wd_state before = *st;
    EXPECT_GT(before.samples_seen, 0u);
    wd_state *again = nullptr;
    ASSERT_EQ(wd_init(spike_template, 352, &again), 0);
    EXPECT_EQ(again, st);
    EXPECT_EQ(st->samples_seen, 0u);
    EXPECT_EQ(st->sum, before.sum);
    EXPECT_EQ(st->sum_sq, before.sum_sq);
    EXPECT_EQ(st->write_pos, before.write_pos);
    EXPECT_EQ(st->corr, before.corr);
}

TEST(SpikeRemoval, SilenceAndEmptyFrame) {
    wd_state *st = fresh_state();
    std::vector<int16_t> x(256, 0);
    const uint64_t seen = st->samples_seen;
    ASSERT_EQ(wd_classify(st, x.data(), 256), 0);
    for (int16_t v : x) ASSERT_EQ(v, 0);
    EXPECT_EQ(st->samples_seen, seen + 256);
    int16_t one = 1234;
    ASSERT_EQ(wd_classify(st, &one, 0), 0);
    EXPECT_EQ(one, 1234);
    EXPECT_EQ(st->samples_seen, seen + 256);
}

// A single click in silence is removed when it lies at 2 <= p <= count - 17; otherwise its
// detection falls on the first 18 samples of a call and it stays.
TEST(SpikeRemoval, SingleClickInSilence) {
    const int16_t values[] = {1, -1, 1000, -1000, 32767, -32768};
    const uint32_t count = 256;
    const uint32_t positions[] = {0, 1, 2, 3, 100, count - 18, count - 17, count - 16, count - 1};
    for (int16_t value : values) {
        for (uint32_t p : positions) {
            wd_state *st = fresh_state();
            std::vector<int16_t> x(count, 0);
            x[p] = value;
            ASSERT_EQ(wd_classify(st, x.data(), count), 0);
            // The next frame never repairs into the previous one.
            std::vector<int16_t> next(count, 0);
            ASSERT_EQ(wd_classify(st, next.data(), count), 0);
            const bool removed = p >= 2 && p <= count - 17;
            for (uint32_t i = 0; i < count; i++) {
                const int16_t want = (i == p && !removed) ? value : 0;
                ASSERT_EQ(x[i], want) << "value " << value << " at " << p << ", sample " << i;
            }
            for (int16_t v : next) ASSERT_EQ(v, 0);
        }
    }
}

// The repair is a straight line from samples[p-2] to samples[p+2]; the ends are not touched.
TEST(SpikeRemoval, RepairGeometry) {
    struct {
        const char *name;
        int16_t left, click, right;
        int16_t want[3];
    } cases[] = {
        {"rising step", 10, 20000, 60, {20, 30, 40}},
        {"negative step", 100, 20000, 0, {80, 60, 40}},
        {"negative click, falling", 0, -20000, -100, {-20, -40, -60}},
        {"truncation toward zero", 0, 15000, -7, {-1, -2, -3}},
    };
    for (const auto &c : cases) {
        wd_state *st = fresh_state();
        std::vector<int16_t> x(128, 0);
        const int p = 60;
        x[p - 2] = c.left;
        x[p] = c.click;
        x[p + 2] = c.right;
        ASSERT_EQ(wd_classify(st, x.data(), 128), 0);
        EXPECT_EQ(x[p - 2], c.left) << c.name;
        EXPECT_EQ(x[p - 1], c.want[0]) << c.name;
        EXPECT_EQ(x[p], c.want[1]) << c.name;
        EXPECT_EQ(x[p + 1], c.want[2]) << c.name;
        EXPECT_EQ(x[p + 2], c.right) << c.name;
    }
}

// A click of 63 with -23 four samples later gives R = 45875 exactly when the click is 16
// samples old; 246 with 92 gives 45876, 123 with 46 gives 45874. No other alignment comes
// near the threshold, so only the middle case is repaired.
TEST(SpikeRemoval, ThresholdIsExclusive) {
    struct {
        int16_t click, follower;
        bool repaired;
    } cases[] = {{63, -23, false}, {246, 92, true}, {123, 46, false}};
    for (const auto &c : cases) {
        wd_state *st = fresh_state();
        std::vector<int16_t> x(100, 0);
        x[40] = c.click;
        x[44] = c.follower;
        ASSERT_EQ(wd_classify(st, x.data(), 100), 0);
        EXPECT_EQ(x[40], c.repaired ? 0 : c.click) << c.click;
        EXPECT_EQ(x[44], c.follower) << c.click;
    }
}

TEST(SpikeRemoval, FullScaleSquareWaveRunsWithoutDetection) {
    // Large windows drive the mean correction past 32 bits; the remover must still run
    // cleanly (checked under the sanitizers) and a steady clipped tone has no spikes.
    wd_state *st = fresh_state();
    std::vector<int16_t> x(1024);
    for (size_t i = 0; i < x.size(); i++) x[i] = (i / 40) % 2 ? -32768 : 32767;
    std::vector<int16_t> orig = x;
    for (size_t off = 0; off < x.size(); off += 256) {
        ASSERT_EQ(wd_classify(st, x.data() + off, 256), 0);
    }
    EXPECT_EQ(x, orig);
}

// Reference model: recomputes the window statistics from the last 33 received samples for
// every output position (no running sums, no ring) and repairs like the remover. Inputs
// stay within +-16000 so the mean correction and Cc^2 need no wrap-around.
struct reference_remover {
    std::vector<int16_t> received;  // every sample ever passed in, after 64 leading zeros

    void run(int16_t *x, uint32_t count) {
        const wd_state *t = spike_template;
        for (uint32_t i = 0; i < count; i++) {
            received.push_back(x[i]);
            const size_t end = received.size();
            int64_t s = 0, sq = 0, c = 0;
            for (int k = 0; k < 33; k++) {
                const int64_t v = received[end - 33 + k];
                s += v;
                sq += v * v;
                c += (int64_t)t->spike_tmpl[k] * v;
            }
            const int64_t den = 77123 * (sq - ((993 * s * s) >> 16));
            const int64_t mc = (993LL * 171798 * s) >> 16;
            const int64_t cc = c - mc;
            EXPECT_LT(cc < 0 ? -cc : cc, 3037000499LL);  // cc^2 fits 63 bits
            const int64_t r = den ? (int64_t)((cc * cc) / den) : 0;
            if (i > 17 && r > 45875) {
                const int a = x[i - 18], b = x[i - 14];
                const int d = (b - a) / 5;
                x[i - 17] = (int16_t)(a + d);
                x[i - 16] = (int16_t)(a + 2 * d);
                x[i - 15] = (int16_t)(a + 3 * d);
            }
        }
    }
};

TEST(SpikeRemoval, MatchesDirectReferenceOnNoisyClicks) {
    const uint32_t seed = 20240611;
    std::mt19937 rng(seed);
    wd_state *st = fresh_state();
    reference_remover ref;
    ref.received.assign(64, 0);
    std::uniform_int_distribution<int> noise(-300, 300), click(4000, 16000), len(1, 300);
    int repaired = 0;
    for (int call = 0; call < 200; call++) {
        const uint32_t n = (uint32_t)len(rng);
        std::vector<int16_t> x(n);
        const int amp = call % 3 == 0 ? 30 : 300;
        for (auto &v : x) {
            v = (int16_t)(noise(rng) * amp / 300);
            if (rng() % 97 == 0) v = (int16_t)(rng() % 2 ? click(rng) : -click(rng));
        }
        std::vector<int16_t> want = x;
        ref.run(want.data(), n);
        const std::vector<int16_t> in = x;
        ASSERT_EQ(wd_classify(st, x.data(), n), 0);
        ASSERT_EQ(x, want) << "seed " << seed << ", call " << call;
        for (uint32_t i = 0; i < n; i++) repaired += x[i] != in[i];
        // corr is the correlation of the latest window.
        int64_t c = 0;
        for (int k = 0; k < 33; k++) {
            c +=
                (int64_t)spike_template->spike_tmpl[k] * ref.received[ref.received.size() - 33 + k];
        }
        ASSERT_EQ(st->corr, c) << "seed " << seed << ", call " << call;
    }
    EXPECT_GT(repaired, 50) << "seed " << seed;  // the input did exercise the repair
}

}  // namespace
