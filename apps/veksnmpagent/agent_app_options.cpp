/* Command-line parsing of veksnmpagent. */
#include "apps/veksnmpagent/agent_app_options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "agent/vek_agent_sdk.h"

namespace {

struct name_code {
    std::string_view name;
    uint8_t code;
};

/* The spellings of the command-line manager (-a and -x), with the agent library's codes. */
constexpr std::array k_auth_names = {name_code{"none", 0}, name_code{"MD5", 1}, name_code{"SHA1", 2},
                                     name_code{"SHA256", 3}, name_code{"SHA256FULL", 4}};
constexpr std::array k_priv_names = {name_code{"none", 0},   name_code{"DES", 1},    name_code{"AES128", 2},
                                     name_code{"AES", 2},    name_code{"AES192", 3}, name_code{"AES256", 4},
                                     name_code{"3DES", 5}};
/* The standard scheme (-s std), with the spellings of the standard tools. */
constexpr std::array k_std_auth_names = {
    name_code{"none", AGENT_SNMP_AUTH_NONE},          name_code{"MD5", AGENT_SNMP_AUTH_STD_MD5},
    name_code{"SHA", AGENT_SNMP_AUTH_STD_SHA1},       name_code{"SHA-224", AGENT_SNMP_AUTH_STD_SHA224},
    name_code{"SHA-256", AGENT_SNMP_AUTH_STD_SHA256}, name_code{"SHA-384", AGENT_SNMP_AUTH_STD_SHA384},
    name_code{"SHA-512", AGENT_SNMP_AUTH_STD_SHA512}};
constexpr std::array k_std_priv_names = {
    name_code{"none", AGENT_SNMP_PRIV_NONE},             name_code{"DES", AGENT_SNMP_PRIV_STD_DES},
    name_code{"AES", AGENT_SNMP_PRIV_STD_AES128},        name_code{"AES-192", AGENT_SNMP_PRIV_STD_AES192},
    name_code{"AES-256", AGENT_SNMP_PRIV_STD_AES256},    name_code{"AES-192-C", AGENT_SNMP_PRIV_STD_AES192C},
    name_code{"AES-256-C", AGENT_SNMP_PRIV_STD_AES256C}};

/* RFC 3411 snmpEngineID: enterprise number with the top bit set, then format 4 (text). */
constexpr uint32_t k_engine_id_enterprise = 12345;
constexpr uint32_t k_engine_id_rfc3411_bit = 0x80000000u;
constexpr uint8_t k_engine_id_format_text = 4;
constexpr unsigned k_bits_per_byte = 8;
constexpr unsigned k_enterprise_bytes = 4;

constexpr unsigned k_hex_base = 16;
constexpr int k_hex_letter_value = 10; /* value of the digit 'a' */
constexpr unsigned k_hex_digits_per_byte = 2;
constexpr std::string_view k_hex_prefix = "0x";
constexpr std::string_view k_hex_prefix_upper = "0X";

/* Options that take the next word as their value. */
constexpr std::array<std::string_view, 17> k_valued_options = {"-p", "-c", "-w", "-e", "-u", "-a",
                                                               "-A", "-x", "-X", "-s", "-T", "-lvl",
                                                               "-W", "-t", "-b", "-N", "-L"};

template <size_t N> int lookup(const std::array<name_code, N> &table, std::string_view name) {
    const auto *it = std::find_if(table.begin(), table.end(), [&](const name_code &e) { return e.name == name; });
    return it == table.end() ? -1 : it->code;
}

template <size_t N> std::string_view name_of(const std::array<name_code, N> &table, uint8_t code) {
    const auto *it = std::find_if(table.begin(), table.end(), [&](const name_code &e) { return e.code == code; });
    return it == table.end() ? std::string_view("?") : it->name;
}

// The codes of the two schemes never overlap (apart from none).
template <size_t N, size_t M>
std::string_view name_in_either(const std::array<name_code, N> &own, const std::array<name_code, M> &standard,
                                uint8_t code) {
    const std::string_view name = name_of(own, code);
    return name != "?" ? name : name_of(standard, code);
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('\'');
    out.append(text);
    out.push_back('\'');
    return out;
}

/* Decimal digits only; nothing beyond `max`. */
bool parse_decimal(std::string_view text, uint32_t max, uint32_t &out) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    uint64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value > max) {
        return false;
    }
    out = static_cast<uint32_t>(value);
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + k_hex_letter_value;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + k_hex_letter_value;
    }
    return -1;
}

