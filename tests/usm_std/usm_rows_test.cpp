// The standard scheme's rows in the codec: every authentication and privacy pair on the wire (its
// parameter sizes, its encryptedPDU, its checks), which codes make a scheme, which keys follow the
// engine boots, the salts of outgoing messages, and the public records that must keep their layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "agent/vek_agent_sdk.h"
#include "codec/oid_literal.h"
#include "codec/snmp_ber.h"
#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_crypto.h"
#include "nms/vek_nms_sdk.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vek::codec::make_oid;

const Bytes kEngineId = {0x80, 0x00, 0x30, 0x39, 0x05, 0x01, 0x02, 0x03, 0x04};
constexpr uint32_t kBoots = 9;
constexpr uint32_t kTime = 4321;
constexpr char kUser[] = "stduser";
constexpr uint16_t kOddValueLen = 37;  // makes a plaintext that is not a whole number of DES blocks

struct AuthCase {
    uint8_t proto;
    uint16_t param_len;
};

const std::vector<AuthCase> kAuth = {{SNMP_V3_AUTH_STD_MD5, 12},    {SNMP_V3_AUTH_STD_SHA1, 12},
                                     {SNMP_V3_AUTH_STD_SHA224, 16}, {SNMP_V3_AUTH_STD_SHA256, 24},
                                     {SNMP_V3_AUTH_STD_SHA384, 32}, {SNMP_V3_AUTH_STD_SHA512, 48}};
const std::vector<uint8_t> kPriv = {SNMP_V3_PRIV_NONE,       SNMP_V3_PRIV_STD_DES,     SNMP_V3_PRIV_STD_AES128,
                                    SNMP_V3_PRIV_STD_AES192, SNMP_V3_PRIV_STD_AES256,  SNMP_V3_PRIV_STD_AES192C,
                                    SNMP_V3_PRIV_STD_AES256C};

// Keys of the algorithms' lengths (their values do not matter for the message checks).
Bytes key_of(uint16_t len, uint8_t seed) {
    Bytes key(len);
    for (uint16_t i = 0; i < len; ++i) {
        key[i] = static_cast<uint8_t>(seed * 31 + i);
    }
    return key;
}

snmp_v3_user user_with(uint8_t auth, uint8_t priv) {
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = sizeof kUser - 1;
    std::memcpy(user.username, kUser, user.user_len);
    user.auth_proto = auth;
    user.priv_proto = priv;
    const Bytes auth_key = key_of(snmpv3_get_key_length(auth, 1), auth);
    const Bytes priv_key = key_of(snmpv3_get_key_length(priv, 0), priv);
    std::copy(auth_key.begin(), auth_key.end(), user.auth_key);
    user.auth_key_len = static_cast<uint16_t>(auth_key.size());
    std::copy(priv_key.begin(), priv_key.end(), user.priv_key);
    user.priv_key_len = static_cast<uint16_t>(priv_key.size());
    user.keys_valid = 1;
    return user;
}

std::vector<snmp_varbind> bindings() {
    snmp_varbind text{};
    text.oid = make_oid({1, 3, 6, 1, 2, 1, 1, 4, 0});
    text.type = SNMP_TAG_OCTET_STRING;
    std::memset(text.value.octets, 'v', kOddValueLen);
    text.value_len = kOddValueLen;
    snmp_varbind null{};
    null.oid = make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
    null.type = SNMP_TAG_NULL;
    return {text, null};
}

Bytes encode(const snmp_v3_user &user) {
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t len = static_cast<uint16_t>(out.size());
    const std::vector<snmp_varbind> vbs = bindings();
    const int32_t ret = snmp_v3_cmd_encode(SNMP_OP_SET, kUser, user.auth_proto, user.priv_proto, user.auth_key,
                                           user.auth_key_len, user.priv_key, user.priv_key_len, kEngineId.data(),
                                           static_cast<uint16_t>(kEngineId.size()), kBoots, kTime, 77, 0, 0,
                                           vbs.data(), static_cast<uint16_t>(vbs.size()), out.data(), &len);
    EXPECT_EQ(ret, SNMP_OK);
    out.resize(ret == SNMP_OK ? len : 0);
    return out;
}

