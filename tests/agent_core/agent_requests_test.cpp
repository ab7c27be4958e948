// The agent answering v1 and v2c requests over real UDP on 127.0.0.1: GET, GETNEXT, GETBULK and SET
// against the system nodes and the sample device MIB, communities, error statuses, and what is not
// answered at all.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent.h"
#include "agent/agent_trap.h"
#include "agent/tps.h"
#include "tests/agent_core/agent_core_support.h"

namespace {

using namespace agent_core_test;

constexpr uint32_t kNoSuchName = 2;
constexpr uint32_t kBadValue = 3;
constexpr uint32_t kGenErr = 5;
constexpr uint32_t kNoAccess = 6;
constexpr uint32_t kWrongType = 7;
constexpr uint32_t kWrongValue = 10;
constexpr uint32_t kNoCreation = 11;
constexpr uint32_t kCommitFailed = 14;
constexpr uint32_t kNotWritable = 17;

class AgentRequests : public testing::Test {
   protected:
    void TearDown() override { user_mib_simulate_hw(25, 0, 500); }

    AgentUnderTest agent_;
    Peer manager_;
};

TEST_F(AgentRequests, V2cGetAnswersSystemAndSampleNodes) {
    Request request = get_request(SNMP_VERSION_2C, kReadWrite, {kSysDescrOid, kTempOid, kFanOid, kLedOid});
    request.request_id = 4242;
    const Answer answer = agent_.ask(manager_, request);
    ASSERT_TRUE(answer.decoded);
    const snmp_pdu &pdu = answer.pdu();
    EXPECT_EQ(answer.msg.version, SNMP_VERSION_2C);
    EXPECT_EQ(pdu.op, SNMP_OP_GET_RESPONSE);
    EXPECT_EQ(pdu.request_id, 4242);
    EXPECT_EQ(pdu.error_status, 0u);
    ASSERT_EQ(pdu.varbind_count, 4);
    EXPECT_EQ(pdu.varbinds[0].type, SNMP_TAG_OCTET_STRING);
    EXPECT_EQ(octets_of(pdu.varbinds[0]), kSysDescrText);
    EXPECT_EQ(pdu.varbinds[1].type, SNMP_TAG_INTEGER);
    EXPECT_EQ(pdu.varbinds[1].value.integer, 25);
    EXPECT_EQ(pdu.varbinds[2].type, SNMP_TAG_GAUGE32);
    EXPECT_EQ(static_cast<uint32_t>(pdu.varbinds[2].value.integer), 5000u);
    EXPECT_EQ(pdu.varbinds[3].value.integer, 0);
    EXPECT_EQ(text_of(pdu.varbinds[3].oid), kLedOid);
}

TEST_F(AgentRequests, CommunitiesDecideWhoMayReadAndWrite) {
    // An unknown community is answered with noSuchName, error-index 0 and no bindings.
    Answer answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, "guess", {kSysDescrOid}));
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, kNoSuchName);
    EXPECT_EQ(answer.pdu().error_index, 0u);
    EXPECT_EQ(answer.pdu().varbind_count, 0);

    // The read-only community may not write: noAccess, error-index 1, and the LED stays off.
    Request set = get_request(SNMP_VERSION_2C, kReadOnly, {}, SNMP_OP_SET);
    set.bindings.push_back(integer_binding(kLedOid, 1));
    answer = agent_.ask(manager_, set);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, kNoAccess);
    EXPECT_EQ(answer.pdu().error_index, 1u);
    EXPECT_EQ(answer.pdu().varbind_count, 0);
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kLedOid}));
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().varbinds[0].value.integer, 0);

    // The read-write community reads too; a community that only shares a prefix is unknown.
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_1, kReadWrite, {kSysDescrOid}));
    EXPECT_EQ(answer.pdu().error_status, 0u);
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_1, "publi", {kSysDescrOid}));
    EXPECT_EQ(answer.pdu().error_status, kNoSuchName);
}

