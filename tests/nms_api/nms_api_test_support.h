// Shared pieces of the public-API tests: a loopback UDP peer, a responder that answers every request
// it receives, a collector for response and trap callbacks, and log capture.
#ifndef VEK_TESTS_NMS_API_TEST_SUPPORT_H
#define VEK_TESTS_NMS_API_TEST_SUPPORT_H


#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "apps/app_os/app_os.h"
#include "nms/vek_nms_sdk.h"

namespace vek::test {

inline constexpr const char *kLoopback = "127.0.0.1";
inline constexpr uint32_t kRequestTimeoutMs = 3000;
inline constexpr auto kCallbackWait = std::chrono::seconds(3);

using Bytes = std::vector<uint8_t>;

// A UDP socket bound to 127.0.0.1 on a port chosen by the system (or the given one); closed on exit.
class UdpPeer {
   public:
    explicit UdpPeer(uint16_t port = 0) : fd_(app_os::udp_socket()) {
        bound_ = app_os::bind_ipv4(fd_, app_os::ipv4_address(INADDR_LOOPBACK, port));
    }
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;
    ~UdpPeer() { app_os::close_socket(fd_); }

    bool bound() const { return bound_; }
    app_os::socket_t fd() const { return fd_; }
    uint16_t port() const { return app_os::local_port(fd_); }

    void send_to(uint16_t port, const Bytes &data) const {
        app_os::send_datagram(fd_, data.data(), data.size(), app_os::ipv4_address(INADDR_LOOPBACK, port));
    }

    // One datagram within timeout_ms, with its sender's port; nothing when none came.
    std::optional<Bytes> receive(int timeout_ms, uint16_t *from_port = nullptr) const {
        app_os::poll_entry entry{fd_, POLLIN, 0};
        if (app_os::poll(&entry, 1, timeout_ms) != 1) {
            return std::nullopt;
        }
        Bytes data(2048);
        sockaddr_in from{};
        const app_os::io_result received = app_os::receive_datagram(fd_, data.data(), data.size(), from);
        if (received < 0) {
            return std::nullopt;
        }
        data.resize(static_cast<size_t>(received));
        if (from_port != nullptr) {
            *from_port = ntohs(from.sin_port);
        }
        return data;
    }

   private:
    app_os::socket_t fd_;
    bool bound_ = false;
};

// A UDP port on 127.0.0.1 that was free a moment ago.
inline uint16_t free_udp_port() {
    const UdpPeer probe;
    return probe.port();
}

// Turns an SNMPv1/v2c request into the matching GetResponse: same version, community, request-id
// and varbinds, only the PDU tag changes. Nothing when the datagram is not such a request.
inline std::optional<Bytes> as_response(Bytes message) {
    constexpr uint8_t kSequence = 0x30;
    constexpr uint8_t kResponseTag = 0xA2;
    constexpr uint8_t kLongLengthFlag = 0x80;
    size_t at = 0;
    // Skips the tag and length of the element at `at`; the header of a constructed element only.
    const auto skip_header = [&message, &at]() -> bool {
        if (at + 2 > message.size()) {
            return false;
        }
        const uint8_t first = message[at + 1];
        at += 2 + ((first & kLongLengthFlag) != 0 ? (first & ~kLongLengthFlag) : 0);
        return at <= message.size();
    };
    const auto skip_element = [&message, &at]() -> bool {
        if (at + 2 > message.size() || (message[at + 1] & kLongLengthFlag) != 0) {
            return false;
        }
        at += 2 + message[at + 1];
        return at <= message.size();
    };
    if (message.empty() || message[0] != kSequence || !skip_header() || !skip_element() || !skip_element() ||
        at >= message.size()) {
        return std::nullopt;
    }
    message[at] = kResponseTag;
    return message;
}

// A thread that answers every request arriving on its sockets with as_response, until destroyed.
class Responder {
   public:
    explicit Responder(size_t sockets = 1) {
        for (size_t i = 0; i < sockets; ++i) {
            peers_.push_back(std::make_unique<UdpPeer>());
        }
        thread_ = std::thread([this] { run(); });
    }
    Responder(const Responder &) = delete;
    Responder &operator=(const Responder &) = delete;
    ~Responder() {
        stop_ = true;
        thread_.join();
    }

