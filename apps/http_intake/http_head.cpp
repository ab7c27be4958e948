/* Header lines of a request head and the other-site checks (see http_head.h). */
#include "apps/http_intake/http_head.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <string>

namespace http_intake {

namespace {

constexpr std::string_view k_blanks = " \t";
constexpr std::string_view k_scheme_end = "://";
constexpr std::string_view k_localhost = "localhost";
/* Sec-Fetch-Site values of requests that another origin's page started. */
constexpr std::array<std::string_view, 2> k_other_site_fetches = {"cross-site", "same-site"};
/* Ports that an Origin leaves out, by scheme. */
constexpr std::array<std::pair<std::string_view, std::string_view>, 2> k_default_ports = {
    {{"http", ":80"}, {"https", ":443"}}};

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(k_blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(k_blanks) - first + 1);
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_text_any_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lower(x) == lower(y);
           });
}

/* The next line of text (without its CR LF or LF), advancing text past it. */
std::string_view next_line(std::string_view &text) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    return line;
}

/* The host and port of an absolute URL or origin ("http://host:port/path" → "host:port") without a
 * port its scheme implies; nothing when it has no scheme. */
std::optional<std::string> url_authority(std::string_view url) {
    const size_t scheme_end = url.find(k_scheme_end);
    if (scheme_end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view scheme = url.substr(0, scheme_end);
    std::string_view authority = url.substr(scheme_end + k_scheme_end.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    for (const auto &[name, port] : k_default_ports) {
        if (same_text_any_case(scheme, name) && authority.ends_with(port)) {
            authority.remove_suffix(port.size());
        }
    }
    return std::string(authority);
}

/* True when the Host header names this authority; a default port in it does not count (browsers
 * leave it out of an Origin). */
bool names_this_host(std::string_view head, const std::string &authority) {
    const auto host = header_value(head, "Host");
    if (!host) {
        return false;
    }
    if (same_text_any_case(*host, authority)) {
        return true;
    }
    return std::any_of(k_default_ports.begin(), k_default_ports.end(), [&](const auto &entry) {
        return host->ends_with(entry.second) &&
               same_text_any_case(host->substr(0, host->size() - entry.second.size()), authority);
    });
}

} // namespace

bool head_complete(std::string_view received) {
    return received.find("\r\n\r\n") != std::string_view::npos || received.find("\n\n") != std::string_view::npos;
}

std::optional<std::string_view> header_value(std::string_view head, std::string_view name) {
    next_line(head); /* the request line */
    while (!head.empty()) {
        const std::string_view line = next_line(head);
        if (line.empty()) {
            break;
        }
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && same_text_any_case(trimmed(line.substr(0, colon)), name)) {
            return trimmed(line.substr(colon + 1));
        }
    }
    return std::nullopt;
}

bool from_other_site(std::string_view head) {
    if (const auto fetch_site = header_value(head, "Sec-Fetch-Site")) {
        for (const std::string_view other : k_other_site_fetches) {
            if (same_text_any_case(*fetch_site, other)) {
                return true;
            }
        }
    }
    auto source = header_value(head, "Origin");
    if (!source) {
        source = header_value(head, "Referer");
    }
    if (!source) {
        return false;
    }
    /* "null" (a sandboxed or local page) and anything without a scheme name no origin of ours. */
    const auto authority = url_authority(*source);
    return !authority || !names_this_host(head, *authority);
}

bool host_is_address(std::string_view head) {
    const auto host = header_value(head, "Host");
    if (!host) {
        return true;
    }
    const std::string_view name = host->substr(0, host->rfind(':'));
    if (same_text_any_case(name, k_localhost)) {
        return true;
    }
    in_addr address{};
    return inet_pton(AF_INET, std::string(name).c_str(), &address) == 1;
}

} // namespace http_intake
