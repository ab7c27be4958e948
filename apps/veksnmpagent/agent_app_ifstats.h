/* The host's network interfaces as IF-MIB describes them, read from the operating system. This is
 * the one place that knows where the system keeps them (agent_app_ifstats_linux.cpp reads
 * /proc/net/dev and /sys/class/net, agent_app_ifstats_win32.cpp the system's interface table); a
 * port to another system adds such a unit only. */
#ifndef VEK_APPS_VEKSNMPAGENT_IFSTATS_H
#define VEK_APPS_VEKSNMPAGENT_IFSTATS_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/* IANAifType values used for the host's interfaces. */
inline constexpr uint32_t k_if_type_other = 1;
inline constexpr uint32_t k_if_type_ethernet = 6;
inline constexpr uint32_t k_if_type_ppp = 23;
inline constexpr uint32_t k_if_type_loopback = 24;
inline constexpr uint32_t k_if_type_ieee80211 = 71;
inline constexpr uint32_t k_if_type_tunnel = 131;
inline constexpr uint32_t k_if_type_infiniband = 199;

/* ifAdminStatus and ifOperStatus values. */
inline constexpr uint32_t k_if_status_up = 1;
inline constexpr uint32_t k_if_status_down = 2;
inline constexpr uint32_t k_if_status_testing = 3;
inline constexpr uint32_t k_if_status_unknown = 4;
inline constexpr uint32_t k_if_status_dormant = 5;
inline constexpr uint32_t k_if_status_not_present = 6;
inline constexpr uint32_t k_if_status_lower_layer_down = 7;

inline constexpr size_t k_if_phys_address_max = 32; /* bytes of a hardware address */

/* One interface with the counters the system keeps for it since it came up. */
struct host_interface {
    uint32_t index = 0;        /* the system's interface index (ifIndex) */
    std::string name;          /* ifDescr and ifName */
    uint32_t type = k_if_type_other;
    uint32_t mtu = 0;
    uint64_t speed_mbps = 0;   /* 0: unknown */
    std::array<uint8_t, k_if_phys_address_max> phys_address{};
    uint8_t phys_address_len = 0; /* 0: none (or all zero) */
    uint32_t admin_status = k_if_status_down;
    uint32_t oper_status = k_if_status_unknown;
    uint64_t in_octets = 0;
    uint64_t in_packets = 0;
    uint64_t in_multicast = 0;
    uint64_t in_discards = 0;
    uint64_t in_errors = 0;
    uint64_t out_octets = 0;
    uint64_t out_packets = 0;
    uint64_t out_discards = 0;
    uint64_t out_errors = 0;
};

/* Every interface the system lists, in ascending index order (empty when nothing can be read). */
std::vector<host_interface> agent_app_read_interfaces();

#endif
