// Load generator for an SNMP agent: keeps a fixed number of v2c GET sysDescr.0 requests outstanding
// against host:port for a while and reports the answers per second and the median and 99th
// percentile latency.
//
// Usage: agent_load <port> <outstanding> <seconds> [community]
// Output: "answers_per_second <n> median_us <n> p99_us <n> lost <n>"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/bench_udp.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kGetRequest = 0xA0;
constexpr uint8_t kGetResponse = 0xA2;
constexpr uint8_t kVersion2c = 1;
constexpr uint32_t kFirstRequestId = 0x01000000;  // four-octet ids keep every request the same size
constexpr uint32_t kLastRequestId = 0x7FFFFFFF;
constexpr std::array<uint8_t, 12> kSysDescrBinding = {0x06, 0x08, 0x2B, 0x06, 0x01, 0x02,
                                                      0x01, 0x01, 0x01, 0x00, 0x05, 0x00};
constexpr int kPollMs = 100;
constexpr auto kLossTimeout = std::chrono::seconds(1);
constexpr size_t kDatagramMax = 1500;
constexpr double kMedian = 0.5;
constexpr double kP99 = 0.99;

void put_tlv(std::vector<uint8_t> &out, uint8_t tag, const std::vector<uint8_t> &content) {
    out.push_back(tag);
    out.push_back(static_cast<uint8_t>(content.size()));  // every part here is shorter than 128 bytes
    out.insert(out.end(), content.begin(), content.end());
}

std::vector<uint8_t> get_request(const std::string &community, uint32_t request_id) {
    std::vector<uint8_t> binding(kSysDescrBinding.begin(), kSysDescrBinding.end());
    std::vector<uint8_t> bindings;
    put_tlv(bindings, kSequence, binding);
    std::vector<uint8_t> pdu;
    put_tlv(pdu, kInteger,
            {static_cast<uint8_t>(request_id >> 24), static_cast<uint8_t>(request_id >> 16),
             static_cast<uint8_t>(request_id >> 8), static_cast<uint8_t>(request_id)});
    put_tlv(pdu, kInteger, {0});
    put_tlv(pdu, kInteger, {0});
    put_tlv(pdu, kSequence, bindings);
    std::vector<uint8_t> message;
    put_tlv(message, kInteger, {kVersion2c});
    put_tlv(message, kOctetString, std::vector<uint8_t>(community.begin(), community.end()));
    put_tlv(message, kGetRequest, pdu);
    std::vector<uint8_t> out;
    put_tlv(out, kSequence, message);
    return out;
}

// Skips one TLV header at `pos`; returns the content length, or -1.
long header(const uint8_t *data, size_t len, size_t &pos) {
    if (pos + 2 > len) {
        return -1;
    }
    ++pos;
    size_t length = data[pos++];
    if (length & 0x80) {
        const size_t octets = length & 0x7F;
        if (octets > 2 || pos + octets > len) {
            return -1;
        }
        length = 0;
        for (size_t i = 0; i < octets; ++i) {
            length = (length << 8) | data[pos++];
        }
    }
    return pos + length <= len ? static_cast<long>(length) : -1;
}

// Request id of a GetResponse, or 0 when the datagram is not one.
uint32_t response_id(const uint8_t *data, size_t len) {
    size_t pos = 0;
    if (len < 2 || data[0] != kSequence || header(data, len, pos) < 0) {
        return 0;
    }
    for (int skip = 0; skip < 2; ++skip) {  // version, community
        const long field = header(data, len, pos);
        if (field < 0) {
            return 0;
        }
        pos += static_cast<size_t>(field);
    }
    if (pos >= len || data[pos] != kGetResponse || header(data, len, pos) < 0 || pos >= len ||
        data[pos] != kInteger) {
        return 0;
    }
    const long id_len = header(data, len, pos);
    if (id_len < 1 || id_len > 5) {
        return 0;
    }
    uint32_t id = 0;
    for (long i = 0; i < id_len; ++i) {
        id = (id << 8) | data[pos + static_cast<size_t>(i)];
    }
    return id;
}

double percentile_us(std::vector<double> samples, double fraction) {
    if (samples.empty()) {
        return 0.0;
    }
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(fraction * static_cast<double>(samples.size())));
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
    return samples[index];
}

class Generator {
   public:
    Generator(int sock, std::string community) : sock_(sock), community_(std::move(community)) {}

    bool send_one() {
        if (++next_id_ > kLastRequestId) {
            next_id_ = kFirstRequestId;
        }
        const std::vector<uint8_t> packet = get_request(community_, next_id_);
        if (send(sock_, packet.data(), packet.size(), 0) != static_cast<ssize_t>(packet.size())) {
            return false;
        }
        pending_[next_id_] = Clock::now();
        return true;
    }

    // Receives what is there; every answer (or request given up as lost) makes room for one more.
    size_t receive_ready(std::vector<double> &latencies_us) {
        std::array<uint8_t, kDatagramMax> buf{};
        size_t freed = 0;
        for (;;) {
            const ssize_t got = recv(sock_, buf.data(), buf.size(), MSG_DONTWAIT);
            if (got <= 0) {
                break;
            }
            const auto found = pending_.find(response_id(buf.data(), static_cast<size_t>(got)));
            if (found == pending_.end()) {
                continue;
            }
            latencies_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - found->second).count());
            pending_.erase(found);
            ++freed;
        }
        return freed + drop_lost();
    }

    size_t lost() const { return lost_; }

   private:
    size_t drop_lost() {
        const Clock::time_point limit = Clock::now() - kLossTimeout;
        size_t dropped = 0;
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->second < limit) {
                it = pending_.erase(it);
                ++dropped;
            } else {
                ++it;
            }
        }
        lost_ += dropped;
        return dropped;
    }

    int sock_;
    std::string community_;
    uint32_t next_id_ = kFirstRequestId;
    std::unordered_map<uint32_t, Clock::time_point> pending_;
    size_t lost_ = 0;
};

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <port> <outstanding> <seconds> [community]\n", argv[0]);
        return 2;
    }
    const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
    const int outstanding = std::max(1, std::atoi(argv[2]));
    const double seconds = std::atof(argv[3]);
    const int sock = connect_udp(port);
    if (sock < 0) {
        std::perror("agent_load: socket");
        return 1;
    }
    Generator generator(sock, argc > 4 ? argv[4] : "public");
    std::vector<double> latencies_us;
    for (int i = 0; i < outstanding; ++i) {
        generator.send_one();
    }
    const Clock::time_point start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    pollfd waiter{sock, POLLIN, 0};
    while (Clock::now() < end) {
        poll(&waiter, 1, kPollMs);
        for (size_t n = generator.receive_ready(latencies_us); n > 0; --n) {
            generator.send_one();
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("answers_per_second %.0f median_us %.1f p99_us %.1f lost %zu\n",
                static_cast<double>(latencies_us.size()) / elapsed, percentile_us(latencies_us, kMedian),
                percentile_us(latencies_us, kP99), generator.lost());
    close(sock);
    return latencies_us.empty() ? 1 : 0;
}
