// Windows UDP instance of the agent transport (see trans_udp_win32.h). The receive thread does
// blocking receives with the socket's 1000 ms time-out; stopping it sends an empty datagram to the
// instance's own port, which ends the receive at once.
#include "agent/trans_udp_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "agent/trans_udp_worker.h"
#include "base/agent_log.h"

// The instance record behind the opaque trans_udp_win32_t of the C interface, in the order the
// transport describes it: socket, receive thread, running flag, the lock of the socket calls.
struct trans_udp_inst {
    SOCKET sock = INVALID_SOCKET;
    vek::agent::udp_recv_worker worker;
    CRITICAL_SECTION socket_lock{};
    std::atomic<int32_t> is_open{0};  // 1 after a successful bind
    std::mutex cb_lock;               // guards the callbacks against a late set_*_callback
    trans_udp_recv_cb cb = nullptr;
    void *cb_ctx = nullptr;
    trans_udp_reset_cb reset_cb = nullptr;
    void *reset_ctx = nullptr;

    trans_udp_inst() noexcept { InitializeCriticalSection(&socket_lock); }
    trans_udp_inst(const trans_udp_inst &) = delete;
    trans_udp_inst &operator=(const trans_udp_inst &) = delete;
    ~trans_udp_inst() {
        if (sock != INVALID_SOCKET) {
            closesocket(sock);
        }
        DeleteCriticalSection(&socket_lock);
    }
};

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr DWORD kRecvTimeoutMs = TRANS_UDP_WIN32_RECV_TIMEOUT_MS;
constexpr BOOL kOn = TRUE;

using InstancePtr = std::unique_ptr<trans_udp_win32_t>;
using vek::agent::udp_win32::RecvErrorAction;

// Holds the socket calls of one instance.
class SocketCall {
public:
    explicit SocketCall(trans_udp_win32_t &inst) noexcept : lock_(inst.socket_lock) { EnterCriticalSection(&lock_); }
    SocketCall(const SocketCall &) = delete;
    SocketCall &operator=(const SocketCall &) = delete;
    ~SocketCall() { LeaveCriticalSection(&lock_); }

private:
    CRITICAL_SECTION &lock_;
};

bool valid_instance(const trans_udp_win32_t *inst) { return inst != nullptr && inst->sock != INVALID_SOCKET; }

sockaddr_in ipv4_address(ULONG host_order_address, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host_order_address);
    address.sin_port = htons(port);
    return address;
}

void set_socket_options(SOCKET sock) {
    if (setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&kOn), sizeof kOn) != 0) {
        AGENT_LOG(AGENT_LOG_WARN, "setsockopt SO_REUSEADDR failed errno:%d", WSAGetLastError());
    }
    if (setsockopt(sock, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&kOn), sizeof kOn) != 0) {
        AGENT_LOG(AGENT_LOG_WARN, "setsockopt SO_BROADCAST failed errno:%d", WSAGetLastError());
    }
    // Windows reads the receive time-out as a DWORD of milliseconds.
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&kRecvTimeoutMs), sizeof kRecvTimeoutMs);
}

trans_udp_recv_cb receive_callback(trans_udp_win32_t &inst, void *&cb_ctx) {
    std::lock_guard<std::mutex> guard(inst.cb_lock);
    cb_ctx = inst.cb_ctx;
    return inst.cb;
}

// The socket is gone: the transport rebuilds itself, which destroys this instance. Nothing of the
// instance may be touched after the callback has been called.
void reset_from_thread(trans_udp_win32_t &inst) {
    trans_udp_reset_cb reset_cb = nullptr;
    void *reset_ctx = nullptr;
    {
        std::lock_guard<std::mutex> guard(inst.cb_lock);
        reset_cb = inst.reset_cb;
        reset_ctx = inst.reset_ctx;
    }
    if (reset_cb == nullptr || !reset_cb(reset_ctx)) {
        AGENT_LOG(AGENT_LOG_FATAL, "udp_recv_thread: 硬件重置失败，退出线程");
    }
}

void udp_recv_thread_entry(trans_udp_win32_t *inst) {
    AGENT_LOG(AGENT_LOG_INFO, "udp recv thread start");
    std::array<uint8_t, TRANS_UDP_WIN32_RECV_BUF_SIZE> buf{};
    while (inst->worker.running()) {
        sockaddr_in from{};
        int from_len = sizeof from;
        const int received = recvfrom(inst->sock, reinterpret_cast<char *>(buf.data()), static_cast<int>(buf.size()), 0,
                                      reinterpret_cast<sockaddr *>(&from), &from_len);
        const int error = received < 0 ? WSAGetLastError() : 0;
        if (!inst->worker.running()) {
            break;
        }
        std::array<uint8_t, TRANS_IPV4_LEN> src{};
        std::memcpy(src.data(), &from.sin_addr.s_addr, src.size());
        if (received > 0) {
            void *cb_ctx = nullptr;
            if (const trans_udp_recv_cb cb = receive_callback(*inst, cb_ctx)) {
                cb(cb_ctx, buf.data(), received, src.data(), ntohs(from.sin_port));
            }
            continue;
        }
        if (received == 0) {
            continue;  // an empty datagram: nothing to hand on
        }
        const RecvErrorAction action = vek::agent::udp_win32::on_receive_error(error, src.data());
        if (action == RecvErrorAction::kReset) {
            reset_from_thread(*inst);
            return;  // the instance is gone: not even the exit line below may read it
        }
        if (action == RecvErrorAction::kExit) {
            int32_t expected = 1;
            inst->is_open.compare_exchange_strong(expected, 0);
            break;
        }
    }
    AGENT_LOG(AGENT_LOG_INFO, "udp recv thread exit");
}

