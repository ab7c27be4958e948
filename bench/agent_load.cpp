// Load generator for an SNMP agent: keeps a fixed number of GET sysDescr.0 requests outstanding
// against 127.0.0.1:port for a while and reports the answers per second and the median and 99th
// percentile latency. Requests are v2c, or SNMPv3 authPriv (SHA-256 + AES-128, this system's own
// scheme, or with "std" the standard one: HMAC-SHA-256 and AES-128-CFB) after one discovery of the
// agent's engine.
//
// Usage: agent_load <port> <outstanding> <seconds> [community]
//        agent_load <port> <outstanding> <seconds> v3 <user> <auth password> <privacy password> [std]
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
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/agent_log.h"
#include "bench/bench_udp.h"
#include "codec/oid_literal.h"
#include "codec/snmp_ber.h"
#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_crypto.h"

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

// msgID of an SNMPv3 message (the first INTEGER of msgGlobalData), or 0.
uint32_t v3_msg_id(const uint8_t *data, size_t len) {
    size_t pos = 0;
    if (len < 2 || data[0] != kSequence || header(data, len, pos) < 0) {
        return 0;
    }
    const long version = header(data, len, pos);
    if (version < 0) {
        return 0;
    }
    pos += static_cast<size_t>(version);
    if (pos >= len || data[pos] != kSequence || header(data, len, pos) < 0 || pos >= len || data[pos] != kInteger) {
        return 0;
    }
    const long id_len = header(data, len, pos);
    uint32_t id = 0;
    for (long i = 0; i >= 0 && i < id_len && i < 5; ++i) {
        id = (id << 8) | data[pos + static_cast<size_t>(i)];
    }
    return id;
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

// Builds the request of one id; finds the id an answer belongs to (0: none).
using Encoder = std::function<std::vector<uint8_t>(uint32_t)>;
using Matcher = uint32_t (*)(const uint8_t *, size_t);

class Generator {
   public:
    Generator(int sock, Encoder encode, Matcher match) : sock_(sock), encode_(std::move(encode)), match_(match) {}

    bool send_one() {
        if (++next_id_ > kLastRequestId) {
            next_id_ = kFirstRequestId;
        }
        const std::vector<uint8_t> packet = encode_(next_id_);
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
            const auto found = pending_.find(match_(buf.data(), static_cast<size_t>(got)));
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
    Encoder encode_;
    Matcher match_;
    uint32_t next_id_ = kFirstRequestId;
    std::unordered_map<uint32_t, Clock::time_point> pending_;
    size_t lost_ = 0;
};

// ---- SNMPv3 ----

constexpr uint32_t kProbeId = 1;
constexpr int kDiscoveryWaitMs = 2000;

struct V3Session {
    std::string user;
    snmp_v3_user keys{};
    std::vector<uint8_t> engine_id;
    uint32_t boots = 0;
    uint32_t time = 0;
    Clock::time_point learned;
    snmp_varbind binding{};
};

// The agent's engine from the Report to an empty, reportable probe.
bool discover(int sock, V3Session &session) {
    snmp_message probe{};
    probe.version = SNMP_VERSION_3;
    probe.msg_id = kProbeId;
    probe.msg_flags = SNMP_V3_FLAG_REPORTABLE;
    probe.pdu.op = SNMP_OP_GET;
    const snmp_v3_user no_user{};
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    if (snmp_ber_encode_snmp_message(buf.data(), static_cast<uint16_t>(buf.size()), &no_user, &probe, &len) != SNMP_OK ||
        send(sock, buf.data(), len, 0) != len) {
        return false;
    }
    pollfd waiter{sock, POLLIN, 0};
    const ssize_t got = poll(&waiter, 1, kDiscoveryWaitMs) == 1 ? recv(sock, buf.data(), buf.size(), 0) : -1;
    auto report = std::make_unique<snmp_message>();
    uint16_t used = 0;
    if (got <= 0 || snmp_ber_decode_snmp_message(buf.data(), static_cast<uint16_t>(got), report.get(), &used) != SNMP_OK ||
        report->usm.engine_id_len == 0) {
        return false;
    }
    session.engine_id.assign(report->usm.engine_id, report->usm.engine_id + report->usm.engine_id_len);
    session.boots = report->usm.engine_boots;
    session.time = report->usm.engine_time;
    session.learned = Clock::now();
    return true;
}

bool v3_session(int sock, const std::string &user, const std::string &auth_pass, const std::string &priv_pass,
                bool standard, V3Session &session) {
    session.user = user;
    session.keys.user_len = static_cast<uint8_t>(user.size());
    std::memcpy(session.keys.username, user.data(), user.size());
    session.keys.auth_proto = standard ? SNMP_V3_AUTH_STD_SHA256 : SNMP_V3_AUTH_SHA256;
    session.keys.priv_proto = standard ? SNMP_V3_PRIV_STD_AES128 : SNMP_V3_PRIV_AES128;
    session.binding.oid = vek::codec::make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
    session.binding.type = SNMP_TAG_NULL;
    return discover(sock, session) &&
           snmp_v3_localize_user_keys(&session.keys, session.engine_id.data(),
                                      static_cast<uint16_t>(session.engine_id.size()), session.boots,
                                      reinterpret_cast<const uint8_t *>(auth_pass.data()),
                                      static_cast<uint8_t>(auth_pass.size()),
                                      reinterpret_cast<const uint8_t *>(priv_pass.data()),
                                      static_cast<uint8_t>(priv_pass.size())) == 1;
}

// One authPriv GET under the engine's clock as estimated now.
std::vector<uint8_t> v3_get(const V3Session &s, uint32_t msg_id) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - s.learned).count();
    std::vector<uint8_t> out(SNMP_MAX_MSG_SIZE);
    auto len = static_cast<uint16_t>(out.size());
    if (snmp_v3_cmd_encode(SNMP_OP_GET, s.user.c_str(), s.keys.auth_proto, s.keys.priv_proto, s.keys.auth_key,
                           s.keys.auth_key_len, s.keys.priv_key, s.keys.priv_key_len, s.engine_id.data(),
                           static_cast<uint16_t>(s.engine_id.size()), s.boots,
                           s.time + static_cast<uint32_t>(elapsed), msg_id, 0, 0, &s.binding, 1, out.data(),
                           &len) != SNMP_OK) {
        return {};
    }
    out.resize(len);
    return out;
}

