// Interoperability of the v1/v2c codec with the standard SNMP tools over UDP on 127.0.0.1:
// our requests are answered by a throw-away snmpd and its answers decode; snmpget's requests decode and
// it reads the answers we encode. Skipped when the tools are not installed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "codec/snmp_ber.h"
#include "tests/codec/ber_test_util.h"

using namespace ber_test;

namespace {

constexpr int kReplyWaitMs = 500;
constexpr int kStartAttempts = 40;

std::string find_tool(const std::string &name) {
    for (const char *dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
        std::string path = std::string(dir) + name;
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

// A UDP socket bound to an ephemeral port on 127.0.0.1.
class UdpSocket {
   public:
    UdpSocket() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in addr = loopback(0);
        bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }
    ~UdpSocket() { close(fd_); }
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    static sockaddr_in loopback(uint16_t port) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return addr;
    }
    uint16_t port() const {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
        return ntohs(addr.sin_port);
    }
    void send_to(const Bytes &data, const sockaddr_in &to) const {
        sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    // One datagram, or empty after the wait.
    Bytes receive(int wait_ms, sockaddr_in *from = nullptr) const {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, wait_ms) <= 0) {
            return {};
        }
        Bytes data(65535);
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        ssize_t n = recvfrom(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&peer), &len);
        data.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (from != nullptr) {
            *from = peer;
        }
        return data;
    }

   private:
    int fd_;
};

uint16_t free_udp_port() {
    return UdpSocket().port();
}

class SnmpdInterop : public testing::Test {
   protected:
    void SetUp() override {
        std::string snmpd = find_tool("snmpd");
        if (snmpd.empty()) {
            GTEST_SKIP() << "snmpd is not installed";
        }
        char tmpl[] = "/tmp/ber_interop_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::ofstream(dir_ / "snmpd.conf") << "rocommunity public 127.0.0.1\nsysDescr Test agent\n";
        port_ = free_udp_port();
        std::string endpoint = "udp:127.0.0.1:" + std::to_string(port_);
        std::string log = (dir_ / "snmpd.log").string();
        std::string conf = (dir_ / "snmpd.conf").string();
        std::string pid = (dir_ / "pid").string();
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            setenv("MIBS", "", 1);
            execl(snmpd.c_str(), "snmpd", "-f", "-Lf", log.c_str(), "-C", "-c", conf.c_str(), "-p",
                  pid.c_str(), endpoint.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < kStartAttempts && reply_.empty(); ++i) {
            reply_ = exchange(SNMP_VERSION_2C, SNMP_OP_GET, {null_binding(kSysDescr0)});
        }
        ASSERT_FALSE(reply_.empty()) << "snmpd did not answer";
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_);
        }
    }

    // Encodes a request with our codec, sends it and returns snmpd's raw answer.
    Bytes exchange(uint32_t version, uint32_t op, std::initializer_list<snmp_varbind> bindings,
                   uint32_t max_repetitions = 0) {
        auto msg = std::make_unique<snmp_message>();
        init_message(*msg, version, "public", op);
        msg->pdu.request_id = ++request_id_;
        msg->pdu.max_repetitions = max_repetitions;
        for (const snmp_varbind &vb : bindings) {
            msg->pdu.varbinds[msg->pdu.varbind_count++] = vb;
        }
        Bytes wire = encode_message(*msg);
        EXPECT_FALSE(wire.empty());
        socket_.send_to(wire, UdpSocket::loopback(port_));
        return socket_.receive(kReplyWaitMs);
    }

    std::unique_ptr<snmp_message> decode(const Bytes &wire) {
        auto msg = std::make_unique<snmp_message>();
        uint16_t used = 0;
        EXPECT_EQ(
            snmp_ber_decode_snmp_message(wire.data(), static_cast<uint16_t>(wire.size()), msg.get(), &used),
            SNMP_OK);
        EXPECT_EQ(used, wire.size());
        return msg;
    }

    std::filesystem::path dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
    int32_t request_id_ = 1000;
    UdpSocket socket_;
    Bytes reply_;
};

std::string octets_text(const snmp_varbind &vb) {
    return std::string(reinterpret_cast<const char *>(vb.value.octets), vb.value_len);
}

}  // namespace

TEST_F(SnmpdInterop, V2cGetIsAnswered) {
    auto msg = decode(reply_);
    EXPECT_EQ(msg->version, SNMP_VERSION_2C);
    EXPECT_EQ(msg->pdu.op, static_cast<uint32_t>(SNMP_OP_GET_RESPONSE));
    EXPECT_EQ(msg->pdu.request_id, request_id_);
    EXPECT_EQ(msg->pdu.error_status, 0u);
    ASSERT_EQ(msg->pdu.varbind_count, 1);
    EXPECT_TRUE(same_oid(msg->pdu.varbinds[0].oid, kSysDescr0));
    ASSERT_EQ(msg->pdu.varbinds[0].type, SNMP_TAG_OCTET_STRING);
    EXPECT_EQ(octets_text(msg->pdu.varbinds[0]), "Test agent");
    // The answer re-encodes to the same bytes.
    EXPECT_EQ(encode_message(*msg), reply_);
}

