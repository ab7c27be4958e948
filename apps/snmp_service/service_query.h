/* Query parameters of the HTTP service and the small text conversions its endpoints share.
 *
 * A query "name=value&name=value" is split at '&' and at the first '=' of each piece BEFORE anything
 * is decoded, so that an encoded '&' or '=' ("a%26b") stays inside its value. Names are then decoded
 * and compared exactly. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_QUERY_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_QUERY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace service {

/* Decodes '+' to a blank and '%' with two hexadecimal digits to that byte; any other '%' (at the end,
 * or before something that is not two hexadecimal digits) stays as it is. */
std::string percent_decode(std::string_view text);

/* The decoded value of the first parameter whose decoded name equals name exactly, cut to
 * field_size - 1 bytes (the size of the field it fills, terminator included); empty when the query
 * has no such parameter. Pieces without '=' are not parameters. */
std::string get_param(std::string_view query, std::string_view name, size_t field_size);

/* True when the query has a parameter of that name (with any value, also an empty one). */
bool has_param(std::string_view query, std::string_view name);

/* The non-empty pieces of text between commas and blanks, at most max_items of them. */
std::vector<std::string> split_list(std::string_view text, size_t max_items);

/* The decimal number at the start of text as the C library's atoi reads it (leading white space,
 * an optional sign, digits; anything after them is ignored; no digits give 0), except that a value
 * beyond the 64-bit range saturates instead of being undefined. */
int64_t parse_decimal(std::string_view text);

} // namespace service

#endif
