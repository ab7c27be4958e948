/* SNMP core of the manager library: the agent table, the send path with request identifiers and flow
 * control, the trap listener, callback registration, the receive path that dispatches responses,
 * reports, traps and INFORMs, and the 1 ms tick that retransmits and times out requests.
 *
 * The public API (api_snmp_*) checks arguments and calls the snmp_core_* functions below; the
 * SNMPv3 engine (nms/core_snmpv3.h) works on the SNMPv3 fields of the agent record.
 *
 * Threads and locks:
 * - Every snmp_core_* function may be called from any number of threads at once.
 * - One list lock guards the agent list and every agent's request and SNMPv3 state. The functions
 *   documented "list lock held" expect the caller to hold it (core_list_lock); all others take it
 *   themselves and must be called without it.
 * - The agent index (a cache for address lookups) has its own lock, taken only briefly and only
 *   after the list lock (never the other way round).
 * - Callbacks are never called with a core lock held: outcomes decided under the list lock are
 *   collected and delivered after the lock is released. A callback may therefore call any api
 *   function, including creating and removing agents. Response callbacks run on the receive thread
 *   (answers, reports, decode failures), on the timer thread (time-outs), or on the calling thread
 *   when a send fails locally.
 * - Every request delivers its outcome exactly once. While one is outstanding, further requests to
 *   the same agent are refused with API_SNMP_ERR_IN_PROGRESS. */
#ifndef VEK_NMS_SNMP_CORE_H
#define VEK_NMS_SNMP_CORE_H

#include <stdbool.h>
#include <stdint.h>

#include "base/platform.h"
#include "nms/vek_nms_sdk.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Constants ---- */
#define CORE_AGENT_INDEX_BUCKETS 1024u
#define CORE_AGENT_INDEX_MASK 0x3FFu
#define CORE_DEFAULT_TIMEOUT_MS 3000u /* per-agent request time-out */
#define CORE_DEFAULT_RETRIES 3u       /* retransmissions before a time-out is reported */
#define CORE_FLOW_LIMIT_PER_SECOND 300u
#define CORE_MAX_PACKET_SIZE 1024u
#define CORE_RECV_DEQUEUE_TIMEOUT_MS 1000u
#define CORE_TICKS_PER_SECOND 1000u
#define CORE_TIME_SYNC_CHECK_TICKS 300000u /* every 5 minutes */
#define CORE_V3_ENGINE_ID_SIZE 32u
#define CORE_V3_KEY_SIZE 64u                /* longest localised key (HMAC-SHA-512) */
#define CORE_V3_TIME_WINDOW_S 150u          /* engine information is valid for this long */
#define CORE_V3_LOCAL_BOOTS 1u              /* the manager's own engine: a new engine ID at every start */
#define CORE_V3_AUTH_FAIL_LIMIT 4u          /* the 5th authentication failure disables a user */
#define CORE_V3_DISABLE_SECONDS 600u        /* for 10 minutes */

/* SNMPv3 discovery states. */
#define CORE_V3_NOT_DISCOVERED 0u
#define CORE_V3_DISCOVERY_SENT 1u
#define CORE_V3_DISCOVERED 2u

/* Engine state of an SNMPv3 agent. */
typedef struct snmp_core_v3_engine {
    uint8_t engine_id[CORE_V3_ENGINE_ID_SIZE];
    uint8_t engine_id_len; /* 0 = unknown */
    uint32_t engine_boots;
    uint32_t engine_time;
    int64_t last_sync_time; /* UTC seconds of the last discovery (creation time at first) */
    uint32_t key_boots;     /* boots value for which the users' keys were last made */
    uint8_t discovery_state; /* CORE_V3_* */
    uint32_t discovery_request_id;
} snmp_core_v3_engine;

/* A user's keys localised to an engine other than the agent's discovered one (the engine of its
 * traps, or the manager's own for its informs), with the clock of that engine as authenticated
 * notifications showed it. */
typedef struct snmp_core_v3_notify_keys {
    uint8_t engine_id[CORE_V3_ENGINE_ID_SIZE];
    uint8_t engine_id_len; /* 0 = no keys made */
    uint32_t key_boots;
    uint8_t auth_key[CORE_V3_KEY_SIZE];
    uint8_t auth_key_len;
    uint8_t priv_key[CORE_V3_KEY_SIZE];
    uint8_t priv_key_len;
    uint32_t latest_boots;
    uint32_t latest_time;
    int64_t latest_at; /* UTC seconds when latest_time arrived; 0 = nothing yet */
} snmp_core_v3_notify_keys;

