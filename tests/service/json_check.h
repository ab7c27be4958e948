/* A strict JSON reader for the tests of the HTTP service: it accepts exactly RFC 8259 text (strings
 * must be well-formed UTF-8 without raw control characters, objects must not repeat a name) and
 * gives the parsed value, so that an answer can be both validated and inspected. It shares no code
 * with the service's writer. */
#ifndef VEK_TESTS_SERVICE_JSON_CHECK_H
#define VEK_TESTS_SERVICE_JSON_CHECK_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace json_check {

struct value {
    enum class kind { null, boolean, number, string, array, object };
    kind type = kind::null;
    bool flag = false;
    std::string text; /* a number's literal text, or a string's decoded UTF-8 bytes */
    std::vector<value> items;          /* array items */
    std::vector<std::string> names;    /* object member names, in order */
    std::vector<value> member_values;  /* object member values, parallel to names */

    bool has(std::string_view name) const;
    /* The member of that name, or a null value when there is none. */
    const value &operator[](std::string_view name) const;
    /* The item at that index, or a null value when there is none. */
    const value &operator[](size_t index) const;
    size_t size() const { return type == kind::array ? items.size() : names.size(); }
    int64_t as_int() const;
    const std::string &str() const { return text; }
    bool is_string() const { return type == kind::string; }
    bool is_number() const { return type == kind::number; }
};

/* The value of the whole text, or nothing when it is not valid JSON (error then says why). */
std::optional<value> parse(std::string_view text, std::string *error = nullptr);

} // namespace json_check

#endif
