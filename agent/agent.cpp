// Agent core: initialisation and start of the agent modules, the main loop, message intake, the
// community and SNMPv3 checks, PDU execution over the MIB layer and the answers.
#include "agent/agent.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "agent/agent_mib.h"
#include "agent/agent_engine.h"
#include "agent/agent_stats.h"
#include "agent/agent_trap.h"
#include "agent/agent_usm.h"
#include "agent/agent_v3_notify.h"
#include "agent/mib_registry.h"
#include "agent/snmpv3_user_mgr.h"
#include "agent/tps.h"
#include "base/agent_log.h"
#include "base/irq_section.h"
#include "base/log_mask.h"
#include "base/platform.h"
#include "codec/snmp_ber.h"
#include "codec/snmp_protocol.h"
#include "codec/snmpv3_crypto.h"
#include "codec/snmpv3_reply.h"

#ifndef VEK_AGENT_SDK_VERSION
#define VEK_AGENT_SDK_VERSION "1.0.0"
#endif

extern "C" {
uint8_t is_running = 0;
uint32_t last_poll_time = 0;
agent_msg_ctx msg_contexts[AGENT_MAX_MSG_CTX]{};
}

namespace {

using Ipv4 = std::array<uint8_t, TRANS_IPV4_LEN>;
using MessageBuffer = std::array<uint8_t, SNMP_MAX_MSG_SIZE>;

constexpr Ipv4 kDefaultNmsIp{192, 168, 1, 200};
constexpr std::string_view kBannerTitle = "VEK SNMP Agent SDK (SNMP v1/v2c/v3, vekcrypto)";
constexpr uint32_t kMaxBulkRepetitions = SNMP_MAX_VARBINDS;
constexpr uint16_t kOidLogTextSize = 128;
constexpr uint32_t kErrStatusWrongEncoding = 9;
constexpr uint32_t kFirstBinding = 1;  // error-index of the first binding
constexpr uint32_t kNoBinding = 0;     // error-index that names no binding
constexpr uint8_t kOneBinding = 1;

// Layout of a GETBULK answer: `head` non-repeater bindings, then rows of `row` bindings.
struct BulkShape {
    uint8_t head = 0;
    uint8_t row = 0;
};

BulkShape answer_shape(const agent_msg_ctx &ctx) {
    return BulkShape{ctx.bulk_head, ctx.bulk_row};
}

void record_bulk_shape(agent_msg_ctx &ctx, const BulkShape &shape) {
    ctx.bulk_head = shape.head;
    ctx.bulk_row = shape.row;
}

trans_ctx &transport_of(uint32_t trans_type) {
    return trans_type == TRANS_ES ? es_trans_ctx : eth_trans_ctx;
}

const char *trans_name(uint32_t trans_type) {
    return trans_type == TRANS_ES ? "ES" : "ETH";
}

const char *as_text(const uint8_t *bytes) {
    return reinterpret_cast<const char *>(bytes);
}

int text_len(size_t len) {
    return static_cast<int>(len);
}

std::span<snmp_varbind> bindings(snmp_pdu &pdu) {
    return {pdu.varbinds, std::min<size_t>(pdu.varbind_count, SNMP_MAX_VARBINDS)};
}

// Its value as an empty OCTET STRING: how a binding that cannot be read is answered.
void set_empty_octets(snmp_varbind &vb) {
    vb.type = SNMP_TAG_OCTET_STRING;
    vb.value = snmp_value{};
    vb.value_len = 0;
}

void set_exception(snmp_varbind &vb, uint8_t exception_tag) {
    vb.type = exception_tag;
    vb.value = snmp_value{};
    vb.value_len = 0;
}

// ---- Initialisation ----

void print_banner() {
    const std::string rule(AGENT_BANNER_WIDTH, '=');
    AGENT_LOG(AGENT_LOG_WARN, "%s", rule.c_str());
    AGENT_LOG(AGENT_LOG_WARN, "  %s", kBannerTitle.data());
    AGENT_LOG(AGENT_LOG_WARN, "  Version %s", VEK_AGENT_SDK_VERSION);
    AGENT_LOG(AGENT_LOG_WARN, "%s\n", rule.c_str());
}

int ip_part(const uint8_t *ip, size_t i) {
    return static_cast<int>(ip[i]);
}

void print_ip_configuration(const trans_ctx &ctx) {
    std::printf("IP Configuration:\n");
    std::printf("  Mode: %s\n", ctx.ip_mode == TRANS_IP_MODE_AUTO ? "DHCP" : "Static");
    std::printf("  IP Address: %d.%d.%d.%d\n", ip_part(ctx.local_ip, 0), ip_part(ctx.local_ip, 1),
                ip_part(ctx.local_ip, 2), ip_part(ctx.local_ip, 3));
    std::printf("  Subnet Mask: %d.%d.%d.%d\n", ip_part(ctx.subnet_mask, 0), ip_part(ctx.subnet_mask, 1),
                ip_part(ctx.subnet_mask, 2), ip_part(ctx.subnet_mask, 3));
    std::printf("  Gateway: %d.%d.%d.%d\n", ip_part(ctx.gateway, 0), ip_part(ctx.gateway, 1),
                ip_part(ctx.gateway, 2), ip_part(ctx.gateway, 3));
    std::fflush(stdout);
}

// Closes a transport that still has its socket and receive thread.
void close_transport(trans_ctx &ctx) {
    if (ctx.state != TRANS_STATE_STOPPED && ctx.udp_inst != nullptr) {
        trans_stop(&ctx);
    }
}

void install_whitelist() {
    if (agent_cfg.trusted_nms_count > 0) {
        trans_set_nms_whitelist_all(agent_cfg.trusted_nms,
                                    std::min<uint8_t>(agent_cfg.trusted_nms_count, AGENT_MAX_TRUSTED_NMS));
    }
}

// A transport stopped by agent_stop is opened again on its configured port, with the whitelist.
void reopen_transport(uint32_t type, uint16_t port, trans_ctx &ctx) {
    if (ctx.state == TRANS_STATE_READY || port == 0) {
        return;
    }
    if (trans_cfg_trans(type, port, &ctx) && agent_cfg.trusted_nms_count > 0) {
        trans_set_nms_whitelist(&ctx, agent_cfg.trusted_nms,
                                std::min<uint8_t>(agent_cfg.trusted_nms_count, AGENT_MAX_TRUSTED_NMS));
    }
}

// ---- Community check ----

bool community_is(const snmp_v3_usm &usm, const uint8_t *community, uint8_t community_len) {
    // An empty configured community is switched off: it never admits a request.
    return community_len > 0 && community_len <= AGENT_COMMUNITY_SIZE && usm.user_len == community_len &&
           std::memcmp(usm.username, community, community_len) == 0;
}

// The sender of a request that has passed the community or USM check becomes the current manager,
// to which notifications go.
void adopt_sender_as_manager(const agent_msg_ctx &ctx) {
    if (ctx.src_valid != 0 && ctx.transport != nullptr) {
        trans_set_nms_addr(ctx.transport, ctx.src_ip, ctx.src_port);
    }
}

// Answers the request with no bindings and the given error.
void refuse(uint8_t index, uint32_t request_op, uint32_t error_status, uint32_t error_index) {
    snmp_pdu &pdu = msg_contexts[index].msg.pdu;
    snmp_pdu_clear_varbinds(&pdu);
    pdu.op = SNMP_OP_GET_RESPONSE;
    pdu.error_status = error_status;
    pdu.error_index = error_index;
    agent_func_mib_response(request_op, index);
}

void handle_community(uint8_t index) {
    snmp_message &msg = msg_contexts[index].msg;
    const snmp_v3_usm &usm = msg.usm;
    const uint32_t request_op = msg.pdu.op;
    const bool read_only = community_is(usm, agent_cfg.ro_community, agent_cfg.ro_community_len);
    if (read_only) {
        AGENT_LOG(AGENT_LOG_DEBUG, "v1/v2c 匹配只读共同体：%s", vek::kLogMask);
    } else if (community_is(usm, agent_cfg.rw_community, agent_cfg.rw_community_len)) {
        AGENT_LOG(AGENT_LOG_DEBUG, "v1/v2c 匹配读写共同体：%s", vek::kLogMask);
    } else {
        // A wrong community may be a mistyped right one: neither it nor the configured ones are logged.
        AGENT_LOG(AGENT_LOG_WARN, "v1/v2c 共同体名验证失败：请求='%s'，支持ro='%s'、rw='%s'", vek::kLogMask,
                  vek::kLogMask, vek::kLogMask);
        agent_stats_count(AGENT_STAT_IN_BAD_COMMUNITY_NAMES);
        refuse(index, request_op, MIB_ERRSTAT_NO_SUCH_NAME, kNoBinding);
        return;
    }
    adopt_sender_as_manager(msg_contexts[index]);
    if (read_only && request_op == SNMP_OP_SET) {
        AGENT_LOG(AGENT_LOG_WARN, "v1/v2c 权限不足：ro共同体不允许执行SET操作");
        agent_stats_count(AGENT_STAT_IN_BAD_COMMUNITY_USES);
        refuse(index, request_op, MIB_ERRSTAT_NO_ACCESS, kFirstBinding);
        return;
    }
    if (request_op == SNMP_OP_GET_RESPONSE &&
        agent_trap_match_inform_resp(static_cast<uint32_t>(msg.pdu.request_id))) {
        agent_stats_count(AGENT_STAT_IN_GET_RESPONSES);
        agent_free_context(index);
        return;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "v1/v2c 共同体和权限校验通过，进入MIB处理：上下文索引=%u",
              static_cast<unsigned>(index));
    agent_func_mib_proc(index);
}

// ---- SNMPv3 ----

void handle_v3(uint8_t index, const uint8_t *data, uint16_t len) {
    agent_msg_ctx &ctx = msg_contexts[index];
    // Answers of the receivers of the agent's SNMPv3 informs name their engine, not the agent's.
    if (ctx.src_valid != 0 && agent_v3_notify_receive(data, len, &ctx.msg, ctx.src_ip, ctx.src_port)) {
        agent_free_context(index);
        return;
    }
    const uint32_t request_op = ctx.msg.pdu.op;
    switch (agent_usm_check_request(&ctx, data, len)) {
        case AGENT_USM_ACCEPTED:
            adopt_sender_as_manager(ctx);
            agent_usm_stamp_local_engine(&ctx.msg);
            agent_func_mib_proc(index);
            return;
        case AGENT_USM_REPORT:
            agent_func_mib_response(request_op, index);
            return;
        case AGENT_USM_DROPPED:
        default:
            agent_free_context(index);
            return;
    }
}

// ---- Intake ----

void answer_decode_failure(uint8_t index, int32_t code) {
    AGENT_LOG(AGENT_LOG_ERROR, "SNMP消息解码失败: %d", static_cast<int>(code));
    agent_stats_count(AGENT_STAT_IN_ASN_PARSE_ERRS);
    snmp_message &msg = msg_contexts[index].msg;
    const uint32_t request_op = msg.pdu.op;
    msg.pdu.op = SNMP_OP_GET_RESPONSE;
    msg.pdu.error_index = kFirstBinding;
    msg.pdu.varbind_count = kOneBinding;
    if (msg.version == SNMP_VERSION_1) {
        msg.pdu.error_status = MIB_ERRSTAT_GEN_ERR;
    } else {
        msg.pdu.error_status = code == SNMP_ERR_VERSION ? MIB_ERRSTAT_NO_ACCESS : kErrStatusWrongEncoding;
    }
    agent_func_mib_response(request_op, index);
}

// ---- PDU execution ----

// SNMPv1 has no Counter64: such an object does not exist for a v1 manager (RFC 2576).
bool v1_cannot_carry(uint32_t version, const snmp_varbind &vb) {
    return version == SNMP_VERSION_1 && vb.type == SNMP_TAG_COUNTER64;
}

// v1: the first binding that cannot be read ends the request with noSuchName and its position.
// v2c/v3: an object that does not exist is answered with the noSuchObject exception in its binding
// (noSuchInstance inside a subtree that has no such instance) and the other bindings are still read;
// a read that fails otherwise ends the request with genErr.
void run_get(snmp_message &msg) {
    std::span<snmp_varbind> vbs = bindings(msg.pdu);
    for (size_t i = 0; i < vbs.size(); ++i) {
        snmp_varbind &vb = vbs[i];
        const int32_t status = agent_mib_get(&vb.oid, &vb);
        if (status == MIB_OK && !v1_cannot_carry(msg.version, vb)) {
            continue;
        }
        if (msg.version != SNMP_VERSION_1 && (status == MIB_ERR_NOT_FOUND || status == MIB_ERR_NO_SUCH_INSTANCE)) {
            set_exception(vb, status == MIB_ERR_NOT_FOUND ? SNMP_TAG_NO_SUCH_OBJECT : SNMP_TAG_NO_SUCH_INSTANCE);
            continue;
        }
        set_empty_octets(vb);
        msg.pdu.error_status = msg.version == SNMP_VERSION_1 ? MIB_ERRSTAT_NO_SUCH_NAME : MIB_ERRSTAT_GEN_ERR;
        msg.pdu.error_index = static_cast<uint32_t>(i + 1);
        return;
    }
}

// GETNEXT for the request's version: SNMPv1 passes over the objects it cannot carry.
int32_t get_next_in_version(uint32_t version, const snmp_oid &from, snmp_oid &next_oid, snmp_varbind &next) {
    int32_t status = agent_mib_get_next(&from, &next_oid, &next);
    while (status == MIB_OK && v1_cannot_carry(version, next)) {
        const snmp_oid passed = next_oid;
        next = snmp_varbind{};
        status = agent_mib_get_next(&passed, &next_oid, &next);
    }
    return status;
}

void run_get_next(snmp_message &msg) {
    snmp_pdu &pdu = msg.pdu;
    if (pdu.varbind_count == 0) {
        return;
    }
    const snmp_varbind request = pdu.varbinds[0];
    snmp_varbind next{};
    snmp_oid next_oid{};
    const int32_t status = get_next_in_version(msg.version, request.oid, next_oid, next);
    pdu.varbind_count = kOneBinding;
    if (status == MIB_OK) {
        pdu.varbinds[0] = next;
        return;
    }
    pdu.error_status = agent_mib_get_next_error_status(status, msg.version);
    if (pdu.error_status == MIB_ERRSTAT_NO_ERROR) {
        agent_mib_set_end_of_mib_view(&pdu.varbinds[0], &request.oid);
        return;
    }
    pdu.varbinds[0] = request;
    pdu.error_index = kFirstBinding;
}

// All bindings or none: the one that fails ends the request with its position.
void run_set(snmp_message &msg) {
    const std::span<snmp_varbind> vbs = bindings(msg.pdu);
    uint8_t failed = 0;
    const int32_t status = agent_mib_set_request(vbs.data(), static_cast<uint8_t>(vbs.size()), &failed);
    if (status == MIB_OK) {
        return;
    }
    msg.pdu.error_index = static_cast<uint32_t>(failed + 1);
    msg.pdu.error_status = msg.version == SNMP_VERSION_1 ? MIB_ERRSTAT_BAD_VALUE : agent_mib_set_error_status(status);
}

// Where the rows of the answer to a GETBULK request begin and how long each is.
BulkShape bulk_shape(const snmp_pdu &request) {
    const uint8_t count = std::min<uint8_t>(request.varbind_count, SNMP_MAX_VARBINDS);
    const auto head = static_cast<uint8_t>(std::min<uint32_t>(request.non_repeaters, count));
    return BulkShape{head, static_cast<uint8_t>(count - head)};
}

void run_get_bulk(snmp_message &msg, const BulkShape &shape) {
    snmp_pdu &pdu = msg.pdu;
    const uint32_t repetitions = std::clamp<uint32_t>(pdu.max_repetitions, 1, kMaxBulkRepetitions);
    AGENT_LOG(AGENT_LOG_INFO, "GETBULK PRE-CALL: max_reps=%u", repetitions);
    std::array<snmp_varbind, SNMP_MAX_VARBINDS> out{};
    uint8_t out_count = 0;
    const int32_t ret =
        agent_mib_get_bulk(pdu.varbinds, static_cast<uint8_t>(shape.head + shape.row), shape.head,
                           static_cast<uint8_t>(repetitions), out.data(), &out_count);
    out_count = std::min<uint8_t>(out_count, SNMP_MAX_VARBINDS);
    AGENT_LOG(AGENT_LOG_INFO, "GETBULK MIB_RET: ret=%d, out_count=%u", static_cast<int>(ret),
              static_cast<unsigned>(out_count));
    if (out_count > 0) {
        if (agent_log_enabled(AGENT_LOG_INFO)) {
            std::array<char, kOidLogTextSize> text{};
            oid_to_string(&out[0].oid, text.data(), kOidLogTextSize);
            AGENT_LOG(AGENT_LOG_INFO, "GETBULK temp_out_vars[0]: oid_len=%u, oid_str='%s'",
                      static_cast<unsigned>(out[0].oid.len), text.data());
        }
    } else {
        AGENT_LOG(AGENT_LOG_INFO, "GETBULK out_count is zero, no output vars");
    }
    snmp_pdu_clear_varbinds(&pdu);
    if (ret == MIB_OK && out_count > 0) {
        std::copy(out.begin(), out.begin() + out_count, pdu.varbinds);
        pdu.varbind_count = out_count;
        AGENT_LOG(AGENT_LOG_INFO, "GETBULK COPY DONE: pdu varbind count set to %u",
                  static_cast<unsigned>(out_count));
        return;
    }
    pdu.error_status = MIB_ERRSTAT_GEN_ERR;
    AGENT_LOG(AGENT_LOG_INFO, "GETBULK FAILED: set gen error status");
}

// A Report from a manager is only logged: the local engine clock is the agent's own and nothing a
// message says moves it.
void run_report(const snmp_message &msg) {
    AGENT_LOG(AGENT_LOG_INFO, "收到 NMS 发来的 Report 消息，正在处理...");
    const snmp_pdu &pdu = msg.pdu;
    if (pdu.varbind_count == 0) {
        AGENT_LOG(AGENT_LOG_WARN, "收到一个空的 Report 消息（无 VarBinds）。");
    } else {
        AGENT_LOG(AGENT_LOG_DEBUG, "Report PDU 内容: OID节点数=%u", static_cast<unsigned>(pdu.varbind_count));
        const snmp_oid &oid = pdu.varbinds[0].oid;
        switch (snmp_v3_verdict_of_oid(&oid)) {
            case SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW:
                AGENT_LOG(AGENT_LOG_WARN, "收到 'notInTimeWindow' Report。本地引擎时间只随本机时钟前进，不因 Report 改变。");
                break;
            case SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID:
                AGENT_LOG(AGENT_LOG_WARN,
                          "收到 'unknownEngineID' Report。NMS 不认识我们的 Engine ID，请检查两端配置。");
                break;
            case SNMP_V3_VERDICT_UNKNOWN_USER_NAME:
                AGENT_LOG(AGENT_LOG_WARN, "收到 'unknownSecurityName' Report。NMS 不认识我们发送的用户名。");
                break;
            default:
                AGENT_LOG(AGENT_LOG_INFO, "收到未知类型的 Report 消息，OID节点数=%u",
                          static_cast<unsigned>(oid.len));
                break;
        }
    }
    AGENT_LOG(AGENT_LOG_INFO, "Report 消息处理完毕，按规范不发送响应。");
}

// Responses and notifications are never answered: answering them would let two agents (or a forged
// sender) keep each other busy forever.
bool is_unconfirmed(uint32_t op) {
    return op == SNMP_OP_GET_RESPONSE || op == SNMP_OP_TRAP;
}

// ---- Answers ----

int32_t encode_v1v2(snmp_message &msg, uint8_t *out, uint16_t &len) {
    len = 0;
    return snmp_ber_encode_snmp_message(out, SNMP_MAX_MSG_SIZE, nullptr, &msg, &len);
}

// Bindings that the next size cut takes from the end of a GETBULK answer of `count` bindings: the
// last whole row while the answer keeps a binding, else the last binding.
uint8_t size_cut(uint8_t count, const BulkShape &shape) {
    const bool whole_row = shape.row > 0 && count >= shape.head + shape.row &&
                           count - shape.row >= std::max<int>(shape.head, kOneBinding);
    return whole_row ? shape.row : kOneBinding;
}

// Encodes the answer; a GETBULK answer that does not fit in one message loses its last rows until it
// does (the manager asks again from the last one it got).
template <typename Encode>
int32_t encode_fitting(snmp_message &msg, uint32_t request_op, const BulkShape &shape, Encode encode) {
    int32_t ret = encode();
    while (ret == SNMP_ERR_NO_ROOM && request_op == SNMP_OP_GETBULK && msg.pdu.varbind_count > kOneBinding) {
        msg.pdu.varbind_count =
            static_cast<uint8_t>(msg.pdu.varbind_count - size_cut(msg.pdu.varbind_count, shape));
        ret = encode();
    }
    return ret;
}

bool encode_v1v2_answer(snmp_message &msg, uint32_t request_op, const BulkShape &shape, MessageBuffer &out,
                        uint16_t &len) {
    const int display_version = static_cast<int>(msg.version) + 1;
    AGENT_LOG(AGENT_LOG_DEBUG, "处理SNMPv%d响应（共同体名：%s）", display_version, vek::kLogMask);
    const int32_t ret =
        encode_fitting(msg, request_op, shape, [&] { return encode_v1v2(msg, out.data(), len); });
    if (ret == SNMP_OK && len > 0) {
        AGENT_LOG(AGENT_LOG_DEBUG, "V%d编码成功（%u字节）", display_version, static_cast<unsigned>(len));
        return true;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "V%d编码失败（错误码=%d，长度=%u）", display_version, static_cast<int>(ret),
              static_cast<unsigned>(len));
    return false;
}

bool encode_v3_user_answer(agent_msg_ctx &ctx, uint32_t request_op, MessageBuffer &out, uint16_t &len) {
    snmp_message &msg = ctx.msg;
    const snmp_v3_user &user = *ctx.v3_user;
    AGENT_LOG(AGENT_LOG_DEBUG, "V3正常阶段，用户：%.*s（配置认证=%u，配置加密=%u）",
              text_len(std::min<size_t>(user.user_len, SNMP_USERNAME_SIZE)),
              as_text(user.username), static_cast<unsigned>(user.auth_proto),
              static_cast<unsigned>(user.priv_proto));
    // A Report (of a failed check) stays a Report; a request is answered by its response.
    const uint8_t response_op =
        msg.pdu.op == SNMP_OP_REPORT ? static_cast<uint8_t>(SNMP_OP_REPORT) : snmp_get_response_op(request_op);
    if (response_op == SNMP_OP_UNKNOWN) {
        AGENT_LOG(AGENT_LOG_ERROR, "V3无效请求类型=%u，无法生成响应", request_op);
        return false;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "V3请求类型转换：%u→%u（编码=%u）", request_op,
              static_cast<unsigned>(response_op),
              static_cast<unsigned>(snmp_get_pdu_type(response_op, SNMP_VERSION_3)));
    msg.pdu.op = response_op;
    const bool wants_auth = (msg.msg_flags & SNMP_V3_FLAG_AUTH) != 0;
    const bool wants_priv = (msg.msg_flags & SNMP_V3_FLAG_PRIV) != 0;
    AGENT_LOG(AGENT_LOG_DEBUG, "NMS请求安全级别：认证=%d，加密=%d", wants_auth ? 1 : 0, wants_priv ? 1 : 0);
    const uint8_t auth = wants_auth ? user.auth_proto : static_cast<uint8_t>(SNMP_V3_AUTH_NONE);
    const uint8_t priv = wants_priv ? user.priv_proto : static_cast<uint8_t>(SNMP_V3_PRIV_NONE);
    AGENT_LOG(AGENT_LOG_DEBUG, "响应安全级别修正：实际认证=%u，实际加密=%u", static_cast<unsigned>(auth),
              static_cast<unsigned>(priv));
    const int32_t ret = encode_fitting(msg, request_op, answer_shape(ctx), [&] {
        len = static_cast<uint16_t>(out.size());
        return snmp_v3_encode_reply(&msg, &user, auth, priv, out.data(), &len);
    });
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "V3正常阶段编码失败（错误码=%d）", static_cast<int>(ret));
        return false;
    }
    if (len == 0 || len > SNMP_MAX_MSG_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "V3正常阶段响应长度无效（%u字节）", static_cast<unsigned>(len));
        return false;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "V3正常阶段编码成功（%u字节）", static_cast<unsigned>(len));
    return true;
}

