// The audio-level service tested from outside: real HTTP and WebSocket clients
// on port 7681 against the running service thread.
#include <gtest/gtest.h>
#include <poll.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio_level_service.h"
#include "log_capture.h"
#include "web_client.h"
#include "test_support.h"

namespace {

using webtest::Clock;
using webtest::WsClient;
using ms = std::chrono::milliseconds;

const std::string kHtmlDir = SONIVALE_TEST_HTML_DIR;
// resource_path is constant-initialised, so this sees the build's default.
const char *const kDefaultResourcePath = resource_path;
const std::string kEstablished = "[Tarvik:sonivale] -- CONNECTION_ESTABLISHED\n";
const std::string kClosed = "[Tarvik:sonivale] -- CONNECTION_CLOSED --\n";
const std::string kExiting = "[Tarvik:sonivale] Audio Level Indicator Thread Exiting ....\n";

// One service pass lasts at most 50 ms; the rest covers destroying the
// context and closing its connections on a loaded (sanitizer) machine.
constexpr auto kOnePassBound = ms(50 + 200);

// A scratch directory removed at the end of the test.
struct TempDir : temp_dir {
    TempDir() : temp_dir("sonivale-web") {}
};

static void copy_file(const std::string &from, const std::string &to) {
    const std::string data = webtest::read_file(from);
    FILE *f = fopen(to.c_str(), "wb");
    ASSERT_NE(f, nullptr) << to;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

// Creates nested directories under base so that the result is exactly length characters long.
static std::string dir_of_length(const std::string &base, size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const size_t room = length - path.size() - 1;  // minus the '/'
        // Leave at least two characters for the last component.
        size_t part = room > 200 ? 200 : room;
        if (room > 200 && room - 200 < 2) part = 150;
        path += "/" + std::string(part, 'd');
        mkdir(path.c_str(), 0700);
    }
    return path;
}

class WebService : public ::testing::Test {
   protected:
    std::string served_dir_;

    void start(const std::string &dir) {
        clear_log();
        served_dir_ = dir;
        resource_path = served_dir_.c_str();
        force_exit_webserver.store(0, std::memory_order_relaxed);
        audioLevel.store(-90, std::memory_order_relaxed);
        ASSERT_EQ(Initilize_websockets(), 1);
        ASSERT_TRUE(webtest::wait_for_port(WEB_SERVICE_PORT, 5000)) << "service did not listen";
    }

    // Sets the stop flag and returns how long the thread took to end.
    ms stop() {
        const auto t0 = Clock::now();
        force_exit_webserver.store(1, std::memory_order_relaxed);
        Join_websockets();
        return std::chrono::duration_cast<ms>(Clock::now() - t0);
    }

    // Starts the SDK's log before anything counts descriptors.
    void SetUp() override { clear_log(); }

