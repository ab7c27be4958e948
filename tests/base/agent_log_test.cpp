// The log facility as the manager library carries it: filtering, line format, settings,
// hex dumps and cuts. Output is read back from standard output.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/agent_log.h"
#include "base/platform.h"

namespace {

template <typename Action>
std::string captured_stdout(Action action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// The lines written, each without its "[tick] " prefix and line feed; every line must carry both.
std::vector<std::string> lines_without_tick(const std::string &out) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "unterminated line in: " << out;
        if (end == std::string::npos) {
            break;
        }
        std::string line = out.substr(start, end - start);
        size_t close = line.find("] ");
        EXPECT_TRUE(line.size() > 1 && line[0] == '[' && close != std::string::npos) << line;
        lines.push_back(close == std::string::npos ? line : line.substr(close + 2));
        start = end + 1;
    }
    return lines;
}

class AgentLogTest : public testing::Test {
protected:
    void SetUp() override { saved_ = g_log_config; }
    void TearDown() override { g_log_config = saved_; }

    static void set(uint32_t level, uint32_t targets = AGENT_LOG_TARGET_CONSOLE) {
        g_log_config.level = level;
        g_log_config.targets = targets;
    }

private:
    agent_log_config saved_{};
};

TEST_F(AgentLogTest, ManagerLibraryDefaultsToWarn) {
    // Checked against the values at load: SetUp has only taken a copy.
    EXPECT_EQ(g_log_config.level, static_cast<uint32_t>(AGENT_LOG_WARN));
    EXPECT_EQ(g_log_config.targets, AGENT_LOG_TARGET_CONSOLE);
    EXPECT_EQ(g_log_config.max_entries, AGENT_LOG_MAX_ENTRIES_DEFAULT);
    EXPECT_STREQ(g_log_level_str[0], "DEBUG");
    EXPECT_STREQ(g_log_level_str[4], "FATAL");
}

TEST_F(AgentLogTest, LevelTwoWritesOnlyWarnAndAboveWithTheTick) {
    set(AGENT_LOG_WARN);
    uint32_t before = 0;
    uint32_t after = 0;
    std::string out = captured_stdout([&] {
        AGENT_LOG(AGENT_LOG_DEBUG, "hidden %d", 1);
        agent_log(AGENT_LOG_INFO, "hidden %d", 2);
        before = platform_get_tick_ms();
        agent_log(AGENT_LOG_WARN, "disk %d low", 7);
        after = platform_get_tick_ms();
    });
    ASSERT_EQ(out.front(), '[');
    char *end = nullptr;
    auto tick = static_cast<uint32_t>(std::strtoul(out.c_str() + 1, &end, 10));
    EXPECT_LE(tick - before, after - before);
    EXPECT_EQ(std::string(end), "] [WARN] disk 7 low\n");

    out = captured_stdout([] {
        agent_log(AGENT_LOG_ERROR, "e");
        agent_log(AGENT_LOG_FATAL, "f");
        agent_log(AGENT_LOG_FATAL, nullptr);
    });
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[ERROR] e", "[FATAL] f"}));
}

TEST_F(AgentLogTest, NoConsoleTargetWritesNothing) {
    set(AGENT_LOG_DEBUG, 0);
    std::string out = captured_stdout([] {
        agent_log(AGENT_LOG_FATAL, "never");
        agent_log_printf("never");
        agent_log_set_level(AGENT_LOG_DEBUG);
    });
    EXPECT_EQ(out, "");
    set(AGENT_LOG_DEBUG, 0x6);  // other bits are kept but write nothing
    EXPECT_EQ(captured_stdout([] { agent_log(AGENT_LOG_FATAL, "never"); }), "");
}

TEST_F(AgentLogTest, SetLevelRefusesFiveAndReportsChanges) {
    set(AGENT_LOG_WARN);
    std::string out = captured_stdout([] { agent_log_set_level(5); });
    EXPECT_EQ(g_log_config.level, static_cast<uint32_t>(AGENT_LOG_WARN));
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[ERROR] 无效的日志级别: 5（范围：0-4）"}));

    out = captured_stdout([] { agent_log_set_level(AGENT_LOG_INFO); });
    EXPECT_EQ(g_log_config.level, static_cast<uint32_t>(AGENT_LOG_INFO));
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[INFO] 日志级别已变更: WARN → INFO"}));

    // The change message is written only when INFO passes the new level.
    out = captured_stdout([] { agent_log_set_level(AGENT_LOG_ERROR); });
    EXPECT_EQ(g_log_config.level, static_cast<uint32_t>(AGENT_LOG_ERROR));
    EXPECT_EQ(out, "");
}

TEST_F(AgentLogTest, InitValidatesMaxEntriesAndLogsTheSettings) {
    agent_log_config config = {AGENT_LOG_INFO, 0x3, 0, 0};
    std::string out = captured_stdout([&] { agent_log_init(&config); });
    EXPECT_EQ(g_log_config.max_entries, 256u);
    EXPECT_EQ(g_log_config.targets, 0x3u);
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[INFO] 日志系统初始化完成，级别: INFO，目标: 0x3"}));

    config.max_entries = 2000;
    agent_log_init(&config);
    EXPECT_EQ(g_log_config.max_entries, 256u);
    config.max_entries = 1024;
    agent_log_init(&config);
    EXPECT_EQ(g_log_config.max_entries, 1024u);
    config.max_entries = 1;
    agent_log_init(&config);
    EXPECT_EQ(g_log_config.max_entries, 1u);

    // A level without a name is clamped to the highest one; a null record changes nothing.
    config.level = 9;
    agent_log_init(&config);
    EXPECT_EQ(g_log_config.level, AGENT_LOG_LEVEL_MAX);
    agent_log_init(nullptr);
    EXPECT_EQ(g_log_config.level, AGENT_LOG_LEVEL_MAX);
}