// Answers without a user (the discovery Report, or a message that could not be decoded) are
// neither authenticated nor encrypted, and say so in their flags.
bool encode_v3_plain_answer(snmp_message &msg, MessageBuffer &out, uint16_t &len) {
    AGENT_LOG(AGENT_LOG_DEBUG, "V3发现阶段，使用空用户→直接走V1/V2逻辑");
    msg.msg_flags = static_cast<uint8_t>(msg.msg_flags & ~(SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_PRIV));
    msg.usm.auth_proto = SNMP_V3_AUTH_NONE;
    msg.usm.priv_proto = SNMP_V3_PRIV_NONE;
    msg.usm.auth_param_len = 0;
    msg.usm.priv_param_len = 0;
    const snmp_v3_user no_user{};
    len = 0;
    const int32_t ret = snmp_ber_encode_snmp_message(out.data(), SNMP_MAX_MSG_SIZE, &no_user, &msg, &len);
    if (ret == SNMP_OK && len > 0) {
        AGENT_LOG(AGENT_LOG_DEBUG, "V%d编码成功（%u字节）", static_cast<int>(SNMP_VERSION_3),
                  static_cast<unsigned>(len));
        return true;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "V%d编码失败（错误码=%d，长度=%u）", static_cast<int>(SNMP_VERSION_3),
              static_cast<int>(ret), static_cast<unsigned>(len));
    return false;
}

