// SNMP core, agents and the v1/v2c request cycle over real UDP on 127.0.0.1: agent table,
// request-id sequencing, the single request slot, exactly-once delivery, error statuses, wrong
// request-ids, malformed answers, flow control and local refusals.
#include <gtest/gtest.h>

#include <set>

#include "core_test_support.h"

namespace core_test {
namespace {

TEST_F(CoreTest, AgentTableCreateRemoveListAndConfig) {
    EXPECT_EQ(create_agent(1161, API_SNMP_V2C, "c1"), API_SNMP_OK);
    EXPECT_EQ(create_agent(1161, API_SNMP_V1, "c2"), API_SNMP_ERR_AGENT_EXISTS);
    EXPECT_EQ(create_agent(1162, API_SNMP_V1, "c2"), API_SNMP_OK);  // same IP, other port
    EXPECT_EQ(create_agent(1163, API_SNMP_V3), API_SNMP_OK);
    EXPECT_TRUE(snmp_core_agent_exist(kLoopback, 1162));
    EXPECT_FALSE(snmp_core_agent_exist(kLoopback, 1164));
    EXPECT_EQ(snmp_core_get_agent_count(), 3u);

    std::array<api_snmp_agent_info, 8> list{};
    ASSERT_EQ(snmp_core_get_agent_list(list.data(), static_cast<uint32_t>(list.size())), 3u);
    EXPECT_EQ(list[0].port, 1163);  // newest first
    EXPECT_EQ(list[1].port, 1162);
    EXPECT_EQ(list[2].port, 1161);
    EXPECT_STREQ(list[2].ip, kLoopback);
    EXPECT_EQ(list[2].timeout_ms, CORE_DEFAULT_TIMEOUT_MS);
    EXPECT_EQ(list[2].retries, CORE_DEFAULT_RETRIES);
    EXPECT_EQ(snmp_core_get_agent_list(list.data(), 2), 2u);
    EXPECT_EQ(snmp_core_get_agent_list(nullptr, 2), 0u);

    api_snmp_agent_config config{};
    ASSERT_EQ(snmp_core_agent_get_config(kLoopback, 1161, &config), API_SNMP_OK);
    EXPECT_EQ(config.version, static_cast<uint32_t>(API_SNMP_V2C));
    EXPECT_STREQ(config.community, "c1");
    EXPECT_EQ(snmp_core_agent_get_config(kLoopback, 1164, &config), API_SNMP_ERR_AGENT_NOT_FOUND);

    // A new SNMPv3 agent carries a provisional local engine ID until discovery.
    with_agent(1163, [](snmp_core_agent &agent) {
        EXPECT_EQ(agent.v3_engine.engine_id_len, 9);
        EXPECT_EQ(agent.v3_engine.engine_id[0], 0x80);
        EXPECT_EQ(agent.v3_engine.discovery_state, CORE_V3_NOT_DISCOVERED);
    });

    EXPECT_EQ(snmp_core_agent_remove(kLoopback, 1162), API_SNMP_OK);
    EXPECT_EQ(snmp_core_agent_remove(kLoopback, 1162), API_SNMP_ERR_AGENT_NOT_FOUND);
    EXPECT_FALSE(snmp_core_agent_exist(kLoopback, 1162));  // the index forgot it as well
    ASSERT_EQ(snmp_core_get_agent_list(list.data(), static_cast<uint32_t>(list.size())), 2u);
    EXPECT_EQ(list[0].port, 1163);
    EXPECT_EQ(list[1].port, 1161);
    EXPECT_EQ(snmp_core_agent_create(nullptr, 1, nullptr), API_SNMP_ERR_INVALID_PARAM);
}

TEST_F(CoreTest, RequestIdsStartAtARandomValueAndWrapToOne) {
    Responder agent([](const Datagram &d) { return std::vector<Bytes>{v2c_answer(d.data, "x")}; });
    Responder twin;  // created in the same second: its first id is drawn afresh
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C), API_SNMP_OK);
    ASSERT_EQ(create_agent(twin.port(), API_SNMP_V2C), API_SNMP_OK);
    int32_t twin_first = 0;
    with_agent(twin.port(), [&](snmp_core_agent &a) { twin_first = a.next_request_id; });

    ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);
    ASSERT_TRUE(recorder().wait_responses(1));
    ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);
    ASSERT_TRUE(recorder().wait_responses(2));

    std::vector<Datagram> sent = agent.received();
    ASSERT_EQ(sent.size(), 2u);
    int32_t first = request_id_of(sent[0].data);
    EXPECT_GT(first, 0);
    EXPECT_GT(twin_first, 0);
    EXPECT_NE(first, twin_first);
    EXPECT_EQ(request_id_of(sent[1].data), first + 1);
    auto responses = recorder().responses();
    EXPECT_EQ(responses[0].response.request_id, static_cast<uint32_t>(first));
    EXPECT_EQ(responses[1].response.request_id, static_cast<uint32_t>(first + 1));

    with_agent(agent.port(), [](snmp_core_agent &a) { a.next_request_id = INT32_MAX; });
    ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);
    ASSERT_TRUE(recorder().wait_responses(3));
    ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);
    ASSERT_TRUE(recorder().wait_responses(4));
    sent = agent.received();
    EXPECT_EQ(request_id_of(sent[2].data), INT32_MAX);
    EXPECT_EQ(request_id_of(sent[3].data), 1);
}

