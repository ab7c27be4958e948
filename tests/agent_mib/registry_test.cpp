// MIB registry: the sorted 32-node table, OID order and OID text.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mib_test_util.h"

namespace {

using namespace mib_test;

class MibRegistry : public EmptyRegistry {};

TEST_F(MibRegistry, InitLogsCapacityAndEmptiesTheTable) {
    add(test_node(make_oid({1, 3, 6, 1, 4, 1, 7})));
    std::string log = capture_log([] { mib_registry_init(); });
    EXPECT_TRUE(has_line(log, "INFO", "MIB注册表初始化完成，最大支持节点数: 32")) << log;
    EXPECT_EQ(mib_registry_get_count(), 0);
    uint8_t count = 99;
    const mib_node *table = mib_registry_get_all(&count);
    EXPECT_EQ(count, 0);
    for (size_t i = 0; i < MIB_MAX_NODES; ++i) {
        EXPECT_EQ(table[i].oid.len, 0) << i;
        EXPECT_EQ(table[i].read, nullptr) << i;
    }
}

TEST_F(MibRegistry, RegistrationOrderDoesNotChangeTheSortedOrder) {
    const std::array<snmp_oid, 3> oids = {make_oid({1, 3, 6, 1, 4, 1, 5}), make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0}),
                                          make_oid({1, 3, 6, 1, 4, 1, 5, 1})};
    std::array<size_t, 3> order = {0, 1, 2};
    do {
        mib_registry_init();
        for (size_t index : order) {
            add(test_node(oids[index]));
        }
        // A prefix sorts before its extensions.
        EXPECT_EQ(table_oids(), (std::vector<std::string>{"1.3.6.1.2.1.1.1.0", "1.3.6.1.4.1.5", "1.3.6.1.4.1.5.1"}));
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(MibRegistry, FullTableOf32NodesIsSortedAndRejectsA33rd) {
    std::vector<snmp_oid> oids;
    for (uint32_t i = 0; i < MIB_MAX_NODES; ++i) {
        // Mixed lengths and values that differ as numbers but not as text order (10 < 9 as text).
        oids.push_back(i % 2 == 0 ? make_oid({1, 3, 6, 1, 4, 1, 100 - i}) : make_oid({1, 3, 6, 1, 4, 1, 9, i}));
    }
    std::vector<snmp_oid> shuffled = oids;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    {
        log_level_scope quiet(AGENT_LOG_WARN);
        for (const snmp_oid &oid : shuffled) {
            add(test_node(oid));
        }
    }
    ASSERT_EQ(mib_registry_get_count(), MIB_MAX_NODES);
    uint8_t count = 0;
    const mib_node *table = mib_registry_get_all(&count);
    for (uint8_t i = 1; i < count; ++i) {
        EXPECT_EQ(oid_compare(&table[i - 1].oid, &table[i].oid), -1) << i;
    }
    EXPECT_EQ(text_of(table[0].oid), "1.3.6.1.4.1.9.1");
    EXPECT_EQ(text_of(table[count - 1].oid), "1.3.6.1.4.1.100");

    std::vector<mib_node> before(table, table + MIB_MAX_NODES);
    mib_node extra = test_node(make_oid({1, 3, 6, 1, 4, 1, 0}));
    bool added = true;
    std::string log = capture_log([&] { added = mib_registry_add(&extra); });
    EXPECT_FALSE(added);
    EXPECT_TRUE(has_line(log, "ERROR", "节点注册失败：注册表已满（当前: 32, 最大: 32）")) << log;
    EXPECT_EQ(std::memcmp(before.data(), table, sizeof(mib_node) * MIB_MAX_NODES), 0);
}

TEST_F(MibRegistry, RejectedAddsChangeNothing) {
    mib_node node = test_node(make_oid({1, 3, 6, 1, 4, 1, 9, 1}));
    node.name = "first";
    add(node);
    mib_node again = test_node(node.oid, MIB_ACCESS_READ_WRITE);
    again.name = "second";
    bool added = true;
    std::string log = capture_log([&] { added = mib_registry_add(&again); });
    EXPECT_FALSE(added);
    EXPECT_TRUE(has_line(log, "ERROR", "节点注册失败：OID已存在（名称: second）")) << log;
    EXPECT_EQ(mib_registry_get_count(), 1);
    EXPECT_EQ(mib_registry_find(&node.oid)->access, MIB_ACCESS_READ_ONLY);

    log = capture_log([&] { added = mib_registry_add(nullptr); });
    EXPECT_FALSE(added);
    EXPECT_TRUE(has_line(log, "ERROR", "节点注册失败：配置参数为空")) << log;

    // An empty OID marks an unused entry, and no OID is longer than 32: neither can be registered.
    mib_node empty = test_node(snmp_oid{});
    EXPECT_FALSE(mib_registry_add(&empty));
    mib_node too_long = test_node(make_oid({1, 3}));
    too_long.oid.len = SNMP_MAX_OID_LEN + 1;
    EXPECT_FALSE(mib_registry_add(&too_long));
    EXPECT_EQ(mib_registry_get_count(), 1);
}

TEST_F(MibRegistry, FindAndFindNext) {
    for (const snmp_oid &oid : {make_oid({1, 3, 6, 1, 4, 1, 5, 1}), make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0}),
                                make_oid({1, 3, 6, 1, 4, 1, 5})}) {
        add(test_node(oid));
    }
    snmp_oid sys_descr = make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
    ASSERT_NE(mib_registry_find(&sys_descr), nullptr);
    EXPECT_TRUE(same_oid(mib_registry_find(&sys_descr)->oid, sys_descr));
    snmp_oid absent = make_oid({1, 3, 6, 1, 2, 1, 1, 1});
    EXPECT_EQ(mib_registry_find(&absent), nullptr);

    // The next of an unregistered OID is the next greater registered one; prefixes come first.
    snmp_oid below_all = make_oid({1});
    EXPECT_EQ(text_of(mib_registry_find_next(&below_all)->oid), "1.3.6.1.2.1.1.1.0");
    snmp_oid between = make_oid({1, 3, 6, 1, 3});
    EXPECT_EQ(text_of(mib_registry_find_next(&between)->oid), "1.3.6.1.4.1.5");
    snmp_oid prefix = make_oid({1, 3, 6, 1, 4, 1, 5});
    EXPECT_EQ(text_of(mib_registry_find_next(&prefix)->oid), "1.3.6.1.4.1.5.1");
    snmp_oid last = make_oid({1, 3, 6, 1, 4, 1, 5, 1});
    std::string log = capture_log([&] { EXPECT_EQ(mib_registry_find_next(&last), nullptr); });
    EXPECT_TRUE(has_line(log, "DEBUG", "GETNEXT：无OID严格大于输入，endOfMibView")) << log;

    log = capture_log([] {
        EXPECT_EQ(mib_registry_find(nullptr), nullptr);
        EXPECT_EQ(mib_registry_find_next(nullptr), nullptr);
    });
    EXPECT_TRUE(has_line(log, "WARN", "节点查找失败：OID参数为空")) << log;
    EXPECT_TRUE(has_line(log, "WARN", "GETNEXT查找失败：OID参数为空")) << log;

    mib_registry_init();
    log = capture_log([&] { EXPECT_EQ(mib_registry_find_next(&below_all), nullptr); });
    EXPECT_TRUE(has_line(log, "DEBUG", "GETNEXT查找失败：注册表为空")) << log;
}

