// Host implementation of the camera platform SDK (see tsdk.h for the environment).
//
// The log is shared by the main thread and the audio-level thread, so each line is
// formatted first and written under the SDK's own lock. Audio comes either from a
// file, decoded whole into memory (clips are short), or from a stream on standard
// input read period by period.
#include "tsdk.h"

#include <cJSON.h>
#include <errno.h>
#include <pthread.h>
#include <samplerate.h>
#include <signal.h>
#include <sndfile.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

tsdk_state tsdk = {nullptr};

namespace {

constexpr int kRate = 16000;                  // Hz, the platform's capture rate
constexpr size_t kDefaultPeriodBytes = 2048;  // 1024 samples = 64 ms

enum at_end_mode { AT_END_STOP, AT_END_LOOP, AT_END_WAIT };

pthread_mutex_t log_lock = PTHREAD_MUTEX_INITIALIZER;
bool log_is_stderr = false;
char events_path[512];

thread_local char last_error[256] = "no error";

void set_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void set_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(last_error, sizeof last_error, fmt, ap);
    va_end(ap);
}

// True when TSDK_FAIL lists op (an exact name between commas).
bool injected_failure(const char *op) {
    const char *list = getenv("TSDK_FAIL");
    if (!list) return false;
    size_t n = strlen(op);
    for (const char *p = list; *p;) {
        const char *end = strchr(p, ',');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len == n && strncmp(p, op, n) == 0) return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

void write_line(FILE *f, const char *text) {
    if (!f) return;
    fputs(text, f);
}

void log_v(bool error, const char *fmt, va_list ap) {
    char stack_buf[1024];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(stack_buf, sizeof stack_buf, fmt, copy);
    va_end(copy);
    char *text = stack_buf;
    if (n >= (int)sizeof stack_buf) {  // a long line is kept whole, not cut
        text = (char *)malloc((size_t)n + 1);
        if (!text) {
            text = stack_buf;
        } else {
            vsnprintf(text, (size_t)n + 1, fmt, ap);
        }
    }
    if (n < 0) text[0] = '\0';
    pthread_mutex_lock(&log_lock);
    if (tsdk.log_file) {
        write_line(tsdk.log_file, text);
        if (error && !log_is_stderr) write_line(stderr, text);
    } else {
        write_line(stderr, text);  // before tsdk_init or after tsdk_deinit
    }
    pthread_mutex_unlock(&log_lock);
    if (text != stack_buf) free(text);
}

}  // namespace

extern "C" {

int tsdk_init(tsdk_settings *settings) {
    if (!settings || !settings->log_path) {
        set_error("tsdk_init: no settings or no log path");
        return -1;
    }
    if (injected_failure("init")) {
        set_error("tsdk_init: failure injected by TSDK_FAIL");
        return -1;
    }
    const char *path = getenv("TSDK_LOG");
    if (!path || !*path) path = settings->log_path;
    FILE *f;
    if (strcmp(path, "-") == 0) {
        f = stderr;
        log_is_stderr = true;
    } else {
        f = fopen(path, "a");
        if (!f) {
            set_error("cannot open log file %s: %s", path, strerror(errno));
            return -1;
        }
        log_is_stderr = false;
    }
    const char *ev = getenv("TSDK_EVENTS");
    if (ev && *ev) {
        snprintf(events_path, sizeof events_path, "%s", ev);
    } else {
        snprintf(events_path, sizeof events_path, "%s.events",
                 log_is_stderr ? settings->log_path : path);
    }
    pthread_mutex_lock(&log_lock);
    tsdk.log_file = f;
    pthread_mutex_unlock(&log_lock);
    return 0;
}

int tsdk_deinit(tsdk_settings *settings) {
    (void)settings;
    pthread_mutex_lock(&log_lock);
    FILE *f = tsdk.log_file;
    tsdk.log_file = nullptr;
    pthread_mutex_unlock(&log_lock);
    if (!f) return 0;
    if (f == stderr) return fflush(f) == 0 ? 0 : -1;
    return fclose(f) == 0 ? 0 : -1;
}

void tsdk_log(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    log_v(false, fmt, ap);
    va_end(ap);
}

void tsdk_errlog(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    log_v(true, fmt, ap);
    va_end(ap);
}

const char *tsdk_strerr(void) {
    return last_error;
}

}  // extern "C"

