/* Network interface layer of the manager library.
 *
 * Owns every UDP socket the manager uses, one receive thread that waits on all of them at once, and
 * the process's single bounded receive queue: each datagram that arrives on any of those sockets is
 * queued with its sender's address. The SNMP core creates its sockets, sends, and takes received
 * datagrams out of the queue only through this layer.
 *
 * Transports are registered as interface kinds: NET_IF_ETH (sockets, used in practice) and NET_IF_ES
 * (reserved; its operations validate, log and report API_SNMP_ERR_NOT_SUPPORTED).
 *
 * Calling order: net_interface_init once; any number of socket, send and queue calls;
 * net_interface_deinit last, after the consumer of the queue has stopped.
 * All operations return api_snmp_err codes unless stated otherwise. */
#ifndef VEK_NMS_NET_INTERFACE_H
#define VEK_NMS_NET_INTERFACE_H

#include <stdint.h>

#include "base/platform.h"
#include "nms/vek_nms_sdk.h"

#ifdef __cplusplus
extern "C" {
#endif

#define NET_IF_ETH 0u             /* socket transport */
#define NET_IF_ES 1u              /* reserved second transport */
#define NET_IF_TYPE_COUNT 2u      /* registry slots, indexed by type */
/* Largest datagram payload: the largest UDP payload over IPv4. Our requests stay within the
 * SNMP_MAX_MSG_SIZE the codec encodes, but a v1/v2c agent does not know that limit and may answer a
 * GET-BULK with more; a smaller buffer would cut such an answer and lose it. */
#define NET_MAX_PACKET_SIZE 65507u
#define NET_IP_TEXT_SIZE 32u      /* sender address text with its terminator */
#define NET_RECV_QUEUE_CAPACITY 100u
#define NET_ETH_POLL_TIMEOUT_MS 100u /* longest wait of one receive round (and for queue room) */
#define NET_ETH_BUSY_POLL_MAX_US 200u /* longest look for the next datagram without sleeping */
#define NET_ETH_RECV_TIMEOUT_MS 1000u
#define NET_INVALID_SOCKET PLATFORM_INVALID_SOCKET

/* One received datagram as it travels through the queue. */
typedef struct net_recv_packet {
    uint8_t data[NET_MAX_PACKET_SIZE]; /* payload; the first len bytes are meaningful */
    uint32_t len;                      /* 1 to NET_MAX_PACKET_SIZE */
    char ip[NET_IP_TEXT_SIZE];         /* sender's IPv4 address, dotted text */
    uint16_t port;                     /* sender's UDP port, host order */
    platform_socket_t sock;            /* the socket it arrived on; NET_INVALID_SOCKET when unknown */
    struct net_recv_packet *next;      /* queue link (queue-internal) */
} net_recv_packet;

/* Transmit one datagram to ip:port. */
typedef api_snmp_err (*net_if_send_fn)(const char *ip, uint16_t port, const uint8_t *data, uint32_t len);
/* Fetch one datagram into buf (size bytes); fills out_len, the sender's address (ip_out, 32 bytes)
 * and port. */
typedef api_snmp_err (*net_if_recv_fn)(uint8_t *buf, uint32_t size, uint32_t *out_len, char *ip_out,
                                       uint16_t *port_out);
/* Release the kind's resources. */
typedef void (*net_if_destroy_fn)(void);

/* One registered interface kind. */
typedef struct net_interface_ops {
    uint32_t type; /* NET_IF_ETH or NET_IF_ES */
    net_if_send_fn send;
    net_if_recv_fn recv;
    net_if_destroy_fn destroy;
    uint16_t port; /* local port the kind claims, 0 for none */
} net_interface_ops;

/* ---- Layer ---- */

/* Starts the layer: platform, queue, ETH kind with its receive thread, ES kind. Idempotent. */
api_snmp_err net_interface_init(void);
/* Stops the receive thread and releases every kind, the queue and its packets. */
void net_interface_deinit(void);
/* Stores a kind in the slot of its type (replacing an earlier registration of that type). */
api_snmp_err net_interface_register(const net_interface_ops *ops);
/* Makes another kind current; the previous kind is destroyed when the type changes. */
api_snmp_err net_interface_set_current_type(uint32_t type);

/* ---- Sockets (ETH only) ---- */

/* New IPv4 UDP socket, watched by the receive thread; NET_INVALID_SOCKET when not initialised, not
 * ETH or failed. */
platform_socket_t net_interface_create_udp_socket(void);
/* Binds sock to port on every local address. */
api_snmp_err net_interface_bind(platform_socket_t sock, uint16_t port);
/* Sends one datagram of 1 to 1024 bytes from sock to ip:port (other kinds ignore sock). */
api_snmp_err net_interface_send_to(platform_socket_t sock, const char *ip, uint16_t port, const uint8_t *data,
                                   uint32_t len);
/* Stops watching sock and closes it. */
void net_interface_close(platform_socket_t sock);

/* ---- Queue ---- */

/* Appends a copy of the packet; API_SNMP_ERR_NO_RESOURCE when 100 packets are queued. */
api_snmp_err net_interface_enqueue(const net_recv_packet *packet);
/* Takes the oldest packet into out, waiting at most timeout_ms; API_SNMP_ERR_TIMEOUT when none came. */
api_snmp_err net_interface_dequeue(net_recv_packet *out, uint32_t timeout_ms);
/* Entry for an interrupt-driven kind: asks the current kind's recv for the datagram in buf (len
 * bytes), then queues it with its sender. */
api_snmp_err net_interface_on_interrupt(uint8_t *buf, uint32_t len);

/* ---- ETH kind ---- */

api_snmp_err net_eth_init(void);
api_snmp_err eth_send(const char *ip, uint16_t port, const uint8_t *data, uint32_t len);
api_snmp_err eth_recv(uint8_t *buf, uint32_t size, uint32_t *out_len, char *ip_out, uint16_t *port_out);
void eth_destroy(void);
void eth_socket_set_init(void);
void eth_socket_set_add(platform_socket_t sock);
void eth_socket_set_remove(platform_socket_t sock);
/* Removes the socket from the set and returns once the receive thread no longer waits on it, so
 * that closing it releases its port at once. */
void eth_socket_unwatch(platform_socket_t sock);
void *eth_interrupt_thread_proc(void *arg);
/* Local port of the ETH kind's dynamic socket; 0 when it is not open. */
uint16_t eth_dynamic_port(void);

/* Socket wrappers: a new IPv4 UDP socket or NET_INVALID_SOCKET; bind to port on the any-address (0
 * or -1); send (bytes sent or -1); close. */
platform_socket_t net_udp_socket_create(void);
int net_udp_bind(platform_socket_t sock, uint16_t port);
int net_udp_sendto(platform_socket_t sock, const char *ip, uint16_t port, const uint8_t *data, uint32_t len);
void net_socket_close(platform_socket_t sock);

/* ---- ES kind (reserved) ---- */

api_snmp_err net_es_init(void);
api_snmp_err es_send(const char *ip, uint16_t port, const uint8_t *data, uint32_t len);
api_snmp_err es_recv(uint8_t *buf, uint32_t size, uint32_t *out_len, char *ip_out, uint16_t *port_out);
void es_destroy(void);

#ifdef __cplusplus
}
#endif

#endif
