/* snmp_api_demo: start-up, the prompt and the exit path. */
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "apps/snmp_api_demo/snmp_api_demo.h"
#include "base/agent_log.h"
#include "nms/vek_nms_sdk.h"

std::atomic<bool> g_exit_flag{false};

namespace {

constexpr uint32_t k_demo_log_level = AGENT_LOG_WARN;
constexpr size_t k_max_line_chars = 63;

constexpr std::array k_command_list = {
    "========================================",
    "[NOTE] SNMP 单窗口交互模式",
    "支持命令：",
    "  start-listen  - 启动后台TRAP监听",
    "  stop-listen   - 停止后台TRAP监听",
    "  get           - SNMPv2c GET（读取系统信息）",
    "  set-led1      - SNMPv1 SET LED=1（触发Inform）",
    "  set-led0      - SNMPv1 SET LED=0（触发Trap）",
    "  getnext       - SNMPv2c GET-NEXT（遍历MIB）",
    "  bulkwalk      - SNMPv2c GET-BULK（批量遍历）",
    "  exit          - 退出程序",
    "========================================",
};

void sigint_handler(int /*sig*/) {
    g_exit_flag.store(true);
    g_listen_running.store(false);
    AGENT_LOG(AGENT_LOG_INFO, "程序退出中...");
}

/* The interrupt signal is taken by a thread of its own, where logging is safe (it is not inside an
 * asynchronous handler). Called before any other thread starts, so all of them inherit the mask. */
void install_interrupt_handler() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) == 0) {
                sigint_handler(sig);
            }
        }
    }).detach();
}

void demo_exit() {
    g_exit_flag.store(true);
    demo_stop_listen();
    if (g_agent_created.load()) {
        api_snmp_agent_remove(k_demo_target_ip, k_demo_target_port);
        AGENT_LOG(AGENT_LOG_INFO, "程序退出，销毁全局Agent");
    }
    api_snmp_destroy();
    g_snmp_inited.store(false);
    g_agent_created.store(false);
    AGENT_LOG(AGENT_LOG_INFO, "程序已退出");
}

void run_command(std::string_view command) {
    if (command == "start-listen") {
        demo_start_listen();
    } else if (command == "stop-listen") {
        demo_stop_listen();
    } else if (command == "get") {
        demo_get();
    } else if (command == "set-led1") {
        demo_set_led(true);
    } else if (command == "set-led0") {
        demo_set_led(false);
    } else if (command == "getnext") {
        demo_getnext();
    } else if (command == "bulkwalk") {
        demo_bulkwalk();
    } else if (command == "exit") {
        demo_exit();
    } else {
        AGENT_LOG(AGENT_LOG_WARN, "无效命令: %.*s", static_cast<int>(command.size()), command.data());
    }
}

/* One line of at most 63 characters without its line feed; the rest of a longer line is dropped so
 * that it never runs as a command of its own. False at the end of input. */
bool read_line(std::array<char, k_max_line_chars + 1> &buffer) {
    if (std::fgets(buffer.data(), static_cast<int>(buffer.size()), stdin) == nullptr) {
        return false;
    }
    char *feed = std::strchr(buffer.data(), '\n');
    if (feed != nullptr) {
        *feed = '\0';
        return true;
    }
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
    return true;
}

void interactive_mode() {
    demo_snmp_init();
    for (const char *line : k_command_list) {
        AGENT_LOG(AGENT_LOG_INFO, "%s", line);
    }
    std::array<char, k_max_line_chars + 1> line{};
    while (!g_exit_flag.load()) {
        std::fputs("> ", stdout);
        std::fflush(stdout);
        if (!read_line(line)) {
            break;
        }
        if (line[0] != '\0') {
            run_command(line.data());
        }
    }
    // At the end of input the listener is stopped so that the program ends with no thread of its own.
    demo_stop_listen();
}

} // namespace

int main(int argc, char ** /*argv*/) {
    const agent_log_config log_config{k_demo_log_level, AGENT_LOG_TARGET_CONSOLE, 0, AGENT_LOG_MAX_ENTRIES_DEFAULT};
    agent_log_init(&log_config);
    // Line by line, so that a reader of a pipe sees each log line as it is written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    install_interrupt_handler();
    AGENT_LOG(AGENT_LOG_INFO, "snmp_api_demo 启动（目标Agent：%s:%d）", k_demo_target_ip,
              static_cast<int>(k_demo_target_port));
    if (argc == 1) {
        interactive_mode();
    } else {
        AGENT_LOG(AGENT_LOG_WARN, "无效参数，直接运行程序进入交互模式");
    }
    std::fflush(stdout);
    // SDK threads may still run (the interrupt path does not destroy the SDK): end without running
    // static destructors under them.
    std::_Exit(EXIT_SUCCESS);
}
