// veksnmpnms against a real standard agent (Debian's snmpd on a throw-away port): the values it
// prints must be the ones snmpget, snmpgetnext and snmpbulkget print for the same objects.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "tests/apps_cli/cli_test_common.h"

namespace apps_test {
namespace {

constexpr const char *k_sys_object_id = "1.3.6.1.2.1.1.2.0";
constexpr const char *k_sys_contact = "1.3.6.1.2.1.1.4.0";
constexpr const char *k_sys_name = "1.3.6.1.2.1.1.5.0";
constexpr const char *k_ip_forwarding = "1.3.6.1.2.1.4.1.0";
constexpr const char *k_loopback_address = "1.3.6.1.2.1.4.20.1.1.127.0.0.1";
constexpr const char *k_if_descr = "1.3.6.1.2.1.2.2.1.2.1";
constexpr const char *k_if_speed = "1.3.6.1.2.1.2.2.1.5.1";
constexpr const char *k_if_in_discards = "1.3.6.1.2.1.2.2.1.13.1";
constexpr const char *k_if_hc_in_multicast = "1.3.6.1.2.1.31.1.1.1.8.1";
constexpr const char *k_timeticks_mask = "TIMETICKS: *";

/* One "<oid> = <value>" pair in this program's notation. */
using value_lines = std::vector<std::string>;

std::string strip_dot(std::string_view oid) { return std::string(oid.starts_with('.') ? oid.substr(1) : oid); }

/* Turns one line of the standard tools (-On) into veksnmpnms's notation; empty when the value is of
 * a kind this comparison does not cover (no such object, binary strings). */
std::string translate_tool_line(std::string_view line) {
    const size_t eq = line.find(" = ");
    if (eq == std::string_view::npos) {
        return {};
    }
    const std::string oid = strip_dot(line.substr(0, eq));
    std::string_view value = line.substr(eq + 3);
    auto take = [&](std::string_view prefix) {
        if (!value.starts_with(prefix)) {
            return false;
        }
        value.remove_prefix(prefix.size());
        return true;
    };
    std::string ours;
    if (take("STRING: \"") && value.ends_with('"')) {
        ours = "STRING: " + std::string(value.substr(0, value.size() - 1));
    } else if (value == "\"\"") {
        ours = "STRING: ";
    } else if (take("OID: ")) {
        ours = "OID: " + strip_dot(value);
    } else if (take("INTEGER: ")) {
        ours = "INTEGER: " + std::string(value);
    } else if (take("Counter32: ") || take("Gauge32: ")) {
        ours = "UINT32: " + std::string(value);
    } else if (take("IpAddress: ")) {
        ours = "IPADDR: " + std::string(value);
    } else if (take("Counter64: ")) {
        ours = "UINT64: " + std::string(value);
    } else if (take("Timeticks: ")) {
        ours = k_timeticks_mask;
    } else {
        return {};
    }
    return oid + " = " + ours;
}

value_lines tool_values(const std::string &tool, std::vector<std::string> args) {
    args.insert(args.begin(), "-On");
    const run_result r = run_snmp_tool(tool, args);
    value_lines lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const std::string ours = translate_tool_line(line);
        if (!ours.empty()) {
            lines.push_back(ours);
        }
    }
    return lines;
}

/* The "  [i] OID：<oid> = <value>" lines of a veksnmpnms answer, time values masked. */
value_lines cli_values(const std::string &out) {
    value_lines lines;
    std::istringstream in(out);
    const std::string marker = "] OID：";
    for (std::string line; std::getline(in, line);) {
        const size_t pos = line.find(marker);
        if (!line.starts_with("  [") || pos == std::string::npos) {
            continue;
        }
        std::string entry = line.substr(pos + marker.size());
        const size_t ticks = entry.find("TIMETICKS: ");
        if (ticks != std::string::npos) {
            entry = entry.substr(0, ticks) + k_timeticks_mask;
        }
        lines.push_back(entry);
    }
    return lines;
}

class CliAgainstSnmpd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { peer_ = std::make_unique<snmpd_peer>(); }
    static void TearDownTestSuite() { peer_.reset(); }
    void SetUp() override {
        if (!peer_->skip_reason().empty()) {
            GTEST_SKIP() << peer_->skip_reason();
        }
    }
    static std::vector<std::string> with(std::vector<std::string> head, const std::vector<std::string> &tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    }
    static std::unique_ptr<snmpd_peer> peer_;
};

