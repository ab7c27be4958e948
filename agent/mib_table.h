/* Tables of the common shape <entry>.<column>.<index>, indexed by one integer or by an IPv4 address
 * (four sub-identifiers, kept as one 32-bit number a<<24|b<<16|c<<8|d so that numbers and OIDs sort
 * alike): which cell an OID names and where a walk goes on from any OID. */
#ifndef VEK_AGENT_MIB_TABLE_H
#define VEK_AGENT_MIB_TABLE_H

#include <cstdint>
#include <optional>

#include "codec/snmp_types.h"

enum class mib_table_index : uint8_t { integer = 0, ipv4 = 1 };

struct mib_table_shape {
    snmp_oid entry;
    mib_table_index kind = mib_table_index::integer;
    uint32_t columns = 0;
};

struct mib_table_cell {
    uint32_t column = 0;
    uint32_t index = 0;
};

/* Sub-identifiers an index takes in an instance OID. */
uint8_t mib_table_index_arcs(mib_table_index kind);
/* The cell an instance OID names; nothing when oid is not an instance of the table. */
std::optional<mib_table_cell> mib_table_cell_of(const mib_table_shape &shape, const snmp_oid &oid);
/* Where a walk from `from` (the entry OID or an OID under it) goes on: the first cell whose instance
 * follows `from` has this column and an index at least this one; nothing past the last column. */
std::optional<mib_table_cell> mib_table_next_start(const mib_table_shape &shape, const snmp_oid &from);
/* The next column's first cell, or nothing after the last column. */
std::optional<mib_table_cell> mib_table_next_column(const mib_table_shape &shape, uint32_t column);
/* The instance OID of a cell. */
snmp_oid mib_table_instance(const mib_table_shape &shape, const mib_table_cell &cell);

#endif /* VEK_AGENT_MIB_TABLE_H */
