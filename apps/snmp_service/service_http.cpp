#include "apps/snmp_service/service_http.h"

namespace service {

namespace {

constexpr std::string_view k_get_prefix = "GET ";
constexpr std::string_view k_path_ends = " ?\r\n";
constexpr std::string_view k_query_ends = " \r\n";
constexpr char k_query_mark = '?';

/* The text of view up to the first of the stop characters (or all of it). */
std::string_view until_any(std::string_view view, std::string_view stops) {
    const size_t end = view.find_first_of(stops);
    return end == std::string_view::npos ? view : view.substr(0, end);
}

} // namespace

http_request parse_http_request(std::string_view raw) {
    http_request request;
    if (!raw.starts_with(k_get_prefix)) {
        return request;
    }
    const std::string_view target = raw.substr(k_get_prefix.size());
    const std::string_view path = until_any(target, k_path_ends);
    request.path = path.substr(0, k_max_path_len);
    if (path.size() < target.size() && target[path.size()] == k_query_mark) {
        const std::string_view query = until_any(target.substr(path.size() + 1), k_query_ends);
        request.query = query.substr(0, k_max_query_len);
    }
    return request;
}

} // namespace service
