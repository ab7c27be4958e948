// veksnmpnms against veksnmpagent: GET, GET-NEXT, GET-BULK and SET for v1 and v2c, and SNMPv3 with
// every authentication algorithm crossed with every privacy algorithm (both sides of this system).
#include <gtest/gtest.h>

#include <memory>

#include "tests/agent_e2e/agent_e2e_support.h"

namespace agent_e2e {
namespace {

constexpr const char *k_error_wait = "400"; /* milliseconds */

std::vector<std::string> with(std::vector<std::string> head, const std::vector<std::string> &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

/* Drops the value of sysUpTime, which moves, and of snmpEngineID, which is binary. */
std::vector<std::string> masked(std::vector<std::string> values) {
    for (std::string &v : values) {
        for (const std::string &oid : {k_sys_uptime, k_engine_id}) {
            if (v.starts_with(oid + " = ")) {
                v = v.substr(0, v.find(": ") + 2) + "*";
            }
        }
    }
    return values;
}

class AgentWithCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() { agent_ = std::make_unique<agent_under_test>(); }
    static void TearDownTestSuite() { agent_.reset(); }
    void SetUp() override { ASSERT_TRUE(agent_->ready()) << agent_->output(); }
    static std::unique_ptr<agent_under_test> agent_;
};

std::unique_ptr<agent_under_test> AgentWithCli::agent_;

const std::vector<std::string> k_initial_values = {
    k_sys_descr + " = STRING: " + k_sys_descr_text, k_sys_uptime + " = TIMETICKS: *", "", k_temp + " = INTEGER: 25",
    k_led + " = INTEGER: 0", k_fan + " = UINT32: 5000", k_engine_id + " = STRING: *"};

TEST_F(AgentWithCli, GetServesTheSystemGroupAndTheSampleDevice) {
    for (const std::string version : {"1", "2c"}) {
        const run_result r = run_cli(with({"get", "-v", version, "-t", "3000", agent_->target()}, k_all_oids));
        EXPECT_NE(r.out.find("执行成功（共7个变量）"), std::string::npos) << r.out;
        std::vector<std::string> values = masked(cli_values(r.out));
        ASSERT_EQ(values.size(), 7u) << r.out;
        EXPECT_TRUE(values[2].starts_with(k_sys_contact + " = STRING: ")) << values[2];
        values[2].clear();
        EXPECT_EQ(values, k_initial_values) << "version " << version;
    }
}

TEST_F(AgentWithCli, GetNextAndBulkWalkFollowTheMibOrder) {
    // Each GET-NEXT from an object returns the one after it: the system group (exact nodes and the
    // library's group merged), then ifNumber; the sample device, then snmpEngineID.
    const std::vector<std::pair<std::string, std::string>> steps = {
        {"1.3.6.1.2.1.1", k_sys_descr},  {k_sys_descr, k_sys_object_id},   {k_sys_object_id, k_sys_uptime},
        {k_sys_uptime, k_sys_contact},   {k_sys_contact, k_sys_name},      {k_sys_services, k_if_number},
        {"1.3.6.1.4.1.12345", k_temp},   {k_temp, k_led},                  {k_led, k_fan},
        {k_fan, k_engine_id}};
    for (const auto &[from, next] : steps) {
        const run_result r = run_cli({"getnext", "-t", "3000", agent_->target(), from});
        const std::vector<std::string> values = cli_values(r.out);
        ASSERT_EQ(values.size(), 1u) << from << "\n" << r.out;
        EXPECT_TRUE(values[0].starts_with(next + " = ")) << from << " -> " << values[0];
    }
    // One GET-BULK carries the rest of the agent; the walk ends at the end of the MIB view.
    const run_result bulk =
        run_cli({"bulkwalk", "-Cn0", "-Cr10", "-t", "3000", agent_->target(), "1.3.6.1.4.1.12345"});
    const std::vector<std::string> tail(k_initial_values.begin() + 3, k_initial_values.end());
    std::vector<std::string> values = masked(cli_values(bulk.out));
    ASSERT_GE(values.size(), tail.size()) << bulk.out;
    values.resize(tail.size());
    EXPECT_EQ(values, tail) << bulk.out;
    // A non-repeater and a repeating binding.
    const run_result mixed =
        run_cli({"bulkwalk", "-Cn1", "-Cr2", "-t", "3000", agent_->target(), k_sys_descr, k_sys_contact});
    const std::vector<std::string> mixed_values = cli_values(mixed.out);
    ASSERT_EQ(mixed_values.size(), 3u) << mixed.out;
    EXPECT_TRUE(mixed_values[0].starts_with(k_sys_object_id + " = "));
    EXPECT_TRUE(mixed_values[1].starts_with(k_sys_name + " = STRING: "));
    EXPECT_TRUE(mixed_values[2].starts_with(k_sys_location + " = STRING: "));
}

TEST_F(AgentWithCli, SetWithTheReadWriteCommunityOnly) {
    for (const auto &[version, contact] : {std::pair{std::string("1"), std::string("ops-v1@example.test")},
                                           std::pair{std::string("2c"), std::string("ops-v2c@example.test")}}) {
        const run_result set = run_cli(
            {"set", "-v", version, "-c", "private", "-t", "3000", agent_->target(), k_sys_contact, "s", contact});
        EXPECT_NE(set.out.find("执行成功（共1个变量）"), std::string::npos) << set.out;
        const run_result get = run_cli({"get", "-v", version, "-t", "3000", agent_->target(), k_sys_contact});
        EXPECT_EQ(cli_values(get.out), std::vector<std::string>{k_sys_contact + " = STRING: " + contact});
    }
    // The read-only community may not write; read-only and unknown objects are refused.
    // An error answer is printed at once; the manager then waits out its time-out, so keep it short.
    const run_result ro = run_cli({"set", "-c", "public", "-t", k_error_wait, agent_->target(), k_led, "i", "1"});
    EXPECT_NE(ro.out.find("协议错误（状态码：6）：noAccess"), std::string::npos) << ro.out;
    const run_result temp = run_cli({"set", "-c", "private", "-t", k_error_wait, agent_->target(), k_temp, "i", "30"});
    EXPECT_NE(temp.out.find("协议错误（状态码：17）：notWritable"), std::string::npos) << temp.out;
    const run_result v1_temp =
        run_cli({"set", "-v", "1", "-c", "private", "-t", k_error_wait, agent_->target(), k_temp, "i", "30"});
    EXPECT_NE(v1_temp.out.find("协议错误（状态码：3）"), std::string::npos) << v1_temp.out;
    const run_result led_text = run_cli({"set", "-c", "private", "-t", k_error_wait, agent_->target(), k_led, "s", "on"});
    EXPECT_NE(led_text.out.find("协议错误（状态码："), std::string::npos) << led_text.out;
    const run_result get = run_cli({"get", "-t", "3000", agent_->target(), k_temp, k_led});
    EXPECT_EQ(cli_values(get.out), (std::vector<std::string>{k_temp + " = INTEGER: 25", k_led + " = INTEGER: 0"}));
}

struct v3_case {
    const char *auth;
    const char *priv;
};

TEST(AgentV3WithCli, EveryAuthenticationWithEveryPrivacy) {
    const std::vector<const char *> auths = {"MD5", "SHA1", "SHA256", "SHA256FULL"};
    const std::vector<const char *> privs = {"none", "DES", "AES128", "AES192", "AES256", "3DES"};
    std::vector<v3_case> cases = {{"none", "none"}};
    for (const char *auth : auths) {
        for (const char *priv : privs) {
            cases.push_back({auth, priv});
        }
    }
    for (const v3_case &c : cases) {
        const std::string name = std::string("u_") + c.auth + "_" + c.priv;
        std::vector<std::string> user = {"-u", name, "-a", c.auth, "-x", c.priv};
        if (std::string(c.auth) != "none") {
            user.insert(user.end(), {"-A", "auth-" + name});
        }
        if (std::string(c.priv) != "none") {
            user.insert(user.end(), {"-X", "priv-" + name});
        }
        agent_under_test agent(user);
        ASSERT_TRUE(agent.ready()) << agent.output();
        const run_result r = run_cli(with(with({"get", "-v", "3"}, user), {"-t", "3000", agent.target(), k_sys_descr, k_fan}));
        EXPECT_EQ(cli_values(r.out),
                  (std::vector<std::string>{k_sys_descr + " = STRING: " + k_sys_descr_text, k_fan + " = UINT32: 5000"}))
            << c.auth << "/" << c.priv << "\n"
            << r.out;
        EXPECT_EQ(agent.interrupt(), 0);
    }
}

TEST(AgentV3WithCli, SetWalkAndWrongPasswords) {
    const std::vector<std::string> user = {"-u", "admin", "-a", "SHA256", "-A", "authpass1", "-x", "AES256", "-X",
                                           "privpass1"};
    agent_under_test agent(with(user, {"-e", "8000303904c0ffee"}));
    ASSERT_TRUE(agent.ready()) << agent.output();
    EXPECT_NE(agent.output().find("  engine ID: 8000303904c0ffee\n"), std::string::npos) << agent.output();
    EXPECT_NE(agent.output().find("  SNMPv3 user: admin (authentication SHA256, privacy AES256)\n"), std::string::npos);
    const std::vector<std::string> v3 = with({"-v", "3"}, user);

    const run_result set = run_cli(with(with({"set"}, v3), {"-t", "3000", agent.target(), k_led, "i", "1"}));
    EXPECT_NE(set.out.find("执行成功（共1个变量）"), std::string::npos) << set.out;
    const run_result bulk = run_cli(with(with({"bulkwalk"}, v3), {"-Cr10", "-t", "3000", agent.target(), "1.3.6.1.4.1"}));
    const std::vector<std::string> values = cli_values(bulk.out);
    ASSERT_GE(values.size(), 3u) << bulk.out;
    EXPECT_EQ(values[0], k_temp + " = INTEGER: 25");
    EXPECT_EQ(values[1], k_led + " = INTEGER: 1");
    EXPECT_EQ(values[2], k_fan + " = UINT32: 5000");
    const run_result next = run_cli(with(with({"getnext"}, v3), {"-t", "3000", agent.target(), k_fan}));
    ASSERT_EQ(cli_values(next.out).size(), 1u) << next.out;
    EXPECT_TRUE(cli_values(next.out)[0].starts_with(k_engine_id + " = STRING: ")) << next.out;

    // Wrong passwords and unknown users get no answer at all.
    for (const std::vector<std::string> &wrong :
         {std::vector<std::string>{"-u", "admin", "-a", "SHA256", "-A", "wrongpass", "-x", "AES256", "-X", "privpass1"},
          std::vector<std::string>{"-u", "admin", "-a", "SHA256", "-A", "authpass1", "-x", "AES256", "-X", "wrongpass"},
          std::vector<std::string>{"-u", "nobody", "-a", "SHA256", "-A", "authpass1", "-x", "AES256", "-X", "privpass1"}}) {
        const run_result r = run_cli(with(with({"get", "-v", "3"}, wrong), {"-t", "500", agent.target(), k_sys_descr}));
        EXPECT_TRUE(cli_values(r.out).empty()) << r.out;
    }
    EXPECT_EQ(agent.interrupt(), 0);
}

} // namespace
} // namespace agent_e2e
