// SNMP core, first half: the core's context and lifecycle, the agent table with its address index,
// the send path with request identifiers and flow control, the trap listener, callbacks, settings
// and the listing operations.
//
// Locking: one list lock guards the agent list and every agent's request and SNMPv3 state; every
// public operation takes it for its whole work through CoreSection, which also delivers the
// outcomes decided meanwhile after the lock is released. The address index has its own lock, taken
// only inside the list lock. Agent records are owned by g_agents (newest at the back) and linked
// newest first through their next field.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <forward_list>
#include <memory>
#include <new>
#include <vector>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "base/platform.h"
#include "nms/core_snmpv3.h"
#include "nms/net_interface.h"
#include "nms/nms_core_internal.h"
#include "nms/nms_snmp_core.h"
#include "nms/nms_types_internal.h"
#include "nms/snmp_adapter.h"

namespace {

using vek::nms::MutexGuard;
using namespace vek::nms::core;

constexpr uint32_t kHashMultiplier = 31;
constexpr uint32_t kOidMaxComponentDigits = 19;
constexpr uint64_t kOidMaxComponentValue = 4294967295ULL;
constexpr uint32_t kOidMaxFirstComponent = 2;
constexpr uint32_t kFlowSecondShift = 32;
constexpr uint64_t kFlowCountMask = 0xFFFFFFFFULL;
constexpr int32_t kRequestIdRestart = 1;
constexpr uint8_t kWakeMarkerByte = 0;
constexpr char kWakeMarkerAddress[] = "0.0.0.0";

// ---- Context ----

std::atomic<platform_mutex_t> g_list_lock{nullptr};
std::atomic<platform_mutex_t> g_index_lock{nullptr};
std::atomic<bool> g_running{false};
platform_thread_t g_recv_thread = nullptr;  // written only by init and destroy

// Guarded by the list lock.
std::vector<std::unique_ptr<snmp_core_agent>> g_agents;  // oldest first
platform_socket_t g_trap_sock = NET_INVALID_SOCKET;
// Unbound sockets of removed agents, kept for the next agent. The network layer's receive thread
// waits on a copy of its socket set; a descriptor closed while the core runs could be reused at once
// for another file and read by that thread, so agent sockets are closed only when the core stops.
std::vector<platform_socket_t> g_spare_sockets;
api_snmp_trap_cb g_trap_cb = nullptr;
void *g_trap_user_data = nullptr;

std::atomic<api_snmp_response_cb> g_response_cb{nullptr};
std::atomic<uint32_t> g_log_level{AGENT_LOG_WARN};

// Flow-control window: calendar second in the upper half, requests counted in it in the lower half.
std::atomic<uint64_t> g_flow_window{0};

// Address index: a cache of agents by (ip, port); guarded by the index lock.
std::array<std::forward_list<snmp_core_agent *>, CORE_AGENT_INDEX_BUCKETS> g_index;

// Outcomes decided on this thread under the list lock, delivered once it is released.
thread_local std::vector<ResponseOutcome> t_outbox;

// ---- Helpers ----

uint32_t index_bucket(const char *ip, uint16_t port) noexcept {
    uint32_t hash = 0;
    for (const char *c = ip; *c != '\0'; ++c) {
        hash = hash * kHashMultiplier + static_cast<uint8_t>(*c);
    }
    return ((static_cast<uint32_t>(port) * 2u) ^ hash) & CORE_AGENT_INDEX_MASK;
}

bool same_address(const snmp_core_agent &agent, const char *ip, uint16_t port) noexcept {
    return agent.port == port && std::strcmp(agent.ip, ip) == 0;
}

void index_forget(const snmp_core_agent *agent) noexcept {
    platform_mutex_t lock = g_index_lock.load(std::memory_order_acquire);
    if (lock == nullptr) {
        return;
    }
    MutexGuard guard(lock);
    g_index[index_bucket(agent->ip, agent->port)].remove(const_cast<snmp_core_agent *>(agent));
}

void index_clear() noexcept {
    platform_mutex_t lock = g_index_lock.load(std::memory_order_acquire);
    MutexGuard guard(lock);
    for (auto &bucket : g_index) {
        bucket.clear();
    }
}

// Re-links the agents newest first after the owning vector changed.
void relink_agents() noexcept {
    snmp_core_agent *next = nullptr;
    for (auto &owned : g_agents) {
        owned->next = next;
        next = owned.get();
    }
}

// The request-id of a new agent's first request: a random positive value from the system's random
// source, so that a host off the path cannot guess the id of an outstanding request. Later requests
// count up from it.
int32_t first_request_id() noexcept {
    std::array<uint8_t, sizeof(uint32_t)> bytes{};
    uint32_t value = 0;
    if (platform_rand_generate_crypto(bytes.data(), static_cast<uint32_t>(bytes.size())) == 1) {
        value = platform_be32_to_cpu(bytes.data());
    } else {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 系统随机源不可用，请求ID起始值取自时钟", "snmp_core_agent_create");
        value = static_cast<uint32_t>(platform_get_tick_us() ^ platform_get_utc_ms());
    }
    value &= static_cast<uint32_t>(INT32_MAX);
    return value == 0 ? kRequestIdRestart : static_cast<int32_t>(value);
}

snmp_core_agent *search_list(const char *ip, uint16_t port) noexcept {
    for (auto &owned : g_agents) {
        if (same_address(*owned, ip, port)) {
            return owned.get();
        }
    }
    return nullptr;
}

bool community_valid(const char *community) noexcept {
    return community[0] != '\0' && std::strpbrk(community, " \t\n\r") == nullptr;
}

// Fills the engine state of a new SNMPv3 agent with a provisional local engine ID; discovery
// replaces all of it.
void init_v3_agent_engine(snmp_core_agent &agent) noexcept {
    constexpr std::array<uint8_t, 5> kProvisionalPrefix{0x80, 0x00, 0x00, 0x00, 0x01};
    constexpr uint32_t kTickBytes = 4;
    constexpr uint32_t kBitsPerByte = 8;
    snmp_core_v3_engine &engine = agent.v3_engine;
    std::memcpy(engine.engine_id, kProvisionalPrefix.data(), kProvisionalPrefix.size());
    uint32_t tick = platform_get_tick_ms();
    for (uint32_t i = 0; i < kTickBytes; ++i) {
        engine.engine_id[kProvisionalPrefix.size() + i] = static_cast<uint8_t>(tick >> (i * kBitsPerByte));
    }
    engine.engine_id_len = static_cast<uint8_t>(kProvisionalPrefix.size() + kTickBytes);
    engine.engine_boots = 0;
    engine.last_sync_time = now_seconds();
}

// True while the agent has an outstanding request that a new one must not replace.
bool refuse_busy(const snmp_core_agent &agent, const char *func) noexcept {
    if (agent.pending == 0) {
        return false;
    }
    AGENT_LOG(AGENT_LOG_WARN, "%s: Agent存在未完成的请求（%s:%d，请求ID：%u），拒绝新请求", func, agent.ip,
              static_cast<int>(agent.port), static_cast<unsigned>(agent.pending_request_id));
    return true;
}

// Community rule of SNMPv1/v2c sends; logs and returns false when the community is unusable.
bool check_v1v2_send(const snmp_core_agent &agent, const char *user_name, const char *func) noexcept {
    if (!community_valid(agent.community)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 共同体名非法（空或含空白字符）", func);
        return false;
    }
    if (user_name != nullptr && user_name[0] != '\0') {
        AGENT_LOG(AGENT_LOG_WARN, "%s: V1/V2C版本无需用户名，参数将被忽略", func);
    }
    return true;
}

bool oid_component_ok(const char *begin, const char *end, uint64_t limit) noexcept {
    auto digits = static_cast<uint32_t>(end - begin);
    if (digits == 0 || digits > kOidMaxComponentDigits) {
        return false;
    }
    uint64_t value = 0;
    for (const char *c = begin; c != end; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10u + static_cast<uint64_t>(*c - '0');  // 19 digits cannot overflow 64 bits
    }
    return value <= limit;
}

void log_hex(const char *title, const uint8_t *data, uint32_t len) noexcept {
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        agent_log_hexdump(title, data, static_cast<uint16_t>(len));
    }
}

}  // namespace

