/* The objects through which standard managers read the agent's SNMPv3 engine: the snmpEngine group
 * of SNMP-FRAMEWORK-MIB (snmpEngineID.0, snmpEngineBoots.0, snmpEngineTime.0 in seconds,
 * snmpEngineMaxMessageSize.0; 1.3.6.1.6.3.10.2.1.1-4) and the usmStats counters of
 * SNMP-USER-BASED-SM-MIB (1.3.6.1.6.3.15.1.1.1-6 .0), all read-only nodes of the registry. */
#ifndef VEK_AGENT_AGENT_ENGINE_MIB_H
#define VEK_AGENT_AGENT_ENGINE_MIB_H

#ifdef __cplusplus
extern "C" {
#endif

#define AGENT_ENGINE_MIB_NODES 10u /* registry entries this unit takes */

/* Registers the ten nodes (after the registry has been emptied). */
void agent_engine_mib_register(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_ENGINE_MIB_H */
