// snmp_service start-up and shutdown as a process: where it finds the manager library, what it does
// when the library, an operation or a port is not available, and how it stops.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>
#include <thread>

#include "tests/apps_cli/apps_test_support.h"
#include "tests/service/service_test_support.h"

namespace service_test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view k_load_failed = "[NMS] 加载 DLL 失败";
constexpr std::string_view k_loaded = "[NMS] 动态库加载成功 ✅";

/* A bound socket on 127.0.0.1 (TCP listening, or UDP) that keeps the port busy. */
class busy_port {
public:
    busy_port(int type, uint16_t port) : sock_(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        addr.sin_port = htons(port);
        ok_ = bind(sock_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
              (type != SOCK_STREAM || listen(sock_, 1) == 0);
    }
    ~busy_port() { close(sock_); }
    busy_port(const busy_port &) = delete;
    busy_port &operator=(const busy_port &) = delete;
    bool ok() const { return ok_; }

private:
    int sock_;
    bool ok_ = false;
};

/* A directory with a copy of the service executable and, optionally, a library beside it. */
class program_copy {
public:
    program_copy() : dir_(apps_test::make_temp_dir("vek_service_copy_")) {
        fs::copy_file(service_executable(), dir_ / "snmp_service");
    }
    ~program_copy() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    program_copy(const program_copy &) = delete;
    program_copy &operator=(const program_copy &) = delete;

    void put_library(const fs::path &library) { fs::copy_file(library, dir_ / "libvek_nms_sdk.so"); }
    std::string executable() const { return (dir_ / "snmp_service").string(); }

private:
    fs::path dir_;
};

service_process::options options_for(const std::string &exe, uint16_t http_port) {
    return service_process::options{exe, http_port, apps_test::free_udp_port(), {}, {"LD_LIBRARY_PATH"}};
}

TEST(ServiceStart, StopsCleanlyOnItsSignals) {
    for (const int sig : {SIGTERM, SIGINT}) {
        const uint16_t port = free_tcp_port();
        service_process service(options_for(service_executable(), port));
        ASSERT_TRUE(service.wait_serving()) << service.output();
        const std::string out = service.output();
        EXPECT_NE(out.find(k_loaded), std::string::npos);
        EXPECT_NE(out.find("[NMS] SNMP 服务启动 | HTTP:" + std::to_string(port) + " | Trap:"), std::string::npos);
        EXPECT_NE(out.find(" | 动态库模式 | 支持多OID批量\n"), std::string::npos);
        EXPECT_EQ(get_json(port, "/api_snmp_get_agent_count")["ret"].as_int(), 0);
        service.send_signal(sig);
        EXPECT_EQ(service.wait_exit(10s), 0) << service.output();
        EXPECT_NE(service.output().find("API层销毁完成"), std::string::npos);
        EXPECT_FALSE(http_get(port, "/api_snmp_get_agent_count", 2s).has_value());
    }
}

TEST(ServiceStart, BusyHttpPortEndsWithAnError) {
    const uint16_t port = free_tcp_port();
    const busy_port taken(SOCK_STREAM, port);
    ASSERT_TRUE(taken.ok());
    service_process service(options_for(service_executable(), port));
    const std::optional<int> code = service.wait_exit(20s);
    ASSERT_TRUE(code.has_value()) << service.output();
    EXPECT_NE(*code, 0);
    EXPECT_NE(service.output().find("[NMS] HTTP 端口 " + std::to_string(port) + " 绑定失败"), std::string::npos)
        << service.output();
    EXPECT_EQ(service.output().find("[NMS] SNMP 服务启动"), std::string::npos);
}

TEST(ServiceStart, BusyTrapPortKeepsServing) {
    const uint16_t trap_port = apps_test::free_udp_port();
    const busy_port taken(SOCK_DGRAM, trap_port);
    ASSERT_TRUE(taken.ok());
    const uint16_t port = free_tcp_port();
    service_process service(service_process::options{service_executable(), port, trap_port, {}, {}});
    ASSERT_TRUE(service.wait_serving()) << service.output();
    EXPECT_NE(service.output().find("[NMS] Trap 端口 " + std::to_string(trap_port) + " 监听失败"), std::string::npos)
        << service.output();
    EXPECT_EQ(get_json(port, "/api_snmp_get_agent_count")["count"].as_int(), 0);
}

TEST(ServiceStart, InvalidPortSettingIsRefused) {
    for (const char *bad : {"0", "65536", "80x", "-1"}) {
        service_process service(service_process::options{
            service_executable(), free_tcp_port(), apps_test::free_udp_port(), {std::string("VEK_SERVICE_PORT=") + bad}, {}});
        EXPECT_EQ(service.wait_exit(10s), 2) << bad;
        EXPECT_NE(service.output().find("VEK_SERVICE_PORT"), std::string::npos) << bad;
    }
}

/* True when a connection to address:port is accepted. */
bool accepts_on(const char *address, uint16_t port) {
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, address, &addr.sin_addr);
    const bool ok = connect(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(sock);
    return ok;
}

TEST(ServiceStart, ListenAddressAndLogLevelSettings) {
    constexpr std::string_view k_beyond_warning = "本机以外也能访问";
    struct {
        std::vector<std::string> env;
        std::vector<std::string> args;
        bool on_other_address; /* reachable through 127.0.0.2, i.e. not bound to 127.0.0.1 only */
        const char *level_line;  /* nullptr: the level change is not written (INFO is filtered) */
    } const cases[] = {
        {{}, {}, false, "[INFO] 日志级别已变更: WARN → DEBUG"},
        {{"VEK_SERVICE_LISTEN=0.0.0.0", "VEK_SERVICE_LOG_LEVEL=warn"}, {}, true, nullptr},
        {{"VEK_SERVICE_LOG_LEVEL=ERROR"}, {"--listen", "127.0.0.1", "--log-level", "1"}, false,
         "[INFO] 日志级别已变更: WARN → INFO"},
    };
    for (const auto &c : cases) {
        const uint16_t port = free_tcp_port();
        service_process service(service_process::options{service_executable(), port, apps_test::free_udp_port(), c.env, {}},
                                c.args);
        ASSERT_TRUE(service.wait_serving()) << service.output();
        EXPECT_TRUE(accepts_on("127.0.0.1", port));
        EXPECT_EQ(accepts_on("127.0.0.2", port), c.on_other_address) << service.output();
        const std::string out = service.output();
        EXPECT_EQ(out.find(k_beyond_warning) != std::string::npos, c.on_other_address) << out;
        EXPECT_EQ(out.find("日志级别已变更") != std::string::npos, c.level_line != nullptr) << out;
        if (c.level_line != nullptr) {
            EXPECT_NE(out.find(c.level_line), std::string::npos) << out;
        }
    }
    for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
             {"--log-level", "5"}, {"--log-level", "LOUD"}, {"--listen", "localhost"}, {"--listen"}, {"--verbose"}}) {
        service_process service(
            service_process::options{service_executable(), free_tcp_port(), apps_test::free_udp_port(), {}, {}}, bad);
        EXPECT_EQ(service.wait_exit(10s), 2) << bad[0];
        EXPECT_NE(service.output().find("用法："), std::string::npos) << bad[0];
    }
}