// ---- Joints shared with the core's other units ----

namespace vek::nms::core {

CoreSection::CoreSection() noexcept : mutex_(g_list_lock.load(std::memory_order_acquire)) {
    platform_mutex_lock(mutex_);
}

CoreSection::~CoreSection() { release(); }

void CoreSection::release() {
    if (held_) {
        held_ = false;
        platform_mutex_unlock(mutex_);
        deliver_posted_responses();
    }
}

snmp_core_agent *find_agent_or_log(const char *tag, const char *ip, uint16_t port) {
    snmp_core_agent *agent = core_find_agent_by_addr(ip, port);
    if (agent == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Agent不存在（%s:%d）", tag, ip, static_cast<int>(port));
    }
    return agent;
}

void post_response(const ResponseOutcome &outcome) { t_outbox.push_back(outcome); }

void post_agent_response(const snmp_core_agent &agent, const char *user_name, uint32_t cmd_type,
                         const api_snmp_response &response, void *user_data) {
    ResponseOutcome outcome{};
    copy_text(outcome.ip, sizeof(outcome.ip), agent.ip);
    outcome.port = agent.port;
    copy_text(outcome.user_name, sizeof(outcome.user_name), user_name);
    outcome.cmd_type = cmd_type;
    outcome.response = response;
    outcome.user_data = user_data;
    post_response(outcome);
}

void deliver_posted_responses() {
    if (t_outbox.empty()) {
        return;
    }
    // A callback may issue new requests, which queue on this same thread: take the batch first.
    std::vector<ResponseOutcome> batch;
    batch.swap(t_outbox);
    api_snmp_response_cb cb = g_response_cb.load(std::memory_order_acquire);
    if (cb == nullptr) {
        return;
    }
    for (const ResponseOutcome &outcome : batch) {
        cb(outcome.ip, outcome.port, outcome.user_name, static_cast<api_snmp_cmd_type>(outcome.cmd_type),
           &outcome.response, outcome.user_data);
    }
}

api_snmp_trap_cb trap_callback(void **user_data) noexcept {
    *user_data = g_trap_user_data;
    return g_trap_cb;
}

int64_t now_seconds() noexcept { return platform_get_utc_seconds(); }

void copy_text(char *dst, size_t size, const char *src) noexcept {
    if (size == 0) {
        return;
    }
    size_t len = src == nullptr ? 0 : strnlen(src, size - 1);
    if (len > 0) {
        std::memcpy(dst, src, len);
    }
    dst[len] = '\0';
}

bool request_has_owner(const snmp_core_agent &agent) noexcept {
    return !(agent.version == API_SNMP_V3 && agent.v3_engine.discovery_state == CORE_V3_DISCOVERY_SENT &&
             agent.v3_pending_cmd.cmd_type == 0);
}

void end_request(snmp_core_agent &agent) noexcept {
    agent.pending = 0;
    agent.last_packet_len = 0;
    agent.v3_pending_cmd = snmp_core_v3_pending_cmd{};
    if (agent.v3_engine.discovery_state == CORE_V3_DISCOVERY_SENT) {
        agent.v3_engine.discovery_state = CORE_V3_NOT_DISCOVERED;
    }
}

void fail_request(snmp_core_agent &agent, uint32_t cmd_type, const char *user_name, uint32_t error,
                  void *user_data) {
    AGENT_LOG(AGENT_LOG_ERROR, "%s: 请求处理错误（%s:%d，类型：%d，错误码：%d）", "core_handle_error", agent.ip,
              static_cast<int>(agent.port), static_cast<int>(cmd_type), static_cast<int>(error));
    bool notify = agent.pending != 0 && request_has_owner(agent);
    end_request(agent);
    if (notify) {
        trigger_error_callback(&agent, cmd_type, user_name, error, user_data);
    }
}

void fill_adapter_agent(snmp_core_agent &agent, const char *user_name, adapter_agent &out,
                        adapter_v3_user &user_storage) noexcept {
    out = adapter_agent{};
    out.version = agent.version;
    out.community = agent.community;
    out.next_request_id = agent.next_request_id;
    out.bulk_non_repeaters = agent.bulk_non_repeaters;
    out.bulk_max_repetitions = agent.bulk_max_repetitions;
    const snmp_core_v3_engine &engine = agent.v3_engine;
    out.discovery_state = engine.discovery_state;
    out.engine_id = engine.engine_id;
    out.engine_id_len = engine.engine_id_len;
    out.engine_boots = engine.engine_boots;
    out.engine_time = core_snmpv3_estimated_time(&engine);
    out.user = nullptr;
    if (agent.version != API_SNMP_V3 || user_name == nullptr) {
        return;
    }
    const snmp_core_v3_user *user = core_snmpv3_user_ex_find(&agent, user_name);
    if (user == nullptr) {
        return;
    }
    user_storage = adapter_v3_user{user->user_name, user->auth_alg, user->priv_alg, user->auth_key,
                                   user->auth_key_len, user->priv_key, user->priv_key_len};
    out.user = &user_storage;
}

namespace {

// One encoded request on its way out, with what its log lines need.
struct OutgoingRequest {
    platform_socket_t sock;
    char ip[API_SNMP_IP_SIZE];
    uint16_t port;
    uint32_t cmd_type;
    int32_t sent_id;
    int32_t next_id;
    uint32_t len;
    bool carries_community;  // a v1/v2c message: its community travels in clear
    std::array<uint8_t, CORE_MAX_PACKET_SIZE> packet;
};

// Flow control, the request slot and the encoding of one request; the datagram to send comes back
// in out. List lock held.
api_snmp_err prepare_request(snmp_core_agent &agent, uint32_t cmd_type, const char *user_name,
                             const api_snmp_varbind *varbinds, uint8_t count, void *user_data, bool flow_controlled,
                             OutgoingRequest &out) {
    if (flow_controlled && !snmp_core_flow_allow()) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 触发流控，暂停发送（%s:%d）", "core_send_raw_packet", agent.ip,
                  static_cast<int>(agent.port));
        return API_SNMP_ERR_NO_RESOURCE;
    }
    agent.pending_request_id = static_cast<uint32_t>(agent.next_request_id);
    agent.retry_count = 0;
    agent.pending = 1;
    agent.last_send_time = static_cast<uint32_t>(now_seconds());
    agent.user_data = user_data;
    agent.last_packet_len = 0;

