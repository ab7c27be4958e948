// SNMPv3 framing: msgGlobalData, the USM security parameters and the scoped PDU around the PDU codec of
// snmp_ber, and the one-call command encoder that also encrypts and authenticates the message.
//
// Encoding writes straight into the caller's buffer. Element sizes are worked out before anything is
// written; the one part whose size is only known after encoding (the PDU) is written first, behind the
// shortest possible header, and moved up once the real header length is known. The only work areas
// are the USM encoding (which is small) and, in snmp_v3_cmd_encode, one cipher / HMAC area.
#include "codec/ber_writer.h"
#include "codec/snmpv3_ber.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "base/agent_log.h"
#include "codec/snmp_ber.h"
#include "codec/snmpv3_crypto.h"

namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint16_t kTagLen = 1;
constexpr uint16_t kMinHeaderLen = 2;   // tag and one length octet
constexpr uint16_t kUsmAreaSize = 256;  // a USM SEQUENCE is far shorter (about 140 bytes at most)
constexpr uint8_t kNothingLeft = 0xFF;  // reported as the tag when no byte is left
constexpr uint16_t kMaxWrappedLen = 2048;
// Cipher text and HMAC work area of snmp_v3_cmd_encode: a whole message plus one padding block.
constexpr uint16_t kCmdWorkAreaSize = SNMP_MAX_MSG_SIZE + SNMP_V3_MAX_BLOCK_SIZE;
constexpr char kCmdEncode[] = "snmp_v3_cmd_encode";

uint16_t usable_size(uint16_t size) {
    return size < SNMP_MAX_MSG_SIZE ? size : static_cast<uint16_t>(SNMP_MAX_MSG_SIZE);
}

// ---------------------------------------------------------------------------------------------
// Reading: a cursor over a bounded range; nothing is read outside it.

class Reader {
public:
    explicit Reader(Bytes in, uint16_t pos = 0) : in_(in), pos_(pos) {}

    const uint8_t *here() const { return in_.data() + pos_; }
    uint16_t left() const { return static_cast<uint16_t>(in_.size() - pos_); }
    uint16_t pos() const { return pos_; }
    void skip(uint16_t count) { pos_ = static_cast<uint16_t>(pos_ + std::min(count, left())); }

    int32_t integer(int32_t &value) {
        uint16_t used = 0;
        int32_t ret = snmp_ber_decode_integer(here(), left(), &value, &used);
        if (ret == SNMP_OK) {
            skip(used);
        }
        return ret;
    }

    // OCTET STRING of at most max_len bytes into out; a longer one is refused as malformed.
    int32_t string(uint8_t *out, uint16_t max_len, uint16_t &len) {
        uint16_t declared = 0;
        if (declared_string_len(declared) && declared > max_len) {
            return SNMP_ERR_MALFORMED;
        }
        uint16_t used = 0;
        int32_t ret = snmp_ber_decode_string(here(), left(), out, max_len, &len, &used);
        if (ret == SNMP_OK) {
            skip(used);
        }
        return ret;
    }

    // An empty OCTET STRING (04 00) here is stepped over; anything else stays.
    void skip_empty_string() {
        uint16_t skipped = 0;
        skip_null_octet_string(here(), left(), &skipped);
        skip(skipped);
    }

    // OCTET STRING content in place (checks as snmp_ber_decode_string makes them).
    int32_t string_view(Bytes &content) {
        if (left() < kMinHeaderLen) {
            return SNMP_ERR_MALFORMED;
        }
        if (*here() != SNMP_TAG_OCTET_STRING) {
            return SNMP_ERR_INVALID;
        }
        uint16_t len = 0;
        uint16_t octets = 0;
        int32_t ret = snmp_ber_decode_length(here() + kTagLen, static_cast<uint16_t>(left() - kTagLen), &len, &octets);
        if (ret != SNMP_OK) {
            return ret;
        }
        uint32_t header = kTagLen + octets;
        if (header + len > left()) {
            return SNMP_ERR_MALFORMED;
        }
        content = Bytes(here() + header, len);
        skip(static_cast<uint16_t>(header + len));
        return SNMP_OK;
    }

    // Bytes of the element here as far as they lie in the range; 0 when its length cannot be read.
    uint16_t element_extent() const {
        uint16_t len = 0;
        uint16_t octets = 0;
        if (left() < kMinHeaderLen ||
            snmp_ber_decode_length(here() + kTagLen, static_cast<uint16_t>(left() - kTagLen), &len, &octets) != SNMP_OK) {
            return 0;
        }
        uint32_t total = kTagLen + octets + static_cast<uint32_t>(len);
        return static_cast<uint16_t>(std::min<uint32_t>(total, left()));
    }

private:
    bool declared_string_len(uint16_t &declared) const {
        uint16_t octets = 0;
        return left() >= kMinHeaderLen && *here() == SNMP_TAG_OCTET_STRING &&
               snmp_ber_decode_length(here() + kTagLen, static_cast<uint16_t>(left() - kTagLen), &declared, &octets) ==
                   SNMP_OK;
    }

    Bytes in_;
    uint16_t pos_;
};

// ---------------------------------------------------------------------------------------------
// Writing: elements one after another into a range whose size has been checked beforehand; the
// first failure sticks.

using Writer = vek::codec::BerWriter;

// Moves `count` bytes that were written `from` bytes into buf up to `to` (to >= from).
void move_up(uint8_t *buf, uint16_t from, uint16_t to, uint16_t count) {
    if (from != to && count != 0) {
        std::memmove(buf + to, buf + from, count);
    }
}

// ---------------------------------------------------------------------------------------------
// USM encoding.

struct UsmLayout {
    uint16_t content;
    uint16_t header;
};

// Refuses fields the record cannot hold; names the element as the USM log lines do.
int32_t check_usm_fields(const snmp_v3_usm &usm, const char *&element) {
    element = usm.engine_id_len > SNMP_V3_MAX_ENGINE_ID_LEN ? "engine_id"
              : usm.user_len > SNMP_V3_MAX_USER_LEN         ? "username"
              : usm.auth_param_len > SNMP_AUTH_PARAM_SIZE   ? "auth_param"
              : usm.priv_param_len > SNMP_PRIV_PARAM_SIZE   ? "priv_param"
                                                            : nullptr;
    return element == nullptr ? SNMP_OK : SNMP_ERR_INVALID;
}

UsmLayout usm_layout(const snmp_v3_usm &usm) {
    uint32_t content = snmp_ber_element_len(usm.engine_id_len) +
                       snmp_ber_integer_len(static_cast<int32_t>(usm.engine_boots)) +
                       snmp_ber_integer_len(static_cast<int32_t>(usm.engine_time)) + snmp_ber_element_len(usm.user_len) +
                       snmp_ber_element_len(usm.auth_param_len) + snmp_ber_element_len(usm.priv_param_len);
    auto content_len = static_cast<uint16_t>(content);
    return {content_len, static_cast<uint16_t>(kTagLen + snmp_ber_length_octets(content_len))};
}

