// Request-to-callback latency of a GET through the manager SDK against a loopback responder thread,
// next to the raw UDP round trip to the same responder measured in the same run.
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
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

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
            const size_t at = received > 0 ? pdu_offset(buffer.data(), static_cast<size_t>(received)) : 0;
            if (at == 0) {
                continue;
            }
            buffer[at] = kResponsePduTag;
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

// Processor time the SDK's own threads use while the application sends nothing (timer thread and
// receive threads), as a share of one core over a quiet interval.
double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / kMicrosPerSecond; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_SdkIdleCpu(benchmark::State &state) {
    constexpr auto kQuietInterval = std::chrono::seconds(2);
    constexpr double kPercent = 100.0;
    api_snmp_init();
    double share = 0.0;
    for (auto _ : state) {
        const double cpu_before = process_cpu_seconds();
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(kQuietInterval);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        share = (process_cpu_seconds() - cpu_before) / wall;
        state.SetIterationTime(wall);
    }
    api_snmp_destroy();
    state.counters["idle_cpu_percent"] = share * kPercent;
}

BENCHMARK(BM_SdkIdleCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawUdpRoundTrip)->UseManualTime()->Iterations(kIterations * 10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SdkGetLatency)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SdkGetVsRaw)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMicrosecond);

}  // namespace