    adapter_agent described{};
    adapter_v3_user user_storage{};
    fill_adapter_agent(agent, user_name, described, user_storage);
    out.len = static_cast<uint32_t>(out.packet.size());
    api_snmp_err rc =
        adapter_snmp_cmd_encode(&described, cmd_type, user_name, varbinds, count, out.packet.data(), &out.len);
    if (rc != API_SNMP_OK) {
        agent.pending_request_id = 0;
        core_handle_error(&agent, cmd_type, user_name, rc, user_data);
        return rc;
    }
    std::memcpy(agent.last_packet, out.packet.data(), out.len);
    agent.last_packet_len = out.len;
    out.sent_id = agent.next_request_id;
    if (agent.next_request_id == INT32_MAX) {
        AGENT_LOG(AGENT_LOG_INFO, "%s: 请求ID溢出，重置为起始值：%d", "core_send_raw_packet", kRequestIdRestart);
        agent.next_request_id = kRequestIdRestart;
    } else {
        ++agent.next_request_id;
    }
    out.next_id = agent.next_request_id;
    out.sock = agent.sock;
    copy_text(out.ip, sizeof(out.ip), agent.ip);
    out.port = agent.port;
    out.cmd_type = cmd_type;
    out.carries_community = agent.version != API_SNMP_V3;
    note_request_sent();
    return API_SNMP_OK;
}

