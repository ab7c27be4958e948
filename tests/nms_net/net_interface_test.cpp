// Network interface layer against real UDP sockets on 127.0.0.1 (ports chosen by the system): the
// receive queue, the ETH receive thread, socket operations, the kind registry and the ES kind.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "nms/net_interface.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kLoopback = "127.0.0.1";
constexpr uint32_t kArrivalTimeoutMs = 2000;
constexpr int kPeerReceiveTimeoutMs = 2000;

int64_t elapsed_ms(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

uint16_t local_port_of(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// A plain UDP socket bound to a system-chosen port; closed on scope exit.
class Peer {
   public:
    explicit Peer(uint32_t address = INADDR_LOOPBACK) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(address);
        bind(fd_, reinterpret_cast<const sockaddr *>(&local), sizeof(local));
    }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    ~Peer() { close(fd_); }

    uint16_t port() const { return local_port_of(fd_); }

    void send_to(uint16_t port, const void *data, size_t length) const {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        target.sin_port = htons(port);
        ASSERT_EQ(sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr *>(&target), sizeof(target)),
                  static_cast<ssize_t>(length));
    }

    // One datagram within the time-out; -1 when none came. Stores the sender's port.
    ssize_t receive(void *buf, size_t size, uint16_t &from_port) const {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, kPeerReceiveTimeoutMs) != 1) {
            return -1;
        }
        sockaddr_in from{};
        socklen_t length = sizeof(from);
        ssize_t received = recvfrom(fd_, buf, size, 0, reinterpret_cast<sockaddr *>(&from), &length);
        from_port = ntohs(from.sin_port);
        return received;
    }

   private:
    int fd_;
};

// A port that is free right now: the system picks it, the probe socket releases it.
uint16_t free_port() {
    Peer probe(INADDR_ANY);
    return probe.port();
}

