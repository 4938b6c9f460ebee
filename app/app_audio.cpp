#include "app_audio.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "app_context.h"

namespace {

// Shell commands are limited to 254 characters (a 255-byte buffer). The home
// directory was checked at start-up, so no command built here is ever cut.
constexpr size_t kCommandSize = 255;

int run_command(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int run_command(const char *fmt, ...) {
    char cmd[kCommandSize];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(cmd, sizeof cmd, fmt, ap);
    va_end(ap);
    return system(cmd);
}

}  // namespace

int Initialize_AudioSDK(void) {
    actxt = tsdk_audio_init();
    if (actxt) {
        tsdk_log(APP_PREFIX "Audio SDK initialized \n");
        printf("Audio SDK initialized ");
        fflush(stdout);
        return 1;
    }
    tsdk_log(APP_PREFIX "ERROR: tsdk_audio_init() failed: %s\n", tsdk_strerr());
    printf("ERROR: tsdk_audio_init() failed: %s\n", tsdk_strerr());
    return 0;
}

void ChangeAGCState(int32_t state) {
    const char *home = getenv("TK_APP_HOME");
    if (state == 0) {
        tsdk_log(APP_PREFIX "AGC is set to OFF .... Disabling AGC\n");
        run_command("%s/amixer cset name='AGC Switch' off,off", home);
    } else if (state == 1) {
        tsdk_log(APP_PREFIX "AGC is set to ON .... Enabling AGC\n");
        run_command("%s/amixer cset name='AGC Switch' on,on", home);
    }
}

int SetAudioVolumeGain(int32_t volume, int32_t agc_state) {
    // 0..100 maps to 0..50 with AGC on and to 0..80 with AGC off (truncating).
    int32_t hw = agc_state == 1 ? volume / 2 : volume * 80 / 100;
    tsdk_log(APP_PREFIX
             "Capture Volume Hardware Value set to %d .... UI value is %d .... AGC State is %s \n",
             hw, volume, agc_state == 1 ? "AGC_ON" : "AGC_OFF");
    return run_command("%s/amixer cset name='Capture Volume' %d, %d", getenv("TK_APP_HOME"), hw,
                       hw);
}

void Switch_Audio_Recording(void) {
    char path[APP_PATH_SIZE];
    App_Html_Path(path, "capturedAudio.pcm");
    if (AppContext.enable_audio_recording != 0 && previousDebugModeValue == 0) {
        previousDebugModeValue = AppContext.enable_audio_recording;
        tsdk_log(APP_PREFIX
                 "STARTING New Audio Recording ..... Will Overight any older recordings\n");
        audioDumpCount = 0;
        // Only the newest recording is written to and closed at shutdown, so an
        // earlier one's descriptor is closed here rather than leaked.
        if (AppContext.dump_fd > 0) close(AppContext.dump_fd);
        AppContext.dump_fd = open(path, O_CREAT | O_TRUNC | O_WRONLY, 0600);
        if (AppContext.dump_fd == -1) tsdk_errlog(APP_PREFIX "Error Opening Audio Dump file \n");
    } else if (AppContext.enable_audio_recording == 0) {
        previousDebugModeValue = 0;
        tsdk_log(APP_PREFIX "STOPPING Audio Recording\n");
        audioDumpCount = 0;
    }
}

void Record_Audio_Period(const int16_t *samples, size_t bytes) {
    if (AppContext.enable_audio_recording != 1) return;
    // A failed write is not reported: the count still advances so the recording
    // ends on schedule.
    ssize_t written = write(AppContext.dump_fd, samples, bytes);
    (void)written;
    audioDumpCount++;
    if (audioDumpCount > AppContext.total_samples_to_record) {
        tsdk_log(
            APP_PREFIX
            "Audio Recording for debug stopped ... audio located at \\html\\capturedAudio.pcm \n");
        audioDumpCount = 0;
        AppContext.enable_audio_recording = 0;
        previousDebugModeValue = 0;
    }
}
