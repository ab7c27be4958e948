// Request-to-callback latency of a GET through the manager SDK against a loopback responder thread,
// next to the raw UDP round trip to the same responder measured in the same run; the time to poll
// a thousand agents once against the floor that the flow limit sets; and the processor use of an
// idle SDK.
//
// The SDK admits at most 300 new requests per second (process-wide flow control), so the SDK
// benchmarks run a fixed number of iterations and wait for the next second when the window is
// full; only the time from the call to the entry of the response callback is measured (manual
// time), not the later wake-up of the thread that waits for the callback. Each benchmark
// reports the median and the 99th percentile of its samples; BM_SdkGetVsRaw interleaves both kinds
// and reports the ratio of the medians (target: at most 2).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "nms/nms_snmp_core.h"
#include "nms/vek_nms_sdk.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kLoopback = "127.0.0.1";
constexpr const char *kCommunity = "public";
constexpr const char *kSysDescr = "1.3.6.1.2.1.1.1.0";
constexpr uint32_t kRequestTimeoutMs = 3000;
constexpr int kPollMs = 20;
constexpr size_t kDatagramSize = 1500;
constexpr int64_t kIterations = 600;  // two flow-control windows of the SDK
constexpr double kMicrosPerSecond = 1e6;
constexpr double kMedian = 0.5;
constexpr double kP99 = 0.99;
constexpr uint8_t kSequenceTag = 0x30;
constexpr uint8_t kResponsePduTag = 0xA2;
constexpr uint8_t kLongLengthFlag = 0x80;

// A v2c GetRequest for sysDescr.0 with community "public" (request-id 1): the raw round trip's load.
constexpr std::array<uint8_t, 40> kRawGet = {0x30, 0x26, 0x02, 0x01, 0x01, 0x04, 0x06, 'p',  'u',  'b',
                                             'l',  'i',  'c',  0xA0, 0x19, 0x02, 0x01, 0x01, 0x02, 0x01,
                                             0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08,
                                             0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00};

int loopback_socket() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof(local));
    return fd;
}

uint16_t local_port(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// Offset of the PDU tag of an SNMPv1/v2c message (after version and community); 0 when malformed.
size_t pdu_offset(const uint8_t *data, size_t length) {
    if (length < 2 || data[0] != kSequenceTag) {
        return 0;
    }
    size_t at = 2 + ((data[1] & kLongLengthFlag) != 0 ? (data[1] & ~kLongLengthFlag) : 0);
    for (int element = 0; element < 2; ++element) {  // version, community
        if (at + 2 > length || (data[at + 1] & kLongLengthFlag) != 0) {
            return 0;
        }
        at += 2 + data[at + 1];
    }
    return at < length ? at : 0;
}

// Turns the SNMPv1/v2c request in buffer into its GetResponse; false when it is none.
bool make_response(uint8_t *buffer, size_t length) {
    const size_t at = pdu_offset(buffer, length);
    if (at == 0) {
        return false;
    }
    buffer[at] = kResponsePduTag;
    return true;
}

// Answers every request it receives with the same message turned into a GetResponse.
class Responder {
   public:
    Responder() : fd_(loopback_socket()), thread_([this] { run(); }) {}
    Responder(const Responder &) = delete;
    Responder &operator=(const Responder &) = delete;
    ~Responder() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    uint16_t port() const { return local_port(fd_); }

   private:
    void run() {
        std::array<uint8_t, kDatagramSize> buffer{};
        while (!stop_) {
            pollfd entry{fd_, POLLIN, 0};
            if (poll(&entry, 1, kPollMs) != 1) {
                continue;
            }
            sockaddr_in from{};
            socklen_t from_length = sizeof(from);
            const ssize_t received =
                recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr *>(&from), &from_length);
            if (received < 1 || !make_response(buffer.data(), static_cast<size_t>(received))) {
                continue;
            }
            sendto(fd_, buffer.data(), static_cast<size_t>(received), 0, reinterpret_cast<const sockaddr *>(&from),
                   from_length);
        }
    }

    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One raw round trip: send the fixed GET, wait for the answer.
class RawClient {
   public:
    explicit RawClient(uint16_t port) : fd_(loopback_socket()) {
        target_.sin_family = AF_INET;
        target_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        target_.sin_port = htons(port);
        const timeval receive_timeout{1, 0};  // a lost datagram fails the round trip instead of hanging
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &receive_timeout, sizeof(receive_timeout));
    }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;
    ~RawClient() { close(fd_); }

    bool round_trip() {
        sendto(fd_, kRawGet.data(), kRawGet.size(), 0, reinterpret_cast<const sockaddr *>(&target_), sizeof(target_));
        return recv(fd_, buffer_.data(), buffer_.size(), 0) > 0;
    }

   private:
    int fd_;
    sockaddr_in target_{};
    std::array<uint8_t, kDatagramSize> buffer_{};
};

