// Fuzz target: whole SNMP messages through snmp_ber_decode_snmp_message; what decodes is encoded again.
#include <cstdint>
#include <memory>

#include "codec/snmp_ber.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint16_t kMaxInput = UINT16_MAX;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
    trace_to_nowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    static snmp_message msg;
    static uint8_t out[SNMP_MAX_MSG_SIZE];
    uint16_t used = 0;
    if (snmp_ber_decode_snmp_message(data, static_cast<uint16_t>(size), &msg, &used) != SNMP_OK) {
        return 0;
    }
    if (used > size) {
        __builtin_trap();
    }
    uint16_t len = 0;
    snmp_v3_user user{};
    snmp_ber_encode_snmp_message(out, sizeof out, &user, &msg, &len);
    return 0;
}