/* One SNMPv3 user of an agent. */
typedef struct snmp_core_v3_user {
    char user_name[API_SNMP_USER_NAME_SIZE];
    uint32_t auth_alg; /* api_snmp_auth_alg */
    uint32_t priv_alg; /* api_snmp_priv_alg */
    uint8_t auth_key[CORE_V3_KEY_SIZE];
    uint8_t auth_key_len;
    uint8_t priv_key[CORE_V3_KEY_SIZE];
    uint8_t priv_key_len;
    uint8_t key_engine_id[CORE_V3_ENGINE_ID_SIZE]; /* the engine the keys above were made for */
    uint8_t key_engine_id_len;                     /* 0 = no keys */
    uint32_t key_engine_boots;
    uint8_t active;
    uint8_t auth_fail_count;
    uint8_t disabled;
    int64_t disabled_until; /* UTC seconds */
    char auth_password[API_SNMP_V3_PASSWORD_SIZE];
    char priv_password[API_SNMP_V3_PASSWORD_SIZE];
    snmp_core_v3_notify_keys trap_keys;   /* for the engine of the agent's traps */
    snmp_core_v3_notify_keys inform_keys; /* for the manager's own engine (informs) */
} snmp_core_v3_user;

/* The command of the agent's outstanding SNMPv3 request (cmd_type 0 = none): held back while the
 * engine is discovered, kept until the request ends so that it can be sent once more after a
 * Report that asks for it (resent 1 then). */
typedef struct snmp_core_v3_pending_cmd {
    uint32_t cmd_type;
    char user_name[API_SNMP_USER_NAME_SIZE];
    api_snmp_varbind varbinds[API_SNMP_MAX_REQUEST_VARBINDS];
    uint8_t count;
    uint8_t non_repeaters;
    uint8_t max_repetitions;
    uint8_t resent;
} snmp_core_v3_pending_cmd;

/* One managed agent, identified by (ip, port). Owned by the core. */
typedef struct snmp_core_agent {
    char ip[API_SNMP_IP_SIZE];
    uint16_t port;
    uint32_t version; /* api_snmp_version */
    char community[API_SNMP_COMMUNITY_SIZE];
    int sock;                 /* the agent's own UDP socket */
    int32_t next_request_id;  /* request-id (v3: msgID) of the next message */
    uint32_t timeout_ms;
    uint32_t retries;
    snmp_core_v3_engine v3_engine;
    snmp_core_v3_user users[MAX_V3_USERS];
    uint8_t user_count; /* active users */
    uint32_t pending_request_id;
    uint32_t last_send_time; /* UTC seconds of the last transmission */
    uint8_t retry_count;
    uint8_t pending; /* 1 while a request is outstanding */
    void *user_data; /* application value of the outstanding request */
    uint8_t last_packet[CORE_MAX_PACKET_SIZE];
    uint32_t last_packet_len; /* 0 = nothing to retransmit */
    uint8_t bulk_non_repeaters;
    uint8_t bulk_max_repetitions;
    snmp_core_v3_pending_cmd v3_pending_cmd;
    struct snmp_core_agent *next; /* list link, newest first */
} snmp_core_agent;

/* ---- Lifecycle ---- */

/* Creates the locks, starts the network layer, the adapter and the receive thread. Idempotent.
 * API_SNMP_OK, or API_SNMP_ERR_INIT_FAILED when the receive thread cannot be started. */
api_snmp_err snmp_core_init(void);
/* Stops the receive thread, frees every agent, closes all sockets, stops the network layer. */
void snmp_core_destroy(void);
/* True between snmp_core_init and snmp_core_destroy. */
bool snmp_core_is_running(void);

/* ---- Agents ---- */

api_snmp_err snmp_core_agent_create(const char *ip, uint16_t port, const api_snmp_agent_config *config);
/* An outstanding request of the agent is dropped without a callback. */
api_snmp_err snmp_core_agent_remove(const char *ip, uint16_t port);
bool snmp_core_agent_exist(const char *ip, uint16_t port);
api_snmp_err snmp_core_agent_get_config(const char *ip, uint16_t port, api_snmp_agent_config *config_out);

/* Number of agents. */
uint32_t snmp_core_get_agent_count(void);
/* Fills up to capacity entries, newest agent first; returns the number written. */
uint32_t snmp_core_get_agent_list(api_snmp_agent_info *entries, uint32_t capacity);
/* Active SNMPv3 users of the agent (0 for an unknown or non-SNMPv3 agent). */
uint32_t snmp_core_get_user_count(const char *ip, uint16_t port);
/* Fills up to capacity entries with the agent's active users in slot order; returns the number written. */
uint32_t snmp_core_get_user_list(const char *ip, uint16_t port, api_snmp_user_info *entries, uint32_t capacity);

