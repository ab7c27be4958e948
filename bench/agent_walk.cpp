// GET-BULK walk of one subtree as snmpbulkwalk makes it (v2c, 10 repetitions, each request from the
// last name of the answer before, until a name leaves the subtree or the view ends), timed without a
// tool's start-up: the agent's share of such a walk.
//
// Usage: agent_walk <port> <walks> <dotted-oid> [community]
// Output: "walk_median_us <n> requests <n> objects <n>" (requests and objects of one walk)
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
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_udp.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kObjectId = 0x06;
constexpr uint8_t kGetBulk = 0xA5;
constexpr uint8_t kGetResponse = 0xA2;
constexpr uint8_t kEndOfMibView = 0x82;
constexpr uint8_t kVersion2c = 1;
constexpr uint8_t kRepetitions = 10;  // snmpbulkwalk's default
constexpr uint8_t kLongLength = 0x82; // a two-octet length follows
constexpr size_t kShortLengthLimit = 0x80;
constexpr uint8_t kArcMask = 0x7F;
constexpr unsigned kBitsPerOctet = 8;
constexpr unsigned kArcBits = 7;
constexpr uint8_t kArcMore = 0x80;
constexpr uint32_t kFirstArcFactor = 40;
constexpr int kAnswerWaitMs = 1000;
constexpr size_t kDatagramMax = 1500;
constexpr double kMedian = 0.5;

