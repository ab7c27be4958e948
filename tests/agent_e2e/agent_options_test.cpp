// veksnmpagent's command line, parsed without starting an agent.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "agent/vek_agent_sdk.h"
#include "apps/veksnmpagent/agent_app_options.h"

namespace {

agent_app_parse_result parse(std::initializer_list<const char *> words) {
    const std::vector<const char *> args(words);
    return agent_app_parse_args(args);
}

uint32_t ip(const char *text) {
    in_addr addr{};
    inet_pton(AF_INET, text, &addr);
    return addr.s_addr;
}

TEST(AgentAppOptions, DefaultsWithoutOptions) {
    const agent_app_parse_result r = parse({});
    ASSERT_EQ(r.action, agent_app_action::run);
    EXPECT_EQ(r.options.port, 161);
    EXPECT_EQ(r.options.ro_community, "public");
    EXPECT_EQ(r.options.rw_community, "private");
    EXPECT_TRUE(r.options.engine_id.empty());
    EXPECT_TRUE(r.options.users.empty());
    EXPECT_EQ(r.options.log_level, 2u);
    EXPECT_TRUE(r.options.managers.empty());
    EXPECT_EQ(r.options.trap_host, "127.0.0.1");
    EXPECT_EQ(r.options.trap_port, 162);
    EXPECT_TRUE(r.warnings.empty());
}

TEST(AgentAppOptions, EveryOptionIsTaken) {
    const agent_app_parse_result r =
        parse({"-p", "1161", "-c", "ro", "-w", "rw", "-e", "0x800030390401", "-u", "admin", "-a", "SHA256FULL", "-A",
               "authpass1", "-x", "AES", "-X", "privpass1", "-lvl", "0", "-W", "10.0.0.1", "-W", "10.0.0.2", "-W",
               "10.0.0.1", "-t", "127.0.0.1:9162", "-N", "edge-7", "-L", "rack 4"});
    ASSERT_EQ(r.action, agent_app_action::run) << r.message;
    EXPECT_EQ(r.options.port, 1161);
    EXPECT_EQ(r.options.ro_community, "ro");
    EXPECT_EQ(r.options.rw_community, "rw");
    EXPECT_EQ(r.options.engine_id, (std::vector<uint8_t>{0x80, 0x00, 0x30, 0x39, 0x04, 0x01}));
    ASSERT_EQ(r.options.users.size(), 1u);
    EXPECT_EQ(r.options.users[0].name, "admin");
    EXPECT_EQ(r.options.users[0].auth_proto, 4);
    EXPECT_EQ(r.options.users[0].auth_pass, "authpass1");
    EXPECT_EQ(r.options.users[0].priv_proto, 2);
    EXPECT_EQ(r.options.users[0].priv_pass, "privpass1");
    EXPECT_EQ(r.options.log_level, 0u);
    // A repeated manager is kept once.
    EXPECT_EQ(r.options.managers, (std::vector<uint32_t>{ip("10.0.0.1"), ip("10.0.0.2")}));
    EXPECT_EQ(r.options.trap_host, "127.0.0.1");
    EXPECT_EQ(r.options.trap_port, 9162);
    EXPECT_EQ(r.options.sys_name, "edge-7");
    EXPECT_EQ(r.options.sys_location, "rack 4");

    const agent_app_parse_result no_port = parse({"-t", "10.1.2.3"});
    EXPECT_EQ(no_port.options.trap_host, "10.1.2.3");
    EXPECT_EQ(no_port.options.trap_port, 162);
}

TEST(AgentAppOptions, AlgorithmNamesAreTheCommandLineManagers) {
    const std::vector<std::pair<const char *, int>> auth = {
        {"none", 0}, {"MD5", 1}, {"SHA1", 2}, {"SHA256", 3}, {"SHA256FULL", 4}, {"md5", -1}, {"SHA", -1}, {"", -1}};
    for (const auto &[name, code] : auth) {
        EXPECT_EQ(agent_app_auth_from_name(name), code) << name;
    }
    const std::vector<std::pair<const char *, int>> priv = {{"none", 0},   {"DES", 1},    {"AES", 2},
                                                            {"AES128", 2}, {"AES192", 3}, {"AES256", 4},
                                                            {"3DES", 5},   {"aes", -1},   {"AES512", -1}};
    for (const auto &[name, code] : priv) {
        EXPECT_EQ(agent_app_priv_from_name(name), code) << name;
    }
    EXPECT_EQ(agent_app_auth_name(4), "SHA256FULL");
    EXPECT_EQ(agent_app_priv_name(2), "AES128");
    EXPECT_EQ(agent_app_priv_name(5), "3DES");
    EXPECT_EQ(agent_app_priv_name(AGENT_SNMP_PRIV_STD_AES256C + 1), "?");
}

TEST(AgentAppOptions, RefusesWhatTheAgentCannotUse) {
    const std::string long32(32, 'c');
    const std::string long64(64, 'p');
    const std::string id33(66, 'a');
    const std::string long256(256, 'n');
    const std::vector<std::vector<const char *>> bad = {
        {"-p", "0"},
        {"-p", "65536"},
        {"-p", "16x"},
        {"-p", "-1"},
        {"-p"},
        {"-q", "1"},
        {"stray"},
        {"-c", ""},
        {"-c", long32.c_str()},
        {"-w", long32.c_str()},
        {"-e", "800"},
        {"-e", "80zz"},
        {"-e", "0x"},
        {"-e", id33.c_str()},
        {"-lvl", "5"},
        {"-lvl", "WARN"},
        {"-W", "256.1.1.1"},
        {"-W", "localhost"},
        {"-t", "127.0.0.1:0"},
        {"-t", "127.0.0.1:"},
        {"-t", "manager:162"},
        {"-N", long256.c_str()},
        {"-L", ""},
        {"-u", "admin", "-a", "sha1", "-A", "authpass1"},
        {"-u", "admin", "-a", "SHA1"},
        {"-u", "admin", "-x", "DES"},
        {"-u", "admin", "-a", "MD5", "-A", long64.c_str()},
        {"-a", "MD5", "-A", "authpass1"},
        {"-u", long32.c_str()},
    };
    for (const auto &words : bad) {
        const agent_app_parse_result r = agent_app_parse_args(words);
        std::string joined;
        for (const char *w : words) {
            joined += std::string(w) + " ";
        }
        EXPECT_EQ(r.action, agent_app_action::fail) << joined;
        EXPECT_FALSE(r.message.empty()) << joined;
    }
    std::vector<std::string> nine;
    std::vector<const char *> words;
    for (int i = 1; i <= 9; ++i) {
        nine.push_back("10.0.0." + std::to_string(i));
    }
    for (const std::string &m : nine) {
        words.push_back("-W");
        words.push_back(m.c_str());
    }
    EXPECT_EQ(agent_app_parse_args(words).action, agent_app_action::fail);
    words.resize(16);
    EXPECT_EQ(agent_app_parse_args(words).action, agent_app_action::run);

    // The longest texts the library takes are accepted.
    const std::string ok31(31, 'c');
    const std::string ok63(63, 'p');
    const agent_app_parse_result longest =
        parse({"-c", ok31.c_str(), "-u", ok31.c_str(), "-a", "MD5", "-A", ok63.c_str(), "-e", std::string(64, 'f').c_str()});
    EXPECT_EQ(longest.action, agent_app_action::run) << longest.message;
    EXPECT_EQ(longest.options.engine_id.size(), 32u);
}

TEST(AgentAppOptions, PasswordsForAlgorithmNoneAreIgnoredWithAWarning) {
    const agent_app_parse_result r = parse({"-u", "viewer", "-A", "authpass1", "-X", "privpass1"});
    ASSERT_EQ(r.action, agent_app_action::run) << r.message;
    EXPECT_EQ(r.warnings.size(), 2u);
    ASSERT_EQ(r.options.users.size(), 1u);
    EXPECT_TRUE(r.options.users[0].auth_pass.empty());
    EXPECT_TRUE(r.options.users[0].priv_pass.empty());
}

TEST(AgentAppOptions, EachUserTakesTheOptionsAfterItAndTheSchemeBeforeIt) {
    const agent_app_parse_result r =
        parse({"-p", "1161", "-u", "admin", "-a", "SHA256", "-A", "authpass123", "-s", "std", "-u", "ops", "-a",
               "SHA-256", "-A", "authpass123", "-x", "AES-256-C", "-X", "privpass123", "-u", "viewer", "-T", "ops"});
    ASSERT_EQ(r.action, agent_app_action::run) << r.message;
    ASSERT_EQ(r.options.users.size(), 3u);
    const agent_app_user &admin = r.options.users[0];
    const agent_app_user &ops = r.options.users[1];
    EXPECT_FALSE(admin.standard);
    EXPECT_EQ(admin.auth_proto, AGENT_SNMP_AUTH_SHA256);
    EXPECT_EQ(admin.priv_proto, AGENT_SNMP_PRIV_NONE);
    EXPECT_TRUE(ops.standard);
    EXPECT_EQ(ops.auth_proto, AGENT_SNMP_AUTH_STD_SHA256);
    EXPECT_EQ(ops.priv_proto, AGENT_SNMP_PRIV_STD_AES256C);
    EXPECT_EQ(ops.priv_pass, "privpass123");
    EXPECT_TRUE(r.options.users[2].standard);
    EXPECT_EQ(r.options.users[2].auth_proto, AGENT_SNMP_AUTH_NONE);
    EXPECT_EQ(r.options.notify_user, "ops");
    EXPECT_EQ(agent_app_auth_name(ops.auth_proto), "SHA-256");

    // Names of one scheme are not those of the other; a sixth user, a user twice, standard privacy
    // without authentication and a notification user nobody defined are refused.
    const std::vector<std::vector<const char *>> bad = {
        {"-s", "std", "-u", "a", "-a", "SHA256", "-A", "authpass1"},
        {"-u", "a", "-a", "SHA-256", "-A", "authpass1"},
        {"-s", "usm", "-u", "a"},
        {"-u", "a", "-u", "b", "-u", "c", "-u", "d", "-u", "e", "-u", "f"},
        {"-u", "a", "-u", "a"},
        {"-s", "std", "-u", "a", "-x", "AES", "-X", "privpass1"},
        {"-u", "a", "-T", "b"},
    };
    for (const auto &words : bad) {
        EXPECT_EQ(agent_app_parse_args(words).action, agent_app_action::fail) << words[1] << " " << words[3];
    }
}

TEST(AgentAppOptions, HelpWinsAnywhere) {
    EXPECT_EQ(parse({"-h"}).action, agent_app_action::help);
    EXPECT_EQ(parse({"-p", "0", "-h"}).action, agent_app_action::help);
    EXPECT_EQ(parse({"-c", "x", "--help"}).action, agent_app_action::help);
    const std::string usage = agent_app_usage();
    for (const char *option : {"-p <port>", "-c <", "-w <", "-e <", "-u <", "-a <", "-A <", "-x <", "-X <", "-lvl <",
                               "-W <", "-t <", "-h"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

TEST(AgentAppOptions, DefaultEngineIdIsTheTextFormatUnderTheSampleEnterprise) {
    std::vector<uint8_t> expected = {0x80, 0x00, 0x30, 0x39, 0x04};
    for (const char c : std::string("veksnmpagent")) {
        expected.push_back(static_cast<uint8_t>(c));
    }
    EXPECT_EQ(agent_app_default_engine_id(), expected);
    EXPECT_LE(expected.size(), 32u);
}

} // namespace
