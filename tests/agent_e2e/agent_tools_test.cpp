// Debian's standard tools against veksnmpagent (v1 and v2c): snmpget, snmpgetnext, snmpwalk and
// snmpbulkwalk of the whole agent must end cleanly and print the values veksnmpnms prints; snmpset
// writes; snmptrapd receives the LED's linkDown trap and acknowledges its linkUp inform, which the
// agent then matches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/agent_e2e/agent_e2e_support.h"

namespace agent_e2e {
namespace {

constexpr const char *k_missing_tools = "the standard SNMP tools are not installed (Debian package snmp)";

constexpr std::string_view k_end_of_view = " = No more variables left in this MIB View";

/* One entry per object: the tools continue long Hex-STRING values on further lines. */
std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(".") || lines.empty()) {
            lines.push_back(line);
        } else {
            lines.back() += "\n" + line;
        }
    }
    return lines;
}

/* "<oid> = <value>" of the standard tools (-On) in veksnmpnms's notation; the sysUpTime and
 * snmpEngineID values are masked as in the manager's lines. */
std::string tool_to_cli(const std::string &line) {
    const size_t eq = line.find(" = ");
    if (eq == std::string::npos || !line.starts_with(".")) {
        return "<unexpected line> " + line;
    }
    const std::string oid = line.substr(1, eq - 1);
    std::string value = line.substr(eq + 3);
    if (oid == k_sys_uptime) {
        return oid + " = TIMETICKS: *";
    }
    if (oid == k_engine_id) {
        return oid + " = STRING: *";
    }
    if (value.starts_with("STRING: \"") && value.ends_with("\"")) {
        value = "STRING: " + value.substr(9, value.size() - 10);
    } else if (value.starts_with("Gauge32: ")) {
        value = "UINT32: " + value.substr(9);
    }
    return oid + " = " + value;
}

std::vector<std::string> cli_masked(const std::string &out) {
    std::vector<std::string> values = cli_values(out);
    for (std::string &v : values) {
        for (const std::string &oid : {k_sys_uptime, k_engine_id}) {
            if (v.starts_with(oid + " = ")) {
                v = v.substr(0, v.find(": ") + 2) + "*";
            }
        }
    }
    return values;
}

std::vector<std::string> tool_values(const std::string &tool, std::vector<std::string> args) {
    args.insert(args.begin(), "-On");
    const run_result r = run_snmp_tool(tool, args);
    std::vector<std::string> out;
    for (const std::string &line : lines_of(r.out)) {
        out.push_back(tool_to_cli(line));
    }
    return out;
}

class AgentWithStandardTools : public ::testing::Test {
protected:
    static void SetUpTestSuite() { agent_ = std::make_unique<agent_under_test>(); }
    static void TearDownTestSuite() { agent_.reset(); }
    void SetUp() override {
        if (!find_program("snmpget") || !find_program("snmpbulkwalk")) {
            GTEST_SKIP() << k_missing_tools;
        }
        ASSERT_TRUE(agent_->ready()) << agent_->output();
    }
    static std::unique_ptr<agent_under_test> agent_;
};

std::unique_ptr<agent_under_test> AgentWithStandardTools::agent_;

TEST_F(AgentWithStandardTools, SnmpgetPrintsWhatOurManagerPrints) {
    for (const std::string version : {"1", "2c"}) {
        std::vector<std::string> args = {"-v" + version, "-c", "public", agent_->target()};
        args.insert(args.end(), k_all_oids.begin(), k_all_oids.end());
        const std::vector<std::string> tools = tool_values("snmpget", args);
        std::vector<std::string> cli_args = {"get", "-v", version, "-t", "3000", agent_->target()};
        cli_args.insert(cli_args.end(), k_all_oids.begin(), k_all_oids.end());
        const std::vector<std::string> ours = cli_masked(run_cli(cli_args).out);
        ASSERT_EQ(tools.size(), 7u) << "version " << version;
        EXPECT_EQ(tools, ours) << "version " << version;
        EXPECT_EQ(tools[3], k_temp + " = INTEGER: 25");
        EXPECT_EQ(tools[5], k_fan + " = UINT32: 5000");
    }
    // The engine ID as the standard tools see it.
    const run_result id = run_snmp_tool("snmpget", {"-On", "-v2c", "-c", "public", agent_->target(), k_engine_id});
    EXPECT_EQ(id.out, "." + k_engine_id + " = Hex-STRING: 80 00 30 39 04 76 65 6B 73 6E 6D 70 61 67 65 6E \n74 \n")
        << id.out;
}

/* The sub-identifiers of "<oid>" for comparing in OID order. */
std::vector<uint32_t> arcs_of(const std::string &oid) {
    std::vector<uint32_t> arcs;
    std::istringstream in(oid);
    for (std::string arc; std::getline(in, arc, '.');) {
        arcs.push_back(static_cast<uint32_t>(std::stoul(arc)));
    }
    return arcs;
}