// The SDK with one agent (the responder); GETs wait for their callback.
class SdkClient {
   public:
    explicit SdkClient(uint16_t port) : port_(port) {
        api_snmp_init();
        api_snmp_register_response_callback(on_response);
        api_snmp_agent_config config{};
        config.version = API_SNMP_V2C;
        std::strncpy(config.community, kCommunity, sizeof(config.community) - 1);
        ok_ = api_snmp_agent_create(kLoopback, port_, &config) == API_SNMP_OK &&
              api_snmp_create_get_varbind(kSysDescr, &varbind_) == API_SNMP_OK;
    }
    SdkClient(const SdkClient &) = delete;
    SdkClient &operator=(const SdkClient &) = delete;
    ~SdkClient() { api_snmp_destroy(); }

    bool ready() const { return ok_; }

    // Seconds from the call to the callback; negative when the GET failed.
    double timed_get() {
        answered_.store(false);
        api_snmp_err sent = API_SNMP_OK;
        Clock::time_point start{};
        while (true) {
            start = Clock::now();
            sent = api_snmp_get(kLoopback, port_, nullptr, &varbind_, 1, kRequestTimeoutMs, this);
            if (sent != API_SNMP_ERR_NO_RESOURCE) {
                break;
            }
            wait_for_next_second();  // flow-control window full
        }
        if (sent != API_SNMP_OK) {
            return -1.0;
        }
        answered_.wait(false);
        const double elapsed = std::chrono::duration<double>(answered_at_ - start).count();
        return failed_.exchange(false) ? -1.0 : elapsed;
    }

   private:
    static void on_response(const char * /*ip*/, uint16_t /*port*/, const char * /*user*/, api_snmp_cmd_type /*cmd*/,
                            const api_snmp_response *response, void *user_data) {
        auto *self = static_cast<SdkClient *>(user_data);
        self->answered_at_ = Clock::now();
        if (response->error != API_SNMP_OK || response->var_count != 1) {
            self->failed_.store(true);
        }
        self->answered_.store(true);
        self->answered_.notify_one();
    }

    static void wait_for_next_second() {
        const auto now = std::chrono::system_clock::now();
        const auto next = std::chrono::ceil<std::chrono::seconds>(now + std::chrono::milliseconds(1));
        std::this_thread::sleep_until(next);
    }

    uint16_t port_;
    bool ok_ = false;
    api_snmp_varbind varbind_{};
    Clock::time_point answered_at_{};  // written by the callback before it raises answered_
    std::atomic<bool> answered_{false};
    std::atomic<bool> failed_{false};
};

double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) {
        return 0.0;
    }
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(fraction * static_cast<double>(samples.size())));
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
    return samples[index];
}

void report(benchmark::State &state, const char *prefix, const std::vector<double> &samples) {
    state.counters[std::string(prefix) + "p50_us"] = percentile(samples, kMedian) * kMicrosPerSecond;
    state.counters[std::string(prefix) + "p99_us"] = percentile(samples, kP99) * kMicrosPerSecond;
}

void BM_RawUdpRoundTrip(benchmark::State &state) {
    const Responder responder;
    RawClient raw(responder.port());
    std::vector<double> samples;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        if (!raw.round_trip()) {
            state.SkipWithError("raw round trip failed");
            break;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        samples.push_back(elapsed);
    }
    report(state, "", samples);
}

void BM_SdkGetLatency(benchmark::State &state) {
    const Responder responder;
    SdkClient sdk(responder.port());
    if (!sdk.ready()) {
        state.SkipWithError("SDK agent could not be created");
        return;
    }
    std::vector<double> samples;
    for (auto _ : state) {
        const double elapsed = sdk.timed_get();
        if (elapsed < 0) {
            state.SkipWithError("GET failed");
            break;
        }
        state.SetIterationTime(elapsed);
        samples.push_back(elapsed);
    }
    report(state, "", samples);
}

