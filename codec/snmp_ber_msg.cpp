// Variable bindings, PDUs and v1/v2c messages on top of the BER primitives.
//
// Encoding works in two steps: the exact size of every element is worked out first (a layout), so
// that each SEQUENCE or PDU header can be written before its content, then everything is written
// straight into the caller's buffer. Nothing is copied through scratch areas and nothing is written
// unless the whole encoding fits. Version-3 messages are handed to the v3 framing (snmpv3_ber.cpp).
#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "codec/ber_octets.h"
#include "codec/ber_writer.h"
#include "codec/snmp_ber.h"

namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint16_t kTagLen = 1;
constexpr uint16_t kNullValueLen = 2;  // tag and a zero length octet
constexpr uint16_t kGauge32ContentLen = 4;
constexpr uint16_t kIpAddressLen = 4;  // IpAddress: the four octets of an IPv4 address
constexpr uint16_t kMaxUnsigned32Octets = 4;
constexpr uint32_t kOneOctetMax = 0xFFu;
constexpr uint32_t kTwoOctetMax = 0xFFFFu;
constexpr uint32_t kThreeOctetMax = 0xFFFFFFu;
// A PDU is never longer than the message that carries it.
constexpr uint32_t kMaxPduLen = SNMP_MAX_MSG_SIZE;
constexpr uint8_t kNoPduTag = 0;

// PDU tag of each operation code 0..8 (0 where the code is not encodable).
constexpr std::array<uint8_t, SNMP_OP_MAX + 1> kOpTags = {
    SNMP_PDU_TAG_GET,     SNMP_PDU_TAG_GETNEXT, SNMP_PDU_TAG_RESPONSE, SNMP_PDU_TAG_SET,   kNoPduTag,
    SNMP_PDU_TAG_GETBULK, SNMP_PDU_TAG_V2_TRAP, SNMP_PDU_TAG_INFORM,   SNMP_PDU_TAG_REPORT};

bool is_v2_or_v3(uint32_t version) {
    return version == SNMP_VERSION_2C || version == SNMP_VERSION_3;
}

// Whether a received PDU tag is accepted in a message of this version.
bool pdu_tag_allowed(uint32_t version, uint8_t tag) {
    switch (version) {
        case SNMP_VERSION_1:
            return tag >= SNMP_PDU_TAG_GET && tag <= SNMP_PDU_TAG_V1_TRAP;
        case SNMP_VERSION_2C:
            return (tag >= SNMP_PDU_TAG_GET && tag <= SNMP_PDU_TAG_SET) ||
                   (tag >= SNMP_PDU_TAG_GETBULK && tag <= SNMP_PDU_TAG_V2_TRAP);
        case SNMP_VERSION_3:
            // Everything of v2c (SNMPv3 notifications included) and the Report.
            return (tag >= SNMP_PDU_TAG_GET && tag <= SNMP_PDU_TAG_SET) ||
                   (tag >= SNMP_PDU_TAG_GETBULK && tag <= SNMP_PDU_TAG_REPORT);
        default:
            return false;
    }
}

uint32_t op_from_tag(uint8_t tag) {
    for (uint32_t op = 0; op < kOpTags.size(); ++op) {
        if (kOpTags[op] != kNoPduTag && kOpTags[op] == tag) {
            return op;
        }
    }
    return SNMP_OP_UNKNOWN;
}

// Counter32: minimal big-endian octets, no leading zero even when the top bit is set.
uint16_t counter32_content_len(uint32_t value) {
    return value <= kOneOctetMax     ? 1
           : value <= kTwoOctetMax   ? 2
           : value <= kThreeOctetMax ? 3
                                     : kMaxUnsigned32Octets;
}

// Counter32 / Gauge32 content: 1..4 octets, or 5 when the first is a leading zero.
bool unsigned32_content_ok(uint16_t len, uint8_t first) {
    return (len >= 1 && len <= kMaxUnsigned32Octets) || (len == kMaxUnsigned32Octets + 1u && first == 0);
}

// ---------------------------------------------------------------------------------------------
// Layouts: exact sizes, worked out before anything is written.

struct VarbindLayout {
    uint16_t name_len;   // OBJECT IDENTIFIER element
    uint16_t value_len;  // value element
    uint16_t total;      // with the binding's SEQUENCE header
};

struct PduLayout {
    uint8_t tag;
    uint16_t body_len;  // request-id, the two INTEGERs, the list header and the list
    uint16_t list_len;  // the encoded bindings
    uint16_t total;     // tag, length octets and body
    std::array<VarbindLayout, SNMP_MAX_VARBINDS> varbinds;
};