int32_t write_usm(Writer &w, const snmp_v3_usm &usm, uint16_t content_start, uint16_t &auth_rel, uint16_t &priv_rel) {
    auto fail = [&w](const char *element) {
        AGENT_LOG(AGENT_LOG_ERROR, "USM编码: 编码%s失败（错误码=%d）", element, static_cast<int>(w.result()));
        return w.result();
    };
    if (w.string(usm.engine_id, usm.engine_id_len) != SNMP_OK) {
        return fail("engine_id");
    }
    if (w.integer(static_cast<int32_t>(usm.engine_boots)) != SNMP_OK) {
        return fail("engine_boots");
    }
    if (w.integer(static_cast<int32_t>(usm.engine_time)) != SNMP_OK) {
        return fail("engine_time");
    }
    if (w.string(usm.username, usm.user_len) != SNMP_OK) {
        return fail("username");
    }
    auth_rel = static_cast<uint16_t>(w.pos() - content_start);
    if (w.string(usm.auth_param, usm.auth_param_len) != SNMP_OK) {
        return fail("auth_param");
    }
    priv_rel = static_cast<uint16_t>(w.pos() - content_start);
    if (w.string(usm.priv_param, usm.priv_param_len) != SNMP_OK) {
        return fail("priv_param");
    }
    return SNMP_OK;
}

// ---------------------------------------------------------------------------------------------
// v3 message encoding.

constexpr uint16_t kVersionLen = 3;  // 02 01 03

uint16_t global_data_content_len(const snmp_message &msg) {
    return static_cast<uint16_t>(snmp_ber_integer_len(static_cast<int32_t>(msg.msg_id)) +
                                 snmp_ber_integer_len(static_cast<int32_t>(SNMP_V3_MSG_MAX_SIZE)) +
                                 snmp_ber_element_len(SNMP_V3_MSG_FLAGS_LEN) +
                                 snmp_ber_integer_len(static_cast<int32_t>(SNMP_V3_SECURITY_MODEL_USM)));
}

int32_t write_global_data(Writer &w, const snmp_message &msg) {
    auto fail = [&w](const char *text) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s%d", text, static_cast<int>(w.result()));
        return w.result();
    };
    if (w.sequence(global_data_content_len(msg)) != SNMP_OK) {
        return fail("snmp_ber_encode_snmp_message：V3 msgGlobalData 头部编码失败，错误码:");
    }
    if (w.integer(static_cast<int32_t>(msg.msg_id)) != SNMP_OK) {
        return fail("snmp_ber_encode_snmp_message：V3 msgID 编码失败，错误码:");
    }
    if (w.integer(static_cast<int32_t>(SNMP_V3_MSG_MAX_SIZE)) != SNMP_OK) {
        return fail("snmp_ber_encode_snmp_message：V3 msgMaxSize 编码失败，错误码:");
    }
    if (w.string(&msg.msg_flags, SNMP_V3_MSG_FLAGS_LEN) != SNMP_OK) {
        return fail("snmp_ber_encode_snmp_message：V3 msgFlags 编码失败，错误码:");
    }
    if (w.integer(static_cast<int32_t>(SNMP_V3_SECURITY_MODEL_USM)) != SNMP_OK) {
        return fail("snmp_ber_encode_snmp_message：V3 msgSecurityModel 编码失败，错误码:");
    }
    return SNMP_OK;
}

// Where the parts of an encoded v3 message start.
struct MessageLayout {
    uint16_t header;          // outer SEQUENCE tag and length octets
    uint16_t global_len;      // msgGlobalData element
    uint16_t usm_len;         // USM SEQUENCE (the content of msgSecurityParameters)
    uint16_t usm_header;      // its tag and length octets
    uint16_t auth_rel;        // authentication parameter element, from the USM content start
    uint16_t priv_rel;        // privacy parameter element, from the USM content start
    uint16_t prefix;          // version, msgGlobalData and msgSecurityParameters
    uint16_t scoped_len;      // scoped PDU element
};

uint16_t usm_content_offset(const MessageLayout &l) {
    uint16_t sec_params_header = static_cast<uint16_t>(snmp_ber_element_len(l.usm_len) - l.usm_len);
    return static_cast<uint16_t>(l.header + kVersionLen + l.global_len + sec_params_header + l.usm_header);
}

void record_offsets(const uint8_t *buf, const MessageLayout &l, snmp_message &msg) {
    uint16_t usm_content = usm_content_offset(l);
    msg.usm.auth_param_offset = l.auth_rel == 0 ? 0 : static_cast<uint16_t>(usm_content + l.auth_rel);
    msg.usm.priv_param_offset = l.priv_rel == 0 ? 0 : static_cast<uint16_t>(usm_content + l.priv_rel);
    msg.scoped_pdu_type_offset = static_cast<uint16_t>(l.header + l.prefix);
    msg.scoped_pdu_len_offset = static_cast<uint16_t>(msg.scoped_pdu_type_offset + kTagLen);
    uint16_t content_len = 0;
    uint16_t octets = 0;
    snmp_ber_decode_length(buf + msg.scoped_pdu_len_offset, static_cast<uint16_t>(l.scoped_len - kTagLen), &content_len,
                           &octets);
    msg.scoped_pdu_value_offset = static_cast<uint16_t>(msg.scoped_pdu_len_offset + octets);
    msg.scoped_pdu_value_len = content_len;
}

// Writes the outer header, version, msgGlobalData and msgSecurityParameters in front of the scoped
// PDU, which is already in place.
int32_t write_message_prefix(uint8_t *buf, const MessageLayout &l, const snmp_message &msg,
                             const std::array<uint8_t, kUsmAreaSize> &usm_area) {
    Writer w(buf, static_cast<uint16_t>(l.header + l.prefix));
    if (w.sequence(static_cast<uint16_t>(l.prefix + l.scoped_len)) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：V3 顶级SEQUENCE 长度编码失败，错误码:%d",
                  static_cast<int>(w.result()));
        return w.result();
    }
    if (w.integer(static_cast<int32_t>(SNMP_VERSION_3)) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：V3 msgVersion 编码失败，错误码:%d",
                  static_cast<int>(w.result()));
        return w.result();
    }
    int32_t ret = write_global_data(w, msg);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (w.string(usm_area.data(), l.usm_len) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：USM封装为OCTET失败，错误码:%d",
                  static_cast<int>(w.result()));
        return w.result();
    }
    return SNMP_OK;
}

// ---------------------------------------------------------------------------------------------
// v3 message decoding.

// Clears what a received v3 message sets, so that nothing stale is left behind.
void reset_received_v3(snmp_message &msg) {
    std::memset(&msg.usm, 0, sizeof msg.usm);
    msg.scoped_pdu_type_offset = 0;
    msg.scoped_pdu_len_offset = 0;
    msg.scoped_pdu_value_offset = 0;
    msg.scoped_pdu_value_len = 0;
    msg.pdu.context_engine_id_len = 0;
    msg.pdu.context_name_len = 0;
    msg.pdu.varbind_count = 0;
    msg.encrypted_pdu_len = 0;
    msg.msg_flags = 0;
    msg.msg_id = 0;
    msg.auth_param_abs_offset = 0;
}

int32_t log_decode_failure(const char *text, int32_t ret) {
    AGENT_LOG(AGENT_LOG_ERROR, "%s%d", text, static_cast<int>(ret));
    return ret;
}

