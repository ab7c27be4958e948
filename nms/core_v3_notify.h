/* SNMPv3 notifications at the manager: the manager's own engine, the discovery probes sent to it,
 * and the traps and informs that reach the application only when they authenticate.
 *
 * The manager is the authoritative engine of the informs it receives: it has an engine ID of its
 * own (made at random when first needed, so a new one at every start of the process, with engine
 * boots 1 and engine time the seconds since then), answers a discovery probe with a Report that
 * carries it, and keeps each user's inform keys localised to it. A trap's authoritative engine is
 * its sender's: the user's keys for that engine are made when a trap names it and kept, and the
 * sender's clock as authenticated traps show it guards against replays.
 *
 * A notification is delivered only when it authenticates at its user's own security level, for a
 * user that the application added to an agent record of the sender's IP address (any port);
 * anything else is dropped with a WARN line (at most one a second). Everything here runs on the
 * receive thread with the list lock held. */
#ifndef VEK_NMS_CORE_V3_NOTIFY_H
#define VEK_NMS_CORE_V3_NOTIFY_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmpv3_crypto.h"
#include "nms/nms_snmp_core.h"
#include "nms/snmp_adapter.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CORE_V3_NOTIFY_KEY_MAKES_PER_SECOND 4u /* key derivations for trap engines, process-wide */

/* The manager's own engine with its clock now; false when no engine ID could be made (no random
 * bytes from the system). */
bool core_v3_local_engine(snmp_v3_local_engine *out);
/* Localises the user's inform keys to the manager's own engine (at user addition). */
void core_v3_localize_inform_user(snmp_core_v3_user *user);
/* True when a received SNMPv3 message from agent (null: from no agent record) is not the answer
 * to a request of the manager: a discovery probe, an INFORM or a TRAP. */
bool core_v3_is_notification(const snmp_core_agent *agent, const adapter_msg *msg);
/* Handles such a message from ip:port (msg and codec as adapter_decode_snmp_msg filled them): a
 * probe is answered with the manager's engine, an INFORM is checked and acknowledged, a TRAP is
 * checked. True when a notification is to be delivered: trap then holds it. */
bool core_v3_receive_notification(const char *ip, uint16_t port, adapter_msg *msg, snmp_message *codec,
                                  api_snmp_trap *trap);
/* The manager's usmStats counter of a verdict. */
uint32_t core_v3_usm_stat(uint8_t verdict);

#ifdef __cplusplus
}
#endif

#endif