TEST_F(AgentLogTest, HexdumpWritesSixteenBytesPerLine) {
    set(AGENT_LOG_DEBUG);
    std::vector<uint8_t> data(17);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0xA0 + i);
    }
    std::string out = captured_stdout([&] { agent_log_hexdump("frame", data.data(), 17); });
    EXPECT_EQ(lines_without_tick(out),
              (std::vector<std::string>{"[DEBUG] frame",
                                        "[DEBUG] A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF ", "[DEBUG] B0 "}));

    out = captured_stdout([&] {
        agent_log_hexdump(nullptr, data.data(), 2);
        agent_log_hexdump("none", nullptr, 4);
        agent_log_hexdump("none", data.data(), 0);
    });
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[DEBUG] A0 A1 "}));

    set(AGENT_LOG_INFO);
    EXPECT_EQ(captured_stdout([&] { agent_log_hexdump("frame", data.data(), 17); }), "");
}

TEST_F(AgentLogTest, LongMessagesAreCut) {
    set(AGENT_LOG_DEBUG);
    const std::string long_text(2000, 'm');
    std::string out = captured_stdout([&] { agent_log(AGENT_LOG_WARN, "%s", long_text.c_str()); });
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[WARN] " + std::string(1023, 'm')}));

    out = captured_stdout([&] { agent_log_printf("%s", long_text.c_str()); });
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[INFO] " + std::string(255, 'm')}));
}

TEST_F(AgentLogTest, UnnamedLevelAndEntryStore) {
    set(AGENT_LOG_DEBUG);
    std::string out = captured_stdout([] {
        agent_log(7, "odd");
        agent_log_clear_flash();
    });
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[?] odd", "[DEBUG] 尝试清空FLASH日志（未实现）"}));
    EXPECT_EQ(agent_log_get_count(), 0u);
    EXPECT_EQ(agent_log_get_entry(0), nullptr);
}

// One call site for the limiter tests' lines: their kinds differ by format.
[[gnu::noinline]] void log_line(uint32_t level, const char *format, int value) { agent_log(level, format, value); }

void flood(uint32_t level, const char *format, int count) {
    for (int i = 0; i < count; ++i) {
        log_line(level, format, i);
    }
}

constexpr auto kPastWindow = std::chrono::milliseconds(1100);
constexpr uint32_t kMsPerSecond = 1000;
constexpr uint32_t kEarlyInSecond = 100;

// Waits for the start of a second of the tick clock, so that a short flood stays within one.
void wait_start_of_second() {
    while (platform_get_tick_ms() % kMsPerSecond >= kEarlyInSecond) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Floods of one kind of warning write one line a second and then the count; lower levels and other
// kinds are not held back.
TEST_F(AgentLogTest, RepeatedWarningsAreLimitedPerKind) {
    set(AGENT_LOG_DEBUG);
    constexpr int kFlood = 500;
    struct {
        uint32_t level;
        const char *format;
        size_t lines;
    } const cases[] = {{AGENT_LOG_DEBUG, "debug %d", kFlood},
                       {AGENT_LOG_INFO, "info %d", kFlood},
                       {AGENT_LOG_WARN, "warn %d", 1},
                       {AGENT_LOG_ERROR, "error %d", 1}};
    wait_start_of_second();
    for (const auto &c : cases) {
        const std::string out = captured_stdout([&] { flood(c.level, c.format, kFlood); });
        EXPECT_EQ(lines_without_tick(out).size(), c.lines) << c.format;
    }
    // Another call site with the same format is another kind.
    std::string out = captured_stdout([] { agent_log(AGENT_LOG_WARN, "warn %d", -1); });
    EXPECT_EQ(lines_without_tick(out), (std::vector<std::string>{"[WARN] warn -1"}));

    // A second later the flood's next line comes after the count of the lines held back.
    std::this_thread::sleep_for(kPastWindow);
    wait_start_of_second();
    out = captured_stdout([&] { flood(AGENT_LOG_ERROR, cases[3].format, kFlood); });
    EXPECT_EQ(lines_without_tick(out),
              (std::vector<std::string>{"[ERROR] 此前另有 499 条同类日志未输出：error %d", "[ERROR] error 0"}));
}

// Threads flooding one kind at once: one line gets through and every other line is counted.
TEST_F(AgentLogTest, LimitCountsEveryThreadsLines) {
    set(AGENT_LOG_DEBUG);
    constexpr const char *kFormat = "shared %d";
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    wait_start_of_second();
    std::string out = captured_stdout([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(flood, AGENT_LOG_WARN, kFormat, kEach);
        }
        for (auto &t : threads) {
            t.join();
        }
    });
    EXPECT_EQ(lines_without_tick(out).size(), 1u) << out;
    std::this_thread::sleep_for(kPastWindow);
    out = captured_stdout([&] { log_line(AGENT_LOG_WARN, kFormat, -1); });
    EXPECT_EQ(lines_without_tick(out),
              (std::vector<std::string>{"[WARN] 此前另有 799 条同类日志未输出：shared %d", "[WARN] shared -1"}));
}

}  // namespace