    void TearDown() override {
        stop();
        resource_path = kDefaultResourcePath;
    }
};

// ---- HTTP ---------------------------------------------------------------

struct HttpCase {
    const char *name;
    const char *path;  // request path
    const char *file;  // file expected in the body
    const char *mime;
};

void PrintTo(const HttpCase &c, std::ostream *os) {
    *os << c.name;
}

class HttpWhitelist : public WebService, public ::testing::WithParamInterface<HttpCase> {};

TEST_P(HttpWhitelist, ServesTheListedFileOrThePage) {
    const HttpCase &c = GetParam();
    start(kHtmlDir);
    const std::string expected = webtest::read_file(kHtmlDir + "/" + c.file);
    ASSERT_FALSE(expected.empty());

    const webtest::HttpResponse r = webtest::http_get(WEB_SERVICE_PORT, c.path);
    ASSERT_TRUE(r.complete) << c.path;
    EXPECT_NE(r.status_line.find(" 200 "), std::string::npos) << r.status_line;
    EXPECT_EQ(r.headers.count("content-type") ? r.headers.at("content-type") : "", c.mime);
    EXPECT_EQ(r.headers.count("content-length") ? r.headers.at("content-length") : "",
              std::to_string(expected.size()));
    EXPECT_TRUE(r.body == expected) << "body of " << c.path << " differs from " << c.file;
    EXPECT_TRUE(r.closed_by_server) << "one file per connection";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HttpWhitelist,
    ::testing::Values(HttpCase{"root", "/", "test.html", "text/html"},
                      HttpCase{"page", "/test.html", "test.html", "text/html"},
                      HttpCase{"unlisted", "/config/configparams.xml", "test.html", "text/html"},
                      HttpCase{"traversal", "/../../etc/passwd", "test.html", "text/html"},
                      HttpCase{"case_differs", "/FAVICON.ICO", "test.html", "text/html"},
                      HttpCase{"leaf_prefix", "/leaf.jpgx", "test.html", "text/html"},
                      HttpCase{"favicon", "/favicon.ico", "favicon.ico", "image/x-icon"},
                      HttpCase{"favicon_query", "/favicon.ico?v=2", "favicon.ico", "image/x-icon"},
                      HttpCase{"logo", "/sonivale-logo.png", "sonivale-logo.png", "image/png"}),
    [](const ::testing::TestParamInfo<HttpCase> &p) { return std::string(p.param.name); });

TEST_F(WebService, LeafIsStreamedWithItsExactLength) {
    start(kHtmlDir);
    const std::string expected = webtest::read_file(kHtmlDir + "/leaf.jpg");
    ASSERT_GT(expected.size(), 4096u) << "leaf.jpg must need more than one piece";

    webtest::HttpResponse r = webtest::http_get(WEB_SERVICE_PORT, "/leaf.jpg");
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.status_line, "HTTP/1.0 200 OK");
    EXPECT_EQ(r.headers.size(), 3u);
    EXPECT_EQ(r.headers["server"], "libwebsockets");
    EXPECT_EQ(r.headers["content-type"], "image/jpeg");
    EXPECT_EQ(r.headers["content-length"], std::to_string(expected.size()));
    EXPECT_EQ(r.body.size(), expected.size());
    EXPECT_TRUE(r.body == expected) << "streamed body differs from leaf.jpg";
    EXPECT_TRUE(r.closed_by_server);
}

TEST_F(WebService, LeafInALongButAllowedDirectoryIsServed) {
    TempDir tmp;
    const std::string dir = dir_of_length(tmp.path, 1014);
    ASSERT_EQ(dir.size(), 1014u);
    copy_file(kHtmlDir + "/leaf.jpg", dir + "/leaf.jpg");
    start(dir);
    const webtest::HttpResponse r = webtest::http_get(WEB_SERVICE_PORT, "/leaf.jpg");
    EXPECT_EQ(r.status_line, "HTTP/1.0 200 OK");
    EXPECT_TRUE(r.body == webtest::read_file(kHtmlDir + "/leaf.jpg"));
}

struct RefusedLeafCase {
    const char *name;
    size_t dir_length;  // 0: a short directory
    bool leaf_present;
};

void PrintTo(const RefusedLeafCase &c, std::ostream *os) {
    *os << c.name;
}

class LeafRefused : public WebService, public ::testing::WithParamInterface<RefusedLeafCase> {};

TEST_P(LeafRefused, ClosesTheConnectionWithoutAnswer) {
    const RefusedLeafCase &c = GetParam();
    TempDir tmp;
    const std::string dir = c.dir_length ? dir_of_length(tmp.path, c.dir_length) : tmp.path;
    if (c.leaf_present) copy_file(kHtmlDir + "/leaf.jpg", dir + "/leaf.jpg");
    copy_file(kHtmlDir + "/test.html", dir + "/test.html");
    start(dir);

    const webtest::HttpResponse r = webtest::http_get(WEB_SERVICE_PORT, "/leaf.jpg");
    EXPECT_EQ(r.bytes_received, 0u) << r.status_line;
    EXPECT_TRUE(r.closed_by_server);
    // The service is still there for the next request.
    const webtest::HttpResponse page = webtest::http_get(WEB_SERVICE_PORT, "/");
    if (c.dir_length == 0)
        EXPECT_NE(page.status_line.find(" 200 "), std::string::npos);
    else
        EXPECT_TRUE(page.closed_by_server);
}

