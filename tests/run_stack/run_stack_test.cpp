/* The stack that `make run` starts, end to end: scripts/run.sh runs this build's agent, HTTP service
 * and web bridge on free high ports; the agent answers the command-line manager and the bridge, a SET
 * of the LED through the bridge produces notifications that the bridge lists, and SIGINT to the
 * script stops all three. Also: the script refuses taken ports and reports programs that end. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/http_intake/loopback_clients.h"
#include "tests/apps_cli/apps_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using apps_test::child_process;

constexpr std::string_view k_ready_text = "Press Ctrl+C to stop all three.";
constexpr std::string_view k_stopped_text = "run: stopped";
constexpr std::string_view k_killed_text = "killing it";
constexpr std::string_view k_in_use_text = "is already in use";
constexpr std::chrono::milliseconds k_start_timeout = 90s; // sanitizer builds on a busy machine
constexpr const char *k_ready_seconds = "75";              // the script's own limit, below the above
constexpr std::chrono::milliseconds k_stop_timeout = 20s;
constexpr std::chrono::milliseconds k_refusal_timeout = 20s;
constexpr std::chrono::milliseconds k_notification_timeout = 10s;
constexpr std::chrono::milliseconds k_poll_pause = 100ms;
constexpr time_t k_http_timeout_s = 15;
constexpr size_t k_read_chunk = 4096;
constexpr int k_exit_failed = 1;
constexpr int k_exit_bad_setting = 2;
constexpr std::string_view k_sys_descr_oid = "1.3.6.1.2.1.1.1.0";
constexpr std::string_view k_led_oid = "1.3.6.1.4.1.12345.1.2";
constexpr std::string_view k_link_up_oid = "1.3.6.1.6.3.1.1.5.4";
constexpr std::string_view k_link_down_oid = "1.3.6.1.6.3.1.1.5.3";
constexpr std::array<std::string_view, 3> k_program_names = {"veksnmpagent", "snmp_service", "snmp_web_bridge"};

/* A socket descriptor closed on scope exit. */
class socket_fd {
public:
    explicit socket_fd(int fd) : fd_(fd) {}
    ~socket_fd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    socket_fd(const socket_fd &) = delete;
    socket_fd &operator=(const socket_fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

sockaddr_in ipv4_address(uint32_t host_order_ip, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(host_order_ip);
    addr.sin_port = htons(port);
    return addr;
}

bool bind_to(const socket_fd &sock, uint32_t host_order_ip, uint16_t port) {
    const sockaddr_in addr = ipv4_address(host_order_ip, port);
    return bind(sock.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
}

/* A listening port below the range of outgoing connections, which parallel tests use by the hundred. */
uint16_t free_tcp_port() { return intake_test::free_listen_port(); }

/* Holds a port the way another program would: a TCP listener or a bound UDP socket on every address. */
class port_holder {
public:
    port_holder(int type, uint16_t port) : sock_(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        ok_ = bind_to(sock_, INADDR_ANY, port) && (type != SOCK_STREAM || listen(sock_.get(), 1) == 0);
    }
    bool ok() const { return ok_; }

private:
    socket_fd sock_;
    bool ok_ = false;
};

/* True when a program could now bind the port on every address (TCP with address reuse, as the
 * service and the bridge do). */
bool port_bindable(int type, uint16_t port) {
    const socket_fd sock(socket(AF_INET, type | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (type == SOCK_STREAM) {
        setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    return bind_to(sock, INADDR_ANY, port);
}

/* The body of an HTTP GET of the path on 127.0.0.1:port; empty when nothing answers. */
std::string http_get(uint16_t port, const std::string &path) {
    const socket_fd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const timeval limit{k_http_timeout_s, 0};
    setsockopt(sock.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(sock.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const sockaddr_in addr = ipv4_address(INADDR_LOOPBACK, port);
    if (connect(sock.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        return {};
    }
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (send(sock.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        return {};
    }
    std::string reply;
    std::array<char, k_read_chunk> chunk{};
    for (ssize_t n = 0; (n = recv(sock.get(), chunk.data(), chunk.size(), 0)) > 0;) {
        reply.append(chunk.data(), static_cast<size_t>(n));
    }
    const size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? reply : reply.substr(body + 4);
}

// ---- processes ----

struct proc_stat {
    char state = '?';
    pid_t ppid = 0;
};

std::optional<proc_stat> stat_of(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t end_of_name = text.rfind(')');
    if (end_of_name == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream rest(text.substr(end_of_name + 1));
    proc_stat st;
    rest >> st.state >> st.ppid;
    return rest ? std::optional<proc_stat>(st) : std::nullopt;
}

/* Running: the process exists and has not ended (an unreaped zombie has ended). */
bool running(pid_t pid) {
    const std::optional<proc_stat> st = stat_of(pid);
    return st && st->state != 'Z';
}

std::string program_name(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::string argv0;
    std::getline(file, argv0, '\0');
    return fs::path(argv0).filename().string();
}

struct started_program {
    pid_t pid;
    std::string name;
};

std::vector<started_program> children_of(pid_t parent) {
    std::vector<started_program> children;
    std::error_code ec;
    for (const fs::directory_entry &entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        const std::optional<proc_stat> st = stat_of(pid);
        if (st && st->ppid == parent && st->state != 'Z') {
            children.push_back({pid, program_name(pid)});
        }
    }
    return children;
}

/* Kills whatever a test started and left behind when an assertion ends it early. */
struct leftover_guard {
    std::vector<pid_t> pids;
    ~leftover_guard() {
        for (const pid_t pid : pids) {
            if (running(pid)) {
                kill(pid, SIGKILL);
            }
        }
    }
};

std::string read_file(const fs::path &path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// ---- the script ----

struct stack_ports {
    uint16_t agent = 0;
    uint16_t trap = 0;
    uint16_t service = 0;
    uint16_t bridge = 0;
};

stack_ports free_ports() {
    stack_ports ports;
    ports.agent = apps_test::free_udp_port();
    do {
        ports.trap = apps_test::free_udp_port();
    } while (ports.trap == ports.agent);
    ports.service = free_tcp_port();
    do {
        ports.bridge = free_tcp_port();
    } while (ports.bridge == ports.service);
    return ports;
}

std::vector<std::string> script_env(const stack_ports &ports, const fs::path &log_dir) {
    return {"VEK_RUN_AGENT_PORT=" + std::to_string(ports.agent),
            "VEK_RUN_TRAP_PORT=" + std::to_string(ports.trap),
            "VEK_RUN_SERVICE_PORT=" + std::to_string(ports.service),
            "VEK_RUN_BRIDGE_PORT=" + std::to_string(ports.bridge),
            "VEK_RUN_LOG_DIR=" + log_dir.string(),
            std::string("VEK_RUN_READY_SECONDS=") + k_ready_seconds};
}

/* The script's arguments to bash: its standard error joins its standard output. */
std::vector<std::string> script_args(const std::string &build_dir) {
    return {"-c", "exec \"$0\" \"$@\" 2>&1", VEK_RUN_SCRIPT, build_dir};
}

std::unique_ptr<child_process> start_script(const std::string &build_dir, const stack_ports &ports,
                                            const fs::path &log_dir) {
    return std::make_unique<child_process>("/bin/bash", script_args(build_dir), script_env(ports, log_dir));
}

apps_test::run_result run_script_to_end(const std::string &build_dir, const std::vector<std::string> &env) {
    return apps_test::run_program("/bin/bash", script_args(build_dir), "", k_refusal_timeout, env);
}

/* The logs of the three programs, for the message of a failed check. */
std::string program_logs(const fs::path &log_dir) {
    std::string text;
    for (const std::string_view name : k_program_names) {
        text += "---- " + std::string(name) + ".log\n" + read_file(log_dir / (std::string(name) + ".log"));
    }
    return text;
}

/* The value of the first data item of a service answer. */
std::string first_value(const std::string &json) {
    constexpr std::string_view key = "\"value\":\"";
    const size_t start = json.find(key);
    if (start == std::string::npos) {
        return {};
    }
    const size_t from = start + key.size();
    return json.substr(from, json.find('"', from) - from);
}

/* Polls the bridge's notification list until it holds a notification of that kind from the agent. */
bool wait_for_notification(uint16_t bridge_port, uint16_t agent_port, std::string_view trap_oid, std::string &list) {
    const std::string kind = "\"value\":\"" + std::string(trap_oid) + "\"";
    const std::string sender = "\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(agent_port) + ",";
    const auto deadline = std::chrono::steady_clock::now() + k_notification_timeout;
    do {
        list = http_get(bridge_port, "/trap_list");
        if (list.find(kind) != std::string::npos && list.find(sender) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(k_poll_pause);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

class run_stack : public ::testing::Test {
protected:
    void SetUp() override {
        // The script looks for the programs at <build>/apps/<dir>/<name>: this build must put them there.
        const fs::path build(VEK_RUN_BUILD_DIR);
        const std::array<std::pair<const char *, fs::path>, 4> expected = {{
            {VEK_AGENT_PATH, build / "apps/veksnmpagent/veksnmpagent"},
            {VEK_SERVICE_PATH, build / "apps/snmp_service/snmp_service"},
            {VEK_BRIDGE_PATH, build / "apps/snmp_web_bridge/snmp_web_bridge"},
            {VEK_CLI_PATH, build / "apps/cli/veksnmpnms"},
        }};
        for (const auto &[built, wanted] : expected) {
            std::error_code ec;
            ASSERT_TRUE(fs::equivalent(built, wanted, ec)) << built << " is not at " << wanted;
        }
        log_dir_ = apps_test::make_temp_dir("run_stack_");
        ASSERT_FALSE(log_dir_.empty());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(log_dir_, ec);
    }

    /* Starts the script and waits for its ready text; the three programs it started. */
    std::vector<started_program> start_stack(const stack_ports &ports) {
        script_ = start_script(VEK_RUN_BUILD_DIR, ports, log_dir_);
        guard_.pids.push_back(script_->pid());
        const bool ready = script_->wait_for_output(k_ready_text, k_start_timeout);
        std::vector<started_program> programs = children_of(script_->pid());
        for (const started_program &p : programs) {
            guard_.pids.push_back(p.pid);
        }
        EXPECT_TRUE(ready) << script_->output() << program_logs(log_dir_);
        std::set<std::string> names;
        for (const started_program &p : programs) {
            names.insert(p.name);
        }
        EXPECT_EQ(names, std::set<std::string>(k_program_names.begin(), k_program_names.end()));
        return programs;
    }

    fs::path log_dir_;
    std::unique_ptr<child_process> script_;
    leftover_guard guard_;
};

TEST_F(run_stack, serves_the_agent_through_cli_and_bridge_relays_notifications_and_stops_on_sigint) {
    const stack_ports ports = free_ports();
    const std::vector<started_program> programs = start_stack(ports);
    ASSERT_EQ(programs.size(), k_program_names.size()) << script_->output();
    const std::string agent = "127.0.0.1:" + std::to_string(ports.agent);
    const std::string agent_query = "ip=127.0.0.1&port=" + std::to_string(ports.agent);

    // The start-up text names the page and CLI commands against the local agent.
    const std::string &text = script_->output();
    EXPECT_NE(text.find("http://127.0.0.1:" + std::to_string(ports.bridge) + "/"), std::string::npos) << text;
    EXPECT_NE(text.find("get -v 2c -c public " + agent + " " + std::string(k_sys_descr_oid)), std::string::npos);
    EXPECT_NE(text.find("set -v 2c -c private " + agent + " " + std::string(k_led_oid) + " i 1"), std::string::npos);
    // The page proposes the agent's port.
    EXPECT_NE(http_get(ports.bridge, "/").find("value=\"" + std::to_string(ports.agent) + "\""), std::string::npos);

    // sysDescr.0 through the bridge and the service ...
    EXPECT_NE(http_get(ports.bridge, "/agent_add?" + agent_query + "&version=1&community=public").find("\"ret\":0"),
              std::string::npos);
    const std::string answer = http_get(ports.bridge, "/snmp_get?" + agent_query + "&oid=" + std::string(k_sys_descr_oid));
    EXPECT_NE(answer.find("\"ret\":0"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"oid\":\"" + std::string(k_sys_descr_oid) + "\""), std::string::npos) << answer;
    const std::string sys_descr = first_value(answer);
    ASSERT_FALSE(sys_descr.empty()) << answer;
    // ... and the same value through the command-line manager.
    const apps_test::run_result cli = apps_test::run_program(
        VEK_CLI_PATH, {"get", "-v", "2c", "-c", "public", "-t", "3000", agent, std::string(k_sys_descr_oid)});
    EXPECT_EQ(cli.exit_code, 0) << cli.out;
    EXPECT_NE(cli.out.find("执行成功"), std::string::npos) << cli.out;
    EXPECT_NE(cli.out.find(std::string(k_sys_descr_oid) + " = STRING: " + sys_descr), std::string::npos) << cli.out;

    // The LED through the bridge with the read-write community: a linkUp inform, then a linkDown trap.
    http_get(ports.bridge, "/agent_remove?" + agent_query);
    EXPECT_NE(http_get(ports.bridge, "/agent_add?" + agent_query + "&version=1&community=private").find("\"ret\":0"),
              std::string::npos);
    const std::string set_led = "/snmp_set?" + agent_query + "&oid=" + std::string(k_led_oid) + "&type=integer&value=";
    EXPECT_NE(http_get(ports.bridge, set_led + "1").find("\"ret\":0"), std::string::npos);
    std::string list;
    EXPECT_TRUE(wait_for_notification(ports.bridge, ports.agent, k_link_up_oid, list)) << list << program_logs(log_dir_);
    EXPECT_NE(http_get(ports.bridge, set_led + "0").find("\"ret\":0"), std::string::npos);
    EXPECT_TRUE(wait_for_notification(ports.bridge, ports.agent, k_link_down_oid, list)) << list << program_logs(log_dir_);

    // SIGINT to the script stops all three, and it ends with 0.
    script_->send_signal(SIGINT);
    EXPECT_EQ(script_->wait_exit(k_stop_timeout), 0) << script_->output();
    EXPECT_NE(script_->output().find(k_stopped_text), std::string::npos) << script_->output();
    // Each stopped on its own signal handling, none had to be killed.
    EXPECT_EQ(script_->output().find(k_killed_text), std::string::npos) << script_->output();
    for (const started_program &p : programs) {
        EXPECT_FALSE(running(p.pid)) << p.name << " (pid " << p.pid << ") is still running";
    }
    EXPECT_TRUE(port_bindable(SOCK_DGRAM, ports.agent));
    EXPECT_TRUE(port_bindable(SOCK_DGRAM, ports.trap));
    EXPECT_TRUE(port_bindable(SOCK_STREAM, ports.service));
    EXPECT_TRUE(port_bindable(SOCK_STREAM, ports.bridge));
    // Each program's output went to its log file.
    EXPECT_NE(read_file(log_dir_ / "veksnmpagent.log").find("linkUp inform sent"), std::string::npos);
    const std::string service_log = read_file(log_dir_ / "snmp_service.log");
    EXPECT_NE(service_log.find("[HTTP] path=/api_snmp_set"), std::string::npos);
    EXPECT_EQ(service_log.find("] [DEBUG] "), std::string::npos) << "make run keeps the library at WARN";
    EXPECT_NE(read_file(log_dir_ / "snmp_web_bridge.log").find("请求：SNMP SET"), std::string::npos);
    EXPECT_TRUE(fs::exists(log_dir_ / "bridge.log"));
    // A sanitizer build reports its findings into the same logs.
    const std::string logs = program_logs(log_dir_);
    EXPECT_EQ(logs.find("Sanitizer"), std::string::npos) << logs;
    EXPECT_EQ(logs.find("runtime error:"), std::string::npos) << logs;
}

TEST_F(run_stack, a_program_that_ends_stops_the_others_and_fails_the_script) {
    const stack_ports ports = free_ports();
    const std::vector<started_program> programs = start_stack(ports);
    ASSERT_EQ(programs.size(), k_program_names.size()) << script_->output();
    for (const started_program &p : programs) {
        if (p.name == "snmp_service") {
            kill(p.pid, SIGKILL);
        }
    }
    EXPECT_EQ(script_->wait_exit(k_stop_timeout), k_exit_failed) << script_->output();
    EXPECT_NE(script_->output().find("snmp_service ended unexpectedly"), std::string::npos) << script_->output();
    for (const started_program &p : programs) {
        EXPECT_FALSE(running(p.pid)) << p.name << " (pid " << p.pid << ") is still running";
    }
}

TEST_F(run_stack, refuses_to_start_on_a_taken_port_or_without_the_programs) {
    const stack_ports ports = free_ports();
    const std::vector<std::string> env = script_env(ports, log_dir_);
    struct taken_case {
        int type;
        uint16_t port;
        std::string_view proto;
    };
    const std::array<taken_case, 4> cases = {{{SOCK_DGRAM, ports.agent, "UDP"},
                                              {SOCK_DGRAM, ports.trap, "UDP"},
                                              {SOCK_STREAM, ports.service, "TCP"},
                                              {SOCK_STREAM, ports.bridge, "TCP"}}};
    for (const taken_case &c : cases) {
        const port_holder holder(c.type, c.port);
        ASSERT_TRUE(holder.ok()) << c.port;
        const apps_test::run_result r = run_script_to_end(VEK_RUN_BUILD_DIR, env);
        EXPECT_EQ(r.exit_code, k_exit_failed) << r.out;
        EXPECT_NE(r.out.find(std::string(c.proto) + " port " + std::to_string(c.port) + " "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(k_in_use_text), std::string::npos) << r.out;
    }
    // Nothing was started.
    for (const std::string_view name : k_program_names) {
        EXPECT_FALSE(fs::exists(log_dir_ / (std::string(name) + ".log"))) << name;
    }

    std::vector<std::string> shared = env;
    shared[1] = "VEK_RUN_TRAP_PORT=" + std::to_string(ports.agent);
    const apps_test::run_result same = run_script_to_end(VEK_RUN_BUILD_DIR, shared);
    EXPECT_EQ(same.exit_code, k_exit_bad_setting) << same.out;
    EXPECT_NE(same.out.find("cannot share UDP port " + std::to_string(ports.agent)), std::string::npos) << same.out;

    const apps_test::run_result missing = run_script_to_end((log_dir_ / "no-build").string(), env);
    EXPECT_EQ(missing.exit_code, k_exit_failed) << missing.out;
    EXPECT_NE(missing.out.find("does not exist"), std::string::npos) << missing.out;
}

/* A program that ends during start-up: the script says which, shows its log, stops the other two
 * and fails. Stand-in programs make the failure certain. */
TEST_F(run_stack, a_program_that_fails_at_start_up_is_reported_and_the_rest_stopped) {
    const fs::path build = log_dir_ / "build";
    const fs::path logs = log_dir_ / "logs";
    const auto write_program = [&](const std::string &dir, const std::string &name, const std::string &body) {
        fs::create_directories(build / "apps" / dir);
        const fs::path path = build / "apps" / dir / name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        fs::permissions(path, fs::perms::owner_all);
    };
    write_program("veksnmpagent", "veksnmpagent", "sleep 0.5\necho 'stand-in agent: cannot start'\nexit 3\n");
    for (const auto &[dir, name] : {std::pair<std::string, std::string>{"snmp_service", "snmp_service"},
                                    {"snmp_web_bridge", "snmp_web_bridge"}}) {
        write_program(dir, name, "echo $$ > '" + (log_dir_ / (name + ".pid")).string() + "'\nexec sleep 600\n");
    }
    write_program("cli", "veksnmpnms", "exit 1\n");

    const apps_test::run_result r = run_script_to_end(build.string(), script_env(free_ports(), logs));
    EXPECT_EQ(r.exit_code, k_exit_failed) << r.out;
    EXPECT_NE(r.out.find("veksnmpagent ended at start-up"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("stand-in agent: cannot start"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(k_ready_text), std::string::npos) << r.out;
    for (const std::string name : {"snmp_service", "snmp_web_bridge"}) {
        const std::string pid_text = read_file(log_dir_ / (name + ".pid"));
        ASSERT_FALSE(pid_text.empty()) << name << " did not start";
        const pid_t pid = static_cast<pid_t>(std::stol(pid_text));
        guard_.pids.push_back(pid);
        EXPECT_FALSE(running(pid)) << name << " stand-in (pid " << pid << ") is still running";
    }
}

} // namespace
