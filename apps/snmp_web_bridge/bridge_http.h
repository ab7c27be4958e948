/* Request parsing of the web bridge: pure text functions with no sockets, so that the tests and the
 * fuzz target can drive them directly.
 *
 * A browser request is "GET <path>?<query> HTTP/1.1\r\n..."; only the request line matters. Query
 * parameters are split at '&' and '=' before they are decoded, so that an encoded separator stays
 * inside its value, and names are compared exactly. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_HTTP_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_HTTP_H

#include <cstddef>
#include <string>
#include <string_view>

namespace bridge {

inline constexpr size_t kMaxPathLen = 255;   /* characters of a request path that count */
inline constexpr size_t kMaxParamLen = 2046; /* bytes of one decoded parameter value */

/* The path of a request: the text after "GET " up to the first blank, '?', CR, LF or end, at most
 * kMaxPathLen characters; empty when the request does not begin with "GET ". */
std::string_view request_path(std::string_view request);

/* The query of the request line: the text after the line's first '?' up to the first blank or the
 * line's end; empty when the line has none. */
std::string_view request_query(std::string_view request);

/* Decodes "%XX" (two hexadecimal digits) to the byte and '+' to a blank; any other '%' stays. */
std::string percent_decode(std::string_view text);

/* Writes every byte except letters, digits, "-_.~" and the OID list separator ',' as "%XX", so that
 * the value cannot add, change or cut a parameter of the request it is put into. */
std::string percent_encode(std::string_view value);

/* The value of the first query parameter whose decoded name equals name exactly, decoded and cut to
 * kMaxParamLen bytes; empty when there is none. */
std::string query_param(std::string_view query, std::string_view name);

/* The body of an HTTP reply: the text after the first blank line, or the whole reply when it has
 * none. */
std::string_view reply_body(std::string_view reply);

} // namespace bridge

#endif