// Ends a blocking receive at once: an empty datagram from the instance to its own port.
void wake_receiver(trans_udp_win32_t &inst) {
    sockaddr_in self{};
    int self_len = sizeof self;
    SocketCall call(inst);
    if (getsockname(inst.sock, reinterpret_cast<sockaddr *>(&self), &self_len) == 0) {
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(inst.sock, "", 0, 0, reinterpret_cast<const sockaddr *>(&self), sizeof self);
    }
}

}  // namespace

namespace vek::agent::udp_win32 {

uint16_t choose_port(uint16_t requested, bool (*in_use)(uint16_t port)) {
    if (!in_use(requested)) {
        return requested;
    }
    AGENT_LOG(AGENT_LOG_WARN, "trans_hw_init: 端口%d已被占用，尝试备用端口", static_cast<int>(requested));
    for (const uint16_t candidate : kFallbackPorts) {
        if (candidate != requested && !in_use(candidate)) {
            AGENT_LOG(AGENT_LOG_INFO, "trans_hw_init: 选择备用端口%d", static_cast<int>(candidate));
            return candidate;
        }
    }
    return requested;
}

RecvErrorAction on_receive_error(int error, const uint8_t *src_ip) {
    const auto part = [src_ip](size_t i) { return static_cast<int>(src_ip[i]); };
    switch (error) {
    case WSAETIMEDOUT:
    case WSAEINTR:
        return RecvErrorAction::kContinue;
    case WSAECONNRESET:
        // An earlier send reached a closed port; the report says nothing about this socket.
        AGENT_LOG(AGENT_LOG_DEBUG, "udp_recv_thread: 收到ICMP重置 from %d.%d.%d.%d", part(0), part(1), part(2), part(3));
        return RecvErrorAction::kContinue;
    case WSAEMSGSIZE:
        AGENT_LOG(AGENT_LOG_WARN, "udp_recv_thread: 报文超过%u字节，丢弃 from %d.%d.%d.%d",
                  static_cast<unsigned>(TRANS_UDP_WIN32_RECV_BUF_SIZE), part(0), part(1), part(2), part(3));
        return RecvErrorAction::kContinue;
    case WSAENOTSOCK:
        return RecvErrorAction::kReset;
    default:
        AGENT_LOG(AGENT_LOG_ERROR, "udp_recv_thread: 套接字错误: %d，退出接收线程", error);
        return RecvErrorAction::kExit;
    }
}

}  // namespace vek::agent::udp_win32

extern "C" {

bool trans_udp_win32_winsock_ready(void) {
    // Started once per process and never shut down: other parts of the process may use it too.
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(kWinsockVersion, &data) == 0;
    }();
    return started;
}

