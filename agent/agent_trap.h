/* Notifications from the agent to a manager: linkDown (TRAP), linkUp (INFORM) and custom TRAPs /
 * INFORMs, as SNMPv2c (or SNMPv3 once a notification user is set, agent/agent_v3_notify.h), always
 * sent through the TRANS_ETH transport. Informs are tracked in a small table
 * of pending request-ids until the manager's Response, a time-out or a send failure. */
#ifndef VEK_AGENT_AGENT_TRAP_H
#define VEK_AGENT_AGENT_TRAP_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AGENT_MAX_PENDING_INFORMS 5u
#define AGENT_INFORM_TIMEOUT_MS 3000u           /* an entry expires once more than 2999 ms have passed */
#define AGENT_TRAP_DEFAULT_PORT 162u
#define AGENT_TRAP_DEFAULT_NMS_IP "192.168.1.200" /* when the transport knows no manager */
#define AGENT_TRAP_DEFAULT_COMMUNITY "public"
#define AGENT_TRAP_REQUEST_ID_FLOOR 4096u
#define AGENT_TRAP_IP_TEXT_SIZE 16u
#define AGENT_TRAP_OID_LINK_DOWN "1.3.6.1.6.3.1.1.5.3"
#define AGENT_TRAP_OID_LINK_UP "1.3.6.1.6.3.1.1.5.4"

typedef struct agent_inform_entry {
    uint8_t in_use;
    uint32_t request_id;
    uint8_t response_received;
    uint32_t sent_tick; /* millisecond tick of the successful send */
} agent_inform_entry;

/* Pending informs; touched only inside platform_irq_save/restore. */
extern agent_inform_entry g_inform_pending[AGENT_MAX_PENDING_INFORMS];

void agent_trap_init(void);
/* Builds, encodes and sends one notification to dst_ip (dotted text):dst_port (0: 162). */
bool agent_send_v2c_trap_inform(const char *dst_ip, uint16_t dst_port, const char *trap_oid, uint8_t is_inform,
                                uint8_t extra_count, const snmp_varbind *extra);
bool agent_send_v2c_link_down_trap(const char *dst_ip);
bool agent_send_v2c_link_up_inform(const char *dst_ip);
bool agent_send_v2c_link_down_trap_auto(void);
bool agent_send_v2c_link_up_inform_auto(void);
bool agent_send_custom_trap(const char *dst_ip, uint16_t dst_port, const char *trap_oid, uint8_t count,
                            const snmp_varbind *vbs);
bool agent_send_custom_inform(const char *dst_ip, uint16_t dst_port, const char *trap_oid, uint8_t count,
                              const snmp_varbind *vbs);
/* True when a pending inform had this request-id; that entry is released. */
bool agent_trap_match_inform_resp(uint32_t request_id);
/* Releases every pending inform left unanswered for more than 2999 ms; once per main-loop pass. */
void agent_inform_timeout_check(void);
void agent_inform_free(uint8_t index);
/* Current manager address as text (default NMS address, else 192.168.1.200). The buffer is shared
 * and overwritten by the next call. */
const char *agent_trap_get_nms_ip_str(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_TRAP_H */
