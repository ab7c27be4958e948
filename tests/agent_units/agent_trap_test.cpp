// Agent notifications sent through a real TRANS_ETH socket to a UDP peer on 127.0.0.1 and decoded
// with the codec; the pending-inform table matched by real Responses and expired by the time-out.
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent_config.h"
#include "agent/agent_trap.h"
#include "agent/trans.h"
#include "agent_test_util.h"
#include "base/platform.h"
#include "codec/snmp_ber.h"
#include "codec/snmp_protocol.h"
#include "codec/snmp_trap.h"

namespace {

using agent_test::contains;
using agent_test::count_of;
using agent_test::Datagram;
using agent_test::LogCapture;
using agent_test::Peer;

constexpr const char *kCommunity = "trapcomm";
constexpr const char *kCustomOid = "1.3.6.1.4.1.9999.1";
constexpr uint32_t kArrivalTimeoutMs = 2000;

snmp_oid oid_of(const char *text) {
    snmp_oid oid{};
    EXPECT_EQ(snmp_trap_parse_oid(text, &oid), 1);
    return oid;
}

// Decoded message; the record is large, so it lives on the heap.
std::unique_ptr<snmp_message> decode(const std::vector<uint8_t> &bytes) {
    auto msg = std::make_unique<snmp_message>();
    uint16_t consumed = 0;
    EXPECT_EQ(snmp_ber_decode_snmp_message(bytes.data(), static_cast<uint16_t>(bytes.size()), msg.get(), &consumed),
              SNMP_OK);
    return msg;
}

std::string community_of(const snmp_message &msg) {
    return std::string(reinterpret_cast<const char *>(msg.usm.username), msg.usm.user_len);
}

snmp_varbind integer_vb(uint32_t last_arc, int32_t value) {
    snmp_varbind vb{};
    vb.oid = oid_of("1.3.6.1.4.1.9999.2");
    vb.oid.sub_ids[vb.oid.len++] = last_arc;
    vb.type = SNMP_TAG_INTEGER;
    vb.value.integer = value;
    return vb;
}

size_t pending_count() {
    size_t used = 0;
    const uint32_t irq = platform_irq_save();
    for (const agent_inform_entry &entry : g_inform_pending) {
        used += entry.in_use != 0 ? 1 : 0;
    }
    platform_irq_restore(irq);
    return used;
}

class TrapTest : public ::testing::Test {
protected:
    void SetUp() override {
        agent_config_reset();
        const size_t len = std::strlen(kCommunity);
        std::memcpy(agent_cfg.ro_community, kCommunity, len);
        agent_cfg.ro_community_len = static_cast<uint8_t>(len);
        ASSERT_TRUE(trans_cfg_trans(TRANS_ETH, agent_test::free_udp_port(), &eth_trans_ctx));
        ASSERT_TRUE(trans_start(&eth_trans_ctx));
        agent_trap_init();
    }
    void TearDown() override {
        trans_stop(&eth_trans_ctx);
        eth_trans_ctx = trans_ctx{};
        agent_config_reset();
    }

    // Sends a notification to the manager peer and returns it decoded and validated.
    std::unique_ptr<snmp_message> notify(const char *oid, uint8_t is_inform, uint8_t count = 0,
                                         const snmp_varbind *vbs = nullptr) {
        EXPECT_TRUE(agent_send_v2c_trap_inform("127.0.0.1", manager_.port(), oid, is_inform, count, vbs));
        const auto got = manager_.receive();
        EXPECT_TRUE(got.has_value());
        if (!got) {
            return std::make_unique<snmp_message>();
        }
        EXPECT_EQ(got->from_port, eth_trans_ctx.port);
        auto msg = decode(got->bytes);
        EXPECT_EQ(snmp_trap_validate_message(msg.get()), 1);
        return msg;
    }

