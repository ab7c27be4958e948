// BER primitives: one element at a time (length octets, base-128 sub-identifiers, INTEGER, Counter64,
// TimeTicks, OBJECT IDENTIFIER, OCTET STRING and SEQUENCE headers), on caller buffers with 16-bit sizes.
// Every element is written straight into the caller's buffer after its exact size has been checked, so
// no scratch area is needed; every successful call writes one DEBUG trace line.
#include "codec/snmp_ber.h"

#include <array>
#include <bit>
#include <cinttypes>
#include <cstring>
#include <span>

#include "base/agent_log.h"
#include "codec/ber_octets.h"

namespace {

using Bytes = std::span<const uint8_t>;
using OutBytes = std::span<uint8_t>;
using vek::codec::get_big_endian;
using vek::codec::kBerByteBits;
using vek::codec::put_big_endian;

constexpr uint16_t kTagLen = 1;
constexpr uint16_t kShortLengthMax = 0x7F;     // largest length in the one-octet form
constexpr uint16_t kOneOctetLengthMax = 0xFF;  // largest length after 0x81
constexpr uint8_t kLongLengthFlag = 0x80;      // first length octet: count of following octets
constexpr uint8_t kLongLengthCountMask = 0x7F;
constexpr uint16_t kLongLengthMaxOctets = 2;  // 0x81 xx or 0x82 xx xx
constexpr uint32_t kMaxElementLen = UINT16_MAX;

constexpr uint8_t kBase128Mask = 0x7F;
constexpr uint8_t kBase128More = 0x80;
constexpr unsigned kBase128Bits = 7;
constexpr uint32_t kBase128Headroom = UINT32_MAX >> kBase128Bits;  // largest value that takes 7 more bits
constexpr uint8_t kByteMask = 0xFF;
constexpr uint8_t kSignBit = 0x80;

constexpr uint16_t kMaxIntegerOctets = 4;
constexpr uint16_t kMaxCounter64Octets = 8;
constexpr uint16_t kMinOidArcs = 2;
constexpr uint32_t kOidArcsPerRoot = 40;  // first sub-identifier = 40 * arc1 + arc2
constexpr uint32_t kOidRootMax = 2;       // arc1 is 0, 1 or 2 when split on decode

constexpr int32_t kInt8Min = INT8_MIN;
constexpr int32_t kInt8Max = INT8_MAX;
constexpr int32_t kInt16Min = INT16_MIN;
constexpr int32_t kInt16Max = INT16_MAX;
constexpr int32_t kInt24Min = -(1 << 23);
constexpr int32_t kInt24Max = (1 << 23) - 1;

// Writes the length octets for `length` (already known to fit) and returns their count.
uint16_t put_length(OutBytes out, uint16_t length) {
    if (length <= kShortLengthMax) {
        out[0] = static_cast<uint8_t>(length);
        return 1;
    }
    if (length <= kOneOctetLengthMax) {
        out[0] = kLongLengthFlag | 1u;
        out[1] = static_cast<uint8_t>(length);
        return 2;
    }
    out[0] = kLongLengthFlag | kLongLengthMaxOctets;
    out[1] = static_cast<uint8_t>(length >> kBerByteBits);
    out[2] = static_cast<uint8_t>(length & kByteMask);
    return SNMP_BER_MAX_LENGTH_OCTETS;
}

// Unsigned content of at most `max_octets` octets; one more is accepted when it is a leading zero
// octet, the form other encoders use for values whose top bit is set.
bool unsigned_content_ok(Bytes content, uint16_t max_octets) {
    if (content.size() <= max_octets) {
        return true;
    }
    return content.size() == max_octets + 1u && content[0] == 0;
}

uint16_t integer_content_len(int32_t value) {
    if (value >= kInt8Min && value <= kInt8Max) {
        return 1;
    }
    if (value >= kInt16Min && value <= kInt16Max) {
        return 2;
    }
    if (value >= kInt24Min && value <= kInt24Max) {
        return 3;
    }
    return kMaxIntegerOctets;
}

// TimeTicks: minimal unsigned form with a leading zero octet where the top bit would read as a sign,
// except at four octets, where the value is written as it is.
uint16_t timeticks_content_len(uint32_t value) {
    return value <= static_cast<uint32_t>(kInt8Max)    ? 1
           : value <= static_cast<uint32_t>(kInt16Max) ? 2
           : value <= static_cast<uint32_t>(kInt24Max) ? 3
                                                       : kMaxIntegerOctets;
}

constexpr unsigned kValueBits = 32;

// Octets of a base-128 number by the count of significant bits of the value (0 to 32).
constexpr std::array<uint8_t, kValueBits + 1> kBase128Octets = [] {
    std::array<uint8_t, kValueBits + 1> table{};
    for (unsigned bits = 0; bits <= kValueBits; ++bits) {
        table[bits] = static_cast<uint8_t>(bits == 0 ? 1 : (bits + kBase128Bits - 1) / kBase128Bits);
    }
    return table;
}();

uint16_t base128_len(uint32_t value) {
    return kBase128Octets[std::bit_width(value)];
}

// Writes `octets` (= base128_len(value)) octets, the last group first from the end.
void put_base128(uint8_t *out, uint32_t value, uint16_t octets) {
    uint8_t more = 0;
    for (uint16_t i = octets; i-- > 0;) {
        out[i] = static_cast<uint8_t>((value & kBase128Mask) | more);
        value >>= kBase128Bits;
        more = kBase128More;
    }
}

void trace_base128(uint32_t value, uint16_t octets) {
    if (value == 0) {
        AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_base128: 值=0, 编码后1字节");
    } else {
        AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_base128: 值=%u, 编码后%d字节", value,
                  static_cast<int>(octets));
    }
}

