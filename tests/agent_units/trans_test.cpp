// Agent transport: the receive ring, whitelist and current-NMS address through the intake entry
// points, and the TRANS_ETH path against real UDP sockets on 127.0.0.1.
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/trans.h"
#include "agent/trans_udp_linux.h"
#include "agent_test_util.h"
#include "base/platform.h"

namespace {

using agent_test::contains;
using agent_test::count_of;
using agent_test::LogCapture;
using agent_test::Peer;
using Clock = std::chrono::steady_clock;
using Ipv4 = std::array<uint8_t, TRANS_IPV4_LEN>;

constexpr uint32_t kArrivalTimeoutMs = 2000;
constexpr uint16_t kEsPort = 7000;

uint32_t to_u32(const Ipv4 &ip) {
    uint32_t value = 0;
    std::memcpy(&value, ip.data(), sizeof value);
    return value;
}

// Feeds one message into the context as if the receive thread had taken it from src:port.
void feed(trans_ctx &ctx, const std::string &text, const Ipv4 &src, uint16_t port) {
    trans_eth_irq_handler(&ctx, reinterpret_cast<const uint8_t *>(text.data()), static_cast<uint16_t>(text.size()),
                          src.data(), port);
}

// Queue depth read inside the interrupt bracket, as the receive thread writes it.
uint8_t queued(const trans_ctx &ctx) {
    const uint32_t irq = platform_irq_save();
    const uint8_t count = ctx.queue.count;
    platform_irq_restore(irq);
    return count;
}

bool nms_seen(trans_ctx &ctx) { return trans_get_nms_addr(&ctx, nullptr, nullptr); }

std::string take(trans_ctx &ctx, Ipv4 *src = nullptr, uint16_t *port = nullptr) {
    std::array<uint8_t, TRANS_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    if (!trans_recv_from(&ctx, buf.data(), &len, src != nullptr ? src->data() : nullptr, port)) {
        return {};
    }
    return std::string(reinterpret_cast<const char *>(buf.data()), len);
}

// Polls until pred holds or two seconds pass.
template <typename Pred>
bool eventually(Pred pred) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kArrivalTimeoutMs);
    while (Clock::now() < deadline) {
        if (pred()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

// A context without hardware (TRANS_ES initialises without a socket on Linux) for the ring tests.
class RingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(trans_init(TRANS_ES, kEsPort, nullptr, &ctx_)); }
    trans_ctx ctx_{};
};

// A started TRANS_ETH context on a free port.
class EthTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(trans_cfg_trans(TRANS_ETH, agent_test::free_udp_port(), &ctx_));
        ASSERT_TRUE(trans_start(&ctx_));
    }
    void TearDown() override { trans_stop(&ctx_); }
    trans_ctx ctx_{};
};

TEST(TransInit, BadArgumentsFailWithoutTouchingTheContext) {
    trans_ctx ctx{};
    std::memset(&ctx, 0x5A, sizeof ctx);
    trans_ctx before{};
    std::memcpy(&before, &ctx, sizeof ctx);
    LogCapture log;
    EXPECT_FALSE(trans_init(TRANS_TYPE_COUNT, 161, nullptr, &ctx));
    EXPECT_FALSE(trans_init(TRANS_ETH, 0, nullptr, &ctx));
    EXPECT_FALSE(trans_init(TRANS_ETH, 161, nullptr, nullptr));
    EXPECT_EQ(std::memcmp(&before, &ctx, sizeof ctx), 0);
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "trans_init: 无效参数 [type=2, port=161]"));
    EXPECT_TRUE(contains(out, "trans_init: 无效参数 [type=0, port=0]"));
}

