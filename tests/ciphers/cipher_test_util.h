// Helpers shared by the cipher tests: hexadecimal input, captured standard output and a log level
// that is restored after each test.
#ifndef VEK_TESTS_CIPHERS_CIPHER_TEST_UTIL_H
#define VEK_TESTS_CIPHERS_CIPHER_TEST_UTIL_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/agent_log.h"

namespace cipher_test {

using Bytes = std::vector<uint8_t>;

inline Bytes from_hex(const std::string &text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string to_hex(const Bytes &bytes) {
    std::string out;
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof(digits), "%02x", b);
        out += digits;
    }
    return out;
}

template <typename Action>
std::string captured_stdout(Action action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Sets the log level for one test and puts the previous settings back afterwards.
class LogLevel {
   public:
    explicit LogLevel(uint32_t level) : saved_(g_log_config) { g_log_config.level = level; }
    ~LogLevel() { g_log_config = saved_; }
    LogLevel(const LogLevel &) = delete;
    LogLevel &operator=(const LogLevel &) = delete;

   private:
    agent_log_config saved_;
};

}  // namespace cipher_test

#endif
