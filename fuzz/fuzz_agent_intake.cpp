// Fuzz target: arbitrary datagrams through the agent's message intake (agent_nms_snmp_msg_from) with
// the system nodes, the sample device MIB and SNMPv3 users registered. The transports are not opened,
// so answers and notifications are built and encoded but never leave the process. Every request
// context must be free again after each message.
#include <cstdint>
#include <cstring>

#include "agent/agent.h"
#include "agent/agent_config.h"
#include "agent/agent_mib.h"
#include "agent/agent_trap.h"
#include "agent/snmpv3_user_mgr.h"
#include "codec/snmpv3_crypto.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint8_t kSender[TRANS_IPV4_LEN] = {127, 0, 0, 1};
constexpr uint16_t kSenderPort = 40161;
constexpr uint8_t kEngineId[] = {0x80, 0x00, 0x30, 0x39, 0x04, 'f', 'u', 'z', 'z'};

void copy_field(uint8_t *field, uint8_t &len, const char *text) {
    len = static_cast<uint8_t>(std::strlen(text));
    std::memcpy(field, text, len);
}

void add_user(const char *name, uint8_t auth, const char *auth_pass, uint8_t priv, const char *priv_pass) {
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = static_cast<uint8_t>(std::strlen(name));
    std::memcpy(user.username, name, user.user_len);
    user.auth_proto = auth;
    user.priv_proto = priv;
    user.auth_pass_len = static_cast<uint16_t>(std::strlen(auth_pass));
    std::memcpy(user.auth_pass, auth_pass, user.auth_pass_len);
    user.priv_pass_len = static_cast<uint16_t>(std::strlen(priv_pass));
    std::memcpy(user.priv_pass, priv_pass, user.priv_pass_len);
    snmp_v3_user_add(&user);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
    trace_to_nowhere();
    agent_init_self();
    agent_trap_init();
    copy_field(agent_cfg.ro_community, agent_cfg.ro_community_len, "public");
    copy_field(agent_cfg.rw_community, agent_cfg.rw_community_len, "private");
    std::memcpy(agent_cfg.engine_id, kEngineId, sizeof kEngineId);
    agent_cfg.engine_id_len = sizeof kEngineId;
    agent_mib_init();
    agent_mib_coll_callback_reg();
    snmp_v3_user_mgr_init();
    add_user("plain", SNMP_V3_AUTH_NONE, "", SNMP_V3_PRIV_NONE, "");
    add_user("secure", SNMP_V3_AUTH_SHA1, "authpassword", SNMP_V3_PRIV_AES128, "privpassword");
    add_user("standard", SNMP_V3_AUTH_STD_SHA256, "authpassword", SNMP_V3_PRIV_STD_AES128, "privpassword");
    snmp_v3_regenerate_all_auth_keys();  // localised to the engine, as a start of the agent does
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > SNMP_MAX_MSG_SIZE) {
        return 0;
    }
    agent_nms_snmp_msg_from(TRANS_ETH, data, static_cast<uint16_t>(size), kSender, kSenderPort);
    for (const agent_msg_ctx &ctx : msg_contexts) {
        if (ctx.in_use != 0) {
            __builtin_trap();  // a path that forgot to free its context
        }
    }
    return 0;
}
