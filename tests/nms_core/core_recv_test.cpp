// SNMP core, receive side: notifications (TRAP and INFORM with its acknowledgement, from created
// agents and from unknown senders) and the retransmission schedule driven by the 1 ms tick.
#include <gtest/gtest.h>

#include "core_test_support.h"
#include "nms/net_interface.h"

namespace core_test {
namespace {

class TrapTest : public CoreTest {
   protected:
    void SetUp() override {
        CoreTest::SetUp();
        trap_port_ = free_port();
        ASSERT_EQ(snmp_core_start_trap_listener(trap_port_), API_SNMP_OK);
    }
    uint16_t trap_port_ = 0;
};

TEST_F(TrapTest, TrapFromUnknownSenderIsDeliveredWithTenVarbinds) {
    UdpPeer sender;
    sender.send_to(trap_port_, v2c_notification(false, 77, "whatever", 10));  // 12 varbinds in all
    ASSERT_TRUE(recorder().wait_traps(1));
    TrapRecord trap = recorder().traps()[0];
    EXPECT_EQ(trap.ip, kLoopback);
    EXPECT_EQ(trap.port, sender.port());
    EXPECT_EQ(trap.version, static_cast<uint32_t>(API_SNMP_V2C));
    EXPECT_EQ(trap.community, "whatever");  // the community the trap carried
    EXPECT_EQ(trap.user_data, &trap_marker);
    ASSERT_EQ(trap.var_count, API_SNMP_MAX_TRAP_VARBINDS);
    EXPECT_STREQ(trap.varbinds[0].oid, "1.3.6.1.2.1.1.3.0");
    EXPECT_EQ(trap.varbinds[0].type, API_SNMP_BER_TIMETICKS);
    EXPECT_EQ(trap.varbinds[0].value.u32, 4242u);
    EXPECT_STREQ(trap.varbinds[1].oid, SNMP_TRAP_SNMP_TRAP_OID);
    EXPECT_STREQ(trap.varbinds[9].oid, "1.3.6.1.4.1.9999.1.8");
    EXPECT_FALSE(sender.receive(200).has_value());  // a trap is not acknowledged
    EXPECT_TRUE(recorder().responses().empty());
}

TEST_F(TrapTest, InformFromUnknownSenderIsAcknowledgedWithItsCommunity) {
    UdpPeer sender;
    sender.send_to(trap_port_, v2c_notification(true, 4711, "infcomm", 1));
    std::optional<Datagram> ack = sender.receive(3000);
    ASSERT_TRUE(ack.has_value());
    auto msg = decode(ack->data);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->version, SNMP_VERSION_2C);
    EXPECT_EQ(msg->pdu.op, static_cast<uint32_t>(SNMP_OP_GET_RESPONSE));
    EXPECT_EQ(msg->pdu.request_id, 4711);
    EXPECT_EQ(msg->pdu.varbind_count, 0);
    EXPECT_EQ(community_of(*msg), "infcomm");

    ASSERT_TRUE(recorder().wait_traps(1));
    EXPECT_EQ(recorder().traps()[0].community, "infcomm");
    EXPECT_EQ(recorder().traps()[0].var_count, 3);
    EXPECT_EQ(snmp_core_get_agent_count(), 0u);  // the temporary responder is gone
}

TEST_F(TrapTest, InformFromCreatedAgentKeepsItsRequestSlotAndIds) {
    UdpPeer sender;
    ASSERT_EQ(create_agent(sender.port(), API_SNMP_V2C, "agentcomm"), API_SNMP_OK);
    int32_t next_id = 0;
    with_agent(sender.port(), [&](snmp_core_agent &a) { next_id = a.next_request_id; });

    sender.send_to(trap_port_, v2c_notification(true, 99, "infcomm", 0));
    std::optional<Datagram> ack = sender.receive(3000);
    ASSERT_TRUE(ack.has_value());
    auto msg = decode(ack->data);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->pdu.request_id, 99);
    EXPECT_EQ(community_of(*msg), "infcomm");  // the INFORM's community, not the agent's

    ASSERT_TRUE(recorder().wait_traps(1));
    EXPECT_EQ(recorder().traps()[0].community, "infcomm");  // not the agent record's "agentcomm"
    EXPECT_EQ(snmp_core_get_agent_count(), 1u);
    with_agent(sender.port(), [&](snmp_core_agent &a) {
        EXPECT_EQ(a.next_request_id, next_id);
        EXPECT_EQ(a.pending, 0);
    });
}

TEST_F(TrapTest, InformWithoutTrapCallbackIsNeitherAcknowledgedNorDelivered) {
    snmp_core_register_trap_callback(nullptr, nullptr);
    UdpPeer sender;
    sender.send_to(trap_port_, v2c_notification(true, 5, "public", 0));
    EXPECT_FALSE(sender.receive(500).has_value());
    EXPECT_TRUE(recorder().traps().empty());
}

TEST_F(TrapTest, AnswersFromUnknownSendersAreDropped) {
    UdpPeer stranger;
    stranger.send_to(trap_port_, v1v2_message(SNMP_VERSION_2C, SNMP_OP_GET_RESPONSE, 1, "public", {}));
    stranger.send_to(trap_port_, v2c_notification(false, 2, "public", 0));  // marks the end
    ASSERT_TRUE(recorder().wait_traps(1));
    EXPECT_TRUE(recorder().responses().empty());
}

