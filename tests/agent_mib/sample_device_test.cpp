// Sample device MIB over its simulated hardware, and the TPS collection hook.
#include <array>
#include <chrono>
#include <string>

#include "agent/agent_trap.h"
#include "agent/tps.h"
#include "agent/trans.h"
#include "apps/app_os/app_os.h"
#include "base/platform.h"
#include "mib_test_util.h"

namespace {

using namespace mib_test;

constexpr uint16_t kTrapPort = 162;
constexpr int kReceiveTimeoutMs = 2000;
const std::array<uint8_t, 4> kLoopback = {127, 0, 0, 1};
const snmp_oid kHrProcessorLoad1 = make_oid({1, 3, 6, 1, 2, 1, 25, 3, 3, 1, 2, 1});

// A UDP socket bound to 127.0.0.1:port (port 0: any free port), closed on scope exit.
class udp_socket {
public:
    explicit udp_socket(uint16_t port) : fd_(app_os::udp_socket()) {
        bound_ = fd_ != app_os::k_invalid_socket && app_os::bind_ipv4(fd_, app_os::ipv4_address(INADDR_LOOPBACK, port));
        app_os::set_io_limit(fd_, false, std::chrono::milliseconds(kReceiveTimeoutMs));
    }
    ~udp_socket() { app_os::close_socket(fd_); }
    udp_socket(const udp_socket &) = delete;
    udp_socket &operator=(const udp_socket &) = delete;

    bool bound() const { return bound_; }
    uint16_t port() const { return app_os::local_port(fd_); }
    // One datagram, or an empty text after the time-out.
    std::string receive() const {
        std::array<char, SNMP_MAX_MSG_SIZE> buf{};
        const app_os::io_result n = app_os::recv_some(fd_, buf.data(), buf.size(), true);
        return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
    }

private:
    app_os::socket_t fd_;
    bool bound_ = false;
};

// A loopback UDP port that was free a moment ago.
uint16_t free_port() {
    udp_socket probe(0);
    return probe.port();
}

class SampleDevice : public DefaultMib {
protected:
    void SetUp() override {
        DefaultMib::SetUp();
        // Notifications triggered by LED writes may only ever go to this host.
        trans_set_default_nms_ip(&eth_trans_ctx, kLoopback.data());
    }
    void TearDown() override {
        ASSERT_TRUE(user_mib_simulate_hw(25, 0, 500));
        DefaultMib::TearDown();
    }

    static snmp_varbind get(uint32_t which) {
        snmp_varbind vb{};
        vb.oid = *user_mib_get_oid(which);
        EXPECT_EQ(agent_mib_get(&vb.oid, &vb), MIB_OK);
        return vb;
    }

    static int32_t set_led(uint8_t type, int32_t value) {
        snmp_varbind vb{};
        vb.oid = *user_mib_get_oid(USER_MIB_NODE_LED);
        vb.type = type;
        vb.value.integer = value;
        return agent_mib_set(&vb.oid, &vb);
    }
};

TEST_F(SampleDevice, StartsAt25DegreesLedOffFan5000Rpm) {
    std::string log = capture_log([] { user_mib_init(); });  // a second registration is refused
    EXPECT_TRUE(has_line(log, "INFO", "开始初始化用户自定义MIB节点")) << log;
    EXPECT_TRUE(has_line(log, "DEBUG", "OID构建成功，节点数：9")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "温度节点注册失败：tempSensor")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "风扇节点注册失败：fanSpeed")) << log;
    EXPECT_TRUE(has_line(log, "INFO", "用户自定义MIB初始化完成（3个节点）")) << log;

    snmp_varbind temp = get(USER_MIB_NODE_TEMP);
    EXPECT_EQ(temp.type, SNMP_TAG_INTEGER);
    EXPECT_EQ(temp.value.integer, 25);
    snmp_varbind fan = get(USER_MIB_NODE_FAN);
    EXPECT_EQ(fan.type, SNMP_TAG_GAUGE32);
    EXPECT_EQ(static_cast<uint32_t>(fan.value.integer), 5000u);
    snmp_varbind led = get(USER_MIB_NODE_LED);
    EXPECT_EQ(led.type, SNMP_TAG_INTEGER);
    EXPECT_EQ(led.value.integer, 0);

    const mib_node *temp_node = mib_registry_find(user_mib_get_oid(USER_MIB_NODE_TEMP));
    ASSERT_NE(temp_node, nullptr);
    EXPECT_EQ(temp_node->poll_interval, 1000u);
    EXPECT_EQ(mib_registry_find(user_mib_get_oid(USER_MIB_NODE_FAN))->poll_interval, 500u);
    EXPECT_EQ(mib_registry_find(user_mib_get_oid(USER_MIB_NODE_LED))->access, MIB_ACCESS_READ_WRITE);

    log = capture_log([] { EXPECT_EQ(user_mib_get_oid(3), nullptr); });
    EXPECT_TRUE(has_line(log, "WARN", "获取无效节点OID：3")) << log;
}