TEST_F(SnmpdInterop, V1GetAndMissingObjects) {
    Bytes wire = exchange(SNMP_VERSION_1, SNMP_OP_GET, {null_binding(kSysUpTime0)});
    ASSERT_FALSE(wire.empty());
    auto msg = decode(wire);
    EXPECT_EQ(msg->version, SNMP_VERSION_1);
    ASSERT_EQ(msg->pdu.varbind_count, 1);
    EXPECT_EQ(msg->pdu.varbinds[0].type, SNMP_TAG_TIMETICKS);

    wire = exchange(SNMP_VERSION_2C, SNMP_OP_GET, {null_binding(oid({1, 3, 6, 1, 2, 1, 1, 1, 99}))});
    ASSERT_FALSE(wire.empty());
    msg = decode(wire);
    ASSERT_EQ(msg->pdu.varbind_count, 1);
    EXPECT_EQ(msg->pdu.varbinds[0].type, SNMP_TAG_NO_SUCH_INSTANCE);
}

TEST_F(SnmpdInterop, GetBulkWalksInOrder) {
    Bytes wire = exchange(SNMP_VERSION_2C, SNMP_OP_GETBULK, {null_binding(oid({1, 3, 6, 1, 2, 1, 1}))}, 5);
    ASSERT_FALSE(wire.empty());
    auto msg = decode(wire);
    ASSERT_EQ(msg->pdu.varbind_count, 5);
    EXPECT_TRUE(same_oid(msg->pdu.varbinds[0].oid, kSysDescr0));
    EXPECT_EQ(msg->pdu.varbinds[1].type, SNMP_TAG_OID);  // sysObjectID.0
    EXPECT_EQ(msg->pdu.varbinds[2].type, SNMP_TAG_TIMETICKS);
}

// snmpget as the manager: its request decodes, and it reads the answer we encode.
TEST(SnmpgetInterop, ReadsOurAnswers) {
    std::string snmpget = find_tool("snmpget");
    if (snmpget.empty()) {
        GTEST_SKIP() << "snmpget is not installed";
    }
    UdpSocket agent;
    std::string command =
        "MIBS= " + snmpget + " -v2c -c public -t 2 -r 0 -Oqv 127.0.0.1:" + std::to_string(agent.port()) +
        " 1.3.6.1.2.1.1.1.0 1.3.6.1.2.1.2.2.1.10.1 1.3.6.1.2.1.1.3.0 1.3.6.1.2.1.31.1.1.1.6.1 2>&1";
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);

    sockaddr_in manager{};
    Bytes request = agent.receive(5000, &manager);
    ASSERT_FALSE(request.empty());
    auto msg = std::make_unique<snmp_message>();
    uint16_t used = 0;
    ASSERT_EQ(
        snmp_ber_decode_snmp_message(request.data(), static_cast<uint16_t>(request.size()), msg.get(), &used),
        SNMP_OK);
    EXPECT_EQ(msg->version, SNMP_VERSION_2C);
    EXPECT_EQ(msg->pdu.op, static_cast<uint32_t>(SNMP_OP_GET));
    ASSERT_EQ(msg->pdu.varbind_count, 4);
    EXPECT_TRUE(same_oid(msg->pdu.varbinds[0].oid, kSysDescr0));

    snmp_pdu &pdu = msg->pdu;
    pdu.op = SNMP_OP_GET_RESPONSE;
    snmp_varbind &descr = pdu.varbinds[0];
    descr.type = SNMP_TAG_OCTET_STRING;
    std::memcpy(descr.value.octets, "interop", 7);
    descr.value_len = 7;
    pdu.varbinds[1].type = SNMP_TAG_COUNTER32;
    pdu.varbinds[1].value.integer = static_cast<int32_t>(0xFFFFFFF0u);
    pdu.varbinds[2].type = SNMP_TAG_TIMETICKS;
    pdu.varbinds[2].value.integer = 12345;
    pdu.varbinds[3].type = SNMP_TAG_COUNTER64;
    pdu.varbinds[3].value.counter64 = 0x123456789ABCDEFull;
    Bytes answer = encode_message(*msg);
    ASSERT_FALSE(answer.empty());
    agent.send_to(answer, manager);

    std::string output;
    std::array<char, 256> line{};
    while (fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr) {
        output += line.data();
    }
    EXPECT_NE(output.find("interop"), std::string::npos) << output;
    EXPECT_NE(output.find("4294967280"), std::string::npos) << output;
    EXPECT_NE(output.find("0:0:02:03.45"), std::string::npos) << output;
    EXPECT_NE(output.find("81985529216486895"), std::string::npos) << output;
}
