#include "tests/apps_cli/apps_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "codec/snmp_ber.h"
#include "codec/snmp_types.h"

extern char **environ;

namespace apps_test {

namespace {

constexpr size_t k_read_chunk = 4096;
constexpr int k_signal_exit_base = 128;
constexpr std::chrono::milliseconds k_responder_poll{50};
constexpr std::chrono::milliseconds k_exit_poll{5};
constexpr std::chrono::milliseconds k_snmpd_start_timeout{8000};
constexpr std::chrono::milliseconds k_snmpd_probe_pause{50};
constexpr std::chrono::milliseconds k_snmpd_stop_timeout{3000};

using clock = std::chrono::steady_clock;

std::chrono::milliseconds remaining(clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    return left.count() > 0 ? left : 0ms;
}

std::vector<char *> c_strings(std::vector<std::string> &texts) {
    std::vector<char *> out;
    out.reserve(texts.size() + 1);
    for (std::string &text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

std::string oid_text(const snmp_oid &oid) {
    std::string text;
    for (uint8_t i = 0; i < oid.len && i < SNMP_MAX_OID_LEN; ++i) {
        if (i != 0) {
            text.push_back('.');
        }
        text += std::to_string(oid.sub_ids[i]);
    }
    return text;
}

} // namespace

void init_child_signal_attr(posix_spawnattr_t &attr) {
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

child_process::child_process(const std::string &path, const std::vector<std::string> &args,
                             const std::vector<std::string> &extra_env) {
    std::signal(SIGPIPE, SIG_IGN);
    std::array<int, 2> in_pipe{};
    std::array<int, 2> out_pipe{};
    if (pipe2(in_pipe.data(), O_CLOEXEC) != 0 || pipe2(out_pipe.data(), O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> argv_texts{path};
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    std::vector<std::string> env_texts;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string_view entry = *e;
        // An extra setting replaces the inherited one of the same name.
        const bool replaced = std::any_of(extra_env.begin(), extra_env.end(), [&](const std::string &extra) {
            const size_t eq = extra.find('=');
            return entry.substr(0, eq + 1) == std::string_view(extra).substr(0, eq + 1);
        });
        if (!replaced) {
            env_texts.emplace_back(entry);
        }
    }
    env_texts.insert(env_texts.end(), extra_env.begin(), extra_env.end());
    std::vector<char *> argv = c_strings(argv_texts);
    std::vector<char *> envp = c_strings(env_texts);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawnattr_t attr;
    init_child_signal_attr(attr);
    if (posix_spawn(&pid_, path.c_str(), &actions, &attr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(in_pipe[0]);
    close(out_pipe[1]);
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
}

child_process::~child_process() {
    if (pid_ > 0 && !exit_code_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close_stdin();
    if (out_fd_ >= 0) {
        close(out_fd_);
    }
}

void child_process::write_stdin(std::string_view text) {
    while (in_fd_ >= 0 && !text.empty()) {
        const ssize_t n = write(in_fd_, text.data(), text.size());
        if (n <= 0) {
            return;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
}

void child_process::close_stdin() {
    if (in_fd_ >= 0) {
        close(in_fd_);
        in_fd_ = -1;
    }
}

void child_process::send_signal(int sig) {
    if (pid_ > 0 && !exit_code_) {
        kill(pid_, sig);
    }
}

void child_process::read_available(std::chrono::milliseconds wait) {
    if (out_fd_ < 0) {
        std::this_thread::sleep_for(std::min(wait, k_exit_poll));
        return;
    }
    pollfd entry{out_fd_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(wait.count())) <= 0) {
        return;
    }
    std::array<char, k_read_chunk> chunk{};
    const ssize_t n = read(out_fd_, chunk.data(), chunk.size());
    if (n > 0) {
        out_.append(chunk.data(), static_cast<size_t>(n));
    } else {
        close(out_fd_);
        out_fd_ = -1;
    }
}

bool child_process::wait_for_output(std::string_view needle, std::chrono::milliseconds timeout, size_t from) {
    const auto deadline = clock::now() + timeout;
    for (;;) {
        if (out_.size() > from && out_.find(needle, from) != std::string::npos) {
            return true;
        }
        if (clock::now() >= deadline || (out_fd_ < 0 && exit_code_)) {
            return false;
        }
        read_available(std::max(remaining(deadline), 1ms));
        if (out_fd_ < 0) {
            wait_exit(0ms);
        }
    }
}

std::optional<int> child_process::wait_exit(std::chrono::milliseconds timeout) {
    const auto deadline = clock::now() + timeout;
    while (!exit_code_ && pid_ > 0) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : k_signal_exit_base + WTERMSIG(status);
            break;
        }
        if (clock::now() >= deadline) {
            return std::nullopt;
        }
        read_available(std::min(std::max(remaining(deadline), 1ms), k_exit_poll));
    }
    // The process is gone: take whatever is still in the pipe.
    while (out_fd_ >= 0) {
        read_available(k_exit_poll);
    }
    return exit_code_;
}

run_result run_program(const std::string &path, const std::vector<std::string> &args, std::string_view input,
                       std::chrono::milliseconds timeout, const std::vector<std::string> &extra_env) {
    child_process child(path, args, extra_env);
    child.write_stdin(input);
    child.close_stdin();
    run_result result;
    result.exit_code = child.wait_exit(timeout);
    result.out = child.output();
    return result;
}

size_t count_of(std::string_view text, std::string_view needle) {
    size_t count = 0;
    for (size_t pos = text.find(needle); pos != std::string_view::npos; pos = text.find(needle, pos + 1)) {
        ++count;
    }
    return count;
}

uint16_t free_udp_port() {
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(sock, reinterpret_cast<sockaddr *>(&addr), &len);
    close(sock);
    return ntohs(addr.sin_port);
}

std::optional<std::string> find_program(const std::string &name) {
    const char *path_env = std::getenv("PATH");
    std::string path = path_env != nullptr ? path_env : "";
    path += ":/usr/sbin:/sbin:/usr/bin";
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + name;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::filesystem::path make_temp_dir(const std::string &prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

// ---- snmp_responder ----

snmp_responder::snmp_responder(uint16_t port, uint32_t error_status) : error_status_(error_status) {
    sock_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (sock_ < 0 || bind(sock_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (sock_ >= 0) {
            close(sock_);
        }
        sock_ = -1;
        return;
    }
    socklen_t len = sizeof addr;
    getsockname(sock_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

snmp_responder::~snmp_responder() {
    stop_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
    if (sock_ >= 0) {
        close(sock_);
    }
}

bool snmp_responder::wait_requests(size_t n, std::chrono::milliseconds timeout) {
    const auto deadline = clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mtx_);
            if (seen_.size() >= n) {
                return true;
            }
        }
        if (clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(k_exit_poll);
    }
}

std::vector<seen_request> snmp_responder::requests() {
    std::lock_guard<std::mutex> lock(mtx_);
    return seen_;
}

void snmp_responder::run() {
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    while (!stop_.load()) {
        pollfd entry{sock_, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(k_responder_poll.count())) <= 0) {
            continue;
        }
        sockaddr_in from{};
        socklen_t from_len = sizeof from;
        const ssize_t n = recvfrom(sock_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_len);
        if (n <= 0) {
            continue;
        }
        auto msg = std::make_unique<snmp_message>();
        uint16_t consumed = 0;
        if (snmp_ber_decode_snmp_message(buf.data(), static_cast<uint16_t>(n), msg.get(), &consumed) != SNMP_OK) {
            continue;
        }
        seen_request seen;
        seen.version = msg->version;
        seen.community.assign(reinterpret_cast<const char *>(msg->usm.username), msg->usm.user_len);
        seen.op = msg->pdu.op;
        seen.request_id = msg->pdu.request_id;
        seen.non_repeaters = msg->pdu.non_repeaters;
        seen.max_repetitions = msg->pdu.max_repetitions;
        for (uint8_t i = 0; i < msg->pdu.varbind_count; ++i) {
            snmp_varbind &vb = msg->pdu.varbinds[i];
            seen.oids.push_back(oid_text(vb.oid));
            if (vb.type == SNMP_TAG_INTEGER) {
                seen.integer_values.push_back(vb.value.integer);
            }
            const std::string value = "value:" + seen.oids.back();
            vb.type = SNMP_TAG_OCTET_STRING;
            std::memcpy(vb.value.octets, value.data(), value.size());
            vb.value_len = static_cast<uint16_t>(value.size());
        }
        {
            std::lock_guard<std::mutex> lock(mtx_);
            seen_.push_back(std::move(seen));
        }
        msg->pdu.op = SNMP_OP_GET_RESPONSE;
        msg->pdu.error_status = error_status_;
        msg->pdu.error_index = error_status_ != 0 ? 1 : 0;
        std::array<uint8_t, SNMP_MAX_MSG_SIZE> out{};
        uint16_t out_len = 0;
        if (snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), nullptr, msg.get(),
                                         &out_len) == SNMP_OK) {
            sendto(sock_, out.data(), out_len, 0, reinterpret_cast<sockaddr *>(&from), from_len);
        }
    }
}

// ---- snmpd_peer ----

snmpd_peer::snmpd_peer(const std::string &extra_config, const std::vector<std::string> &extra_args) {
    const auto snmpd = find_program("snmpd");
    const auto snmpget = find_program("snmpget");
    if (!snmpd || !snmpget) {
        skip_reason_ = "snmpd or snmpget is not installed (Debian packages snmpd and snmp)";
        return;
    }
    dir_ = make_temp_dir("vek_snmpd_");
    {
        std::ofstream conf(dir_ / "snmpd.conf");
        conf << "rocommunity public 127.0.0.1\n"
             << "rwcommunity private 127.0.0.1\n"
             << "sysDescr Test agent\n"
             << "sysContact ops@example.test\n"
             << extra_config;
    }
    port_ = free_udp_port();
    std::vector<std::string> args = {"-f", "-Lf", (dir_ / "snmpd.log").string(), "-C", "-c",
                                     (dir_ / "snmpd.conf").string(), "-p", (dir_ / "pid").string(),
                                     "--persistentDir=" + dir_.string()};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    args.push_back("udp:127.0.0.1:" + std::to_string(port_));
    process_.emplace(*snmpd, args, std::vector<std::string>{"MIBS="});
    const auto deadline = clock::now() + k_snmpd_start_timeout;
    while (clock::now() < deadline) {
        const run_result probe =
            run_snmp_tool("snmpget", {"-v2c", "-c", "public", "-t", "0.2", "-r", "0", target(), "1.3.6.1.2.1.1.1.0"});
        if (probe.exit_code == 0) {
            return;
        }
        if (process_->wait_exit(0ms)) {
            break;
        }
        std::this_thread::sleep_for(k_snmpd_probe_pause);
    }
    std::ifstream log(dir_ / "snmpd.log");
    std::stringstream text;
    text << log.rdbuf();
    skip_reason_ = "snmpd did not answer on " + target() + ": " + text.str();
}

snmpd_peer::~snmpd_peer() {
    if (process_) {
        process_->send_signal(SIGTERM);
        process_->wait_exit(k_snmpd_stop_timeout);
        process_.reset();
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

run_result run_snmp_tool(const std::string &tool, const std::vector<std::string> &args,
                         std::chrono::milliseconds timeout) {
    const auto path = find_program(tool);
    if (!path) {
        return {};
    }
    return run_program(*path, args, "", timeout, {"MIBS="});
}

} // namespace apps_test
