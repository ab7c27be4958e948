/* Console output of the command-line manager. */
#include "apps/cli/cli_output.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <string_view>
#include <utility>

#include "apps/cli/cli_state.h"

namespace {

constexpr const char *k_rule = "========================================";
constexpr const char *k_thin_rule = "----------------------------------------";
constexpr double k_ticks_per_second = 100.0;
constexpr size_t k_trap_sender_size = 64; /* the sender address is kept to 63 characters */
constexpr unsigned k_byte_bits = 8;
constexpr uint32_t k_byte_mask = 0xFFu;

/* SNMP error-statuses that point at the OID and the one that points at the value. */
constexpr uint32_t k_status_no_such_name = 2;
constexpr uint32_t k_status_bad_value = 3;
constexpr uint32_t k_status_authorization_error = 16;
constexpr uint32_t k_status_not_writable = 17;

/* How the standard tools show the exception values an agent answers in place of a value. */
constexpr std::array k_exception_lines = {
    std::pair{API_SNMP_BER_NO_SUCH_OBJECT, "No Such Object available on this agent at this OID"},
    std::pair{API_SNMP_BER_NO_SUCH_INSTANCE, "No Such Instance currently exists at this OID"},
    std::pair{API_SNMP_BER_END_OF_MIB_VIEW, "No more variables left in this MIB View (It is past the end of the MIB tree)"},
};

constexpr const char *k_usage_line = "用法: %s <命令> [选项] <IP:端口> <OID> [类型 值]...\n";

/* Usage lines after the usage line itself; each is written followed by a line feed of its own. */
constexpr std::array k_usage_body = {
    "支持的命令:",
    "  get       执行SNMP GET操作（获取变量值）",
    "  set       执行SNMP SET操作（设置变量值）",
    "  getnext   执行SNMP GET-NEXT操作（v2c/v3）",
    "  bulkwalk  执行SNMP GET-BULK操作（v2c/v3批量获取）",
    "  walk      遍历OID下的整个子树（v1用GET-NEXT，v2c/v3用GET-BULK）",
    "  traplisten 启动TRAP/INFORM监听（NMS侧）\n",
    "通用选项:",
    "  -h_vek          显示此帮助信息",
    "  -v <版本>        指定SNMP版本（1, 2c, 3，默认: 2c）",
    "  -c <共同体名>    V1/V2C版本的共同体名（默认: public）",
    "  -t <超时>        超时时间(毫秒，默认: 5000)",
    "  -lvl <数字>      SNMP底层日志等级：0=DEBUG,1=INFO,2=WARN,3=ERROR（默认1）\n",
    "  -dp <端口>\t\t 远端设备SNMP查询默认端口（默认161）",
    "BULKWALK专用选项:",
    "  -Cn <数量>      非重复次数（默认0，v2c/v3）",
    "  -Cr <数量>      最大重复次数（默认5，v2c/v3）",
    "WALK专用选项:",
    "  -Cr <数量>      每个GET-BULK请求的最大重复次数（默认10，最多取10，v2c/v3）\n",
    "TRAPLISTEN专用选项:",
    "  -p <端口>        指定TRAP监听端口（默认: 162）",
    "  [V3安全选项] <发送方IP>  用该V3用户认证来自发送方的SNMPv3 Trap/Inform\n",
    "V3安全选项:",
    "  -u <用户名>      V3版本的安全用户名（必填）",
    "  -a <算法>        认证算法（MD5, SHA1, SHA256, SHA256FULL，默认: 无认证）",
    "  -A <密码>        认证密码（当指定-a时必填）",
    "  -x <算法>        加密算法（AES, AES128, AES192, AES256, 3DES, DES，默认: 无加密）",
    "  -X <密码>        加密密码（当指定-x时必填）",
    "  -s <方案>        安全方案：vek（自研，默认）或 std（标准USM，与标准SNMP工具和设备互通）",
    "                   std 的算法名：-a MD5|SHA|SHA-224|SHA-256|SHA-384|SHA-512",
    "                                 -x DES|AES|AES-192|AES-256|AES-192-C|AES-256-C",
    "  -l <级别>        安全级别（noAuthNoPriv, authNoPriv, authPriv；默认由-a/-x决定）\n",
    "SET命令专用（每个OID需指定）:",
    "  <类型>           数据类型（int, string, ip, oid, uint32）",
    "  <值>             对应类型的值\n",
    "示例:",
};

/* Text of a fixed-size, normally NUL-terminated field, never read past the field. */
template <size_t N> std::string_view field_text(const char (&field)[N]) {
    return {field, strnlen(field, N)};
}

std::string_view string_value(const api_snmp_varbind &vb) {
    const size_t len = std::min<size_t>(vb.value_len, sizeof vb.value.bytes);
    const auto *text = reinterpret_cast<const char *>(vb.value.bytes);
    return {text, strnlen(text, len)};
}

void print_view(const char *format, std::string_view text) {
    std::printf(format, static_cast<int>(text.size()), text.data());
}

/* Prints the value lines that responses and traps share; false when the type is not one of them. */
bool print_common_value(const api_snmp_varbind &vb) {
    switch (vb.type) {
    case API_SNMP_BER_INTEGER:
        std::printf("INTEGER: %d\n", vb.value.i32);
        return true;
    case API_SNMP_BER_OCTET_STRING:
        print_view("STRING: %.*s\n", string_value(vb));
        return true;
    case API_SNMP_BER_OID:
        print_view("OID: %.*s\n", string_value(vb));
        return true;
    case API_SNMP_BER_UINTEGER32:
    case API_SNMP_BER_COUNTER32:
    case API_SNMP_BER_GAUGE32:
        std::printf("UINT32: %u\n", vb.value.u32);
        return true;
    case API_SNMP_BER_IPADDRESS: {
        const uint32_t a = vb.value.u32;
        std::printf("IPADDR: %d.%d.%d.%d\n", static_cast<int>((a >> (3 * k_byte_bits)) & k_byte_mask),
                    static_cast<int>((a >> (2 * k_byte_bits)) & k_byte_mask),
                    static_cast<int>((a >> k_byte_bits) & k_byte_mask), static_cast<int>(a & k_byte_mask));
        return true;
    }
    case API_SNMP_BER_TIMETICKS:
        std::printf("TIMETICKS: %u (%.2f秒)\n", vb.value.u32, vb.value.u32 / k_ticks_per_second);
        return true;
    case API_SNMP_BER_COUNTER64:
        std::printf("UINT64: %llu\n", static_cast<unsigned long long>(vb.value.u64));
        return true;
    default:
        break;
    }
    const char *exception = cli_exception_line(vb.type);
    if (exception == nullptr) {
        return false;
    }
    std::puts(exception);
    return true;
}

void print_varbind_prefix(int index, const api_snmp_varbind &vb) {
    const std::string_view oid = field_text(vb.oid);
    std::printf("  [%d] OID：%.*s = ", index, static_cast<int>(oid.size()), oid.data());
}

void print_trap_value(const api_snmp_varbind &vb) {
    if (print_common_value(vb)) {
        return;
    }
    if (vb.type == API_SNMP_BER_NULL) {
        std::puts("NULL");
        return;
    }
    std::printf("未知类型(0x%02X)，长度：%d\n", static_cast<unsigned>(vb.type), static_cast<int>(vb.value_len));
}

void print_local_failure(const api_snmp_response &response) {
    std::printf("API错误（代码：%d）：%s\n", static_cast<int>(response.error), api_snmp_error_to_str(response.error));
    if (response.error == API_SNMP_ERR_TIMEOUT) {
        std::puts("建议：检查设备是否在线，或延长超时时间（-t 参数）");
    } else if (response.error == API_SNMP_ERR_AUTH_FAILED) {
        std::puts("建议：检查V3用户名/密码是否正确，算法是否匹配");
    }
    std::printf("%s\n", k_rule);
}

void print_protocol_error(const api_snmp_response &response) {
    const uint32_t status = response.error_status;
    std::printf("协议错误（状态码：%d）：%s\n", static_cast<int>(status), api_snmp_error_status_to_str(status));
    if (status == k_status_no_such_name || status == k_status_authorization_error ||
        status == k_status_not_writable) {
        std::puts("建议：检查OID是否完整（如添加.0后缀），或确认设备是否支持该OID");
    } else if (status == k_status_bad_value) {
        std::puts("建议：检查SET命令的参数值是否符合设备要求（范围/类型）");
    }
    std::printf("%s\n", k_rule);
}

void print_empty_response() {
    std::puts("执行失败：设备返回空响应（无有效变量数据）");
    std::puts("可能原因：");
    std::puts("  1. 请求的OID在设备上未实现");
    std::puts("  2. 设备不支持该命令类型（如V1使用GET-NEXT）");
    std::puts("  3. 网络丢包导致响应不完整");
    std::printf("%s\n", k_rule);
}

/* Prints the variables; false when one of them holds an exception value instead of a value. */
bool print_response_variables(const api_snmp_response &response) {
    const int count = std::min<int>(response.var_count, static_cast<int>(API_SNMP_MAX_RESPONSE_VARBINDS));
    const auto variables = std::span(response.varbinds, static_cast<size_t>(count));
    const auto missing = std::count_if(variables.begin(), variables.end(), [](const api_snmp_varbind &vb) {
        return cli_exception_line(vb.type) != nullptr;
    });
    if (missing == 0) {
        std::printf("执行成功（共%d个变量）\n", count);
    } else {
        std::printf("执行完成（共%d个变量，其中%d个无值）\n", count, static_cast<int>(missing));
    }
    for (int i = 0; i < count; ++i) {
        cli_print_response_varbind(i + 1, response.varbinds[i]);
    }
    std::puts(k_thin_rule);
    return missing == 0;
}

/* Gives a trap sender a v2c agent context on the device port, unless it has one already. */
void ensure_sender_agent(const char *sender) {
    std::lock_guard<std::mutex> lock(g_agent_mtx);
    const uint16_t port = g_dev_snmp_port.load();
    if (api_snmp_agent_exist(sender, port)) {
        return;
    }
    api_snmp_agent_config config{};
    config.version = API_SNMP_V2C;
    std::snprintf(config.community, sizeof config.community, "%s", "public");
    if (api_snmp_agent_create(sender, port, &config) == API_SNMP_OK) {
        std::printf("[TRAP自动创建常驻Agent] 源设备 %s:%d 无缓存，生成默认只读上下文\n", sender, static_cast<int>(port));
    }
}

} // namespace

