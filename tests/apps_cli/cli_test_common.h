/* Shared pieces of the veksnmpnms end-to-end tests. */
#ifndef VEK_TESTS_APPS_CLI_TEST_COMMON_H
#define VEK_TESTS_APPS_CLI_TEST_COMMON_H

#include <string>
#include <vector>

#include "tests/apps_cli/apps_test_support.h"

namespace apps_test {

inline const std::string k_cli = VEK_CLI_PATH;
inline const std::string k_parse_failure = "参数解析失败: 数据为空（队列空或无有效响应） (18)\n";
/* What a one-shot command refused for its usage ends with. */
inline const std::string k_usage_hint =
    "用法: veksnmpnms <命令> [选项] <IP:端口> <OID> [类型 值]...\n使用 veksnmpnms -h_vek 查看帮助\n";
inline constexpr int k_exit_ok = 0;
inline constexpr int k_exit_failed = 1;
inline constexpr int k_exit_usage = 2;
inline constexpr size_t k_cli_line_chars = 511; /* longest interactive line */
inline const std::string k_sys_descr = "1.3.6.1.2.1.1.1.0";

/* Runs veksnmpnms once with the arguments and no input. */
inline run_result run_cli(const std::vector<std::string> &args, std::chrono::milliseconds timeout = 10s) {
    return run_program(k_cli, args, "", timeout);
}

/* "127.0.0.1:<port>". */
inline std::string local_target(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

} // namespace apps_test

#endif