// Writes one sub-identifier and returns its octet count.
uint16_t put_subid(uint8_t *out, uint32_t value) {
    uint16_t octets = base128_len(value);
    put_base128(out, value, octets);
    trace_base128(value, octets);
    return octets;
}

uint32_t oid_first_subid(const snmp_oid &oid) {
    return oid.sub_ids[0] * kOidArcsPerRoot + oid.sub_ids[1];
}

// Content bytes of an OID that has 2..32 arcs.
uint16_t oid_content_len(const snmp_oid &oid) {
    uint16_t len = base128_len(oid_first_subid(oid));
    for (uint8_t i = kMinOidArcs; i < oid.len; ++i) {
        len = static_cast<uint16_t>(len + base128_len(oid.sub_ids[i]));
    }
    return len;
}

// The first two arcs share one sub-identifier: arc1 is 0, 1 or 2, arc2 below 40 under roots 0 and 1,
// and under root 2 small enough that 40 * arc1 + arc2 still fits in 32 bits.
bool oid_first_arcs_ok(const snmp_oid &oid) {
    const uint32_t root = oid.sub_ids[0];
    if (root < kOidRootMax) {
        return oid.sub_ids[1] < kOidArcsPerRoot;
    }
    return root == kOidRootMax && oid.sub_ids[1] <= UINT32_MAX - kOidRootMax * kOidArcsPerRoot;
}

bool oid_arc_count_ok(const snmp_oid *oid) {
    return oid != nullptr && oid->len >= kMinOidArcs && oid->len <= SNMP_MAX_OID_LEN && oid_first_arcs_ok(*oid);
}

// A decoded element: its content and the bytes of tag plus length octets.
struct Element {
    Bytes content;
    uint16_t header_len;
    uint16_t total() const { return static_cast<uint16_t>(header_len + content.size()); }
};

// Reads the length octets behind the tag at in[0] and checks that the content is present.
int32_t read_element(Bytes in, Element &element) {
    uint16_t length = 0;
    uint16_t octets = 0;
    int32_t ret = snmp_ber_decode_length(in.data() + kTagLen, static_cast<uint16_t>(in.size() - kTagLen),
                                         &length, &octets);
    if (ret != SNMP_OK) {
        return ret;
    }
    uint32_t header_len = kTagLen + octets;
    if (header_len + length > in.size()) {
        return SNMP_ERR_MALFORMED;
    }
    element.header_len = static_cast<uint16_t>(header_len);
    element.content = in.subspan(header_len, length);
    return SNMP_OK;
}

