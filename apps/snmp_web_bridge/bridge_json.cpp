/* JSON text helpers of the web bridge (see bridge_json.h). */
#include "apps/snmp_web_bridge/bridge_json.h"

namespace bridge {

namespace {

constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kAsciiEnd = 0x80;
constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuationMark = 0x80;
constexpr unsigned char kContinuationMin = 0x80;
constexpr unsigned char kContinuationMax = 0xBF;

/* Lead bytes of the multi-byte forms, and the narrower ranges of the byte after some of them that
 * rule out overlong forms, surrogates and values above U+10FFFF. */
constexpr unsigned char kLead2Min = 0xC2;
constexpr unsigned char kLead2Max = 0xDF;
constexpr unsigned char kLead3Min = 0xE0;
constexpr unsigned char kLead3Max = 0xEF;
constexpr unsigned char kLead4Min = 0xF0;
constexpr unsigned char kLead4Max = 0xF4;
constexpr unsigned char kLead3Overlong = 0xE0;
constexpr unsigned char kLead3OverlongNextMin = 0xA0;
constexpr unsigned char kLead3Surrogate = 0xED;
constexpr unsigned char kLead3SurrogateNextMax = 0x9F;
constexpr unsigned char kLead4Overlong = 0xF0;
constexpr unsigned char kLead4OverlongNextMin = 0x90;
constexpr unsigned char kLead4Top = 0xF4;
constexpr unsigned char kLead4TopNextMax = 0x8F;

constexpr size_t kLen1 = 1;
constexpr size_t kLen2 = 2;
constexpr size_t kLen3 = 3;
constexpr size_t kLen4 = 4;

bool is_continuation(unsigned char c) { return (c & kContinuationMask) == kContinuationMark; }

void append_unicode_escape(std::string &out, unsigned char c) {
    out += "\\u00";
    out.push_back(kHexDigits[c >> kNibbleBits]);
    out.push_back(kHexDigits[c & kNibbleMask]);
}

/* The escape of a byte that JSON does not allow as it is, or an empty view. */
std::string_view short_escape(unsigned char c) {
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: return {};
    }
}

} // namespace

size_t utf8_sequence_len(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < kAsciiEnd) {
        return kLen1;
    }
    size_t len = 0;
    unsigned char next_min = kContinuationMin;
    unsigned char next_max = kContinuationMax;
    if (lead >= kLead2Min && lead <= kLead2Max) {
        len = kLen2;
    } else if (lead >= kLead3Min && lead <= kLead3Max) {
        len = kLen3;
        next_min = lead == kLead3Overlong ? kLead3OverlongNextMin : next_min;
        next_max = lead == kLead3Surrogate ? kLead3SurrogateNextMax : next_max;
    } else if (lead >= kLead4Min && lead <= kLead4Max) {
        len = kLen4;
        next_min = lead == kLead4Overlong ? kLead4OverlongNextMin : next_min;
        next_max = lead == kLead4Top ? kLead4TopNextMax : next_max;
    } else {
        return 0;
    }
    if (text.size() < len || byte(1) < next_min || byte(1) > next_max) {
        return 0;
    }
    for (size_t i = 2; i < len; ++i) {
        if (!is_continuation(byte(i))) {
            return 0;
        }
    }
    return len;
}

void append_json_string(std::string &out, std::string_view text) {
    out.push_back('"');
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.front());
        size_t used = 1;
        if (const std::string_view esc = short_escape(c); !esc.empty()) {
            out += esc;
        } else if (c < kFirstPrintable) {
            append_unicode_escape(out, c);
        } else if (const size_t seq = utf8_sequence_len(text); seq == 0) {
            append_unicode_escape(out, c);
        } else {
            used = seq;
            out += text.substr(0, seq);
        }
        text.remove_prefix(used);
    }
    out.push_back('"');
}

std::string json_string(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    append_json_string(out, text);
    return out;
}

std::string_view utf8_prefix(std::string_view text, size_t max_len) {
    if (text.size() <= max_len) {
        return text;
    }
    size_t end = 0;
    while (end < max_len) {
        const size_t seq = utf8_sequence_len(text.substr(end));
        const size_t unit = seq == 0 ? 1 : seq;
        if (end + unit > max_len) {
            break;
        }
        end += unit;
    }
    return text.substr(0, end);
}

} // namespace bridge