int32_t value_element_len(const snmp_varbind &vb, uint32_t version, uint16_t &len) {
    switch (vb.type) {
        case SNMP_TAG_INTEGER:
            len = snmp_ber_integer_len(vb.value.integer);
            return SNMP_OK;
        case SNMP_TAG_OCTET_STRING:
            if (vb.value_len > SNMP_MAX_OCTETS) {
                return SNMP_ERR_INVALID;
            }
            len = snmp_ber_element_len(vb.value_len);
            return SNMP_OK;
        case SNMP_TAG_OID:
            return snmp_ber_oid_len(&vb.value.oid_value, &len);
        case SNMP_TAG_TIMETICKS:
            len = snmp_ber_timeticks_len(static_cast<uint32_t>(vb.value.integer));
            return SNMP_OK;
        case SNMP_TAG_COUNTER32:
            len = static_cast<uint16_t>(kTagLen + 1u +
                                        counter32_content_len(static_cast<uint32_t>(vb.value.integer)));
            return SNMP_OK;
        case SNMP_TAG_GAUGE32:
            len = kTagLen + 1u + kGauge32ContentLen;
            return SNMP_OK;
        case SNMP_TAG_IPADDRESS:
            if (vb.value_len != kIpAddressLen) {
                return SNMP_ERR_INVALID;
            }
            len = kTagLen + 1u + kIpAddressLen;
            return SNMP_OK;
        case SNMP_TAG_COUNTER64:
            len = version == SNMP_VERSION_1 ? kNullValueLen : SNMP_BER_COUNTER64_LEN;
            return SNMP_OK;
        case SNMP_TAG_NULL:
        case SNMP_TAG_NO_SUCH_OBJECT:
        case SNMP_TAG_NO_SUCH_INSTANCE:
        case SNMP_TAG_END_OF_MIB_VIEW:
            len = kNullValueLen;
            return SNMP_OK;
        default:
            return SNMP_ERR_INVALID;
    }
}

int32_t varbind_layout(const snmp_varbind &vb, uint32_t version, VarbindLayout &layout) {
    int32_t ret = snmp_ber_oid_len(&vb.oid, &layout.name_len);
    if (ret != SNMP_OK) {
        return ret;
    }
    ret = value_element_len(vb, version, layout.value_len);
    if (ret != SNMP_OK) {
        return ret;
    }
    // Both parts are bounded by the record's capacities, so the sum always has a 16-bit length.
    layout.total = snmp_ber_element_len(static_cast<uint32_t>(layout.name_len) + layout.value_len);
    return SNMP_OK;
}

int32_t pdu_layout(const snmp_pdu &pdu, uint32_t version, PduLayout &layout) {
    if (pdu.varbind_count > SNMP_MAX_VARBINDS) {
        return SNMP_ERR_INVALID;
    }
    uint32_t list_len = 0;
    for (uint8_t i = 0; i < pdu.varbind_count; ++i) {
        int32_t ret = varbind_layout(pdu.varbinds[i], version, layout.varbinds[i]);
        if (ret != SNMP_OK) {
            return ret;
        }
        list_len += layout.varbinds[i].total;
    }
    if (list_len > kMaxPduLen) {
        return SNMP_ERR_NO_ROOM;
    }
    bool bulk = pdu.op == SNMP_OP_GETBULK;
    uint32_t body_len =
        snmp_ber_integer_len(pdu.request_id) +
        snmp_ber_integer_len(static_cast<int32_t>(bulk ? pdu.non_repeaters : pdu.error_status)) +
        snmp_ber_integer_len(static_cast<int32_t>(bulk ? pdu.max_repetitions : pdu.error_index)) +
        snmp_ber_element_len(list_len);
    uint32_t total = snmp_ber_element_len(body_len);
    if (total == 0 || total > kMaxPduLen) {
        return SNMP_ERR_NO_ROOM;
    }
    layout.list_len = static_cast<uint16_t>(list_len);
    layout.body_len = static_cast<uint16_t>(body_len);
    layout.total = static_cast<uint16_t>(total);
    return SNMP_OK;
}

// Checks the operation against the message version and picks its tag.
int32_t pdu_tag(const snmp_pdu &pdu, uint32_t version, uint8_t &tag) {
    if (pdu.op > SNMP_OP_MAX || kOpTags[pdu.op] == kNoPduTag) {
        return SNMP_ERR_INVALID;
    }
    bool needs_v2 = pdu.op == SNMP_OP_GETBULK || pdu.op == SNMP_OP_TRAP || pdu.op == SNMP_OP_INFORM;
    if ((needs_v2 && !is_v2_or_v3(version)) || (pdu.op == SNMP_OP_REPORT && version != SNMP_VERSION_3)) {
        return SNMP_ERR_VERSION;
    }
    tag = kOpTags[pdu.op];
    return SNMP_OK;
}