TEST_F(CoreTest, OneOutstandingRequestPerAgentAndExactlyOnceDelivery) {
    Responder agent;  // silent until the test answers by hand
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C), API_SNMP_OK);
    int token1 = 1;
    int token2 = 2;
    ASSERT_EQ(send_get(agent.port(), &token1), API_SNMP_OK);
    ASSERT_TRUE(agent.wait_count(1));

    // The slot is taken: nothing is sent, no callback is made.
    EXPECT_EQ(send_get(agent.port(), &token2), API_SNMP_ERR_IN_PROGRESS);
    api_snmp_varbind vb = get_varbind();
    EXPECT_EQ(snmp_core_send_bulk_cmd(API_SNMP_CMD_GETBULK, kLoopback, agent.port(), nullptr, 0, 5, &vb, 1, &token2),
              API_SNMP_ERR_IN_PROGRESS);

    // The callback issues the next request itself (the core holds no lock while calling back).
    std::atomic<int> reentrant_result{-1};
    recorder().on_response_hook = [&](const ResponseRecord &r) {
        if (r.user_data == &token1) {
            reentrant_result = send_get(agent.port(), &token2);
        }
    };
    Datagram request = agent.received()[0];
    Bytes answer = v2c_answer(request.data, "first");
    agent.peer().send_to(request.from_port, answer);
    agent.peer().send_to(request.from_port, answer);  // a duplicate of the same answer

    ASSERT_TRUE(recorder().wait_responses(1));
    ASSERT_TRUE(agent.wait_count(2));  // the request sent from inside the callback
    ASSERT_TRUE(wait_until([&] { return reentrant_result.load() != -1; }));
    EXPECT_EQ(reentrant_result.load(), API_SNMP_OK);
    Datagram second = agent.received()[1];
    agent.peer().send_to(second.from_port, v2c_answer(second.data, "second"));
    ASSERT_TRUE(recorder().wait_responses(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto responses = recorder().responses();
    ASSERT_EQ(responses.size(), 2u);  // the duplicate was not delivered again
    EXPECT_EQ(responses[0].user_data, &token1);
    EXPECT_EQ(responses[0].cmd, API_SNMP_CMD_RESPONSE);
    EXPECT_EQ(responses[0].user, "");
    EXPECT_EQ(responses[0].port, agent.port());
    EXPECT_EQ(responses[0].response.error, static_cast<uint32_t>(API_SNMP_OK));
    ASSERT_EQ(responses[0].response.var_count, 1);
    EXPECT_STREQ(responses[0].response.varbinds[0].oid, "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(std::string(responses[0].response.varbinds[0].value.str, responses[0].response.varbinds[0].value_len),
              "first");
    EXPECT_EQ(responses[1].user_data, &token2);
    EXPECT_EQ(agent.count(), 2u);
}

TEST_F(CoreTest, ErrorStatusAndWrongRequestId) {
    std::atomic<bool> wrong_id{false};
    Responder agent([&](const Datagram &d) {
        if (wrong_id.load()) {
            return std::vector<Bytes>{v2c_answer(d.data, "late", 0, request_id_of(d.data) - 1)};
        }
        return std::vector<Bytes>{v2c_answer(d.data, "", 2)};
    });
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C), API_SNMP_OK);

    ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);
    ASSERT_TRUE(recorder().wait_responses(1));
    EXPECT_EQ(recorder().responses()[0].response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(recorder().responses()[0].response.error_status, 2u);

    // An answer with another request-id is dropped with a DEBUG line; the request stays outstanding.
    wrong_id = true;
    snmp_core_set_log_level(AGENT_LOG_DEBUG);
    testing::internal::CaptureStdout();
    ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);
    ASSERT_TRUE(agent.wait_count(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string log = testing::internal::GetCapturedStdout();
    snmp_core_set_log_level(AGENT_LOG_WARN);
    EXPECT_NE(log.find("[DEBUG] snmp_core_handle_response: 请求ID不匹配"), std::string::npos) << log;
    EXPECT_EQ(recorder().responses().size(), 1u);
    EXPECT_EQ(send_get(agent.port()), API_SNMP_ERR_IN_PROGRESS);
    with_agent(agent.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.pending, 1);
        EXPECT_GT(a.last_packet_len, 0u);
    });
}

