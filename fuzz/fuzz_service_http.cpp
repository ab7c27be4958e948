// Fuzz target: raw HTTP requests through the HTTP service's request parsing, query parameters, list
// splitting, number reading and JSON escaping. Whatever arrives, the parsed parts stay within their
// limits and every escaped text is a well-formed JSON string.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "apps/http_intake/http_head.h"
#include "apps/snmp_service/service_http.h"
#include "apps/snmp_service/service_json.h"
#include "apps/snmp_service/service_query.h"

namespace {

constexpr size_t k_field_size = 64;
constexpr size_t k_list_field_size = 1024;
constexpr size_t k_max_list_items = 32;
constexpr size_t k_unicode_escape_digits = 4;
constexpr uint8_t k_first_non_control = 0x20;
constexpr uint8_t k_ascii_end = 0x80;
constexpr std::string_view k_names[] = {"ip", "port", "oid", "value", "community", "username", "type"};

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

/* The body of a JSON string (without its quotes): no raw quote or control byte, only known escapes,
 * and well-formed UTF-8. */
void check_json_string_body(std::string_view body) {
    for (size_t i = 0; i < body.size(); ++i) {
        const auto byte = static_cast<uint8_t>(body[i]);
        check(byte >= k_first_non_control && body[i] != '"');
        if (body[i] == '\\') {
            check(i + 1 < body.size());
            const char e = body[++i];
            if (e == 'u') {
                check(i + k_unicode_escape_digits < body.size());
                for (size_t d = 1; d <= k_unicode_escape_digits; ++d) {
                    check(is_hex(body[i + d]));
                }
                i += k_unicode_escape_digits;
            } else {
                check(std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos);
            }
        } else if (byte >= k_ascii_end) {
            const size_t len = service::utf8_sequence_length(body, i);
            check(len >= 2);
            i += len - 1;
        }
    }
}

void check_escaped(std::string_view text) {
    service::json_writer json;
    json.str(text);
    const std::string &out = json.text();
    check(out.size() >= 2 && out.front() == '"' && out.back() == '"');
    check_json_string_body(std::string_view(out).substr(1, out.size() - 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view raw(reinterpret_cast<const char *>(data), size);
    const service::http_request request = service::parse_http_request(raw.substr(0, service::k_request_read_size));
    check(request.path.size() <= service::k_max_path_len);
    check(request.query.size() <= service::k_max_query_len);
    check(request.path.find_first_of(" ?\r\n") == std::string_view::npos);
    check(request.query.find_first_of(" \r\n") == std::string_view::npos);
    http_intake::head_complete(raw);
    http_intake::from_other_site(raw);
    http_intake::host_is_address(raw);
    check_escaped(request.path);

    for (const std::string_view name : k_names) {
        const std::string value = service::get_param(request.query, name, k_field_size);
        check(value.size() < k_field_size);
        check(service::has_param(request.query, name) || value.empty());
        check_escaped(value);
        service::parse_decimal(value);
        const std::string list_text = service::get_param(request.query, name, k_list_field_size);
        for (const std::string &item : service::split_list(list_text, k_max_list_items)) {
            check(!item.empty() && item.find_first_of(", ") == std::string::npos);
        }
        check(service::split_list(list_text, k_max_list_items).size() <= k_max_list_items);
    }
    // Decoding never grows the text.
    check(service::percent_decode(raw).size() <= raw.size());
    check_escaped(raw);
    return 0;
}