// ---------------------------------------------------------------------------------------------
// Writers: the layout has been checked against the output size, so every call below fits.

using Writer = vek::codec::BerWriter;

// Counter32 and Gauge32 have no primitive: tag, short length and big-endian content.
int32_t write_unsigned32(Writer &w, uint8_t tag, uint32_t value, uint16_t content_len) {
    std::array<uint8_t, kTagLen + 1u + kMaxUnsigned32Octets> bytes{};
    bytes[0] = tag;
    bytes[1] = static_cast<uint8_t>(content_len);
    vek::codec::put_big_endian(std::span(bytes).subspan(kTagLen + 1u), value, content_len);
    return w.raw(std::span<const uint8_t>(bytes.data(), kTagLen + 1u + content_len));
}

int32_t write_empty_value(Writer &w, uint8_t tag) {
    const std::array<uint8_t, kNullValueLen> bytes = {tag, 0};
    return w.raw(bytes);
}

int32_t write_value(Writer &w, const snmp_varbind &vb, uint32_t version) {
    const snmp_value &v = vb.value;
    switch (vb.type) {
        case SNMP_TAG_INTEGER:
            return w.integer(v.integer);
        case SNMP_TAG_OCTET_STRING:
            return w.put([&](uint8_t *p, uint16_t n, uint16_t &out) {
                return snmp_ber_encode_string(p, n, v.octets, vb.value_len, &out);
            });
        case SNMP_TAG_OID:
            return w.put([&](uint8_t *p, uint16_t n, uint16_t &out) {
                return snmp_ber_encode_oid(p, n, &v.oid_value, &out);
            });
        case SNMP_TAG_TIMETICKS:
            return w.put([&](uint8_t *p, uint16_t n, uint16_t &out) {
                return snmp_ber_encode_timeticks(p, n, static_cast<uint32_t>(v.integer), &out);
            });
        case SNMP_TAG_COUNTER32: {
            auto value = static_cast<uint32_t>(v.integer);
            return write_unsigned32(w, SNMP_TAG_COUNTER32, value, counter32_content_len(value));
        }
        case SNMP_TAG_GAUGE32:
            return write_unsigned32(w, SNMP_TAG_GAUGE32, static_cast<uint32_t>(v.integer),
                                    kGauge32ContentLen);
        case SNMP_TAG_IPADDRESS: {
            const std::array<uint8_t, kTagLen + 1u> header = {SNMP_TAG_IPADDRESS, kIpAddressLen};
            int32_t ret = w.raw(header);
            return ret != SNMP_OK ? ret : w.raw(std::span<const uint8_t>(v.octets, kIpAddressLen));
        }
        case SNMP_TAG_COUNTER64:
            if (version == SNMP_VERSION_1) {
                // SNMPv1 has no Counter64: the binding reports noSuchObject instead.
                return write_empty_value(w, SNMP_TAG_NO_SUCH_OBJECT);
            }
            return w.put([&](uint8_t *p, uint16_t n, uint16_t &out) {
                return snmp_ber_encode_counter64(p, n, v.counter64, &out);
            });
        default:  // NULL and the three exception values; other types were refused by the layout
            return write_empty_value(w, vb.type);
    }
}

int32_t write_varbind(Writer &w, const snmp_varbind &vb, uint32_t version, const VarbindLayout &layout) {
    w.sequence(static_cast<uint16_t>(layout.name_len + layout.value_len));
    w.put([&](uint8_t *p, uint16_t n, uint16_t &out) { return snmp_ber_encode_oid(p, n, &vb.oid, &out); });
    return write_value(w, vb, version);
}

int32_t write_pdu(Writer &w, const snmp_pdu &pdu, uint32_t version, const PduLayout &layout) {
    w.header(layout.tag, layout.body_len);
    w.integer(pdu.request_id);
    if (pdu.op == SNMP_OP_GETBULK) {
        AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_snmp_pdu: GETBULK non_repeaters=%u", pdu.non_repeaters);
        w.integer(static_cast<int32_t>(pdu.non_repeaters));
        AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_snmp_pdu: GETBULK max_repetitions=%u",
                  pdu.max_repetitions);
        w.integer(static_cast<int32_t>(pdu.max_repetitions));
    } else {
        w.integer(static_cast<int32_t>(pdu.error_status));
        w.integer(static_cast<int32_t>(pdu.error_index));
    }
    w.sequence(layout.list_len);
    for (uint8_t i = 0; i < pdu.varbind_count; ++i) {
        write_varbind(w, pdu.varbinds[i], version, layout.varbinds[i]);
    }
    return w.result();
}

