// veksnmpnms interactive mode, driven through a pipe.
#include <gtest/gtest.h>

#include "codec/snmp_types.h"
#include "tests/apps_cli/cli_test_common.h"

namespace apps_test {
namespace {

const std::string k_banner = "========================================\nSNMP CLI 交互式模式\n"
                             "支持：get/set/getnext/bulkwalk/walk/traplisten/stop trap/exit/help\n"
                             "========================================\n";

run_result run_prompt(std::string_view input, std::chrono::milliseconds timeout = 10s) {
    return run_program(k_cli, {}, input, timeout);
}

TEST(CliInteractive, PromptCommandsAndExit) {
    const run_result r =
        run_prompt("\n   \t\nstop trap\nstop\nstop now\nhelp\nwander 1.3\nwalk 10.0.0.5\nexit\nget 10.0.0.5\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out.starts_with(k_banner + "> ")) << r.out;
    // Blank lines prompt again; stop trap before anything was started finds nothing running.
    EXPECT_NE(r.out.find("> > > [LOG] trap_stop_all: 当前无运行监听线程\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("> 错误：未知命令 'stop'，输入help查看帮助\n> 错误：未知命令 'stop'，输入help查看帮助\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("用法: veksnmpnms <命令>"), std::string::npos);
    EXPECT_NE(r.out.find("错误：未知命令 'wander'，输入help查看帮助\n"), std::string::npos);
    // walk is a command of the prompt; a refusal there prints no usage hint and the prompt goes on.
    EXPECT_NE(r.out.find("> 错误：必须指定至少一个OID\n" + k_parse_failure + "> "), std::string::npos);
    // exit ends the program: the line after it is never read.
    EXPECT_TRUE(r.out.ends_with("> 退出交互式模式\n")) << r.out;
}

TEST(CliInteractive, EndOfInputEndsWithZero) {
    const run_result r = run_prompt("get 10.0.0.5\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, k_banner + "> 错误：必须指定至少一个OID\n" + k_parse_failure + "> ");
}

TEST(CliInteractive, QuotedWordsLoseTheirQuotes) {
    snmp_responder responder;
    ASSERT_TRUE(responder.ok());
    const std::string target = local_target(responder.port());
    // A quoted target, a community mixing quoted and unquoted runs, and a quoted SET value with blanks.
    const std::string input = "get -c \"no\"rth \"" + target + "\" 1.3.6.1.2.1.1.1.0\n" +
                              "  set \"" + target + "\" 1.3.6.1.2.1.1.5.0 s \"two words\"\n" + "exit\n";
    const run_result r = run_prompt(input);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(count_of(r.out, "发送GET命令到 " + target + " ...\n"), 1u) << r.out;
    EXPECT_EQ(count_of(r.out, "发送SET命令到 " + target + " ...\n"), 1u);
    // The second command skips the initialisation and replaces the context of the same target.
    const size_t skipped = r.out.find("[LOG] cli_safe_snmp_init: SNMP库已初始化，跳过\n");
    ASSERT_NE(skipped, std::string::npos);
    EXPECT_NE(r.out.find("[LOG] 设备已有缓存Agent，销毁后重建全新上下文\n", skipped), std::string::npos);
    EXPECT_EQ(count_of(r.out, "[LOG] 设备已有缓存Agent"), 1u);
    const std::vector<seen_request> seen = responder.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].community, "north");
    EXPECT_EQ(seen[1].community, "public");
    EXPECT_EQ(seen[1].op, static_cast<uint32_t>(SNMP_OP_SET));
    EXPECT_NE(r.out.find("退出交互式模式\n"), std::string::npos);
}

TEST(CliInteractive, OverlongLineNeverRunsItsTail) {
    // The characters after the 511th belong to the same line: they are not a command of their own.
    const std::string input = std::string(k_cli_line_chars, 'a') + "exit\n";
    const run_result r = run_prompt(input);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(count_of(r.out, "错误：未知命令 '"), 1u);
    EXPECT_NE(r.out.find("错误：未知命令 '" + std::string(k_cli_line_chars, 'a') + "'"), std::string::npos);
    EXPECT_EQ(r.out.find("退出交互式模式"), std::string::npos) << r.out;
}

TEST(CliInteractive, BackgroundListenerStartsOnceAndStops) {
    const uint16_t port = free_udp_port();
    const std::string port_text = std::to_string(port);
    child_process cli(k_cli, {});
    cli.write_stdin("traplisten -p " + port_text + "\n");
    ASSERT_TRUE(cli.wait_for_output("[TRAP线程] 已启动（端口：" + port_text + "），后台监听中...\n", 5s)) << cli.output();
    if (find_program("snmptrap")) {
        run_snmp_tool("snmptrap",
                      {"-v2c", "-c", "public", local_target(port), "", "1.3.6.1.4.1.9999.3", "1.3.6.1.4.1.9999.3.1", "s", "bg"});
        EXPECT_TRUE(cli.wait_for_output("  [3] OID：1.3.6.1.4.1.9999.3.1 = STRING: bg\n", 5s)) << cli.output();
    }
    cli.write_stdin("traplisten -p 7\n");
    ASSERT_TRUE(cli.wait_for_output("TRAP监听已在运行（端口：" + port_text + "）\n", 5s)) << cli.output();
    cli.write_stdin("stop trap\n");
    ASSERT_TRUE(cli.wait_for_output("[LOG] trap_stop_all: 仅关闭监听套接字，SDK全局Agent缓存常驻保留\n", 5s));
    EXPECT_NE(cli.output().find("[LOG] trap_stop_all: 开始停止监听，端口=" + port_text + "\n"), std::string::npos);
    EXPECT_NE(cli.output().find("[TRAP线程] 监听套接字已关闭\n"), std::string::npos);
    // A second stop finds nothing; a new listener can start on the same port, and exit stops it.
    cli.write_stdin("stop trap\ntraplisten -p " + port_text + "\n");
    ASSERT_TRUE(cli.wait_for_output("[LOG] trap_stop_all: 当前无运行监听线程\n", 5s)) << cli.output();
    const size_t restart_from = cli.output().find("[LOG] trap_stop_all: 当前无运行监听线程\n");
    ASSERT_TRUE(cli.wait_for_output("[TRAP线程] 已启动（端口：" + port_text + "）", 5s, restart_from))
        << cli.output();
    cli.write_stdin("exit\n");
    EXPECT_EQ(cli.wait_exit(10s), 0);
    EXPECT_EQ(count_of(cli.output(), "[LOG] trap_stop_all: 开始停止监听，端口=" + port_text + "\n"), 2u);
    EXPECT_EQ(count_of(cli.output(), "[TRAP线程] 监听套接字已关闭\n"), 2u);
    EXPECT_TRUE(cli.output().ends_with("退出交互式模式\n")) << cli.output();
}

} // namespace
} // namespace apps_test
