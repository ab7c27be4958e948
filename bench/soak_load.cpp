// Soak load for the whole system, run by scripts/bench_soak.sh: for a while, at the same time,
//  - 8 HTTP clients send /snmp_get through the web bridge (and so the HTTP service) to an agent;
//  - 1000 datagrams a second of junk go to that agent and as many to the service's trap port;
//  - 4 manager threads poll agents through the manager library, each its own agent, 50 times a
//    second.
// A warm-up comes first; the figures cover the measured time after it: answers per second, errors
// (anything but an answer or a refusal to go faster: the bridge's 429/503, the manager library's
// flow control), and the resident memory of the named processes at its start and end.
//
// Usage: soak_load <bridge-port> <trap-port> <warm-up-s> <seconds> <agent-port>x4 [name=pid ...]
// VEK_SOAK_JUNK_RATE sets another rate of junk datagrams a second (0: none), for comparison.
// Prints FIGURE lines for scripts/bench_summary.py; exits 1 when an error occurred or a process's
// resident memory grew by 10 % or more.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "nms/vek_nms_sdk.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr size_t kHttpClients = 8;
constexpr size_t kManagerThreads = 4;
constexpr unsigned kJunkPerSecond = 1000;
constexpr auto kJunkTick = 10ms;
constexpr unsigned kJunkTicksPerSecond = 100;
constexpr size_t kJunkMaxLen = 120;
constexpr uint32_t kLcgMultiplier = 1664525u; /* a plain linear congruential generator */
constexpr uint32_t kLcgIncrement = 1013904223u;
constexpr unsigned kJunkShifts = 24;
constexpr uint8_t kSequenceTag = 0x30;
constexpr auto kPollPeriod = 20ms; /* 50 polls a second per manager thread */
constexpr auto kRefusedPause = 5ms; /* a client told to slow down waits, as a real one would */
constexpr auto kHttpLimit = 40s;   /* longer than the service's longest wait for an agent */
constexpr uint32_t kSdkTimeoutMs = 2000;
constexpr auto kCallbackLimit = 30s;
constexpr uint32_t kWarnLevel = 2;
constexpr double kMaxGrowth = 1.10;
constexpr int64_t kRetFlowRefused = API_SNMP_ERR_NO_RESOURCE;
constexpr int kStatusOk = 200;
constexpr int kStatusTooMany = 429;
constexpr int kStatusBusy = 503;
constexpr size_t kShownErrors = 5;
constexpr const char *kSysDescr = "1.3.6.1.2.1.1.1.0";
constexpr size_t kAgentPorts = kManagerThreads;
constexpr int kFirstAgentArg = 5; /* after the program, the ports of bridge and trap, the two times */
constexpr int kFixedArgs = kFirstAgentArg + static_cast<int>(kAgentPorts);

/* Counts of one kind of client, kept while measuring. */
struct tally {
    std::atomic<uint64_t> answers{0};
    std::atomic<uint64_t> refused{0};
    std::atomic<uint64_t> errors{0};
    std::mutex mutex;
    std::vector<std::string> shown; /* the first few errors, for the report */

    void error(const std::string &what) {
        errors.fetch_add(1);
        const std::lock_guard lock(mutex);
        if (shown.size() < kShownErrors) {
            shown.push_back(what);
        }
    }
};

std::atomic<bool> g_measuring{false};
std::atomic<bool> g_stop{false};

void count(std::atomic<uint64_t> &counter) {
    if (g_measuring.load()) {
        counter.fetch_add(1);
    }
}

// ---- HTTP clients ----

std::string http_get(uint16_t port, const std::string &target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{std::chrono::duration_cast<std::chrono::seconds>(kHttpLimit).count(), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::array<char, 4096> buf{};
        for (ssize_t got; (got = ::recv(fd, buf.data(), buf.size(), 0)) > 0;) {
            reply.append(buf.data(), static_cast<size_t>(got));
        }
    }
    ::close(fd);
    return reply;
}

int status_of(const std::string &reply) {
    constexpr std::string_view kVersion = "HTTP/1.1 ";
    return reply.starts_with(kVersion) ? std::atoi(reply.c_str() + kVersion.size()) : 0;
}