// Checks and lays out a PDU for encoding; tag included.
int32_t prepare_pdu(const snmp_pdu &pdu, uint32_t version, PduLayout &layout) {
    int32_t ret = pdu_tag(pdu, version, layout.tag);
    if (ret != SNMP_OK) {
        return ret;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_snmp_pdu: 开始编码PDU，类型=0x%02X，版本=%d",
              static_cast<unsigned>(layout.tag), static_cast<int>(version));
    return pdu_layout(pdu, version, layout);
}

// ---------------------------------------------------------------------------------------------
// Decoding helpers.

// Counter32: short-form length only.
int32_t read_counter32(Bytes in, uint32_t &value, uint16_t &used) {
    if (in.size() == 1) {
        return SNMP_ERR_INVALID;
    }
    uint16_t len = in[1];
    if (len == 0 || kTagLen + 1u + len > in.size() || !unsigned32_content_ok(len, in[kTagLen + 1u])) {
        return SNMP_ERR_MALFORMED;
    }
    value = static_cast<uint32_t>(vek::codec::get_big_endian(in.subspan(kTagLen + 1u, len)));
    used = static_cast<uint16_t>(kTagLen + 1u + len);
    return SNMP_OK;
}

// Gauge32: long length forms accepted.
int32_t read_gauge32(Bytes in, uint32_t &value, uint16_t &used) {
    if (in.size() == 1) {
        return SNMP_ERR_INVALID;
    }
    uint16_t len = 0;
    uint16_t octets = 0;
    if (snmp_ber_decode_length(in.data() + kTagLen, static_cast<uint16_t>(in.size() - kTagLen), &len,
                               &octets) != SNMP_OK) {
        return SNMP_ERR_MALFORMED;
    }
    uint32_t header_len = kTagLen + octets;
    if (len == 0 || header_len + len > in.size() || !unsigned32_content_ok(len, in[header_len])) {
        return SNMP_ERR_MALFORMED;
    }
    value = static_cast<uint32_t>(vek::codec::get_big_endian(in.subspan(header_len, len)));
    used = static_cast<uint16_t>(header_len + len);
    return SNMP_OK;
}

// OCTET STRING value of a binding: a value longer than the record can hold refuses the binding.
int32_t read_octets(Bytes in, snmp_varbind &vb, uint16_t &used) {
    uint16_t declared = 0;
    uint16_t octets = 0;
    if (in.size() > kTagLen && in[0] == SNMP_TAG_OCTET_STRING &&
        snmp_ber_decode_length(in.data() + kTagLen, static_cast<uint16_t>(in.size() - kTagLen), &declared,
                               &octets) == SNMP_OK &&
        declared > SNMP_BER_VARBIND_OCTETS_CAPACITY) {
        return SNMP_ERR_MALFORMED;
    }
    return snmp_ber_decode_string(in.data(), static_cast<uint16_t>(in.size()), vb.value.octets,
                                  SNMP_BER_VARBIND_OCTETS_CAPACITY, &vb.value_len, &used);
}

// IpAddress: short length 4, kept as four octets.
int32_t read_ip_address(Bytes in, snmp_varbind &vb, uint16_t &used) {
    if (in.size() < kTagLen + 1u + kIpAddressLen || in[1] != kIpAddressLen) {
        return SNMP_ERR_MALFORMED;
    }
    std::copy_n(in.begin() + kTagLen + 1, kIpAddressLen, vb.value.octets);
    vb.value_len = kIpAddressLen;
    used = kTagLen + 1u + kIpAddressLen;
    return SNMP_OK;
}

int32_t read_empty_value(Bytes in, uint16_t &used) {
    if (in.size() < kNullValueLen || in[1] != 0) {
        return SNMP_ERR_MALFORMED;
    }
    used = kNullValueLen;
    return SNMP_OK;
}

