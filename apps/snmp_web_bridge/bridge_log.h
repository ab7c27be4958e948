/* The web bridge's log: every event goes to the console, is appended to the file "bridge.log" in the
 * working directory, and is kept in a list of the last 100 lines that the page polls as /log.
 *
 * The file is opened once and created readable by its owner only (mode 0600). When it reaches its
 * size limit (10 MiB unless set) it is renamed to "bridge.log.1", replacing the older one, and a new
 * file is started: the log never takes more than about twice the limit. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_LOG_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_LOG_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bridge {

inline constexpr size_t kLogListCapacity = 100; /* lines kept for /log */
inline constexpr size_t kLogEntryMax = 1023;    /* bytes of one kept line */
inline constexpr size_t kLogMessageMax = 2047;  /* bytes of one message */
inline constexpr std::string_view kLogFileName = "bridge.log";
inline constexpr std::string_view kLogOldSuffix = ".1";
inline constexpr uint64_t kLogFileLimit = 10u << 20;

/* The last kLogListCapacity lines, oldest first. Not locked: the log facility guards it. */
class log_list {
public:
    /* Keeps the line, cut to kLogEntryMax bytes (never inside a UTF-8 sequence); with the list
     * full, the oldest line is dropped. */
    void push(std::string_view line);
    /* A JSON array of the non-empty lines, oldest first, each a JSON string without its line feeds
     * and carriage returns. */
    std::string to_json() const;
    size_t size() const { return count_; }

private:
    std::array<std::string, kLogListCapacity> lines_{};
    size_t first_ = 0;
    size_t count_ = 0;
};

/* The message as it is logged: line feeds and carriage returns become blanks (a value cannot start
 * a line of its own), cut to kLogMessageMax bytes. */
std::string log_message_text(std::string_view message);

/* Writes "[BRIDGE] <local time> | <message>" to the console, the log file and the list. */
void bridge_log_text(std::string_view message);

/* bridge_log_text with a printf-style message. */
void bridge_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* The /log answer body: the list as a JSON array, taken under the log's lock. */
std::string bridge_log_json();

/* Where the log lines are appended (default kLogFileName in the working directory) and the size at
 * which the file is rotated; the file is opened at the next line. */
void bridge_log_set_file(std::string path, uint64_t limit = kLogFileLimit);

} // namespace bridge

#endif
