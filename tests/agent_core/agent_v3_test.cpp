// The agent answering SNMPv3 over real UDP on 127.0.0.1, with the test playing the manager through
// the codec: discovery and its Report, authenticated and encrypted answers, error statuses, and
// forged requests, each answered with the Report of its usmStats counter and never executed.
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent_config.h"
#include "agent/agent_engine.h"
#include "agent/agent_mib.h"
#include "agent/agent_usm.h"
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

// ---- Attacks: datagrams made by the test, each answered with the Report of its usmStats counter
// and never executed ----

constexpr uint64_t kClockStartMs = 1'000'000'000;
constexpr uint64_t kMsPerSecond = 1000;
constexpr uint32_t kWindow = SNMP_V3_TIME_WINDOW_S;
std::atomic<uint64_t> g_fake_ms{kClockStartMs};

uint64_t fake_clock() { return g_fake_ms.load(); }

// The engine clock runs on a clock the test moves, so that minutes pass at once.
class AgentV3Attack : public AgentV3 {
   protected:
    void SetUp() override {
        agent_engine_set_clock(fake_clock);
        for (const V3User *user : {&priv_user_, &auth_user_}) {
            const agent_snmp_v3_user u = api_user(*user);
            ASSERT_EQ(agent_snmp_v3_user_add(&u), AGENT_SNMP_OK);
        }
        advance(1000);  // engine time 1000 s, so that the window reaches both ways
        engine_ = discover();
        ASSERT_EQ(engine_.time, 1000u);
    }
    void TearDown() override { agent_engine_set_clock(nullptr); }

    static void advance(uint64_t seconds) { g_fake_ms += seconds * kMsPerSecond; }

    int32_t led() const {
        snmp_varbind vb{};
        vb.oid = oid_of(kLedOid);
        EXPECT_EQ(agent_mib_get(&vb.oid, &vb), 0);
        return vb.value.integer;
    }

    // A SET of the LED under `header` (engine ID, boots, time as the message states them), signed with
    // the user's keys for the agent's real engine.
    Bytes set_led(const V3User &user, const Engine &header, int32_t value) {
        return v3_command(user, localized(user, engine_), header, SNMP_OP_SET, next_msg_id_++,
                          {integer_binding(kLedOid, value)});
    }

    std::optional<Datagram> send(const Bytes &message) {
        manager_.send_to(agent_.port(), message.data(), message.size());
        return agent_.serve(manager_, kAnswerTimeoutMs);
    }

    // The Report the agent answered an attack with: its counter's OID and value, and at which
    // security level it came (decoded with the keys of `keys` when it is authenticated).
    void expect_report(const std::optional<Datagram> &reply, const char *oid, uint8_t verdict,
                       const snmp_v3_user *keys) {
        ASSERT_TRUE(reply.has_value());
        Answer report = decode(reply->bytes);
        ASSERT_TRUE(report.decoded);
        const bool authenticated = (report.msg.msg_flags & SNMP_V3_FLAG_AUTH) != 0;
        EXPECT_EQ(authenticated, keys != nullptr);
        if (authenticated) {
            report = decode_v3(reply->bytes, keys);
            ASSERT_TRUE(report.decoded) << "the Report authenticates with the user's keys";
        }
        EXPECT_EQ(report.pdu().op, SNMP_OP_REPORT);
        EXPECT_EQ(Bytes(report.msg.usm.engine_id, report.msg.usm.engine_id + report.msg.usm.engine_id_len), engine_.id);
        ASSERT_EQ(report.pdu().varbind_count, 1);
        EXPECT_EQ(text_of(report.pdu().varbinds[0].oid), oid);
        EXPECT_EQ(report.pdu().varbinds[0].type, SNMP_TAG_COUNTER32);
        EXPECT_EQ(static_cast<uint32_t>(report.pdu().varbinds[0].value.integer), agent_usm_stat(verdict));
    }

    const V3User priv_user_{"admin", SNMP_V3_AUTH_SHA1, "adminpassword", SNMP_V3_PRIV_AES128, "adminprivacy"};
    const V3User auth_user_{"auditor", SNMP_V3_AUTH_MD5, "auditorpassword", SNMP_V3_PRIV_NONE, ""};
    Engine engine_;
};

