// The agent answering SNMPv3 over real UDP on 127.0.0.1, with the test playing the manager through
// the codec: discovery and its Report, users and keys on demand, authenticated and encrypted
// answers at the request's security level, error statuses, and what is dropped silently.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent_config.h"
#include "agent/snmpv3_user_mgr.h"
#include "base/platform.h"
#include "tests/agent_core/agent_core_support.h"

namespace {

using namespace agent_core_test;

constexpr const char *kUsmStatsUnknownEngineIds = "1.3.6.1.6.3.15.1.1.4.0";
constexpr const char *kUsmStatsNotInTimeWindows = "1.3.6.1.6.3.15.1.1.2.0";
constexpr uint32_t kWrongValue = 10;

agent_snmp_v3_user api_user(const V3User &user) {
    agent_snmp_v3_user u{};
    std::strcpy(u.username, user.name.c_str());
    u.auth_proto = user.auth_proto;
    std::strcpy(u.auth_pass, user.auth_pass.c_str());
    u.priv_proto = user.priv_proto;
    std::strcpy(u.priv_pass, user.priv_pass.c_str());
    return u;
}

class AgentV3 : public testing::Test {
   protected:
    // Sends a discovery message and returns the engine its Report names.
    Engine discover() {
        const Bytes probe = discovery_message(next_msg_id_++);
        manager_.send_to(agent_.port(), probe.data(), probe.size());
        const std::optional<Datagram> reply = agent_.serve(manager_);
        EXPECT_TRUE(reply.has_value());
        Engine engine;
        if (reply) {
            const Answer report = decode(reply->bytes);
            engine.id.assign(report.msg.usm.engine_id,
                             report.msg.usm.engine_id + report.msg.usm.engine_id_len);
            engine.boots = report.msg.usm.engine_boots;
            engine.time = report.msg.usm.engine_time;
        }
        return engine;
    }

    std::optional<Datagram> command(const V3User &user, const snmp_v3_user &keys, const Engine &engine,
                                    uint32_t op, const std::vector<snmp_varbind> &bindings,
                                    uint32_t max_repetitions = 0, int timeout_ms = kAnswerTimeoutMs) {
        last_msg_id_ = next_msg_id_++;
        const Bytes message = v3_command(user, keys, engine, op, last_msg_id_, bindings, 0, max_repetitions);
        manager_.send_to(agent_.port(), message.data(), message.size());
        return agent_.serve(manager_, timeout_ms);
    }

