// The application's context record and its process-wide state.
#ifndef APP_CONTEXT_H
#define APP_CONTEXT_H

#include <stdint.h>

#include <atomic>

#include "tsdk.h"

#define APP_PATH_SIZE 256     // every application path is built into a buffer of this size
#define APP_MAX_SOUNDPACKS 4  // the largest num_soundpacks of the five builds
#define APP_PREFIX "[Tarvik:sonivale] "

struct app_context {
    int32_t detection_threshold;      // sensitivity for every soundpack, 0..100
    int32_t app_audio_level;          // trigger level for every soundpack, dB, -90..0
    int32_t num_soundpacks;           // from the build data
    int32_t frame_length;             // samples per engine frame
    int32_t sample_rate;              // Hz
    int32_t enable_zu_logging;        // 1: engine trace log
    int32_t enable_agc;               // 1 on, 0 off, other: AGC left alone
    int32_t volume_gain;              // capture volume as the user sees it, 0..100
    int32_t enable_saturation;        // 1: clip detection and saturation reports
    int32_t use_demo_soundpacks;      // non-zero: the build's test soundpacks
    int32_t enable_audio_recording;   // non-zero starts a recording; only 1 writes periods
    int32_t total_samples_to_record;  // recording limit, in audio periods
    char zu_log_path[APP_PATH_SIZE];
    int32_t spids[APP_MAX_SOUNDPACKS];
    int32_t dump_fd;  // recording file descriptor; 0 = none
};

extern app_context AppContext;

// Flags shared with the signal handler (and, for the last two, the audio-level
// thread): lock-free atomics, which are safe to store from a signal handler.
extern std::atomic<uint8_t> stop;           // 1 ends the audio loop
extern std::atomic<int32_t> config_change;  // 1 asks the loop to re-read the configuration

extern tsdk_audio_ctx *actxt;
extern int32_t audioDumpCount;          // periods written to the current recording
extern int32_t previousDebugModeValue;  // 0 idle, else the value that started the recording

// Fills AppContext with the values in force before any configuration is read.
void Set_AppContext_Defaults(void);

// Builds "%s/%s" or "%s/html/%s" from TK_APP_HOME into a buffer of APP_PATH_SIZE.
// The home has been checked at start-up, so the result is never cut.
void App_Home_Path(char out[APP_PATH_SIZE], const char *name);
void App_Html_Path(char out[APP_PATH_SIZE], const char *name);

// Checks TK_APP_HOME: set, short enough for every path and command built from it,
// and free of characters the shell would interpret. Prints the reason on stderr.
bool App_Home_Is_Usable(void);

#endif
