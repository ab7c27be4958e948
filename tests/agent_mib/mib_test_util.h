// Helpers shared by the MIB registry, MIB access and sample device tests.
#ifndef VEK_TESTS_AGENT_MIB_TEST_UTIL_H
#define VEK_TESTS_AGENT_MIB_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "agent/agent_config.h"
#include "agent/agent_mib.h"
#include "agent/mib_registry.h"
#include "agent/mib_subtree.h"
#include "base/agent_log.h"
#include "codec/oid_literal.h"
#include "codec/snmp_types.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VEK_TEST_HAS_ASAN 1
#else
#define VEK_TEST_HAS_ASAN 0
#endif

namespace mib_test {

using vek::codec::make_oid;

inline std::string text_of(const snmp_oid &oid) {
    std::string text;
    for (uint8_t i = 0; i < oid.len; ++i) {
        text += i == 0 ? "" : ".";
        text += std::to_string(oid.sub_ids[i]);
    }
    return text;
}

inline bool same_oid(const snmp_oid &a, const snmp_oid &b) {
    return a.len == b.len && std::memcmp(a.sub_ids, b.sub_ids, a.len * sizeof(uint32_t)) == 0;
}

// OIDs of the table in order, as text.
inline std::vector<std::string> table_oids() {
    uint8_t count = 0;
    const mib_node *nodes = mib_registry_get_all(&count);
    std::vector<std::string> texts;
    for (uint8_t i = 0; i < count; ++i) {
        texts.push_back(text_of(nodes[i].oid));
    }
    return texts;
}

// Everything the call writes to standard output (where the log facility writes its lines).
template <typename Call>
std::string capture_log(Call &&call) {
    testing::internal::CaptureStdout();
    call();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline bool has_line(const std::string &log, const std::string &level, const std::string &message) {
    return log.find("] [" + level + "] " + message + "\n") != std::string::npos;
}

// Sets the log level for one scope and puts the previous one back.
class log_level_scope {
public:
    explicit log_level_scope(uint32_t level) : saved_(g_log_config.level) { g_log_config.level = level; }
    ~log_level_scope() { g_log_config.level = saved_; }
    log_level_scope(const log_level_scope &) = delete;
    log_level_scope &operator=(const log_level_scope &) = delete;

private:
    uint32_t saved_;
};

// ---- Test nodes ----

// Calls of the test callbacks, reset by each fixture.
struct callback_record {
    int reads = 0;
    int writes = 0;
    snmp_oid last_read_oid{};
    snmp_varbind last_written{};
    int32_t read_result = MIB_OK;
    int32_t write_result = MIB_OK;
};

inline callback_record &calls() {
    static callback_record record;
    return record;
}

// Answers INTEGER = the last sub-identifier of the OID the caller has set (or the forced result).
inline int32_t echo_read(void * /*user_data*/, snmp_varbind *vb) {
    callback_record &record = calls();
    ++record.reads;
    record.last_read_oid = vb->oid;
    if (record.read_result != MIB_OK) {
        return record.read_result;
    }
    vb->type = SNMP_TAG_INTEGER;
    vb->value.integer = vb->oid.len > 0 ? static_cast<int32_t>(vb->oid.sub_ids[vb->oid.len - 1]) : -1;
    return MIB_OK;
}

inline int32_t record_write(void * /*user_data*/, const snmp_varbind *vb) {
    callback_record &record = calls();
    ++record.writes;
    record.last_written = *vb;
    return record.write_result;
}

inline mib_node test_node(const snmp_oid &oid, uint32_t access = MIB_ACCESS_READ_ONLY, uint8_t type = SNMP_TAG_INTEGER,
                          uint32_t poll_interval = 0) {
    mib_node node{};
    node.oid = oid;
    node.type = type;
    node.access = access;
    node.poll_interval = poll_interval;
    node.read = echo_read;
    node.write = access == MIB_ACCESS_READ_WRITE ? record_write : nullptr;
    node.name = "testNode";
    return node;
}

// The library's own MIB view after agent_mib_init, in walk order: the system group, the snmp group's
// counters, the sample device nodes, snmpEngineID, the snmpEngine group and the usmStats counters.
inline std::vector<std::string> library_view() {
    std::vector<std::string> view;
    for (int sys = 1; sys <= 7; ++sys) {
        view.push_back("1.3.6.1.2.1.1." + std::to_string(sys) + ".0");
    }
    for (int counter : {1, 2, 3, 4, 5, 6, 13, 14, 15, 16, 17, 18, 21, 22, 24, 28, 30, 31, 32}) {
        view.push_back("1.3.6.1.2.1.11." + std::to_string(counter) + ".0");
    }
    for (const char *oid : {"1.3.6.1.4.1.12345.1.1", "1.3.6.1.4.1.12345.1.2", "1.3.6.1.4.1.12345.1.3",
                            "1.3.6.1.6.3.10.2.1.1"}) {
        view.emplace_back(oid);
    }
    for (int engine = 1; engine <= 4; ++engine) {
        view.push_back("1.3.6.1.6.3.10.2.1." + std::to_string(engine) + ".0");
    }
    for (int usm_stat = 1; usm_stat <= 6; ++usm_stat) {
        view.push_back("1.3.6.1.6.3.15.1.1." + std::to_string(usm_stat) + ".0");
    }
    return view;
}

// A fixture that starts every test with an empty registry (no subtrees either), empty snapshot and
// fresh records.
class EmptyRegistry : public testing::Test {
protected:
    void SetUp() override {
        mib_registry_init();
        mib_subtree_init();
        std::memset(g_mib_db, 0, sizeof(g_mib_db));
        std::memset(g_last_poll_time, 0, sizeof(g_last_poll_time));
        calls() = callback_record{};
    }
    void TearDown() override {
        mib_registry_init();
        mib_subtree_init();
    }

    static void add(const mib_node &node) { ASSERT_TRUE(mib_registry_add(&node)); }
};

// A fixture with the agent's own nodes (system and sample device) and an engine ID.
class DefaultMib : public EmptyRegistry {
protected:
    static constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x1F, 0x88, 0x04, 0x76, 0x65, 0x6B};

    void SetUp() override {
        EmptyRegistry::SetUp();
        agent_config_reset();
        std::memcpy(agent_cfg.engine_id, kEngineId, sizeof(kEngineId));
        agent_cfg.engine_id_len = sizeof(kEngineId);
        agent_mib_init();
    }
    void TearDown() override {
        agent_config_reset();
        EmptyRegistry::TearDown();
    }
};

}  // namespace mib_test

#endif
