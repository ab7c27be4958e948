// Fuzz target: whole received messages through snmp_ber_decode_snmp_message (the SNMPv3 branch in
// particular); a message that decodes is encoded again from the decoded record.
#include <cstdint>
#include <memory>

#include "codec/snmp_ber.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxInput = 2 * SNMP_MAX_MSG_SIZE;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    trace_to_nowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    auto msg = std::make_unique<snmp_message>();
    uint16_t consumed = 0;
    if (snmp_ber_decode_snmp_message(data, static_cast<uint16_t>(size), msg.get(), &consumed) != SNMP_OK) {
        return 0;
    }
    if (consumed > size) {
        __builtin_trap();
    }
    auto out = std::make_unique<uint8_t[]>(SNMP_MAX_MSG_SIZE);
    snmp_v3_user user{};
    uint16_t written = 0;
    if (snmp_ber_encode_snmp_message(out.get(), SNMP_MAX_MSG_SIZE, &user, msg.get(), &written) == SNMP_OK &&
        written > SNMP_MAX_MSG_SIZE) {
        __builtin_trap();
    }
    return 0;
}
