/* Parsing of one request command's words: options up to the target, then the target, then the
 * variable bindings. */
#include "apps/cli/cli_options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "apps/cli/cli_state.h"

namespace {

constexpr uint32_t k_max_cli_log_level = 3; /* ERROR: the CLI offers DEBUG..ERROR */
constexpr uint32_t k_max_port = std::numeric_limits<uint16_t>::max();
constexpr uint32_t k_max_repetitions_limit = std::numeric_limits<uint8_t>::max();
constexpr std::string_view k_non_repeaters_option = "-Cn";
constexpr std::string_view k_max_repetitions_option = "-Cr";

/* Outcome of one option: consumed, or refused (its message already printed). */
enum class option_result { ok, refused };

struct name_value {
    std::string_view name;
    uint32_t value;
};

constexpr std::array k_versions = {name_value{"1", API_SNMP_V1}, name_value{"2c", API_SNMP_V2C},
                                   name_value{"3", API_SNMP_V3}};
constexpr std::array k_auth_algs = {
    name_value{"none", API_SNMP_AUTH_NONE},     name_value{"MD5", API_SNMP_AUTH_MD5},
    name_value{"SHA1", API_SNMP_AUTH_SHA1},     name_value{"SHA256", API_SNMP_AUTH_SHA256},
    name_value{"SHA256FULL", API_SNMP_AUTH_SHA256FULL}};
constexpr std::array k_priv_algs = {
    name_value{"none", API_SNMP_PRIV_NONE},     name_value{"DES", API_SNMP_PRIV_DES},
    name_value{"AES", API_SNMP_PRIV_AES128},    name_value{"AES128", API_SNMP_PRIV_AES128},
    name_value{"3DES", API_SNMP_PRIV_3DES},     name_value{"AES192", API_SNMP_PRIV_AES192},
    name_value{"AES256", API_SNMP_PRIV_AES256}};
/* The standard scheme, with the names of the standard tools. */
constexpr std::array k_std_auth_algs = {
    name_value{"none", API_SNMP_AUTH_NONE},         name_value{"MD5", API_SNMP_AUTH_STD_MD5},
    name_value{"SHA", API_SNMP_AUTH_STD_SHA1},      name_value{"SHA-224", API_SNMP_AUTH_STD_SHA224},
    name_value{"SHA-256", API_SNMP_AUTH_STD_SHA256}, name_value{"SHA-384", API_SNMP_AUTH_STD_SHA384},
    name_value{"SHA-512", API_SNMP_AUTH_STD_SHA512}};
constexpr std::array k_std_priv_algs = {
    name_value{"none", API_SNMP_PRIV_NONE},            name_value{"DES", API_SNMP_PRIV_STD_DES},
    name_value{"AES", API_SNMP_PRIV_STD_AES128},       name_value{"AES-192", API_SNMP_PRIV_STD_AES192},
    name_value{"AES-256", API_SNMP_PRIV_STD_AES256},   name_value{"AES-192-C", API_SNMP_PRIV_STD_AES192C},
    name_value{"AES-256-C", API_SNMP_PRIV_STD_AES256C}};

struct scheme_name {
    std::string_view name;
    cli_scheme scheme;
};
constexpr std::array k_schemes = {scheme_name{"vek", cli_scheme::vek}, scheme_name{"std", cli_scheme::std}};

struct level_name {
    std::string_view name;
    cli_level level;
};
constexpr std::array k_levels = {level_name{"noAuthNoPriv", cli_level::no_auth_no_priv},
                                 level_name{"authNoPriv", cli_level::auth_no_priv},
                                 level_name{"authPriv", cli_level::auth_priv}};

/* Options that take the next word as their value. */
constexpr std::array<std::string_view, 12> k_valued_options = {"-v", "-c", "-t", "-lvl", "-dp", "-u",
                                                               "-a", "-A", "-x", "-X",   "-s",  "-l"};
/* The options that describe an SNMPv3 user. */
constexpr std::array<std::string_view, 7> k_user_options = {"-u", "-a", "-A", "-x", "-X", "-s", "-l"};
constexpr std::string_view k_listen_port_option = "-p";

template <size_t N> std::optional<uint32_t> lookup(const std::array<name_value, N> &table, std::string_view name) {
    const auto *it = std::find_if(table.begin(), table.end(), [&](const name_value &e) { return e.name == name; });
    return it == table.end() ? std::nullopt : std::optional<uint32_t>(it->value);
}

/* Decimal digits only (at least one); values beyond 64 bits saturate. */
std::optional<uint64_t> parse_digits(std::string_view text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    uint64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    return ec == std::errc() ? value : std::numeric_limits<uint64_t>::max();
}

/* Copies text into a fixed field, cut to the field size minus one. */
template <size_t N> void copy_cut(std::array<char, N> &field, std::string_view text) {
    const size_t len = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), len, field.begin());
    field[len] = '\0';
}

