/* Audio-level web service on libwebsockets 4.x (see audio_level_service.h). */
#include "audio_level_service.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "tsdk.h"

#ifndef SONIVALE_RESOURCE_PATH
#error "SONIVALE_RESOURCE_PATH must name the directory of the served files"
#endif

std::atomic<int32_t> audioLevel{-90};
std::atomic<int32_t> force_exit_webserver{0};
pthread_t thread_id;
const char *resource_path = SONIVALE_RESOURCE_PATH;

const web_whitelist_entry whitelist[WEB_WHITELIST_COUNT] = {
    {"/favicon.ico", "image/x-icon"},
    {"/sonivale-logo.png", "image/png"},
    {"/test.html", "text/html"},
};

const lws_protocols protocols[3] = {
    /* per-connection data: descriptor of the file being streamed; libwebsockets
     * zero-fills it, and 0 means none (a stream never uses descriptor 0) */
    {"http-only", callback_http, sizeof(int32_t), 0, 0, nullptr, 0},
    /* per-connection data: message counter, 0 when the connection opens */
    {"audio-level-reporter", callback_audio_level_reporter, sizeof(int32_t), 10, 0, nullptr, 0},
    {nullptr, nullptr, 0, 0, 0, nullptr, 0},
};

/* Service pass: lws_service ignores its timeout since libwebsockets 3.2, so a
 * timer of this period keeps each pass at most this long (ms). */
static constexpr int SERVICE_TIMEOUT_MS = 50;
/* A push is due when more than this has passed since the last one (us). */
static constexpr uint32_t PUSH_INTERVAL_US = 16000;
/* "/leaf.jpg" goes out in pieces of at most this many bytes. */
static constexpr size_t STREAM_PIECE_BYTES = 4096;
/* "%s/leaf.jpg" with a resource_path up to this length fits FILE_PATH_BYTES. */
static constexpr size_t RESOURCE_PATH_MAX = 1014;
static constexpr size_t FILE_PATH_BYTES = 1024;
/* Longest request-header value printed when a WebSocket client connects. */
static constexpr size_t HEADER_VALUE_MAX = 256;

/* Main thread only: whether thread_id holds a thread still to be joined. */
static bool thread_started;

/* Service thread only. lws_write needs LWS_PRE writable bytes before the data. */
static unsigned char stream_buffer[LWS_PRE + STREAM_PIECE_BYTES];
static lws_context *service_context;
static lws_sorted_usec_list_t service_tick;

/* Request headers printed for a WebSocket client, under their historical
 * names. The multiplexing URL header of older libraries no longer exists. */
struct header_name {
    lws_token_indexes token;
    const char *name;
};
static const header_name header_names[] = {
    {WSI_TOKEN_GET_URI, "GET URI"},
    {WSI_TOKEN_HOST, "Host"},
    {WSI_TOKEN_CONNECTION, "Connection"},
    {WSI_TOKEN_KEY1, "key 1"},
    {WSI_TOKEN_KEY2, "key 2"},
    {WSI_TOKEN_PROTOCOL, "Protocol"},
    {WSI_TOKEN_UPGRADE, "Upgrade"},
    {WSI_TOKEN_ORIGIN, "Origin"},
    {WSI_TOKEN_DRAFT, "Draft"},
    {WSI_TOKEN_CHALLENGE, "Challenge"},
    {WSI_TOKEN_KEY, "Key"},
    {WSI_TOKEN_VERSION, "Version"},
    {WSI_TOKEN_SWORIGIN, "Sworigin"},
    {WSI_TOKEN_EXTENSIONS, "Extensions"},
    {WSI_TOKEN_ACCEPT, "Accept"},
    {WSI_TOKEN_NONCE, "Nonce"},
    {WSI_TOKEN_HTTP, "Http"},
};

static bool stop_requested(void) {
    return force_exit_webserver.load(std::memory_order_relaxed) != 0;
}

static void dump_request_headers(struct lws *wsi) {
    /* Header storage of a connection is at most 4096 bytes by default, so a
     * value always fits; only its first HEADER_VALUE_MAX bytes are printed. */
    char value[4096];
    for (const header_name &h : header_names) {
        if (lws_hdr_total_length(wsi, h.token) <= 0) continue;
        if (lws_hdr_copy(wsi, value, (int)sizeof value, h.token) < 0) continue;
        fprintf(stderr, "    %s = %.*s\n", h.name, (int)HEADER_VALUE_MAX, value);
    }
}

