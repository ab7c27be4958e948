// Helpers of the agent core tests: an agent on a free port of 127.0.0.1 driven from the test thread,
// SNMP requests built and answers read with the codec (playing the manager), SNMPv3 keys.
#ifndef VEK_TESTS_AGENT_CORE_SUPPORT_H
#define VEK_TESTS_AGENT_CORE_SUPPORT_H

#include <arpa/inet.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent.h"
#include "agent/vek_agent_sdk.h"
#include "base/agent_log.h"
#include "codec/snmp_ber.h"
#include "codec/snmp_types.h"
#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_crypto.h"
#include "tests/agent_units/agent_test_util.h"

namespace agent_core_test {

using agent_test::Datagram;
using agent_test::LogCapture;
using agent_test::Peer;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char *kSysDescrOid = "1.3.6.1.2.1.1.1.0";
constexpr const char *kSysObjectIdOid = "1.3.6.1.2.1.1.2.0";
constexpr const char *kSysUpTimeOid = "1.3.6.1.2.1.1.3.0";
constexpr const char *kSysContactOid = "1.3.6.1.2.1.1.4.0";
constexpr const char *kEngineIdOid = "1.3.6.1.6.3.10.2.1.1";
/* The snmpEngine objects and usmStats counters behind it, in walk order; the last one ends the view. */
inline const std::vector<std::string> kEngineMibOids = {
    "1.3.6.1.6.3.10.2.1.1.0", "1.3.6.1.6.3.10.2.1.2.0", "1.3.6.1.6.3.10.2.1.3.0", "1.3.6.1.6.3.10.2.1.4.0",
    "1.3.6.1.6.3.15.1.1.1.0", "1.3.6.1.6.3.15.1.1.2.0", "1.3.6.1.6.3.15.1.1.3.0", "1.3.6.1.6.3.15.1.1.4.0",
    "1.3.6.1.6.3.15.1.1.5.0", "1.3.6.1.6.3.15.1.1.6.0"};
constexpr const char *kLastOid = "1.3.6.1.6.3.15.1.1.6.0";
constexpr const char *kTempOid = "1.3.6.1.4.1.12345.1.1";
constexpr const char *kLedOid = "1.3.6.1.4.1.12345.1.2";
constexpr const char *kFanOid = "1.3.6.1.4.1.12345.1.3";
constexpr const char *kSysDescrText = "Embedded SNMP Agent / Firmware V1.0.0";
constexpr const char *kReadOnly = "public";
constexpr const char *kReadWrite = "private";
constexpr int kAnswerTimeoutMs = 2000;
constexpr int kSilenceMs = 300;
constexpr uint32_t kLoopWaitMs = 20;
constexpr uint32_t kPollPeriodMs = 1000;
constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x30, 0x39, 0x04, 'v', 'e', 'k', 'a', 'g', 'e', 'n', 't'};

inline snmp_oid oid_of(const std::string &text) {
    snmp_oid oid{};
    size_t start = 0;
    while (start <= text.size() && oid.len < SNMP_MAX_OID_LEN) {
        const size_t dot = text.find('.', start);
        const std::string piece =
            text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        oid.sub_ids[oid.len++] = static_cast<uint32_t>(std::stoul(piece));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    return oid;
}

inline std::string text_of(const snmp_oid &oid) {
    std::string text;
    for (uint8_t i = 0; i < oid.len; ++i) {
        text += i == 0 ? "" : ".";
        text += std::to_string(oid.sub_ids[i]);
    }
    return text;
}

inline std::string octets_of(const snmp_varbind &vb) {
    return std::string(reinterpret_cast<const char *>(vb.value.octets), vb.value_len);
}

inline snmp_varbind null_binding(const std::string &oid) {
    snmp_varbind vb{};
    vb.oid = oid_of(oid);
    vb.type = SNMP_TAG_NULL;
    return vb;
}

inline snmp_varbind integer_binding(const std::string &oid, int32_t value) {
    snmp_varbind vb{};
    vb.oid = oid_of(oid);
    vb.type = SNMP_TAG_INTEGER;
    vb.value.integer = value;
    return vb;
}

inline snmp_varbind octets_binding(const std::string &oid, const std::string &value) {
    snmp_varbind vb{};
    vb.oid = oid_of(oid);
    vb.type = SNMP_TAG_OCTET_STRING;
    std::memcpy(vb.value.octets, value.data(), value.size());
    vb.value_len = static_cast<uint16_t>(value.size());
    return vb;
}

// A v1/v2c request.
struct Request {
    uint32_t version = SNMP_VERSION_2C;
    std::string community = kReadOnly;
    uint32_t op = SNMP_OP_GET;
    int32_t request_id = 1;
    std::vector<snmp_varbind> bindings;
    uint32_t non_repeaters = 0;
    uint32_t max_repetitions = 0;
};

inline Bytes encode(const Request &request) {
    snmp_message msg{};
    msg.version = request.version;
    std::memcpy(msg.usm.username, request.community.data(), request.community.size());
    msg.usm.user_len = static_cast<uint8_t>(request.community.size());
    msg.pdu.op = request.op;
    msg.pdu.request_id = request.request_id;
    msg.pdu.non_repeaters = request.non_repeaters;
    msg.pdu.max_repetitions = request.max_repetitions;
    for (const snmp_varbind &vb : request.bindings) {
        msg.pdu.varbinds[msg.pdu.varbind_count++] = vb;
    }
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    EXPECT_EQ(
        snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), nullptr, &msg, &len),
        SNMP_OK);
    out.resize(len);
    return out;
}

