// snmpEngine group and usmStats counters as read-only registry nodes.
#include "agent/agent_engine_mib.h"

#include <array>

#include "agent/agent_engine.h"
#include "agent/agent_usm.h"
#include "agent/mib_registry.h"
#include "base/agent_log.h"
#include "codec/oid_literal.h"
#include "codec/snmpv3_crypto.h"

namespace {

using vek::codec::make_oid;

constexpr uint32_t kInstance = 0;
constexpr uint32_t kMaxMessageSize = SNMP_MAX_MSG_SIZE;  // the largest message the agent takes and sends

int32_t put_integer(snmp_varbind *vb, uint8_t type, uint32_t value) {
    if (vb == nullptr) {
        return MIB_ERR_INVALID_ARG;
    }
    vb->type = type;
    vb->value.integer = static_cast<int32_t>(value);
    vb->value_len = sizeof(uint32_t);
    return MIB_OK;
}

int32_t engine_boots_read(void * /*user_data*/, snmp_varbind *vb) {
    return put_integer(vb, SNMP_TAG_INTEGER, agent_engine_now().engine_boots);
}

int32_t engine_time_read(void * /*user_data*/, snmp_varbind *vb) {
    return put_integer(vb, SNMP_TAG_INTEGER, agent_engine_now().engine_time);
}

int32_t max_message_size_read(void * /*user_data*/, snmp_varbind *vb) {
    return put_integer(vb, SNMP_TAG_INTEGER, kMaxMessageSize);
}

template <uint8_t Verdict> int32_t usm_stat_read(void * /*user_data*/, snmp_varbind *vb) {
    return put_integer(vb, SNMP_TAG_COUNTER32, agent_usm_stat(Verdict));
}

struct EngineNode {
    const char *name;
    snmp_oid oid;
    uint8_t type;
    mib_read_cb read;
};

const std::array kNodes = {
    EngineNode{"snmpEngineID.0", make_oid({1, 3, 6, 1, 6, 3, 10, 2, 1, 1, kInstance}), SNMP_TAG_OCTET_STRING,
               snmp_engine_id_read},
    EngineNode{"snmpEngineBoots.0", make_oid({1, 3, 6, 1, 6, 3, 10, 2, 1, 2, kInstance}), SNMP_TAG_INTEGER,
               engine_boots_read},
    EngineNode{"snmpEngineTime.0", make_oid({1, 3, 6, 1, 6, 3, 10, 2, 1, 3, kInstance}), SNMP_TAG_INTEGER,
               engine_time_read},
    EngineNode{"snmpEngineMaxMessageSize.0", make_oid({1, 3, 6, 1, 6, 3, 10, 2, 1, 4, kInstance}), SNMP_TAG_INTEGER,
               max_message_size_read},
    EngineNode{"usmStatsUnsupportedSecLevels.0", make_oid({1, 3, 6, 1, 6, 3, 15, 1, 1, 1, kInstance}),
               SNMP_TAG_COUNTER32, usm_stat_read<SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL>},
    EngineNode{"usmStatsNotInTimeWindows.0", make_oid({1, 3, 6, 1, 6, 3, 15, 1, 1, 2, kInstance}), SNMP_TAG_COUNTER32,
               usm_stat_read<SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW>},
    EngineNode{"usmStatsUnknownUserNames.0", make_oid({1, 3, 6, 1, 6, 3, 15, 1, 1, 3, kInstance}), SNMP_TAG_COUNTER32,
               usm_stat_read<SNMP_V3_VERDICT_UNKNOWN_USER_NAME>},
    EngineNode{"usmStatsUnknownEngineIDs.0", make_oid({1, 3, 6, 1, 6, 3, 15, 1, 1, 4, kInstance}), SNMP_TAG_COUNTER32,
               usm_stat_read<SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID>},
    EngineNode{"usmStatsWrongDigests.0", make_oid({1, 3, 6, 1, 6, 3, 15, 1, 1, 5, kInstance}), SNMP_TAG_COUNTER32,
               usm_stat_read<SNMP_V3_VERDICT_WRONG_DIGEST>},
    EngineNode{"usmStatsDecryptionErrors.0", make_oid({1, 3, 6, 1, 6, 3, 15, 1, 1, 6, kInstance}), SNMP_TAG_COUNTER32,
               usm_stat_read<SNMP_V3_VERDICT_DECRYPTION_ERROR>},
};
static_assert(kNodes.size() == AGENT_ENGINE_MIB_NODES, "one registry entry per object");

}  // namespace

extern "C" void agent_engine_mib_register(void) {
    for (const EngineNode &n : kNodes) {
        const mib_node node = mib_registry_make_node(n.name, n.oid, n.type, MIB_ACCESS_READ_ONLY, 0, n.read, nullptr);
        if (!mib_registry_add(&node)) {
            AGENT_LOG(AGENT_LOG_ERROR, "引擎MIB节点注册失败：%s", n.name);
        }
    }
}
