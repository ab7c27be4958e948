/* snmp_service under load: 8 HTTP clients at once for 20 s, each doing GETs through three agent
 * records (three veksnmpagent processes). Every request must be answered with valid JSON, either
 * the agents' values or the SDK's flow-control refusal (it admits 300 requests per second), and the
 * service and the agents must still answer afterwards. */
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/web_stack/stack_support.h"

namespace {

using namespace web_stack;
using clock = std::chrono::steady_clock;

constexpr size_t k_clients = 8;
constexpr size_t k_agents = 3;
constexpr auto k_duration = 20s;
/* Longer than the service's longest wait for one answer (the SDK's last retransmission and time-out
 * plus its margin): a request not answered by then counts as a hang. */
constexpr auto k_request_limit = 40s;
/* Every client must have ended this long after the load time is over. */
constexpr auto k_finish_limit = k_duration + k_request_limit;
constexpr int64_t k_flow_refused = 17; /* API_SNMP_ERR_NO_RESOURCE */
/* A client told to slow down waits this long before its next request, as a real client would. */
constexpr auto k_refused_pause = 5ms;
constexpr size_t k_kept_failures = 10;
/* Long enough for the flow-control window to move on. */
constexpr auto k_quota_wait = 3s;

struct tally {
    std::atomic<uint64_t> requests{0};
    std::atomic<uint64_t> refused{0};
    std::atomic<uint64_t> wrong{0};
    std::array<std::atomic<uint64_t>, k_agents> answered{};
    std::mutex mtx;
    std::vector<std::string> failures;

    void failure(std::string what) {
        wrong.fetch_add(1);
        const std::lock_guard lock(mtx);
        if (failures.size() < k_kept_failures) {
            failures.push_back(std::move(what));
        }
    }
    uint64_t answered_total() const {
        uint64_t sum = 0;
        for (const auto &n : answered) {
            sum += n.load();
        }
        return sum;
    }
};

std::string get_target(uint16_t agent_port) {
    return "/api_snmp_get?ip=127.0.0.1&port=" + std::to_string(agent_port) + "&oid=" + std::string(k_sys_descr_oid) +
           "," + std::string(k_temp_oid);
}

/* True when the answer carries the two objects of the GET with their expected types. */
bool holds_values(const json_check::value &answer) {
    constexpr int64_t k_type_integer = 2;
    constexpr int64_t k_type_octets = 4;
    const auto &data = answer["data"];
    return answer["ret"].is_number() && answer["ret"].as_int() == 0 && data.size() == 2 &&
           data[0]["oid"].str() == k_sys_descr_oid && data[0]["value"].str() == k_sys_descr_text && data[0]["type"].as_int() == k_type_octets &&
           data[1]["oid"].str() == k_temp_oid && data[1]["type"].as_int() == k_type_integer &&
           !data[1]["value"].str().empty();
}

/* One GET through the service, sorted into the tally. */
void one_request(uint16_t service_port, uint16_t agent_port, size_t agent_index, tally &counts) {
    const std::string target = get_target(agent_port);
    counts.requests.fetch_add(1);
    std::string error;
    const auto answer = get_json(service_port, target, &error, k_request_limit);
    if (!answer) {
        counts.failure(error);
    } else if (holds_values(*answer)) {
        counts.answered[agent_index].fetch_add(1);
    } else if ((*answer)["ret"].as_int() == k_flow_refused && (*answer)["msg"].is_string()) {
        counts.refused.fetch_add(1);
        std::this_thread::sleep_for(k_refused_pause);
    } else {
        counts.failure("unexpected answer to " + target + ": ret " + std::to_string((*answer)["ret"].as_int()) +
                       " msg " + (*answer)["msg"].str());
    }
}

/* A GET answered with values; requests refused by flow control (the last second's quota may still
 * be used up) are repeated. The last answer is left in last. */
bool answers_after_load(uint16_t service_port, uint16_t agent_port, std::string &last) {
    return wait_until(
        [&] {
            std::string error;
            const auto answer = get_json(service_port, get_target(agent_port), &error, k_request_limit);
            last = answer ? "ret " + std::to_string((*answer)["ret"].as_int()) + " " + (*answer)["msg"].str() : error;
            return answer && holds_values(*answer);
        },
        k_quota_wait);
}

TEST(WebStackLoad, ServiceAnswersEightClientsThroughThreeAgents) {
    const uint16_t trap_port = free_udp_port();
    std::vector<std::unique_ptr<agent>> devices;
    for (size_t i = 0; i < k_agents; ++i) {
        devices.push_back(std::make_unique<agent>(trap_port));
        ASSERT_TRUE(devices.back()->ready()) << devices.back()->proc().errors();
    }
    service nms(free_tcp_port(), trap_port);
    ASSERT_TRUE(nms.ready()) << nms.proc().errors();
    for (const auto &device : devices) {
        const auto created = get_json(nms.port(), "/api_snmp_agent_create?ip=127.0.0.1&port=" +
                                                      std::to_string(device->port()) + "&version=1&community=public");
        ASSERT_TRUE(created.has_value());
        ASSERT_EQ((*created)["ret"].as_int(), 0);
    }

    tally counts;
    std::atomic<size_t> finished{0};
    const auto started = clock::now();
    const auto end_of_load = started + k_duration;
    std::vector<std::thread> clients;
    for (size_t c = 0; c < k_clients; ++c) {
        clients.emplace_back([&, c] {
            for (size_t i = c; clock::now() < end_of_load; ++i) {
                const size_t index = i % k_agents;
                one_request(nms.port(), devices[index]->port(), index, counts);
            }
            finished.fetch_add(1);
        });
    }
    const bool all_finished = wait_until([&] { return finished.load() == k_clients; }, k_finish_limit);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - started);
    if (!all_finished) {
        /* A client is stuck in a request: end the service so that the threads can be joined. */
        ADD_FAILURE() << "a client did not get its answer within " << k_request_limit.count() << " s";
        nms.proc().stop();
    }
    for (auto &client : clients) {
        client.join();
    }