template <size_t N> bool field_empty(const std::array<char, N> &field) { return field[0] == '\0'; }

option_result parse_non_repeaters(std::string_view word, cli_request &request) {
    const auto value = parse_digits(word.substr(k_non_repeaters_option.size()));
    if (!value) {
        std::puts("错误：-Cn后需指定数字（如-Cn0）");
        return option_result::refused;
    }
    if (*value > k_cli_max_non_repeaters) {
        std::printf("错误：非重复次数不能超过 %d\n", static_cast<int>(k_cli_max_non_repeaters));
        return option_result::refused;
    }
    request.non_repeaters = static_cast<uint8_t>(*value);
    return option_result::ok;
}

option_result parse_max_repetitions(std::string_view word, cli_request &request) {
    const auto value = parse_digits(word.substr(k_max_repetitions_option.size()));
    if (!value) {
        std::puts("错误：-Cr后需指定数字（如-Cr5）");
        return option_result::refused;
    }
    if (*value == 0) {
        std::puts("错误：最大重复次数必须 > 0");
        return option_result::refused;
    }
    // A request carries max-repetitions in one byte: larger wishes get the largest it can carry.
    request.max_repetitions = static_cast<uint8_t>(std::min<uint64_t>(*value, k_max_repetitions_limit));
    return option_result::ok;
}

option_result parse_timeout(const char *value, cli_request &request) {
    const auto ms = parse_digits(value);
    if (!ms || *ms == 0 || *ms > k_cli_max_timeout_ms) {
        std::printf("错误：无效的超时时间 '%s'（范围1-30000毫秒）\n", value);
        return option_result::refused;
    }
    request.timeout_ms = static_cast<uint32_t>(*ms);
    return option_result::ok;
}

option_result parse_log_level(const char *value) {
    const auto level = parse_digits(value);
    if (!level || *level > k_max_cli_log_level) {
        std::puts("错误：-lvl 仅支持 0(DEBUG)/1(INFO)/2(WARN)/3(ERROR)");
        return option_result::refused;
    }
    g_snmp_log_lvl.store(static_cast<uint32_t>(*level));
    std::printf("[LOG] 已设置SNMP底层日志等级=%d\n", static_cast<int>(*level));
    return option_result::ok;
}

option_result parse_device_port(const char *value) {
    const auto port = cli_parse_port(value);
    if (!port) {
        std::printf("错误：-dp 设备端口非法 %s\n", value);
        return option_result::refused;
    }
    g_dev_snmp_port.store(*port);
    return option_result::ok;
}

option_result parse_scheme(const char *value, cli_request &request) {
    const auto *it = std::find_if(k_schemes.begin(), k_schemes.end(), [&](const scheme_name &e) { return e.name == value; });
    if (it == k_schemes.end()) {
        std::printf("错误：不支持的V3安全方案 '%s'（支持：vek/std）\n", value);
        return option_result::refused;
    }
    request.scheme = it->scheme;
    return option_result::ok;
}

