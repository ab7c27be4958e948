// The HTTP service's shared state: waiters handing answers from the SDK's threads to the workers,
// the trap ring and the list of recent notifications. Threads included, so this also runs under
// ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "apps/snmp_service/service_endpoint_support.h"
#include "apps/snmp_service/service_traps.h"
#include "apps/snmp_service/service_waiters.h"
#include "tests/service/json_check.h"
#include "tests/support/test_os.h"

namespace service {
namespace {

using namespace std::chrono_literals;
using clock = std::chrono::steady_clock;

const std::atomic<bool> k_running{true};

api_snmp_response answer(uint32_t request_id) {
    api_snmp_response response{};
    response.request_id = request_id;
    response.var_count = 1;
    std::strcpy(response.varbinds[0].oid, "1.3.6.1.2.1.1.5.0");
    return response;
}

TEST(ServiceWaiters, WaitersInTheSameSlotAreBothAnswered) {
    // Two identifiers 1024 apart share a slot; neither may replace the other.
    waiter first(5000);
    waiter second(5000 + k_req_hash_slots);
    {
        const waiter_entry entry_first(first);
        const waiter_entry entry_second(second);
        EXPECT_EQ(entered_waiter_count(), 2u);
        std::thread sdk([&] {
            std::this_thread::sleep_for(20ms);
            EXPECT_TRUE(deliver_response(second.id, answer(2)));
            EXPECT_TRUE(deliver_response(first.id, answer(1)));
        });
        EXPECT_TRUE(wait_for_response(first, clock::now() + 5s, k_running));
        EXPECT_TRUE(wait_for_response(second, clock::now() + 5s, k_running));
        sdk.join();
        EXPECT_EQ(first.response.request_id, 1u);
        EXPECT_EQ(second.response.request_id, 2u);
        EXPECT_STREQ(first.response.varbinds[0].oid, "1.3.6.1.2.1.1.5.0");
        // A delivered waiter has left the table; a second copy of the answer finds nothing.
        EXPECT_FALSE(deliver_response(first.id, answer(3)));
        EXPECT_EQ(first.response.request_id, 1u);
    }
    EXPECT_EQ(entered_waiter_count(), 0u);
}

TEST(ServiceWaiters, AnswerBeforeTheWaitIsKept) {
    waiter w(77);
    const waiter_entry entry(w);
    // The SDK may call back on the sending thread before the worker starts waiting.
    ASSERT_TRUE(deliver_response(w.id, answer(9)));
    EXPECT_TRUE(wait_for_response(w, clock::now(), k_running));
    EXPECT_EQ(w.response.request_id, 9u);
}

TEST(ServiceWaiters, WaitEndsAtTheDeadlineOrOnStop) {
    waiter w(123);
    {
        const waiter_entry entry(w);
        const auto start = clock::now();
        EXPECT_FALSE(wait_for_response(w, start + 150ms, k_running));
        EXPECT_GE(clock::now() - start, 150ms);

        std::atomic<bool> running{true};
        std::thread stopper([&] {
            std::this_thread::sleep_for(50ms);
            running.store(false);
        });
        const auto stop_start = clock::now();
        EXPECT_FALSE(wait_for_response(w, stop_start + 30s, running));
        EXPECT_LT(clock::now() - stop_start, 5s);
        stopper.join();
    }
    // Once the worker gave up, a late answer is not written into the (gone) waiter.
    EXPECT_FALSE(deliver_response(123, answer(1)));
    EXPECT_EQ(entered_waiter_count(), 0u);
}

TEST(ServiceWaiters, IdentifiersAreUniqueAndEntriesNeverCollide) {
    std::vector<uint64_t> ids;
    for (int i = 0; i < 1000; ++i) {
        ids.push_back(next_waiter_id());
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());

    // Two waiters created with the same identifier still get distinct ones once entered.
    waiter a(42);
    waiter b(42);
    const waiter_entry entry_a(a);
    const waiter_entry entry_b(b);
    EXPECT_NE(a.id, b.id);
    EXPECT_TRUE(deliver_response(b.id, answer(2)));
    EXPECT_TRUE(wait_for_response(b, clock::now(), k_running));
    EXPECT_FALSE(wait_for_response(a, clock::now(), k_running));
}

TEST(ServiceWaiters, ManyThreadsWaitAndAnswerConcurrently) {
    constexpr int k_workers = 8;
    constexpr int k_rounds = 200;
    std::atomic<int> answered{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < k_workers; ++t) {
        workers.emplace_back([&, t] {
            for (int r = 0; r < k_rounds; ++r) {
                // Identifiers chosen to collide in the table's slots across threads.
                waiter w(static_cast<uint64_t>(r) * k_req_hash_slots + static_cast<uint64_t>(t % 2));
                const waiter_entry entry(w);
                const uint64_t id = w.id;
                std::thread sdk([id, r] { deliver_response(id, answer(static_cast<uint32_t>(r))); });
                if (wait_for_response(w, clock::now() + 5s, k_running) &&
                    w.response.request_id == static_cast<uint32_t>(r)) {
                    answered.fetch_add(1);
                }
                sdk.join();
            }
        });
    }
    for (std::thread &w : workers) {
        w.join();
    }
    EXPECT_EQ(answered.load(), k_workers * k_rounds);
    EXPECT_EQ(entered_waiter_count(), 0u);
}

api_snmp_trap trap_with(uint8_t count, const char *community) {
    api_snmp_trap trap{};
    trap.version = API_SNMP_V2C;
    std::strcpy(trap.community, community);
    trap.var_count = count;
    for (uint8_t i = 0; i < count; ++i) {
        std::snprintf(trap.varbinds[i].oid, sizeof trap.varbinds[i].oid, "1.3.6.1.4.1.9999.%u", static_cast<unsigned>(i));
        trap.varbinds[i].type = API_SNMP_BER_INTEGER;
        trap.varbinds[i].value.i32 = i;
    }
    return trap;
}

TEST(ServiceAgentTurns, EachAgentHasATurnOfItsOwn) {
    // Ports 64 apart are agents of their own, however their addresses hash; the same agent waits.
    constexpr uint16_t k_port = 20000;
    constexpr uint16_t k_port_apart = k_port + 64;
    const agent_turn first("127.0.0.1", k_port, clock::now() + 1s, k_running);
    ASSERT_TRUE(first.held());
    EXPECT_TRUE(agent_turn("127.0.0.1", k_port_apart, clock::now() + 100ms, k_running).held());
    EXPECT_TRUE(agent_turn("127.0.0.2", k_port, clock::now() + 100ms, k_running).held());
    const auto start = clock::now();
    EXPECT_FALSE(agent_turn("127.0.0.1", k_port, start + 100ms, k_running).held());
    EXPECT_GE(clock::now() - start, 100ms);
}

TEST(ServiceTraps, RingHolds8191AndDropsThe8192nd) {
    auto ring = std::make_unique<trap_ring>();
    const api_snmp_trap trap = trap_with(1, "public");
    for (size_t i = 0; i + 1 < k_trap_ring_slots; ++i) {
        ASSERT_TRUE(ring->push(make_trap_slot("127.0.0.1", static_cast<uint16_t>(i), trap, API_SNMP_OK))) << i;
    }
    EXPECT_EQ(ring->size(), k_trap_ring_slots - 1);
    EXPECT_FALSE(ring->push(make_trap_slot("127.0.0.1", 1, trap, API_SNMP_OK)));
    // Taken in arrival order; after one is taken there is room again.
    trap_slot slot;
    ASSERT_TRUE(ring->pop(slot));
    EXPECT_EQ(slot.port, 0);
    EXPECT_TRUE(ring->push(make_trap_slot("127.0.0.1", 9, trap, API_SNMP_OK)));
    size_t taken = 0;
    uint16_t last_port = 0;
    while (ring->pop(slot)) {
        ++taken;
        last_port = slot.port;
    }
    EXPECT_EQ(taken, k_trap_ring_slots - 1);
    EXPECT_EQ(last_port, 9);
    EXPECT_EQ(ring->size(), 0u);
}

TEST(ServiceTraps, SlotCopiesTheNotification) {
    api_snmp_trap trap = trap_with(3, "secret");
    trap.version = API_SNMP_V3;
    const std::string long_ip(100, '1');
    const trap_slot slot = make_trap_slot(long_ip.c_str(), 4000, trap, API_SNMP_ERR_DECODE);
    EXPECT_EQ(slot.version, static_cast<uint32_t>(API_SNMP_V3));
    EXPECT_EQ(slot.community, "secret");
    ASSERT_EQ(slot.varbinds.size(), 3u);
    EXPECT_STREQ(slot.varbinds[2].oid, "1.3.6.1.4.1.9999.2");
    EXPECT_EQ(slot.ip.size(), 31u);
    EXPECT_EQ(slot.port, 4000);
    EXPECT_EQ(slot.error, static_cast<uint32_t>(API_SNMP_ERR_DECODE));
    // A record that claims more varbinds than it has room for is bounded by its slots.
    trap.var_count = 255;
    EXPECT_EQ(make_trap_slot(nullptr, 1, trap, API_SNMP_OK).varbinds.size(), API_SNMP_TRAP_VARBIND_SLOTS);
}

TEST(ServiceTraps, RecentListKeepsTheLast100OldestFirst) {
    recent_traps recent;
    for (int i = 0; i < 105; ++i) {
        api_snmp_trap trap = trap_with(2, i == 104 ? "com\"munity\xFF" : "public");
        recent.add(make_trap_slot("127.0.0.1", static_cast<uint16_t>(1000 + i), trap, API_SNMP_OK), 1700000000 + i);
    }
    EXPECT_EQ(recent.size(), k_recent_trap_count);
    json_writer json;
    recent.write_json(json);
    std::string error;
    const auto parsed = json_check::parse(json.text(), &error);
    ASSERT_TRUE(parsed.has_value()) << error;
    EXPECT_EQ((*parsed)["ret"].as_int(), 0);
    EXPECT_EQ((*parsed)["msg"].str(), "success");
    EXPECT_EQ((*parsed)["total"].as_int(), 100);
    const json_check::value &list = (*parsed)["list"];
    ASSERT_EQ(list.size(), 100u);
    // The five oldest were dropped; the first kept is the sixth received.
    EXPECT_EQ(list[0]["seq"].as_int(), 6);
    EXPECT_EQ(list[0]["port"].as_int(), 1005);
    EXPECT_EQ(list[0]["time"].as_int(), 1700000005);
    EXPECT_EQ(list[99]["seq"].as_int(), 105);
    EXPECT_EQ(list[99]["ip"].str(), "127.0.0.1");
    EXPECT_EQ(list[99]["version"].as_int(), API_SNMP_V2C);
    EXPECT_EQ(list[99]["community"].str(), "com\"munity\xC3\xBF");
    EXPECT_EQ(list[99]["var_count"].as_int(), 2);
    EXPECT_EQ(list[99]["varbinds"][1]["oid"].str(), "1.3.6.1.4.1.9999.1");
    EXPECT_EQ(list[99]["varbinds"][1]["value"].str(), "1");
    EXPECT_EQ(list[99]["varbinds"][1]["type"].as_int(), API_SNMP_BER_INTEGER);

    recent.clear();
    json_writer empty;
    recent.write_json(empty);
    EXPECT_EQ(empty.text(), R"({"ret":0,"msg":"success","total":0,"list":[]})");
}

TEST(ServiceTraps, CallbackFillsRingAndListWhileTheConsumerDrains) {
    g_trap_ring.clear();
    g_recent_traps.clear();
    std::atomic<bool> running{true};
    std::thread consumer(trap_consume_thread, std::cref(running));
    const api_snmp_trap trap = trap_with(1, "public");
    testing::internal::CaptureStdout();
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                snmp_trap_callback("127.0.0.1", 162, &trap, API_SNMP_OK, nullptr);
            }
        });
    }
    for (std::thread &s : senders) {
        s.join();
    }
    snmp_trap_callback("10.0.0.1", 1162, nullptr, API_SNMP_OK, nullptr); // no record: only the line
    const auto deadline = clock::now() + 5s;
    while (g_trap_ring.size() != 0 && clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    running.store(false);
    consumer.join();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_trap_ring.size(), 0u);
    EXPECT_EQ(g_recent_traps.size(), k_recent_trap_count);
    EXPECT_NE(out.find("[CALLBACK] Trap from 127.0.0.1:162\n"), std::string::npos);
    EXPECT_NE(out.find("[CALLBACK] Trap from 10.0.0.1:1162\n"), std::string::npos);
    g_recent_traps.clear();
}

