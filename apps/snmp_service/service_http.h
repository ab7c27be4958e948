/* Request parsing of the HTTP service: pure text functions without sockets, so that the tests and
 * the fuzz target can drive them directly.
 *
 * Only the request line counts: "GET <path>?<query> HTTP/1.1". A request that does not begin with
 * "GET " has an empty path (and so gets the unknown-api answer). */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_HTTP_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_HTTP_H

#include <cstddef>
#include <string_view>

namespace service {

inline constexpr size_t k_request_read_size = 4095; /* bytes of a request that are looked at */
inline constexpr size_t k_max_path_len = 255;       /* characters of a path that count */
inline constexpr size_t k_max_query_len = 4095;     /* characters of a query that count */

/* Header of every answer; the JSON text follows it and the connection is closed after it. */
inline constexpr std::string_view k_answer_header =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n";

struct http_request {
    std::string_view path;  /* empty for anything but GET */
    std::string_view query; /* empty when the request target has no '?' */
};

/* Splits the request line of raw. The path is the text after "GET " up to the first blank, '?', CR,
 * LF or the end, cut to k_max_path_len characters. The query is the text after the '?' that ends
 * the path, up to the first blank, CR, LF or the end, cut to k_max_query_len characters: a '?' in a
 * later header never starts a query. Both views point into raw. */
http_request parse_http_request(std::string_view raw);

} // namespace service

#endif
