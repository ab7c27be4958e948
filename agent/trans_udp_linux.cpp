// Linux UDP instance of the agent transport: a non-blocking IPv4 datagram socket bound to
// 0.0.0.0:port, a non-blocking wake-up pipe, and one receive thread that polls both and hands every
// datagram with its sender to the installed callback.
#include "agent/trans_udp_linux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "agent/trans_udp_worker.h"
#include "base/agent_log.h"

// The instance record behind the opaque trans_udp_linux_t of the C interface.
struct trans_udp_inst {
    int32_t fd = -1;
    std::atomic<int32_t> is_open{0};   // 1 after a successful bind
    std::atomic<int32_t> closing{0};   // set by destroy
    int32_t pipe_rd = -1;
    int32_t pipe_wr = -1;
    vek::agent::udp_recv_worker worker;
    std::mutex cb_lock;                // guards the callback pair against a late set_recv_callback
    trans_udp_recv_cb cb = nullptr;
    void *cb_ctx = nullptr;

    trans_udp_inst() = default;
    trans_udp_inst(const trans_udp_inst &) = delete;
    trans_udp_inst &operator=(const trans_udp_inst &) = delete;
    ~trans_udp_inst() {
        close_fd(fd);
        close_fd(pipe_rd);
        close_fd(pipe_wr);
    }

    static void close_fd(int32_t &descriptor) {
        if (descriptor >= 0) {
            close(descriptor);
            descriptor = -1;
        }
    }
};

namespace {

constexpr int kPipeDrainSize = 16;
constexpr int kSockBufSize = TRANS_UDP_SOCK_BUF_SIZE;
constexpr int kPollTimeoutMs = TRANS_UDP_POLL_TIMEOUT_MS;
constexpr size_t kPollPipe = 0;
constexpr size_t kPollSock = 1;
constexpr int kOn = 1;

using InstancePtr = std::unique_ptr<trans_udp_linux_t>;

bool valid_instance(const trans_udp_linux_t *inst) { return inst != nullptr && inst->fd >= 0; }

bool would_block(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

bool make_pipe(trans_udp_linux_t &inst) {
    std::array<int, 2> ends{-1, -1};
    if (pipe2(ends.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "pipe create failed errno:%d", errno);
        return false;
    }
    inst.pipe_rd = ends[0];
    inst.pipe_wr = ends[1];
    return true;
}

void set_socket_options(int fd) {
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &kOn, sizeof kOn) != 0) {
        AGENT_LOG(AGENT_LOG_WARN, "setsockopt SO_REUSEADDR failed errno:%d", errno);
    }
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &kOn, sizeof kOn) != 0) {
        AGENT_LOG(AGENT_LOG_WARN, "setsockopt SO_REUSEPORT failed(errno:%d), old kernel may not support", errno);
    }
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSockBufSize, sizeof kSockBufSize);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSockBufSize, sizeof kSockBufSize);
}

bool make_non_blocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "fcntl F_GETFL failed, errno:%d", errno);
        return false;
    }
    if (fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "fcntl F_SETFL O_NONBLOCK failed, errno:%d", errno);
        return false;
    }
    return true;
}

bool make_socket(trans_udp_linux_t &inst) {
    inst.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (inst.fd < 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "socket create failed errno:%d", errno);
        return false;
    }
    set_socket_options(inst.fd);
    return make_non_blocking(inst.fd);
}

void log_bind_failure(uint16_t port, int error) {
    if (error == EACCES) {
        AGENT_LOG(AGENT_LOG_ERROR, "bind port %u fail EACCES:privileged port need root", static_cast<unsigned>(port));
    } else if (error == EADDRINUSE) {
        AGENT_LOG(AGENT_LOG_ERROR, "bind port %u fail EADDRINUSE:port in use", static_cast<unsigned>(port));
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "bind port %u fail errno:%d", static_cast<unsigned>(port), error);
    }
}

void drain_pipe(int fd) {
    std::array<uint8_t, kPipeDrainSize> scratch{};
    while (read(fd, scratch.data(), scratch.size()) > 0) {
    }
}

