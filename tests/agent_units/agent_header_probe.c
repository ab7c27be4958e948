/* Compiled as C: every agent header of these units must be valid C. */
#include "agent_header_probe.h"

#include "agent/agent_config.h"
#include "agent/agent_trap.h"
#include "agent/snmpv3_user_mgr.h"
#include "agent/trans.h"
#include "agent/trans_udp_linux.h"

void agent_header_probe_layout(agent_header_layout *layout) {
    layout->config_size = sizeof(agent_config);
    layout->config_engine_id = offsetof(agent_config, engine_id);
    layout->config_trusted_nms = offsetof(agent_config, trusted_nms);
    layout->config_trusted_nms_count = offsetof(agent_config, trusted_nms_count);
    layout->trans_ctx_size = sizeof(trans_ctx);
    layout->trans_ctx_whitelist_count = offsetof(trans_ctx, whitelist_count);
    layout->user_mgr_size = sizeof(snmp_v3_user_mgr);
    layout->inform_entry_size = sizeof(agent_inform_entry);
}