inline Request get_request(uint32_t version, const std::string &community, std::vector<std::string> oids,
                           uint32_t op = SNMP_OP_GET) {
    Request request;
    request.version = version;
    request.community = community;
    request.op = op;
    for (const std::string &oid : oids) {
        request.bindings.push_back(null_binding(oid));
    }
    return request;
}

// A decoded v1/v2c answer (or an undecodable one: decoded false).
struct Answer {
    bool decoded = false;
    snmp_message msg{};
    const snmp_pdu &pdu() const { return msg.pdu; }
};

inline Answer decode(const Bytes &bytes) {
    Answer answer;
    uint16_t used = 0;
    answer.decoded = snmp_ber_decode_snmp_message(bytes.data(), static_cast<uint16_t>(bytes.size()),
                                                  &answer.msg, &used) == SNMP_OK;
    return answer;
}

// ---- The agent under test, driven from the test thread ----

// Initialises and starts the agent on a free port; everything is undone in the destructor, so that
// the next test (in the same process) can initialise it again.
class AgentUnderTest {
   public:
    explicit AgentUnderTest(uint32_t log_level = AGENT_LOG_FATAL) {
        agent_snmp_set_log_level(static_cast<uint8_t>(log_level));
        agent_snmp_cfg cfg{};
        std::strcpy(cfg.ro_community, kReadOnly);
        std::strcpy(cfg.rw_community, kReadWrite);
        std::memcpy(cfg.engine_id, kEngineId, sizeof kEngineId);
        cfg.engine_id_len = sizeof kEngineId;
        cfg.poll_period = kPollPeriodMs;
        cfg.log_level = log_level;
        for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
            cfg.port = agent_test::free_udp_port();
            if (agent_snmp_init(&cfg) == AGENT_SNMP_OK) {
                port_ = cfg.port;
            }
        }
        EXPECT_NE(port_, 0);
        EXPECT_EQ(agent_snmp_start(), AGENT_SNMP_OK);
    }
    AgentUnderTest(const AgentUnderTest &) = delete;
    AgentUnderTest &operator=(const AgentUnderTest &) = delete;
    ~AgentUnderTest() {
        agent_snmp_stop();
        agent_init_self();
    }

    uint16_t port() const { return port_; }

    // Runs the agent until the peer has an answer or the time is up.
    std::optional<Datagram> serve(const Peer &peer, int timeout_ms = kAnswerTimeoutMs) const {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (Clock::now() < deadline) {
            agent_snmp_wait(kLoopWaitMs);
            agent_snmp_loop();
            if (std::optional<Datagram> answer = peer.receive(0)) {
                return answer;
            }
        }
        return std::nullopt;
    }

    // Sends the request and returns the decoded answer (decoded false when none came).
    Answer ask(const Peer &peer, const Request &request) const {
        const Bytes bytes = encode(request);
        peer.send_to(port_, bytes.data(), bytes.size());
        std::optional<Datagram> answer = serve(peer);
        return answer ? decode(answer->bytes) : Answer{};
    }

   private:
    uint16_t port_ = 0;
};

// ---- SNMPv3 as a manager of this system speaks it ----

struct V3User {
    std::string name;
    uint8_t auth_proto = SNMP_V3_AUTH_NONE;
    std::string auth_pass;
    uint8_t priv_proto = SNMP_V3_PRIV_NONE;
    std::string priv_pass;
};

