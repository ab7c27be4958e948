// MIB access: GET, GETNEXT, GETBULK and SET on single bindings, walks, the snapshot and collection.
#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "agent/tps.h"
#include "base/platform.h"
#include "mib_test_util.h"

namespace {

using namespace mib_test;

snmp_oid enterprise(uint32_t last) { return make_oid({1, 3, 6, 1, 4, 1, 999, last}); }

snmp_varbind request(const snmp_oid &oid) {
    snmp_varbind vb{};
    vb.oid = oid;
    return vb;
}

snmp_varbind integer_value(int32_t value) {
    snmp_varbind vb{};
    vb.type = SNMP_TAG_INTEGER;
    vb.value.integer = value;
    return vb;
}

// A table of `count` readable nodes 1.3.6.1.4.1.999.1 … .count.
class FiveNodes : public EmptyRegistry {
protected:
    void SetUp() override {
        EmptyRegistry::SetUp();
        log_level_scope quiet(AGENT_LOG_WARN);
        for (uint32_t i = 1; i <= 5; ++i) {
            add(test_node(enterprise(i)));
        }
    }
};

// An empty table to fill per test.
class MibLimits : public EmptyRegistry {};

TEST_F(FiveNodes, GetAnswersEveryStatus) {
    snmp_varbind vb = request(enterprise(3));
    ASSERT_EQ(agent_mib_get(&vb.oid, &vb), MIB_OK);
    EXPECT_EQ(vb.type, SNMP_TAG_INTEGER);
    EXPECT_EQ(vb.value.integer, 3);
    EXPECT_TRUE(same_oid(vb.oid, enterprise(3)));

    snmp_varbind missing = request(enterprise(6));
    std::string log = capture_log([&] { EXPECT_EQ(agent_mib_get(&missing.oid, &missing), MIB_ERR_NOT_FOUND); });
    EXPECT_TRUE(has_line(log, "DEBUG", "GET操作：未找到OID")) << log;
    EXPECT_TRUE(has_line(log, "DEBUG", "OID: 1.3.6.1.4.1.999.6")) << log;

    // Not accessible wins over a present read callback.
    mib_node hidden = test_node(enterprise(7), MIB_ACCESS_NOT_ACCESSIBLE);
    add(hidden);
    snmp_varbind hidden_vb = request(hidden.oid);
    log = capture_log([&] { EXPECT_EQ(agent_mib_get(&hidden.oid, &hidden_vb), MIB_ERR_NO_ACCESS); });
    EXPECT_TRUE(has_line(log, "WARN", "GET操作：节点不可读")) << log;

    mib_node no_read = test_node(enterprise(8));
    no_read.read = nullptr;
    add(no_read);
    log = capture_log([&] { EXPECT_EQ(agent_mib_get(&no_read.oid, &hidden_vb), MIB_ERR_NO_CALLBACK); });
    EXPECT_TRUE(has_line(log, "ERROR", "GET操作：读回调为空")) << log;

    calls().read_result = MIB_ERR_TOO_LONG;  // a callback's own status comes back unchanged
    EXPECT_EQ(agent_mib_get(&vb.oid, &vb), MIB_ERR_TOO_LONG);

    log = capture_log([&] {
        EXPECT_EQ(agent_mib_get(nullptr, &vb), MIB_ERR_NULL_PARAM);
        EXPECT_EQ(agent_mib_get(&vb.oid, nullptr), MIB_ERR_NULL_PARAM);
    });
    EXPECT_TRUE(has_line(log, "ERROR", "GET操作失败：参数为空")) << log;
}

TEST_F(FiveNodes, GetNextStepsToTheNextNodeAndStopsAtTheEnd) {
    snmp_oid below = make_oid({1, 3});
    snmp_oid out_oid{};
    snmp_varbind out{};
    ASSERT_EQ(agent_mib_get_next(&below, &out_oid, &out), MIB_OK);
    EXPECT_TRUE(same_oid(out_oid, enterprise(1)));
    EXPECT_TRUE(same_oid(out.oid, enterprise(1)));
    EXPECT_EQ(out.value.integer, 1);

    // From an unregistered OID between nodes, and from a prefix of a node.
    snmp_oid between = make_oid({1, 3, 6, 1, 4, 1, 999, 2, 5});
    ASSERT_EQ(agent_mib_get_next(&between, &out_oid, &out), MIB_OK);
    EXPECT_EQ(out.value.integer, 3);

    // The input may be the output record itself.
    out.oid = enterprise(4);
    ASSERT_EQ(agent_mib_get_next(&out.oid, &out.oid, &out), MIB_OK);
    EXPECT_TRUE(same_oid(out.oid, enterprise(5)));

    snmp_oid last = enterprise(5);
    std::string log = capture_log([&] { EXPECT_EQ(agent_mib_get_next(&last, &out_oid, &out), MIB_ERR_END_OF_MIB_VIEW); });
    EXPECT_TRUE(has_line(log, "DEBUG", "GETNEXT：无更大OID，endOfMibView")) << log;

    // A following node that cannot be read ends the walk with its error; it is not skipped.
    add(test_node(make_oid({1, 3, 6, 1, 4, 1, 999, 4, 1}), MIB_ACCESS_NOT_ACCESSIBLE));
    snmp_oid four = enterprise(4);
    EXPECT_EQ(agent_mib_get_next(&four, &out_oid, &out), MIB_ERR_NO_ACCESS);

    log = capture_log([&] { EXPECT_EQ(agent_mib_get_next(&four, nullptr, &out), MIB_ERR_NULL_PARAM); });
    EXPECT_TRUE(has_line(log, "ERROR", "GETNEXT: 空入参")) << log;
}

// The values (node numbers) of a GETBULK answer; 0 for an endOfMibView binding.
std::vector<int32_t> values_of(const std::array<snmp_varbind, SNMP_MAX_VARBINDS> &out, uint8_t count) {
    std::vector<int32_t> values;
    for (uint8_t i = 0; i < count; ++i) {
        values.push_back(out[i].type == SNMP_TAG_END_OF_MIB_VIEW ? 0 : out[i].value.integer);
    }
    return values;
}

TEST_F(FiveNodes, GetBulkWalksRowsAfterTheNonRepeaters) {
    std::array<snmp_varbind, 3> req = {request(make_oid({1, 3})), request(enterprise(1)),
                                       request(enterprise(3))};
    std::array<snmp_varbind, SNMP_MAX_VARBINDS> out{};
    uint8_t count = 0;
    std::string log = capture_log([&] {
        ASSERT_EQ(agent_mib_get_bulk(req.data(), 2, 1, 100, out.data(), &count), MIB_OK);
    });
    // One non-repeater answer, then .2 … .5, then the row at the end of the table: .5, endOfMibView.
    EXPECT_EQ(values_of(out, count), (std::vector<int32_t>{1, 2, 3, 4, 5, 0}));
    for (uint8_t i = 0; i + 1 < count; ++i) {
        EXPECT_TRUE(same_oid(out[i].oid, enterprise(static_cast<uint32_t>(out[i].value.integer))));
    }
    EXPECT_TRUE(same_oid(out[count - 1].oid, enterprise(5)));
    EXPECT_TRUE(has_line(log, "DEBUG", "GETBULK标准处理：req_cnt=2, non_repeaters=1, max_repetitions=100")) << log;
    EXPECT_TRUE(has_line(log, "INFO", "GETBULK完成，输出总数：6")) << log;

    // Two repeaters: row by row, each column from its own name; the column that ends first repeats its
    // last name with endOfMibView until the other one ends too.
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 3, 1, 100, out.data(), &count), MIB_OK);
    EXPECT_EQ(values_of(out, count), (std::vector<int32_t>{1, 2, 4, 3, 5, 4, 0, 5, 0, 0, 0}));
    EXPECT_TRUE(same_oid(out[6].oid, enterprise(5)));
    // max_repetitions limits the rows.
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 3, 0, 2, out.data(), &count), MIB_OK);
    EXPECT_EQ(values_of(out, count), (std::vector<int32_t>{1, 2, 4, 2, 3, 5}));

    // More non-repeaters than bindings: every binding is a non-repeater, no repetitions.
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 2, 9, 100, out.data(), &count), MIB_OK);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(out[0].value.integer, 1);
    EXPECT_EQ(out[1].value.integer, 2);

    // No repetitions asked for, and no bindings at all.
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 2, 1, 0, out.data(), &count), MIB_OK);
    EXPECT_EQ(count, 1);
    count = 7;
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 0, 0, 10, out.data(), &count), MIB_OK);
    EXPECT_EQ(count, 0);

    log = capture_log([&] {
        EXPECT_EQ(agent_mib_get_bulk(nullptr, 1, 0, 1, out.data(), &count), MIB_ERR_NULL_PARAM);
        EXPECT_EQ(agent_mib_get_bulk(req.data(), 1, 0, 1, out.data(), nullptr), MIB_ERR_NULL_PARAM);
    });
    EXPECT_TRUE(has_line(log, "ERROR", "GETBULK：空指针参数")) << log;
}