/* ---- Requests ---- */

/* GET, GET-NEXT or SET (and GET-BULK with no bulk parameters) of 0 to 10 varbinds to ip:port.
 * API_SNMP_OK when the request was sent (its outcome then reaches the response callback exactly
 * once); API_SNMP_ERR_IN_PROGRESS when the agent still has a request outstanding (nothing sent, no
 * callback); otherwise the refusal's code. */
api_snmp_err snmp_core_send_cmd(uint32_t cmd_type, const char *ip, uint16_t port, const char *user_name,
                                const api_snmp_varbind *varbinds, uint8_t count, void *user_data);
/* GET-BULK with its non-repeaters and max-repetitions; results as snmp_core_send_cmd. */
api_snmp_err snmp_core_send_bulk_cmd(uint32_t cmd_type, const char *ip, uint16_t port, const char *user_name,
                                     uint8_t non_repeaters, uint8_t max_repetitions,
                                     const api_snmp_varbind *varbinds, uint8_t count, void *user_data);
/* Direct entry to the SNMPv3 command flow; results as snmp_core_send_cmd. */
api_snmp_err snmp_core_v3_std_send_cmd(uint32_t cmd_type, const char *ip, uint16_t port, const char *user_name,
                                       const api_snmp_varbind *varbinds, uint8_t count, uint8_t non_repeaters,
                                       uint8_t max_repetitions, void *user_data);
/* True when one more new request may be sent in this calendar second (300 per second, process-wide). */
bool snmp_core_flow_allow(void);

/* ---- Notifications, callbacks, settings ---- */

api_snmp_err snmp_core_start_trap_listener(uint16_t port);
void snmp_core_stop_trap_listener(void);
void snmp_core_register_response_callback(api_snmp_response_cb cb);
void snmp_core_register_trap_callback(api_snmp_trap_cb cb, void *user_data);
void snmp_core_set_log_level(uint32_t level);
api_snmp_err snmp_core_mib_load(const char *path);
/* OID rule: first component 0, 1 or 2; every further component a decimal number of at most 19
 * digits and at most 4294967295. Expects text that already passed the dotted-digits format check;
 * false for null or empty text. */
bool snmp_core_oid_validate(const char *oid);

/* ---- Tick ---- */

/* One millisecond of the tick: once a second (every 1000 ticks) retransmits or times out
 * outstanding requests; every 300000 ticks re-checks SNMPv3 time synchronisation.
 * API_SNMP_ERR_INIT_FAILED when the core is not running, otherwise API_SNMP_OK. */
api_snmp_err core_snmp_1ms_timer_tick(void);
/* The SDK's timer thread: advances the tick by elapsed_ms milliseconds at once, running each check
 * that the step reaches once, and returns the milliseconds until the tick next has work: the next
 * second while a request is outstanding, otherwise the next time-synchronisation check. */
uint32_t core_snmp_timer_advance(uint32_t elapsed_ms);
/* Sleeps at most ms. When the last advance found nothing outstanding, the next request sent ends
 * the sleep; core_snmp_timer_interrupt ends it in any case. */
void core_snmp_timer_sleep(uint32_t ms);
void core_snmp_timer_interrupt(void);

/* ---- Inner operations (used by the core's units and the SNMPv3 engine) ---- */

/* The list lock (a platform mutex; 0 before snmp_core_init). */
platform_mutex_t core_list_lock(void);
/* List lock held. The agent at ip:port, or null. */
snmp_core_agent *core_find_agent_by_addr(const char *ip, uint16_t port);
/* List lock held. Encodes, remembers and sends one request of the agent (flow control first). */
api_snmp_err core_send_raw_packet(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name,
                                  const api_snmp_varbind *varbinds, uint8_t count, void *user_data);
/* List lock held. Logs a failure of the agent's request, ends it and, for a code that reaches the
 * application, queues its failure outcome for the response callback. */
void core_handle_error(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name, uint32_t error,
                       void *user_data);
/* List lock held. Queues a failure outcome (error_status 0xFFFFFFFF) for the response callback. */
void trigger_error_callback(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name, uint32_t error,
                            void *user_data);

/* Receive thread body (started by snmp_core_init). */
void *core_net_recv_thread(void *arg);
/* Dispatches one datagram that came from the agent owning sock (takes the list lock). */
void snmp_core_handle_response(const uint8_t *data, uint32_t len, int sock, void *user_data);

#ifdef __cplusplus
}
#endif

#endif
