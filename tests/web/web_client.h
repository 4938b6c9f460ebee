// Minimal HTTP/1.1 and WebSocket (RFC 6455) client over plain sockets, for
// testing the audio-level service from outside, the way a browser talks to it.
#ifndef SONIVALE_TESTS_WEB_CLIENT_H
#define SONIVALE_TESTS_WEB_CLIENT_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

namespace webtest {

using Clock = std::chrono::steady_clock;

// Connected TCP socket to 127.0.0.1:port, or -1 (errno from connect kept).
int connect_local(int port);

// Retries connect_local until it succeeds or timeout_ms passes; the socket is closed again.
bool wait_for_port(int port, int timeout_ms);

std::string read_file(const std::string &path);

struct HttpResponse {
    bool complete = false;                       // a status line and the header block arrived
    std::string status_line;                     // "HTTP/1.1 200 OK"
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;                            // everything after the header block
    bool closed_by_server = false;               // EOF or reset seen before timeout_ms
    size_t bytes_received = 0;
};

// Sends "GET path HTTP/1.1" (keep-alive, so only the server decides to close)
// and reads until the server closes the connection or timeout_ms passes.
HttpResponse http_get(int port, const std::string &path, int timeout_ms = 3000);

// One WebSocket connection on the given sub-protocol.
struct WsClient {
    int fd = -1;
    std::string origin;             // Origin header to send; empty: http://127.0.0.1:port
    std::string protocol_reply;     // Sec-WebSocket-Protocol of the 101 reply
    std::string error;              // why open or a read failed
    std::string pending;            // received bytes not yet parsed into frames
    bool closed = false;            // close frame or EOF seen
    std::deque<std::string> inbox;  // parsed text messages not yet taken

    bool open(int port, const std::string &protocol, int timeout_ms = 3000);
    // Appends complete text messages to out; returns false on protocol error.
    bool parse(std::deque<std::string> &out);
    // Reads what is available (non-blocking socket) and parses it.
    bool pump(std::deque<std::string> &out);
    // Waits up to timeout_ms for the next text message.
    bool next_message(std::string &message, int timeout_ms);
    // Waits until a message equal to want arrives; counts the others.
    bool wait_for(const std::string &want, int timeout_ms);
    // Sends one masked text message.
    bool send_text(const std::string &text);
    // Waits until the server ends the connection (close frame, EOF or reset).
    bool wait_closed(int timeout_ms);
    void close_socket();
    ~WsClient() { close_socket(); }
};

}  // namespace webtest

#endif
