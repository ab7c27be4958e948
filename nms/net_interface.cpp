// Kind-neutral part of the network interface layer: the registry of interface kinds, the layer's
// start and shutdown, the socket operations that route to the current kind, and the interrupt entry.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "base/agent_log.h"
#include "base/platform.h"
#include "nms/net_interface.h"
#include "nms/net_internal.h"
#include "nms/nms_types_internal.h"

namespace {

using vek::nms::MutexGuard;
using Registry = std::array<net_interface_ops, NET_IF_TYPE_COUNT>;

constexpr const char *kInitTag = "net_interface_init";
constexpr const char *kBindTag = "net_interface_bind";

// Written only under lifecycle_mutex(); read from any thread.
std::atomic<bool> g_initialised{false};
std::atomic<uint32_t> g_current_type{NET_IF_ETH};

// Slots indexed by type; guarded by registry_mutex().
Registry g_registry{};

// Serialises start, shutdown and kind switches. Lives as long as the process.
platform_mutex_t lifecycle_mutex() noexcept {
    static const platform_mutex_t mutex = platform_mutex_create();
    return mutex;
}

// Guards the registry slots; held only while a slot is read or written.
platform_mutex_t registry_mutex() noexcept {
    static const platform_mutex_t mutex = platform_mutex_create();
    return mutex;
}

net_interface_ops slot_copy(uint32_t type) noexcept {
    MutexGuard guard(registry_mutex());
    return g_registry[type];
}

Registry registry_copy() noexcept {
    MutexGuard guard(registry_mutex());
    return g_registry;
}

void registry_clear() noexcept {
    MutexGuard guard(registry_mutex());
    g_registry = Registry{};
}

bool eth_is_current() noexcept {
    return g_current_type.load(std::memory_order_acquire) == NET_IF_ETH;
}

bool valid_length(uint32_t len) noexcept {
    return len >= 1 && len <= NET_MAX_PACKET_SIZE;
}

// True when another registered kind already claims this non-zero port.
bool port_claimed(const Registry &registry, uint32_t type, uint16_t port) noexcept {
    if (port == 0) {
        return false;
    }
    for (uint32_t other = 0; other < NET_IF_TYPE_COUNT; ++other) {
        if (other != type && registry[other].send != nullptr && registry[other].port == port) {
            return true;
        }
    }
    return false;
}

// Runs each destroy routine once: the current kind's first, then every registered kind's, then the
// two built-in kinds' (even when another registration has taken their slot), so that a later start
// finds every kind in its initial state.
void destroy_all_kinds() noexcept {
    const Registry registry = registry_copy();
    constexpr size_t kBuiltInKinds = 2;  // ETH and ES
    std::array<net_if_destroy_fn, NET_IF_TYPE_COUNT + kBuiltInKinds> done{};
    size_t done_count = 0;
    auto run_once = [&](net_if_destroy_fn destroy) {
        if (destroy == nullptr ||
            std::find(done.begin(), done.begin() + done_count, destroy) != done.begin() + done_count) {
            return;
        }
        done[done_count++] = destroy;
        destroy();
    };
    const uint32_t current = g_current_type.load(std::memory_order_acquire);
    if (current < NET_IF_TYPE_COUNT) {
        run_once(registry[current].destroy);
    }
    for (const net_interface_ops &ops : registry) {
        run_once(ops.destroy);
    }
    run_once(eth_destroy);
    run_once(es_destroy);
}

}  // namespace

namespace vek::nms::net {

bool layer_ready() noexcept {
    return g_initialised.load(std::memory_order_acquire);
}

}  // namespace vek::nms::net

using vek::nms::net::layer_ready;

extern "C" {

api_snmp_err net_interface_init(void) {
    MutexGuard lifecycle(lifecycle_mutex());
    if (layer_ready()) {
        return API_SNMP_OK;
    }
    if (platform_init() == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "[%s] 平台初始化失败", kInitTag);
        return API_SNMP_ERR_INIT_FAILED;
    }
    if (!vek::nms::net::queue_init()) {
        platform_deinit();
        return API_SNMP_ERR_INIT_FAILED;
    }
    eth_socket_set_init();
    api_snmp_err eth_result = net_eth_init();
    if (eth_result != API_SNMP_OK) {
        vek::nms::net::queue_release();
        platform_deinit();
        return eth_result;
    }
    static_cast<void>(net_es_init());
    g_current_type.store(NET_IF_ETH, std::memory_order_release);
    g_initialised.store(true, std::memory_order_release);
    return API_SNMP_OK;
}