/* The OIDs of a walk's lines, and whether each one's value is a Counter64. */
struct walked {
    std::vector<std::string> oids;
    std::vector<bool> counter64;
};

walked walk_of(const std::string &tool, const std::string &option, const std::string &target) {
    const run_result r = run_snmp_tool(tool, {"-On", option, "-c", "public", target, ".1"}, 20s);
    EXPECT_EQ(r.exit_code, 0) << tool << " " << option << "\n" << r.out;
    std::vector<std::string> lines = lines_of(r.out);
    // snmpbulkwalk shows the endOfMibView that ends a walk past the last object, as it does with any
    // agent; it may only come last.
    if (!lines.empty() && lines.back().find(k_end_of_view) != std::string::npos) {
        EXPECT_TRUE(lines.back().starts_with("." + k_engine_mib_oids.back() + " = ")) << lines.back();
        lines.pop_back();
    }
    walked w;
    for (const std::string &line : lines) {
        w.oids.push_back(line.substr(1, line.find(" = ") - 1));
        w.counter64.push_back(line.find(" = Counter64: ") != std::string::npos);
    }
    return w;
}

TEST_F(AgentWithStandardTools, WalksOfTheWholeAgentEndCleanly) {
    const walked v2c = walk_of("snmpwalk", "-v2c", agent_->target());
    // Every object once, in increasing order: the system group, IF-MIB, the snmp group, the sample
    // device, snmpEngineID, the snmpEngine group and the usmStats counters, whatever the host's
    // interfaces.
    for (size_t i = 1; i < v2c.oids.size(); ++i) {
        EXPECT_LT(arcs_of(v2c.oids[i - 1]), arcs_of(v2c.oids[i])) << v2c.oids[i - 1] << " then " << v2c.oids[i];
    }
    for (const std::string &oid : {k_sys_descr, k_sys_object_id, k_sys_name, k_if_number, k_temp, k_engine_id}) {
        EXPECT_NE(std::find(v2c.oids.begin(), v2c.oids.end(), oid), v2c.oids.end()) << oid;
    }
    EXPECT_TRUE(std::any_of(v2c.oids.begin(), v2c.oids.end(),
                            [](const std::string &oid) { return oid.starts_with("1.3.6.1.2.1.31.1.1.1.6."); }));
    ASSERT_GE(v2c.oids.size(), k_engine_mib_oids.size());
    EXPECT_TRUE(std::equal(k_engine_mib_oids.begin(), k_engine_mib_oids.end(),
                           v2c.oids.end() - static_cast<ptrdiff_t>(k_engine_mib_oids.size())));
    // GET-BULK walks in any size of step see the same objects.
    for (const std::string option : {"-Cr1", "-Cr3", "-Cr10", "-Cr50"}) {
        const run_result r = run_snmp_tool("snmpbulkwalk", {"-On", "-v2c", option, "-c", "public",
                                                            agent_->target(), ".1"}, 20s);
        std::vector<std::string> oids;
        for (const std::string &line : lines_of(r.out)) {
            if (line.find(k_end_of_view) == std::string::npos) {
                oids.push_back(line.substr(1, line.find(" = ") - 1));
            }
        }
        EXPECT_EQ(r.exit_code, 0) << option << "\n" << r.out;
        EXPECT_EQ(oids, v2c.oids) << option;
    }
    // SNMPv1 has no Counter64: its walk passes over those objects and sees all the others.
    std::vector<std::string> without_counter64;
    for (size_t i = 0; i < v2c.oids.size(); ++i) {
        if (!v2c.counter64[i]) {
            without_counter64.push_back(v2c.oids[i]);
        }
    }
    EXPECT_EQ(walk_of("snmpwalk", "-v1", agent_->target()).oids, without_counter64);
}

TEST(AgentWalkedByVeksnmpnms, TheWholeAgentForEveryVersion) {
    if (!find_program("snmpwalk")) {
        GTEST_SKIP() << k_missing_tools;
    }
    const std::vector<std::string> user = {"-u", "walker", "-a", "SHA256", "-A", "authpass1", "-x", "AES128", "-X",
                                           "privpass1"};
    agent_under_test agent(user);
    ASSERT_TRUE(agent.ready()) << agent.output();
    const std::vector<std::string> v1 = walk_of("snmpwalk", "-v1", agent.target()).oids;
    const std::vector<std::string> v2c = walk_of("snmpwalk", "-v2c", agent.target()).oids;
    std::vector<std::string> v3_options = {"-v", "3"};
    v3_options.insert(v3_options.end(), user.begin(), user.end());
    struct version_case {
        std::vector<std::string> options;
        const std::vector<std::string> &expected; /* the standard tools speak no v3 of this system: v2c's */
    };
    const std::vector<version_case> cases = {{{"-v", "1"}, v1}, {{"-v", "2c"}, v2c}, {v3_options, v2c}};
    for (const version_case &c : cases) {
        std::vector<std::string> args = {"walk", "-lvl", "3", "-t", "3000"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {agent.target(), "1"});
        const run_result r = run_cli(args, 60s);
        std::vector<std::string> oids;
        for (const std::string &entry : cli_values(r.out)) {
            oids.push_back(entry.substr(0, entry.find(" = ")));
        }
        EXPECT_EQ(r.exit_code, 0) << c.options[1] << "\n" << r.out.substr(0, 2000);
        EXPECT_EQ(oids, c.expected) << c.options[1];
        EXPECT_NE(r.out.find("遍历完成（共" + std::to_string(c.expected.size()) + "个变量）\n"), std::string::npos);
        std::printf("walk -v %s of the whole agent: %zu objects, as snmpwalk lists them\n", c.options[1].c_str(),
                    oids.size());
    }
    EXPECT_EQ(agent.interrupt(), 0);
}