INSTANTIATE_TEST_SUITE_P(Cases, LeafRefused,
                         ::testing::Values(RefusedLeafCase{"missing_file", 0, false},
                                           RefusedLeafCase{"directory_name_too_long", 1015, true}),
                         [](const ::testing::TestParamInfo<RefusedLeafCase> &p) {
                             return std::string(p.param.name);
                         });

static size_t open_descriptors() {
    size_t n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (d && readdir(d)) n++;
    if (d) closedir(d);
    return n;
}

// How a "/leaf.jpg" stream can end before the end of the file.
enum class StreamEnd { client_leaves, service_stops };

void PrintTo(StreamEnd e, std::ostream *os) {
    *os << (e == StreamEnd::client_leaves ? "client_leaves" : "service_stops");
}

class LeafInterrupted : public WebService, public ::testing::WithParamInterface<StreamEnd> {};

TEST_P(LeafInterrupted, ReleasesTheFile) {
    TempDir tmp;
    // Far more than the socket buffers hold, so the stream is still running.
    const std::string leaf = tmp.path + "/leaf.jpg";
    FILE *f = fopen(leaf.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), 64 << 20), 0);
    fclose(f);
    copy_file(kHtmlDir + "/test.html", tmp.path + "/test.html");
    const size_t before_start = open_descriptors();
    start(tmp.path);
    std::this_thread::sleep_for(ms(100));
    const size_t running = open_descriptors();

    const int s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    const int small = 4096;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(WEB_SERVICE_PORT);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const std::string request = "GET /leaf.jpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(send(s, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    char buf[64];
    ASSERT_GT(recv(s, buf, sizeof buf, 0), 0);
    std::this_thread::sleep_for(ms(200));
    // Client socket, accepted socket and the open file.
    EXPECT_EQ(open_descriptors(), running + 3) << "the stream should still be running";

    size_t expected;
    if (GetParam() == StreamEnd::client_leaves) {
        close(s);
        expected = running;
    } else {
        stop();
        close(s);
        expected = before_start;
    }
    const auto deadline = Clock::now() + ms(2000);
    while (open_descriptors() != expected && Clock::now() < deadline)
        std::this_thread::sleep_for(ms(10));
    EXPECT_EQ(open_descriptors(), expected) << "leaf.jpg left open";
}

INSTANTIATE_TEST_SUITE_P(Ends, LeafInterrupted,
                         ::testing::Values(StreamEnd::client_leaves, StreamEnd::service_stops),
                         [](const ::testing::TestParamInfo<StreamEnd> &p) {
                             return ::testing::PrintToString(p.param);
                         });

// ---- WebSocket ------------------------------------------------------------

TEST_F(WebService, PushesTheCurrentLevelAsText) {
    start(kHtmlDir);
    WsClient c;
    ASSERT_TRUE(c.open(WEB_SERVICE_PORT, "audio-level-reporter")) << c.error;
    EXPECT_EQ(c.protocol_reply, "audio-level-reporter");
    EXPECT_TRUE(wait_logged(kEstablished, 1000));

    for (int level : {-47, 0, -90, -1}) {
        audioLevel.store(level, std::memory_order_relaxed);
        ASSERT_TRUE(c.wait_for(std::to_string(level), 1000)) << level << ": " << c.error;
        // Once the level stands still every push repeats exactly its text.
        std::string m;
        ASSERT_TRUE(c.next_message(m, 1000)) << c.error;
        EXPECT_EQ(m, std::to_string(level));
    }

    // Messages from the browser change nothing: short, "reset\n" and longer
    // than the 10-byte receive buffer.
    for (const char *text : {"hi", "reset\n", "a message longer than ten bytes"}) {
        ASSERT_TRUE(c.send_text(text));
        audioLevel.store(-33, std::memory_order_relaxed);
        EXPECT_TRUE(c.wait_for("-33", 1000)) << text << ": " << c.error;
        audioLevel.store(-34, std::memory_order_relaxed);
        EXPECT_TRUE(c.wait_for("-34", 1000)) << text << ": " << c.error;
    }

    c.close_socket();
    EXPECT_TRUE(wait_logged(kClosed, 2000));
}

