/* Agent transport: moves raw SNMP datagrams between the agent and its managers.
 *
 * Two transport contexts exist, one per link type: eth_trans_ctx (TRANS_ETH, a UDP socket run by the
 * system's UDP instance and its receive thread) and es_trans_ctx (TRANS_ES, fed by an embedded
 * port through trans_es_irq_handler; no hardware path on desktop systems). Each context has an
 * 8-slot receive ring filled by the receive thread and drained by the agent main loop, a source
 * whitelist, and the current-NMS address (the sender of the latest accepted datagram) that
 * notifications go to. Every queued message also keeps its own sender, so that the answer to a
 * request goes back to whoever sent it (trans_recv_from), whatever arrived in between.
 *
 * Shared state (ring, current NMS, whitelist) is only touched inside platform_irq_save/restore. */
#ifndef VEK_AGENT_TRANS_H
#define VEK_AGENT_TRANS_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Link types and context states ---- */
#define TRANS_ETH 0u
#define TRANS_ES 1u
#define TRANS_TYPE_COUNT 2u

#define TRANS_STATE_STOPPED 0u   /* stopped / not initialised */
#define TRANS_STATE_READY 1u
#define TRANS_STATE_HW_FAILED 2u /* hardware initialisation failed */

#define TRANS_IP_MODE_STATIC 0u
#define TRANS_IP_MODE_AUTO 1u    /* "DHCP" in the start-up printout */

/* ---- Capacities ---- */
#define TRANS_QUEUE_SLOTS 8u
#define TRANS_MAX_MSG_SIZE SNMP_MAX_MSG_SIZE /* 1024 bytes per message */
#define TRANS_IPV4_LEN 4u
#define TRANS_MAX_WHITELIST 8u

/* Called after each successful enqueue (type: TRANS_ETH / TRANS_ES). */
typedef void (*trans_rx_notify_cb)(uint32_t type, const uint8_t *data, uint16_t len);

/* Receive ring. Positions advance modulo TRANS_QUEUE_SLOTS. Each slot also keeps the sender of its
 * message (0.0.0.0:0 for frames without one, such as TRANS_ES frames). */
typedef struct trans_queue {
    uint8_t slots[TRANS_QUEUE_SLOTS][TRANS_MAX_MSG_SIZE];
    uint16_t lens[TRANS_QUEUE_SLOTS];
    uint8_t write_pos;
    uint8_t read_pos;
    uint8_t count;
    uint8_t src_ip[TRANS_QUEUE_SLOTS][TRANS_IPV4_LEN]; /* network byte order */
    uint16_t src_port[TRANS_QUEUE_SLOTS];              /* host order */
} trans_queue;

/* The UDP instance behind TRANS_ETH, the system's (agent/trans_udp_linux.h,
 * agent/trans_udp_win32.h); opaque here. */
typedef struct trans_udp_inst trans_udp_inst_t;

/* Result codes of the UDP instance functions (both systems). */
#define TRANS_UDP_OK 0
#define TRANS_UDP_ERR_BIND (-2)
#define TRANS_UDP_ERR_SEND (-3)
#define TRANS_UDP_ERR_RECV (-4)        /* also: local address unreadable */
#define TRANS_UDP_ERR_BAD_ARG (-5)     /* bad instance or arguments, closed instance */
#define TRANS_UDP_ERR_STATE (-6)       /* already bound / not open */
#define TRANS_UDP_ERR_THREAD (-7)

/* The instance's receive callback: data, len, sender address (4 bytes, network order) and port
 * (host order). */
typedef void (*trans_udp_recv_cb)(void *ctx, const uint8_t *data, int32_t len, const uint8_t *src_ip,
                                  uint16_t src_port);

typedef struct trans_ctx {
    uint32_t type;                 /* TRANS_ETH / TRANS_ES */
    uint32_t state;                /* TRANS_STATE_* */
    uint16_t port;                 /* local UDP port; after binding, the port actually bound */
    trans_queue queue;
    trans_udp_inst_t *udp_inst;    /* null for TRANS_ES and when closed */
    trans_rx_notify_cb rx_notify;  /* null for the agent */
    uint8_t nms_ip[TRANS_IPV4_LEN];/* current NMS, network byte order */
    uint16_t nms_port;             /* current NMS port, host order */
    uint8_t nms_valid;             /* 1 once an accepted request has been seen */
    uint32_t ip_mode;              /* TRANS_IP_MODE_* */
    uint8_t local_ip[TRANS_IPV4_LEN];
    uint8_t gateway[TRANS_IPV4_LEN];
    uint8_t subnet_mask[TRANS_IPV4_LEN];
    uint8_t auto_config_busy;
    uint8_t default_nms_ip[TRANS_IPV4_LEN]; /* used while nms_valid is 0 */
    uint8_t whitelist[TRANS_MAX_WHITELIST][TRANS_IPV4_LEN];
    uint8_t whitelist_count;       /* 0 accepts every source */
} trans_ctx;

