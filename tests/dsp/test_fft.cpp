// Fixed-point FFT: twiddle tables against their rules in double precision, the stage
// schedule, and both transforms against an exact double-precision DFT for every size.
#include "dsp/zu_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
const int16_t kGuard = 0x5A5A;  // fill of the area after every output buffer

uint64_t test_seed() {
    const char *s = std::getenv("SONIVALE_TEST_SEED");
    return s ? std::strtoull(s, nullptr, 0) : 0x5eed2024u;
}

int16_t q15_rule(double v) {
    const long r = std::lround(v * 32768.0);
    return static_cast<int16_t>(r > 32767 ? 32767 : r);
}

// X[k] / len of x, with the angle index k*m reduced exactly before the trigonometry.
std::vector<std::complex<double>> exact_dft(const std::vector<std::complex<double>> &x) {
    const size_t len = x.size();
    std::vector<std::complex<double>> w(len), X(len);
    for (size_t r = 0; r < len; r++)
        w[r] = std::polar(1.0, -2.0 * kPi * static_cast<double>(r) / len);
    for (size_t k = 0; k < len; k++) {
        std::complex<double> acc = 0.0;
        for (size_t m = 0; m < len; m++) acc += x[m] * w[(k * m) % len];
        X[k] = acc / static_cast<double>(len);
    }
    return X;
}

// Passes after the first one for n complex points (radix-4 and radix-2).
int later_pass_count(int n) {
    return std::countr_zero(static_cast<unsigned>(n)) / 2;
}

// ---- Tables ----

TEST(FftTables, TwiddlesFollowRule) {
    for (int m = 0; m < 256; m++) {
        const double th = 2.0 * kPi * m / 1024.0;
        const zu_fft_twiddle &w = fft_twiddles[m];
        SCOPED_TRACE(testing::Message() << "entry " << m);
        EXPECT_EQ(w.c1, q15_rule(std::cos(th)));
        EXPECT_EQ(w.s1, q15_rule(std::sin(th)));
        EXPECT_EQ(w.c2, q15_rule(std::cos(2 * th)));
        EXPECT_EQ(w.s2, q15_rule(std::sin(2 * th)));
        EXPECT_EQ(w.c3, q15_rule(std::cos(3 * th)));
        EXPECT_EQ(w.s3, q15_rule(std::sin(3 * th)));
    }
    EXPECT_EQ(fft_twiddles[0].c1, 32767);  // cos 0 limited to 32767
    EXPECT_EQ(fft_twiddles[0].s1, 0);
    EXPECT_EQ(fft_twiddles[128].c2, 0);      // cos(pi/2)
    EXPECT_EQ(fft_twiddles[128].s2, 32767);  // sin(pi/2) limited
    EXPECT_EQ(sizeof fft_twiddles, 256u * 6u * sizeof(int16_t));
}

TEST(FftTables, RealTwiddlesFollowRule) {
    for (int m = 0; m <= 256; m++) {
        const double ph = 2.0 * kPi * m / 1024.0;
        const zu_fft_real_twiddle &w = fft_real_twiddles[m];
        SCOPED_TRACE(testing::Message() << "entry " << m);
        EXPECT_EQ(w.ka, q15_rule((1.0 - std::sin(ph)) / 2.0));
        EXPECT_EQ(w.kb, q15_rule(-std::cos(ph) / 2.0));
        EXPECT_EQ(w.kc, q15_rule((1.0 + std::sin(ph)) / 2.0));
    }
    const struct {
        int m;
        int16_t ka, kb, kc;
    } pinned[] = {{0, 16384, -16384, 16384}, {256, 0, 0, 32767}};
    for (const auto &p : pinned) {
        EXPECT_EQ(fft_real_twiddles[p.m].ka, p.ka);
        EXPECT_EQ(fft_real_twiddles[p.m].kb, p.kb);
        EXPECT_EQ(fft_real_twiddles[p.m].kc, p.kc);
    }
}

// ---- Stage schedule ----

struct Pass {
    int radix, a, step;
};

