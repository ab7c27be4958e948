/* Optional HTTP Basic authentication of the web bridge: one user name and password, given as
 * "user:password" (--auth or VEK_BRIDGE_AUTH). Browsers ask for them once and send them with every
 * request of the page, which works unchanged behind it. Failed attempts are counted per client
 * address: after kMaxFailures within kFailureWindow the address is refused until the window ends. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_AUTH_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_AUTH_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace bridge {

inline constexpr unsigned kMaxFailures = 10;
inline constexpr auto kFailureWindow = std::chrono::seconds(60);
inline constexpr size_t kTrackedAddresses = 64;

inline constexpr std::string_view kUnauthorized =
    "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"snmp_web_bridge\", charset=\"UTF-8\"\r\n"
    "Content-Type: application/json\r\nConnection: close\r\n\r\n"
    R"({"ret":-401,"msg":"authentication required"})";
inline constexpr std::string_view kTooManyFailures =
    "HTTP/1.1 429 Too Many Requests\r\nContent-Type: application/json\r\nRetry-After: 60\r\nConnection: close\r\n\r\n"
    R"({"ret":-429,"msg":"too many failed sign-ins, try again later"})";

/* The bytes of standard Base64 text (with or without padding); nothing when it is not Base64. */
std::optional<std::string> base64_decode(std::string_view text);

enum class auth_verdict { admitted, refused, blocked };

class basic_auth {
public:
    using clock = std::chrono::steady_clock;

    /* credentials: "user:password", or empty for no authentication. */
    explicit basic_auth(std::string credentials) : credentials_(std::move(credentials)) {}
    bool enabled() const { return !credentials_.empty(); }

    /* Whether the request head from this client address carries the credentials (always admitted
     * without credentials); a refusal counts against the address. */
    auth_verdict check(std::string_view head, uint32_t address, clock::time_point now);

private:
    struct failures {
        uint32_t address = 0;
        clock::time_point since{};
        unsigned count = 0;
    };
    bool carries_credentials(std::string_view head) const;
    static bool current(const failures &f, clock::time_point now);
    failures *find_failures(uint32_t address, clock::time_point now);
    failures &new_failures(uint32_t address, clock::time_point now);

    std::string credentials_;
    std::mutex mutex_;
    std::array<failures, kTrackedAddresses> failures_{};
};

} // namespace bridge

#endif
