#include "tests/service/json_check.h"

#include <cstdlib>

namespace json_check {

namespace {

constexpr size_t k_max_depth = 64;
constexpr int k_hex_base = 16;
constexpr uint32_t k_high_surrogate_first = 0xD800;
constexpr uint32_t k_low_surrogate_first = 0xDC00;
constexpr uint32_t k_surrogate_end = 0xE000;
constexpr uint32_t k_surrogate_payload_bits = 10;
constexpr uint32_t k_supplementary_base = 0x10000;

const value &null_value() {
    static const value empty;
    return empty;
}

/* Appends the UTF-8 form of a code point. */
void append_utf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

class reader {
public:
    explicit reader(std::string_view text) : text_(text) {}

    std::optional<value> document() {
        value v;
        skip_space();
        if (!parse_value(v, 0)) {
            return std::nullopt;
        }
        skip_space();
        if (pos_ != text_.size()) {
            return fail("text after the value");
        }
        return v;
    }

    const std::string &error() const { return error_; }

private:
    std::nullopt_t fail(const std::string &why) {
        if (error_.empty()) {
            error_ = why + " at offset " + std::to_string(pos_);
        }
        return std::nullopt;
    }

    bool failed(const std::string &why) {
        fail(why);
        return false;
    }

    void skip_space() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) {
            return failed("bad literal");
        }
        pos_ += word.size();
        return true;
    }

    bool parse_value(value &v, size_t depth) {
        if (depth > k_max_depth) {
            return failed("nested too deeply");
        }
        if (pos_ >= text_.size()) {
            return failed("value expected");
        }
        switch (text_[pos_]) {
            case '{':
                return parse_object(v, depth);
            case '[':
                return parse_array(v, depth);
            case '"':
                v.type = value::kind::string;
                return parse_string(v.text);
            case 't':
                v.type = value::kind::boolean;
                v.flag = true;
                return literal("true");
            case 'f':
                v.type = value::kind::boolean;
                return literal("false");
            case 'n':
                v.type = value::kind::null;
                return literal("null");
            default:
                v.type = value::kind::number;
                return parse_number(v.text);
        }
    }

