// Fuzz target: the security processing of received SNMPv3 messages. The first input byte picks the
// user's algorithms: below 30 in the system's own scheme (authentication = byte % 5, privacy =
// byte / 5 % 6), from 30 on in the standard one (authentication 5 + n % 6, privacy the n / 6 % 7th
// of none, 6..11, with n = byte - 30). The rest is the datagram, which is decoded and then checked,
// decrypted and decoded with that user's fixed keys.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "codec/snmp_ber.h"
#include "codec/snmpv3_crypto.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxInput = SNMP_MAX_MSG_SIZE + 1;
constexpr uint8_t kAuthCount = SNMP_V3_AUTH_MAX + 1;  // the system's own scheme, none included
constexpr uint8_t kPrivCount = SNMP_V3_PRIV_MAX + 1;
constexpr uint8_t kOwnCombinations = kAuthCount * kPrivCount;
constexpr uint8_t kStdAuthCount = SNMP_V3_AUTH_CODE_MAX - SNMP_V3_AUTH_MAX;
constexpr uint8_t kStdPrivCount = SNMP_V3_PRIV_CODE_MAX - SNMP_V3_PRIV_MAX + 1;  // none included
constexpr uint8_t kAllAuth = SNMP_V3_AUTH_CODE_MAX + 1;
constexpr uint8_t kAllPriv = SNMP_V3_PRIV_CODE_MAX + 1;
constexpr uint8_t kStdKeyAuth = SNMP_V3_AUTH_STD_SHA256;  // the digest of the standard privacy keys
constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x1F, 0x88, 0x04, 0x66, 0x75, 0x7A};
constexpr uint32_t kBoots = 3;
constexpr uint32_t kTime = 1000;
constexpr char kUser[] = "fuzzuser";
constexpr char kAuthPass[] = "fuzz-auth-pass";
constexpr char kPrivPass[] = "fuzz-priv-pass";

std::array<std::array<uint8_t, SNMP_KEY_SIZE>, kAllAuth> g_auth_keys{};
std::array<std::array<uint8_t, SNMP_KEY_SIZE>, kAllPriv> g_priv_keys{};

snmp_v3_usm key_usm(uint8_t auth, uint8_t priv) {
    snmp_v3_usm usm{};
    std::memcpy(usm.engine_id, kEngineId, sizeof kEngineId);
    usm.engine_id_len = sizeof kEngineId;
    usm.engine_boots = kBoots;
    usm.engine_time = kTime;
    usm.auth_proto = auth;
    usm.priv_proto = priv;
    return usm;
}

void derive_keys() {
    for (uint8_t a = 1; a < kAllAuth; ++a) {
        snmp_v3_usm usm = key_usm(a, 0);
        snmp_v3_generate_auth_key(&usm, reinterpret_cast<const uint8_t *>(kAuthPass), sizeof kAuthPass - 1,
                                  g_auth_keys[a].data(), snmpv3_get_key_length(a, 1));
    }
    for (uint8_t p = 1; p < kAllPriv; ++p) {
        snmp_v3_usm usm = key_usm(p > SNMP_V3_PRIV_MAX ? kStdKeyAuth : SNMP_V3_AUTH_NONE, p);
        snmp_v3_generate_priv_key(&usm, reinterpret_cast<const uint8_t *>(kPrivPass), sizeof kPrivPass - 1,
                                  g_priv_keys[p].data(), snmpv3_get_key_length(p, 0));
    }
}

snmp_v3_user user_for(uint8_t selector) {
    auto auth = static_cast<uint8_t>(selector % kAuthCount);
    auto priv = static_cast<uint8_t>(selector / kAuthCount % kPrivCount);
    if (selector >= kOwnCombinations) {
        const auto n = static_cast<uint8_t>(selector - kOwnCombinations);
        auth = static_cast<uint8_t>(SNMP_V3_AUTH_MAX + 1 + n % kStdAuthCount);
        const auto p = static_cast<uint8_t>(n / kStdAuthCount % kStdPrivCount);
        priv = p == 0 ? static_cast<uint8_t>(SNMP_V3_PRIV_NONE) : static_cast<uint8_t>(SNMP_V3_PRIV_MAX + p);
    }
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = sizeof kUser - 1;
    std::memcpy(user.username, kUser, user.user_len);
    user.auth_proto = auth;
    user.priv_proto = priv;
    user.auth_key_len = snmpv3_get_key_length(auth, 1);
    std::memcpy(user.auth_key, g_auth_keys[auth].data(), user.auth_key_len);
    user.priv_key_len = snmpv3_get_key_length(priv, 0);
    std::memcpy(user.priv_key, g_priv_keys[priv].data(), user.priv_key_len);
    return user;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Keys are derived once, before the log level makes every PBKDF2 round trace.
    derive_keys();
    trace_to_nowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > kMaxInput) {
        return 0;
    }
    const uint8_t *wire = data + 1;
    auto len = static_cast<uint16_t>(size - 1);
    auto msg = std::make_unique<snmp_message>();
    uint16_t consumed = 0;
    if (snmp_ber_decode_snmp_message(wire, len, msg.get(), &consumed) != SNMP_OK || msg->version != SNMP_VERSION_3) {
        return 0;
    }
    const snmp_v3_user user = user_for(data[0]);
    static const int context = 0;
    if (snmp_v3_process_security(wire, len, msg.get(), &context, &user) == SNMP_OK &&
        msg->pdu.varbind_count > SNMP_MAX_VARBINDS) {
        __builtin_trap();
    }
    return 0;
}