/* What the parser keeps of one user until the whole command line is read: the algorithm names are
 * resolved in the user's own scheme at the end. */
struct user_draft {
    std::string_view auth_name;
    std::string_view priv_name;
    bool auth_pass_given = false;
    bool priv_pass_given = false;
};

/* The parser's working state: the result being built and what the user asked for explicitly. */
struct parse_state {
    agent_app_parse_result result;
    std::vector<user_draft> drafts; /* one per entry of result.options.users */
    bool standard_scheme = false;   /* -s std is in force for the users that follow */

    void refuse(std::string message) {
        if (result.action != agent_app_action::fail) {
            result.action = agent_app_action::fail;
            result.message = std::move(message);
        }
    }

    /* A new user in the scheme in force; false (refused) when five are there already. */
    bool start_user() {
        std::vector<agent_app_user> &users = result.options.users;
        if (users.size() >= k_agent_max_users) {
            refuse("at most " + std::to_string(k_agent_max_users) + " SNMPv3 users (-u)");
            return false;
        }
        users.emplace_back();
        users.back().standard = standard_scheme;
        drafts.emplace_back();
        return true;
    }

    /* The user the options -a -A -x -X describe: the last one started, or a first one. */
    bool current_user() { return !result.options.users.empty() || start_user(); }
};

void set_text(parse_state &st, std::string_view option, std::string_view value, size_t max_len, std::string &field) {
    if (value.empty() || value.size() > max_len) {
        st.refuse("option " + std::string(option) + " needs 1 to " + std::to_string(max_len) + " characters, got " +
                  std::to_string(value.size()));
        return;
    }
    field = value;
}

void add_manager(parse_state &st, std::string_view value) {
    uint32_t ip = 0;
    if (!agent_app_parse_ipv4(value, ip)) {
        st.refuse("option -W needs an IPv4 address, got " + quoted(value));
        return;
    }
    std::vector<uint32_t> &managers = st.result.options.managers;
    if (std::find(managers.begin(), managers.end(), ip) != managers.end()) {
        return;
    }
    if (managers.size() >= k_agent_max_managers) {
        st.refuse("option -W: at most " + std::to_string(k_agent_max_managers) + " manager addresses");
        return;
    }
    managers.push_back(ip);
}

/* "-t host[:port]": where traps and informs go. */
void set_trap_target(parse_state &st, std::string_view value) {
    const size_t colon = value.find(':');
    const std::string_view host = value.substr(0, colon);
    uint32_t ip = 0;
    if (!agent_app_parse_ipv4(host, ip)) {
        st.refuse("option -t needs an IPv4 address with an optional :port, got " + quoted(value));
        return;
    }
    uint16_t port = k_agent_default_trap_port;
    if (colon != std::string_view::npos) {
        port = agent_app_parse_port(value.substr(colon + 1));
        if (port == 0) {
            st.refuse("option -t: invalid port in " + quoted(value) + " (1-65535)");
            return;
        }
    }
    st.result.options.trap_host = host;
    st.result.options.trap_port = port;
}

