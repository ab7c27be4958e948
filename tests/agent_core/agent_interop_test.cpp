// Interoperability with the standard net-snmp command-line tools: snmpget, snmpgetnext, snmpwalk,
// snmpbulkwalk and snmpset query the agent over 127.0.0.1 with v1 and v2c, and every walk ends
// cleanly. Skipped when the tools are not installed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/tps.h"
#include "tests/agent_core/agent_core_support.h"
#include "tests/agent_mib/mib_test_util.h"

extern char **environ;

namespace {

using namespace agent_core_test;
namespace fs = std::filesystem;

constexpr auto kToolTimeout = std::chrono::seconds(20);
constexpr uint32_t kServeWaitMs = 10;
constexpr int kSnmpdStartAttempts = 10;

// The library's own view in walk order, as the tools print it.
const std::vector<std::string> kWalkOrder = [] {
    std::vector<std::string> order;
    for (const std::string &oid : mib_test::library_view()) {
        order.push_back("." + oid);
    }
    return order;
}();

std::optional<std::string> find_tool(const std::string &name) {
    for (const char *dir : {"/usr/bin/", "/usr/local/bin/", "/bin/", "/usr/sbin/"}) {
        const std::string path = dir + name;
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return std::nullopt;
}

struct ToolRun {
    int exit_code = -1;
    std::string output;
};

// A scratch directory for the tools' configuration and output, removed with its content.
class Scratch {
   public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "vek_agent_interop_XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path &path() const { return path_; }

   private:
    fs::path path_;
};

class Interop : public testing::Test {
   protected:
    void SetUp() override {
        for (const char *tool : {"snmpget", "snmpgetnext", "snmpwalk", "snmpbulkwalk", "snmpset"}) {
            if (!find_tool(tool)) {
                GTEST_SKIP() << tool << " is not installed (Debian package snmp)";
            }
        }
    }
    // Runs a tool against the agent, serving its requests on this thread until it ends.
    ToolRun run(const std::string &tool, const std::string &version, const std::string &community,
                std::vector<std::string> arguments) {
        return run_at(agent_.port(), tool, version, community, std::move(arguments));
    }

    // The same against whatever listens on 127.0.0.1:port.
    ToolRun run_at(uint16_t port, const std::string &tool, const std::string &version,
                   const std::string &community, std::vector<std::string> arguments) {
        std::vector<std::string> argv = {*find_tool(tool),
                                         "-v",
                                         version,
                                         "-c",
                                         community,
                                         "-r",
                                         "0",
                                         "-t",
                                         "3",
                                         "-On",
                                         "127.0.0.1:" + std::to_string(port)};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const fs::path output = scratch_.path() / "output.txt";
        std::vector<std::string> environment = {"MIBS=", "HOME=" + scratch_.path().string(),
                                                "SNMPCONFPATH=" + scratch_.path().string(),
                                                "SNMP_PERSISTENT_DIR=" + scratch_.path().string()};
        ToolRun result;
        const pid_t pid = spawn(argv, environment, output);
        if (pid < 0) {
            return result;
        }
        int status = 0;
        const auto deadline = Clock::now() + kToolTimeout;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            agent_snmp_wait(kServeWaitMs);
            agent_snmp_loop();
        }
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream file(output);
        result.output.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        return result;
    }

    static pid_t spawn(const std::vector<std::string> &arguments, const std::vector<std::string> &environment,
                       const fs::path &output) {
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
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0 ? pid : -1;
    }

    // The OIDs of the "name = value" lines, in order; the closing endOfMibView line of a v2c walk of
    // the whole tree is not a value.
    static std::vector<std::string> names_in(const std::string &output) {
        std::vector<std::string> names;
        size_t start = 0;
        while (start < output.size()) {
            const size_t end = output.find('\n', start);
            const std::string line =
                output.substr(start, end == std::string::npos ? std::string::npos : end - start);
            const size_t equals = line.find(" = ");
            if (!line.empty() && line[0] == '.' && equals != std::string::npos &&
                line.find("No more variables left") == std::string::npos) {
                names.push_back(line.substr(0, equals));
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
        return names;
    }

    // Starts a throw-away snmpd on a free port of 127.0.0.1; 0 when it is not installed or never answered.
    uint16_t start_snmpd() {
        const std::optional<std::string> snmpd = find_tool("snmpd");
        if (!snmpd) {
            return 0;
        }
        const fs::path conf = scratch_.path() / "snmpd.conf";
        std::ofstream(conf) << "rocommunity public 127.0.0.1\nsysDescr Test agent\n";
        const uint16_t port = agent_test::free_udp_port();
        snmpd_ = spawn({*snmpd, "-f", "-Lf", (scratch_.path() / "snmpd.log").string(), "-C", "-c",
                        conf.string(), "udp:127.0.0.1:" + std::to_string(port)},
                       {"MIBS="}, scratch_.path() / "snmpd.out");
        for (int attempt = 0; snmpd_ > 0 && attempt < kSnmpdStartAttempts; ++attempt) {
            if (run_at(port, "snmpget", "2c", kReadOnly, {".1.3.6.1.2.1.1.1.0"}).exit_code == 0) {
                return port;
            }
        }
        return 0;
    }

    void TearDown() override {
        if (snmpd_ > 0) {
            kill(snmpd_, SIGTERM);
            waitpid(snmpd_, nullptr, 0);
        }
        user_mib_simulate_hw(25, 0, 500);
    }

    AgentUnderTest agent_;
    Scratch scratch_;
    pid_t snmpd_ = -1;
};

TEST_F(Interop, SnmpgetReadsSystemAndSampleNodesWithV1AndV2c) {
    for (const char *version : {"1", "2c"}) {
        SCOPED_TRACE(version);
        const ToolRun run_result =
            this->run("snmpget", version, kReadOnly, {kSysDescrOid, kTempOid, kFanOid, kLedOid});
        EXPECT_EQ(run_result.exit_code, 0) << run_result.output;
        EXPECT_TRUE(agent_test::contains(
            run_result.output, ".1.3.6.1.2.1.1.1.0 = STRING: \"Embedded SNMP Agent / Firmware V1.0.0\""))
            << run_result.output;
        EXPECT_TRUE(agent_test::contains(run_result.output, ".1.3.6.1.4.1.12345.1.1 = INTEGER: 25"))
            << run_result.output;
        EXPECT_TRUE(agent_test::contains(run_result.output, ".1.3.6.1.4.1.12345.1.3 = Gauge32: 5000"))
            << run_result.output;
        EXPECT_TRUE(agent_test::contains(run_result.output, ".1.3.6.1.4.1.12345.1.2 = INTEGER: 0"))
            << run_result.output;
    }
    const ToolRun next = this->run("snmpgetnext", "2c", kReadOnly, {kSysDescrOid});
    EXPECT_EQ(next.exit_code, 0) << next.output;
    EXPECT_TRUE(agent_test::contains(next.output, ".1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.12345")) << next.output;
}

TEST_F(Interop, WalksOfTheWholeAgentEndCleanly) {
    const std::vector<std::pair<std::string, std::string>> walks = {
        {"snmpwalk", "1"}, {"snmpwalk", "2c"}, {"snmpbulkwalk", "2c"}};
    for (const auto &[tool, version] : walks) {
        SCOPED_TRACE(tool + " -v " + version);
        const ToolRun walk = this->run(tool, version, kReadOnly, {".1"});
        EXPECT_EQ(walk.exit_code, 0) << walk.output;
        const std::vector<std::string> names = names_in(walk.output);
        ASSERT_EQ(names.size(), kWalkOrder.size()) << walk.output;
        EXPECT_EQ(names, kWalkOrder);
        EXPECT_FALSE(agent_test::contains(walk.output, "Timeout")) << walk.output;
        EXPECT_FALSE(agent_test::contains(walk.output, "Error")) << walk.output;
    }
}

// True when the names after the n non-repeaters come in whole rows, one name per column in the
// order of the request, each under the prefix of its own column.
bool in_rows(const std::vector<std::string> &names, size_t n, const std::vector<std::string> &prefixes) {
    const size_t columns = prefixes.size() - n;
    if (names.size() < n || (names.size() - n) % columns != 0) {
        return false;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].rfind(prefixes[i < n ? i : n + (i - n) % columns], 0) != 0) {
            return false;
        }
    }
    return true;
}

TEST_F(Interop, SnmpbulkgetAnswersColumnsRowByRowLikeSnmpd) {
    const std::vector<std::string> ours = {".1.3.6.1.2.1.1.1", ".1.3.6.1.2.1.1", ".1.3.6.1.4.1.12345.1"};
    const ToolRun bulk =
        this->run("snmpbulkget", "2c", kReadOnly, {"-Cn1", "-Cr3", ours[0], ours[1], ours[2]});
    EXPECT_EQ(bulk.exit_code, 0) << bulk.output;
    const std::vector<std::string> names = names_in(bulk.output);
    EXPECT_EQ(names,
              (std::vector<std::string>{".1.3.6.1.2.1.1.1.0", ".1.3.6.1.2.1.1.1.0", ".1.3.6.1.4.1.12345.1.1",
                                        ".1.3.6.1.2.1.1.2.0", ".1.3.6.1.4.1.12345.1.2", ".1.3.6.1.2.1.1.3.0",
                                        ".1.3.6.1.4.1.12345.1.3"}))
        << bulk.output;
    EXPECT_TRUE(in_rows(names, 1, ours)) << bulk.output;

    // A standard agent answers the same shape (one non-repeater, two columns of sysORTable, three
    // rows) in the same order.
    const uint16_t snmpd = start_snmpd();
    if (snmpd == 0) {
        GTEST_SKIP() << "snmpd is not installed (Debian package snmpd) or did not start";
    }
    const std::vector<std::string> theirs = {".1.3.6.1.2.1.1.1", ".1.3.6.1.2.1.1.9.1.2",
                                             ".1.3.6.1.2.1.1.9.1.3"};
    const ToolRun reference =
        run_at(snmpd, "snmpbulkget", "2c", kReadOnly, {"-Cn1", "-Cr3", theirs[0], theirs[1], theirs[2]});
    EXPECT_EQ(reference.exit_code, 0) << reference.output;
    const std::vector<std::string> reference_names = names_in(reference.output);
    EXPECT_EQ(reference_names.size(), names.size()) << reference.output;
    EXPECT_TRUE(in_rows(reference_names, 1, theirs)) << reference.output;
}

TEST_F(Interop, SnmpsetWritesWithTheReadWriteCommunityOnly) {
    ToolRun set = this->run("snmpset", "2c", kReadWrite, {kLedOid, "i", "1"});
    EXPECT_EQ(set.exit_code, 0) << set.output;
    EXPECT_TRUE(agent_test::contains(set.output, ".1.3.6.1.4.1.12345.1.2 = INTEGER: 1")) << set.output;
    ToolRun get = this->run("snmpget", "1", kReadOnly, {kLedOid});
    EXPECT_TRUE(agent_test::contains(get.output, ".1.3.6.1.4.1.12345.1.2 = INTEGER: 1")) << get.output;

    set = this->run("snmpset", "1", kReadWrite, {kSysContactOid, "s", "ops@example.org"});
    EXPECT_EQ(set.exit_code, 0) << set.output;
    get = this->run("snmpget", "2c", kReadOnly, {kSysContactOid});
    EXPECT_TRUE(agent_test::contains(get.output, "STRING: \"ops@example.org\"")) << get.output;

    // Refused writes: the tools report the error and fail.
    set = this->run("snmpset", "2c", kReadOnly, {kLedOid, "i", "0"});
    EXPECT_NE(set.exit_code, 0) << set.output;
    EXPECT_TRUE(agent_test::contains(set.output, "noAccess")) << set.output;
    set = this->run("snmpset", "2c", kReadWrite, {kLedOid, "i", "5"});
    EXPECT_NE(set.exit_code, 0) << set.output;
    EXPECT_TRUE(agent_test::contains(set.output, "wrongValue")) << set.output;
    set = this->run("snmpset", "2c", kReadWrite, {kSysDescrOid, "s", "x"});
    EXPECT_NE(set.exit_code, 0) << set.output;
    EXPECT_TRUE(agent_test::contains(set.output, "notWritable")) << set.output;
}

}  // namespace