TEST_F(SampleDevice, SimulatedHardwareLimits) {
    std::string log = capture_log([] { EXPECT_TRUE(user_mib_simulate_hw(-40, 1, 1000)); });
    EXPECT_TRUE(has_line(log, "INFO", "硬件模拟更新成功：温度=-40℃, LED=1, 风扇PWM=1000")) << log;
    EXPECT_EQ(get(USER_MIB_NODE_TEMP).value.integer, -40);
    EXPECT_EQ(static_cast<uint32_t>(get(USER_MIB_NODE_FAN).value.integer), 10000u);
    EXPECT_EQ(get(USER_MIB_NODE_LED).value.integer, 1);

    ASSERT_TRUE(user_mib_simulate_hw(85, 0, 1));
    EXPECT_EQ(get(USER_MIB_NODE_TEMP).value.integer, 85);
    EXPECT_EQ(get(USER_MIB_NODE_FAN).value.integer, 10);

    log = capture_log([] {
        EXPECT_FALSE(user_mib_simulate_hw(86, 0, 0));
        EXPECT_FALSE(user_mib_simulate_hw(-41, 0, 0));
        EXPECT_FALSE(user_mib_simulate_hw(20, 2, 0));
        EXPECT_FALSE(user_mib_simulate_hw(20, 0, 1001));
    });
    EXPECT_TRUE(has_line(log, "ERROR", "硬件模拟失败：温度超出范围（86℃），有效范围-40~85℃")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "硬件模拟失败：LED状态无效（2），有效值0~1")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "硬件模拟失败：风扇PWM超出范围（1001），有效范围0~1000")) << log;
    // Nothing changed.
    EXPECT_EQ(get(USER_MIB_NODE_TEMP).value.integer, 85);
    EXPECT_EQ(get(USER_MIB_NODE_FAN).value.integer, 10);
    EXPECT_EQ(get(USER_MIB_NODE_LED).value.integer, 0);

    // Whole degrees truncate toward zero on both sides of 0 °C.
    snmp_varbind vb{};
    ASSERT_TRUE(user_mib_simulate_hw(0, 0, 0));
    ASSERT_EQ(temp_read(nullptr, &vb), MIB_OK);
    EXPECT_EQ(vb.value.integer, 0);
    log = capture_log([] {
        EXPECT_EQ(temp_read(nullptr, nullptr), MIB_ERR_NULL_PARAM);
        EXPECT_EQ(fan_read(nullptr, nullptr), MIB_ERR_NULL_PARAM);
        EXPECT_EQ(led_read(nullptr, nullptr), MIB_ERR_NULL_PARAM);
        EXPECT_EQ(led_write(nullptr, nullptr), MIB_ERR_NULL_PARAM);
    });
    EXPECT_TRUE(has_line(log, "ERROR", "温度读取失败：varbind参数为空")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "LED写入失败：varbind参数为空")) << log;
}

TEST_F(SampleDevice, LedSetValidatesTypeAndValue) {
    // An OCTET STRING is refused by the MIB layer before led_write runs.
    std::string log = capture_log([] { EXPECT_EQ(set_led(SNMP_TAG_OCTET_STRING, 1), MIB_ERR_WRONG_TYPE); });
    EXPECT_TRUE(has_line(log, "WARN", "SET操作：类型不匹配")) << log;
    EXPECT_EQ(log.find("LED写入失败"), std::string::npos) << log;

    log = capture_log([] {
        EXPECT_EQ(set_led(SNMP_TAG_INTEGER, 2), MIB_ERR_TOO_LONG);
        EXPECT_EQ(set_led(SNMP_TAG_INTEGER, -1), MIB_ERR_TOO_LONG);  // compared unsigned
    });
    EXPECT_TRUE(has_line(log, "ERROR", "LED写入失败：值无效（2），有效范围0~1")) << log;
    EXPECT_TRUE(has_line(log, "ERROR", "LED写入失败：值无效（-1），有效范围0~1")) << log;
    EXPECT_EQ(get(USER_MIB_NODE_LED).value.integer, 0);

    snmp_varbind gauge{};
    gauge.type = SNMP_TAG_GAUGE32;
    log = capture_log([&] { EXPECT_EQ(led_write(nullptr, &gauge), MIB_ERR_WRONG_TYPE); });
    EXPECT_TRUE(has_line(log, "ERROR", "LED写入失败：类型错误（0x42），预期INTEGER(0x02)")) << log;

    // Without a running transport the notification fails; the write itself still succeeds.
    log = capture_log([] { EXPECT_EQ(set_led(SNMP_TAG_INTEGER, 0), MIB_OK); });
    EXPECT_TRUE(has_line(log, "INFO", "LED状态写入成功：0（0=关，1=开）")) << log;
    EXPECT_TRUE(has_line(log, "INFO", "触发链路断开 Trap（自动匹配NMS地址）")) << log;
    EXPECT_TRUE(has_line(log, "WARN", "链路断开 Trap 发送失败（不影响LED写入结果）")) << log;
}