    AgentUnderTest agent_;
    Peer manager_;
    uint32_t next_msg_id_ = 5000;
    uint32_t last_msg_id_ = 0;
};

TEST_F(AgentV3, DiscoveryIsAnsweredWithAReportNamingTheLocalEngine) {
    const Bytes probe = discovery_message(777);
    manager_.send_to(agent_.port(), probe.data(), probe.size());
    std::optional<Datagram> reply = agent_.serve(manager_);
    ASSERT_TRUE(reply.has_value());
    Answer report = decode(reply->bytes);
    ASSERT_TRUE(report.decoded);
    EXPECT_EQ(report.msg.version, SNMP_VERSION_3);
    EXPECT_EQ(report.msg.msg_id, 777u);
    EXPECT_EQ(report.msg.msg_flags & (SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_PRIV), 0);
    EXPECT_EQ(Bytes(report.msg.usm.engine_id, report.msg.usm.engine_id + report.msg.usm.engine_id_len),
              Bytes(std::begin(kEngineId), std::end(kEngineId)));
    EXPECT_EQ(report.msg.usm.user_len, 0);
    EXPECT_EQ(report.pdu().op, SNMP_OP_REPORT);
    EXPECT_EQ(report.pdu().error_status, 0u);
    ASSERT_EQ(report.pdu().varbind_count, 1);
    EXPECT_EQ(text_of(report.pdu().varbinds[0].oid), kUsmStatsUnknownEngineIds);
    EXPECT_EQ(report.pdu().varbinds[0].type, SNMP_TAG_COUNTER32);
    EXPECT_EQ(report.pdu().varbinds[0].value.integer, 1);
    EXPECT_EQ(Bytes(report.pdu().context_engine_id,
                    report.pdu().context_engine_id + report.pdu().context_engine_id_len),
              Bytes(std::begin(kEngineId), std::end(kEngineId)));

    // A discovery message with bindings gets each of them back as NULL.
    const Bytes with_oids = discovery_message(778, {kSysDescrOid, kTempOid});
    manager_.send_to(agent_.port(), with_oids.data(), with_oids.size());
    reply = agent_.serve(manager_);
    ASSERT_TRUE(reply.has_value());
    report = decode(reply->bytes);
    ASSERT_EQ(report.pdu().varbind_count, 2);
    EXPECT_EQ(text_of(report.pdu().varbinds[1].oid), kTempOid);
    EXPECT_EQ(report.pdu().varbinds[1].type, SNMP_TAG_NULL);
}

TEST_F(AgentV3, AuthenticatedAndEncryptedGetForEachAlgorithmFamily) {
    const std::vector<V3User> users = {
        {"md5des", SNMP_V3_AUTH_MD5, "md5password", SNMP_V3_PRIV_DES, "despassword"},
        {"sha1aes", SNMP_V3_AUTH_SHA1, "sha1password", SNMP_V3_PRIV_AES128, "aes128password"},
        {"sha256aes256", SNMP_V3_AUTH_SHA256, "sha256password", SNMP_V3_PRIV_AES256, "aes256password"},
        {"fullsha3des", SNMP_V3_AUTH_SHA256_FULL, "fullpassword", SNMP_V3_PRIV_3DES, "3despassword"},
        {"authonly", SNMP_V3_AUTH_SHA1, "authonlypass", SNMP_V3_PRIV_NONE, ""},
    };
    for (const V3User &user : users) {
        const agent_snmp_v3_user u = api_user(user);
        ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
    }
    const Engine engine = discover();
    ASSERT_FALSE(engine.id.empty());
    for (const V3User &user : users) {
        SCOPED_TRACE(user.name);
        const snmp_v3_user keys = localized(user, engine);
        const std::optional<Datagram> reply =
            command(user, keys, engine, SNMP_OP_GET, {null_binding(kSysDescrOid)});
        ASSERT_TRUE(reply.has_value());
        const Answer answer = decode_v3(reply->bytes, &keys);
        ASSERT_TRUE(answer.decoded);
        EXPECT_EQ(answer.msg.msg_id, last_msg_id_);
        EXPECT_EQ((answer.msg.msg_flags & SNMP_V3_FLAG_AUTH) != 0, user.auth_proto != SNMP_V3_AUTH_NONE);
        EXPECT_EQ((answer.msg.msg_flags & SNMP_V3_FLAG_PRIV) != 0, user.priv_proto != SNMP_V3_PRIV_NONE);
        EXPECT_EQ(answer.pdu().op, SNMP_OP_GET_RESPONSE);
        ASSERT_EQ(answer.pdu().varbind_count, 1);
        EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), kSysDescrText);
    }
}

TEST_F(AgentV3, AnswerUsesTheSecurityLevelOfTheRequest) {
    const V3User full{"both", SNMP_V3_AUTH_SHA1, "bothpassword", SNMP_V3_PRIV_AES128, "bothprivacy"};
    const agent_snmp_v3_user u = api_user(full);
    ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
    const Engine engine = discover();
    // The same user asking with authentication only is answered without encryption.
    V3User auth_only = full;
    auth_only.priv_proto = SNMP_V3_PRIV_NONE;
    const snmp_v3_user keys = localized(auth_only, engine);
    const std::optional<Datagram> reply =
        command(auth_only, keys, engine, SNMP_OP_GET, {null_binding(kTempOid)});
    ASSERT_TRUE(reply.has_value());
    const Answer answer = decode_v3(reply->bytes, &keys);
    ASSERT_TRUE(answer.decoded);
    EXPECT_NE(answer.msg.msg_flags & SNMP_V3_FLAG_AUTH, 0);
    EXPECT_EQ(answer.msg.msg_flags & SNMP_V3_FLAG_PRIV, 0);
    EXPECT_EQ(answer.pdu().varbinds[0].value.integer, 25);
}

TEST_F(AgentV3, FailedSetCarriesItsErrorStatus) {
    const V3User user{"writer", SNMP_V3_AUTH_SHA256, "writerpassword", SNMP_V3_PRIV_AES192, "writerprivacy"};
    const agent_snmp_v3_user u = api_user(user);
    ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
    const Engine engine = discover();
    const snmp_v3_user keys = localized(user, engine);
    const std::optional<Datagram> reply =
        command(user, keys, engine, SNMP_OP_SET, {integer_binding(kLedOid, 2)});
    ASSERT_TRUE(reply.has_value());
    const Answer answer = decode_v3(reply->bytes, &keys);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, kWrongValue);
    EXPECT_EQ(answer.pdu().error_index, 1u);
}

