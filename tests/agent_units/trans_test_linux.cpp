// The agent transport's hardware on Linux: no automatic address and no TRANS_ES hardware, a failed
// send resets the socket and retries, a port in use is not bound, and the UDP instance's result codes.
#include <sys/socket.h>

#include <array>
#include <string>

#include <gtest/gtest.h>

#include "agent/trans.h"
#include "agent/trans_udp_linux.h"
#include "agent_test_util.h"
#include "trans_test_util.h"

namespace {

using namespace trans_test;

TEST(TransContext, AutoConfigAppliesTheDefaultBlockAndStartStopChecks) {
    trans_ctx ctx{};
    EXPECT_TRUE(trans_auto_config_ip(&ctx));
    EXPECT_EQ(ctx.ip_mode, TRANS_IP_MODE_STATIC);
    EXPECT_EQ(std::memcmp(trans_get_local_ip(&ctx), Ipv4{192, 168, 1, 100}.data(), TRANS_IPV4_LEN), 0);
    EXPECT_EQ(std::memcmp(ctx.gateway, Ipv4{192, 168, 1, 1}.data(), TRANS_IPV4_LEN), 0);
    EXPECT_EQ(std::memcmp(ctx.subnet_mask, Ipv4{255, 255, 255, 0}.data(), TRANS_IPV4_LEN), 0);

    const uint8_t byte = 1;
    const Ipv4 dst{127, 0, 0, 1};
    LogCapture log;
    EXPECT_FALSE(trans_start(&ctx));  // never initialised
    EXPECT_FALSE(trans_send(&ctx, &byte, 1, dst.data(), 9));
    trans_stop(&ctx);
    ASSERT_TRUE(trans_init(TRANS_ES, kEsPort, nullptr, &ctx));
    EXPECT_FALSE(trans_start(&ctx));  // no TRANS_ES hardware on Linux
    EXPECT_FALSE(trans_send(&ctx, &byte, 1, dst.data(), 9));
    EXPECT_FALSE(trans_send_es(&byte, 1));
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "trans_start: 无效上下文或状态 [state=0]"));
    EXPECT_TRUE(contains(out, "trans_send: 无效参数 [state=0, len=1]"));
    EXPECT_TRUE(contains(out, "trans_stop: 无效上下文或未初始化"));
    EXPECT_TRUE(contains(out, "trans_start(Linux): udp_inst is NULL"));
    EXPECT_TRUE(contains(out, "trans_hw_send: 发送失败，不支持的平台或参数"));
    EXPECT_TRUE(contains(out, "trans_hw_reset: 不支持的硬件类型重置"));
    EXPECT_TRUE(contains(out, "trans_send_es: 已过时，建议使用trans_send"));
}

TEST_F(EthTest, FailedSendResetsTheSocketAndRetries) {
    Peer peer;
    feed(ctx_, "queued", Ipv4{127, 0, 0, 1}, peer.port());
    trans_set_nms_addr(&ctx_, Ipv4{127, 0, 0, 1}.data(), peer.port());
    // Shut the socket down under the transport: the send fails and the receive thread ends.
    shutdown(trans_udp_linux_get_fd(ctx_.udp_inst), SHUT_RDWR);  // ENOTCONN, yet the socket is shut
    const std::string text = "after-reset";
    const Ipv4 dst{127, 0, 0, 1};
    LogCapture log;
    EXPECT_TRUE(trans_send(&ctx_, reinterpret_cast<const uint8_t *>(text.data()), static_cast<uint16_t>(text.size()),
                           dst.data(), peer.port()));
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "trans_send: Linux发送返回失败，尝试硬件重置"));
    EXPECT_TRUE(contains(out, "trans_hw_reset: 开始硬件重置"));
    EXPECT_TRUE(contains(out, "trans_hw_reset(Linux): reset complete, actual bind port=" + std::to_string(ctx_.port)));
    const auto got = peer.receive();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::string(got->bytes.begin(), got->bytes.end()), text);
    // The reset forgot the manager and the queued message; the new thread receives again.
    EXPECT_EQ(queued(ctx_), 0);
    EXPECT_FALSE(nms_seen(ctx_));
    peer.send_to(ctx_.port, "again");
    EXPECT_TRUE(trans_wait(&ctx_, kArrivalTimeoutMs));
    EXPECT_EQ(take(ctx_), "again");
}

TEST(TransEth, BindingAPortInUseFails) {
    Peer holder;  // bound without SO_REUSEADDR / SO_REUSEPORT
    ASSERT_TRUE(holder.bound());
    trans_ctx ctx{};
    LogCapture log;
    EXPECT_FALSE(trans_init(TRANS_ETH, holder.port(), nullptr, &ctx));
    const std::string out = log.take();
    EXPECT_EQ(ctx.state, TRANS_STATE_HW_FAILED);
    EXPECT_EQ(ctx.udp_inst, nullptr);
    EXPECT_TRUE(contains(out, "bind port " + std::to_string(holder.port()) + " fail EADDRINUSE:port in use"));
    EXPECT_TRUE(contains(out, "trans_init: 硬件初始化失败"));
}

TEST(TransUdpLinux, InstanceResultCodes) {
    trans_udp_linux_t *inst = trans_udp_linux_create();
    ASSERT_NE(inst, nullptr);
    const uint8_t byte = 7;
    LogCapture log;
    EXPECT_EQ(trans_udp_linux_get_bound_port(inst), TRANS_UDP_ERR_STATE);
    EXPECT_EQ(trans_udp_linux_start_recv_thread(inst), TRANS_UDP_ERR_BAD_ARG);
    EXPECT_EQ(trans_udp_linux_sendto(inst, "127.0.0.1", 9, &byte, 1), TRANS_UDP_ERR_BAD_ARG);  // not bound
    const uint16_t port = agent_test::free_udp_port();
    EXPECT_EQ(trans_udp_linux_bind(inst, port), TRANS_UDP_OK);
    EXPECT_EQ(trans_udp_linux_bind(inst, port), TRANS_UDP_ERR_STATE);
    EXPECT_EQ(trans_udp_linux_get_bound_port(inst), port);
    EXPECT_EQ(trans_udp_linux_sendto(inst, "127.0.0.300", 9, &byte, 1), TRANS_UDP_ERR_BAD_ARG);
    std::array<uint8_t, 16> buf{};
    uint32_t src = 0;
    uint16_t src_port = 0;
    EXPECT_EQ(trans_udp_linux_recvfrom_bin(inst, buf.data(), static_cast<int32_t>(buf.size()), &src, &src_port), 0);
    EXPECT_EQ(trans_udp_linux_recvfrom_bin(inst, nullptr, 16, &src, &src_port), TRANS_UDP_ERR_BAD_ARG);

    Peer peer;
    EXPECT_EQ(trans_udp_linux_sendto(inst, "127.0.0.1", peer.port(), &byte, 1), 1);
    ASSERT_TRUE(peer.receive().has_value());
    EXPECT_EQ(trans_udp_linux_start_recv_thread(inst), TRANS_UDP_OK);
    EXPECT_EQ(trans_udp_linux_start_recv_thread(inst), TRANS_UDP_OK);
    trans_udp_linux_destroy(inst);
    trans_udp_linux_destroy(nullptr);
    EXPECT_EQ(trans_udp_linux_get_fd(nullptr), -1);
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "udp instance already bind"));
    EXPECT_TRUE(contains(out, "inet_pton parse ip 127.0.0.300 invalid"));
    EXPECT_TRUE(contains(out, "recv thread already running"));
    EXPECT_TRUE(contains(out, "udp recv thread exit"));
}

}  // namespace
