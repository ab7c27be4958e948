// Sending and retransmitting outside the list lock: a request whose datagram cannot be sent still
// ends with one failure outcome, and retransmissions due in one second are logged as the first
// one's line and one line with their number while each is counted on its own request.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core_test_support.h"

namespace core_test {
namespace {

constexpr uint32_t kSecondsLate = 5;  // longer ago than the 3000 ms time-out

// Runs the tick up to and including its next once-a-second check.
void run_to_next_check() {
    for (uint32_t i = 0; i < CORE_TICKS_PER_SECOND; ++i) {
        core_snmp_1ms_timer_tick();
    }
}

size_t occurrences(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// A broadcast address without the broadcast option set: the system refuses the datagram.
TEST_F(CoreTest, RequestThatCannotBeSentEndsWithOneNetworkFailure) {
    constexpr char kBroadcast[] = "255.255.255.255";
    constexpr uint16_t kPort = 161;
    api_snmp_agent_config config{};
    config.version = API_SNMP_V2C;
    std::snprintf(config.community, sizeof config.community, "%s", "public");
    ASSERT_EQ(snmp_core_agent_create(kBroadcast, kPort, &config), API_SNMP_OK);
    const api_snmp_varbind vb = get_varbind();
    int token = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {  // the failed request left the slot free
        EXPECT_EQ(snmp_core_send_cmd(API_SNMP_CMD_GET, kBroadcast, kPort, nullptr, &vb, 1, &token),
                  API_SNMP_ERR_NETWORK);
    }
    ASSERT_TRUE(recorder().wait_responses(2));
    for (const ResponseRecord &failure : recorder().responses()) {
        EXPECT_EQ(failure.response.error, static_cast<uint32_t>(API_SNMP_ERR_NETWORK));
        EXPECT_EQ(failure.user_data, &token);
    }
}

TEST_F(CoreTest, RetransmissionsOfOneSecondAreLoggedAsTheFirstOneAndTheirNumber) {
    constexpr size_t kAgents = 3;
    std::vector<std::unique_ptr<Responder>> silent;  // never answer
    for (size_t i = 0; i < kAgents; ++i) {
        silent.push_back(std::make_unique<Responder>());
        const uint16_t port = silent.back()->port();
        ASSERT_EQ(create_agent(port, API_SNMP_V2C), API_SNMP_OK);
        ASSERT_EQ(send_get(port), API_SNMP_OK);
        with_agent(port, [](snmp_core_agent &agent) { agent.last_send_time -= kSecondsLate; });
    }

    testing::internal::CaptureStdout();
    run_to_next_check();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(occurrences(log, "core_check_all_agent_timeout: 命令重发（ID："), 1u) << log;
    EXPECT_EQ(occurrences(log, "core_check_all_agent_timeout: 本秒共重发3个请求（仅列出第一个）"), 1u) << log;
    for (const auto &peer : silent) {
        EXPECT_TRUE(peer->wait_count(2)) << "sent and retransmitted";
        with_agent(peer->port(), [](snmp_core_agent &agent) { EXPECT_EQ(agent.retry_count, 1); });
    }
}

}  // namespace
}  // namespace core_test
