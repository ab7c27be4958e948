// Protocol helpers: OID order and copies, op/tag tables, binding list, error mapping, engine store,
// local engine clock and request ids.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "codec/snmp_protocol.h"
#include "test_support.h"

using testing::HasSubstr;
using vek_test::capture_log;
using vek_test::make_oid;

namespace {

constexpr uint32_t kMaxRequestId = 2147483647u;

// An OID alone in its heap block whose len claims 40 sub-identifiers: reading past the 32 held ones
// leaves the block and is reported by the address sanitizer.
std::unique_ptr<snmp_oid> overlong_oid(uint32_t first_arc) {
    auto oid = std::make_unique<snmp_oid>();
    for (uint32_t i = 0; i < SNMP_MAX_OID_LEN; ++i) {
        oid->sub_ids[i] = first_arc + i;
    }
    oid->len = SNMP_MAX_OID_LEN + 8;  // a length past the capacity
    return oid;
}

TEST(OidOrder, LexicographicOrderComparesUnsignedArcsAndPrefixes) {
    snmp_oid a = make_oid({1, 3, 6, 1});
    snmp_oid b = make_oid({1, 3, 6, 1, 2});
    snmp_oid c = make_oid({1, 3, 6, 2});
    snmp_oid big = make_oid({1, 3, 6, 4294967295u});
    snmp_oid small = make_oid({1, 3, 6, 5});
    snmp_oid empty{};

    EXPECT_EQ(snmp_oid_compare_lexicographic(&a, &b), -1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&b, &a), 1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&b, &c), -1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&c, &b), 1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&big, &small), 1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&small, &big), -1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&a, &a), 0);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&empty, &a), -1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&empty, &empty), 0);
    EXPECT_EQ(snmp_oid_compare_lexicographic(nullptr, &a), -1);
    EXPECT_EQ(snmp_oid_compare_lexicographic(&a, nullptr), -1);
}

TEST(OidOrder, EqualityAndSubtree) {
    snmp_oid empty1{};
    snmp_oid empty2{};
    empty2.sub_ids[0] = 7; /* beyond len: not looked at */
    snmp_oid sys = make_oid({1, 3, 6, 1, 2, 1, 1});
    snmp_oid uptime = make_oid({1, 3, 6, 1, 2, 1, 1, 3, 0});
    snmp_oid other = make_oid({1, 3, 6, 1, 2, 1, 2});

    EXPECT_TRUE(snmp_oid_compare(&empty1, &empty2));
    EXPECT_TRUE(snmp_oid_compare(&sys, &sys));
    EXPECT_FALSE(snmp_oid_compare(&sys, &uptime));
    EXPECT_FALSE(snmp_oid_compare(&sys, &other));
    EXPECT_FALSE(snmp_oid_compare(nullptr, &sys));
    EXPECT_FALSE(snmp_oid_compare(&sys, nullptr));
    EXPECT_FALSE(snmp_oid_compare(nullptr, nullptr));

    EXPECT_TRUE(snmp_oid_is_subtree(&uptime, &sys));
    EXPECT_TRUE(snmp_oid_is_subtree(&sys, &sys));
    EXPECT_TRUE(snmp_oid_is_subtree(&sys, &empty1));
    EXPECT_FALSE(snmp_oid_is_subtree(&sys, &uptime));
    EXPECT_FALSE(snmp_oid_is_subtree(&other, &sys));
    EXPECT_FALSE(snmp_oid_is_subtree(&uptime, &other));
    EXPECT_FALSE(snmp_oid_is_subtree(nullptr, &sys));
    EXPECT_FALSE(snmp_oid_is_subtree(&sys, nullptr));
}

TEST(OidOrder, OverlongLengthIsCutToCapacity) {
    auto a = overlong_oid(1);
    auto b = overlong_oid(1);
    auto c = overlong_oid(2);
    EXPECT_TRUE(snmp_oid_compare(a.get(), b.get()));
    EXPECT_FALSE(snmp_oid_compare(a.get(), c.get()));
    EXPECT_TRUE(snmp_oid_is_subtree(a.get(), b.get()));
    EXPECT_EQ(snmp_oid_compare_lexicographic(a.get(), b.get()), 0);
    EXPECT_EQ(snmp_oid_compare_lexicographic(a.get(), c.get()), -1);

    snmp_oid dst{};
    std::fill(std::begin(dst.sub_ids), std::end(dst.sub_ids), 0xEEEEEEEEu);
    snmp_oid_copy(&dst, a.get());
    EXPECT_EQ(dst.len, SNMP_MAX_OID_LEN);
    for (uint32_t i = 0; i < SNMP_MAX_OID_LEN; ++i) {
        EXPECT_EQ(dst.sub_ids[i], 1 + i);
    }
}

