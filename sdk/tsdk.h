/* Camera platform SDK: the operations and records the application uses.
 *
 * This is the host implementation: it runs the application on an ordinary Linux
 * machine, with audio from a file or standard input, the log in a file, and
 * camera events appended to a JSON-lines file. Environment:
 *   TSDK_LOG           log path (default: the log path of tsdk_settings); "-" = stderr
 *   TSDK_AUDIO         audio source: a file libsndfile reads, or "-" for raw S16_LE
 *                      16 kHz mono on standard input
 *   TSDK_PERIOD_BYTES  bytes per audio period (default 2048; any value, 0 included)
 *   TSDK_REALTIME      1 (default): pace periods at the audio's real rate; 0: no pacing
 *   TSDK_AT_END        stop (default): SIGTERM to the process; loop: restart the
 *                      source; wait: no period, for ever
 *   TSDK_EVENTS        events file (default: the log path plus ".events")
 *   TSDK_FAIL          comma-separated operations that fail: init, audio_init,
 *                      get_aperiod, free_aperiod, event_send, audio_deinit
 */
#ifndef TSDK_H
#define TSDK_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Start-up record, filled by the application before tsdk_init. */
typedef struct tsdk_settings {
    const char *app_name;
    const char *vendor_name;
    int32_t api_level; /* the application passes 3 */
    uint8_t flags;     /* the application passes 0 */
    const char *log_path;
    const char *log_path2;
} tsdk_settings;

/* SDK state the application may read: only log_file, which it flushes. */
typedef struct tsdk_state {
    FILE *log_file;
} tsdk_state;

extern tsdk_state tsdk;

typedef struct tsdk_audio_ctx tsdk_audio_ctx;
typedef struct tsdk_aperiod tsdk_aperiod;

int tsdk_init(tsdk_settings *settings);   /* 0 on success */
int tsdk_deinit(tsdk_settings *settings); /* 0 on success */

/* printf-style lines to the log; safe from several threads (one line at a time). */
void tsdk_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
/* The same, also copied to standard error. */
void tsdk_errlog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* Text of the calling thread's last SDK error. */
const char *tsdk_strerr(void);

tsdk_audio_ctx *tsdk_audio_init(void);               /* null on failure */
int tsdk_audio_deinit(tsdk_audio_ctx *ctx);          /* 0 on success */
tsdk_aperiod *tsdk_get_aperiod(tsdk_audio_ctx *ctx); /* null when no period */
const int16_t *tsdk_aperiod_ptr(const tsdk_aperiod *period);
size_t tsdk_aperiod_size(const tsdk_aperiod *period); /* bytes of sample data */
int tsdk_free_aperiod(tsdk_aperiod *period);          /* 0 on success */

/* Raises a camera event with the payload's first length bytes; 0 on success. */
int tsdk_event_send(const char *payload, int flags, size_t length);

#ifdef __cplusplus
}
#endif

#endif /* TSDK_H */
