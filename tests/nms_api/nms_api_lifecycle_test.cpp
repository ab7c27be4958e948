// Lifecycle of the SDK (init/destroy with the 1 ms timer thread) and requests from many application
// threads at once, against real UDP peers on 127.0.0.1.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nms/vek_nms_sdk.h"
#include "tests/nms_api/nms_api_test_support.h"
#include "tests/support/test_os.h"

namespace {

using testing::HasSubstr;
using testing::Not;
using vek::test::agent_config;
using vek::test::Collector;
using vek::test::get_varbind;
using vek::test::kLoopback;
using vek::test::kRequestTimeoutMs;
using vek::test::LogCapture;
using vek::test::Responder;
using vek::test::UdpPeer;
using Clock = std::chrono::steady_clock;

constexpr size_t kWorkers = 8;
constexpr const char *kSysDescr = "1.3.6.1.2.1.1.1.0";

// Threads of this process. A sanitizer runtime may start a helper thread of its own when the first
// application thread appears, so one short-lived thread runs before anything is counted.
size_t thread_count() {
    static const bool warmed_up = [] {
        std::thread([] {}).join();
        return true;
    }();
    static_cast<void>(warmed_up);
    return test_os::thread_count();
}

template <typename Fn>
void run_concurrently(size_t count, Fn fn) {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) {
        threads.emplace_back(fn, i);
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
}

TEST(ApiLifecycle, RepeatedInitStartsNoSecondThreadAndDestroyStopsAll) {
    const size_t before = thread_count();
    api_snmp_init();
    const size_t running = thread_count();
    EXPECT_GT(running, before);  // receive threads and the timer thread
    api_snmp_init();
    EXPECT_EQ(thread_count(), running);
    api_snmp_destroy();
    EXPECT_EQ(thread_count(), before);
    api_snmp_destroy();  // a second destroy is harmless
    EXPECT_EQ(thread_count(), before);

    // The SDK starts again after a destroy, with an empty agent table.
    api_snmp_init();
    EXPECT_EQ(thread_count(), running);
    EXPECT_EQ(api_snmp_get_agent_count(), 0u);
    const api_snmp_agent_config config = agent_config(API_SNMP_V2C, "public");
    EXPECT_EQ(api_snmp_agent_create(kLoopback, 161, &config), API_SNMP_OK);
    api_snmp_destroy();
    EXPECT_EQ(thread_count(), before);
}

TEST(ApiLifecycle, ConcurrentInitAndDestroyFromManyThreads) {
    const size_t before = thread_count();
    api_snmp_init();
    const size_t running = thread_count();
    api_snmp_destroy();

    run_concurrently(kWorkers, [](size_t) { api_snmp_init(); });
    EXPECT_EQ(thread_count(), running);
    run_concurrently(kWorkers, [](size_t) { api_snmp_destroy(); });
    EXPECT_EQ(thread_count(), before);
}

TEST(ApiLifecycle, DestroyRightAfterInitLeavesNoTickingTimer) {
    const size_t before = thread_count();
    LogCapture capture;
    for (int round = 0; round < 3; ++round) {
        api_snmp_init();
        api_snmp_destroy();
    }
    // A timer still ticking after the core stopped would log this every millisecond.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string log = capture.text();
    EXPECT_THAT(log, Not(HasSubstr("SNMP核心未初始化")));
    EXPECT_EQ(thread_count(), before);
    // Each start shows the banner: a rule of 40 '=', title lines, the rule again and an empty line.
    EXPECT_THAT(log, HasSubstr("[WARN] ========================================\n"));
    EXPECT_THAT(log, HasSubstr("vek_nms_sdk"));
    EXPECT_THAT(log, HasSubstr("[WARN] ========================================\n\n"));
}

class ApiRequests : public testing::Test {
   protected:
    void SetUp() override {
        api_snmp_init();
        api_snmp_register_response_callback(Collector::on_response);
    }
    void TearDown() override { api_snmp_destroy(); }
};

TEST_F(ApiRequests, SecondRequestWhileOneIsOutstandingIsRefusedAndNotSent) {
    const UdpPeer silent;
    const api_snmp_agent_config config = agent_config(API_SNMP_V2C, "public");
    ASSERT_EQ(api_snmp_agent_create(kLoopback, silent.port(), &config), API_SNMP_OK);
    Collector collector;
    const api_snmp_varbind vb = get_varbind(kSysDescr);
    const uint16_t port = silent.port();

    ASSERT_EQ(api_snmp_get(kLoopback, port, nullptr, &vb, 1, kRequestTimeoutMs, &collector), API_SNMP_OK);
    EXPECT_EQ(api_snmp_get(kLoopback, port, nullptr, &vb, 1, kRequestTimeoutMs, &collector),
              API_SNMP_ERR_IN_PROGRESS);
    EXPECT_EQ(api_snmp_get_next(kLoopback, port, nullptr, &vb, 1, kRequestTimeoutMs, &collector),
              API_SNMP_ERR_IN_PROGRESS);
    EXPECT_EQ(api_snmp_get_bulk(kLoopback, port, nullptr, 0, 4, &vb, 1, kRequestTimeoutMs, &collector),
              API_SNMP_ERR_IN_PROGRESS);
    api_snmp_varbind value{};
    ASSERT_EQ(api_snmp_create_set_varbind(kSysDescr, "s", "x", &value), API_SNMP_OK);
    EXPECT_EQ(api_snmp_set(kLoopback, port, nullptr, &value, 1, kRequestTimeoutMs, &collector),
              API_SNMP_ERR_IN_PROGRESS);

    EXPECT_TRUE(silent.receive(1000).has_value());
    EXPECT_FALSE(silent.receive(300).has_value());
    EXPECT_EQ(collector.pending_responses(), 0u);  // refusals produce no callback
}

TEST_F(ApiRequests, TimerThreadRetransmitsAnUnansweredRequest) {
    const UdpPeer silent;
    const api_snmp_agent_config config = agent_config(API_SNMP_V2C, "public");
    ASSERT_EQ(api_snmp_agent_create(kLoopback, silent.port(), &config), API_SNMP_OK);
    const api_snmp_varbind vb = get_varbind(kSysDescr);
    Collector collector;
    ASSERT_EQ(api_snmp_get(kLoopback, silent.port(), nullptr, &vb, 1, kRequestTimeoutMs, &collector), API_SNMP_OK);

    const auto first = silent.receive(1000);
    ASSERT_TRUE(first.has_value());
    const Clock::time_point sent = Clock::now();
    // More than 3000 ms on the seconds clock: 3 to 5 s later, the same datagram again.
    const auto again = silent.receive(6000);
    ASSERT_TRUE(again.has_value());
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    EXPECT_GE(gap, 2900);
    EXPECT_LE(gap, 5200);
    EXPECT_EQ(*again, *first);
    EXPECT_EQ(collector.pending_responses(), 0u);
}

TEST_F(ApiRequests, ManyThreadsSendAndListAtOnce) {
    constexpr int kRequestsPerWorker = 15;
    const Responder responder(kWorkers);
    const api_snmp_agent_config config = agent_config(API_SNMP_V2C, "public");
    for (size_t i = 0; i < kWorkers; ++i) {
        ASSERT_EQ(api_snmp_agent_create(kLoopback, responder.port(i), &config), API_SNMP_OK);
    }

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    // Listing and lookups run alongside the requests.
    std::thread lister([&done] {
        api_snmp_agent_info entries[kWorkers]{};
        while (!done) {
            (void)api_snmp_get_agent_count();
            (void)api_snmp_get_agent_list(entries, kWorkers);
            (void)api_snmp_agent_exist(kLoopback, entries[0].port == 0 ? 1 : entries[0].port);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    run_concurrently(kWorkers, [&](size_t index) {
        Collector collector;
        const api_snmp_varbind vb = get_varbind(kSysDescr);
        const uint16_t port = responder.port(index);
        uint32_t previous_id = 0;
        for (int request = 0; request < kRequestsPerWorker; ++request) {
            if (api_snmp_get(kLoopback, port, nullptr, &vb, 1, kRequestTimeoutMs, &collector) != API_SNMP_OK) {
                ++failures;
                continue;
            }
            const auto event = collector.next_response();
            if (!event || event->port != port || event->ip != kLoopback ||
                event->response.error != API_SNMP_OK || event->response.var_count != 1 ||
                (previous_id != 0 && event->response.request_id != previous_id + 1)) {
                ++failures;
                continue;
            }
            previous_id = event->response.request_id;
        }
        if (collector.pending_responses() != 0) {
            ++failures;  // every request is answered exactly once
        }
    });
    done = true;
    lister.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(responder.answered(), kWorkers * kRequestsPerWorker);
}

}  // namespace
