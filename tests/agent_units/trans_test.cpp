// Agent transport: the receive ring, whitelist and current-NMS address through the intake entry
// points, and the TRANS_ETH path against real UDP sockets on 127.0.0.1, on every system. The hardware
// of each system is tested in trans_test_linux.cpp and trans_test_win32.cpp.
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/trans.h"
#include "agent_test_util.h"
#include "trans_test_util.h"
#include "base/platform.h"

namespace {

using namespace trans_test;

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

}  // namespace