TEST_F(CoreTest, LocalRefusalsOfV1V2Requests) {
    Responder agent([](const Datagram &d) { return std::vector<Bytes>{v2c_answer(d.data, "x")}; });
    Responder v1([](const Datagram &) { return std::vector<Bytes>{}; });
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C, ""), API_SNMP_OK);
    ASSERT_EQ(create_agent(v1.port(), API_SNMP_V1, "pub lic"), API_SNMP_OK);
    api_snmp_varbind vbs[2] = {get_varbind(), get_varbind("1.3.6.1.2.1.1.5.0")};

    EXPECT_EQ(send_get(agent.port()), API_SNMP_ERR_INVALID_PARAM);  // empty community
    EXPECT_EQ(send_get(v1.port()), API_SNMP_ERR_INVALID_PARAM);     // community with a blank
    EXPECT_EQ(send_get(4444), API_SNMP_ERR_AGENT_NOT_FOUND);
    EXPECT_EQ(snmp_core_send_cmd(API_SNMP_CMD_GET, kLoopback, agent.port(), nullptr, vbs, 11, nullptr),
              API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(snmp_core_send_cmd(API_SNMP_CMD_GET, kLoopback, agent.port(), nullptr, nullptr, 1, nullptr),
              API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(snmp_core_send_cmd(API_SNMP_CMD_GETBULK, kLoopback, v1.port(), nullptr, vbs, 1, nullptr),
              API_SNMP_ERR_VERSION_MISMATCH);
    EXPECT_EQ(snmp_core_send_bulk_cmd(API_SNMP_CMD_GETBULK, kLoopback, v1.port(), nullptr, 0, 5, vbs, 1, nullptr),
              API_SNMP_ERR_VERSION_MISMATCH);
    EXPECT_EQ(snmp_core_send_bulk_cmd(API_SNMP_CMD_GETBULK, kLoopback, agent.port(), nullptr, 3, 5, vbs, 2, nullptr),
              API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(snmp_core_send_bulk_cmd(API_SNMP_CMD_GETBULK, kLoopback, agent.port(), nullptr, 1, 0, vbs, 2, nullptr),
              API_SNMP_ERR_INVALID_PARAM);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(agent.count() + v1.count(), 0u);
    EXPECT_TRUE(recorder().responses().empty());

    // A Counter64 in an SNMPv1 SET fails in the encoder: refused, nothing outstanding, outcome
    // reported.
    ASSERT_EQ(snmp_core_agent_remove(kLoopback, v1.port()), API_SNMP_OK);
    ASSERT_EQ(create_agent(v1.port(), API_SNMP_V1, "public"), API_SNMP_OK);
    int token = 0;
    api_snmp_varbind counter64 = get_varbind();
    counter64.type = API_SNMP_BER_COUNTER64;
    EXPECT_EQ(snmp_core_send_cmd(API_SNMP_CMD_SET, kLoopback, v1.port(), nullptr, &counter64, 1, &token),
              API_SNMP_ERR_NOT_SUPPORTED);
    ASSERT_EQ(recorder().responses().size(), 1u);
    EXPECT_EQ(recorder().responses()[0].response.error, static_cast<uint32_t>(API_SNMP_ERR_NOT_SUPPORTED));
    EXPECT_EQ(recorder().responses()[0].user_data, &token);
    with_agent(v1.port(), [](snmp_core_agent &a) {
        EXPECT_EQ(a.pending, 0);
        EXPECT_EQ(a.pending_request_id, 0u);
    });
    EXPECT_EQ(send_get(v1.port()), API_SNMP_OK);  // the slot is free again

    // A GET-BULK stores its parameters with the agent and goes out with them.
    ASSERT_EQ(snmp_core_agent_remove(kLoopback, agent.port()), API_SNMP_OK);
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C, "public"), API_SNMP_OK);
    ASSERT_EQ(snmp_core_send_bulk_cmd(API_SNMP_CMD_GETBULK, kLoopback, agent.port(), "ignored", 1, 7, vbs, 2, nullptr),
              API_SNMP_OK);
    ASSERT_TRUE(agent.wait_count(1));
    auto bulk = decode(agent.received()[0].data);
    ASSERT_NE(bulk, nullptr);
    EXPECT_EQ(bulk->pdu.op, static_cast<uint32_t>(SNMP_OP_GETBULK));
    EXPECT_EQ(bulk->pdu.non_repeaters, 1u);
    EXPECT_EQ(bulk->pdu.max_repetitions, 7u);
    EXPECT_EQ(community_of(*bulk), "public");
}