TEST_F(FiveNodes, GetBulkAnswersTheEndOfTheViewWithEndOfMibView) {
    std::array<snmp_varbind, 3> req = {request(enterprise(5)), request(enterprise(4)), request(enterprise(5))};
    std::array<snmp_varbind, SNMP_MAX_VARBINDS> out{};
    uint8_t count = 0;

    // Non-repeater at the end: its own OID with endOfMibView; the repeater then yields .5, and its next
    // row carries .5 with endOfMibView.
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 2, 1, 10, out.data(), &count), MIB_OK);
    ASSERT_EQ(count, 3);
    EXPECT_TRUE(same_oid(out[0].oid, enterprise(5)));
    EXPECT_EQ(out[0].type, SNMP_TAG_END_OF_MIB_VIEW);
    EXPECT_EQ(out[0].value_len, 0);
    EXPECT_TRUE(same_oid(out[1].oid, enterprise(5)));
    EXPECT_EQ(out[1].type, SNMP_TAG_INTEGER);
    EXPECT_TRUE(same_oid(out[2].oid, enterprise(5)));
    EXPECT_EQ(out[2].type, SNMP_TAG_END_OF_MIB_VIEW);

    // A repeater that yields nothing at all is answered once with endOfMibView.
    ASSERT_EQ(agent_mib_get_bulk(&req[2], 1, 0, 10, out.data(), &count), MIB_OK);
    ASSERT_EQ(count, 1);
    EXPECT_TRUE(same_oid(out[0].oid, enterprise(5)));
    EXPECT_EQ(out[0].type, SNMP_TAG_END_OF_MIB_VIEW);

    // Any other failure stops the operation with its status; what was emitted stays.
    calls().read_result = MIB_ERR_NO_CALLBACK;
    std::array<snmp_varbind, 1> from_start = {request(make_oid({1}))};
    std::string log = capture_log([&] {
        EXPECT_EQ(agent_mib_get_bulk(req.data(), 2, 1, 10, out.data(), &count), MIB_ERR_NO_CALLBACK);
    });
    EXPECT_EQ(count, 1);
    EXPECT_EQ(out[0].type, SNMP_TAG_END_OF_MIB_VIEW);
    EXPECT_TRUE(has_line(log, "ERROR", "GETBULK repeat GETNEXT fail code:-35")) << log;
    log = capture_log([&] {
        EXPECT_EQ(agent_mib_get_bulk(from_start.data(), 1, 1, 0, out.data(), &count), MIB_ERR_NO_CALLBACK);
    });
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(has_line(log, "ERROR", "GETBULK non_repeaters GETNEXT fail code:-35")) << log;
}

