#include "codec/snmp_trap.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "codec/snmp_protocol.h"

namespace {

constexpr int32_t kParseFailed = 0;
constexpr int32_t kParseOk = 1;
constexpr int32_t kInvalid = 0;
constexpr int32_t kValid = 1;

constexpr uint8_t kMandatoryVarbinds = 2; /* sysUpTime.0 and snmpTrapOID.0 */
constexpr uint32_t kDecimalBase = 10;
constexpr char kOidSeparator = '.';
constexpr char kFirstPrintable = 0x20; /* space */
constexpr char kLastPrintable = 0x7E;  /* '~' */

using oid_text = std::array<char, SNMP_TRAP_OID_TEXT_MAX + 1>;

// ---- Text to OID ----

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

enum class arc_status { ok, not_decimal, out_of_range };

// One dotted piece as a sub-identifier: decimal digits only, at most 4294967295.
constexpr arc_status parse_arc(std::string_view piece, uint32_t &value) {
    if (!std::all_of(piece.begin(), piece.end(), is_digit)) {
        return arc_status::not_decimal;
    }
    uint64_t acc = 0;
    for (char c : piece) {
        acc = acc * kDecimalBase + static_cast<uint64_t>(c - '0');
        if (acc > UINT32_MAX) {
            return arc_status::out_of_range;
        }
    }
    value = static_cast<uint32_t>(acc);
    return arc_status::ok;
}

// Splits the text at the dots, skipping empty pieces, and hands each piece to visit until it says stop.
template <typename Visitor>
constexpr void for_each_piece(std::string_view text, Visitor &&visit) {
    while (!text.empty()) {
        size_t dot = text.find(kOidSeparator);
        std::string_view piece = text.substr(0, dot);
        text = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
        if (!piece.empty() && !visit(piece)) {
            return;
        }
    }
}

// Zero-terminated copy of a piece (never longer than the text it came from) for the log.
oid_text terminated(std::string_view piece) {
    oid_text out{};
    size_t len = std::min(piece.size(), out.size() - 1);
    std::copy_n(piece.begin(), len, out.begin());
    return out;
}

// OID of a fixed, well-formed dotted text, worked out at compile time.
consteval snmp_oid fixed_oid(std::string_view text) {
    snmp_oid oid{};
    for_each_piece(text, [&oid](std::string_view piece) {
        uint32_t value = 0;
        if (parse_arc(piece, value) != arc_status::ok) {
            throw "not a dotted-decimal OID"; /* compile-time error only */
        }
        oid.sub_ids[oid.len++] = value;
        return oid.len < SNMP_MAX_OID_LEN;
    });
    return oid;
}

constexpr snmp_oid kSysUpTimeOid = fixed_oid(SNMP_TRAP_SYS_UPTIME_OID);
constexpr snmp_oid kTrapOidOid = fixed_oid(SNMP_TRAP_SNMP_TRAP_OID);

// ---- Binding list ----

bool check_varbind_count(const snmp_pdu &pdu) {
    if (pdu.varbind_count < SNMP_MAX_VARBINDS) {
        return true;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_check_varbind_count: VarBind数量超限 (当前=%d, 最大=%d)",
              static_cast<int>(pdu.varbind_count), static_cast<int>(SNMP_MAX_VARBINDS));
    return false;
}

// The first free binding slot, zeroed; it counts as used only once the caller raises varbind_count.
snmp_varbind &free_slot(snmp_pdu &pdu) {
    snmp_varbind &slot = pdu.varbinds[pdu.varbind_count];
    slot = snmp_varbind{};
    return slot;
}

int32_t add_sys_uptime(snmp_pdu &pdu, uint32_t sys_uptime) {
    snmp_varbind &slot = free_slot(pdu);
    if (snmp_trap_parse_oid(SNMP_TRAP_SYS_UPTIME_OID, &slot.oid) != kParseOk) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_add_mandatory_varbinds: 解析sysUpTime OID失败");
        slot = snmp_varbind{};
        return SNMP_ERR_OID;
    }
    slot.type = SNMP_TAG_TIMETICKS;
    slot.value.integer = static_cast<int32_t>(sys_uptime);
    ++pdu.varbind_count;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_trap_add_mandatory_varbinds: 添加sysUpTime.0成功 (值=%u)", sys_uptime);
    return SNMP_OK;
}

