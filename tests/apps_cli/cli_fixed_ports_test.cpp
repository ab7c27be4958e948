// veksnmpnms listener ports that fall back to the standard trap port 162.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/apps_cli/cli_test_common.h"

namespace apps_test {
namespace {

/* The listener thread either listens on 162 or, without the right to bind it, reports why not. */
bool listener_reported(child_process &cli) {
    if (!cli.wait_for_output("[TRAP线程] ", 5s)) {
        return false;
    }
    return cli.wait_for_output("（端口：162）", 5s, cli.output().find("[TRAP线程] "));
}

TEST(CliFixedPorts, AgentPortGivenToTraplistenMeansPort162) {
    child_process cli(k_cli, {"traplisten", "-p", "161"});
    EXPECT_TRUE(listener_reported(cli)) << cli.output();
    EXPECT_NE(cli.output().find("启动TRAP/INFORM监听（端口：162）...\n"), std::string::npos) << cli.output();
    cli.send_signal(SIGINT);
    EXPECT_EQ(cli.wait_exit(5s), 0);
}

TEST(CliFixedPorts, InteractiveZeroPortKeeps162) {
    child_process cli(k_cli, {});
    cli.write_stdin("traplisten -p 0\n");
    EXPECT_TRUE(listener_reported(cli)) << cli.output();
    EXPECT_NE(cli.output().find("错误：无效的TRAP端口 0\n"), std::string::npos) << cli.output();
    cli.write_stdin("stop trap\nexit\n");
    EXPECT_EQ(cli.wait_exit(10s), 0);
    EXPECT_TRUE(cli.output().ends_with("退出交互式模式\n")) << cli.output();
}

} // namespace
} // namespace apps_test