TEST_F(MibLimits, GetBulkNeverEmitsMoreThan16Bindings) {
    {
        log_level_scope quiet(AGENT_LOG_WARN);
        for (uint32_t i = 1; i <= MIB_MAX_NODES; ++i) {
            add(test_node(enterprise(i)));
        }
    }
    std::array<snmp_varbind, 20> req{};
    for (uint32_t i = 0; i < req.size(); ++i) {
        req[i] = request(enterprise(i));
    }
    // Guard entries after the 16 the caller provides must stay untouched.
    std::array<snmp_varbind, SNMP_MAX_VARBINDS + 2> out{};
    out[SNMP_MAX_VARBINDS].type = 0xEE;
    uint8_t count = 0;
    log_level_scope quiet(AGENT_LOG_WARN);
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 1, 0, 255, out.data(), &count), MIB_OK);
    EXPECT_EQ(count, SNMP_MAX_VARBINDS);
    EXPECT_EQ(out[15].value.integer, 16);
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 20, 20, 255, out.data(), &count), MIB_OK);
    EXPECT_EQ(count, SNMP_MAX_VARBINDS);
    EXPECT_EQ(out[15].value.integer, 16);
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 16, 10, 255, out.data(), &count), MIB_OK);
    EXPECT_EQ(count, SNMP_MAX_VARBINDS);
    EXPECT_EQ(out[9].value.integer, 10);   // the ten non-repeaters
    EXPECT_EQ(out[10].value.integer, 11);  // then one row of six: req[10] (.10) …
    EXPECT_EQ(out[15].value.integer, 16);  // … to req[15] (.15)
    // A row of ten does not fit beside ten non-repeaters: rows are never cut.
    ASSERT_EQ(agent_mib_get_bulk(req.data(), 20, 10, 255, out.data(), &count), MIB_OK);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(out[SNMP_MAX_VARBINDS].type, 0xEE);
}