// Reads one base-128 sub-identifier at `pos` of the content: at most 5 octets, not cut off, in the
// shortest form (no leading 0x80 octet) and within 32 bits.
int32_t read_subid(Bytes content, size_t &pos, uint32_t &value) {
    value = 0;
    for (uint16_t octets = 0;; ++octets) {
        if (octets == SNMP_BER_MAX_BASE128_LEN || pos >= content.size()) {
            return SNMP_ERR_OID;
        }
        uint8_t octet = content[pos++];
        if ((octets == 0 && octet == kBase128More) || value > kBase128Headroom) {
            return SNMP_ERR_OID;
        }
        value = (value << kBase128Bits) + (octet & kBase128Mask);
        if ((octet & kBase128More) == 0) {
            return SNMP_OK;
        }
    }
}

void split_first_subid(uint32_t value, snmp_oid &oid) {
    uint32_t root = value / kOidArcsPerRoot;
    if (root > kOidRootMax) {
        root = kOidRootMax;
    }
    oid.sub_ids[0] = root;
    oid.sub_ids[1] = value - root * kOidArcsPerRoot;
}

}  // namespace

extern "C" {

// ---- Sizes ----

uint16_t snmp_ber_length_octets(uint16_t length) {
    return length <= kShortLengthMax ? 1 : length <= kOneOctetLengthMax ? 2 : SNMP_BER_MAX_LENGTH_OCTETS;
}

uint16_t snmp_ber_element_len(uint32_t content_len) {
    if (content_len > kMaxElementLen) {
        return 0;
    }
    uint32_t total = kTagLen + snmp_ber_length_octets(static_cast<uint16_t>(content_len)) + content_len;
    return total > kMaxElementLen ? 0 : static_cast<uint16_t>(total);
}

uint16_t snmp_ber_integer_len(int32_t value) {
    return static_cast<uint16_t>(kTagLen + 1u + integer_content_len(value));
}

uint16_t snmp_ber_timeticks_len(uint32_t value) {
    return static_cast<uint16_t>(kTagLen + 1u + timeticks_content_len(value));
}

int32_t snmp_ber_oid_len(const snmp_oid *oid, uint16_t *len) {
    if (!oid_arc_count_ok(oid) || len == nullptr) {
        return SNMP_ERR_OID;
    }
    *len = snmp_ber_element_len(oid_content_len(*oid));
    return SNMP_OK;
}

// ---- Length octets ----

int32_t snmp_ber_encode_length(uint8_t *buf, uint16_t size, uint16_t length, uint16_t *out_octets) {
    if (buf == nullptr || out_octets == nullptr) {
        return SNMP_ERR_INVALID;
    }
    if (size < snmp_ber_length_octets(length)) {
        return SNMP_ERR_NO_ROOM;
    }
    *out_octets = put_length(OutBytes(buf, size), length);
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_length: 长度=%d, 编码后长度=%d字节", static_cast<int>(length),
              static_cast<int>(*out_octets));
    return SNMP_OK;
}

int32_t snmp_ber_decode_length(const uint8_t *buf, uint16_t available, uint16_t *length,
                               uint16_t *out_octets) {
    if (buf == nullptr || length == nullptr || out_octets == nullptr) {
        return SNMP_ERR_INVALID;
    }
    if (available == 0) {
        return SNMP_ERR_MALFORMED;
    }
    Bytes in(buf, available);
    if ((in[0] & kLongLengthFlag) == 0) {
        *length = in[0];
        *out_octets = 1;
    } else {
        uint16_t count = in[0] & kLongLengthCountMask;
        if (count == 0 || count > kLongLengthMaxOctets || count >= available) {
            return SNMP_ERR_MALFORMED;
        }
        *length = static_cast<uint16_t>(get_big_endian(in.subspan(1, count)));
        *out_octets = static_cast<uint16_t>(count + 1u);
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_length: 解析得到长度=%d, 使用了%d字节",
              static_cast<int>(*length), static_cast<int>(*out_octets));
    return SNMP_OK;
}

// ---- Base-128 ----