int32_t read_global_data(Reader &r, snmp_message &msg) {
    uint16_t content_len = 0;
    uint16_t header_len = 0;
    int32_t ret = snmp_ber_decode_sequence_header(r.here(), r.left(), &content_len, &header_len);
    if (ret == SNMP_OK && static_cast<uint32_t>(header_len) + content_len > r.left()) {
        ret = SNMP_ERR_MALFORMED;
    }
    if (ret != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：msgGlobalData序列解码失败，错误码:", ret);
    }
    Reader g(Bytes(r.here() + header_len, content_len));
    int32_t value = 0;
    if ((ret = g.integer(value)) != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：msgID解码失败，错误码:", ret);
    }
    msg.msg_id = static_cast<uint32_t>(value);
    if ((ret = g.integer(value)) != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：msgMaxSize解码失败，错误码:", ret);
    }
    uint16_t flags_len = 0;
    ret = g.string(&msg.msg_flags, SNMP_V3_MSG_FLAGS_LEN, flags_len);
    if (ret == SNMP_OK && flags_len != SNMP_V3_MSG_FLAGS_LEN) {
        ret = SNMP_ERR_MALFORMED;
    }
    if (ret != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：msgFlags（OctetString）解码失败，错误码:", ret);
    }
    if ((ret = g.integer(value)) != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：msgSecurityModel解码失败，错误码:", ret);
    }
    if (value != static_cast<int32_t>(SNMP_V3_SECURITY_MODEL_USM)) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3解码：不支持的安全模型（值:%d，仅支持USM=3）", static_cast<int>(value));
        return SNMP_ERR_VERSION;
    }
    r.skip(static_cast<uint16_t>(header_len + content_len));
    return SNMP_OK;
}

int32_t read_security_parameters(Reader &r, snmp_message &msg) {
    Bytes params;
    int32_t ret = r.string_view(params);
    if (ret != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：msgSecurityParameters解码失败，错误码:", ret);
    }
    auto params_at = static_cast<uint16_t>(r.pos() - params.size());
    uint16_t used = 0;
    uint16_t auth_offset = 0;
    ret = snmp_ber_decode_v3_usm(params.data(), static_cast<uint16_t>(params.size()), msg.msg_flags, &msg.usm, &used,
                                 &auth_offset);
    if (ret != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：USM参数解码失败，错误码:", ret);
    }
    if (auth_offset != 0) {
        msg.auth_param_abs_offset = static_cast<uint16_t>(params_at + auth_offset);
        msg.usm.auth_param_offset = msg.auth_param_abs_offset;
    } else {
        msg.auth_param_abs_offset = 0;
        msg.usm.auth_param_offset = 0;
        AGENT_LOG(AGENT_LOG_DEBUG, "SNMPv3解码：无AuthenticationParameters（msgFlags无认证位或为Discover包）");
    }
    return SNMP_OK;
}

int32_t read_msg_data(Reader &r, snmp_message &msg) {
    if ((msg.msg_flags & SNMP_V3_FLAG_PRIV) != 0) {
        int32_t ret = r.string(msg.encrypted_pdu, SNMP_V3_MAX_ENCRYPTED_PDU_LEN, msg.encrypted_pdu_len);
        if (ret != SNMP_OK) {
            return log_decode_failure("SNMPv3解码：加密scopedPDU解码失败，错误码:", ret);
        }
        return SNMP_OK;
    }
    if (r.left() < kMinHeaderLen || *r.here() != SNMP_TAG_SEQUENCE) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3解码：未加密scopedPDU不是一个合法的SEQUENCE，类型:0x%02X",
                  static_cast<unsigned>(r.left() == 0 ? kNothingLeft : *r.here()));
        return SNMP_ERR_INVALID;
    }
    uint16_t used = 0;
    int32_t ret = snmp_ber_decode_v3_scoped_pdu(r.here(), r.left(), &msg.pdu, &used);
    if (ret != SNMP_OK) {
        return log_decode_failure("SNMPv3解码：未加密scopedPDU内容解码失败，错误码:", ret);
    }
    r.skip(used);
    return SNMP_OK;
}

// ---------------------------------------------------------------------------------------------
// USM decoding helpers.

// Engine boots or time; in a discovery message a malformed value is skipped and read as 0.
int32_t read_usm_counter(Reader &r, bool discovery, uint32_t &value, const char *name) {
    int32_t raw = 0;
    int32_t ret = r.integer(raw);
    if (ret == SNMP_OK) {
        value = discovery ? 0 : static_cast<uint32_t>(raw);
        return SNMP_OK;
    }
    constexpr uint16_t kDiscoverySkip = 4;
    if (discovery) {
        AGENT_LOG(AGENT_LOG_WARN, "SNMPv3 USM解码：Discover阶段%s解码失败，强制跳过（错误码:%d）", name,
                  static_cast<int>(ret));
        r.skip(kDiscoverySkip);
        value = 0;
        return SNMP_OK;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：%s解码失败（%d）", name, static_cast<int>(ret));
    return ret;
}

int32_t read_usm_username(Reader &r, bool discovery, snmp_v3_usm &usm) {
    uint16_t len = 0;
    int32_t ret = r.string(usm.username, SNMP_V3_MAX_USER_LEN, len);
    if (ret == SNMP_OK) {
        usm.user_len = static_cast<uint8_t>(len);
        return SNMP_OK;
    }
    usm.user_len = 0;
    std::memset(usm.username, 0, sizeof usm.username);
    if (!discovery) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：UserName解码失败（%d）", static_cast<int>(ret));
        return ret;
    }
    uint16_t skipped = r.element_extent();
    AGENT_LOG(AGENT_LOG_WARN, "SNMPv3 USM解码：Discover阶段UserName解码失败，基于实际长度跳过（错误码:%d，实际消耗:%d字节）",
              static_cast<int>(ret), static_cast<int>(skipped));
    r.skip(skipped);
    return SNMP_OK;
}

int32_t read_usm_security(Reader &r, uint8_t msg_flags, uint16_t header_len, snmp_v3_usm &usm, uint16_t *auth_offset) {
    if ((msg_flags & SNMP_V3_FLAG_AUTH) != 0) {
        if (auth_offset != nullptr) {
            *auth_offset = static_cast<uint16_t>(header_len + r.pos());
        }
        int32_t ret = r.string(usm.auth_param, SNMP_AUTH_PARAM_SIZE, usm.auth_param_len);
        if (ret != SNMP_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：认证参数解码失败（%d）", static_cast<int>(ret));
            return ret;
        }
    } else {
        r.skip_empty_string();
    }
    if ((msg_flags & SNMP_V3_FLAG_PRIV) != 0) {
        int32_t ret = r.string(usm.priv_param, SNMP_PRIV_PARAM_SIZE, usm.priv_param_len);
        if (ret != SNMP_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：加密参数解码失败（%d）", static_cast<int>(ret));
            return ret;
        }
    } else {
        r.skip_empty_string();
    }
    return SNMP_OK;
}

// ---------------------------------------------------------------------------------------------
// snmp_v3_cmd_encode steps.