TEST_F(FiveNodes, SetChecksInOrderAndUpdatesTheSnapshot) {
    mib_node writable = test_node(enterprise(10), MIB_ACCESS_READ_WRITE);
    add(writable);  // position 5
    snmp_varbind value = integer_value(42);
    value.oid = writable.oid;
    std::string log = capture_log([&] { ASSERT_EQ(agent_mib_set(&writable.oid, &value), MIB_OK); });
    EXPECT_EQ(calls().writes, 1);
    EXPECT_EQ(calls().last_written.value.integer, 42);
    EXPECT_TRUE(has_line(log, "INFO", "SET成功: testNode")) << log;
    EXPECT_EQ(g_mib_db[5].valid, 1);
    EXPECT_EQ(g_mib_db[5].vb.value.integer, 42);
    EXPECT_TRUE(same_oid(g_mib_db[5].vb.oid, writable.oid));

    // Another tag is refused before the callback.
    snmp_varbind text{};
    text.type = SNMP_TAG_OCTET_STRING;
    log = capture_log([&] { EXPECT_EQ(agent_mib_set(&writable.oid, &text), MIB_ERR_WRONG_TYPE); });
    EXPECT_EQ(calls().writes, 1);
    EXPECT_TRUE(has_line(log, "WARN", "SET操作：类型不匹配")) << log;

    // A failing write passes its status through and leaves the snapshot alone.
    calls().write_result = MIB_ERR_TOO_LONG;
    snmp_varbind other = integer_value(7);
    log = capture_log([&] { EXPECT_EQ(agent_mib_set(&writable.oid, &other), MIB_ERR_TOO_LONG); });
    EXPECT_TRUE(has_line(log, "ERROR", "SET失败: testNode")) << log;
    EXPECT_EQ(g_mib_db[5].vb.value.integer, 42);

    snmp_oid read_only = enterprise(1);
    log = capture_log([&] { EXPECT_EQ(agent_mib_set(&read_only, &value), MIB_ERR_NO_ACCESS); });
    EXPECT_TRUE(has_line(log, "WARN", "SET操作：节点无写权限")) << log;
    snmp_oid missing = enterprise(11);
    log = capture_log([&] { EXPECT_EQ(agent_mib_set(&missing, &value), MIB_ERR_NOT_FOUND); });
    EXPECT_TRUE(has_line(log, "DEBUG", "SET操作：未找到OID")) << log;
    mib_node no_write = test_node(enterprise(12), MIB_ACCESS_READ_WRITE);
    no_write.write = nullptr;
    add(no_write);
    log = capture_log([&] { EXPECT_EQ(agent_mib_set(&no_write.oid, &value), MIB_ERR_NO_CALLBACK); });
    EXPECT_TRUE(has_line(log, "ERROR", "SET操作：写回调为空")) << log;
    log = capture_log([&] { EXPECT_EQ(agent_mib_set(nullptr, &value), MIB_ERR_NULL_PARAM); });
    EXPECT_TRUE(has_line(log, "ERROR", "SET操作失败：参数为空")) << log;
    EXPECT_EQ(calls().writes, 2);
}