option_result parse_level(const char *value, cli_request &request) {
    const auto *it = std::find_if(k_levels.begin(), k_levels.end(), [&](const level_name &e) { return e.name == value; });
    if (it == k_levels.end()) {
        std::printf("错误：不支持的安全级别 '%s'（支持：noAuthNoPriv/authNoPriv/authPriv）\n", value);
        return option_result::refused;
    }
    request.level = it->level;
    return option_result::ok;
}

option_result parse_valued_option(std::string_view name, const char *value, cli_request &request) {
    if (name == "-v") {
        const auto version = lookup(k_versions, value);
        if (!version) {
            std::printf("错误：不支持的SNMP版本 '%s'\n", value);
            return option_result::refused;
        }
        request.version = *version;
    } else if (name == "-c") {
        copy_cut(request.community, value);
    } else if (name == "-t") {
        return parse_timeout(value, request);
    } else if (name == "-lvl") {
        return parse_log_level(value);
    } else if (name == "-dp") {
        return parse_device_port(value);
    } else if (name == "-u") {
        copy_cut(request.user, value);
    } else if (name == "-a") {
        request.auth_name = value;  // resolved once the scheme (-s) is known
    } else if (name == "-A") {
        copy_cut(request.auth_password, value);
    } else if (name == "-x") {
        request.priv_name = value;
    } else if (name == "-X") {
        copy_cut(request.priv_password, value);
    } else if (name == "-s") {
        return parse_scheme(value, request);
    } else { // "-l"
        return parse_level(value, request);
    }
    return option_result::ok;
}

/* The algorithms named by -a and -x in the scheme of -s. */
option_result resolve_algorithms(cli_request &request) {
    const bool std_scheme = request.scheme == cli_scheme::std;
    if (request.auth_name != nullptr) {
        const auto alg = std_scheme ? lookup(k_std_auth_algs, request.auth_name) : lookup(k_auth_algs, request.auth_name);
        if (!alg) {
            std::printf(std_scheme ? "错误：不支持的认证算法 '%s'（标准方案支持：MD5/SHA/SHA-224/SHA-256/SHA-384/SHA-512）\n"
                                   : "错误：不支持的认证算法 '%s'（支持：none/MD5/SHA1/SHA256/SHA256FULL）\n",
                        request.auth_name);
            return option_result::refused;
        }
        request.auth_alg = *alg;
    }
    if (request.priv_name != nullptr) {
        const auto alg = std_scheme ? lookup(k_std_priv_algs, request.priv_name) : lookup(k_priv_algs, request.priv_name);
        if (!alg) {
            std::printf(std_scheme
                            ? "错误：不支持的加密算法 '%s'（标准方案支持：DES/AES/AES-192/AES-256/AES-192-C/AES-256-C）\n"
                            : "错误：不支持的加密算法 '%s'（支持：none/AES128/AES192/AES256/3DES/DES）\n",
                        request.priv_name);
            return option_result::refused;
        }
        request.priv_alg = *alg;
    }
    return option_result::ok;
}

/* -l: the algorithms the level leaves out are not used; those it needs must be given. */
option_result apply_level(cli_request &request) {
    switch (request.level) {
        case cli_level::no_auth_no_priv:
            request.auth_alg = API_SNMP_AUTH_NONE;
            request.priv_alg = API_SNMP_PRIV_NONE;
            return option_result::ok;
        case cli_level::auth_no_priv:
            request.priv_alg = API_SNMP_PRIV_NONE;
            break;
        case cli_level::auth_priv:
            if (request.priv_alg == API_SNMP_PRIV_NONE) {
                std::puts("错误：安全级别authPriv需要加密算法（-x）");
                return option_result::refused;
            }
            break;
        case cli_level::unset:
            return option_result::ok;
    }
    if (request.auth_alg == API_SNMP_AUTH_NONE) {
        std::puts("错误：安全级别authNoPriv/authPriv需要认证算法（-a）");
        return option_result::refused;
    }
    return option_result::ok;
}