    uint16_t port(size_t index = 0) const { return peers_[index]->port(); }
    uint32_t answered() const { return answered_.load(); }

   private:
    static constexpr int kPollMs = 20;

    void run() {
        std::vector<app_os::poll_entry> entries;
        for (const auto &peer : peers_) {
            entries.push_back({peer->fd(), POLLIN, 0});
        }
        while (!stop_) {
            if (app_os::poll(entries.data(), entries.size(), kPollMs) <= 0) {
                continue;
            }
            for (size_t i = 0; i < entries.size(); ++i) {
                if ((entries[i].revents & POLLIN) != 0) {
                    answer(*peers_[i]);
                }
            }
        }
    }

    void answer(const UdpPeer &peer) {
        uint16_t from = 0;
        const std::optional<Bytes> request = peer.receive(0, &from);
        if (!request) {
            return;
        }
        if (const std::optional<Bytes> response = as_response(*request)) {
            ++answered_; // counted first: whoever reads the answer also sees it counted
            peer.send_to(from, *response);
        }
    }

    std::vector<std::unique_ptr<UdpPeer>> peers_;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> answered_{0};
    std::thread thread_;
};

// One delivered response callback, copied out of the SDK-owned record.
struct ResponseEvent {
    std::string ip;
    uint16_t port = 0;
    std::string user_name;
    api_snmp_cmd_type cmd_type{};
    api_snmp_response response{};
};

// One delivered trap callback.
struct TrapEvent {
    std::string ip;
    uint16_t port = 0;
    api_snmp_trap trap{};
    api_snmp_err error{};
};

// Collects callbacks; pass a collector as a request's (or the trap registration's) user data.
class Collector {
   public:
    static void on_response(const char *ip, uint16_t port, const char *user_name, api_snmp_cmd_type cmd_type,
                            const api_snmp_response *response, void *user_data) {
        if (user_data == nullptr) {
            return;
        }
        auto &self = *static_cast<Collector *>(user_data);
        ResponseEvent event{ip, port, user_name, cmd_type, *response};
        const std::lock_guard<std::mutex> lock(self.mutex_);
        self.responses_.push_back(event);
        self.changed_.notify_all();
    }

    static void on_trap(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                        void *user_data) {
        if (user_data == nullptr) {
            return;
        }
        auto &self = *static_cast<Collector *>(user_data);
        TrapEvent event{ip, port, *trap, error};
        const std::lock_guard<std::mutex> lock(self.mutex_);
        self.traps_.push_back(event);
        self.changed_.notify_all();
    }

    std::optional<ResponseEvent> next_response(std::chrono::milliseconds wait = kCallbackWait) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, wait, [this] { return !responses_.empty(); })) {
            return std::nullopt;
        }
        ResponseEvent event = responses_.front();
        responses_.pop_front();
        return event;
    }

    std::optional<TrapEvent> next_trap(std::chrono::milliseconds wait = kCallbackWait) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, wait, [this] { return !traps_.empty(); })) {
            return std::nullopt;
        }
        TrapEvent event = traps_.front();
        traps_.pop_front();
        return event;
    }

    size_t pending_responses() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return responses_.size();
    }

   private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ResponseEvent> responses_;
    std::deque<TrapEvent> traps_;
};

// Captures standard output (where the SDK's log lines go) for the lifetime of the object.
class LogCapture {
   public:
    LogCapture() { testing::internal::CaptureStdout(); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    ~LogCapture() {
        if (!taken_) {
            testing::internal::GetCapturedStdout();
        }
    }
    // The text captured so far; ends the capture.
    std::string text() {
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }

   private:
    bool taken_ = false;
};

inline api_snmp_varbind get_varbind(const char *oid) {
    api_snmp_varbind vb{};
    EXPECT_EQ(api_snmp_create_get_varbind(oid, &vb), API_SNMP_OK) << oid;
    return vb;
}

inline api_snmp_agent_config agent_config(uint32_t version, const char *community) {
    api_snmp_agent_config config{};
    config.version = version;
    snprintf(config.community, sizeof(config.community), "%s", community);
    return config;
}

inline std::string value_text(const api_snmp_varbind &vb) {
    return std::string(vb.value.str, vb.value_len);
}

}  // namespace vek::test

#endif
