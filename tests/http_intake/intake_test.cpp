/* The HTTP programs' front door on its own: the header checks, and the intake on a real listening
 * socket with small limits, driven by clients on several loopback addresses. */
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "apps/http_intake/http_head.h"
#include "apps/http_intake/http_intake.h"
#include "tests/http_intake/loopback_clients.h"

namespace {

using namespace std::chrono_literals;
using namespace intake_test;

std::string head_with(std::string_view headers) {
    return "GET /snmp_set?oid=1.3 HTTP/1.1\r\nHost: 10.1.1.1:8098\r\n" + std::string(headers) + "\r\n";
}

TEST(HttpHead, RequestsFromOtherSitesAreRecognised) {
    struct {
        const char *headers;
        bool other;
    } const cases[] = {
        {"", false},                                            /* curl, the bridge's forwarding */
        {"Origin: http://10.1.1.1:8098\r\n", false},            /* the page itself */
        {"origin:  HTTP://10.1.1.1:8098 \r\n", false},          /* names and schemes in any case */
        {"Origin: http://10.1.1.1:8099\r\n", true},             /* another port is another origin */
        {"Origin: http://evil.example\r\n", true},
        {"Origin: null\r\n", true},                             /* sandboxed or local pages */
        {"Referer: http://evil.example/page\r\n", true},
        {"Referer: http://10.1.1.1:8098/\r\n", false},
        {"Sec-Fetch-Site: same-origin\r\n", false},
        {"Sec-Fetch-Site: none\r\n", false},                    /* typed into the address bar */
        {"Sec-Fetch-Site: cross-site\r\n", true},
        {"Sec-Fetch-Site: same-site\r\n", true},                /* another port on this host */
        {"Origin: http://10.1.1.1:8098\r\nSec-Fetch-Site: cross-site\r\n", true},
        {"X-Origin: http://evil.example\r\n", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(http_intake::from_other_site(head_with(c.headers)), c.other) << c.headers;
    }
    /* A default port is left out of an Origin. */
    EXPECT_FALSE(http_intake::from_other_site("GET / HTTP/1.1\r\nHost: nms:80\r\nOrigin: http://nms\r\n\r\n"));
    /* Header lines end at the head; the body and the request line are no headers. */
    EXPECT_FALSE(http_intake::from_other_site("GET /Origin:x HTTP/1.1\r\n\r\nOrigin: http://evil\r\n"));
}

TEST(HttpHead, HostMustBeAnAddressOrLocalhost) {
    struct {
        const char *head;
        bool accepted;
    } const cases[] = {
        {"GET / HTTP/1.0\r\n\r\n", true},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8099\r\n\r\n", true},
        {"GET / HTTP/1.1\r\nHost: LOCALHOST\r\n\r\n", true},
        {"GET / HTTP/1.1\r\nHost: rebound.example:8099\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1.example\r\n\r\n", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(http_intake::host_is_address(c.head), c.accepted) << c.head;
    }
}

class Intake : public testing::Test {
protected:
    static constexpr http_intake::limits kLimits{64, 300ms, 2, 8, 3};

    void SetUp() override {
        in_addr any{};
        any.s_addr = htonl(INADDR_LOOPBACK);
        listener_ = http_intake::open_listener(any, 0, SOMAXCONN);
        ASSERT_TRUE(listener_.valid());
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        loop_ = std::thread([this] { intake_.run(listener_.get(), running_); });
    }
    void TearDown() override {
        running_.store(false);
        loop_.join();
    }

    std::atomic<int> full_{0};
    http_intake::intake intake_{kLimits, [this](int) { ++full_; }};
    http_intake::unique_fd listener_;
    uint16_t port_ = 0;
    std::atomic<bool> running_{true};
    std::thread loop_;
};

TEST_F(Intake, CompleteHeadsReachTheWorkersOthersAreRefused) {
    const std::string head = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n";
    const int fd = connect_from(port_, loopback(2));
    ASSERT_GE(fd, 0);
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    auto request = intake_.pop(2s);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->head, head);
    EXPECT_EQ(ntohl(request->peer.s_addr), 0x7F000002u);
    request.reset();
    ::close(fd);

    struct {
        const char *what;
        std::string sent;
        int status; /* 0: closed without an answer */
    } const cases[] = {
        {"idle until the deadline", "", 0},
        {"head unfinished at the deadline", "GET /a HTTP/1.1\r\nHost:", 408},
    };
    for (const auto &c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const std::string reply = exchange_from(port_, loopback(3), c.sent);
        EXPECT_EQ(status_of(reply), c.status) << c.what << ": " << reply;
        EXPECT_GE(std::chrono::steady_clock::now() - started, kLimits.head_limit) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - started, kLimits.head_limit + 1s) << c.what;
    }
}

TEST_F(Intake, LimitsPerAddressAndOnTheQueue) {
    /* Two connections of 127.0.0.4 are held open; its third is refused at once, others are not. */
    const int first = connect_from(port_, loopback(4));
    const int second = connect_from(port_, loopback(4));
    EXPECT_EQ(status_of(exchange_from(port_, loopback(4), "", 1s)), 429);
    ::close(first);
    ::close(second);
    std::this_thread::sleep_for(50ms);
    const std::string head = "GET /b HTTP/1.1\r\n\r\n";
    /* Nobody takes requests: two wait in the queue, the third is answered 503 at once. */
    std::vector<int> waiting;
    for (unsigned i = 0; i < kLimits.queue_slots - 1; ++i) {
        waiting.push_back(connect_from(port_, loopback(4)));
        ::send(waiting.back(), head.data(), head.size(), MSG_NOSIGNAL);
    }
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(status_of(exchange_from(port_, loopback(5), head)), 503);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 200ms);
    EXPECT_EQ(full_.load(), 1);
    EXPECT_EQ(intake_.queued(), kLimits.queue_slots - 1);
    for (const int fd : waiting) {
        ::close(fd);
    }
}

} // namespace