void apply_option(parse_state &st, std::string_view option, std::string_view value) {
    agent_app_options &opt = st.result.options;
    if (option == "-p") {
        opt.port = agent_app_parse_port(value);
        if (opt.port == 0) {
            st.refuse("invalid port " + quoted(value) + " (1-65535)");
        }
    } else if (option == "-c") {
        set_text(st, option, value, k_agent_max_community_len, opt.ro_community);
    } else if (option == "-w") {
        set_text(st, option, value, k_agent_max_community_len, opt.rw_community);
    } else if (option == "-e") {
        if (!agent_app_parse_hex(value, opt.engine_id)) {
            st.refuse("invalid engine ID " + quoted(value) + " (1 to 32 bytes in hexadecimal, e.g. 80003039040102)");
        }
    } else if (option == "-u") {
        // Options given before the first -u belong to the user it names.
        const bool named_last = !opt.users.empty() && !opt.users.back().name.empty();
        if ((opt.users.empty() || named_last) && !st.start_user()) {
            return;
        }
        set_text(st, option, value, k_agent_max_user_len, opt.users.back().name);
    } else if (option == "-a" || option == "-x") {
        if (!st.current_user()) {
            return;
        }
        (option == "-a" ? st.drafts.back().auth_name : st.drafts.back().priv_name) = value;
    } else if (option == "-A" || option == "-X") {
        if (!st.current_user()) {
            return;
        }
        const bool auth = option == "-A";
        agent_app_user &user = opt.users.back();
        set_text(st, option, value, k_agent_max_password_len, auth ? user.auth_pass : user.priv_pass);
        (auth ? st.drafts.back().auth_pass_given : st.drafts.back().priv_pass_given) = true;
    } else if (option == "-s") {
        if (value != "std" && value != "vek") {
            st.refuse("option -s needs std (the standard SNMPv3 scheme) or vek (the system's own), got " + quoted(value));
            return;
        }
        st.standard_scheme = value == "std";
    } else if (option == "-T") {
        set_text(st, option, value, k_agent_max_user_len, opt.notify_user);
    } else if (option == "-lvl") {
        if (!parse_decimal(value, k_agent_max_log_level, opt.log_level)) {
            st.refuse("option -lvl needs 0 (DEBUG), 1 (INFO), 2 (WARN), 3 (ERROR) or 4 (FATAL), got " + quoted(value));
        }
    } else if (option == "-W") {
        add_manager(st, value);
    } else if (option == "-b") {
        if (value.empty()) {
            st.refuse("option -b needs a file name");
            return;
        }
        opt.boots_file = value;
    } else if (option == "-N") {
        set_text(st, option, value, k_agent_max_sys_text_len, opt.sys_name);
    } else if (option == "-L") {
        set_text(st, option, value, k_agent_max_sys_text_len, opt.sys_location);
    } else { // "-t"
        set_trap_target(st, value);
    }
}

/* The algorithms of a user, named in its own scheme. */
void resolve_algorithms(parse_state &st, agent_app_user &user, const user_draft &draft) {
    if (!draft.auth_name.empty()) {
        const int code = agent_app_auth_from_name(draft.auth_name, user.standard);
        if (code < 0) {
            st.refuse("unsupported authentication algorithm " + quoted(draft.auth_name) +
                      (user.standard ? " (standard scheme: none/MD5/SHA/SHA-224/SHA-256/SHA-384/SHA-512)"
                                     : " (none/MD5/SHA1/SHA256/SHA256FULL)"));
            return;
        }
        user.auth_proto = static_cast<uint8_t>(code);
    }
    if (!draft.priv_name.empty()) {
        const int code = agent_app_priv_from_name(draft.priv_name, user.standard);
        if (code < 0) {
            st.refuse("unsupported privacy algorithm " + quoted(draft.priv_name) +
                      (user.standard ? " (standard scheme: none/DES/AES/AES-192/AES-256/AES-192-C/AES-256-C)"
                                     : " (none/DES/AES/AES128/AES192/AES256/3DES)"));
            return;
        }
        user.priv_proto = static_cast<uint8_t>(code);
    }
}

/* The checks that need the whole command line: each user's parts must fit together. */
void check_user(parse_state &st, agent_app_user &user, const user_draft &draft) {
    if (user.name.empty()) {
        st.refuse("options -a -A -x -X describe an SNMPv3 user: give its name with -u");
        return;
    }
    resolve_algorithms(st, user, draft);
    if (user.auth_proto != k_agent_auth_none && user.auth_pass.empty()) {
        st.refuse("an authentication algorithm other than none needs its password (-A)");
    } else if (user.priv_proto != k_agent_priv_none && user.priv_pass.empty()) {
        st.refuse("a privacy algorithm other than none needs its password (-X)");
    } else if (user.standard && user.priv_proto != k_agent_priv_none && user.auth_proto == k_agent_auth_none) {
        st.refuse("standard privacy needs standard authentication (-a) for user " + quoted(user.name));
    }
    if (user.auth_proto == k_agent_auth_none && draft.auth_pass_given) {
        st.result.warnings.emplace_back("authentication algorithm is none: the password of -A is ignored");
        user.auth_pass.clear();
    }
    if (user.priv_proto == k_agent_priv_none && draft.priv_pass_given) {
        st.result.warnings.emplace_back("privacy algorithm is none: the password of -X is ignored");
        user.priv_pass.clear();
    }
}

