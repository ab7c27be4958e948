/* veksnmpagent: a sample SNMP agent on the agent library's public API. It serves the system group,
 * the host's interfaces (IF-MIB) and the sample device MIB, answers v1, v2c and v3 managers, sends
 * the LED's link notifications and takes console commands on standard input until Ctrl+C or "quit". */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "agent/vek_agent_sdk.h"
#include "apps/veksnmpagent/agent_app_boots.h"
#include "apps/veksnmpagent/agent_app_console.h"
#include "apps/veksnmpagent/agent_app_device.h"
#include "apps/veksnmpagent/agent_app_interfaces.h"
#include "apps/veksnmpagent/agent_app_notify.h"
#include "apps/veksnmpagent/agent_app_options.h"
#include "base/log_mask.h"

namespace {

constexpr int k_exit_usage = 2;
constexpr uint32_t k_wait_ms = 100;           /* longest sleep of the main loop */
constexpr uint32_t k_collection_period_ms = 1000;
constexpr uint16_t k_privileged_ports = 1024; /* ports below this need root */
constexpr uint32_t k_max_engine_boots = 2147483647; /* RFC 3414: boots stop there */

std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void on_stop_signal(int /*sig*/) { g_stop_requested.store(true); }

void install_signal_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

/* The boots the next start of the agent uses: one more than the last, never past the maximum. */
uint32_t next_boots(uint32_t last) { return last < k_max_engine_boots ? last + 1 : last; }

void print_error(const std::string &text) { std::fprintf(stderr, "%s: %s\n", k_agent_program_name.data(), text.c_str()); }

/* Whether the agent will be able to bind the port: a plain bind on every address, without the
 * port-sharing options, fails exactly when another socket holds the port. */
bool port_available(uint16_t port, std::string &why) {
    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        why = std::strerror(errno);
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    const bool ok = bind(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    const int err = errno;
    close(sock);
    if (!ok) {
        why = err == EADDRINUSE ? "the port is in use" : std::strerror(err);
        if (err == EACCES && port < k_privileged_ports) {
            why += " (ports below 1024 need root)";
        }
    }
    return ok;
}

std::string hex_text(std::span<const uint8_t> bytes) {
    constexpr std::string_view k_digits = "0123456789abcdef";
    constexpr unsigned k_nibble_bits = 4;
    constexpr unsigned k_nibble_mask = 0x0f;
    std::string text;
    for (const uint8_t b : bytes) {
        text.push_back(k_digits[b >> k_nibble_bits]);
        text.push_back(k_digits[b & k_nibble_mask]);
    }
    return text;
}

template <size_t N> void copy_text(char (&field)[N], const std::string &text) {
    std::strncpy(field, text.c_str(), N - 1);
    field[N - 1] = '\0';
}

/* sysName: the one given, else the host's name. */
std::string system_name(const agent_app_options &opt) {
    if (!opt.sys_name.empty()) {
        return opt.sys_name;
    }
    std::array<char, AGENT_SNMP_SYS_TEXT_MAX + 1> host{};
    return gethostname(host.data(), host.size() - 1) == 0 ? std::string(host.data()) : std::string();
}

/* The system group's values that the program knows: 0 or the agent's code. */
int32_t describe_system(const agent_app_options &opt) {
    int32_t rc = agent_snmp_set_sys_name(system_name(opt).c_str());
    if (rc == AGENT_SNMP_OK) {
        rc = agent_snmp_set_sys_location(opt.sys_location.c_str());
    }
    return rc;
}

/* Initialises the agent from the options: 0 or the agent's code, with `step` naming what failed. */
int32_t configure_agent(const agent_app_options &opt, const std::vector<uint8_t> &engine_id, uint32_t last_boots,
                        std::string &step) {
    agent_snmp_cfg cfg{};
    copy_text(cfg.ro_community, opt.ro_community);
    copy_text(cfg.rw_community, opt.rw_community);
    std::memcpy(cfg.engine_id, engine_id.data(), engine_id.size());
    cfg.engine_id_len = static_cast<uint16_t>(engine_id.size());
    cfg.port = opt.port;
    cfg.poll_period = k_collection_period_ms;
    cfg.log_level = opt.log_level;
    // The level applies from the first line the library logs during initialisation.
    agent_snmp_set_log_level(static_cast<uint8_t>(opt.log_level));
    step = "initialisation";
    int32_t rc = agent_snmp_init(&cfg);
    if (rc != AGENT_SNMP_OK) {
        return rc;
    }
    step = "engine boots";
    rc = agent_snmp_set_engine_boots(last_boots);
    if (rc != AGENT_SNMP_OK) {
        return rc;
    }
    for (const agent_app_user &u : opt.users) {
        agent_snmp_v3_user user{};
        copy_text(user.username, u.name);
        user.auth_proto = u.auth_proto;
        copy_text(user.auth_pass, u.auth_pass);
        user.priv_proto = u.priv_proto;
        copy_text(user.priv_pass, u.priv_pass);
        step = "SNMPv3 user " + u.name;
        rc = agent_snmp_v3_user_add(&user);
        if (rc != AGENT_SNMP_OK) {
            return rc;
        }
    }
    if (!opt.notify_user.empty()) {
        step = "SNMPv3 notification user " + opt.notify_user;
        rc = agent_snmp_set_notify_user(opt.notify_user.c_str());
        if (rc != AGENT_SNMP_OK) {
            return rc;
        }
    }
    for (const uint32_t ip : opt.managers) {
        step = "manager whitelist";
        rc = agent_snmp_whitelist_add(&ip);
        if (rc != AGENT_SNMP_OK) {
            return rc;
        }
    }
    return AGENT_SNMP_OK;
}

std::string ipv4_text(uint32_t network_order) {
    in_addr addr{};
    addr.s_addr = network_order;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

void print_startup(const agent_app_options &opt, const std::vector<uint8_t> &engine_id, const agent_app_target &target,
                   const std::string &boots_file, bool console) {
    std::printf("%s listening on UDP port %u\n", k_agent_program_name.data(), static_cast<unsigned>(opt.port));
    // The communities are secrets: the console (often kept in a log file) shows only that they are set.
    std::printf("  communities: read-only '%s', read-write '%s'\n", vek::kLogMask, vek::kLogMask);
    std::printf("  engine ID: %s\n", hex_text(engine_id).c_str());
    std::printf("  engine boots: %u (kept in %s)\n", static_cast<unsigned>(agent_snmp_get_engine_boots()),
                boots_file.c_str());
    for (const agent_app_user &user : opt.users) {
        const std::string_view auth = agent_app_auth_name(user.auth_proto);
        const std::string_view priv = agent_app_priv_name(user.priv_proto);
        std::printf("  SNMPv3 user: %s (authentication %.*s, privacy %.*s)%s\n", user.name.c_str(),
                    static_cast<int>(auth.size()), auth.data(), static_cast<int>(priv.size()), priv.data(),
                    user.standard ? ", standard scheme" : "");
    }
    if (!opt.notify_user.empty()) {
        std::printf("  traps and informs: SNMPv3, user %s\n", opt.notify_user.c_str());
    }
    std::string managers = opt.managers.empty() ? "every manager" : "127.0.0.1";
    for (const uint32_t ip : opt.managers) {
        managers += ", " + ipv4_text(ip);
    }
    std::printf("  accepting: %s\n", managers.c_str());
    std::printf("  notifications to %s:%u\n", target.host.c_str(), static_cast<unsigned>(target.port));
    // The last line of the start-up text.
    std::printf("%s\n", console ? "Type 'help' for console commands; Ctrl+C stops the agent."
                                : "Ctrl+C stops the agent.");
}

/* Sends the link notification of an LED that a manager has just switched. */
void notify_led_write(sample_device &device, const agent_app_target &target) {
    const std::optional<uint8_t> led = device.take_led_write();
    if (!led) {
        return;
    }
    const bool up = *led != sample_device::k_led_off;
    const int32_t rc = agent_app_send_link(target, up);
    if (rc == AGENT_SNMP_OK) {
        std::printf("LED switched %s by a manager: %s sent to %s:%u\n", up ? "on" : "off",
                    up ? "linkUp inform" : "linkDown trap", target.host.c_str(), static_cast<unsigned>(target.port));
    } else {
        std::printf("LED switched %s by a manager: sending the %s failed: %s (%d)\n", up ? "on" : "off",
                    up ? "linkUp inform" : "linkDown trap", agent_snmp_err_to_str(rc), static_cast<int>(rc));
    }
}

/* Executes the console lines read so far; false when one of them asks to quit. */
bool run_console_lines(console_reader &reader, console_context &ctx) {
    for (const std::string &line : reader.take_lines()) {
        if (agent_app_console_execute(line, ctx) == console_verdict::quit) {
            return false;
        }
    }
    return true;
}

int run_agent(const agent_app_options &opt) {
    const std::vector<uint8_t> engine_id = opt.engine_id.empty() ? agent_app_default_engine_id() : opt.engine_id;
    const agent_app_target target{opt.trap_host, opt.trap_port};

    install_signal_handlers();
    std::string why;
    if (!port_available(opt.port, why)) {
        print_error("cannot listen on UDP port " + std::to_string(opt.port) + ": " + why);
        return EXIT_FAILURE;
    }
    // This run's engine boots are kept before the agent answers anything: a run that could not keep
    // them would let the next one repeat its messages' (boots, time) pairs.
    const std::string boots_file = opt.boots_file.empty() ? agent_app_default_boots_file() : opt.boots_file;
    uint32_t last_boots = 0;
    if (!agent_app_read_boots(boots_file, last_boots, why) ||
        !agent_app_write_boots(boots_file, next_boots(last_boots), why)) {
        print_error("cannot keep the SNMPv3 engine boots in " + boots_file + ": " + why +
                    " (option -b names another file)");
        return EXIT_FAILURE;
    }
    std::string step;
    int32_t rc = configure_agent(opt, engine_id, last_boots, step);
    sample_device device;
    host_interfaces_mib interfaces;
    if (rc == AGENT_SNMP_OK) {
        step = "system group";
        rc = describe_system(opt);
    }
    if (rc == AGENT_SNMP_OK) {
        step = "sample device MIB";
        rc = device.install();
    }
    if (rc == AGENT_SNMP_OK) {
        step = "interfaces MIB";
        rc = interfaces.install();
    }
    if (rc == AGENT_SNMP_OK) {
        step = "start";
        rc = agent_snmp_start();
    }
    if (rc == AGENT_SNMP_OK && agent_snmp_get_state() != AGENT_SNMP_STATE_RUNNING) {
        rc = AGENT_SNMP_ERR_INIT;
    }
    if (rc != AGENT_SNMP_OK) {
        print_error("agent " + step + " failed on UDP port " + std::to_string(opt.port) + ": " +
                    agent_snmp_err_to_str(rc) + " (" + std::to_string(rc) + ")");
        agent_snmp_deinit();
        return EXIT_FAILURE;
    }

    console_reader reader;
    const bool console = agent_app_console_wanted() && reader.start();
    print_startup(opt, engine_id, target, boots_file, console);
    console_context ctx{device, target};
    bool running = true;
    while (running && !g_stop_requested.load()) {
        agent_snmp_wait(k_wait_ms);
        agent_snmp_loop();
        notify_led_write(device, target);
        running = run_console_lines(reader, ctx);
    }
    reader.stop();
    agent_snmp_stop();
    std::printf("%s stopped\n", k_agent_program_name.data());
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char **argv) {
    // Line by line, so that a reader of a pipe sees each line as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const agent_app_parse_result parsed =
        agent_app_parse_args(std::span<const char *const>(argv + 1, static_cast<size_t>(argc > 0 ? argc - 1 : 0)));
    if (parsed.action == agent_app_action::help) {
        std::fputs(agent_app_usage().c_str(), stdout);
        return EXIT_SUCCESS;
    }
    if (parsed.action == agent_app_action::fail) {
        print_error(parsed.message);
        std::fprintf(stderr, "Run '%s -h' for the options.\n", k_agent_program_name.data());
        return k_exit_usage;
    }
    for (const std::string &warning : parsed.warnings) {
        print_error("warning: " + warning);
    }
    return run_agent(parsed.options);
}