int callback_audio_level_reporter(struct lws *wsi, enum lws_callback_reasons reason, void *user,
                                  void *in, size_t len) {
    int32_t *counter = static_cast<int32_t *>(user);
    switch (reason) {
        case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
            dump_request_headers(wsi);
            return 0;

        case LWS_CALLBACK_ESTABLISHED:
            tsdk_log("[Tarvik:sonivale] -- CONNECTION_ESTABLISHED\n");
            if (counter) *counter = 0;
            if (stop_requested()) {
                printf("LWS_CALLBACK_ESTABLISHED exiting ------------");
                return -1;
            }
            return 0;

        case LWS_CALLBACK_SERVER_WRITEABLE: {
            /* "-2147483648" is the longest text an int32 gives: 11 characters. */
            unsigned char message[LWS_PRE + 16];
            char *text = reinterpret_cast<char *>(message + LWS_PRE);
            const int n = snprintf(text, sizeof message - LWS_PRE, "%d",
                                   (int)audioLevel.load(std::memory_order_relaxed));
            const int written = lws_write(wsi, message + LWS_PRE, (size_t)n, LWS_WRITE_TEXT);
            if (written < n) {
                lwsl_err("ERROR %d writing to di socket\n", n);
                return -1;
            }
            return stop_requested() ? -1 : 0;
        }

        case LWS_CALLBACK_RECEIVE:
            /* Messages change nothing in the service. */
            if (len < 6) return 0;
            if (counter && len == 6 && in && memcmp(in, "reset\n", 6) == 0) *counter = 0;
            return stop_requested() ? -1 : 0;

        case LWS_CALLBACK_CLOSED:
            tsdk_log("[Tarvik:sonivale] -- CONNECTION_CLOSED --\n");
            return -1;

        default:
            return 0;
    }
}

/* Closes the streamed file of this connection and returns -1 (close it too). */
static int end_stream(int32_t *fd) {
    close(*fd);
    *fd = 0;
    return -1;
}

static int start_leaf_stream(struct lws *wsi, int32_t *fd) {
    char path[FILE_PATH_BYTES];
    if (strlen(resource_path) > RESOURCE_PATH_MAX) return -1;
    snprintf(path, sizeof path, "%s/leaf.jpg", resource_path);

    int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file == 0) {
        /* Standard input was closed. Move the file off descriptor 0, which the
         * zero-filled per-connection data reserves for "no file". */
        const int moved = fcntl(file, F_DUPFD_CLOEXEC, 1);
        close(file);
        file = moved;
    }
    if (file < 0) return -1;
    *fd = file;
    struct stat st;
    if (fstat(*fd, &st) != 0 || st.st_size < 0 || (unsigned long long)st.st_size > UINT_MAX)
        return end_stream(fd);

    char *header = reinterpret_cast<char *>(stream_buffer + LWS_PRE);
    const int n = snprintf(header, STREAM_PIECE_BYTES,
                           "HTTP/1.0 200 OK\r\n"
                           "Server: libwebsockets\r\n"
                           "Content-Type: image/jpeg\r\n"
                           "Content-Length: %u\r\n\r\n",
                           (unsigned)st.st_size);
    if (lws_write(wsi, stream_buffer + LWS_PRE, (size_t)n, LWS_WRITE_HTTP) < 0)
        return end_stream(fd);
    lws_callback_on_writable(wsi);
    return 0;
}

static int continue_leaf_stream(struct lws *wsi, int32_t *fd) {
    do {
        const ssize_t got = read(*fd, stream_buffer + LWS_PRE, STREAM_PIECE_BYTES);
        if (got <= 0) return end_stream(fd); /* end of file or read error */
        const int sent = lws_write(wsi, stream_buffer + LWS_PRE, (size_t)got, LWS_WRITE_HTTP);
        if (sent < 0) return end_stream(fd);
        if (sent < got) lseek(*fd, (off_t)sent - (off_t)got, SEEK_CUR);
    } while (!lws_send_pipe_choked(wsi));
    lws_callback_on_writable(wsi);
    return 0;
}