    std::cout << "load: " << counts.requests.load() << " requests in " << elapsed.count() << " ms by " << k_clients
              << " clients; answered with values " << counts.answered_total() << " (per agent";
    for (const auto &n : counts.answered) {
        std::cout << ' ' << n.load();
    }
    std::cout << "), refused by flow control " << counts.refused.load() << ", wrong " << counts.wrong.load() << "\n";
    ::testing::Test::RecordProperty("requests", static_cast<int>(counts.requests.load()));
    ::testing::Test::RecordProperty("answered", static_cast<int>(counts.answered_total()));
    ::testing::Test::RecordProperty("refused", static_cast<int>(counts.refused.load()));

    EXPECT_EQ(counts.wrong.load(), 0u);
    for (const auto &failure : counts.failures) {
        ADD_FAILURE() << failure;
    }
    for (const auto &n : counts.answered) {
        EXPECT_GT(n.load(), 0u) << "an agent record never answered";
    }
    EXPECT_EQ(counts.requests.load(), counts.answered_total() + counts.refused.load() + counts.wrong.load());

    /* Afterwards the service and every agent still answer, and the service ends cleanly. */
    ASSERT_TRUE(nms.proc().running()) << "snmp_service ended during the load";
    const auto agent_count = get_json(nms.port(), "/api_snmp_get_agent_count");
    ASSERT_TRUE(agent_count.has_value());
    EXPECT_EQ((*agent_count)["count"].as_int(), static_cast<int64_t>(k_agents));
    for (size_t i = 0; i < k_agents; ++i) {
        EXPECT_TRUE(devices[i]->proc().running()) << "agent " << i << " ended during the load";
        std::string last;
        EXPECT_TRUE(answers_after_load(nms.port(), devices[i]->port(), last))
            << "agent " << i << " does not answer after the load: " << last;
    }
    EXPECT_EQ(nms.proc().stop(), 0) << "snmp_service did not end cleanly on SIGTERM";
}

} // namespace