TEST(OidOrder, CopyZeroesTheUnusedTailAndIgnoresNulls) {
    snmp_oid dst{};
    std::fill(std::begin(dst.sub_ids), std::end(dst.sub_ids), 0xEEEEEEEEu);
    dst.len = 30;
    snmp_oid src = make_oid({1, 3, 6});
    snmp_oid_copy(&dst, &src);
    EXPECT_TRUE(vek_test::oid_is(dst, {1, 3, 6}));
    EXPECT_TRUE(std::all_of(dst.sub_ids + 3, std::end(dst.sub_ids), [](uint32_t v) { return v == 0; }));

    snmp_oid_copy(&dst, nullptr);
    snmp_oid_copy(nullptr, &src);
    EXPECT_TRUE(vek_test::oid_is(dst, {1, 3, 6}));
    snmp_oid_copy(&dst, &dst);
    EXPECT_TRUE(vek_test::oid_is(dst, {1, 3, 6}));
}

TEST(OpTags, OperationToTagPerVersion) {
    struct row {
        uint32_t op;
        uint8_t v1;
        uint8_t v2c_v3;
    };
    const row rows[] = {
        {SNMP_OP_GET, 0xA0, 0xA0},     {SNMP_OP_GETNEXT, 0xA1, 0xA1}, {SNMP_OP_GET_RESPONSE, 0xA2, 0xA2},
        {SNMP_OP_SET, 0xA3, 0xA3},     {4, 0, 0},                     {SNMP_OP_GETBULK, 0, 0xA5},
        {SNMP_OP_TRAP, 0xA4, 0xA7},    {SNMP_OP_INFORM, 0, 0xA6},     {SNMP_OP_REPORT, 0, 0},
        {9, 0, 0},                     {SNMP_OP_UNKNOWN, 0, 0},       {0xFFFFFFFFu, 0, 0},
    };
    for (const row &r : rows) {
        EXPECT_EQ(snmp_get_pdu_type(r.op, 0), r.v1) << "op " << r.op;
        EXPECT_EQ(snmp_get_pdu_type(r.op, 1), r.v2c_v3) << "op " << r.op;
        EXPECT_EQ(snmp_get_pdu_type(r.op, 3), r.v2c_v3) << "op " << r.op;
        EXPECT_EQ(snmp_get_pdu_type(r.op, 2), 0) << "op " << r.op;
        EXPECT_EQ(snmp_get_pdu_type(r.op, 4), 0) << "op " << r.op;
        EXPECT_EQ(snmp_get_pdu_type(r.op, 256), 0) << "op " << r.op;
    }
    EXPECT_TRUE(snmp_validate_version(0));
    EXPECT_TRUE(snmp_validate_version(1));
    EXPECT_TRUE(snmp_validate_version(3));
    EXPECT_FALSE(snmp_validate_version(2));
    EXPECT_FALSE(snmp_validate_version(4));
    EXPECT_FALSE(snmp_validate_version(256));
}

TEST(OpTags, TagToOperationAndAnswerOperation) {
    const uint8_t expected[] = {0, 1, 2, 3, 6, 5, 7, 6, 255}; /* tags 0xA0..0xA8 */
    for (uint8_t i = 0; i < sizeof(expected); ++i) {
        EXPECT_EQ(snmp_get_operation_from_pdu_type(static_cast<uint8_t>(0xA0 + i)), expected[i]) << int(i);
    }
    EXPECT_EQ(snmp_get_operation_from_pdu_type(0x00), 255);
    EXPECT_EQ(snmp_get_operation_from_pdu_type(0x30), 255);
    EXPECT_EQ(snmp_get_operation_from_pdu_type(0xA9), 255);

    for (uint32_t op : {0u, 1u, 3u, 5u, 6u, 7u, 8u}) {
        EXPECT_EQ(snmp_get_response_op(op), SNMP_OP_GET_RESPONSE) << op;
    }
    for (uint32_t op : {2u, 4u, 9u, 255u}) {
        uint8_t answer = 0;
        std::string log = capture_log([&] { answer = snmp_get_response_op(op); });
        EXPECT_EQ(answer, SNMP_OP_UNKNOWN) << op;
        EXPECT_THAT(log, HasSubstr("[WARN] snmp_get_response_op: 无效请求类型=" + std::to_string(op) + "，返回UNKNOWN\n"));
    }
}