TEST(ServiceStart, MissingLibraryStartsNothing) {
    const program_copy copy; // no library beside it and none on the loader's path
    const uint16_t port = free_tcp_port();
    service_process service(options_for(copy.executable(), port));
    ASSERT_TRUE(service.wait_for_output(k_load_failed, 10s)) << service.output();
    // It serves nothing, but keeps running until its signal.
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(service.wait_exit(0ms).has_value());
    EXPECT_FALSE(http_get(port, "/api_snmp_get_agent_count", 2s).has_value());
    EXPECT_EQ(service.output().find(k_loaded), std::string::npos);
    service.send_signal(SIGTERM);
    const std::optional<int> code = service.wait_exit(10s);
    ASSERT_TRUE(code.has_value());
    EXPECT_NE(*code, 0);
}

TEST(ServiceStart, LibraryFoundThroughTheLoaderPath) {
    const program_copy copy;
    const uint16_t port = free_tcp_port();
    service_process::options opts = options_for(copy.executable(), port);
    opts.extra_env.push_back("LD_LIBRARY_PATH=" + fs::path(VEK_NMS_SDK_PATH).parent_path().string());
    service_process service(opts);
    ASSERT_TRUE(service.wait_serving()) << service.output();
    EXPECT_EQ(get_json(port, "/api_snmp_error_status_to_str?status=0")["msg"].str(), "success");
}

TEST(ServiceStart, LibraryBesideTheProgramComesFirst) {
    // The real library is on the loader's path, but the one beside the program is taken; it lacks
    // the third operation.
    program_copy copy;
    copy.put_library(VEK_STUB_SDK_PATH);
    const uint16_t port = free_tcp_port();
    service_process::options opts = options_for(copy.executable(), port);
    opts.extra_env.push_back("LD_LIBRARY_PATH=" + fs::path(VEK_NMS_SDK_PATH).parent_path().string());
    service_process service(opts);
    ASSERT_TRUE(service.wait_for_output("[LOAD] api_snmp_register_response_callback failed\n", 10s))
        << service.output();
    const std::string out = service.output();
    EXPECT_NE(out.find(k_loaded), std::string::npos);
    EXPECT_EQ(out.find("[LOAD] api_snmp_init failed"), std::string::npos);
    EXPECT_EQ(occurrences(out, "[LOAD] "), 1u);
    EXPECT_FALSE(http_get(port, "/api_snmp_get_agent_count", 2s).has_value());
}

} // namespace
} // namespace service_test
