/* Command-line words of one request command: options, target and variable bindings. */
#ifndef VEK_APPS_CLI_OPTIONS_H
#define VEK_APPS_CLI_OPTIONS_H

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "nms/vek_nms_sdk.h"

inline constexpr size_t k_cli_password_size = 64; /* passwords are cut to 63 characters */
inline constexpr uint32_t k_cli_default_timeout_ms = 5000;
inline constexpr uint32_t k_cli_max_timeout_ms = 30000;
inline constexpr uint8_t k_cli_default_max_repetitions = 5;
inline constexpr uint8_t k_cli_walk_max_repetitions = 10; /* walk's default -Cr */
inline constexpr uint32_t k_cli_max_non_repeaters = 10;

/* The request commands and the listener. */
enum class cli_command { get, set, getnext, bulkwalk, walk, traplisten };

/* The SNMPv3 scheme of -s: the system's own (default) or the standard User-based Security Model. */
enum class cli_scheme { vek, std };

/* The SNMPv3 security level of -l; unset: as the algorithms given say. */
enum class cli_level { unset, no_auth_no_priv, auth_no_priv, auth_priv };

/* Everything one request command needs, with the defaults of a fresh command. */
struct cli_request {
    cli_command command = cli_command::get;
    uint32_t version = API_SNMP_V2C;
    std::array<char, API_SNMP_COMMUNITY_SIZE> community{'p', 'u', 'b', 'l', 'i', 'c', '\0'};
    std::array<char, API_SNMP_USER_NAME_SIZE> user{};
    uint32_t auth_alg = API_SNMP_AUTH_NONE;
    std::array<char, k_cli_password_size> auth_password{};
    uint32_t priv_alg = API_SNMP_PRIV_NONE;
    std::array<char, k_cli_password_size> priv_password{};
    uint32_t timeout_ms = k_cli_default_timeout_ms;
    uint8_t non_repeaters = 0;
    uint8_t max_repetitions = k_cli_default_max_repetitions;
    std::array<char, API_SNMP_IP_SIZE> ip{};
    uint16_t port = 161;
    std::array<api_snmp_varbind, API_SNMP_MAX_REQUEST_VARBINDS> varbinds{};
    uint8_t count = 0;
    /* -s, -l and the algorithm names as given (-a, -x), read while the words are parsed. */
    cli_scheme scheme = cli_scheme::vek;
    cli_level level = cli_level::unset;
    const char *auth_name = nullptr;
    const char *priv_name = nullptr;
    bool has_target = false;
};

/* Maps a command word; nothing for an unknown word. */
std::optional<cli_command> cli_command_from_word(std::string_view word);

/* A port given as decimal text: 1..65535, digits only; nothing otherwise. */
std::optional<uint16_t> cli_parse_port(std::string_view text);

/* Parses the words after the command word of get/set/getnext/bulkwalk/walk into request (which must
 * hold the command and its defaults). Prints every refusal and returns API_SNMP_OK, or the code for the closing line:
 * API_SNMP_ERR_NO_DATA for a refused word, or the SDK's code when a variable binding was refused. */
uint32_t cli_parse_request(std::span<const char *const> words, cli_request &request);

/* True when the words after "traplisten" carry an SNMPv3 user (-u and its options). */
bool cli_listener_has_user(std::span<const char *const> words);

/* Parses the words after "traplisten" of a listener with an SNMPv3 user: -p <port> and the request
 * options, then the sender's address (IP or IP:port) as the target, and nothing after it. Prints
 * every refusal; API_SNMP_OK or API_SNMP_ERR_NO_DATA. */
uint32_t cli_parse_listener(std::span<const char *const> words, cli_request &request, uint16_t &listen_port);

#endif