// fft(n) equals the first pass followed by exactly these passes, bit for bit.
TEST(FftStages, ScheduleBySize) {
    const struct {
        int n;
        std::vector<Pass> passes;
    } cases[] = {
        {4, {}},
        {8, {{2, 4, 384}}},
        {16, {{4, 4, 384}}},
        {32, {{4, 4, 384}, {2, 16, 96}}},
        {64, {{4, 4, 384}, {4, 16, 96}}},
        {128, {{4, 4, 384}, {4, 16, 96}, {2, 64, 24}}},
        {256, {{4, 4, 384}, {4, 16, 96}, {4, 64, 24}}},
        {512, {{4, 4, 384}, {4, 16, 96}, {4, 64, 24}, {2, 256, 6}}},
        {1024, {{4, 4, 384}, {4, 16, 96}, {4, 64, 24}, {4, 256, 6}}},
    };
    std::mt19937_64 rng(test_seed());
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "n " << c.n);
        std::vector<zu_cplx16> in(c.n), got(c.n), want(c.n);
        for (auto &v : in) v = {static_cast<int16_t>(rng()), static_cast<int16_t>(rng())};
        fft(got.data(), in.data(), c.n);
        fft4first(want.data(), in.data(), c.n);
        for (const Pass &p : c.passes) {
            if (p.radix == 4) {
                fft4set(want.data(), p.a, c.n, p.step);
            } else {
                fft2set(want.data(), p.a, c.n, p.step);
            }
        }
        for (int k = 0; k < c.n; k++) {
            ASSERT_EQ(got[k].re, want[k].re) << "bin " << k;
            ASSERT_EQ(got[k].im, want[k].im) << "bin " << k;
        }
    }
}

// ---- Pinned values (bit exact) ----

// Worked out from the pass definitions by a separate transcription; they include
// full-scale values whose 32-bit sums wrap.
TEST(FftExamples, PinnedOutputs) {
    const int16_t real_in[16] = {1000,  -2000,  3000, 32767, -32768, 0,   5, -7,
                                 12345, -12345, 100,  200,   -300,   400, 0, 1};
    const zu_cplx16 real_want[9] = {{149, 0},       {805, -203},    {792, -999},
                                    {-2493, -1985}, {-1426, 2931},  {819, 2330},
                                    {5010, -612},   {-1967, -4005}, {-2227, 0}};
    zu_cplx16 real_out[9];
    fft_real(real_out, real_in, 16);
    for (int k = 0; k < 9; k++) {
        EXPECT_EQ(real_out[k].re, real_want[k].re) << "bin " << k;
        EXPECT_EQ(real_out[k].im, real_want[k].im) << "bin " << k;
    }

    const zu_cplx16 cin[8] = {{32767, -32768}, {-32768, -32768}, {100, -50},      {0, 0},
                              {-32768, 32767}, {7, 9},           {20000, -20000}, {-1, 1}};
    const zu_cplx16 cwant[8] = {{-1583, -6601}, {4891, -5705},  {-6608, 6601}, {5698, -4886},
                                {6607, 1588},   {16480, -5704}, {1582, -1589}, {5698, -16473}};
    zu_cplx16 cout8[8];
    fft(cout8, cin, 8);
    for (int k = 0; k < 8; k++) {
        EXPECT_EQ(cout8[k].re, cwant[k].re) << "bin " << k;
        EXPECT_EQ(cout8[k].im, cwant[k].im) << "bin " << k;
    }

    zu_cplx16 cin32[32], cout32[32];
    for (int i = 0; i < 32; i++) {
        cin32[i] = {static_cast<int16_t>((i * 7919) % 65536 - 32768),
                    static_cast<int16_t>((i * 104729) % 65536 - 32768)};
    }
    const zu_cplx16 want32[6] = {{-2183, 3331},  {-1422, -2550}, {-1934, -1851},
                                 {-2274, -1615}, {1421, 8394},   {-3422, -1420}};
    fft(cout32, cin32, 32);
    for (int k = 0; k < 6; k++) {
        EXPECT_EQ(cout32[k].re, want32[k].re) << "bin " << k;
        EXPECT_EQ(cout32[k].im, want32[k].im) << "bin " << k;
    }
}

