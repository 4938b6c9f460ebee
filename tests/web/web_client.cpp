#include "web_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace webtest {

static int remaining_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

static std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

static std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

static std::string base64(const unsigned char *data, size_t n) {
    std::string out(4 * ((n + 2) / 3) + 1, '\0');
    const int len =
        EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), data, static_cast<int>(n));
    out.resize(static_cast<size_t>(len));
    return out;
}

int connect_local(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool wait_for_port(int port, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        const int fd = connect_local(port);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    return false;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

static bool send_all(int fd, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Parses "Name: value" lines of a header block (after the status line).
static void parse_headers(const std::string &block, std::string &status,
                          std::map<std::string, std::string> &headers) {
    std::istringstream lines(block);
    std::string line;
    std::getline(lines, line);
    status = trim(line);
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
    }
}

HttpResponse http_get(int port, const std::string &path, int timeout_ms) {
    HttpResponse r;
    const int fd = connect_local(port);
    if (fd < 0) return r;
    const std::string request = "GET " + path +
                                " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nUser-Agent: sonivale-test\r\n\r\n";
    if (!send_all(fd, request)) {
        close(fd);
        return r;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string data;
    char buf[8192];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, remaining_ms(deadline));
        if (ready <= 0) break;  // timeout: the server kept the connection open
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            r.closed_by_server = true;  // EOF or reset
            break;
        }
        data.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    r.bytes_received = data.size();
    const size_t end = data.find("\r\n\r\n");
    if (end == std::string::npos) return r;
    r.complete = true;
    parse_headers(data.substr(0, end), r.status_line, r.headers);
    r.body = data.substr(end + 4);
    return r;
}

bool WsClient::open(int port, const std::string &protocol, int timeout_ms) {
    fd = connect_local(port);
    if (fd < 0) {
        error = std::string("connect: ") + strerror(errno);
        return false;
    }
    unsigned char nonce[16];
    RAND_bytes(nonce, sizeof nonce);
    const std::string key = base64(nonce, sizeof nonce);
    const std::string request =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: " +
        key +
        "\r\nSec-WebSocket-Version: 13\r\n"
        "Sec-WebSocket-Protocol: " +
        protocol +
        "\r\nOrigin: " + (origin.empty() ? "http://127.0.0.1:" + std::to_string(port) : origin) +
        "\r\n\r\n";
    if (!send_all(fd, request)) {
        error = "handshake send failed";
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string data;
    char buf[4096];
    size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, remaining_ms(deadline)) <= 0) {
            error = "handshake timeout";
            return false;
        }
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            error = "connection closed during handshake";
            closed = true;
            return false;
        }
        data.append(buf, static_cast<size_t>(n));
    }
    std::string status;
    std::map<std::string, std::string> headers;
    parse_headers(data.substr(0, end), status, headers);
    pending = data.substr(end + 4);
    if (status.rfind("HTTP/1.1 101", 0) != 0) {
        error = "status: " + status;
        return false;
    }
    // RFC 6455 4.2.2: accept = base64(SHA-1(key + GUID)).
    const std::string guid = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char *>(guid.data()), guid.size(), digest);
    if (headers["sec-websocket-accept"] != base64(digest, sizeof digest)) {
        error = "bad Sec-WebSocket-Accept";
        return false;
    }
    protocol_reply = headers["sec-websocket-protocol"];
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool WsClient::parse(std::deque<std::string> &out) {
    for (;;) {
        if (pending.size() < 2) return true;
        const auto *b = reinterpret_cast<const unsigned char *>(pending.data());
        const bool fin = b[0] & 0x80;
        const int opcode = b[0] & 0x0f;
        if (b[1] & 0x80) {
            error = "server frame is masked";
            return false;
        }
        uint64_t len = b[1] & 0x7f;
        size_t head = 2;
        if (len == 126) {
            if (pending.size() < 4) return true;
            len = (uint64_t{b[2]} << 8) | b[3];
            head = 4;
        } else if (len == 127) {
            if (pending.size() < 10) return true;
            len = 0;
            for (int i = 0; i < 8; i++) len = (len << 8) | b[2 + i];
            head = 10;
        }
        if (pending.size() < head + len) return true;
        std::string payload = pending.substr(head, static_cast<size_t>(len));
        pending.erase(0, head + static_cast<size_t>(len));
        if (opcode == 0x8) {
            closed = true;
            return true;
        }
        if (opcode == 0x9 || opcode == 0xa) continue;  // ping / pong: no use here
        if (opcode != 0x1 || !fin) {
            error = "unexpected frame opcode " + std::to_string(opcode);
            return false;
        }
        out.push_back(std::move(payload));
    }
}

bool WsClient::pump(std::deque<std::string> &out) {
    char buf[4096];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            pending.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) closed = true;
        break;
    }
    return parse(out);
}

bool WsClient::next_message(std::string &message, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (!parse(inbox)) return false;
        if (!inbox.empty()) {
            message = inbox.front();
            inbox.pop_front();
            return true;
        }
        if (closed) {
            error = "closed";
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, remaining_ms(deadline)) <= 0) {
            error = "timeout";
            return false;
        }
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) pending.append(buf, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) closed = true;
    }
}

bool WsClient::wait_for(const std::string &want, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string m;
    while (remaining_ms(deadline) > 0) {
        if (!next_message(m, remaining_ms(deadline))) return false;
        if (m == want) return true;
    }
    error = "timeout";
    return false;
}

bool WsClient::send_text(const std::string &text) {
    std::string frame;
    frame.push_back(static_cast<char>(0x81));
    const unsigned char mask[4] = {0x12, 0x34, 0x56, 0x78};
    if (text.size() < 126) {
        frame.push_back(static_cast<char>(0x80 | text.size()));
    } else {
        frame.push_back(static_cast<char>(0x80 | 126));
        frame.push_back(static_cast<char>(text.size() >> 8));
        frame.push_back(static_cast<char>(text.size() & 0xff));
    }
    frame.append(reinterpret_cast<const char *>(mask), 4);
    for (size_t i = 0; i < text.size(); i++)
        frame.push_back(static_cast<char>(text[i] ^ mask[i % 4]));
    return send_all(fd, frame);
}

bool WsClient::wait_closed(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::deque<std::string> ignored;
    while (!closed) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, remaining_ms(deadline)) <= 0) return false;
        if (!pump(ignored)) return false;
    }
    return true;
}

void WsClient::close_socket() {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace webtest
