// Runs the audio-level service for the browser test, with a level set from
// standard input.
//   web_level_server HTML_DIR
// The SDK is not started, so the service's log lines go to standard error.
// Prints "ready" once port 7681 accepts connections. Each input line is either
// a whole number (the new audioLevel) or "quit"; "quit" or the end of input sets
// the stop flag, joins the service thread and exits 0.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio_level_service.h"

static bool port_accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s HTML_DIR\n", argv[0]);
        return 2;
    }
    resource_path = argv[1];
    audioLevel.store(-90, std::memory_order_relaxed);
    if (!Initilize_websockets()) return 1;
    fputc('\n', stdout);

    bool ready = false;
    for (int i = 0; i < 500 && !ready; i++) {
        ready = port_accepts(WEB_SERVICE_PORT);
        if (!ready) usleep(10000);
    }
    if (!ready) {
        fprintf(stderr, "service did not start listening on port %d\n", WEB_SERVICE_PORT);
        force_exit_webserver.store(1, std::memory_order_relaxed);
        Join_websockets();
        return 1;
    }
    printf("ready\n");
    fflush(stdout);

    char line[64];
    while (fgets(line, sizeof line, stdin)) {
        if (strncmp(line, "quit", 4) == 0) break;
        char *end = nullptr;
        const long level = strtol(line, &end, 10);
        if (end == line) {
            fprintf(stderr, "not a level: %s", line);
            continue;
        }
        audioLevel.store(static_cast<int32_t>(level), std::memory_order_relaxed);
        printf("level %ld\n", level);
        fflush(stdout);
    }
    force_exit_webserver.store(1, std::memory_order_relaxed);
    Join_websockets();
    printf("stopped\n");
    return 0;
}