std::unique_ptr<snmp_message> decode(const Bytes &wire) {
    auto msg = std::make_unique<snmp_message>();
    uint16_t used = 0;
    EXPECT_EQ(snmp_ber_decode_snmp_message(wire.data(), static_cast<uint16_t>(wire.size()), msg.get(), &used), SNMP_OK);
    return msg;
}

uint8_t check(const Bytes &wire, const snmp_v3_user &user, snmp_message &msg) {
    const snmp_v3_local_engine local{kEngineId.data(), static_cast<uint16_t>(kEngineId.size()), kBoots, kTime};
    return snmp_v3_check_message(wire.data(), static_cast<uint16_t>(wire.size()), &msg, &local, &user);
}

// The plaintext scoped PDU the message was made from.
uint16_t scoped_pdu_len(const snmp_pdu &pdu) {
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    EXPECT_EQ(snmp_ber_encode_v3_scoped_pdu(out.data(), static_cast<uint16_t>(out.size()), &pdu, &len), SNMP_OK);
    return len;
}

TEST(StdUsm, EveryPairCarriesItsParametersAndPassesOnlyUnaltered) {
    for (const AuthCase &auth : kAuth) {
        for (uint8_t priv : kPriv) {
            SCOPED_TRACE(testing::Message() << "auth " << int{auth.proto} << " priv " << int{priv});
            const snmp_v3_user user = user_with(auth.proto, priv);
            const Bytes wire = encode(user);
            ASSERT_FALSE(wire.empty());
            auto msg = decode(wire);
            EXPECT_EQ(msg->usm.auth_param_len, auth.param_len);
            ASSERT_EQ(check(wire, user, *msg), SNMP_V3_VERDICT_OK);
            ASSERT_EQ(msg->pdu.varbind_count, 2);
            EXPECT_EQ(msg->pdu.varbinds[0].value_len, kOddValueLen);
            if (priv != SNMP_V3_PRIV_NONE) {
                // The salt travels in msgPrivacyParameters only; CFB keeps the length, DES pads to
                // whole blocks.
                EXPECT_EQ(msg->usm.priv_param_len, SNMP_V3_SALT_LEN);
                const uint16_t plain = scoped_pdu_len(msg->pdu);
                const uint16_t expected = priv == SNMP_V3_PRIV_STD_DES ? (plain + 7) / 8 * 8 : plain;
                EXPECT_EQ(msg->encrypted_pdu_len, expected);
            }
            // One bit of the value (in clear, or of the cipher text) changed: the digest no longer fits.
            const size_t at = priv != SNMP_V3_PRIV_NONE
                                  ? wire.size() - 1
                                  : static_cast<size_t>(std::find(wire.begin(), wire.end(), 'v') - wire.begin());
            Bytes altered = wire;
            altered[at] ^= 0x01;
            auto changed = decode(altered);
            EXPECT_EQ(check(altered, user, *changed), SNMP_V3_VERDICT_WRONG_DIGEST);
        }
    }
}

