// ETH interface kind: IPv4 UDP sockets. Keeps the set of sockets the manager listens on, one
// receive thread that waits on the whole set and queues every datagram with its sender, and the
// dynamic-port socket through which the kind's own send and receive operations go. The system's
// side (sockets, the poller the thread waits on) is in net_eth_<system>.cpp.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <span>
#include <thread>
#include <vector>

#include "base/agent_log.h"
#include "base/platform.h"
#include "nms/net_eth_os.h"
#include "nms/net_interface.h"
#include "nms/net_internal.h"
#include "nms/nms_types_internal.h"

namespace {

using vek::nms::MutexGuard;
namespace os = vek::nms::net;
namespace poller = vek::nms::net::poller;

constexpr uint16_t kAnyPort = 0;
constexpr int kPollTimeoutMs = static_cast<int>(NET_ETH_POLL_TIMEOUT_MS);
constexpr size_t kReadyBatch = 64;  // ready sockets taken from one wait
using BusyClock = std::chrono::steady_clock;  // monotonic: a clock step must not stretch the window
constexpr auto kBusyPollMax = std::chrono::microseconds(NET_ETH_BUSY_POLL_MAX_US);
constexpr auto kBusyPollStart = std::chrono::microseconds(10);  // first window after a near miss

// Sockets watched by the receive thread. The set's mutex lives as long as the process; `active`
// stands for the set being set up (eth_socket_set_init) and not yet torn down (eth_destroy):
// additions and removals outside that window are ignored. The system keeps the same set in the
// poller (changed under the set's mutex), on which the receive thread waits.
struct SocketSet {
    std::vector<platform_socket_t> members;  // ascending, no duplicates
    bool active = false;
};

SocketSet g_socket_set;

// The dynamic-port socket (NET_INVALID_SOCKET while not created) and the receive thread's running
// flag are read by the receive thread and by senders; the thread handle is touched only by start
// and destroy, which the layer serialises.
std::atomic<platform_socket_t> g_dynamic_sock{NET_INVALID_SOCKET};
std::atomic<bool> g_running{false};
platform_thread_t g_thread = nullptr;

// A socket leaves the set only once the receive thread is done with the round in which it left:
// that round's wait may already have reported it, and once closed its number could be handed to
// a new file. The remover wakes the thread through the poller and waits for the next round.
constexpr auto kRoundWaitLimit = std::chrono::milliseconds(2 * NET_ETH_POLL_TIMEOUT_MS);
std::atomic<uint64_t> g_receive_thread_id{0};
std::atomic<uint64_t> g_round{0};  // advanced under the set's mutex at the start of each round
std::mutex g_round_mutex;          // pairs with g_round_changed for waiting removers
std::condition_variable g_round_changed;

platform_mutex_t set_mutex() noexcept {
    static const platform_mutex_t mutex = platform_mutex_create();
    return mutex;
}

// Starts a receive round: the thread is done with what the previous wait reported. Announced to
// removers waiting for it.
void begin_round() noexcept {
    {
        MutexGuard guard(set_mutex());
        g_round.fetch_add(1, std::memory_order_acq_rel);
    }
    {
        std::lock_guard<std::mutex> lock(g_round_mutex);  // no waiter misses the notification
    }
    g_round_changed.notify_all();
}

// Called after a socket left the set during round `removed_in`: returns once the receive thread has
// begun a new round, so that nothing it still holds refers to that socket.
void wait_until_unwatched(uint64_t removed_in) noexcept {
    if (!g_running.load(std::memory_order_acquire) ||
        platform_thread_id() == g_receive_thread_id.load(std::memory_order_acquire)) {
        return;
    }
    std::unique_lock<std::mutex> lock(g_round_mutex);
    poller::wake();
    g_round_changed.wait_for(lock, kRoundWaitLimit, [removed_in] {
        return g_round.load(std::memory_order_acquire) != removed_in ||
               !g_running.load(std::memory_order_acquire);
    });
}

// Takes the socket out of the set; returns the receive round during which that happened.
uint64_t remove_member(platform_socket_t sock) noexcept {
    MutexGuard guard(set_mutex());
    if (g_socket_set.active) {
        std::vector<platform_socket_t> &members = g_socket_set.members;
        auto position = std::lower_bound(members.begin(), members.end(), sock);
        if (position != members.end() && *position == sock) {
            members.erase(position);
            poller::unwatch(sock);
        }
    }
    return g_round.load(std::memory_order_acquire);
}

// Receives one datagram from a ready socket without blocking and queues it with its sender.
// Errors and empty datagrams are skipped. False, with the datagram left in its socket, when the
// queue has no room.
bool receive_one(platform_socket_t sock) noexcept {
    if (!vek::nms::net::queue_has_room()) {
        return false;
    }
    // The payload area is as large as a UDP datagram and only its first len bytes are ever read:
    // it is not cleared for every datagram.
    net_recv_packet packet;
    packet.next = nullptr;
    if (os::receive_ready(sock, packet) == os::Received::kDatagram) {
        packet.sock = sock;
        static_cast<void>(net_interface_enqueue(&packet));
    }
    return true;
}

// Binds the dynamic socket to a port of the system's choosing; logs and closes it on failure.
api_snmp_err bind_dynamic_port(platform_socket_t sock) noexcept {
    constexpr const char *kTag = "eth_bind_dynamic_port";
    if (net_udp_bind(sock, kAnyPort) != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 绑定动态端口失败", kTag);
        net_socket_close(sock);
        return API_SNMP_ERR_NETWORK;
    }
    uint16_t port = 0;
    if (os::local_port(sock, port)) {
        AGENT_LOG(AGENT_LOG_INFO, "%s: 已绑定动态端口：%d", kTag, static_cast<int>(port));
    }
    return API_SNMP_OK;
}

// Starts the receive thread over the socket set; false when no thread could be created.
bool start_receive_thread() noexcept {
    if (!poller::open_wake()) {
        return false;
    }
    g_running.store(true, std::memory_order_release);
    g_thread = platform_thread_create(eth_interrupt_thread_proc, nullptr);
    if (g_thread == nullptr) {
        g_running.store(false, std::memory_order_release);
        poller::close_wake();
        return false;
    }
    return true;
}

void stop_receive_thread() noexcept {
    g_running.store(false, std::memory_order_release);
    poller::wake();  // end the current wait at once
    vek::nms::net::queue_wake_waiters();
    platform_thread_join(g_thread);
    g_thread = nullptr;
    poller::close_wake();
}

void close_dynamic_socket() noexcept {
    platform_socket_t sock = g_dynamic_sock.exchange(NET_INVALID_SOCKET, std::memory_order_acq_rel);
    if (sock != NET_INVALID_SOCKET) {
        eth_socket_set_remove(sock);
        net_socket_close(sock);
    }
}

}  // namespace