// Both kinds in one loop against one responder, so that they see the same machine state.
void BM_SdkGetVsRaw(benchmark::State &state) {
    const Responder responder;
    SdkClient sdk(responder.port());
    RawClient raw(responder.port());
    if (!sdk.ready()) {
        state.SkipWithError("SDK agent could not be created");
        return;
    }
    std::vector<double> sdk_samples;
    std::vector<double> raw_samples;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const bool raw_ok = raw.round_trip();
        const double raw_elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const double sdk_elapsed = sdk.timed_get();
        if (!raw_ok || sdk_elapsed < 0) {
            state.SkipWithError("round trip failed");
            break;
        }
        state.SetIterationTime(sdk_elapsed);
        raw_samples.push_back(raw_elapsed);
        sdk_samples.push_back(sdk_elapsed);
    }
    report(state, "sdk_", sdk_samples);
    report(state, "raw_", raw_samples);
    const double raw_median = percentile(raw_samples, kMedian);
    state.counters["p50_ratio"] = raw_median > 0 ? percentile(sdk_samples, kMedian) / raw_median : 0.0;
}

// ---- Many agents ----

constexpr size_t kFleetAgents = 1000;
constexpr uint16_t kIdleAgents = 100;
constexpr uint16_t kFirstIdlePort = 40000;  // nothing is sent to these
constexpr rlim_t kDescriptorsPerAgent = 3;    // the agent's socket, the responder's, some to spare
constexpr size_t kEventBatch = 64;
constexpr auto kSecondMargin = std::chrono::milliseconds(10);  // the SDK's seconds turn a little late

// One thread answering GETs on `count` loopback sockets, one socket per agent.
class FleetResponder {
   public:
    explicit FleetResponder(size_t count) : epoll_fd_(epoll_create1(EPOLL_CLOEXEC)) {
        for (size_t i = 0; i < count; ++i) {
            const int fd = loopback_socket();
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = fd;
            epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event);
            fds_.push_back(fd);
        }
        thread_ = std::thread([this] { run(); });
    }
    FleetResponder(const FleetResponder &) = delete;
    FleetResponder &operator=(const FleetResponder &) = delete;
    ~FleetResponder() {
        stop_ = true;
        thread_.join();
        for (int fd : fds_) {
            close(fd);
        }
        close(epoll_fd_);
    }
    std::vector<uint16_t> ports() const {
        std::vector<uint16_t> ports;
        for (int fd : fds_) {
            ports.push_back(local_port(fd));
        }
        return ports;
    }

   private:
    void run() {
        std::array<epoll_event, kEventBatch> events{};
        std::array<uint8_t, kDatagramSize> buffer{};
        while (!stop_) {
            const int ready = epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), kPollMs);
            for (int i = 0; i < ready; ++i) {
                const int fd = events[static_cast<size_t>(i)].data.fd;
                sockaddr_in from{};
                socklen_t from_length = sizeof(from);
                const ssize_t received = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                                  reinterpret_cast<sockaddr *>(&from), &from_length);
                if (received > 0 && make_response(buffer.data(), static_cast<size_t>(received))) {
                    sendto(fd, buffer.data(), static_cast<size_t>(received), 0,
                           reinterpret_cast<const sockaddr *>(&from), from_length);
                }
            }
        }
    }

    int epoll_fd_;
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Raises the soft limit on open descriptors for the agents' and the responder's sockets.
void make_room_for_descriptors(size_t agents) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::max(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, agents * kDescriptorsPerAgent + 64));
    setrlimit(RLIMIT_NOFILE, &limit);
}

void sleep_into_next_second() {
    std::this_thread::sleep_until(std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now()) +
                                  kSecondMargin);
}

// The SDK with one v2c agent per port; counts the answers that reach the callback.
class SdkFleet {
   public:
    explicit SdkFleet(const std::vector<uint16_t> &ports) : ports_(ports) {
        api_snmp_init();
        api_snmp_register_response_callback(on_response);
        api_snmp_agent_config config{};
        config.version = API_SNMP_V2C;
        std::strncpy(config.community, kCommunity, sizeof(config.community) - 1);
        ok_ = api_snmp_create_get_varbind(kSysDescr, &varbind_) == API_SNMP_OK;
        for (uint16_t port : ports_) {
            ok_ = ok_ && api_snmp_agent_create(kLoopback, port, &config) == API_SNMP_OK;
        }
    }
    SdkFleet(const SdkFleet &) = delete;
    SdkFleet &operator=(const SdkFleet &) = delete;
    ~SdkFleet() { api_snmp_destroy(); }