TEST_F(MibRegistry, RemoveReleasesUserDataOnceAndClosesTheGap) {
    snmp_oid a = make_oid({1, 3, 6, 1, 4, 1, 1});
    snmp_oid b = make_oid({1, 3, 6, 1, 4, 1, 2});
    snmp_oid c = make_oid({1, 3, 6, 1, 4, 1, 3});
    mib_node with_data = test_node(b);
    void *block = std::malloc(24);
    with_data.user_data = block;
    add(test_node(a));
    add(with_data);
    add(test_node(c));

    bool removed = false;
    std::string log = capture_log([&] { removed = mib_registry_remove(&b); });
    EXPECT_TRUE(removed);
    EXPECT_TRUE(has_line(log, "INFO", "mib_registry_remove: 删除节点成功，剩余节点总数=2")) << log;
#if VEK_TEST_HAS_ASAN
    EXPECT_TRUE(__asan_address_is_poisoned(block)) << "user_data was not released";
#endif
    EXPECT_EQ(table_oids(), (std::vector<std::string>{"1.3.6.1.4.1.1", "1.3.6.1.4.1.3"}));
    uint8_t count = 0;
    const mib_node *table = mib_registry_get_all(&count);
    EXPECT_EQ(table[2].oid.len, 0);
    EXPECT_EQ(table[2].user_data, nullptr);

    // Removing it again (a second free would be caught by the sanitizer) or anything unknown fails.
    log = capture_log([&] { removed = mib_registry_remove(&b); });
    EXPECT_FALSE(removed);
    EXPECT_TRUE(has_line(log, "WARN", "mib_registry_remove: 未找到目标OID节点")) << log;
    snmp_oid empty{};
    log = capture_log([&] {
        EXPECT_FALSE(mib_registry_remove(&empty));
        EXPECT_FALSE(mib_registry_remove(nullptr));
    });
    EXPECT_TRUE(has_line(log, "ERROR", "mib_registry_remove: oid 参数非法")) << log;
    EXPECT_EQ(mib_registry_get_count(), 2);
}

