// SNMPv3 notifications at the manager, sent by the test over real UDP: traps are delivered only when
// they authenticate for a user of an agent record of the sender's address; a discovery probe to the
// trap port learns the manager's own engine, and an INFORM localised to it is acknowledged.
#include <gtest/gtest.h>

#include "codec/snmpv3_crypto.h"
#include "codec/snmpv3_ber.h"
#include "core_test_support.h"
#include "nms/core_snmpv3.h"

namespace core_test {
namespace {

constexpr char kUser[] = "alice";
constexpr char kAuthPass[] = "authpass123";
constexpr char kPrivPass[] = "privpass123";
constexpr char kTrapOid[] = "1.3.6.1.4.1.9999.0.7";
constexpr uint32_t kSenderBoots = 5;
constexpr uint32_t kSenderTime = 1000;
const Bytes kSenderEngine{0x80, 0x00, 0x1F, 0x88, 0x04, 's', 'e', 'n', 'd'};

struct Engine {
    Bytes id;
    uint32_t boots = 0;
    uint32_t time = 0;
};

// alice's keys (SHA-1, AES-128 unless told otherwise) localised to an engine, as the codec reads them.
snmp_v3_user keys_for(const Engine &engine, const std::string &name = kUser, const char *auth_pass = kAuthPass,
                      uint8_t auth = SNMP_V3_AUTH_SHA1, uint8_t priv = SNMP_V3_PRIV_AES128) {
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = static_cast<uint8_t>(name.size());
    std::memcpy(user.username, name.data(), name.size());
    user.auth_proto = auth;
    user.priv_proto = priv;
    EXPECT_EQ(snmp_v3_localize_user_keys(&user, engine.id.data(), static_cast<uint16_t>(engine.id.size()), engine.boots,
                                         reinterpret_cast<const uint8_t *>(auth_pass),
                                         static_cast<uint8_t>(std::strlen(auth_pass)),
                                         reinterpret_cast<const uint8_t *>(kPrivPass), sizeof kPrivPass - 1),
              1);
    return user;
}

Bytes v3_message(uint32_t op, const snmp_v3_user &keys, const Engine &engine, uint32_t msg_id,
                 const std::vector<snmp_varbind> &bindings) {
    static const uint8_t kNoKey[1] = {0};
    Bytes out(SNMP_MAX_MSG_SIZE);
    auto len = static_cast<uint16_t>(out.size());
    const std::string name(reinterpret_cast<const char *>(keys.username), keys.user_len);
    EXPECT_EQ(snmp_v3_cmd_encode(op, name.c_str(), keys.auth_proto, keys.priv_proto,
                                 keys.auth_key_len > 0 ? keys.auth_key : kNoKey, keys.auth_key_len,
                                 keys.priv_key_len > 0 ? keys.priv_key : kNoKey, keys.priv_key_len, engine.id.data(),
                                 static_cast<uint16_t>(engine.id.size()), engine.boots, engine.time, msg_id, 0, 0,
                                 bindings.data(), static_cast<uint16_t>(bindings.size()), out.data(), &len),
              SNMP_OK);
    out.resize(len);
    return out;
}

Bytes notification(uint32_t op, const snmp_v3_user &keys, const Engine &engine, uint32_t msg_id) {
    return v3_message(op, keys, engine, msg_id, {string_varbind(kTrapOid, "disk full")});
}

class V3NotifyTest : public CoreTest {
   protected:
    void SetUp() override {
        CoreTest::SetUp();
        trap_port_ = free_port();
        ASSERT_EQ(snmp_core_start_trap_listener(trap_port_), API_SNMP_OK);
        // The sender's agent record answers on another port than the one its notifications leave from.
        ASSERT_EQ(create_agent(free_port(), API_SNMP_V3), API_SNMP_OK);
        api_snmp_v3_user_config user{};
        std::snprintf(user.user_name, sizeof user.user_name, "%s", kUser);
        user.auth_alg = API_SNMP_AUTH_SHA1;
        user.auth_password = kAuthPass;
        user.priv_alg = API_SNMP_PRIV_AES128;
        user.priv_password = kPrivPass;
        ASSERT_EQ(core_snmpv3_user_add(kLoopback, agent_port(), &user), API_SNMP_OK);
    }

    uint16_t agent_port() const {
        api_snmp_agent_info info{};
        EXPECT_EQ(snmp_core_get_agent_list(&info, 1), 1u);
        return info.port;
    }

    // Sends and tells whether the trap callback got it.
    bool delivered(const Bytes &message) {
        const size_t before = recorder().traps().size();
        sender_.send_to(trap_port_, message);
        return recorder().wait_traps(before + 1, std::chrono::milliseconds(400));
    }

    // The manager's engine, as the Report to a discovery probe names it.
    Engine discover_manager() {
        snmp_message probe{};
        probe.version = SNMP_VERSION_3;
        probe.msg_id = 31;
        probe.msg_flags = SNMP_V3_FLAG_REPORTABLE;
        probe.pdu.op = SNMP_OP_GET;
        const snmp_v3_user no_user{};
        Bytes out(SNMP_MAX_MSG_SIZE);
        uint16_t len = 0;
        EXPECT_EQ(snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), &no_user, &probe, &len),
                  SNMP_OK);
        out.resize(len);
        sender_.send_to(trap_port_, out);
        std::optional<Datagram> reply = sender_.receive(3000);
        Engine engine;
        auto report = reply ? decode(reply->data) : nullptr;
        EXPECT_NE(report, nullptr);
        if (report != nullptr) {
            EXPECT_EQ(report->pdu.op, static_cast<uint32_t>(SNMP_OP_REPORT));
            EXPECT_EQ(report->msg_id, 31u);
            EXPECT_EQ(snmp_v3_verdict_of_oid(&report->pdu.varbinds[0].oid), SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID);
            engine = {Bytes(report->usm.engine_id, report->usm.engine_id + report->usm.engine_id_len),
                      report->usm.engine_boots, report->usm.engine_time};
        }
        return engine;
    }

