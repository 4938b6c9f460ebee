// The host camera SDK: audio sources and periods, events file, fault injection.
#include <gtest/gtest.h>
#include <cJSON.h>
#include <math.h>
#include <pthread.h>
#include <sndfile.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tsdk.h"
#include "test_support.h"

namespace {

class Tsdk : public ::testing::Test {
   protected:
    void SetUp() override {
        for (const char *v : {"TSDK_LOG", "TSDK_AUDIO", "TSDK_PERIOD_BYTES", "TSDK_REALTIME",
                              "TSDK_AT_END", "TSDK_EVENTS", "TSDK_FAIL"})
            unsetenv(v);
        setenv("TSDK_REALTIME", "0", 1);
        setenv("TSDK_AT_END", "wait", 1);
    }
    std::string path(const char *name) { return dir_.file(name); }
    std::string read(const std::string &p) {
        std::ifstream f(p, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    // Writes a WAV of the given rate and channels from interleaved samples.
    std::string wav(const char *name, int rate, int channels, const std::vector<int16_t> &s) {
        SF_INFO info = {};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        std::string p = path(name);
        SNDFILE *f = sf_open(p.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        sf_write_short(f, s.data(), (sf_count_t)s.size());
        sf_close(f);
        return p;
    }
    // Drains the source into bytes, one period at a time, recording period sizes.
    std::string drain(tsdk_audio_ctx *ctx, std::vector<size_t> *sizes) {
        std::string out;
        for (;;) {
            tsdk_aperiod *p = tsdk_get_aperiod(ctx);
            if (!p) break;
            size_t n = tsdk_aperiod_size(p);
            sizes->push_back(n);
            out.append((const char *)tsdk_aperiod_ptr(p), n);
            EXPECT_EQ(tsdk_free_aperiod(p), 0);
        }
        return out;
    }
    temp_dir dir_{"sonivale-sdk"};
};

TEST_F(Tsdk, SixteenKilohertzMonoArrivesBitExactInPeriods) {
    std::vector<int16_t> s(1000);
    for (size_t i = 0; i < s.size(); i++) s[i] = (int16_t)(i * 37 - 20000);
    setenv("TSDK_AUDIO", wav("a.wav", 16000, 1, s).c_str(), 1);
    setenv("TSDK_PERIOD_BYTES", "600", 1);
    tsdk_audio_ctx *ctx = tsdk_audio_init();
    ASSERT_NE(ctx, nullptr) << tsdk_strerr();
    std::vector<size_t> sizes;
    std::string bytes = drain(ctx, &sizes);
    EXPECT_STREQ(tsdk_strerr(), "end of audio source");
    EXPECT_EQ(sizes, (std::vector<size_t>{600, 600, 600, 200}));
    ASSERT_EQ(bytes.size(), 2000u);
    EXPECT_EQ(memcmp(bytes.data(), s.data(), 2000), 0);  // little-endian host
    EXPECT_EQ(tsdk_get_aperiod(ctx), nullptr);           // wait: no period, for ever
    EXPECT_EQ(tsdk_audio_deinit(ctx), 0);
}

TEST_F(Tsdk, OtherRatesAndChannelsAreMixedAndResampled) {
    // One second of a 440 Hz tone, 44.1 kHz stereo with the right channel silent:
    // about 16000 mono samples of half the amplitude.
    std::vector<int16_t> s(2 * 44100);
    for (int i = 0; i < 44100; i++)
        s[2 * i] = (int16_t)(16000 * sin(2 * 3.14159265358979323846 * 440 * i / 44100.0));
    setenv("TSDK_AUDIO", wav("b.wav", 44100, 2, s).c_str(), 1);
    setenv("TSDK_PERIOD_BYTES", "2048", 1);
    tsdk_audio_ctx *ctx = tsdk_audio_init();
    ASSERT_NE(ctx, nullptr) << tsdk_strerr();
    std::vector<size_t> sizes;
    std::string bytes = drain(ctx, &sizes);
    size_t n = bytes.size() / 2;
    EXPECT_NEAR((double)n, 16000.0, 2.0);
    const int16_t *pcm = (const int16_t *)bytes.data();
    int peak = 0;
    for (size_t i = 1000; i < n - 1000; i++) peak = std::max(peak, abs(pcm[i]));
    EXPECT_NEAR(peak, 8000, 200);
    tsdk_audio_deinit(ctx);
}

TEST_F(Tsdk, LoopModeRestartsTheSourceWithoutAGap) {
    std::vector<int16_t> s = {1, 2, 3};
    setenv("TSDK_AUDIO", wav("c.wav", 16000, 1, s).c_str(), 1);
    setenv("TSDK_PERIOD_BYTES", "8", 1);
    setenv("TSDK_AT_END", "loop", 1);
    tsdk_audio_ctx *ctx = tsdk_audio_init();
    ASSERT_NE(ctx, nullptr);
    std::vector<int16_t> got;
    for (int k = 0; k < 3; k++) {
        tsdk_aperiod *p = tsdk_get_aperiod(ctx);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(tsdk_aperiod_size(p), 8u);
        got.insert(got.end(), tsdk_aperiod_ptr(p), tsdk_aperiod_ptr(p) + 4);
        tsdk_free_aperiod(p);
    }
    EXPECT_EQ(got, (std::vector<int16_t>{1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
    tsdk_audio_deinit(ctx);
}

TEST_F(Tsdk, PeriodsMustBeReleasedOnceBeforeTheNext) {
    setenv("TSDK_AUDIO", wav("d.wav", 16000, 1, std::vector<int16_t>(4096)).c_str(), 1);
    tsdk_audio_ctx *ctx = tsdk_audio_init();
    ASSERT_NE(ctx, nullptr);
    tsdk_aperiod *p = tsdk_get_aperiod(ctx);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(tsdk_get_aperiod(ctx), nullptr);
    EXPECT_NE(strstr(tsdk_strerr(), "not been released"), nullptr);
    EXPECT_EQ(tsdk_free_aperiod(p), 0);
    EXPECT_NE(tsdk_free_aperiod(p), 0);
    tsdk_audio_deinit(ctx);
}

TEST_F(Tsdk, BadSourcesFailWithAReason) {
    struct {
        const char *audio;         // null: unset
        const char *period_bytes;  // null: unset
        const char *at_end;
        const char *reason;
    } cases[] = {
        {nullptr, nullptr, "wait", "no audio source"},
        {"/nonexistent/clip.wav", nullptr, "wait", "cannot read audio file /nonexistent/clip.wav"},
        {"STDIN", "abc", "wait", "TSDK_PERIOD_BYTES=abc is not a byte count"},
        {"STDIN", "-5", "wait", "is not a byte count"},
        {"STDIN", nullptr, "sometimes", "TSDK_AT_END=sometimes"},
    };
    for (const auto &c : cases) {
        if (c.audio) {
            setenv("TSDK_AUDIO", strcmp(c.audio, "STDIN") == 0 ? "-" : c.audio, 1);
        } else {
            unsetenv("TSDK_AUDIO");
        }
        if (c.period_bytes) {
            setenv("TSDK_PERIOD_BYTES", c.period_bytes, 1);
        } else {
            unsetenv("TSDK_PERIOD_BYTES");
        }
        setenv("TSDK_AT_END", c.at_end, 1);
        EXPECT_EQ(tsdk_audio_init(), nullptr) << c.reason;
        EXPECT_NE(strstr(tsdk_strerr(), c.reason), nullptr) << tsdk_strerr();
    }
    EXPECT_NE(tsdk_audio_deinit(nullptr), 0);
}

TEST_F(Tsdk, FaultInjectionMatchesWholeNames) {
    setenv("TSDK_AUDIO", wav("e.wav", 16000, 1, std::vector<int16_t>(100)).c_str(), 1);
    setenv("TSDK_FAIL", "get_aperiod,event_send,audio_init_x", 1);
    tsdk_audio_ctx *ctx = tsdk_audio_init();  // "audio_init_x" is not "audio_init"
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(tsdk_get_aperiod(ctx), nullptr);
    EXPECT_STREQ(tsdk_strerr(), "tsdk_get_aperiod: failure injected by TSDK_FAIL");
    EXPECT_NE(tsdk_event_send("x", 0, 1), 0);
    EXPECT_EQ(tsdk_audio_deinit(ctx), 0);
}

TEST_F(Tsdk, EventsAreAppendedAsJsonLinesWithTheExactPayload) {
    std::string log = path("app.log");
    setenv("TSDK_LOG", log.c_str(), 1);
    tsdk_settings settings = {};
    settings.log_path = "/unused.log";
    ASSERT_EQ(tsdk_init(&settings), 0);
    const char payload[] = "<a>\t\n\"x\"</a>    TRAILING";
    ASSERT_EQ(tsdk_event_send(payload, 0, strlen(payload) - 8),
              0);  // length, not the terminator, counts
    ASSERT_EQ(tsdk_event_send("second", 0, 6), 0);
    tsdk_log("line %d\n", 1);
    tsdk_errlog("error %s\n", "two");
    tsdk_deinit(&settings);

    std::istringstream events(read(log + ".events"));
    std::vector<std::string> payloads;
    for (std::string line; std::getline(events, line);) {
        cJSON *obj = cJSON_Parse(line.c_str());
        ASSERT_NE(obj, nullptr) << line;
        cJSON *t = cJSON_GetObjectItem(obj, "time");
        ASSERT_TRUE(cJSON_IsString(t));
        EXPECT_EQ(strlen(t->valuestring), 24u) << t->valuestring;  // 2026-12-11T15:00:00.123Z
        payloads.push_back(cJSON_GetObjectItem(obj, "payload")->valuestring);
        cJSON_Delete(obj);
    }
    EXPECT_EQ(payloads, (std::vector<std::string>{"<a>\t\n\"x\"</a>    ", "second"}));
    EXPECT_EQ(read(log), "line 1\nerror two\n");
}

TEST_F(Tsdk, LogLinesFromTwoThreadsStayWhole) {
    std::string log = path("app.log");
    setenv("TSDK_LOG", log.c_str(), 1);
    tsdk_settings settings = {};
    settings.log_path = "/unused.log";
    ASSERT_EQ(tsdk_init(&settings), 0);
    auto writer = [](void *arg) -> void * {
        for (int i = 0; i < 2000; i++)
            tsdk_log("%s %04d %s\n", (const char *)arg, i, std::string(200, 'x').c_str());
        return nullptr;
    };
    pthread_t a, b;
    pthread_create(&a, nullptr, writer, (void *)"A");
    pthread_create(&b, nullptr, writer, (void *)"B");
    pthread_join(a, nullptr);
    pthread_join(b, nullptr);
    tsdk_deinit(&settings);
    std::istringstream in(read(log));
    int lines = 0;
    for (std::string line; std::getline(in, line); lines++) ASSERT_EQ(line.size(), 207u) << line;
    EXPECT_EQ(lines, 4000);
}

}  // namespace
