// The service thread when its server cannot start: another program holds the
// port. A separate program, because libwebsockets 4.1 leaks a few bytes of its
// own when context creation fails (suppressed for this program only).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "audio_level_service.h"
#include "log_capture.h"

namespace {

TEST(WebServiceStart, PortInUseEndsTheThreadWithoutService) {
    // Another listener holds the port: the context cannot be created.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    const int one = 1;  // connections of earlier tests may linger in TIME_WAIT
    setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(WEB_SERVICE_PORT);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0) << strerror(errno);
    ASSERT_EQ(listen(holder, 4), 0);

    force_exit_webserver.store(0, std::memory_order_relaxed);
    clear_log();
    ASSERT_EQ(Initilize_websockets(), 1);
    // The thread ends by itself, without the stop flag, and never reached the
    // service loop (whose end logs the exit line).
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Join_websockets(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_FALSE(logged("[Tarvik:sonivale] Audio Level Indicator Thread Exiting ....\n"));
    EXPECT_EQ(Join_websockets(), 0);
    close(holder);
}

}  // namespace