bool encode_v3_answer(agent_msg_ctx &ctx, uint32_t request_op, MessageBuffer &out, uint16_t &len) {
    AGENT_LOG(AGENT_LOG_DEBUG, "处理SNMPv3响应（消息ID=%u，请求类型=%u）", ctx.msg.msg_id, request_op);
    if (ctx.msg.usm.engine_id_len > 0 && ctx.v3_user != nullptr) {
        // The agent answers as the authoritative engine: its own ID, boots and time now.
        agent_usm_stamp_local_engine(&ctx.msg);
        return encode_v3_user_answer(ctx, request_op, out, len);
    }
    return encode_v3_plain_answer(ctx.msg, out, len);
}

}  // namespace

extern "C" {

// ---- Lifecycle ----

void agent_init_self(void) {
    is_running = 0;
    last_poll_time = 0;
    for (agent_msg_ctx &ctx : msg_contexts) {
        ctx.in_use = 0;
        ctx.transport = nullptr;
        ctx.v3_user = nullptr;
        ctx.src_valid = 0;
    }
    {
        vek::IrqSection section;  // the once-a-second engine-time callback may still run
        agent_config_reset();
    }
    // A transport still open (an agent initialised again) must not leave its socket and thread behind.
    close_transport(eth_trans_ctx);
    close_transport(es_trans_ctx);
    eth_trans_ctx = trans_ctx{};
    es_trans_ctx = trans_ctx{};
}

void agent_init(const agent_config *cfg) {
    print_banner();
    agent_init_self();
    agent_stats_reset();
    platform_init();
    agent_trap_init();
    if (cfg == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "agent_init: cfg NULL, config handled by App");
        return;
    }
    {
        vek::IrqSection section;
        agent_cfg = *cfg;
    }

    std::puts("Configuring IP address automatically...");
    trans_auto_config_ip(&eth_trans_ctx);
    print_ip_configuration(eth_trans_ctx);

    agent_mib_init();
    tps_cfg_tps();
    agent_mib_coll_callback_reg();

    trans_cfg_trans(TRANS_ETH, agent_cfg.eth_port, &eth_trans_ctx);
    trans_cfg_trans(TRANS_ES, agent_cfg.es_port, &es_trans_ctx);
    install_whitelist();

    snmpv3_crypto_init();
    agent_engine_set_last_boots(cfg->engine_boots);
    agent_usm_reset_stats();
    snmp_v3_user_mgr_init();
    snmp_v3_user_migrate_from_cfg(&agent_cfg);
}

