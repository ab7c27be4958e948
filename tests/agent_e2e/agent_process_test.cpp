// veksnmpagent as a process: usage, refused arguments, ports it cannot have, Ctrl+C, the console,
// the end of standard input, the manager whitelist and the LED's notifications.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "tests/agent_e2e/agent_e2e_support.h"

namespace agent_e2e {
namespace {

constexpr int k_exit_usage = 2;
constexpr auto k_no_answer_wait = 400ms;

/* The value veksnmpnms prints for one object of the agent. */
std::string cli_get(const std::string &target, const std::string &oid) {
    const run_result r = run_cli({"get", "-t", "2000", target, oid});
    const std::vector<std::string> values = cli_values(r.out);
    return values.size() == 1 ? values[0] : "<no answer>\n" + r.out;
}

TEST(AgentProcess, HelpPrintsTheUsageAndExitsZero) {
    const run_result r = run_merged(k_agent, {"-h"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out.starts_with("Usage: veksnmpagent [options]\n")) << r.out;
    for (const char *line : {"  -p <port>        UDP port to listen on (default 161)\n",
                             "  -W <address>     accept requests only from this manager",
                             "  -t <ip[:port]>   where traps and informs go (default 127.0.0.1:162)\n"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    }
}

TEST(AgentProcess, RefusedArgumentsExitWithUsageCode) {
    const run_result port = run_merged(k_agent, {"-p", "70000"});
    EXPECT_EQ(port.exit_code, k_exit_usage);
    EXPECT_EQ(port.out, "veksnmpagent: invalid port '70000' (1-65535)\nRun 'veksnmpagent -h' for the options.\n");

    const run_result user = run_merged(k_agent, {"-u", "admin", "-a", "SHA1"});
    EXPECT_EQ(user.exit_code, k_exit_usage);
    EXPECT_NE(user.out.find("needs its password (-A)"), std::string::npos) << user.out;
}

TEST(AgentProcess, PortThatCannotBeBoundIsNamedAndEndsTheProgram) {
    snmp_responder occupant;
    ASSERT_TRUE(occupant.ok());
    const std::string port = std::to_string(occupant.port());
    const run_result r = run_merged(k_agent, {"-p", port}, 5s);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("veksnmpagent: cannot listen on UDP port " + port + ": the port is in use\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("listening on"), std::string::npos);

    // A second agent on the port of a running one is refused the same way.
    agent_under_test first;
    ASSERT_TRUE(first.ready()) << first.output();
    const run_result second = run_merged(k_agent, {"-p", std::to_string(first.port())}, 5s);
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_NE(second.out.find("cannot listen on UDP port " + std::to_string(first.port())), std::string::npos)
        << second.out;
    EXPECT_EQ(first.interrupt(), 0);
}

TEST(AgentProcess, CtrlCAndTerminateStopCleanly) {
    for (const int sig : {SIGINT, SIGTERM}) {
        agent_under_test agent;
        ASSERT_TRUE(agent.ready()) << agent.output();
        EXPECT_NE(agent.output().find("  communities: read-only '***', read-write '***'\n"), std::string::npos);
        EXPECT_EQ(agent.output().find("private"), std::string::npos) << "the configured community is a secret";
        EXPECT_NE(agent.output().find("  notifications to 127.0.0.1:162\n"), std::string::npos);
        const auto start = std::chrono::steady_clock::now();
        agent.process().send_signal(sig);
        EXPECT_EQ(agent.process().wait_exit(5s), 0) << "signal " << sig;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_NE(agent.output().find("veksnmpagent stopped\n"), std::string::npos) << agent.output();
    }
}

TEST(AgentProcess, EngineBootsGrowAtEveryStartAndAreKeptInTheirFile) {
    char dir[] = "/tmp/vek_boots_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/state/boots";
    for (const char *expected : {"  engine boots: 1 (kept in ", "  engine boots: 2 (kept in "}) {
        agent_under_test agent({"-b", file});
        ASSERT_TRUE(agent.ready()) << agent.output();
        EXPECT_NE(agent.output().find(expected + file + ")\n"), std::string::npos) << agent.output();
        EXPECT_EQ(agent.interrupt(), 0);
    }
    std::ifstream kept(file);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "2");

    // An agent that cannot keep its boots does not start: its next run would repeat this one's.
    const run_result r = run_merged(k_agent, {"-p", std::to_string(free_udp_port()), "-b", file + "/below-a-file"}, 5s);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("cannot keep the SNMPv3 engine boots in " + file + "/below-a-file"), std::string::npos)
        << r.out;
    std::filesystem::remove_all(dir);
}

TEST(AgentProcess, EndOfStandardInputDoesNotStopTheAgent) {
    agent_under_test agent;
    ASSERT_TRUE(agent.ready()) << agent.output();
    agent.process().close_stdin();
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(agent.process().wait_exit(0ms).has_value()) << agent.output();
    EXPECT_EQ(cli_get(agent.target(), k_sys_descr), k_sys_descr + " = STRING: " + k_sys_descr_text);
    EXPECT_EQ(agent.interrupt(), 0);
}

TEST(AgentProcess, ConsoleCommandsDriveTheSimulatedHardware) {
    agent_under_test agent;
    ASSERT_TRUE(agent.ready()) << agent.output();
    child_process &p = agent.process();
    EXPECT_NE(agent.output().find("Type 'help' for console commands"), std::string::npos);
    p.write_stdin("temp 85\nfan 1000\nled 1\n");
    ASSERT_TRUE(p.wait_for_output("LED switched on\n", 3s)) << agent.output();
    EXPECT_NE(agent.output().find("temperature set to 85 C\nfan PWM set to 1000 (10000 RPM)\n"), std::string::npos);
    EXPECT_EQ(cli_get(agent.target(), k_temp), k_temp + " = INTEGER: 85");
    EXPECT_EQ(cli_get(agent.target(), k_fan), k_fan + " = UINT32: 10000");
    EXPECT_EQ(cli_get(agent.target(), k_led), k_led + " = INTEGER: 1");

    // Values outside the hardware's ranges change nothing.
    size_t from = agent.output().size();
    p.write_stdin("temp 86\ntemp -41\nfan 1001\nled 2\ntemp warm\nstatus\n");
    ASSERT_TRUE(p.wait_for_output("notifications to 127.0.0.1:162\n", 3s, from)) << agent.output();
    const std::string replies = agent.output().substr(from);
    EXPECT_EQ(count_of(replies, "temp: give whole degrees Celsius from -40 to 85\n"), 3u) << replies;
    EXPECT_NE(replies.find("fan: give a PWM value from 0 to 1000\n"), std::string::npos);
    EXPECT_NE(replies.find("led: give 0 (off) or 1 (on)\n"), std::string::npos);
    EXPECT_NE(replies.find("temperature 85 C, LED on, fan PWM 1000 (10000 RPM), notifications to 127.0.0.1:162\n"),
              std::string::npos)
        << replies;
    p.write_stdin("temp -40\n");
    ASSERT_TRUE(p.wait_for_output("temperature set to -40 C\n", 3s)) << agent.output();
    EXPECT_EQ(cli_get(agent.target(), k_temp), k_temp + " = INTEGER: -40");

    from = agent.output().size();
    p.write_stdin("frobnicate\nhelp\n");
    ASSERT_TRUE(p.wait_for_output("  quit                  stop the agent\n", 3s, from)) << agent.output();
    EXPECT_NE(agent.output().find("unknown command 'frobnicate' (type help)\n", from), std::string::npos);

    p.write_stdin("quit\n");
    EXPECT_EQ(p.wait_exit(5s), 0);
    EXPECT_NE(agent.output().find("veksnmpagent stopped\n"), std::string::npos);
}

TEST(AgentProcess, WhitelistRefusesOtherManagers) {
    {
        agent_under_test agent({"-W", "127.0.0.3"});
        ASSERT_TRUE(agent.ready()) << agent.output();
        EXPECT_NE(agent.output().find("  accepting: 127.0.0.1, 127.0.0.3\n"), std::string::npos) << agent.output();
        EXPECT_EQ(raw_get_sys_descr("127.0.0.2", agent.port(), k_no_answer_wait), std::nullopt);
        // The local host is always accepted.
        EXPECT_EQ(raw_get_sys_descr("127.0.0.1", agent.port(), 2s), k_sys_descr_text);
        EXPECT_EQ(agent.interrupt(), 0);
    }
    {
        agent_under_test agent({"-W", "127.0.0.2"});
        ASSERT_TRUE(agent.ready()) << agent.output();
        EXPECT_EQ(raw_get_sys_descr("127.0.0.2", agent.port(), 2s), k_sys_descr_text);
        EXPECT_EQ(raw_get_sys_descr("127.0.0.4", agent.port(), k_no_answer_wait), std::nullopt);
        EXPECT_EQ(agent.interrupt(), 0);
    }
    // Without a whitelist every manager is answered.
    agent_under_test open;
    ASSERT_TRUE(open.ready()) << open.output();
    EXPECT_EQ(raw_get_sys_descr("127.0.0.5", open.port(), 2s), k_sys_descr_text);
    EXPECT_EQ(open.interrupt(), 0);
}

TEST(AgentProcess, LedSetSendsLinkNotificationsToTheTarget) {
    const uint16_t trap_port = free_udp_port();
    child_process listener(k_cli, {"traplisten", "-p", std::to_string(trap_port)});
    ASSERT_TRUE(listener.wait_for_output("后台监听中...\n", 5s)) << listener.output();
    agent_under_test agent({"-t", local_target(trap_port)});
    ASSERT_TRUE(agent.ready()) << agent.output();

    const run_result on = run_cli({"set", "-c", "private", "-t", "2000", agent.target(), k_led, "i", "1"});
    EXPECT_NE(on.out.find("执行成功（共1个变量）"), std::string::npos) << on.out;
    ASSERT_TRUE(listener.wait_for_output("OID: " + k_link_up + "\n", 5s)) << listener.output();
    const std::string &got = listener.output();
    EXPECT_NE(got.find("= INTEGER: 1\n  [4] OID：1.3.6.1.2.1.2.2.1.7.1 = INTEGER: 1\n"
                       "  [5] OID：1.3.6.1.2.1.2.2.1.8.1 = INTEGER: 1\n"),
              std::string::npos)
        << got;
    EXPECT_TRUE(agent.process().wait_for_output("LED switched on by a manager: linkUp inform sent to " +
                                                    local_target(trap_port) + "\n",
                                                2s))
        << agent.output();

    size_t from = listener.output().size();
    const run_result off = run_cli({"set", "-v", "1", "-c", "private", "-t", "2000", agent.target(), k_led, "i", "0"});
    EXPECT_NE(off.out.find("执行成功（共1个变量）"), std::string::npos) << off.out;
    ASSERT_TRUE(listener.wait_for_output("OID: " + k_link_down + "\n", 5s, from)) << listener.output();
    EXPECT_NE(listener.output().find("  [4] OID：1.3.6.1.2.1.2.2.1.7.1 = INTEGER: 2\n", from), std::string::npos);

    // A refused SET sends nothing.
    from = listener.output().size();
    const run_result bad = run_cli({"set", "-c", "private", "-t", "400", agent.target(), k_led, "i", "2"});
    EXPECT_NE(bad.out.find("协议错误（状态码：14）"), std::string::npos) << bad.out;

    // Custom notifications from the console go to the same target.
    agent.process().write_stdin("trap 1.3.6.1.4.1.12345.2.1 disk almost full\ninform .1.3.6.1.4.1.12345.2.2 42\n");
    ASSERT_TRUE(listener.wait_for_output("  [3] OID：1.3.6.1.4.1.12345.2.1.1 = STRING: disk almost full\n", 5s, from))
        << listener.output();
    ASSERT_TRUE(listener.wait_for_output("  [3] OID：1.3.6.1.4.1.12345.2.2.1 = INTEGER: 42\n", 5s, from))
        << listener.output();
    EXPECT_EQ(listener.output().find(k_link_up, from), std::string::npos);
    EXPECT_TRUE(agent.process().wait_for_output("inform .1.3.6.1.4.1.12345.2.2 sent to " + local_target(trap_port), 2s));
    agent.process().write_stdin("trap 1.3.x\n");
    EXPECT_TRUE(agent.process().wait_for_output("trap 1.3.x failed: OID format invalid (8)\n", 2s)) << agent.output();

    EXPECT_EQ(agent.interrupt(), 0);
    listener.send_signal(SIGINT);
    EXPECT_EQ(listener.wait_exit(5s), 0);
}

} // namespace
} // namespace agent_e2e
