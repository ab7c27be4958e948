// The agent transport's hardware on Windows: a port in use gives way to the first free port of the
// fallback list; TRANS_ES initialises and starts without hardware; the automatic address; the receive
// thread passes over time-outs, ICMP resets and oversized datagrams and goes on, resets on a lost
// socket and ends on any other error; a reset rebinds the current port; the UDP instance's result
// codes; socket handles are pointer-sized.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/trans.h"
#include "agent/trans_udp_win32.h"
#include "agent_test_util.h"
#include "base/platform.h"
#include "tests/support/test_os.h"
#include "trans_test_util.h"

namespace {

using namespace trans_test;
using vek::agent::udp_win32::choose_port;
using vek::agent::udp_win32::kFallbackPorts;
using vek::agent::udp_win32::on_receive_error;
using vek::agent::udp_win32::RecvErrorAction;

static_assert(sizeof(platform_socket_t) == sizeof(void *), "a Windows socket handle is pointer-sized");

// The fake port table of the fallback tests.
std::vector<uint16_t> g_taken;
bool taken(uint16_t port) { return std::find(g_taken.begin(), g_taken.end(), port) != g_taken.end(); }

TEST(TransWindowsPorts, FallbackListIsTriedInOrder) {
    EXPECT_EQ(kFallbackPorts, (std::array<uint16_t, 6>{161, 1610, 10161, 20161, 30161, 40161}));
    LogCapture log;
    g_taken = {};
    EXPECT_EQ(choose_port(5000, taken), 5000);
    g_taken = {5000, 161};
    EXPECT_EQ(choose_port(5000, taken), 1610);
    g_taken = {161, 1610, 10161};
    EXPECT_EQ(choose_port(161, taken), 20161);
    g_taken = {5000, 161, 1610, 10161, 20161, 30161, 40161};
    EXPECT_EQ(choose_port(5000, taken), 5000) << "nothing free: the requested port is bound anyway";
    const std::string out = log.take();
    EXPECT_EQ(count_of(out, "trans_hw_init: 端口5000已被占用，尝试备用端口"), 2u);
    EXPECT_TRUE(contains(out, "trans_hw_init: 选择备用端口1610"));
    EXPECT_TRUE(contains(out, "trans_hw_init: 端口161已被占用，尝试备用端口"));
    EXPECT_TRUE(contains(out, "trans_hw_init: 选择备用端口20161"));
}

TEST(TransWindowsPorts, PortInUseGivesWayToAFallbackPort) {
    Peer holder;  // a plain socket on the port the transport asks for
    ASSERT_TRUE(holder.bound());
    EXPECT_EQ(trans_udp_win32_port_in_use(holder.port()), 1);
    trans_ctx ctx{};
    LogCapture log;
    ASSERT_TRUE(trans_init(TRANS_ETH, holder.port(), nullptr, &ctx));
    const std::string out = log.take();
    EXPECT_NE(ctx.port, holder.port());
    EXPECT_NE(std::find(kFallbackPorts.begin(), kFallbackPorts.end(), ctx.port), kFallbackPorts.end()) << ctx.port;
    EXPECT_TRUE(contains(out, "trans_hw_init: 端口" + std::to_string(holder.port()) + "已被占用，尝试备用端口"));
    EXPECT_TRUE(contains(out, "trans_hw_init: 选择备用端口" + std::to_string(ctx.port)));
    EXPECT_TRUE(contains(out, "trans_bind_port: Windows成功绑定端口" + std::to_string(ctx.port)));
    trans_stop(&ctx);
}

TEST(TransWindowsContext, TransEsStartsWithoutHardwareAndTheAddressIsConfigured) {
    trans_ctx ctx{};
    LogCapture log;
    ASSERT_TRUE(trans_init(TRANS_ES, kEsPort, nullptr, &ctx));
    EXPECT_TRUE(trans_start(&ctx));
    EXPECT_EQ(ctx.udp_inst, nullptr);
    trans_stop(&ctx);
    trans_ctx eth{};
    EXPECT_TRUE(trans_auto_config_ip(&eth));
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "trans_hw_init: Windows平台对TRANS_ES类型的支持正在开发中"));
    if (eth.ip_mode == TRANS_IP_MODE_AUTO) {
        EXPECT_TRUE(contains(out, "trans_auto_config_ip: Windows IP配置成功"));
        EXPECT_EQ(eth.gateway[3], 1);
        EXPECT_EQ(std::memcmp(eth.gateway, eth.local_ip, 3), 0) << "the gateway is a.b.c.1 of the address";
        EXPECT_EQ(std::memcmp(eth.subnet_mask, Ipv4{255, 255, 255, 0}.data(), TRANS_IPV4_LEN), 0);
    } else {
        // The host's name resolves to nothing but loopback: the default block, as on Linux.
        EXPECT_TRUE(contains(out, "trans_auto_config_ip: 自动配置失败，使用默认IP 192.168.1.100"));
        EXPECT_EQ(std::memcmp(eth.local_ip, Ipv4{192, 168, 1, 100}.data(), TRANS_IPV4_LEN), 0);
    }
}