void agent_start(void) {
    // A new start is a new boot of the engine: time starts again at 0 under boots one higher, and
    // every user's keys are localised to it.
    agent_engine_start();
    if (g_snmpv3_user_mgr.user_count > 0) {
        snmp_v3_regenerate_all_auth_keys();
    }
    is_running = 1;
    reopen_transport(TRANS_ETH, agent_cfg.eth_port, eth_trans_ctx);
    reopen_transport(TRANS_ES, agent_cfg.es_port, es_trans_ctx);
    trans_start(&eth_trans_ctx);
    // TRANS_ES with port 0 is not used: there is nothing to start (or to stop).
    if (es_trans_ctx.state != TRANS_STATE_STOPPED) {
        trans_start(&es_trans_ctx);
    }
    platform_register_1ms_callback(snmp_v3_engine_time_1ms_cb);
    tps_start();
    last_poll_time = platform_get_tick();
}

void agent_stop(void) {
    is_running = 0;
    trans_stop(&eth_trans_ctx);
    if (es_trans_ctx.state != TRANS_STATE_STOPPED) {
        trans_stop(&es_trans_ctx);
    }
    tps_stop();
}

// ---- Main loop ----

void agent_main_loop(void) {
    if (is_running == 0) {
        return;
    }
    agent_inform_timeout_check();
    agent_recv_nms_msg_loop();
    agent_engine_now();  // keeps the engine clock's mirror in agent_cfg current
    const uint32_t now = platform_get_tick();
    if (now - last_poll_time >= agent_cfg.poll_period) {
        agent_mib_collect_all();
        agent_mib_update_all();
        last_poll_time = now;
    }
}