// The encoded message being finished in the caller's buffer.
struct CmdMessage {
    uint8_t *buf;
    uint16_t usable;  // bytes the final message may take
    uint16_t total;   // current length
    snmp_message &msg;
    const char *username;
    std::array<uint8_t, kCmdWorkAreaSize> &work;
};

void fill_command(snmp_message &msg, uint32_t op, uint32_t non_repeaters, uint32_t max_repetitions,
                  const snmp_varbind *varbinds, uint16_t varbind_count) {
    msg.version = SNMP_VERSION_3;
    msg.pdu.op = op;
    if (op == SNMP_OP_GETBULK) {
        msg.pdu.non_repeaters = non_repeaters;
        msg.pdu.max_repetitions = max_repetitions;
        if (max_repetitions > SNMP_V3_CMD_MAX_REPETITIONS) {
            AGENT_LOG(AGENT_LOG_WARN, "%s: GETBULK max_repetitions(%u) 超限，截断为 %d", kCmdEncode, max_repetitions,
                      static_cast<int>(SNMP_V3_CMD_MAX_REPETITIONS));
            msg.pdu.max_repetitions = SNMP_V3_CMD_MAX_REPETITIONS;
        }
    }
    uint16_t count = varbind_count;
    if (count > SNMP_V3_CMD_MAX_VARBINDS) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 变量绑定超限（%d → %d）", kCmdEncode, static_cast<int>(varbind_count),
                  static_cast<int>(SNMP_V3_CMD_MAX_VARBINDS));
        count = SNMP_V3_CMD_MAX_VARBINDS;
    }
    if (count != 0) {
        std::memcpy(msg.pdu.varbinds, varbinds, count * sizeof(snmp_varbind));
    }
    msg.pdu.varbind_count = static_cast<uint8_t>(count);
}

void fill_usm(snmp_message &msg, const char *username, uint8_t auth_proto, uint8_t priv_proto, const uint8_t *engine_id,
              uint16_t engine_id_len, uint32_t engine_boots, uint32_t engine_time) {
    snmp_v3_usm &usm = msg.usm;
    usm.auth_proto = auth_proto;
    usm.priv_proto = priv_proto;
    size_t user_len = strnlen(username, SNMP_V3_MAX_USER_LEN);
    std::memcpy(usm.username, username, user_len);
    usm.user_len = static_cast<uint8_t>(user_len);
    std::memcpy(usm.engine_id, engine_id, engine_id_len);
    usm.engine_id_len = engine_id_len;
    usm.engine_boots = engine_boots;
    usm.engine_time = engine_time;
    std::memcpy(msg.pdu.context_engine_id, engine_id, engine_id_len);
    msg.pdu.context_engine_id_len = engine_id_len;
    msg.pdu.context_name_len = 0;
    msg.msg_flags = static_cast<uint8_t>(SNMP_V3_FLAG_REPORTABLE | (auth_proto != 0 ? SNMP_V3_FLAG_AUTH : 0u) |
                                         (priv_proto != 0 ? SNMP_V3_FLAG_PRIV : 0u));
    // Reserves the parameter's place; its value is computed over the finished message.
    usm.auth_param_len = snmpv3_get_auth_param_length(auth_proto);
}

snmp_v3_user command_user(const snmp_message &msg, const uint8_t *auth_key, uint16_t auth_key_len,
                          const uint8_t *priv_key, uint16_t priv_key_len) {
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = msg.usm.user_len;
    std::memcpy(user.username, msg.usm.username, msg.usm.user_len);
    user.auth_proto = msg.usm.auth_proto;
    user.priv_proto = msg.usm.priv_proto;
    user.auth_key_len = std::min<uint16_t>(auth_key_len, SNMP_KEY_SIZE);
    if (auth_key != nullptr) {
        std::memcpy(user.auth_key, auth_key, user.auth_key_len);
    }
    user.priv_key_len = std::min<uint16_t>(priv_key_len, SNMP_KEY_SIZE);
    if (priv_key != nullptr) {
        std::memcpy(user.priv_key, priv_key, user.priv_key_len);
    }
    return user;
}

// Length of the message once its outer length field is rewritten for `total` bytes that currently
// carry a length field of `old_octets`.
uint16_t total_after_length_repair(uint16_t total, uint16_t old_octets) {
    auto content = static_cast<uint16_t>(total - kTagLen - old_octets);
    return static_cast<uint16_t>(kTagLen + snmp_ber_length_octets(content) + content);
}

bool scoped_offsets_valid(const snmp_message &msg, uint16_t total) {
    return msg.scoped_pdu_type_offset != 0 && msg.scoped_pdu_len_offset != 0 && msg.scoped_pdu_value_offset != 0 &&
           msg.scoped_pdu_type_offset < total &&
           static_cast<uint32_t>(msg.scoped_pdu_value_offset) + msg.scoped_pdu_value_len <= total;
}

