// The self-test tally shared by the crypto modules.
#include "crypto/self_test_vek.h"

#include "base/agent_log.h"

namespace vek::self_test {

namespace {
constexpr double kPercent = 100.0;
constexpr char kDigits[] = "0123456789abcdef";
}  // namespace

bool matches_hex(std::span<const uint8_t> bytes, std::string_view text) {
    if (text.size() != 2 * bytes.size()) {
        return false;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (text[2 * i] != kDigits[bytes[i] >> kNibbleBits] ||
            text[2 * i + 1] != kDigits[bytes[i] & kNibbleMask]) {
            return false;
        }
    }
    return true;
}

Tally::Tally(const char *label, const char *heading) : label_(label) {
    AGENT_LOG(AGENT_LOG_INFO, "========== %s ==========", heading);
}

bool Tally::check(bool passed, const char *name) {
    return check(passed, nullptr, name);
}

bool Tally::check(bool passed, const char *qualifier, const char *name) {
    ++total_;
    if (!passed) {
        ++failed_;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s测试%d [%s%s%s]: %s", label_, total_, qualifier != nullptr ? qualifier : "",
              qualifier != nullptr ? " " : "", name, passed ? "通过" : "失败");
    return passed;
}

int Tally::finish() const {
    const double percent = total_ == 0 ? 0.0 : kPercent * (total_ - failed_) / total_;
    AGENT_LOG(AGENT_LOG_INFO, "总测试数: %d", total_);
    AGENT_LOG(AGENT_LOG_INFO, "通过数: %d", total_ - failed_);
    AGENT_LOG(AGENT_LOG_INFO, "失败数: %d", failed_);
    AGENT_LOG(AGENT_LOG_INFO, "通过率: %.1f%%", percent);
    return failed_;
}

}  // namespace vek::self_test