/* Target word "IP" or "IP:port". */
option_result parse_target(std::string_view word, cli_request &request) {
    const size_t colon = word.find(':');
    copy_cut(request.ip, word.substr(0, colon));
    if (colon == std::string_view::npos) {
        return option_result::ok;
    }
    const std::string_view port_text = word.substr(colon + 1);
    const auto port = cli_parse_port(port_text);
    if (!port) {
        std::printf("错误：无效的端口号 '%.*s'\n", static_cast<int>(port_text.size()), port_text.data());
        return option_result::refused;
    }
    request.port = *port;
    return option_result::ok;
}

/* The checks that follow the target, before any variable binding is built. */
option_result check_request(const cli_request &request) {
    const bool walks = request.command == cli_command::getnext || request.command == cli_command::bulkwalk;
    if (request.version == API_SNMP_V1 && walks) {
        std::puts("错误：v1版本不支持getnext/bulkwalk命令");
        return option_result::refused;
    }
    if (request.version != API_SNMP_V3) {
        return option_result::ok;
    }
    if (field_empty(request.user)) {
        std::puts("错误：V3版本必须指定用户名（-u）");
        return option_result::refused;
    }
    if (request.auth_alg != API_SNMP_AUTH_NONE && field_empty(request.auth_password)) {
        std::puts("错误：指定认证算法（非none）时必须提供认证密码（-A）");
        return option_result::refused;
    }
    if (request.priv_alg != API_SNMP_PRIV_NONE && field_empty(request.priv_password)) {
        std::puts("错误：指定加密算法（非none）时必须提供加密密码（-X）");
        return option_result::refused;
    }
    if (request.auth_alg == API_SNMP_AUTH_NONE && !field_empty(request.auth_password)) {
        std::puts("警告：认证算法为none时，认证密码（-A）将被忽略");
    }
    if (request.priv_alg == API_SNMP_PRIV_NONE && !field_empty(request.priv_password)) {
        std::puts("警告：加密算法为none时，加密密码（-X）将被忽略");
    }
    return option_result::ok;
}

/* Builds up to 10 variable bindings from the words after the target. */
uint32_t build_varbinds(std::span<const char *const> words, cli_request &request) {
    const bool is_set = request.command == cli_command::set;
    size_t i = 0;
    while (i < words.size() && request.count < API_SNMP_MAX_REQUEST_VARBINDS) {
        api_snmp_varbind &vb = request.varbinds[request.count];
        const char *oid = words[i];
        if (!is_set) {
            const api_snmp_err rc = api_snmp_create_get_varbind(oid, &vb);
            if (rc != API_SNMP_OK) {
                std::printf("错误：解析OID失败（%s）\n", oid);
                std::printf("原因：%s\n", api_snmp_error_to_str(rc));
                return rc;
            }
            ++i;
        } else {
            if (words.size() - i < 3) {
                std::puts("错误：set命令需为每个OID指定<类型>和<值>");
                return API_SNMP_ERR_NO_DATA;
            }
            const char *type = words[i + 1];
            const char *value = words[i + 2];
            const api_snmp_err rc = api_snmp_create_set_varbind(oid, type, value, &vb);
            if (rc != API_SNMP_OK) {
                std::printf("错误：解析OID或值失败（OID：%s，类型：%s，值：%s）\n", oid, type, value);
                std::printf("原因：%s\n", api_snmp_error_to_str(rc));
                return rc;
            }
            i += 3;
        }
        ++request.count;
    }
    return API_SNMP_OK;
}

} // namespace

std::optional<cli_command> cli_command_from_word(std::string_view word) {
    if (word == "get") {
        return cli_command::get;
    }
    if (word == "set") {
        return cli_command::set;
    }
    if (word == "getnext") {
        return cli_command::getnext;
    }
    if (word == "bulkwalk") {
        return cli_command::bulkwalk;
    }
    if (word == "walk") {
        return cli_command::walk;
    }
    if (word == "traplisten") {
        return cli_command::traplisten;
    }
    return std::nullopt;
}

