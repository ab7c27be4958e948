/* JSON answers of the HTTP service.
 *
 * Answers are built in a buffer that grows, so a long list is never cut and never overflows. Every
 * text that comes from outside (request paths, agent values, user names, SDK texts) goes through
 * str(), which writes it as a valid JSON string: quotes, backslashes and control characters are
 * escaped, well-formed UTF-8 is kept, and each byte that is not part of well-formed UTF-8 (binary
 * values such as MAC addresses) is written as \u00XX. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_JSON_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_JSON_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nms/vek_nms_sdk.h"

namespace service {

class json_writer {
public:
    /* Appends JSON punctuation or a literal that is already valid JSON. */
    json_writer &raw(std::string_view text);
    /* Appends text as a quoted, escaped JSON string. */
    json_writer &str(std::string_view text);
    /* Appends a decimal number. */
    json_writer &num(int64_t value);
    json_writer &unum(uint64_t value);

    const std::string &text() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

/* Appends the escaped form of text (without the surrounding quotes) to out. */
void json_escape_append(std::string &out, std::string_view text);

/* Length of the well-formed UTF-8 sequence that starts at text[pos], or 0 when the byte there does not
 * start one (stray continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short). */
size_t utf8_sequence_length(std::string_view text, size_t pos);

/* The value of a received varbind as the data items show it: INTEGER signed decimal; OCTET STRING
 * its value_len bytes (at most 255); OID its text; NULL "null"; UInteger32, Counter32, Gauge32 and
 * TimeTicks unsigned decimal; IpAddress dotted, first octet (the most significant byte) first;
 * Counter64 unsigned decimal; an exception value its name ("noSuchObject", "noSuchInstance",
 * "endOfMibView"); any other type "unknown". */
std::string varbind_value_text(const api_snmp_varbind &vb);

/* Appends {"oid":"...","value":"...","type":N} for one varbind. */
void append_varbind_item(json_writer &json, const api_snmp_varbind &vb);

} // namespace service

#endif
