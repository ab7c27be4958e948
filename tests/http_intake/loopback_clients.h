/* HTTP clients on other loopback addresses for the tests of the two HTTP programs: Linux routes all
 * of 127.0.0.0/8 to this host, so one test can play many client addresses. Header only, so that the
 * service's and the bridge's tests can both use it. */
#ifndef VEK_TESTS_HTTP_INTAKE_LOOPBACK_CLIENTS_H
#define VEK_TESTS_HTTP_INTAKE_LOOPBACK_CLIENTS_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace intake_test {

using namespace std::chrono_literals;

/* A TCP port that can be bound on every address right now, taken below the range the system hands
 * out to outgoing connections: the many client connections of parallel tests can then never take
 * it between this call and the server's bind. */
inline uint16_t free_listen_port() {
    constexpr unsigned first = 20000;
    constexpr unsigned count = 12000; /* up to 31999, below the usual ephemeral range from 32768 */
    constexpr int tries = 200;
    static std::atomic<unsigned> next{first + static_cast<unsigned>(::getpid()) % count};
    for (int i = 0; i < tries; ++i) {
        const auto port = static_cast<uint16_t>(first + next.fetch_add(7) % count);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        const bool free = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        if (free) {
            return port;
        }
    }
    return 0;
}

/* "127.0.0.<n>". */
inline std::string loopback(unsigned n) { return "127.0.0." + std::to_string(n); }

/* A TCP connection to 127.0.0.1:port from the given source address; -1 when it fails. */
inline int connect_from(uint16_t port, const std::string &source) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

/* Everything the server sends until it closes the connection or the time-out passes; closes fd. */
inline std::string read_to_close(int fd, std::chrono::milliseconds timeout = 5s) {
    std::string reply;
    std::array<char, 4096> buf{};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        const ssize_t got = ::recv(fd, buf.data(), buf.size(), 0);
        if (got <= 0) {
            break;
        }
        reply.append(buf.data(), static_cast<size_t>(got));
    }
    ::close(fd);
    return reply;
}

/* Sends raw from the source address and returns the reply (empty when the connection fails). */
inline std::string exchange_from(uint16_t port, const std::string &source, std::string_view raw,
                                 std::chrono::milliseconds timeout = 5s) {
    const int fd = connect_from(port, source);
    if (fd < 0) {
        return {};
    }
    ::send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
    return read_to_close(fd, timeout);
}

/* The status code of an HTTP reply, 0 when it has none. */
inline int status_of(std::string_view reply) {
    constexpr std::string_view prefix = "HTTP/1.1 ";
    constexpr size_t code_digits = 3;
    if (!reply.starts_with(prefix) || reply.size() < prefix.size() + code_digits) {
        return 0;
    }
    return std::stoi(std::string(reply.substr(prefix.size(), code_digits)));
}

/* Connections that hold a server's intake: every other one idle, the rest sending a request head one
 * byte at a time, each byte trickle_every apart. They are spread over the addresses 127.0.0.<first>
 * onwards, per_address on each. */
class slow_clients {
public:
    slow_clients(uint16_t port, size_t count, unsigned first, size_t per_address,
                 std::chrono::milliseconds trickle_every = 500ms) {
        for (size_t i = 0; i < count; ++i) {
            fds_.push_back(connect_from(port, loopback(first + static_cast<unsigned>(i / per_address))));
        }
        trickler_ = std::thread([this, trickle_every] {
            constexpr std::string_view head = "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            for (size_t sent = 0; !stop_.load() && sent + 1 < head.size(); ++sent) {
                for (size_t i = 1; i < fds_.size(); i += 2) {
                    ::send(fds_[i], &head[sent], 1, MSG_NOSIGNAL);
                }
                for (auto waited = 0ms; waited < trickle_every && !stop_.load(); waited += tick_) {
                    std::this_thread::sleep_for(tick_);
                }
            }
        });
    }
    ~slow_clients() {
        stop_.store(true);
        trickler_.join();
        for (const int fd : fds_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    slow_clients(const slow_clients &) = delete;
    slow_clients &operator=(const slow_clients &) = delete;

    /* How many of them are connected. */
    size_t connected() const {
        size_t n = 0;
        for (const int fd : fds_) {
            n += fd >= 0 ? 1 : 0;
        }
        return n;
    }

private:
    static constexpr auto tick_ = 10ms;
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread trickler_;
};

} // namespace intake_test

#endif
