// veksnmpnms one-shot commands: option parsing, refusals and what reaches the wire, checked against
// a codec-based responder on an ephemeral port.
#include <gtest/gtest.h>

#include "codec/snmp_types.h"
#include "tests/apps_cli/cli_test_common.h"

namespace apps_test {
namespace {

constexpr uint32_t k_status_no_such_name = 2;

TEST(CliArgs, UsageTextAndUnknownCommand) {
    const run_result usage = run_cli({"-h_vek"});
    EXPECT_EQ(usage.exit_code, 0);
    EXPECT_NE(usage.out.find("用法: veksnmpnms <命令> [选项] <IP:端口> <OID> [类型 值]...\n\n支持的命令:\n"),
              std::string::npos)
        << usage.out;
    // A line that ends in a line feed leaves an empty line after it; the examples do not.
    EXPECT_NE(usage.out.find("  walk      遍历OID下的整个子树（v1用GET-NEXT，v2c/v3用GET-BULK）\n"
                             "  traplisten 启动TRAP/INFORM监听（NMS侧）\n\n通用选项:\n"),
              std::string::npos);
    EXPECT_NE(usage.out.find("  -dp <端口>\t\t 远端设备SNMP查询默认端口（默认161）\n"), std::string::npos);
    EXPECT_NE(usage.out.find("示例:\n  veksnmpnms get -v 2c -c public 192.168.1.1 1.3.6.1.2.1.1.1.0\n"
                             "  veksnmpnms bulkwalk -v 2c -c public -Cn0 -Cr5 192.168.1.1 1.3.6.1.2.1.1\n"
                             "  veksnmpnms walk -v 2c -c public 192.168.1.1 1.3.6.1.2.1.2.2\n"
                             "  veksnmpnms traplisten -p 162 -lvl 2\n"),
              std::string::npos);

    const run_result unknown = run_cli({"walkabout", "10.0.0.5", k_sys_descr});
    EXPECT_EQ(unknown.exit_code, k_exit_usage);
    EXPECT_EQ(unknown.out,
              "错误：不支持的命令 'walkabout'（使用 veksnmpnms -h_vek 查看帮助）\n" + k_parse_failure + k_usage_hint);
}

TEST(CliArgs, MissingOidIsRefusedBeforeTheSdkStarts) {
    for (const auto &args : {std::vector<std::string>{"get"}, std::vector<std::string>{"get", "10.0.0.5"},
                             std::vector<std::string>{"getnext", "-v", "2c", "10.0.0.5"}}) {
        const run_result r = run_cli(args);
        EXPECT_EQ(r.exit_code, k_exit_usage);
        EXPECT_EQ(r.out, "错误：必须指定至少一个OID\n" + k_parse_failure + k_usage_hint) << args.size();
    }
}

TEST(CliArgs, OptionValuesAreChecked) {
    struct refusal {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<refusal> refusals = {
        {{"get", "-t", "0", "10.0.0.5", k_sys_descr}, "错误：无效的超时时间 '0'（范围1-30000毫秒）\n"},
        {{"get", "-t", "30001", "10.0.0.5", k_sys_descr}, "错误：无效的超时时间 '30001'（范围1-30000毫秒）\n"},
        {{"get", "-t", "5s", "10.0.0.5", k_sys_descr}, "错误：无效的超时时间 '5s'（范围1-30000毫秒）\n"},
        {{"get", "-v", "2", "10.0.0.5", k_sys_descr}, "错误：不支持的SNMP版本 '2'\n"},
        {{"get", "-lvl", "4", "10.0.0.5", k_sys_descr}, "错误：-lvl 仅支持 0(DEBUG)/1(INFO)/2(WARN)/3(ERROR)\n"},
        {{"get", "-dp", "0", "10.0.0.5", k_sys_descr}, "错误：-dp 设备端口非法 0\n"},
        {{"get", "-dp", "65697", "10.0.0.5", k_sys_descr}, "错误：-dp 设备端口非法 65697\n"},
        {{"get", "-v", "3", "-a", "SHA512", "10.0.0.5", k_sys_descr},
         "错误：不支持的认证算法 'SHA512'（支持：none/MD5/SHA1/SHA256/SHA256FULL）\n"},
        {{"get", "-x", "AES512", "10.0.0.5", k_sys_descr},
         "错误：不支持的加密算法 'AES512'（支持：none/AES128/AES192/AES256/3DES/DES）\n"},
        {{"get", "10.0.0.5:0", k_sys_descr}, "错误：无效的端口号 '0'\n"},
        // The whole port must be a number of 16 bits: nothing is cut or wrapped to another port.
        {{"get", "10.0.0.5:65697", k_sys_descr}, "错误：无效的端口号 '65697'\n"},
        {{"get", "10.0.0.5:16x", k_sys_descr}, "错误：无效的端口号 '16x'\n"},
        {{"get", "-v", "3", "10.0.0.5", k_sys_descr}, "错误：V3版本必须指定用户名（-u）\n"},
        {{"get", "-v", "3", "-u", "ops", "-a", "MD5", "10.0.0.5", k_sys_descr},
         "错误：指定认证算法（非none）时必须提供认证密码（-A）\n"},
        {{"get", "-v", "3", "-u", "ops", "-a", "SHA1", "-A", "secret123", "-x", "AES", "10.0.0.5", k_sys_descr},
         "错误：指定加密算法（非none）时必须提供加密密码（-X）\n"},
        {{"getnext", "-v", "1", "10.0.0.5", k_sys_descr}, "错误：v1版本不支持getnext/bulkwalk命令\n"},
        {{"bulkwalk", "-v", "1", "10.0.0.5", k_sys_descr}, "错误：v1版本不支持getnext/bulkwalk命令\n"},
        {{"bulkwalk", "-Cn11", "10.0.0.5", k_sys_descr}, "错误：非重复次数不能超过 10\n"},
        // 266 would be 10 in its low 8 bits; it is still more than 10.
        {{"bulkwalk", "-Cn266", "10.0.0.5", k_sys_descr}, "错误：非重复次数不能超过 10\n"},
        {{"bulkwalk", "-Cn", "10.0.0.5", k_sys_descr}, "错误：-Cn后需指定数字（如-Cn0）\n"},
        {{"bulkwalk", "-Cr0", "10.0.0.5", k_sys_descr}, "错误：最大重复次数必须 > 0\n"},
        {{"bulkwalk", "-Cr", "10.0.0.5", k_sys_descr}, "错误：-Cr后需指定数字（如-Cr5）\n"},
        {{"set", "10.0.0.5", "1.3.6.1.2.1.1.5.0", "s"}, "错误：set命令需为每个OID指定<类型>和<值>\n"},
        {{"get", "", k_sys_descr}, "错误：必须指定目标IP地址\n"},
        {{"walk", "10.0.0.5", k_sys_descr, "1.3.6.1.2.1.2"}, "错误：walk命令只能指定一个OID\n"},
        {{"walk", "-Cr0", "10.0.0.5", k_sys_descr}, "错误：最大重复次数必须 > 0\n"},
        // The scheme decides which names -a and -x take; -l asks for what it needs.
        {{"get", "-v", "3", "-s", "usm", "10.0.0.5", k_sys_descr}, "错误：不支持的V3安全方案 'usm'（支持：vek/std）\n"},
        {{"get", "-v", "3", "-s", "std", "-u", "ops", "-a", "SHA256", "-A", "secret123", "10.0.0.5", k_sys_descr},
         "错误：不支持的认证算法 'SHA256'（标准方案支持：MD5/SHA/SHA-224/SHA-256/SHA-384/SHA-512）\n"},
        {{"get", "-v", "3", "-u", "ops", "-a", "SHA-256", "-A", "secret123", "10.0.0.5", k_sys_descr},
         "错误：不支持的认证算法 'SHA-256'（支持：none/MD5/SHA1/SHA256/SHA256FULL）\n"},
        {{"get", "-v", "3", "-u", "ops", "-a", "MD5", "-A", "secret123", "-x", "AES", "-s", "std", "-x", "AES-192-D",
          "-X", "secret123", "10.0.0.5", k_sys_descr},
         "错误：不支持的加密算法 'AES-192-D'（标准方案支持：DES/AES/AES-192/AES-256/AES-192-C/AES-256-C）\n"},
        {{"get", "-v", "3", "-s", "std", "-u", "ops", "-l", "authPriv", "-a", "SHA", "-A", "secret123", "10.0.0.5",
          k_sys_descr},
         "错误：安全级别authPriv需要加密算法（-x）\n"},
        {{"get", "-v", "3", "-u", "ops", "-l", "authNoPriv", "10.0.0.5", k_sys_descr},
         "错误：安全级别authNoPriv/authPriv需要认证算法（-a）\n"},
        {{"get", "-v", "3", "-u", "ops", "-l", "auth", "10.0.0.5", k_sys_descr},
         "错误：不支持的安全级别 'auth'（支持：noAuthNoPriv/authNoPriv/authPriv）\n"},
    };
    for (const refusal &r : refusals) {
        const run_result result = run_cli(r.args);
        EXPECT_EQ(result.exit_code, k_exit_usage);
        EXPECT_EQ(result.out, r.message + k_parse_failure + k_usage_hint) << r.message;
    }
}

TEST(CliArgs, RefusedVarbindsReportTheSdkReason) {
    // Options after the target are taken as OIDs.
    const run_result late_option = run_cli({"get", "10.0.0.5", "-v", "1"});
    EXPECT_EQ(late_option.exit_code, k_exit_usage);
    EXPECT_NE(late_option.out.find("错误：解析OID失败（-v）\n原因：OID无效（格式错误或不符合SNMP标准）\n"
                                   "参数解析失败: OID无效（格式错误或不符合SNMP标准） (8)\n"),
              std::string::npos)
        << late_option.out;
    EXPECT_EQ(late_option.out.find("发送"), std::string::npos);

    const run_result bad_value = run_cli({"set", "10.0.0.5", "1.3.6.1.2.1.1.5.0", "INT", "12ab"});
    EXPECT_NE(bad_value.out.find("错误：解析OID或值失败（OID：1.3.6.1.2.1.1.5.0，类型：INT，值：12ab）\n"
                                 "原因：无效参数（参数为空或格式错误）\n"
                                 "参数解析失败: 无效参数（参数为空或格式错误） (1)\n"),
              std::string::npos)
        << bad_value.out;
}

TEST(CliArgs, AnswerIsPrintedAndTheCommandEndsAtOnce) {
    snmp_responder responder;
    ASSERT_TRUE(responder.ok());
    const std::string target = local_target(responder.port());
    const auto start = std::chrono::steady_clock::now();
    // The longest time-out is accepted; the answer ends the wait long before it.
    const run_result r = run_cli({"get", "-t", "30000", "-c", "north", target, k_sys_descr});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_LT(elapsed, 5s);
    const size_t sent = r.out.find("发送GET命令到 " + target + " ...\n");
    ASSERT_NE(sent, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("等待响应（超时: 30000ms）...\n", sent), std::string::npos);
    EXPECT_NE(r.out.find("收到响应（请求ID: "), std::string::npos);
    EXPECT_NE(r.out.find("目标设备：" + target + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("执行成功（共1个变量）\n  [1] OID：1.3.6.1.2.1.1.1.0 = STRING: value:1.3.6.1.2.1.1.1.0\n"
                         "----------------------------------------\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("响应超时"), std::string::npos);
    ASSERT_EQ(responder.requests().size(), 1u);
    const seen_request req = responder.requests()[0];
    EXPECT_EQ(req.version, SNMP_VERSION_2C);
    EXPECT_EQ(req.community, "north");
    EXPECT_EQ(req.op, static_cast<uint32_t>(SNMP_OP_GET));
}

TEST(CliArgs, OnlyTheFirstTenOidsAreRequested) {
    snmp_responder responder;
    ASSERT_TRUE(responder.ok());
    std::vector<std::string> args = {"get", "-t", "3000", local_target(responder.port())};
    for (int i = 1; i <= 12; ++i) {
        args.push_back("1.3.6.1.4.1.9999." + std::to_string(i));
    }
    const run_result r = run_cli(args);
    ASSERT_EQ(responder.requests().size(), 1u);
    const seen_request req = responder.requests()[0];
    ASSERT_EQ(req.oids.size(), 10u);
    EXPECT_EQ(req.oids.front(), "1.3.6.1.4.1.9999.1");
    EXPECT_EQ(req.oids.back(), "1.3.6.1.4.1.9999.10");
    EXPECT_NE(r.out.find("执行成功（共10个变量）"), std::string::npos) << r.out;
}

TEST(CliArgs, BulkParametersReachTheWire) {
    snmp_responder responder;
    ASSERT_TRUE(responder.ok());
    const std::string target = local_target(responder.port());
    const run_result r = run_cli({"bulkwalk", "-Cn1", "-Cr7", "-t", "3000", target, k_sys_descr, "1.3.6.1.2.1.2"});
    EXPECT_NE(r.out.find("发送GET-BULK命令到 " + target), std::string::npos) << r.out;
    // More repetitions than one byte carries are asked for as the most it carries.
    run_cli({"bulkwalk", "-Cr300", "-t", "3000", target, "1.3.6.1.2.1.2"});
    const std::vector<seen_request> seen = responder.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].op, static_cast<uint32_t>(SNMP_OP_GETBULK));
    EXPECT_EQ(seen[0].non_repeaters, 1u);
    EXPECT_EQ(seen[0].max_repetitions, 7u);
    EXPECT_EQ(seen[1].non_repeaters, 0u);
    EXPECT_EQ(seen[1].max_repetitions, 255u);
}

TEST(CliArgs, ErrorAnswerIsPrintedAndTheTimeOutStillRunsOut) {
    snmp_responder responder(0, k_status_no_such_name);
    ASSERT_TRUE(responder.ok());
    constexpr int k_timeout_ms = 700;
    const auto start = std::chrono::steady_clock::now();
    const run_result r =
        run_cli({"get", "-t", std::to_string(k_timeout_ms), local_target(responder.port()), "1.3.6.1.2.1.1.99.0"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exit_code, k_exit_failed);
    EXPECT_GE(elapsed, std::chrono::milliseconds(k_timeout_ms));
    const size_t block = r.out.find("协议错误（状态码：2）：noSuchName\n"
                                    "建议：检查OID是否完整（如添加.0后缀），或确认设备是否支持该OID\n"
                                    "========================================\n");
    ASSERT_NE(block, std::string::npos) << r.out;
    const size_t timeout_line = r.out.find("响应超时\n");
    ASSERT_NE(timeout_line, std::string::npos);
    EXPECT_GT(timeout_line, block);
    EXPECT_EQ(r.out.find("执行成功"), std::string::npos);
}

TEST(CliArgs, SilentAgentTimesOutAfterTheGivenTime) {
    // Nothing answers on the port; the v3 request also shows that passwords of a "none" algorithm
    // only warn.
    const uint16_t silent_port = free_udp_port();
    const run_result r = run_cli({"get", "-v", "3", "-u", "ops", "-A", "unused-pass", "-X", "unused-pass", "-t", "300",
                                  local_target(silent_port), k_sys_descr});
    EXPECT_EQ(r.exit_code, k_exit_failed);
    EXPECT_NE(r.out.find("警告：认证算法为none时，认证密码（-A）将被忽略\n"
                         "警告：加密算法为none时，加密密码（-X）将被忽略\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("等待响应（超时: 300ms）...\n"), std::string::npos);
    EXPECT_NE(r.out.find("响应超时\n"), std::string::npos);
}

TEST(CliArgs, LogLevelOptionIsAnnouncedAndApplied) {
    snmp_responder responder;
    ASSERT_TRUE(responder.ok());
    const run_result r = run_cli({"get", "-lvl", "3", local_target(responder.port()), k_sys_descr});
    EXPECT_NE(r.out.find("[LOG] 已设置SNMP底层日志等级=3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[调试] SNMP核心已初始化（仅执行一次），当前日志等级=3\n"), std::string::npos);
    // At ERROR level the SDK's INFO lines (such as the agent creation) stay silent.
    EXPECT_EQ(r.out.find("[INFO]"), std::string::npos);
    EXPECT_NE(r.out.find("执行成功（共1个变量）"), std::string::npos);
}

} // namespace
} // namespace apps_test
