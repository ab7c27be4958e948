/* Linux UDP instance of the agent transport: one IPv4 datagram socket, a wake-up pipe and the
 * receive thread that hands every datagram with its sender to a callback. */
#ifndef VEK_AGENT_TRANS_UDP_LINUX_H
#define VEK_AGENT_TRANS_UDP_LINUX_H

#include <stdint.h>

#include "agent/trans.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TRANS_UDP_RECV_BUF_SIZE 4096u  /* receive thread's stack buffer */
#define TRANS_UDP_SOCK_BUF_SIZE 65536  /* SO_RCVBUF / SO_SNDBUF */
#define TRANS_UDP_POLL_TIMEOUT_MS 200  /* bounds the shutdown latency */

/* The Linux UDP instance is the transport's UDP instance (struct trans_udp_inst). */
typedef trans_udp_inst_t trans_udp_linux_t;

trans_udp_linux_t *trans_udp_linux_create(void);
int trans_udp_linux_bind(trans_udp_linux_t *inst, uint16_t port);
int trans_udp_linux_get_bound_port(trans_udp_linux_t *inst);
int trans_udp_linux_get_fd(trans_udp_linux_t *inst);
void trans_udp_linux_set_recv_callback(trans_udp_linux_t *inst, trans_udp_recv_cb cb, void *ctx);
int trans_udp_linux_start_recv_thread(trans_udp_linux_t *inst);
void trans_udp_linux_stop_recv_thread(trans_udp_linux_t *inst);
int trans_udp_linux_sendto_bin(trans_udp_linux_t *inst, const uint8_t *ip, uint16_t port, const uint8_t *buf,
                               int32_t len);
int trans_udp_linux_sendto(trans_udp_linux_t *inst, const char *ip_text, uint16_t port, const uint8_t *buf,
                           int32_t len);
/* Bytes received, 0 when nothing is pending, negative on failure. src_ip: network order. */
int trans_udp_linux_recvfrom_bin(trans_udp_linux_t *inst, uint8_t *buf, int32_t len, uint32_t *src_ip,
                                 uint16_t *src_port);
void trans_udp_linux_destroy(trans_udp_linux_t *inst);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_TRANS_UDP_LINUX_H */
