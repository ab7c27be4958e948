/* The web bridge's link to the HTTP service: forwarding one request per connection, and the health
 * check that decides whether requests are forwarded at all. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SERVICE_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SERVICE_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "apps/app_os/app_os.h"

namespace bridge {

using namespace std::chrono_literals;

inline constexpr auto kHealthInterval = 2000ms;      /* between two health checks */
inline constexpr auto kHealthConnectLimit = 1000ms; /* one health-check connection attempt */
inline constexpr auto kForwardConnectLimit = 2000ms;
inline constexpr auto kForwardSendLimit = 5000ms;
/* The service answers an agent request only after the SDK's last retransmission and time-out (about
 * 17 s with the default settings); the forwarding connection waits that long plus a margin. */
inline constexpr auto kServiceLongestWait = 17s;
inline constexpr auto kForwardMargin = 13s;
inline constexpr auto kForwardReplyLimit = kServiceLongestWait + kForwardMargin;
inline constexpr size_t kMaxServiceReply = 8u << 20; /* bytes; larger answers are refused, not cut */

/* Error bodies of the bridge itself. */
inline constexpr std::string_view kBodyOffline = R"({"ret":-99,"msg":"NMS offline"})";
inline constexpr std::string_view kBodyConnectFailed = R"({"ret":-98,"msg":"connect failed"})";
inline constexpr std::string_view kBodyNoData = R"({"ret":-1,"msg":"no data"})";
inline constexpr std::string_view kBodyTooLarge = R"({"ret":-97,"msg":"answer too large"})";

/* Log lines of the health check. */
inline constexpr std::string_view kLogServiceUp = "后端NMS服务已恢复在线";
inline constexpr std::string_view kLogServiceDown = "后端NMS服务已断开";

class service_link {
public:
    explicit service_link(const sockaddr_in &addr) : addr_(addr) {}

    /* Forwards "GET <path>" to the service and returns the body of its answer, or one of the error
     * bodies above. Logs "API <shown_path> → 响应：<answer>" unless shown_path is empty. */
    std::string forward(std::string_view path, std::string_view shown_path) const;

    /* True when the service accepts a connection within kHealthConnectLimit. */
    bool probe() const;

    /* One health check: probes, and logs when the result differs from the last one. */
    void check_once();

    /* Health checks every kHealthInterval, forever. */
    [[noreturn]] void run_health_checks();

    bool alive() const { return alive_.load(); }

private:
    sockaddr_in addr_;
    std::atomic<bool> alive_{true}; /* starts reachable: the first requests are forwarded */
};

} // namespace bridge

#endif
