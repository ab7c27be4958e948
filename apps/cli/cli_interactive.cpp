/* The interactive prompt: reading and splitting lines, and the prompt's own commands. */
#include "apps/cli/cli_interactive.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apps/cli/cli_command.h"
#include "apps/cli/cli_options.h"
#include "apps/cli/cli_output.h"
#include "apps/cli/cli_state.h"
#include "apps/cli/cli_trap.h"
#include "nms/vek_nms_sdk.h"

namespace {

constexpr uint16_t k_trap_port = 162;
constexpr char k_quote = '"';

bool is_blank(char c) { return c == ' ' || c == '\t'; }

/* Reads one line of at most k_cli_max_line_chars characters (without its line feed); the rest of a
 * longer line is read and dropped so that it never runs as a command of its own. False at the end
 * of input. */
bool read_line(std::string &line) {
    std::array<char, k_cli_max_line_chars + 1> buffer{};
    if (std::fgets(buffer.data(), static_cast<int>(buffer.size()), stdin) == nullptr) {
        return false;
    }
    line.assign(buffer.data());
    const size_t feed = line.find('\n');
    if (feed != std::string::npos) {
        line.resize(feed);
        return true;
    }
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
    return true;
}

void print_banner() {
    std::puts("========================================");
    std::puts("SNMP CLI 交互式模式");
    std::puts("支持：get/set/getnext/bulkwalk/walk/traplisten/stop trap/exit/help");
    std::puts("========================================");
}

[[noreturn]] void interactive_exit() {
    g_exit_flag.store(true);
    if (g_trap_running.load() || g_trap_thread.joinable()) {
        trap_stop_all();
    }
    stop_snmp_1ms_timer();
    if (g_cli_snmp_inited.load()) {
        api_snmp_destroy();
    }
    g_cli_snmp_inited.store(false);
    g_trap_cb_reg.store(false);
    std::puts("退出交互式模式");
    cli_exit(EXIT_SUCCESS);
}

/* The port of an interactive traplisten: the value after "-p", else 162. */
uint16_t interactive_trap_port(const std::vector<std::string> &words) {
    for (size_t i = 1; i + 1 < words.size(); ++i) {
        if (words[i] != "-p") {
            continue;
        }
        const auto port = cli_parse_port(words[i + 1]);
        if (!port) {
            std::printf("错误：无效的TRAP端口 %s\n", words[i + 1].c_str());
            return k_trap_port;
        }
        return *port;
    }
    return k_trap_port;
}

void interactive_traplisten(const std::vector<std::string> &words) {
    if (cli_prepare_listener() == cli_listener_state::already_running) {
        return;
    }
    const uint16_t port = interactive_trap_port(words);
    if (!cli_start_listener(port)) {
        std::puts("错误：创建TRAP线程失败");
        stop_snmp_1ms_timer();
    }
}

void run_request_line(const std::vector<std::string> &words) {
    std::vector<const char *> argv;
    argv.reserve(words.size() + 1);
    argv.push_back(k_cli_program_name);
    for (const std::string &word : words) {
        argv.push_back(word.c_str());
    }
    // The prompt keeps going whatever the command ended with.
    static_cast<void>(cli_execute_and_print(argv));
}

void dispatch(const std::vector<std::string> &words) {
    const std::string &command = words[0];
    if (command == "exit") {
        interactive_exit();
    }
    if (command == "help") {
        print_usage();
    } else if (command == "stop" && words.size() > 1 && words[1] == "trap") {
        trap_stop_all();
    } else if (command == "get" || command == "set" || command == "getnext" || command == "bulkwalk" ||
               command == "walk") {
        run_request_line(words);
    } else if (command == "traplisten") {
        interactive_traplisten(words);
    } else {
        std::printf("错误：未知命令 '%s'，输入help查看帮助\n", command.c_str());
    }
}

} // namespace

std::vector<std::string> cli_split_words(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (words.size() < k_cli_max_words) {
        while (i < line.size() && is_blank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string word;
        bool quoted = false;
        for (; i < line.size() && (quoted || !is_blank(line[i])); ++i) {
            if (line[i] == k_quote) {
                quoted = !quoted;
            } else if (word.size() < k_cli_max_line_chars) {
                word.push_back(line[i]);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}

void cli_interactive_mode() {
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    print_banner();
    std::string line;
    for (;;) {
        std::fputs("> ", stdout);
        if (!read_line(line)) {
            stop_snmp_1ms_timer();
            cli_exit(EXIT_SUCCESS);
        }
        const std::vector<std::string> words = cli_split_words(line);
        if (!words.empty()) {
            dispatch(words);
        }
    }
}
