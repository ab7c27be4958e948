// snmp_service when answers do not come: agents that never answer, an agent removed while its request
// is outstanding, and clients that connect but never send. These tests wait out the real time limits.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "tests/apps_cli/apps_test_support.h"
#include "tests/http_intake/loopback_clients.h"
#include "tests/service/service_test_support.h"

namespace service_test {
namespace {

using clock = std::chrono::steady_clock;

/* A UDP socket on 127.0.0.1 that receives and never answers. */
class silent_agent {
public:
    silent_agent() : sock_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(sock_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(sock_, reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~silent_agent() { close(sock_); }
    silent_agent(const silent_agent &) = delete;
    silent_agent &operator=(const silent_agent &) = delete;
    uint16_t port() const { return port_; }

private:
    int sock_;
    uint16_t port_ = 0;
};

class ServiceSlow : public testing::Test {
protected:
    void SetUp() override {
        http_port_ = free_tcp_port();
        service_.emplace(service_process::options{service_executable(), http_port_, apps_test::free_udp_port(), {}, {}});
        ASSERT_TRUE(service_->wait_serving()) << service_->output();
    }

    uint16_t http_port_ = 0;
    std::optional<service_process> service_;
};

TEST_F(ServiceSlow, UnansweredRequestsEndWithinTheLimit) {
    silent_agent quiet;
    silent_agent removed;
    for (const silent_agent *a : {&quiet, &removed}) {
        const json_check::value created = get_json(
            http_port_, "/api_snmp_agent_create?ip=127.0.0.1&community=public&port=" + std::to_string(a->port()));
        ASSERT_EQ(created["ret"].as_int(), 0);
    }
    json_check::value timed_out;
    json_check::value abandoned;
    std::chrono::milliseconds timed_out_after{};
    std::chrono::milliseconds abandoned_after{};
    const auto start = clock::now();
    std::thread first([&] {
        timed_out = get_json(http_port_, "/api_snmp_get?ip=127.0.0.1&oid=1.3.6.1.2.1.1.1.0&port=" +
                                             std::to_string(quiet.port()));
        timed_out_after = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start);
    });
    std::thread second([&] {
        abandoned = get_json(http_port_, "/api_snmp_get?ip=127.0.0.1&oid=1.3.6.1.2.1.1.1.0&port=" +
                                             std::to_string(removed.port()));
        abandoned_after = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start);
    });
    // The SDK drops an outstanding request of a removed agent without ever calling back.
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(get_json(http_port_, "/api_snmp_agent_remove?ip=127.0.0.1&port=" + std::to_string(removed.port()))["ret"]
                  .as_int(),
              0);
    // Meanwhile the other workers keep answering.
    EXPECT_EQ(get_json(http_port_, "/api_snmp_get_agent_count")["count"].as_int(), 1);
    first.join();
    second.join();

    // The SDK's own time-out report: error-status 0xFFFFFFFF, printed signed.
    EXPECT_EQ(timed_out["ret"].as_int(), -1);
    EXPECT_EQ(timed_out["msg"].str(), "unknownError");
    EXPECT_GT(timed_out_after, 10s);
    // No report at all: the worker gives up after the SDK's longest time plus its margin.
    EXPECT_EQ(abandoned["ret"].as_int(), 6);
    EXPECT_EQ(abandoned["msg"].str(), "响应超时（设备未在规定时间内回复）");
    EXPECT_GT(abandoned_after, 20s);
    EXPECT_LT(abandoned_after, 30s);
    EXPECT_NE(service_->output().find("[API] api_snmp_get no answer within 22 s\n"), std::string::npos);
}

TEST_F(ServiceSlow, SlowAndIdleClientsDoNotDelayOthers) {
    // 100 connections, half idle, half sending their head a byte every half second, from four
    // addresses; meanwhile a normal client is answered at once, again and again.
    constexpr size_t k_slow = 100;
    const intake_test::slow_clients slow(http_port_, k_slow, 2, k_slow / 4);
    ASSERT_EQ(slow.connected(), k_slow);
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < 5; ++i) {
        const auto start = clock::now();
        EXPECT_EQ(get_json(http_port_, "/api_snmp_get_agent_count", 5s)["ret"].as_int(), 0);
        EXPECT_LT(clock::now() - start, 1s) << "request " << i;
        std::this_thread::sleep_for(200ms);
    }
    // One address cannot take more than its share: past 32 connections it is refused at once.
    std::vector<int> many;
    for (int i = 0; i < 32; ++i) {
        many.push_back(intake_test::connect_from(http_port_, intake_test::loopback(9)));
    }
    EXPECT_EQ(intake_test::status_of(intake_test::exchange_from(http_port_, intake_test::loopback(9), "", 2s)), 429);
    for (const int sock : many) {
        close(sock);
    }
}

} // namespace
} // namespace service_test