TEST_F(CoreTest, FlowControlAllowsThreeHundredRequestsPerSecond) {
    Responder agent;
    ASSERT_EQ(create_agent(agent.port(), API_SNMP_V2C), API_SNMP_OK);
    wait_next_second();
    int64_t second = platform_get_utc_seconds();
    for (uint32_t i = 0; i < CORE_FLOW_LIMIT_PER_SECOND - 1; ++i) {
        ASSERT_TRUE(snmp_core_flow_allow()) << i;
    }
    ASSERT_EQ(send_get(agent.port()), API_SNMP_OK);  // the 300th of this second
    ASSERT_TRUE(agent.wait_count(1));
    with_agent(agent.port(), [](snmp_core_agent &a) { a.pending = 0; });
    EXPECT_EQ(send_get(agent.port()), API_SNMP_ERR_NO_RESOURCE);  // the 301st
    EXPECT_FALSE(snmp_core_flow_allow());
    ASSERT_EQ(platform_get_utc_seconds(), second) << "the machine was too slow for this window";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(agent.count(), 1u);
    with_agent(agent.port(), [](snmp_core_agent &a) { EXPECT_EQ(a.pending, 0); });

    wait_next_second();
    EXPECT_EQ(send_get(agent.port()), API_SNMP_OK);  // a new second, a new window
    ASSERT_TRUE(agent.wait_count(2));
    wait_next_second();  // leave a fresh window to the tests that follow
}

TEST_F(CoreTest, TrapListenerStartsOnceAndRefusesABusyPort) {
    uint16_t port = free_port();
    EXPECT_EQ(snmp_core_start_trap_listener(port), API_SNMP_OK);
    EXPECT_EQ(snmp_core_start_trap_listener(port), API_SNMP_OK);
    snmp_core_stop_trap_listener();
    snmp_core_stop_trap_listener();
    UdpPeer busy;
    EXPECT_EQ(snmp_core_start_trap_listener(busy.port()), API_SNMP_ERR_NETWORK);
    EXPECT_EQ(snmp_core_start_trap_listener(port), API_SNMP_OK);
}

TEST_F(CoreTest, SettingsAndOidRule) {
    EXPECT_EQ(snmp_core_mib_load("/no/such/file.mib"), API_SNMP_OK);
    EXPECT_EQ(snmp_core_mib_load(""), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(snmp_core_mib_load(nullptr), API_SNMP_ERR_INVALID_PARAM);

    EXPECT_TRUE(snmp_core_oid_validate("1.3.6.1.2.1.1.1.0"));
    EXPECT_TRUE(snmp_core_oid_validate("2.999.4294967295"));
    EXPECT_TRUE(snmp_core_oid_validate("0.0"));
    EXPECT_FALSE(snmp_core_oid_validate("3.6.1"));
    EXPECT_FALSE(snmp_core_oid_validate("1.3.4294967296"));
    EXPECT_FALSE(snmp_core_oid_validate("1.3.00000000000000000001"));  // 20 digits
    EXPECT_TRUE(snmp_core_oid_validate("1.3.0000000000000000001"));    // 19 digits
    EXPECT_FALSE(snmp_core_oid_validate("1..3"));
    EXPECT_FALSE(snmp_core_oid_validate(""));
    EXPECT_FALSE(snmp_core_oid_validate(nullptr));

    testing::internal::CaptureStdout();
    snmp_core_set_log_level(AGENT_LOG_INFO);
    snmp_core_set_log_level(AGENT_LOG_WARN);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("snmp_core_set_log_level: 日志级别设置为：1"), std::string::npos) << log;
}

TEST(CoreLifecycle, TickRefusedWhileStoppedAndInitIsIdempotent) {
    EXPECT_EQ(core_snmp_1ms_timer_tick(), API_SNMP_ERR_INIT_FAILED);
    ASSERT_EQ(snmp_core_init(), API_SNMP_OK);
    EXPECT_EQ(snmp_core_init(), API_SNMP_OK);
    EXPECT_EQ(core_snmp_1ms_timer_tick(), API_SNMP_OK);
    ASSERT_EQ(create_agent(2161, API_SNMP_V2C), API_SNMP_OK);
    snmp_core_destroy();
    EXPECT_FALSE(snmp_core_is_running());
    ASSERT_EQ(snmp_core_init(), API_SNMP_OK);
    EXPECT_EQ(snmp_core_get_agent_count(), 0u);  // destroy freed every agent
    snmp_core_destroy();
    snmp_core_destroy();
}

}  // namespace
}  // namespace core_test
