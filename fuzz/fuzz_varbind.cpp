// Fuzz target: single variable bindings through snmp_ber_decode_varbind, with the version taken from
// the first input byte; a decoded binding is encoded again and must decode to the same bytes count.
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
    auto available = static_cast<uint16_t>(size - 1);
    snmp_varbind vb;
    uint16_t used = 0;
    if (snmp_ber_decode_varbind(data + 1, available, &vb, version, &used) != SNMP_OK) {
        return 0;
    }
    if (used > available) {
        __builtin_trap();
    }
    std::array<uint8_t, SNMP_BER_MAX_VARBIND_LEN> out;
    uint16_t len = 0;
    if (snmp_ber_encode_varbind(out.data(), static_cast<uint16_t>(out.size()), &vb, version, &len) !=
        SNMP_OK) {
        // Every binding the decoder accepts fits the record and so must encode again.
        __builtin_trap();
    }
    snmp_varbind again;
    uint16_t again_used = 0;
    if (snmp_ber_decode_varbind(out.data(), len, &again, version, &again_used) != SNMP_OK ||
        again_used != len || again.type != vb.type) {
        __builtin_trap();
    }
    return 0;
}