// Binds the fixed trap port 162 on the loopback address (see the test's LOCKS).
TEST_F(SampleDevice, LedSetOnSendsLinkUpInformToTheManager) {
    udp_socket manager(kTrapPort);
    if (!manager.bound()) {
        GTEST_SKIP() << "port 162 cannot be bound here";
    }
    uint16_t agent_port = free_port();
    agent_trap_init();
    ASSERT_TRUE(trans_cfg_trans(TRANS_ETH, agent_port, &eth_trans_ctx));
    trans_set_default_nms_ip(&eth_trans_ctx, kLoopback.data());

    std::string log = capture_log([] { EXPECT_EQ(set_led(SNMP_TAG_INTEGER, 1), MIB_OK); });
    std::string datagram = manager.receive();
    trans_stop(&eth_trans_ctx);
    trans_set_default_nms_ip(&eth_trans_ctx, kLoopback.data());

    EXPECT_TRUE(has_line(log, "INFO", "LED状态写入成功：1（0=关，1=开）")) << log;
    EXPECT_TRUE(has_line(log, "INFO", "触发链路恢复 Inform（自动匹配NMS地址）")) << log;
    EXPECT_EQ(log.find("链路恢复 Inform 发送失败"), std::string::npos) << log;
    EXPECT_EQ(get(USER_MIB_NODE_LED).value.integer, 1);
    ASSERT_FALSE(datagram.empty()) << "no inform arrived on 127.0.0.1:162";
    // An InformRequest PDU carrying linkUp (1.3.6.1.6.3.1.1.5.4 encodes as 2B 06 01 06 03 01 01 05 04).
    EXPECT_NE(datagram.find('\xA6'), std::string::npos);
    EXPECT_NE(datagram.find(std::string("\x2B\x06\x01\x06\x03\x01\x01\x05\x04", 9)), std::string::npos);
}

TEST_F(SampleDevice, TpsServesOnlyHrProcessorLoad) {
    static int callback_calls = 0;
    static snmp_varbind delivered{};
    callback_calls = 0;
    tps_mib_coll_callback_reg([](const snmp_oid *, const snmp_varbind *value) {
        ++callback_calls;
        delivered = *value;
    });
    snmp_varbind out{};
    snmp_oid other = make_oid({1, 3, 6, 1, 2, 1, 25, 3, 3, 1, 2, 2});
    EXPECT_FALSE(tps_mib_coll_req(&other, &out));
    EXPECT_FALSE(tps_mib_coll_req(nullptr, &out));
    EXPECT_FALSE(tps_mib_coll_req(&kHrProcessorLoad1, nullptr));
    EXPECT_EQ(callback_calls, 0);

    ASSERT_TRUE(tps_mib_coll_req(&kHrProcessorLoad1, &out));
    EXPECT_EQ(callback_calls, 1);
    EXPECT_EQ(out.type, SNMP_TAG_INTEGER);
    EXPECT_GE(out.value.integer, 0);
    EXPECT_LE(out.value.integer, 49);
    EXPECT_EQ(delivered.value.integer, out.value.integer);
    EXPECT_EQ(out.oid.len, 0);  // the request's own record carries no name
    EXPECT_TRUE(same_oid(*tps_get_collect_oid(), kHrProcessorLoad1));

    tps_mib_coll_callback_reg(nullptr);
    EXPECT_TRUE(tps_mib_coll_req(&kHrProcessorLoad1, &out));
}

TEST_F(SampleDevice, CollectionLoopStoresTheProcessorLoadOfARegisteredNode) {
    agent_mib_coll_callback_reg();
    EXPECT_EQ(coll_callback, agent_mib_coll_callback_response);

    // Without a hrProcessorLoad.1 node the pushed value goes nowhere.
    std::array<uint8_t, sizeof(g_mib_db)> before{};
    std::memcpy(before.data(), g_mib_db, sizeof(g_mib_db));
    agent_mib_collect_all();
    EXPECT_EQ(std::memcmp(before.data(), g_mib_db, sizeof(g_mib_db)), 0);

    mib_node load{};
    load.oid = kHrProcessorLoad1;
    load.type = SNMP_TAG_INTEGER;
    load.name = "hrProcessorLoad";  // no read callback: only the pushed value fills its slot
    ASSERT_TRUE(mib_registry_add(&load));
    uint8_t count = 0;
    const mib_node *table = mib_registry_get_all(&count);
    size_t slot = 0;
    while (slot < count && !same_oid(table[slot].oid, kHrProcessorLoad1)) {
        ++slot;
    }
    ASSERT_LT(slot, count);
    agent_mib_coll_loop();
    EXPECT_EQ(g_mib_db[slot].valid, 1);
    EXPECT_TRUE(same_oid(g_mib_db[slot].vb.oid, kHrProcessorLoad1));
    EXPECT_LE(g_mib_db[slot].vb.value.integer, 49);
    // update_all read the other readable nodes in the same run.
    EXPECT_EQ(g_mib_db[0].valid, 1);
    EXPECT_EQ(g_mib_db[0].vb.type, SNMP_TAG_OCTET_STRING);

    agent_mib_coll_callback_response(nullptr, &g_mib_db[0].vb);  // ignored
    tps_mib_coll_callback_reg(nullptr);
}

}  // namespace