TEST_F(AgentRequests, GetOfAnUnknownObjectDiffersBetweenV1AndV2c) {
    // v1: the failing binding is an empty OCTET STRING, noSuchName with its position.
    Answer answer =
        agent_.ask(manager_, get_request(SNMP_VERSION_1, kReadOnly, {kSysDescrOid, "1.3.6.1.4.1.999.1"}));
    ASSERT_TRUE(answer.decoded);
    ASSERT_EQ(answer.pdu().varbind_count, 2);
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), kSysDescrText);
    EXPECT_EQ(answer.pdu().varbinds[1].type, SNMP_TAG_OCTET_STRING);
    EXPECT_EQ(answer.pdu().varbinds[1].value_len, 0);
    EXPECT_EQ(answer.pdu().error_status, kNoSuchName);
    EXPECT_EQ(answer.pdu().error_index, 2u);

    // v2c: the missing object carries noSuchObject, without an error; the bindings after it are
    // still read.
    answer = agent_.ask(manager_,
                        get_request(SNMP_VERSION_2C, kReadOnly, {"1.3.6.1.4.1.999.1", kSysDescrOid}));
    ASSERT_TRUE(answer.decoded);
    ASSERT_EQ(answer.pdu().varbind_count, 2);
    EXPECT_EQ(answer.pdu().varbinds[0].type, SNMP_TAG_NO_SUCH_OBJECT);
    EXPECT_EQ(answer.pdu().varbinds[0].value_len, 0);
    EXPECT_EQ(octets_of(answer.pdu().varbinds[1]), kSysDescrText);
    EXPECT_EQ(answer.pdu().error_status, 0u);
}

TEST_F(AgentRequests, GetNextWalksInOidOrderAndEndsTheView) {
    // Three bindings are answered with one: the successor of the first.
    Answer answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly,
                                                     {kSysDescrOid, kTempOid, kFanOid}, SNMP_OP_GETNEXT));
    ASSERT_TRUE(answer.decoded);
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), kSysObjectIdOid);

    // From below every node: the first node with its value.
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {"1.3"}, SNMP_OP_GETNEXT));
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), kSysDescrOid);
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), kSysDescrText);

    // v2c past the last node: the requested name with endOfMibView, no error.
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kLastOid}, SNMP_OP_GETNEXT));
    ASSERT_TRUE(answer.decoded);
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), kLastOid);
    EXPECT_EQ(answer.pdu().varbinds[0].type, SNMP_TAG_END_OF_MIB_VIEW);
    EXPECT_EQ(answer.pdu().error_status, 0u);

    // v1 past the last node: noSuchName at position 1, the binding echoed.
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_1, kReadOnly, {kLastOid}, SNMP_OP_GETNEXT));
    ASSERT_TRUE(answer.decoded);
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), kLastOid);
    EXPECT_EQ(answer.pdu().varbinds[0].type, SNMP_TAG_NULL);
    EXPECT_EQ(answer.pdu().error_status, kNoSuchName);
    EXPECT_EQ(answer.pdu().error_index, 1u);
}

TEST_F(AgentRequests, GetBulkAnswersNonRepeatersThenRowsUntilTheViewEnds) {
    Request bulk =
        get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid, "1.3.6.1.4.1.12345"}, SNMP_OP_GETBULK);
    bulk.non_repeaters = 1;
    bulk.max_repetitions = 100;
    Answer answer = agent_.ask(manager_, bulk);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, 0u);
    std::vector<std::string> names;
    for (uint8_t i = 0; i < answer.pdu().varbind_count; ++i) {
        names.push_back(text_of(answer.pdu().varbinds[i].oid));
    }
    // The row in which the walk ends carries its last name with endOfMibView.
    std::vector<std::string> expected{kSysObjectIdOid, kTempOid, kLedOid, kFanOid, kEngineIdOid};
    expected.insert(expected.end(), kEngineMibOids.begin(), kEngineMibOids.end());
    expected.push_back(kLastOid);
    EXPECT_EQ(names, expected);
    EXPECT_EQ(answer.pdu().varbinds[answer.pdu().varbind_count - 1].type, SNMP_TAG_END_OF_MIB_VIEW);

    // max-repetitions 0 counts as one repetition.
    bulk = get_request(SNMP_VERSION_2C, kReadOnly, {"1.3"}, SNMP_OP_GETBULK);
    answer = agent_.ask(manager_, bulk);
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), kSysDescrOid);

    // A walk that starts at the end: its name with endOfMibView, no error.
    bulk = get_request(SNMP_VERSION_2C, kReadOnly, {kLastOid}, SNMP_OP_GETBULK);
    bulk.max_repetitions = 10;
    answer = agent_.ask(manager_, bulk);
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(answer.pdu().varbinds[0].type, SNMP_TAG_END_OF_MIB_VIEW);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), kLastOid);
    EXPECT_EQ(answer.pdu().error_status, 0u);
}

