/* The agent's own SNMPv3 engine clock.
 *
 * Engine boots grows by one at every start of the agent, from the last value the application kept
 * (agent_config.engine_boots, or agent_snmp_set_engine_boots); engine time counts the seconds since
 * boots last changed, read from a monotonic clock that nothing else writes. A restart therefore
 * never repeats a (boots, time) pair as long as the application keeps the boots it is given.
 * agent_cfg.engine_boots / engine_time mirror the clock for the readers of that record.
 * Both values stop at 2147483647; boots latched there makes every message untimely (RFC 3414). */
#ifndef VEK_AGENT_AGENT_ENGINE_H
#define VEK_AGENT_AGENT_ENGINE_H

#include <stdint.h>

#include "codec/snmp_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Milliseconds of a monotonic clock. */
typedef uint64_t (*agent_engine_clock_fn)(void);

/* The boots value of the previous start (the next start uses it plus one). */
void agent_engine_set_last_boots(uint32_t boots);
/* A new start: boots grows by one, engine time restarts at 0. Returns the new boots. */
uint32_t agent_engine_start(void);
/* Boots and time now (time past its maximum moves boots on). Also refreshes the mirror in
 * agent_cfg. */
snmp_engine_clock agent_engine_now(void);
/* Boots now. */
uint32_t agent_engine_boots(void);
/* Replaces the clock (tests stand in for the passing of time); null restores the monotonic one. */
void agent_engine_set_clock(agent_engine_clock_fn clock);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_ENGINE_H */
