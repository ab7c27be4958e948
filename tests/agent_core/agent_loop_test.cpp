// The application loop around the agent: agent_snmp_wait wakes as soon as a request is queued and
// sleeps while idle; the sample LED's notifications reach the manager and its Response ends the
// pending inform.
#include <time.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "agent/agent_trap.h"
#include "agent/tps.h"
#include "tests/agent_core/agent_core_support.h"

namespace {

using namespace agent_core_test;
using std::chrono::milliseconds;

constexpr uint16_t kTrapPort = 162;
constexpr uint32_t kIdleWaitMs = 200;
constexpr auto kSendDelay = milliseconds(100);
constexpr auto kWakeLatencyLimit = milliseconds(50);
constexpr auto kIdleRun = milliseconds(1000);
constexpr auto kIdleCpuLimit = milliseconds(100);
constexpr const char *kLinkUpOid = "1.3.6.1.6.3.1.1.5.4";
constexpr const char *kLinkDownOid = "1.3.6.1.6.3.1.1.5.3";

milliseconds process_cpu_time() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::duration_cast<milliseconds>(std::chrono::seconds(now.tv_sec) +
                                                    std::chrono::nanoseconds(now.tv_nsec));
}

TEST(AgentWait, ReturnsAtOnceWhenARequestArrivesAndFalseAfterTheTimeOut) {
    AgentUnderTest agent;
    Peer manager;
    auto start = Clock::now();
    EXPECT_FALSE(agent_snmp_wait(kIdleWaitMs));
    EXPECT_GE(Clock::now() - start, milliseconds(kIdleWaitMs - 10));

    const Bytes request = encode(get_request(SNMP_VERSION_2C, kReadOnly, {kSysDescrOid}));
    Clock::time_point sent_at{};
    std::thread sender([&] {
        std::this_thread::sleep_for(kSendDelay);
        sent_at = Clock::now();
        manager.send_to(agent.port(), request.data(), request.size());
    });
    const bool queued = agent_snmp_wait(5000);
    const Clock::time_point woke = Clock::now();
    sender.join();
    EXPECT_TRUE(queued);
    EXPECT_LT(woke - sent_at, kWakeLatencyLimit);
    agent_snmp_loop();
    const std::optional<Datagram> answer = manager.receive();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(octets_of(decode(answer->bytes).pdu().varbinds[0]), kSysDescrText);

    // A queued message is reported without waiting.
    manager.send_to(agent.port(), request.data(), request.size());
    ASSERT_TRUE(agent_snmp_wait(5000));
    start = Clock::now();
    EXPECT_TRUE(agent_snmp_wait(5000));
    EXPECT_LT(Clock::now() - start, kWakeLatencyLimit);

    // A stopped agent receives nothing: the wait runs out without spinning.
    agent_snmp_stop();
    start = Clock::now();
    EXPECT_FALSE(agent_snmp_wait(kIdleWaitMs));
    EXPECT_GE(Clock::now() - start, milliseconds(kIdleWaitMs - 10));
}

TEST(AgentWait, IdleApplicationLoopUsesAlmostNoProcessor) {
    AgentUnderTest agent;
    const milliseconds cpu_before = process_cpu_time();
    const auto until = Clock::now() + kIdleRun;
    int passes = 0;
    while (Clock::now() < until) {
        agent_snmp_wait(100);
        agent_snmp_loop();
        ++passes;
    }
    EXPECT_LT(process_cpu_time() - cpu_before, kIdleCpuLimit);
    EXPECT_LE(passes, 12);
}

TEST(AgentInforms, LedWritesNotifyTheManagerAndItsResponseEndsTheInform) {
    Peer sink(kTrapPort);
    ASSERT_TRUE(sink.bound()) << "UDP port 162 is taken";
    AgentUnderTest agent;
    Peer manager;
    Request set = get_request(SNMP_VERSION_2C, kReadWrite, {}, SNMP_OP_SET);
    set.bindings = {integer_binding(kLedOid, 1)};
    Answer answer = agent.ask(manager, set);
    ASSERT_TRUE(answer.decoded);
    EXPECT_EQ(answer.pdu().error_status, 0u);

    // The linkUp inform went to the manager's address, port 162, and is pending.
    std::optional<Datagram> notification = sink.receive();
    ASSERT_TRUE(notification.has_value());
    const Answer inform = decode(notification->bytes);
    ASSERT_TRUE(inform.decoded);
    EXPECT_EQ(inform.pdu().op, SNMP_OP_INFORM);
    ASSERT_GE(inform.pdu().varbind_count, 2);
    EXPECT_EQ(text_of(inform.pdu().varbinds[1].value.oid_value), kLinkUpOid);
    auto pending = [&] {
        for (const agent_inform_entry &entry : g_inform_pending) {
            if (entry.in_use != 0 && entry.request_id == static_cast<uint32_t>(inform.pdu().request_id)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(pending());

    // The manager's Response is not answered and releases the inform.
    Request response = get_request(SNMP_VERSION_2C, kReadOnly, {}, SNMP_OP_GET_RESPONSE);
    response.request_id = inform.pdu().request_id;
    response.bindings.assign(inform.pdu().varbinds, inform.pdu().varbinds + inform.pdu().varbind_count);
    const Bytes response_bytes = encode(response);
    sink.send_to(agent.port(), response_bytes.data(), response_bytes.size());
    EXPECT_FALSE(agent.serve(sink, kSilenceMs).has_value());
    EXPECT_FALSE(pending());

    // Switching the LED off sends the linkDown trap.
    set.bindings = {integer_binding(kLedOid, 0)};
    answer = agent.ask(manager, set);
    EXPECT_EQ(answer.pdu().error_status, 0u);
    notification = sink.receive();
    ASSERT_TRUE(notification.has_value());
    const Answer trap = decode(notification->bytes);
    EXPECT_EQ(trap.pdu().op, SNMP_OP_TRAP);
    EXPECT_EQ(text_of(trap.pdu().varbinds[1].value.oid_value), kLinkDownOid);
}

}  // namespace