TEST_F(FiveNodes, NodeWithoutTypeAcceptsAnyTagForItsCallbackToJudge) {
    mib_node untyped = test_node(enterprise(20), MIB_ACCESS_READ_WRITE, 0);
    add(untyped);
    snmp_varbind text{};
    text.type = SNMP_TAG_OCTET_STRING;
    text.value_len = 3;
    std::memcpy(text.value.octets, "abc", 3);
    EXPECT_EQ(agent_mib_set(&untyped.oid, &text), MIB_OK);
    EXPECT_EQ(calls().last_written.type, SNMP_TAG_OCTET_STRING);
    snmp_varbind gauge{};
    gauge.type = SNMP_TAG_GAUGE32;
    EXPECT_EQ(agent_mib_set(&untyped.oid, &gauge), MIB_OK);
    EXPECT_EQ(calls().writes, 2);
}

TEST(MibErrorStatus, MapsMibStatusesToProtocolErrorStatus) {
    EXPECT_EQ(agent_mib_set_error_status(MIB_ERR_NOT_FOUND), 11u);   // noCreation
    EXPECT_EQ(agent_mib_set_error_status(MIB_ERR_NO_ACCESS), 17u);   // notWritable
    EXPECT_EQ(agent_mib_set_error_status(MIB_ERR_WRONG_TYPE), 7u);   // wrongType
    EXPECT_EQ(agent_mib_set_error_status(MIB_ERR_TOO_LONG), 10u);    // wrongValue
    EXPECT_EQ(agent_mib_set_error_status(MIB_ERR_NO_CALLBACK), 14u); // commitFailed
    EXPECT_EQ(agent_mib_set_error_status(-1), 14u);
    EXPECT_EQ(agent_mib_set_error_status(MIB_OK), 0u);

    EXPECT_EQ(agent_mib_get_next_error_status(MIB_ERR_END_OF_MIB_VIEW, SNMP_VERSION_1), 2u);  // noSuchName
    EXPECT_EQ(agent_mib_get_next_error_status(MIB_ERR_NO_ACCESS, SNMP_VERSION_1), 2u);
    EXPECT_EQ(agent_mib_get_next_error_status(MIB_ERR_END_OF_MIB_VIEW, SNMP_VERSION_2C), 0u);
    EXPECT_EQ(agent_mib_get_next_error_status(MIB_ERR_END_OF_MIB_VIEW, SNMP_VERSION_3), 0u);
    EXPECT_EQ(agent_mib_get_next_error_status(MIB_ERR_NO_CALLBACK, SNMP_VERSION_2C), 5u);  // genErr
    EXPECT_EQ(agent_mib_get_next_error_status(MIB_OK, SNMP_VERSION_1), 0u);

    snmp_varbind vb = integer_value(9);
    vb.value_len = 4;
    snmp_oid oid = enterprise(3);
    agent_mib_set_end_of_mib_view(&vb, &oid);
    EXPECT_TRUE(same_oid(vb.oid, oid));
    EXPECT_EQ(vb.type, SNMP_TAG_END_OF_MIB_VIEW);
    EXPECT_EQ(vb.value_len, 0);
    EXPECT_EQ(vb.value.integer, 0);
    agent_mib_set_end_of_mib_view(&vb, &vb.oid);  // in place
    EXPECT_TRUE(same_oid(vb.oid, oid));
}

