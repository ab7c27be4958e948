/* A flood of undecodable datagrams at an agent writes a couple of log lines a second, not one per
 * datagram: the first line of each kind, then the count of those held back. */
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "tests/apps_cli/apps_test_support.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

constexpr std::string_view k_decode_failed = "] SNMP消息解码失败: ";
constexpr std::string_view k_held_back = "条同类日志未输出：SNMP消息解码失败";
constexpr auto k_flood_time = 2500ms;
constexpr auto k_flood_gap = 1ms; /* about 1000 datagrams a second */

TEST(LogFlood, JunkDatagramsAtTheAgentWriteAFewLinesASecond) {
    const uint16_t port = apps_test::free_udp_port();
    apps_test::child_process agent(VEK_AGENT_PATH, {"-p", std::to_string(port), "-lvl", "2"});
    ASSERT_TRUE(agent.wait_for_output("Ctrl+C stops the agent.\n", 10s)) << agent.output();
    const size_t start = agent.output().size();

    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    constexpr std::array<unsigned char, 5> junk = {0x30, 0x03, 0x02, 0x01, 0x00}; /* a message cut short */
    size_t sent = 0;
    const auto send_junk = [&] {
        sent += ::sendto(sock, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) > 0 ? 1 : 0;
    };
    for (const auto until = clock_type::now() + k_flood_time; clock_type::now() < until;) {
        send_junk();
        std::this_thread::sleep_for(k_flood_gap);
    }
    std::this_thread::sleep_for(1100ms);
    send_junk(); /* a second later: the count of the held-back lines comes first */
    ::close(sock);
    ASSERT_TRUE(agent.wait_for_output(k_held_back, 5s, start)) << agent.output().substr(start);
    std::this_thread::sleep_for(200ms);
    agent.wait_for_output("\n\n", 100ms, agent.output().size()); /* reads what is left */

    /* Each datagram is reported by a few kinds of lines; each kind writes about one line a second. */
    constexpr size_t k_kinds_per_datagram = 4;
    constexpr size_t k_windows = 5; /* the seconds the flood touches, and the last datagram's */
    const std::string flood_log = agent.output().substr(start);
    ASSERT_GT(sent, 1000u);
    EXPECT_GE(apps_test::count_of(flood_log, k_decode_failed), 2u) << flood_log;
    EXPECT_LE(apps_test::count_of(flood_log, k_decode_failed), k_windows)
        << "one line a second for " << sent << " datagrams:\n" << flood_log;
    EXPECT_GE(apps_test::count_of(flood_log, k_held_back), 1u) << flood_log;
    EXPECT_LE(apps_test::count_of(flood_log, "\n"), 2 * k_kinds_per_datagram * k_windows) << flood_log;
}

} // namespace
