#include "apps/snmp_service/service_query.h"

#include <limits>
#include <optional>

namespace service {

namespace {

constexpr char k_pair_separator = '&';
constexpr char k_name_separator = '=';
constexpr char k_escape = '%';
constexpr char k_encoded_blank = '+';
constexpr size_t k_escape_len = 3; /* "%XX" */
constexpr std::string_view k_list_separators = ", ";
constexpr std::string_view k_leading_space = " \t\n\v\f\r";
constexpr int k_decimal_base = 10;
constexpr int k_hex_base = 16;
constexpr int k_hex_letter_offset = 10;

std::optional<int> hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + k_hex_letter_offset;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + k_hex_letter_offset;
    }
    return std::nullopt;
}

/* Calls visit(name, value) with the raw (still encoded) name and value of each parameter, in order,
 * until visit returns true. */
template <typename Visit>
void for_each_param(std::string_view query, Visit &&visit) {
    while (!query.empty()) {
        const size_t end = query.find(k_pair_separator);
        const std::string_view piece = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
        const size_t eq = piece.find(k_name_separator);
        if (eq == std::string_view::npos) {
            continue;
        }
        if (visit(piece.substr(0, eq), piece.substr(eq + 1))) {
            return;
        }
    }
}

} // namespace

std::string percent_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == k_encoded_blank) {
            out.push_back(' ');
            continue;
        }
        if (c == k_escape && i + k_escape_len <= text.size()) {
            const std::optional<int> high = hex_digit(text[i + 1]);
            const std::optional<int> low = hex_digit(text[i + 2]);
            if (high && low) {
                out.push_back(static_cast<char>(*high * k_hex_base + *low));
                i += k_escape_len - 1;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

std::string get_param(std::string_view query, std::string_view name, size_t field_size) {
    std::string value;
    for_each_param(query, [&](std::string_view raw_name, std::string_view raw_value) {
        if (percent_decode(raw_name) != name) {
            return false;
        }
        value = percent_decode(raw_value);
        return true;
    });
    const size_t room = field_size > 0 ? field_size - 1 : 0;
    if (value.size() > room) {
        value.resize(room);
    }
    return value;
}

bool has_param(std::string_view query, std::string_view name) {
    bool found = false;
    for_each_param(query, [&](std::string_view raw_name, std::string_view /*raw_value*/) {
        found = percent_decode(raw_name) == name;
        return found;
    });
    return found;
}

std::vector<std::string> split_list(std::string_view text, size_t max_items) {
    std::vector<std::string> items;
    while (!text.empty() && items.size() < max_items) {
        const size_t end = text.find_first_of(k_list_separators);
        const std::string_view piece = text.substr(0, end);
        if (!piece.empty()) {
            items.emplace_back(piece);
        }
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return items;
}

int64_t parse_decimal(std::string_view text) {
    const size_t start = text.find_first_not_of(k_leading_space);
    if (start == std::string_view::npos) {
        return 0;
    }
    text.remove_prefix(start);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Accumulated as a negative number, whose range is the wider one.
    constexpr int64_t k_min = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        const int digit = c - '0';
        if (value < (k_min + digit) / k_decimal_base) {
            value = k_min;
            break;
        }
        value = value * k_decimal_base - digit;
    }
    if (negative) {
        return value;
    }
    return value == k_min ? std::numeric_limits<int64_t>::max() : -value;
}

} // namespace service
