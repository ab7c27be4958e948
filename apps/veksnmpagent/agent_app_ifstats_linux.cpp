/* The host's interfaces on Linux: names and counters from /proc/net/dev, the rest from
 * /sys/class/net/<name>/. */
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "apps/veksnmpagent/agent_app_ifstats.h"

namespace {

constexpr const char *k_proc_net_dev = "/proc/net/dev";
constexpr std::string_view k_sys_class_net = "/sys/class/net/";
constexpr size_t k_header_lines = 2;  /* the two title lines of /proc/net/dev */
constexpr size_t k_line_size = 512;
constexpr size_t k_counter_fields = 16; /* 8 receive and 8 transmit counters per line */

/* Positions of the counters used, in the order /proc/net/dev gives them. */
constexpr size_t k_rx_bytes = 0;
constexpr size_t k_rx_packets = 1;
constexpr size_t k_rx_errors = 2;
constexpr size_t k_rx_drops = 3;
constexpr size_t k_rx_multicast = 7;
constexpr size_t k_tx_bytes = 8;
constexpr size_t k_tx_packets = 9;
constexpr size_t k_tx_errors = 10;
constexpr size_t k_tx_drops = 11;

constexpr uint32_t k_iff_up = 0x1; /* IFF_UP in /sys/class/net/<name>/flags */
constexpr unsigned k_hex_base = 16;

/* ARPHRD_* hardware types of /sys/class/net/<name>/type and the IANAifType of each. */
struct hardware_type {
    uint32_t arphrd;
    uint32_t if_type;
};
constexpr std::array k_hardware_types = {
    hardware_type{1, k_if_type_ethernet},    hardware_type{32, k_if_type_infiniband},
    hardware_type{512, k_if_type_ppp},       hardware_type{768, k_if_type_tunnel},
    hardware_type{769, k_if_type_tunnel},    hardware_type{772, k_if_type_loopback},
    hardware_type{776, k_if_type_tunnel},    hardware_type{778, k_if_type_tunnel},
};

/* /sys/class/net/<name>/operstate words (RFC 2863 names) and their ifOperStatus values. */
struct oper_word {
    std::string_view word;
    uint32_t status;
};
constexpr std::array k_oper_words = {
    oper_word{"up", k_if_status_up},
    oper_word{"down", k_if_status_down},
    oper_word{"testing", k_if_status_testing},
    oper_word{"dormant", k_if_status_dormant},
    oper_word{"notpresent", k_if_status_not_present},
    oper_word{"lowerlayerdown", k_if_status_lower_layer_down},
};

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

file_ptr open_file(const std::string &path) { return {std::fopen(path.c_str(), "re"), &std::fclose}; }

std::string_view trim(std::string_view text) {
    const size_t start = text.find_first_not_of(" \t\n");
    if (start == std::string_view::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(" \t\n") - start + 1);
}

/* The first line of a small /sys file, trimmed; nothing when it cannot be read. */
std::optional<std::string> sys_value(const std::string &name, std::string_view attribute) {
    file_ptr file = open_file(std::string(k_sys_class_net) + name + "/" + std::string(attribute));
    std::array<char, k_line_size> line{};
    if (!file || std::fgets(line.data(), static_cast<int>(line.size()), file.get()) == nullptr) {
        return std::nullopt;
    }
    return std::string(trim(line.data()));
}

template <typename T> std::optional<T> parse_number(std::string_view text, unsigned base = 10) {
    T value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template <typename T> T sys_number(const std::string &name, std::string_view attribute, T fallback, unsigned base = 10) {
    const std::optional<std::string> text = sys_value(name, attribute);
    if (!text) {
        return fallback;
    }
    std::string_view digits = *text;
    if (base == k_hex_base && digits.starts_with("0x")) {
        digits.remove_prefix(2);
    }
    return parse_number<T>(digits, base).value_or(fallback);
}

/* "aa:bb:cc:..." into bytes; an address of zeros only (the loopback's) counts as none. */
void read_phys_address(host_interface &itf) {
    const std::optional<std::string> text = sys_value(itf.name, "address");
    if (!text) {
        return;
    }
    std::string_view rest = *text;
    while (!rest.empty() && itf.phys_address_len < itf.phys_address.size()) {
        const size_t colon = rest.find(':');
        const std::optional<uint8_t> byte = parse_number<uint8_t>(rest.substr(0, colon), k_hex_base);
        if (!byte) {
            itf.phys_address_len = 0;
            return;
        }
        itf.phys_address[itf.phys_address_len++] = *byte;
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    }
    const auto used = std::span(itf.phys_address).first(itf.phys_address_len);
    if (std::all_of(used.begin(), used.end(), [](uint8_t b) { return b == 0; })) {
        itf.phys_address_len = 0;
    }
}

uint32_t if_type_of(const host_interface &itf, uint32_t arphrd) {
    const auto *found = std::find_if(k_hardware_types.begin(), k_hardware_types.end(),
                                     [arphrd](const hardware_type &h) { return h.arphrd == arphrd; });
    if (found == k_hardware_types.end()) {
        return k_if_type_other;
    }
    // Wireless cards are Ethernet to the kernel; they have a "wireless" directory of their own.
    std::error_code ec;
    if (found->if_type == k_if_type_ethernet &&
        std::filesystem::exists(std::string(k_sys_class_net) + itf.name + "/wireless", ec)) {
        return k_if_type_ieee80211;
    }
    return found->if_type;
}

/* An administratively up interface whose driver reports no state (the loopback) is up. */
uint32_t oper_status_of(const host_interface &itf) {
    const std::string state = sys_value(itf.name, "operstate").value_or("unknown");
    const auto *found = std::find_if(k_oper_words.begin(), k_oper_words.end(),
                                     [&state](const oper_word &w) { return w.word == state; });
    if (found != k_oper_words.end()) {
        return found->status;
    }
    return itf.admin_status == k_if_status_up ? k_if_status_up : k_if_status_unknown;
}

void read_sys_attributes(host_interface &itf) {
    itf.index = sys_number<uint32_t>(itf.name, "ifindex", 0);
    itf.type = if_type_of(itf, sys_number<uint32_t>(itf.name, "type", 0));
    itf.mtu = sys_number<uint32_t>(itf.name, "mtu", 0);
    // Drivers without a speed answer -1 or refuse the read: unknown.
    itf.speed_mbps = sys_number<uint64_t>(itf.name, "speed", 0);
    const uint32_t flags = sys_number<uint32_t>(itf.name, "flags", 0, k_hex_base);
    itf.admin_status = (flags & k_iff_up) != 0 ? k_if_status_up : k_if_status_down;
    itf.oper_status = oper_status_of(itf);
    read_phys_address(itf);
}

/* Only names the kernel could have given: no path separators, nothing that climbs directories. */
bool plain_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

/* One line of /proc/net/dev: "<name>: <16 counters>". */
std::optional<host_interface> parse_dev_line(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    host_interface itf;
    itf.name = trim(line.substr(0, colon));
    if (!plain_name(itf.name)) {
        return std::nullopt;
    }
    std::array<uint64_t, k_counter_fields> counters{};
    std::string_view rest = line.substr(colon + 1);
    for (uint64_t &counter : counters) {
        rest = rest.substr(std::min(rest.size(), rest.find_first_not_of(' ')));
        const size_t end = std::min(rest.size(), rest.find_first_of(" \n"));
        const std::optional<uint64_t> value = parse_number<uint64_t>(rest.substr(0, end));
        if (!value) {
            return std::nullopt;
        }
        counter = *value;
        rest = rest.substr(end);
    }
    itf.in_octets = counters[k_rx_bytes];
    itf.in_packets = counters[k_rx_packets];
    itf.in_errors = counters[k_rx_errors];
    itf.in_discards = counters[k_rx_drops];
    itf.in_multicast = counters[k_rx_multicast];
    itf.out_octets = counters[k_tx_bytes];
    itf.out_packets = counters[k_tx_packets];
    itf.out_errors = counters[k_tx_errors];
    itf.out_discards = counters[k_tx_drops];
    return itf;
}

} // namespace

std::vector<host_interface> agent_app_read_interfaces() {
    std::vector<host_interface> found;
    file_ptr dev = open_file(k_proc_net_dev);
    if (!dev) {
        return found;
    }
    std::array<char, k_line_size> line{};
    for (size_t number = 0; std::fgets(line.data(), static_cast<int>(line.size()), dev.get()) != nullptr; ++number) {
        if (number < k_header_lines) {
            continue;
        }
        std::optional<host_interface> itf = parse_dev_line(line.data());
        if (!itf) {
            continue;
        }
        read_sys_attributes(*itf);
        if (itf->index != 0) {
            found.push_back(std::move(*itf));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const host_interface &a, const host_interface &b) { return a.index < b.index; });
    return found;
}