int32_t read_value(Bytes in, snmp_varbind &vb, uint32_t version, uint16_t &used) {
    vb.type = in[0];
    vb.value_len = 0;
    const auto *p = in.data();
    auto n = static_cast<uint16_t>(in.size());
    snmp_value &v = vb.value;
    switch (vb.type) {
        case SNMP_TAG_INTEGER:
            return snmp_ber_decode_integer(p, n, &v.integer, &used);
        case SNMP_TAG_OCTET_STRING:
            return read_octets(in, vb, used);
        case SNMP_TAG_OID:
            return snmp_ber_decode_oid(p, n, &v.oid_value, &used);
        case SNMP_TAG_TIMETICKS: {
            uint32_t ticks = 0;
            int32_t ret = snmp_ber_decode_timeticks(p, n, &ticks, &used);
            v.integer = static_cast<int32_t>(ticks);
            return ret;
        }
        case SNMP_TAG_COUNTER32:
        case SNMP_TAG_GAUGE32: {
            uint32_t value = 0;
            int32_t ret = vb.type == SNMP_TAG_COUNTER32 ? read_counter32(in, value, used)
                                                        : read_gauge32(in, value, used);
            v.integer = static_cast<int32_t>(value);
            return ret;
        }
        case SNMP_TAG_IPADDRESS:
            return read_ip_address(in, vb, used);
        case SNMP_TAG_COUNTER64:
            if (version == SNMP_VERSION_1) {
                return SNMP_ERR_VERSION;
            }
            return snmp_ber_decode_counter64(p, n, &v.counter64, &used);
        case SNMP_TAG_NULL:
        case SNMP_TAG_NO_SUCH_OBJECT:
        case SNMP_TAG_NO_SUCH_INSTANCE:
        case SNMP_TAG_END_OF_MIB_VIEW:
            return read_empty_value(in, used);
        default:
            return SNMP_ERR_INVALID;
    }
}

// Sets the fields a v1/v2c message does not carry, so that nothing stale is left behind.
void clear_v3_fields(snmp_message &msg) {
    msg.usm.auth_proto = 0;
    msg.usm.priv_proto = 0;
    msg.usm.auth_param_offset = 0;
    msg.usm.auth_param_len = 0;
    msg.usm.priv_param_offset = 0;
    msg.usm.priv_param_len = 0;
    msg.usm.engine_boots = 0;
    msg.usm.engine_time = 0;
    msg.usm.full_iv_len = 0;
    msg.usm.engine_id_len = 0;
    msg.scoped_pdu_type_offset = 0;
    msg.scoped_pdu_len_offset = 0;
    msg.scoped_pdu_value_offset = 0;
    msg.scoped_pdu_value_len = 0;
    msg.pdu.context_engine_id_len = 0;
    msg.pdu.context_name_len = 0;
    msg.encrypted_pdu_len = 0;
    msg.msg_flags = 0;
    msg.msg_id = 0;
    msg.auth_param_abs_offset = 0;
}

int32_t encode_v1_v2c_message(uint8_t *buf, uint16_t size, const snmp_message &msg, uint16_t &out_len) {
    auto version = static_cast<int32_t>(msg.version);
    if (msg.usm.user_len > SNMP_MAX_COMMUNITY_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：v1/v2c 共同体名编码失败，错误码:%d",
                  SNMP_ERR_INVALID);
        return SNMP_ERR_INVALID;
    }
    PduLayout layout;  // filled by prepare_pdu; left uninitialised on purpose (it is large)
    int32_t ret = prepare_pdu(msg.pdu, msg.version, layout);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：v1/v2c PDU编码失败，错误码:%d",
                  static_cast<int>(ret));
        return ret;
    }
    uint32_t content_len =
        snmp_ber_integer_len(version) + snmp_ber_element_len(msg.usm.user_len) + layout.total;
    uint32_t total = snmp_ber_element_len(content_len);
    // A message is never longer than SNMP_MAX_MSG_SIZE, whatever room the caller offers.
    uint16_t usable = size < SNMP_MAX_MSG_SIZE ? size : static_cast<uint16_t>(SNMP_MAX_MSG_SIZE);
    if (total > usable) {
        AGENT_LOG(AGENT_LOG_ERROR,
                  "snmp_ber_encode_snmp_message：v1/v2c 缓冲区不足（需:%d字节，实际:%d字节）",
                  static_cast<int>(total), static_cast<int>(usable));
        return SNMP_ERR_NO_ROOM;
    }
    Writer w(buf, static_cast<uint16_t>(total));
    if ((ret = w.sequence(static_cast<uint16_t>(content_len))) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：v1/v2c 顶级SEQUENCE编码失败，错误码:%d",
                  static_cast<int>(ret));
        return ret;
    }
    if ((ret = w.integer(version)) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：v1/v2c 版本编码失败，错误码:%d",
                  static_cast<int>(ret));
        return ret;
    }
    ret = w.put([&](uint8_t *p, uint16_t n, uint16_t &written) {
        return snmp_ber_encode_string(p, n, msg.usm.username, msg.usm.user_len, &written);
    });
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：v1/v2c 共同体名编码失败，错误码:%d",
                  static_cast<int>(ret));
        return ret;
    }
    if ((ret = write_pdu(w, msg.pdu, msg.version, layout)) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：v1/v2c PDU编码失败，错误码:%d",
                  static_cast<int>(ret));
        return ret;
    }
    AGENT_LOG(AGENT_LOG_INFO, "snmp_ber_encode_snmp_pdu: PDU编码完成（op=%d），总长度=%d字节",
              static_cast<int>(msg.pdu.op), static_cast<int>(layout.total));
    out_len = w.pos();
    AGENT_LOG(AGENT_LOG_INFO, "snmp_ber_encode_snmp_message：v1/v2c 消息编码完成（总长度:%d字节）",
              static_cast<int>(out_len));
    return SNMP_OK;
}