std::unique_ptr<snmpd_peer> CliAgainstSnmpd::peer_;

TEST_F(CliAgainstSnmpd, GetPrintsWhatSnmpgetPrints) {
    const std::vector<std::string> v2_oids = {k_sys_descr,      k_sys_object_id, k_sys_contact,
                                              k_ip_forwarding,  k_if_descr,      k_if_speed,
                                              k_if_in_discards, "1.3.6.1.2.1.1.3.0", k_if_hc_in_multicast};
    // SNMPv1 has no Counter64.
    const std::vector<std::string> v1_oids(v2_oids.begin(), v2_oids.end() - 1);
    for (const auto &[version, oids] : {std::pair{std::string("2c"), v2_oids}, std::pair{std::string("1"), v1_oids}}) {
        const value_lines expected = tool_values("snmpget", with({"-v" + version, "-c", "public", peer_->target()}, oids));
        ASSERT_EQ(expected.size(), oids.size()) << "snmpget -v" << version << " did not answer every object";
        const run_result r = run_cli(with({"get", "-v", version, "-t", "3000", peer_->target()}, oids));
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_NE(r.out.find("执行成功（共" + std::to_string(oids.size()) + "个变量）"), std::string::npos) << r.out;
        EXPECT_EQ(cli_values(r.out), expected) << "version " << version << "\n" << r.out;
    }
}

TEST_F(CliAgainstSnmpd, IpAddressIsShownMostSignificantOctetFirst) {
    const value_lines expected = tool_values("snmpget", {"-v2c", "-c", "public", peer_->target(), k_loopback_address});
    ASSERT_EQ(expected, value_lines{std::string(k_loopback_address) + " = IPADDR: 127.0.0.1"});
    const run_result r = run_cli({"get", peer_->target(), k_loopback_address});
    EXPECT_EQ(cli_values(r.out), expected) << r.out;
}

TEST_F(CliAgainstSnmpd, TimeTicksAreShownInSeconds) {
    const run_result r = run_cli({"get", peer_->target(), "1.3.6.1.2.1.1.3.0"});
    unsigned ticks = 0;
    double seconds = -1;
    const size_t pos = r.out.find("= TIMETICKS: ");
    ASSERT_NE(pos, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + pos, "= TIMETICKS: %u (%lf秒)", &ticks, &seconds), 2);
    EXPECT_NEAR(seconds, ticks / 100.0, 0.01);
}

TEST_F(CliAgainstSnmpd, GetNextPrintsWhatSnmpgetnextPrints) {
    const std::vector<std::string> oids = {"1.3.6.1.2.1.1", k_sys_descr, "1.3.6.1.2.1.4.1", "1.3.6.1.2.1.2.2.1.2"};
    const value_lines expected = tool_values("snmpgetnext", with({"-v2c", "-c", "public", peer_->target()}, oids));
    ASSERT_EQ(expected.size(), oids.size());
    const run_result r = run_cli(with({"getnext", "-t", "3000", peer_->target()}, oids));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("发送GET-NEXT命令到 " + peer_->target() + " ..."), std::string::npos) << r.out;
    EXPECT_EQ(cli_values(r.out), expected) << r.out;
}

TEST_F(CliAgainstSnmpd, BulkwalkPrintsWhatSnmpbulkgetPrints) {
    const std::vector<std::string> oids = {"1.3.6.1.2.1.4.1", "1.3.6.1.2.1.1"};
    const value_lines expected =
        tool_values("snmpbulkget", with({"-v2c", "-c", "public", "-Cn1", "-Cr4", peer_->target()}, oids));
    ASSERT_EQ(expected.size(), 5u);
    const run_result r = run_cli(with({"bulkwalk", "-v", "2c", "-c", "public", "-Cn1", "-Cr4", peer_->target()}, oids));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("执行成功（共5个变量）"), std::string::npos) << r.out;
    EXPECT_EQ(cli_values(r.out), expected) << r.out;
}

