/* SNMPv3 notifications of the agent: traps and informs sent as SNMPv3 with one of the agent's users,
 * at that user's own security level and in its scheme.
 *
 * A trap's authoritative engine is the agent itself: it goes out with the agent's engine ID, boots
 * and time and the user's keys as they are. An inform's authoritative engine is its receiver: the
 * first inform to a receiver is held back while a discovery probe asks the receiver for its engine
 * ID, boots and time; the user's keys are then localised to that engine (once, and again only when
 * the scheme asks for it), the held informs go out, and the receiver's authenticated Response ends
 * the pending inform (agent_trap_match_inform_resp). Nothing here is used while no user is set: the
 * notifications are then SNMPv2c ones. Used from the agent's thread only. */
#ifndef VEK_AGENT_AGENT_V3_NOTIFY_H
#define VEK_AGENT_AGENT_V3_NOTIFY_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AGENT_V3_NOTIFY_RECEIVERS 4u    /* receivers whose engine the agent keeps */
#define AGENT_V3_NOTIFY_HELD_INFORMS 2u /* informs waiting for their receiver's engine */

/* Forgets the user, every receiver and every held inform. */
void agent_v3_notify_reset(void);
/* The user of the notifications (name of len bytes); len 0 returns to SNMPv2c notifications. False
 * (nothing changed) when no user of that name exists. */
bool agent_v3_notify_set_user(const uint8_t *name, uint8_t len);
/* True while notifications go as SNMPv3. */
bool agent_v3_notify_enabled(void);
/* Sends the notification PDU (Trap or Inform, request-id set) to ip (4 bytes, network order):port.
 * True when the trap was sent, or the inform sent or held for its receiver's engine. */
bool agent_v3_notify_send(const uint8_t *ip, uint16_t port, const snmp_pdu *pdu, bool inform);
/* Takes a received SNMPv3 message (decoded, data/len as received) from ip:port when it belongs to
 * the notifications: the answer to a discovery probe, or a message of an inform receiver's engine
 * (its Response or Report). True when taken: nothing else is to be done with it. */
bool agent_v3_notify_receive(const uint8_t *data, uint16_t len, snmp_message *msg, const uint8_t *ip, uint16_t port);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_V3_NOTIFY_H */
