// Fuzz target: the USM security parameters and the scoped PDU decoders on their own. The first byte
// is the msgFlags value handed to the USM decoder, the rest the bytes to decode.
#include <cstdint>
#include <memory>

#include "codec/snmpv3_ber.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxInput = 2 * SNMP_MAX_MSG_SIZE;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    trace_to_nowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > kMaxInput) {
        return 0;
    }
    uint8_t flags = data[0];
    const uint8_t *body = data + 1;
    auto len = static_cast<uint16_t>(size - 1);

    snmp_v3_usm usm{};
    uint16_t consumed = 0;
    uint16_t auth_offset = 0;
    if (snmp_ber_decode_v3_usm(body, len, flags, &usm, &consumed, &auth_offset) == SNMP_OK) {
        if (consumed > len || auth_offset >= len || usm.user_len > SNMP_V3_MAX_USER_LEN ||
            usm.engine_id_len > SNMP_V3_MAX_ENGINE_ID_LEN || usm.auth_param_len > SNMP_AUTH_PARAM_SIZE ||
            usm.priv_param_len > SNMP_PRIV_PARAM_SIZE) {
            __builtin_trap();
        }
        // What was read is encoded again.
        uint8_t out[SNMP_MAX_MSG_SIZE];
        uint16_t out_len = 0;
        uint16_t auth_rel = 0;
        uint16_t priv_rel = 0;
        uint16_t header = 0;
        snmp_ber_encode_v3_usm(out, sizeof out, &usm, &out_len, &auth_rel, &priv_rel, &header);
    }

    auto pdu = std::make_unique<snmp_pdu>();
    if (snmp_ber_decode_v3_scoped_pdu(body, len, pdu.get(), &consumed) == SNMP_OK && consumed > len) {
        __builtin_trap();
    }
    return 0;
}
