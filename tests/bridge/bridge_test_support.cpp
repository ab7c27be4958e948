/* Helpers for the web bridge's tests (see bridge_test_support.h). */
#include "tests/bridge/bridge_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/http_intake/loopback_clients.h"

#ifndef VEK_BRIDGE_PATH
#error "VEK_BRIDGE_PATH must name the snmp_web_bridge program"
#endif

namespace bridge_test {

namespace {

constexpr auto kPollStep = 20ms;
constexpr auto kStartLimit = 10s;
constexpr auto kStopLimit = 5s;
constexpr int kBacklog = 64;
constexpr size_t kChunk = 4096;
constexpr int kExecFailed = 127;
constexpr int kSignalBase = 128;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int millis_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int connect_loopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) {
        return fd;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return -1;
}

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/* Reads the request line and headers of one request (until the blank line, end or time-out). */
std::string read_request_head(int fd) {
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::array<char, kChunk> chunk{};
    while (data.find("\r\n\r\n") == std::string::npos) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, millis_until(deadline)) <= 0) {
            break;
        }
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got <= 0) {
            break;
        }
        data.append(chunk.data(), static_cast<size_t>(got));
    }
    return data;
}

void send_everything(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        data.remove_prefix(static_cast<size_t>(sent));
    }
}

std::optional<int> decode_status(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return kSignalBase + WTERMSIG(status);
    }
    return std::nullopt;
}

/* Starts a program in dir with stdout and stderr in files there. */
pid_t spawn_in(const std::string &program, const std::filesystem::path &dir, const std::vector<std::string> &args,
               const std::vector<std::string> &extra_env) {
    const std::string out_path = (dir / "stdout.txt").string();
    const std::string err_path = (dir / "stderr.txt").string();
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : argv_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    /* The environment is built before fork: the child may only make async-signal-safe calls. */
    std::vector<std::string> env_text;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const auto overridden = std::any_of(extra_env.begin(), extra_env.end(), [&](const std::string &x) {
            return x.substr(0, x.find('=') + 1) == entry.substr(0, entry.find('=') + 1);
        });
        if (!overridden) {
            env_text.emplace_back(entry);
        }
    }
    env_text.insert(env_text.end(), extra_env.begin(), extra_env.end());
    std::vector<char *> envp;
    for (auto &e : env_text) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    /* Child: only async-signal-safe calls from here on. */
    if (::chdir(dir.c_str()) != 0) {
        ::_exit(kExecFailed);
    }
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) {
        ::_exit(kExecFailed);
    }
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(kExecFailed);
}

std::optional<int> wait_child(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return decode_status(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

} // namespace

uint16_t free_tcp_port() { return intake_test::free_listen_port(); }

int http_send(uint16_t port, std::string_view raw) {
    const int fd = connect_loopback(port);
    if (fd >= 0) {
        send_everything(fd, raw);
    }
    return fd;
}

std::string http_receive(int fd, std::chrono::milliseconds timeout) {
    if (fd < 0) {
        return {};
    }
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::array<char, kChunk> chunk{};
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, millis_until(deadline)) <= 0) {
            break;
        }
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got <= 0) {
            break;
        }
        reply.append(chunk.data(), static_cast<size_t>(got));
    }
    ::close(fd);
    return reply;
}

std::string http_exchange(uint16_t port, std::string_view raw, std::chrono::milliseconds timeout) {
    return http_receive(http_send(port, raw), timeout);
}

std::string get_request(std::string_view target) {
    std::string raw = "GET ";
    raw += target;
    raw += " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: bridge-test\r\nAccept: */*\r\n\r\n";
    return raw;
}

std::string http_get(uint16_t port, std::string_view target, std::chrono::milliseconds timeout) {
    return http_exchange(port, get_request(target), timeout);
}

std::string body_of(std::string_view reply) {
    const size_t at = reply.find("\r\n\r\n");
    return at == std::string_view::npos ? std::string{} : std::string(reply.substr(at + 4));
}

size_t count_of(std::string_view text, std::string_view needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size())) {
        ++n;
    }
    return n;
}