    uint16_t trap_port_ = 0;
    UdpPeer sender_;
};

TEST_F(V3NotifyTest, TrapsAreDeliveredOnlyWhenTheyAuthenticate) {
    const Engine sender{kSenderEngine, kSenderBoots, kSenderTime};
    const snmp_v3_user good = keys_for(sender);
    ASSERT_TRUE(delivered(notification(SNMP_OP_TRAP, good, sender, 1)));
    const TrapRecord trap = recorder().traps().back();
    EXPECT_EQ(trap.version, static_cast<uint32_t>(API_SNMP_V3));
    EXPECT_EQ(trap.community, kUser);
    EXPECT_EQ(trap.port, sender_.port());
    ASSERT_EQ(trap.var_count, 1);
    EXPECT_STREQ(trap.varbinds[0].oid, kTrapOid);

    const Engine older{kSenderEngine, kSenderBoots - 1, kSenderTime};
    const Engine stale{kSenderEngine, kSenderBoots, kSenderTime - SNMP_V3_TIME_WINDOW_S - 10};
    struct Case {
        const char *name;
        Bytes message;
    };
    const std::vector<Case> refused = {
        {"wrong key", notification(SNMP_OP_TRAP, keys_for(sender, kUser, "guessedpassword"), sender, 2)},
        {"unknown user", notification(SNMP_OP_TRAP, keys_for(sender, "mallory"), sender, 3)},
        {"no authentication", notification(SNMP_OP_TRAP, keys_for(sender, kUser, kAuthPass, 0, 0), sender, 4)},
        {"authentication without privacy",
         notification(SNMP_OP_TRAP, keys_for(sender, kUser, kAuthPass, SNMP_V3_AUTH_SHA1, 0), sender, 5)},
        {"older boots than the sender showed", notification(SNMP_OP_TRAP, keys_for(older), older, 6)},
        {"behind the sender's clock", notification(SNMP_OP_TRAP, good, stale, 7)},
    };
    for (const Case &c : refused) {
        EXPECT_FALSE(delivered(c.message)) << c.name;
    }
    // The sender goes on: its next trap still comes through.
    const Engine later{kSenderEngine, kSenderBoots, kSenderTime + 30};
    EXPECT_TRUE(delivered(notification(SNMP_OP_TRAP, good, later, 8)));
}

TEST_F(V3NotifyTest, InformsUseTheManagersOwnEngine) {
    const Engine manager = discover_manager();
    ASSERT_EQ(manager.id.size(), 13u);
    EXPECT_EQ(manager.id[0], 0x80);
    EXPECT_EQ(manager.boots, CORE_V3_LOCAL_BOOTS);

    const snmp_v3_user keys = keys_for(manager);
    ASSERT_TRUE(delivered(notification(SNMP_OP_INFORM, keys, manager, 41)));
    std::optional<Datagram> ack = sender_.receive(3000);
    ASSERT_TRUE(ack.has_value());
    auto answer = decode(ack->data);
    ASSERT_NE(answer, nullptr);
    int context = 0;
    ASSERT_EQ(snmp_v3_process_security(ack->data.data(), static_cast<uint16_t>(ack->data.size()), answer.get(),
                                       &context, &keys),
              SNMP_OK)
        << "the acknowledgement is authenticated and encrypted with the inform keys";
    EXPECT_EQ(answer->pdu.op, static_cast<uint32_t>(SNMP_OP_GET_RESPONSE));
    EXPECT_EQ(answer->msg_id, 41u);

    // Outside the manager's time window: an authenticated Report with its clock, and no delivery.
    Engine late = manager;
    late.time += SNMP_V3_TIME_WINDOW_S + 100;
    EXPECT_FALSE(delivered(notification(SNMP_OP_INFORM, keys, late, 42)));
    std::optional<Datagram> reply = sender_.receive(3000);
    ASSERT_TRUE(reply.has_value());
    auto report = decode(reply->data);
    ASSERT_NE(report, nullptr);
    ASSERT_EQ(snmp_v3_process_security(reply->data.data(), static_cast<uint16_t>(reply->data.size()), report.get(),
                                       &context, &keys),
              SNMP_OK);
    EXPECT_EQ(snmp_v3_verdict_of_oid(&report->pdu.varbinds[0].oid), SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW);
    EXPECT_LE(report->usm.engine_time, manager.time + 2);

    // An INFORM for another engine (the manager of an earlier run) learns the manager's engine.
    EXPECT_FALSE(delivered(notification(SNMP_OP_INFORM, keys_for({kSenderEngine, 1, 0}), {kSenderEngine, 1, 0}, 43)));
    reply = sender_.receive(3000);
    ASSERT_TRUE(reply.has_value());
    report = decode(reply->data);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(Bytes(report->usm.engine_id, report->usm.engine_id + report->usm.engine_id_len), manager.id);
}

}  // namespace
}  // namespace core_test