    // Answers an Inform the way a manager does, from the manager peer to the agent's port.
    void answer(const snmp_message &inform) {
        auto resp = std::make_unique<snmp_message>();
        ASSERT_EQ(snmp_inform_build_response(resp.get(), &inform, SNMP_VERSION_2C, kCommunity, nullptr), SNMP_OK);
        std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
        uint16_t len = 0;
        ASSERT_EQ(snmp_ber_encode_snmp_message(buf.data(), static_cast<uint16_t>(buf.size()), nullptr, resp.get(),
                                               &len),
                  SNMP_OK);
        manager_.send_to(eth_trans_ctx.port, buf.data(), len);
    }

    Peer manager_;
};

TEST_F(TrapTest, LinkDownTrapCarriesUptimeTrapOidAndCommunity) {
    const uint32_t before = platform_get_tick() / 10;
    auto msg = notify(AGENT_TRAP_OID_LINK_DOWN, 0);
    const uint32_t after = platform_get_tick() / 10;
    EXPECT_EQ(msg->version, SNMP_VERSION_2C);
    EXPECT_EQ(community_of(*msg), kCommunity);
    EXPECT_EQ(msg->pdu.op, SNMP_OP_TRAP);
    ASSERT_EQ(msg->pdu.varbind_count, 2);
    EXPECT_EQ(msg->pdu.varbinds[0].type, SNMP_TAG_TIMETICKS);
    const auto uptime = static_cast<uint32_t>(msg->pdu.varbinds[0].value.integer);
    EXPECT_GE(uptime, before);
    EXPECT_LE(uptime, after);
    EXPECT_EQ(msg->pdu.varbinds[1].type, SNMP_TAG_OID);
    const snmp_oid link_down = oid_of("1.3.6.1.6.3.1.1.5.3");
    EXPECT_TRUE(snmp_oid_compare(&msg->pdu.varbinds[1].value.oid_value, &link_down));
    EXPECT_GE(static_cast<uint32_t>(msg->pdu.request_id), AGENT_TRAP_REQUEST_ID_FLOOR);

    // Traps are not tracked, and each notification takes the next request-id.
    EXPECT_EQ(pending_count(), 0u);
    auto next = notify(kCustomOid, 0);
    EXPECT_EQ(next->pdu.request_id, msg->pdu.request_id + 1);

    // A new start draws its first request-id at random, not from the clock.
    agent_trap_init();
    auto restarted = notify(kCustomOid, 0);
    EXPECT_NE(restarted->pdu.request_id, next->pdu.request_id + 1);
    EXPECT_GT(std::abs(static_cast<int64_t>(restarted->pdu.request_id) - msg->pdu.request_id), 1000);
}

TEST_F(TrapTest, LinkUpInformIsReleasedByTheManagersResponse) {
    auto inform = notify(AGENT_TRAP_OID_LINK_UP, 1);
    EXPECT_EQ(inform->pdu.op, SNMP_OP_INFORM);
    const snmp_oid link_up = oid_of("1.3.6.1.6.3.1.1.5.4");
    EXPECT_TRUE(snmp_oid_compare(&inform->pdu.varbinds[1].value.oid_value, &link_up));
    const auto request_id = static_cast<uint32_t>(inform->pdu.request_id);
    ASSERT_EQ(pending_count(), 1u);
    EXPECT_EQ(g_inform_pending[0].request_id, request_id);

    answer(*inform);
    ASSERT_TRUE(trans_wait(&eth_trans_ctx, kArrivalTimeoutMs));
    std::array<uint8_t, TRANS_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    ASSERT_TRUE(trans_recv(&eth_trans_ctx, buf.data(), &len));
    auto resp = decode(std::vector<uint8_t>(buf.begin(), buf.begin() + len));
    EXPECT_EQ(resp->pdu.op, SNMP_OP_GET_RESPONSE);

    LogCapture log;
    EXPECT_TRUE(agent_trap_match_inform_resp(static_cast<uint32_t>(resp->pdu.request_id)));
    EXPECT_FALSE(agent_trap_match_inform_resp(static_cast<uint32_t>(resp->pdu.request_id)));
    const std::string out = log.take();
    EXPECT_EQ(pending_count(), 0u);
    EXPECT_TRUE(contains(out, "Inform响应匹配结果 [RequestID:" + std::to_string(request_id) + ", 是否Inform:1]"));
    EXPECT_TRUE(contains(out, "Inform响应匹配结果 [RequestID:" + std::to_string(request_id) + ", 是否Inform:0]"));
}

TEST_F(TrapTest, UnansweredInformExpiresOnlyAfterThreeSeconds) {
    auto inform = notify(kCustomOid, 1);
    ASSERT_EQ(pending_count(), 1u);
    const auto request_id = static_cast<uint32_t>(inform->pdu.request_id);
    auto age_entry = [](uint32_t age_ms) {
        const uint32_t irq = platform_irq_save();
        g_inform_pending[0].sent_tick = platform_get_tick() - age_ms;
        platform_irq_restore(irq);
    };

    age_entry(AGENT_INFORM_TIMEOUT_MS - 200);
    agent_inform_timeout_check();
    EXPECT_EQ(pending_count(), 1u);

    age_entry(AGENT_INFORM_TIMEOUT_MS);
    LogCapture log;
    agent_inform_timeout_check();
    const std::string out = log.take();
    EXPECT_EQ(pending_count(), 0u);
    EXPECT_TRUE(contains(out, "Inform响应超时 [RequestID:" + std::to_string(request_id) + ", 超时:3000ms]"));
    // Informs are sent once: the time-out sends nothing again.
    EXPECT_FALSE(manager_.receive(50).has_value());
    EXPECT_FALSE(agent_trap_match_inform_resp(request_id));
}

TEST_F(TrapTest, SixthInformIsSentUntracked) {
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < AGENT_MAX_PENDING_INFORMS; ++i) {
        ids.push_back(static_cast<uint32_t>(notify(kCustomOid, 1)->pdu.request_id));
    }
    ASSERT_EQ(pending_count(), AGENT_MAX_PENDING_INFORMS);
    LogCapture log;
    auto sixth = notify(kCustomOid, 1);
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "Inform缓存已满，无法申请新缓存 [RequestID:" + std::to_string(sixth->pdu.request_id)));
    EXPECT_TRUE(contains(out, "Inform缓存已满，发送可能无法匹配响应"));
    EXPECT_FALSE(agent_trap_match_inform_resp(static_cast<uint32_t>(sixth->pdu.request_id)));
    // The tracked ones still match, in any order.
    EXPECT_TRUE(agent_trap_match_inform_resp(ids[3]));
    EXPECT_TRUE(agent_trap_match_inform_resp(ids[0]));
    EXPECT_EQ(pending_count(), AGENT_MAX_PENDING_INFORMS - 2);
}

