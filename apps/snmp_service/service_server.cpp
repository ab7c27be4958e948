#include "apps/snmp_service/service_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "apps/snmp_service/service_endpoints.h"
#include "apps/snmp_service/service_http.h"
#include "apps/snmp_service/service_waiters.h"

namespace service {

namespace {

constexpr int k_listen_backlog = 64;
constexpr int k_accept_poll_ms = 200; /* how often an idle worker looks at the running flag */
/* A client that sends its request this slowly, or does not take the answer, gives up its worker. */
constexpr std::chrono::seconds k_client_io_limit{5};
/* After the answer, what the client still sends is read and dropped for this long (so that closing
 * does not reset the connection before the client has the answer), up to k_max_drain bytes. */
constexpr std::chrono::milliseconds k_drain_limit{200};
constexpr size_t k_max_drain = 65536;
constexpr size_t k_drain_chunk = 4096;

/* Owns a descriptor and closes it. */
class unique_fd {
public:
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

void set_io_limit(int fd, int option, std::chrono::microseconds limit) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(limit).count());
    tv.tv_usec = static_cast<suseconds_t>((limit - std::chrono::seconds(tv.tv_sec)).count());
    setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

/* Up to k_request_read_size bytes: reads until the request head is complete, the buffer is full, or
 * the client stops sending (end, error or time limit). */
std::string read_request(int fd) {
    std::string request(k_request_read_size, '\0');
    size_t used = 0;
    while (used < request.size()) {
        const ssize_t n = recv(fd, request.data() + used, request.size() - used, 0);
        if (n <= 0) {
            break;
        }
        used += static_cast<size_t>(n);
        if (request_head_complete(std::string_view(request.data(), used))) {
            break;
        }
    }
    request.resize(used);
    return request;
}

void send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

/* Ends our side and reads what the client still sends, for a short while. */
void finish_connection(int fd) {
    shutdown(fd, SHUT_WR);
    set_io_limit(fd, SO_RCVTIMEO, k_drain_limit);
    std::array<char, k_drain_chunk> sink{};
    size_t drained = 0;
    while (drained < k_max_drain) {
        const ssize_t n = recv(fd, sink.data(), sink.size(), 0);
        if (n <= 0) {
            return;
        }
        drained += static_cast<size_t>(n);
    }
}

} // namespace

int open_http_listener(uint16_t port) {
    unique_fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) {
        return -1;
    }
    const int reuse = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(fd.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(fd.get(), k_listen_backlog) != 0) {
        const int saved = errno;
        close(fd.release());
        errno = saved;
        return -1;
    }
    return fd.release();
}

void http_worker(int listen_fd, const std::atomic<bool> &running) {
    while (running.load()) {
        pollfd entry{listen_fd, POLLIN, 0};
        if (poll(&entry, 1, k_accept_poll_ms) <= 0) {
            continue;
        }
        // The listening socket does not block: another worker may have taken the connection.
        const int conn = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn >= 0) {
            handle_http_conn(conn, running);
        }
    }
}

void handle_http_conn(int conn_fd, const std::atomic<bool> &running) {
    const unique_fd conn(conn_fd);
    set_io_limit(conn.get(), SO_RCVTIMEO, k_client_io_limit);
    set_io_limit(conn.get(), SO_SNDTIMEO, k_client_io_limit);
    const std::string raw = read_request(conn.get());
    if (raw.empty()) {
        return;
    }
    const http_request request = parse_http_request(raw);
    const request_context ctx{request.query, next_waiter_id(), running};
    std::printf("[HTTP] path=%.*s\n", static_cast<int>(request.path.size()), request.path.data());
    const std::string json = handle_api_request(request.path, ctx);
    std::printf("[HTTP] response: %s\n", json.c_str());
    send_all(conn.get(), std::string(k_answer_header) + json);
    finish_connection(conn.get());
}

} // namespace service