std::optional<uint16_t> cli_parse_port(std::string_view text) {
    const auto value = parse_digits(text);
    if (!value || *value == 0 || *value > k_max_port) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(*value);
}

uint32_t cli_parse_request(std::span<const char *const> words, cli_request &request) {
    size_t i = 0;
    bool have_target = false;
    while (i < words.size()) {
        const std::string_view word = words[i];
        option_result result = option_result::ok;
        if (word.starts_with(k_non_repeaters_option)) {
            result = parse_non_repeaters(word, request);
            ++i;
        } else if (word.starts_with(k_max_repetitions_option)) {
            result = parse_max_repetitions(word, request);
            ++i;
        } else if (i + 1 < words.size() &&
                   std::find(k_valued_options.begin(), k_valued_options.end(), word) != k_valued_options.end()) {
            result = parse_valued_option(word, words[i + 1], request);
            i += 2;
        } else {
            result = parse_target(word, request);
            have_target = true;
            ++i;
        }
        if (result == option_result::refused) {
            return API_SNMP_ERR_NO_DATA;
        }
        if (have_target) {
            break;
        }
    }
    if (resolve_algorithms(request) == option_result::refused || apply_level(request) == option_result::refused ||
        check_request(request) == option_result::refused) {
        return API_SNMP_ERR_NO_DATA;
    }
    if (!have_target || i >= words.size()) {
        std::puts("错误：必须指定至少一个OID");
        return API_SNMP_ERR_NO_DATA;
    }
    if (request.command == cli_command::walk && words.size() - i > 1) {
        std::puts("错误：walk命令只能指定一个OID");
        return API_SNMP_ERR_NO_DATA;
    }
    const uint32_t rc = build_varbinds(words.subspan(i), request);
    if (rc != API_SNMP_OK) {
        return rc;
    }
    if (field_empty(request.ip)) {
        std::puts("错误：必须指定目标IP地址");
        return API_SNMP_ERR_NO_DATA;
    }
    return API_SNMP_OK;
}

bool cli_listener_has_user(std::span<const char *const> words) {
    return std::any_of(words.begin(), words.end(), [](const char *word) {
        return std::find(k_user_options.begin(), k_user_options.end(), std::string_view(word)) != k_user_options.end();
    });
}

uint32_t cli_parse_listener(std::span<const char *const> words, cli_request &request, uint16_t &listen_port) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        const bool valued = word == k_listen_port_option ||
                            std::find(k_valued_options.begin(), k_valued_options.end(), word) != k_valued_options.end();
        option_result result = option_result::ok;
        if (valued && i + 1 >= words.size()) {
            std::printf("错误：%s参数后必须指定值\n", words[i]);
            result = option_result::refused;
        } else if (word == k_listen_port_option) {
            const auto port = cli_parse_port(words[++i]);
            if (!port) {
                std::printf("错误：无效的TRAP监听端口 '%s'\n", words[i]);
                result = option_result::refused;
            } else {
                listen_port = *port;
            }
        } else if (valued) {
            result = parse_valued_option(word, words[i + 1], request);
            ++i;
        } else if (request.has_target) {
            std::printf("错误：多余的参数 '%s'（发送方地址只能指定一个）\n", words[i]);
            result = option_result::refused;
        } else {
            result = parse_target(word, request);
            request.has_target = true;
        }
        if (result == option_result::refused) {
            return API_SNMP_ERR_NO_DATA;
        }
    }
    request.version = API_SNMP_V3;
    if (resolve_algorithms(request) == option_result::refused || apply_level(request) == option_result::refused ||
        check_request(request) == option_result::refused) {
        return API_SNMP_ERR_NO_DATA;
    }
    if (!request.has_target || field_empty(request.ip)) {
        std::puts("错误：接收SNMPv3通知需指定发送方IP地址（如 traplisten -u 用户 ... 192.168.1.1）");
        return API_SNMP_ERR_NO_DATA;
    }
    return API_SNMP_OK;
}
