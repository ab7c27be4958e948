#include "agent/mib_registry.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <span>

#include "agent/agent_config.h"
#include "agent/tps.h"
#include "base/agent_log.h"
#include "base/log_mask.h"
#include "base/platform.h"
#include "codec/oid_literal.h"

namespace {

constexpr size_t kSubIdTextSize = 21;        // "%u" of a 32-bit value: at most 10 digits, room to spare
constexpr uint16_t kNextLogTextSize = 128;   // OID text in the GETNEXT debug line
constexpr uint32_t kMillisPerSecond = 1000;
constexpr uint32_t kMillisPerTick = 10;  // sysUpTime counts TimeTicks, hundredths of a second
constexpr size_t kEngineIdHexSize = SNMP_ENGINE_ID_SIZE * 2 + 1;
constexpr const char *kUnknownNodeName = "未知节点";

constexpr const char *kSysDescrText = "Embedded SNMP Agent / Firmware V1.0.0";
constexpr const char *kSysContactInitial = "admin@device.local";

using vek::codec::make_oid;

constexpr snmp_oid kSnmpEngineIdOid = make_oid({1, 3, 6, 1, 6, 3, 10, 2, 1, 1});
constexpr snmp_oid kSysDescrOid = make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
constexpr snmp_oid kSysUpTimeOid = make_oid({1, 3, 6, 1, 2, 1, 1, 3, 0});
constexpr snmp_oid kSysContactOid = make_oid({1, 3, 6, 1, 2, 1, 1, 4, 0});
constexpr uint32_t kSysUpTimePollMs = 100;

std::array<mib_node, MIB_MAX_NODES> g_mib_nodes{};
uint8_t g_mib_node_count = 0;
std::array<char, MIB_SYS_CONTACT_SIZE> g_sys_contact = [] {
    std::array<char, MIB_SYS_CONTACT_SIZE> text{};
    std::memcpy(text.data(), kSysContactInitial, std::strlen(kSysContactInitial));
    return text;
}();

// The sub-identifiers in use; a length past the capacity is read as the capacity.
std::span<const uint32_t> oid_ids(const snmp_oid &oid) {
    return {oid.sub_ids, std::min<size_t>(oid.len, SNMP_MAX_OID_LEN)};
}

bool oid_is_empty(const snmp_oid *oid) { return oid == nullptr || oid->len == 0; }

const char *node_name(const mib_node &node) { return node.name != nullptr ? node.name : kUnknownNodeName; }

std::span<mib_node> used_nodes() { return {g_mib_nodes.data(), g_mib_node_count}; }

int32_t compare_ids(std::span<const uint32_t> a, std::span<const uint32_t> b) {
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

// The debug line oid_compare writes for its result.
void log_compare_result(const char *text1, const char *text2, std::span<const uint32_t> a,
                        std::span<const uint32_t> b, int32_t result) {
    bool prefix = result != 0 && std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(std::min(a.size(), b.size())),
                                            b.begin());
    if (result == 0) {
        AGENT_LOG(AGENT_LOG_DEBUG, "OID比较结果：%s == %s", text1, text2);
    } else if (prefix) {
        AGENT_LOG(AGENT_LOG_DEBUG, result < 0 ? "OID比较结果：%s < %s（前缀相同，长度更短）"
                                              : "OID比较结果：%s > %s（前缀相同，长度更长）",
                  text1, text2);
    } else {
        AGENT_LOG(AGENT_LOG_DEBUG, result < 0 ? "OID比较结果：%s < %s" : "OID比较结果：%s > %s", text1, text2);
    }
}

// Puts text into an OCTET STRING value: at most 299 bytes, terminated after the text and at the last
// byte of the value area.
void fill_octet_text(snmp_varbind &vb, const char *text, size_t length) {
    size_t count = std::min<size_t>(length, SNMP_MAX_OCTETS - 1);
    std::memcpy(vb.value.octets, text, count);
    vb.value.octets[count] = 0;
    vb.value.octets[SNMP_MAX_OCTETS - 1] = 0;
    vb.type = SNMP_TAG_OCTET_STRING;
    vb.value_len = static_cast<uint16_t>(count);
}

size_t engine_id_length() { return std::min<size_t>(agent_cfg.engine_id_len, SNMP_ENGINE_ID_SIZE); }

void engine_id_to_hex(std::array<char, kEngineIdHexSize> &hex, size_t length) {
    hex[0] = '\0';
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(&hex[i * 2], hex.size() - i * 2, "%02X", static_cast<unsigned>(agent_cfg.engine_id[i]));
    }
}

