/* The bridge in front of the real service and agent while the service is stopped and started again:
 * requests are answered "NMS offline" once the bridge's health check has seen the service gone, and
 * are forwarded again once it has seen it back. */
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <string>

#include "tests/web_stack/stack_support.h"

namespace {

using namespace web_stack;
using clock = std::chrono::steady_clock;

constexpr std::string_view k_offline = R"({"ret":-99,"msg":"NMS offline"})";
constexpr std::string_view k_connect_failed = R"({"ret":-98,"msg":"connect failed"})";
constexpr std::string_view k_gone_line = "后端NMS服务已断开";
constexpr std::string_view k_back_line = "后端NMS服务已恢复在线";
/* The health check runs every 2 s and gives a connection attempt at most 1 s. */
constexpr auto k_health_limit = 2500ms;
/* Room for scheduling and the sanitizers on top of it. */
constexpr auto k_margin = 1000ms;
constexpr auto k_stop_limit = 10s;
constexpr auto k_probe_pause = 50ms;
constexpr auto k_offline_answer_limit = 500ms;
constexpr int64_t k_agent_not_found = 2;

std::string bridge_get(const agent &device) {
    return "/snmp_get?ip=127.0.0.1&port=" + std::to_string(device.port()) + "&oid=" + std::string(k_sys_descr_oid);
}

std::string bridge_add(const agent &device) {
    return "/agent_add?ip=127.0.0.1&port=" + std::to_string(device.port()) + "&version=1&community=public";
}

/* GET through the bridge answers sysDescr. */
void expect_sys_descr(uint16_t bridge_port, const agent &device) {
    std::string error;
    const auto answer = get_json(bridge_port, bridge_get(device), &error);
    ASSERT_TRUE(answer.has_value()) << error;
    EXPECT_EQ((*answer)["ret"].as_int(), 0);
    EXPECT_EQ((*answer)["data"][0]["value"].str(), k_sys_descr_text);
}

TEST(WebStackRestart, BridgeReportsServiceStopAndRecovers) {
    const uint16_t trap_port = free_udp_port();
    const uint16_t service_port = free_tcp_port();
    agent device(trap_port);
    ASSERT_TRUE(device.ready()) << device.proc().errors();
    auto nms = std::make_unique<service>(service_port, trap_port);
    ASSERT_TRUE(nms->ready()) << nms->proc().errors();
    bridge web(service_port, device.port());
    ASSERT_TRUE(web.ready()) << web.proc().errors();

    const auto added = get_json(web.port(), bridge_add(device));
    ASSERT_TRUE(added.has_value());
    ASSERT_EQ((*added)["ret"].as_int(), 0);
    expect_sys_descr(web.port(), device);

    /* Stopped: the answers go from forwarded or "connect failed" to "NMS offline" within one check. */
    EXPECT_EQ(nms->proc().stop(k_stop_limit), 0) << "snmp_service did not end cleanly on SIGTERM";
    nms.reset();
    const auto stopped_at = clock::now();
    std::string last;
    const bool offline = wait_until(
        [&] {
            last = http_get(web.port(), bridge_get(device)).value_or("<no answer>");
            EXPECT_TRUE(last == k_offline || last == k_connect_failed) << last;
            std::this_thread::sleep_for(k_probe_pause);
            return last == k_offline;
        },
        k_health_limit + k_margin);
    ASSERT_TRUE(offline) << "last answer: " << last;
    const auto noticed_after = clock::now() - stopped_at;
    EXPECT_LE(noticed_after, k_health_limit + k_margin);

    /* While offline the bridge answers at once, for every forwarded path, and still serves its own. */
    const auto asked_at = clock::now();
    EXPECT_EQ(http_get(web.port(), bridge_add(device)).value_or(""), k_offline);
    EXPECT_LE(clock::now() - asked_at, k_offline_answer_limit);
    EXPECT_EQ(http_get(web.port(), "/agent_list").value_or(""), k_offline);
    EXPECT_EQ(http_get(web.port(), "/status").value_or(""), R"({"running":1,"mode":"full-bridge"})");
    EXPECT_TRUE(device.proc().running());

    /* Started again: forwarded again within one check; the new service has no agent record yet. */
    nms = std::make_unique<service>(service_port, trap_port);
    ASSERT_TRUE(nms->ready()) << nms->proc().errors();
    const auto restarted_at = clock::now();
    const bool online = wait_until(
        [&] {
            last = http_get(web.port(), bridge_get(device)).value_or("<no answer>");
            std::this_thread::sleep_for(k_probe_pause);
            return last != k_offline;
        },
        k_health_limit + k_margin);
    ASSERT_TRUE(online) << "still offline";
    EXPECT_LE(clock::now() - restarted_at, k_health_limit + k_margin);
    const auto not_found = json_check::parse(last);
    ASSERT_TRUE(not_found.has_value()) << last;
    EXPECT_EQ((*not_found)["ret"].as_int(), k_agent_not_found) << last;

    const auto readded = get_json(web.port(), bridge_add(device));
    ASSERT_TRUE(readded.has_value());
    EXPECT_EQ((*readded)["ret"].as_int(), 0);
    expect_sys_descr(web.port(), device);

    /* Each change of state is logged once. */
    const std::string log = web.log_file();
    EXPECT_EQ(count_of(log, k_gone_line), 1u) << log;
    EXPECT_EQ(count_of(log, k_back_line), 1u) << log;
    EXPECT_LT(log.find(k_gone_line), log.find(k_back_line));
    std::cout << "offline noticed after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(noticed_after).count() << " ms\n";
}

} // namespace