void print_usage() {
    std::printf("%s - SNMP 网管命令行工具（GET/SET/GET-NEXT/GET-BULK/TRAP监听）\n", k_cli_program_name);
    std::printf(k_usage_line, k_cli_program_name);
    std::putchar('\n');
    for (const char *line : k_usage_body) {
        std::puts(line);
    }
    std::printf("  %s get -v 2c -c public 192.168.1.1 1.3.6.1.2.1.1.1.0\n", k_cli_program_name);
    std::printf("  %s bulkwalk -v 2c -c public -Cn0 -Cr5 192.168.1.1 1.3.6.1.2.1.1\n", k_cli_program_name);
    std::printf("  %s walk -v 2c -c public 192.168.1.1 1.3.6.1.2.1.2.2\n", k_cli_program_name);
    std::printf("  %s traplisten -p 162 -lvl 2\n", k_cli_program_name);
    std::printf("  %s get -v 3 -s std -u admin -l authPriv -a SHA-256 -A authpass123 -x AES -X privpass123 "
                "192.168.1.1 1.3.6.1.2.1.1.1.0\n",
                k_cli_program_name);
    std::printf("  %s traplisten -p 1162 -s std -u trapuser -l authPriv -a SHA -A authpass123 -x AES -X privpass123 "
                "192.168.1.1\n",
                k_cli_program_name);
}

