// Configuration: values taken by position from ConfigParams, read like strtol,
// and validated with replacement of out-of-range values.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app_config.h"
#include "app_context.h"
#include "test_support.h"

namespace {

// The nine values in file order.
struct nine {
    int32_t v[9];
};

nine values_of(const app_context &c) {
    return {{c.app_audio_level, c.detection_threshold, c.enable_agc, c.volume_gain,
             c.use_demo_soundpacks, c.enable_saturation, c.enable_audio_recording,
             c.enable_zu_logging, c.total_samples_to_record}};
}

std::string config_params(const char *const texts[], int n, const char *tag = "ConfigParams") {
    static const char *names[] = {
        "AppAudioLevel",        "AppdetectionThreshold", "EnableAGC",
        "VolumeGain",           "UseDemoSoundpacks",     "EnableSaturation",
        "EnableAudioRecording", "EnableZULogging",       "TotalAudioSamplesToRecord"};
    std::string s = std::string("<") + tag + ">";
    for (int i = 0; i < n; i++)
        s += std::string("<") + names[i % 9] + ">" + texts[i] + "</" + names[i % 9] + ">";
    return s + "</" + tag + ">";
}

// Extracts from a document into a context that starts from the defaults.
nine extract(const std::string &doc) {
    Set_AppContext_Defaults();
    app_context ctx = AppContext;
    xml_node root;
    memset(&root, 0, sizeof root);
    EXPECT_EQ(xml2Tree(doc.c_str(), &root), 0) << doc;
    ExtractValueFromXML(&root, &ctx);
    freeTreeChildren(&root);
    return values_of(ctx);
}

const nine kDefaults = {{-90, 50, 0, 50, 0, 0, 0, 0, 512}};

void expect_values(const nine &got, const nine &want, const std::string &what) {
    for (int i = 0; i < 9; i++) EXPECT_EQ(got.v[i], want.v[i]) << what << " position " << i + 1;
}

TEST(ConfigExtract, TakesValuesByPositionNotName) {
    const char *texts[] = {"-10", "60", "1", "70", "2", "1", "1", "1", "100"};
    expect_values(extract(config_params(texts, 9)), {{-10, 60, 1, 70, 2, 1, 1, 1, 100}},
                  "in order");
    // The same texts under other names, and two elements swapped: positions count.
    std::string doc =
        "<ConfigParams><x>60</x><y>-10</y><a>1</a><b>70</b><c>2</c><d>1</d><e>1</e><f>1</f><g>100</"
        "g>"
        "</ConfigParams>";
    expect_values(extract(doc), {{60, -10, 1, 70, 2, 1, 1, 1, 100}}, "swapped");
}

TEST(ConfigExtract, ReadsTextTheWayStrtolDoes) {
    struct {
        const char *text;
        int32_t value;
    } cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"  -5", -5},
        {"+7", 7},
        {"0x1F", 0},
        {"007", 7},
        {"-0", 0},
        {"1 2", 1},
        {"\t\n 42 ", 42},
        // Beyond 32 bits the target's strtol saturates; so does ours.
        {"99999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
    };
    for (const auto &c : cases) {
        const char *texts[] = {c.text, "0", "0", "0", "0", "0", "0", "0", "0"};
        EXPECT_EQ(extract(config_params(texts, 9)).v[0], c.value) << "'" << c.text << "'";
    }
}

TEST(ConfigExtract, FindsEveryConfigParamsAnywhereAndTheLastWins) {
    const char *first[] = {"-1", "1", "1", "1", "1", "1", "1", "1", "1"};
    const char *second[] = {"-2", "2", "0", "2", "2", "0", "2", "0", "2"};
    std::string nested = "<root><settings>" + config_params(first, 9) + "</settings></root>";
    expect_values(extract(nested), {{-1, 1, 1, 1, 1, 1, 1, 1, 1}}, "nested");
    std::string both =
        "<root>" + config_params(first, 9) + "<deep>" + config_params(second, 9) + "</deep></root>";
    expect_values(extract(both), {{-2, 2, 0, 2, 2, 0, 2, 0, 2}}, "last wins");
    // A ConfigParams inside a ConfigParams: the outer one applies first, the walk
    // then goes into its children and the inner one overwrites.
    std::string inner = config_params(second, 9, "ConfigParams");
    std::string outer = "<ConfigParams><a>-3</a><b>3</b>" + inner + "</ConfigParams>";
    expect_values(extract(outer), {{-2, 2, 0, 2, 2, 0, 2, 0, 2}}, "inner wins");
    expect_values(extract("<other><a>5</a></other>"), kDefaults, "no ConfigParams");
    // The name must match exactly.
    expect_values(extract(config_params(first, 9, "configparams")), kDefaults, "case");
}

TEST(ConfigExtract, MissingChildrenKeepTheirValues) {
    const char *texts[] = {"-30", "70", "1", "0", "0", "0", "0", "0", "0", "55", "66"};
    for (int n = 0; n <= 11; n++) {
        nine want = kDefaults;
        int32_t file[] = {-30, 70, 1, 0, 0, 0, 0, 0, 0};
        for (int i = 0; i < n && i < 9; i++) want.v[i] = file[i];
        expect_values(extract(config_params(texts, n)), want, std::to_string(n) + " children");
    }
}