TEST(BindingList, SixteenZeroedSlotsThenNull) {
    auto pdu = std::make_unique<snmp_pdu>();
    std::memset(pdu.get(), 0xAB, sizeof(*pdu));
    pdu->varbind_count = 0;
    for (uint32_t i = 0; i < SNMP_MAX_VARBINDS; ++i) {
        snmp_varbind *slot = snmp_pdu_add_varbind(pdu.get());
        ASSERT_EQ(slot, &pdu->varbinds[i]);
        EXPECT_EQ(slot->oid.len, 0);
        EXPECT_EQ(slot->type, 0);
        EXPECT_EQ(slot->value_len, 0);
        EXPECT_EQ(slot->value.octets[SNMP_MAX_OCTETS - 1], 0);
        EXPECT_EQ(pdu->varbind_count, i + 1);
    }
    EXPECT_EQ(snmp_pdu_add_varbind(pdu.get()), nullptr);
    EXPECT_EQ(pdu->varbind_count, SNMP_MAX_VARBINDS);
    EXPECT_EQ(snmp_pdu_add_varbind(nullptr), nullptr);

    pdu->varbinds[3].type = SNMP_TAG_INTEGER;
    pdu->varbinds[3].value.integer = 42;
    snmp_pdu_clear_varbinds(pdu.get());
    EXPECT_EQ(pdu->varbind_count, 0);
    EXPECT_EQ(pdu->varbinds[3].type, 0);
    EXPECT_EQ(pdu->varbinds[3].value.integer, 0);
    snmp_pdu_clear_varbinds(nullptr);

    pdu->varbind_count = 200; /* a corrupted count is refused, never indexed */
    EXPECT_EQ(snmp_pdu_add_varbind(pdu.get()), nullptr);
    snmp_pdu_clear_varbinds(pdu.get());
    EXPECT_EQ(pdu->varbind_count, 0);
}

TEST(ErrorMapping, VersionOneAndTwoTables) {
    struct row {
        uint32_t status;
        uint32_t v1;
        uint32_t v2;
    };
    const row rows[] = {
        {0, 0, 0},  {1, 1, 1},  {2, 2, 2},  {3, 3, 3},  {4, 4, 6},   {5, 5, 8},   {6, 5, 6},
        {7, 3, 7},  {8, 3, 8},  {9, 3, 9},  {10, 5, 8}, {18, 5, 8},  {0xFFFFFFFFu, 5, 8},
    };
    for (const row &r : rows) {
        EXPECT_EQ(snmp_map_error_code(r.status, 0), r.v1) << r.status;
        EXPECT_EQ(snmp_map_error_code(r.status, 1), r.v2) << r.status;
        EXPECT_EQ(snmp_map_error_code(r.status, 0x80), r.v2) << r.status;
    }
}

class EngineStore : public testing::Test {
protected:
    void SetUp() override { g_remote_engine = snmp_engine_info{}; }
    void TearDown() override { g_remote_engine = snmp_engine_info{}; }
};

TEST_F(EngineStore, StoreReplacesAndRefusesBadIds) {
    snmp_v3_usm usm{};
    EXPECT_EQ(snmp_v3_get_stored_engine_info(&usm), 0);
    EXPECT_EQ(usm.engine_id_len, 0);

    const uint8_t first[] = {0x80, 0x00, 0x1F, 0x88, 0x04, 'a', 'b', 'c'};
    snmp_v3_store_engine_info(first, sizeof(first), 7, 1000);
    ASSERT_EQ(snmp_v3_get_stored_engine_info(&usm), 1);
    EXPECT_EQ(usm.engine_id_len, sizeof(first));
    EXPECT_EQ(std::memcmp(usm.engine_id, first, sizeof(first)), 0);
    EXPECT_EQ(usm.engine_boots, 7u);
    EXPECT_EQ(usm.engine_time, 1000u);
    EXPECT_EQ(g_remote_engine.valid, 1);

    const uint8_t second[] = {0x80, 0x00, 0x00, 0x09, 0x03};
    snmp_v3_store_engine_info(second, sizeof(second), 2, 5);
    usm = snmp_v3_usm{};
    ASSERT_EQ(snmp_v3_get_stored_engine_info(&usm), 1);
    EXPECT_EQ(usm.engine_id_len, sizeof(second));
    EXPECT_EQ(std::memcmp(usm.engine_id, second, sizeof(second)), 0);
    EXPECT_EQ(usm.engine_boots, 2u);
    EXPECT_EQ(usm.engine_time, 5u);

    uint8_t too_long[SNMP_ENGINE_ID_SIZE + 1];
    std::memset(too_long, 0x11, sizeof(too_long));
    snmp_v3_store_engine_info(too_long, sizeof(too_long), 99, 99);
    snmp_v3_store_engine_info(too_long, 0, 99, 99);
    snmp_v3_store_engine_info(nullptr, 4, 99, 99);
    usm = snmp_v3_usm{};
    ASSERT_EQ(snmp_v3_get_stored_engine_info(&usm), 1);
    EXPECT_EQ(usm.engine_id_len, sizeof(second));
    EXPECT_EQ(std::memcmp(usm.engine_id, second, sizeof(second)), 0);
    EXPECT_EQ(usm.engine_boots, 2u);

    snmp_v3_store_engine_info(too_long, SNMP_ENGINE_ID_SIZE, 1, 1); /* exactly 32 bytes is accepted */
    ASSERT_EQ(snmp_v3_get_stored_engine_info(&usm), 1);
    EXPECT_EQ(usm.engine_id_len, SNMP_ENGINE_ID_SIZE);
    EXPECT_EQ(snmp_v3_get_stored_engine_info(nullptr), 0);
}