const char *cli_exception_line(uint8_t type) {
    const auto *it = std::find_if(k_exception_lines.begin(), k_exception_lines.end(),
                                  [type](const auto &entry) { return entry.first == type; });
    return it != k_exception_lines.end() ? it->second : nullptr;
}

void cli_print_response_varbind(int index, const api_snmp_varbind &vb) {
    print_varbind_prefix(index, vb);
    if (!print_common_value(vb)) {
        std::printf("TYPE(0x%02X): 长度=%d\n", static_cast<unsigned>(vb.type), static_cast<int>(vb.value_len));
    }
}

void cli_print_usage_hint() {
    std::printf(k_usage_line, k_cli_program_name);
    std::printf("使用 %s -h_vek 查看帮助\n", k_cli_program_name);
}

void cli_print_parse_failure(uint32_t code) {
    std::printf("参数解析失败: %s (%d)\n", api_snmp_error_to_str(code), static_cast<int>(code));
}

void cli_print_format_error() {
    std::printf("参数格式错误，使用 %s -h_vek 查看帮助\n", k_cli_program_name);
}

void print_callback(const char *ip, uint16_t port, const char * /*user_name*/, api_snmp_cmd_type /*cmd_type*/,
                    const api_snmp_response *response, void * /*user_data*/) {
    if (response == nullptr) {
        std::puts("响应失败：设备返回无效响应数据");
        return;
    }
    std::printf("\n%s\n", k_rule);
    std::printf("收到响应（请求ID: %u）\n", response->request_id);
    std::printf("目标设备：%s:%d\n", ip != nullptr ? ip : "", static_cast<int>(port));
    std::printf("%s\n", k_rule);
    if (response->error != API_SNMP_OK) {
        print_local_failure(*response);
        g_request_failed.store(true);
        return;
    }
    if (response->error_status != 0) {
        print_protocol_error(*response);
        g_request_failed.store(true);
        return;
    }
    if (response->var_count == 0) {
        print_empty_response();
        g_request_failed.store(true);
        return;
    }
    if (!print_response_variables(*response)) {
        g_request_failed.store(true);
    }
    // Set only after the whole block is out: the waiting command may end the process right away.
    std::fflush(stdout);
    g_response_received.store(true);
    cli_wake_waiters();
}