// Validation with the SDK log captured in a file.
class ConfigValidate : public ::testing::Test {
   protected:
    void SetUp() override {
        log_ = dir_.file("app.log");
        setenv("TSDK_LOG", log_.c_str(), 1);
        settings_.log_path = log_.c_str();
        ASSERT_EQ(tsdk_init(&settings_), 0);
    }
    void TearDown() override {
        tsdk_deinit(&settings_);
        unsetenv("TSDK_LOG");
    }
    std::string log() {
        fflush(tsdk.log_file);
        std::ifstream f(log_);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    temp_dir dir_{"sonivale-cfg"};
    std::string log_;
    tsdk_settings settings_ = {};
};

TEST_F(ConfigValidate, ReplacesOutOfRangeValuesAndSaysSo) {
    struct {
        const char *name;
        nine in, out;
        const char *line;  // the replacement line expected, or null for none
    } cases[] = {
        {"all_in_range",
         {{-45, 75, 0, 99, 3, 1, 1, 1, 1536}},
         {{-45, 75, 0, 99, 3, 1, 1, 1, 1536}},
         nullptr},
        {"level_above_0",
         {{5, 50, 0, 50, 0, 0, 0, 0, 512}},
         {{-90, 50, 0, 50, 0, 0, 0, 0, 512}},
         "AudioLevel not in range ... setting to default -90\n"},
        {"level_bounds_stay",
         {{0, 0, 0, 0, 0, 0, 0, 0, 0}},
         {{0, 0, 0, 0, 0, 0, 0, 0, 0}},
         nullptr},
        {"level_below_-90",
         {{-91, 100, 0, 100, 0, 0, 0, 0, 0}},
         {{-90, 100, 0, 100, 0, 0, 0, 0, 0}},
         "AudioLevel not in range"},
        {"threshold_-1",
         {{-90, -1, 0, 50, 0, 0, 0, 0, 512}},
         {{-90, 50, 0, 50, 0, 0, 0, 0, 512}},
         "detectionThreshold not in range ... setting to default 50\n"},
        {"threshold_101",
         {{-90, 101, 0, 50, 0, 0, 0, 0, 512}},
         {{-90, 50, 0, 50, 0, 0, 0, 0, 512}},
         "detectionThreshold not in range"},
        {"agc_on_forces_volume_50",
         {{-90, 50, 1, 80, 0, 0, 0, 0, 512}},
         {{-90, 50, 1, 50, 0, 0, 0, 0, 512}},
         "AGC is ON ... Setting Volume level to default 50\n"},
        {"agc_on_with_bad_volume",
         {{-90, 50, 1, 500, 0, 0, 0, 0, 512}},
         {{-90, 50, 1, 50, 0, 0, 0, 0, 512}},
         "AGC is ON"},
        {"volume_101_agc_off",
         {{-90, 50, 0, 101, 0, 0, 0, 0, 512}},
         {{-90, 50, 0, 50, 0, 0, 0, 0, 512}},
         "Volume Gain not in Range ... seting to default 50\n"},
        {"volume_-1_agc_2",
         {{-90, 50, 2, -1, 0, 0, 0, 0, 512}},
         {{-90, 50, 2, 50, 0, 0, 0, 0, 512}},
         "Volume Gain not in Range"},
        {"record_1537",
         {{-90, 50, 0, 50, 0, 0, 0, 0, 1537}},
         {{-90, 50, 0, 50, 0, 0, 0, 0, 512}},
         "Total Samples to record not in range ... seting to default 512\n"},
        {"record_-1",
         {{-90, 50, 0, 50, 0, 0, 0, 0, -1}},
         {{-90, 50, 0, 50, 0, 0, 0, 0, 512}},
         "Total Samples to record not in range"},
        {"flags_are_not_checked",
         {{-90, 50, 7, 50, -3, 9, 2, 5, 512}},
         {{-90, 50, 7, 50, -3, 9, 2, 5, 512}},
         nullptr},
    };
    for (const auto &c : cases) {
        size_t before = log().size();
        app_context ctx = {};
        int32_t app_context::*fields[] = {&app_context::app_audio_level,
                                          &app_context::detection_threshold,
                                          &app_context::enable_agc,
                                          &app_context::volume_gain,
                                          &app_context::use_demo_soundpacks,
                                          &app_context::enable_saturation,
                                          &app_context::enable_audio_recording,
                                          &app_context::enable_zu_logging,
                                          &app_context::total_samples_to_record};
        for (int i = 0; i < 9; i++) ctx.*fields[i] = c.in.v[i];
        Validate_ZU_Configuration(&ctx);
        expect_values(values_of(ctx), c.out, c.name);
        std::string added = log().substr(before);
        if (c.line) {
            EXPECT_NE(added.find(std::string("[Tarvik:sonivale] ") + c.line), std::string::npos)
                << c.name << ": " << added;
        } else {
            EXPECT_EQ(added, "") << c.name;
        }
    }
}

TEST_F(ConfigValidate, ReplacementsAreLoggedInOrder) {
    app_context ctx = {};
    ctx.app_audio_level = 1;
    ctx.detection_threshold = 200;
    ctx.enable_agc = 1;
    ctx.volume_gain = 7;
    ctx.total_samples_to_record = 9999;
    Validate_ZU_Configuration(&ctx);
    EXPECT_EQ(log(),
              "[Tarvik:sonivale] AudioLevel not in range ... setting to default -90\n"
              "[Tarvik:sonivale] detectionThreshold not in range ... setting to default 50\n"
              "[Tarvik:sonivale] AGC is ON ... Setting Volume level to default 50\n"
              "[Tarvik:sonivale] Total Samples to record not in range ... seting to default 512\n");
}

}  // namespace
