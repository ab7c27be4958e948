// The process's single receive queue: a bounded first-in-first-out list of heap-allocated packets,
// a mutex over the list and a counting semaphore posted once per queued packet. Producers are the
// ETH receive thread and interrupt-driven kinds; the consumer is the SNMP core's receive thread.
// A producer that must not lose datagrams (the ETH receive thread) waits for room instead of
// queueing into a full queue; the consumer tells it when a full queue gets room again.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/agent_log.h"
#include "base/platform.h"
#include "nms/net_interface.h"
#include "nms/net_internal.h"
#include "nms/nms_types_internal.h"

namespace {

using vek::nms::MutexGuard;

constexpr const char *kQueueInitTag = "net_interface_init_queue";
constexpr const char *kEnqueueTag = "net_queue_enqueue";
constexpr uint32_t kSemInitialCount = 0;

struct PacketFree {
    void operator()(net_recv_packet *packet) const noexcept { platform_free(packet); }
};
using PacketPtr = std::unique_ptr<net_recv_packet, PacketFree>;

// The list links packets through their own next field; the queue owns every linked packet.
struct net_recv_queue {
    net_recv_packet *head = nullptr;
    net_recv_packet *tail = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    platform_mutex_t mutex = nullptr;
    platform_sem_t sem = nullptr;
};

net_recv_queue g_recv_queue;

// Producers waiting for room. `g_room_wakes` counts queue_wake_waiters calls (guarded by
// g_room_mutex), so that a stopping producer is released whether or not there is room.
std::mutex g_room_mutex;
std::condition_variable g_room_changed;
uint64_t g_room_wakes = 0;

bool has_room() noexcept {
    MutexGuard guard(g_recv_queue.mutex);
    return g_recv_queue.count < g_recv_queue.capacity;
}

void announce_room() noexcept {
    {
        std::lock_guard<std::mutex> lock(g_room_mutex);  // no waiter misses the notification
    }
    g_room_changed.notify_all();
}

PacketPtr allocate_packet() noexcept {
    return PacketPtr(static_cast<net_recv_packet *>(platform_malloc(sizeof(net_recv_packet))));
}

// Copies payload, length, sender address (cut to 31 characters), port and receiving socket; the
// link stays clear.
void copy_packet(net_recv_packet &dst, const net_recv_packet &src) noexcept {
    std::copy_n(src.data, src.len, dst.data);
    dst.len = src.len;
    platform_strcpy_s(dst.ip, sizeof(dst.ip), src.ip);
    dst.port = src.port;
    dst.sock = src.sock;
    dst.next = nullptr;
}

bool valid_length(uint32_t len) noexcept {
    return len >= 1 && len <= NET_MAX_PACKET_SIZE;
}

// Appends under the queue mutex; false when the queue is full (the packet stays with the caller).
bool append(PacketPtr &packet) noexcept {
    MutexGuard guard(g_recv_queue.mutex);
    if (g_recv_queue.count >= g_recv_queue.capacity) {
        return false;
    }
    net_recv_packet *node = packet.release();
    if (g_recv_queue.tail != nullptr) {
        g_recv_queue.tail->next = node;
    } else {
        g_recv_queue.head = node;
    }
    g_recv_queue.tail = node;
    ++g_recv_queue.count;
    return true;
}

// Unlinks the oldest packet under the queue mutex; empty when there is none. `was_full` tells
// whether the queue had no room before.
PacketPtr take_head(bool &was_full) noexcept {
    MutexGuard guard(g_recv_queue.mutex);
    PacketPtr head(g_recv_queue.head);
    was_full = g_recv_queue.count >= g_recv_queue.capacity;
    if (head) {
        g_recv_queue.head = head->next;
        if (g_recv_queue.head == nullptr) {
            g_recv_queue.tail = nullptr;
        }
        --g_recv_queue.count;
    }
    return head;
}

}  // namespace

namespace vek::nms::net {

bool queue_init() noexcept {
    g_recv_queue.head = nullptr;
    g_recv_queue.tail = nullptr;
    g_recv_queue.count = 0;
    g_recv_queue.capacity = NET_RECV_QUEUE_CAPACITY;
    g_recv_queue.mutex = platform_mutex_create();
    g_recv_queue.sem = platform_sem_create(kSemInitialCount, NET_RECV_QUEUE_CAPACITY);
    if (g_recv_queue.sem == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "[%s] 创建信号量失败", kQueueInitTag);
        platform_mutex_destroy(g_recv_queue.mutex);
        g_recv_queue.mutex = nullptr;
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "[%s] 接收队列初始化完成（最大容量：%u）", kQueueInitTag,
              static_cast<unsigned>(NET_RECV_QUEUE_CAPACITY));
    if (g_recv_queue.mutex == nullptr) {
        platform_sem_destroy(g_recv_queue.sem);
        g_recv_queue.sem = nullptr;
        return false;
    }
    return true;
}

bool queue_has_room() noexcept { return has_room(); }

bool queue_wait_for_room(uint32_t timeout_ms) noexcept {
    std::unique_lock<std::mutex> lock(g_room_mutex);
    const uint64_t wakes = g_room_wakes;
    return g_room_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [wakes] { return g_room_wakes != wakes || has_room(); }) &&
           has_room();
}

void queue_wake_waiters() noexcept {
    {
        std::lock_guard<std::mutex> lock(g_room_mutex);
        ++g_room_wakes;
    }
    g_room_changed.notify_all();
}

void queue_release() noexcept {
    {
        MutexGuard guard(g_recv_queue.mutex);
        while (g_recv_queue.head != nullptr) {
            PacketPtr packet(g_recv_queue.head);
            g_recv_queue.head = packet->next;
        }
        g_recv_queue.tail = nullptr;
        g_recv_queue.count = 0;
    }
    platform_mutex_destroy(g_recv_queue.mutex);
    g_recv_queue.mutex = nullptr;
    platform_sem_destroy(g_recv_queue.sem);
    g_recv_queue.sem = nullptr;
}

}  // namespace vek::nms::net

extern "C" {

api_snmp_err net_interface_enqueue(const net_recv_packet *packet) {
    if (!vek::nms::net::layer_ready() || packet == nullptr || !valid_length(packet->len)) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    PacketPtr node = allocate_packet();
    if (!node) {
        return API_SNMP_ERR_NO_MEMORY;
    }
    copy_packet(*node, *packet);
    if (!append(node)) {
        AGENT_LOG(AGENT_LOG_WARN, "[%s] 队列满，丢弃数据", kEnqueueTag);
        return API_SNMP_ERR_NO_RESOURCE;
    }
    platform_sem_post(g_recv_queue.sem);
    return API_SNMP_OK;
}

api_snmp_err net_interface_dequeue(net_recv_packet *out, uint32_t timeout_ms) {
    if (out == nullptr || !vek::nms::net::layer_ready()) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (platform_sem_timedwait(g_recv_queue.sem, timeout_ms) != PLATFORM_SEM_OK) {
        return API_SNMP_ERR_TIMEOUT;
    }
    bool was_full = false;
    PacketPtr packet = take_head(was_full);
    if (!packet) {
        return API_SNMP_ERR_NO_DATA;
    }
    if (was_full) {
        announce_room();
    }
    copy_packet(*out, *packet);
    return API_SNMP_OK;
}

}  // extern "C"