// Forged answers to an outstanding GET: each is dropped and leaves the request outstanding, so that
// the agent's own answer still completes it.
TEST_F(TrapTest, ForgedResponsesAreDroppedAndTheRequestStaysOutstanding) {
    enum class To { kRequestSocket, kTrapSocket, kDynamicSocket };
    struct Forgery {
        const char *name;
        bool from_agent;  // from the agent's address and port, else from another port
        To to;
        std::function<std::vector<Bytes>(const Bytes &request)> make;
    };
    auto forged_value = [](const Bytes &request) {
        return std::vector<Bytes>{v2c_answer(request, "forged")};
    };
    const int64_t now = platform_get_utc_seconds();
    const std::vector<Forgery> forgeries = {
        {"right answer to the trap socket", true, To::kTrapSocket, forged_value},
        {"right answer to the dynamic socket", true, To::kDynamicSocket, forged_value},
        {"right answer from another port", false, To::kRequestSocket, forged_value},
        {"ids guessed around the time of creation", true, To::kRequestSocket,
         [now](const Bytes &request) {
             std::vector<Bytes> guesses;
             for (int64_t id = now - 8; id <= now + 8; ++id) {
                 guesses.push_back(v2c_answer(request, "forged", 0, static_cast<int32_t>(id)));
             }
             return guesses;
         }},
        {"wrong community", true, To::kRequestSocket,
         [](const Bytes &request) {
             return std::vector<Bytes>{v1v2_message(SNMP_VERSION_2C, SNMP_OP_GET_RESPONSE,
                                                    request_id_of(request), "forged",
                                                    {string_varbind("1.3.6.1.2.1.1.1.0", "forged")})};
         }},
        {"undecodable bytes", true, To::kRequestSocket,
         [](const Bytes &) {
             return std::vector<Bytes>{Bytes{0x30, 0x05, 0x02, 0x01}};
         }},
    };
    Responder agent;  // answers only by hand
    UdpPeer stranger;
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C), API_SNMP_OK);
    const uint16_t ports[] = {0, trap_port_, eth_dynamic_port()};
    for (const Forgery &forgery : forgeries) {
        SCOPED_TRACE(forgery.name);
        recorder().reset();
        const size_t sent_before = agent.count();
        ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);
        ASSERT_TRUE(agent.wait_count(sent_before + 1));
        const Datagram request = agent.received().back();
        const uint16_t to =
            forgery.to == To::kRequestSocket ? request.from_port : ports[static_cast<int>(forgery.to)];
        const UdpPeer &from = forgery.from_agent ? agent.peer() : stranger;
        for (const Bytes &datagram : forgery.make(request.data)) {
            from.send_to(to, datagram);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(recorder().responses().empty());
        with_agent(agent.port(), [](snmp_core_agent &a) { EXPECT_EQ(a.pending, 1); });

        agent.peer().send_to(request.from_port, v2c_answer(request.data, "genuine"));
        ASSERT_TRUE(recorder().wait_responses(1));
        const ResponseRecord answer = recorder().responses()[0];
        const api_snmp_varbind &vb = answer.response.varbinds[0];
        EXPECT_EQ(std::string(vb.value.str, vb.value_len), "genuine");
    }
}

// The one slow test: the default schedule takes 16 seconds.
TEST_F(CoreTest, UnansweredRequestIsSentFourTimesThenTimesOut) {
    Responder agent;  // never answers
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C), API_SNMP_OK);
    int token = 0;
    std::atomic<int> reentrant_result{-1};
    recorder().on_response_hook = [&](const ResponseRecord &) {
        // Runs on the timer thread; a new request from here must neither deadlock nor be refused.
        reentrant_result = send_get(agent.port());
    };
    TickDriver ticks;
    Clock::time_point start = Clock::now();
    ASSERT_EQ(send_get(agent.port(), &token), API_SNMP_OK);

    ASSERT_TRUE(recorder().wait_responses(1, std::chrono::seconds(25)));
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    ResponseRecord timeout = recorder().responses()[0];
    EXPECT_EQ(timeout.response.error, static_cast<uint32_t>(API_SNMP_ERR_TIMEOUT));
    EXPECT_EQ(timeout.response.error_status, API_SNMP_ERROR_STATUS_LOCAL);
    EXPECT_EQ(timeout.response.var_count, 0);
    EXPECT_EQ(timeout.cmd, API_SNMP_CMD_GET);
    EXPECT_EQ(timeout.user, "");
    EXPECT_EQ(timeout.user_data, &token);
    EXPECT_GE(elapsed, 14000);
    EXPECT_LE(elapsed, 24000);

    std::vector<Datagram> sent = agent.received();
    ASSERT_GE(sent.size(), 4u);
    int32_t id = request_id_of(sent[0].data);
    EXPECT_EQ(timeout.response.request_id, static_cast<uint32_t>(id));
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sent[i].data, sent[0].data) << "retransmissions repeat the stored datagram";
        if (i > 0) {
            auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(sent[i].at - sent[i - 1].at).count();
            EXPECT_GE(gap, 3000) << i;
            EXPECT_LE(gap, 6500) << i;
        }
    }
    ASSERT_TRUE(wait_until([&] { return reentrant_result.load() != -1; }));
    EXPECT_EQ(reentrant_result.load(), API_SNMP_OK);
    ASSERT_TRUE(agent.wait_count(5));  // the request made from the callback went out
    EXPECT_EQ(request_id_of(agent.received()[4].data), id + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(recorder().responses().size(), 1u);
}

}  // namespace
}  // namespace core_test
