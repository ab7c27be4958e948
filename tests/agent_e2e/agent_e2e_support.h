/* Shared pieces of the veksnmpagent end-to-end tests: the agent as a child process on a free high
 * port, the command-line manager, and a hand-made v2c GET sent from a chosen loopback address. */
#ifndef VEK_TESTS_AGENT_E2E_SUPPORT_H
#define VEK_TESTS_AGENT_E2E_SUPPORT_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/apps_cli/apps_test_support.h"

namespace agent_e2e {

using namespace apps_test;
using namespace std::chrono_literals;

inline const std::string k_agent = VEK_AGENT_PATH;
inline const std::string k_cli = VEK_CLI_PATH;

inline const std::string k_sys_descr = "1.3.6.1.2.1.1.1.0";
inline const std::string k_sys_uptime = "1.3.6.1.2.1.1.3.0";
inline const std::string k_sys_contact = "1.3.6.1.2.1.1.4.0";
inline const std::string k_sys_object_id = "1.3.6.1.2.1.1.2.0";
inline const std::string k_sys_name = "1.3.6.1.2.1.1.5.0";
inline const std::string k_sys_location = "1.3.6.1.2.1.1.6.0";
inline const std::string k_sys_services = "1.3.6.1.2.1.1.7.0";
inline const std::string k_if_number = "1.3.6.1.2.1.2.1.0";
inline const std::string k_if_table = "1.3.6.1.2.1.2.2";
inline const std::string k_if_admin_status = "1.3.6.1.2.1.2.2.1.7";
inline const std::string k_temp = "1.3.6.1.4.1.12345.1.1";
inline const std::string k_led = "1.3.6.1.4.1.12345.1.2";
inline const std::string k_fan = "1.3.6.1.4.1.12345.1.3";
inline const std::string k_engine_id = "1.3.6.1.6.3.10.2.1.1";
inline const std::string k_sys_descr_text = "Embedded SNMP Agent / Firmware V1.0.0";
inline const std::string k_link_up = "1.3.6.1.6.3.1.1.5.4";
inline const std::string k_link_down = "1.3.6.1.6.3.1.1.5.3";

/* The snmpEngine objects and usmStats counters, which follow every other object in walk order. */
inline const std::vector<std::string> k_engine_mib_oids = {
    "1.3.6.1.6.3.10.2.1.1.0", "1.3.6.1.6.3.10.2.1.2.0", "1.3.6.1.6.3.10.2.1.3.0", "1.3.6.1.6.3.10.2.1.4.0",
    "1.3.6.1.6.3.15.1.1.1.0", "1.3.6.1.6.3.15.1.1.2.0", "1.3.6.1.6.3.15.1.1.3.0", "1.3.6.1.6.3.15.1.1.4.0",
    "1.3.6.1.6.3.15.1.1.5.0", "1.3.6.1.6.3.15.1.1.6.0"};

/* The system nodes and the sample device's objects, with snmpEngineID, in walk order. */
inline const std::vector<std::string> k_all_oids = {k_sys_descr, k_sys_uptime, k_sys_contact, k_temp,
                                                    k_led,       k_fan,        k_engine_id};

/* "127.0.0.1:<port>". */
inline std::string local_target(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

/* veksnmpagent on a free port of its own, with "-p <port>" added to the given options. */
class agent_under_test {
public:
    explicit agent_under_test(std::vector<std::string> args = {});
    /* True once the agent printed its start-up line. */
    bool ready() const { return ready_; }
    uint16_t port() const { return port_; }
    std::string target() const { return local_target(port_); }
    child_process &process() { return *process_; }
    const std::string &output() const { return process_->output(); }
    /* Ctrl+C and the exit code. */
    std::optional<int> interrupt(std::chrono::milliseconds timeout = 5s);

private:
    uint16_t port_ = 0;
    std::unique_ptr<child_process> process_;
    bool ready_ = false;
};

/* The start-up line of the agent. */
std::string listening_line(uint16_t port);

/* veksnmpnms with the arguments, no input. */
run_result run_cli(const std::vector<std::string> &args, std::chrono::milliseconds timeout = 10s);

/* The "<oid> = <value>" entries of a veksnmpnms answer, in order. */
std::vector<std::string> cli_values(const std::string &out);

/* A program run to its end with standard error merged into its output. */
run_result run_merged(const std::string &path, const std::vector<std::string> &args,
                      std::chrono::milliseconds timeout = 10s);

/* Sends a v2c GET of sysDescr.0 from source_ip (a loopback address) to 127.0.0.1:port and returns
 * the answer's sysDescr text, or nothing when no answer came within the time-out. */
std::optional<std::string> raw_get_sys_descr(const std::string &source_ip, uint16_t port,
                                             std::chrono::milliseconds timeout);

} // namespace agent_e2e

#endif
