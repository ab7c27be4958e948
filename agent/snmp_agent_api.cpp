// The agent library's public interface: plain C records and dotted OID text in, small result codes
// out, translated to and from the records of the agent core.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <thread>

#include "agent/agent.h"
#include "agent/agent_api_convert.h"
#include "agent/agent_config.h"
#include "agent/agent_engine.h"
#include "agent/agent_mib.h"
#include "agent/agent_trap.h"
#include "agent/agent_v3_notify.h"
#include "agent/mib_registry.h"
#include "agent/snmpv3_user_mgr.h"
#include "agent/trans.h"
#include "agent/vek_agent_sdk.h"
#include "base/agent_log.h"
#include "codec/snmpv3_crypto.h"

namespace {

constexpr size_t kOidTextMax = AGENT_SNMP_OID_SIZE - 1;  // 127 characters
constexpr size_t kOidComponentDigits = 10;
constexpr uint64_t kOidComponentMax = UINT32_MAX;
constexpr uint64_t kOidFirstComponentMax = 2;
constexpr unsigned kDecimalBase = 10;
constexpr size_t kCommunityMax = SNMP_MAX_COMMUNITY_LEN;       // 31 characters
constexpr size_t kUserNameMax = AGENT_SNMP_USERNAME_SIZE - 1;  // 31 characters
constexpr size_t kPasswordMax = AGENT_SNMP_PASSWORD_SIZE - 1;  // 63 characters
constexpr uint16_t kU32Len = sizeof(uint32_t);
constexpr uint16_t kU64Len = sizeof(uint64_t);
constexpr uint8_t kTypeIpAddressApi = 0x0A;  // IpAddress as the manager interface numbers it
constexpr uint8_t kTypeUInteger32 = 0x07;
constexpr size_t kMinCommunityBuffer = 2;
constexpr uint8_t kMinOidValueArcs = 2;

constexpr std::array<const char *, AGENT_SNMP_ERR_BER_DECODE + 1> kErrorTexts = {
    "Success",
    "Invalid parameter",
    "Agent init failed",
    "Network IO error",
    "SNMP port occupied",
    "Memory allocate failed",
    "Mutex lock error",
    "Buffer insufficient",
    "OID format invalid",
    "OID already registered",
    "MIB node table full",
    "V3 username duplicate",
    "V3 user table full",
    "V3 user not found",
    "Auth key generate fail",
    "Encrypt/Decrypt failed",
    "V3 engine time desync",
    "Trap target list full",
    "Trap send queue overflow",
    "SNMP BER encode error",
    "SNMP BER decode error",
};
constexpr const char *kUnknownError = "Unknown error";

// What the library keeps for each node registered through this interface (the node's user_data;
// the registry frees it with free() when the node is removed).
struct api_node_wrapper {
    agent_snmp_mib_cb read_cb;
    agent_snmp_mib_cb write_cb;
    void *user_ctx;
};

}  // namespace