// Sends a prepared request; logs it when it went out.
bool transmit(const OutgoingRequest &out) noexcept {
    if (net_interface_send_to(out.sock, out.ip, out.port, out.packet.data(), out.len) != API_SNMP_OK) {
        return false;
    }
    // The bytes of a message that carries a community stay out of the log.
    if (out.carries_community) {
        vek::log_masked_dump("core_send_raw_packet to net hex:");
    } else {
        log_hex("core_send_raw_packet to net hex:", out.packet.data(), out.len);
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 命令发送成功（%s:%d，类型：%d，发送ID：%d，下一个ID：%d）", "core_send_raw_packet",
              out.ip, static_cast<int>(out.port), static_cast<int>(out.cmd_type), static_cast<int>(out.sent_id),
              static_cast<int>(out.next_id));
    return true;
}

// Prepares an SNMPv1/v2c request under the list lock and sends it once the section has released
// the lock: a loopback send delivers the datagram within the call, and a burst of requests that
// held the lock meanwhile would keep the receive thread from the answers. A failed send ends the
// request if it is still the one outstanding. The agent is not touched after the release.
api_snmp_err send_request_after_unlock(CoreSection &section, snmp_core_agent &agent, uint32_t cmd_type,
                                       const api_snmp_varbind *varbinds, uint8_t count, void *user_data) {
    OutgoingRequest out{};
    api_snmp_err rc = prepare_request(agent, cmd_type, nullptr, varbinds, count, user_data, true, out);
    section.release();
    if (rc != API_SNMP_OK || transmit(out)) {
        return rc;
    }
    CoreSection relock;
    snmp_core_agent *current = core_find_agent_by_addr(out.ip, out.port);
    if (current != nullptr && current->pending != 0 &&
        current->pending_request_id == static_cast<uint32_t>(out.sent_id)) {
        current->pending_request_id = 0;
        core_handle_error(current, cmd_type, nullptr, API_SNMP_ERR_NETWORK, user_data);
    }
    return API_SNMP_ERR_NETWORK;
}

}  // namespace