// The receive thread's verdicts, through the seam it uses.
TEST(TransWindowsReceive, ErrorsAreSortedIntoGoOnResetAndEnd) {
    const Ipv4 from{10, 0, 0, 7};
    LogCapture log;
    EXPECT_EQ(on_receive_error(WSAETIMEDOUT, from.data()), RecvErrorAction::kContinue);
    EXPECT_EQ(on_receive_error(WSAEINTR, from.data()), RecvErrorAction::kContinue);
    EXPECT_EQ(on_receive_error(WSAECONNRESET, from.data()), RecvErrorAction::kContinue);
    EXPECT_EQ(on_receive_error(WSAEMSGSIZE, from.data()), RecvErrorAction::kContinue);
    EXPECT_EQ(on_receive_error(WSAENOTSOCK, from.data()), RecvErrorAction::kReset);
    EXPECT_EQ(on_receive_error(WSAENETDOWN, from.data()), RecvErrorAction::kExit);
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "[DEBUG] udp_recv_thread: 收到ICMP重置 from 10.0.0.7"));
    EXPECT_TRUE(contains(out, "[WARN] udp_recv_thread: 报文超过1024字节，丢弃 from 10.0.0.7"));
    EXPECT_TRUE(contains(out, "[ERROR] udp_recv_thread: 套接字错误: " + std::to_string(WSAENETDOWN) + "，退出接收线程"));
}

// A datagram larger than a message used to end the receive thread (WSAEMSGSIZE): it is discarded
// and the next one is received.
TEST_F(EthTest, OversizedDatagramIsDiscardedAndReceptionGoesOn) {
    Peer peer;
    const std::vector<uint8_t> big(TRANS_MAX_MSG_SIZE + 100, 0x30);
    LogCapture log;
    peer.send_to(ctx_.port, big.data(), big.size());
    peer.send_to(ctx_.port, "next");
    ASSERT_TRUE(trans_wait(&ctx_, kArrivalTimeoutMs));
    EXPECT_EQ(take(ctx_), "next");
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "udp_recv_thread: 报文超过1024字节，丢弃 from 127.0.0.1")) << out;
    EXPECT_FALSE(contains(out, "退出接收线程"));
}