class WholeMib : public DefaultMib {};

const std::vector<std::string> kWholeMib = library_view();

TEST_F(WholeMib, GetNextWalkVisitsEveryNodeInOrderAndEndsInEndOfMibView) {
    std::vector<std::string> walked;
    snmp_oid current{};
    current = make_oid({0});
    snmp_varbind vb{};
    int32_t result = MIB_OK;
    {
        log_level_scope quiet(AGENT_LOG_WARN);
        while ((result = agent_mib_get_next(&current, &current, &vb)) == MIB_OK) {
            walked.push_back(text_of(vb.oid));
            ASSERT_LE(walked.size(), kWholeMib.size());
        }
    }
    EXPECT_EQ(result, MIB_ERR_END_OF_MIB_VIEW);
    EXPECT_EQ(walked, kWholeMib);
}

TEST_F(WholeMib, BulkWalkCoversTheMibAndEndsInEndOfMibView) {
    std::vector<std::string> walked;
    snmp_varbind req = request(make_oid({1, 3}));
    std::array<snmp_varbind, SNMP_MAX_VARBINDS> out{};
    log_level_scope quiet(AGENT_LOG_WARN);
    for (size_t round = 0; round < kWholeMib.size(); ++round) {
        uint8_t count = 0;
        ASSERT_EQ(agent_mib_get_bulk(&req, 1, 0, 3, out.data(), &count), MIB_OK);
        ASSERT_GT(count, 0);
        uint8_t values = 0;
        while (values < count && out[values].type != SNMP_TAG_END_OF_MIB_VIEW) {
            walked.push_back(text_of(out[values++].oid));
        }
        if (values < count) {
            EXPECT_EQ(values + 1, count);  // the end of the view ends the answer
            break;
        }
        req = request(out[count - 1].oid);
    }
    EXPECT_EQ(walked, kWholeMib);
}

TEST_F(WholeMib, GetFirstAndTotal) {
    snmp_oid oid{};
    snmp_varbind vb{};
    ASSERT_EQ(agent_mib_get_first(&oid, &vb), MIB_OK);
    EXPECT_EQ(text_of(oid), "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(vb.type, SNMP_TAG_OCTET_STRING);
    std::string log = capture_log([] { EXPECT_EQ(agent_mib_get_total_nodes(), 7); });
    EXPECT_TRUE(has_line(log, "DEBUG", "agent_mib_get_total_nodes: 当前MIB节点总数为 7")) << log;

    log = capture_log([&] { EXPECT_EQ(agent_mib_get_first(nullptr, &vb), MIB_ERR_NULL_PARAM); });
    EXPECT_NE(log.find("[ERROR] agent_mib_get_first: 无效参数（oid="), std::string::npos) << log;

    mib_node first = test_node(make_oid({1, 2}));
    first.read = nullptr;
    first.name = nullptr;
    add(first);
    log = capture_log([&] { EXPECT_EQ(agent_mib_get_first(&oid, &vb), MIB_ERR_EMPTY); });
    EXPECT_TRUE(has_line(log, "ERROR", "agent_mib_get_first: 第一个节点无读回调函数（未知节点）")) << log;

    mib_registry_init();
    log = capture_log([&] { EXPECT_EQ(agent_mib_get_first(&oid, &vb), MIB_ERR_EMPTY); });
    EXPECT_TRUE(has_line(log, "DEBUG", "agent_mib_get_first: MIB注册表为空")) << log;
}

TEST_F(FiveNodes, SnapshotUpdateIgnoresUnregisteredOids) {
    snmp_varbind value = integer_value(77);
    std::array<uint8_t, sizeof(g_mib_db)> before{};
    std::memcpy(before.data(), g_mib_db, sizeof(g_mib_db));
    snmp_oid missing = enterprise(9);
    agent_mib_update(&missing, &value);
    EXPECT_EQ(std::memcmp(before.data(), g_mib_db, sizeof(g_mib_db)), 0);
    std::string log = capture_log([&] { agent_mib_update(nullptr, &value); });
    EXPECT_TRUE(has_line(log, "ERROR", "更新MIB失败：参数为空")) << log;

    // A pushed value without a name is stored under its node's OID.
    snmp_oid two = enterprise(2);
    agent_mib_update(&two, &value);
    EXPECT_EQ(g_mib_db[1].valid, 1);
    EXPECT_EQ(g_mib_db[1].vb.value.integer, 77);
    EXPECT_TRUE(same_oid(g_mib_db[1].vb.oid, two));
}

TEST_F(FiveNodes, UpdateAllReadsEveryReadableNodeWithItsOwnOid) {
    add(test_node(enterprise(6), MIB_ACCESS_NOT_ACCESSIBLE));
    agent_mib_update_all();
    EXPECT_EQ(calls().reads, 5);  // the not-accessible node is skipped
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(g_mib_db[i].valid, 1) << i;
        EXPECT_EQ(g_mib_db[i].vb.value.integer, static_cast<int32_t>(i + 1)) << i;
        EXPECT_TRUE(same_oid(g_mib_db[i].vb.oid, enterprise(i + 1))) << i;
    }
    EXPECT_EQ(g_mib_db[5].valid, 0);

    // A failed read clears the valid flag and keeps the old copy.
    calls().read_result = MIB_ERR_NO_CALLBACK;
    agent_mib_update_all();
    EXPECT_EQ(g_mib_db[0].valid, 0);
    EXPECT_EQ(g_mib_db[0].vb.value.integer, 1);
}

