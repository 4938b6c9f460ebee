#include "app_context.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_build.h"

app_context AppContext;
std::atomic<uint8_t> stop{0};
std::atomic<int32_t> config_change{0};
tsdk_audio_ctx *actxt = nullptr;
int32_t audioDumpCount = 0;
int32_t previousDebugModeValue = 0;

// The longest thing built from the home is the volume command,
// "<home>/amixer cset name='Capture Volume' -2147483648, -2147483648", which must
// stay within the 254 characters a command may have.
static const size_t kMaxHomeLength = 180;

void Set_AppContext_Defaults(void) {
    memset(&AppContext, 0, sizeof AppContext);
    AppContext.detection_threshold = 50;
    AppContext.app_audio_level = -90;
    AppContext.num_soundpacks = app_build.num_soundpacks;
    AppContext.frame_length = 256;
    AppContext.sample_rate = 16000;
    AppContext.enable_zu_logging = 0;
    AppContext.enable_agc = 0;
    AppContext.volume_gain = 50;
    AppContext.enable_saturation = 0;
    AppContext.use_demo_soundpacks = 0;
    AppContext.enable_audio_recording = 0;
    AppContext.total_samples_to_record = 512;
    AppContext.dump_fd = 0;
}

void App_Home_Path(char out[APP_PATH_SIZE], const char *name) {
    memset(out, 0, APP_PATH_SIZE);
    snprintf(out, APP_PATH_SIZE, "%s/%s", getenv("TK_APP_HOME"), name);
}

void App_Html_Path(char out[APP_PATH_SIZE], const char *name) {
    memset(out, 0, APP_PATH_SIZE);
    snprintf(out, APP_PATH_SIZE, "%s/html/%s", getenv("TK_APP_HOME"), name);
}

bool App_Home_Is_Usable(void) {
    const char *home = getenv("TK_APP_HOME");
    if (!home || !*home) {
        fprintf(
            stderr,
            "sonivale: TK_APP_HOME is not set; it must name the application's home directory\n");
        return false;
    }
    if (strlen(home) > kMaxHomeLength) {
        fprintf(stderr, "sonivale: TK_APP_HOME is longer than %zu characters\n", kMaxHomeLength);
        return false;
    }
    // The home is pasted into shell commands (amixer): allow only characters
    // that the shell takes literally.
    for (const char *p = home; *p; p++) {
        if (!strchr("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@%=",
                    *p)) {
            fprintf(
                stderr,
                "sonivale: TK_APP_HOME holds the character '%c', which the shell would interpret\n",
                *p);
            return false;
        }
    }
    return true;
}