int32_t decode_v1_v2c_rest(Bytes message, uint16_t pos, snmp_message &msg, uint16_t &consumed) {
    // Decoded with one byte more than a community may hold, so that a longer one is recognised.
    uint16_t used = 0;
    uint16_t copied = 0;
    int32_t ret = snmp_ber_decode_string(message.data() + pos, static_cast<uint16_t>(message.size() - pos),
                                         msg.usm.username, SNMP_USERNAME_SIZE, &copied, &used);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (copied > SNMP_MAX_COMMUNITY_LEN) {
        AGENT_LOG(AGENT_LOG_DEBUG, "SNMPv1/v2c解码：共同体名超长（%d字节，上限%d字节），拒绝该消息",
                  static_cast<int>(used), static_cast<int>(SNMP_MAX_COMMUNITY_LEN));
        msg.usm.user_len = 0;
        return SNMP_ERR_MALFORMED;
    }
    msg.usm.user_len = static_cast<uint8_t>(copied);
    pos = static_cast<uint16_t>(pos + used);
    // The community may be a configured one: only its length is logged.
    AGENT_LOG(AGENT_LOG_DEBUG, "SNMPv1/v2c解码：共同体名解码完成，长度=%d字节，值=%s，累计偏移=%d",
              static_cast<int>(copied), vek::kLogMask, static_cast<int>(pos));
    uint16_t pdu_used = 0;
    ret = snmp_ber_decode_snmp_pdu(message.data() + pos, static_cast<uint16_t>(message.size() - pos),
                                   msg.version, &msg.pdu, &pdu_used);
    if (ret != SNMP_OK) {
        return ret;
    }
    consumed = static_cast<uint16_t>(pos + pdu_used);
    AGENT_LOG(AGENT_LOG_INFO, "SNMPv1/v2c消息解码完成，总使用长度=%d字节", static_cast<int>(consumed));
    return SNMP_OK;
}

// request-id and the two INTEGERs that follow it, from `pos` on; advances `pos`.
int32_t read_pdu_head(Bytes body, uint16_t &pos, snmp_pdu &pdu) {
    std::array<int32_t, 3> values{};
    for (int32_t &value : values) {
        uint16_t used = 0;
        int32_t ret = snmp_ber_decode_integer(body.data() + pos, static_cast<uint16_t>(body.size() - pos),
                                              &value, &used);
        if (ret != SNMP_OK) {
            return ret;
        }
        pos = static_cast<uint16_t>(pos + used);
    }
    pdu.request_id = values[0];
    auto first = static_cast<uint32_t>(values[1]);
    auto second = static_cast<uint32_t>(values[2]);
    if (pdu.op == SNMP_OP_GETBULK) {
        pdu.non_repeaters = first;
        pdu.max_repetitions = second;
        pdu.error_status = 0;
        pdu.error_index = 0;
        AGENT_LOG(AGENT_LOG_DEBUG, "GetBulk: non_repeaters=%u, max_repetitions=%u", first, second);
    } else {
        pdu.error_status = first;
        pdu.error_index = second;
        pdu.non_repeaters = 0;
        pdu.max_repetitions = 0;
    }
    return SNMP_OK;
}

// Decodes bindings from the list content until it is used up, 16 are held or one fails to decode;
// returns the bytes of the decoded bindings.
uint16_t read_varbind_list(Bytes list, uint32_t version, snmp_pdu &pdu) {
    uint16_t used = 0;
    pdu.varbind_count = 0;
    while (pdu.varbind_count < SNMP_MAX_VARBINDS && used < list.size()) {
        uint16_t vb_used = 0;
        if (snmp_ber_decode_varbind(list.data() + used, static_cast<uint16_t>(list.size() - used),
                                    &pdu.varbinds[pdu.varbind_count], version, &vb_used) != SNMP_OK) {
            break;
        }
        used = static_cast<uint16_t>(used + vb_used);
        ++pdu.varbind_count;
        AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_snmp_pdu: 变量绑定%d解码完成，使用了%d字节，累计=%d字节",
                  static_cast<int>(pdu.varbind_count), static_cast<int>(vb_used), static_cast<int>(used));
    }
    return used;
}

