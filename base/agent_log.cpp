#include "base/agent_log.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "base/platform.h"

#ifndef VEK_LOG_DEFAULT_LEVEL
#define VEK_LOG_DEFAULT_LEVEL AGENT_LOG_WARN
#endif

namespace {

constexpr unsigned kHexBytesPerLine = 16;
constexpr unsigned kHexCharsPerByte = 3;
constexpr unsigned kHexLineSize = kHexBytesPerLine * kHexCharsPerByte + 1;  // 48 characters and the zero

const char *level_name(uint32_t level) {
    return level <= AGENT_LOG_LEVEL_MAX ? g_log_level_str[level] : "?";
}

uint32_t current_level() { return __atomic_load_n(&g_log_config.level, __ATOMIC_RELAXED); }

void write_line(uint32_t level, const char *format, va_list args) {
    std::array<char, AGENT_LOG_LINE_SIZE> message{};
    std::vsnprintf(message.data(), message.size(), format, args);
    std::printf("[%u] [%s] %s\n", platform_get_tick_ms(), level_name(level), message.data());
}

// Repeated warnings and errors: a flood of one kind of line (one call site with its format) writes
// one line per second of the tick clock; the lines held back are counted and the count is written
// before the next line of that kind. Seconds are whole (tick / 1000), so a line that comes once a
// second is never held back. Kinds are kept in a small table indexed by a hash of the call site; two
// kinds that meet in one slot share it, so each just starts a new second more often. The
// environment variable VEK_LOG_REPEATS=all turns the limit off (every line is written).
constexpr uint32_t kRateLimitFrom = AGENT_LOG_WARN;
constexpr uint32_t kRateWindowMs = 1000;
constexpr size_t kRateSlots = 256;
constexpr unsigned kSiteHashShift = 4;  // call sites lie at least a few bytes apart
constexpr const char *kRepeatsEnv = "VEK_LOG_REPEATS";
constexpr std::string_view kRepeatsAll = "all";

struct rate_slot {
    const void *site = nullptr;
    const char *format = nullptr;
    uint32_t second = 0;     // tick second of the last line written
    uint32_t held_back = 0;  // lines of this kind not written since then
};

struct rate_table {
    std::mutex mutex;
    std::array<rate_slot, kRateSlots> slots{};
};

rate_table &rates() {
    static rate_table table;
    return table;
}

bool repeats_limited() {
    static const bool limited = [] {
        const char *setting = std::getenv(kRepeatsEnv);
        return setting == nullptr || kRepeatsAll != setting;
    }();
    return limited;
}

// Whether a line of this kind is written now; *held_back receives the count of lines of the kind
// that were held back since the last written one (to be reported first).
bool rate_admit(const void *site, const char *format, uint32_t now, uint32_t *held_back) {
    const auto key = reinterpret_cast<uintptr_t>(site) ^ reinterpret_cast<uintptr_t>(format);
    const uint32_t second = now / kRateWindowMs;
    rate_table &table = rates();
    rate_slot &slot = table.slots[(key >> kSiteHashShift) % kRateSlots];
    const std::lock_guard<std::mutex> lock(table.mutex);
    const bool same_kind = slot.site == site && slot.format == format;
    if (same_kind && slot.second == second) {
        ++slot.held_back;
        return false;
    }
    *held_back = same_kind ? slot.held_back : 0;
    slot = rate_slot{site, format, second, 0};
    return true;
}

void write_held_back(uint32_t level, uint32_t count, const char *format) {
    std::printf("[%u] [%s] 此前另有 %u 条同类日志未输出：%s\n", platform_get_tick_ms(), level_name(level), count,
                format);
}

void reset_hex_line(std::array<char, kHexLineSize> &line) {
    std::memset(line.data(), ' ', kHexLineSize - 1);
    line[kHexLineSize - 1] = '\0';
}

}  // namespace

