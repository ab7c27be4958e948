#include "agent/mib_table.h"

#include <span>

namespace {

constexpr uint8_t kIntegerArcs = 1;
constexpr uint8_t kIpv4Arcs = 4;
constexpr uint32_t kOctetMax = 255;
constexpr uint32_t kBitsPerOctet = 8;
constexpr uint64_t kIndexLimit = uint64_t{1} << 32;  // one past the largest index
constexpr uint32_t kFirstColumn = 1;

std::span<const uint32_t> ids_after(const snmp_oid &oid, uint8_t skip) {
    const uint8_t len = oid.len < SNMP_MAX_OID_LEN ? oid.len : static_cast<uint8_t>(SNMP_MAX_OID_LEN);
    return skip >= len ? std::span<const uint32_t>{} : std::span<const uint32_t>(oid.sub_ids + skip, len - skip);
}

bool under_entry(const mib_table_shape &shape, const snmp_oid &oid) {
    if (oid.len < shape.entry.len) {
        return false;
    }
    for (uint8_t i = 0; i < shape.entry.len; ++i) {
        if (oid.sub_ids[i] != shape.entry.sub_ids[i]) {
            return false;
        }
    }
    return true;
}

// The cell at `start` in `column`, or the next column's first cell once no index is left.
std::optional<mib_table_cell> cell_from(const mib_table_shape &shape, uint32_t column, uint64_t start) {
    if (start >= kIndexLimit) {
        return mib_table_next_column(shape, column);
    }
    return mib_table_cell{column, static_cast<uint32_t>(start)};
}

// The smallest index whose arcs come after `arcs` (the part of an OID after <entry>.<column>), as
// a number that may reach kIndexLimit (none left in the column).
uint64_t first_index_after(mib_table_index kind, std::span<const uint32_t> arcs) {
    if (kind == mib_table_index::integer) {
        return uint64_t{arcs[0]} + 1;  // <n> itself and anything under it lie at or before the OID
    }
    uint64_t prefix = 0;
    for (uint8_t k = 0; k < kIpv4Arcs; ++k) {
        const unsigned shift = kBitsPerOctet * (kIpv4Arcs - k);
        if (k >= arcs.size()) {
            return prefix << shift;  // every address under the arcs given follows them
        }
        if (arcs[k] > kOctetMax) {
            return (prefix + 1) << shift;  // no address has this octet: the next prefix
        }
        prefix = (prefix << kBitsPerOctet) | arcs[k];
    }
    return prefix + 1;  // the address itself (or an OID under it) is not after the OID
}

}  // namespace

uint8_t mib_table_index_arcs(mib_table_index kind) {
    return kind == mib_table_index::ipv4 ? kIpv4Arcs : kIntegerArcs;
}

std::optional<mib_table_cell> mib_table_cell_of(const mib_table_shape &shape, const snmp_oid &oid) {
    const uint8_t arcs = mib_table_index_arcs(shape.kind);
    if (!under_entry(shape, oid) || oid.len != shape.entry.len + 1 + arcs) {
        return std::nullopt;
    }
    const std::span<const uint32_t> rest = ids_after(oid, shape.entry.len);
    const uint32_t column = rest[0];
    if (column < kFirstColumn || column > shape.columns) {
        return std::nullopt;
    }
    uint32_t index = 0;
    for (uint32_t arc : rest.subspan(1)) {
        if (shape.kind == mib_table_index::ipv4 && arc > kOctetMax) {
            return std::nullopt;
        }
        index = shape.kind == mib_table_index::ipv4 ? (index << kBitsPerOctet) | arc : arc;
    }
    return mib_table_cell{column, index};
}

std::optional<mib_table_cell> mib_table_next_start(const mib_table_shape &shape, const snmp_oid &from) {
    if (!under_entry(shape, from)) {
        return std::nullopt;
    }
    const std::span<const uint32_t> rest = ids_after(from, shape.entry.len);
    if (rest.empty() || rest[0] < kFirstColumn) {
        return mib_table_cell{kFirstColumn, 0};
    }
    const uint32_t column = rest[0];
    if (column > shape.columns) {
        return std::nullopt;
    }
    if (rest.size() == 1) {
        return mib_table_cell{column, 0};
    }
    return cell_from(shape, column, first_index_after(shape.kind, rest.subspan(1)));
}

std::optional<mib_table_cell> mib_table_next_column(const mib_table_shape &shape, uint32_t column) {
    if (column >= shape.columns) {
        return std::nullopt;
    }
    return mib_table_cell{column + 1, 0};
}

snmp_oid mib_table_instance(const mib_table_shape &shape, const mib_table_cell &cell) {
    snmp_oid oid = shape.entry;
    oid.sub_ids[oid.len++] = cell.column;
    if (shape.kind == mib_table_index::ipv4) {
        for (uint8_t k = 0; k < kIpv4Arcs; ++k) {
            oid.sub_ids[oid.len++] = (cell.index >> (kBitsPerOctet * (kIpv4Arcs - 1 - k))) & kOctetMax;
        }
    } else {
        oid.sub_ids[oid.len++] = cell.index;
    }
    return oid;
}