// A name whose last sub-identifier overflows 32 bits (2^32) or starts with a 0x80 octet is malformed:
// read modulo 2^32, or with the leading zero group skipped, both would name instance 0.
TEST_F(AgentRequests, OverflowingAndNonMinimalSubIdentifiersAreMalformed) {
    const Bytes five_octets = {0x81, 0x80, 0x80, 0x80, 0x00};  // 2^28; its first octet is replaced by
    const uint8_t leads[] = {0x90, 0x80};                      // 2^32, and 0 in a non-minimal form
    const std::pair<uint32_t, std::string> requests[] = {{SNMP_OP_GET, "1.3.6.1.2.1.1.1."},
                                                         {SNMP_OP_GETNEXT, "1.3.6.1.2.1.1.1."},
                                                         {SNMP_OP_SET, "1.3.6.1.2.1.1.4."}};
    for (const auto &[op, column] : requests) {
        for (const uint8_t lead : leads) {
            SCOPED_TRACE("op " + std::to_string(op) + ", lead octet " + std::to_string(lead));
            Request request = get_request(SNMP_VERSION_2C, kReadWrite, {}, op);
            const std::string name = column + "268435456";
            request.bindings.push_back(op == SNMP_OP_SET ? octets_binding(name, "forged")
                                                         : null_binding(name));
            Bytes bytes = encode(request);
            const auto at = std::search(bytes.begin(), bytes.end(), five_octets.begin(), five_octets.end());
            ASSERT_NE(at, bytes.end());
            *at = lead;
            manager_.send_to(agent_.port(), bytes.data(), bytes.size());
            const std::optional<Datagram> reply = agent_.serve(manager_);
            ASSERT_TRUE(reply.has_value());
            // As for any binding that cannot be decoded: the list ends before it, nothing is read or
            // written, and the answer names nothing.
            const Answer answer = decode(reply->bytes);
            ASSERT_TRUE(answer.decoded);
            EXPECT_EQ(answer.pdu().varbind_count, 0);
            EXPECT_EQ(answer.pdu().error_status, 0u);
        }
    }
    const Answer contact = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kSysContactOid}));
    ASSERT_TRUE(contact.decoded);
    EXPECT_NE(octets_of(contact.pdu().varbinds[0]), "forged");
}

TEST_F(AgentRequests, SetWritesTheNodeAndReportsEachFailure) {
    Request set = get_request(SNMP_VERSION_2C, kReadWrite, {}, SNMP_OP_SET);
    set.bindings = {octets_binding(kSysContactOid, "noc@example.net")};
    Answer answer = agent_.ask(manager_, set);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, 0u);
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), "noc@example.net");
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kSysContactOid}));
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), "noc@example.net");

    struct Case {
        snmp_varbind binding;
        uint32_t v2c_status;
    };
    const std::vector<Case> cases = {
        {integer_binding(kLedOid, 2), kWrongValue},              // led_write refuses the value
        {octets_binding(kLedOid, "on"), kWrongType},             // the node is an INTEGER
        {integer_binding("1.3.6.1.4.1.999.1", 1), kNoCreation},  // no such node
        {octets_binding(kSysDescrOid, "x"), kNotWritable},       // read-only node
    };
    for (const Case &c : cases) {
        set.bindings = {c.binding};
        answer = agent_.ask(manager_, set);
        ASSERT_TRUE(answer.decoded);
        EXPECT_EQ(answer.pdu().error_status, c.v2c_status) << text_of(c.binding.oid);
        EXPECT_EQ(answer.pdu().error_index, 1u);
        ASSERT_EQ(answer.pdu().varbind_count, 1);
        EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), text_of(c.binding.oid));
    }
    // v1 reports every failed write as badValue.
    set.version = SNMP_VERSION_1;
    set.bindings = {integer_binding(kLedOid, 2)};
    answer = agent_.ask(manager_, set);
    EXPECT_EQ(answer.pdu().error_status, kBadValue);
    EXPECT_EQ(answer.pdu().error_index, 1u);
}