// The outer SEQUENCE header and the version INTEGER that begin every message.
struct MessageStart {
    uint16_t content_len = 0;
    uint16_t header_len = 0;
    int32_t version = 0;
    uint16_t version_len = 0;
};

int32_t read_message_start(const uint8_t *buf, uint16_t available, MessageStart &start) {
    int32_t ret = snmp_ber_decode_sequence_header(buf, available, &start.content_len, &start.header_len);
    if (ret != SNMP_OK) {
        return ret;
    }
    return snmp_ber_decode_integer(buf + start.header_len, static_cast<uint16_t>(available - start.header_len),
                                   &start.version, &start.version_len);
}

}  // namespace

extern "C" {

int32_t snmp_ber_encode_varbind(uint8_t *buf, uint16_t size, const snmp_varbind *vb, uint32_t version,
                                uint16_t *written) {
    if (buf == nullptr || vb == nullptr || written == nullptr) {
        return SNMP_ERR_INVALID;
    }
    VarbindLayout layout{};
    int32_t ret = varbind_layout(*vb, version, layout);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (size < layout.total) {
        return SNMP_ERR_NO_ROOM;
    }
    Writer w(buf, layout.total);
    ret = write_varbind(w, *vb, version, layout);
    if (ret != SNMP_OK) {
        return ret;
    }
    *written = w.pos();
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_varbind: 类型=0x%02X, 编码后%d字节",
              static_cast<unsigned>(vb->type), static_cast<int>(*written));
    return SNMP_OK;
}

int32_t snmp_ber_decode_varbind(const uint8_t *buf, uint16_t available, snmp_varbind *vb, uint32_t version,
                                uint16_t *consumed) {
    if (buf == nullptr || vb == nullptr || consumed == nullptr) {
        return SNMP_ERR_INVALID;
    }
    uint16_t content_len = 0;
    uint16_t header_len = 0;
    int32_t ret = snmp_ber_decode_sequence_header(buf, available, &content_len, &header_len);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (static_cast<uint32_t>(header_len) + content_len > available) {
        return SNMP_ERR_MALFORMED;
    }
    // Name and value are read inside the binding's own SEQUENCE, never from the next binding.
    Bytes binding(buf, header_len + content_len);
    uint16_t name_len = 0;
    ret = snmp_ber_decode_oid(binding.data() + header_len, content_len, &vb->oid, &name_len);
    if (ret != SNMP_OK) {
        return ret;
    }
    uint16_t pos = static_cast<uint16_t>(header_len + name_len);
    if (pos >= binding.size()) {
        return SNMP_ERR_MALFORMED;
    }
    uint16_t value_used = 0;
    ret = read_value(binding.subspan(pos), *vb, version, value_used);
    if (ret != SNMP_OK) {
        return ret;
    }
    *consumed = static_cast<uint16_t>(pos + value_used);
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_varbind: 类型=0x%02X, 使用了%d字节",
              static_cast<unsigned>(vb->type), static_cast<int>(*consumed));
    return SNMP_OK;
}

int32_t snmp_ber_peek_version(const uint8_t *buf, uint16_t available, uint8_t *version, uint16_t *consumed) {
    if (buf == nullptr || version == nullptr || consumed == nullptr) {
        return SNMP_ERR_INVALID;
    }
    MessageStart start;
    int32_t ret = read_message_start(buf, available, start);
    if (ret != SNMP_OK) {
        return ret;
    }
    *version = static_cast<uint8_t>(static_cast<uint32_t>(start.version) & kOneOctetMax);
    *consumed = static_cast<uint16_t>(start.header_len + start.version_len);
    return SNMP_OK;
}

int32_t snmp_ber_encode_snmp_pdu(uint8_t *buf, uint16_t size, const snmp_pdu *pdu, uint32_t version,
                                 uint16_t *written) {
    if (buf == nullptr || pdu == nullptr || written == nullptr) {
        return SNMP_ERR_INVALID;
    }
    PduLayout layout;  // filled by prepare_pdu; left uninitialised on purpose (it is large)
    int32_t ret = prepare_pdu(*pdu, version, layout);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (size == 0 || size < layout.total) {
        return SNMP_ERR_NO_ROOM;
    }
    Writer w(buf, layout.total);
    ret = write_pdu(w, *pdu, version, layout);
    if (ret != SNMP_OK) {
        return ret;
    }
    *written = w.pos();
    AGENT_LOG(AGENT_LOG_INFO, "snmp_ber_encode_snmp_pdu: PDU编码完成（op=%d），总长度=%d字节",
              static_cast<int>(pdu->op), static_cast<int>(*written));
    return SNMP_OK;
}