// Replaces the plaintext scoped PDU by the OCTET STRING of its encryption (random IV part and cipher
// text). The grown message must still fit, outer length field included.
int32_t encrypt_scoped_pdu(CmdMessage &m, const uint8_t *priv_key, uint16_t priv_key_len) {
    snmp_message &msg = m.msg;
    if (!scoped_offsets_valid(msg, m.total)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: ScopedPDU偏移无效 | 类型偏移：%d | 值偏移：%d | 长度偏移：%d | 值长度：%d | 编码后总长度：%d",
                  kCmdEncode, static_cast<int>(msg.scoped_pdu_type_offset), static_cast<int>(msg.scoped_pdu_value_offset),
                  static_cast<int>(msg.scoped_pdu_len_offset), static_cast<int>(msg.scoped_pdu_value_len),
                  static_cast<int>(m.total));
        return SNMP_ERR_NULL;
    }
    uint16_t type_at = msg.scoped_pdu_type_offset;
    uint16_t content_len = 0;
    uint16_t header_len = 0;
    int32_t ret = snmp_ber_decode_sequence_header(m.buf + type_at, static_cast<uint16_t>(m.total - type_at),
                                                  &content_len, &header_len);
    if (ret == SNMP_OK && static_cast<uint32_t>(type_at) + header_len + content_len > m.total) {
        ret = SNMP_ERR_MALFORMED;
    }
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 重新解析ScopedPDU SEQUENCE头部失败, ret=%d", kCmdEncode, static_cast<int>(ret));
        return ret;
    }
    auto plain_len = static_cast<uint16_t>(header_len + content_len);
    const uint16_t cipher_len = snmpv3_get_encrypted_length(msg.usm.priv_proto, plain_len);
    if (cipher_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: ScopedPDU加密失败 | 用户名：%s | 加密算法：%d | 密钥长度：%d | 明文长度：%d", kCmdEncode,
                  m.username, static_cast<int>(msg.usm.priv_proto), static_cast<int>(priv_key_len),
                  static_cast<int>(plain_len));
        return SNMP_ERR_PRIV;
    }
    uint16_t wrapped_len = snmp_ber_element_len(cipher_len);
    uint16_t old_octets = 0;
    uint16_t old_len = 0;
    snmp_ber_decode_length(m.buf + kTagLen, static_cast<uint16_t>(m.total - kTagLen), &old_len, &old_octets);
    auto grown = static_cast<uint32_t>(m.total - plain_len + wrapped_len);
    uint32_t final_len = grown > UINT16_MAX ? grown : total_after_length_repair(static_cast<uint16_t>(grown), old_octets);
    if (wrapped_len == 0 || wrapped_len > kMaxWrappedLen || final_len > m.usable) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: OCTET封装缓冲区不足 | 需求：%d字节 | 实际：%d字节", kCmdEncode,
                  static_cast<int>(final_len), static_cast<int>(m.usable));
        return SNMP_ERR_NO_ROOM;
    }
    auto plain_end = static_cast<uint16_t>(type_at + plain_len);
    move_up(m.buf, plain_end, static_cast<uint16_t>(type_at + wrapped_len), static_cast<uint16_t>(m.total - plain_end));
    auto wrap_header = static_cast<uint16_t>(wrapped_len - cipher_len);
    uint16_t written = cipher_len;
    if (snmp_v3_encrypt_pdu(m.buf + type_at, plain_len, &msg.usm, priv_key, priv_key_len, m.buf + type_at + wrap_header,
                            &written, m.work.data(), static_cast<uint16_t>(m.work.size())) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: ScopedPDU加密失败 | 用户名：%s | 加密算法：%d | 密钥长度：%d | 明文长度：%d", kCmdEncode,
                  m.username, static_cast<int>(msg.usm.priv_proto), static_cast<int>(priv_key_len),
                  static_cast<int>(plain_len));
        return SNMP_ERR_PRIV;
    }
    if (written == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 加密后长度无效（0字节）| 明文长度：%d字节", kCmdEncode, static_cast<int>(plain_len));
        return SNMP_ERR_PRIV;
    }
    m.buf[type_at] = SNMP_TAG_OCTET_STRING;
    uint16_t octets = 0;
    ret = snmp_ber_encode_length(m.buf + type_at + kTagLen, static_cast<uint16_t>(wrap_header - kTagLen), cipher_len,
                                 &octets);
    if (ret != SNMP_OK || written != cipher_len) {
        AGENT_LOG(AGENT_LOG_ERROR,
                  "%s: OCTET封装失败/长度不匹配 | 错误码：%d | 预期长度：%d字节 | 实际长度：%d字节 | 密文长度：%d字节",
                  kCmdEncode, static_cast<int>(ret), static_cast<int>(wrapped_len),
                  static_cast<int>(kTagLen + octets + written), static_cast<int>(written));
        return ret != SNMP_OK ? ret : SNMP_ERR_PRIV;
    }
    m.total = static_cast<uint16_t>(grown);
    msg.scoped_pdu_len_offset = static_cast<uint16_t>(type_at + kTagLen);
    msg.scoped_pdu_value_offset = static_cast<uint16_t>(type_at + wrap_header);
    msg.scoped_pdu_value_len = cipher_len;
    return SNMP_OK;
}

// Rewrites the outer length for the current total; a longer length field moves the rest of the
// message (and every recorded offset) up.
int32_t repair_outer_length(CmdMessage &m) {
    if (m.buf[0] != SNMP_TAG_SEQUENCE) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 顶层类型异常（非SEQUENCE）| 实际类型：0x%02X", kCmdEncode,
                  static_cast<unsigned>(m.buf[0]));
        return SNMP_ERR_INVALID;
    }
    uint16_t old_len = 0;
    uint16_t old_octets = 0;
    int32_t ret = snmp_ber_decode_length(m.buf + kTagLen, static_cast<uint16_t>(m.total - kTagLen), &old_len, &old_octets);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 解析原顶层长度失败 | 错误码：%d", kCmdEncode, static_cast<int>(ret));
        return ret;
    }
    auto content_len = static_cast<uint16_t>(m.total - kTagLen - old_octets);
    uint16_t new_octets = snmp_ber_length_octets(content_len);
    if (new_octets > old_octets) {
        // encrypt_scoped_pdu has checked that the message fits with the longer field.
        auto shift = static_cast<uint16_t>(new_octets - old_octets);
        move_up(m.buf, static_cast<uint16_t>(kTagLen + old_octets), static_cast<uint16_t>(kTagLen + new_octets),
                content_len);
        snmp_message &msg = m.msg;
        m.total = static_cast<uint16_t>(m.total + shift);
        msg.usm.auth_param_offset = static_cast<uint16_t>(msg.usm.auth_param_offset + (msg.usm.auth_param_offset ? shift : 0));
        msg.usm.priv_param_offset = static_cast<uint16_t>(msg.usm.priv_param_offset + (msg.usm.priv_param_offset ? shift : 0));
        msg.scoped_pdu_type_offset = static_cast<uint16_t>(msg.scoped_pdu_type_offset + shift);
        msg.scoped_pdu_len_offset = static_cast<uint16_t>(msg.scoped_pdu_len_offset + shift);
        msg.scoped_pdu_value_offset = static_cast<uint16_t>(msg.scoped_pdu_value_offset + shift);
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 报文整体后移，位移量=%d，所有偏移已同步更新", kCmdEncode, static_cast<int>(shift));
    } else if (new_octets < old_octets) {
        // Never happens (the message only grows), but a shorter field must not leave a gap.
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 编码新顶层长度失败 | 错误码：%d", kCmdEncode, SNMP_ERR_INVALID);
        return SNMP_ERR_INVALID;
    }
    uint16_t octets = 0;
    ret = snmp_ber_encode_length(m.buf + kTagLen, new_octets, content_len, &octets);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 编码新顶层长度失败 | 错误码：%d", kCmdEncode, static_cast<int>(ret));
        return ret;
    }
    return SNMP_OK;
}

// Computes the authentication parameter over the finished message and writes it in place.
int32_t authenticate(CmdMessage &m, const uint8_t *auth_key, uint16_t auth_key_len) {
    snmp_v3_usm &usm = m.msg.usm;
    uint16_t at = usm.auth_param_offset;
    if (at == 0 || static_cast<uint32_t>(at) + usm.auth_param_len + kMinHeaderLen > m.total) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 认证参数偏移无效 | 偏移：%d | 长度：%d | 消息总长度：%d", kCmdEncode,
                  static_cast<int>(at), static_cast<int>(usm.auth_param_len), static_cast<int>(m.total));
        return SNMP_ERR_NULL;
    }
    if (m.buf[at] != SNMP_TAG_OCTET_STRING || m.buf[at + kTagLen] != usm.auth_param_len) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: AuthParam TLV格式异常, offset=%d, expect_len=%d, real_len=0x%02X", kCmdEncode,
                  static_cast<int>(at), static_cast<int>(usm.auth_param_len), static_cast<unsigned>(m.buf[at + kTagLen]));
    }
    uint8_t *value = m.buf + at + kMinHeaderLen;
    std::memset(value, 0, usm.auth_param_len);
    std::array<uint8_t, SNMP_AUTH_PARAM_SIZE> param{};
    if (snmp_v3_gen_auth_param(&usm, auth_key, auth_key_len, m.buf, m.total, param.data(), m.work.data(),
                               static_cast<uint16_t>(m.work.size())) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 认证参数生成失败 | 用户名：%s | 认证算法：%d | 密钥长度：%d", kCmdEncode, m.username,
                  static_cast<int>(usm.auth_proto), static_cast<int>(auth_key_len));
        return SNMP_ERR_AUTH;
    }
    std::memcpy(value, param.data(), usm.auth_param_len);
    std::memcpy(usm.auth_param, param.data(), usm.auth_param_len);
    return SNMP_OK;
}