void agent_recv_nms_msg_loop(void) {
    MessageBuffer buf;  // written by trans_recv_from before it is read
    uint16_t len = 0;
    Ipv4 src{};
    uint16_t src_port = 0;
    if (trans_recv_from(&eth_trans_ctx, buf.data(), &len, src.data(), &src_port) && len > 0) {
        agent_nms_snmp_msg_from(TRANS_ETH, buf.data(), len, src.data(), src_port);
    }
}

void snmp_v3_engine_time_1ms_cb(void) {
    agent_engine_now();
}

// ---- Intake ----

void agent_nms_snmp_msg(uint32_t trans_type, const uint8_t *data, uint16_t len) {
    agent_nms_snmp_msg_from(trans_type, data, len, nullptr, 0);
}

void agent_nms_snmp_msg_from(uint32_t trans_type, const uint8_t *data, uint16_t len, const uint8_t *src_ip,
                             uint16_t src_port) {
    if (data == nullptr || len == 0 || len > SNMP_MAX_MSG_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效输入：data=%p, len=%u（超出最大长度%d）",
                  static_cast<const void *>(data), static_cast<unsigned>(len),
                  static_cast<int>(SNMP_MAX_MSG_SIZE));
        return;
    }
    agent_stats_count(AGENT_STAT_IN_PKTS);
    const uint8_t index = agent_alloc_context();
    if (index == AGENT_NO_CONTEXT) {
        AGENT_LOG(AGENT_LOG_ERROR, "无空闲上下文（最大支持%d个），丢弃消息",
                  static_cast<int>(AGENT_MAX_MSG_CTX));
        return;
    }
    agent_msg_ctx &ctx = msg_contexts[index];
    ctx.trans_type = trans_type == TRANS_ES ? TRANS_ES : TRANS_ETH;
    ctx.transport = &transport_of(ctx.trans_type);
    // A sender of 0.0.0.0 (a frame without an address) leaves the answer to the current manager.
    ctx.src_valid = src_ip != nullptr && Ipv4{src_ip[0], src_ip[1], src_ip[2], src_ip[3]} != Ipv4{} ? 1 : 0;
    if (ctx.src_valid != 0) {
        std::memcpy(ctx.src_ip, src_ip, TRANS_IPV4_LEN);
        ctx.src_port = src_port;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "分配上下文成功：索引=%u, 传输类型=%s", static_cast<unsigned>(index),
              trans_name(ctx.trans_type));

    snmp_message &msg = ctx.msg;
    uint16_t used = 0;
    const int32_t ret = snmp_ber_decode_snmp_message(data, len, &msg, &used);
    if (ret != SNMP_OK) {
        answer_decode_failure(index, ret);
        return;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "agent_nms_snmp_msg: 消息解码成功（版本=%u, 操作类型=%d, 请求ID=%d）",
              msg.version, static_cast<int>(msg.pdu.op), static_cast<int>(msg.pdu.request_id));
    switch (msg.version) {
        case SNMP_VERSION_1:
        case SNMP_VERSION_2C:
            handle_community(index);
            return;
        case SNMP_VERSION_3:
            handle_v3(index, data, len);
            return;
        default:
            AGENT_LOG(AGENT_LOG_ERROR, "收到未知SNMP版本消息（version=%u），静默丢弃", msg.version);
            agent_stats_count(AGENT_STAT_IN_BAD_VERSIONS);
            agent_free_context(index);
            return;
    }
}

