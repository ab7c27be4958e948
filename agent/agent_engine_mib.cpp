// snmpEngine group and usmStats counters as built-in groups of read-only scalars.
#include "agent/agent_engine_mib.h"

#include <array>

#include "agent/agent_engine.h"
#include "agent/agent_usm.h"
#include "agent/mib_registry.h"
#include "agent/mib_std_groups.h"
#include "codec/oid_literal.h"
#include "codec/snmpv3_crypto.h"

namespace {

using vek::codec::make_oid;

constexpr uint32_t kMaxMessageSize = SNMP_MAX_MSG_SIZE;  // the largest message the agent takes and sends

int32_t put_integer(snmp_varbind &vb, uint8_t type, uint32_t value) {
    vb.type = type;
    vb.value.integer = static_cast<int32_t>(value);
    vb.value_len = sizeof(uint32_t);
    return MIB_OK;
}

int32_t read_engine_id(const mib_scalar & /*scalar*/, snmp_varbind &vb) { return snmp_engine_id_read(nullptr, &vb); }

int32_t read_engine_boots(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    return put_integer(vb, SNMP_TAG_INTEGER, agent_engine_now().engine_boots);
}

int32_t read_engine_time(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    return put_integer(vb, SNMP_TAG_INTEGER, agent_engine_now().engine_time);
}

int32_t read_max_message_size(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    return put_integer(vb, SNMP_TAG_INTEGER, kMaxMessageSize);
}

// `arg` names the verdict whose counter the scalar reads.
int32_t read_usm_stat(const mib_scalar &scalar, snmp_varbind &vb) {
    return put_integer(vb, SNMP_TAG_COUNTER32, agent_usm_stat(static_cast<uint8_t>(scalar.arg)));
}

// snmpEngineID, snmpEngineBoots, snmpEngineTime, snmpEngineMaxMessageSize.
constexpr std::array kEngineScalars = {
    mib_scalar{1, read_engine_id, nullptr, nullptr, 0},
    mib_scalar{2, read_engine_boots, nullptr, nullptr, 0},
    mib_scalar{3, read_engine_time, nullptr, nullptr, 0},
    mib_scalar{4, read_max_message_size, nullptr, nullptr, 0},
};

constexpr mib_scalar usm_stat(uint32_t sub_id, uint8_t verdict) {
    return mib_scalar{sub_id, read_usm_stat, nullptr, nullptr, verdict};
}

// usmStatsUnsupportedSecLevels, NotInTimeWindows, UnknownUserNames, UnknownEngineIDs, WrongDigests,
// DecryptionErrors.
constexpr std::array kUsmStatsScalars = {
    usm_stat(1, SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL), usm_stat(2, SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW),
    usm_stat(3, SNMP_V3_VERDICT_UNKNOWN_USER_NAME),     usm_stat(4, SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID),
    usm_stat(5, SNMP_V3_VERDICT_WRONG_DIGEST),          usm_stat(6, SNMP_V3_VERDICT_DECRYPTION_ERROR),
};

const mib_scalar_group kEngineGroup{make_oid({1, 3, 6, 1, 6, 3, 10, 2, 1}), kEngineScalars};
const mib_scalar_group kUsmStatsGroup{make_oid({1, 3, 6, 1, 6, 3, 15, 1, 1}), kUsmStatsScalars};

}  // namespace

extern "C" void agent_engine_mib_register(void) {
    mib_builtin_group_register(kEngineGroup, "snmpEngine");
    mib_builtin_group_register(kUsmStatsGroup, "usmStats");
}
