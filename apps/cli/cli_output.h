/* Console output of the command-line manager: the usage text, the response and trap printers that
 * the SDK calls, and the lines shared by several commands. Everything goes to standard output. */
#ifndef VEK_APPS_CLI_OUTPUT_H
#define VEK_APPS_CLI_OUTPUT_H

#include <cstdint>

#include "nms/vek_nms_sdk.h"

/* Prints the usage text (-h_vek, help). */
void print_usage();

/* The standard tools' text of an exception value ("No Such Object available on this agent at this
 * OID", ...), or nullptr when the type is not one. */
const char *cli_exception_line(uint8_t type);

/* "  [<index>] OID：<oid> = <value>", one variable of an answer. */
void cli_print_response_varbind(int index, const api_snmp_varbind &vb);

/* The usage line and where the help is: what a usage error of a one-shot command ends with. */
void cli_print_usage_hint();

/* "参数解析失败: <text> (<code>)", the line that closes every parse failure. */
void cli_print_parse_failure(uint32_t code);

/* "参数格式错误，使用 veksnmpnms -h_vek 查看帮助". */
void cli_print_format_error();

/* Response callback: prints the outcome of the current request; an answer with variables sets
 * g_response_received (after the whole block is printed) and wakes the waiting command. A local
 * failure, an error-status, an empty answer or an exception value sets g_request_failed. */
void print_callback(const char *ip, uint16_t port, const char *user_name, api_snmp_cmd_type cmd_type,
                    const api_snmp_response *response, void *user_data);

/* Trap callback: prints a received v2c TRAP or INFORM and gives its sender an agent context. */
void trap_callback(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                   void *user_data);

#endif
