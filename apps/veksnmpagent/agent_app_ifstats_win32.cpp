/* The host's interfaces on Windows: the system's interface table (GetIfTable2), whose types and
 * states are IF-MIB's own values already. Filter drivers that the system lists as interfaces of
 * their own are left out. */
#include <winsock2.h>
#include <ws2tcpip.h>  // before iphlpapi.h, which then declares the version 2 tables
#include <iphlpapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "apps/veksnmpagent/agent_app_ifstats.h"

namespace {

constexpr uint64_t k_bits_per_mbit = 1000000;
constexpr uint64_t k_unknown_speed = ~uint64_t{0};

struct table_deleter {
    void operator()(MIB_IF_TABLE2 *table) const { FreeMibTable(table); }
};

/* UTF-8 text of a zero-terminated wide string. */
std::string utf8_text(const wchar_t *wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size) - 1);  // without the terminating zero
    return text;
}

uint32_t known_status(uint32_t status, uint32_t highest, uint32_t otherwise) {
    return status >= k_if_status_up && status <= highest ? status : otherwise;
}

host_interface from_row(const MIB_IF_ROW2 &row) {
    host_interface itf;
    itf.index = row.InterfaceIndex;
    itf.name = utf8_text(row.Alias);
    if (itf.name.empty()) {
        itf.name = utf8_text(row.Description);
    }
    itf.type = row.Type != 0 ? row.Type : k_if_type_other;
    itf.mtu = row.Mtu;
    itf.speed_mbps = row.TransmitLinkSpeed == k_unknown_speed ? 0 : row.TransmitLinkSpeed / k_bits_per_mbit;
    const size_t address_len = std::min<size_t>(row.PhysicalAddressLength, itf.phys_address.size());
    std::copy_n(row.PhysicalAddress, address_len, itf.phys_address.begin());
    const bool all_zero = std::all_of(row.PhysicalAddress, row.PhysicalAddress + address_len, [](UCHAR b) { return b == 0; });
    itf.phys_address_len = all_zero ? 0 : static_cast<uint8_t>(address_len);
    itf.admin_status = known_status(static_cast<uint32_t>(row.AdminStatus), k_if_status_testing, k_if_status_down);
    itf.oper_status =
        known_status(static_cast<uint32_t>(row.OperStatus), k_if_status_lower_layer_down, k_if_status_unknown);
    itf.in_octets = row.InOctets;
    itf.in_packets = row.InUcastPkts + row.InNUcastPkts;
    itf.in_multicast = row.InNUcastPkts;
    itf.in_discards = row.InDiscards;
    itf.in_errors = row.InErrors;
    itf.out_octets = row.OutOctets;
    itf.out_packets = row.OutUcastPkts + row.OutNUcastPkts;
    itf.out_discards = row.OutDiscards;
    itf.out_errors = row.OutErrors;
    return itf;
}

} // namespace

std::vector<host_interface> agent_app_read_interfaces() {
    std::vector<host_interface> found;
    MIB_IF_TABLE2 *raw = nullptr;
    if (GetIfTable2(&raw) != NO_ERROR || raw == nullptr) {
        return found;
    }
    const std::unique_ptr<MIB_IF_TABLE2, table_deleter> table(raw);
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2 &row = table->Table[i];
        if (row.InterfaceAndOperStatusFlags.FilterInterface || row.InterfaceIndex == 0) {
            continue;
        }
        found.push_back(from_row(row));
    }
    std::sort(found.begin(), found.end(),
              [](const host_interface &a, const host_interface &b) { return a.index < b.index; });
    return found;
}
