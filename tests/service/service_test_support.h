/* Helpers for the end-to-end tests of snmp_service: the program as a child process on chosen ports
 * with its standard output in a file (so that its plentiful trace never blocks it), and plain HTTP
 * exchanges over 127.0.0.1. */
#ifndef VEK_TESTS_SERVICE_SERVICE_TEST_SUPPORT_H
#define VEK_TESTS_SERVICE_SERVICE_TEST_SUPPORT_H

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/service/json_check.h"

namespace service_test {

using namespace std::chrono_literals;

/* A TCP port on 127.0.0.1 that was free a moment ago. */
uint16_t free_tcp_port();

/* Sends raw to 127.0.0.1:port and returns everything the server sends until it closes the
 * connection; nothing when the connection fails or the time-out passes first. An empty raw ends the
 * sending side at once. */
std::optional<std::string> exchange(uint16_t port, std::string_view raw, std::chrono::milliseconds timeout = 40s);

/* As exchange, with the request sent in the given pieces, 50 ms apart. */
std::optional<std::string> exchange_in_pieces(uint16_t port, const std::vector<std::string> &pieces,
                                              std::chrono::milliseconds timeout = 10s);

/* The body of a "GET <target> HTTP/1.1" exchange (the text after the blank line), or nothing. */
std::optional<std::string> http_get(uint16_t port, const std::string &target, std::chrono::milliseconds timeout = 40s);

/* The parsed JSON body of a GET; a failed test (and a null value) when there is no answer or the
 * answer is not valid JSON. */
json_check::value get_json(uint16_t port, const std::string &target, std::chrono::milliseconds timeout = 40s);

/* snmp_service started from the given executable. */
class service_process {
public:
    struct options {
        std::string executable;
        uint16_t http_port = 0;
        uint16_t trap_port = 0;
        std::vector<std::string> extra_env;  /* NAME=value, replacing inherited settings */
        std::vector<std::string> remove_env; /* names not passed on */
    };

    /* args: command-line arguments after the program name. */
    explicit service_process(const options &opts, const std::vector<std::string> &args = {});
    ~service_process();
    service_process(const service_process &) = delete;
    service_process &operator=(const service_process &) = delete;

    /* Everything the program printed so far. */
    std::string output() const;
    /* Waits until the output contains needle; false when the time-out passes or the program ended. */
    bool wait_for_output(std::string_view needle, std::chrono::milliseconds timeout);
    /* Waits for the start-up line that says the service accepts requests. */
    bool wait_serving(std::chrono::milliseconds timeout = 20s);
    void send_signal(int sig);
    /* The exit code (128 + signal when killed), or nothing while it still runs after the time-out. */
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    std::filesystem::path dir_;
    std::filesystem::path out_file_;
    std::optional<int> exit_code_;
};

/* The path of the service executable of this build. */
std::string service_executable();

/* Occurrences of needle in text. */
size_t occurrences(std::string_view text, std::string_view needle);

} // namespace service_test

#endif
