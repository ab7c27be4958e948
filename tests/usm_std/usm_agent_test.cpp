// veksnmpagent against the standard tools over standard SNMPv3: snmpget, snmpwalk, snmpbulkwalk and
// snmpset for every pair of usm_support.h, the snmpEngine group and the usmStats counters as a
// standard manager reads them, and one agent serving a user of each scheme at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "tests/agent_e2e/agent_e2e_support.h"
#include "tests/usm_std/usm_support.h"

namespace {

using namespace agent_e2e;
using namespace usm_test;

constexpr size_t kUsersPerAgent = 5;  // the agent keeps five users
const std::string kLastObject = ".1.3.6.1.6.3.15.1.1.6.0";
const std::string kEngineIdHex = "8000303904766b7573";
const std::string kSysDescrLine = ".1.3.6.1.2.1.1.1.0 = STRING: \"Embedded SNMP Agent / Firmware V1.0.0\"";

// Objects in a walk's output (the tools close a walk of everything with a line about the end).
size_t objects_in(const std::string &text) {
    std::istringstream in(text);
    size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.starts_with(".1.") && line.find(" = No more variables") == std::string::npos ? 1 : 0;
    }
    return count;
}

run_result tool(const std::string &name, const std::vector<std::string> &security, const std::string &target,
                const std::vector<std::string> &rest) {
    std::vector<std::string> args = joined({"-v3", "-On", "-t", "2", "-r", "1"}, security);
    args.push_back(target);
    return run_snmp_tool(name, joined(args, rest), 20s);
}

// Agents with the users of every pair, five to an agent, started once for the suite.
class StdUsmTools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = make_temp_dir("vek_usm_agents_");
        for (size_t first = 0; first < kPairs.size(); first += kUsersPerAgent) {
            const std::string boots = (dir_ / ("boots" + std::to_string(first))).string();
            std::vector<std::string> args = {"-b", boots, "-e", kEngineIdHex, "-s", "std"};
            for (size_t i = first; i < std::min(first + kUsersPerAgent, kPairs.size()); ++i) {
                args = joined(args, agent_user_args(kPairs[i], user_name(i)));
            }
            agents_.push_back(std::make_unique<agent_under_test>(args));
        }
    }
    static void TearDownTestSuite() {
        for (auto &agent : agents_) {
            agent->interrupt();
        }
        agents_.clear();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void SetUp() override {
        if (!find_program("snmpget") || !find_program("snmpwalk") || !find_program("snmpbulkwalk") ||
            !find_program("snmpset")) {
            GTEST_SKIP() << "the standard SNMP tools are not installed (Debian package snmp)";
        }
        for (auto &agent : agents_) {
            ASSERT_TRUE(agent->ready()) << agent->output();
        }
    }
    static agent_under_test &agent_of(size_t pair) { return *agents_[pair / kUsersPerAgent]; }

    static std::vector<std::unique_ptr<agent_under_test>> agents_;
    static std::filesystem::path dir_;
};

std::vector<std::unique_ptr<agent_under_test>> StdUsmTools::agents_;
std::filesystem::path StdUsmTools::dir_;

TEST_F(StdUsmTools, GetWalkBulkwalkAndSetForEveryPair) {
    // Every object of the agent's MIB, as a v2c walk sees them (the host's interfaces among them).
    const run_result v2c = run_snmp_tool("snmpwalk", {"-v2c", "-On", "-c", "public", agents_.front()->target(), ".1"});
    ASSERT_EQ(v2c.exit_code, 0) << v2c.out;
    const size_t agent_objects = objects_in(v2c.out);
    for (size_t i = 0; i < kPairs.size(); ++i) {
        const usm_pair &pair = kPairs[i];
        SCOPED_TRACE(label(pair));
        const std::vector<std::string> security = security_args(pair, user_name(i));
        const std::string target = agent_of(i).target();

        const run_result get = tool("snmpget", security, target, {k_sys_descr});
        EXPECT_EQ(get.exit_code, 0) << get.out;
        EXPECT_NE(get.out.find(kSysDescrLine), std::string::npos) << get.out;

        for (const std::string walker : {"snmpwalk", "snmpbulkwalk"}) {
            const run_result walk = tool(walker, security, target, {".1"});
            EXPECT_EQ(walk.exit_code, 0) << walker << "\n" << walk.out;
            EXPECT_EQ(objects_in(walk.out), agent_objects) << walker << "\n" << walk.out;
            EXPECT_NE(walk.out.find(kLastObject + " = Counter32: "), std::string::npos) << walk.out;
        }

        const std::string contact = "ops-" + user_name(i);
        const run_result set = tool("snmpset", security, target, {k_sys_contact, "s", contact});
        EXPECT_EQ(set.exit_code, 0) << set.out;
        const run_result read = tool("snmpget", security, target, {k_sys_contact});
        EXPECT_NE(read.out.find("STRING: \"" + contact + "\""), std::string::npos) << read.out;
    }
}

