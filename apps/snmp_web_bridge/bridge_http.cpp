/* Request parsing of the web bridge (see bridge_http.h). */
#include "apps/snmp_web_bridge/bridge_http.h"

#include <algorithm>
#include <optional>

namespace bridge {

namespace {

constexpr std::string_view kGetPrefix = "GET ";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kPathEnd = " ?\r\n";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";
constexpr size_t kEscapeLen = 3; /* "%XX" */
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0x0F;
constexpr unsigned kDecimalBase = 10;

std::optional<unsigned> hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a') + kDecimalBase;
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A') + kDecimalBase;
    }
    return std::nullopt;
}

bool is_unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '~' || c == ',';
}

/* The text up to the first occurrence of any of the stop characters, or all of it. */
std::string_view until_any(std::string_view text, std::string_view stops) {
    return text.substr(0, std::min(text.find_first_of(stops), text.size()));
}

} // namespace

std::string_view request_path(std::string_view request) {
    if (!request.starts_with(kGetPrefix)) {
        return {};
    }
    const std::string_view path = until_any(request.substr(kGetPrefix.size()), kPathEnd);
    return path.substr(0, std::min(path.size(), kMaxPathLen));
}

std::string_view request_query(std::string_view request) {
    const std::string_view line = until_any(request, kLineEnd);
    const size_t mark = line.find('?');
    if (mark == std::string_view::npos) {
        return {};
    }
    return until_any(line.substr(mark + 1), " ");
}

std::string percent_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
            continue;
        }
        if (c == '%' && i + kEscapeLen <= text.size()) {
            const auto hi = hex_value(text[i + 1]);
            const auto lo = hex_value(text[i + 2]);
            if (hi && lo) {
                out.push_back(static_cast<char>((*hi << kNibbleBits) | *lo));
                i += kEscapeLen - 1;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

std::string percent_encode(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_unreserved(byte)) {
            out.push_back(c);
            continue;
        }
        out.push_back('%');
        out.push_back(kHexDigits[byte >> kNibbleBits]);
        out.push_back(kHexDigits[byte & kNibbleMask]);
    }
    return out;
}

std::string query_param(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        const size_t eq = piece.find('=');
        if (eq == std::string_view::npos || percent_decode(piece.substr(0, eq)) != name) {
            continue;
        }
        std::string value = percent_decode(piece.substr(eq + 1));
        if (value.size() > kMaxParamLen) {
            value.resize(kMaxParamLen);
        }
        return value;
    }
    return {};
}

std::string_view reply_body(std::string_view reply) {
    const size_t at = reply.find(kHeaderEnd);
    return at == std::string_view::npos ? reply : reply.substr(at + kHeaderEnd.size());
}

} // namespace bridge
