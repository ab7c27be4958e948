// The agent's public interface on Windows: a port that another socket holds gives way to the first
// free port of the transport's fallback list, and the agent initialises on that one.
#include <algorithm>

#include <gtest/gtest.h>

#include "agent/agent.h"
#include "agent/trans.h"
#include "agent/trans_udp_win32.h"
#include "agent/vek_agent_sdk.h"
#include "agent_core_support.h"

namespace agent_core_test {

void expect_port_in_use_outcome(agent_snmp_cfg &cfg, uint16_t taken) {
    using vek::agent::udp_win32::kFallbackPorts;
    EXPECT_EQ(agent_snmp_init(&cfg), AGENT_SNMP_OK);
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_INIT);
    EXPECT_NE(eth_trans_ctx.port, taken);
    EXPECT_NE(std::find(kFallbackPorts.begin(), kFallbackPorts.end(), eth_trans_ctx.port), kFallbackPorts.end());
    agent_snmp_deinit();
    agent_init_self();
}

}  // namespace agent_core_test
