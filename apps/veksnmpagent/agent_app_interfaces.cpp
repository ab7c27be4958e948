/* IF-MIB tables of veksnmpagent. */
#include "apps/veksnmpagent/agent_app_interfaces.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>

/* One column of ifTable or ifXTable: its value is a number or, for text, bytes. */
struct if_column {
    uint32_t column;
    uint8_t type;
    uint64_t (*number)(const host_interface &itf);
    std::string_view (*bytes)(const host_interface &itf);
};

namespace {

constexpr auto k_reread_after = std::chrono::seconds(1);
constexpr uint32_t k_if_table_columns = 22;
constexpr uint32_t k_if_x_table_columns = 19;
constexpr uint64_t k_read_only_columns = 0;
constexpr uint64_t k_bits_per_mbit = 1000000;
constexpr uint64_t k_gauge_max = std::numeric_limits<uint32_t>::max();
constexpr std::string_view k_no_specific = "0.0"; /* ifSpecific: no further definition */
constexpr uint16_t k_u32_len = sizeof(uint32_t);
constexpr uint16_t k_u64_len = sizeof(uint64_t);

uint64_t zero(const host_interface & /*itf*/) { return 0; }

std::string_view name_of(const host_interface &itf) { return itf.name; }

std::string_view phys_address_of(const host_interface &itf) {
    return {reinterpret_cast<const char *>(itf.phys_address.data()), itf.phys_address_len};
}

std::string_view no_specific(const host_interface & /*itf*/) { return k_no_specific; }

uint64_t speed_bps(const host_interface &itf) { return std::min(itf.speed_mbps * k_bits_per_mbit, k_gauge_max); }

uint64_t unicast_in(const host_interface &itf) {
    return itf.in_packets >= itf.in_multicast ? itf.in_packets - itf.in_multicast : 0;
}

constexpr uint8_t k_integer = AGENT_SNMP_TYPE_INTEGER;
constexpr uint8_t k_counter = AGENT_SNMP_TYPE_COUNTER32;
constexpr uint8_t k_gauge = AGENT_SNMP_TYPE_GAUGE32;
constexpr uint8_t k_counter64 = AGENT_SNMP_TYPE_COUNTER64;

/* ifTable (RFC 2863 ifEntry), every column; none is writable here. */
constexpr std::array k_if_table = {
    if_column{1, k_integer, [](const host_interface &i) -> uint64_t { return i.index; }, nullptr},
    if_column{2, AGENT_SNMP_TYPE_OCTET_STRING, nullptr, name_of},
    if_column{3, k_integer, [](const host_interface &i) -> uint64_t { return i.type; }, nullptr},
    if_column{4, k_integer, [](const host_interface &i) -> uint64_t { return i.mtu; }, nullptr},
    if_column{5, k_gauge, speed_bps, nullptr},
    if_column{6, AGENT_SNMP_TYPE_OCTET_STRING, nullptr, phys_address_of},
    if_column{7, k_integer, [](const host_interface &i) -> uint64_t { return i.admin_status; }, nullptr},
    if_column{8, k_integer, [](const host_interface &i) -> uint64_t { return i.oper_status; }, nullptr},
    if_column{9, AGENT_SNMP_TYPE_TIMETICKS, zero, nullptr},
    if_column{10, k_counter, [](const host_interface &i) { return i.in_octets; }, nullptr},
    if_column{11, k_counter, unicast_in, nullptr},
    if_column{12, k_counter, [](const host_interface &i) { return i.in_multicast; }, nullptr},
    if_column{13, k_counter, [](const host_interface &i) { return i.in_discards; }, nullptr},
    if_column{14, k_counter, [](const host_interface &i) { return i.in_errors; }, nullptr},
    if_column{15, k_counter, zero, nullptr},
    if_column{16, k_counter, [](const host_interface &i) { return i.out_octets; }, nullptr},
    if_column{17, k_counter, [](const host_interface &i) { return i.out_packets; }, nullptr},
    if_column{18, k_counter, zero, nullptr},
    if_column{19, k_counter, [](const host_interface &i) { return i.out_discards; }, nullptr},
    if_column{20, k_counter, [](const host_interface &i) { return i.out_errors; }, nullptr},
    if_column{21, k_gauge, zero, nullptr},
    if_column{22, AGENT_SNMP_TYPE_OID, nullptr, no_specific},
};

/* The ifXTable columns the system's counters give. */
constexpr std::array k_if_x_table = {
    if_column{1, AGENT_SNMP_TYPE_OCTET_STRING, nullptr, name_of},
    if_column{2, k_counter, [](const host_interface &i) { return i.in_multicast; }, nullptr},
    if_column{6, k_counter64, [](const host_interface &i) { return i.in_octets; }, nullptr},
    if_column{7, k_counter64, unicast_in, nullptr},
    if_column{8, k_counter64, [](const host_interface &i) { return i.in_multicast; }, nullptr},
    if_column{10, k_counter64, [](const host_interface &i) { return i.out_octets; }, nullptr},
    if_column{11, k_counter64, [](const host_interface &i) { return i.out_packets; }, nullptr},
    if_column{15, k_gauge, [](const host_interface &i) { return std::min(i.speed_mbps, k_gauge_max); }, nullptr},
};

void fill(agent_snmp_vb &vb, const if_column &column, const host_interface &itf) {
    vb.type = column.type;
    std::memset(&vb.value, 0, sizeof vb.value);
    if (column.bytes != nullptr) {
        const std::string_view bytes = column.bytes(itf);
        vb.len = static_cast<uint16_t>(std::min<size_t>(bytes.size(), AGENT_SNMP_VALUE_SIZE));
        std::memcpy(vb.value.bytes, bytes.data(), vb.len);
    } else if (column.type == k_counter64) {
        vb.value.u64 = column.number(itf);
        vb.len = k_u64_len;
    } else {
        vb.value.u32 = static_cast<uint32_t>(column.number(itf)); /* Counter32 keeps the low 32 bits */
        vb.len = k_u32_len;
    }
}

/* The interface with this index (GET), or the first at or after it (NEXT). */
const host_interface *find_row(const std::vector<host_interface> &rows, uint32_t index, bool at_or_after) {
    const auto it = std::lower_bound(rows.begin(), rows.end(), index,
                                     [](const host_interface &itf, uint32_t value) { return itf.index < value; });
    if (it == rows.end() || (!at_or_after && it->index != index)) {
        return nullptr;
    }
    return &*it;
}

} // namespace