TEST(StdUsm, TwoCodesMakeOneSchemeAndOnlyTheSystemsKeysFollowBoots) {
    struct Case {
        uint8_t auth;
        uint8_t priv;
        int scheme;  // -1: no scheme
    };
    const std::vector<Case> cases = {
        {SNMP_V3_AUTH_NONE, SNMP_V3_PRIV_NONE, SNMP_V3_SCHEME_VEK},
        {SNMP_V3_AUTH_SHA1, SNMP_V3_PRIV_AES128, SNMP_V3_SCHEME_VEK},
        {SNMP_V3_AUTH_NONE, SNMP_V3_PRIV_DES, SNMP_V3_SCHEME_VEK},  // stored as given, as it always was
        {SNMP_V3_AUTH_STD_MD5, SNMP_V3_PRIV_STD_AES128, SNMP_V3_SCHEME_STD},
        {SNMP_V3_AUTH_STD_SHA512, SNMP_V3_PRIV_NONE, SNMP_V3_SCHEME_STD},
        {SNMP_V3_AUTH_NONE, SNMP_V3_PRIV_STD_DES, -1},  // a standard privacy key needs the digest
        {SNMP_V3_AUTH_SHA1, SNMP_V3_PRIV_STD_AES128, -1},
        {SNMP_V3_AUTH_STD_SHA1, SNMP_V3_PRIV_AES128, -1},
        {SNMP_V3_AUTH_CODE_MAX + 1, SNMP_V3_PRIV_NONE, -1},
        {SNMP_V3_AUTH_STD_SHA1, SNMP_V3_PRIV_CODE_MAX + 1, -1},
    };
    for (const Case &c : cases) {
        const snmp_v3_scheme *scheme = snmp_v3_scheme_of(c.auth, c.priv);
        EXPECT_EQ(scheme == nullptr ? -1 : scheme->id, c.scheme) << int{c.auth} << "/" << int{c.priv};
    }
    // Keys made at boots 3: the system's own are stale at boots 4, the standard ones are not.
    EXPECT_EQ(snmp_v3_keys_stale(SNMP_V3_AUTH_SHA1, SNMP_V3_PRIV_AES128, 1, 3, 4), 1);
    EXPECT_EQ(snmp_v3_keys_stale(SNMP_V3_AUTH_STD_SHA1, SNMP_V3_PRIV_STD_AES128, 1, 3, 4), 0);
    EXPECT_EQ(snmp_v3_keys_stale(SNMP_V3_AUTH_STD_SHA1, SNMP_V3_PRIV_STD_AES128, 0, 3, 3), 1);
}

TEST(StdUsm, SaltsNeverRepeatAndDesSaltsStartWithTheBoots) {
    constexpr int kMessages = 100000;
    std::set<uint64_t> seen;
    for (int i = 0; i < kMessages; ++i) {
        snmp_v3_usm usm{};
        usm.priv_proto = i % 2 == 0 ? SNMP_V3_PRIV_STD_AES128 : SNMP_V3_PRIV_STD_DES;
        usm.engine_boots = kBoots;
        usm.engine_time = kTime;
        ASSERT_EQ(snmpv3_crypto_gen_full_iv(&usm), 1);
        ASSERT_EQ(usm.priv_param_len, SNMP_V3_SALT_LEN);
        const Bytes salt(usm.priv_param, usm.priv_param + usm.priv_param_len);
        if (usm.priv_proto == SNMP_V3_PRIV_STD_DES) {
            EXPECT_EQ(Bytes(salt.begin(), salt.begin() + 4), (Bytes{0, 0, 0, kBoots}));
        } else {
            // AES: IV = BE32(boots) || BE32(time) || salt.
            EXPECT_EQ(Bytes(usm.full_iv + 8, usm.full_iv + 16), salt);
            EXPECT_EQ(usm.full_iv[3], kBoots);
        }
        uint64_t salt_bits = 0;
        static_assert(sizeof salt_bits == SNMP_V3_SALT_LEN);
        std::memcpy(&salt_bits, salt.data(), sizeof salt_bits);
        EXPECT_TRUE(seen.insert(salt_bits).second) << i;
    }
}

TEST(StdUsm, PublicRecordsKeepTheirLayout) {
    // A C program built against the headers before the standard scheme sees the same records.
    EXPECT_EQ(sizeof(api_snmp_v3_user_config), 64u);
    EXPECT_EQ(offsetof(api_snmp_v3_user_config, auth_alg), 32u);
    EXPECT_EQ(offsetof(api_snmp_v3_user_config, priv_alg), 48u);
    EXPECT_EQ(sizeof(api_snmp_user_info), 40u);
    EXPECT_EQ(sizeof(agent_snmp_v3_user), 162u);
    EXPECT_EQ(offsetof(agent_snmp_v3_user, priv_proto), 97u);
    EXPECT_EQ(API_SNMP_AUTH_SHA256FULL, 4);
    EXPECT_EQ(API_SNMP_PRIV_AES256, 5);
    EXPECT_EQ(AGENT_SNMP_PRIV_3DES, 5u);
}

}  // namespace