int64_t ret_of(const std::string &reply) {
    constexpr std::string_view kRet = "\"ret\":";
    const size_t at = reply.find(kRet);
    return at == std::string::npos ? INT64_MIN : std::strtoll(reply.c_str() + at + kRet.size(), nullptr, 10);
}

void http_client(uint16_t bridge_port, const std::string &target, tally &t) {
    while (!g_stop.load()) {
        const std::string reply = http_get(bridge_port, target);
        const int status = status_of(reply);
        const int64_t ret = ret_of(reply);
        if (status == kStatusOk && ret == 0) {
            count(t.answers);
            continue;
        }
        if (status == kStatusTooMany || status == kStatusBusy || (status == kStatusOk && ret == kRetFlowRefused)) {
            count(t.refused);
        } else if (g_measuring.load()) {
            t.error(reply.substr(0, 200));
        }
        std::this_thread::sleep_for(kRefusedPause);
    }
}

// ---- junk ----

unsigned junk_per_tick() {
    const char *rate = std::getenv("VEK_SOAK_JUNK_RATE");
    const unsigned per_second = rate != nullptr ? static_cast<unsigned>(std::atoi(rate)) : kJunkPerSecond;
    return per_second / kJunkTicksPerSecond;
}

void junk_sender(const std::array<uint16_t, 2> &ports) {
    const unsigned per_tick = junk_per_tick();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    uint32_t seed = 0x2545F491;
    std::array<uint8_t, kJunkMaxLen> junk{};
    auto next_tick = Clock::now();
    while (!g_stop.load()) {
        for (const uint16_t port : ports) {
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            for (unsigned i = 0; i < per_tick; ++i) {
                seed = seed * kLcgMultiplier + kLcgIncrement;
                const size_t len = 1 + seed % kJunkMaxLen;
                for (size_t b = 0; b < len; ++b) {
                    junk[b] = static_cast<uint8_t>(seed >> (b % kJunkShifts));
                }
                junk[0] = (i % 2 == 0) ? kSequenceTag : junk[0]; /* half of it starts like a message */
                ::sendto(fd, junk.data(), len, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
            }
        }
        next_tick += kJunkTick;
        std::this_thread::sleep_until(next_tick);
    }
    ::close(fd);
}

// ---- manager threads ----

/* One manager thread's wait for its answer. */
struct poll_slot {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    uint32_t error = 0;
    uint32_t status = 0;
};

void on_response(const char *, uint16_t, const char *, api_snmp_cmd_type, const api_snmp_response *r,
                            void *user_data) {
    auto *slot = static_cast<poll_slot *>(user_data);
    const std::lock_guard lock(slot->mutex);
    slot->error = r->error;
    slot->status = r->error_status;
    slot->done = true;
    slot->done_cv.notify_one();
}

void manager_thread(uint16_t agent_port, tally &t) {
    api_snmp_varbind vb{};
    api_snmp_create_get_varbind(kSysDescr, &vb);
    poll_slot slot;
    auto next = Clock::now();
    while (!g_stop.load()) {
        next = std::max(next + kPollPeriod, Clock::now()); /* after a slow answer: no burst to catch up */
        {
            const std::lock_guard lock(slot.mutex);
            slot.done = false;
        }
        const api_snmp_err rc = api_snmp_get("127.0.0.1", agent_port, nullptr, &vb, 1, kSdkTimeoutMs, &slot);
        if (rc == API_SNMP_ERR_NO_RESOURCE) {
            count(t.refused);
        } else if (rc != API_SNMP_OK) {
            t.error(std::string("api_snmp_get refused: ") + api_snmp_error_to_str(rc));
        } else {
            std::unique_lock lock(slot.mutex);
            if (!slot.done_cv.wait_for(lock, kCallbackLimit, [&] { return slot.done; })) {
                t.error("no callback");
            } else if (slot.error == API_SNMP_OK && slot.status == 0) {
                count(t.answers);
            } else if (g_measuring.load()) {
                t.error(std::string("answer: ") + api_snmp_error_to_str(static_cast<api_snmp_err>(slot.error)));
            }
        }
        std::this_thread::sleep_until(next);
    }
}

// ---- resident memory ----

struct watched {
    std::string name;
    int pid;
    long start_kb = 0;
};

long rss_kb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    constexpr std::string_view kRss = "VmRSS:";
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(kRss)) {
            return std::strtol(line.c_str() + kRss.size(), nullptr, 10);
        }
    }
    return 0;
}