uint8_t agent_alloc_context(void) {
    for (uint8_t i = 0; i < AGENT_MAX_MSG_CTX; ++i) {
        agent_msg_ctx &ctx = msg_contexts[i];
        if (ctx.in_use == 0) {
            ctx = agent_msg_ctx{};
            ctx.in_use = 1;
            ctx.msg.msg_id = snmp_generate_request_id();
            return i;
        }
    }
    return AGENT_NO_CONTEXT;
}

void agent_free_context(uint8_t index) {
    if (index >= AGENT_MAX_MSG_CTX) {
        return;
    }
    agent_msg_ctx &ctx = msg_contexts[index];
    ctx.in_use = 0;
    ctx.transport = nullptr;
    ctx.v3_user = nullptr;
    ctx.src_valid = 0;
}

// ---- PDU execution and answers ----

void agent_func_mib_proc(uint8_t index) {
    if (index >= AGENT_MAX_MSG_CTX || msg_contexts[index].in_use == 0) {
        return;
    }
    snmp_message &msg = msg_contexts[index].msg;
    const uint32_t request_op = msg.pdu.op;
    msg.pdu.op = SNMP_OP_GET_RESPONSE;
    msg.pdu.error_status = MIB_ERRSTAT_NO_ERROR;
    msg.pdu.error_index = kNoBinding;
    switch (request_op) {
        case SNMP_OP_GET:
            run_get(msg);
            break;
        case SNMP_OP_GETNEXT:
            run_get_next(msg);
            break;
        case SNMP_OP_SET:
            run_set(msg);
            break;
        case SNMP_OP_GETBULK: {
            const BulkShape shape = bulk_shape(msg.pdu);
            record_bulk_shape(msg_contexts[index], shape);
            run_get_bulk(msg, shape);
            break;
        }
        case SNMP_OP_REPORT:
            run_report(msg);
            agent_free_context(index);
            return;
        default:
            if (is_unconfirmed(request_op)) {
                AGENT_LOG(AGENT_LOG_INFO, "收到无需应答的PDU（操作类型=%u），不发送响应", request_op);
                agent_free_context(index);
                return;
            }
            msg.pdu.error_status = MIB_ERRSTAT_GEN_ERR;
            break;
    }
    agent_stats_count_request(request_op, &msg.pdu);
    agent_func_mib_response(request_op, index);
}