TEST_F(AgentV3Attack, EachForgedSetGetsItsReportAndChangesNothing) {
    struct Case {
        const char *name;
        V3User user;
        Engine engine;
        const char *oid;
        uint8_t verdict;
        bool report_authenticated;
    };
    auto shifted = [this](int64_t boots, int64_t seconds) {
        Engine e = engine_;
        e.boots = static_cast<uint32_t>(e.boots + boots);
        e.time = static_cast<uint32_t>(e.time + seconds);
        return e;
    };
    Engine foreign = engine_;
    foreign.id.back() ^= 0xFF;  // another engine, as another agent with the same user would be
    V3User downgraded_priv = priv_user_;
    downgraded_priv.priv_proto = SNMP_V3_PRIV_NONE;
    V3User downgraded_auth = auth_user_;
    downgraded_auth.auth_proto = SNMP_V3_AUTH_NONE;
    V3User stranger = priv_user_;
    stranger.name = "stranger";
    V3User wrong_password = priv_user_;
    wrong_password.auth_pass = "guessedpassword";
    const std::vector<Case> cases = {
        {"foreign engine ID", priv_user_, foreign, "1.3.6.1.6.3.15.1.1.4.0", SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID, false},
        {"wrong boots", priv_user_, shifted(1, 0), "1.3.6.1.6.3.15.1.1.2.0", SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW, true},
        {"time ahead of the window", priv_user_, shifted(0, kWindow + 1), "1.3.6.1.6.3.15.1.1.2.0",
         SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW, true},
        {"time behind the window", auth_user_, shifted(0, -int64_t{kWindow} - 1), "1.3.6.1.6.3.15.1.1.2.0",
         SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW, true},
        {"authPriv user asking authNoPriv", downgraded_priv, engine_, "1.3.6.1.6.3.15.1.1.1.0",
         SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL, false},
        {"authNoPriv user asking noAuthNoPriv", downgraded_auth, engine_, "1.3.6.1.6.3.15.1.1.1.0",
         SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL, false},
        {"unknown user", stranger, engine_, "1.3.6.1.6.3.15.1.1.3.0", SNMP_V3_VERDICT_UNKNOWN_USER_NAME, false},
        {"wrong digest", wrong_password, engine_, "1.3.6.1.6.3.15.1.1.5.0", SNMP_V3_VERDICT_WRONG_DIGEST, false},
    };
    ASSERT_EQ(led(), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t before = agent_usm_stat(c.verdict);
        const snmp_v3_user keys = localized(c.user, engine_);
        expect_report(send(set_led(c.user, c.engine, 1)), c.oid, c.verdict, c.report_authenticated ? &keys : nullptr);
        EXPECT_EQ(agent_usm_stat(c.verdict), before + 1);
        EXPECT_EQ(led(), 0) << "nothing was executed";
    }
    // No refused request made its sender the current manager.
    EXPECT_FALSE(trans_get_nms_addr(&eth_trans_ctx, nullptr, nullptr));
    // Within the window both ways the same user is served.
    for (const Engine &edge : {shifted(0, kWindow), shifted(0, -int64_t{kWindow})}) {
        const snmp_v3_user keys = localized(auth_user_, engine_);
        const std::optional<Datagram> reply = send(set_led(auth_user_, edge, 0));
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(decode_v3(reply->bytes, &keys).pdu().op, SNMP_OP_GET_RESPONSE);
    }
    // An accepted request does.
    uint16_t manager_port = 0;
    EXPECT_TRUE(trans_get_nms_addr(&eth_trans_ctx, nullptr, &manager_port));
    EXPECT_EQ(manager_port, manager_.port());
}

TEST_F(AgentV3Attack, CapturedSetReplayedAfterTheWindowIsRefused) {
    const Bytes captured = set_led(priv_user_, engine_, 1);
    ASSERT_TRUE(send(captured).has_value());
    ASSERT_EQ(led(), 1);
    ASSERT_TRUE(send(set_led(priv_user_, engine_, 0)).has_value());
    ASSERT_EQ(led(), 0);

    advance(kWindow + 1);
    const snmp_v3_user keys = localized(priv_user_, engine_);
    expect_report(send(captured), "1.3.6.1.6.3.15.1.1.2.0", SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW, &keys);
    EXPECT_EQ(led(), 0);

    // A restart is a new boot: the agent's messages of the last run never match again.
    agent_snmp_stop();
    agent_snmp_start();
    const Engine restarted = discover();
    EXPECT_EQ(restarted.boots, engine_.boots + 1);
    EXPECT_EQ(restarted.time, 0u);
}

TEST_F(AgentV3Attack, ReportsOfAManagerNeverMoveTheEngineClock) {
    const snmp_v3_user keys = localized(auth_user_, engine_);
    snmp_varbind stat{};
    stat.oid = oid_of(kUsmStatsNotInTimeWindows);
    stat.type = SNMP_TAG_COUNTER32;
    for (const Engine &claimed : {Engine{engine_.id, engine_.boots + 2, 900000}, engine_}) {
        const Bytes report = v3_command(auth_user_, keys, claimed, SNMP_OP_REPORT, next_msg_id_++, {stat});
        manager_.send_to(agent_.port(), report.data(), report.size());
        EXPECT_FALSE(agent_.serve(manager_, kSilenceMs).has_value()) << "a Report is never answered";
    }
    const snmp_engine_clock clock = agent_engine_now();
    EXPECT_EQ(clock.engine_boots, engine_.boots);
    EXPECT_LE(clock.engine_time, engine_.time + 1);
}

}  // namespace