api_snmp_err send_request(snmp_core_agent &agent, uint32_t cmd_type, const char *user_name,
                          const api_snmp_varbind *varbinds, uint8_t count, void *user_data, bool flow_controlled) {
    OutgoingRequest out{};
    api_snmp_err rc = prepare_request(agent, cmd_type, user_name, varbinds, count, user_data, flow_controlled, out);
    if (rc != API_SNMP_OK) {
        return rc;
    }
    if (!transmit(out)) {
        agent.pending_request_id = 0;
        core_handle_error(&agent, cmd_type, user_name, API_SNMP_ERR_NETWORK, user_data);
        return API_SNMP_ERR_NETWORK;
    }
    return API_SNMP_OK;
}

snmp_core_agent *find_agent_by_socket(platform_socket_t sock) noexcept {
    for (auto &owned : g_agents) {
        if (owned->sock == sock) {
            return owned.get();
        }
    }
    return nullptr;
}

platform_socket_t trap_socket() noexcept { return g_trap_sock; }

platform_socket_t acquire_socket() noexcept {
    if (!g_spare_sockets.empty()) {
        platform_socket_t sock = g_spare_sockets.back();
        g_spare_sockets.pop_back();
        return sock;
    }
    return net_interface_create_udp_socket();
}

void release_socket(platform_socket_t sock) noexcept {
    if (sock == NET_INVALID_SOCKET) {
        return;
    }
    try {
        g_spare_sockets.push_back(sock);
    } catch (const std::bad_alloc &) {
        net_interface_close(sock);
    }
}

snmp_core_agent *agent_list_head() noexcept { return g_agents.empty() ? nullptr : g_agents.back().get(); }

void wake_receive_thread() noexcept {
    net_recv_packet marker{};
    marker.sock = NET_INVALID_SOCKET;
    marker.data[0] = kWakeMarkerByte;
    marker.len = 1;
    copy_text(marker.ip, sizeof(marker.ip), kWakeMarkerAddress);
    (void)net_interface_enqueue(&marker);
}

}  // namespace vek::nms::core

// ---- Exported operations ----