// Hands every pending datagram to the callback; stops when none is left.
void deliver_pending(trans_udp_linux_t &inst) {
    std::array<uint8_t, TRANS_UDP_RECV_BUF_SIZE> buf{};
    for (;;) {
        uint32_t src_ip = 0;
        uint16_t src_port = 0;
        const int received = trans_udp_linux_recvfrom_bin(&inst, buf.data(), static_cast<int32_t>(buf.size()),
                                                          &src_ip, &src_port);
        if (received <= 0) {
            return;
        }
        trans_udp_recv_cb cb = nullptr;
        void *cb_ctx = nullptr;
        {
            std::lock_guard<std::mutex> guard(inst.cb_lock);
            cb = inst.cb;
            cb_ctx = inst.cb_ctx;
        }
        if (cb != nullptr) {
            std::array<uint8_t, TRANS_IPV4_LEN> ip{};
            std::memcpy(ip.data(), &src_ip, ip.size());
            cb(cb_ctx, buf.data(), received, ip.data(), src_port);
        }
    }
}

// True when the socket's poll result ends the thread.
bool socket_failed(trans_udp_linux_t &inst, short revents) {
    if ((revents & POLLNVAL) != 0) {
        if (inst.closing.load() == 0) {
            AGENT_LOG(AGENT_LOG_WARN, "udp poll got POLLNVAL(fd invalid), thread exit");
        }
    } else if ((revents & (POLLERR | POLLHUP)) != 0) {
        AGENT_LOG(AGENT_LOG_WARN, "udp poll got POLLERR/POLLHUP, thread exit");
    } else {
        return false;
    }
    int32_t expected = 1;
    inst.is_open.compare_exchange_strong(expected, 0);
    return true;
}

void udp_recv_thread_entry(trans_udp_linux_t *inst) {
    AGENT_LOG(AGENT_LOG_INFO, "udp recv thread start");
    while (inst->worker.running()) {
        std::array<pollfd, 2> fds{};
        fds[kPollPipe] = pollfd{inst->pipe_rd, POLLIN, 0};
        fds[kPollSock] = pollfd{inst->fd, POLLIN, 0};
        const int ready = poll(fds.data(), fds.size(), kPollTimeoutMs);
        if (!inst->worker.running()) {
            break;
        }
        if (ready < 0) {
            if (errno != EINTR) {
                AGENT_LOG(AGENT_LOG_ERROR, "udp poll error errno:%d", errno);
            }
            continue;
        }
        if ((fds[kPollPipe].revents & POLLIN) != 0) {
            drain_pipe(inst->pipe_rd);
            break;
        }
        if (socket_failed(*inst, fds[kPollSock].revents)) {
            break;
        }
        if ((fds[kPollSock].revents & POLLIN) != 0) {
            deliver_pending(*inst);
        }
    }
    AGENT_LOG(AGENT_LOG_INFO, "udp recv thread exit");
}

}  // namespace