void register_default(const mib_node &node, const char *ok_line, const char *fail_line) {
    if (mib_registry_add(&node)) {
        AGENT_LOG(AGENT_LOG_INFO, "%s", ok_line);
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "%s", fail_line);
    }
}

}  // namespace

mib_node mib_registry_make_node(const char *name, const snmp_oid &oid, uint8_t type, uint32_t access,
                                uint32_t poll, mib_read_cb read, mib_write_cb write) {
    mib_node node{};
    node.oid = oid;
    node.type = type;
    node.access = access;
    node.poll_interval = poll;
    node.read = read;
    node.write = write;
    node.user_data = nullptr;
    node.name = name;
    return node;
}

extern "C" {

int32_t oid_compare(const snmp_oid *oid1, const snmp_oid *oid2) {
    bool empty1 = oid_is_empty(oid1);
    bool empty2 = oid_is_empty(oid2);
    if (empty1 || empty2) {
        if (empty1 && empty2) {
            AGENT_LOG(AGENT_LOG_WARN, "oid_compare: 两个OID均为空");
            return 0;
        }
        if (empty1) {
            AGENT_LOG(AGENT_LOG_WARN, "oid_compare: oid1为空OID");
            return -1;
        }
        AGENT_LOG(AGENT_LOG_WARN, "oid_compare: oid2为空OID");
        return 1;
    }
    std::span<const uint32_t> a = oid_ids(*oid1);
    std::span<const uint32_t> b = oid_ids(*oid2);
    int32_t result = compare_ids(a, b);
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        std::array<char, MIB_OID_TEXT_SIZE> text1{};
        std::array<char, MIB_OID_TEXT_SIZE> text2{};
        oid_to_string(oid1, text1.data(), static_cast<uint16_t>(text1.size()));
        oid_to_string(oid2, text2.data(), static_cast<uint16_t>(text2.size()));
        AGENT_LOG(AGENT_LOG_DEBUG, "OID比较输入：oid1=%s, oid2=%s", text1.data(), text2.data());
        log_compare_result(text1.data(), text2.data(), a, b, result);
    }
    return result;
}

void oid_to_string(const snmp_oid *oid, char *buf, uint16_t buf_len) {
    if (oid == nullptr || buf == nullptr || buf_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "oid_to_string: 无效参数（oid=%p, buf=%p, len=%u）", static_cast<const void *>(oid),
                  static_cast<void *>(buf), static_cast<unsigned>(buf_len));
        return;
    }
    buf[0] = '\0';
    if (oid->len == 0) {
        AGENT_LOG(AGENT_LOG_WARN, "oid_to_string: 无效的OID数据（len=%u）", static_cast<unsigned>(oid->len));
        return;
    }
    size_t length = 0;
    bool first = true;
    for (uint32_t id : oid_ids(*oid)) {
        std::array<char, kSubIdTextSize> piece{};
        int digits = std::snprintf(piece.data(), piece.size(), first ? "%" PRIu32 : ".%" PRIu32, id);
        auto needed = static_cast<size_t>(digits);
        if (length + needed >= buf_len) {
            AGENT_LOG(AGENT_LOG_WARN, "oid_to_string: 缓冲区不足（需要=%u, 剩余=%u）", static_cast<unsigned>(needed),
                      static_cast<unsigned>(buf_len - length));
            return;
        }
        std::memcpy(buf + length, piece.data(), needed + 1);  // with its terminating zero
        length += needed;
        first = false;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "oid_to_string: 转换成功（结果=%s, 长度=%u）", buf, static_cast<unsigned>(length));
}