// ---------------------------------------------------------------------------
// Audio capture

struct tsdk_aperiod {
    int16_t *samples;  // period_bytes of storage, 2-byte aligned (odd sizes rounded up)
    size_t size;       // bytes of sample data in this period
    bool taken;        // handed out and not yet released
};

struct tsdk_audio_ctx {
    // Source: whole decoded clip in memory, or a stream on standard input.
    uint8_t *clip;  // S16 mono 16 kHz little-endian bytes (file source)
    size_t clip_bytes;
    size_t pos;  // next byte of the clip
    bool from_stdin;
    bool at_end;  // the source is exhausted (stop and wait modes)
    at_end_mode end_mode;
    size_t period_bytes;
    bool realtime;
    struct timespec due;  // CLOCK_MONOTONIC time at which the next period may be handed out
    tsdk_aperiod period;
};

namespace {

// Decodes an audio file to 16 kHz mono S16: down-mix by averaging the channels,
// resample with libsamplerate when the rate differs. 16 kHz mono files are read
// as integers so that their samples arrive bit-exact.
bool load_clip(const char *path, tsdk_audio_ctx *ctx) {
    SF_INFO info = {};
    SNDFILE *f = sf_open(path, SFM_READ, &info);
    if (!f) {
        set_error("cannot read audio file %s: %s", path, sf_strerror(nullptr));
        return false;
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        sf_close(f);
        set_error("audio file %s holds no samples", path);
        return false;
    }
    size_t frames = (size_t)info.frames;
    int16_t *out = nullptr;
    size_t out_n = 0;
    if (info.channels == 1 && info.samplerate == kRate) {
        out = (int16_t *)malloc(frames * sizeof(int16_t));
        if (out) out_n = (size_t)sf_readf_short(f, out, (sf_count_t)frames);
    } else {
        size_t ch = (size_t)info.channels;
        float *inter = (float *)malloc(frames * ch * sizeof(float));
        float *mono = (float *)malloc(frames * sizeof(float));
        size_t got = 0;
        if (inter && mono) {
            got = (size_t)sf_readf_float(f, inter, (sf_count_t)frames);
            for (size_t i = 0; i < got; i++) {
                float acc = 0.0f;
                for (size_t c = 0; c < ch; c++) acc += inter[i * ch + c];
                mono[i] = acc / (float)ch;
            }
        }
        free(inter);
        float *res = mono;
        size_t res_n = got;
        if (mono && info.samplerate != kRate) {
            double ratio = (double)kRate / info.samplerate;
            size_t cap = (size_t)((double)got * ratio) + 16;
            res = (float *)malloc(cap * sizeof(float));
            SRC_DATA d = {};
            d.data_in = mono;
            d.input_frames = (long)got;
            d.data_out = res;
            d.output_frames = (long)cap;
            d.src_ratio = ratio;
            int err = res ? src_simple(&d, SRC_SINC_MEDIUM_QUALITY, 1) : 0;
            if (!res || err) {
                sf_close(f);
                free(mono);
                free(res);
                set_error("cannot resample %s to %d Hz: %s", path, kRate,
                          err ? src_strerror(err) : "out of memory");
                return false;
            }
            res_n = (size_t)d.output_frames_gen;
            free(mono);
        }
        if (res) {
            out = (int16_t *)malloc((res_n ? res_n : 1) * sizeof(int16_t));
            if (out) {
                src_float_to_short_array(res, out, (int)res_n);
                out_n = res_n;
            }
        }
        free(res);
    }
    sf_close(f);
    if (!out) {
        set_error("out of memory decoding %s", path);
        return false;
    }
    // Hand periods out as the little-endian byte image the platform delivers.
    ctx->clip = (uint8_t *)malloc(out_n * 2 + 1);
    if (!ctx->clip) {
        free(out);
        set_error("out of memory decoding %s", path);
        return false;
    }
    for (size_t i = 0; i < out_n; i++) {
        uint16_t u = (uint16_t)out[i];
        ctx->clip[2 * i] = (uint8_t)(u & 0xFF);
        ctx->clip[2 * i + 1] = (uint8_t)(u >> 8);
    }
    ctx->clip_bytes = out_n * 2;
    free(out);
    return true;
}

bool parse_env_size(const char *name, size_t fallback, size_t *out) {
    const char *v = getenv(name);
    if (!v || !*v) {
        *out = fallback;
        return true;
    }
    char *end = nullptr;
    errno = 0;
    unsigned long long x = strtoull(v, &end, 10);
    if (errno || *end || v[0] == '-' || x > (1ull << 24)) {
        set_error("%s=%s is not a byte count (0 to 16777216)", name, v);
        return false;
    }
    *out = (size_t)x;
    return true;
}

void timespec_add_ns(struct timespec *t, long long ns) {
    long long total = (long long)t->tv_nsec + ns;
    t->tv_sec += (time_t)(total / 1000000000LL);
    t->tv_nsec = (long)(total % 1000000000LL);
}

// Fills up to want bytes from the source; returns the count (less only at the end).
size_t read_source(tsdk_audio_ctx *ctx, uint8_t *dst, size_t want) {
    size_t got = 0;
    while (got < want) {
        if (ctx->from_stdin) {
            ssize_t r = read(STDIN_FILENO, dst + got, want - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += (size_t)r;
        } else {
            size_t left = ctx->clip_bytes - ctx->pos;
            if (left == 0) {
                if (ctx->end_mode != AT_END_LOOP || ctx->clip_bytes == 0) break;
                ctx->pos = 0;  // loop: the source starts again without a gap
                continue;
            }
            size_t n = want - got < left ? want - got : left;
            memcpy(dst + got, ctx->clip + ctx->pos, n);
            ctx->pos += n;
            got += n;
        }
    }
    return got;
}

}  // namespace

extern "C" {

tsdk_audio_ctx *tsdk_audio_init(void) {
    if (injected_failure("audio_init")) {
        set_error("tsdk_audio_init: failure injected by TSDK_FAIL");
        return nullptr;
    }
    const char *src = getenv("TSDK_AUDIO");
    if (!src || !*src) {
        set_error(
            "no audio source: set TSDK_AUDIO to an audio file, or to - for raw S16_LE 16 kHz mono "
            "on standard input");
        return nullptr;
    }
    tsdk_audio_ctx *ctx = (tsdk_audio_ctx *)calloc(1, sizeof *ctx);
    if (!ctx) {
        set_error("out of memory");
        return nullptr;
    }
    const char *mode = getenv("TSDK_AT_END");
    if (!mode || !*mode || strcmp(mode, "stop") == 0) {
        ctx->end_mode = AT_END_STOP;
    } else if (strcmp(mode, "loop") == 0) {
        ctx->end_mode = AT_END_LOOP;
    } else if (strcmp(mode, "wait") == 0) {
        ctx->end_mode = AT_END_WAIT;
    } else {
        set_error("TSDK_AT_END=%s: expected stop, loop or wait", mode);
        free(ctx);
        return nullptr;
    }
    const char *rt = getenv("TSDK_REALTIME");
    ctx->realtime = !(rt && strcmp(rt, "0") == 0);
    if (!parse_env_size("TSDK_PERIOD_BYTES", kDefaultPeriodBytes, &ctx->period_bytes)) {
        free(ctx);
        return nullptr;
    }
    if (strcmp(src, "-") == 0) {
        ctx->from_stdin = true;
        if (ctx->end_mode == AT_END_LOOP) ctx->end_mode = AT_END_STOP;  // a stream cannot restart
    } else if (!load_clip(src, ctx)) {
        free(ctx);
        return nullptr;
    }
    // Storage rounded up to whole samples so the pointer stays 2-byte aligned.
    ctx->period.samples = (int16_t *)malloc(ctx->period_bytes / 2 * 2 + 2);
    if (!ctx->period.samples) {
        free(ctx->clip);
        free(ctx);
        set_error("out of memory");
        return nullptr;
    }
    clock_gettime(CLOCK_MONOTONIC, &ctx->due);
    return ctx;
}

int tsdk_audio_deinit(tsdk_audio_ctx *ctx) {
    if (!ctx) {
        set_error("tsdk_audio_deinit: no audio context");
        return -1;
    }
    free(ctx->period.samples);
    free(ctx->clip);
    free(ctx);
    if (injected_failure("audio_deinit")) {
        set_error("tsdk_audio_deinit: failure injected by TSDK_FAIL");
        return -1;
    }
    return 0;
}

tsdk_aperiod *tsdk_get_aperiod(tsdk_audio_ctx *ctx) {
    if (!ctx) {
        set_error("tsdk_get_aperiod: no audio context");
        return nullptr;
    }
    if (injected_failure("get_aperiod")) {
        set_error("tsdk_get_aperiod: failure injected by TSDK_FAIL");
        return nullptr;
    }
    if (ctx->period.taken) {
        set_error("tsdk_get_aperiod: the previous period has not been released");
        return nullptr;
    }
    if (ctx->at_end) {
        set_error("end of audio source");
        return nullptr;
    }
    size_t got = read_source(ctx, (uint8_t *)ctx->period.samples, ctx->period_bytes);
    if (got == 0 && ctx->period_bytes > 0) {
        ctx->at_end = true;
        set_error("end of audio source");
        if (ctx->end_mode == AT_END_STOP) kill(getpid(), SIGTERM);  // as the platform stops an app
        return nullptr;
    }
    // Pacing: a period stands for its duration at 16 kHz mono S16; an empty
    // period stands for 1 ms so that a source of empty periods cannot spin.
    long long ns = got ? (long long)got * 1000000000LL / (2 * kRate) : 1000000LL;
    if (ctx->realtime || got == 0) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > ctx->due.tv_sec + 1) ctx->due = now;  // after a stall, don't burst
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ctx->due, nullptr) == EINTR) {
        }
        timespec_add_ns(&ctx->due, ns);
    }
    ctx->period.size = got;
    ctx->period.taken = true;
    return &ctx->period;
}