TEST_F(RingTest, NinthMessageEvictsTheOldestAndEachKeepsItsSender) {
    for (int i = 1; i <= 9; ++i) {
        const Ipv4 src{10, 0, 0, static_cast<uint8_t>(i)};
        feed(ctx_, "msg" + std::to_string(i), src, static_cast<uint16_t>(40000 + i));
    }
    EXPECT_EQ(queued(ctx_), TRANS_QUEUE_SLOTS);
    for (int i = 2; i <= 9; ++i) {
        Ipv4 src{};
        uint16_t port = 0;
        EXPECT_EQ(take(ctx_, &src, &port), "msg" + std::to_string(i));
        EXPECT_EQ(src, (Ipv4{10, 0, 0, static_cast<uint8_t>(i)}));
        EXPECT_EQ(port, 40000 + i);
    }
    std::array<uint8_t, TRANS_MAX_MSG_SIZE> buf{};
    uint16_t len = 99;
    EXPECT_FALSE(trans_recv(&ctx_, buf.data(), &len));
    EXPECT_EQ(len, 0);
    // Receiving makes no sender the current NMS: only the agent does, for an accepted request.
    EXPECT_FALSE(nms_seen(ctx_));
}

TEST_F(RingTest, OverflowAndLengthLimitsAreLogged) {
    LogCapture log;
    const std::vector<uint8_t> max_msg(TRANS_MAX_MSG_SIZE, 0xAB);
    const std::vector<uint8_t> too_long(TRANS_MAX_MSG_SIZE + 1, 0xCD);
    for (size_t i = 0; i < TRANS_QUEUE_SLOTS; ++i) {
        EXPECT_TRUE(trans_queue_enqueue(&ctx_.queue, max_msg.data(), static_cast<uint16_t>(max_msg.size())));
    }
    EXPECT_TRUE(trans_queue_enqueue(&ctx_.queue, max_msg.data(), 1));
    EXPECT_FALSE(trans_queue_enqueue(&ctx_.queue, too_long.data(), static_cast<uint16_t>(too_long.size())));
    EXPECT_FALSE(trans_queue_enqueue(&ctx_.queue, max_msg.data(), 0));
    EXPECT_FALSE(trans_queue_enqueue(nullptr, max_msg.data(), 1));
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "trans_queue_enqueue: 队列溢出，丢弃 oldest 消息 [当前深度:8]"));
    EXPECT_TRUE(contains(out, "trans_queue_enqueue: 入队(溢出处理后) [长度:1, 队列计数:8]"));
    EXPECT_TRUE(contains(out, "trans_queue_enqueue: 无效参数 [len=1025]"));
    EXPECT_TRUE(contains(out, "trans_queue_enqueue: 无效参数 [len=0]"));
    // Seven full messages, then the one-byte message last.
    for (size_t i = 0; i + 1 < TRANS_QUEUE_SLOTS; ++i) {
        EXPECT_EQ(take(ctx_).size(), TRANS_MAX_MSG_SIZE);
    }
    EXPECT_EQ(take(ctx_).size(), 1u);
}

TEST_F(RingTest, RecvOnAContextThatIsNotReadyLogsOncePerState) {
    std::array<uint8_t, TRANS_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    ctx_.state = TRANS_STATE_STOPPED;
    EXPECT_FALSE(trans_recv(&ctx_, buf.data(), &len));
    ctx_.state = TRANS_STATE_HW_FAILED;
    LogCapture log;
    EXPECT_FALSE(trans_recv(&ctx_, buf.data(), &len));
    EXPECT_FALSE(trans_recv(&ctx_, buf.data(), &len));
    EXPECT_FALSE(trans_recv(nullptr, buf.data(), &len));
    const std::string out = log.take();
    EXPECT_EQ(count_of(out, "trans_recv: 传输层未就绪 [state=2]"), 1u);
    EXPECT_TRUE(contains(out, "trans_recv: 无效参数"));
}