namespace vek::agent_api {

// ---- OID text ----

const char *skip_leading_dot(const char *text) {
    return text[0] == '.' ? text + 1 : text;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// One dotted component: 1..10 digits with a value of at most 4294967295 (2 for the first).
bool component_valid(std::string_view piece, bool first) {
    if (piece.empty() || piece.size() > kOidComponentDigits) {
        return false;
    }
    uint64_t value = 0;
    for (char c : piece) {
        if (!is_digit(c)) {
            return false;
        }
        value = value * kDecimalBase + static_cast<uint64_t>(c - '0');
    }
    return value <= (first ? kOidFirstComponentMax : kOidComponentMax);
}

bool local_oid_check_valid(const char *text) {
    if (text == nullptr || text[0] == '\0') {
        return false;
    }
    const size_t len = strnlen(text, kOidTextMax + 1);
    if (len > kOidTextMax) {
        return false;
    }
    const std::string_view whole(text, len);
    if (whole.front() == '.' || whole.back() == '.') {
        return false;
    }
    size_t start = 0;
    bool first = true;
    for (;;) {
        const size_t dot = whole.find('.', start);
        const size_t end = dot == std::string_view::npos ? whole.size() : dot;
        if (!component_valid(whole.substr(start, end - start), first)) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        first = false;
        start = dot + 1;
    }
}

// Dotted text to an OID: each piece in base 10, cut to 32 bits. An OID of more components than the
// system holds is refused rather than cut short.
bool oid_from_string(const char *text, snmp_oid &oid) {
    oid = snmp_oid{};
    if (text == nullptr || text[0] == '\0') {
        return false;
    }
    std::array<char, AGENT_SNMP_OID_SIZE> copy{};
    std::memcpy(copy.data(), text, strnlen(text, kOidTextMax));
    const std::string_view whole(copy.data());
    size_t start = 0;
    for (;;) {
        if (oid.len >= SNMP_MAX_OID_LEN) {
            oid = snmp_oid{};
            return false;
        }
        oid.sub_ids[oid.len++] =
            static_cast<uint32_t>(std::strtoull(copy.data() + start, nullptr, kDecimalBase));
        const size_t dot = whole.find('.', start);
        if (dot == std::string_view::npos) {
            return true;
        }
        start = dot + 1;
    }
}

// Parses API text (one leading '.' allowed) that must be valid.
bool parse_api_oid(const char *text, snmp_oid &oid) {
    const char *stripped = skip_leading_dot(text);
    return local_oid_check_valid(stripped) && oid_from_string(stripped, oid);
}

// ---- Varbind conversion ----

bool is_32bit_number(uint8_t type) {
    return type == SNMP_TAG_INTEGER || type == kTypeUInteger32 || type == SNMP_TAG_COUNTER32 ||
           type == SNMP_TAG_GAUGE32 || type == SNMP_TAG_TIMETICKS;
}

// An OID value as the interface carries it: its dotted text (at least two components, which is
// what the message codec can encode).
bool oid_value_from_text(const agent_snmp_vb &api, snmp_oid &oid) {
    std::array<char, AGENT_SNMP_OID_SIZE> text{};
    std::memcpy(text.data(), api.value.bytes, std::min<size_t>(api.len, kOidTextMax));
    oid = snmp_oid{};
    return parse_api_oid(text.data(), oid) && oid.len >= kMinOidValueArcs;
}

void oid_value_to_text(const snmp_oid &oid, agent_snmp_vb &api) {
    if (oid.len > 0) {
        oid_to_string(&oid, reinterpret_cast<char *>(api.value.bytes), AGENT_SNMP_OID_SIZE);
    }
    api.len = static_cast<uint16_t>(strnlen(reinterpret_cast<const char *>(api.value.bytes), kOidTextMax));
}

void inner_vb_to_api(const snmp_varbind &vb, agent_snmp_vb &api) {
    api = agent_snmp_vb{};
    oid_to_string(&vb.oid, api.oid, AGENT_SNMP_OID_SIZE);
    api.type = vb.type;
    if (vb.type == SNMP_TAG_OID) {
        oid_value_to_text(vb.value.oid_value, api);
        return;
    }
    if (vb.type == kTypeIpAddressApi || is_32bit_number(vb.type)) {
        api.value.u32 = static_cast<uint32_t>(vb.value.integer);
        api.len = kU32Len;
        return;
    }
    if (vb.type == SNMP_TAG_COUNTER64) {
        api.value.u64 = vb.value.counter64;
        api.len = kU64Len;
        return;
    }
    const auto count = static_cast<uint16_t>(std::min<size_t>(vb.value_len, AGENT_SNMP_VALUE_SIZE));
    std::memcpy(api.value.bytes, vb.value.octets, count);
    api.len = count;
    if (vb.type == SNMP_TAG_OCTET_STRING && count < AGENT_SNMP_VALUE_SIZE) {
        api.value.bytes[count] = 0;
    }
}

void api_vb_to_inner(const agent_snmp_vb &api, snmp_varbind &vb) {
    vb = snmp_varbind{};
    std::array<char, AGENT_SNMP_OID_SIZE> text{};
    std::memcpy(text.data(), api.oid, strnlen(api.oid, kOidTextMax));
    if (local_oid_check_valid(text.data())) {
        oid_from_string(text.data(), vb.oid);
    }
    (void)api_value_to_inner(api, vb);
}

bool api_value_to_inner(const agent_snmp_vb &api, snmp_varbind &vb) {
    vb.type = api.type;
    vb.value = snmp_value{};
    vb.value_len = 0;
    if (api.type == kTypeIpAddressApi) {
        vb.value.integer = static_cast<int32_t>(api.value.u32);
        vb.value_len = kU32Len;
        return true;
    }
    if (is_32bit_number(api.type)) {
        vb.value.integer = static_cast<int32_t>(api.value.u32);
        return true;
    }
    if (api.type == SNMP_TAG_COUNTER64) {
        vb.value.counter64 = api.value.u64;
        return true;
    }
    if (api.type == SNMP_TAG_OID) {
        return oid_value_from_text(api, vb.value.oid_value);
    }
    // OCTET STRING and every other raw value: the bytes as given (binary strings keep their zeros).
    const auto count = static_cast<uint16_t>(std::min<size_t>(api.len, AGENT_SNMP_VALUE_SIZE));
    std::memcpy(vb.value.octets, api.value.bytes, count);
    vb.value_len = count;
    return true;
}

}  // namespace vek::agent_api

namespace {

using namespace vek::agent_api;

// ---- Node callbacks of API nodes ----

int32_t wrap_mib_read(void *user_data, snmp_varbind *vb) {
    const auto *wrapper = static_cast<const api_node_wrapper *>(user_data);
    if (wrapper == nullptr || wrapper->read_cb == nullptr || vb == nullptr) {
        return MIB_ERR_NO_CALLBACK;
    }
    agent_snmp_vb api{};
    inner_vb_to_api(*vb, api);
    const int32_t result = wrapper->read_cb(&api, &api, wrapper->user_ctx);
    // The binding keeps its name whatever the callback did to the text.
    const bool converted = api_value_to_inner(api, *vb);
    return result != 0 || !converted ? MIB_ERR_NO_CALLBACK : MIB_OK;
}

int32_t wrap_mib_write(void *user_data, const snmp_varbind *vb) {
    const auto *wrapper = static_cast<const api_node_wrapper *>(user_data);
    if (wrapper == nullptr || wrapper->write_cb == nullptr || vb == nullptr) {
        return MIB_ERR_NO_CALLBACK;
    }
    agent_snmp_vb api{};
    inner_vb_to_api(*vb, api);
    return wrapper->write_cb(&api, &api, wrapper->user_ctx) != 0 ? MIB_ERR_NO_CALLBACK : MIB_OK;
}

// ---- Text copies ----

uint8_t copy_text(uint8_t *dst, size_t dst_size, const char *src, size_t max_chars) {
    const size_t len = std::min({strnlen(src, max_chars), max_chars, dst_size});
    std::memcpy(dst, src, len);
    return static_cast<uint8_t>(len);
}

void copy_community_out(char *dst, uint8_t size, const uint8_t *community, uint8_t len) {
    if (size < kMinCommunityBuffer) {
        return;
    }
    const size_t count = std::min<size_t>({len, static_cast<size_t>(size - 1), AGENT_COMMUNITY_SIZE});
    std::memcpy(dst, community, count);
    dst[count] = '\0';
    dst[size - 1] = '\0';
}

// ---- Users ----

snmp_v3_user *find_user(const char *name) {
    const size_t len = strnlen(name, SNMP_USERNAME_SIZE + 1);
    if (len > SNMP_USERNAME_SIZE) {
        return nullptr;
    }
    return snmp_v3_user_find(reinterpret_cast<const uint8_t *>(name), static_cast<uint8_t>(len));
}

// Known codes of one scheme (codec/snmpv3_scheme.h), standard privacy only with authentication.
bool algorithms_known(const agent_snmp_v3_user &u) { return snmp_v3_scheme_of(u.auth_proto, u.priv_proto) != nullptr; }

// ---- Whitelist ----

std::span<uint32_t> trusted_list() {
    return std::span<uint32_t>(agent_cfg.trusted_nms)
        .first(std::min<size_t>(agent_cfg.trusted_nms_count, AGENT_MAX_TRUSTED_NMS));
}

// The list takes effect at once on both transports.
void push_whitelist() {
    trans_set_nms_whitelist_all(agent_cfg.trusted_nms, static_cast<uint8_t>(trusted_list().size()));
}

// ---- Notifications ----

int32_t send_custom(bool inform, const char *dst_ip, uint16_t dst_port, const char *trap_oid,
                    const agent_snmp_vb *vbs, uint8_t count) {
    if (trap_oid == nullptr || trap_oid[0] == '\0' || count > AGENT_SNMP_MAX_TRAP_VBS ||
        (vbs == nullptr && count > 0)) {
        return AGENT_SNMP_ERR_PARAM;
    }
    const char *ip = dst_ip != nullptr ? dst_ip : agent_trap_get_nms_ip_str();
    const uint16_t port = dst_port != 0 ? dst_port : static_cast<uint16_t>(AGENT_SNMP_DEFAULT_TRAP_PORT);
    std::array<snmp_varbind, AGENT_SNMP_MAX_TRAP_VBS> inner{};
    for (uint8_t i = 0; i < count; ++i) {
        agent_snmp_vb api = vbs[i];
        api.oid[kOidTextMax] = '\0';
        const char *stripped = skip_leading_dot(api.oid);
        if (!local_oid_check_valid(stripped)) {
            AGENT_LOG(AGENT_LOG_ERROR,
                      inform ? "Inform varbind[%d] invalid oid string: %s"
                             : "Trap varbind[%d] invalid oid string: %s",
                      static_cast<int>(i), api.oid);
            return AGENT_SNMP_ERR_OID_INVALID;
        }
        std::memmove(api.oid, stripped, strnlen(stripped, kOidTextMax) + 1);
        api_vb_to_inner(api, inner[i]);
    }
    const char *oid_text = skip_leading_dot(trap_oid);
    const bool sent = inform ? agent_send_custom_inform(ip, port, oid_text, count, inner.data())
                             : agent_send_custom_trap(ip, port, oid_text, count, inner.data());
    return sent ? AGENT_SNMP_OK : AGENT_SNMP_ERR_TRAP_OVERFLOW;
}

agent_config config_from(const agent_snmp_cfg &cfg) {
    agent_config config{};
    config.reserved_flag0 = 1;
    config.reserved_flag1 = 1;
    config.v3_user_enabled = 1;
    config.ro_community_len =
        copy_text(config.ro_community, AGENT_COMMUNITY_SIZE, cfg.ro_community, kCommunityMax);
    config.rw_community_len =
        copy_text(config.rw_community, AGENT_COMMUNITY_SIZE, cfg.rw_community, kCommunityMax);
    config.engine_id_len = std::min<uint16_t>(cfg.engine_id_len, AGENT_ENGINE_ID_SIZE);
    std::memcpy(config.engine_id, cfg.engine_id, config.engine_id_len);
    config.eth_port = cfg.port;
    config.es_port = 0;
    config.poll_period = cfg.poll_period;
    return config;
}

}  // namespace

extern "C" {

// ---- Lifecycle ----

int32_t agent_snmp_init(const agent_snmp_cfg *cfg) {
    if (cfg == nullptr || cfg->port == 0) {
        return AGENT_SNMP_ERR_PARAM;
    }
    if (agent_cfg.engine_id_len != 0) {
        return AGENT_SNMP_ERR_INIT;
    }
    const agent_config config = config_from(*cfg);
    agent_init_self();
    agent_init(&config);
    agent_log_set_level(cfg->log_level);
    if (eth_trans_ctx.state != TRANS_STATE_READY) {
        // The port could not be bound: nothing would ever be answered. The agent stays
        // uninitialised so that the application can try again (for example on another port).
        agent_init_self();
        return AGENT_SNMP_ERR_PORT_OCCUPIED;
    }
    return AGENT_SNMP_OK;
}

int32_t agent_snmp_start(void) {
    if (is_running != 0) {
        return AGENT_SNMP_ERR_PARAM;
    }
    agent_start();
    return AGENT_SNMP_OK;
}

void agent_snmp_stop(void) {
    if (is_running != 0) {
        agent_stop();
    }
}

void agent_snmp_deinit(void) {
    agent_snmp_stop();
}

void agent_snmp_loop(void) {
    agent_main_loop();
}

bool agent_snmp_wait(uint32_t timeout_ms) {
    if (is_running == 0 || eth_trans_ctx.state != TRANS_STATE_READY) {
        // Nothing can arrive: wait out the time instead of letting the caller spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return false;
    }
    return trans_wait(&eth_trans_ctx, timeout_ms);
}

int32_t agent_snmp_get_state(void) {
    if (is_running != 0) {
        return AGENT_SNMP_STATE_RUNNING;
    }
    return agent_cfg.engine_id_len != 0 ? AGENT_SNMP_STATE_INIT : AGENT_SNMP_STATE_UNINIT;
}

void agent_snmp_set_log_level(uint8_t level) {
    agent_log_set_level(level);
}

// ---- MIB nodes ----

int32_t agent_snmp_mib_register(const char *oid, int32_t writable, agent_snmp_mib_cb read_cb,
                                agent_snmp_mib_cb write_cb, uint32_t poll_interval, void *user_ctx) {
    if (oid == nullptr || oid[0] == '\0' || (read_cb == nullptr && write_cb == nullptr)) {
        return AGENT_SNMP_ERR_PARAM;
    }
    mib_node node{};
    if (!parse_api_oid(oid, node.oid)) {
        return AGENT_SNMP_ERR_OID_INVALID;
    }
    auto *wrapper = static_cast<api_node_wrapper *>(std::calloc(1, sizeof(api_node_wrapper)));
    if (wrapper == nullptr) {
        return AGENT_SNMP_ERR_MEMORY;
    }
    *wrapper = api_node_wrapper{read_cb, write_cb, user_ctx};
    node.type = 0;  // any value type: the write callback judges the value
    node.access = writable != 0 ? MIB_ACCESS_READ_WRITE : MIB_ACCESS_READ_ONLY;
    node.poll_interval = poll_interval;
    node.read = read_cb != nullptr ? wrap_mib_read : nullptr;
    node.write = write_cb != nullptr ? wrap_mib_write : nullptr;
    node.user_data = wrapper;
    node.name = oid;
    if (mib_registry_add(&node)) {
        return AGENT_SNMP_OK;
    }
    std::free(wrapper);
    if (mib_registry_get_count() >= MIB_MAX_NODES) {
        return AGENT_SNMP_ERR_MIB_FULL;
    }
    return mib_registry_find(&node.oid) != nullptr ? AGENT_SNMP_ERR_OID_EXISTS : AGENT_SNMP_ERR_OID_INVALID;
}

int32_t agent_snmp_mib_unregister(const char *oid) {
    if (oid == nullptr || oid[0] == '\0') {
        return AGENT_SNMP_ERR_PARAM;
    }
    snmp_oid parsed{};
    if (!parse_api_oid(oid, parsed) || mib_registry_find(&parsed) == nullptr) {
        return AGENT_SNMP_ERR_OID_INVALID;
    }
    return mib_registry_remove(&parsed) ? AGENT_SNMP_OK : AGENT_SNMP_ERR_OID_INVALID;
}

void agent_snmp_mib_refresh(const agent_snmp_vb *vb) {
    if (vb == nullptr || vb->oid[0] == '\0') {
        return;
    }
    agent_snmp_vb copy = *vb;
    copy.oid[kOidTextMax] = '\0';
    const char *stripped = skip_leading_dot(copy.oid);
    snmp_oid parsed{};
    if (!oid_from_string(stripped, parsed)) {
        return;
    }
    std::memmove(copy.oid, stripped, strnlen(stripped, kOidTextMax) + 1);
    snmp_varbind inner{};
    api_vb_to_inner(copy, inner);
    agent_mib_update(&parsed, &inner);
}

uint32_t agent_snmp_mib_get_count(void) {
    return mib_registry_get_count();
}

bool agent_snmp_oid_validate(const char *oid) {
    return oid != nullptr && local_oid_check_valid(skip_leading_dot(oid));
}

// ---- Identity ----

int32_t agent_snmp_set_engine_id(const uint8_t *id, uint8_t len) {
    if (id == nullptr || len == 0 || len > AGENT_ENGINE_ID_SIZE) {
        return AGENT_SNMP_ERR_PARAM;
    }
    std::memcpy(agent_cfg.engine_id, id, len);
    agent_cfg.engine_id_len = len;
    snmp_v3_regenerate_all_auth_keys();
    return AGENT_SNMP_OK;
}

int32_t agent_snmp_set_engine_boots(uint32_t last_boots) {
    if (is_running != 0 || agent_cfg.engine_id_len == 0) {
        return AGENT_SNMP_ERR_PARAM;
    }
    agent_engine_set_last_boots(last_boots);
    return AGENT_SNMP_OK;
}

uint32_t agent_snmp_get_engine_boots(void) {
    return agent_engine_boots();
}

uint8_t agent_snmp_get_engine_id(uint8_t *buf, uint8_t buf_size) {
    const uint16_t len = std::min<uint16_t>(agent_cfg.engine_id_len, AGENT_ENGINE_ID_SIZE);
    if (buf == nullptr || buf_size < len) {
        return 0;
    }
    std::memcpy(buf, agent_cfg.engine_id, len);
    return static_cast<uint8_t>(len);
}

int32_t agent_snmp_get_community(char *ro, uint8_t ro_size, char *rw, uint8_t rw_size) {
    if (ro == nullptr || rw == nullptr) {
        return AGENT_SNMP_ERR_PARAM;
    }
    copy_community_out(ro, ro_size, agent_cfg.ro_community, agent_cfg.ro_community_len);
    copy_community_out(rw, rw_size, agent_cfg.rw_community, agent_cfg.rw_community_len);
    return AGENT_SNMP_OK;
}

// ---- SNMPv3 users ----

int32_t agent_snmp_v3_user_add(const agent_snmp_v3_user *u) {
    if (u == nullptr || u->username[0] == '\0' || !algorithms_known(*u)) {
        return AGENT_SNMP_ERR_PARAM;
    }
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = copy_text(user.username, SNMP_USERNAME_SIZE, u->username, kUserNameMax);
    user.auth_proto = u->auth_proto;
    user.priv_proto = u->priv_proto;
    user.auth_pass_len = copy_text(user.auth_pass, SNMP_V3_PASS_SIZE, u->auth_pass, kPasswordMax);
    user.priv_pass_len = copy_text(user.priv_pass, SNMP_V3_PASS_SIZE, u->priv_pass, kPasswordMax);
    if (snmp_v3_user_add(&user)) {
        // A stopped agent localises every user's keys when it starts (to the boots of that start).
        if (is_running != 0) {
            snmp_v3_regenerate_auth_key(user.username, user.user_len);
        }
        return AGENT_SNMP_OK;
    }
    return g_snmpv3_user_mgr.user_count >= MAX_V3_USERS ? AGENT_SNMP_ERR_V3_USER_FULL
                                                        : AGENT_SNMP_ERR_V3_USER_DUP;
}

int32_t agent_snmp_v3_user_del(const char *name) {
    if (name == nullptr || name[0] == '\0') {
        return AGENT_SNMP_ERR_PARAM;
    }
    // The other users' keys do not depend on this one: they stay as they are.
    return snmp_v3_user_remove(name) ? AGENT_SNMP_OK : AGENT_SNMP_ERR_V3_USER_NOT_FOUND;
}

int32_t agent_snmp_v3_user_get(const char *name, agent_snmp_v3_user *out) {
    if (name == nullptr || name[0] == '\0' || out == nullptr) {
        return AGENT_SNMP_ERR_PARAM;
    }
    const snmp_v3_user *user = find_user(name);
    if (user == nullptr) {
        return AGENT_SNMP_ERR_V3_USER_NOT_FOUND;
    }
    *out = agent_snmp_v3_user{};
    std::memcpy(out->username, user->username, std::min<size_t>(user->user_len, kUserNameMax));
    out->auth_proto = user->auth_proto;
    out->priv_proto = user->priv_proto;
    return AGENT_SNMP_OK;
}

uint32_t agent_snmp_v3_get_count(void) {
    return g_snmpv3_user_mgr.user_count;
}

// ---- Notifications ----

int32_t agent_snmp_trap_custom(const char *dst_ip, uint16_t dst_port, const char *trap_oid,
                               const agent_snmp_vb *vbs, uint8_t count) {
    return send_custom(false, dst_ip, dst_port, trap_oid, vbs, count);
}

int32_t agent_snmp_inform_custom(const char *dst_ip, uint16_t dst_port, const char *trap_oid,
                                 const agent_snmp_vb *vbs, uint8_t count) {
    return send_custom(true, dst_ip, dst_port, trap_oid, vbs, count);
}

int32_t agent_snmp_set_notify_user(const char *name) {
    const size_t len = name != nullptr ? strnlen(name, SNMP_USERNAME_SIZE) : 0;
    return len < SNMP_USERNAME_SIZE &&
                   agent_v3_notify_set_user(reinterpret_cast<const uint8_t *>(name), static_cast<uint8_t>(len))
               ? AGENT_SNMP_OK
               : AGENT_SNMP_ERR_V3_USER_NOT_FOUND;
}

// ---- Manager whitelist ----

int32_t agent_snmp_whitelist_add(const uint32_t *ip) {
    if (ip == nullptr) {
        return AGENT_SNMP_ERR_PARAM;
    }
    const std::span<uint32_t> list = trusted_list();
    if (std::find(list.begin(), list.end(), *ip) != list.end()) {
        return AGENT_SNMP_OK;
    }
    if (list.size() >= AGENT_MAX_TRUSTED_NMS) {
        return AGENT_SNMP_ERR_TARGET_FULL;
    }
    agent_cfg.trusted_nms[list.size()] = *ip;
    agent_cfg.trusted_nms_count = static_cast<uint8_t>(list.size() + 1);
    push_whitelist();
    return AGENT_SNMP_OK;
}

int32_t agent_snmp_whitelist_remove(const uint32_t *ip) {
    if (ip == nullptr) {
        return AGENT_SNMP_ERR_PARAM;
    }
    const std::span<uint32_t> list = trusted_list();
    const auto found = std::find(list.begin(), list.end(), *ip);
    if (found == list.end()) {
        return AGENT_SNMP_ERR_PARAM;
    }
    std::copy(found + 1, list.end(), found);
    list.back() = 0;
    agent_cfg.trusted_nms_count = static_cast<uint8_t>(list.size() - 1);
    push_whitelist();
    return AGENT_SNMP_OK;
}

int32_t agent_snmp_whitelist_clear(void) {
    std::fill(std::begin(agent_cfg.trusted_nms), std::end(agent_cfg.trusted_nms), 0u);
    agent_cfg.trusted_nms_count = 0;
    push_whitelist();
    return AGENT_SNMP_OK;
}

uint32_t agent_snmp_whitelist_get_count(void) {
    return agent_cfg.trusted_nms_count;
}

const char *agent_snmp_err_to_str(int32_t err) {
    if (err < 0 || static_cast<size_t>(err) >= kErrorTexts.size()) {
        return kUnknownError;
    }
    return kErrorTexts[static_cast<size_t>(err)];
}

}  // extern "C"
