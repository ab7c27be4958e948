/* The whole chain in a real browser: veksnmpagent, snmp_service and snmp_web_bridge as processes on
 * free high ports, and tests/browser/stack_page_test.js (playwright-core driving Debian's chromium)
 * working the page. Skipped when node, chromium or the npm package are missing
 * (scripts/install_browser_deps.sh installs them). */
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tests/web_stack/stack_support.h"

#ifndef VEK_BROWSER_TEST_DIR
#error "VEK_BROWSER_TEST_DIR must name tests/browser"
#endif

namespace {

using namespace web_stack;

constexpr auto k_script_limit = 120s;
constexpr int k_exit_skip = 77;
/* Markup the page sets as sysContact (see stack_page_test.js). */
constexpr std::string_view k_markup = "<b>x</b><img/src='x'/onerror=alert(1)>";
constexpr std::string_view k_link_up = "1.3.6.1.6.3.1.1.5.4";
constexpr std::string_view k_link_down = "1.3.6.1.6.3.1.1.5.3";

std::string get_target(uint16_t agent_port, std::string_view oid) {
    return "/api_snmp_get?ip=127.0.0.1&port=" + std::to_string(agent_port) + "&oid=" + std::string(oid);
}

TEST(WebStackBrowser, PageDrivesAgentThroughBridgeAndService) {
    const std::filesystem::path dir = VEK_BROWSER_TEST_DIR;
    const auto node = find_on_path("node");
    const char *chromium_env = std::getenv("CHROMIUM_PATH");
    const std::string chromium = chromium_env != nullptr ? chromium_env : "/usr/bin/chromium";
    if (!node) {
        GTEST_SKIP() << "node is not installed (scripts/install_browser_deps.sh installs it)";
    }
    if (::access(chromium.c_str(), X_OK) != 0) {
        GTEST_SKIP() << chromium << " is missing (scripts/install_browser_deps.sh installs it)";
    }
    if (!std::filesystem::exists(dir / "node_modules" / "playwright-core")) {
        GTEST_SKIP() << "playwright-core is not installed in " << dir << " (run scripts/install_browser_deps.sh)";
    }

    const uint16_t trap_port = free_udp_port();
    agent device(trap_port);
    ASSERT_TRUE(device.ready()) << device.proc().output() << device.proc().errors();
    service nms(free_tcp_port(), trap_port);
    ASSERT_TRUE(nms.ready()) << nms.proc().errors();
    bridge web(nms.port(), device.port());
    ASSERT_TRUE(web.ready()) << web.proc().errors();

    std::vector<std::string> env{"CHROMIUM_PATH=" + chromium, "STACK_AGENT_PORT=" + std::to_string(device.port())};
    if (const char *shot = std::getenv("STACK_SCREENSHOT")) {
        env.push_back(std::string("STACK_SCREENSHOT=") + shot);
    }
    process script(*node, {(dir / "stack_page_test.js").string(), web.url()}, env);
    const auto code = script.wait_exit(k_script_limit);
    std::cout << script.output();
    ASSERT_TRUE(code.has_value()) << "the browser test did not finish\n" << script.errors();
    if (*code == k_exit_skip) {
        GTEST_SKIP() << script.output();
    }
    EXPECT_EQ(*code, 0) << script.errors();

    /* What the page did reached the agent and the service. */
    const auto contact = get_json(nms.port(), get_target(device.port(), k_sys_contact_oid));
    ASSERT_TRUE(contact.has_value());
    EXPECT_EQ((*contact)["data"][0]["value"].str(), k_markup);
    const auto led = get_json(nms.port(), get_target(device.port(), k_led_oid));
    ASSERT_TRUE(led.has_value());
    EXPECT_EQ((*led)["data"][0]["value"].str(), "0");
    const auto traps = get_json(nms.port(), "/api_snmp_trap_list");
    ASSERT_TRUE(traps.has_value());
    std::vector<std::string> notification_oids;
    for (const auto &item : (*traps)["list"].items) {
        notification_oids.push_back(item["varbinds"][1]["value"].str());
    }
    EXPECT_EQ(notification_oids, (std::vector<std::string>{std::string(k_link_up), std::string(k_link_down)}));
    EXPECT_NE(web.log_file().find("请求：SNMP SET | ip=127.0.0.1 port=" + std::to_string(device.port())),
              std::string::npos);
}

} // namespace