TEST_F(MibRegistry, ReinitialisingReleasesTheNodesUserData) {
    mib_node node = test_node(make_oid({1, 3, 6, 1, 4, 1, 1}));
    void *block = std::malloc(16);
    node.user_data = block;
    add(node);
    mib_registry_init();
    EXPECT_EQ(mib_registry_get_count(), 0);
#if VEK_TEST_HAS_ASAN
    EXPECT_TRUE(__asan_address_is_poisoned(block)) << "user_data leaked by mib_registry_init";
#endif
}

TEST(MibOidCompare, OrdersLikeAWalk) {
    snmp_oid one = make_oid({1, 3, 1});
    snmp_oid max = make_oid({1, 3, 4294967295u});
    snmp_oid prefix = make_oid({1, 3});
    snmp_oid empty{};
    EXPECT_EQ(oid_compare(&one, &max), -1);  // sub-identifiers compare unsigned
    EXPECT_EQ(oid_compare(&max, &one), 1);
    EXPECT_EQ(oid_compare(&one, &one), 0);
    EXPECT_EQ(oid_compare(&prefix, &one), -1);
    EXPECT_EQ(oid_compare(&one, &prefix), 1);

    std::string log = capture_log([&] {
        EXPECT_EQ(oid_compare(&empty, nullptr), 0);
        EXPECT_EQ(oid_compare(nullptr, &one), -1);
        EXPECT_EQ(oid_compare(&one, &empty), 1);
    });
    EXPECT_TRUE(has_line(log, "WARN", "oid_compare: 两个OID均为空")) << log;
    EXPECT_TRUE(has_line(log, "WARN", "oid_compare: oid1为空OID")) << log;
    EXPECT_TRUE(has_line(log, "WARN", "oid_compare: oid2为空OID")) << log;

    log = capture_log([&] {
        oid_compare(&one, &max);
        oid_compare(&prefix, &one);
        oid_compare(&one, &prefix);
        oid_compare(&max, &max);
    });
    EXPECT_TRUE(has_line(log, "DEBUG", "OID比较输入：oid1=1.3.1, oid2=1.3.4294967295")) << log;
    EXPECT_TRUE(has_line(log, "DEBUG", "OID比较结果：1.3.1 < 1.3.4294967295")) << log;
    EXPECT_TRUE(has_line(log, "DEBUG", "OID比较结果：1.3 < 1.3.1（前缀相同，长度更短）")) << log;
    EXPECT_TRUE(has_line(log, "DEBUG", "OID比较结果：1.3.1 > 1.3（前缀相同，长度更长）")) << log;
    EXPECT_TRUE(has_line(log, "DEBUG", "OID比较结果：1.3.4294967295 == 1.3.4294967295")) << log;
}