TEST_F(AgentRequests, SetAppliesEveryBindingAndNamesTheFirstThatFails) {
    Request set = get_request(SNMP_VERSION_2C, kReadWrite, {}, SNMP_OP_SET);
    set.bindings = {octets_binding(kSysContactOid, "second@example.net"), integer_binding(kLedOid, 0)};
    Answer answer = agent_.ask(manager_, set);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, 0u);
    EXPECT_EQ(answer.pdu().varbind_count, 2);
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kSysContactOid}));
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), "second@example.net");

    // A failure in the second binding is not reported as success.
    set.bindings = {integer_binding(kLedOid, 0), octets_binding(kSysDescrOid, "x")};
    answer = agent_.ask(manager_, set);
    EXPECT_EQ(answer.pdu().error_status, kNotWritable);
    EXPECT_EQ(answer.pdu().error_index, 2u);
}

TEST_F(AgentRequests, SnmpGroupCountsWhatTheAgentReceivesAndAnswers) {
    Request read_only_set = get_request(SNMP_VERSION_2C, kReadOnly, {}, SNMP_OP_SET);
    read_only_set.bindings.push_back(integer_binding(kLedOid, 1));
    for (const Request &request : {get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}),
                                   get_request(SNMP_VERSION_2C, "guess", {kSysDescrOid}), read_only_set,
                                   get_request(SNMP_VERSION_1, kReadOnly, {"1.3.6.1.4.1.999.1"}),
                                   get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}, SNMP_OP_GETNEXT)}) {
        ASSERT_TRUE(agent_.ask(manager_, request).decoded);
    }
    // Read after those five (this request is already counted in snmpInPkts).
    const std::vector<std::pair<std::string, uint32_t>> counters = {
        {"1.3.6.1.2.1.11.1.0", 6},   // snmpInPkts
        {"1.3.6.1.2.1.11.2.0", 5},   // snmpOutPkts
        {"1.3.6.1.2.1.11.4.0", 1},   // snmpInBadCommunityNames
        {"1.3.6.1.2.1.11.5.0", 1},   // snmpInBadCommunityUses
        {"1.3.6.1.2.1.11.13.0", 2},  // snmpInTotalReqVars
        {"1.3.6.1.2.1.11.15.0", 2},  // snmpInGetRequests
        {"1.3.6.1.2.1.11.16.0", 1},  // snmpInGetNexts
        {"1.3.6.1.2.1.11.21.0", 1},  // snmpOutNoSuchNames
    };
    std::vector<std::string> names;
    for (const auto &[oid, value] : counters) {
        names.push_back(oid);
    }
    const Answer answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, names));
    ASSERT_EQ(answer.pdu().varbind_count, counters.size());
    for (size_t i = 0; i < counters.size(); ++i) {
        EXPECT_EQ(answer.pdu().varbinds[i].type, SNMP_TAG_COUNTER32) << counters[i].first;
        EXPECT_EQ(static_cast<uint32_t>(answer.pdu().varbinds[i].value.integer), counters[i].second)
            << counters[i].first;
    }
}

TEST_F(AgentRequests, ApiNodeWriteCallbackJudgesAnyValueType) {
    static std::string written;
    auto read = [](agent_snmp_vb *, agent_snmp_vb *out, void *) -> int32_t {
        out->type = AGENT_SNMP_TYPE_OCTET_STRING;
        std::memcpy(out->value.bytes, written.data(), written.size());
        out->len = static_cast<uint16_t>(written.size());
        return 0;
    };
    auto write = [](agent_snmp_vb *in, agent_snmp_vb *, void *) -> int32_t {
        if (in->type != AGENT_SNMP_TYPE_OCTET_STRING) {
            return 1;
        }
        written.assign(reinterpret_cast<const char *>(in->value.bytes), in->len);
        return 0;
    };
    ASSERT_EQ(agent_snmp_mib_register("1.3.6.1.4.1.999.5.0", 1, read, write, 0, nullptr), AGENT_SNMP_OK);
    Request set = get_request(SNMP_VERSION_2C, kReadWrite, {}, SNMP_OP_SET);
    set.bindings = {octets_binding("1.3.6.1.4.1.999.5.0", std::string("a\0b", 3))};
    Answer answer = agent_.ask(manager_, set);
    EXPECT_EQ(answer.pdu().error_status, 0u);
    EXPECT_EQ(written, std::string("a\0b", 3));  // binary values keep their zero bytes
    answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {"1.3.6.1.4.1.999.5.0"}));
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), std::string("a\0b", 3));

    // A value the callback refuses: commitFailed.
    set.bindings = {integer_binding("1.3.6.1.4.1.999.5.0", 7)};
    answer = agent_.ask(manager_, set);
    EXPECT_EQ(answer.pdu().error_status, kCommitFailed);
    EXPECT_EQ(answer.pdu().error_index, 1u);
}

