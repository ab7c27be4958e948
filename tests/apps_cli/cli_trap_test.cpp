// veksnmpnms traplisten: argument rules, notifications from Debian's snmptrap and snmpinform, a port
// that cannot be bound, and Ctrl+C.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/apps_cli/cli_test_common.h"

namespace apps_test {
namespace {

std::string listening_line(uint16_t port) {
    return "[TRAP线程] 已启动（端口：" + std::to_string(port) + "），后台监听中...\n";
}

TEST(CliTrapListen, ArgumentRules) {
    const run_result too_many = run_cli({"traplisten", "-p", "162", "-lvl", "2"});
    EXPECT_EQ(too_many.exit_code, 1);
    EXPECT_EQ(too_many.out, "错误：traplisten命令参数过多，使用 veksnmpnms -h_vek 查看帮助\n");

    const run_result zero = run_cli({"traplisten", "-p", "0"});
    EXPECT_EQ(zero.exit_code, 0);
    EXPECT_EQ(zero.out, "错误：无效的TRAP监听端口 '0'\n" + k_parse_failure);

    const run_result other = run_cli({"traplisten", "-t", "100"});
    EXPECT_EQ(other.exit_code, 0);
    EXPECT_EQ(other.out, "错误：traplisten命令仅支持 -p 端口 参数\n" + k_parse_failure);

    const run_result no_value = run_cli({"traplisten", "-p"});
    EXPECT_EQ(no_value.exit_code, 0);
    EXPECT_EQ(no_value.out, "错误：-p参数后必须指定端口号\n" + k_parse_failure);
}

TEST(CliTrapListen, CtrlCEndsTheListenerWithExitCodeZero) {
    const uint16_t port = free_udp_port();
    child_process cli(k_cli, {"traplisten", "-p", std::to_string(port)});
    ASSERT_TRUE(cli.wait_for_output(listening_line(port), 5s)) << cli.output();
    EXPECT_NE(cli.output().find("启动TRAP/INFORM监听（端口：" + std::to_string(port) + "）...\n"), std::string::npos);
    // The listener's thread and the command's own thread print their lines in either order.
    EXPECT_TRUE(cli.wait_for_output("TRAP后台监听已启动，Ctrl+C 停止\n", 5s)) << cli.output();
    const auto start = std::chrono::steady_clock::now();
    cli.send_signal(SIGINT);
    const std::optional<int> code = cli.wait_exit(5s);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(code, 0);
    // The waits wake on the signal itself instead of polling.
    EXPECT_LT(elapsed, 300ms);
    const std::string &out = cli.output();
    const size_t caught = out.find("\n[LOG] 捕获Ctrl+C信号，准备退出\n\n[提示] 停止TRAP监听...\n");
    ASSERT_NE(caught, std::string::npos) << out;
    EXPECT_NE(out.find("[LOG] trap_stop_all: 开始停止监听，端口=" + std::to_string(port) + "\n", caught), std::string::npos);
    EXPECT_NE(out.find("[TRAP线程] 监听套接字已关闭\n", caught), std::string::npos);
    EXPECT_NE(out.find("[LOG] trap_stop_all: 仅关闭监听套接字，SDK全局Agent缓存常驻保留\n", caught), std::string::npos);
}

TEST(CliTrapListen, PortInUseEndsTheListener) {
    snmp_responder occupant;
    ASSERT_TRUE(occupant.ok());
    const run_result r = run_cli({"traplisten", "-p", std::to_string(occupant.port())}, 5s);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("[TRAP线程] 启动失败："), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("（端口：" + std::to_string(occupant.port()) + "）\n"), std::string::npos);
    EXPECT_EQ(r.out.find(listening_line(occupant.port())), std::string::npos);
}

TEST(CliTrapListen, PrintsTrapsAndAcknowledgesInforms) {
    if (!find_program("snmptrap") || !find_program("snmpinform")) {
        GTEST_SKIP() << "snmptrap/snmpinform are not installed (Debian package snmp)";
    }
    const uint16_t port = free_udp_port();
    const std::string target = local_target(port);
    child_process cli(k_cli, {"traplisten", "-p", std::to_string(port)});
    ASSERT_TRUE(cli.wait_for_output(listening_line(port), 5s)) << cli.output();

    const run_result trap = run_snmp_tool(
        "snmptrap", {"-v2c", "-c", "public", target, "", "1.3.6.1.4.1.9999.1", "1.3.6.1.4.1.9999.1.1", "s", "disk full"});
    EXPECT_EQ(trap.exit_code, 0);
    ASSERT_TRUE(cli.wait_for_output("STRING: disk full\n", 5s)) << cli.output();
    const std::string &out = cli.output();
    EXPECT_NE(out.find("[TRAP自动创建常驻Agent] 源设备 127.0.0.1:161 无缓存，生成默认只读上下文\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("[LOG] trap_callback 触发！来源IP=127.0.0.1, 源端口="), std::string::npos);
    EXPECT_NE(out.find(" 本地监听端口：" + std::to_string(port) + "（版本：v2c）\n"), std::string::npos);
    EXPECT_NE(out.find("安全信息：共同体名 = public\n变量数据（共3个）：\n  [1] OID：1.3.6.1.2.1.1.3.0 = TIMETICKS: "),
              std::string::npos);
    EXPECT_NE(out.find("  [2] OID：1.3.6.1.6.3.1.1.4.1.0 = OID: 1.3.6.1.4.1.9999.1\n"
                       "  [3] OID：1.3.6.1.4.1.9999.1.1 = STRING: disk full\n"
                       "----------------------------------------\n"),
              std::string::npos);

    const size_t before_inform = cli.output().size();
    const run_result inform = run_snmp_tool("snmpinform", {"-v2c", "-c", "public", "-t", "2", "-r", "1", target, "",
                                                           "1.3.6.1.4.1.9999.2", "1.3.6.1.4.1.9999.2.1", "i", "42"});
    EXPECT_EQ(inform.exit_code, 0) << "the inform was not acknowledged";
    ASSERT_TRUE(cli.wait_for_output("  [3] OID：1.3.6.1.4.1.9999.2.1 = INTEGER: 42\n", 5s, before_inform))
        << cli.output();
    // The sender's agent context exists since the trap: it is not created a second time.
    EXPECT_EQ(count_of(cli.output(), "[TRAP自动创建常驻Agent]"), 1u);

    cli.send_signal(SIGINT);
    EXPECT_EQ(cli.wait_exit(5s), 0);
}

} // namespace
} // namespace apps_test