int32_t check_command_arguments(const char *username, const uint8_t *auth_key, uint16_t auth_key_len,
                                const uint8_t *priv_key, uint16_t priv_key_len, uint8_t auth_proto, uint8_t priv_proto,
                                const uint8_t *engine_id, uint16_t engine_id_len, const snmp_varbind *varbinds,
                                uint16_t varbind_count) {
    if (username == nullptr || username[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 非发现流程必须指定用户名", kCmdEncode);
        return SNMP_ERR_NULL;
    }
    if (varbind_count != 0 && varbinds == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 变量绑定数量>0但列表为空", kCmdEncode);
        return SNMP_ERR_NULL;
    }
    if (auth_proto != 0 && (auth_key == nullptr || auth_key_len == 0)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户加密密钥未生成 | 认证算法：%d | 密钥长度：%d", kCmdEncode,
                  static_cast<int>(auth_proto), static_cast<int>(auth_key_len));
        return SNMP_ERR_AUTH;
    }
    if (priv_proto != 0 && (priv_key == nullptr || priv_key_len == 0)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户加密密钥未生成 | 加密算法：%d | 密钥长度：%d", kCmdEncode,
                  static_cast<int>(priv_proto), static_cast<int>(priv_key_len));
        return SNMP_ERR_PRIV;
    }
    if (engine_id == nullptr || engine_id_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 引擎ID为空", kCmdEncode);
        return SNMP_ERR_NULL;
    }
    if (engine_id_len > SNMP_V3_MAX_ENGINE_ID_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 引擎ID过长（%d字节，上限%d字节）", kCmdEncode, static_cast<int>(engine_id_len),
                  static_cast<int>(SNMP_V3_MAX_ENGINE_ID_LEN));
        return SNMP_ERR_INVALID;
    }
    return SNMP_OK;
}

}  // namespace

extern "C" {

// ---- USM ----

int32_t snmp_ber_encode_v3_usm(uint8_t *buf, uint16_t size, snmp_v3_usm *usm, uint16_t *out_len,
                               uint16_t *auth_rel_off, uint16_t *priv_rel_off, uint16_t *usm_seq_header_len) {
    if (usm_seq_header_len == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "USM编码: usm_seq_header_len为空");
        return SNMP_ERR_INVALID;
    }
    if (buf == nullptr || usm == nullptr || out_len == nullptr || auth_rel_off == nullptr || priv_rel_off == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "USM编码: 入参为空（buf=%p, usm=%p, out_len=%p, auth_rel_off=%p, priv_rel_off=%p）",
                  static_cast<void *>(buf), static_cast<void *>(usm), static_cast<void *>(out_len),
                  static_cast<void *>(auth_rel_off), static_cast<void *>(priv_rel_off));
        return SNMP_ERR_INVALID;
    }
    if (usm->engine_id_len == 0) {
        std::memset(usm->username, 0, sizeof usm->username);
        usm->user_len = 0;
        AGENT_LOG(AGENT_LOG_INFO, "USM编码: 检测到发现流程，已清空用户名");
    }
    const char *bad_element = nullptr;
    if (check_usm_fields(*usm, bad_element) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "USM编码: 编码%s失败（错误码=%d）", bad_element, SNMP_ERR_INVALID);
        return SNMP_ERR_INVALID;
    }
    UsmLayout layout = usm_layout(*usm);
    uint32_t total = static_cast<uint32_t>(layout.header) + layout.content;
    if (total > size) {
        AGENT_LOG(AGENT_LOG_ERROR, "USM编码: 缓冲区不足（需求=%d，实际=%d）", static_cast<int>(total), static_cast<int>(size));
        return SNMP_ERR_NO_ROOM;
    }
    Writer w(buf, static_cast<uint16_t>(total));
    if (w.sequence(layout.content) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "USM编码: 编码SEQUENCE头部失败（错误码=%d）", static_cast<int>(w.result()));
        return w.result();
    }
    uint16_t auth_rel = 0;
    uint16_t priv_rel = 0;
    int32_t ret = write_usm(w, *usm, layout.header, auth_rel, priv_rel);
    if (ret != SNMP_OK) {
        return ret;
    }
    *out_len = w.pos();
    *auth_rel_off = auth_rel;
    *priv_rel_off = priv_rel;
    *usm_seq_header_len = layout.header;
    AGENT_LOG(AGENT_LOG_INFO, "USM编码: 完成，总长度=%d字节（头部=%d + 内容=%d），Auth相对偏移=%d，Priv相对偏移=%d",
              static_cast<int>(w.pos()), static_cast<int>(layout.header), static_cast<int>(layout.content),
              static_cast<int>(auth_rel), static_cast<int>(priv_rel));
    return SNMP_OK;
}

int32_t snmp_ber_decode_v3_usm(const uint8_t *buf, uint16_t len, uint8_t msg_flags, snmp_v3_usm *usm,
                               uint16_t *consumed, uint16_t *auth_offset) {
    if (auth_offset != nullptr) {
        *auth_offset = 0;
    }
    if (buf == nullptr || usm == nullptr || consumed == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：无效参数");
        return SNMP_ERR_NULL;
    }
    if (len < kMinHeaderLen || buf[0] != SNMP_TAG_SEQUENCE) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：无效SEQUENCE类型（0x%02X）",
                  static_cast<unsigned>(len == 0 ? kNothingLeft : buf[0]));
        return SNMP_ERR_INVALID;
    }
    uint16_t content_len = 0;
    uint16_t header_len = 0;
    int32_t ret = snmp_ber_decode_sequence_header(buf, len, &content_len, &header_len);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：序列头解码失败（%d）", static_cast<int>(ret));
        return ret;
    }
    uint32_t total = static_cast<uint32_t>(header_len) + content_len;
    if (total > len) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：内容长度超出范围（需%d，实有%d）", static_cast<int>(total),
                  static_cast<int>(len));
        return SNMP_ERR_MALFORMED;
    }
    std::memset(usm, 0, sizeof *usm);
    Reader r(Bytes(buf + header_len, content_len));
    ret = r.string(usm->engine_id, SNMP_V3_MAX_ENGINE_ID_LEN, usm->engine_id_len);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：EngineID解码失败（%d）", static_cast<int>(ret));
        return ret;
    }
    bool discovery = usm->engine_id_len == 0;
    if ((ret = read_usm_counter(r, discovery, usm->engine_boots, "EngineBoots")) != SNMP_OK ||
        (ret = read_usm_counter(r, discovery, usm->engine_time, "EngineTime")) != SNMP_OK ||
        (ret = read_usm_username(r, discovery, *usm)) != SNMP_OK ||
        (ret = read_usm_security(r, msg_flags, header_len, *usm, auth_offset)) != SNMP_OK) {
        return ret;
    }
    if (r.pos() != content_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 USM解码：偏移量不匹配（需%d，实有%d）", static_cast<int>(content_len),
                  static_cast<int>(r.pos()));
        if (auth_offset != nullptr) {
            *auth_offset = 0;
        }
        return SNMP_ERR_MALFORMED;
    }
    *consumed = static_cast<uint16_t>(total);
    AGENT_LOG(AGENT_LOG_INFO, "SNMPv3 USM解码完成（总消耗：%d字节，Discover=%s）", static_cast<int>(total),
              discovery ? "是" : "否");
    return SNMP_OK;
}

