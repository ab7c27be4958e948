#include "agent/agent_stats.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <span>

#include "agent/agent_mib.h"

namespace {

// Atomic so that a notification sent from another thread than the main loop counts safely.
std::array<std::atomic<uint32_t>, AGENT_STAT_COUNT> g_stats{};

bool is_exception(uint8_t type) {
    return type == SNMP_TAG_NO_SUCH_OBJECT || type == SNMP_TAG_NO_SUCH_INSTANCE || type == SNMP_TAG_END_OF_MIB_VIEW;
}

uint32_t values_read(const snmp_pdu &answer) {
    const std::span<const snmp_varbind> vbs(answer.varbinds,
                                            std::min<size_t>(answer.varbind_count, SNMP_MAX_VARBINDS));
    return static_cast<uint32_t>(
        std::count_if(vbs.begin(), vbs.end(), [](const snmp_varbind &vb) { return !is_exception(vb.type); }));
}

void add(agent_stat stat, uint32_t amount) {
    g_stats[stat].fetch_add(amount, std::memory_order_relaxed);
}

void count_error_status(uint32_t error_status) {
    switch (error_status) {
        case MIB_ERRSTAT_NO_SUCH_NAME:
            agent_stats_count(AGENT_STAT_OUT_NO_SUCH_NAMES);
            break;
        case MIB_ERRSTAT_BAD_VALUE:
            agent_stats_count(AGENT_STAT_OUT_BAD_VALUES);
            break;
        case MIB_ERRSTAT_GEN_ERR:
            agent_stats_count(AGENT_STAT_OUT_GEN_ERRS);
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" {

void agent_stats_reset(void) {
    for (std::atomic<uint32_t> &stat : g_stats) {
        stat.store(0, std::memory_order_relaxed);
    }
}

void agent_stats_count(agent_stat stat) {
    if (stat < AGENT_STAT_COUNT) {
        add(stat, 1);
    }
}

uint32_t agent_stats_get(agent_stat stat) {
    return stat < AGENT_STAT_COUNT ? g_stats[stat].load(std::memory_order_relaxed) : 0;
}

void agent_stats_count_request(uint32_t request_op, const snmp_pdu *answer) {
    if (answer == nullptr) {
        return;
    }
    const bool ok = answer->error_status == MIB_ERRSTAT_NO_ERROR;
    switch (request_op) {
        case SNMP_OP_GET:
            agent_stats_count(AGENT_STAT_IN_GET_REQUESTS);
            break;
        case SNMP_OP_GETNEXT:
            agent_stats_count(AGENT_STAT_IN_GET_NEXTS);
            break;
        case SNMP_OP_SET:
            agent_stats_count(AGENT_STAT_IN_SET_REQUESTS);
            add(AGENT_STAT_IN_TOTAL_SET_VARS, ok ? answer->varbind_count : 0);
            break;
        default:
            break;
    }
    if (ok && (request_op == SNMP_OP_GET || request_op == SNMP_OP_GETNEXT || request_op == SNMP_OP_GETBULK)) {
        add(AGENT_STAT_IN_TOTAL_REQ_VARS, values_read(*answer));
    }
    count_error_status(answer->error_status);
}

void agent_stats_count_answer(bool sent) {
    agent_stats_count(sent ? AGENT_STAT_OUT_GET_RESPONSES : AGENT_STAT_SILENT_DROPS);
}

}  // extern "C"
