// Helpers shared by the SNMPv3 codec tests: keys derived once per algorithm, one-call command
// encoding, decoding into heap records and small byte utilities.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/agent_log.h"
#include "codec/oid_literal.h"
#include "codec/snmp_ber.h"
#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_crypto.h"
#include "tests/codec/ber_test_util.h"

namespace v3_test {

using Bytes = std::vector<uint8_t>;

inline const Bytes kEngineId = {0x80, 0x00, 0x1F, 0x88, 0x04, 0x76, 0x65, 0x6B};
constexpr uint32_t kBoots = 7;
constexpr uint32_t kTime = 123456;
inline const char kUser[] = "vekuser";
inline const char kAuthPass[] = "authpassword1";
inline const char kPrivPass[] = "privpassword1";

constexpr uint8_t kAuthCount = SNMP_V3_AUTH_MAX + 1;
constexpr uint8_t kPrivCount = SNMP_V3_PRIV_MAX + 1;

inline snmp_v3_usm key_usm(uint8_t auth_proto, uint8_t priv_proto) {
    snmp_v3_usm usm{};
    std::copy(kEngineId.begin(), kEngineId.end(), usm.engine_id);
    usm.engine_id_len = static_cast<uint16_t>(kEngineId.size());
    usm.engine_boots = kBoots;
    usm.engine_time = kTime;
    usm.auth_proto = auth_proto;
    usm.priv_proto = priv_proto;
    return usm;
}

// Localized keys of every algorithm for kEngineId / kBoots / kTime, derived once (PBKDF2 is slow
// under the sanitizers).
struct KeyStore {
    std::array<Bytes, kAuthCount> auth;
    std::array<Bytes, kPrivCount> priv;
};

inline const KeyStore &keys() {
    static const KeyStore store = [] {
        KeyStore k;
        for (uint8_t a = 1; a < kAuthCount; ++a) {
            Bytes key(snmpv3_get_key_length(a, 1));
            snmp_v3_usm usm = key_usm(a, 0);
            EXPECT_EQ(snmp_v3_generate_auth_key(&usm, reinterpret_cast<const uint8_t *>(kAuthPass),
                                                sizeof(kAuthPass) - 1, key.data(), static_cast<uint16_t>(key.size())),
                      1);
            k.auth[a] = key;
        }
        for (uint8_t p = 1; p < kPrivCount; ++p) {
            Bytes key(snmpv3_get_key_length(p, 0));
            snmp_v3_usm usm = key_usm(0, p);
            EXPECT_EQ(snmp_v3_generate_priv_key(&usm, reinterpret_cast<const uint8_t *>(kPrivPass),
                                                sizeof(kPrivPass) - 1, key.data(), static_cast<uint16_t>(key.size())),
                      1);
            k.priv[p] = key;
        }
        return k;
    }();
    return store;
}

inline snmp_v3_user make_user(uint8_t auth_proto, uint8_t priv_proto, const Bytes &auth_key, const Bytes &priv_key) {
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = static_cast<uint8_t>(std::strlen(kUser));
    std::memcpy(user.username, kUser, user.user_len);
    user.auth_proto = auth_proto;
    user.priv_proto = priv_proto;
    std::copy(auth_key.begin(), auth_key.end(), user.auth_key);
    user.auth_key_len = static_cast<uint16_t>(auth_key.size());
    std::copy(priv_key.begin(), priv_key.end(), user.priv_key);
    user.priv_key_len = static_cast<uint16_t>(priv_key.size());
    return user;
}

inline snmp_v3_user user_for(uint8_t auth_proto, uint8_t priv_proto) {
    return make_user(auth_proto, priv_proto, keys().auth[auth_proto], keys().priv[priv_proto]);
}

using vek::codec::make_oid;

inline snmp_varbind string_binding(uint32_t index, uint16_t len) {
    snmp_varbind vb{};
    vb.oid = make_oid({1, 3, 6, 1, 4, 1, 12345, 1, index});
    vb.type = SNMP_TAG_OCTET_STRING;
    for (uint16_t i = 0; i < len; ++i) {
        vb.value.octets[i] = static_cast<uint8_t>('A' + (i + index) % 26);
    }
    vb.value_len = len;
    return vb;
}

inline snmp_varbind null_binding(uint32_t index) {
    snmp_varbind vb{};
    vb.oid = make_oid({1, 3, 6, 1, 2, 1, 1, index, 0});
    vb.type = SNMP_TAG_NULL;
    return vb;
}

// Arguments of snmp_v3_cmd_encode that the tests vary.
struct Command {
    uint32_t op = SNMP_OP_GET;
    uint8_t auth = 0;
    uint8_t priv = 0;
    uint32_t msg_id = 4242;
    uint32_t non_repeaters = 0;
    uint32_t max_repetitions = 0;
    std::vector<snmp_varbind> varbinds;
    std::string user = kUser;
    Bytes engine_id = kEngineId;
};

// Encodes with the stored keys into a buffer of `size` bytes; the result is cut to the message.
inline int32_t encode(const Command &c, Bytes &out, uint16_t size = SNMP_MAX_MSG_SIZE) {
    out.assign(size, 0);
    uint16_t len = size;
    const Bytes &auth_key = keys().auth[c.auth];
    const Bytes &priv_key = keys().priv[c.priv];
    int32_t ret = snmp_v3_cmd_encode(
        c.op, c.user.c_str(), c.auth, c.priv, auth_key.empty() ? nullptr : auth_key.data(),
        static_cast<uint16_t>(auth_key.size()), priv_key.empty() ? nullptr : priv_key.data(),
        static_cast<uint16_t>(priv_key.size()), c.engine_id.data(), static_cast<uint16_t>(c.engine_id.size()), kBoots,
        kTime, c.msg_id, c.non_repeaters, c.max_repetitions, c.varbinds.data(),
        static_cast<uint16_t>(c.varbinds.size()), out.data(), &len);
    if (ret == SNMP_OK) {
        out.resize(len);
    }
    return ret;
}

inline std::unique_ptr<snmp_message> decode(const Bytes &wire, int32_t *result = nullptr) {
    auto msg = std::make_unique<snmp_message>();
    uint16_t consumed = 0;
    int32_t ret = snmp_ber_decode_snmp_message(wire.data(), static_cast<uint16_t>(wire.size()), msg.get(), &consumed);
    if (result != nullptr) {
        *result = ret;
    } else {
        EXPECT_EQ(ret, SNMP_OK);
        EXPECT_EQ(consumed, wire.size());
    }
    return msg;
}

inline int32_t process(const Bytes &wire, snmp_message &msg, const snmp_v3_user &user) {
    static const int context = 0;
    return snmp_v3_process_security(wire.data(), static_cast<uint16_t>(wire.size()), &msg, &context, &user);
}

// Position of `needle` in `hay` at or after `from`, or npos.
inline size_t find(const Bytes &hay, const Bytes &needle, size_t from = 0) {
    auto it = std::search(hay.begin() + static_cast<std::ptrdiff_t>(from), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : static_cast<size_t>(it - hay.begin());
}

// The privacy parameter (random IV part) followed by the cipher text, as a scoped PDU travels.
inline Bytes cat_priv(const snmp_v3_usm &usm, const Bytes &cipher) {
    Bytes out(usm.priv_param, usm.priv_param + usm.priv_param_len);
    out.insert(out.end(), cipher.begin(), cipher.end());
    return out;
}

inline Bytes pattern(size_t len) {
    Bytes out(len);
    for (size_t i = 0; i < len; ++i) {
        out[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return out;
}

// Encrypts with the record; *out_len starts as the output capacity.
inline int32_t encrypt(const Bytes &plain, const snmp_v3_usm &usm, const Bytes &key, Bytes &out) {
    out.assign(SNMP_MAX_MSG_SIZE + 64, 0);
    Bytes work(SNMP_MAX_MSG_SIZE + 64);
    auto len = static_cast<uint16_t>(out.size());
    int32_t ok = snmp_v3_encrypt_pdu(plain.data(), static_cast<uint16_t>(plain.size()), &usm, key.data(),
                                     static_cast<uint16_t>(key.size()), out.data(), &len, work.data(),
                                     static_cast<uint16_t>(work.size()));
    out.resize(ok == 1 ? len : 0);
    return ok;
}

inline int32_t decrypt(const Bytes &data, const snmp_v3_usm &usm, const Bytes &key, Bytes &out) {
    out.assign(SNMP_MAX_MSG_SIZE, 0);
    Bytes work(SNMP_MAX_MSG_SIZE);
    auto len = static_cast<uint16_t>(out.size());
    int32_t ok = snmp_v3_decrypt_pdu(data.data(), static_cast<uint16_t>(data.size()), &usm, key.data(),
                                     static_cast<uint16_t>(key.size()), out.data(), &len, work.data(),
                                     static_cast<uint16_t>(work.size()));
    out.resize(ok == 1 ? len : 0);
    return ok;
}

inline std::string captured(const std::function<void()> &call) {
    uint32_t saved = g_log_config.level;
    agent_log_set_level(AGENT_LOG_DEBUG);
    testing::internal::CaptureStdout();
    call();
    std::string text = testing::internal::GetCapturedStdout();
    agent_log_set_level(saved);
    return text;
}

// Bytes of hexadecimal text; blanks between the digits are allowed.
using ber_test::hex;

}  // namespace v3_test
