// Helpers of the SNMP core tests: UDP peers on 127.0.0.1 that the tests control (answering,
// silent, misbehaving), recorders for the two callbacks, codec-built messages and a fixture that
// starts and stops the core around each test.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/agent_log.h"
#include "codec/snmp_ber.h"
#include "codec/snmp_trap.h"
#include "codec/snmp_types.h"
#include "nms/nms_snmp_core.h"
#include "nms/nms_types_internal.h"
#include "nms/vek_nms_sdk.h"

namespace core_test {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline constexpr char kLoopback[] = "127.0.0.1";
inline constexpr int kPollSliceMs = 20;
inline constexpr auto kWait = std::chrono::seconds(3);

// ---- UDP peer ----

struct Datagram {
    Bytes data;
    uint16_t from_port = 0;
    Clock::time_point at;
};

// A UDP socket bound to 127.0.0.1 on a port of the system's choice.
class UdpPeer {
   public:
    UdpPeer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr = loopback(0);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;
    ~UdpPeer() { ::close(fd_); }

    uint16_t port() const { return port_; }

    void send_to(uint16_t port, const Bytes &data) const {
        sockaddr_in addr = loopback(port);
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }

    std::optional<Datagram> receive(int timeout_ms) const {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, timeout_ms) <= 0) {
            return std::nullopt;
        }
        std::array<uint8_t, SNMP_MAX_MSG_SIZE + 1> buf{};
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n <= 0) {
            return std::nullopt;
        }
        return Datagram{Bytes(buf.begin(), buf.begin() + n), ntohs(from.sin_port), Clock::now()};
    }

    static sockaddr_in loopback(uint16_t port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        return addr;
    }

   private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A port that was free a moment ago.
inline uint16_t free_port() {
    UdpPeer probe;
    return probe.port();
}

// A peer with a thread that records every datagram and answers through a replaceable handler
// (which returns the datagrams to send back; none for a silent peer).
class Responder {
   public:
    using Handler = std::function<std::vector<Bytes>(const Datagram &)>;

    explicit Responder(Handler handler = {}) : handler_(std::move(handler)) {
        thread_ = std::thread([this] { run(); });
    }
    Responder(const Responder &) = delete;
    Responder &operator=(const Responder &) = delete;
    ~Responder() {
        stop_ = true;
        thread_.join();
    }

    uint16_t port() const { return peer_.port(); }
    const UdpPeer &peer() const { return peer_; }

    void set_handler(Handler handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }

    size_t count() const {
        std::lock_guard lock(mutex_);
        return received_.size();
    }

    std::vector<Datagram> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

    bool wait_count(size_t n, std::chrono::milliseconds timeout = kWait) const {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return received_.size() >= n; });
    }

   private:
    void run() {
        while (!stop_) {
            std::optional<Datagram> d = peer_.receive(kPollSliceMs);
            if (!d) {
                continue;
            }
            Handler handler;
            {
                std::lock_guard lock(mutex_);
                received_.push_back(*d);
                handler = handler_;
            }
            cv_.notify_all();
            if (handler) {
                for (const Bytes &reply : handler(*d)) {
                    peer_.send_to(d->from_port, reply);
                }
            }
        }
    }

    UdpPeer peer_;
    Handler handler_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<Datagram> received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- Callback recorders ----

struct ResponseRecord {
    std::string ip;
    uint16_t port;
    std::string user;
    api_snmp_cmd_type cmd;
    api_snmp_response response;
    void *user_data;
};

struct TrapRecord {
    std::string ip;
    uint16_t port;
    uint32_t version;
    std::string community;
    uint8_t var_count;
    std::vector<api_snmp_varbind> varbinds;
    void *user_data;
};

class Recorder {
   public:
    static Recorder &instance() {
        static Recorder recorder;
        return recorder;
    }

    void reset() {
        std::lock_guard lock(mutex_);
        responses_.clear();
        traps_.clear();
        on_response_hook = nullptr;
    }

    std::vector<ResponseRecord> responses() const {
        std::lock_guard lock(mutex_);
        return responses_;
    }
    std::vector<TrapRecord> traps() const {
        std::lock_guard lock(mutex_);
        return traps_;
    }