void mib_registry_init(void) {
    // The registry owns the user_data of its nodes: a re-initialised table must not leak them.
    for (mib_node &entry : used_nodes()) {
        std::free(entry.user_data);
    }
    g_mib_nodes.fill(mib_node{});
    g_mib_node_count = 0;
    AGENT_LOG(AGENT_LOG_INFO, "MIB注册表初始化完成，最大支持节点数: %d", static_cast<int>(MIB_MAX_NODES));
}

bool mib_registry_add(const mib_node *node) {
    if (node == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "节点注册失败：配置参数为空");
        return false;
    }
    // An empty OID is the mark of an unused entry, and no OID holds more than 32 sub-identifiers.
    if (node->oid.len == 0 || node->oid.len > SNMP_MAX_OID_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "节点注册失败：OID长度无效（%u）", static_cast<unsigned>(node->oid.len));
        return false;
    }
    if (g_mib_node_count >= MIB_MAX_NODES) {
        AGENT_LOG(AGENT_LOG_ERROR, "节点注册失败：注册表已满（当前: %d, 最大: %d）", static_cast<int>(g_mib_node_count),
                  static_cast<int>(MIB_MAX_NODES));
        return false;
    }
    for (const mib_node &entry : used_nodes()) {
        if (oid_compare(&entry.oid, &node->oid) == 0) {
            AGENT_LOG(AGENT_LOG_ERROR, "节点注册失败：OID已存在（名称: %s）", node_name(*node));
            return false;
        }
    }
    std::span<mib_node> used = used_nodes();
    auto gap = std::find_if(used.begin(), used.end(),
                            [node](const mib_node &entry) { return oid_compare(&entry.oid, &node->oid) > 0; });
    auto index = static_cast<size_t>(gap - used.begin());
    std::copy_backward(g_mib_nodes.begin() + static_cast<ptrdiff_t>(index),
                       g_mib_nodes.begin() + g_mib_node_count, g_mib_nodes.begin() + g_mib_node_count + 1);
    g_mib_nodes[index] = *node;
    ++g_mib_node_count;
    AGENT_LOG(AGENT_LOG_INFO, "节点注册成功：%s（位置: %d, 总节点数: %d）", node_name(*node), static_cast<int>(index),
              static_cast<int>(g_mib_node_count));
    return true;
}

bool mib_registry_remove(const snmp_oid *oid) {
    if (oid_is_empty(oid)) {
        AGENT_LOG(AGENT_LOG_ERROR, "mib_registry_remove: oid 参数非法");
        return false;
    }
    std::span<mib_node> used = used_nodes();
    auto found = std::find_if(used.begin(), used.end(),
                              [oid](const mib_node &entry) { return oid_compare(&entry.oid, oid) == 0; });
    if (found == used.end()) {
        AGENT_LOG(AGENT_LOG_WARN, "mib_registry_remove: 未找到目标OID节点");
        return false;
    }
    if (found->user_data != nullptr) {
        std::free(found->user_data);
        found->user_data = nullptr;
    }
    std::copy(found + 1, used.end(), found);
    --g_mib_node_count;
    g_mib_nodes[g_mib_node_count] = mib_node{};
    AGENT_LOG(AGENT_LOG_INFO, "mib_registry_remove: 删除节点成功，剩余节点总数=%d", static_cast<int>(g_mib_node_count));
    return true;
}

mib_node *mib_registry_find(const snmp_oid *oid) {
    if (oid == nullptr) {
        AGENT_LOG(AGENT_LOG_WARN, "节点查找失败：OID参数为空");
        return nullptr;
    }
    std::span<mib_node> used = used_nodes();
    for (size_t i = 0; i < used.size(); ++i) {
        if (oid_compare(&used[i].oid, oid) == 0) {
            AGENT_LOG(AGENT_LOG_DEBUG, "节点查找成功：%s（索引: %d）", node_name(used[i]), static_cast<int>(i));
            return &used[i];
        }
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "节点查找失败：未找到匹配OID");
    return nullptr;
}