// ---- Transforms against the exact DFT ----

// Runs fft on in (n points) with a guard area after the output and compares every part
// with the exact X[k]/n.
double complex_worst_error(const std::vector<zu_cplx16> &in) {
    const int n = static_cast<int>(in.size());
    std::vector<zu_cplx16> out(n + 8, zu_cplx16{kGuard, kGuard});
    const std::vector<zu_cplx16> in_copy = in;
    fft(out.data(), in.data(), n);
    std::vector<std::complex<double>> x(n);
    for (int m = 0; m < n; m++) x[m] = {double(in[m].re), double(in[m].im)};
    const auto X = exact_dft(x);
    double worst = 0.0;
    for (int k = 0; k < n; k++) {
        worst = std::max(worst, std::fabs(out[k].re - X[k].real()));
        worst = std::max(worst, std::fabs(out[k].im - X[k].imag()));
    }
    for (int k = n; k < n + 8; k++) {
        EXPECT_EQ(out[k].re, kGuard) << "overrun at " << k;
        EXPECT_EQ(out[k].im, kGuard) << "overrun at " << k;
    }
    for (int m = 0; m < n; m++) {
        EXPECT_EQ(in[m].re, in_copy[m].re);
        EXPECT_EQ(in[m].im, in_copy[m].im);
    }
    return worst;
}

// Runs fft_real on in (N samples); returns the output (N/2 + 1 bins) after checking the
// guard area, and the worst part error against X[k]/N.
std::vector<zu_cplx16> run_real(const std::vector<int16_t> &in, double *worst) {
    const int N = static_cast<int>(in.size());
    std::vector<zu_cplx16> out(N / 2 + 1 + 8, zu_cplx16{kGuard, kGuard});
    fft_real(out.data(), in.data(), N);
    for (int k = N / 2 + 1; k < N / 2 + 1 + 8; k++) {
        EXPECT_EQ(out[k].re, kGuard) << "overrun at " << k;
        EXPECT_EQ(out[k].im, kGuard) << "overrun at " << k;
    }
    out.resize(N / 2 + 1);
    if (worst) {
        std::vector<std::complex<double>> x(N);
        for (int m = 0; m < N; m++) x[m] = double(in[m]);
        const auto X = exact_dft(x);
        *worst = 0.0;
        for (int k = 0; k <= N / 2; k++) {
            *worst = std::max(*worst, std::fabs(out[k].re - X[k].real()));
            *worst = std::max(*worst, std::fabs(out[k].im - X[k].imag()));
        }
    }
    return out;
}

// Margin of "about 2 units in the last place" of the 16-bit result, for inputs whose
// bins stay well below full scale (random data).
constexpr double kMargin = 2.0;

// Near full scale a pass also scales by 32767/32768, because cos 0 is stored as 32767:
// up to |X| / 32768 more per pass after the first.
double full_scale_margin(int n, double magnitude) {
    return kMargin + later_pass_count(n) * magnitude / 32768.0;
}

TEST(FftAccuracy, ComplexMatchesExactDftEverySize) {
    const uint64_t seed = test_seed();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937_64 rng(seed);
    for (int n = 4; n <= 1024; n *= 2) {
        SCOPED_TRACE(testing::Message() << "n " << n);
        double worst = 0.0;
        for (int trial = 0; trial < 8; trial++) {
            std::vector<zu_cplx16> in(n);
            for (auto &v : in) v = {static_cast<int16_t>(rng()), static_cast<int16_t>(rng())};
            worst = std::max(worst, complex_worst_error(in));
        }
        EXPECT_LE(worst, kMargin);
        RecordProperty("complex_worst_n" + std::to_string(n), std::to_string(worst));

        // Complex tones of amplitude 23000 at about 20 bins: one bin near full scale.
        const double amplitude = 23000.0;
        double worst_tone = 0.0;
        for (int k = 0; k < n; k += std::max(1, n / 16) + 1) {
            std::vector<zu_cplx16> in(n);
            for (int m = 0; m < n; m++) {
                const double ang = 2.0 * kPi * static_cast<double>((k * m) % n) / n;
                in[m] = {static_cast<int16_t>(std::lround(amplitude * std::cos(ang))),
                         static_cast<int16_t>(std::lround(amplitude * std::sin(ang)))};
            }
            worst_tone = std::max(worst_tone, complex_worst_error(in));
        }
        EXPECT_LE(worst_tone, full_scale_margin(n, amplitude));
    }
}

