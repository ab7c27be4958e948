/* Helpers for the web bridge's tests: the bridge as a child process on a high port, a small fake of
 * the HTTP service on another high port, a plain HTTP client, and a strict JSON reader to check the
 * answers with. */
#ifndef VEK_TESTS_BRIDGE_TEST_SUPPORT_H
#define VEK_TESTS_BRIDGE_TEST_SUPPORT_H

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/service/json_check.h"

namespace bridge_test {

using namespace std::chrono_literals;

/* A TCP port on 127.0.0.1 that was free a moment ago. */
uint16_t free_tcp_port();

/* Sends raw bytes to 127.0.0.1:port and returns everything received until the peer closes (or the
 * time-out passes). */
std::string http_exchange(uint16_t port, std::string_view raw, std::chrono::milliseconds timeout = 10s);

/* The two halves of http_exchange: connect and send (a descriptor, or -1), then read the reply until
 * the peer closes and close the descriptor. */
int http_send(uint16_t port, std::string_view raw);
std::string http_receive(int fd, std::chrono::milliseconds timeout = 10s);

/* "GET <target> HTTP/1.1" with a Host header. */
std::string get_request(std::string_view target);

/* "GET <target> HTTP/1.1" with a Host header, through http_exchange. */
std::string http_get(uint16_t port, std::string_view target, std::chrono::milliseconds timeout = 10s);

/* The body of an HTTP reply (after the first blank line), or empty. */
std::string body_of(std::string_view reply);

/* Occurrences of needle in text. */
size_t count_of(std::string_view text, std::string_view needle);

/* Polls cond every 20 ms until it holds or the time-out passes. */
bool wait_until(const std::function<bool()> &cond, std::chrono::milliseconds timeout);

/* A fake of the HTTP service: answers "GET <path>?<query>" with the body the handler returns (or
 * closes without an answer when it returns nothing), each connection on its own thread, and keeps
 * the request lines it saw. */
class fake_service {
public:
    using handler = std::function<std::optional<std::string>(const std::string &path, const std::string &query)>;

    /* Listens on 127.0.0.1:port (0: any free port). */
    explicit fake_service(handler h, uint16_t port = 0);
    ~fake_service();
    fake_service(const fake_service &) = delete;
    fake_service &operator=(const fake_service &) = delete;

    bool ok() const { return listener_ >= 0; }
    uint16_t port() const { return port_; }
    std::vector<std::string> request_lines();
    /* Waits until at least n requests were seen. */
    bool wait_requests(size_t n, std::chrono::milliseconds timeout);
    void stop();

private:
    void accept_loop();
    void serve(int fd);
    handler handler_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

/* A one-shot gate: waiters block until it is opened. */
class gate {
public:
    void open();
    void wait();

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool open_ = false;
};

/* snmp_web_bridge as a child process in a fresh working directory, its standard output and error in
 * files there. The constructor waits until it accepts connections. */
class bridge_process {
public:
    /* Listens on port and forwards to 127.0.0.1:service_port (given as options). */
    bridge_process(uint16_t port, uint16_t service_port);
    /* Started with exactly these arguments and extra environment; port is where it should listen. */
    bridge_process(uint16_t port, const std::vector<std::string> &args, const std::vector<std::string> &extra_env);
    ~bridge_process();
    bridge_process(const bridge_process &) = delete;
    bridge_process &operator=(const bridge_process &) = delete;

    bool ready() const { return ready_; }
    uint16_t port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string stdout_text() const;
    std::string stderr_text() const;
    const std::filesystem::path &dir() const { return dir_; }
    /* Waits for the process to end by itself; its exit code, or nothing. */
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    bool ready_ = false;
    std::optional<int> exit_code_;
    std::filesystem::path dir_;
};

/* Runs the bridge with the given arguments and environment to its end; exit code and output. */
struct run_result {
    std::optional<int> exit_code;
    std::string out;
    std::string err;
};
run_result run_bridge(const std::vector<std::string> &args, const std::vector<std::string> &extra_env = {},
                      std::chrono::milliseconds timeout = 5s);
/* The same for any program (path as given, no PATH search), in a fresh working directory. */
run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::vector<std::string> &extra_env, std::chrono::milliseconds timeout);

/* A JSON value as read by parse_json: the strict reader of the service's tests. */
using json_value = json_check::value;

/* Reads one JSON text strictly (RFC 8259: valid UTF-8, no raw control characters in strings, no
 * trailing text); nothing when it is not valid JSON. */
std::optional<json_value> parse_json(std::string_view text);

/* A fresh temporary directory. */
std::filesystem::path make_temp_dir(std::string_view tag);

} // namespace bridge_test

#endif