int callback_http(struct lws *wsi, enum lws_callback_reasons reason, void *user, void *in,
                  size_t len) {
    (void)len;
    int32_t *fd = static_cast<int32_t *>(user);
    switch (reason) {
        case LWS_CALLBACK_HTTP: {
            const char *uri = static_cast<const char *>(in);
            if (!fd) return -1;
            if (uri && strcmp(uri, "/leaf.jpg") == 0) return start_leaf_stream(wsi, fd);

            const web_whitelist_entry *entry = &whitelist[WEB_WHITELIST_COUNT - 1];
            for (size_t i = 0; uri && i + 1 < WEB_WHITELIST_COUNT; i++) {
                if (strcmp(uri, whitelist[i].path) == 0) {
                    entry = &whitelist[i];
                    break;
                }
            }
            char path[FILE_PATH_BYTES];
            const int n = snprintf(path, sizeof path, "%s%s", resource_path, entry->path);
            if (n < 0 || (size_t)n >= sizeof path) return -1;
            return lws_serve_http_file(wsi, path, entry->mime, nullptr, 0) ? -1 : 0;
        }

        case LWS_CALLBACK_HTTP_WRITEABLE:
            if (!fd || *fd <= 0) return 0;
            return continue_leaf_stream(wsi, fd);

        case LWS_CALLBACK_HTTP_FILE_COMPLETION:
            return -1; /* one file per connection */

        case LWS_CALLBACK_CLOSED_HTTP:
            /* A client that leaves in the middle of "/leaf.jpg" leaves its file open. */
            if (fd && *fd > 0) end_stream(fd);
            return 0;

        default:
            return 0;
    }
}

/* Wakes lws_service at least every SERVICE_TIMEOUT_MS so the loop sees the
 * stop flag and the push clock even when no client is connected. */
static void service_tick_cb(lws_sorted_usec_list_t *sul) {
    lws_sul_schedule(service_context, 0, sul, service_tick_cb,
                     (lws_usec_t)SERVICE_TIMEOUT_MS * LWS_US_PER_MS);
}

void *websocketServer(void *unused) {
    (void)unused;

    /* Signals go to the main thread, whose handler only stores flags. */
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    openlog("lwsts", LOG_PID | LOG_PERROR, LOG_DAEMON);
    setlogmask(LOG_UPTO(LOG_DEBUG));
    lws_set_log_level(LLL_ERR | LLL_WARN | LLL_NOTICE, lwsl_emit_syslog);
    lwsl_notice("audio-level service on libwebsockets %s\n", lws_get_library_version());

    lws_context_creation_info info;
    memset(&info, 0, sizeof info);
    info.port = WEB_SERVICE_PORT;
    info.iface = nullptr; /* all interfaces */
    info.protocols = protocols;
    info.extensions = nullptr;
    info.ssl_cert_filepath = nullptr; /* plain HTTP */
    info.ssl_private_key_filepath = nullptr;
    info.gid = -1;
    info.uid = -1;
    info.options = 0;

    service_context = lws_create_context(&info);
    if (!service_context) {
        lwsl_err("libwebsocket init failed\n");
        closelog();
        return nullptr;
    }
    memset(&service_tick, 0, sizeof service_tick);
    service_tick_cb(&service_tick);

    /* Microseconds field of the time of day at the last push; a push is due
     * when the unsigned 32-bit difference exceeds PUSH_INTERVAL_US (it wraps
     * when the second rolls over, which also pushes). */
    uint32_t last_push_us = 0;
    while (!stop_requested()) {
        struct timeval tv;
        gettimeofday(&tv, nullptr);
        const uint32_t now_us = (uint32_t)tv.tv_usec;
        if (now_us - last_push_us > PUSH_INTERVAL_US) {
            lws_callback_on_writable_all_protocol(service_context, &protocols[1]);
            last_push_us = now_us;
        }
        if (lws_service(service_context, SERVICE_TIMEOUT_MS) < 0) break;
    }

    lws_sul_cancel(&service_tick);
    lws_context_destroy(service_context);
    service_context = nullptr;
    lwsl_notice("libwebsockets-test-server exited cleanly\n");
    closelog();
    tsdk_log("[Tarvik:sonivale] Audio Level Indicator Thread Exiting ....\n");
    return nullptr;
}

int Initilize_websockets(void) {
    if (thread_started) return 1; /* one service thread per process */
    printf("Creating thread for Audio Level ");
    const int rc = pthread_create(&thread_id, nullptr, websocketServer, nullptr);
    if (rc != 0) {
        printf("\nCan't create thread :[%s]", strerror(rc));
        return 0;
    }
    printf("\n Thread created successfully");
    thread_started = true;
    return 1;
}

int Join_websockets(void) {
    if (!thread_started) return 0;
    pthread_join(thread_id, nullptr);
    thread_started = false;
    return 1;
}
