/* Helpers for the full-stack tests (see stack_support.h). */
#include "tests/http_intake/loopback_clients.h"
#include "tests/apps_cli/apps_test_support.h"
#include "tests/web_stack/stack_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef VEK_AGENT_PATH
#error "VEK_AGENT_PATH must name the veksnmpagent program"
#endif
#ifndef VEK_SERVICE_PATH
#error "VEK_SERVICE_PATH must name the snmp_service program"
#endif
#ifndef VEK_BRIDGE_PATH
#error "VEK_BRIDGE_PATH must name the snmp_web_bridge program"
#endif

extern char **environ;

namespace web_stack {

namespace {

using clock = std::chrono::steady_clock;

constexpr auto k_start_limit = 20s;
constexpr int k_signal_exit_base = 128;
constexpr size_t k_read_chunk = 4096;
constexpr mode_t k_file_mode = 0644;
constexpr std::string_view k_service_serving = "[NMS] SNMP 服务启动";
constexpr std::string_view k_agent_ready = "Ctrl+C stops the agent.\n";
constexpr std::string_view k_header_end = "\r\n\r\n";

/* Closes the descriptor when the scope ends. */
struct fd_guard {
    int fd;
    explicit fd_guard(int descriptor) : fd(descriptor) {}
    ~fd_guard() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    fd_guard(const fd_guard &) = delete;
    fd_guard &operator=(const fd_guard &) = delete;
};

sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

uint16_t free_port(int type) {
    const fd_guard sock{::socket(AF_INET, type | SOCK_CLOEXEC, 0)};
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (sock.fd < 0 || ::bind(sock.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        ::getsockname(sock.fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

int millis_until(clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

/* Everything the peer sends until it closes; nothing when the time-out passes first. */
std::optional<std::string> read_to_close(int fd, clock::time_point deadline) {
    std::string reply;
    std::array<char, k_read_chunk> chunk{};
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int waited = ::poll(&entry, 1, millis_until(deadline));
        if (waited <= 0) {
            return std::nullopt;
        }
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return reply;
        }
        reply.append(chunk.data(), static_cast<size_t>(got));
    }
}

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::filesystem::path make_temp_dir(std::string_view tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("vek_stack_" + std::string(tag) + "_XXXXXX")).string();
    return ::mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::path{};
}

std::string env_name(std::string_view entry) { return std::string(entry.substr(0, entry.find('='))); }

std::vector<char *> c_strings(std::vector<std::string> &texts) {
    std::vector<char *> out;
    for (std::string &text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

bool tcp_accepts(uint16_t port) {
    const fd_guard sock{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    const sockaddr_in addr = loopback(port);
    return sock.fd >= 0 && ::connect(sock.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
}

} // namespace

uint16_t free_tcp_port() { return intake_test::free_listen_port(); }

uint16_t free_udp_port() { return free_port(SOCK_DGRAM); }

std::optional<std::string> http_get(uint16_t port, const std::string &target, std::chrono::milliseconds timeout) {
    const auto deadline = clock::now() + timeout;
    const fd_guard sock{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    const sockaddr_in addr = loopback(port);
    if (sock.fd < 0 || ::connect(sock.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        !send_all(sock.fd, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")) {
        return std::nullopt;
    }
    const std::optional<std::string> reply = read_to_close(sock.fd, deadline);
    if (!reply || reply->empty()) {
        return std::nullopt;
    }
    const size_t body = reply->find(k_header_end);
    return body == std::string::npos ? *reply : reply->substr(body + k_header_end.size());
}

std::optional<json_check::value> get_json(uint16_t port, const std::string &target, std::string *error,
                                          std::chrono::milliseconds timeout) {
    const std::optional<std::string> body = http_get(port, target, timeout);
    if (!body) {
        if (error != nullptr) {
            *error = "no answer to " + target;
        }
        return std::nullopt;
    }
    std::string why;
    std::optional<json_check::value> parsed = json_check::parse(*body, &why);
    if (!parsed && error != nullptr) {
        *error = "invalid JSON for " + target + ": " + why + "\n" + *body;
    }
    return parsed;
}

/* ---- process ---- */

process::process(const std::string &program, const std::vector<std::string> &args,
                 const std::vector<std::string> &extra_env)
    : name_(std::filesystem::path(program).filename().string()), dir_(make_temp_dir(name_)) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string name = env_name(*e);
        if (std::none_of(extra_env.begin(), extra_env.end(), [&](const std::string &x) { return env_name(x) == name; })) {
            env.emplace_back(*e);
        }
    }
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv = c_strings(argv_text);
    std::vector<char *> envp = c_strings(env);
    const std::string out_path = (dir_ / "stdout.txt").string();
    const std::string err_path = (dir_ / "stderr.txt").string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     k_file_mode);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     k_file_mode);
    posix_spawnattr_t attr;
    apps_test::init_child_signal_attr(attr);
    if (dir_.empty() || ::posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
}

process::~process() {
    stop();
    const std::string errors_text = errors();
    if (errors_text.find("Sanitizer") != std::string::npos || errors_text.find("runtime error:") != std::string::npos) {
        ADD_FAILURE() << name_ << " reported:\n" << errors_text;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string process::output() const { return read_file(dir_ / "stdout.txt"); }

std::string process::errors() const { return read_file(dir_ / "stderr.txt"); }

bool process::wait_for_output(std::string_view needle, std::chrono::milliseconds timeout) {
    return wait_until([&] { return output().find(needle) != std::string::npos || !running(); }, timeout) &&
           output().find(needle) != std::string::npos;
}

bool process::running() { return pid_ > 0 && !wait_exit(0ms).has_value(); }

void process::send_signal(int sig) {
    if (pid_ > 0 && !exit_code_) {
        ::kill(pid_, sig);
    }
}

std::optional<int> process::wait_exit(std::chrono::milliseconds timeout) {
    const auto deadline = clock::now() + timeout;
    while (!exit_code_ && pid_ > 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : k_signal_exit_base + WTERMSIG(status);
            break;
        }
        if (clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(k_poll_step);
    }
    return exit_code_;
}

std::optional<int> process::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    send_signal(SIGTERM);
    if (!wait_exit(timeout)) {
        send_signal(SIGKILL);
        wait_exit(timeout);
        return std::nullopt;
    }
    return exit_code_;
}

/* ---- the three programs ---- */

agent::agent(uint16_t trap_port)
    : port_(free_udp_port()),
      proc_(VEK_AGENT_PATH, {"-p", std::to_string(port_), "-t", "127.0.0.1:" + std::to_string(trap_port)}) {
    ready_ = proc_.wait_for_output("veksnmpagent listening on UDP port " + std::to_string(port_) + "\n",
                                   k_start_limit) &&
             proc_.wait_for_output(k_agent_ready, k_start_limit);
}

service::service(uint16_t http_port, uint16_t trap_port)
    : http_port_(http_port),
      proc_(VEK_SERVICE_PATH, {},
            {"VEK_SERVICE_PORT=" + std::to_string(http_port), "VEK_SERVICE_TRAP_PORT=" + std::to_string(trap_port)}) {
    ready_ = proc_.wait_for_output(k_service_serving, k_start_limit) &&
             wait_until([&] { return tcp_accepts(http_port_); }, k_start_limit);
}

bridge::bridge(uint16_t service_port, uint16_t agent_port)
    : port_(free_tcp_port()),
      proc_(VEK_BRIDGE_PATH, {"--port", std::to_string(port_), "--service-port", std::to_string(service_port),
                              "--agent-port", std::to_string(agent_port)}) {
    ready_ = wait_until([&] { return !proc_.running() || tcp_accepts(port_); }, k_start_limit) && proc_.running();
}

std::string bridge::log_file() const { return read_file(proc_.dir() / "bridge.log"); }

/* ---- small helpers ---- */

std::optional<std::string> find_on_path(const std::string &name) {
    const char *path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        start = end + 1;
    }
    return std::nullopt;
}

size_t count_of(std::string_view text, std::string_view needle) {
    size_t count = 0;
    for (size_t pos = text.find(needle); pos != std::string_view::npos; pos = text.find(needle, pos + needle.size())) {
        ++count;
    }
    return count;
}

std::string url_encode(std::string_view text) {
    static constexpr std::string_view k_hex = "0123456789ABCDEF";
    constexpr unsigned k_nibble_bits = 4;
    constexpr unsigned k_nibble_mask = 0x0Fu;
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(k_hex[byte >> k_nibble_bits]);
            out.push_back(k_hex[byte & k_nibble_mask]);
        }
    }
    return out;
}

} // namespace web_stack