extern "C" {

platform_mutex_t core_list_lock(void) { return g_list_lock.load(std::memory_order_acquire); }

bool snmp_core_is_running(void) { return g_running.load(std::memory_order_acquire); }

api_snmp_err snmp_core_init(void) {
    if (g_running.load(std::memory_order_acquire)) {
        return API_SNMP_OK;
    }
    if (g_list_lock.load() == nullptr) {
        g_list_lock.store(platform_mutex_create(), std::memory_order_release);
    }
    if (g_index_lock.load() == nullptr) {
        g_index_lock.store(platform_mutex_create(), std::memory_order_release);
    }
    {
        CoreSection section;
        g_agents.clear();
        g_trap_sock = NET_INVALID_SOCKET;
    }
    (void)net_interface_init();
    (void)adapter_snmp_init();
    g_running.store(true, std::memory_order_release);
    g_recv_thread = platform_thread_create(core_net_recv_thread, nullptr);
    if (g_recv_thread == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 接收线程创建失败", "snmp_core_init");
        g_running.store(false, std::memory_order_release);
        platform_mutex_destroy(g_list_lock.exchange(nullptr));
        return API_SNMP_ERR_INIT_FAILED;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: SNMP核心层初始化完成", "snmp_core_init");
    return API_SNMP_OK;
}

void snmp_core_destroy(void) {
    if (!g_running.exchange(false, std::memory_order_acq_rel)) {
        return;
    }
    wake_receive_thread();
    platform_thread_join(g_recv_thread);
    g_recv_thread = nullptr;
    {
        CoreSection section;
        for (auto &owned : g_agents) {
            net_interface_close(owned->sock);
        }
        g_agents.clear();
        for (platform_socket_t sock : g_spare_sockets) {
            net_interface_close(sock);
        }
        g_spare_sockets.clear();
        if (g_trap_sock != NET_INVALID_SOCKET) {
            net_interface_close(g_trap_sock);
            g_trap_sock = NET_INVALID_SOCKET;
        }
    }
    adapter_snmp_deinit();
    net_interface_deinit();
    index_clear();
    platform_mutex_destroy(g_list_lock.exchange(nullptr, std::memory_order_acq_rel));
    platform_mutex_destroy(g_index_lock.exchange(nullptr, std::memory_order_acq_rel));
    AGENT_LOG(AGENT_LOG_INFO, "%s: SNMP核心层销毁完成", "snmp_core_destroy");
}

snmp_core_agent *core_find_agent_by_addr(const char *ip, uint16_t port) {
    if (ip == nullptr) {
        return nullptr;
    }
    platform_mutex_t index_lock = g_index_lock.load(std::memory_order_acquire);
    uint32_t bucket = index_bucket(ip, port);
    {
        MutexGuard guard(index_lock);
        for (snmp_core_agent *agent : g_index[bucket]) {
            if (same_address(*agent, ip, port)) {
                return agent;
            }
        }
    }
    snmp_core_agent *agent = search_list(ip, port);
    if (agent != nullptr) {
        MutexGuard guard(index_lock);
        g_index[bucket].push_front(agent);
    }
    return agent;
}

api_snmp_err snmp_core_agent_create(const char *ip, uint16_t port, const api_snmp_agent_config *config) {
    if (ip == nullptr || config == nullptr) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    CoreSection section;
    if (core_find_agent_by_addr(ip, port) != nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Agent已存在（%s:%d）", __func__, ip, static_cast<int>(port));
        return API_SNMP_ERR_AGENT_EXISTS;
    }
    auto agent = std::make_unique<snmp_core_agent>();
    copy_text(agent->ip, sizeof(agent->ip), ip);
    agent->port = port;
    agent->version = config->version;
    copy_text(agent->community, sizeof(agent->community), config->community);
    agent->sock = acquire_socket();
    if (agent->sock == NET_INVALID_SOCKET) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Socket创建失败", __func__);
        return API_SNMP_ERR_NETWORK;
    }
    agent->next_request_id = first_request_id();
    (void)core_snmpv3_engine_init(&agent->v3_engine);
    if (agent->version == API_SNMP_V3) {
        init_v3_agent_engine(*agent);
    }
    agent->retries = CORE_DEFAULT_RETRIES;
    agent->timeout_ms = CORE_DEFAULT_TIMEOUT_MS;
    g_agents.push_back(std::move(agent));
    relink_agents();
    AGENT_LOG(AGENT_LOG_INFO, "%s: Agent创建成功（%s:%d，版本：%d）", __func__, ip, static_cast<int>(port),
              static_cast<int>(config->version));
    return API_SNMP_OK;
}

api_snmp_err snmp_core_agent_remove(const char *ip, uint16_t port) {
    if (ip == nullptr) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    CoreSection section;
    auto found = std::find_if(g_agents.begin(), g_agents.end(),
                              [&](const std::unique_ptr<snmp_core_agent> &a) { return same_address(*a, ip, port); });
    if (found == g_agents.end()) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Agent不存在（%s:%d）", __func__, ip, static_cast<int>(port));
        return API_SNMP_ERR_AGENT_NOT_FOUND;
    }
    // Forget the index node before the record goes, so that no lookup can return it afterwards.
    index_forget(found->get());
    release_socket((*found)->sock);
    g_agents.erase(found);
    relink_agents();
    AGENT_LOG(AGENT_LOG_INFO, "%s: Agent移除成功（%s:%d）", __func__, ip, static_cast<int>(port));
    return API_SNMP_OK;
}

bool snmp_core_agent_exist(const char *ip, uint16_t port) {
    if (ip == nullptr) {
        return false;
    }
    CoreSection section;
    return core_find_agent_by_addr(ip, port) != nullptr;
}

api_snmp_err snmp_core_agent_get_config(const char *ip, uint16_t port, api_snmp_agent_config *config_out) {
    if (ip == nullptr || config_out == nullptr) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    CoreSection section;
    const snmp_core_agent *agent = find_agent_or_log(__func__, ip, port);
    if (agent == nullptr) {
        return API_SNMP_ERR_AGENT_NOT_FOUND;
    }
    config_out->version = agent->version;
    copy_text(config_out->community, sizeof(config_out->community), agent->community);
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 成功获取Agent配置（%s:%d，版本：%d）", __func__, ip, static_cast<int>(port),
              static_cast<int>(agent->version));
    return API_SNMP_OK;
}

uint32_t snmp_core_get_agent_count(void) {
    CoreSection section;
    return static_cast<uint32_t>(g_agents.size());
}

uint32_t snmp_core_get_agent_list(api_snmp_agent_info *entries, uint32_t capacity) {
    if (entries == nullptr || capacity == 0) {
        return 0;
    }
    CoreSection section;
    uint32_t written = 0;
    for (const snmp_core_agent *agent = agent_list_head(); agent != nullptr && written < capacity;
         agent = agent->next) {
        api_snmp_agent_info &entry = entries[written++];
        entry = api_snmp_agent_info{};
        copy_text(entry.ip, sizeof(entry.ip), agent->ip);
        entry.port = agent->port;
        entry.version = agent->version;
        entry.timeout_ms = agent->timeout_ms;
        entry.retries = agent->retries;
    }
    return written;
}

