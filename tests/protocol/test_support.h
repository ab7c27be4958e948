// Small helpers shared by the codec protocol tests.
#ifndef VEK_TESTS_PROTOCOL_TEST_SUPPORT_H
#define VEK_TESTS_PROTOCOL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "base/agent_log.h"
#include "codec/oid_literal.h"
#include "codec/snmp_types.h"

namespace vek_test {

using vek::codec::make_oid;

inline bool oid_is(const snmp_oid &oid, std::initializer_list<uint32_t> arcs) {
    if (oid.len != arcs.size()) {
        return false;
    }
    size_t i = 0;
    for (uint32_t arc : arcs) {
        if (oid.sub_ids[i++] != arc) {
            return false;
        }
    }
    return true;
}

// Everything the call writes to standard output (where the log facility writes its lines).
template <typename Call>
std::string capture_log(Call &&call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

// Sets the log level for one scope and puts the previous one back.
class log_level_scope {
public:
    explicit log_level_scope(uint32_t level) : saved_(__atomic_load_n(&g_log_config.level, __ATOMIC_RELAXED)) {
        __atomic_store_n(&g_log_config.level, level, __ATOMIC_RELAXED);
    }
    ~log_level_scope() { __atomic_store_n(&g_log_config.level, saved_, __ATOMIC_RELAXED); }
    log_level_scope(const log_level_scope &) = delete;
    log_level_scope &operator=(const log_level_scope &) = delete;

private:
    uint32_t saved_;
};

}  // namespace vek_test

#endif
