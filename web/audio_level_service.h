/* Audio-level web service: a thread running a small HTTP and WebSocket server
 * (libwebsockets) on TCP port 7681. It serves the operator page and a few static
 * files, and pushes the current audio level as text to every client of the
 * "audio-level-reporter" protocol.
 *
 * Use from the application:
 *   start-up:  if (!Initilize_websockets()) log and go on without the service;
 *   main loop: audioLevel.store(level_db, std::memory_order_relaxed);
 *   signals:   force_exit_webserver.store(1, std::memory_order_relaxed);
 *   shutdown:  Join_websockets();   (joins only a thread that was started)
 */
#ifndef SONIVALE_AUDIO_LEVEL_SERVICE_H
#define SONIVALE_AUDIO_LEVEL_SERVICE_H

#include <libwebsockets.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

/* Words shared with the main thread and the signal handler. Lock-free and
 * therefore async-signal-safe; relaxed loads and stores are enough because each
 * is a single independent value (a slightly stale level is acceptable). */
static_assert(std::atomic<int32_t>::is_always_lock_free, "shared words must be lock-free");
/* Latest audio level, whole dB (-90 silence .. 0 full scale); pushed as "%d". */
extern std::atomic<int32_t> audioLevel;
/* Non-zero ends the service at the top of its next pass. */
extern std::atomic<int32_t> force_exit_webserver;

/* The service thread; valid only after Initilize_websockets returned 1. */
extern pthread_t thread_id;

/* Directory of the served files, without a trailing slash. Defaults to the
 * build's SONIVALE_RESOURCE_PATH; tests may point it elsewhere before the thread
 * starts (the thread reads it, nobody writes it while the thread runs). */
extern const char *resource_path;

/* Port of the HTTP and WebSocket server. */
constexpr int WEB_SERVICE_PORT = 7681;

/* One served path with its MIME type. The last entry is the default for any
 * path that matches no other entry. */
struct web_whitelist_entry {
    const char *path;
    const char *mime;
};
constexpr size_t WEB_WHITELIST_COUNT = 3;
extern const web_whitelist_entry whitelist[WEB_WHITELIST_COUNT];

/* Protocol table handed to libwebsockets: "http-only", "audio-level-reporter",
 * terminator. */
extern const lws_protocols protocols[3];

/* Starts websocketServer on a new thread. Returns 1 when the thread was
 * created, 0 when thread creation failed (the application goes on without the
 * service). */
int Initilize_websockets(void);

/* Joins the service thread if Initilize_websockets started it and it has not
 * been joined yet. Returns 1 after a join, 0 when there was nothing to join.
 * The thread ends by itself once force_exit_webserver is set (within one 50 ms
 * service pass), so set the flag first. Main thread only. */
int Join_websockets(void);

/* The thread body (pthread signature): serves until force_exit_webserver is set
 * or the library's service call fails. */
void *websocketServer(void *unused);

/* libwebsockets protocol callbacks: 0 goes on, -1 closes the connection. */
int callback_http(struct lws *wsi, enum lws_callback_reasons reason, void *user, void *in,
                  size_t len);
int callback_audio_level_reporter(struct lws *wsi, enum lws_callback_reasons reason, void *user,
                                  void *in, size_t len);

#endif /* SONIVALE_AUDIO_LEVEL_SERVICE_H */