void trap_callback(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                   void * /*user_data*/) {
    std::array<char, k_trap_sender_size> sender{};
    std::snprintf(sender.data(), sender.size(), "%s", ip != nullptr ? ip : "");
    if (trap == nullptr) {
        return;
    }
    // SNMPv3 notifications arrive only when they authenticated for a user of traplisten's sender.
    const bool v3 = trap->version == API_SNMP_V3;
    if (trap->version != API_SNMP_V2C && !v3) {
        std::printf("[丢弃TRAP] %s:%d 非v2c版本，当前仅支持v2c接收\n", sender.data(), static_cast<int>(port));
        return;
    }
    if (error != API_SNMP_OK) {
        std::printf("[TRAP错误] 来源：%s 发送端口：%d，错误码：%d，原因：%s\n", sender.data(), static_cast<int>(port),
                    static_cast<int>(error), api_snmp_error_to_str(error));
        return;
    }
    if (sender[0] != '\0' && !v3) {
        ensure_sender_agent(sender.data());
    }
    std::printf("[LOG] trap_callback 触发！来源IP=%s, 源端口=%d, err=%d\n", sender.data(), static_cast<int>(port),
                static_cast<int>(error));
    std::printf("\n%s\n", k_rule);
    std::printf("[TRAP/INFORM] 设备地址：%s 发送源端口：%d 本地监听端口：%d（版本：%s）\n", sender.data(),
                static_cast<int>(port), static_cast<int>(g_trap_listen_port.load()), v3 ? "v3" : "v2c");
    std::printf("%s\n", k_rule);
    const std::string_view community = field_text(trap->community);
    std::printf(v3 ? "安全信息：V3用户名 = %.*s\n" : "安全信息：共同体名 = %.*s\n", static_cast<int>(community.size()),
                community.data());
    const int count = std::min<int>(trap->var_count, static_cast<int>(API_SNMP_MAX_TRAP_VARBINDS));
    if (count > 0) {
        std::printf("变量数据（共%d个）：\n", count);
        for (int i = 0; i < count; ++i) {
            print_varbind_prefix(i + 1, trap->varbinds[i]);
            print_trap_value(trap->varbinds[i]);
        }
    } else {
        std::puts("[WARN] 变量数据：无有效变量绑定");
    }
    std::puts(k_thin_rule);
    std::fflush(stdout);
}