std::string capture_stdout(const std::function<void()> &action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

net_recv_packet make_packet(uint32_t len, uint8_t seed, const char *ip = "10.1.2.3", uint16_t port = 1234) {
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

constexpr api_snmp_err kFakeSendResult = API_SNMP_ERR_LOCK;
constexpr uint32_t kFakeRecvLength = 5;
constexpr const char *kFakeRecvIp = "10.0.0.7";
constexpr uint16_t kFakeRecvPort = 4242;

std::atomic<int> g_fake_sends{0};
std::atomic<int> g_fake_destroys{0};
std::atomic<bool> g_fake_recv_saw_clear_sender{false};
std::atomic<api_snmp_err> g_fake_recv_result{API_SNMP_OK};

api_snmp_err fake_send(const char *, uint16_t, const uint8_t *, uint32_t) {
    ++g_fake_sends;
    return kFakeSendResult;
}

api_snmp_err fake_recv(uint8_t *, uint32_t, uint32_t *out_len, char *ip_out, uint16_t *port_out) {
    g_fake_recv_saw_clear_sender = ip_out[0] == '\0' && *port_out == 0;
    if (g_fake_recv_result != API_SNMP_OK) {
        return g_fake_recv_result;
    }
    *out_len = kFakeRecvLength;
    std::snprintf(ip_out, NET_IP_TEXT_SIZE, "%s", kFakeRecvIp);
    *port_out = kFakeRecvPort;
    return API_SNMP_OK;
}

void fake_destroy() {
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
    static int bound_layer_socket(uint16_t &port) {
        int sock = net_interface_create_udp_socket();
        EXPECT_NE(sock, NET_INVALID_SOCKET);
        port = free_port();
        EXPECT_EQ(net_interface_bind(sock, port), API_SNMP_OK);
        return sock;
    }
};

TEST_F(NetInterfaceTest, FullSizeDatagramIsQueuedWholeAndLargerOnesAreRefused) {
    net_recv_packet full = make_packet(NET_MAX_PACKET_SIZE, 7);
    ASSERT_EQ(net_interface_enqueue(&full), API_SNMP_OK);
    net_recv_packet out{};
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.len, NET_MAX_PACKET_SIZE);
    EXPECT_EQ(std::memcmp(out.data, full.data, NET_MAX_PACKET_SIZE), 0);
    EXPECT_STREQ(out.ip, "10.1.2.3");
    EXPECT_EQ(out.port, 1234);

    net_recv_packet oversize = full;
    oversize.len = NET_MAX_PACKET_SIZE + 1;
    EXPECT_EQ(net_interface_enqueue(&oversize), API_SNMP_ERR_INVALID_PARAM);
    net_recv_packet empty = make_packet(0, 0);
    EXPECT_EQ(net_interface_enqueue(&empty), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_enqueue(nullptr), API_SNMP_ERR_INVALID_PARAM);

    // The same limits on the socket path, both directions.
    uint16_t port = 0;
    int sock = bound_layer_socket(port);
    Peer peer;
    std::vector<uint8_t> payload(NET_MAX_PACKET_SIZE + 1);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 13);
    }
    EXPECT_EQ(net_interface_send_to(sock, kLoopback, peer.port(), payload.data(), NET_MAX_PACKET_SIZE + 1),
              API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_send_to(sock, kLoopback, peer.port(), payload.data(), 0),
              API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_send_to(sock, nullptr, peer.port(), payload.data(), 1),
              API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_send_to(sock, kLoopback, peer.port(), nullptr, 1), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_send_to(sock, "not-an-address", peer.port(), payload.data(), 1),
              API_SNMP_ERR_NETWORK);

    ASSERT_EQ(net_interface_send_to(sock, kLoopback, peer.port(), payload.data(), NET_MAX_PACKET_SIZE),
              API_SNMP_OK);
    std::vector<uint8_t> received(NET_MAX_PACKET_SIZE + 1);
    uint16_t from_port = 0;
    ASSERT_EQ(peer.receive(received.data(), received.size(), from_port),
              static_cast<ssize_t>(NET_MAX_PACKET_SIZE));
    EXPECT_EQ(std::memcmp(received.data(), payload.data(), NET_MAX_PACKET_SIZE), 0);
    EXPECT_EQ(from_port, port);

    peer.send_to(port, payload.data(), NET_MAX_PACKET_SIZE);
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.len, NET_MAX_PACKET_SIZE);
    EXPECT_EQ(std::memcmp(out.data, payload.data(), NET_MAX_PACKET_SIZE), 0);

    // A v1/v2c agent knows nothing of the manager's limits: its GET-BULK answer as long as an
    // Ethernet frame carries arrives whole (it used to be cut to 1024 bytes).
    constexpr uint32_t kFramePayload = 1472;
    peer.send_to(port, payload.data(), kFramePayload);
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.len, kFramePayload);
    EXPECT_EQ(std::memcmp(out.data, payload.data(), kFramePayload), 0);
    net_interface_close(sock);
}

TEST_F(NetInterfaceTest, FullQueueDropsTheNewPacketAndKeepsTheOlderOnes) {
    for (uint32_t i = 0; i < NET_RECV_QUEUE_CAPACITY; ++i) {
        net_recv_packet packet = make_packet(4, static_cast<uint8_t>(i));
        ASSERT_EQ(net_interface_enqueue(&packet), API_SNMP_OK) << i;
    }
    net_recv_packet dropped = make_packet(4, 200);
    std::string log =
        capture_stdout([&] { EXPECT_EQ(net_interface_enqueue(&dropped), API_SNMP_ERR_NO_RESOURCE); });
    EXPECT_NE(log.find("] [WARN] [net_queue_enqueue] 队列满，丢弃数据\n"), std::string::npos) << log;

    net_recv_packet out{};
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.data[0], 0);
    net_recv_packet late = make_packet(4, static_cast<uint8_t>(NET_RECV_QUEUE_CAPACITY));
    ASSERT_EQ(net_interface_enqueue(&late), API_SNMP_OK);

    for (uint32_t expected = 1; expected <= NET_RECV_QUEUE_CAPACITY; ++expected) {
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << expected;
        EXPECT_EQ(out.data[0], expected);
    }
    EXPECT_EQ(net_interface_dequeue(&out, 20), API_SNMP_ERR_TIMEOUT);
}