int32_t snmp_ber_decode_snmp_pdu(const uint8_t *buf, uint16_t available, uint32_t version, snmp_pdu *pdu,
                                 uint16_t *consumed) {
    if (buf == nullptr || pdu == nullptr || consumed == nullptr) {
        return SNMP_ERR_INVALID;
    }
    if (available == 0) {
        return SNMP_ERR_MALFORMED;
    }
    uint8_t tag = buf[0];
    if (!pdu_tag_allowed(version, tag)) {
        return SNMP_ERR_VERSION;
    }
    pdu->op = op_from_tag(tag);
    if (pdu->op == SNMP_OP_UNKNOWN) {
        return SNMP_ERR_INVALID;
    }
    if (available < kTagLen + 1u) {
        return SNMP_ERR_MALFORMED;
    }
    uint16_t body_len = 0;
    uint16_t octets = 0;
    int32_t ret =
        snmp_ber_decode_length(buf + kTagLen, static_cast<uint16_t>(available - kTagLen), &body_len, &octets);
    if (ret != SNMP_OK) {
        return ret;
    }
    uint32_t end = kTagLen + octets + static_cast<uint32_t>(body_len);
    if (end > available) {
        return SNMP_ERR_MALFORMED;
    }
    Bytes element(buf, end);
    auto pos = static_cast<uint16_t>(kTagLen + octets);
    ret = read_pdu_head(element, pos, *pdu);
    if (ret != SNMP_OK) {
        return ret;
    }
    uint16_t list_len = 0;
    uint16_t list_header = 0;
    ret = snmp_ber_decode_sequence_header(element.data() + pos, static_cast<uint16_t>(element.size() - pos),
                                          &list_len, &list_header);
    if (ret != SNMP_OK) {
        return ret;
    }
    pos = static_cast<uint16_t>(pos + list_header);
    if (static_cast<uint32_t>(pos) + list_len > element.size()) {
        pdu->varbind_count = 0;
        return SNMP_ERR_MALFORMED;
    }
    uint16_t list_used = read_varbind_list(element.subspan(pos, list_len), version, *pdu);
    *consumed = static_cast<uint16_t>(pos + list_used);
    return SNMP_OK;
}

int32_t snmp_ber_encode_snmp_message(uint8_t *buf, uint16_t size, const snmp_v3_user *user, snmp_message *msg,
                                     uint16_t *out_len) {
    if (buf == nullptr || msg == nullptr || out_len == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：无效参数（buf=%p, msg=%p, out_len=%p）",
                  static_cast<void *>(buf), static_cast<void *>(msg), static_cast<void *>(out_len));
        return SNMP_ERR_INVALID;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_snmp_message：开始编码SNMP消息，版本=%d，缓冲区大小=%d字节",
              static_cast<int>(msg->version), static_cast<int>(size));
    if (msg->version == SNMP_VERSION_3) {
        if (user == nullptr) {
            AGENT_LOG(AGENT_LOG_ERROR, "snmp_ber_encode_snmp_message：v3_user=%p.",
                      static_cast<const void *>(user));
            return SNMP_ERR_INVALID;
        }
        return snmp_ber_encode_v3_message(buf, size, user, msg, out_len);
    }
    return encode_v1_v2c_message(buf, size, *msg, *out_len);
}

int32_t snmp_ber_decode_snmp_message(const uint8_t *buf, uint16_t available, snmp_message *msg,
                                     uint16_t *consumed) {
    if (buf == nullptr || msg == nullptr || consumed == nullptr) {
        return SNMP_ERR_INVALID;
    }
    // The outer header and the version as snmp_ber_peek_version reads them, then the message is
    // checked to be complete.
    MessageStart start;
    int32_t ret = read_message_start(buf, available, start);
    if (ret != SNMP_OK) {
        return ret;
    }
    const uint16_t header_len = start.header_len;
    const uint16_t used = start.version_len;
    uint32_t end = static_cast<uint32_t>(header_len) + start.content_len;
    if (end > available || used > start.content_len) {
        return SNMP_ERR_MALFORMED;
    }
    Bytes message(buf, end);
    msg->version = static_cast<uint32_t>(start.version);
    if (msg->version != SNMP_VERSION_1 && msg->version != SNMP_VERSION_2C && msg->version != SNMP_VERSION_3) {
        return SNMP_ERR_VERSION;
    }
    auto pos = static_cast<uint16_t>(header_len + used);
    if (msg->version == SNMP_VERSION_3) {
        return snmp_ber_decode_v3_message(buf, static_cast<uint16_t>(end), pos, msg, consumed);
    }
    clear_v3_fields(*msg);
    return decode_v1_v2c_rest(message, pos, *msg, *consumed);
}

}  // extern "C"
