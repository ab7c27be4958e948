// snmp_api_demo driven as a process: its start-up rule and its prompt, with a codec-based responder
// standing in for the agent at 127.0.0.1:161.
#include <gtest/gtest.h>

#include <regex>

#include "codec/snmp_types.h"
#include "tests/apps_cli/apps_test_support.h"

namespace apps_test {
namespace {

const std::string k_demo = VEK_DEMO_PATH;
constexpr uint16_t k_agent_port = 161;
const std::string k_led_oid = "1.3.6.1.4.1.12345.1.2";

TEST(Demo, AnyArgumentOnlyLogsTheWarning) {
    const run_result r = run_program(k_demo, {"--help"}, "get\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("\\[[0-9]+\\] \\[WARN\\] 无效参数，直接运行程序进入交互模式\n")))
        << r.out;
}

TEST(Demo, PromptSendsItsRequestsToTheOneAgent) {
    snmp_responder agent(k_agent_port);
    if (!agent.ok()) {
        GTEST_SKIP() << "cannot bind 127.0.0.1:161 (needs root and a free port)";
    }
    // The LED command comes first, so the one agent is SNMPv1 with community "private" and the later
    // read commands reuse it as it is: GET-NEXT goes out as SNMPv1 has it, GET-BULK is refused for
    // SNMPv1 and never sent.
    const run_result r = run_program(
        k_demo, {}, "help\nset-led0\nget\ngetnext\nbulkwalk\nstart-listen\nstart-listen\nstop-listen\nexit\n", 30s);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("[WARN] 无效命令: help\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[WARN] TRAP 监听已在运行\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[ERROR] GET-BULK 不支持 SNMPv1\n"), std::string::npos) << r.out;
    // Its own INFO lines stay silent at WARN; the prompts are plain output.
    EXPECT_EQ(r.out.find("[INFO]"), std::string::npos);
    EXPECT_EQ(count_of(r.out, "> "), 9u);

    const std::vector<seen_request> seen = agent.requests();
    ASSERT_EQ(seen.size(), 3u) << r.out;
    for (const seen_request &req : seen) {
        EXPECT_EQ(req.version, SNMP_VERSION_1);
        EXPECT_EQ(req.community, "private");
    }
    EXPECT_EQ(seen[0].op, static_cast<uint32_t>(SNMP_OP_SET));
    EXPECT_EQ(seen[0].oids, std::vector<std::string>{k_led_oid});
    EXPECT_EQ(seen[0].integer_values, std::vector<int32_t>{0});
    EXPECT_EQ(seen[1].op, static_cast<uint32_t>(SNMP_OP_GET));
    EXPECT_EQ(seen[1].oids, (std::vector<std::string>{"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.4.0"}));
    EXPECT_EQ(seen[2].op, static_cast<uint32_t>(SNMP_OP_GETNEXT));
    EXPECT_EQ(seen[2].oids, std::vector<std::string>{"1.3.6.1.2.1.1"});
}

TEST(Demo, ReadCommandFirstMakesAV2cAgent) {
    snmp_responder agent(k_agent_port);
    if (!agent.ok()) {
        GTEST_SKIP() << "cannot bind 127.0.0.1:161 (needs root and a free port)";
    }
    const run_result r = run_program(k_demo, {}, "bulkwalk\nset-led1\n", 30s);
    EXPECT_EQ(r.exit_code, 0);
    const std::vector<seen_request> seen = agent.requests();
    ASSERT_EQ(seen.size(), 2u) << r.out;
    EXPECT_EQ(seen[0].op, static_cast<uint32_t>(SNMP_OP_GETBULK));
    EXPECT_EQ(seen[0].non_repeaters, 0u);
    EXPECT_EQ(seen[0].max_repetitions, 5u);
    EXPECT_EQ(seen[1].op, static_cast<uint32_t>(SNMP_OP_SET));
    EXPECT_EQ(seen[1].integer_values, std::vector<int32_t>{1});
    for (const seen_request &req : seen) {
        EXPECT_EQ(req.version, SNMP_VERSION_2C);
        EXPECT_EQ(req.community, "public");
    }
}

} // namespace
} // namespace apps_test