TEST_F(AgentV3, BulkAnswerIsNotCutToTenBindings) {
    auto read = [](agent_snmp_vb *, agent_snmp_vb *out, void *) -> int32_t {
        out->type = AGENT_SNMP_TYPE_INTEGER;
        out->value.i32 = 7;
        return 0;
    };
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (int i = 1; i <= 12; ++i) {
            list.push_back("1.3.6.1.4.1.999.1." + std::to_string(i));
        }
        return list;
    }();
    for (const std::string &name : names) {
        ASSERT_EQ(agent_snmp_mib_register(name.c_str(), 0, read, nullptr, 0, nullptr), AGENT_SNMP_OK);
    }
    const V3User user{"bulk", SNMP_V3_AUTH_MD5, "bulkpassword", SNMP_V3_PRIV_NONE, ""};
    const agent_snmp_v3_user u = api_user(user);
    ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
    const Engine engine = discover();
    const snmp_v3_user keys = localized(user, engine);
    const std::optional<Datagram> reply =
        command(user, keys, engine, SNMP_OP_GETBULK, {null_binding("1.3.6.1.4.1")}, SNMP_MAX_VARBINDS);
    ASSERT_TRUE(reply.has_value());
    const Answer answer = decode_v3(reply->bytes, &keys);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, 0u);
    EXPECT_EQ(answer.pdu().varbind_count, 12 + 3 + 1);  // 12 nodes, the sample MIB, snmpEngineID
}

TEST_F(AgentV3, UnknownUsersAndBadDigestsAreDroppedSilently) {
    const V3User user{"known", SNMP_V3_AUTH_SHA1, "rightpassword", SNMP_V3_PRIV_NONE, ""};
    const agent_snmp_v3_user u = api_user(user);
    ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
    const Engine engine = discover();

    // A forged message naming another engine comes first: it must not leave keys behind that the
    // real manager's messages would then fail with.
    Engine forged = engine;
    forged.id.back() ^= 0xFF;
    V3User forger = user;
    forger.auth_pass = "guessedpassword";
    EXPECT_FALSE(command(forger, localized(forger, forged), forged, SNMP_OP_GET, {null_binding(kSysDescrOid)},
                         0, kSilenceMs));

    V3User stranger = user;
    stranger.name = "stranger";
    EXPECT_FALSE(command(stranger, localized(stranger, engine), engine, SNMP_OP_GET,
                         {null_binding(kSysDescrOid)}, 0, kSilenceMs));

    V3User wrong_password = user;
    wrong_password.auth_pass = "wrongpassword";
    EXPECT_FALSE(command(wrong_password, localized(wrong_password, engine), engine, SNMP_OP_GET,
                         {null_binding(kSysDescrOid)}, 0, kSilenceMs));

    // Neither the discovery nor the dropped messages made their sender the current manager.
    EXPECT_FALSE(trans_get_nms_addr(&eth_trans_ctx, nullptr, nullptr));

    // The right user still gets its answer, and its sender becomes the current manager.
    const snmp_v3_user keys = localized(user, engine);
    EXPECT_TRUE(command(user, keys, engine, SNMP_OP_GET, {null_binding(kSysDescrOid)}).has_value());
    uint16_t manager_port = 0;
    EXPECT_TRUE(trans_get_nms_addr(&eth_trans_ctx, nullptr, &manager_port));
    EXPECT_EQ(manager_port, manager_.port());
}

TEST_F(AgentV3, NotInTimeWindowReportMovesTheLocalClockForward) {
    const V3User user{"clock", SNMP_V3_AUTH_MD5, "clockpassword", SNMP_V3_PRIV_NONE, ""};
    const agent_snmp_v3_user u = api_user(user);
    ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
    Engine engine = discover();
    engine.boots = 3;
    engine.time = 900000;
    const snmp_v3_user keys = localized(user, engine);
    snmp_varbind stat{};
    stat.oid = oid_of(kUsmStatsNotInTimeWindows);
    stat.type = SNMP_TAG_COUNTER32;
    // A Report is never answered.
    EXPECT_FALSE(command(user, keys, engine, SNMP_OP_REPORT, {stat}, 0, kSilenceMs).has_value());
    const uint32_t irq = platform_irq_save();  // the once-a-second callback moves the clock too
    const uint32_t boots = agent_cfg.engine_boots;
    const uint32_t time = agent_cfg.engine_time;
    platform_irq_restore(irq);
    EXPECT_EQ(boots, 3u);
    EXPECT_GE(time, 900000u);
}

}  // namespace