TEST_F(MibLimits, CollectionHonoursEachNodesInterval) {
    constexpr uint32_t kShortMs = 30;
    add(test_node(enterprise(1), MIB_ACCESS_READ_ONLY, SNMP_TAG_INTEGER, kShortMs));
    add(test_node(enterprise(2), MIB_ACCESS_READ_ONLY, SNMP_TAG_INTEGER, 0));        // never collected
    add(test_node(enterprise(3), MIB_ACCESS_READ_ONLY, SNMP_TAG_INTEGER, 3600000));  // once an hour
    add(test_node(enterprise(4), MIB_ACCESS_NOT_ACCESSIBLE, SNMP_TAG_INTEGER, 1));

    uint32_t start = platform_get_tick();
    g_last_poll_time[2] = start;  // .3 was collected a moment ago
    std::string log = capture_log([] { agent_mib_coll_process(); });
    EXPECT_EQ(calls().reads, 1);  // .1 only: last collected at tick 0
    EXPECT_TRUE(has_line(log, "INFO", "采集成功: testNode")) << log;
    EXPECT_TRUE(has_line(log, "DEBUG", "开始采集处理，节点总数: 4")) << log;
    EXPECT_EQ(g_mib_db[0].valid, 1);
    EXPECT_EQ(g_mib_db[1].valid, 0);
    EXPECT_LE(g_last_poll_time[0] - start, 1000u);  // stamped with the tick of this run
    EXPECT_EQ(g_last_poll_time[1], 0u);

    agent_mib_coll_process();
    EXPECT_EQ(calls().reads, 1);  // nothing is due yet

    std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs + 5));
    calls().read_result = MIB_ERR_NO_CALLBACK;
    log = capture_log([] { agent_mib_coll_process(); });
    EXPECT_EQ(calls().reads, 2);  // only the short-interval node
    EXPECT_TRUE(has_line(log, "ERROR", "采集失败: testNode")) << log;
    EXPECT_EQ(g_mib_db[0].valid, 0);
    EXPECT_EQ(g_mib_db[0].vb.value.integer, 1);  // the old copy stays
    EXPECT_EQ(g_mib_db[2].valid, 0);
    EXPECT_EQ(g_last_poll_time[2], start);
}

}  // namespace