std::vector<watched> watched_processes(int argc, char **argv) {
    std::vector<watched> out{{"soak manager (vek_nms_sdk)", static_cast<int>(::getpid())}};
    for (int i = kFixedArgs; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            out.push_back({arg.substr(0, eq), std::atoi(arg.c_str() + eq + 1)});
        }
    }
    return out;
}

void report_rates(const char *what, const tally &t, double seconds) {
    std::printf("FIGURE\tsoak: %s answers per second\t%.1f\t-\t0\t/s\n", what, static_cast<double>(t.answers) / seconds);
    std::printf("FIGURE\tsoak: %s refusals to go faster\t%llu\t-\t0\tcount\n", what,
                static_cast<unsigned long long>(t.refused.load()));
    std::printf("FIGURE\tsoak: %s errors\t%llu\ttarget\t0\tcount\n", what,
                static_cast<unsigned long long>(t.errors.load()));
    for (const std::string &e : t.shown) {
        std::fprintf(stderr, "soak_load: %s error: %s\n", what, e.c_str());
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < kFixedArgs) {
        std::fprintf(stderr, "usage: soak_load <bridge-port> <trap-port> <warm-up-s> <seconds> <agent-port>x4 "
                             "[name=pid ...]\n");
        return 2;
    }
    const auto bridge_port = static_cast<uint16_t>(std::atoi(argv[1]));
    const auto trap_port = static_cast<uint16_t>(std::atoi(argv[2]));
    const auto warm_up = std::chrono::seconds(std::atoi(argv[3]));
    const auto measured = std::chrono::seconds(std::atoi(argv[4]));
    std::array<uint16_t, kAgentPorts> agents{};
    for (size_t i = 0; i < kAgentPorts; ++i) {
        agents[i] = static_cast<uint16_t>(std::atoi(argv[kFirstAgentArg + i]));
    }
    std::vector<watched> processes = watched_processes(argc, argv);

    api_snmp_set_log_level(kWarnLevel);
    api_snmp_init();
    api_snmp_register_response_callback(on_response);
    api_snmp_agent_config config{API_SNMP_V2C, "public"};
    for (const uint16_t port : agents) {
        api_snmp_agent_create("127.0.0.1", port, &config);
    }
    const std::string agent0 = std::to_string(agents[0]);
    http_get(bridge_port, "/agent_add?ip=127.0.0.1&port=" + agent0 + "&version=1&community=public");

    tally http;
    tally managers;
    std::vector<std::thread> threads;
    const std::string target = "/snmp_get?ip=127.0.0.1&port=" + agent0 + "&oid=" + kSysDescr;
    for (size_t i = 0; i < kHttpClients; ++i) {
        threads.emplace_back(http_client, bridge_port, target, std::ref(http));
    }
    for (size_t i = 0; i < kManagerThreads; ++i) {
        threads.emplace_back(manager_thread, agents[i], std::ref(managers));
    }
    threads.emplace_back(junk_sender, std::array<uint16_t, 2>{agents[0], trap_port});

    std::this_thread::sleep_for(warm_up);
    for (watched &p : processes) {
        p.start_kb = rss_kb(p.pid);
    }
    g_measuring.store(true);
    const auto started = Clock::now();
    std::this_thread::sleep_for(measured);
    g_measuring.store(false);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    bool ok = true;
    for (const watched &p : processes) {
        const long end_kb = rss_kb(p.pid);
        std::printf("FIGURE\tsoak: resident memory of %s, end of run\t%ld\tstart\t%ld\tkB\n", p.name.c_str(), end_kb,
                    p.start_kb);
        ok = ok && p.start_kb > 0 && static_cast<double>(end_kb) < kMaxGrowth * static_cast<double>(p.start_kb);
    }
    g_stop.store(true);
    for (std::thread &t : threads) {
        t.join();
    }
    api_snmp_destroy();
    report_rates("HTTP through the bridge (8 clients)", http, seconds);
    report_rates("manager library (4 threads)", managers, seconds);
    ok = ok && http.errors == 0 && managers.errors == 0;
    if (!ok) {
        std::fprintf(stderr, "soak_load: target missed (errors, or resident memory grew by 10 %% or more)\n");
    }
    return ok ? 0 : 1;
}