int trans_udp_win32_port_in_use(uint16_t port) {
    if (!trans_udp_win32_winsock_ready()) {
        return 0;
    }
    const SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (probe == INVALID_SOCKET) {
        return 0;
    }
    const sockaddr_in address = ipv4_address(INADDR_ANY, port);
    const bool in_use = bind(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
                        WSAGetLastError() == WSAEADDRINUSE;
    closesocket(probe);
    return in_use ? 1 : 0;
}

trans_udp_win32_t *trans_udp_win32_create(void) {
    if (!trans_udp_win32_winsock_ready()) {
        AGENT_LOG(AGENT_LOG_ERROR, "WSAStartup failed");
        return nullptr;
    }
    InstancePtr inst(new (std::nothrow) trans_udp_win32_t());
    if (!inst) {
        AGENT_LOG(AGENT_LOG_ERROR, "malloc trans_udp_win32_t failed");
        return nullptr;
    }
    inst->sock = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (inst->sock == INVALID_SOCKET) {
        AGENT_LOG(AGENT_LOG_ERROR, "socket create failed errno:%d", WSAGetLastError());
        return nullptr;
    }
    set_socket_options(inst->sock);
    return inst.release();
}

int trans_udp_win32_bind(trans_udp_win32_t *inst, uint16_t port) {
    if (!valid_instance(inst)) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    if (inst->is_open.load() != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "udp instance already bind");
        return TRANS_UDP_ERR_STATE;
    }
    const sockaddr_in address = ipv4_address(INADDR_ANY, port);
    int error = 0;
    {
        SocketCall call(*inst);
        if (bind(inst->sock, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            error = WSAGetLastError();
        }
    }
    if (error != 0) {
        AGENT_LOG(AGENT_LOG_DEBUG, "trans_bind_port: Windows端口%d绑定失败 [错误:%d]", static_cast<int>(port), error);
        return TRANS_UDP_ERR_BIND;
    }
    int32_t expected = 0;
    inst->is_open.compare_exchange_strong(expected, 1);
    AGENT_LOG(AGENT_LOG_INFO, "trans_bind_port: Windows成功绑定端口%d", static_cast<int>(port));
    return TRANS_UDP_OK;
}

int trans_udp_win32_get_bound_port(trans_udp_win32_t *inst) {
    if (!valid_instance(inst) || inst->is_open.load() == 0) {
        return TRANS_UDP_ERR_STATE;
    }
    sockaddr_in address{};
    int address_len = sizeof address;
    SocketCall call(*inst);
    if (getsockname(inst->sock, reinterpret_cast<sockaddr *>(&address), &address_len) != 0) {
        return TRANS_UDP_ERR_RECV;
    }
    return ntohs(address.sin_port);
}

void trans_udp_win32_set_recv_callback(trans_udp_win32_t *inst, trans_udp_recv_cb cb, void *ctx) {
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

void trans_udp_win32_set_reset_callback(trans_udp_win32_t *inst, trans_udp_reset_cb cb, void *ctx) {
    if (inst == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(inst->cb_lock);
    inst->reset_cb = cb;
    inst->reset_ctx = ctx;
}

int trans_udp_win32_start_recv_thread(trans_udp_win32_t *inst) {
    if (!valid_instance(inst) || inst->is_open.load() == 0) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    return inst->worker.start("CreateThread", udp_recv_thread_entry, inst);
}

void trans_udp_win32_stop_recv_thread(trans_udp_win32_t *inst) {
    if (inst == nullptr) {
        return;
    }
    inst->worker.stop([inst] {
        if (valid_instance(inst)) {
            wake_receiver(*inst);  // without it the receive time-out still ends the thread
        }
    });
}

int trans_udp_win32_sendto_bin(trans_udp_win32_t *inst, const uint8_t *ip, uint16_t port, const uint8_t *buf,
                               int32_t len, int *error) {
    if (error != nullptr) {
        *error = 0;
    }
    if (!valid_instance(inst) || inst->is_open.load() == 0 || ip == nullptr || buf == nullptr || len <= 0) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    sockaddr_in address = ipv4_address(INADDR_ANY, port);
    std::memcpy(&address.sin_addr.s_addr, ip, TRANS_IPV4_LEN);
    int sent = 0;
    int failure = 0;
    {
        SocketCall call(*inst);
        sent = sendto(inst->sock, reinterpret_cast<const char *>(buf), len, 0,
                      reinterpret_cast<const sockaddr *>(&address), sizeof address);
        failure = sent == SOCKET_ERROR ? WSAGetLastError() : 0;
    }
    if (sent == SOCKET_ERROR) {
        if (error != nullptr) {
            *error = failure;
        }
        return TRANS_UDP_ERR_SEND;
    }
    return sent;
}

int trans_udp_win32_recvfrom_bin(trans_udp_win32_t *inst, uint8_t *buf, int32_t len, uint32_t *src_ip,
                                 uint16_t *src_port) {
    if (!valid_instance(inst) || buf == nullptr || len <= 0) {
        return TRANS_UDP_ERR_BAD_ARG;
    }
    WSAPOLLFD entry{};
    entry.fd = inst->sock;
    entry.events = POLLRDNORM;
    if (WSAPoll(&entry, 1, 0) < 1) {
        return 0;  // nothing pending
    }
    sockaddr_in address{};
    int address_len = sizeof address;
    const int received = recvfrom(inst->sock, reinterpret_cast<char *>(buf), len, 0,
                                  reinterpret_cast<sockaddr *>(&address), &address_len);
    if (received < 0) {
        return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : TRANS_UDP_ERR_RECV;
    }
    if (src_ip != nullptr) {
        *src_ip = address.sin_addr.s_addr;
    }
    if (src_port != nullptr) {
        *src_port = ntohs(address.sin_port);
    }
    return received;
}

void trans_udp_win32_destroy(trans_udp_win32_t *inst) {
    if (inst == nullptr) {
        return;
    }
    InstancePtr owner(inst);
    trans_udp_win32_stop_recv_thread(owner.get());
    {
        SocketCall call(*owner);
        if (owner->sock != INVALID_SOCKET) {
            closesocket(owner->sock);
            owner->sock = INVALID_SOCKET;
        }
    }
    int32_t expected = 1;
    owner->is_open.compare_exchange_strong(expected, 0);
}

}  // extern "C"
