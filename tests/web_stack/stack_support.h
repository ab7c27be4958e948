/* Helpers for the full-stack tests: veksnmpagent, snmp_service and snmp_web_bridge as child processes
 * on free high ports (each in a fresh working directory with its standard output and error in files
 * there), and plain HTTP GETs over 127.0.0.1. */
#ifndef VEK_TESTS_WEB_STACK_STACK_SUPPORT_H
#define VEK_TESTS_WEB_STACK_STACK_SUPPORT_H

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/service/json_check.h"

namespace web_stack {

using namespace std::chrono_literals;

inline constexpr std::string_view k_sys_descr_oid = "1.3.6.1.2.1.1.1.0";
inline constexpr std::string_view k_sys_contact_oid = "1.3.6.1.2.1.1.4.0";
inline constexpr std::string_view k_temp_oid = "1.3.6.1.4.1.12345.1.1";
inline constexpr std::string_view k_led_oid = "1.3.6.1.4.1.12345.1.2";
inline constexpr std::string_view k_sys_descr_text = "Embedded SNMP Agent / Firmware V1.0.0";
inline constexpr std::string_view k_ro_community = "public";
inline constexpr std::string_view k_rw_community = "private";

/* A TCP or UDP port on 127.0.0.1 that was free a moment ago. */
uint16_t free_tcp_port();
uint16_t free_udp_port();

/* The body of "GET <target> HTTP/1.1" sent to 127.0.0.1:port (the text after the first blank line),
 * or nothing when the connection fails, the peer closes without an answer or the time-out passes. */
std::optional<std::string> http_get(uint16_t port, const std::string &target, std::chrono::milliseconds timeout = 30s);

/* The parsed JSON body of a GET; nothing (and why, in error) when there is no answer or it is not
 * valid JSON. */
std::optional<json_check::value> get_json(uint16_t port, const std::string &target, std::string *error = nullptr,
                                          std::chrono::milliseconds timeout = 30s);

inline constexpr std::chrono::milliseconds k_poll_step{20};

/* Polls cond every k_poll_step until it holds or the time-out passes. */
template <typename Cond>
bool wait_until(Cond cond, std::chrono::milliseconds timeout);

/* A program started with extra environment (NAME=value, replacing inherited settings), standard input
 * from /dev/null. The destructor ends it (SIGTERM, then SIGKILL) and fails the current test when its
 * standard error holds a sanitizer report. */
class process {
public:
    process(const std::string &program, const std::vector<std::string> &args,
            const std::vector<std::string> &extra_env = {});
    ~process();
    process(const process &) = delete;
    process &operator=(const process &) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::filesystem::path &dir() const { return dir_; }
    std::string output() const;
    std::string errors() const;
    /* Waits until the standard output contains needle; false when the time-out passes or the program
     * ended first. */
    bool wait_for_output(std::string_view needle, std::chrono::milliseconds timeout);
    /* True while the program has not ended. */
    bool running();
    void send_signal(int sig);
    /* The exit code (128 + signal when killed), or nothing while it still runs after the time-out. */
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);
    /* SIGTERM, and SIGKILL when it has not ended after the time-out; the exit code. */
    std::optional<int> stop(std::chrono::milliseconds timeout = 10s);

private:
    pid_t pid_ = -1;
    std::string name_;
    std::filesystem::path dir_;
    std::optional<int> exit_code_;
};

/* veksnmpagent on a free UDP port, sending its notifications to 127.0.0.1:trap_port. */
class agent {
public:
    explicit agent(uint16_t trap_port);
    bool ready() const { return ready_; }
    uint16_t port() const { return port_; }
    process &proc() { return proc_; }

private:
    uint16_t port_;
    process proc_;
    bool ready_ = false;
};

/* snmp_service with its HTTP and trap ports moved through the environment. */
class service {
public:
    service(uint16_t http_port, uint16_t trap_port);
    bool ready() const { return ready_; }
    uint16_t port() const { return http_port_; }
    process &proc() { return proc_; }

private:
    uint16_t http_port_;
    process proc_;
    bool ready_ = false;
};

/* snmp_web_bridge on a free TCP port in front of the service's port, with the page's port fields
 * preset to agent_port. */
class bridge {
public:
    bridge(uint16_t service_port, uint16_t agent_port);
    bool ready() const { return ready_; }
    uint16_t port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    process &proc() { return proc_; }
    /* The bridge's own log file in its working directory. */
    std::string log_file() const;

private:
    uint16_t port_;
    process proc_;
    bool ready_ = false;
};

/* The program on PATH, if any. */
std::optional<std::string> find_on_path(const std::string &name);

/* Occurrences of needle in text. */
size_t count_of(std::string_view text, std::string_view needle);

/* Percent-encodes a query value (everything except unreserved characters). */
std::string url_encode(std::string_view text);

/* ---- template definitions ---- */

template <typename Cond>
bool wait_until(Cond cond, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (cond()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(k_poll_step);
    }
}

} // namespace web_stack

#endif
