/* Agent core: holds the configuration, initialises and starts the other agent modules, runs the main
 * loop the application calls repeatedly, and turns each received SNMP message into its answer.
 *
 * v1/v2c requests pass the community check and go to the MIB layer; SNMPv3 requests pass the USM
 * checks against the agent's own engine (agent/agent_usm.h) before the MIB layer runs them, and a
 * request that fails them is answered with a Report instead. Responses to pending informs are matched and end
 * those informs. Every answer goes back to the address and port its request came from.
 *
 * Everything runs on the application's thread inside agent_main_loop, except the once-a-second
 * engine-time callback and the transport receive threads, which share state with the loop only
 * inside platform_irq_save/platform_irq_restore. */
#ifndef VEK_AGENT_AGENT_H
#define VEK_AGENT_AGENT_H

#include <stdbool.h>
#include <stdint.h>

#include "agent/agent_config.h"
#include "agent/trans.h"
#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AGENT_MAX_MSG_CTX 4u  /* requests in flight */
#define AGENT_NO_CONTEXT 255u /* agent_alloc_context: every context is in use */
#define AGENT_BANNER_WIDTH 40u

/* One request being answered. The decoded message is edited in place into its response. */
typedef struct agent_msg_ctx {
    snmp_message msg;
    uint32_t trans_type; /* TRANS_ETH / TRANS_ES: where the request came from */
    uint8_t in_use;
    trans_ctx *transport;           /* the transport context of trans_type */
    snmp_v3_user *v3_user;          /* the USM user that authenticated it (SNMPv3 only) */
    uint8_t src_ip[TRANS_IPV4_LEN]; /* sender of the request, network order */
    uint16_t src_port;              /* sender's port, host order */
    uint8_t src_valid;              /* 1 when the sender is known: the answer goes there */
    uint8_t bulk_head;              /* GETBULK answer: bindings before the repetition rows */
    uint8_t bulk_row;               /* GETBULK answer: bindings per repetition row (0: none) */
} agent_msg_ctx;

/* Run state (exported module records). */
extern uint8_t is_running;      /* 1 between agent_start and agent_stop */
extern uint32_t last_poll_time; /* millisecond tick of the last collection run */
extern agent_msg_ctx msg_contexts[AGENT_MAX_MSG_CTX];

/* Not running, no collection yet, every context free, agent_cfg and both transports zeroed (a
 * transport still open is closed first). */
void agent_init_self(void);
/* Full initialisation from cfg (copied into agent_cfg): platform, notifications, MIB, transports,
 * whitelist, SNMPv3 users. */
void agent_init(const agent_config *cfg);
void agent_start(void);
void agent_stop(void);

/* One pass: inform time-outs, at most one received message, the engine clock's mirror, collection. */
void agent_main_loop(void);
/* Takes at most one message from the TRANS_ETH queue and processes it. */
void agent_recv_nms_msg_loop(void);
/* Processes one raw message whose sender is not known (the answer goes to the current manager). */
void agent_nms_snmp_msg(uint32_t trans_type, const uint8_t *data, uint16_t len);
/* Processes one raw message from src_ip (4 bytes, network order):src_port; the answer goes there. */
void agent_nms_snmp_msg_from(uint32_t trans_type, const uint8_t *data, uint16_t len, const uint8_t *src_ip,
                             uint16_t src_port);

/* Context index 0..3, or AGENT_NO_CONTEXT. The message is cleared and its msg_id stamped. */
uint8_t agent_alloc_context(void);
void agent_free_context(uint8_t index);

/* Executes the PDU of a request context and answers it (indices above 3 are ignored). */
void agent_func_mib_proc(uint8_t index);
/* Encodes the context's message as the response to a request of operation op, sends it and frees
 * the context. */
void agent_func_mib_response(uint32_t op, uint8_t index);
/* v1/v2c response into out (SNMP_MAX_MSG_SIZE bytes). */
bool agent_encode_v1v2_response(const snmp_message *msg, uint8_t *out, uint16_t *out_len);
/* Sends an encoded response to the current manager of the transport. */
void agent_nms_msg_response(uint32_t trans_type, const uint8_t *data, uint16_t len);
/* Sends an encoded response to dst_ip (4 bytes, network order):dst_port. */
void agent_nms_msg_response_to(uint32_t trans_type, const uint8_t *data, uint16_t len, const uint8_t *dst_ip,
                               uint16_t dst_port);

/* Platform timer callback: refreshes the engine clock's mirror in agent_cfg. */
void snmp_v3_engine_time_1ms_cb(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_H */
