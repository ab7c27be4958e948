// Interoperability of libvek_nms_sdk.so with the standard net-snmp tools on 127.0.0.1: requests to a
// throw-away snmpd, and notifications sent by snmptrap/snmpinform to the SDK's trap listener.
// Skipped when the tools are not installed. Every port is picked free at run time.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "nms/vek_nms_sdk.h"
#include "tests/nms_api/nms_api_test_support.h"

extern char **environ;

namespace {

using vek::test::agent_config;
using vek::test::Bytes;
using vek::test::Collector;
using vek::test::free_udp_port;
using vek::test::get_varbind;
using vek::test::kLoopback;
using vek::test::kRequestTimeoutMs;
using vek::test::ResponseEvent;
using vek::test::UdpPeer;
using vek::test::value_text;

namespace fs = std::filesystem;

constexpr const char *kSysDescrOid = "1.3.6.1.2.1.1.1.0";
constexpr const char *kSysObjectIdOid = "1.3.6.1.2.1.1.2.0";
constexpr const char *kSysUpTimeOid = "1.3.6.1.2.1.1.3.0";
constexpr const char *kSysNameOid = "1.3.6.1.2.1.1.5.0";
constexpr const char *kSnmpTrapOid = "1.3.6.1.6.3.1.1.4.1.0";
constexpr uint32_t kNotWritable = 17;
constexpr uint32_t kNoSuchName = 2;
constexpr int kStartAttempts = 3;
constexpr int kReadyProbes = 50;
constexpr int kReadyProbeMs = 100;

// A v2c GetRequest for sysDescr.0 with community "public": enough to see whether snmpd answers.
const Bytes kReadyProbe = {0x30, 0x26, 0x02, 0x01, 0x01, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c', 0xA0,
                           0x19, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C,
                           0x06, 0x08, 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00};

std::optional<std::string> find_tool(const char *name) {
    for (const char *dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        const std::string path = std::string(dir) + name;
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return std::nullopt;
}

// A scratch directory, removed with everything in it.
class ScratchDir {
   public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "vek_snmpd_XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path &path() const { return path_; }

   private:
    fs::path path_;
};

// The environment of the net-snmp tools: no MIB files, persistent state in the scratch directory.
std::vector<std::string> tool_environment(const fs::path &state_dir) {
    std::vector<std::string> variables = {"MIBS=", "SNMP_PERSISTENT_DIR=" + state_dir.string(),
                                          "SNMPCONFPATH=" + state_dir.string()};
    for (char **variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        if (entry.rfind("MIBS=", 0) != 0 && entry.rfind("SNMP", 0) != 0) {
            variables.push_back(entry);
        }
    }
    return variables;
}

// Starts a program with arguments and environment; its process id, or -1.
pid_t spawn(const std::vector<std::string> &arguments, const std::vector<std::string> &environment) {
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &variable : environment) {
        envp.push_back(const_cast<char *>(variable.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) == 0 ? pid : -1;
}

// Runs a program to its end; its exit status, or -1.
int run_tool(const std::vector<std::string> &arguments, const fs::path &state_dir) {
    const pid_t pid = spawn(arguments, tool_environment(state_dir));
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// A throw-away snmpd on a free port of 127.0.0.1, in the foreground, with its own configuration.
class Snmpd {
   public:
    Snmpd(const std::string &binary, const std::string &sys_descr) {
        {
            std::ofstream config(dir_.path() / "snmpd.conf");
            config << "rocommunity public 127.0.0.1\n"
                   << "rwcommunity private 127.0.0.1\n"
                   << "sysDescr " << sys_descr << "\n";
        }
        for (int attempt = 0; attempt < kStartAttempts && port_ == 0; ++attempt) {
            start(binary, free_udp_port());
        }
    }
    Snmpd(const Snmpd &) = delete;
    Snmpd &operator=(const Snmpd &) = delete;
    ~Snmpd() { stop(); }

    // 0 when snmpd could not be started.
    uint16_t port() const { return port_; }
    std::string log() const {
        std::ifstream file(dir_.path() / "snmpd.log");
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

   private:
    void start(const std::string &binary, uint16_t port) {
        const std::vector<std::string> arguments = {binary,
                                                    "-f",
                                                    "-Lf",
                                                    (dir_.path() / "snmpd.log").string(),
                                                    "-C",
                                                    "-c",
                                                    (dir_.path() / "snmpd.conf").string(),
                                                    "udp:127.0.0.1:" + std::to_string(port)};
        pid_ = spawn(arguments, tool_environment(dir_.path()));
        if (pid_ < 0) {
            return;
        }
        const UdpPeer probe;
        for (int i = 0; i < kReadyProbes; ++i) {
            probe.send_to(port, kReadyProbe);
            if (probe.receive(kReadyProbeMs).has_value()) {
                port_ = port;
                return;
            }
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;  // exited (port taken meanwhile?)
                return;
            }
        }
        stop();
    }

    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    ScratchDir dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

class SnmpdInterop : public testing::Test {
   protected:
    void SetUp() override {
        const std::optional<std::string> binary = find_tool("snmpd");
        if (!binary) {
            GTEST_SKIP() << "snmpd is not installed";
        }
        sys_descr_ = "vek interop agent " + std::to_string(getpid());
        snmpd_.emplace(*binary, sys_descr_);
        ASSERT_NE(snmpd_->port(), 0) << "snmpd did not start: " << snmpd_->log();
        api_snmp_init();
        api_snmp_register_response_callback(Collector::on_response);
    }
    void TearDown() override {
        if (snmpd_) {
            api_snmp_destroy();
        }
    }

    uint16_t port() const { return snmpd_->port(); }

    // Sends one request and waits for its single outcome.
    template <typename Send>
    ResponseEvent exchange(Send send) {
        const api_snmp_err sent = send(&collector_);
        EXPECT_EQ(sent, API_SNMP_OK);
        std::optional<ResponseEvent> event = collector_.next_response();
        EXPECT_TRUE(event.has_value());
        return event.value_or(ResponseEvent{});
    }

    ResponseEvent get(const char *oid) {
        const api_snmp_varbind vb = get_varbind(oid);
        return exchange([&](void *data) {
            return api_snmp_get(kLoopback, port(), nullptr, &vb, 1, kRequestTimeoutMs, data);
        });
    }

    ResponseEvent set_string(const char *oid, const char *value) {
        api_snmp_varbind vb{};
        EXPECT_EQ(api_snmp_create_set_varbind(oid, "s", value, &vb), API_SNMP_OK);
        return exchange([&](void *data) {
            return api_snmp_set(kLoopback, port(), nullptr, &vb, 1, kRequestTimeoutMs, data);
        });
    }

    void expect_answer(const ResponseEvent &event, uint8_t var_count) {
        EXPECT_EQ(event.ip, kLoopback);
        EXPECT_EQ(event.port, port());
        EXPECT_EQ(event.user_name, "");
        EXPECT_EQ(event.cmd_type, API_SNMP_CMD_RESPONSE);
        EXPECT_EQ(event.response.error, static_cast<uint32_t>(API_SNMP_OK));
        EXPECT_EQ(event.response.error_status, 0u);
        EXPECT_EQ(event.response.var_count, var_count);
    }

    std::string sys_descr_;
    std::optional<Snmpd> snmpd_;
    Collector collector_;
};

TEST_F(SnmpdInterop, V2cGetGetNextGetBulkAndSet) {
    const api_snmp_agent_config config = agent_config(API_SNMP_V2C, "private");
    ASSERT_EQ(api_snmp_agent_create(kLoopback, port(), &config), API_SNMP_OK);

    const ResponseEvent descr = get(kSysDescrOid);
    expect_answer(descr, 1);
    EXPECT_STREQ(descr.response.varbinds[0].oid, kSysDescrOid);
    EXPECT_EQ(descr.response.varbinds[0].type, API_SNMP_BER_OCTET_STRING);
    EXPECT_EQ(value_text(descr.response.varbinds[0]), sys_descr_);

    const api_snmp_varbind system = get_varbind("1.3.6.1.2.1.1");
    const ResponseEvent next = exchange([&](void *data) {
        return api_snmp_get_next(kLoopback, port(), nullptr, &system, 1, kRequestTimeoutMs, data);
    });
    expect_answer(next, 1);
    EXPECT_STREQ(next.response.varbinds[0].oid, kSysDescrOid);
    EXPECT_EQ(value_text(next.response.varbinds[0]), sys_descr_);

    const ResponseEvent bulk = exchange([&](void *data) {
        return api_snmp_get_bulk(kLoopback, port(), nullptr, 0, 3, &system, 1, kRequestTimeoutMs, data);
    });
    expect_answer(bulk, 3);
    EXPECT_STREQ(bulk.response.varbinds[0].oid, kSysDescrOid);
    EXPECT_STREQ(bulk.response.varbinds[1].oid, kSysObjectIdOid);
    EXPECT_EQ(bulk.response.varbinds[1].type, API_SNMP_BER_OID);
    EXPECT_EQ(std::string(bulk.response.varbinds[1].value.str).rfind("1.3.6.1.4.1.", 0), 0u);
    EXPECT_STREQ(bulk.response.varbinds[2].oid, kSysUpTimeOid);
    EXPECT_EQ(bulk.response.varbinds[2].type, API_SNMP_BER_TIMETICKS);

    const std::string name = "vek-v2c-" + std::to_string(getpid());
    const ResponseEvent written = set_string(kSysNameOid, name.c_str());
    expect_answer(written, 1);
    EXPECT_EQ(value_text(written.response.varbinds[0]), name);
    const ResponseEvent read_back = get(kSysNameOid);
    expect_answer(read_back, 1);
    EXPECT_EQ(value_text(read_back.response.varbinds[0]), name);

    // sysDescr comes from the configuration file: the agent refuses to write it.
    const ResponseEvent refused = set_string(kSysDescrOid, "changed");
    EXPECT_EQ(refused.response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(refused.response.error_status, kNotWritable);
    EXPECT_STREQ(api_snmp_error_status_to_str(refused.response.error_status), "notWritable");
}

TEST_F(SnmpdInterop, V1GetAndSet) {
    const api_snmp_agent_config config = agent_config(API_SNMP_V1, "private");
    ASSERT_EQ(api_snmp_agent_create(kLoopback, port(), &config), API_SNMP_OK);

    const ResponseEvent descr = get(kSysDescrOid);
    expect_answer(descr, 1);
    EXPECT_EQ(value_text(descr.response.varbinds[0]), sys_descr_);

    const std::string name = "vek-v1-" + std::to_string(getpid());
    expect_answer(set_string(kSysNameOid, name.c_str()), 1);
    const ResponseEvent read_back = get(kSysNameOid);
    expect_answer(read_back, 1);
    EXPECT_EQ(value_text(read_back.response.varbinds[0]), name);

    // An SNMPv1 agent reports a missing object as noSuchName.
    const ResponseEvent missing = get("1.3.6.1.2.1.1.99.0");
    EXPECT_EQ(missing.response.error, static_cast<uint32_t>(API_SNMP_OK));
    EXPECT_EQ(missing.response.error_status, kNoSuchName);

    // GET-BULK does not exist in SNMPv1; GET-NEXT does, and snmpd answers it.
    const api_snmp_varbind system = get_varbind("1.3.6.1.2.1.1");
    EXPECT_EQ(api_snmp_get_bulk(kLoopback, port(), nullptr, 0, 3, &system, 1, kRequestTimeoutMs, &collector_),
              API_SNMP_ERR_NOT_SUPPORTED);
    const ResponseEvent next = exchange([&](void *data) {
        return api_snmp_get_next(kLoopback, port(), nullptr, &system, 1, kRequestTimeoutMs, data);
    });
    expect_answer(next, 1);
    EXPECT_STREQ(next.response.varbinds[0].oid, kSysDescrOid);
}

class TrapInterop : public testing::Test {
   protected:
    void SetUp() override {
        snmptrap_ = find_tool("snmptrap");
        snmpinform_ = find_tool("snmpinform");
        if (!snmptrap_ || !snmpinform_) {
            GTEST_SKIP() << "snmptrap/snmpinform are not installed";
        }
        api_snmp_init();
        api_snmp_register_trap_callback(Collector::on_trap, &collector_);
        trap_port_ = free_udp_port();
        ASSERT_EQ(api_snmp_start_trap_listener(trap_port_), API_SNMP_OK);
        // Notifications are accepted from created agents only: the tools send from a fixed port.
        source_port_ = free_udp_port();
        const api_snmp_agent_config config = agent_config(API_SNMP_V2C, "public");
        ASSERT_EQ(api_snmp_agent_create(kLoopback, source_port_, &config), API_SNMP_OK);
    }
    void TearDown() override {
        if (snmptrap_ && snmpinform_) {
            api_snmp_destroy();
        }
    }

    int send(const std::string &tool, const std::string &text) {
        return run_tool({tool, "-v2c", "-c", "public", "-t", "2", "-r", "1",
                         "--clientaddr=127.0.0.1:" + std::to_string(source_port_), "--clientaddrUsesPort=yes",
                         "127.0.0.1:" + std::to_string(trap_port_), "", "1.3.6.1.4.1.9999.1",
                         "1.3.6.1.4.1.9999.1.1", "s", text},
                        scratch_.path());
    }

    void expect_notification(const std::string &text) {
        const std::optional<vek::test::TrapEvent> event = collector_.next_trap();
        ASSERT_TRUE(event.has_value());
        EXPECT_EQ(event->ip, kLoopback);
        EXPECT_EQ(event->port, source_port_);
        EXPECT_EQ(event->error, API_SNMP_OK);
        const api_snmp_trap &trap = event->trap;
        EXPECT_EQ(trap.version, static_cast<uint32_t>(API_SNMP_V2C));
        EXPECT_STREQ(trap.community, "public");
        ASSERT_EQ(trap.var_count, 3u);
        EXPECT_STREQ(trap.varbinds[0].oid, kSysUpTimeOid);
        EXPECT_STREQ(trap.varbinds[1].oid, kSnmpTrapOid);
        EXPECT_STREQ(trap.varbinds[1].value.str, "1.3.6.1.4.1.9999.1");
        EXPECT_STREQ(trap.varbinds[2].oid, "1.3.6.1.4.1.9999.1.1");
        EXPECT_EQ(value_text(trap.varbinds[2]), text);
    }

    std::optional<std::string> snmptrap_;
    std::optional<std::string> snmpinform_;
    ScratchDir scratch_;
    Collector collector_;
    uint16_t trap_port_ = 0;
    uint16_t source_port_ = 0;
};

TEST_F(TrapInterop, V2cTrapReachesTheTrapCallback) {
    ASSERT_EQ(send(*snmptrap_, "trap text"), 0);
    expect_notification("trap text");
}

TEST_F(TrapInterop, V2cInformIsAcknowledgedAndDelivered) {
    // snmpinform exits 0 only when it received our acknowledgement.
    ASSERT_EQ(send(*snmpinform_, "inform text"), 0);
    expect_notification("inform text");
}

}  // namespace