void put_tlv(Bytes &out, uint8_t tag, const Bytes &content) {
    out.push_back(tag);
    if (content.size() >= kShortLengthLimit) {  // requests stay far below 64 KiB: two octets at most
        out.push_back(kLongLength);
        out.push_back(static_cast<uint8_t>(content.size() >> kBitsPerOctet));
    }
    out.push_back(static_cast<uint8_t>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
}

// The content octets of an OBJECT IDENTIFIER given as dotted text.
Bytes encode_oid(const std::string &dotted) {
    std::vector<uint32_t> arcs;
    std::istringstream in(dotted);
    for (std::string arc; std::getline(in, arc, '.');) {
        arcs.push_back(static_cast<uint32_t>(std::stoul(arc)));
    }
    Bytes out;
    arcs[1] += arcs[0] * kFirstArcFactor;
    for (size_t i = 1; i < arcs.size(); ++i) {
        Bytes piece{static_cast<uint8_t>(arcs[i] & kArcMask)};
        for (uint32_t rest = arcs[i] >> kArcBits; rest != 0; rest >>= kArcBits) {
            piece.insert(piece.begin(), static_cast<uint8_t>(kArcMore | (rest & kArcMask)));
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

Bytes bulk_request(const std::string &community, uint32_t request_id, const Bytes &oid) {
    Bytes binding;
    put_tlv(binding, kObjectId, oid);
    put_tlv(binding, kNull, {});
    Bytes bindings;
    put_tlv(bindings, kSequence, binding);
    Bytes pdu;
    put_tlv(pdu, kInteger, {static_cast<uint8_t>(request_id >> 24), static_cast<uint8_t>(request_id >> 16),
                            static_cast<uint8_t>(request_id >> 8), static_cast<uint8_t>(request_id)});
    put_tlv(pdu, kInteger, {0});
    put_tlv(pdu, kInteger, {kRepetitions});
    put_tlv(pdu, kSequence, bindings);
    Bytes message;
    put_tlv(message, kInteger, {kVersion2c});
    put_tlv(message, kOctetString, Bytes(community.begin(), community.end()));
    put_tlv(message, kGetBulk, pdu);
    Bytes out;
    put_tlv(out, kSequence, message);
    return out;
}

// A reader of BER TLVs over one datagram.
struct Reader {
    const uint8_t *data;
    size_t len;
    size_t pos = 0;

    // Enters the TLV at pos (tag checked unless 0): its content length, or nothing.
    std::optional<size_t> enter(uint8_t tag) {
        if (pos + 2 > len || (tag != 0 && data[pos] != tag)) {
            return std::nullopt;
        }
        ++pos;
        size_t length = data[pos++];
        if (length >= kShortLengthLimit) {
            const size_t octets = length & kArcMask;
            length = 0;
            for (size_t i = 0; i < octets && pos < len; ++i) {
                length = (length << kBitsPerOctet) | data[pos++];
            }
        }
        return pos + length <= len ? std::optional<size_t>(length) : std::nullopt;
    }
    bool skip(uint8_t tag) {
        const std::optional<size_t> length = enter(tag);
        pos += length.value_or(0);
        return length.has_value();
    }
};

// What one answer says for the walk: the last name, and whether the walk goes on from it.
struct Step {
    Bytes last;
    size_t objects = 0;
    bool more = false;
};

std::optional<Step> read_answer(const uint8_t *data, size_t len, const Bytes &prefix) {
    Reader r{data, len};
    if (!r.enter(kSequence) || !r.skip(kInteger) || !r.skip(kOctetString) || !r.enter(kGetResponse) ||
        !r.skip(kInteger) || !r.skip(kInteger) || !r.skip(kInteger) || !r.enter(kSequence)) {
        return std::nullopt;
    }
    Step step;
    step.more = true;
    while (r.pos < len && step.more) {
        const std::optional<size_t> oid_len = r.enter(kSequence) ? r.enter(kObjectId) : std::nullopt;
        if (!oid_len) {
            return std::nullopt;
        }
        step.last.assign(data + r.pos, data + r.pos + *oid_len);
        r.pos += *oid_len;
        const bool ended = r.pos < len && data[r.pos] == kEndOfMibView;
        step.more = !ended && step.last.size() > prefix.size() && std::equal(prefix.begin(), prefix.end(), step.last.begin());
        step.objects += step.more ? 1 : 0;
        r.skip(0);
    }
    return step;
}

// One walk: the number of requests and of objects inside the subtree, or nothing on a failure.
std::optional<std::pair<size_t, size_t>> walk(int sock, const std::string &community, const Bytes &prefix,
                                              uint32_t &request_id) {
    Bytes from = prefix;
    size_t requests = 0;
    size_t objects = 0;
    std::array<uint8_t, kDatagramMax> buf{};
    for (;;) {
        const Bytes request = bulk_request(community, ++request_id, from);
        pollfd waiter{sock, POLLIN, 0};
        if (send(sock, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size()) ||
            poll(&waiter, 1, kAnswerWaitMs) != 1) {
            return std::nullopt;
        }
        const ssize_t got = recv(sock, buf.data(), buf.size(), 0);
        const std::optional<Step> step = got > 0 ? read_answer(buf.data(), static_cast<size_t>(got), prefix)
                                                 : std::nullopt;
        if (!step) {
            return std::nullopt;
        }
        ++requests;
        objects += step->objects;
        if (!step->more) {
            return std::make_pair(requests, objects);
        }
        from = step->last;
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <port> <walks> <dotted-oid> [community]\n", argv[0]);
        return 2;
    }
    const int sock = connect_udp(static_cast<uint16_t>(std::atoi(argv[1])));
    if (sock < 0) {
        std::perror("agent_walk: socket");
        return 1;
    }
    const int walks = std::max(1, std::atoi(argv[2]));
    const Bytes prefix = encode_oid(argv[3]);
    const std::string community = argc > 4 ? argv[4] : "public";
    uint32_t request_id = 1;
    std::vector<double> times_us;
    std::pair<size_t, size_t> shape;
    for (int i = 0; i < walks; ++i) {
        const Clock::time_point start = Clock::now();
        const std::optional<std::pair<size_t, size_t>> done = walk(sock, community, prefix, request_id);
        if (!done) {
            std::fprintf(stderr, "agent_walk: walk %d failed\n", i + 1);
            close(sock);
            return 1;
        }
        times_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        shape = *done;
    }
    close(sock);
    const auto middle = times_us.begin() + static_cast<std::ptrdiff_t>(kMedian * static_cast<double>(times_us.size()));
    std::nth_element(times_us.begin(), middle, times_us.end());
    std::printf("walk_median_us %.1f requests %zu objects %zu\n", *middle, shape.first, shape.second);
    return 0;
}