TEST_F(AgentWithStandardTools, SnmpsetWritesWithTheReadWriteCommunity) {
    for (const std::string version : {"1", "2c"}) {
        const std::string contact = "tools-v" + version + "@example.test";
        const run_result set =
            run_snmp_tool("snmpset", {"-v" + version, "-c", "private", agent_->target(), k_sys_contact, "s", contact});
        EXPECT_EQ(set.exit_code, 0) << set.out;
        const run_result get =
            run_snmp_tool("snmpget", {"-Oqv", "-v" + version, "-c", "public", agent_->target(), k_sys_contact});
        EXPECT_EQ(get.out, "\"" + contact + "\"\n");
        const run_result ours = run_cli({"get", "-t", "3000", agent_->target(), k_sys_contact});
        EXPECT_EQ(cli_values(ours.out), std::vector<std::string>{k_sys_contact + " = STRING: " + contact});
    }
    const run_result refused =
        run_snmp_tool("snmpset", {"-v2c", "-c", "public", agent_->target(), k_sys_contact, "s", "nope"});
    EXPECT_NE(refused.exit_code, 0);
    const run_result wrong_community =
        run_snmp_tool("snmpget", {"-v2c", "-c", "secret", "-t", "0.5", "-r", "0", agent_->target(), k_sys_descr});
    EXPECT_NE(wrong_community.exit_code, 0);
}

TEST(AgentNotificationsToSnmptrapd, LinkDownTrapAndAcknowledgedLinkUpInform) {
    const auto trapd = find_program("snmptrapd");
    if (!trapd || !find_program("snmpset")) {
        GTEST_SKIP() << "snmptrapd or snmpset is not installed (Debian packages snmptrapd and snmp)";
    }
    const std::filesystem::path dir = make_temp_dir("vek_trapd_");
    {
        std::ofstream conf(dir / "trapd.conf");
        conf << "authCommunity log public\n";
    }
    const uint16_t trap_port = free_udp_port();
    const std::filesystem::path log = dir / "trapd.log";
    child_process receiver(*trapd,
                           {"-f", "-On", "-Lf", log.string(), "-C", "-c", (dir / "trapd.conf").string(),
                            "udp:127.0.0.1:" + std::to_string(trap_port)},
                           {"MIBS="});
    auto log_text = [&] {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    auto wait_log = [&](const std::string &needle) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (log_text().find(needle) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    };
    ASSERT_TRUE(wait_log("NET-SNMP version")) << log_text();

    // DEBUG logging shows the library matching the acknowledgement to its pending inform.
    agent_under_test agent({"-t", local_target(trap_port), "-lvl", "0"});
    ASSERT_TRUE(agent.ready()) << agent.output();
    const run_result down = run_snmp_tool("snmpset", {"-v2c", "-c", "private", agent.target(), k_led, "i", "0"});
    EXPECT_EQ(down.exit_code, 0) << down.out;
    EXPECT_TRUE(wait_log(".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + k_link_down)) << log_text();
    const run_result up = run_snmp_tool("snmpset", {"-v1", "-c", "private", agent.target(), k_led, "i", "1"});
    EXPECT_EQ(up.exit_code, 0) << up.out;
    EXPECT_TRUE(wait_log(".1.3.6.1.6.3.1.1.4.1.0 = OID: ." + k_link_up)) << log_text();
    EXPECT_NE(log_text().find(".1.3.6.1.2.1.2.2.1.8.1 = INTEGER: 1"), std::string::npos) << log_text();
    EXPECT_TRUE(agent.process().wait_for_output("是否Inform:1]", 3s)) << "the acknowledgement was not matched";
    EXPECT_EQ(agent.output().find("Inform响应超时"), std::string::npos);
    EXPECT_EQ(agent.interrupt(), 0);

    receiver.send_signal(SIGTERM);
    receiver.wait_exit(3s);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

} // namespace
} // namespace agent_e2e