TEST_F(AgentRequests, ReadCallbackCannotRenameTheBinding) {
    auto read = [](agent_snmp_vb *, agent_snmp_vb *out, void *) -> int32_t {
        std::strcpy(out->oid, "1.3.6.1.4.1.999.77");  // the callback scribbles over the name
        out->type = AGENT_SNMP_TYPE_COUNTER32;
        out->value.u32 = 77;
        return 0;
    };
    ASSERT_EQ(agent_snmp_mib_register("1.3.6.1.4.1.999.6.0", 0, read, nullptr, 0, nullptr), AGENT_SNMP_OK);
    const Answer answer =
        agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {"1.3.6.1.4.1.999.6.0"}));
    ASSERT_TRUE(answer.decoded);
    ASSERT_EQ(answer.pdu().varbind_count, 1);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), "1.3.6.1.4.1.999.6.0");
    EXPECT_EQ(answer.pdu().varbinds[0].type, SNMP_TAG_COUNTER32);
    EXPECT_EQ(answer.pdu().varbinds[0].value.integer, 77);
}

TEST_F(AgentRequests, BulkAnswerTooLargeForOneMessageIsShortened) {
    auto read = [](agent_snmp_vb *, agent_snmp_vb *out, void *) -> int32_t {
        out->type = AGENT_SNMP_TYPE_OCTET_STRING;
        std::memset(out->value.bytes, 'x', AGENT_SNMP_VALUE_SIZE);
        out->len = AGENT_SNMP_VALUE_SIZE;
        return 0;
    };
    static std::vector<std::string> names;
    names.clear();
    for (int i = 10; i < 18; ++i) {
        names.push_back("1.3.6.1.4.1.999.8." + std::to_string(i));
    }
    for (const std::string &name : names) {
        ASSERT_EQ(agent_snmp_mib_register(name.c_str(), 0, read, nullptr, 0, nullptr), AGENT_SNMP_OK);
    }
    // One non-repeater and two columns of 256-byte values: a second row would not fit in 1024 bytes,
    // and the answer is cut after the first whole row.
    Request bulk = get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid, "1.3.6.1.4.1.999.8", names[3]},
                               SNMP_OP_GETBULK);
    bulk.non_repeaters = 1;
    bulk.max_repetitions = 4;
    const Answer answer = agent_.ask(manager_, bulk);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, 0u);
    ASSERT_EQ(answer.pdu().varbind_count, 3);
    EXPECT_EQ(text_of(answer.pdu().varbinds[0].oid), kSysObjectIdOid);
    EXPECT_EQ(text_of(answer.pdu().varbinds[1].oid), names[0]);
    EXPECT_EQ(text_of(answer.pdu().varbinds[2].oid), names[4]);
}

TEST_F(AgentRequests, ResponsesAndTrapsAreNotAnswered) {
    // A Response that matches no pending inform and a trap get no answer (two agents must not keep
    // answering each other).
    Request response = get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}, SNMP_OP_GET_RESPONSE);
    response.request_id = 99;
    const Bytes response_bytes = encode(response);
    manager_.send_to(agent_.port(), response_bytes.data(), response_bytes.size());
    EXPECT_FALSE(agent_.serve(manager_, kSilenceMs).has_value());
    Request trap = get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}, SNMP_OP_TRAP);
    const Bytes trap_bytes = encode(trap);
    manager_.send_to(agent_.port(), trap_bytes.data(), trap_bytes.size());
    EXPECT_FALSE(agent_.serve(manager_, kSilenceMs).has_value());

    // An inform sent to the agent is not executed: genErr.
    Request inform = get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}, SNMP_OP_INFORM);
    const Answer answer = agent_.ask(manager_, inform);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, kGenErr);
}

TEST_F(AgentRequests, UndecodableMessagesGetNoAnswer) {
    // Garbage, and a message cut short, carry nothing an answer could be built from.
    manager_.send_to(agent_.port(), std::string("not an snmp message"));
    EXPECT_FALSE(agent_.serve(manager_, kSilenceMs).has_value());
    Bytes cut = encode(get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}));
    cut.resize(cut.size() / 2);
    manager_.send_to(agent_.port(), cut.data(), cut.size());
    EXPECT_FALSE(agent_.serve(manager_, kSilenceMs).has_value());

    // The agent answers normally afterwards.
    const Answer answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}));
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), kSysDescrText);
}