uint32_t snmp_core_get_user_count(const char *ip, uint16_t port) {
    if (ip == nullptr) {
        return 0;
    }
    CoreSection section;
    const snmp_core_agent *agent = core_find_agent_by_addr(ip, port);
    if (agent == nullptr || agent->version != API_SNMP_V3) {
        return 0;
    }
    return agent->user_count;
}

uint32_t snmp_core_get_user_list(const char *ip, uint16_t port, api_snmp_user_info *entries, uint32_t capacity) {
    if (ip == nullptr || entries == nullptr || capacity == 0) {
        return 0;
    }
    CoreSection section;
    const snmp_core_agent *agent = core_find_agent_by_addr(ip, port);
    if (agent == nullptr || agent->version != API_SNMP_V3) {
        return 0;
    }
    uint32_t written = 0;
    for (const snmp_core_v3_user &user : agent->users) {
        if (written == capacity) {
            break;
        }
        if (user.active == 0) {
            continue;
        }
        api_snmp_user_info &entry = entries[written++];
        entry = api_snmp_user_info{};
        copy_text(entry.user_name, sizeof(entry.user_name), user.user_name);
        entry.auth_alg = user.auth_alg;
        entry.priv_alg = user.priv_alg;
    }
    return written;
}

api_snmp_err snmp_core_send_cmd(uint32_t cmd_type, const char *ip, uint16_t port, const char *user_name,
                                const api_snmp_varbind *varbinds, uint8_t count, void *user_data) {
    if (ip == nullptr || count > API_SNMP_MAX_REQUEST_VARBINDS || (count > 0 && varbinds == nullptr)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（IP=%p, 变量数=%d）", __func__, static_cast<const void *>(ip),
                  static_cast<int>(count));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    CoreSection section;
    snmp_core_agent *agent = find_agent_or_log(__func__, ip, port);
    if (agent == nullptr) {
        return API_SNMP_ERR_AGENT_NOT_FOUND;
    }
    if (agent->version == API_SNMP_V1 && cmd_type == API_SNMP_CMD_GETBULK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: V1版本不支持GETBULK命令", __func__);
        return API_SNMP_ERR_VERSION_MISMATCH;
    }
    if (agent->version == API_SNMP_V3) {
        return core_snmpv3_std_start_flow(agent, cmd_type, user_name, varbinds, count, 0, 0, user_data);
    }
    if (!check_v1v2_send(*agent, user_name, __func__)) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (refuse_busy(*agent, __func__)) {
        return API_SNMP_ERR_IN_PROGRESS;
    }
    return send_request_after_unlock(section, *agent, cmd_type, varbinds, count, user_data);
}

api_snmp_err snmp_core_send_bulk_cmd(uint32_t cmd_type, const char *ip, uint16_t port, const char *user_name,
                                     uint8_t non_repeaters, uint8_t max_repetitions,
                                     const api_snmp_varbind *varbinds, uint8_t count, void *user_data) {
    if (ip == nullptr || varbinds == nullptr || count < 1 || count > API_SNMP_MAX_REQUEST_VARBINDS) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（IP=%p, 变量数=%d）", __func__, static_cast<const void *>(ip),
                  static_cast<int>(count));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    CoreSection section;
    snmp_core_agent *agent = find_agent_or_log(__func__, ip, port);
    if (agent == nullptr) {
        return API_SNMP_ERR_AGENT_NOT_FOUND;
    }
    if (non_repeaters > count) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 非重复次数（%d）超过变量数（%d）", __func__, static_cast<int>(non_repeaters),
                  static_cast<int>(count));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (max_repetitions == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 最大重复次数不能为0", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (agent->version == API_SNMP_V1) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: GET-BULK 不支持 SNMPv1 版本（%s:%d）", __func__, ip, static_cast<int>(port));
        return API_SNMP_ERR_VERSION_MISMATCH;
    }
    if (agent->version != API_SNMP_V2C) {
        return core_snmpv3_std_start_flow(agent, cmd_type, user_name, varbinds, count, non_repeaters,
                                          max_repetitions, user_data);
    }
    if (!check_v1v2_send(*agent, user_name, __func__)) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (refuse_busy(*agent, __func__)) {
        return API_SNMP_ERR_IN_PROGRESS;
    }
    agent->bulk_non_repeaters = non_repeaters;
    agent->bulk_max_repetitions = max_repetitions;
    return send_request_after_unlock(section, *agent, cmd_type, varbinds, count, user_data);
}