mib_node *mib_registry_find_next(const snmp_oid *oid) {
    if (oid == nullptr) {
        AGENT_LOG(AGENT_LOG_WARN, "GETNEXT查找失败：OID参数为空");
        return nullptr;
    }
    if (g_mib_node_count == 0) {
        AGENT_LOG(AGENT_LOG_DEBUG, "GETNEXT查找失败：注册表为空");
        return nullptr;
    }
    // Every entry is examined: the result does not depend on the table being sorted.
    mib_node *best = nullptr;
    for (mib_node &entry : used_nodes()) {
        if (entry.oid.len == 0 || oid_compare(&entry.oid, oid) <= 0) {
            continue;
        }
        if (best == nullptr || oid_compare(&entry.oid, &best->oid) < 0) {
            best = &entry;
        }
    }
    if (best == nullptr) {
        AGENT_LOG(AGENT_LOG_DEBUG, "GETNEXT：无OID严格大于输入，endOfMibView");
        return nullptr;
    }
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        std::array<char, kNextLogTextSize> found_text{};
        std::array<char, kNextLogTextSize> input_text{};
        oid_to_string(&best->oid, found_text.data(), kNextLogTextSize);
        oid_to_string(oid, input_text.data(), kNextLogTextSize);
        AGENT_LOG(AGENT_LOG_DEBUG, "GETNEXT：找到最小更大OID %s (输入=%s)", found_text.data(), input_text.data());
    }
    return best;
}

mib_node *mib_registry_get_all(uint8_t *out_count) {
    AGENT_LOG(AGENT_LOG_DEBUG, "获取所有MIB节点，当前总数: %d", static_cast<int>(g_mib_node_count));
    if (out_count != nullptr) {
        *out_count = g_mib_node_count;
    }
    return g_mib_nodes.data();
}

uint8_t mib_registry_get_count(void) {
    AGENT_LOG(AGENT_LOG_DEBUG, "获取MIB节点总数: %d", static_cast<int>(g_mib_node_count));
    return g_mib_node_count;
}

void mib_registry_init_default_nodes(void) {
    AGENT_LOG(AGENT_LOG_INFO, "开始初始化默认MIB节点");
    register_default(mib_registry_make_node("snmpEngineID", kSnmpEngineIdOid, SNMP_TAG_OCTET_STRING, MIB_ACCESS_READ_ONLY, 0,
                                 snmp_engine_id_read, nullptr),
                     "默认节点注册成功：snmpEngineID", "默认节点注册失败：snmpEngineID（SNMPv3 功能将异常）");
    register_default(mib_registry_make_node("sysDescr", kSysDescrOid, SNMP_TAG_OCTET_STRING, MIB_ACCESS_READ_ONLY, 0,
                                 sys_descr_read, nullptr),
                     "默认节点注册成功：sysDescr", "默认节点注册失败：sysDescr");
    register_default(mib_registry_make_node("sysUpTime", kSysUpTimeOid, SNMP_TAG_TIMETICKS, MIB_ACCESS_READ_ONLY, kSysUpTimePollMs,
                                 sys_uptime_read, nullptr),
                     "默认节点注册成功：sysUpTime", "默认节点注册失败：sysUpTime");
    register_default(mib_registry_make_node("sysContact", kSysContactOid, SNMP_TAG_OCTET_STRING, MIB_ACCESS_READ_WRITE, 0,
                                 sys_contact_read, sys_contact_write),
                     "默认节点注册成功：sysContact", "默认节点注册失败：sysContact");
    AGENT_LOG(AGENT_LOG_INFO, "初始化用户自定义MIB节点");
    user_mib_init();
    AGENT_LOG(AGENT_LOG_INFO, "默认MIB节点初始化完成，当前总节点数: %d", static_cast<int>(g_mib_node_count));
}

bool mib_registry_get_snmp_engine_id(snmp_varbind *out) {
    if (out == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "mib_registry_get_snmp_engine_id: out_vb 为空指针");
        return false;
    }
    out->oid = kSnmpEngineIdOid;
    const mib_node *node = mib_registry_find(&out->oid);
    if (node == nullptr) {
        AGENT_LOG(AGENT_LOG_FATAL, "mib_registry_get_snmp_engine_id: 关键错误！snmpEngineID节点未注册。");
        return false;
    }
    if (node->read == nullptr) {
        AGENT_LOG(AGENT_LOG_FATAL, "mib_registry_get_snmp_engine_id: 关键错误！snmpEngineID节点无读回调。");
        return false;
    }
    int32_t result = node->read(nullptr, out);
    if (result != MIB_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "mib_registry_get_snmp_engine_id: 调用读回调失败，错误码: %d", static_cast<int>(result));
        return false;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "mib_registry_get_snmp_engine_id: 成功获取snmpEngineID值。");
    return true;
}