int32_t host_interfaces_mib::install() {
    if_table_ = table_binding{this, k_if_table};
    if_x_table_ = table_binding{this, k_if_x_table};
    int32_t rc = agent_snmp_mib_register(k_if_number_oid, 0, &if_number_read, nullptr, 0, this);
    if (rc == AGENT_SNMP_OK) {
        rc = agent_snmp_table_register(k_if_entry_oid, AGENT_SNMP_INDEX_INTEGER, k_if_table_columns,
                                       k_read_only_columns, &row, &if_table_);
    }
    if (rc == AGENT_SNMP_OK) {
        rc = agent_snmp_table_register(k_if_x_entry_oid, AGENT_SNMP_INDEX_INTEGER, k_if_x_table_columns,
                                       k_read_only_columns, &row, &if_x_table_);
    }
    return rc;
}

const std::vector<host_interface> &host_interfaces_mib::current() {
    const auto now = std::chrono::steady_clock::now();
    if (!read_once_ || now - read_at_ >= k_reread_after) {
        interfaces_ = agent_app_read_interfaces();
        read_at_ = now;
        read_once_ = true;
    }
    return interfaces_;
}

int32_t host_interfaces_mib::if_number_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx) {
    agent_snmp_vb *vb = out != nullptr ? out : in;
    if (vb == nullptr || ctx == nullptr) {
        return AGENT_SNMP_CB_NO_SUCH;
    }
    vb->type = AGENT_SNMP_TYPE_INTEGER;
    vb->value.u32 = static_cast<uint32_t>(static_cast<host_interfaces_mib *>(ctx)->current().size());
    vb->len = k_u32_len;
    return AGENT_SNMP_CB_OK;
}

int32_t host_interfaces_mib::row(uint32_t op, uint32_t *index, uint32_t column, agent_snmp_vb *vb, void *ctx) {
    const auto *table = static_cast<const table_binding *>(ctx);
    if (op != AGENT_SNMP_ROW_GET && op != AGENT_SNMP_ROW_NEXT) {
        return AGENT_SNMP_CB_NOT_WRITABLE;
    }
    const auto found = std::find_if(table->columns.begin(), table->columns.end(),
                                    [column](const if_column &c) { return c.column == column; });
    if (found == table->columns.end()) {
        return AGENT_SNMP_CB_NO_SUCH;
    }
    const host_interface *itf = find_row(table->owner->current(), *index, op == AGENT_SNMP_ROW_NEXT);
    if (itf == nullptr) {
        return AGENT_SNMP_CB_NO_SUCH;
    }
    *index = itf->index;
    fill(*vb, *found, *itf);
    return AGENT_SNMP_CB_OK;
}