// Windows reports a UDP send that reached a closed port as WSAECONNRESET on the next receive.
TEST_F(EthTest, IcmpResetIsLoggedAndReceptionGoesOn) {
    if (test_os::under_wine()) {
        GTEST_SKIP() << "Wine does not emulate WSAECONNRESET after a UDP send to a closed port; "
                        "the thread's handling of it is tested through its seam (ErrorsAreSortedIntoGoOnResetAndEnd)";
    }
    const uint16_t closed = agent_test::free_udp_port();
    const std::string text = "nobody";
    const Ipv4 loopback{127, 0, 0, 1};
    LogCapture log;
    ASSERT_TRUE(trans_send(&ctx_, reinterpret_cast<const uint8_t *>(text.data()), static_cast<uint16_t>(text.size()),
                           loopback.data(), closed));
    Peer peer;
    peer.send_to(ctx_.port, "still-here");
    ASSERT_TRUE(trans_wait(&ctx_, kArrivalTimeoutMs));
    EXPECT_EQ(take(ctx_), "still-here");
    EXPECT_TRUE(contains(log.take(), "udp_recv_thread: 收到ICMP重置 from 127.0.0.1"));
}

TEST_F(EthTest, ResetRebindsTheCurrentPortWithAReceiveThread) {
    const uint16_t port = ctx_.port;
    LogCapture log;
    ASSERT_TRUE(trans_hw_reset(&ctx_));
    const std::string out = log.take();
    EXPECT_EQ(ctx_.port, port);
    EXPECT_TRUE(contains(out, "trans_hw_reset: Windows重置完成 [新端口:" + std::to_string(port) + "]"));
    Peer peer;
    peer.send_to(ctx_.port, "after-reset");
    ASSERT_TRUE(trans_wait(&ctx_, kArrivalTimeoutMs));
    EXPECT_EQ(take(ctx_), "after-reset");
}

TEST(TransUdpWin32, InstanceResultCodes) {
    trans_udp_win32_t *inst = trans_udp_win32_create();
    ASSERT_NE(inst, nullptr);
    const uint8_t byte = 7;
    const Ipv4 loopback{127, 0, 0, 1};
    LogCapture log;
    EXPECT_EQ(trans_udp_win32_get_bound_port(inst), TRANS_UDP_ERR_STATE);
    EXPECT_EQ(trans_udp_win32_start_recv_thread(inst), TRANS_UDP_ERR_BAD_ARG);
    EXPECT_EQ(trans_udp_win32_sendto_bin(inst, loopback.data(), 9, &byte, 1, nullptr), TRANS_UDP_ERR_BAD_ARG);
    const uint16_t port = agent_test::free_udp_port();
    EXPECT_EQ(trans_udp_win32_bind(inst, port), TRANS_UDP_OK);
    EXPECT_EQ(trans_udp_win32_bind(inst, port), TRANS_UDP_ERR_STATE);
    EXPECT_EQ(trans_udp_win32_get_bound_port(inst), port);
    std::array<uint8_t, 16> buf{};
    uint32_t src = 0;
    uint16_t src_port = 0;
    EXPECT_EQ(trans_udp_win32_recvfrom_bin(inst, buf.data(), static_cast<int32_t>(buf.size()), &src, &src_port), 0);
    EXPECT_EQ(trans_udp_win32_recvfrom_bin(inst, nullptr, 16, &src, &src_port), TRANS_UDP_ERR_BAD_ARG);

    Peer peer;
    int error = -1;
    EXPECT_EQ(trans_udp_win32_sendto_bin(inst, loopback.data(), peer.port(), &byte, 1, &error), 1);
    EXPECT_EQ(error, 0);
    ASSERT_TRUE(peer.receive().has_value());
    EXPECT_EQ(trans_udp_win32_start_recv_thread(inst), TRANS_UDP_OK);
    EXPECT_EQ(trans_udp_win32_start_recv_thread(inst), TRANS_UDP_OK);
    trans_udp_win32_destroy(inst);
    trans_udp_win32_destroy(nullptr);
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "trans_bind_port: Windows成功绑定端口" + std::to_string(port)));
    EXPECT_TRUE(contains(out, "udp instance already bind"));
    EXPECT_TRUE(contains(out, "recv thread already running"));
    EXPECT_TRUE(contains(out, "udp recv thread exit"));
}

}  // namespace