TEST_F(TrapTest, FailedInformSendReleasesItsEntry) {
    trans_stop(&eth_trans_ctx);
    LogCapture log;
    EXPECT_FALSE(agent_send_v2c_trap_inform("127.0.0.1", manager_.port(), kCustomOid, 1, 0, nullptr));
    EXPECT_FALSE(agent_send_v2c_trap_inform("127.0.0.1", manager_.port(), kCustomOid, 0, 0, nullptr));
    const std::string out = log.take();
    EXPECT_EQ(pending_count(), 0u);
    EXPECT_TRUE(contains(out, "Inform缓存申请成功 [索引:0"));
    EXPECT_TRUE(contains(out, "Inform发送失败 [NMS:127.0.0.1:" + std::to_string(manager_.port())));
    EXPECT_TRUE(contains(out, "Trap发送失败 [NMS:127.0.0.1:"));
    EXPECT_TRUE(contains(out, "Inform缓存释放成功 [索引:0"));
}

TEST_F(TrapTest, CustomTrapWithFifteenExtrasKeepsTheFirstFourteen) {
    std::array<snmp_varbind, 15> extras{};
    for (size_t i = 0; i < extras.size(); ++i) {
        extras[i] = integer_vb(static_cast<uint32_t>(i + 1), static_cast<int32_t>(100 + i));
    }
    LogCapture log;
    ASSERT_TRUE(agent_send_custom_trap("127.0.0.1", manager_.port(), kCustomOid, 15, extras.data()));
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "自定义VarBind数量超限，截断"));
    EXPECT_TRUE(contains(out, "追加自定义变量绑定，新增14条"));
    const auto got = manager_.receive();
    ASSERT_TRUE(got.has_value());
    auto msg = decode(got->bytes);
    ASSERT_EQ(msg->pdu.varbind_count, SNMP_MAX_VARBINDS);
    for (size_t i = 0; i < 14; ++i) {
        const snmp_varbind &vb = msg->pdu.varbinds[i + 2];
        EXPECT_TRUE(snmp_oid_compare(&vb.oid, &extras[i].oid)) << i;
        EXPECT_EQ(vb.value.integer, static_cast<int32_t>(100 + i));
    }
}