TEST(FftAccuracy, RealMatchesExactDftEverySize) {
    const uint64_t seed = test_seed();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937_64 rng(seed);
    for (int N = 8; N <= 1024; N *= 2) {
        SCOPED_TRACE(testing::Message() << "N " << N);
        double worst = 0.0;
        for (int trial = 0; trial < 8; trial++) {
            std::vector<int16_t> in(N);
            for (auto &v : in) v = static_cast<int16_t>(rng());
            double w = 0.0;
            const auto out = run_real(in, &w);
            worst = std::max(worst, w);
            EXPECT_EQ(out[0].im, 0);
            EXPECT_EQ(out[N / 2].im, 0);
        }
        EXPECT_LE(worst, kMargin);
        RecordProperty("real_worst_N" + std::to_string(N), std::to_string(worst));
    }
}

TEST(FftAccuracy, ZeroInputGivesZeroOutput) {
    for (int n = 4; n <= 1024; n *= 2) {
        std::vector<zu_cplx16> in(n, zu_cplx16{0, 0});
        EXPECT_EQ(complex_worst_error(in), 0.0) << "n " << n;
        const auto out = run_real(std::vector<int16_t>(2 * n, 0), nullptr);
        for (const auto &v : out) {
            ASSERT_EQ(v.re, 0) << "N " << 2 * n;
            ASSERT_EQ(v.im, 0) << "N " << 2 * n;
        }
    }
}

// A constant v over N samples: every bin but 0 exactly 0, bin 0 exactly v for moderate
// values and within 4 of v at full scale.
TEST(FftAccuracy, ConstantRealInput) {
    const struct {
        int16_t v;
        int tolerance;
    } cases[] = {{1000, 0}, {-1000, 0}, {1, 0}, {-1, 0}, {12345, 0}, {32767, 4}, {-32768, 4}};
    for (int N = 8; N <= 1024; N *= 2) {
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "N " << N << " v " << c.v);
            const auto out = run_real(std::vector<int16_t>(N, c.v), nullptr);
            EXPECT_NEAR(out[0].re, c.v, c.tolerance);
            EXPECT_EQ(out[0].im, 0);
            for (int k = 1; k <= N / 2; k++) {
                ASSERT_EQ(out[k].re, 0) << "bin " << k;
                ASSERT_EQ(out[k].im, 0) << "bin " << k;
            }
        }
    }
    EXPECT_EQ(run_real(std::vector<int16_t>(1024, -32768), nullptr)[0].re, -32765);
}

// A full-scale sine at bin k gives |X[k]/N| ~ 16384 (half the amplitude), ~0 elsewhere.
TEST(FftAccuracy, FullScaleSineAtBin) {
    for (int N = 8; N <= 1024; N *= 2) {
        for (int k : {1, N / 8, N / 4 - 1, N / 2 - 1}) {
            if (k < 1) continue;
            SCOPED_TRACE(testing::Message() << "N " << N << " k " << k);
            std::vector<int16_t> in(N);
            for (int m = 0; m < N; m++) {
                const double ang = 2.0 * kPi * static_cast<double>((k * m) % N) / N;
                in[m] = static_cast<int16_t>(std::lround(32767.0 * std::sin(ang)));
            }
            double worst = 0.0;
            const auto out = run_real(in, &worst);
            EXPECT_LE(worst, full_scale_margin(N / 2, 16384.0));
            EXPECT_NEAR(std::hypot(out[k].re, out[k].im), 16384.0, 3.0);
            for (int b = 0; b <= N / 2; b++) {
                if (b == k) continue;
                ASSERT_LE(std::abs(out[b].re), 2) << "bin " << b;
                ASSERT_LE(std::abs(out[b].im), 2) << "bin " << b;
            }
        }
    }
}

}  // namespace