int32_t skip_null_octet_string(const uint8_t *buf, uint16_t len, uint16_t *pos) {
    if (buf != nullptr && pos != nullptr && static_cast<uint32_t>(*pos) + kMinHeaderLen <= len &&
        buf[*pos] == SNMP_TAG_OCTET_STRING && buf[*pos + kTagLen] == 0) {
        *pos = static_cast<uint16_t>(*pos + kMinHeaderLen);
    }
    return SNMP_OK;
}

// ---- Scoped PDU ----

int32_t snmp_ber_encode_v3_scoped_pdu(uint8_t *buf, uint16_t size, const snmp_pdu *pdu, uint16_t *out_len) {
    if (buf == nullptr || pdu == nullptr || out_len == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：无效参数（buf=%p, pdu=%p,out_len=%p）",
                  static_cast<void *>(buf), static_cast<const void *>(pdu), static_cast<void *>(out_len));
        return SNMP_ERR_NULL;
    }
    if (pdu->context_engine_id_len > SNMP_V3_MAX_ENGINE_ID_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：contextEngineID 编码失败，错误码:%d", SNMP_ERR_INVALID);
        return SNMP_ERR_INVALID;
    }
    if (pdu->context_name_len > SNMP_V3_MAX_CONTEXT_NAME_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：contextName 编码失败，错误码:%d", SNMP_ERR_INVALID);
        return SNMP_ERR_INVALID;
    }
    auto fields_len = static_cast<uint16_t>(snmp_ber_element_len(pdu->context_engine_id_len) +
                                            snmp_ber_element_len(pdu->context_name_len));
    // The PDU goes first, behind the shortest header; it moves up once the header is known.
    uint32_t pdu_at = kMinHeaderLen + static_cast<uint32_t>(fields_len);
    if (pdu_at >= size) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：缓冲区不足（需要:%d字节，实际:%d字节）",
                  static_cast<int>(pdu_at + 1u), static_cast<int>(size));
        return SNMP_ERR_NO_ROOM;
    }
    uint16_t pdu_len = 0;
    int32_t ret = snmp_ber_encode_snmp_pdu(buf + pdu_at, static_cast<uint16_t>(size - pdu_at), pdu, SNMP_VERSION_3,
                                           &pdu_len);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：内嵌 PDU 编码失败，错误码:%d", static_cast<int>(ret));
        return ret;
    }
    uint32_t content_len = static_cast<uint32_t>(fields_len) + pdu_len;
    uint32_t total = snmp_ber_element_len(content_len);
    if (total == 0 || total > size) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：缓冲区不足（需要:%d字节，实际:%d字节）",
                  static_cast<int>(total), static_cast<int>(size));
        return SNMP_ERR_NO_ROOM;
    }
    auto header_len = static_cast<uint16_t>(total - content_len);
    move_up(buf, static_cast<uint16_t>(pdu_at), static_cast<uint16_t>(header_len + fields_len), pdu_len);
    Writer w(buf, static_cast<uint16_t>(header_len + fields_len));
    if (w.sequence(static_cast<uint16_t>(content_len)) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：SEQUENCE 头部编码失败，错误码:%d",
                  static_cast<int>(w.result()));
        return w.result();
    }
    if (w.string(pdu->context_engine_id, pdu->context_engine_id_len) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：contextEngineID 编码失败，错误码:%d",
                  static_cast<int>(w.result()));
        return w.result();
    }
    if (w.string(pdu->context_name, pdu->context_name_len) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_v3_scoped_pdu：contextName 编码失败，错误码:%d",
                  static_cast<int>(w.result()));
        return w.result();
    }
    *out_len = static_cast<uint16_t>(total);
    return SNMP_OK;
}

int32_t snmp_ber_decode_v3_scoped_pdu(const uint8_t *buf, uint16_t len, snmp_pdu *pdu, uint16_t *consumed) {
    if (buf == nullptr || pdu == nullptr || consumed == nullptr) {
        return SNMP_ERR_NULL;
    }
    *consumed = 0;
    if (len < kMinHeaderLen || buf[0] != SNMP_TAG_SEQUENCE) {
        return SNMP_ERR_INVALID;
    }
    uint16_t content_len = 0;
    uint16_t header_len = 0;
    int32_t ret = snmp_ber_decode_sequence_header(buf, len, &content_len, &header_len);
    if (ret != SNMP_OK) {
        return ret;
    }
    uint32_t total = static_cast<uint32_t>(header_len) + content_len;
    if (total > len) {
        return SNMP_ERR_MALFORMED;
    }
    pdu->context_engine_id_len = 0;
    pdu->context_name_len = 0;
    pdu->varbind_count = 0;
    Reader r(Bytes(buf + header_len, content_len));
    if ((ret = r.string(pdu->context_engine_id, SNMP_V3_MAX_ENGINE_ID_LEN, pdu->context_engine_id_len)) != SNMP_OK ||
        (ret = r.string(pdu->context_name, SNMP_V3_MAX_CONTEXT_NAME_LEN, pdu->context_name_len)) != SNMP_OK) {
        return ret;
    }
    uint16_t pdu_used = 0;
    ret = snmp_ber_decode_snmp_pdu(r.here(), r.left(), SNMP_VERSION_3, pdu, &pdu_used);
    if (ret != SNMP_OK) {
        return ret;
    }
    r.skip(pdu_used);
    if (r.pos() != content_len) {
        return SNMP_ERR_MALFORMED;
    }
    *consumed = static_cast<uint16_t>(total);
    return SNMP_OK;
}

// ---- Whole v3 messages (called by snmp_ber_encode_snmp_message / snmp_ber_decode_snmp_message) ----