uint16_t snmp_ber_encode_base128(uint32_t value, uint8_t *buf, uint16_t size) {
    uint16_t octets = base128_len(value);
    if (buf == nullptr || size == 0 || size < octets) {
        return 0;
    }
    put_base128(buf, value, octets);
    trace_base128(value, octets);
    return octets;
}

// ---- INTEGER ----

int32_t snmp_ber_encode_integer(uint8_t *buf, uint16_t size, int32_t value, uint16_t *written) {
    if (buf == nullptr || written == nullptr) {
        return SNMP_ERR_INVALID;
    }
    uint16_t content_len = integer_content_len(value);
    uint16_t total = static_cast<uint16_t>(kTagLen + 1u + content_len);
    if (size == 0 || size < total) {
        return SNMP_ERR_NO_ROOM;
    }
    OutBytes out(buf, total);
    out[0] = SNMP_TAG_INTEGER;
    out[1] = static_cast<uint8_t>(content_len);
    put_big_endian(out.subspan(2), static_cast<uint32_t>(value), content_len);
    *written = total;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_integer: 值=%d, 编码后%d字节", static_cast<int>(value),
              static_cast<int>(total));
    return SNMP_OK;
}

int32_t snmp_ber_decode_integer(const uint8_t *buf, uint16_t available, int32_t *value, uint16_t *consumed) {
    if (buf == nullptr || value == nullptr || consumed == nullptr) {
        return SNMP_ERR_NULL;
    }
    if (available < kTagLen + 1u) {
        return SNMP_ERR_MALFORMED;
    }
    Bytes in(buf, available);
    if (in[0] != SNMP_TAG_INTEGER) {
        return SNMP_ERR_INVALID;
    }
    uint16_t content_len = in[1];  // short form only
    if (content_len == 0 || content_len > kMaxIntegerOctets || kTagLen + 1u + content_len > available) {
        return SNMP_ERR_MALFORMED;
    }
    Bytes content = in.subspan(kTagLen + 1u, content_len);
    uint32_t raw = (content[0] & kSignBit) != 0 ? UINT32_MAX : 0;  // sign extension
    for (uint8_t octet : content) {
        raw = (raw << kBerByteBits) | octet;
    }
    *value = static_cast<int32_t>(raw);
    *consumed = static_cast<uint16_t>(content_len + kTagLen + 1u);
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_integer: 解析得到值=%d, 使用了%d字节",
              static_cast<int>(*value), static_cast<int>(*consumed));
    return SNMP_OK;
}

// ---- Counter64 ----

int32_t snmp_ber_encode_counter64(uint8_t *buf, uint16_t size, uint64_t value, uint16_t *written) {
    if (buf == nullptr || written == nullptr) {
        return SNMP_ERR_INVALID;
    }
    if (size < SNMP_BER_COUNTER64_LEN) {
        return SNMP_ERR_NO_ROOM;
    }
    OutBytes out(buf, SNMP_BER_COUNTER64_LEN);
    out[0] = SNMP_TAG_COUNTER64;
    out[1] = kMaxCounter64Octets;
    put_big_endian(out.subspan(2), value, kMaxCounter64Octets);
    *written = SNMP_BER_COUNTER64_LEN;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_counter64: 值=%" PRIu64 ", 编码后%d字节", value,
              static_cast<int>(*written));
    return SNMP_OK;
}

int32_t snmp_ber_decode_counter64(const uint8_t *buf, uint16_t available, uint64_t *value,
                                  uint16_t *consumed) {
    if (buf == nullptr || value == nullptr || consumed == nullptr || available < kTagLen + 1u ||
        buf[0] != SNMP_TAG_COUNTER64) {
        return SNMP_ERR_INVALID;
    }
    Element element{};
    int32_t ret = read_element(Bytes(buf, available), element);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (element.content.empty() || !unsigned_content_ok(element.content, kMaxCounter64Octets)) {
        return SNMP_ERR_MALFORMED;
    }
    *value = get_big_endian(element.content);
    *consumed = element.total();
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_counter64: 解析得到值=%" PRIu64 ", 使用了%d字节", *value,
              static_cast<int>(*consumed));
    return SNMP_OK;
}

// ---- TimeTicks ----

