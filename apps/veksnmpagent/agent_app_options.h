/* Command line of veksnmpagent: port, communities, engine ID, up to five SNMPv3 users, log level, the
 * manager whitelist, the notification target and the engine boots state file. Parsing is pure (no agent calls, no output) so
 * that it can be checked on its own. */
#ifndef VEK_APPS_VEKSNMPAGENT_OPTIONS_H
#define VEK_APPS_VEKSNMPAGENT_OPTIONS_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view k_agent_program_name = "veksnmpagent";
inline constexpr uint16_t k_agent_default_port = 161;
inline constexpr std::string_view k_agent_default_ro_community = "public";
inline constexpr std::string_view k_agent_default_rw_community = "private";
inline constexpr uint32_t k_agent_default_log_level = 2; /* WARN */
inline constexpr uint32_t k_agent_max_log_level = 4;     /* FATAL */
inline constexpr size_t k_agent_max_community_len = 31;
inline constexpr size_t k_agent_max_user_len = 31;
inline constexpr size_t k_agent_max_password_len = 63;
inline constexpr size_t k_agent_max_engine_id_len = 32;
inline constexpr size_t k_agent_max_managers = 8;
inline constexpr size_t k_agent_max_users = 5;          /* the agent library keeps five SNMPv3 users */
inline constexpr size_t k_agent_max_sys_text_len = 255; /* sysName and sysLocation */
inline constexpr std::string_view k_agent_default_trap_host = "127.0.0.1";
inline constexpr uint16_t k_agent_default_trap_port = 162;

/* Algorithm codes as the agent library numbers them (the system's own scheme: authentication 0..4,
 * privacy 0..5; the standard one above them). */
inline constexpr uint8_t k_agent_auth_none = 0;
inline constexpr uint8_t k_agent_priv_none = 0;

/* One SNMPv3 user: -u starts it, the -a -A -x -X after it belong to it, and the scheme is the one
 * -s set before it (the system's own unless -s std came first). */
struct agent_app_user {
    std::string name;
    uint8_t auth_proto = k_agent_auth_none;
    std::string auth_pass;
    uint8_t priv_proto = k_agent_priv_none;
    std::string priv_pass;
    bool standard = false; /* in the standard scheme (-s std) */
};

/* Everything the command line sets, with its defaults. */
struct agent_app_options {
    uint16_t port = k_agent_default_port;
    std::string ro_community{k_agent_default_ro_community};
    std::string rw_community{k_agent_default_rw_community};
    std::vector<uint8_t> engine_id; /* empty: the program's default engine ID */
    std::vector<agent_app_user> users; /* up to five, in the order given */
    std::string notify_user;           /* -T: the user of SNMPv3 traps and informs (empty: SNMPv2c) */
    uint32_t log_level = k_agent_default_log_level;
    std::vector<uint32_t> managers; /* IPv4 addresses in network byte order, each once */
    std::string trap_host{k_agent_default_trap_host};
    uint16_t trap_port = k_agent_default_trap_port;
    std::string boots_file; /* empty: agent_app_default_boots_file() */
    std::string sys_name;     /* empty: the host's name */
    std::string sys_location; /* empty: none */
};

/* What the program does after parsing. */
enum class agent_app_action { run, help, fail };

struct agent_app_parse_result {
    agent_app_action action = agent_app_action::run;
    agent_app_options options;
    std::string message;               /* the refusal to print when action is fail */
    std::vector<std::string> warnings; /* accepted, but worth telling the user */
};

/* Parses the words after the program name. */
agent_app_parse_result agent_app_parse_args(std::span<const char *const> args);

/* The usage text printed by -h. */
std::string agent_app_usage();

/* Algorithm names as the command-line manager spells them (the standard scheme: as the standard
 * tools spell them); -1 for an unknown name. */
int agent_app_auth_from_name(std::string_view name, bool standard = false);
int agent_app_priv_from_name(std::string_view name, bool standard = false);
/* The name of an algorithm code ("?" for an unknown code). */
std::string_view agent_app_auth_name(uint8_t code);
std::string_view agent_app_priv_name(uint8_t code);

/* Engine ID text in hexadecimal (optional 0x prefix, an even number of digits, 1..32 bytes). */
bool agent_app_parse_hex(std::string_view text, std::vector<uint8_t> &out);

/* A decimal port 1..65535; 0 when the text is not one. */
uint16_t agent_app_parse_port(std::string_view text);

/* A dotted IPv4 address (four decimal parts); false when the text is not one. The address is
 * returned in network byte order. */
bool agent_app_parse_ipv4(std::string_view text, uint32_t &out);

/* The engine ID used when -e is not given: the RFC 3411 text format under the sample enterprise
 * number, followed by the program name. */
std::vector<uint8_t> agent_app_default_engine_id();

#endif