TEST_F(CliAgainstSnmpd, SetWritesTheValueForBothVersions) {
    for (const std::string version : {"1", "2c"}) {
        const std::string name = "cli-set-v" + version;
        const run_result r =
            run_cli({"set", "-v", version, "-c", "private", "-t", "3000", peer_->target(), k_sys_name, "s", name});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_NE(r.out.find("发送SET命令到 " + peer_->target() + " ..."), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("执行成功（共1个变量）\n  [1] OID：1.3.6.1.2.1.1.5.0 = STRING: " + name + "\n"),
                  std::string::npos)
            << r.out;
        const value_lines now = tool_values("snmpget", {"-v2c", "-c", "public", peer_->target(), k_sys_name});
        EXPECT_EQ(now, value_lines{std::string(k_sys_name) + " = STRING: " + name});
    }
}

TEST_F(CliAgainstSnmpd, ErrorAnswersPrintTheirStatusAndAdvice) {
    // sysDescr is fixed by the configuration: not writable.
    const run_result readonly = run_cli({"set", "-c", "private", "-t", "400", peer_->target(), k_sys_descr, "s", "x"});
    EXPECT_NE(readonly.out.find("协议错误（状态码：17）：notWritable\n"
                                "建议：检查OID是否完整（如添加.0后缀），或确认设备是否支持该OID\n"),
              std::string::npos)
        << readonly.out;
    EXPECT_NE(readonly.out.find("响应超时\n"), std::string::npos);

    const run_result wrong_type = run_cli({"set", "-c", "private", "-t", "400", peer_->target(), k_sys_name, "i", "5"});
    EXPECT_NE(wrong_type.out.find("协议错误（状态码：7）：wrongType\n========"), std::string::npos) << wrong_type.out;

    const run_result missing = run_cli({"get", "-v", "1", "-t", "400", peer_->target(), "1.3.6.1.2.1.1.99.0"});
    EXPECT_NE(missing.out.find("协议错误（状态码：2）：noSuchName\n"), std::string::npos) << missing.out;
    EXPECT_NE(missing.out.find("响应超时\n"), std::string::npos);
}

TEST_F(CliAgainstSnmpd, ExitCodesTellTheOutcome) {
    const std::string silent = local_target(free_udp_port());
    const std::string missing = "1.3.6.1.2.1.1.99.0";
    struct outcome {
        std::vector<std::string> args;
        int exit_code;
    };
    const std::vector<outcome> outcomes = {
        {{"get", peer_->target(), k_sys_descr, k_sys_contact}, k_exit_ok},
        {{"set", "-c", "private", peer_->target(), k_sys_name, "s", "exit-codes"}, k_exit_ok},
        {{"walk", "-v", "1", peer_->target(), "1.3.6.1.2.1.1"}, k_exit_ok},
        {{"get", peer_->target(), k_sys_descr, missing}, k_exit_failed},                 // noSuchObject
        {{"get", "-v", "1", "-t", "300", peer_->target(), missing}, k_exit_failed},      // noSuchName
        {{"set", "-c", "private", "-t", "300", peer_->target(), k_sys_descr, "s", "x"}, k_exit_failed},
        {{"get", "-t", "300", silent, k_sys_descr}, k_exit_failed},                      // time-out
        {{"walk", "-t", "300", silent, "1.3.6.1.2.1.1"}, k_exit_failed},
        {{"get", "-t", "0", peer_->target(), k_sys_descr}, k_exit_usage},
        {{"walk", peer_->target()}, k_exit_usage},
        {{"getnext", "-v", "1", peer_->target(), k_sys_descr}, k_exit_usage},
    };
    for (const outcome &o : outcomes) {
        const run_result r = run_cli(o.args);
        std::string line;
        for (const std::string &arg : o.args) {
            line += arg + " ";
        }
        EXPECT_EQ(r.exit_code, o.exit_code) << line << "\n" << r.out;
        EXPECT_EQ(r.out.ends_with(k_usage_hint), o.exit_code == k_exit_usage) << line;
    }
}

} // namespace
} // namespace apps_test