// While the queue is full the receive thread leaves datagrams in their socket's buffer instead of
// dropping them; they follow in order once there is room.
TEST_F(NetInterfaceTest, FullQueueLeavesDatagramsInTheirSocketUntilThereIsRoom) {
    constexpr uint8_t kWaiting = 3;
    constexpr uint8_t kMark = 0xD0;
    constexpr auto kHeldFor = std::chrono::milliseconds(200);
    uint16_t port = 0;
    int sock = bound_layer_socket(port);
    for (uint32_t i = 0; i < NET_RECV_QUEUE_CAPACITY; ++i) {
        net_recv_packet packet = make_packet(4, static_cast<uint8_t>(i));
        ASSERT_EQ(net_interface_enqueue(&packet), API_SNMP_OK) << i;
    }
    Peer peer;
    std::string log = capture_stdout([&] {
        for (uint8_t i = 0; i < kWaiting; ++i) {
            const std::array<uint8_t, 2> datagram = {kMark, i};
            peer.send_to(port, datagram.data(), datagram.size());
        }
        std::this_thread::sleep_for(kHeldFor);
    });
    EXPECT_EQ(log.find("队列满"), std::string::npos) << log;

    net_recv_packet out{};
    for (uint32_t i = 0; i < NET_RECV_QUEUE_CAPACITY; ++i) {
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << i;
        EXPECT_EQ(out.data[0], static_cast<uint8_t>(i));
    }
    for (uint8_t i = 0; i < kWaiting; ++i) {
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << static_cast<int>(i);
        EXPECT_EQ(out.data[0], kMark);
        EXPECT_EQ(out.data[1], i);
        EXPECT_EQ(out.port, peer.port());
    }
    net_interface_close(sock);
}

TEST_F(NetInterfaceTest, DequeueOnEmptyQueueTimesOutAfterTheGivenTime) {
    constexpr uint32_t kTimeoutMs = 300;
    net_recv_packet out{};
    Clock::time_point start = Clock::now();
    EXPECT_EQ(net_interface_dequeue(&out, kTimeoutMs), API_SNMP_ERR_TIMEOUT);
    int64_t waited = elapsed_ms(start);
    EXPECT_GE(waited, kTimeoutMs - 20);
    EXPECT_LT(waited, kTimeoutMs + 700);
    EXPECT_EQ(net_interface_dequeue(nullptr, 10), API_SNMP_ERR_INVALID_PARAM);
}

TEST_F(NetInterfaceTest, DatagramsComeOutInArrivalOrderWithTheirSenders) {
    constexpr uint8_t kDatagrams = 10;
    uint16_t port = 0;
    int sock = bound_layer_socket(port);
    Peer even;
    Peer odd;
    for (uint8_t i = 0; i < kDatagrams; ++i) {
        const std::array<uint8_t, 2> message = {'m', i};
        (i % 2 == 0 ? even : odd).send_to(port, message.data(), message.size());
    }
    for (uint8_t i = 0; i < kDatagrams; ++i) {
        net_recv_packet out{};
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << static_cast<int>(i);
        EXPECT_EQ(out.len, 2u);
        EXPECT_EQ(out.data[1], i);
        EXPECT_STREQ(out.ip, kLoopback);
        EXPECT_EQ(out.port, (i % 2 == 0 ? even : odd).port());
    }
    net_interface_close(sock);
}

// Processor time of the whole process, user and system, in seconds.
double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Datagrams in quick succession make the receive thread look for the next one without sleeping;
// once they stop it must go back to sleeping in its wait, not keep the processor busy.
TEST_F(NetInterfaceTest, ReceiveThreadSleepsAgainWhenDatagramsStop) {
    constexpr int kPingPongs = 2000;
    constexpr auto kSettle = std::chrono::milliseconds(250);
    constexpr auto kQuiet = std::chrono::milliseconds(500);
    constexpr double kMaxQuietShare = 0.2;  // a spinning thread would use a whole core
    uint16_t port = 0;
    int sock = bound_layer_socket(port);
    Peer peer;
    const std::array<uint8_t, 1> byte = {'p'};
    net_recv_packet out{};
    for (int i = 0; i < kPingPongs; ++i) {
        peer.send_to(port, byte.data(), byte.size());
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << i;
    }
    std::this_thread::sleep_for(kSettle);
    const double cpu_before = process_cpu_seconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kQuiet);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_LT((process_cpu_seconds() - cpu_before) / wall, kMaxQuietShare);

    peer.send_to(port, byte.data(), byte.size());
    EXPECT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << "a later datagram still arrives";
    net_interface_close(sock);
}

