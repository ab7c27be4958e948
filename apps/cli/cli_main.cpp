/* veksnmpnms: command-line SNMP manager. One command from the command line, or an interactive
 * prompt when started without arguments. */
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "apps/app_os/app_os.h"
#include "apps/cli/cli_command.h"
#include "apps/cli/cli_interactive.h"
#include "apps/cli/cli_options.h"
#include "apps/cli/cli_output.h"
#include "apps/cli/cli_state.h"

namespace {

/* Program name, command and the two words of "-p <port>" (a listener with an SNMPv3 user takes more). */
constexpr int k_max_traplisten_words = 4;

} // namespace

int main(int argc, char **argv) {
    app_os::console_utf8(true);
    cli_install_signal_handler();
    if (argc <= 1) {
        cli_interactive_mode();
    }
    // Line by line, so that a reader of a pipe sees each line as it is printed.
    app_os::line_buffered_stdout();
    const std::span<const char *const> words(argv, static_cast<size_t>(argc));
    if (std::string_view(argv[1]) == "traplisten" && argc > k_max_traplisten_words &&
        !cli_listener_has_user(words.subspan(2))) {
        std::printf("错误：traplisten命令参数过多，使用 %s -h_vek 查看帮助\n", k_cli_program_name);
        stop_snmp_1ms_timer();
        cli_exit(EXIT_FAILURE);
    }
    const int status = cli_execute_and_print(words);
    if (status == k_cli_exit_usage) {
        cli_print_usage_hint();
    }
    cli_exit(status);
}
