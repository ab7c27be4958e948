// The agent's public interface on Linux: a port that cannot be bound is reported, and the agent
// stays free to be initialised again.
#include <gtest/gtest.h>

#include "agent/vek_agent_sdk.h"
#include "agent_core_support.h"

namespace agent_core_test {

void expect_port_in_use_outcome(agent_snmp_cfg &cfg, uint16_t /*taken*/) {
    EXPECT_EQ(agent_snmp_init(&cfg), AGENT_SNMP_ERR_PORT_OCCUPIED);
    EXPECT_EQ(agent_snmp_get_state(), AGENT_SNMP_STATE_UNINIT);
}

}  // namespace agent_core_test