void agent_func_mib_response(uint32_t op, uint8_t index) {
    if (index >= AGENT_MAX_MSG_CTX) {
        AGENT_LOG(AGENT_LOG_ERROR, "agent_func_mib_response：无效上下文索引=%u",
                  static_cast<unsigned>(index));
        return;
    }
    agent_msg_ctx &ctx = msg_contexts[index];
    if (ctx.in_use == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "agent_func_mib_response：上下文索引=%u 未占用",
                  static_cast<unsigned>(index));
        agent_free_context(index);
        return;
    }
    MessageBuffer out;  // written by the encoder before it is read
    uint16_t len = 0;
    const bool encoded = ctx.msg.version == SNMP_VERSION_3
                             ? encode_v3_answer(ctx, op, out, len)
                             : encode_v1v2_answer(ctx.msg, op, answer_shape(ctx), out, len);
    agent_stats_count_answer(encoded);
    if (encoded) {
        AGENT_LOG(AGENT_LOG_INFO, "发送响应：版本=%d，长度=%u字节", static_cast<int>(ctx.msg.version),
                  static_cast<unsigned>(len));
        if (ctx.src_valid != 0) {
            agent_nms_msg_response_to(ctx.trans_type, out.data(), len, ctx.src_ip, ctx.src_port);
        } else {
            agent_nms_msg_response(ctx.trans_type, out.data(), len);
        }
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "响应处理失败（版本=%d）", static_cast<int>(ctx.msg.version));
    }
    agent_free_context(index);
    AGENT_LOG(AGENT_LOG_DEBUG, "上下文索引=%u 已释放", static_cast<unsigned>(index));
}