extern "C" {

agent_log_config g_log_config = {VEK_LOG_DEFAULT_LEVEL, AGENT_LOG_TARGET_CONSOLE, 0, AGENT_LOG_MAX_ENTRIES_DEFAULT};

const char *const g_log_level_str[AGENT_LOG_LEVEL_MAX + 1] = {"DEBUG", "INFO", "WARN", "ERROR", "FATAL"};

void agent_log(uint32_t level, const char *format, ...) {
    if (!agent_log_enabled(level) || format == nullptr) {
        return;
    }
    if (level >= kRateLimitFrom && repeats_limited()) {
        uint32_t held_back = 0;
        if (!rate_admit(__builtin_return_address(0), format, platform_get_tick_ms(), &held_back)) {
            return;
        }
        if (held_back != 0) {
            write_held_back(level, held_back, format);
        }
    }
    va_list args;
    va_start(args, format);
    write_line(level, format, args);
    va_end(args);
}

void agent_log_init(const agent_log_config *config) {
    if (config == nullptr) {
        return;
    }
    // A level without a name would leave lines unlabelled: clamp it to the highest level.
    uint32_t level = config->level <= AGENT_LOG_LEVEL_MAX ? config->level : AGENT_LOG_LEVEL_MAX;
    __atomic_store_n(&g_log_config.level, level, __ATOMIC_RELAXED);
    __atomic_store_n(&g_log_config.targets, config->targets, __ATOMIC_RELAXED);
    bool entries_valid =
        config->max_entries >= AGENT_LOG_MAX_ENTRIES_MIN && config->max_entries <= AGENT_LOG_MAX_ENTRIES_MAX;
    g_log_config.max_entries = entries_valid ? config->max_entries : AGENT_LOG_MAX_ENTRIES_DEFAULT;
    agent_log(AGENT_LOG_INFO, "日志系统初始化完成，级别: %s，目标: 0x%x", level_name(level), config->targets);
}

void agent_log_set_level(uint32_t level) {
    if (level > AGENT_LOG_LEVEL_MAX) {
        agent_log(AGENT_LOG_ERROR, "无效的日志级别: %d（范围：0-%d）", static_cast<int>(level),
                  static_cast<int>(AGENT_LOG_LEVEL_MAX));
        return;
    }
    uint32_t old_level = current_level();
    __atomic_store_n(&g_log_config.level, level, __ATOMIC_RELAXED);
    agent_log(AGENT_LOG_INFO, "日志级别已变更: %s → %s", level_name(old_level), level_name(level));
}

void agent_log_printf(const char *format, ...) {
    if (format == nullptr) {
        return;
    }
    std::array<char, AGENT_LOG_PRINTF_SIZE> text{};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    agent_log(AGENT_LOG_INFO, "%s", text.data());
}

void agent_log_hexdump(const char *title, const void *data, uint16_t length) {
    if (data == nullptr || length == 0 || !agent_log_enabled(AGENT_LOG_DEBUG)) {
        return;
    }
    if (title != nullptr) {
        agent_log(AGENT_LOG_DEBUG, "%s", title);
    }
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::array<char, kHexLineSize> line{};
    reset_hex_line(line);
    for (unsigned i = 0; i < length; ++i) {
        size_t position = (i % kHexBytesPerLine) * kHexCharsPerByte;
        size_t remaining = line.size() - position;
        if (remaining <= kHexCharsPerByte) {
            agent_log(AGENT_LOG_ERROR, "agent_log_hexdump: buf full! i=%d, remaining_space=%zu", static_cast<int>(i),
                      remaining);
            return;
        }
        std::snprintf(&line[position], remaining, "%02X ", bytes[i]);
        bool line_full = (i + 1) % kHexBytesPerLine == 0;
        if (line_full || i + 1 == length) {
            agent_log(AGENT_LOG_DEBUG, "%s", line.data());
            reset_hex_line(line);
        }
    }
}

uint32_t agent_log_get_count(void) { return 0; }

const void *agent_log_get_entry(uint32_t) { return nullptr; }

void agent_log_clear_flash(void) { agent_log(AGENT_LOG_DEBUG, "尝试清空FLASH日志（未实现）"); }

}  // extern "C"