int32_t add_trap_oid(snmp_pdu &pdu, const char *trap_oid) {
    snmp_varbind &slot = free_slot(pdu);
    if (snmp_trap_parse_oid(SNMP_TRAP_SNMP_TRAP_OID, &slot.oid) != kParseOk) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_add_mandatory_varbinds: 解析snmpTrapOID OID失败");
        slot = snmp_varbind{};
        return SNMP_ERR_OID;
    }
    slot.type = SNMP_TAG_OID;
    if (snmp_trap_parse_oid(trap_oid, &slot.value.oid_value) != kParseOk) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_add_mandatory_varbinds: 解析Trap OID失败 %s", trap_oid);
        slot = snmp_varbind{};
        return SNMP_ERR_OID;
    }
    ++pdu.varbind_count;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_trap_add_mandatory_varbinds: 添加snmpTrapOID.0成功 (OID=%s)", trap_oid);
    return SNMP_OK;
}

// ---- Inform answer ----

constexpr bool is_printable(char c) { return c >= kFirstPrintable && c <= kLastPrintable; }

bool all_printable(const char *text) {
    std::string_view view(text);
    return std::all_of(view.begin(), view.end(), is_printable);
}

int32_t set_v2c_community(snmp_message &resp, const char *community) {
    if (community == nullptr || community[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_inform_build_response: v2c共同体名为空");
        return SNMP_ERR_NULL;
    }
    if (!all_printable(community)) {
        AGENT_LOG(AGENT_LOG_ERROR, "共同体名包含非打印字符");
        return SNMP_ERR_NULL;
    }
    size_t len = strnlen(community, SNMP_MAX_COMMUNITY_LEN);
    std::memcpy(resp.usm.username, community, len);
    resp.usm.user_len = static_cast<uint8_t>(len);
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_inform_build_response: v2c共同体名设置成功 %s", vek::kLogMask);
    return SNMP_OK;
}

}  // namespace

extern "C" {

int32_t snmp_trap_parse_oid(const char *text, snmp_oid *oid) {
    if (text == nullptr || oid == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_parse_oid: 入参为空");
        return kParseFailed;
    }
    *oid = snmp_oid{};
    // A private copy of at most the first 127 characters: the text may be shared with other threads.
    oid_text copy{};
    size_t text_len = strnlen(text, SNMP_TRAP_OID_TEXT_MAX);
    std::copy_n(text, text_len, copy.begin());

    bool failed = false;
    for_each_piece(std::string_view(copy.data(), text_len), [&](std::string_view piece) {
        uint32_t value = 0;
        arc_status status = parse_arc(piece, value);
        if (status == arc_status::not_decimal) {
            AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_parse_oid: OID节点包含非数字字符 %s", terminated(piece).data());
        } else if (status == arc_status::out_of_range) {
            AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_parse_oid: OID节点数值超出范围 %s", terminated(piece).data());
        }
        if (status != arc_status::ok) {
            failed = true;
            return false;
        }
        oid->sub_ids[oid->len++] = value;
        return oid->len < SNMP_MAX_OID_LEN; /* pieces past the capacity are ignored */
    });
    if (failed) {
        *oid = snmp_oid{};
        return kParseFailed;
    }
    if (oid->len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_parse_oid: OID解析失败 %s", copy.data());
        return kParseFailed;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_trap_parse_oid: 解析成功 %s (节点数=%d)", copy.data(),
              static_cast<int>(oid->len));
    return kParseOk;
}

int32_t snmp_trap_pdu_init(snmp_pdu *pdu, uint32_t op, uint32_t request_id) {
    if (pdu == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_pdu_init: pdu为空");
        return SNMP_ERR_NULL;
    }
    if (op > SNMP_OP_MAX) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_pdu_init: 非法PDU类型 %u", op);
        return SNMP_ERR_NULL;
    }
    std::memset(pdu, 0, sizeof(*pdu));
    pdu->op = op;
    pdu->request_id = static_cast<int32_t>(request_id);
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_trap_pdu_init: PDU初始化成功 (类型=%d, RequestID=%u)", static_cast<int>(op),
              request_id);
    return SNMP_OK;
}

int32_t snmp_trap_add_mandatory_varbinds(snmp_pdu *pdu, uint32_t sys_uptime, const char *trap_oid) {
    if (pdu == nullptr || trap_oid == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_add_mandatory_varbinds: 入参为空");
        return SNMP_ERR_NULL;
    }
    if (!check_varbind_count(*pdu)) {
        return SNMP_ERR_NO_ROOM;
    }
    int32_t rc = add_sys_uptime(*pdu, sys_uptime);
    if (rc != SNMP_OK) {
        return rc;
    }
    if (!check_varbind_count(*pdu)) {
        return SNMP_ERR_NO_ROOM;
    }
    return add_trap_oid(*pdu, trap_oid);
}

