/* JSON text helpers of the web bridge: strings escaped as JSON requires, and cutting text without
 * splitting a UTF-8 sequence. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_JSON_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_JSON_H

#include <cstddef>
#include <string>
#include <string_view>

namespace bridge {

/* Appends text as a JSON string, with its quotes: quote, backslash and control characters escaped,
 * valid UTF-8 kept as it is, every byte that is not part of valid UTF-8 written as \u00XX. */
void append_json_string(std::string &out, std::string_view text);

/* The text as a JSON string (see append_json_string). */
std::string json_string(std::string_view text);

/* Length of the valid UTF-8 sequence at the start of text (1 to 4), or 0 when it does not start with
 * one (stray continuation byte, overlong form, surrogate, value above U+10FFFF, cut sequence). */
size_t utf8_sequence_len(std::string_view text);

/* The longest prefix of text of at most max_len bytes that does not end inside a valid UTF-8
 * sequence. Bytes that are not UTF-8 count one by one. */
std::string_view utf8_prefix(std::string_view text, size_t max_len);

} // namespace bridge

#endif
