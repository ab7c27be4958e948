// Cost of one authenticated and encrypted SNMPv3 exchange step (HMAC-SHA-256 + AES-128) with a
// message of about 500 bytes: snmp_v3_cmd_encode on the sending side, snmp_ber_decode_snmp_message
// and snmp_v3_process_security on the receiving side. The parts are also measured on their own.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "base/agent_log.h"
#include "codec/snmp_ber.h"
#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_crypto.h"

namespace {

constexpr uint8_t kAuth = SNMP_V3_AUTH_SHA256;
constexpr uint8_t kPriv = SNMP_V3_PRIV_AES128;
constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x1F, 0x88, 0x04, 0x62, 0x65, 0x6E};
constexpr uint32_t kBoots = 5;
constexpr uint32_t kTime = 86400;
constexpr char kUser[] = "benchuser";
constexpr char kAuthPass[] = "bench-auth-password";
constexpr char kPrivPass[] = "bench-priv-password";
constexpr uint32_t kBindings = 5;
constexpr uint16_t kStringLen = 56;  // five of these make a message of about 500 bytes
constexpr size_t kTargetSize = 500;

struct Setup {
    snmp_v3_user user{};
    std::vector<snmp_varbind> varbinds;
};

const Setup &setup() {
    static const Setup s = [] {
        agent_log_set_level(AGENT_LOG_WARN);
        Setup out;
        snmp_v3_usm usm{};
        std::memcpy(usm.engine_id, kEngineId, sizeof kEngineId);
        usm.engine_id_len = sizeof kEngineId;
        usm.engine_boots = kBoots;
        usm.engine_time = kTime;
        usm.auth_proto = kAuth;
        usm.priv_proto = kPriv;
        snmp_v3_user &user = out.user;
        user.enabled = 1;
        user.user_len = sizeof kUser - 1;
        std::memcpy(user.username, kUser, user.user_len);
        user.auth_proto = kAuth;
        user.priv_proto = kPriv;
        user.auth_key_len = snmpv3_get_key_length(kAuth, 1);
        user.priv_key_len = snmpv3_get_key_length(kPriv, 0);
        snmp_v3_generate_auth_key(&usm, reinterpret_cast<const uint8_t *>(kAuthPass), sizeof kAuthPass - 1,
                                  user.auth_key, user.auth_key_len);
        snmp_v3_generate_priv_key(&usm, reinterpret_cast<const uint8_t *>(kPrivPass), sizeof kPrivPass - 1,
                                  user.priv_key, user.priv_key_len);
        for (uint32_t i = 0; i < kBindings; ++i) {
            snmp_varbind vb{};
            const uint32_t arcs[] = {1, 3, 6, 1, 4, 1, 12345, 1, i + 1, 0};
            std::memcpy(vb.oid.sub_ids, arcs, sizeof arcs);
            vb.oid.len = sizeof arcs / sizeof arcs[0];
            vb.type = SNMP_TAG_OCTET_STRING;
            std::memset(vb.value.octets, 'a' + static_cast<int>(i), kStringLen);
            vb.value_len = kStringLen;
            out.varbinds.push_back(vb);
        }
        return out;
    }();
    return s;
}

int32_t encode(const Setup &s, std::array<uint8_t, SNMP_MAX_MSG_SIZE> &buf, uint16_t &len, uint32_t msg_id) {
    len = static_cast<uint16_t>(buf.size());
    return snmp_v3_cmd_encode(SNMP_OP_GET_RESPONSE, kUser, kAuth, kPriv, s.user.auth_key, s.user.auth_key_len,
                              s.user.priv_key, s.user.priv_key_len, kEngineId, sizeof kEngineId, kBoots, kTime, msg_id,
                              0, 0, s.varbinds.data(), static_cast<uint16_t>(s.varbinds.size()), buf.data(), &len);
}

int32_t receive(const Setup &s, const std::array<uint8_t, SNMP_MAX_MSG_SIZE> &buf, uint16_t len, snmp_message &msg) {
    static const int context = 0;
    uint16_t consumed = 0;
    int32_t ret = snmp_ber_decode_snmp_message(buf.data(), len, &msg, &consumed);
    if (ret != SNMP_OK) {
        return ret;
    }
    return snmp_v3_process_security(buf.data(), len, &msg, &context, &s.user);
}

void BM_V3EncodeDecodeProcess_Sha256Aes128(benchmark::State &state) {
    const Setup &s = setup();
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    auto msg = std::make_unique<snmp_message>();
    uint16_t len = 0;
    uint32_t msg_id = 1;
    for (auto _ : state) {
        if (encode(s, buf, len, msg_id++) != SNMP_OK || receive(s, buf, len, *msg) != SNMP_OK) {
            state.SkipWithError("v3 round trip failed");
            break;
        }
        benchmark::DoNotOptimize(msg->pdu.varbind_count);
    }
    state.counters["message_bytes"] = len;
    if (len < kTargetSize - kTargetSize / 10 || len > kTargetSize + kTargetSize / 10) {
        state.SkipWithError("message is not about 500 bytes");
    }
}
BENCHMARK(BM_V3EncodeDecodeProcess_Sha256Aes128)->Unit(benchmark::kMicrosecond);

void BM_V3Encode_Sha256Aes128(benchmark::State &state) {
    const Setup &s = setup();
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    uint32_t msg_id = 1;
    for (auto _ : state) {
        if (encode(s, buf, len, msg_id++) != SNMP_OK) {
            state.SkipWithError("encode failed");
            break;
        }
        benchmark::DoNotOptimize(buf.data());
    }
}
BENCHMARK(BM_V3Encode_Sha256Aes128)->Unit(benchmark::kMicrosecond);

void BM_V3DecodeProcess_Sha256Aes128(benchmark::State &state) {
    const Setup &s = setup();
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    auto msg = std::make_unique<snmp_message>();
    if (encode(s, buf, len, 1) != SNMP_OK) {
        state.SkipWithError("encode failed");
        return;
    }
    for (auto _ : state) {
        if (receive(s, buf, len, *msg) != SNMP_OK) {
            state.SkipWithError("decode or security processing failed");
            break;
        }
        benchmark::DoNotOptimize(msg->pdu.varbind_count);
    }
}
BENCHMARK(BM_V3DecodeProcess_Sha256Aes128)->Unit(benchmark::kMicrosecond);

}  // namespace
