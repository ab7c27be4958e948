// Helpers of the network interface tests: loopback peers, free ports, packets, a stand-in interface
// kind that records its calls, and the fixture that starts and stops the layer.
#ifndef VEK_TESTS_NMS_NET_NET_INTERFACE_TEST_UTIL_H
#define VEK_TESTS_NMS_NET_NET_INTERFACE_TEST_UTIL_H

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "apps/app_os/app_os.h"
#include "base/platform.h"
#include "nms/net_interface.h"

namespace net_test {

using Clock = std::chrono::steady_clock;

inline constexpr const char *kLoopback = "127.0.0.1";
inline constexpr uint32_t kArrivalTimeoutMs = 2000;
inline constexpr int kPeerReceiveTimeoutMs = 2000;

inline int64_t elapsed_ms(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

inline uint16_t local_port_of(app_os::socket_t fd) { return app_os::local_port(fd); }

// A plain UDP socket bound to a system-chosen port; closed on scope exit.
class Peer {
   public:
    explicit Peer(uint32_t address = INADDR_LOOPBACK) : fd_(app_os::udp_socket()) {
        app_os::bind_ipv4(fd_, app_os::ipv4_address(address, 0));
    }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    ~Peer() { app_os::close_socket(fd_); }

    uint16_t port() const { return local_port_of(fd_); }

    void send_to(uint16_t port, const void *data, size_t length) const {
        ASSERT_EQ(app_os::send_datagram(fd_, data, length, app_os::ipv4_address(INADDR_LOOPBACK, port)),
                  static_cast<app_os::io_result>(length));
    }

    // One datagram within the time-out; -1 when none came. Stores the sender's port.
    app_os::io_result receive(void *buf, size_t size, uint16_t &from_port) const {
        app_os::poll_entry entry{fd_, POLLIN, 0};
        if (app_os::poll(&entry, 1, kPeerReceiveTimeoutMs) != 1) {
            return -1;
        }
        sockaddr_in from{};
        const app_os::io_result received = app_os::receive_datagram(fd_, buf, size, from);
        from_port = ntohs(from.sin_port);
        return received;
    }

   private:
    app_os::socket_t fd_;
};

// A port that is free right now: the system picks it, the probe socket releases it.
inline uint16_t free_port() {
    Peer probe(INADDR_ANY);
    return probe.port();
}

inline std::string capture_stdout(const std::function<void()> &action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline net_recv_packet make_packet(uint32_t len, uint8_t seed, const char *ip = "10.1.2.3", uint16_t port = 1234) {
    net_recv_packet packet{};
    for (uint32_t i = 0; i < len && i < NET_MAX_PACKET_SIZE; ++i) {
        packet.data[i] = static_cast<uint8_t>(seed + i);
    }
    packet.len = len;
    std::snprintf(packet.ip, sizeof(packet.ip), "%s", ip);
    packet.port = port;
    return packet;
}

// ---- A stand-in interface kind whose operations record their calls ----

inline constexpr api_snmp_err kFakeSendResult = API_SNMP_ERR_LOCK;
inline constexpr uint32_t kFakeRecvLength = 5;
inline constexpr const char *kFakeRecvIp = "10.0.0.7";
inline constexpr uint16_t kFakeRecvPort = 4242;

inline std::atomic<int> g_fake_sends{0};
inline std::atomic<int> g_fake_destroys{0};
inline std::atomic<bool> g_fake_recv_saw_clear_sender{false};
inline std::atomic<api_snmp_err> g_fake_recv_result{API_SNMP_OK};

inline api_snmp_err fake_send(const char *, uint16_t, const uint8_t *, uint32_t) {
    ++g_fake_sends;
    return kFakeSendResult;
}

inline api_snmp_err fake_recv(uint8_t *, uint32_t, uint32_t *out_len, char *ip_out, uint16_t *port_out) {
    g_fake_recv_saw_clear_sender = ip_out[0] == '\0' && *port_out == 0;
    if (g_fake_recv_result != API_SNMP_OK) {
        return g_fake_recv_result;
    }
    *out_len = kFakeRecvLength;
    std::snprintf(ip_out, NET_IP_TEXT_SIZE, "%s", kFakeRecvIp);
    *port_out = kFakeRecvPort;
    return API_SNMP_OK;
}

inline void fake_destroy() {
    ++g_fake_destroys;
}

class NetInterfaceTest : public ::testing::Test {
   protected:
    void SetUp() override {
        g_fake_sends = 0;
        g_fake_destroys = 0;
        g_fake_recv_result = API_SNMP_OK;
        ASSERT_EQ(net_interface_init(), API_SNMP_OK);
    }
    void TearDown() override { net_interface_deinit(); }

    // A layer socket bound to a free port; the port is stored in `port`.
    static platform_socket_t bound_layer_socket(uint16_t &port) {
        platform_socket_t sock = net_interface_create_udp_socket();
        EXPECT_NE(sock, NET_INVALID_SOCKET);
        port = free_port();
        EXPECT_EQ(net_interface_bind(sock, port), API_SNMP_OK);
        return sock;
    }
};

}  // namespace net_test

#endif