api_snmp_err snmp_core_v3_std_send_cmd(uint32_t cmd_type, const char *ip, uint16_t port, const char *user_name,
                                       const api_snmp_varbind *varbinds, uint8_t count, uint8_t non_repeaters,
                                       uint8_t max_repetitions, void *user_data) {
    CoreSection section;
    snmp_core_agent *agent = core_find_agent_by_addr(ip, port);
    if (agent == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Agent上下文不存在（%s:%d）", __func__, ip == nullptr ? "" : ip,
                  static_cast<int>(port));
        return API_SNMP_ERR_AGENT_NOT_FOUND;
    }
    return core_snmpv3_std_start_flow(agent, cmd_type, user_name, varbinds, count, non_repeaters, max_repetitions,
                                      user_data);
}

api_snmp_err core_send_raw_packet(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name,
                                  const api_snmp_varbind *varbinds, uint8_t count, void *user_data) {
    if (agent == nullptr) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return send_request(*agent, cmd_type, user_name, varbinds, count, user_data, true);
}

bool snmp_core_flow_allow(void) {
    auto second = static_cast<uint64_t>(static_cast<uint32_t>(now_seconds()));
    uint64_t current = g_flow_window.load(std::memory_order_relaxed);
    for (;;) {
        uint64_t window_second = current >> kFlowSecondShift;
        uint64_t count = current & kFlowCountMask;
        uint64_t next = 0;
        if (window_second != second) {
            next = (second << kFlowSecondShift) | 1u;
        } else if (count < CORE_FLOW_LIMIT_PER_SECOND) {
            next = current + 1;
        } else {
            return false;
        }
        if (g_flow_window.compare_exchange_weak(current, next, std::memory_order_acq_rel)) {
            return true;
        }
    }
}

api_snmp_err snmp_core_start_trap_listener(uint16_t port) {
    CoreSection section;
    if (g_trap_sock != NET_INVALID_SOCKET) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: Trap监听已启动（端口：%d）", __func__, static_cast<int>(port));
        return API_SNMP_OK;
    }
    platform_socket_t sock = net_interface_create_udp_socket();
    if (sock == NET_INVALID_SOCKET) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Trap Socket创建失败", __func__);
        return API_SNMP_ERR_NETWORK;
    }
    if (net_interface_bind(sock, port) != API_SNMP_OK) {
        net_interface_close(sock);
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Trap端口绑定失败（端口：%d）", __func__, static_cast<int>(port));
        return API_SNMP_ERR_NETWORK;
    }
    g_trap_sock = sock;
    AGENT_LOG(AGENT_LOG_INFO, "%s: Trap监听启动成功（端口：%d）", __func__, static_cast<int>(port));
    return API_SNMP_OK;
}

void snmp_core_stop_trap_listener(void) {
    CoreSection section;
    if (g_trap_sock == NET_INVALID_SOCKET) {
        return;
    }
    net_interface_close(g_trap_sock);
    g_trap_sock = NET_INVALID_SOCKET;
    AGENT_LOG(AGENT_LOG_INFO, "%s: Trap监听已停止", __func__);
}

void snmp_core_register_response_callback(api_snmp_response_cb cb) {
    g_response_cb.store(cb, std::memory_order_release);
    AGENT_LOG(AGENT_LOG_INFO, "%s: 响应回调已注册", __func__);
}

void snmp_core_register_trap_callback(api_snmp_trap_cb cb, void *user_data) {
    {
        CoreSection section;
        g_trap_cb = cb;
        g_trap_user_data = user_data;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: Trap回调已注册", __func__);
}

void snmp_core_set_log_level(uint32_t level) {
    g_log_level.store(level, std::memory_order_relaxed);
    agent_log_set_level(level);
    AGENT_LOG(AGENT_LOG_INFO, "%s: 日志级别设置为：%d", __func__, static_cast<int>(level));
}

api_snmp_err snmp_core_mib_load(const char *path) {
    if (path == nullptr) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (adapter_mib_load(path) != 1) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: MIB加载失败（%s）", __func__, path);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: MIB加载成功（%s）", __func__, path);
    return API_SNMP_OK;
}

bool snmp_core_oid_validate(const char *oid) {
    if (oid == nullptr || oid[0] == '\0') {
        return false;
    }
    const char *begin = oid;
    bool first = true;
    for (;;) {
        const char *end = std::strchr(begin, '.');
        const char *stop = end == nullptr ? begin + std::strlen(begin) : end;
        if (!oid_component_ok(begin, stop, first ? kOidMaxFirstComponent : kOidMaxComponentValue)) {
            return false;
        }
        if (end == nullptr) {
            return true;
        }
        first = false;
        begin = end + 1;
    }
}

}  // extern "C"
