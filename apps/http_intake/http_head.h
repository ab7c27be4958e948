/* Reading the header lines of a request head, and the checks both HTTP programs make on them before
 * any work: a request that a page of another site makes a browser send is refused. Pure text
 * functions, so that tests and the fuzz targets can drive them directly. */
#ifndef VEK_APPS_HTTP_INTAKE_HTTP_HEAD_H
#define VEK_APPS_HTTP_INTAKE_HTTP_HEAD_H

#include <optional>
#include <string_view>

namespace http_intake {

/* The answer to a request from another site's page. */
inline constexpr std::string_view k_forbidden_answer =
    "HTTP/1.1 403 Forbidden\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
    R"({"ret":-403,"msg":"cross-site request refused"})";

/* True once received holds a whole request head (an empty line ends it). */
bool head_complete(std::string_view received);

/* The value of the first header line of the head with this name (compared without regard to case),
 * without the blanks around it; nothing when there is none. The request line is not a header. */
std::optional<std::string_view> header_value(std::string_view head, std::string_view name);

/* True when a browser sent the request for a page of another site: its Origin header (or, without
 * one, its Referer) names another origin than the Host header's, or its Sec-Fetch-Site is
 * "cross-site" or "same-site" (another origin on this host). A request without these headers (a
 * command-line client, the bridge's own forwarding) does not count. */
bool from_other_site(std::string_view head);

/* True when the Host header is missing, an IPv4 address or "localhost" (either with a port): names
 * that a page of another site cannot point at this host by changing its own name's address. */
bool host_is_address(std::string_view head);

} // namespace http_intake

#endif