TEST_F(TrapTest, CustomInformWithOctetStringIsTracked) {
    snmp_varbind text{};
    text.oid = oid_of("1.3.6.1.4.1.9999.3.0");
    text.type = SNMP_TAG_OCTET_STRING;
    std::memcpy(text.value.octets, "fan stopped", 11);
    text.value_len = 11;
    ASSERT_TRUE(agent_send_custom_inform("127.0.0.1", manager_.port(), kCustomOid, 1, &text));
    const auto got = manager_.receive();
    ASSERT_TRUE(got.has_value());
    auto msg = decode(got->bytes);
    EXPECT_EQ(msg->pdu.op, SNMP_OP_INFORM);
    ASSERT_EQ(msg->pdu.varbind_count, 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(msg->pdu.varbinds[2].value.octets),
                          msg->pdu.varbinds[2].value_len),
              "fan stopped");
    EXPECT_EQ(pending_count(), 1u);
}

TEST_F(TrapTest, ArgumentChecksOfTheSenders) {
    const snmp_varbind vb = integer_vb(1, 1);
    LogCapture log;
    EXPECT_FALSE(agent_send_v2c_trap_inform(nullptr, 0, kCustomOid, 0, 0, nullptr));
    EXPECT_FALSE(agent_send_custom_trap("127.0.0.1", manager_.port(), kCustomOid, 1, nullptr));
    EXPECT_FALSE(agent_send_custom_inform("127.0.0.1", manager_.port(), kCustomOid, 0, &vb));
    EXPECT_FALSE(agent_send_custom_trap("127.0.0.1", manager_.port(), "1.36", 1, &vb));
    EXPECT_FALSE(agent_send_custom_inform("127.0.0.1", manager_.port(), "1.36", 1, &vb));
    EXPECT_FALSE(agent_send_v2c_trap_inform("127.0.0.1", manager_.port(), "1.3.x", 0, 0, nullptr));
    agent_inform_free(AGENT_MAX_PENDING_INFORMS);
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "Trap/Inform入参无效 [ip=NULL, oid=1.3.6.1.4.1.9999.1]"));
    EXPECT_TRUE(contains(out, "agent_send_custom_trap param invalid"));
    EXPECT_TRUE(contains(out, "agent_send_custom_inform param invalid"));
    EXPECT_TRUE(contains(out, "agent_send_custom_trap trap oid invalid"));
    EXPECT_TRUE(contains(out, "agent_send_custom_inform trap oid invalid"));
    EXPECT_TRUE(contains(out, "调用协议层构造PDU失败 [err=-4]"));
    EXPECT_TRUE(contains(out, "Inform缓存释放失败：索引越界 [索引:5]"));
    EXPECT_FALSE(manager_.receive(50).has_value());

    // The four-character OID that the custom senders refuse is fine for the general sender.
    auto msg = notify("1.36", 0);
    const snmp_oid short_oid = oid_of("1.36");
    EXPECT_TRUE(snmp_oid_compare(&msg->pdu.varbinds[1].value.oid_value, &short_oid));
}

