// The life of the application process: start-up, the audio loop, shutdown.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "app_audio.h"
#include "app_build.h"
#include "app_config.h"
#include "app_context.h"
#include "app_engine.h"
#include "audio_level_service.h"

namespace {

constexpr size_t kPayloadSize = 512;  // bytes, the camera event payload text

char *payload_buffer = nullptr;
struct sigaction sigact;
tsdk_settings settings;

// The current time as UTC, "%m/%d/%Y %H:%M:%S".
void format_utc_now(char *out, size_t size) {
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(out, size, "%m/%d/%Y %H:%M:%S", &tm);
}

void flush_log(void) {
    if (tsdk.log_file) fflush(tsdk.log_file);
}

// Hands one 256-sample frame to the engine and reports what it found. Returns 0
// when the frame could not be classified (the application then stops).
int Process_Frame(const int16_t *frame) {
    (void)frame;  // classification, level publication and event reporting go here
    return 1;
}

void Run_Audio_Loop(void) {
    for (;;) {
        if (stop.load(std::memory_order_relaxed)) break;
        if (config_change.load(std::memory_order_relaxed) == 1) {
            config_change.store(0, std::memory_order_relaxed);
            tsdk_log(APP_PREFIX "Handle Configuration Change\n");
            Update_ZU_Configurations();
        }
        tsdk_aperiod *period = tsdk_get_aperiod(actxt);
        if (!period) {
            tsdk_log(APP_PREFIX "ERROR: %s\n", tsdk_strerr());
            // No period means no per-period flush: without this a stalled source
            // would keep its reason in the stream buffer for as long as it lasts.
            flush_log();
            sleep(1);  // interrupted early by a signal, which the next pass serves
            continue;
        }
        const int16_t *samples = tsdk_aperiod_ptr(period);
        size_t bytes = tsdk_aperiod_size(period);
        if (bytes == 0) {
            printf("period_sz is less than equal to 0 ");
            fflush(stdout);
            tsdk_log(APP_PREFIX "period_sz is less than equal to 0 \n");
            if (tsdk_free_aperiod(period) != 0) tsdk_log(APP_PREFIX "ERROR: %s\n", tsdk_strerr());
            continue;
        }
        if (AppContext.enable_audio_recording == 1) Record_Audio_Period(samples, bytes);

        // Whole frames only; a remainder shorter than a frame is dropped.
        size_t frame_samples = (size_t)AppContext.frame_length;
        size_t frames = bytes / (2 * frame_samples);
        for (size_t i = 0; i < frames; i++) {
            if (!Process_Frame(samples + i * frame_samples)) {
                stop.store(1, std::memory_order_relaxed);
                break;
            }
        }
        if (tsdk_free_aperiod(period) != 0) tsdk_log(APP_PREFIX "ERROR: %s\n", tsdk_strerr());
        flush_log();
    }
    tsdk_log(APP_PREFIX "Stopped reading audio data from server \n");
    if (AppContext.dump_fd != 0) close(AppContext.dump_fd);
}

// Every start-up step from the SDK on; false at the first that fails.
bool Start_Application(void) {
    if (tsdk_init(&settings) != 0) {
        tsdk_errlog(APP_PREFIX "Tarvik SDK initialization failed.\n");
        return false;
    }
    tsdk_log(APP_PREFIX "SDK Initilization Complete \n");
    // The engine instance, sensitivity scale and soundpacks are brought up
    // around the logging switch once the engine is part of the program.
    if (!Parse_ZU_Configuration() || !Initialize_AudioSDK() || !Enable_ZU_Logging()) return false;
    ChangeAGCState(AppContext.enable_agc);
    SetAudioVolumeGain(AppContext.volume_gain, AppContext.enable_agc);
    if (!Initilize_websockets()) {
        tsdk_log(APP_PREFIX "Error creating thread for Audio Level .... Moving forward ...");
    }
    char when[64];
    format_utc_now(when, sizeof when);
    tsdk_log(APP_PREFIX "---------- STARTING SONIVALE APPLICATION ON TIME %s ----------\n", when);
    flush_log();
    return true;
}

void Shutdown_Application(void) {
    free(payload_buffer);
    payload_buffer = nullptr;
    // The microphone is always left with AGC on at hardware volume 50.
    ChangeAGCState(1);
    SetAudioVolumeGain(100, 1);
    if (tsdk_audio_deinit(actxt) != 0) {
        tsdk_errlog(APP_PREFIX "ERROR: tsdk_audio_deinit() failed: %s\n", tsdk_strerr());
    } else {
        tsdk_log(APP_PREFIX "tsdk_audio_deinit done \n");
    }
    actxt = nullptr;
    // The stop signal also set force_exit_webserver, so the thread ends within
    // one service pass.
    Join_websockets();
    char pid_path[APP_PATH_SIZE];
    App_Html_Path(pid_path, "apppid");
    remove(pid_path);
    tsdk_log(APP_PREFIX "Audio Level Thread Exited successfully\n");
    tsdk_log(APP_PREFIX "Sonivale App exiting............................. \n");
    flush_log();
    tsdk_deinit(&settings);
}

}  // namespace

void signal_handler(int sig) {
    if (sig == SIGUSR1) {
        config_change.store(1, std::memory_order_relaxed);
    } else {
        stop.store(1, std::memory_order_relaxed);
        force_exit_webserver.store(1, std::memory_order_relaxed);
    }
}

void DumpPidOfProcess(void) {
    char path[APP_PATH_SIZE];
    App_Html_Path(path, "apppid");
    remove(path);
    FILE *f = fopen(path, "w");
    if (!f) return;
    fprintf(f, "%d", (int)getpid());
    fclose(f);
}

int main(void) {
    // Every path and command is built from the home directory: without a usable
    // one nothing can start.
    if (!App_Home_Is_Usable()) return 1;

    printf("Starting sonivale. check /var/log/sonivale.log for details\n");
    fflush(stdout);
    payload_buffer = (char *)malloc(kPayloadSize);
    if (!payload_buffer) {
        tsdk_errlog(APP_PREFIX "Error Allocating memory for app_xml_data \n");
        return -1;
    }
    memset(&sigact, 0, sizeof sigact);
    sigact.sa_handler = signal_handler;
    sigemptyset(&sigact.sa_mask);
    sigact.sa_flags = 0;  // no SA_RESTART: a signal cuts the loop's back-off sleep short
    sigaction(SIGTERM, &sigact, nullptr);
    sigaction(SIGINT, &sigact, nullptr);
    sigaction(SIGUSR1, &sigact, nullptr);
    sigaction(SIGABRT, &sigact, nullptr);

    Set_AppContext_Defaults();
    settings.app_name = app_build.app_name;
    settings.vendor_name = "Tarvik Systems";
    settings.api_level = 3;
    settings.flags = 0;
    settings.log_path = app_build.log_path;
    settings.log_path2 = app_build.log_path;

    previousDebugModeValue = 0;
    config_change.store(0, std::memory_order_relaxed);
    DumpPidOfProcess();

    if (Start_Application()) Run_Audio_Loop();
    Shutdown_Application();
    return 0;
}