TEST_F(WebService, PrintsTheRequestHeadersOfAWebSocketClient) {
    start(kHtmlDir);
    WsClient c;
    c.origin = "http://" + std::string(300, 'o');
    ::testing::internal::CaptureStderr();
    const bool opened = c.open(WEB_SERVICE_PORT, "audio-level-reporter");
    std::string m;
    const bool got = opened && c.next_message(m, 1000);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(opened) << c.error;
    ASSERT_TRUE(got) << c.error;
    EXPECT_NE(err.find("    GET URI = /\n"), std::string::npos) << err;
    EXPECT_NE(err.find("    Host = 127.0.0.1:7681\n"), std::string::npos) << err;
    EXPECT_NE(err.find("    Protocol = audio-level-reporter\n"), std::string::npos) << err;
    EXPECT_NE(err.find("    Version = 13\n"), std::string::npos) << err;
    // Values are cut to their first 256 bytes.
    EXPECT_NE(err.find("    Origin = " + c.origin.substr(0, 256) + "\n"), std::string::npos) << err;
}

TEST_F(WebService, UnknownSubProtocolGetsNoLevels) {
    start(kHtmlDir);
    WsClient c;
    const bool opened = c.open(WEB_SERVICE_PORT, "some-other-protocol");
    if (opened) {
        std::string m;
        EXPECT_FALSE(c.next_message(m, 300)) << "got " << m;
    }
    EXPECT_FALSE(logged(kEstablished));
}

// ---- Stop -------------------------------------------------------------------

class StopFlag : public WebService, public ::testing::WithParamInterface<int> {};

