/* Helpers for the end-to-end tests of the programs: child processes with piped standard input and
 * output, UDP sockets on 127.0.0.1, a small SNMP responder built on the project's codec, and a
 * throw-away snmpd from the Debian package. */
#ifndef VEK_TESTS_APPS_TEST_SUPPORT_H
#define VEK_TESTS_APPS_TEST_SUPPORT_H

#include <spawn.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace apps_test {

using namespace std::chrono_literals;

/* Initialises spawn attributes so that the child starts with SIGPIPE, SIGINT and SIGTERM at their
 * default actions and no signal blocked, whatever the test process set for itself. */
void init_child_signal_attr(posix_spawnattr_t &attr);

/* A running child process: standard input and output are pipes, standard error is inherited. */
class child_process {
public:
    child_process(const std::string &path, const std::vector<std::string> &args,
                  const std::vector<std::string> &extra_env = {});
    ~child_process();
    child_process(const child_process &) = delete;
    child_process &operator=(const child_process &) = delete;

    void write_stdin(std::string_view text);
    void close_stdin();
    void send_signal(int sig);
    /* Reads output until it contains needle (counted from offset `from`), or the time-out passes. */
    bool wait_for_output(std::string_view needle, std::chrono::milliseconds timeout, size_t from = 0);
    /* Waits for the process to end, reading all its output; the exit code (128 + signal when killed),
     * or nothing when it is still running after the time-out. */
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);
    const std::string &output() const { return out_; }
    pid_t pid() const { return pid_; }

private:
    void read_available(std::chrono::milliseconds wait);
    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    std::string out_;
    std::optional<int> exit_code_;
};

struct run_result {
    std::optional<int> exit_code; /* nothing when the process had to be killed */
    std::string out;
};

/* Runs a program to its end with the given standard input (closed afterwards). */
run_result run_program(const std::string &path, const std::vector<std::string> &args, std::string_view input = "",
                       std::chrono::milliseconds timeout = 10s, const std::vector<std::string> &extra_env = {});

/* Occurrences of needle in text. */
size_t count_of(std::string_view text, std::string_view needle);

/* A UDP port on 127.0.0.1 that was free a moment ago. */
uint16_t free_udp_port();

/* True when the program is found on PATH (or /usr/sbin). */
std::optional<std::string> find_program(const std::string &name);

/* One request as the responder saw it. */
struct seen_request {
    uint32_t version = 0;
    std::string community;
    uint32_t op = 0; /* snmp_op */
    int32_t request_id = 0;
    uint32_t non_repeaters = 0;
    uint32_t max_repetitions = 0;
    std::vector<std::string> oids;
    std::vector<int32_t> integer_values; /* INTEGER values of a SET, in order */
};

/* An SNMP v1/v2c responder on 127.0.0.1:port, on its own thread: it answers every request with a
 * Response that repeats the request's OIDs with OCTET STRING values "value:<oid>" and carries
 * error_status (0 by default). */
class snmp_responder {
public:
    explicit snmp_responder(uint16_t port = 0, uint32_t error_status = 0);
    ~snmp_responder();
    snmp_responder(const snmp_responder &) = delete;
    snmp_responder &operator=(const snmp_responder &) = delete;
    bool ok() const { return sock_ >= 0; }
    uint16_t port() const { return port_; }
    /* Waits until at least n requests were seen. */
    bool wait_requests(size_t n, std::chrono::milliseconds timeout);
    std::vector<seen_request> requests();

private:
    void run();
    int sock_ = -1;
    uint16_t port_ = 0;
    uint32_t error_status_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mtx_;
    std::vector<seen_request> seen_;
    std::thread thread_;
};

/* A throw-away snmpd on 127.0.0.1:port (communities public/private, sysDescr "Test agent"), with
 * further configuration lines (SNMPv3 users, say), further command-line options, and a persistent
 * directory of its own. */
class snmpd_peer {
public:
    explicit snmpd_peer(const std::string &extra_config = {}, const std::vector<std::string> &extra_args = {});
    ~snmpd_peer();
    snmpd_peer(const snmpd_peer &) = delete;
    snmpd_peer &operator=(const snmpd_peer &) = delete;
    /* Empty when snmpd runs; otherwise why it does not. */
    const std::string &skip_reason() const { return skip_reason_; }
    uint16_t port() const { return port_; }
    std::string target() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    std::filesystem::path dir_;
    std::optional<child_process> process_;
    uint16_t port_ = 0;
    std::string skip_reason_;
};

/* Runs one of the standard SNMP tools with no MIBs loaded; its standard output. */
run_result run_snmp_tool(const std::string &tool, const std::vector<std::string> &args,
                         std::chrono::milliseconds timeout = 5s);

/* A fresh, empty directory under the system's temporary directory. */
std::filesystem::path make_temp_dir(const std::string &prefix);

} // namespace apps_test

#endif