TEST_F(NetInterfaceTest, BindRefusesAPortInUseWithoutBinding) {
    Peer holder(INADDR_ANY);
    int sock = net_interface_create_udp_socket();
    ASSERT_NE(sock, NET_INVALID_SOCKET);
    std::string log =
        capture_stdout([&] { EXPECT_EQ(net_interface_bind(sock, holder.port()), API_SNMP_ERR_PORT_IN_USE); });
    std::string expected =
        "] [ERROR] [net_interface_bind] 端口" + std::to_string(holder.port()) + "已被占用\n";
    EXPECT_NE(log.find(expected), std::string::npos) << log;
    EXPECT_EQ(local_port_of(sock), 0) << "the socket must stay unbound";

    EXPECT_EQ(net_interface_bind(NET_INVALID_SOCKET, free_port()), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_bind(sock, 0), API_SNMP_ERR_INVALID_PARAM);
    net_interface_close(sock);
}

TEST_F(NetInterfaceTest, RegistryRefusesBadKindsAndASecondClaimOnAPort) {
    constexpr uint16_t kClaimedPort = 5999;
    const net_interface_ops claim = {NET_IF_ES, fake_send, fake_recv, fake_destroy, kClaimedPort};
    ASSERT_EQ(net_interface_register(&claim), API_SNMP_OK);
    const net_interface_ops rival = {NET_IF_ETH, fake_send, fake_recv, fake_destroy, kClaimedPort};
    EXPECT_EQ(net_interface_register(&rival), API_SNMP_ERR_PORT_IN_USE);
    EXPECT_EQ(net_interface_register(&claim), API_SNMP_OK) << "re-registering a kind replaces it";

    const net_interface_ops bad_type = {NET_IF_TYPE_COUNT, fake_send, fake_recv, nullptr, 0};
    EXPECT_EQ(net_interface_register(&bad_type), API_SNMP_ERR_INVALID_PARAM);
    const net_interface_ops no_send = {NET_IF_ES, nullptr, fake_recv, nullptr, 0};
    EXPECT_EQ(net_interface_register(&no_send), API_SNMP_ERR_NET_INTERFACE);
    const net_interface_ops no_recv = {NET_IF_ES, fake_send, nullptr, nullptr, 0};
    EXPECT_EQ(net_interface_register(&no_recv), API_SNMP_ERR_NET_INTERFACE);
    EXPECT_EQ(net_interface_register(nullptr), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_set_current_type(NET_IF_TYPE_COUNT), API_SNMP_ERR_INVALID_PARAM);

    // The refused rival did not take the ETH slot: leaving ETH still runs its own shutdown.
    ASSERT_NE(eth_dynamic_port(), 0);
    ASSERT_EQ(net_interface_set_current_type(NET_IF_ES), API_SNMP_OK);
    EXPECT_EQ(eth_dynamic_port(), 0);
    EXPECT_EQ(g_fake_destroys, 0);

    // Sends now go to the current kind, whatever the socket.
    const std::array<uint8_t, 3> data = {1, 2, 3};
    EXPECT_EQ(net_interface_send_to(NET_INVALID_SOCKET, kLoopback, 161, data.data(), data.size()),
              kFakeSendResult);
    EXPECT_EQ(g_fake_sends, 1);
}

TEST_F(NetInterfaceTest, AfterSwitchingToEsEverySendIsNotSupportedAndNoSocketIsMade) {
    ASSERT_EQ(net_interface_set_current_type(NET_IF_ES), API_SNMP_OK);
    EXPECT_EQ(eth_dynamic_port(), 0) << "ETH receive thread and dynamic socket are released";

    std::array<uint8_t, NET_MAX_PACKET_SIZE> data{};
    std::string log = capture_stdout([&] {
        EXPECT_EQ(net_interface_send_to(NET_INVALID_SOCKET, kLoopback, 9, data.data(), 10),
                  API_SNMP_ERR_NOT_SUPPORTED);
        EXPECT_EQ(net_interface_send_to(7, "10.0.0.1", 161, data.data(), NET_MAX_PACKET_SIZE),
                  API_SNMP_ERR_NOT_SUPPORTED);
        EXPECT_EQ(net_interface_on_interrupt(data.data(), 10), API_SNMP_ERR_NOT_SUPPORTED);
        EXPECT_EQ(es_send(kLoopback, 0, data.data(), 10), API_SNMP_ERR_INVALID_PARAM);
        EXPECT_EQ(es_send("1234567890.1234567890.1234567890", 161, data.data(), 10),
                  API_SNMP_ERR_INVALID_PARAM);
    });
    EXPECT_NE(log.find("] [WARN] ES发送接口未实现（预留）：10字节到127.0.0.1:9\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] [WARN] ES接收接口未实现（预留）\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] [ERROR] ES发送参数无效（ip：127.0.0.1，port：0，len：10）\n"), std::string::npos)
        << log;

    EXPECT_EQ(net_interface_create_udp_socket(), NET_INVALID_SOCKET);
    EXPECT_EQ(net_interface_bind(3, free_port()), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_set_current_type(NET_IF_ES), API_SNMP_OK);

    // Leaving ES releases it; its operations then report that it is not initialised.
    ASSERT_EQ(net_interface_set_current_type(NET_IF_ETH), API_SNMP_OK);
    log = capture_stdout([&] { EXPECT_EQ(es_send(kLoopback, 9, data.data(), 10), API_SNMP_ERR_NETWORK); });
    EXPECT_NE(log.find("] [ERROR] ES接口未初始化\n"), std::string::npos) << log;
}

