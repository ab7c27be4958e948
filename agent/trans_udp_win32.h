/* Windows UDP instance of the agent transport: one IPv4 datagram socket with SO_REUSEADDR,
 * SO_BROADCAST and a 1000 ms receive time-out, a critical section that serialises its socket calls,
 * and the receive thread that hands every datagram with its sender to a callback. Winsock is started
 * once per process. */
#ifndef VEK_AGENT_TRANS_UDP_WIN32_H
#define VEK_AGENT_TRANS_UDP_WIN32_H

#include <stdbool.h>
#include <stdint.h>

#include "agent/trans.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TRANS_UDP_WIN32_RECV_BUF_SIZE 1024u    /* receive thread's buffer: the largest message */
#define TRANS_UDP_WIN32_RECV_TIMEOUT_MS 1000u  /* SO_RCVTIMEO; bounds the shutdown latency */

/* The Windows UDP instance is the transport's UDP instance (struct trans_udp_inst). */
typedef trans_udp_inst_t trans_udp_win32_t;

/* Called on the receive thread when its socket is gone (WSAENOTSOCK): rebuilds the transport and
 * returns whether that worked. The instance that called it is destroyed by then. */
typedef bool (*trans_udp_reset_cb)(void *ctx);

/* Starts Winsock once per process; false when it cannot be started. */
bool trans_udp_win32_winsock_ready(void);

/* 1 when a plain bind of a throw-away socket to 0.0.0.0:port fails with WSAEADDRINUSE, else 0. */
int trans_udp_win32_port_in_use(uint16_t port);

trans_udp_win32_t *trans_udp_win32_create(void);
int trans_udp_win32_bind(trans_udp_win32_t *inst, uint16_t port);
int trans_udp_win32_get_bound_port(trans_udp_win32_t *inst);
void trans_udp_win32_set_recv_callback(trans_udp_win32_t *inst, trans_udp_recv_cb cb, void *ctx);
void trans_udp_win32_set_reset_callback(trans_udp_win32_t *inst, trans_udp_reset_cb cb, void *ctx);
int trans_udp_win32_start_recv_thread(trans_udp_win32_t *inst);
void trans_udp_win32_stop_recv_thread(trans_udp_win32_t *inst);
/* Bytes sent, or a negative result code with the Winsock error in *error (when error is given). */
int trans_udp_win32_sendto_bin(trans_udp_win32_t *inst, const uint8_t *ip, uint16_t port, const uint8_t *buf,
                               int32_t len, int *error);
/* Bytes received without waiting, 0 when nothing is pending, negative on failure. src_ip: network
 * order. */
int trans_udp_win32_recvfrom_bin(trans_udp_win32_t *inst, uint8_t *buf, int32_t len, uint32_t *src_ip,
                                 uint16_t *src_port);
void trans_udp_win32_destroy(trans_udp_win32_t *inst);

#ifdef __cplusplus
}

#include <array>

namespace vek::agent::udp_win32 {

/* Where TRANS_ETH goes when its port is taken, in this order. */
inline constexpr std::array<uint16_t, 6> kFallbackPorts{161, 1610, 10161, 20161, 30161, 40161};

/* The port to bind for a requested one: the requested port when in_use says it is free, else the
 * first free port of kFallbackPorts (with the lines that say so), else the requested port anyway. */
uint16_t choose_port(uint16_t requested, bool (*in_use)(uint16_t port));

/* What the receive thread does after a failed receive. */
enum class RecvErrorAction {
    kContinue, /* a time-out, an interruption, an ICMP reset or an oversized datagram */
    kReset,    /* the socket is gone: the transport is rebuilt */
    kExit,     /* any other error ends the thread */
};

/* Decides, and logs, what a receive that failed with the Winsock error `error` leads to; src_ip is
 * the address the failure came from (4 bytes, network order). */
RecvErrorAction on_receive_error(int error, const uint8_t *src_ip);

}  // namespace vek::agent::udp_win32
#endif

#endif /* VEK_AGENT_TRANS_UDP_WIN32_H */