TEST_F(RingTest, WhitelistRefusesUnlistedSourcesButAlwaysAcceptsLoopback) {
    const Ipv4 listed{10, 0, 0, 1};
    const Ipv4 unlisted{10, 0, 0, 2};
    const Ipv4 loopback{127, 0, 0, 1};
    const uint32_t list[] = {to_u32(listed)};
    trans_set_nms_whitelist(&ctx_, list, 1);

    LogCapture log;
    feed(ctx_, "refused", unlisted, 5000);
    EXPECT_EQ(queued(ctx_), 0);
    EXPECT_FALSE(nms_seen(ctx_));
    feed(ctx_, "loop", loopback, 5001);
    feed(ctx_, "listed", listed, 5002);
    const std::string out = log.take();
    EXPECT_TRUE(contains(out, "ip_in_whitelist: 拒绝IP 10.0.0.2（不在白名单）"));
    EXPECT_TRUE(contains(out, "trans_eth_irq_handler: 源IP不在白名单，丢弃报文"));
    EXPECT_TRUE(contains(out, "ip_in_whitelist: 允许回环地址 127.0.0.1"));
    EXPECT_TRUE(contains(out, "ip_in_whitelist: 允许IP 10.0.0.1"));
    EXPECT_EQ(take(ctx_), "loop");
    EXPECT_EQ(take(ctx_), "listed");

    // An emptied list accepts everyone again.
    trans_set_nms_whitelist(&ctx_, nullptr, 0);
    feed(ctx_, "open", unlisted, 5003);
    EXPECT_EQ(take(ctx_), "open");
}

TEST_F(RingTest, WhitelistKeepsTheFirstEightAndIgnoresARepeat) {
    std::array<uint32_t, 10> list{};
    for (size_t i = 0; i < list.size(); ++i) {
        list[i] = to_u32(Ipv4{10, 9, 0, static_cast<uint8_t>(i + 1)});
    }
    LogCapture log;
    trans_set_nms_whitelist(&ctx_, list.data(), static_cast<uint8_t>(list.size()));
    const std::string first = log.take();
    EXPECT_EQ(ctx_.whitelist_count, TRANS_MAX_WHITELIST);
    EXPECT_EQ(count_of(first, "trans_set_nms_whitelist: 添加白名单IP"), 8u);
    EXPECT_TRUE(contains(first, "trans_set_nms_whitelist: 白名单设置完成 [数量:8]"));
    EXPECT_FALSE(contains(first, "10.9.0.9"));

    LogCapture again;
    trans_set_nms_whitelist(&ctx_, list.data(), static_cast<uint8_t>(list.size()));
    EXPECT_EQ(again.take(), "");

    feed(ctx_, "ninth", Ipv4{10, 9, 0, 9}, 1);
    feed(ctx_, "eighth", Ipv4{10, 9, 0, 8}, 1);
    EXPECT_EQ(take(ctx_), "eighth");
}

TEST(TransWhitelist, OneCallFiltersBothContextsAtOnce) {
    const uint32_t list[] = {to_u32(Ipv4{10, 0, 0, 1})};
    trans_set_nms_whitelist_all(list, 1);
    EXPECT_EQ(eth_trans_ctx.whitelist_count, 1);
    EXPECT_EQ(es_trans_ctx.whitelist_count, 1);
    feed(eth_trans_ctx, "refused", Ipv4{10, 0, 0, 2}, 1);
    EXPECT_EQ(queued(eth_trans_ctx), 0);
    trans_set_nms_whitelist_all(nullptr, 0);
    EXPECT_EQ(eth_trans_ctx.whitelist_count, 0);
    EXPECT_EQ(es_trans_ctx.whitelist_count, 0);
    eth_trans_ctx = trans_ctx{};
    es_trans_ctx = trans_ctx{};
}