int32_t snmp_trap_build_v2c_v3_pdu(snmp_pdu *pdu, uint8_t is_inform, uint32_t sys_uptime, const char *trap_oid,
                                   uint32_t request_id) {
    if (pdu == nullptr || trap_oid == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_build_v2c_v3_pdu: 入参为空");
        return SNMP_ERR_NULL;
    }
    uint32_t op = is_inform != 0 ? SNMP_OP_INFORM : SNMP_OP_TRAP;
    int32_t rc = snmp_trap_pdu_init(pdu, op, request_id);
    if (rc != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_build_v2c_v3_pdu: PDU初始化失败 (错误码=%d)", rc);
        return rc;
    }
    rc = snmp_trap_add_mandatory_varbinds(pdu, sys_uptime, trap_oid);
    if (rc != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_build_v2c_v3_pdu: 添加必备VarBind失败 (错误码=%d)", rc);
        return rc;
    }
    AGENT_LOG(AGENT_LOG_INFO, "snmp_trap_build_v2c_v3_pdu: v2c/v3 %s PDU构造成功 (RequestID=%u, TrapOID=%s)",
              is_inform != 0 ? "Inform" : "Trap", request_id, trap_oid);
    return SNMP_OK;
}

int32_t snmp_trap_validate_message(const snmp_message *msg) {
    if (msg == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_validate_message: 消息为空");
        return kInvalid;
    }
    if (msg->version != SNMP_VERSION_2C && msg->version != SNMP_VERSION_3) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_validate_message: 不支持的SNMP版本 %d", static_cast<int>(msg->version));
        return kInvalid;
    }
    const snmp_pdu &pdu = msg->pdu;
    if (pdu.op != SNMP_OP_TRAP && pdu.op != SNMP_OP_INFORM) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_validate_message: 非法PDU类型 %d", static_cast<int>(pdu.op));
        return kInvalid;
    }
    if (pdu.varbind_count < kMandatoryVarbinds) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_validate_message: VarBind数量不足 (当前=%d, 最小=2)",
                  static_cast<int>(pdu.varbind_count));
        return kInvalid;
    }
    if (!snmp_oid_compare(&pdu.varbinds[0].oid, &kSysUpTimeOid)) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_validate_message: 第一个VarBind不是sysUpTime.0");
        return kInvalid;
    }
    if (!snmp_oid_compare(&pdu.varbinds[1].oid, &kTrapOidOid)) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_trap_validate_message: 第二个VarBind不是snmpTrapOID.0");
        return kInvalid;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_trap_validate_message: Trap/Inform消息校验通过");
    return kValid;
}

int32_t snmp_inform_build_response(snmp_message *resp, const snmp_message *inform, uint32_t version,
                                   const char *community, const snmp_v3_user *user) {
    if (resp == nullptr || inform == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_inform_build_response: 入参为空");
        return SNMP_ERR_NULL;
    }
    if (version != SNMP_VERSION_2C && version != SNMP_VERSION_3) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_inform_build_response: 不支持的版本 %d", static_cast<int>(version));
        return SNMP_ERR_VERSION;
    }
    // Taken before the output is cleared: the answer may be built over the received message itself.
    const uint32_t request_id = static_cast<uint32_t>(inform->pdu.request_id);
    const uint32_t msg_id = inform->msg_id;
    const uint8_t msg_flags = inform->msg_flags;

    std::memset(resp, 0, sizeof(*resp));
    resp->version = version;
    if (version == SNMP_VERSION_3) {
        if (user == nullptr) {
            AGENT_LOG(AGENT_LOG_ERROR, "snmp_inform_build_response: v3用户信息为空");
            return SNMP_ERR_NULL;
        }
        resp->msg_id = msg_id;
        resp->msg_flags = msg_flags;
        AGENT_LOG(AGENT_LOG_DEBUG, "snmp_inform_build_response: v3用户信息设置成功 (msgID=%u)", msg_id);
    } else {
        int32_t rc = set_v2c_community(*resp, community);
        if (rc != SNMP_OK) {
            return rc;
        }
    }
    int32_t rc = snmp_trap_pdu_init(&resp->pdu, SNMP_OP_GET_RESPONSE, request_id);
    if (rc != SNMP_OK) {
        return rc;
    }
    AGENT_LOG(AGENT_LOG_INFO, "snmp_inform_build_response: Inform响应消息构造成功 (RequestID=%u)", request_id);
    return SNMP_OK;
}

}  // extern "C"