extern "C" {

trans_udp_linux_t *trans_udp_linux_create(void) {
    InstancePtr inst;
    try {
        inst = std::make_unique<trans_udp_linux_t>();
    } catch (const std::bad_alloc &) {
        AGENT_LOG(AGENT_LOG_ERROR, "malloc trans_udp_linux_t failed");
        return nullptr;
    }
    if (!make_pipe(*inst) || !make_socket(*inst)) {
        return nullptr;  // the record's destructor closes whatever was opened
    }
    inst->is_open.store(0);
    return inst.release();
}

int trans_udp_linux_bind(trans_udp_linux_t *inst, uint16_t port) {
    if (!valid_instance(inst)) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    if (inst->is_open.load() != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "udp instance already bind");
        return TRANS_UDP_ERR_STATE;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (bind(inst->fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        log_bind_failure(port, errno);
        return TRANS_UDP_ERR_BIND;
    }
    int32_t expected = 0;
    inst->is_open.compare_exchange_strong(expected, 1);
    AGENT_LOG(AGENT_LOG_INFO, "udp bind success port=%u", static_cast<unsigned>(port));
    return TRANS_UDP_OK;
}

int trans_udp_linux_get_bound_port(trans_udp_linux_t *inst) {
    if (!valid_instance(inst) || inst->is_open.load() == 0) {
        return TRANS_UDP_ERR_STATE;
    }
    sockaddr_in address{};
    socklen_t address_len = sizeof address;
    if (getsockname(inst->fd, reinterpret_cast<sockaddr *>(&address), &address_len) != 0) {
        return TRANS_UDP_ERR_RECV;
    }
    return ntohs(address.sin_port);
}

int trans_udp_linux_get_fd(trans_udp_linux_t *inst) { return inst == nullptr ? -1 : inst->fd; }

void trans_udp_linux_set_recv_callback(trans_udp_linux_t *inst, trans_udp_recv_cb cb, void *ctx) {
    if (inst == nullptr) {
        return;
    }
    if (inst->worker.running()) {
        AGENT_LOG(AGENT_LOG_WARN, "set_recv_callback violate contract: recv thread is running");
    }
    std::lock_guard<std::mutex> guard(inst->cb_lock);
    inst->cb = cb;
    inst->cb_ctx = ctx;
}

int trans_udp_linux_start_recv_thread(trans_udp_linux_t *inst) {
    if (!valid_instance(inst) || inst->is_open.load() == 0) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    return inst->worker.start("pthread_create", udp_recv_thread_entry, inst);
}

void trans_udp_linux_stop_recv_thread(trans_udp_linux_t *inst) {
    if (inst == nullptr) {
        return;
    }
    inst->worker.stop([inst] {
        const uint8_t wake = 1;
        if (write(inst->pipe_wr, &wake, sizeof wake) < 0) {
            // The 200 ms poll time-out still ends the thread.
        }
    });
}

int trans_udp_linux_sendto_bin(trans_udp_linux_t *inst, const uint8_t *ip, uint16_t port, const uint8_t *buf,
                               int32_t len) {
    if (!valid_instance(inst) || inst->is_open.load() == 0 || ip == nullptr || buf == nullptr || len <= 0) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr.s_addr, ip, TRANS_IPV4_LEN);
    address.sin_port = htons(port);
    const ssize_t sent = sendto(inst->fd, buf, static_cast<size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr *>(&address), sizeof address);
    if (sent < 0) {
        return would_block(errno) ? 0 : TRANS_UDP_ERR_SEND;
    }
    return static_cast<int>(sent);
}

int trans_udp_linux_sendto(trans_udp_linux_t *inst, const char *ip_text, uint16_t port, const uint8_t *buf,
                           int32_t len) {
    if (ip_text == nullptr) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, ip_text, &parsed) != 1) {
        AGENT_LOG(AGENT_LOG_ERROR, "inet_pton parse ip %s invalid", ip_text);
        return TRANS_UDP_ERR_BAD_ARG;
    }
    std::array<uint8_t, TRANS_IPV4_LEN> ip{};
    std::memcpy(ip.data(), &parsed.s_addr, ip.size());
    return trans_udp_linux_sendto_bin(inst, ip.data(), port, buf, len);
}

int trans_udp_linux_recvfrom_bin(trans_udp_linux_t *inst, uint8_t *buf, int32_t len, uint32_t *src_ip,
                                 uint16_t *src_port) {
    if (!valid_instance(inst) || buf == nullptr || len <= 0) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    sockaddr_in address{};
    socklen_t address_len = sizeof address;
    const ssize_t received = recvfrom(inst->fd, buf, static_cast<size_t>(len), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr *>(&address), &address_len);
    if (received < 0) {
        return would_block(errno) ? 0 : TRANS_UDP_ERR_RECV;
    }
    if (src_ip != nullptr) {
        *src_ip = address.sin_addr.s_addr;
    }
    if (src_port != nullptr) {
        *src_port = ntohs(address.sin_port);
    }
    return static_cast<int>(received);
}

void trans_udp_linux_destroy(trans_udp_linux_t *inst) {
    if (inst == nullptr) {
        return;
    }
    InstancePtr owner(inst);
    owner->closing.store(1);
    trans_udp_linux_stop_recv_thread(owner.get());
    trans_udp_linux_t::close_fd(owner->fd);
    trans_udp_linux_t::close_fd(owner->pipe_rd);
    trans_udp_linux_t::close_fd(owner->pipe_wr);
    int32_t expected = 1;
    owner->is_open.compare_exchange_strong(expected, 0);
}

}  // extern "C"