int32_t snmp_ber_encode_v3_message(uint8_t *buf, uint16_t size, const snmp_v3_user *user, snmp_message *msg,
                                   uint16_t *out_len) {
    if (buf == nullptr || user == nullptr || msg == nullptr || out_len == nullptr) {
        return SNMP_ERR_INVALID;
    }
    uint16_t usable = usable_size(size);
    MessageLayout l{};
    l.global_len = snmp_ber_element_len(global_data_content_len(*msg));
    std::array<uint8_t, kUsmAreaSize> usm_area;  // written by the USM encoder before it is read
    int32_t ret = snmp_ber_encode_v3_usm(usm_area.data(), static_cast<uint16_t>(usm_area.size()), &msg->usm, &l.usm_len,
                                         &l.auth_rel, &l.priv_rel, &l.usm_header);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：V3 USM 序列编码失败，错误码:%d", static_cast<int>(ret));
        return ret;
    }
    l.prefix = static_cast<uint16_t>(kVersionLen + l.global_len + snmp_ber_element_len(l.usm_len));
    if (l.prefix + SNMP_V3_MIN_SCOPED_PDU_ROOM > SNMP_MAX_MSG_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：V3 ScopedPDU 缓冲区不足！剩余:%d字节，至少需128字节",
                  static_cast<int>(SNMP_MAX_MSG_SIZE - l.prefix));
        return SNMP_ERR_NO_ROOM;
    }
    // The scoped PDU is written first, behind the shortest outer header, and moved up afterwards.
    auto scoped_at = static_cast<uint16_t>(kMinHeaderLen + l.prefix);
    if (scoped_at >= usable) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：V3 最终缓冲区不足！需:%d字节，剩余:%d字节",
                  static_cast<int>(scoped_at + 1u), static_cast<int>(usable));
        return SNMP_ERR_NO_ROOM;
    }
    ret = snmp_ber_encode_v3_scoped_pdu(buf + scoped_at, static_cast<uint16_t>(usable - scoped_at), &msg->pdu,
                                        &l.scoped_len);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：V3 明文ScopedPDU 编码失败，错误码:%d", static_cast<int>(ret));
        return ret;
    }
    uint32_t content_len = static_cast<uint32_t>(l.prefix) + l.scoped_len;
    uint32_t total = snmp_ber_element_len(content_len);
    if (total == 0 || total > usable) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：V3 最终缓冲区不足！需:%d字节，剩余:%d字节",
                  static_cast<int>(total), static_cast<int>(usable));
        return SNMP_ERR_NO_ROOM;
    }
    l.header = static_cast<uint16_t>(total - content_len);
    move_up(buf, scoped_at, static_cast<uint16_t>(l.header + l.prefix), l.scoped_len);
    ret = write_message_prefix(buf, l, *msg, usm_area);
    if (ret != SNMP_OK) {
        return ret;
    }
    record_offsets(buf, l, *msg);
    *out_len = static_cast<uint16_t>(total);
    AGENT_LOG(AGENT_LOG_INFO, "snmp_ber_encode_snmp_message：V3 消息编码完成 | 总长度:%d字节 | msgID:%u | 认证:%d | 加密:%d | 顶级类型:0x%02X",
              static_cast<int>(total), msg->msg_id, static_cast<int>(msg->usm.auth_proto),
              static_cast<int>(msg->usm.priv_proto), static_cast<unsigned>(buf[0]));
    return SNMP_OK;
}

int32_t snmp_ber_decode_v3_message(const uint8_t *buf, uint16_t len, uint16_t offset_after_version,
                                   snmp_message *msg, uint16_t *consumed) {
    if (buf == nullptr || msg == nullptr || consumed == nullptr) {
        return SNMP_ERR_INVALID;
    }
    if (offset_after_version > len) {
        return SNMP_ERR_MALFORMED;
    }
    reset_received_v3(*msg);
    Reader r(Bytes(buf, len), offset_after_version);
    int32_t ret = read_global_data(r, *msg);
    if (ret == SNMP_OK) {
        ret = read_security_parameters(r, *msg);
    }
    if (ret == SNMP_OK) {
        ret = read_msg_data(r, *msg);
    }
    if (ret != SNMP_OK) {
        return ret;
    }
    *consumed = r.pos();
    AGENT_LOG(AGENT_LOG_INFO, "SNMPv3消息解码完成（msgID:%u, 认证:%d, 加密:%d, AuthParam偏移:%d, 总使用长度:%d字节）",
              msg->msg_id, (msg->msg_flags & SNMP_V3_FLAG_AUTH) != 0 ? 1 : 0,
              (msg->msg_flags & SNMP_V3_FLAG_PRIV) != 0 ? 1 : 0, static_cast<int>(msg->auth_param_abs_offset),
              static_cast<int>(r.pos()));
    return SNMP_OK;
}

// ---- One-call command encoder ----

int32_t snmp_v3_cmd_encode(uint32_t op, const char *username, uint8_t auth_proto, uint8_t priv_proto,
                           const uint8_t *auth_key, uint16_t auth_key_len, const uint8_t *priv_key,
                           uint16_t priv_key_len, const uint8_t *engine_id, uint16_t engine_id_len,
                           uint32_t engine_boots, uint32_t engine_time, uint32_t msg_id, uint32_t non_repeaters,
                           uint32_t max_repetitions, const snmp_varbind *varbinds, uint16_t varbind_count,
                           uint8_t *out_buf, uint16_t *inout_len) {
    if (out_buf == nullptr || inout_len == nullptr || *inout_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（空指针或缓冲区长度为0）| 缓冲区长度：%d", kCmdEncode,
                  static_cast<int>(inout_len == nullptr ? 0 : *inout_len));
        return SNMP_ERR_NULL;
    }
    int32_t ret = check_command_arguments(username, auth_key, auth_key_len, priv_key, priv_key_len, auth_proto,
                                          priv_proto, engine_id, engine_id_len, varbinds, varbind_count);
    if (ret != SNMP_OK) {
        return ret;
    }
    snmp_message msg{};
    fill_command(msg, op, non_repeaters, max_repetitions, varbinds, varbind_count);
    msg.msg_id = msg_id;
    fill_usm(msg, username, auth_proto, priv_proto, engine_id, engine_id_len, engine_boots, engine_time);
    if (priv_proto != 0 && snmpv3_crypto_gen_full_iv(&msg.usm) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 完整IV生成失败，终止V3编码 | 用户名：%s | 加密算法：%d", kCmdEncode, username,
                  static_cast<int>(priv_proto));
        return SNMP_ERR_PRIV;
    }
    const snmp_v3_user user = command_user(msg, auth_key, auth_key_len, priv_key, priv_key_len);
    std::array<uint8_t, kCmdWorkAreaSize> work;  // cipher text, then the HMAC copy; written before read
    CmdMessage m{out_buf, usable_size(*inout_len), 0, msg, username, work};
    ret = snmp_ber_encode_snmp_message(out_buf, m.usable, &user, &msg, &m.total);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 一次编码失败 | 错误码：%d | 初始缓冲区长度：%d", kCmdEncode, static_cast<int>(ret),
                  static_cast<int>(*inout_len));
        return ret;
    }
    if (priv_proto != 0 && (ret = encrypt_scoped_pdu(m, priv_key, priv_key_len)) != SNMP_OK) {
        return ret;
    }
    if ((ret = repair_outer_length(m)) != SNMP_OK) {
        return ret;
    }
    if (auth_proto != 0 && (ret = authenticate(m, auth_key, auth_key_len)) != SNMP_OK) {
        return ret;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: V3编码全部完成 | 用户名：%s | 最终消息长度：%d字节 | 请求ID：%d | 认证启用：%d | 加密启用：%d",
              kCmdEncode, username, static_cast<int>(m.total), static_cast<int>(msg_id), auth_proto != 0 ? 1 : 0,
              priv_proto != 0 ? 1 : 0);
    *inout_len = m.total;
    return SNMP_OK;
}

}  // extern "C"
