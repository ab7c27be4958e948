// Helpers of the agent transport tests: feeding and taking messages, waiting, and the two fixtures.
#ifndef VEK_TESTS_AGENT_UNITS_TRANS_TEST_UTIL_H
#define VEK_TESTS_AGENT_UNITS_TRANS_TEST_UTIL_H

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "agent/trans.h"
#include "agent_test_util.h"
#include "base/platform.h"

namespace trans_test {

using agent_test::contains;
using agent_test::count_of;
using agent_test::LogCapture;
using agent_test::Peer;
using Clock = std::chrono::steady_clock;
using Ipv4 = std::array<uint8_t, TRANS_IPV4_LEN>;

inline constexpr uint32_t kArrivalTimeoutMs = 2000;
inline constexpr uint16_t kEsPort = 7000;

inline uint32_t to_u32(const Ipv4 &ip) {
    uint32_t value = 0;
    std::memcpy(&value, ip.data(), sizeof value);
    return value;
}

// Feeds one message into the context as if the receive thread had taken it from src:port.
inline void feed(trans_ctx &ctx, const std::string &text, const Ipv4 &src, uint16_t port) {
    trans_eth_irq_handler(&ctx, reinterpret_cast<const uint8_t *>(text.data()), static_cast<uint16_t>(text.size()),
                          src.data(), port);
}

// Queue depth read inside the interrupt bracket, as the receive thread writes it.
inline uint8_t queued(const trans_ctx &ctx) {
    const uint32_t irq = platform_irq_save();
    const uint8_t count = ctx.queue.count;
    platform_irq_restore(irq);
    return count;
}

inline bool nms_seen(trans_ctx &ctx) { return trans_get_nms_addr(&ctx, nullptr, nullptr); }

inline std::string take(trans_ctx &ctx, Ipv4 *src = nullptr, uint16_t *port = nullptr) {
    std::array<uint8_t, TRANS_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    if (!trans_recv_from(&ctx, buf.data(), &len, src != nullptr ? src->data() : nullptr, port)) {
        return {};
    }
    return std::string(reinterpret_cast<const char *>(buf.data()), len);
}

// Polls until pred holds or two seconds pass.
template <typename Pred>
inline bool eventually(Pred pred) {
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

}  // namespace trans_test

#endif