TEST_F(NetInterfaceTest, InitTwiceCreatesNothingAndTheLayerRestartsAfterDeinit) {
    const uint16_t dynamic_port = eth_dynamic_port();
    ASSERT_NE(dynamic_port, 0);
    net_recv_packet kept = make_packet(3, 1);
    ASSERT_EQ(net_interface_enqueue(&kept), API_SNMP_OK);
    EXPECT_EQ(net_interface_init(), API_SNMP_OK);
    EXPECT_EQ(eth_dynamic_port(), dynamic_port);
    net_recv_packet out{};
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK)
        << "the queue survives a second init";

    net_recv_packet left_behind = make_packet(3, 2);
    ASSERT_EQ(net_interface_enqueue(&left_behind), API_SNMP_OK);
    net_interface_deinit();
    EXPECT_EQ(eth_dynamic_port(), 0);
    EXPECT_EQ(net_interface_create_udp_socket(), NET_INVALID_SOCKET);
    EXPECT_EQ(net_interface_enqueue(&kept), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_dequeue(&out, 10), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_set_current_type(NET_IF_ES), API_SNMP_ERR_INVALID_PARAM);
    net_interface_deinit();

    ASSERT_EQ(net_interface_init(), API_SNMP_OK);
    EXPECT_EQ(net_interface_dequeue(&out, 20), API_SNMP_ERR_TIMEOUT) << "packets of the old run are gone";
    uint16_t port = 0;
    int sock = bound_layer_socket(port);
    Peer peer;
    const std::array<uint8_t, 4> message = {'p', 'i', 'n', 'g'};
    peer.send_to(port, message.data(), message.size());
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.port, peer.port());
    net_interface_close(sock);
    EXPECT_EQ(net_interface_set_current_type(NET_IF_ES), API_SNMP_OK) << "the ES kind is registered again";
}

TEST_F(NetInterfaceTest, ReceiveThreadWatchesDescriptorsAboveTheSelectLimit) {
    constexpr int kHighDescriptor = 1500;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max <= static_cast<rlim_t>(kHighDescriptor)) {
        GTEST_SKIP() << "descriptor limit too low";
    }
    rlimit raised = saved;
    raised.rlim_cur = std::max<rlim_t>(saved.rlim_cur, kHighDescriptor + 1);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);

    uint16_t port = 0;
    int sock = bound_layer_socket(port);
    int high = fcntl(sock, F_DUPFD_CLOEXEC, kHighDescriptor);
    ASSERT_GE(high, kHighDescriptor);
    net_interface_close(sock);  // the socket lives on as `high`
    eth_socket_set_add(high);

    Peer peer;
    const std::array<uint8_t, 2> message = {'h', 'i'};
    peer.send_to(port, message.data(), message.size());
    net_recv_packet out{};
    EXPECT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.len, message.size());
    EXPECT_EQ(out.port, peer.port());

    eth_socket_set_remove(high);
    close(high);
    setrlimit(RLIMIT_NOFILE, &saved);
}

