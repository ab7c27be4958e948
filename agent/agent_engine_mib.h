/* The objects through which standard managers read the agent's SNMPv3 engine: the snmpEngine group
 * of SNMP-FRAMEWORK-MIB (snmpEngineID.0, snmpEngineBoots.0, snmpEngineTime.0 in seconds,
 * snmpEngineMaxMessageSize.0; 1.3.6.1.6.3.10.2.1.1-4) and the usmStats counters of
 * SNMP-USER-BASED-SM-MIB (1.3.6.1.6.3.15.1.1.1-6 .0). Both are built-in groups of read-only scalars
 * (agent/mib_std_groups.h): they take no place of the node table, and an application that registers
 * its own subtree at or above a group's prefix serves that group itself. */
#ifndef VEK_AGENT_AGENT_ENGINE_MIB_H
#define VEK_AGENT_AGENT_ENGINE_MIB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the two groups (after the subtree table has been emptied). */
void agent_engine_mib_register(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_ENGINE_MIB_H */
