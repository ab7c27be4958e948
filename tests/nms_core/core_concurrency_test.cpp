// Many threads at once on the core: creating and removing agents, listing them, adding and removing
// SNMPv3 users and sending requests to agents that answer, while the tick runs and callbacks issue
// requests of their own. Every accepted request may report at most once, and only accepted requests
// report. Suite NmsConcurrency is the one to run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

#include "core_test_support.h"
#include "nms/core_snmpv3.h"

namespace core_test {
namespace {

constexpr int kAgents = 4;
constexpr auto kRunTime = std::chrono::seconds(3);
constexpr uint16_t kV3Port = 5161;

class Ledger {
   public:
    static Ledger &instance() {
        static Ledger ledger;
        return ledger;
    }
    uintptr_t next_token() { return ++last_token_; }
    void attempted(uintptr_t token) {
        std::lock_guard lock(mutex_);
        accepted_[token] = true;
    }
    void refused(uintptr_t token) {
        std::lock_guard lock(mutex_);
        accepted_[token] = false;
    }
    void delivered(uintptr_t token) {
        std::lock_guard lock(mutex_);
        delivered_[token] += 1;
    }
    // Deliveries that did not belong to exactly one accepted request.
    std::vector<std::string> faults() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto &[token, times] : delivered_) {
            if (times != 1) {
                out.push_back("token " + std::to_string(token) + " delivered " + std::to_string(times) + " times");
            }
            auto found = accepted_.find(token);
            if (found == accepted_.end() || !found->second) {
                out.push_back("token " + std::to_string(token) + " delivered but never accepted");
            }
        }
        return out;
    }
    size_t delivered_count() const {
        std::lock_guard lock(mutex_);
        return delivered_.size();
    }
    size_t accepted_count() const {
        std::lock_guard lock(mutex_);
        return accepted_.size();
    }

   private:
    std::atomic<uintptr_t> last_token_{0};
    mutable std::mutex mutex_;
    std::unordered_map<uintptr_t, bool> accepted_;
    std::unordered_map<uintptr_t, int> delivered_;
};

std::array<uint16_t, kAgents> g_ports{};

api_snmp_err send_tracked(uint16_t port) {
    uintptr_t token = Ledger::instance().next_token();
    // Record first: the outcome may be delivered before snmp_core_send_cmd returns.
    Ledger::instance().attempted(token);
    api_snmp_err rc = send_get(port, reinterpret_cast<void *>(token));
    if (rc == API_SNMP_ERR_IN_PROGRESS || rc == API_SNMP_ERR_AGENT_NOT_FOUND || rc == API_SNMP_ERR_NO_RESOURCE) {
        Ledger::instance().refused(token);  // refusals never report
    }
    return rc;
}

void on_response(const char *, uint16_t port, const char *, api_snmp_cmd_type, const api_snmp_response *,
                 void *user_data) {
    Ledger::instance().delivered(reinterpret_cast<uintptr_t>(user_data));
    thread_local std::minstd_rand random(std::random_device{}());
    if (random() % 4 == 0) {
        (void)send_tracked(port);  // a request from inside a callback
    }
}

TEST(NmsConcurrency, AgentsUsersListingAndRequestsFromManyThreads) {
    ASSERT_EQ(snmp_core_init(), API_SNMP_OK);
    snmp_core_register_response_callback(&on_response);
    std::vector<std::unique_ptr<Responder>> responders;
    for (int i = 0; i < kAgents; ++i) {
        responders.push_back(std::make_unique<Responder>(
            [](const Datagram &d) { return std::vector<Bytes>{v2c_answer(d.data, "stress")}; }));
        g_ports[static_cast<size_t>(i)] = responders.back()->port();
    }
    ASSERT_EQ(create_agent(kV3Port, API_SNMP_V3), API_SNMP_OK);

    std::atomic<bool> stop{false};
    std::atomic<int> sends_ok{0};
    std::vector<std::thread> threads;
    auto spawn = [&](auto body) {
        threads.emplace_back([&, body] {
            std::minstd_rand random(std::random_device{}());
            while (!stop) {
                body(random);
            }
        });
    };
    for (int i = 0; i < 2; ++i) {
        spawn([](std::minstd_rand &random) {
            uint16_t port = g_ports[random() % kAgents];
            if (random() % 2 == 0) {
                (void)create_agent(port, API_SNMP_V2C);
            } else {
                (void)snmp_core_agent_remove(kLoopback, port);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 3));
        });
    }
    for (int i = 0; i < 2; ++i) {
        spawn([](std::minstd_rand &random) {
            std::array<api_snmp_agent_info, kAgents + 1> list{};
            uint32_t n = snmp_core_get_agent_list(list.data(), static_cast<uint32_t>(list.size()));
            EXPECT_LE(n, static_cast<uint32_t>(kAgents + 1));
            for (uint32_t j = 0; j < n; ++j) {
                EXPECT_STREQ(list[j].ip, kLoopback);
            }
            EXPECT_LE(snmp_core_get_agent_count(), static_cast<uint32_t>(kAgents + 1));
            api_snmp_agent_config config{};
            uint16_t port = g_ports[random() % kAgents];
            (void)snmp_core_agent_exist(kLoopback, port);
            (void)snmp_core_agent_get_config(kLoopback, port, &config);
            std::array<api_snmp_user_info, MAX_V3_USERS> users{};
            EXPECT_LE(snmp_core_get_user_list(kLoopback, kV3Port, users.data(), MAX_V3_USERS), MAX_V3_USERS);
        });
    }
    spawn([](std::minstd_rand &random) {
        std::string name = "user" + std::to_string(random() % 8);
        api_snmp_v3_user_config user{};
        std::snprintf(user.user_name, sizeof user.user_name, "%s", name.c_str());
        if (random() % 2 == 0) {
            (void)core_snmpv3_user_add(kLoopback, kV3Port, &user);
        } else {
            (void)core_snmpv3_user_remove(kLoopback, kV3Port, name.c_str());
        }
        EXPECT_LE(snmp_core_get_user_count(kLoopback, kV3Port), MAX_V3_USERS);
    });
    for (int i = 0; i < 3; ++i) {
        spawn([&](std::minstd_rand &random) {
            if (send_tracked(g_ports[random() % kAgents]) == API_SNMP_OK) {
                ++sends_ok;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
        });
    }
    {
        TickDriver ticks;
        std::this_thread::sleep_for(kRunTime);
        stop = true;
        for (std::thread &t : threads) {
            t.join();
        }
    }
    snmp_core_destroy();
    snmp_core_register_response_callback(nullptr);

    for (const std::string &fault : Ledger::instance().faults()) {
        ADD_FAILURE() << fault;
    }
    EXPECT_GT(sends_ok.load(), 0);
    EXPECT_GT(Ledger::instance().delivered_count(), 0u);
    EXPECT_LE(Ledger::instance().delivered_count(), Ledger::instance().accepted_count());
}

}  // namespace
}  // namespace core_test