void check_users(parse_state &st) {
    std::vector<agent_app_user> &users = st.result.options.users;
    for (size_t i = 0; i < users.size(); ++i) {
        check_user(st, users[i], st.drafts[i]);
        const auto same = [&](const agent_app_user &u) { return u.name == users[i].name; };
        if (std::count_if(users.begin(), users.begin() + static_cast<std::ptrdiff_t>(i), same) > 0) {
            st.refuse("SNMPv3 user " + quoted(users[i].name) + " is given twice");
        }
    }
    const std::string &notify = st.result.options.notify_user;
    if (!notify.empty() &&
        std::none_of(users.begin(), users.end(), [&](const agent_app_user &u) { return u.name == notify; })) {
        st.refuse("option -T names " + quoted(notify) + ", which is no user given with -u");
    }
}

} // namespace

agent_app_parse_result agent_app_parse_args(std::span<const char *const> args) {
    parse_state st;
    for (size_t i = 0; i < args.size() && st.result.action == agent_app_action::run; ++i) {
        const std::string_view word = args[i] != nullptr ? args[i] : "";
        if (word == "-h" || word == "--help") {
            st.result.action = agent_app_action::help;
            return st.result;
        }
        if (std::find(k_valued_options.begin(), k_valued_options.end(), word) == k_valued_options.end()) {
            st.refuse("unknown option " + quoted(word));
            break;
        }
        if (i + 1 >= args.size() || args[i + 1] == nullptr) {
            st.refuse("option " + std::string(word) + " needs a value");
            break;
        }
        apply_option(st, word, args[++i]);
    }
    if (st.result.action == agent_app_action::run) {
        check_users(st);
    }
    // -h anywhere wins over every refusal.
    for (const char *arg : args) {
        const std::string_view word = arg != nullptr ? arg : "";
        if (word == "-h" || word == "--help") {
            st.result.action = agent_app_action::help;
            break;
        }
    }
    return st.result;
}

std::string agent_app_usage() {
    const std::string name(k_agent_program_name);
    return "Usage: " + name +
           " [options]\n"
           "SNMP v1/v2c/v3 agent serving the system and snmp groups, the host's interfaces (IF-MIB ifNumber,\n"
           "ifTable, ifXTable names and 64-bit counters) and the sample device MIB (tempSensor\n"
           "1.3.6.1.4.1.12345.1.1, ledControl 1.3.6.1.4.1.12345.1.2, fanSpeed 1.3.6.1.4.1.12345.1.3).\n"
           "\n"
           "Options:\n"
           "  -p <port>        UDP port to listen on (default 161)\n"
           "  -c <community>   read-only community (default public)\n"
           "  -w <community>   read-write community (default private)\n"
           "  -e <engine ID>   SNMPv3 engine ID in hexadecimal, 1 to 32 bytes (default 80003039 04 \"veksnmpagent\")\n"
           "  -u <name>        starts an SNMPv3 user (up to 5); the -a -A -x -X after it are its own\n"
           "  -a <auth>        its authentication: none, MD5, SHA1, SHA256, SHA256FULL (default none);\n"
           "                   standard scheme: MD5, SHA, SHA-224, SHA-256, SHA-384, SHA-512\n"
           "  -A <password>    its authentication password\n"
           "  -x <priv>        its privacy: none, DES, AES (= AES128), AES192, AES256, 3DES (default none);\n"
           "                   standard scheme: DES, AES, AES-192, AES-256, AES-192-C, AES-256-C\n"
           "  -X <password>    its privacy password\n"
           "  -s <std|vek>     SNMPv3 scheme of the users that follow: std (the standard one, spoken by\n"
           "                   standard managers) or vek (the system's own, the default)\n"
           "  -T <name>        send traps and informs as SNMPv3 with this user (default SNMPv2c)\n"
           "  -lvl <0..4>      library log level: 0 DEBUG, 1 INFO, 2 WARN, 3 ERROR, 4 FATAL (default 2)\n"
           "  -W <address>     accept requests only from this manager (repeatable, up to 8;\n"
           "                   127.0.0.1 is always accepted; none given: every manager)\n"
           "  -t <ip[:port]>   where traps and informs go (default 127.0.0.1:162)\n"
           "  -b <file>        where the SNMPv3 engine boots are kept between runs (default\n"
           "                   $XDG_STATE_HOME or ~/.local/state: veksnmpagent/engine_boots)\n"
           "  -N <name>        sysName (default the host's name)\n"
           "  -L <location>    sysLocation (default empty)\n"
           "  -h               this help\n"
           "\n"
           "Setting ledControl to 1 sends a linkUp inform, setting it to 0 a linkDown trap.\n"
           "Console commands (standard input): temp <C>, led <0|1>, fan <pwm>, trap <oid> [value],\n"
           "inform <oid> [value], status, help, quit. Ctrl+C stops the agent.\n";
}