int32_t sys_descr_read(void * /*user_data*/, snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "sys_descr_read失败：varbind为空");
        return MIB_ERR_INVALID_ARG;
    }
    fill_octet_text(*vb, kSysDescrText, std::strlen(kSysDescrText));
    AGENT_LOG(AGENT_LOG_DEBUG, "sys_descr_read成功：%s", reinterpret_cast<const char *>(vb->value.octets));
    return MIB_OK;
}

int32_t sys_uptime_read(void * /*user_data*/, snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "sys_uptime_read失败：varbind为空");
        return MIB_ERR_INVALID_ARG;
    }
    // TimeTicks as every manager expects of sysUpTime (and as the notifications carry it).
    const uint32_t millis = platform_get_tick();
    const uint32_t seconds = millis / kMillisPerSecond;
    vb->type = SNMP_TAG_TIMETICKS;
    vb->value.integer = static_cast<int32_t>(millis / kMillisPerTick);
    AGENT_LOG(AGENT_LOG_DEBUG, "sys_uptime_read成功：%d秒", static_cast<int>(seconds));
    return MIB_OK;
}

int32_t sys_contact_read(void * /*user_data*/, snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "sys_contact_read失败：varbind为空");
        return MIB_ERR_INVALID_ARG;
    }
    fill_octet_text(*vb, g_sys_contact.data(), std::strlen(g_sys_contact.data()));
    AGENT_LOG(AGENT_LOG_DEBUG, "sys_contact_read成功：%s", vek::kLogMask);
    return MIB_OK;
}

int32_t sys_contact_write(void * /*user_data*/, const snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "sys_contact_write失败：varbind为空");
        return MIB_ERR_WRONG_TYPE;
    }
    if (vb->type != SNMP_TAG_OCTET_STRING) {
        AGENT_LOG(AGENT_LOG_ERROR, "sys_contact_write失败：类型错误（0x%02X），预期OCTET_STRING(0x%02X)",
                  static_cast<unsigned>(vb->type), static_cast<unsigned>(SNMP_TAG_OCTET_STRING));
        return MIB_ERR_WRONG_TYPE;
    }
    if (vb->value_len >= MIB_SYS_CONTACT_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "sys_contact_write失败：值过长（%u >= %u）", static_cast<unsigned>(vb->value_len),
                  static_cast<unsigned>(MIB_SYS_CONTACT_SIZE));
        return MIB_ERR_TOO_LONG;
    }
    std::memcpy(g_sys_contact.data(), vb->value.octets, vb->value_len);
    g_sys_contact[vb->value_len] = '\0';
    // The value may have come encrypted: it does not go to the log.
    AGENT_LOG(AGENT_LOG_INFO, "sys_contact_write成功：新值为'%s'", vek::kLogMask);
    return MIB_OK;
}

int32_t snmp_engine_id_read(void * /*user_data*/, snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_engine_id_read: varbind 为空");
        return MIB_ERR_INVALID_ARG;
    }
    size_t length = engine_id_length();
    if (length == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_engine_id_read: engine_id 未初始化");
        return MIB_ERR_NO_CALLBACK;
    }
    vb->type = SNMP_TAG_OCTET_STRING;
    std::memcpy(vb->value.octets, agent_cfg.engine_id, length);
    vb->value_len = static_cast<uint16_t>(length);
    if (agent_log_enabled(AGENT_LOG_INFO)) {
        std::array<char, kEngineIdHexSize> hex{};
        engine_id_to_hex(hex, length);
        AGENT_LOG(AGENT_LOG_INFO, "snmp_engine_id_read: 成功，engine_id=%s（长度=%d）", hex.data(), static_cast<int>(length));
    }
    return MIB_OK;
}

}  // extern "C"
