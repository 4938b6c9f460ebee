#include "log_capture.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tsdk.h"

namespace {

std::string log_path;
std::streamoff log_start = 0;  // bytes of the log before the last clear_log
tsdk_settings settings;

void ensure_sdk() {
    if (!log_path.empty()) return;
    char dir[] = "/tmp/sonivale-web-log-XXXXXX";
    if (!mkdtemp(dir)) abort();
    log_path = std::string(dir) + "/web_test.log";
    setenv("TSDK_LOG", log_path.c_str(), 1);
    settings = tsdk_settings{"sonivaleWebTest", "Tarvik Systems", 3, 0,
                             log_path.c_str(),  log_path.c_str()};
    if (tsdk_init(&settings) != 0) {
        fprintf(stderr, "tsdk_init: %s\n", tsdk_strerr());
        abort();
    }
    // The SDK and its scratch directory go when the test program ends.
    atexit([] {
        tsdk_deinit(&settings);
        std::remove(log_path.c_str());
        rmdir(log_path.substr(0, log_path.rfind('/')).c_str());
    });
}

std::string log_since_clear() {
    ensure_sdk();
    fflush(tsdk.log_file);  // stdio locks the stream against the service thread
    std::ifstream in(log_path, std::ios::binary);
    in.seekg(log_start);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

void clear_log() {
    ensure_sdk();
    fflush(tsdk.log_file);
    std::ifstream in(log_path, std::ios::binary | std::ios::ate);
    log_start = in.tellg();
}

bool logged(const std::string &line) {
    return ("\n" + log_since_clear()).find("\n" + line) != std::string::npos;
}

bool wait_logged(const std::string &line, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!logged(line)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
