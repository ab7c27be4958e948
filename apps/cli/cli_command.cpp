/* One command: parse, (re)create the agent context, send, and wait for the answer. */
#include "apps/cli/cli_command.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "apps/cli/cli_options.h"
#include "apps/cli/cli_output.h"
#include "apps/cli/cli_state.h"
#include "apps/cli/cli_trap.h"
#include "apps/cli/cli_walk.h"

namespace {

constexpr size_t k_min_words = 2; /* program name and command */

const char *command_label(cli_command command) {
    switch (command) {
    case cli_command::getnext:
        return "GET-NEXT";
    case cli_command::set:
        return "SET";
    case cli_command::bulkwalk:
        return "GET-BULK";
    default:
        return "GET";
    }
}

} // namespace

bool cli_recreate_agent(const cli_request &request) {
    std::lock_guard<std::mutex> lock(g_agent_mtx);
    const char *ip = request.ip.data();
    if (api_snmp_agent_exist(ip, request.port)) {
        std::puts("[LOG] 设备已有缓存Agent，销毁后重建全新上下文");
        api_snmp_agent_remove(ip, request.port);
    }
    api_snmp_agent_config config{};
    config.version = request.version;
    std::snprintf(config.community, sizeof config.community, "%s", request.community.data());
    api_snmp_err rc = api_snmp_agent_create(ip, request.port, &config);
    if (rc != API_SNMP_OK) {
        std::printf("创建Agent失败: %s (%d)\n", api_snmp_error_to_str(rc), static_cast<int>(rc));
        api_snmp_agent_remove(ip, request.port);
        return false;
    }
    if (request.version != API_SNMP_V3) {
        return true;
    }
    api_snmp_v3_user_config user{};
    std::snprintf(user.user_name, sizeof user.user_name, "%s", request.user.data());
    user.auth_alg = request.auth_alg;
    user.auth_password = request.auth_password.data();
    user.priv_alg = request.priv_alg;
    user.priv_password = request.priv_password.data();
    rc = api_snmp_user_add(ip, request.port, &user);
    if (rc != API_SNMP_OK) {
        std::printf("添加V3用户失败: %s (%d)\n", api_snmp_error_to_str(rc), static_cast<int>(rc));
        api_snmp_agent_remove(ip, request.port);
        return false;
    }
    return true;
}

namespace {

api_snmp_err send_request(const cli_request &request) {
    const char *ip = request.ip.data();
    const char *user = request.version == API_SNMP_V3 ? request.user.data() : nullptr;
    switch (request.command) {
    case cli_command::set:
        return api_snmp_set(ip, request.port, user, request.varbinds.data(), request.count, request.timeout_ms,
                            nullptr);
    case cli_command::getnext:
        return api_snmp_get_next(ip, request.port, user, request.varbinds.data(), request.count,
                                 request.timeout_ms, nullptr);
    case cli_command::bulkwalk:
        return api_snmp_get_bulk(ip, request.port, user, request.non_repeaters, request.max_repetitions,
                                 request.varbinds.data(), request.count, request.timeout_ms, nullptr);
    default:
        return api_snmp_get(ip, request.port, user, request.varbinds.data(), request.count, request.timeout_ms,
                            nullptr);
    }
}

int run_request(const cli_request &request) {
    cli_safe_snmp_init();
    api_snmp_register_response_callback(print_callback);
    if (!cli_recreate_agent(request)) {
        return k_cli_exit_failed;
    }
    std::printf("发送%s命令到 %s:%d ...\n", command_label(request.command), request.ip.data(),
                static_cast<int>(request.port));
    std::fflush(stdout);
    const api_snmp_err rc = send_request(request);
    if (rc != API_SNMP_OK) {
        std::printf("发送命令失败: %s (%d)\n", api_snmp_error_to_str(rc), static_cast<int>(rc));
        return k_cli_exit_failed;
    }
    std::printf("等待响应（超时: %ums）...\n", request.timeout_ms);
    std::fflush(stdout);
    // Only an answer with variables ends the wait early; an error answer is printed by the callback
    // and the command still waits out its time-out.
    if (!cli_wait_until([] { return g_response_received.load(); }, std::chrono::milliseconds(request.timeout_ms))) {
        std::puts("响应超时");
        return k_cli_exit_failed;
    }
    return g_request_failed.load() ? k_cli_exit_failed : k_cli_exit_ok;
}

/* The parse-failure lines of a refused request command; its exit code. */
int refuse(uint32_t code) {
    if (code == API_SNMP_ERR_NO_RESOURCE) {
        cli_print_format_error();
    } else {
        cli_print_parse_failure(code);
    }
    return k_cli_exit_usage;
}

} // namespace

void cli_exit(int code) {
    std::fflush(stdout);
    std::_Exit(code);
}

int cli_execute_and_print(std::span<const char *const> words) {
    g_response_received.store(false);
    g_request_failed.store(false);
    cli_request request{};
    if (words.size() < k_min_words) {
        cli_print_format_error();
        return k_cli_exit_usage;
    }
    const std::string_view command_word = words[1];
    if (command_word == "-h_vek") {
        print_usage();
        cli_exit(EXIT_SUCCESS);
    }
    const auto command = cli_command_from_word(command_word);
    if (!command) {
        std::printf("错误：不支持的命令 '%s'（使用 %s -h_vek 查看帮助）\n", words[1], k_cli_program_name);
        return refuse(API_SNMP_ERR_NO_DATA);
    }
    if (*command == cli_command::traplisten) {
        cli_traplisten_once(words.subspan(k_min_words));
        return k_cli_exit_ok;
    }
    if (words.size() == k_min_words) {
        std::puts("错误：必须指定至少一个OID");
        return refuse(API_SNMP_ERR_NO_DATA);
    }
    request.command = *command;
    if (*command == cli_command::walk) {
        request.max_repetitions = k_cli_walk_max_repetitions;
    }
    const uint32_t rc = cli_parse_request(words.subspan(k_min_words), request);
    if (rc != API_SNMP_OK) {
        return refuse(rc);
    }
    const int status = *command == cli_command::walk ? cli_run_walk(request) : run_request(request);
    std::fflush(stdout);
    return status;
}