// The load's requests: one authPriv GET encoded (and its scoped PDU encrypted) once per second of
// engine time; each request is that message with its own msgID and the authentication parameter
// computed again, so that the generator spends little next to the agent it measures.
class V3Requests {
   public:
    explicit V3Requests(const V3Session &session) : session_(session) {}

    std::vector<uint8_t> next(uint32_t msg_id) {
        const auto second = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - session_.learned).count();
        if (template_.empty() || second != second_) {
            second_ = second;
            if (!make_template()) {
                return {};
            }
        }
        std::vector<uint8_t> out = template_;
        for (size_t i = 0; i < sizeof(uint32_t); ++i) {
            out[msg_id_at_ + i] = static_cast<uint8_t>(msg_id >> (8 * (sizeof(uint32_t) - 1 - i)));
        }
        std::array<uint8_t, SNMP_AUTH_PARAM_SIZE> param{};
        std::array<uint8_t, SNMP_MAX_MSG_SIZE> work{};
        if (snmp_v3_gen_auth_param(&usm_, session_.keys.auth_key, session_.keys.auth_key_len, out.data(),
                                   static_cast<uint16_t>(out.size()), param.data(), work.data(),
                                   static_cast<uint16_t>(work.size())) != 1) {
            return {};
        }
        std::memcpy(out.data() + usm_.auth_param_offset + kTlvHeader, param.data(), usm_.auth_param_len);
        return out;
    }

   private:
    static constexpr size_t kTlvHeader = 2;

    // The message of this second and where its msgID (four octets) and authentication parameter are.
    bool make_template() {
        template_ = v3_get(session_, kFirstRequestId);
        auto msg = std::make_unique<snmp_message>();
        uint16_t used = 0;
        size_t pos = 0;
        if (template_.empty() || header(template_.data(), template_.size(), pos) < 0 ||
            snmp_ber_decode_snmp_message(template_.data(), static_cast<uint16_t>(template_.size()), msg.get(), &used) !=
                SNMP_OK) {
            template_.clear();
            return false;
        }
        pos += 3;                                                     // msgVersion 02 01 03
        header(template_.data(), template_.size(), pos);              // msgGlobalData
        msg_id_at_ = pos + kTlvHeader;                                // msgID 02 04 xx xx xx xx
        usm_ = msg->usm;
        usm_.auth_proto = session_.keys.auth_proto;
        usm_.auth_param_offset = msg->auth_param_abs_offset;
        return true;
    }

    const V3Session &session_;
    std::vector<uint8_t> template_;
    long long second_ = -1;
    size_t msg_id_at_ = 0;
    snmp_v3_usm usm_{};
};

// One GET and its answer checked in full (digest, decryption, a Response with a value), so that the
// load that follows counts answers and not Reports.
bool v3_answers(int sock, const V3Session &s) {
    const std::vector<uint8_t> request = v3_get(s, kProbeId + 1);
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    pollfd waiter{sock, POLLIN, 0};
    if (request.empty() || send(sock, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size()) ||
        poll(&waiter, 1, kDiscoveryWaitMs) != 1) {
        return false;
    }
    const ssize_t got = recv(sock, buf.data(), buf.size(), 0);
    auto answer = std::make_unique<snmp_message>();
    uint16_t used = 0;
    const int context = 0;
    snmp_v3_user keys = s.keys;
    keys.enabled = 1;
    return got > 0 &&
           snmp_ber_decode_snmp_message(buf.data(), static_cast<uint16_t>(got), answer.get(), &used) == SNMP_OK &&
           snmp_v3_process_security(buf.data(), static_cast<uint16_t>(got), answer.get(), &context, &keys) == SNMP_OK &&
           answer->pdu.op == SNMP_OP_GET_RESPONSE && answer->pdu.varbind_count == 1 &&
           answer->pdu.varbinds[0].type == SNMP_TAG_OCTET_STRING;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <port> <outstanding> <seconds> [community | v3 <user> <auth> <priv> [std]]\n",
                     argv[0]);
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
    const std::string mode = argc > 4 ? argv[4] : "public";
    V3Session session;
    Encoder encode = [community = mode](uint32_t id) { return get_request(community, id); };
    Matcher match = response_id;
    if (mode == "v3") {
        agent_log_set_level(AGENT_LOG_ERROR);
        const bool standard = argc > 8 && std::string(argv[8]) == "std";
        if (argc < 8 || !v3_session(sock, argv[5], argv[6], argv[7], standard, session) ||
            !v3_answers(sock, session)) {
            std::fprintf(stderr, "agent_load: no SNMPv3 answer (discovery, keys or the first GET failed)\n");
            return 1;
        }
        encode = [requests = std::make_shared<V3Requests>(session)](uint32_t id) { return requests->next(id); };
        match = v3_msg_id;
    }
    Generator generator(sock, encode, match);
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