TEST(ServiceTraps, ConsumerSleepsUntilANotificationArrives) {
    g_trap_ring.clear();
    std::atomic<bool> running{true};
    if (test_os::thread_sleeps(test_os::current_thread_id()) < 0) {
        GTEST_SKIP() << "the system does not count how often a thread went to sleep";
    }
    std::atomic<long> tid{0};
    std::thread consumer([&] {
        tid.store(test_os::current_thread_id());
        trap_consume_thread(running);
    });
    while (tid.load() == 0) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(50ms);
    const long before = test_os::thread_sleeps(tid.load());
    std::this_thread::sleep_for(500ms);
    const long idle_sleeps = test_os::thread_sleeps(tid.load()) - before;
    EXPECT_LT(idle_sleeps, 20) << "an idle consumer does not wake every millisecond";

    const api_snmp_trap trap = trap_with(1, "public");
    g_trap_ring.push(make_trap_slot("127.0.0.1", 162, trap, API_SNMP_OK));
    const auto pushed = clock::now();
    while (g_trap_ring.size() != 0 && clock::now() - pushed < 2s) {
        std::this_thread::yield();
    }
    EXPECT_LT(clock::now() - pushed, 100ms) << "a notification wakes it at once";
    running.store(false);
    consumer.join();
}

} // namespace
} // namespace service