TEST_F(AgentRequests, EachAnswerGoesToItsOwnManager) {
    // Both requests are queued before the agent runs: the second sender is the current manager when
    // the first request is answered.
    Peer other;
    Request first = get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid});
    first.request_id = 111;
    Request second = get_request(SNMP_VERSION_2C, kReadOnly, {kTempOid});
    second.request_id = 222;
    const Bytes first_bytes = encode(first);
    const Bytes second_bytes = encode(second);
    for (int round = 0; round < 4; ++round) {
        manager_.send_to(agent_.port(), first_bytes.data(), first_bytes.size());
        other.send_to(agent_.port(), second_bytes.data(), second_bytes.size());
    }
    int first_answers = 0;
    int second_answers = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    while (Clock::now() < deadline && first_answers + second_answers < 8) {
        agent_snmp_wait(kLoopWaitMs);
        agent_snmp_loop();
        while (std::optional<Datagram> got = manager_.receive(0)) {
            EXPECT_EQ(decode(got->bytes).pdu().request_id, 111);
            ++first_answers;
        }
        while (std::optional<Datagram> got = other.receive(0)) {
            EXPECT_EQ(decode(got->bytes).pdu().request_id, 222);
            ++second_answers;
        }
    }
    EXPECT_GT(first_answers, 0);
    EXPECT_GT(second_answers, 0);
}

TEST_F(AgentRequests, FloodOfMalformedAndOversizedDatagramsLeavesTheAgentAnswering) {
    std::string oversized(1500, '\x30');
    for (int i = 0; i < 200; ++i) {
        manager_.send_to(agent_.port(),
                         i % 2 == 0 ? oversized : std::string(static_cast<size_t>(i % 40 + 1), '\xA0'));
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kSilenceMs);
    while (Clock::now() < deadline) {
        agent_snmp_wait(kLoopWaitMs);
        agent_snmp_loop();
    }
    while (manager_.receive(0)) {
    }
    const Answer answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}));
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), kSysDescrText);
}

// Notifications go to the current manager: only a request that passes the community check may
// make its sender that manager, never a datagram that is merely received.
TEST_F(AgentRequests, OnlyAnAcceptedRequestMovesTheCurrentManager) {
    struct Case {
        const char *name;
        Bytes datagram;
        bool accepted;
    };
    const Case cases[] = {
        {"junk", Bytes{0x30, 0x03, 0x02, 0x01}, false},
        {"unknown community", encode(get_request(SNMP_VERSION_2C, "guess", {kSysDescrOid})), false},
        {"accepted request", encode(get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid})), true},
        {"junk after it", Bytes{0xFF}, false},
        {"unknown community after it", encode(get_request(SNMP_VERSION_1, "guess", {kSysDescrOid})), false},
    };
    uint16_t manager_port = 0;  // none yet
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Peer sender;
        sender.send_to(agent_.port(), c.datagram.data(), c.datagram.size());
        (void)agent_.serve(sender, kSilenceMs);
        if (c.accepted) {
            manager_port = sender.port();
        }
        uint16_t port = 0;
        EXPECT_EQ(trans_get_nms_addr(&eth_trans_ctx, nullptr, &port), manager_port != 0);
        EXPECT_EQ(port, manager_port);
    }
}

TEST_F(AgentRequests, AgentAnswersAgainAfterStopAndStart) {
    agent_snmp_stop();
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_INIT);
    ASSERT_EQ(agent_snmp_start(), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_RUNNING);
    const Answer answer = agent_.ask(manager_, get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}));
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(octets_of(answer.pdu().varbinds[0]), kSysDescrText);
}

TEST_F(AgentRequests, FifthMessageWhileFourContextsAreBusyIsDropped) {
    for (agent_msg_ctx &ctx : msg_contexts) {
        ctx.in_use = 1;
    }
    agent_snmp_set_log_level(AGENT_LOG_ERROR);
    LogCapture log;
    const Bytes request = encode(get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}));
    agent_nms_snmp_msg(TRANS_ETH, request.data(), static_cast<uint16_t>(request.size()));
    const std::string text = log.take();
    EXPECT_TRUE(agent_test::contains(text, "无空闲上下文（最大支持4个），丢弃消息")) << text;
    for (uint8_t i = 0; i < AGENT_MAX_MSG_CTX; ++i) {
        agent_free_context(i);
    }
    EXPECT_NE(agent_alloc_context(), AGENT_NO_CONTEXT);
}

}  // namespace