const int16_t *tsdk_aperiod_ptr(const tsdk_aperiod *period) {
    return period ? period->samples : nullptr;
}

size_t tsdk_aperiod_size(const tsdk_aperiod *period) {
    return period ? period->size : 0;
}

int tsdk_free_aperiod(tsdk_aperiod *period) {
    if (!period || !period->taken) {
        set_error("tsdk_free_aperiod: period not taken or released twice");
        return -1;
    }
    period->taken = false;
    if (injected_failure("free_aperiod")) {
        set_error("tsdk_free_aperiod: failure injected by TSDK_FAIL");
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Camera events: one JSON object per line, {"time": ISO-8601 UTC, "payload": text}.

int tsdk_event_send(const char *payload, int flags, size_t length) {
    (void)flags;
    if (injected_failure("event_send")) {
        set_error("tsdk_event_send: failure injected by TSDK_FAIL");
        return -1;
    }
    if (!payload) {
        set_error("tsdk_event_send: no payload");
        return -1;
    }
    char *text = (char *)malloc(length + 1);
    if (!text) {
        set_error("tsdk_event_send: out of memory");
        return -1;
    }
    memcpy(text, payload, length);
    text[length] = '\0';

    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    gmtime_r(&tv.tv_sec, &tm);
    char when[40], stamp[48];
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    snprintf(stamp, sizeof stamp, "%s.%03dZ", when, (int)(tv.tv_usec / 1000));

    cJSON *obj = cJSON_CreateObject();
    char *line = nullptr;
    if (obj && cJSON_AddStringToObject(obj, "time", stamp) &&
        cJSON_AddStringToObject(obj, "payload", text)) {
        line = cJSON_PrintUnformatted(obj);
    }
    cJSON_Delete(obj);
    free(text);
    if (!line) {
        set_error("tsdk_event_send: out of memory");
        return -1;
    }
    int rc = 0;
    FILE *f = fopen(events_path[0] ? events_path : "tsdk.events", "a");
    if (!f || fprintf(f, "%s\n", line) < 0) {
        set_error("cannot write events file %s: %s", events_path, strerror(errno));
        rc = -1;
    }
    if (f && fclose(f) != 0) rc = -1;
    cJSON_free(line);
    return rc;
}

}  // extern "C"
