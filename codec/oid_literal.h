// OBJECT IDENTIFIER values written as lists of arcs, for constant tables and tests.
#ifndef VEK_CODEC_OID_LITERAL_H
#define VEK_CODEC_OID_LITERAL_H

#include <cstdint>
#include <initializer_list>

#include "codec/snmp_types.h"

namespace vek::codec {

// At most SNMP_MAX_OID_LEN arcs; in a constant expression more than that does not compile.
constexpr snmp_oid make_oid(std::initializer_list<uint32_t> arcs) {
    snmp_oid oid{};
    for (uint32_t arc : arcs) {
        oid.sub_ids[oid.len++] = arc;
    }
    return oid;
}

}  // namespace vek::codec

#endif  // VEK_CODEC_OID_LITERAL_H