int32_t snmp_ber_encode_timeticks(uint8_t *buf, uint16_t size, uint32_t value, uint16_t *written) {
    if (buf == nullptr || written == nullptr) {
        return SNMP_ERR_INVALID;
    }
    uint16_t content_len = timeticks_content_len(value);
    uint16_t total = static_cast<uint16_t>(kTagLen + 1u + content_len);
    if (size < total) {
        return SNMP_ERR_NO_ROOM;
    }
    OutBytes out(buf, total);
    out[0] = SNMP_TAG_TIMETICKS;
    out[1] = static_cast<uint8_t>(content_len);
    put_big_endian(out.subspan(2), value, content_len);
    *written = total;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_timeticks: 值=%u, 编码后%d字节", value,
              static_cast<int>(total));
    return SNMP_OK;
}

int32_t snmp_ber_decode_timeticks(const uint8_t *buf, uint16_t available, uint32_t *value,
                                  uint16_t *consumed) {
    if (buf == nullptr || value == nullptr || consumed == nullptr) {
        return SNMP_ERR_NULL;
    }
    if (available < kTagLen + 1u) {
        return SNMP_ERR_MALFORMED;
    }
    if (buf[0] != SNMP_TAG_TIMETICKS) {
        return SNMP_ERR_INVALID;
    }
    Element element{};
    int32_t ret = read_element(Bytes(buf, available), element);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (!unsigned_content_ok(element.content, kMaxIntegerOctets)) {
        return SNMP_ERR_MALFORMED;
    }
    *value = static_cast<uint32_t>(get_big_endian(element.content));
    *consumed = element.total();
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_timeticks: 解析得到值=%u, 使用了%d字节", *value,
              static_cast<int>(*consumed));
    return SNMP_OK;
}

// ---- OBJECT IDENTIFIER ----

int32_t snmp_ber_encode_oid(uint8_t *buf, uint16_t size, const snmp_oid *oid, uint16_t *written) {
    if (!oid_arc_count_ok(oid)) {
        return SNMP_ERR_OID;
    }
    if (buf == nullptr || written == nullptr) {
        return SNMP_ERR_INVALID;
    }
    uint16_t content_len = oid_content_len(*oid);
    uint16_t total = snmp_ber_element_len(content_len);
    if (size == 0 || size < total) {
        return SNMP_ERR_NO_ROOM;
    }
    OutBytes out(buf, total);
    out[0] = SNMP_TAG_OID;
    size_t pos = kTagLen + put_length(out.subspan(kTagLen), content_len);
    // The total was worked out from these same sub-identifiers, so they fit.
    pos += put_subid(out.data() + pos, oid_first_subid(*oid));
    for (uint8_t i = kMinOidArcs; i < oid->len; ++i) {
        pos += put_subid(out.data() + pos, oid->sub_ids[i]);
    }
    *written = total;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_oid: OID长度=%d, 编码后%d字节", static_cast<int>(oid->len),
              static_cast<int>(total));
    return SNMP_OK;
}

int32_t snmp_ber_decode_oid(const uint8_t *buf, uint16_t available, snmp_oid *oid, uint16_t *consumed) {
    if (buf == nullptr || oid == nullptr || consumed == nullptr) {
        return SNMP_ERR_INVALID;
    }
    if (available < kTagLen + 1u) {
        return SNMP_ERR_MALFORMED;
    }
    if (buf[0] != SNMP_TAG_OID) {
        return SNMP_ERR_INVALID;
    }
    Element element{};
    int32_t ret = read_element(Bytes(buf, available), element);
    if (ret != SNMP_OK) {
        return ret;
    }
    if (element.content.empty()) {
        return SNMP_ERR_OID;
    }
    size_t pos = 0;
    uint32_t value = 0;
    ret = read_subid(element.content, pos, value);
    if (ret != SNMP_OK) {
        return ret;
    }
    split_first_subid(value, *oid);
    uint8_t count = kMinOidArcs;
    while (pos < element.content.size()) {
        if (count == SNMP_MAX_OID_LEN) {
            return SNMP_ERR_OID;
        }
        ret = read_subid(element.content, pos, oid->sub_ids[count]);
        if (ret != SNMP_OK) {
            return ret;
        }
        ++count;
    }
    oid->len = count;
    *consumed = element.total();
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_oid: 解析得到OID长度=%d, 使用了%d字节",
              static_cast<int>(count), static_cast<int>(*consumed));
    return SNMP_OK;
}