TEST(LocalEngineClock, TicksAndStartsANewBootAtTheLimit) {
    snmp_engine_clock clock{3, 5};
    snmp_v3_update_local_engine_time(&clock);
    EXPECT_EQ(clock.engine_boots, 3u);
    EXPECT_EQ(clock.engine_time, 6u);

    clock = {3, 0xFFFFFFFCu};
    snmp_v3_update_local_engine_time(&clock);
    EXPECT_EQ(clock.engine_boots, 3u);
    EXPECT_EQ(clock.engine_time, 0xFFFFFFFDu);

    snmp_v3_update_local_engine_time(&clock);
    EXPECT_EQ(clock.engine_boots, 4u);
    EXPECT_EQ(clock.engine_time, 0u);

    // A clock set beyond the limit by hand still starts a new boot instead of silently wrapping.
    clock = {4, 0xFFFFFFFFu};
    snmp_v3_update_local_engine_time(&clock);
    EXPECT_EQ(clock.engine_boots, 5u);
    EXPECT_EQ(clock.engine_time, 0u);

    snmp_v3_update_local_engine_time(nullptr);
}

class RequestIds : public testing::Test {
protected:
    void TearDown() override { g_next_request_id = 1; }
};

TEST_F(RequestIds, SequenceWrapsAfterTheLargestPositiveId) {
    g_next_request_id = 1;
    EXPECT_EQ(snmp_generate_request_id(), 1u);
    EXPECT_EQ(snmp_generate_request_id(), 2u);
    EXPECT_EQ(g_next_request_id, 3u);

    g_next_request_id = kMaxRequestId - 1;
    EXPECT_EQ(snmp_generate_request_id(), kMaxRequestId - 1);
    EXPECT_EQ(snmp_generate_request_id(), kMaxRequestId);
    EXPECT_EQ(snmp_generate_request_id(), 1u);
    EXPECT_EQ(snmp_generate_request_id(), 2u);

    g_next_request_id = 0xFFFFFFFFu;
    EXPECT_EQ(snmp_generate_request_id(), 1u);
    EXPECT_EQ(g_next_request_id, 2u);

    // A counter cleared to 0 from outside still never hands out 0.
    g_next_request_id = 0;
    EXPECT_EQ(snmp_generate_request_id(), 1u);
}

TEST_F(RequestIds, ConcurrentCallersGetDistinctIdsAcrossTheWrap) {
    constexpr unsigned kThreads = 4;
    constexpr unsigned kPerThread = 20000;
    constexpr uint32_t kBeforeWrap = 30000; /* ids handed out before the sequence restarts at 1 */
    g_next_request_id = kMaxRequestId - kBeforeWrap + 1;

    std::vector<std::vector<uint32_t>> per_thread(kThreads);
    {
        std::vector<std::jthread> threads;
        for (unsigned t = 0; t < kThreads; ++t) {
            threads.emplace_back([&ids = per_thread[t]] {
                ids.reserve(kPerThread);
                for (unsigned i = 0; i < kPerThread; ++i) {
                    ids.push_back(snmp_generate_request_id());
                }
            });
        }
    }
    std::vector<uint32_t> all;
    for (const auto &ids : per_thread) {
        all.insert(all.end(), ids.begin(), ids.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), size_t{kThreads} * kPerThread);
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "an id was handed out twice";

    // Exactly 1..N-30000 after the wrap and the last 30000 ids before it.
    const uint32_t after_wrap = kThreads * kPerThread - kBeforeWrap;
    EXPECT_EQ(all.front(), 1u);
    EXPECT_EQ(all[after_wrap - 1], after_wrap);
    EXPECT_EQ(all[after_wrap], kMaxRequestId - kBeforeWrap + 1);
    EXPECT_EQ(all.back(), kMaxRequestId);
    EXPECT_EQ(g_next_request_id, after_wrap + 1);
}

}  // namespace