// The engine a discovery Report told about.
struct Engine {
    Bytes id;
    uint32_t boots = 0;
    uint32_t time = 0;
};

// Keys of a user localized for an engine (its ID and boots; the engine time is not part of the
// localization), in the record the codec's security processing reads.
inline snmp_v3_user localized(const V3User &user, const Engine &engine) {
    snmp_v3_user record{};
    record.enabled = 1;
    record.user_len = static_cast<uint8_t>(user.name.size());
    std::memcpy(record.username, user.name.data(), user.name.size());
    record.auth_proto = user.auth_proto;
    record.priv_proto = user.priv_proto;
    snmp_v3_usm usm{};
    std::memcpy(usm.engine_id, engine.id.data(), engine.id.size());
    usm.engine_id_len = static_cast<uint16_t>(engine.id.size());
    usm.engine_boots = engine.boots;
    usm.auth_proto = user.auth_proto;
    usm.priv_proto = user.priv_proto;
    if (user.auth_proto != SNMP_V3_AUTH_NONE) {
        record.auth_key_len = snmpv3_get_key_length(user.auth_proto, 1);
        EXPECT_EQ(snmp_v3_generate_auth_key(&usm, reinterpret_cast<const uint8_t *>(user.auth_pass.data()),
                                            static_cast<uint8_t>(user.auth_pass.size()), record.auth_key,
                                            record.auth_key_len),
                  1);
    }
    if (user.priv_proto != SNMP_V3_PRIV_NONE) {
        record.priv_key_len = snmpv3_get_key_length(user.priv_proto, 0);
        EXPECT_EQ(snmp_v3_generate_priv_key(&usm, reinterpret_cast<const uint8_t *>(user.priv_pass.data()),
                                            static_cast<uint8_t>(user.priv_pass.size()), record.priv_key,
                                            record.priv_key_len),
                  1);
    }
    return record;
}

// An empty discovery message (reportable, no security parameters) with the given msgID.
inline Bytes discovery_message(uint32_t msg_id, const std::vector<std::string> &oids = {}) {
    snmp_message msg{};
    msg.version = SNMP_VERSION_3;
    msg.msg_id = msg_id;
    msg.msg_flags = SNMP_V3_FLAG_REPORTABLE;
    msg.pdu.op = SNMP_OP_GET;
    for (const std::string &oid : oids) {
        msg.pdu.varbinds[msg.pdu.varbind_count++] = null_binding(oid);
    }
    const snmp_v3_user no_user{};
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    EXPECT_EQ(
        snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), &no_user, &msg, &len),
        SNMP_OK);
    out.resize(len);
    return out;
}

// An authenticated (and, with a privacy algorithm, encrypted) command of the user.
inline Bytes v3_command(const V3User &user, const snmp_v3_user &keys, const Engine &engine, uint32_t op,
                        uint32_t msg_id, const std::vector<snmp_varbind> &bindings,
                        uint32_t non_repeaters = 0, uint32_t max_repetitions = 0) {
    Bytes out(SNMP_MAX_MSG_SIZE);
    auto len = static_cast<uint16_t>(out.size());
    EXPECT_EQ(snmp_v3_cmd_encode(op, user.name.c_str(), user.auth_proto, user.priv_proto, keys.auth_key,
                                 keys.auth_key_len, keys.priv_key, keys.priv_key_len, engine.id.data(),
                                 static_cast<uint16_t>(engine.id.size()), engine.boots, engine.time, msg_id,
                                 non_repeaters, max_repetitions, bindings.data(),
                                 static_cast<uint16_t>(bindings.size()), out.data(), &len),
              SNMP_OK);
    out.resize(len);
    return out;
}

// Decodes a v3 answer and, when it is authenticated or encrypted, checks and decrypts it.
inline Answer decode_v3(const Bytes &bytes, const snmp_v3_user *keys) {
    Answer answer = decode(bytes);
    if (!answer.decoded || keys == nullptr || answer.msg.usm.engine_id_len == 0) {
        return answer;
    }
    const int ctx = 0;
    answer.msg.usm.auth_proto = keys->auth_proto;
    answer.msg.usm.priv_proto = keys->priv_proto;
    answer.decoded = snmp_v3_process_security(bytes.data(), static_cast<uint16_t>(bytes.size()), &answer.msg,
                                              &ctx, keys) == SNMP_OK;
    return answer;
}

}  // namespace agent_core_test

#endif