// ---- OCTET STRING ----

int32_t snmp_ber_encode_string(uint8_t *buf, uint16_t size, const uint8_t *data, uint16_t data_len,
                               uint16_t *written) {
    if (size == 0) {
        return SNMP_ERR_NO_ROOM;
    }
    if (buf == nullptr || data == nullptr || written == nullptr) {
        return SNMP_ERR_INVALID;
    }
    uint16_t total = snmp_ber_element_len(data_len);
    if (total == 0 || size < total) {
        return SNMP_ERR_NO_ROOM;
    }
    OutBytes out(buf, total);
    out[0] = SNMP_TAG_OCTET_STRING;
    uint16_t header_len = static_cast<uint16_t>(kTagLen + put_length(out.subspan(kTagLen), data_len));
    if (data_len != 0) {
        std::memcpy(out.data() + header_len, data, data_len);
    }
    *written = total;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_string: 字符串长度=%d, 编码后%d字节",
              static_cast<int>(data_len), static_cast<int>(total));
    return SNMP_OK;
}

int32_t snmp_ber_decode_string(const uint8_t *buf, uint16_t available, uint8_t *out, uint16_t capacity,
                               uint16_t *copied, uint16_t *consumed) {
    if (buf == nullptr || out == nullptr || copied == nullptr || consumed == nullptr) {
        return SNMP_ERR_NULL;
    }
    if (available < kTagLen + 1u) {
        return SNMP_ERR_MALFORMED;
    }
    if (buf[0] != SNMP_TAG_OCTET_STRING) {
        return SNMP_ERR_INVALID;
    }
    Element element{};
    int32_t ret = read_element(Bytes(buf, available), element);
    if (ret != SNMP_OK) {
        return ret;
    }
    size_t count = element.content.size() < capacity ? element.content.size() : capacity;
    if (count != 0) {
        std::memcpy(out, element.content.data(), count);
    }
    *copied = static_cast<uint16_t>(count);
    *consumed = element.total();
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_string: 解析得到字符串长度=%d, 使用了%d字节",
              static_cast<int>(*copied), static_cast<int>(*consumed));
    return SNMP_OK;
}

// ---- SEQUENCE header ----

int32_t snmp_ber_encode_sequence_header(uint8_t *buf, uint16_t size, uint16_t content_len,
                                        uint16_t *header_len) {
    if (size == 0) {
        return SNMP_ERR_NO_ROOM;
    }
    if (buf == nullptr || header_len == nullptr) {
        return SNMP_ERR_INVALID;
    }
    uint16_t total = static_cast<uint16_t>(kTagLen + snmp_ber_length_octets(content_len));
    if (size < total) {
        return SNMP_ERR_NO_ROOM;
    }
    OutBytes out(buf, total);
    out[0] = SNMP_TAG_SEQUENCE;
    put_length(out.subspan(kTagLen), content_len);
    *header_len = total;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_encode_sequence_header: 内容长度=%d, 头部长度=%d字节",
              static_cast<int>(content_len), static_cast<int>(total));
    return SNMP_OK;
}

int32_t snmp_ber_decode_sequence_header(const uint8_t *buf, uint16_t available, uint16_t *content_len,
                                        uint16_t *header_len) {
    if (buf == nullptr || content_len == nullptr || header_len == nullptr || available == 0 ||
        buf[0] != SNMP_TAG_SEQUENCE) {
        return SNMP_ERR_INVALID;
    }
    uint16_t octets = 0;
    int32_t ret = snmp_ber_decode_length(buf + kTagLen, static_cast<uint16_t>(available - kTagLen),
                                         content_len, &octets);
    if (ret != SNMP_OK) {
        return ret;
    }
    *header_len = static_cast<uint16_t>(kTagLen + octets);
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_ber_decode_sequence_header: 解析得到内容长度=%d, 头部长度=%d字节",
              static_cast<int>(*content_len), static_cast<int>(*header_len));
    return SNMP_OK;
}

}  // extern "C"
