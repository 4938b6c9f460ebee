// The application as a process: start-up, the audio loop, signals, reconfiguration,
// the debug recording, SDK faults and shutdown, observed through the log, the
// stand-in amixer, the pid file, the recording and the exit status.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "app_runner.h"
#include "../web/web_client.h"

namespace {

const std::string kGunshot = SONIVALE_GUNSHOT;
const std::string kPrefix = "[Tarvik:sonivale] ";

// A 2-second 16 kHz mono clip (64000 bytes), generated once for all tests.
std::string clip_path;
const size_t kClipBytes = 2 * 16000 * 2;

class AppEnvironment : public ::testing::Environment {
   public:
    void SetUp() override {
        clip_path = "/tmp/sonivale-test-clip-" + std::to_string(getpid()) + ".wav";
        std::string cmd = std::string(MAKE_CLIP) + " " + clip_path + " --seconds 2";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    void TearDown() override { unlink(clip_path.c_str()); }
};
const auto *const kEnv = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

const std::string kValidConfig = config_xml(-60, 75, 0, 60, 0, 0, 0, 0, 512);

// Lines the log must hold, in this order (each found after the previous one).
void expect_in_order(const std::string &log, const std::vector<std::string> &lines) {
    size_t at = 0;
    for (const std::string &l : lines) {
        size_t found = log.find(l, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << l << "\n--- log ---\n"
                                            << log;
        at = found + l.size();
    }
}

// Fast run through the clip to its end.
std::map<std::string, std::string> fast_run(std::map<std::string, std::string> extra = {}) {
    std::map<std::string, std::string> env = {{"TSDK_AUDIO", clip_path}, {"TSDK_REALTIME", "0"}};
    for (const auto &[k, v] : extra) env[k] = v;
    return env;
}

// Real-time run on a looping source: runs until told to stop.
std::map<std::string, std::string> live_run(std::map<std::string, std::string> extra = {}) {
    std::map<std::string, std::string> env = {{"TSDK_AUDIO", clip_path}, {"TSDK_AT_END", "loop"}};
    for (const auto &[k, v] : extra) env[k] = v;
    return env;
}

const std::string kStartLine = kPrefix + "---------- STARTING SONIVALE APPLICATION ON TIME ";
const std::vector<std::string> kExitLines = {
    kPrefix + "Stopped reading audio data from server \n",
    kPrefix + "AGC is set to ON .... Enabling AGC\n",
    kPrefix +
        "Capture Volume Hardware Value set to 50 .... UI value is 100 .... AGC State is AGC_ON \n",
    kPrefix + "tsdk_audio_deinit done \n",
    kPrefix + "Audio Level Thread Exited successfully\n",
    kPrefix + "Sonivale App exiting............................. \n",
};

TEST(AppProcess, RunsThroughTheClipAndExitsByItself) {
    app_home home;
    home.write_config(kValidConfig);
    app_process p;
    p.start(kGunshot, home, fast_run());
    ASSERT_TRUE(p.wait(30));
    EXPECT_EQ(p.exit_code(), 0);
    std::string log = home.read("app.log");
    expect_in_order(
        log,
        {
            kPrefix + "SDK Initilization Complete \n",
            kPrefix + "Parsing XML file " + home.path("html/configparams.xml") + " \n",
            kPrefix + "XML size = " + std::to_string(kValidConfig.size()) + " \n",
            kPrefix + "AppAudioLevel             = -60 \n",
            kPrefix + "AppdetectionThreshold     = 75 \n",
            kPrefix + "EnableAGC                 = 0 \n",
            kPrefix + "VolumeGain                = 60 \n",
            kPrefix + "UseDemoSoundpacks         = 0 \n",
            kPrefix + "EnableSaturation          = 0 \n",
            kPrefix + "EnableAudioRecording      = 0 \n",
            kPrefix + "EnableZULogging           = 0 \n",
            kPrefix + "TotalAudioSamplesToRecord = 512 \n",
            kPrefix + "Audio SDK initialized \n",
            kPrefix + "STOPPING Audio Recording\n",
            kPrefix + "AGC is set to OFF .... Disabling AGC\n",
            kPrefix +
                "Capture Volume Hardware Value set to 48 .... UI value is 60 .... AGC State is "
                "AGC_OFF \n",
            kStartLine,
            kPrefix + "ERROR: end of audio source\n",
        });
    expect_in_order(log, kExitLines);
    EXPECT_EQ(home.amixer_calls(),
              (std::vector<std::string>{
                  "cset name=AGC Switch off,off", "cset name=Capture Volume 48, 48",
                  "cset name=AGC Switch on,on", "cset name=Capture Volume 50, 50"}));
    EXPECT_FALSE(home.exists("html/apppid"));
    EXPECT_EQ(p.out().find("Starting sonivale. check /var/log/sonivale.log for details\n"), 0u);
    EXPECT_NE(p.out().find("Audio SDK initialized "), std::string::npos);
}

TEST(AppProcess, AnUnusableHomeIsRefusedBeforeAnythingStarts) {
    app_home home;
    struct {
        const char *name;
        std::string value;  // TK_APP_HOME
        const char *reason;
    } cases[] = {
        {"unset", "<unset>", "TK_APP_HOME is not set"},
        {"empty", "", "TK_APP_HOME is not set"},
        {"too_long", "/" + std::string(200, 'h'), "longer than 180 characters"},
        {"shell_command", home.dir + "/x;touch " + home.dir + "/pwned",
         "which the shell would interpret"},
        {"space", home.dir + "/my home", "which the shell would interpret"},
    };
    for (const auto &c : cases) {
        app_process p;
        p.start(kGunshot, home, fast_run({{"TK_APP_HOME", c.value}}));
        ASSERT_TRUE(p.wait(10)) << c.name;
        EXPECT_NE(p.exit_code(), 0) << c.name;
        EXPECT_NE(p.err().find(c.reason), std::string::npos) << c.name << ": " << p.err();
        EXPECT_EQ(p.out(), "") << c.name;
        EXPECT_FALSE(home.exists("app.log")) << c.name;
        EXPECT_FALSE(home.exists("html/apppid")) << c.name;
        EXPECT_FALSE(home.exists("pwned")) << c.name;
    }
}

TEST(AppProcess, PidFileHoldsThePidWhileRunning) {
    app_home home;
    home.write_config(kValidConfig);
    app_process p;
    p.start(kGunshot, home, live_run());
    ASSERT_TRUE(wait_for_text(home.path("app.log"), kStartLine, 10));
    EXPECT_EQ(home.read("html/apppid"), std::to_string(p.pid));  // no newline
    kill(p.pid, SIGTERM);
    ASSERT_TRUE(p.wait(10));
    EXPECT_FALSE(home.exists("html/apppid"));
}

TEST(AppProcess, ServesTheAudioLevelAndJoinsTheServiceAtShutdown) {
    app_home home;
    home.write_config(kValidConfig);
    app_process p;
    p.start(kGunshot, home, live_run());
    ASSERT_TRUE(wait_for_text(home.path("app.log"), kStartLine, 10));
    ASSERT_TRUE(webtest::wait_for_port(7681, 5000));
    webtest::WsClient ws;
    ASSERT_TRUE(ws.open(7681, "audio-level-reporter")) << ws.error;
    // Nothing publishes a level yet but silence.
    EXPECT_TRUE(ws.wait_for("-90", 3000));
    kill(p.pid, SIGTERM);
    EXPECT_TRUE(ws.wait_closed(3000));
    ASSERT_TRUE(p.wait(10));
    EXPECT_EQ(p.exit_code(), 0);
    std::string log = home.read("app.log");
    size_t thread_end = log.find(kPrefix + "Audio Level Indicator Thread Exiting ....\n");
    ASSERT_NE(thread_end, std::string::npos) << log;
    EXPECT_LT(thread_end, log.find(kPrefix + "Audio Level Thread Exited successfully\n"));
    EXPECT_NE(p.out().find("Creating thread for Audio Level "), std::string::npos);
}

class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, FinishesThePeriodAndShutsDownInOrder) {
    app_home home;
    home.write_config(config_xml(-90, 50, 1, 80, 0, 0, 0, 0, 512));
    app_process p;
    p.start(kGunshot, home, live_run());
    ASSERT_TRUE(wait_for_text(home.path("app.log"), kStartLine, 10));
    usleep(200000);
    kill(p.pid, GetParam());
    ASSERT_TRUE(p.wait(10));
    EXPECT_EQ(p.exit_code(), 0);
    std::string log = home.read("app.log");
    expect_in_order(log, kExitLines);
    EXPECT_EQ(count_of(log, "ERROR:"), 0u) << log;
    // AGC on from the file (volume forced to 50, hardware 25), then the shutdown values.
    EXPECT_EQ(home.amixer_calls(),
              (std::vector<std::string>{
                  "cset name=AGC Switch on,on", "cset name=Capture Volume 25, 25",
                  "cset name=AGC Switch on,on", "cset name=Capture Volume 50, 50"}));
    EXPECT_FALSE(home.exists("html/apppid"));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGTERM, SIGINT, SIGABRT),
                         [](const auto &p) { return std::string(sigabbrev_np(p.param)); });

TEST(AppProcess, MissingConfigurationEndsStartUpWithGainRestored) {
    app_home home;
    app_process p;
    p.start(kGunshot, home, fast_run());
    ASSERT_TRUE(p.wait(10));
    EXPECT_EQ(p.exit_code(), 0);
    std::string log = home.read("app.log");
    expect_in_order(
        log, {
                 kPrefix + "SDK Initilization Complete \n",
                 kPrefix + "failed to stat file " + home.path("html/configparams.xml") + "\n",
                 kPrefix + "Error Parsing configuration xml file \n",
                 kPrefix + "AGC is set to ON .... Enabling AGC\n",
                 kPrefix + "Capture Volume Hardware Value set to 50 .... UI value is 100 .... AGC "
                           "State is AGC_ON \n",
                 kPrefix + "ERROR: tsdk_audio_deinit() failed: ",
                 kPrefix + "Sonivale App exiting",
             });
    EXPECT_EQ(log.find(kStartLine), std::string::npos);
    EXPECT_EQ(home.amixer_calls(), (std::vector<std::string>{"cset name=AGC Switch on,on",
                                                             "cset name=Capture Volume 50, 50"}));
    EXPECT_FALSE(home.exists("html/apppid"));
}

TEST(AppProcess, BrokenConfigurationAtStartIsAParseFailure) {
    app_home home;
    home.write_config("<ConfigParams><AppAudioLevel>-60</AppAudioLevel>");  // never closed
    app_process p;
    p.start(kGunshot, home, fast_run());
    ASSERT_TRUE(p.wait(10));
    EXPECT_EQ(p.exit_code(), 0);
    expect_in_order(home.read("app.log"), {kPrefix + "failed to parse xml into a tree\n",
                                           kPrefix + "Error Parsing configuration xml file \n"});
}

TEST(AppProcess, Sigusr1RereadsAChangedFile) {
    app_home home;
    home.write_config(kValidConfig);
    app_process p;
    p.start(kGunshot, home, live_run());
    ASSERT_TRUE(wait_for_text(home.path("app.log"), kStartLine, 10));
    home.write_config(config_xml(-30, 40, 1, 90, 0, 0, 0, 0, 100));
    kill(p.pid, SIGUSR1);
    ASSERT_TRUE(wait_for_text(home.path("app.log"), "DYNAMIC CONFIGURATION ENDED", 10));
    kill(p.pid, SIGTERM);
    ASSERT_TRUE(p.wait(10));
    EXPECT_EQ(p.exit_code(), 0);
    std::string log = home.read("app.log");
    expect_in_order(
        log,
        {
            kStartLine,
            kPrefix + "Handle Configuration Change\n",
            kPrefix + " ========= DYNAMIC CONFIGURATION STARTED =========\n",
            kPrefix + "AGC is ON ... Setting Volume level to default 50\n",
            kPrefix + "AppAudioLevel             = -30 \n",
            kPrefix + "AppdetectionThreshold     = 40 \n",
            kPrefix + "EnableAGC                 = 1 \n",
            kPrefix + "VolumeGain                = 50 \n",
            kPrefix + "TotalAudioSamplesToRecord = 100 \n",
            kPrefix + "AGC is set to ON .... Enabling AGC\n",
            kPrefix + "Capture Volume Hardware Value set to 25 .... UI value is 50 .... AGC State "
                      "is AGC_ON \n",
            kPrefix + "STOPPING Audio Recording\n",
            kPrefix + " ========= DYNAMIC CONFIGURATION ENDED =========\n",
        });
    EXPECT_EQ(count_of(log, "Handle Configuration Change"), 1u);
    EXPECT_EQ(home.amixer_calls(),
              (std::vector<std::string>{
                  "cset name=AGC Switch off,off", "cset name=Capture Volume 48, 48",
                  "cset name=AGC Switch on,on", "cset name=Capture Volume 25, 25",
                  "cset name=AGC Switch on,on", "cset name=Capture Volume 50, 50"}));
}

TEST(AppProcess, Sigusr1WithABrokenFileChangesNothing) {
    app_home home;
    home.write_config(kValidConfig);
    app_process p;
    p.start(kGunshot, home, live_run());
    ASSERT_TRUE(wait_for_text(home.path("app.log"), kStartLine, 10));
    home.write_config("<ConfigParams><AppAudioLevel>-10</AppAudioLevel><broken</ConfigParams>");
    kill(p.pid, SIGUSR1);
    ASSERT_TRUE(wait_for_text(home.path("app.log"), "Error Parsing configuration xml file", 10));
    usleep(300000);  // still running: a few more periods
    kill(p.pid, SIGTERM);
    ASSERT_TRUE(p.wait(10));
    EXPECT_EQ(p.exit_code(), 0);
    std::string log = home.read("app.log");
    expect_in_order(log, {
                             kPrefix + " ========= DYNAMIC CONFIGURATION STARTED =========\n",
                             kPrefix + "failed to parse xml into a tree\n",
                             kPrefix + "Error Parsing configuration xml file \n",
                         });
    EXPECT_EQ(log.find("DYNAMIC CONFIGURATION ENDED"), std::string::npos);
    EXPECT_EQ(count_of(log, "AppAudioLevel             = "), 1u);  // only the first read
    // No gain change from the failed pass: only the start-up and shutdown commands.
    EXPECT_EQ(home.amixer_calls().size(), 4u);
}

// Period sizes the loop must handle: the recording (on, with a high limit) holds
// every period whole, whatever its size, and the loop reaches the end of the clip.
TEST(AppProcess, HandlesAnyPeriodSize) {
    struct {
        size_t bytes;
    } cases[] = {{600}, {100}, {511}, {512}, {513}, {2048}, {65536}};
    for (const auto &c : cases) {
        app_home home;
        home.write_config(config_xml(-90, 50, 0, 50, 0, 0, 1, 0, 1536));
        app_process p;
        p.start(kGunshot, home, fast_run({{"TSDK_PERIOD_BYTES", std::to_string(c.bytes)}}));
        ASSERT_TRUE(p.wait(30)) << c.bytes;
        EXPECT_EQ(p.exit_code(), 0) << c.bytes;
        size_t periods = (kClipBytes + c.bytes - 1) / c.bytes;
        size_t recorded = periods <= 1537 ? kClipBytes : 1537 * c.bytes;
        EXPECT_EQ(home.read("html/capturedAudio.pcm").size(), recorded) << c.bytes;
        std::string log = home.read("app.log");
        EXPECT_EQ(count_of(log, "ERROR:"), 1u) << c.bytes << "\n"
                                               << log;  // "end of audio source" only
        expect_in_order(log, kExitLines);
    }
}

TEST(AppProcess, ZeroSizePeriodsAreReleasedAndSkipped) {
    app_home home;
    home.write_config(kValidConfig);
    app_process p;
    p.start(kGunshot, home, fast_run({{"TSDK_PERIOD_BYTES", "0"}}));
    ASSERT_TRUE(wait_for_text(home.path("app.log"), "period_sz is less than equal to 0 \n", 10));
    usleep(100000);
    kill(p.pid, SIGTERM);
    ASSERT_TRUE(p.wait(10));
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_NE(p.out().find("period_sz is less than equal to 0 "), std::string::npos);
    std::string log = home.read("app.log");
    EXPECT_EQ(log.find("ERROR:"), std::string::npos) << "every empty period was released once";
    expect_in_order(log, kExitLines);
}

TEST(AppProcess, RecordingLimitCountsPeriods) {
    // A limit of 3 records exactly 4 periods, and the end of the recording is logged.
    app_home home;
    home.write_config(config_xml(-90, 50, 0, 50, 0, 0, 1, 0, 3));
    app_process p;
    p.start(kGunshot, home, fast_run({{"TSDK_PERIOD_BYTES", "600"}}));
    ASSERT_TRUE(p.wait(30));
    EXPECT_EQ(p.exit_code(), 0);
    std::string pcm = home.read("html/capturedAudio.pcm");
    ASSERT_EQ(pcm.size(), 4u * 600);
    expect_in_order(
        home.read("app.log"),
        {kPrefix + "STARTING New Audio Recording ..... Will Overight any older recordings\n",
         kStartLine,
         kPrefix + "Audio Recording for debug stopped ... audio located at "
                   "\\html\\capturedAudio.pcm \n"});
    // The recording is the start of the clip, byte for byte (WAV data after its 44-byte header).
    std::string wav;
    {
        FILE *f = fopen(clip_path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) wav.append(buf, n);
        fclose(f);
    }
    EXPECT_EQ(pcm, wav.substr(44, 2400));
}

TEST(AppProcess, RecordingValueTwoCreatesTheFileButWritesNothing) {
    app_home home;
    {
        FILE *f = fopen(home.path("html/capturedAudio.pcm").c_str(), "w");
        fputs("old recording", f);
        fclose(f);
    }
    home.write_config(config_xml(-90, 50, 0, 50, 0, 0, 2, 0, 3));
    app_process p;
    p.start(kGunshot, home, fast_run());
    ASSERT_TRUE(p.wait(30));
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_TRUE(home.exists("html/capturedAudio.pcm"));
    EXPECT_EQ(home.read("html/capturedAudio.pcm"), "");
    EXPECT_NE(home.read("app.log").find("STARTING New Audio Recording"), std::string::npos);
}

// Descriptors of process pid open on path.
int open_descriptors_to(pid_t pid, const std::string &path) {
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (!d) return -1;
    int n = 0;
    while (struct dirent *e = readdir(d)) {
        char target[512];
        ssize_t len = readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (len > 0 && std::string(target, (size_t)len) == path) n++;
    }
    closedir(d);
    return n;
}

TEST(AppProcess, NewRecordingAfterTheLimitRestartsTheFile) {
    // Recording ends by itself after 1 period (limit 0: exactly one period); a
    // reconfiguration that reads 1 again starts a new one and empties the file.
    app_home home;
    home.write_config(config_xml(-90, 50, 0, 50, 0, 0, 1, 0, 0));
    app_process p;
    p.start(kGunshot, home, live_run({{"TSDK_PERIOD_BYTES", "1000"}}));
    ASSERT_TRUE(wait_for_text(home.path("app.log"), "Audio Recording for debug stopped", 10));
    EXPECT_EQ(home.read("html/capturedAudio.pcm").size(), 1000u);
    home.write_config(config_xml(-90, 50, 0, 50, 0, 0, 1, 0, 2));
    kill(p.pid, SIGUSR1);
    ASSERT_TRUE(wait_for_text(home.path("app.log"), "DYNAMIC CONFIGURATION ENDED", 10));
    usleep(500000);
    // The first recording's descriptor was closed when the second one began.
    EXPECT_EQ(open_descriptors_to(p.pid, home.path("html/capturedAudio.pcm")), 1);
    kill(p.pid, SIGTERM);
    ASSERT_TRUE(p.wait(10));
    std::string log = home.read("app.log");
    EXPECT_EQ(count_of(log, "STARTING New Audio Recording"), 2u);
    EXPECT_EQ(count_of(log, "Audio Recording for debug stopped"), 2u);
    EXPECT_EQ(home.read("html/capturedAudio.pcm").size(), 3000u);
}

TEST(AppProcess, SdkFaultsAreReportedAndShutdownStillRuns) {
    struct {
        const char *op;
        bool live;                           // needs a stop signal to end
        std::vector<std::string> log_lines;  // in order
        const char *stderr_text;             // or null
    } cases[] = {
        {"init", false, {}, "[Tarvik:sonivale] Tarvik SDK initialization failed.\n"},
        {"audio_init",
         false,
         {kPrefix +
              "ERROR: tsdk_audio_init() failed: tsdk_audio_init: failure injected by TSDK_FAIL\n",
          kPrefix + "Sonivale App exiting"},
         nullptr},
        {"get_aperiod",
         true,
         {kStartLine, kPrefix + "ERROR: tsdk_get_aperiod: failure injected by TSDK_FAIL\n",
          kPrefix + "Stopped reading audio data from server \n"},
         nullptr},
        {"free_aperiod",
         false,
         {kStartLine, kPrefix + "ERROR: tsdk_free_aperiod: failure injected by TSDK_FAIL\n",
          kPrefix + "Sonivale App exiting"},
         nullptr},
        {"audio_deinit",
         false,
         {kPrefix + "ERROR: tsdk_audio_deinit() failed: tsdk_audio_deinit: failure injected by "
                    "TSDK_FAIL\n",
          kPrefix + "Sonivale App exiting"},
         "tsdk_audio_deinit() failed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.op);
        app_home home;
        home.write_config(kValidConfig);
        app_process p;
        p.start(kGunshot, home,
                c.live ? live_run({{"TSDK_FAIL", c.op}}) : fast_run({{"TSDK_FAIL", c.op}}));
        if (c.live) {
            ASSERT_TRUE(wait_for_text(home.path("app.log"), "failure injected", 10));
            kill(p.pid, SIGTERM);
        }
        ASSERT_TRUE(p.wait(30));
        EXPECT_EQ(p.exit_code(), 0);
        if (!c.log_lines.empty()) expect_in_order(home.read("app.log"), c.log_lines);
        if (c.stderr_text) {
            EXPECT_NE(p.err().find(c.stderr_text), std::string::npos) << p.err();
        }
        // Whatever failed, the microphone is left with AGC on at hardware volume 50.
        std::vector<std::string> calls = home.amixer_calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[calls.size() - 2], "cset name=AGC Switch on,on");
        EXPECT_EQ(calls.back(), "cset name=Capture Volume 50, 50");
        EXPECT_FALSE(home.exists("html/apppid"));
    }
}

TEST(AppProcess, StopModeWaitKeepsRunningUntilSignalled) {
    app_home home;
    home.write_config(kValidConfig);
    app_process p;
    p.start(kGunshot, home, fast_run({{"TSDK_AT_END", "wait"}}));
    ASSERT_TRUE(wait_for_text(home.path("app.log"), "ERROR: end of audio source", 10));
    EXPECT_FALSE(p.wait(1.5)) << "the program must keep retrying";
}

TEST(AppProcess, AllFiveProgramsStart) {
    for (const char *program : {SONIVALE_GUNSHOT, SONIVALE_GLASSBREAK, SONIVALE_CARALARM,
                                SONIVALE_AGGRESSION, SONIVALE_DEMO}) {
        app_home home;
        home.write_config(kValidConfig);
        app_process p;
        p.start(program, home, fast_run());
        ASSERT_TRUE(p.wait(30)) << program;
        EXPECT_EQ(p.exit_code(), 0) << program;
        expect_in_order(home.read("app.log"), {kStartLine, kPrefix + "Sonivale App exiting"});
    }
}

}  // namespace