TEST(MibOidCompare, LengthPastTheCapacityIsNotReadBeyondTheRecord) {
    // Heap records so that the sanitizer sees any read past the capacity.
    auto a = std::make_unique<snmp_oid>(make_oid({1, 3, 6}));
    auto b = std::make_unique<snmp_oid>(make_oid({1, 3, 6}));
    for (uint32_t i = 0; i < SNMP_MAX_OID_LEN; ++i) {
        a->sub_ids[i] = b->sub_ids[i] = i;
    }
    a->len = 200;
    b->len = SNMP_MAX_OID_LEN;
    EXPECT_EQ(oid_compare(a.get(), b.get()), 0);  // read as its first SNMP_MAX_OID_LEN sub-identifiers
    std::array<char, 1024> text{};
    oid_to_string(a.get(), text.data(), static_cast<uint16_t>(text.size()));
    EXPECT_EQ(std::string(text.data()).substr(0, 8), "0.1.2.3.");
    std::ostringstream tail;
    tail << '.' << SNMP_MAX_OID_LEN - 2 << '.' << SNMP_MAX_OID_LEN - 1;
    EXPECT_TRUE(std::string(text.data()).ends_with(tail.str())) << text.data();
}

TEST(MibOidToString, RendersDottedDecimalAndCutsAtTheBuffer) {
    snmp_oid sys_descr = make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
    std::array<char, 64> buf{};
    std::string log = capture_log([&] { oid_to_string(&sys_descr, buf.data(), static_cast<uint16_t>(buf.size())); });
    EXPECT_STREQ(buf.data(), "1.3.6.1.2.1.1.1.0");
    EXPECT_TRUE(has_line(log, "DEBUG", "oid_to_string: 转换成功（结果=1.3.6.1.2.1.1.1.0, 长度=17）")) << log;

    snmp_oid three = make_oid({1, 3, 6});
    std::array<char, 5> small{};
    small.fill('x');
    log = capture_log([&] { oid_to_string(&three, small.data(), static_cast<uint16_t>(small.size())); });
    EXPECT_STREQ(small.data(), "1.3");
    EXPECT_TRUE(has_line(log, "WARN", "oid_to_string: 缓冲区不足（需要=2, 剩余=2）")) << log;

    // Exactly enough room: the text and its terminating zero.
    std::array<char, 6> exact{};
    oid_to_string(&three, exact.data(), static_cast<uint16_t>(exact.size()));
    EXPECT_STREQ(exact.data(), "1.3.6");

    snmp_oid big = make_oid({4294967295u, 0});
    oid_to_string(&big, buf.data(), static_cast<uint16_t>(buf.size()));
    EXPECT_STREQ(buf.data(), "4294967295.0");

    buf.fill('x');
    snmp_oid empty{};
    log = capture_log([&] {
        oid_to_string(&empty, buf.data(), static_cast<uint16_t>(buf.size()));
        oid_to_string(nullptr, buf.data() + 1, 10);
        oid_to_string(&three, buf.data() + 1, 0);
    });
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'x');
    EXPECT_TRUE(has_line(log, "WARN", "oid_to_string: 无效的OID数据（len=0）")) << log;
    EXPECT_NE(log.find("[ERROR] oid_to_string: 无效参数（oid="), std::string::npos) << log;
}

}  // namespace
