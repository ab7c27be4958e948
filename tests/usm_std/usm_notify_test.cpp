// Standard SNMPv3 notifications in both directions: veksnmpagent's traps reach snmptrapd and its
// informs are acknowledged and matched; snmptrap and snmpinform reach veksnmpnms traplisten and
// snmp_service, and are refused with a wrong password.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "nms/vek_nms_sdk.h"
#include "tests/agent_e2e/agent_e2e_support.h"
#include "tests/service/service_test_support.h"
#include "tests/usm_std/usm_support.h"

namespace {

using namespace agent_e2e;
using namespace usm_test;

const std::string kSenderEngine = "0x8000000001020304";  // the engine snmptrap names as its own
const std::string kTrapOid = "1.3.6.1.4.1.9999.1";
const std::string kValueOid = "1.3.6.1.4.1.9999.1.1";

std::string file_text(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

template <typename Text> bool wait_until_contains(Text text, const std::string &needle, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (text().find(needle) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// snmptrap (with the sender's engine) or snmpinform of kTrapOid with kValueOid = value.
run_result notify(bool inform, const std::vector<std::string> &security, uint16_t port, const std::string &value) {
    std::vector<std::string> args = {"-v3", "-t", "1", "-r", "0"};
    if (!inform) {
        args.insert(args.end(), {"-e", kSenderEngine});
    }
    args = joined(args, security);
    args = joined(args, {"127.0.0.1:" + std::to_string(port), "", kTrapOid, kValueOid, "s", value});
    return run_snmp_tool(inform ? "snmpinform" : "snmptrap", args, 10s);
}

bool tools_missing() { return !find_program("snmptrap") || !find_program("snmpinform"); }

// ---- veksnmpagent to snmptrapd ----

TEST(StdUsmNotify, AgentTrapsReachSnmptrapdAndItsInformsAreAcknowledgedAndMatched) {
    const auto trapd = find_program("snmptrapd");
    if (!trapd) {
        GTEST_SKIP() << "snmptrapd is not installed (Debian package snmptrapd)";
    }
    const std::vector<usm_pair> pairs = {{"SHA-256", "AES"}, {"MD5", "DES"}, {"SHA-512", "AES-256-C"}};
    const std::vector<std::string> engines = {"80003039040a0b0c01", "80003039040a0b0c02", "80003039040a0b0c03"};
    const std::filesystem::path dir = make_temp_dir("vek_usm_trapd_");
    {
        // A trap's user is localised to the sender's engine, an inform's to snmptrapd's own.
        std::ofstream conf(dir / "trapd.conf");
        for (size_t i = 0; i < pairs.size(); ++i) {
            conf << create_user_line(pairs[i], user_name(i), "0x" + engines[i]) << create_user_line(pairs[i], user_name(i))
                 << "authUser log,execute " << user_name(i) << " priv\n";
        }
    }
    const uint16_t port = free_udp_port();
    const std::filesystem::path log = dir / "trapd.log";
    child_process receiver(*trapd,
                           {"-f", "-On", "-Lf", log.string(), "-C", "-c", (dir / "trapd.conf").string(),
                            "--persistentDir=" + dir.string(), "udp:127.0.0.1:" + std::to_string(port)},
                           {"MIBS="});
    const auto trapd_log = [&] { return file_text(log); };
    ASSERT_TRUE(wait_until_contains(trapd_log, "NET-SNMP version", 5s)) << trapd_log();
    for (size_t i = 0; i < pairs.size(); ++i) {
        SCOPED_TRACE(label(pairs[i]));
        // DEBUG logging shows the library matching the acknowledgement to its pending inform.
        agent_under_test agent(joined({"-e", engines[i], "-s", "std", "-T", user_name(i), "-t",
                                       local_target(port), "-lvl", "0", "-b", (dir / "boots").string()},
                                      agent_user_args(pairs[i], user_name(i))));
        ASSERT_TRUE(agent.ready()) << agent.output();
        const std::string trap_text = "trap-" + std::to_string(i);
        const std::string inform_text = "inform-" + std::to_string(i);
        agent.process().write_stdin("trap " + kTrapOid + " " + trap_text + "\n");
        EXPECT_TRUE(wait_until_contains(trapd_log, "." + kValueOid + " = STRING: \"" + trap_text + "\"", 5s))
            << trapd_log();
        agent.process().write_stdin("inform " + kTrapOid + " " + inform_text + "\n");
        EXPECT_TRUE(wait_until_contains(trapd_log, "." + kValueOid + " = STRING: \"" + inform_text + "\"", 5s))
            << trapd_log();
        EXPECT_TRUE(agent.process().wait_for_output("是否Inform:1]", 3s)) << "the acknowledgement was not matched";
        EXPECT_EQ(agent.output().find("Inform响应超时"), std::string::npos);
        EXPECT_EQ(agent.interrupt(), 0);
    }
    receiver.send_signal(SIGTERM);
    receiver.wait_exit(3s);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

// ---- snmptrap and snmpinform to our manager ----

const usm_pair kListenPair = {"SHA", "AES"};
const std::string kListenUser = "trapuser";

// Each notification of the table, in order: a wrong password is never delivered (an inform is then
// not acknowledged); the one after it is, which shows that the wrong one had its chance.
struct Sent {
    bool inform;
    bool right_password;
};
const std::vector<Sent> kSent = {{false, false}, {false, true}, {true, false}, {true, true}};

std::string text_of(size_t i) { return "note-" + std::to_string(i); }

template <typename Delivered> void send_table(uint16_t port, Delivered delivered) {
    for (size_t i = 0; i < kSent.size(); ++i) {
        const Sent &sent = kSent[i];
        SCOPED_TRACE(testing::Message() << (sent.inform ? "snmpinform" : "snmptrap")
                                        << (sent.right_password ? "" : ", wrong password"));
        const run_result r = notify(sent.inform, security_args(kListenPair, kListenUser,
                                                               sent.right_password ? kAuthPass : kWrongPass),
                                    port, text_of(i));
        if (sent.inform) {
            EXPECT_EQ(r.exit_code == 0, sent.right_password) << r.out;
        }
        if (sent.right_password) {
            EXPECT_TRUE(delivered(text_of(i), true));
            EXPECT_FALSE(i > 0 && delivered(text_of(i - 1), false)) << "a notification with a wrong password arrived";
        }
    }
}

TEST(StdUsmNotify, SnmptrapAndSnmpinformReachTraplistenOnlyWithTheRightPassword) {
    if (tools_missing()) {
        GTEST_SKIP() << "snmptrap or snmpinform is not installed (Debian package snmp)";
    }
    const uint16_t port = free_udp_port();
    child_process listener(k_cli, joined(joined({"traplisten", "-p", std::to_string(port), "-s", "std"},
                                                security_args(kListenPair, kListenUser)),
                                         {"127.0.0.1"}));
    ASSERT_TRUE(listener.wait_for_output("TRAP后台监听已启动", 10s)) << listener.output();
    send_table(port, [&](const std::string &text, bool wait) {
        return listener.wait_for_output(kValueOid + " = STRING: " + text, wait ? 5s : 0ms);
    });
    EXPECT_NE(listener.output().find("（版本：v3）"), std::string::npos);
    EXPECT_NE(listener.output().find("V3用户名 = " + kListenUser), std::string::npos);
    listener.send_signal(SIGINT);
    EXPECT_EQ(listener.wait_exit(5s), 0);
}

TEST(StdUsmNotify, SnmptrapAndSnmpinformReachSnmpServiceOnlyWithTheRightPassword) {
    if (tools_missing()) {
        GTEST_SKIP() << "snmptrap or snmpinform is not installed (Debian package snmp)";
    }
    using namespace service_test;
    using json_check::value;
    const uint16_t http_port = free_tcp_port();
    const uint16_t trap_port = free_udp_port();
    service_process service(service_process::options{service_executable(), http_port, trap_port, {}, {}});
    ASSERT_TRUE(service.wait_serving()) << service.output();
    // Notifications are taken for the users of an agent record of their sender's address.
    const std::string agent = "ip=127.0.0.1&port=" + std::to_string(free_udp_port());
    EXPECT_EQ(get_json(http_port, "/api_snmp_agent_create?" + agent + "&version=3")["ret"].as_int(), 0);
    const value added = get_json(http_port, "/api_snmp_user_add?" + agent + "&username=" + kListenUser +
                                                "&auth_alg=" + std::to_string(API_SNMP_AUTH_STD_SHA1) +
                                                "&auth_pass=" + kAuthPass + "&priv_alg=" +
                                                std::to_string(API_SNMP_PRIV_STD_AES128) + "&priv_pass=" + kPrivPass);
    ASSERT_EQ(added["ret"].as_int(), 0) << service.output();
    const auto listed = [&](const std::string &text) {
        const value list = get_json(http_port, "/api_snmp_trap_list");
        for (int64_t i = 0; i < list["total"].as_int(); ++i) {
            const value &trap = list["list"][static_cast<size_t>(i)];
            if (trap["version"].as_int() == API_SNMP_V3 && trap["community"].str() == kListenUser &&
                trap["varbinds"][2]["value"].str() == text) {
                return true;
            }
        }
        return false;
    };
    send_table(trap_port, [&](const std::string &text, bool wait) {
        return wait_until_contains([&] { return listed(text) ? text : std::string(); }, text, wait ? 5s : 0ms) ||
               listed(text);
    });
    service.send_signal(SIGINT);
    service.wait_exit(10s);
}

} // namespace