TEST_F(StdUsmTools, EngineGroupAndUsmStatsAsAStandardManagerReadsThem) {
    const usm_pair &pair = kPairs[7];  // SHA-256 + AES
    agent_under_test &agent = agent_of(7);
    const std::vector<std::string> security = security_args(pair, user_name(7));
    const run_result engine = tool("snmpget", joined({"-Ov"}, security), agent.target(),
                                   {"1.3.6.1.6.3.10.2.1.1.0", "1.3.6.1.6.3.10.2.1.2.0", "1.3.6.1.6.3.10.2.1.3.0",
                                    "1.3.6.1.6.3.10.2.1.4.0"});
    ASSERT_EQ(engine.exit_code, 0) << engine.out;
    std::istringstream values(engine.out);
    std::string id_line;
    std::string boots_line;
    std::string time_line;
    std::string size_line;
    std::getline(values, id_line);
    std::getline(values, boots_line);
    std::getline(values, time_line);
    std::getline(values, size_line);
    EXPECT_EQ(id_line, "Hex-STRING: 80 00 30 39 04 76 6B 75 73 ");
    const size_t boots_at = agent.output().find("engine boots: ");
    ASSERT_NE(boots_at, std::string::npos);
    const std::string boots = agent.output().substr(boots_at + 14, agent.output().find(' ', boots_at + 14) - boots_at - 14);
    EXPECT_EQ(boots_line, "INTEGER: " + boots);
    ASSERT_TRUE(time_line.starts_with("INTEGER: ")) << time_line;
    EXPECT_LT(std::stoul(time_line.substr(9)), 600u);  // seconds since this start
    EXPECT_EQ(size_line, "INTEGER: 1024");

    // A wrong password is refused, and the counter of wrong digests shows it.
    const std::string wrong_digests = "1.3.6.1.6.3.15.1.1.5.0";
    const auto counter = [&] {
        const run_result read = tool("snmpget", joined({"-Oqv"}, security), agent.target(), {wrong_digests});
        return read.exit_code == 0 ? std::stoul(read.out) : ~0ul;
    };
    const unsigned long before = counter();
    const run_result refused =
        tool("snmpget", security_args(pair, user_name(7), kWrongPass), agent.target(), {k_sys_descr});
    EXPECT_NE(refused.exit_code, 0) << refused.out;
    EXPECT_EQ(refused.out.find(kSysDescrLine), std::string::npos) << refused.out;
    EXPECT_EQ(counter(), before + 1);
}

TEST(StdUsmMixedAgent, OneAgentServesAUserOfEachSchemeToOurManagerAndToSnmpget) {
    if (!find_program("snmpget")) {
        GTEST_SKIP() << "snmpget is not installed (Debian package snmp)";
    }
    const usm_pair standard = {"SHA-256", "AES-256-C"};
    agent_under_test agent(joined({"-u", "own", "-a", "SHA256", "-A", kAuthPass, "-x", "AES", "-X", kPrivPass, "-s",
                                   "std"},
                                  agent_user_args(standard, "std")));
    ASSERT_TRUE(agent.ready()) << agent.output();
    struct Ask {
        const char *who;
        bool ours;
        std::vector<std::string> security;
        bool answered;
    };
    const std::vector<Ask> asks = {
        {"veksnmpnms, own scheme", true,
         {"-u", "own", "-a", "SHA256", "-A", kAuthPass, "-x", "AES", "-X", kPrivPass}, true},
        {"veksnmpnms, standard scheme", true, joined({"-s", "std"}, security_args(standard, "std")), true},
        {"snmpget, standard user", false, security_args(standard, "std"), true},
        // The standard tools cannot speak the system's own scheme: the agent refuses them.
        {"snmpget, own-scheme user", false, security_args({"SHA-256", "AES"}, "own"), false},
    };
    for (const Ask &ask : asks) {
        SCOPED_TRACE(ask.who);
        if (ask.ours) {
            const run_result r = run_cli(joined(joined({"get", "-v", "3", "-t", "3000"}, ask.security),
                                                {agent.target(), k_sys_descr}));
            EXPECT_EQ(r.out.find("STRING: " + k_sys_descr_text) != std::string::npos, ask.answered) << r.out;
        } else {
            const run_result r = tool("snmpget", ask.security, agent.target(), {k_sys_descr});
            EXPECT_EQ(r.exit_code == 0 && r.out.find(kSysDescrLine) != std::string::npos, ask.answered) << r.out;
        }
    }
    EXPECT_EQ(agent.interrupt(), 0);
}

} // namespace