bool wait_until(const std::function<bool()> &cond, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

/* ---- fake_service ---- */

fake_service::fake_service(handler h, uint16_t port) : handler_(std::move(h)) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int reuse = 1;
    sockaddr_in addr = loopback(port);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, kBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    listener_ = fd;
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

fake_service::~fake_service() { stop(); }

void fake_service::stop() {
    stop_ = true;
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::vector<std::thread> workers;
    {
        const std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto &t : workers) {
        t.join();
    }
    if (listener_ >= 0) {
        ::close(listener_);
        listener_ = -1;
    }
}

void fake_service::accept_loop() {
    while (!stop_) {
        pollfd pfd{listener_, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(kPollStep.count())) <= 0) {
            continue;
        }
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const std::lock_guard lock(mutex_);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void fake_service::serve(int fd) {
    const std::string head = read_request_head(fd);
    const std::string line = head.substr(0, head.find("\r\n"));
    {
        const std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    /* "GET <target> HTTP/1.1" */
    const size_t start = line.find(' ') == std::string::npos ? line.size() : line.find(' ') + 1;
    const std::string target = line.substr(start, line.find(' ', start) - start);
    const size_t mark = target.find('?');
    const std::string path = target.substr(0, mark);
    const std::string query = mark == std::string::npos ? std::string{} : target.substr(mark + 1);
    if (const auto body = handler_(path, query)) {
        send_everything(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n" + *body);
    }
    ::close(fd);
}

std::vector<std::string> fake_service::request_lines() {
    const std::lock_guard lock(mutex_);
    return lines_;
}

bool fake_service::wait_requests(size_t n, std::chrono::milliseconds timeout) {
    return wait_until([&] { return request_lines().size() >= n; }, timeout);
}

void gate::open() {
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
    }
    cond_.notify_all();
}

void gate::wait() {
    std::unique_lock lock(mutex_);
    cond_.wait(lock, [this] { return open_; });
}

/* ---- bridge_process ---- */

std::filesystem::path make_temp_dir(std::string_view tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("vek_" + std::string(tag) + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

bridge_process::bridge_process(uint16_t port, uint16_t service_port)
    : bridge_process(port, {"--port", std::to_string(port), "--service-port", std::to_string(service_port)}, {}) {}

bridge_process::bridge_process(uint16_t port, const std::vector<std::string> &args,
                               const std::vector<std::string> &extra_env)
    : port_(port), dir_(make_temp_dir("bridge")) {
    pid_ = spawn_in(VEK_BRIDGE_PATH, dir_, args, extra_env);
    ready_ = pid_ > 0 && wait_until(
                             [&] {
                                 if (!exit_code_) {
                                     int status = 0;
                                     if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                                         exit_code_ = decode_status(status);
                                     }
                                 }
                                 const int fd = exit_code_ ? -1 : connect_loopback(port_);
                                 if (fd >= 0) {
                                     ::close(fd);
                                 }
                                 return fd >= 0 || exit_code_.has_value();
                             },
                             kStartLimit) &&
             !exit_code_;
}

bridge_process::~bridge_process() {
    if (pid_ > 0 && !exit_code_) {
        ::kill(pid_, SIGTERM);
        if (!wait_child(pid_, kStopLimit)) {
            ::kill(pid_, SIGKILL);
            wait_child(pid_, kStopLimit);
        }
    }
    const std::string errors = stderr_text();
    if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error:") != std::string::npos) {
        ADD_FAILURE() << "snmp_web_bridge reported:\n" << errors;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string bridge_process::stdout_text() const { return read_file(dir_ / "stdout.txt"); }

std::string bridge_process::stderr_text() const { return read_file(dir_ / "stderr.txt"); }

std::optional<int> bridge_process::wait_exit(std::chrono::milliseconds timeout) {
    if (!exit_code_ && pid_ > 0) {
        exit_code_ = wait_child(pid_, timeout);
    }
    return exit_code_;
}

run_result run_bridge(const std::vector<std::string> &args, const std::vector<std::string> &extra_env,
                      std::chrono::milliseconds timeout) {
    return run_program(VEK_BRIDGE_PATH, args, extra_env, timeout);
}

run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::vector<std::string> &extra_env, std::chrono::milliseconds timeout) {
    const std::filesystem::path dir = make_temp_dir("run");
    const pid_t pid = spawn_in(program, dir, args, extra_env);
    run_result result;
    result.exit_code = pid > 0 ? wait_child(pid, timeout) : std::nullopt;
    if (pid > 0 && !result.exit_code) {
        ::kill(pid, SIGKILL);
        wait_child(pid, kStopLimit);
    }
    result.out = read_file(dir / "stdout.txt");
    result.err = read_file(dir / "stderr.txt");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return result;
}

std::optional<json_value> parse_json(std::string_view text) { return json_check::parse(text); }

} // namespace bridge_test