TEST_F(TrapTest, DestinationTextIsParsedStrictly) {
    LogCapture log;
    EXPECT_FALSE(agent_send_v2c_trap_inform("10.0.0", 0, kCustomOid, 0, 0, nullptr));
    EXPECT_FALSE(agent_send_v2c_trap_inform("10.0.0.256", 0, kCustomOid, 0, 0, nullptr));
    EXPECT_FALSE(agent_send_v2c_trap_inform("10.0.x.1", 0, kCustomOid, 0, 0, nullptr));
    EXPECT_FALSE(agent_send_v2c_trap_inform("10..0.1", 0, kCustomOid, 0, 0, nullptr));
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "IP转换失败：格式错误 [10.0.0]"));
    EXPECT_TRUE(contains(out, "IP转换失败：字节值超出范围 [256]"));
    EXPECT_TRUE(contains(out, "IP转换失败：包含非数字字符 [x]"));
    EXPECT_TRUE(contains(out, "IP转换失败：格式错误 [10..0.1]"));
    EXPECT_EQ(count_of(out, "IP地址转换失败 ["), 4u);

    // Pieces after the fourth are ignored.
    ASSERT_TRUE(agent_send_v2c_trap_inform("127.0.0.1.9", manager_.port(), kCustomOid, 0, 0, nullptr));
    EXPECT_TRUE(manager_.receive().has_value());
}

TEST_F(TrapTest, UnusableReadOnlyCommunityFallsBackToPublic) {
    for (uint8_t len : {uint8_t{0}, uint8_t{32}}) {
        agent_cfg.ro_community_len = len;
        LogCapture log;
        auto msg = notify(kCustomOid, 0);
        EXPECT_TRUE(contains(log.take(), "配置的只读共同体无效，使用默认public"));
        EXPECT_EQ(community_of(*msg), "public");
    }
}

TEST_F(TrapTest, OversizedNotificationIsNotSent) {
    std::array<snmp_varbind, 14> extras{};
    for (size_t i = 0; i < extras.size(); ++i) {
        extras[i] = integer_vb(static_cast<uint32_t>(i), 0);
        extras[i].type = SNMP_TAG_OCTET_STRING;
        extras[i].value_len = SNMP_MAX_OCTETS;
    }
    LogCapture log;
    EXPECT_FALSE(agent_send_custom_trap("127.0.0.1", manager_.port(), kCustomOid, 14, extras.data()));
    EXPECT_TRUE(contains(log.take(), "协议层编码失败 [err="));
    EXPECT_FALSE(manager_.receive(50).has_value());
}

TEST_F(TrapTest, ManagerAddressTextAndAutomaticSenders) {
    LogCapture log;
    EXPECT_STREQ(agent_trap_get_nms_ip_str(), AGENT_TRAP_DEFAULT_NMS_IP);
    EXPECT_TRUE(contains(log.take(), "传输层无NMS IP记录，使用默认值：192.168.1.200"));

    const uint8_t loopback[TRANS_IPV4_LEN] = {127, 0, 0, 1};
    trans_set_nms_addr(&eth_trans_ctx, loopback, manager_.port());  // as for an accepted request
    EXPECT_STREQ(agent_trap_get_nms_ip_str(), "127.0.0.1");

    Peer trap_port(AGENT_TRAP_DEFAULT_PORT);
    if (!trap_port.bound()) {
        GTEST_SKIP() << "127.0.0.1:162 is not available to this test";
    }
    LogCapture sent;
    ASSERT_TRUE(agent_send_v2c_link_down_trap_auto());
    ASSERT_TRUE(agent_send_v2c_link_up_inform_auto());
    const std::string out = sent.take();
    const std::string expected_port = std::to_string(manager_.port());
    EXPECT_TRUE(contains(out, "自动选择NMS地址发送链路断开Trap：127.0.0.1:" + expected_port));
    EXPECT_TRUE(contains(out, "自动选择NMS地址发送链路恢复Inform：127.0.0.1:" + expected_port));
    const auto down = trap_port.receive();
    const auto up = trap_port.receive();
    ASSERT_TRUE(down.has_value());
    ASSERT_TRUE(up.has_value());
    EXPECT_EQ(decode(down->bytes)->pdu.op, SNMP_OP_TRAP);
    EXPECT_EQ(decode(up->bytes)->pdu.op, SNMP_OP_INFORM);
    EXPECT_EQ(pending_count(), 1u);
}

}  // namespace
