// The network interface layer on Linux: the receive thread watches descriptors numbered beyond
// select()'s limit.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include <gtest/gtest.h>

#include "nms/net_interface.h"
#include "net_interface_test_util.h"

namespace {

using namespace net_test;

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

}  // namespace
