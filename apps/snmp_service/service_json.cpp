#include "apps/snmp_service/service_json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace service {

namespace {

constexpr size_t k_max_value_text = 255; /* characters of a string or OID value that are shown */
constexpr uint8_t k_first_non_control = 0x20;
constexpr uint8_t k_delete = 0x7F;
constexpr uint8_t k_ascii_end = 0x80;
constexpr std::string_view k_hex_digits = "0123456789abcdef";
constexpr unsigned k_nibble_bits = 4;
constexpr uint8_t k_nibble_mask = 0x0F;
constexpr size_t k_number_text_size = 24; /* enough for any 64-bit decimal with its sign */

// UTF-8 lead bytes and the ranges their first continuation byte must fall into (RFC 3629 table).
constexpr uint8_t k_continuation_low = 0x80;
constexpr uint8_t k_continuation_high = 0xBF;
constexpr uint8_t k_lead2_low = 0xC2; /* 0xC0 and 0xC1 only start overlong forms */
constexpr uint8_t k_lead2_high = 0xDF;
constexpr uint8_t k_lead3_low = 0xE0;
constexpr uint8_t k_lead3_high = 0xEF;
constexpr uint8_t k_lead3_overlong = 0xE0;  /* second byte must be A0..BF */
constexpr uint8_t k_lead3_surrogate = 0xED; /* second byte must be 80..9F */
constexpr uint8_t k_lead4_low = 0xF0;
constexpr uint8_t k_lead4_high = 0xF4;
constexpr uint8_t k_lead4_overlong = 0xF0; /* second byte must be 90..BF */
constexpr uint8_t k_lead4_top = 0xF4;      /* second byte must be 80..8F */
constexpr uint8_t k_overlong3_second_low = 0xA0;
constexpr uint8_t k_surrogate_second_high = 0x9F;
constexpr uint8_t k_overlong4_second_low = 0x90;
constexpr uint8_t k_top4_second_high = 0x8F;
constexpr size_t k_len2 = 2;
constexpr size_t k_len3 = 3;
constexpr size_t k_len4 = 4;

constexpr unsigned k_byte_bits = 8;
constexpr unsigned k_ip_octets = 4;
constexpr uint32_t k_octet_mask = 0xFFu;

/* The short escape of a character, or nothing. */
constexpr std::string_view short_escape(char c) {
    switch (c) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\b':
            return "\\b";
        case '\f':
            return "\\f";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        default:
            return {};
    }
}

void append_unicode_escape(std::string &out, uint8_t byte) {
    out += "\\u00";
    out.push_back(k_hex_digits[byte >> k_nibble_bits]);
    out.push_back(k_hex_digits[byte & k_nibble_mask]);
}

bool is_continuation(uint8_t byte) { return byte >= k_continuation_low && byte <= k_continuation_high; }

template <typename Int>
void append_number(std::string &out, Int value) {
    std::array<char, k_number_text_size> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    out.append(text.data(), result.ptr);
}

} // namespace

size_t utf8_sequence_length(std::string_view text, size_t pos) {
    const auto byte_at = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte_at(pos);
    size_t len = 0;
    uint8_t second_low = k_continuation_low;
    uint8_t second_high = k_continuation_high;
    if (lead >= k_lead2_low && lead <= k_lead2_high) {
        len = k_len2;
    } else if (lead >= k_lead3_low && lead <= k_lead3_high) {
        len = k_len3;
        if (lead == k_lead3_overlong) {
            second_low = k_overlong3_second_low;
        } else if (lead == k_lead3_surrogate) {
            second_high = k_surrogate_second_high;
        }
    } else if (lead >= k_lead4_low && lead <= k_lead4_high) {
        len = k_len4;
        if (lead == k_lead4_overlong) {
            second_low = k_overlong4_second_low;
        } else if (lead == k_lead4_top) {
            second_high = k_top4_second_high;
        }
    } else {
        return 0;
    }
    if (pos + len > text.size()) {
        return 0;
    }
    const uint8_t second = byte_at(pos + 1);
    if (second < second_low || second > second_high) {
        return 0;
    }
    for (size_t i = 2; i < len; ++i) {
        if (!is_continuation(byte_at(pos + i))) {
            return 0;
        }
    }
    return len;
}

void json_escape_append(std::string &out, std::string_view text) {
    out.reserve(out.size() + text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        const auto byte = static_cast<uint8_t>(c);
        if (const std::string_view esc = short_escape(c); !esc.empty()) {
            out += esc;
            ++i;
        } else if (byte < k_first_non_control || byte == k_delete) {
            append_unicode_escape(out, byte);
            ++i;
        } else if (byte < k_ascii_end) {
            out.push_back(c);
            ++i;
        } else if (const size_t len = utf8_sequence_length(text, i); len != 0) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            append_unicode_escape(out, byte);
            ++i;
        }
    }
}

json_writer &json_writer::raw(std::string_view text) {
    out_ += text;
    return *this;
}

json_writer &json_writer::str(std::string_view text) {
    out_.push_back('"');
    json_escape_append(out_, text);
    out_.push_back('"');
    return *this;
}

json_writer &json_writer::num(int64_t value) {
    append_number(out_, value);
    return *this;
}

json_writer &json_writer::unum(uint64_t value) {
    append_number(out_, value);
    return *this;
}

std::string varbind_value_text(const api_snmp_varbind &vb) {
    std::string text;
    switch (vb.type) {
        case API_SNMP_BER_INTEGER:
            append_number(text, vb.value.i32);
            break;
        case API_SNMP_BER_OCTET_STRING: {
            const size_t len = std::min<size_t>({vb.value_len, k_max_value_text, sizeof vb.value.bytes});
            text.assign(reinterpret_cast<const char *>(vb.value.bytes), len);
            break;
        }
        case API_SNMP_BER_OID:
            text.assign(vb.value.str, strnlen(vb.value.str, k_max_value_text));
            break;
        case API_SNMP_BER_NULL:
            text = "null";
            break;
        case API_SNMP_BER_UINTEGER32:
        case API_SNMP_BER_COUNTER32:
        case API_SNMP_BER_GAUGE32:
        case API_SNMP_BER_TIMETICKS:
            append_number(text, vb.value.u32);
            break;
        case API_SNMP_BER_IPADDRESS:
            for (unsigned octet = 0; octet < k_ip_octets; ++octet) {
                if (octet != 0) {
                    text.push_back('.');
                }
                const unsigned shift = (k_ip_octets - 1 - octet) * k_byte_bits;
                append_number(text, (vb.value.u32 >> shift) & k_octet_mask);
            }
            break;
        case API_SNMP_BER_COUNTER64:
            append_number(text, vb.value.u64);
            break;
        case API_SNMP_BER_NO_SUCH_OBJECT:
        case API_SNMP_BER_NO_SUCH_INSTANCE:
        case API_SNMP_BER_END_OF_MIB_VIEW:
            text.assign(vb.value.str, strnlen(vb.value.str, k_max_value_text));
            break;
        default:
            text = "unknown";
            break;
    }
    return text;
}

void append_varbind_item(json_writer &json, const api_snmp_varbind &vb) {
    json.raw("{\"oid\":")
        .str(std::string_view(vb.oid, strnlen(vb.oid, sizeof vb.oid)))
        .raw(",\"value\":")
        .str(varbind_value_text(vb))
        .raw(",\"type\":")
        .num(vb.type)
        .raw("}");
}

} // namespace service