TEST_P(StopFlag, EndsTheThreadWithinOnePassAndRefusesNewClients) {
    const int clients = GetParam();
    start(kHtmlDir);
    std::vector<std::unique_ptr<WsClient>> open;
    for (int i = 0; i < clients; i++) {
        open.push_back(std::make_unique<WsClient>());
        ASSERT_TRUE(open.back()->open(WEB_SERVICE_PORT, "audio-level-reporter"))
            << open.back()->error;
        std::string m;
        ASSERT_TRUE(open.back()->next_message(m, 1000)) << open.back()->error;
    }
    // Let the loop fall idle in its service call.
    std::this_thread::sleep_for(ms(300));

    const ms took = stop();
    RecordProperty("stop_ms", static_cast<int>(took.count()));
    EXPECT_LE(took.count(), kOnePassBound.count());
    EXPECT_TRUE(logged(kExiting));

    for (auto &c : open) EXPECT_TRUE(c->wait_closed(1000)) << "connection left open after stop";
    WsClient late;
    EXPECT_FALSE(late.open(WEB_SERVICE_PORT, "audio-level-reporter"));
    EXPECT_EQ(webtest::connect_local(WEB_SERVICE_PORT), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(Join_websockets(), 0) << "joined twice";
}

INSTANTIATE_TEST_SUITE_P(Clients, StopFlag, ::testing::Values(0, 1, 5));

TEST_F(WebService, StopFlagSetBeforeStartEndsTheThreadAtOnce) {
    clear_log();
    force_exit_webserver.store(1, std::memory_order_relaxed);
    ASSERT_EQ(Initilize_websockets(), 1);
    const auto t0 = Clock::now();
    EXPECT_EQ(Join_websockets(), 1);
    EXPECT_LE(std::chrono::duration_cast<ms>(Clock::now() - t0).count(), kOnePassBound.count());
    EXPECT_TRUE(logged(kExiting));
}

// ---- Load -------------------------------------------------------------------

TEST_F(WebService, FiftyClientsKeepReceivingLevelsForTenSeconds) {
    constexpr int kClients = 50;
    constexpr int kSeconds = 10;
    constexpr int kMinPerSecond = 10;
    start(kHtmlDir);

    std::vector<std::unique_ptr<WsClient>> clients;
    for (int i = 0; i < kClients; i++) {
        clients.push_back(std::make_unique<WsClient>());
        ASSERT_TRUE(clients.back()->open(WEB_SERVICE_PORT, "audio-level-reporter"))
            << "client " << i << ": " << clients.back()->error;
    }

    // received[client][second]; the level walks from -90 to -45 meanwhile.
    std::vector<std::vector<int>> received(kClients, std::vector<int>(kSeconds, 0));
    std::vector<std::string> bad;
    const auto t0 = Clock::now();
    for (;;) {
        const auto elapsed = std::chrono::duration_cast<ms>(Clock::now() - t0).count();
        const int second = static_cast<int>(elapsed / 1000);
        if (second >= kSeconds) break;
        audioLevel.store(-90 + 5 * second, std::memory_order_relaxed);

        std::vector<pollfd> fds;
        for (auto &c : clients) fds.push_back(pollfd{c->fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 20);
        for (int i = 0; i < kClients; i++) {
            if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            ASSERT_TRUE(clients[i]->pump(clients[i]->inbox)) << clients[i]->error;
            ASSERT_FALSE(clients[i]->closed) << "client " << i << " closed at " << elapsed << " ms";
            for (const std::string &m : clients[i]->inbox) {
                char *end = nullptr;
                const long v = strtol(m.c_str(), &end, 10);
                if (m.empty() || *end != '\0' || v < -90 || v > 0) bad.push_back(m);
            }
            received[i][second] += static_cast<int>(clients[i]->inbox.size());
            clients[i]->inbox.clear();
        }
    }
    EXPECT_TRUE(bad.empty()) << "not a level: " << bad.front();
    int fewest = INT32_MAX;
    for (const auto &per_client : received)
        for (int n : per_client) fewest = std::min(fewest, n);
    RecordProperty("fewest_messages_in_a_second", fewest);
    for (int i = 0; i < kClients; i++)
        for (int s = 0; s < kSeconds; s++)
            EXPECT_GE(received[i][s], kMinPerSecond) << "client " << i << ", second " << s;

    const ms took = stop();
    RecordProperty("stop_ms", static_cast<int>(took.count()));
    EXPECT_LE(took.count(), kOnePassBound.count());
    for (auto &c : clients) EXPECT_TRUE(c->wait_closed(1000));
}

// ---- Callbacks, reason by reason -------------------------------------------

struct CallbackCase {
    const char *name;
    lws_callback_function *callback;
    lws_callback_reasons reason;
    int32_t stop;
    const char *in;  // message text for LWS_CALLBACK_RECEIVE
    int32_t counter_before;
    int expect_result;
    int32_t expect_counter;
};

void PrintTo(const CallbackCase &c, std::ostream *os) {
    *os << c.name;
}

class Callbacks : public ::testing::TestWithParam<CallbackCase> {};

TEST_P(Callbacks, ReturnAndState) {
    const CallbackCase &c = GetParam();
    force_exit_webserver.store(c.stop, std::memory_order_relaxed);
    int32_t data = c.counter_before;
    const size_t len = c.in ? strlen(c.in) : 0;
    ::testing::internal::CaptureStdout();
    const int result = c.callback(nullptr, c.reason, &data, const_cast<char *>(c.in), len);
    const std::string out = ::testing::internal::GetCapturedStdout();
    force_exit_webserver.store(0, std::memory_order_relaxed);
    EXPECT_EQ(result, c.expect_result);
    EXPECT_EQ(data, c.expect_counter);
    const bool refused_established = c.reason == LWS_CALLBACK_ESTABLISHED && c.stop;
    EXPECT_EQ(out, refused_established ? "LWS_CALLBACK_ESTABLISHED exiting ------------" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, Callbacks,
    ::testing::Values(CallbackCase{"established", callback_audio_level_reporter,
                                   LWS_CALLBACK_ESTABLISHED, 0, nullptr, 7, 0, 0},
                      CallbackCase{"established_after_stop", callback_audio_level_reporter,
                                   LWS_CALLBACK_ESTABLISHED, 1, nullptr, 7, -1, 0},
                      CallbackCase{"receive_short", callback_audio_level_reporter,
                                   LWS_CALLBACK_RECEIVE, 1, "reset", 7, 0, 7},
                      CallbackCase{"receive_reset", callback_audio_level_reporter,
                                   LWS_CALLBACK_RECEIVE, 0, "reset\n", 7, 0, 0},
                      CallbackCase{"receive_reset_after_stop", callback_audio_level_reporter,
                                   LWS_CALLBACK_RECEIVE, 1, "reset\n", 7, -1, 0},
                      CallbackCase{"receive_other", callback_audio_level_reporter,
                                   LWS_CALLBACK_RECEIVE, 0, "resets!", 7, 0, 7},
                      CallbackCase{"receive_other_after_stop", callback_audio_level_reporter,
                                   LWS_CALLBACK_RECEIVE, 1, "resets!", 7, -1, 7},
                      CallbackCase{"closed", callback_audio_level_reporter, LWS_CALLBACK_CLOSED, 0,
                                   nullptr, 7, -1, 7},
                      CallbackCase{"ws_other_reason", callback_audio_level_reporter,
                                   LWS_CALLBACK_PROTOCOL_INIT, 1, nullptr, 7, 0, 7},
                      CallbackCase{"http_file_completion", callback_http,
                                   LWS_CALLBACK_HTTP_FILE_COMPLETION, 0, nullptr, -1, -1, -1},
                      CallbackCase{"http_other_reason", callback_http, LWS_CALLBACK_PROTOCOL_INIT,
                                   0, nullptr, -1, 0, -1}),
    [](const ::testing::TestParamInfo<CallbackCase> &p) { return std::string(p.param.name); });

TEST(WebTables, WhitelistAndProtocols) {
    EXPECT_STREQ(whitelist[0].path, "/favicon.ico");
    EXPECT_STREQ(whitelist[0].mime, "image/x-icon");
    EXPECT_STREQ(whitelist[1].mime, "image/png");
    EXPECT_STREQ(whitelist[2].path, "/test.html");
    EXPECT_STREQ(whitelist[2].mime, "text/html");
    for (const web_whitelist_entry &e : whitelist) {
        struct stat st;
        EXPECT_EQ(stat((kHtmlDir + e.path).c_str(), &st), 0) << e.path << " is not in web/html";
    }

    EXPECT_STREQ(protocols[0].name, "http-only");
    EXPECT_EQ(protocols[0].callback, &callback_http);
    EXPECT_EQ(protocols[0].per_session_data_size, sizeof(int32_t));
    EXPECT_EQ(protocols[0].rx_buffer_size, 0u);
    EXPECT_STREQ(protocols[1].name, "audio-level-reporter");
    EXPECT_EQ(protocols[1].callback, &callback_audio_level_reporter);
    EXPECT_EQ(protocols[1].per_session_data_size, sizeof(int32_t));
    EXPECT_EQ(protocols[1].rx_buffer_size, 10u);
    EXPECT_EQ(protocols[2].name, nullptr);
    EXPECT_EQ(protocols[2].callback, nullptr);
}

TEST(WebTables, ResourcePathDefaultsToTheBuildSetting) {
    EXPECT_STREQ(kDefaultResourcePath, SONIVALE_RESOURCE_PATH_DEFAULT);
}

}  // namespace
