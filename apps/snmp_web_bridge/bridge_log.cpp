/* The web bridge's log (see bridge_log.h). */
#include "apps/snmp_web_bridge/bridge_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "apps/snmp_web_bridge/bridge_json.h"

namespace bridge {

namespace {

constexpr std::string_view kLinePrefix = "[BRIDGE] ";
constexpr std::string_view kTimeSeparator = " | ";
constexpr const char *kTimeFormat = "%Y-%m-%d %H:%M:%S";
constexpr size_t kTimeTextSize = 32;
constexpr size_t kFormatBufferSize = kLogMessageMax + 1;

constexpr mode_t kLogFileMode = S_IRUSR | S_IWUSR; /* 0600: the log names devices and users */

/* The log file: opened once, rotated at its limit. Not locked: the log's mutex guards it. */
class log_file {
public:
    ~log_file() { close_file(); }
    void set(std::string path, uint64_t limit) {
        close_file();
        path_ = std::move(path);
        limit_ = limit;
    }
    /* Appends the line; a file that cannot be opened is skipped. */
    void append(std::string_view line) {
        if (fd_ < 0 && !open_file()) {
            return;
        }
        const ssize_t written = ::write(fd_, line.data(), line.size());
        size_ += written > 0 ? static_cast<uint64_t>(written) : 0;
        if (size_ >= limit_) {
            rotate();
        }
    }

private:
    bool open_file() {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
        if (fd_ < 0) {
            return false;
        }
        ::fchmod(fd_, kLogFileMode); /* a file left by an older version may be readable by all */
        struct stat info {};
        size_ = ::fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
        return true;
    }
    void close_file() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    void rotate() {
        close_file();
        const std::string old = path_ + std::string(kLogOldSuffix);
        ::rename(path_.c_str(), old.c_str());
        open_file();
    }

    std::string path_{kLogFileName};
    uint64_t limit_ = kLogFileLimit;
    int fd_ = -1;
    uint64_t size_ = 0;
};

struct log_state {
    std::mutex mutex;
    log_list list;
    log_file file;
};

log_state &state() {
    static log_state s;
    return s;
}

std::string local_time_text() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    std::array<char, kTimeTextSize> text{};
    const size_t len = std::strftime(text.data(), text.size(), kTimeFormat, &parts);
    return std::string(text.data(), len);
}

} // namespace

void log_list::push(std::string_view line) {
    const std::string_view kept = utf8_prefix(line, kLogEntryMax);
    if (count_ == lines_.size()) {
        lines_[first_].assign(kept);
        first_ = (first_ + 1) % lines_.size();
        return;
    }
    lines_[(first_ + count_) % lines_.size()].assign(kept);
    ++count_;
}

std::string log_list::to_json() const {
    std::string out = "[";
    bool first = true;
    for (size_t i = 0; i < count_; ++i) {
        std::string line = lines_[(first_ + i) % lines_.size()];
        std::erase_if(line, [](char c) { return c == '\n' || c == '\r'; });
        if (line.empty()) {
            continue;
        }
        if (!first) {
            out.push_back(',');
        }
        first = false;
        append_json_string(out, line);
    }
    out.push_back(']');
    return out;
}

std::string log_message_text(std::string_view message) {
    std::string text(utf8_prefix(message, kLogMessageMax));
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

void bridge_log_text(std::string_view message) {
    std::string line(kLinePrefix);
    line += local_time_text();
    line += kTimeSeparator;
    line += log_message_text(message);

    log_state &s = state();
    const std::lock_guard lock(s.mutex);
    std::string console = line + "\n";
    std::fwrite(console.data(), 1, console.size(), stdout);
    std::fflush(stdout);
    s.file.append(console);
    s.list.push(line);
}

void bridge_log(const char *format, ...) {
    std::array<char, kFormatBufferSize> text{};
    va_list args;
    va_start(args, format);
    const int len = std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    if (len < 0) {
        return;
    }
    bridge_log_text(std::string_view(text.data(), std::min(static_cast<size_t>(len), text.size() - 1)));
}

std::string bridge_log_json() {
    log_state &s = state();
    const std::lock_guard lock(s.mutex);
    return s.list.to_json();
}

void bridge_log_set_file(std::string path, uint64_t limit) {
    log_state &s = state();
    const std::lock_guard lock(s.mutex);
    s.file.set(std::move(path), limit);
}

} // namespace bridge
