#include "tests/service/service_test_support.h"

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
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/apps_cli/apps_test_support.h"
#include "tests/http_intake/loopback_clients.h"

extern char **environ;

namespace service_test {

namespace {

using clock = std::chrono::steady_clock;

constexpr std::string_view k_serving_line = "[NMS] SNMP 服务启动";
constexpr std::chrono::milliseconds k_poll{10};
constexpr std::chrono::seconds k_stop_wait{10};
constexpr int k_signal_exit_base = 128;
constexpr size_t k_read_chunk = 4096;
constexpr std::chrono::milliseconds k_piece_pause{50};

std::string env_name(std::string_view entry) { return std::string(entry.substr(0, entry.find('='))); }

std::vector<char *> c_strings(std::vector<std::string> &texts) {
    std::vector<char *> out;
    for (std::string &text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

} // namespace

uint16_t free_tcp_port() { return intake_test::free_listen_port(); }

namespace {

int connect_local(uint16_t port) {
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(sock);
        return -1;
    }
    return sock;
}

void send_text(int sock, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = send(sock, text.data(), text.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
}

/* Everything the server sends until it closes; nothing when the time-out passes first. Closes sock. */
std::optional<std::string> read_to_close(int sock, std::chrono::milliseconds timeout) {
    std::string reply;
    const auto deadline = clock::now() + timeout;
    std::array<char, k_read_chunk> chunk{};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) {
            close(sock);
            return std::nullopt;
        }
        pollfd entry{sock, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t n = recv(sock, chunk.data(), chunk.size(), 0);
        if (n <= 0) {
            break;
        }
        reply.append(chunk.data(), static_cast<size_t>(n));
    }
    close(sock);
    return reply;
}

} // namespace

std::optional<std::string> exchange(uint16_t port, std::string_view raw, std::chrono::milliseconds timeout) {
    const int sock = connect_local(port);
    if (sock < 0) {
        return std::nullopt;
    }
    if (raw.empty()) {
        shutdown(sock, SHUT_WR);
    }
    send_text(sock, raw);
    return read_to_close(sock, timeout);
}

std::optional<std::string> exchange_in_pieces(uint16_t port, const std::vector<std::string> &pieces,
                                              std::chrono::milliseconds timeout) {
    const int sock = connect_local(port);
    if (sock < 0) {
        return std::nullopt;
    }
    for (const std::string &piece : pieces) {
        send_text(sock, piece);
        std::this_thread::sleep_for(k_piece_pause);
    }
    return read_to_close(sock, timeout);
}

std::optional<std::string> http_get(uint16_t port, const std::string &target, std::chrono::milliseconds timeout) {
    const std::optional<std::string> reply =
        exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", timeout);
    if (!reply) {
        return std::nullopt;
    }
    const size_t body = reply->find("\r\n\r\n");
    return body == std::string::npos ? *reply : reply->substr(body + 4);
}

json_check::value get_json(uint16_t port, const std::string &target, std::chrono::milliseconds timeout) {
    const std::optional<std::string> body = http_get(port, target, timeout);
    if (!body) {
        ADD_FAILURE() << "no answer to " << target;
        return {};
    }
    std::string error;
    std::optional<json_check::value> parsed = json_check::parse(*body, &error);
    if (!parsed) {
        ADD_FAILURE() << "invalid JSON for " << target << ": " << error << "\n" << *body;
        return {};
    }
    return std::move(*parsed);
}

service_process::service_process(const options &opts, const std::vector<std::string> &extra_args) {
    dir_ = apps_test::make_temp_dir("vek_service_");
    out_file_ = dir_ / "stdout.txt";
    std::vector<std::string> env;
    std::vector<std::string> overrides = opts.extra_env;
    overrides.push_back("VEK_SERVICE_PORT=" + std::to_string(opts.http_port));
    overrides.push_back("VEK_SERVICE_TRAP_PORT=" + std::to_string(opts.trap_port));
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string name = env_name(*e);
        const bool dropped = std::find(opts.remove_env.begin(), opts.remove_env.end(), name) != opts.remove_env.end() ||
                             std::any_of(overrides.begin(), overrides.end(),
                                         [&](const std::string &o) { return env_name(o) == name; });
        if (!dropped) {
            env.emplace_back(*e);
        }
    }
    env.insert(env.end(), overrides.begin(), overrides.end());
    std::vector<std::string> args{opts.executable};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char *> argv = c_strings(args);
    std::vector<char *> envp = c_strings(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    apps_test::init_child_signal_attr(attr);
    if (posix_spawn(&pid_, opts.executable.c_str(), &actions, &attr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
}

service_process::~service_process() {
    if (pid_ > 0 && !exit_code_) {
        send_signal(SIGTERM);
        if (!wait_exit(k_stop_wait)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string service_process::output() const {
    std::ifstream in(out_file_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool service_process::wait_for_output(std::string_view needle, std::chrono::milliseconds timeout) {
    const auto deadline = clock::now() + timeout;
    for (;;) {
        if (output().find(needle) != std::string::npos) {
            return true;
        }
        if (clock::now() >= deadline || wait_exit(0ms)) {
            return output().find(needle) != std::string::npos;
        }
        std::this_thread::sleep_for(k_poll);
    }
}

bool service_process::wait_serving(std::chrono::milliseconds timeout) { return wait_for_output(k_serving_line, timeout); }

void service_process::send_signal(int sig) {
    if (pid_ > 0 && !exit_code_) {
        kill(pid_, sig);
    }
}

std::optional<int> service_process::wait_exit(std::chrono::milliseconds timeout) {
    const auto deadline = clock::now() + timeout;
    while (!exit_code_ && pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : k_signal_exit_base + WTERMSIG(status);
            break;
        }
        if (clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(k_poll);
    }
    return exit_code_;
}

std::string service_executable() { return VEK_SERVICE_PATH; }

size_t occurrences(std::string_view text, std::string_view needle) {
    size_t count = 0;
    for (size_t pos = text.find(needle); pos != std::string_view::npos; pos = text.find(needle, pos + 1)) {
        ++count;
    }
    return count;
}

} // namespace service_test