int agent_app_auth_from_name(std::string_view name, bool standard) {
    return standard ? lookup(k_std_auth_names, name) : lookup(k_auth_names, name);
}

int agent_app_priv_from_name(std::string_view name, bool standard) {
    return standard ? lookup(k_std_priv_names, name) : lookup(k_priv_names, name);
}

std::string_view agent_app_auth_name(uint8_t code) { return name_in_either(k_auth_names, k_std_auth_names, code); }

std::string_view agent_app_priv_name(uint8_t code) { return name_in_either(k_priv_names, k_std_priv_names, code); }

bool agent_app_parse_hex(std::string_view text, std::vector<uint8_t> &out) {
    if (text.starts_with(k_hex_prefix) || text.starts_with(k_hex_prefix_upper)) {
        text.remove_prefix(k_hex_prefix.size());
    }
    const size_t bytes = text.size() / k_hex_digits_per_byte;
    if (text.empty() || text.size() % k_hex_digits_per_byte != 0 || bytes > k_agent_max_engine_id_len) {
        return false;
    }
    std::vector<uint8_t> id;
    id.reserve(bytes);
    for (size_t i = 0; i < text.size(); i += k_hex_digits_per_byte) {
        const int high = hex_value(text[i]);
        const int low = hex_value(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        id.push_back(static_cast<uint8_t>(high * static_cast<int>(k_hex_base) + low));
    }
    out = std::move(id);
    return true;
}

uint16_t agent_app_parse_port(std::string_view text) {
    uint32_t port = 0;
    if (!parse_decimal(text, std::numeric_limits<uint16_t>::max(), port)) {
        return 0;
    }
    return static_cast<uint16_t>(port);
}

bool agent_app_parse_ipv4(std::string_view text, uint32_t &out) {
    constexpr size_t k_max_ipv4_text = 15; /* 255.255.255.255 */
    if (text.empty() || text.size() > k_max_ipv4_text) {
        return false;
    }
    const std::string copy(text);
    in_addr addr{};
    if (inet_pton(AF_INET, copy.c_str(), &addr) != 1) {
        return false;
    }
    out = addr.s_addr;
    return true;
}

std::vector<uint8_t> agent_app_default_engine_id() {
    std::vector<uint8_t> id;
    const uint32_t head = k_engine_id_rfc3411_bit | k_engine_id_enterprise;
    for (unsigned i = 0; i < k_enterprise_bytes; ++i) {
        id.push_back(static_cast<uint8_t>(head >> (k_bits_per_byte * (k_enterprise_bytes - 1 - i))));
    }
    id.push_back(k_engine_id_format_text);
    id.insert(id.end(), k_agent_program_name.begin(), k_agent_program_name.end());
    return id;
}