bool agent_encode_v1v2_response(const snmp_message *msg, uint8_t *out, uint16_t *out_len) {
    if (msg == nullptr || out == nullptr || out_len == nullptr) {
        return false;
    }
    snmp_message copy = *msg;  // the codec takes a writable record
    MessageBuffer buf;
    uint16_t len = 0;
    if (!encode_v1v2_answer(copy, SNMP_OP_GET, BulkShape{}, buf, len)) {
        *out_len = 0;
        return false;
    }
    std::memcpy(out, buf.data(), len);
    *out_len = len;
    return true;
}

void agent_nms_msg_response(uint32_t trans_type, const uint8_t *data, uint16_t len) {
    if (data == nullptr || len == 0 || len > SNMP_MAX_MSG_SIZE) {
        return;
    }
    trans_ctx &ctx = transport_of(trans_type);
    Ipv4 ip{};
    uint16_t port = 0;
    const bool seen = trans_get_nms_addr(&ctx, ip.data(), &port);
    if (!seen) {
        port = trans_type == TRANS_ES ? agent_cfg.es_port : agent_cfg.eth_port;
        if (ip == Ipv4{}) {
            ip = kDefaultNmsIp;
        }
    }
    trans_send(&ctx, data, len, ip.data(), port);
}

void agent_nms_msg_response_to(uint32_t trans_type, const uint8_t *data, uint16_t len, const uint8_t *dst_ip,
                               uint16_t dst_port) {
    if (data == nullptr || len == 0 || len > SNMP_MAX_MSG_SIZE || dst_ip == nullptr) {
        return;
    }
    trans_send(&transport_of(trans_type), data, len, dst_ip, dst_port);
}

}  // extern "C"
