/* HTTP Basic authentication of the web bridge (see bridge_auth.h). */
#include "apps/snmp_web_bridge/bridge_auth.h"

#include <algorithm>

#include "apps/http_intake/http_head.h"

namespace bridge {

namespace {

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr unsigned kBitsPerDigit = 6;
constexpr unsigned kBitsPerByte = 8;
constexpr unsigned kByteMask = 0xFF;
constexpr std::string_view kBasicScheme = "basic ";

bool starts_with_any_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char p, char t) { return p == (t >= 'A' && t <= 'Z' ? static_cast<char>(t - 'A' + 'a') : t); });
}

/* Compares in a time that depends only on the lengths, not on where the texts differ. */
bool same_secret(std::string_view given, std::string_view expected) {
    unsigned diff = given.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < expected.size(); ++i) {
        diff |= static_cast<unsigned char>(expected[i]) ^ static_cast<unsigned char>(i < given.size() ? given[i] : 0);
    }
    return diff == 0;
}

} // namespace

std::optional<std::string> base64_decode(std::string_view text) {
    while (text.ends_with(kPad)) {
        text.remove_suffix(1);
    }
    std::string out;
    unsigned bits = 0;
    unsigned held = 0;
    for (const char c : text) {
        const size_t digit = kBase64Alphabet.find(c);
        if (digit == std::string_view::npos) {
            return std::nullopt;
        }
        bits = (bits << kBitsPerDigit) | static_cast<unsigned>(digit);
        held += kBitsPerDigit;
        if (held >= kBitsPerByte) {
            held -= kBitsPerByte;
            out.push_back(static_cast<char>((bits >> held) & kByteMask));
        }
    }
    return out;
}

auth_verdict basic_auth::check(std::string_view head, uint32_t address, clock::time_point now) {
    if (!enabled()) {
        return auth_verdict::admitted;
    }
    const std::lock_guard lock(mutex_);
    failures *f = find_failures(address, now);
    if (f != nullptr && f->count >= kMaxFailures) {
        return auth_verdict::blocked;
    }
    if (carries_credentials(head)) {
        return auth_verdict::admitted;
    }
    /* A request without any credentials is a browser's first try (it asks its user then): only
     * wrong credentials count. */
    if (http_intake::header_value(head, "Authorization")) {
        ++(f != nullptr ? *f : new_failures(address, now)).count;
    }
    return auth_verdict::refused;
}

bool basic_auth::carries_credentials(std::string_view head) const {
    const auto value = http_intake::header_value(head, "Authorization");
    if (!value || !starts_with_any_case(*value, kBasicScheme)) {
        return false;
    }
    const auto decoded = base64_decode(value->substr(kBasicScheme.size()));
    return decoded && same_secret(*decoded, credentials_);
}

bool basic_auth::current(const failures &f, clock::time_point now) {
    return f.count != 0 && now - f.since < kFailureWindow;
}

basic_auth::failures *basic_auth::find_failures(uint32_t address, clock::time_point now) {
    const auto it = std::find_if(failures_.begin(), failures_.end(),
                                 [&](const failures &f) { return f.address == address && current(f, now); });
    return it == failures_.end() ? nullptr : &*it;
}

basic_auth::failures &basic_auth::new_failures(uint32_t address, clock::time_point now) {
    /* A free entry, else the one whose window began longest ago. */
    const auto it = std::min_element(failures_.begin(), failures_.end(), [&](const failures &a, const failures &b) {
        return current(a, now) != current(b, now) ? !current(a, now) : a.since < b.since;
    });
    *it = failures{address, now, 0};
    return *it;
}

} // namespace bridge