    bool wait_responses(size_t n, std::chrono::milliseconds timeout = kWait) const {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return responses_.size() >= n; });
    }
    bool wait_traps(size_t n, std::chrono::milliseconds timeout = kWait) const {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return traps_.size() >= n; });
    }

    static void on_response(const char *ip, uint16_t port, const char *user_name, api_snmp_cmd_type cmd_type,
                            const api_snmp_response *response, void *user_data) {
        Recorder &self = instance();
        std::function<void(const ResponseRecord &)> hook;
        ResponseRecord record{ip, port, user_name, cmd_type, *response, user_data};
        {
            std::lock_guard lock(self.mutex_);
            self.responses_.push_back(record);
            hook = self.on_response_hook;
        }
        self.cv_.notify_all();
        if (hook) {
            hook(record);
        }
    }

    static void on_trap(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                        void *user_data) {
        EXPECT_EQ(error, API_SNMP_OK);
        Recorder &self = instance();
        {
            std::lock_guard lock(self.mutex_);
            self.traps_.push_back(TrapRecord{ip, port, trap->version, trap->community, trap->var_count,
                                             std::vector<api_snmp_varbind>(trap->varbinds,
                                                                           trap->varbinds + trap->var_count),
                                             user_data});
        }
        self.cv_.notify_all();
    }

    // Called (outside the recorder's lock) after each recorded response; runs on the SDK's thread.
    std::function<void(const ResponseRecord &)> on_response_hook;

   private:
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<ResponseRecord> responses_;
    std::vector<TrapRecord> traps_;
};

// ---- Messages ----

inline snmp_oid parse_oid(const char *text) {
    snmp_oid oid{};
    EXPECT_EQ(snmp_trap_parse_oid(text, &oid), 1) << text;
    return oid;
}

inline snmp_varbind string_varbind(const char *oid, const std::string &value) {
    snmp_varbind vb{};
    vb.oid = parse_oid(oid);
    vb.type = SNMP_TAG_OCTET_STRING;
    vb.value_len = static_cast<uint16_t>(value.size());
    std::memcpy(vb.value.octets, value.data(), value.size());
    return vb;
}

inline snmp_varbind counter_varbind(const char *oid, uint32_t value) {
    snmp_varbind vb{};
    vb.oid = parse_oid(oid);
    vb.type = SNMP_TAG_COUNTER32;
    vb.value.integer = static_cast<int32_t>(value);
    return vb;
}

inline std::unique_ptr<snmp_message> decode(const Bytes &data) {
    auto msg = std::make_unique<snmp_message>();
    uint16_t consumed = 0;
    if (snmp_ber_decode_snmp_message(data.data(), static_cast<uint16_t>(data.size()), msg.get(), &consumed) !=
        SNMP_OK) {
        return nullptr;
    }
    return msg;
}

inline int32_t request_id_of(const Bytes &data) {
    auto msg = decode(data);
    return msg ? msg->pdu.request_id : -1;
}

inline std::string community_of(const snmp_message &msg) {
    return std::string(reinterpret_cast<const char *>(msg.usm.username), msg.usm.user_len);
}

// A v1/v2c message of one operation with the given varbinds.
inline Bytes v1v2_message(uint32_t version, uint32_t op, int32_t request_id, const std::string &community,
                          const std::vector<snmp_varbind> &varbinds, uint32_t error_status = 0) {
    auto msg = std::make_unique<snmp_message>();
    msg->version = version;
    std::memcpy(msg->usm.username, community.data(), community.size());
    msg->usm.user_len = static_cast<uint8_t>(community.size());
    msg->pdu.op = op;
    msg->pdu.request_id = request_id;
    msg->pdu.error_status = error_status;
    msg->pdu.varbind_count = static_cast<uint8_t>(varbinds.size());
    std::copy(varbinds.begin(), varbinds.end(), msg->pdu.varbinds);
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    EXPECT_EQ(snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), nullptr, msg.get(), &len),
              SNMP_OK);
    out.resize(len);
    return out;
}

// The v2c answer to a received request, echoing its request-id (or the given one).
inline Bytes v2c_answer(const Bytes &request, const std::string &value, uint32_t error_status = 0,
                        std::optional<int32_t> request_id = std::nullopt) {
    auto msg = decode(request);
    EXPECT_NE(msg, nullptr);
    int32_t id = request_id.value_or(msg ? msg->pdu.request_id : 0);
    return v1v2_message(SNMP_VERSION_2C, SNMP_OP_GET_RESPONSE, id, "public",
                        {string_varbind("1.3.6.1.2.1.1.1.0", value)}, error_status);
}