    bool digits() {
        const size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            ++pos_;
        }
        return pos_ > start;
    }

    bool parse_number(std::string &out) {
        const size_t start = pos_;
        if (pos_ < text_.size() && text_[pos_] == '-') {
            ++pos_;
        }
        if (pos_ < text_.size() && text_[pos_] == '0') {
            ++pos_;
        } else if (!digits()) {
            return failed("number expected");
        }
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (!digits()) {
                return failed("fraction digits expected");
            }
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) {
                ++pos_;
            }
            if (!digits()) {
                return failed("exponent digits expected");
            }
        }
        out.assign(text_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(uint32_t &cp) {
        if (pos_ + 4 > text_.size()) {
            return failed("short \\u escape");
        }
        cp = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            int d = -1;
            if (c >= '0' && c <= '9') {
                d = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                d = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                d = c - 'A' + 10;
            }
            if (d < 0) {
                return failed("bad hex digit");
            }
            cp = cp * k_hex_base + static_cast<uint32_t>(d);
        }
        return true;
    }

    bool unicode_escape(std::string &out) {
        uint32_t cp = 0;
        if (!hex4(cp)) {
            return false;
        }
        if (cp >= k_low_surrogate_first && cp < k_surrogate_end) {
            return failed("lone low surrogate");
        }
        if (cp >= k_high_surrogate_first && cp < k_low_surrogate_first) {
            uint32_t low = 0;
            if (text_.substr(pos_, 2) != "\\u") {
                return failed("lone high surrogate");
            }
            pos_ += 2;
            if (!hex4(low) || low < k_low_surrogate_first || low >= k_surrogate_end) {
                return failed("bad surrogate pair");
            }
            cp = k_supplementary_base + ((cp - k_high_surrogate_first) << k_surrogate_payload_bits) +
                 (low - k_low_surrogate_first);
        }
        append_utf8(out, cp);
        return true;
    }

    /* A raw UTF-8 sequence inside a string, checked independently of any other code. */
    bool raw_utf8(std::string &out) {
        const auto lead = static_cast<uint8_t>(text_[pos_]);
        size_t len = 0;
        uint32_t cp = 0;
        if (lead < 0x80) {
            len = 1;
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            len = 2;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            len = 3;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            len = 4;
            cp = lead & 0x07;
        } else {
            return failed("invalid UTF-8 lead byte");
        }
        if (pos_ + len > text_.size()) {
            return failed("UTF-8 sequence cut short");
        }
        for (size_t i = 1; i < len; ++i) {
            const auto cont = static_cast<uint8_t>(text_[pos_ + i]);
            if ((cont & 0xC0) != 0x80) {
                return failed("invalid UTF-8 continuation byte");
            }
            cp = (cp << 6) | (cont & 0x3F);
        }
        static constexpr uint32_t k_min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < k_min_for_len[len] || cp > 0x10FFFF || (cp >= k_high_surrogate_first && cp < k_surrogate_end)) {
            return failed("overlong, surrogate or out-of-range UTF-8");
        }
        out.append(text_.substr(pos_, len));
        pos_ += len;
        return true;
    }

    bool parse_string(std::string &out) {
        ++pos_; // opening quote
        out.clear();
        while (true) {
            if (pos_ >= text_.size()) {
                return failed("unterminated string");
            }
            const auto c = static_cast<uint8_t>(text_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) {
                return failed("raw control character in string");
            }
            if (c != '\\') {
                if (!raw_utf8(out)) {
                    return false;
                }
                continue;
            }
            ++pos_;
            if (pos_ >= text_.size()) {
                return failed("escape cut short");
            }
            const char e = text_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u':
                    if (!unicode_escape(out)) {
                        return false;
                    }
                    break;
                default:
                    return failed("unknown escape");
            }
        }
    }

    bool parse_array(value &v, size_t depth) {
        v.type = value::kind::array;
        ++pos_;
        skip_space();
        if (pos_ < text_.size() && text_[pos_] == ']') {
            ++pos_;
            return true;
        }
        while (true) {
            value item;
            skip_space();
            if (!parse_value(item, depth + 1)) {
                return false;
            }
            v.items.push_back(std::move(item));
            skip_space();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size() && text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return failed("',' or ']' expected");
        }
    }

    bool parse_object(value &v, size_t depth) {
        v.type = value::kind::object;
        ++pos_;
        skip_space();
        if (pos_ < text_.size() && text_[pos_] == '}') {
            ++pos_;
            return true;
        }
        while (true) {
            skip_space();
            if (pos_ >= text_.size() || text_[pos_] != '"') {
                return failed("member name expected");
            }
            std::string name;
            if (!parse_string(name)) {
                return false;
            }
            if (v.has(name)) {
                return failed("repeated member name \"" + name + "\"");
            }
            skip_space();
            if (pos_ >= text_.size() || text_[pos_] != ':') {
                return failed("':' expected");
            }
            ++pos_;
            skip_space();
            value member;
            if (!parse_value(member, depth + 1)) {
                return false;
            }
            v.names.push_back(std::move(name));
            v.member_values.push_back(std::move(member));
            skip_space();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size() && text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return failed("',' or '}' expected");
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    std::string error_;
};

} // namespace

bool value::has(std::string_view name) const {
    for (const std::string &member : names) {
        if (member == name) {
            return true;
        }
    }
    return false;
}

const value &value::operator[](std::string_view name) const {
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return member_values[i];
        }
    }
    return null_value();
}

const value &value::operator[](size_t index) const { return index < items.size() ? items[index] : null_value(); }

int64_t value::as_int() const { return type == kind::number ? std::strtoll(text.c_str(), nullptr, 10) : 0; }

std::optional<value> parse(std::string_view text, std::string *error) {
    reader r(text);
    std::optional<value> v = r.document();
    if (!v && error != nullptr) {
        *error = r.error();
    }
    return v;
}

} // namespace json_check
