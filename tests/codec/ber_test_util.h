// Small helpers shared by the BER codec tests: byte strings from hex text and OIDs from dotted text.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "codec/oid_literal.h"
#include "codec/snmp_ber.h"

namespace ber_test {

using Bytes = std::vector<uint8_t>;

// "30 26 02 01" -> {0x30, 0x26, 0x02, 0x01}; spaces are ignored.
inline Bytes hex(const std::string &text) {
    Bytes out;
    std::string digits;
    for (char c : text) {
        if (c != ' ') {
            digits += c;
        }
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline Bytes ascii(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline snmp_oid oid(std::initializer_list<uint32_t> arcs) { return vek::codec::make_oid(arcs); }

inline snmp_oid oid_of_len(uint8_t len, uint32_t arc) {
    snmp_oid o{};
    o.sub_ids[0] = 1;
    o.sub_ids[1] = 3;
    for (uint8_t i = 2; i < len; ++i) {
        o.sub_ids[i] = arc;
    }
    o.len = len;
    return o;
}

inline bool same_oid(const snmp_oid &a, const snmp_oid &b) {
    return a.len == b.len && std::memcmp(a.sub_ids, b.sub_ids, a.len * sizeof(uint32_t)) == 0;
}

inline const snmp_oid kSysDescr0 = oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
inline const snmp_oid kSysUpTime0 = oid({1, 3, 6, 1, 2, 1, 1, 3, 0});

inline snmp_varbind null_binding(const snmp_oid &name) {
    snmp_varbind vb{};
    vb.oid = name;
    vb.type = SNMP_TAG_NULL;
    return vb;
}

inline snmp_varbind string_binding(const snmp_oid &name, size_t len, uint8_t fill = 'a') {
    snmp_varbind vb{};
    vb.oid = name;
    vb.type = SNMP_TAG_OCTET_STRING;
    std::memset(vb.value.octets, fill, len);
    vb.value_len = static_cast<uint16_t>(len);
    return vb;
}

inline Bytes encode_varbind(const snmp_varbind &vb, uint32_t version = SNMP_VERSION_2C) {
    Bytes out(SNMP_BER_MAX_VARBIND_LEN);
    uint16_t written = 0;
    if (snmp_ber_encode_varbind(out.data(), static_cast<uint16_t>(out.size()), &vb, version, &written) !=
        SNMP_OK) {
        return {};
    }
    out.resize(written);
    return out;
}

// A v1/v2c message record (zeroed) with the community and an empty PDU of the given operation.
inline void init_message(snmp_message &msg, uint32_t version, const std::string &community, uint32_t op) {
    std::memset(&msg, 0, sizeof msg);
    msg.version = version;
    std::memcpy(msg.usm.username, community.data(), community.size());
    msg.usm.user_len = static_cast<uint8_t>(community.size());
    msg.pdu.op = op;
}

// Encodes a message into a buffer of exactly the needed size; empty on failure.
inline Bytes encode_message(snmp_message &msg, int32_t *result = nullptr) {
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    int32_t ret =
        snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), nullptr, &msg, &len);
    if (result != nullptr) {
        *result = ret;
    }
    if (ret != SNMP_OK) {
        return {};
    }
    out.resize(len);
    return out;
}

}  // namespace ber_test