void net_interface_deinit(void) {
    MutexGuard lifecycle(lifecycle_mutex());
    if (!layer_ready()) {
        return;
    }
    g_initialised.store(false, std::memory_order_release);
    destroy_all_kinds();
    vek::nms::net::queue_release();
    registry_clear();
    g_current_type.store(NET_IF_ETH, std::memory_order_release);
    platform_deinit();
}

api_snmp_err net_interface_register(const net_interface_ops *ops) {
    if (ops == nullptr || ops->type >= NET_IF_TYPE_COUNT) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (ops->send == nullptr || ops->recv == nullptr) {
        return API_SNMP_ERR_NET_INTERFACE;
    }
    MutexGuard guard(registry_mutex());
    if (port_claimed(g_registry, ops->type, ops->port)) {
        return API_SNMP_ERR_PORT_IN_USE;
    }
    g_registry[ops->type] = *ops;
    return API_SNMP_OK;
}

api_snmp_err net_interface_set_current_type(uint32_t type) {
    MutexGuard lifecycle(lifecycle_mutex());
    if (!layer_ready() || type >= NET_IF_TYPE_COUNT) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    const net_interface_ops target = slot_copy(type);
    if (target.send == nullptr || target.recv == nullptr) {
        return API_SNMP_ERR_NET_INTERFACE;
    }
    const uint32_t current = g_current_type.load(std::memory_order_acquire);
    if (type != current) {
        const net_interface_ops previous = slot_copy(current);
        if (previous.destroy != nullptr) {
            previous.destroy();
        }
    }
    g_current_type.store(type, std::memory_order_release);
    return API_SNMP_OK;
}

platform_socket_t net_interface_create_udp_socket(void) {
    if (!layer_ready() || !eth_is_current()) {
        return NET_INVALID_SOCKET;
    }
    platform_socket_t sock = net_udp_socket_create();
    if (sock != NET_INVALID_SOCKET) {
        eth_socket_set_add(sock);
    }
    return sock;
}

api_snmp_err net_interface_bind(platform_socket_t sock, uint16_t port) {
    if (!layer_ready() || !eth_is_current() || sock == NET_INVALID_SOCKET || port == 0) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (platform_check_port_in_use(port) != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "[%s] 端口%u已被占用", kBindTag, static_cast<unsigned>(port));
        return API_SNMP_ERR_PORT_IN_USE;
    }
    return net_udp_bind(sock, port) == 0 ? API_SNMP_OK : API_SNMP_ERR_NETWORK;
}

api_snmp_err net_interface_send_to(platform_socket_t sock, const char *ip, uint16_t port, const uint8_t *data,
                                   uint32_t len) {
    if (!layer_ready() || ip == nullptr || data == nullptr || !valid_length(len)) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (!eth_is_current()) {
        const net_interface_ops current = slot_copy(g_current_type.load(std::memory_order_acquire));
        return current.send != nullptr ? current.send(ip, port, data, len) : API_SNMP_ERR_NET_INTERFACE;
    }
    return net_udp_sendto(sock, ip, port, data, len) < 1 ? API_SNMP_ERR_NETWORK : API_SNMP_OK;
}

void net_interface_close(platform_socket_t sock) {
    if (!layer_ready() || !eth_is_current() || sock == NET_INVALID_SOCKET) {
        return;
    }
    // Leave the set first so that the receive thread stops watching before the number is reused.
    eth_socket_unwatch(sock);
    net_socket_close(sock);
}

api_snmp_err net_interface_on_interrupt(uint8_t *buf, uint32_t len) {
    if (!layer_ready() || buf == nullptr || !valid_length(len)) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    const net_interface_ops current = slot_copy(g_current_type.load(std::memory_order_acquire));
    if (current.recv == nullptr) {
        return API_SNMP_ERR_NET_INTERFACE;
    }
    net_recv_packet packet{};
    packet.sock = NET_INVALID_SOCKET;  // the kind's recv names no socket
    uint32_t out_len = 0;
    api_snmp_err result = current.recv(buf, len, &out_len, packet.ip, &packet.port);
    if (result != API_SNMP_OK) {
        return result;
    }
    packet.ip[NET_IP_TEXT_SIZE - 1] = '\0';
    packet.len = std::min(out_len, len);
    std::copy_n(buf, packet.len, packet.data);
    return net_interface_enqueue(&packet);
}

}  // extern "C"