TEST_F(RingTest, NmsAddressFallsBackToTheDefaultUntilAManagerSpeaks) {
    const Ipv4 fallback{10, 20, 30, 40};
    trans_set_default_nms_ip(&ctx_, fallback.data());
    const uint8_t *ip = trans_get_nms_ip(&ctx_);
    ASSERT_NE(ip, nullptr);
    EXPECT_EQ(std::memcmp(ip, fallback.data(), TRANS_IPV4_LEN), 0);
    EXPECT_FALSE(trans_get_nms_addr(&ctx_, nullptr, nullptr));

    trans_set_nms_addr(&ctx_, Ipv4{10, 1, 1, 5}.data(), 40000);
    ip = trans_get_nms_ip(&ctx_);
    EXPECT_EQ(std::memcmp(ip, Ipv4{10, 1, 1, 5}.data(), TRANS_IPV4_LEN), 0);
    EXPECT_EQ(ctx_.nms_port, 40000);
    EXPECT_EQ(trans_get_nms_ip(nullptr), nullptr);
}

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

TEST_F(EthTest, AnswerGoesToTheSenderOfItsOwnRequest) {
    Peer first;
    Peer second;
    first.send_to(ctx_.port, "from-first");
    ASSERT_TRUE(eventually([&] { return queued(ctx_) == 1; }));
    second.send_to(ctx_.port, "from-second");
    ASSERT_TRUE(eventually([&] { return queued(ctx_) == 2; }));

    Ipv4 src{};
    uint16_t src_port = 0;
    ASSERT_EQ(take(ctx_, &src, &src_port), "from-first");
    EXPECT_EQ(src, (Ipv4{127, 0, 0, 1}));
    EXPECT_EQ(src_port, first.port());

    const std::string answer = "answer-first";
    ASSERT_TRUE(trans_send(&ctx_, reinterpret_cast<const uint8_t *>(answer.data()),
                           static_cast<uint16_t>(answer.size()), src.data(), src_port));
    const auto got = first.receive();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::string(got->bytes.begin(), got->bytes.end()), answer);
    EXPECT_EQ(got->from_port, ctx_.port);
    EXPECT_FALSE(second.receive(50).has_value());

    ASSERT_EQ(take(ctx_, &src, &src_port), "from-second");
    EXPECT_EQ(src_port, second.port());
}

TEST_F(EthTest, OversizedDatagramIsNotQueued) {
    Peer peer;
    const std::vector<uint8_t> big(TRANS_MAX_MSG_SIZE + 1, 0x30);
    peer.send_to(ctx_.port, big.data(), big.size());
    peer.send_to(ctx_.port, "after");
    ASSERT_TRUE(trans_wait(&ctx_, kArrivalTimeoutMs));
    EXPECT_EQ(take(ctx_), "after");
    EXPECT_FALSE(nms_seen(ctx_));
}

TEST_F(EthTest, WaitReturnsOnArrivalOrAfterTheTimeOut) {
    auto start = Clock::now();
    EXPECT_FALSE(trans_wait(&ctx_, 120));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(waited, 110);
    EXPECT_LT(waited, 1000);

    Peer peer;
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peer.send_to(ctx_.port, "wake");
    });
    start = Clock::now();
    EXPECT_TRUE(trans_wait(&ctx_, 5000));
    const auto woke = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    sender.join();
    EXPECT_LT(woke, 2000);
    // Already queued: returns at once.
    EXPECT_TRUE(trans_wait(&ctx_, 0));
    EXPECT_EQ(take(ctx_), "wake");
    EXPECT_FALSE(trans_wait(nullptr, 10));
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

TEST(TransEth, InitialisingAgainReleasesTheOldSocket) {
    trans_ctx ctx{};
    const uint16_t first_port = agent_test::free_udp_port();
    ASSERT_TRUE(trans_cfg_trans(TRANS_ETH, first_port, &ctx));
    ASSERT_TRUE(trans_start(&ctx));
    ASSERT_TRUE(trans_cfg_trans(TRANS_ETH, agent_test::free_udp_port(), &ctx));
    // The first port is free again: a socket without address reuse can take it.
    Peer reuse(first_port);
    EXPECT_TRUE(reuse.bound());
    trans_stop(&ctx);
    EXPECT_EQ(ctx.udp_inst, nullptr);
    EXPECT_EQ(ctx.state, TRANS_STATE_STOPPED);
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