extern "C" {

// ---- Socket set ----

void eth_socket_set_init(void) {
    {
        MutexGuard guard(set_mutex());
        g_socket_set.members.clear();
        g_socket_set.active = true;
        static_cast<void>(poller::open());
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: ETH 套接字集合初始化完成", "eth_socket_set_init");
}

void eth_socket_set_add(platform_socket_t sock) {
    if (!platform_socket_valid(sock)) {
        return;
    }
    MutexGuard guard(set_mutex());
    if (!g_socket_set.active) {
        return;
    }
    std::vector<platform_socket_t> &members = g_socket_set.members;
    auto position = std::lower_bound(members.begin(), members.end(), sock);
    if (position != members.end() && *position == sock) {
        return;
    }
    try {
        position = members.insert(position, sock);
    } catch (const std::bad_alloc &) {
        // The socket stays unwatched; nothing else is affected.
        return;
    }
    if (!poller::watch(sock)) {
        members.erase(position);
    }
}

void eth_socket_set_remove(platform_socket_t sock) {
    if (platform_socket_valid(sock)) {
        static_cast<void>(remove_member(sock));
    }
}

void eth_socket_unwatch(platform_socket_t sock) {
    if (platform_socket_valid(sock)) {
        wait_until_unwatched(remove_member(sock));
    }
}

// ---- Receive thread ----

// How long the receive thread looks for the next datagram without sleeping before it waits for
// one. Waking a thread on an idle processor costs tens of microseconds on virtual machines, more
// than a whole loopback round trip, while an answer often follows the last one within microseconds
// (an application sends its next request from the callback). Like halt polling, the window grows
// while datagrams keep arriving soon after the thread went to sleep and shrinks when they do not,
// so a quiet SDK, or one whose answers come further apart than the longest window, never spins.
class BusyPollWindow {
   public:
    BusyClock::duration length() const noexcept { return length_; }

    // Records how a round ended: `caught` when the look without sleeping found the datagram, and
    // `idle` the time from the round's start to the datagram (or to the wait's time-out).
    void update(bool caught, BusyClock::duration idle) noexcept {
        if (caught) {
            return;
        }
        if (idle <= kBusyPollMax) {
            length_ = std::min<BusyClock::duration>(length_ == BusyClock::duration::zero() ? kBusyPollStart : 2 * length_,
                                                    kBusyPollMax);
        } else {
            length_ = length_ / 2 < kBusyPollStart ? BusyClock::duration::zero() : length_ / 2;
        }
    }

   private:
    BusyClock::duration length_ = BusyClock::duration::zero();
};

// Looks for ready sockets without sleeping for at most `busy` (giving the processor to any other
// ready thread between looks), then waits for at most the round's time-out. Returns what the
// poller returned last; `caught` tells whether a look without sleeping found something.
int wait_for_sockets(std::span<platform_socket_t> ready, BusyClock::duration busy, bool &caught) noexcept {
    const BusyClock::time_point busy_until = BusyClock::now() + busy;
    bool woken = false;
    caught = true;
    while (BusyClock::now() < busy_until) {
        const int count = poller::wait(ready, 0, woken);
        if (count != 0 || woken) {
            return count;
        }
        std::this_thread::yield();
    }
    caught = false;
    return poller::wait(ready, kPollTimeoutMs, woken);
}

// Waits on the socket set for at most 100 ms per round, after looking without sleeping for the
// busy-poll window, then takes one datagram from each ready socket. Back-pressure: while the queue
// is full the thread takes nothing off the sockets, whose own buffers hold what arrives meanwhile,
// and waits for room instead.
void *eth_interrupt_thread_proc(void * /*arg*/) {
    g_receive_thread_id.store(platform_thread_id(), std::memory_order_release);
    std::array<platform_socket_t, kReadyBatch> ready{};
    BusyPollWindow window;
    while (g_running.load(std::memory_order_acquire)) {
        begin_round();
        if (!vek::nms::net::queue_has_room()) {
            static_cast<void>(vek::nms::net::queue_wait_for_room(NET_ETH_POLL_TIMEOUT_MS));
            continue;
        }
        const BusyClock::time_point round_start = BusyClock::now();
        bool caught = false;
        const int count = wait_for_sockets(ready, window.length(), caught);
        window.update(caught, BusyClock::now() - round_start);
        for (const platform_socket_t sock : std::span(ready).first(static_cast<size_t>(std::max(count, 0)))) {
            if (!receive_one(sock)) {
                break;  // queue full: the rest stay in their sockets until there is room
            }
        }
    }
    return nullptr;
}

// ---- Kind operations ----

api_snmp_err net_eth_init(void) {
    constexpr const char *kTag = "net_eth_init";
    if (g_dynamic_sock.load(std::memory_order_acquire) != NET_INVALID_SOCKET) {
        return API_SNMP_OK;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 初始化 ETH 网络接口", kTag);
    platform_socket_t sock = net_udp_socket_create();
    if (sock == NET_INVALID_SOCKET) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 创建UDP失败", kTag);
        return API_SNMP_ERR_NETWORK;
    }
    api_snmp_err bound = bind_dynamic_port(sock);
    if (bound != API_SNMP_OK) {
        return bound;
    }
    g_dynamic_sock.store(sock, std::memory_order_release);
    eth_socket_set_add(sock);
    if (!start_receive_thread()) {
        close_dynamic_socket();
        return API_SNMP_ERR_NO_RESOURCE;
    }
    const net_interface_ops ops = {NET_IF_ETH, eth_send, eth_recv, eth_destroy, 0};
    api_snmp_err registered = net_interface_register(&ops);
    if (registered != API_SNMP_OK) {
        eth_destroy();
        return registered;
    }
    return API_SNMP_OK;
}

api_snmp_err eth_send(const char *ip, uint16_t port, const uint8_t *data, uint32_t len) {
    platform_socket_t sock = g_dynamic_sock.load(std::memory_order_acquire);
    if (sock == NET_INVALID_SOCKET) {
        return API_SNMP_ERR_NETWORK;
    }
    int sent = net_udp_sendto(sock, ip, port, data, len);
    if (sent < 1 || static_cast<uint32_t>(sent) != len) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 发送失败", "eth_send");
        return API_SNMP_ERR_NETWORK;
    }
    return API_SNMP_OK;
}

api_snmp_err eth_recv(uint8_t *buf, uint32_t size, uint32_t *out_len, char *ip_out, uint16_t *port_out) {
    if (out_len == nullptr || ip_out == nullptr || port_out == nullptr) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    *out_len = 0;
    std::fill_n(ip_out, NET_IP_TEXT_SIZE, '\0');
    *port_out = 0;
    int received = platform_udp_recvfrom(g_dynamic_sock.load(std::memory_order_acquire), buf, size, ip_out,
                                         port_out, NET_ETH_RECV_TIMEOUT_MS);
    if (received < 0) {
        return API_SNMP_ERR_NETWORK;
    }
    if (received == 0) {
        return API_SNMP_ERR_TIMEOUT;
    }
    *out_len = static_cast<uint32_t>(received);
    return API_SNMP_OK;
}

void eth_destroy(void) {
    stop_receive_thread();
    close_dynamic_socket();
    {
        MutexGuard guard(set_mutex());
        std::vector<platform_socket_t>().swap(g_socket_set.members);
        g_socket_set.active = false;
        poller::close();
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: ETH 资源销毁完成", "eth_destroy");
}

uint16_t eth_dynamic_port(void) {
    platform_socket_t sock = g_dynamic_sock.load(std::memory_order_acquire);
    uint16_t port = 0;
    if (sock == NET_INVALID_SOCKET || !os::local_port(sock, port)) {
        return 0;
    }
    return port;
}

}  // extern "C"
