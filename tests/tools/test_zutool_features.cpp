// zutool features / despike run as processes: output format and values against the
// engine routines called directly, and refusal of unsuitable input.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "dsp/zu_fe.h"
#include "dsp/zu_spike.h"
#include "test_support.h"

namespace {

command_result run_zutool(const std::string &args, bool merge_stderr = true) {
    return run_command(std::string(ZUTOOL_PATH) + " " + args + (merge_stderr ? " 2>&1" : ""));
}

class ZutoolFeatures : public ::testing::Test {
   protected:
    std::string path(const char *name) const { return dir_.file(name); }

    // Writes samples (interleaved when channels > 1) with the given format.
    std::string write_wav(const char *name, const std::vector<int16_t> &x, int rate,
                          int channels = 1, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
        SF_INFO info = {};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        const std::string p = path(name);
        SNDFILE *f = sf_open(p.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
        if (f == nullptr) return p;
        EXPECT_EQ(sf_write_short(f, x.data(), (sf_count_t)x.size()), (sf_count_t)x.size());
        sf_close(f);
        return p;
    }

    static std::vector<int16_t> read_wav(const std::string &p, int *rate) {
        SF_INFO info = {};
        SNDFILE *f = sf_open(p.c_str(), SFM_READ, &info);
        EXPECT_NE(f, nullptr);
        if (f == nullptr) return {};
        std::vector<int16_t> x((size_t)info.frames);
        sf_read_short(f, x.data(), info.frames);
        *rate = info.samplerate;
        sf_close(f);
        return x;
    }

    temp_dir dir_{"zutool_features"};
};

std::vector<int16_t> test_samples(size_t n) {
    std::vector<int16_t> x(n);
    uint32_t r = 99;
    for (size_t i = 0; i < n; i++) {
        r = r * 1103515245u + 12345u;
        x[i] = (int16_t)((int)((r >> 16) % 4001) - 2000);
        if (i % 300 == 150) x[i] = 25000;  // clicks for the spike remover
    }
    return x;
}

// The spike remover's state is process-wide; 64 zeros empty its window, which is the
// state a fresh zutool process starts from.
wd_state *fresh_spike_state() {
    wd_state *st = nullptr;
    EXPECT_EQ(wd_init(spike_template, spike_template_len, &st), 0);
    std::vector<int16_t> zeros(64, 0);
    wd_classify(st, zeros.data(), 64);
    return st;
}

TEST_F(ZutoolFeatures, LinesMatchTheFrontEnd) {
    struct {
        int rate, n;
        bool spike;
    } cases[] = {{16000, 256, false}, {8000, 128, true}, {44100, 512, false}, {16000, 256, true}};
    for (const auto &c : cases) {
        const std::vector<int16_t> x = test_samples((size_t)c.n * 5 + 77);  // remainder dropped
        const std::string wav = write_wav("in.wav", x, c.rate);
        std::string args = "features --frame-length " + std::to_string(c.n) + " ";
        if (c.spike) args += "--spike-removal ";
        const command_result r = run_zutool(args + wav, false);
        ASSERT_EQ(r.status, 0) << r.out;

        zu_fe fe;
        ASSERT_EQ(zu_fe_init(&fe, c.rate, c.n), 0);
        wd_state *st = c.spike ? fresh_spike_state() : nullptr;
        std::istringstream lines(r.out);
        std::string line;
        int t = 0;
        for (; std::getline(lines, line); t++) {
            std::vector<int16_t> frame(x.begin() + (long)t * c.n, x.begin() + (long)(t + 1) * c.n);
            if (st) wd_classify(st, frame.data(), (uint32_t)c.n);
            zu_fe_process(&fe, frame.data(), c.rate);
            std::vector<long> want = {t, fe.spectrum_shift, fe.audio_level, fe.peak_level,
                                      fe.peak_band};
            const int16_t *v = fe.feature_ring[(fe.feature_slot + 1) % 3];
            for (int i = 0; i < 243; i++) want.push_back(v[i]);
            std::istringstream fields(line);
            std::vector<long> got;
            long value;
            while (fields >> value) got.push_back(value);
            ASSERT_EQ(got, want) << c.rate << " Hz, n " << c.n << ", line " << t;
        }
        EXPECT_EQ(t, 5) << c.rate << " Hz, n " << c.n;
    }
}

TEST_F(ZutoolFeatures, DespikeWritesRepairedSamples) {
    const std::vector<int16_t> x = test_samples(256 * 4 + 100);
    const std::string in = write_wav("in.wav", x, 16000);
    const std::string out = path("out.wav");
    const command_result r = run_zutool("despike " + in + " " + out);
    ASSERT_EQ(r.status, 0) << r.out;
    int rate = 0;
    const std::vector<int16_t> got = read_wav(out, &rate);
    EXPECT_EQ(rate, 16000);

    std::vector<int16_t> want = x;
    wd_state *st = fresh_spike_state();
    for (size_t off = 0; off < want.size(); off += 256) {
        wd_classify(st, want.data() + off, (uint32_t)std::min<size_t>(256, want.size() - off));
    }
    EXPECT_EQ(got, want);
    EXPECT_NE(got, x);  // some clicks were repaired
}

TEST_F(ZutoolFeatures, RefusesUnsuitableInput) {
    const std::vector<int16_t> x = test_samples(2048);
    const std::string stereo = write_wav("stereo.wav", x, 16000, 2);
    const std::string pcm8 = write_wav("pcm8.wav", x, 16000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
    const std::string flt = write_wav("float.wav", x, 16000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const std::string aiff = write_wav("pcm.aiff", x, 16000, 1, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    const std::string slow = write_wav("slow.wav", x, 4000);
    const std::string good = write_wav("good.wav", x, 16000);
    FILE *f = fopen(path("text.wav").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("not audio at all\n", f);
    fclose(f);
    struct {
        std::string args;
        const char *message;
    } cases[] = {
        {"features " + stereo, "mono"},
        {"features " + pcm8, "16-bit"},
        {"features " + flt, "16-bit"},
        {"features " + aiff, "not a WAV"},
        {"features " + path("text.wav"), "cannot open"},
        {"features " + path("missing.wav"), "cannot open"},
        {"features " + slow, "not supported"},
        {"features --frame-length 300 " + good, "128, 256 or 512"},
        {"features --frame-length " + good, "128, 256 or 512"},
        {"features --frame-length", "needs a value"},
        {"features --bogus " + good, "unknown option"},
        {"features " + good + " " + good, "more than one"},
        {"features", "no input file"},
        {"despike " + stereo + " " + path("o.wav"), "mono"},
        {"despike " + good, "expected IN.wav and OUT.wav"},
        {"despike " + good + " " + path("nodir/o.wav"), "cannot create"},
    };
    for (const auto &c : cases) {
        const command_result r = run_zutool(c.args);
        EXPECT_EQ(r.status, 2) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.args << "\n" << r.out;
    }
    for (const char *cmd : {"features --help", "despike --help", "--help"}) {
        const command_result r = run_zutool(cmd);
        EXPECT_EQ(r.status, 0) << cmd;
        EXPECT_NE(r.out.find("usage"), std::string::npos) << cmd;
    }
    EXPECT_NE(run_zutool("--help").out.find("features"), std::string::npos);
}

}  // namespace