    bool ready() const { return ok_; }

    // One GET to every agent as fast as the flow limit allows; seconds until every answer came
    // (negative when a request failed or an answer is missing after the time-outs).
    double poll_once() {
        constexpr auto kLongestWait = std::chrono::seconds(30);
        answered_.store(0);
        failed_.store(0);
        const Clock::time_point start = Clock::now();
        for (uint16_t port : ports_) {
            api_snmp_err sent = API_SNMP_OK;
            while ((sent = api_snmp_get(kLoopback, port, nullptr, &varbind_, 1, kRequestTimeoutMs, this)) ==
                   API_SNMP_ERR_NO_RESOURCE) {
                sleep_into_next_second();
            }
            if (sent != API_SNMP_OK) {
                return -1.0;
            }
        }
        const auto expected = static_cast<uint32_t>(ports_.size());
        while (answered_.load() + failed_.load() < expected && Clock::now() - start < kLongestWait) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        return answered_.load() == expected ? elapsed : -1.0;
    }

   private:
    static void on_response(const char * /*ip*/, uint16_t /*port*/, const char * /*user*/, api_snmp_cmd_type /*cmd*/,
                            const api_snmp_response *response, void *user_data) {
        auto *self = static_cast<SdkFleet *>(user_data);
        ++(response->error == API_SNMP_OK ? self->answered_ : self->failed_);
    }

    std::vector<uint16_t> ports_;
    bool ok_ = false;
    api_snmp_varbind varbind_{};
    std::atomic<uint32_t> answered_{0};
    std::atomic<uint32_t> failed_{0};
};

// Polls a thousand agents once, starting at a calendar second; the flow limit of 300 new requests
// per second sets the floor (1000 / 300 s). Target: at most 1.2 times the floor.
void BM_SdkPollThousandAgents(benchmark::State &state) {
    make_room_for_descriptors(kFleetAgents);
    const FleetResponder responder(kFleetAgents);
    SdkFleet sdk(responder.ports());
    if (!sdk.ready()) {
        state.SkipWithError("SDK agents could not be created");
        return;
    }
    double seconds = 0.0;
    for (auto _ : state) {
        sleep_into_next_second();
        seconds = sdk.poll_once();
        if (seconds < 0) {
            state.SkipWithError("an agent was not answered");
            break;
        }
        state.SetIterationTime(seconds);
    }
    const double floor = static_cast<double>(kFleetAgents) / CORE_FLOW_LIMIT_PER_SECOND;
    state.counters["poll_us"] = seconds * kMicrosPerSecond;
    state.counters["floor_us"] = floor * kMicrosPerSecond;
}

// Processor time of the whole process while an SDK with 100 agents has nothing outstanding, as a
// share of one core, measured after the SDK has settled (its threads asleep in their waits).
double process_cpu_seconds() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

void BM_SdkIdleCpu(benchmark::State &state) {
    constexpr auto kSettle = std::chrono::milliseconds(1500);
    constexpr auto kQuietInterval = std::chrono::seconds(5);
    constexpr double kPercent = 100.0;
    std::vector<uint16_t> ports;
    for (uint16_t i = 0; i < kIdleAgents; ++i) {
        ports.push_back(static_cast<uint16_t>(kFirstIdlePort + i));
    }
    const SdkFleet sdk(ports);
    std::this_thread::sleep_for(kSettle);
    double share = 0.0;
    for (auto _ : state) {
        const double cpu_before = process_cpu_seconds();
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(kQuietInterval);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        share = (process_cpu_seconds() - cpu_before) / wall;
        state.SetIterationTime(wall);
    }
    state.counters["idle_cpu_percent"] = share * kPercent;
}

BENCHMARK(BM_SdkIdleCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawUdpRoundTrip)->UseManualTime()->Iterations(kIterations * 10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SdkGetLatency)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SdkGetVsRaw)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SdkPollThousandAgents)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
