// The agent's process-wide configuration record.
#include "agent/agent_config.h"

extern "C" {

// Exported by name from the agent library; zero until agent_init copies a configuration in.
agent_config agent_cfg{};

void agent_config_reset(void) { agent_cfg = agent_config{}; }

}  // extern "C"