TEST_F(NetInterfaceTest, InterruptEntryQueuesWhatTheCurrentKindDelivers) {
    const net_interface_ops interrupt_kind = {NET_IF_ES, fake_send, fake_recv, fake_destroy, 0};
    ASSERT_EQ(net_interface_register(&interrupt_kind), API_SNMP_OK);
    ASSERT_EQ(net_interface_set_current_type(NET_IF_ES), API_SNMP_OK);

    std::array<uint8_t, 11> frame = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};
    ASSERT_EQ(net_interface_on_interrupt(frame.data(), frame.size()), API_SNMP_OK);
    EXPECT_TRUE(g_fake_recv_saw_clear_sender);
    net_recv_packet out{};
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.len, kFakeRecvLength);
    EXPECT_EQ(std::memcmp(out.data, "hello", kFakeRecvLength), 0);
    EXPECT_STREQ(out.ip, kFakeRecvIp);
    EXPECT_EQ(out.port, kFakeRecvPort);

    g_fake_recv_result = API_SNMP_ERR_TIMEOUT;
    EXPECT_EQ(net_interface_on_interrupt(frame.data(), frame.size()), API_SNMP_ERR_TIMEOUT);
    EXPECT_EQ(net_interface_dequeue(&out, 20), API_SNMP_ERR_TIMEOUT) << "a failed receive queues nothing";
    EXPECT_EQ(net_interface_on_interrupt(nullptr, 5), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_on_interrupt(frame.data(), 0), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(net_interface_on_interrupt(frame.data(), NET_MAX_PACKET_SIZE + 1), API_SNMP_ERR_INVALID_PARAM);

    net_interface_deinit();
    EXPECT_EQ(g_fake_destroys, 1) << "shutdown destroys the current kind";
}

TEST_F(NetInterfaceTest, ConcurrentProducersSocketsAndConsumerStayConsistent) {
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 100;
    constexpr int kRealDatagrams = 40;
    uint16_t port = 0;
    int sock = bound_layer_socket(port);
    Peer sender;
    Peer sink;
    std::atomic<bool> stop{false};

    testing::internal::CaptureStdout();  // a full queue logs a WARN line per drop
    std::vector<std::thread> threads;
    for (int producer = 0; producer < kProducers; ++producer) {
        threads.emplace_back([producer] {
            for (int i = 0; i < kPerProducer; ++i) {
                net_recv_packet packet = make_packet(3, 0);
                packet.data[0] = static_cast<uint8_t>(producer);
                packet.data[1] = static_cast<uint8_t>(i);
                api_snmp_err result;
                while ((result = net_interface_enqueue(&packet)) == API_SNMP_ERR_NO_RESOURCE) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                EXPECT_EQ(result, API_SNMP_OK);
            }
        });
    }
    threads.emplace_back([&] {  // sockets come and go while the receive thread copies the set
        const std::array<uint8_t, 1> byte = {'x'};
        while (!stop) {
            int churn = net_interface_create_udp_socket();
            EXPECT_EQ(net_interface_send_to(churn, kLoopback, sink.port(), byte.data(), byte.size()),
                      API_SNMP_OK);
            EXPECT_EQ(eth_send(kLoopback, sink.port(), byte.data(), byte.size()), API_SNMP_OK);
            net_interface_close(churn);
        }
    });
    threads.emplace_back([&] {
        const std::array<uint8_t, 3> real = {0xEE, 0, 0};
        for (int i = 0; i < kRealDatagrams; ++i) {
            sender.send_to(port, real.data(), real.size());
        }
    });

    std::array<int, kProducers> next_index{};
    int produced = 0;
    int real_seen = 0;
    net_recv_packet out{};
    while (produced < kProducers * kPerProducer) {
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
        if (out.data[0] == 0xEE) {
            EXPECT_EQ(out.port, sender.port());
            ++real_seen;
            continue;
        }
        ASSERT_LT(out.data[0], kProducers);
        EXPECT_EQ(out.data[1], next_index[out.data[0]]) << "each producer's packets stay in order";
        ++next_index[out.data[0]];
        ++produced;
    }
    stop = true;
    for (std::thread &thread : threads) {
        thread.join();
    }
    while (net_interface_dequeue(&out, 50) == API_SNMP_OK) {
        real_seen += out.data[0] == 0xEE ? 1 : 0;
    }
    testing::internal::GetCapturedStdout();
    EXPECT_LE(real_seen, kRealDatagrams);
    net_interface_close(sock);
}

}  // namespace