// A v2c notification PDU (TRAP or INFORM) with extra string varbinds.
inline Bytes v2c_notification(bool inform, int32_t request_id, const std::string &community, size_t extra) {
    auto msg = std::make_unique<snmp_message>();
    msg->version = SNMP_VERSION_2C;
    std::memcpy(msg->usm.username, community.data(), community.size());
    msg->usm.user_len = static_cast<uint8_t>(community.size());
    EXPECT_EQ(snmp_trap_build_v2c_v3_pdu(&msg->pdu, inform ? 1 : 0, 4242, "1.3.6.1.4.1.9999.1",
                                         static_cast<uint32_t>(request_id)),
              SNMP_OK);
    for (size_t i = 0; i < extra; ++i) {
        const std::string oid = std::string("1.3.6.1.4.1.9999.1.").append(std::to_string(i + 1));
        msg->pdu.varbinds[msg->pdu.varbind_count++] = string_varbind(oid.c_str(), std::string("v").append(std::to_string(i)));
    }
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    EXPECT_EQ(snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), nullptr, msg.get(), &len),
              SNMP_OK);
    out.resize(len);
    return out;
}

// ---- Requests ----

inline api_snmp_varbind get_varbind(const char *oid = "1.3.6.1.2.1.1.1.0") {
    api_snmp_varbind vb{};
    std::snprintf(vb.oid, sizeof vb.oid, "%s", oid);
    vb.type = API_SNMP_BER_NULL;
    return vb;
}

inline api_snmp_err send_get(uint16_t port, void *user_data = nullptr, const char *user = nullptr,
                             uint32_t cmd = API_SNMP_CMD_GET) {
    api_snmp_varbind vb = get_varbind();
    return snmp_core_send_cmd(cmd, kLoopback, port, user, &vb, 1, user_data);
}

inline api_snmp_err create_agent(uint16_t port, uint32_t version, const char *community = "public") {
    api_snmp_agent_config config{};
    config.version = version;
    std::snprintf(config.community, sizeof config.community, "%s", community);
    return snmp_core_agent_create(kLoopback, port, &config);
}

// Runs fn on the agent record under the core's list lock (tests reach into the record to stand in
// for the passing of time).
template <typename Fn>
void with_agent(uint16_t port, Fn &&fn) {
    vek::nms::MutexGuard guard(core_list_lock());
    snmp_core_agent *agent = core_find_agent_by_addr(kLoopback, port);
    ASSERT_NE(agent, nullptr);
    fn(*agent);
}

// Calls the 1 ms tick from a thread of its own, as the SDK's timer thread does.
class TickDriver {
   public:
    TickDriver() {
        thread_ = std::thread([this] {
            while (!stop_) {
                core_snmp_1ms_timer_tick();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    TickDriver(const TickDriver &) = delete;
    TickDriver &operator=(const TickDriver &) = delete;
    ~TickDriver() {
        stop_ = true;
        thread_.join();
    }

   private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Calls the tick until the next 5-minute time-synchronisation check has run.
inline void run_time_sync_check() {
    for (uint32_t i = 0; i < CORE_TIME_SYNC_CHECK_TICKS; ++i) {
        core_snmp_1ms_timer_tick();
    }
}

// Starts the core with both recorders registered; stops it afterwards.
class CoreTest : public ::testing::Test {
   protected:
    static inline int trap_marker = 0;

    void SetUp() override {
        ASSERT_EQ(snmp_core_init(), API_SNMP_OK);
        Recorder::instance().reset();
        snmp_core_register_response_callback(&Recorder::on_response);
        snmp_core_register_trap_callback(&Recorder::on_trap, &trap_marker);
    }
    void TearDown() override {
        snmp_core_destroy();
        Recorder::instance().reset();
    }

    Recorder &recorder() { return Recorder::instance(); }
};

// Polls pred until it holds or the usual wait has passed.
template <typename Pred>
bool wait_until(Pred &&pred, std::chrono::milliseconds timeout = kWait) {
    Clock::time_point end = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Waits until the calendar second changes, so that a flow-control window starts fresh.
inline void wait_next_second() {
    int64_t start = platform_get_utc_seconds();
    while (platform_get_utc_seconds() == start) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace core_test
