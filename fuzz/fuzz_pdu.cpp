// Fuzz target: PDUs through snmp_ber_decode_snmp_pdu. The first input byte picks the message version
// (v1, v2c or v3), the rest is the PDU; what decodes is encoded again with the same version.
#include <array>
#include <cstdint>

#include "codec/snmp_ber.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint16_t kMaxInput = UINT16_MAX;
constexpr std::array<uint32_t, 3> kVersions = {SNMP_VERSION_1, SNMP_VERSION_2C, SNMP_VERSION_3};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
    trace_to_nowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size - 1 > kMaxInput) {
        return 0;
    }
    uint32_t version = kVersions[data[0] % kVersions.size()];
    const uint8_t *pdu_bytes = data + 1;
    auto available = static_cast<uint16_t>(size - 1);
    static snmp_pdu pdu;
    static uint8_t out[SNMP_MAX_MSG_SIZE];
    uint16_t used = 0;
    if (snmp_ber_decode_snmp_pdu(pdu_bytes, available, version, &pdu, &used) != SNMP_OK) {
        return 0;
    }
    if (used > available || pdu.varbind_count > SNMP_MAX_VARBINDS) {
        __builtin_trap();
    }
    uint16_t len = 0;
    snmp_ber_encode_snmp_pdu(out, sizeof out, &pdu, version, &len);
    return 0;
}
