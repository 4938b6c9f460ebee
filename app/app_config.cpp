#include "app_config.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "app_audio.h"
#include "app_engine.h"

namespace {

// A value text read as base 10 the way strtol reads it on the 32-bit target:
// leading white space, optional sign, digits up to the first other character;
// no digits reads as 0, and values beyond 32 bits saturate.
int32_t read_int(const char *text) {
    long v = strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return (int32_t)v;
}

// The nine values in file order, by position.
int32_t app_context::*const kConfigFields[] = {
    &app_context::app_audio_level,
    &app_context::detection_threshold,
    &app_context::enable_agc,
    &app_context::volume_gain,
    &app_context::use_demo_soundpacks,
    &app_context::enable_saturation,
    &app_context::enable_audio_recording,
    &app_context::enable_zu_logging,
    &app_context::total_samples_to_record,
};

}  // namespace

void ExtractValueFromXML(const xml_node *node, app_context *ctx) {
    if (!node) return;
    if (strcmp(node->name, "ConfigParams") == 0) {
        int32_t n = node->count < 9 ? node->count : 9;
        for (int32_t i = 0; i < n; i++) ctx->*kConfigFields[i] = read_int(node->children[i]->value);
    }
    for (int32_t i = 0; i < node->count; i++) ExtractValueFromXML(node->children[i], ctx);
}

int App_parse_xml(const char *path, app_context *ctx) {
    tsdk_log(APP_PREFIX "Parsing XML file %s \n", path);
    struct stat st;
    if (stat(path, &st) != 0) {
        tsdk_errlog(APP_PREFIX "failed to stat file %s\n", path);
        return -1;
    }
    size_t size = (size_t)st.st_size;
    char *buf = (char *)calloc(size + 1, 1);
    tsdk_log(APP_PREFIX "XML size = %d \n", (int)size);
    if (!buf) {
        tsdk_errlog(APP_PREFIX "Error allocating memory for xmlBuf \n");
        return -1;
    }
    FILE *f = fopen(path, "rb");
    if (!f) {
        tsdk_errlog(APP_PREFIX "Error opening file %s \n", path);
        free(buf);
        return -1;
    }
    size_t got = fread(buf, 1, size, f);
    fclose(f);
    buf[got] = '\0';  // a file that shrank since stat is read as far as it goes

    xml_node root;
    memset(&root, 0, sizeof root);
    int rc = xml2Tree(buf, &root);
    free(buf);
    if (rc != 0) {
        freeTreeChildren(&root);
        tsdk_errlog(APP_PREFIX "failed to parse xml into a tree\n");
        return -1;
    }
    ExtractValueFromXML(&root, ctx);
    freeTreeChildren(&root);
    return 0;
}

void Validate_ZU_Configuration(app_context *ctx) {
    if (ctx->app_audio_level < -90 || ctx->app_audio_level > 0) {
        tsdk_log(APP_PREFIX "AudioLevel not in range ... setting to default %d\n", -90);
        ctx->app_audio_level = -90;
    }
    if (ctx->detection_threshold < 0 || ctx->detection_threshold > 100) {
        tsdk_log(APP_PREFIX "detectionThreshold not in range ... setting to default %d\n", 50);
        ctx->detection_threshold = 50;
    }
    if (ctx->enable_agc == 1) {
        ctx->volume_gain = 50;
        tsdk_log(APP_PREFIX "AGC is ON ... Setting Volume level to default %d\n", 50);
    }
    if (ctx->volume_gain < 0 || ctx->volume_gain > 100) {
        ctx->volume_gain = 50;
        tsdk_log(APP_PREFIX "Volume Gain not in Range ... seting to default %d\n", 50);
    }
    if (ctx->total_samples_to_record < 0 || ctx->total_samples_to_record > 1536) {
        ctx->total_samples_to_record = 512;
        tsdk_log(APP_PREFIX "Total Samples to record not in range ... seting to default %d\n", 512);
    }
}

int Parse_ZU_Configuration(void) {
    char path[APP_PATH_SIZE];
    App_Home_Path(path, "html/configparams.xml");
    // Values are taken only from a fully parsed file: a failed read changes nothing.
    if (App_parse_xml(path, &AppContext) != 0) {
        tsdk_errlog(APP_PREFIX "Error Parsing configuration xml file \n");
        return 0;
    }
    Validate_ZU_Configuration(&AppContext);
    tsdk_log(APP_PREFIX "AppAudioLevel             = %d \n", AppContext.app_audio_level);
    tsdk_log(APP_PREFIX "AppdetectionThreshold     = %d \n", AppContext.detection_threshold);
    tsdk_log(APP_PREFIX "EnableAGC                 = %d \n", AppContext.enable_agc);
    tsdk_log(APP_PREFIX "VolumeGain                = %d \n", AppContext.volume_gain);
    tsdk_log(APP_PREFIX "UseDemoSoundpacks         = %d \n", AppContext.use_demo_soundpacks);
    tsdk_log(APP_PREFIX "EnableSaturation          = %d \n", AppContext.enable_saturation);
    tsdk_log(APP_PREFIX "EnableAudioRecording      = %d \n", AppContext.enable_audio_recording);
    tsdk_log(APP_PREFIX "EnableZULogging           = %d \n", AppContext.enable_zu_logging);
    tsdk_log(APP_PREFIX "TotalAudioSamplesToRecord = %d \n", AppContext.total_samples_to_record);
    return 1;
}

int Update_ZU_Configurations(void) {
    tsdk_log(APP_PREFIX " ========= DYNAMIC CONFIGURATION STARTED =========\n");
    if (!Parse_ZU_Configuration()) return 0;
    // The engine instance is rebuilt here with the new values once the engine
    // is part of the program.
    ChangeAGCState(AppContext.enable_agc);
    SetAudioVolumeGain(AppContext.volume_gain, AppContext.enable_agc);
    Enable_ZU_Logging();
    tsdk_log(APP_PREFIX " ========= DYNAMIC CONFIGURATION ENDED =========\n");
    return 1;
}
