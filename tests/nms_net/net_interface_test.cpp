// Network interface layer against real UDP sockets on 127.0.0.1 (ports chosen by the system): the
// receive queue, the ETH receive thread, socket operations, the kind registry and the ES kind.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "nms/net_interface.h"
#include "net_interface_test_util.h"
#include "tests/support/test_os.h"

namespace {

using namespace net_test;

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
    platform_socket_t sock = bound_layer_socket(port);
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
    platform_socket_t sock = bound_layer_socket(port);
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
    platform_socket_t sock = bound_layer_socket(port);
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

// Datagrams in quick succession make the receive thread look for the next one without sleeping;
// once they stop it must go back to sleeping in its wait, not keep the processor busy.
TEST_F(NetInterfaceTest, ReceiveThreadSleepsAgainWhenDatagramsStop) {
    constexpr int kPingPongs = 2000;
    constexpr auto kSettle = std::chrono::milliseconds(250);
    constexpr auto kQuiet = std::chrono::milliseconds(500);
    constexpr double kMaxQuietShare = 0.2;  // a spinning thread would use a whole core
    uint16_t port = 0;
    platform_socket_t sock = bound_layer_socket(port);
    Peer peer;
    const std::array<uint8_t, 1> byte = {'p'};
    net_recv_packet out{};
    for (int i = 0; i < kPingPongs; ++i) {
        peer.send_to(port, byte.data(), byte.size());
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << i;
    }
    std::this_thread::sleep_for(kSettle);
    const double cpu_before = test_os::process_cpu_seconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kQuiet);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_LT((test_os::process_cpu_seconds() - cpu_before) / wall, kMaxQuietShare);

    peer.send_to(port, byte.data(), byte.size());
    EXPECT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << "a later datagram still arrives";
    net_interface_close(sock);
}

TEST_F(NetInterfaceTest, BindRefusesAPortInUseWithoutBinding) {
    Peer holder(INADDR_ANY);
    platform_socket_t sock = net_interface_create_udp_socket();
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
    platform_socket_t sock = bound_layer_socket(port);
    Peer peer;
    const std::array<uint8_t, 4> message = {'p', 'i', 'n', 'g'};
    peer.send_to(port, message.data(), message.size());
    ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK);
    EXPECT_EQ(out.port, peer.port());
    net_interface_close(sock);
    EXPECT_EQ(net_interface_set_current_type(NET_IF_ES), API_SNMP_OK) << "the ES kind is registered again";
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
    platform_socket_t sock = bound_layer_socket(port);
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
            platform_socket_t churn = net_interface_create_udp_socket();
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

// The receive thread watches every socket of the layer, however many there are (a Winsock select()
// set takes no more than 64): each of 100 sockets gets a datagram, and each datagram is queued.
TEST_F(NetInterfaceTest, EverySocketOfAHundredIsRead) {
    constexpr size_t kSockets = 100;
    std::vector<platform_socket_t> sockets;
    std::vector<uint16_t> ports;
    for (size_t i = 0; i < kSockets; ++i) {
        uint16_t port = 0;
        sockets.push_back(bound_layer_socket(port));
        ports.push_back(port);
    }
    Peer peer;
    for (size_t i = 0; i < kSockets; ++i) {
        const std::array<uint8_t, 2> message = {'n', static_cast<uint8_t>(i)};
        peer.send_to(ports[i], message.data(), message.size());
    }
    std::vector<bool> seen(kSockets, false);
    net_recv_packet out{};
    for (size_t i = 0; i < kSockets; ++i) {
        ASSERT_EQ(net_interface_dequeue(&out, kArrivalTimeoutMs), API_SNMP_OK) << "datagram " << i;
        ASSERT_EQ(out.len, 2u);
        seen[out.data[1]] = true;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), static_cast<long>(kSockets));
    for (platform_socket_t sock : sockets) {
        net_interface_close(sock);
    }
}

}  // namespace