/* The two contexts of the agent, exported by name. */
extern trans_ctx eth_trans_ctx;
extern trans_ctx es_trans_ctx;
/* 1 once any context has initialised successfully. */
extern uint8_t g_transinit;

/* ---- Lifecycle ---- */
bool trans_init(uint32_t type, uint16_t port, trans_rx_notify_cb cb, trans_ctx *ctx);
bool trans_cfg_trans(uint32_t type, uint16_t port, trans_ctx *ctx); /* trans_init without rx_notify */
bool trans_start(trans_ctx *ctx);
void trans_stop(trans_ctx *ctx);

/* ---- Data path ---- */
/* Sends one datagram to dst_ip (4 bytes, network order):dst_port. A failed send resets the
 * hardware once and retries. */
bool trans_send(trans_ctx *ctx, const uint8_t *data, uint16_t len, const uint8_t *dst_ip, uint16_t dst_port);
/* One send attempt on the socket. */
bool trans_hw_send(trans_ctx *ctx, const uint8_t *data, uint16_t len, const uint8_t *dst_ip, uint16_t dst_port);
/* Forgets the current NMS, empties the ring and (TRANS_ETH) rebuilds the UDP instance on the same
 * port with a running receive thread. */
bool trans_hw_reset(trans_ctx *ctx);
/* Takes the oldest queued message into out (TRANS_MAX_MSG_SIZE bytes). */
bool trans_recv(trans_ctx *ctx, uint8_t *out, uint16_t *out_len);
/* trans_recv that also reports the message's own sender (either out-pointer may be null).
 * Answers go there, not to the current NMS, which a later datagram may already have moved. */
bool trans_recv_from(trans_ctx *ctx, uint8_t *out, uint16_t *out_len, uint8_t *src_ip, uint16_t *src_port);
/* Blocks until a message is queued on ctx or timeout_ms passes; true when one is queued. */
bool trans_wait(trans_ctx *ctx, uint32_t timeout_ms);

/* ---- Intake ---- */
void trans_eth_irq_handler(trans_ctx *ctx, const uint8_t *data, uint16_t len, const uint8_t *src_ip,
                           uint16_t src_port);
void trans_es_irq_handler(trans_ctx *ctx, const uint8_t *data, uint16_t len, const void *src);
bool trans_queue_enqueue(trans_queue *q, const uint8_t *data, uint16_t len);
/* Receive-thread adapter installed as the UDP instance's callback (ctx is the trans_ctx). */
void trans_linux_recv_cb_adapter(void *ctx, const uint8_t *data, int32_t len, const uint8_t *src_ip,
                                 uint16_t src_port);
/* One non-blocking receive attempt handed to trans_eth_irq_handler, for callers that poll. */
void trans_linux_poll_process(trans_ctx *ctx);

/* ---- Whitelist and addresses ---- */
/* ips: network-order addresses; at most TRANS_MAX_WHITELIST are kept. Takes effect at once for the
 * receive thread. */
void trans_set_nms_whitelist(trans_ctx *ctx, const uint32_t *ips, uint8_t count);
/* The same list on both contexts of the agent. */
void trans_set_nms_whitelist_all(const uint32_t *ips, uint8_t count);
void trans_set_default_nms_ip(trans_ctx *ctx, const uint8_t *ip);
/* Current NMS address (default NMS address while none has been seen), as a copy that stays valid
 * until the next call on the same thread; null for a null context. */
const uint8_t *trans_get_nms_ip(trans_ctx *ctx);
/* Makes ip (4 bytes, network order):port the current NMS. The agent calls it only for the sender of a
 * request that has passed the community or USM check: receiving a datagram moves nothing. */
void trans_set_nms_addr(trans_ctx *ctx, const uint8_t *ip, uint16_t port);
/* Copies the current NMS address and port as one unit; returns nms_valid (false: the default NMS
 * address and port 0 are reported). */
bool trans_get_nms_addr(trans_ctx *ctx, uint8_t *ip, uint16_t *port);
const uint8_t *trans_get_local_ip(trans_ctx *ctx);
bool trans_auto_config_ip(trans_ctx *ctx);

/* ---- Deprecated one-shot senders ---- */
bool trans_send_eth(const uint8_t *data, uint16_t len);
bool trans_send_es(const uint8_t *data, uint16_t len);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_TRANS_H */
