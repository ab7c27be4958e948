/* vek_agent_sdk: the SNMP agent library's public interface (libvek_agent_sdk_v3_vekcrypto).
 *
 * An application initialises the agent (agent_snmp_init), registers its MIB nodes with read and
 * write callbacks, starts it (agent_snmp_start) and then calls agent_snmp_loop repeatedly from its
 * own thread; every request is handled and every callback runs inside that call. A loop such as
 *     while (running) { agent_snmp_wait(100); agent_snmp_loop(); }
 * answers at once and uses no processor time while idle.
 *
 * All functions must be called from the thread that calls agent_snmp_loop (or while the loop is
 * not running). OIDs are dotted-decimal text ("1.3.6.1.2.1.1.1.0"; one leading '.' is accepted).
 * Text is NUL-terminated 8-bit text. Results are the AGENT_SNMP_* codes below (0 = success). */
#ifndef VEK_AGENT_SDK_H
#define VEK_AGENT_SDK_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Capacities ---- */
#define AGENT_SNMP_OID_SIZE 128u        /* OID text field: 127 characters and the terminator */
#define AGENT_SNMP_VALUE_SIZE 256u      /* value field of agent_snmp_vb */
#define AGENT_SNMP_COMMUNITY_SIZE 64u   /* community field (at most 31 characters are used) */
#define AGENT_SNMP_ENGINE_ID_SIZE 32u   /* engine ID bytes */
#define AGENT_SNMP_USERNAME_SIZE 32u    /* SNMPv3 user name field: 31 characters and the terminator */
#define AGENT_SNMP_PASSWORD_SIZE 64u    /* SNMPv3 password field: 63 characters and the terminator */
#define AGENT_SNMP_MAX_V3_USERS 5u      /* SNMPv3 users the agent keeps */
#define AGENT_SNMP_MAX_WHITELIST 8u     /* manager addresses in the whitelist */
#define AGENT_SNMP_MAX_TRAP_VBS 8u      /* varbinds of one custom trap or inform */
#define AGENT_SNMP_DEFAULT_TRAP_PORT 162u /* destination port used when 0 is given */
#define AGENT_SNMP_MAX_SUBTREES 16u     /* subtrees (tables included) beside the 32 exact nodes */
#define AGENT_SNMP_MAX_TABLE_COLUMNS 64u /* columns of a table registered with agent_snmp_table_register */
#define AGENT_SNMP_SYS_TEXT_MAX 255u    /* characters of sysName and sysLocation */

/* ---- Value types (BER tags) for agent_snmp_vb.type ---- */
#define AGENT_SNMP_TYPE_INTEGER 0x02u
#define AGENT_SNMP_TYPE_OCTET_STRING 0x04u
#define AGENT_SNMP_TYPE_NULL 0x05u
#define AGENT_SNMP_TYPE_OID 0x06u
#define AGENT_SNMP_TYPE_IPADDRESS 0x40u
#define AGENT_SNMP_TYPE_COUNTER32 0x41u
#define AGENT_SNMP_TYPE_GAUGE32 0x42u
#define AGENT_SNMP_TYPE_TIMETICKS 0x43u
#define AGENT_SNMP_TYPE_COUNTER64 0x46u

/* ---- SNMPv3 algorithm codes for agent_snmp_v3_user (the codec's numbering) ----
 * A user is in one of two schemes: the system's own (authentication 1..4, privacy 1..5; the
 * default) or the standard User-based Security Model that standard managers speak (RFC 3414, 3826,
 * 7860; authentication 5..10, privacy 6..11). Both codes of a user belong to the same scheme (or
 * are none), and standard privacy needs standard authentication. */
#define AGENT_SNMP_AUTH_NONE 0u
#define AGENT_SNMP_AUTH_MD5 1u
#define AGENT_SNMP_AUTH_SHA1 2u
#define AGENT_SNMP_AUTH_SHA256 3u       /* 12-byte authentication parameter */
#define AGENT_SNMP_AUTH_SHA256_FULL 4u  /* 32-byte authentication parameter */
#define AGENT_SNMP_PRIV_NONE 0u
#define AGENT_SNMP_PRIV_DES 1u
#define AGENT_SNMP_PRIV_AES128 2u
#define AGENT_SNMP_PRIV_AES192 3u
#define AGENT_SNMP_PRIV_AES256 4u
#define AGENT_SNMP_PRIV_3DES 5u
/* The standard scheme. */
#define AGENT_SNMP_AUTH_STD_MD5 5u     /* HMAC-MD5-96 */
#define AGENT_SNMP_AUTH_STD_SHA1 6u    /* HMAC-SHA-96 */
#define AGENT_SNMP_AUTH_STD_SHA224 7u  /* HMAC-SHA-224 (RFC 7860) */
#define AGENT_SNMP_AUTH_STD_SHA256 8u  /* HMAC-SHA-256 */
#define AGENT_SNMP_AUTH_STD_SHA384 9u  /* HMAC-SHA-384 */
#define AGENT_SNMP_AUTH_STD_SHA512 10u /* HMAC-SHA-512 */
#define AGENT_SNMP_PRIV_STD_DES 6u     /* DES-CBC (RFC 3414) */
#define AGENT_SNMP_PRIV_STD_AES128 7u  /* AES-128-CFB (RFC 3826) */
#define AGENT_SNMP_PRIV_STD_AES192 8u  /* AES-192-CFB, key extended as most managers do ("AES-192") */
#define AGENT_SNMP_PRIV_STD_AES256 9u  /* AES-256-CFB, likewise ("AES-256") */
#define AGENT_SNMP_PRIV_STD_AES192C 10u /* AES-192-CFB, key extended as many devices do ("AES-192-C") */
#define AGENT_SNMP_PRIV_STD_AES256C 11u /* AES-256-CFB, likewise ("AES-256-C") */

/* ---- Result codes (agent_snmp_err_to_str gives each code's text) ---- */
typedef enum agent_snmp_err {
    AGENT_SNMP_OK = 0,                  /* "Success" */
    AGENT_SNMP_ERR_PARAM = 1,           /* "Invalid parameter" */
    AGENT_SNMP_ERR_INIT = 2,            /* "Agent init failed" */
    AGENT_SNMP_ERR_IO = 3,              /* "Network IO error" */
    AGENT_SNMP_ERR_PORT_OCCUPIED = 4,   /* "SNMP port occupied" */
    AGENT_SNMP_ERR_MEMORY = 5,          /* "Memory allocate failed" */
    AGENT_SNMP_ERR_MUTEX = 6,           /* "Mutex lock error" */
    AGENT_SNMP_ERR_BUFFER = 7,          /* "Buffer insufficient" */
    AGENT_SNMP_ERR_OID_INVALID = 8,     /* "OID format invalid" */
    AGENT_SNMP_ERR_OID_EXISTS = 9,      /* "OID already registered" */
    AGENT_SNMP_ERR_MIB_FULL = 10,       /* "MIB node table full" */
    AGENT_SNMP_ERR_V3_USER_DUP = 11,    /* "V3 username duplicate" */
    AGENT_SNMP_ERR_V3_USER_FULL = 12,   /* "V3 user table full" */
    AGENT_SNMP_ERR_V3_USER_NOT_FOUND = 13, /* "V3 user not found" */
    AGENT_SNMP_ERR_AUTH_KEY = 14,       /* "Auth key generate fail" */
    AGENT_SNMP_ERR_CRYPTO = 15,         /* "Encrypt/Decrypt failed" */
    AGENT_SNMP_ERR_TIME_DESYNC = 16,    /* "V3 engine time desync" */
    AGENT_SNMP_ERR_TARGET_FULL = 17,    /* "Trap target list full" */
    AGENT_SNMP_ERR_TRAP_OVERFLOW = 18,  /* "Trap send queue overflow" */
    AGENT_SNMP_ERR_BER_ENCODE = 19,     /* "SNMP BER encode error" */
    AGENT_SNMP_ERR_BER_DECODE = 20      /* "SNMP BER decode error" */
} agent_snmp_err;

/* ---- States reported by agent_snmp_get_state ---- */
#define AGENT_SNMP_STATE_UNINIT 0
#define AGENT_SNMP_STATE_INIT 1
#define AGENT_SNMP_STATE_RUNNING 2

/* One variable binding exchanged with the callbacks and used for custom notifications. */
typedef struct agent_snmp_vb {
    char oid[AGENT_SNMP_OID_SIZE];      /* dotted-decimal OID text, NUL-terminated */
    uint8_t type;                       /* BER tag of the value (AGENT_SNMP_TYPE_*) */
    union {
        uint32_t u32;                   /* INTEGER (as its 32 bits), Counter32, Gauge32, TimeTicks */
        int32_t i32;                    /* INTEGER read as signed */
        uint64_t u64;                   /* Counter64 */
        uint8_t bytes[AGENT_SNMP_VALUE_SIZE]; /* OCTET STRING, IpAddress, OID and other raw values;
                                         * an OID value is its dotted-decimal text */
    } value;
    uint16_t len;                       /* number of value bytes (at most 256) */
} agent_snmp_vb;

/* Agent configuration given to agent_snmp_init. */
typedef struct agent_snmp_cfg {
    char ro_community[AGENT_SNMP_COMMUNITY_SIZE]; /* read-only community (at most 31 characters) */
    char rw_community[AGENT_SNMP_COMMUNITY_SIZE]; /* read-write community (at most 31 characters) */
    uint8_t engine_id[AGENT_SNMP_ENGINE_ID_SIZE]; /* local SNMPv3 engine ID */
    uint16_t engine_id_len;             /* 1 .. 32 (0 leaves the agent uninitialised) */
    uint16_t port;                      /* UDP port the agent listens on (normally 161) */
    uint32_t poll_period;               /* milliseconds between collection runs */
    uint32_t log_level;                 /* 0 DEBUG, 1 INFO, 2 WARN, 3 ERROR, 4 FATAL */
} agent_snmp_cfg;

/* One SNMPv3 user. Passwords are never returned by agent_snmp_v3_user_get. */
typedef struct agent_snmp_v3_user {
    char username[AGENT_SNMP_USERNAME_SIZE]; /* at most 31 characters */
    uint8_t auth_proto;                 /* AGENT_SNMP_AUTH_* */
    char auth_pass[AGENT_SNMP_PASSWORD_SIZE]; /* at most 63 characters */
    uint8_t priv_proto;                 /* AGENT_SNMP_PRIV_* */
    char priv_pass[AGENT_SNMP_PASSWORD_SIZE]; /* at most 63 characters */
} agent_snmp_v3_user;

/* Read and write callback of a MIB node. The library passes the same record as in and out: a read
 * callback fills type, value and len (oid is already set); a write callback reads them.
 * Return 0 for success, anything else for failure. */
typedef int32_t (*agent_snmp_mib_cb)(agent_snmp_vb *in, agent_snmp_vb *out, void *user_ctx);

/* ---- Lifecycle ---- */

/* Initialise the agent from cfg: 0; 1 for a null cfg or port 0; 2 if the agent is already
 * initialised; 4 when the UDP port cannot be bound (the agent then stays uninitialised, so that
 * agent_snmp_init may be called again, for example with another port). */
int32_t agent_snmp_init(const agent_snmp_cfg *cfg);
/* Start the transports and timers: 0; 1 if already running. */
int32_t agent_snmp_start(void);
/* Stop the agent if it is running; configuration, nodes and users are kept. */
void agent_snmp_stop(void);
/* Same as agent_snmp_stop. */
void agent_snmp_deinit(void);
/* One pass of the main loop: inform time-outs, at most one request answered, collection. */
void agent_snmp_loop(void);
/* Block until a request is queued or timeout_ms pass; true when one is queued. Uses no processor
 * time while it waits; a stopped agent just waits out the time and returns false. */
bool agent_snmp_wait(uint32_t timeout_ms);
/* AGENT_SNMP_STATE_RUNNING, AGENT_SNMP_STATE_INIT or AGENT_SNMP_STATE_UNINIT. */
int32_t agent_snmp_get_state(void);
/* Minimum level of the lines the library logs (0 DEBUG .. 4 FATAL). */
void agent_snmp_set_log_level(uint8_t level);

/* ---- MIB nodes ---- */

/* Register a node with its callbacks (at least one). The oid text is not copied: it must stay
 * valid while the node is registered. The node accepts a SET of any value type: the write callback
 * judges the value (non-zero refuses it). 0, 1, 5, 8, 9 (registered already) or 10 (table full). */
int32_t agent_snmp_mib_register(const char *oid, int32_t writable, agent_snmp_mib_cb read_cb,
                                agent_snmp_mib_cb write_cb, uint32_t poll_interval, void *user_ctx);
/* Remove a node: 0; 1 for null or empty text; 8 for invalid text or an unregistered OID. */
int32_t agent_snmp_mib_unregister(const char *oid);
/* Push vb as the current value snapshot of the registered node named by vb->oid. */
void agent_snmp_mib_refresh(const agent_snmp_vb *vb);
/* Number of registered nodes, the library's own included. */
uint32_t agent_snmp_mib_get_count(void);
/* Whether oid is valid dotted-decimal OID text. */
bool agent_snmp_oid_validate(const char *oid);

/* ---- Subtrees and tables ----
 * A subtree serves every instance under an OID prefix through callbacks, for objects that come and
 * go (table rows) or are too many to register one by one. GET, GET-NEXT, GET-BULK and SET see the
 * exact nodes and the subtrees as one MIB view in OID order; where both serve an OID the exact node
 * answers, and between nested subtrees the one with the longer prefix. The library's own groups
 * (system group beyond sysDescr, sysUpTime and sysContact; snmp group counters) step aside for an
 * application subtree registered at or above their prefix. A SET changes all of its bindings or
 * none: every binding is checked first, then committed in order, and a failed commit takes back the
 * ones before it. Callbacks run inside agent_snmp_loop and must not register or unregister. */

/* Results of subtree and table callbacks; any other non-zero value is a general failure. */
#define AGENT_SNMP_CB_OK 0
#define AGENT_SNMP_CB_NO_SUCH (-1)       /* no such instance / none after it / cannot be created */
#define AGENT_SNMP_CB_NOT_WRITABLE (-2)  /* answered with notWritable */
#define AGENT_SNMP_CB_WRONG_TYPE (-3)    /* wrongType */
#define AGENT_SNMP_CB_WRONG_LENGTH (-4)  /* wrongLength */
#define AGENT_SNMP_CB_WRONG_VALUE (-5)   /* wrongValue */
#define AGENT_SNMP_CB_INCONSISTENT (-6)  /* inconsistentValue: refused in the present state */

/* A subtree callback; vb->oid is dotted text without a leading '.'. */
typedef int32_t (*agent_snmp_subtree_cb)(agent_snmp_vb *vb, void *user_ctx);

/* The callbacks of a subtree (copied at registration). get and get_next are required. */
typedef struct agent_snmp_subtree_ops {
    /* vb->oid names an instance under the prefix: fill type, value and len, or AGENT_SNMP_CB_NO_SUCH. */
    agent_snmp_subtree_cb get;
    /* vb->oid is the prefix or an OID under it: replace it with the first instance after it (under
     * the prefix, greater than the OID given) and fill the value, or AGENT_SNMP_CB_NO_SUCH when none
     * follows. An answer outside the prefix or not greater is refused with genErr. */
    agent_snmp_subtree_cb get_next;
    /* SET, first phase: whether vb would be taken (change nothing). Null: the subtree is read-only. */
    agent_snmp_subtree_cb check;
    /* SET, second phase: apply vb. Null: the subtree is read-only. */
    agent_snmp_subtree_cb commit;
    /* Take back a commit when a later binding of the same SET fails: vb holds the value read before
     * the commit (type AGENT_SNMP_TYPE_NULL when there was none, e.g. a created row). Null: the
     * library commits the earlier value again. */
    agent_snmp_subtree_cb undo;
} agent_snmp_subtree_ops;

/* Register a subtree under prefix (one leading '.' accepted; the text is not kept): 0; 1 for null
 * arguments or a missing get/get_next; 5; 8 invalid prefix; 9 a subtree with this prefix exists;
 * 10 when AGENT_SNMP_MAX_SUBTREES are registered. */
int32_t agent_snmp_subtree_register(const char *prefix, const agent_snmp_subtree_ops *ops, void *user_ctx);
/* Remove a subtree or table: 0; 1 for null or empty text; 8 invalid text or no such subtree. */
int32_t agent_snmp_subtree_unregister(const char *prefix);
/* Number of subtrees and tables the application registered. */
uint32_t agent_snmp_subtree_get_count(void);

/* Index kinds of agent_snmp_table_register. */
#define AGENT_SNMP_INDEX_INTEGER 0u     /* <entry>.<column>.<n>: one sub-identifier */
#define AGENT_SNMP_INDEX_IPV4 1u        /* <entry>.<column>.<a>.<b>.<c>.<d>; index = a<<24|b<<16|c<<8|d */

/* What a row callback is asked to do. */
#define AGENT_SNMP_ROW_GET 0u     /* read `column` of the row *index (vb->oid names the instance) */
#define AGENT_SNMP_ROW_NEXT 1u    /* find the first row at or after *index that has a value in
                                   * `column`, set *index to it and read the value (vb->oid is empty);
                                   * AGENT_SNMP_CB_NO_SUCH when none: the walk goes on to the next column */
#define AGENT_SNMP_ROW_CHECK 2u   /* SET, first phase: whether vb would be taken for `column` of *index */
#define AGENT_SNMP_ROW_COMMIT 3u  /* SET, second phase: apply vb */
#define AGENT_SNMP_ROW_UNDO 4u    /* take back a commit: vb holds the earlier value (type NULL: none) */

/* The one callback of a table: op is AGENT_SNMP_ROW_*, column counts from 1. Returns AGENT_SNMP_CB_*. */
typedef int32_t (*agent_snmp_row_cb)(uint32_t op, uint32_t *index, uint32_t column, agent_snmp_vb *vb,
                                     void *user_ctx);

/* Register a table under its entry OID (e.g. "1.3.6.1.2.1.2.2.1" for ifEntry) with columns
 * 1..columns (at most 64); bit c-1 of writable_columns marks column c writable, and a SET of any
 * other column is answered with notWritable without calling the callback. Unregister it with
 * agent_snmp_subtree_unregister(entry_oid). Results as agent_snmp_subtree_register; 1 also for
 * 0 or more than 64 columns, writable bits beyond the last column or an unknown index kind. */
int32_t agent_snmp_table_register(const char *entry_oid, uint32_t index_kind, uint32_t columns,
                                  uint64_t writable_columns, agent_snmp_row_cb row_cb, void *user_ctx);

/* ---- The system group (served by the library unless the application registers its own) ---- */

/* sysObjectID.0 (default 1.3.6.1.4.1.12345): 0; 1 for null; 8 invalid or fewer than 2 components. */
int32_t agent_snmp_set_sys_object_id(const char *oid);
/* sysName.0 and sysLocation.0 (default empty; managers may SET them with the read-write community):
 * 0; 1 for null or more than AGENT_SNMP_SYS_TEXT_MAX characters. */
int32_t agent_snmp_set_sys_name(const char *name);
int32_t agent_snmp_set_sys_location(const char *location);
/* sysServices.0 (default 72: layers 4 and 7): 0; 1 above 127. */
int32_t agent_snmp_set_sys_services(uint32_t services);

/* ---- Identity ---- */

/* Replace the local engine ID (1 .. 32 bytes) and localise every user's keys to it: 0, or 1. */
int32_t agent_snmp_set_engine_id(const uint8_t *id, uint8_t len);
/* SNMPv3 engine boots. Every start of the agent is a new boot: engine boots grows by one and engine
 * time starts again at 0, so that no message of an earlier run is accepted again. For that to hold
 * across restarts of the program, the application keeps the boots value somewhere that survives
 * them: after agent_snmp_init and before agent_snmp_start it hands in the value it kept, and after
 * agent_snmp_start it keeps agent_snmp_get_engine_boots() (the start uses the value handed in plus
 * one; without one it starts from 0 every time).
 * Hand in the boots value of the previous start: 0, or 1 while running or before initialisation. */
int32_t agent_snmp_set_engine_boots(uint32_t last_boots);
/* Engine boots of the current start (the value to keep for the next one). */
uint32_t agent_snmp_get_engine_boots(void);
/* Copy the engine ID into buf: its length, or 0 if buf is null or smaller than the ID. */
uint8_t agent_snmp_get_engine_id(uint8_t *buf, uint8_t buf_size);
/* Copy both communities (cut to size - 1, NUL-terminated): 0, or 1 if either buffer is null. */
int32_t agent_snmp_get_community(char *ro, uint8_t ro_size, char *rw, uint8_t rw_size);

/* ---- SNMPv3 users ---- */

/* Add an enabled user (its keys are localised to the local engine at once, or at the next start
 * when the agent is stopped): 0; 1 for null, an empty name, an unknown algorithm code or codes of
 * two schemes (or standard privacy without authentication); 11 duplicate name; 12 table full. */
int32_t agent_snmp_v3_user_add(const agent_snmp_v3_user *u);
/* Remove a user: 0; 1 for null or empty; 13 unknown. */
int32_t agent_snmp_v3_user_del(const char *name);
/* Name and algorithm codes of a user (passwords are left empty): 0; 1; 13 unknown. */
int32_t agent_snmp_v3_user_get(const char *name, agent_snmp_v3_user *out);
/* Number of users. */
uint32_t agent_snmp_v3_get_count(void);

/* ---- Notifications ---- */

/* Send an SNMPv2 trap (SNMPv2c, or SNMPv3: agent_snmp_set_notify_user) with trap_oid and up to 8 varbinds to dst_ip:dst_port (null dst_ip = the
 * current manager, port 0 = 162): 0; 1 bad arguments; 8 invalid varbind OID; 18 send failed. */
int32_t agent_snmp_trap_custom(const char *dst_ip, uint16_t dst_port, const char *trap_oid,
                               const agent_snmp_vb *vbs, uint8_t count);
/* Same as agent_snmp_trap_custom, sent as an INFORM that the agent tracks until acknowledged. */
int32_t agent_snmp_inform_custom(const char *dst_ip, uint16_t dst_port, const char *trap_oid,
                                 const agent_snmp_vb *vbs, uint8_t count);
/* Send every trap and inform (linkDown, linkUp and custom) as SNMPv3 with the user called name, at
 * that user's own security level and in its scheme: a trap with the agent's own engine ID, boots and
 * time (a standard receiver localises the user to the agent's engine ID), an inform after asking
 * its receiver for its engine (the first inform to a receiver waits for that answer). A null or
 * empty name returns to SNMPv2c notifications, the default: 0; 13 when no user of that name exists
 * (nothing changes). */
int32_t agent_snmp_set_notify_user(const char *name);

/* ---- Manager whitelist (IPv4 addresses in network byte order; empty list = every manager) ---- */

/* Add an address (takes effect at once): 0; 1 for null; 17 when 8 entries exist. */
int32_t agent_snmp_whitelist_add(const uint32_t *ip);
/* Remove an address: 0; 1 for null, an empty list or an address not present. */
int32_t agent_snmp_whitelist_remove(const uint32_t *ip);
/* Empty the list (every manager is accepted again): 0. */
int32_t agent_snmp_whitelist_clear(void);
/* Number of addresses in the list. */
uint32_t agent_snmp_whitelist_get_count(void);

/* Text of a result code; "Unknown error" for any other value. */
const char *agent_snmp_err_to_str(int32_t err);

/* ---- Records exported by the library (layouts are internal to the library) ---- */

struct agent_config;
struct trans_ctx;
struct snmp_v3_user_mgr;
/* The agent's configuration, engine identity and engine clock. */
extern struct agent_config agent_cfg;
/* Transport contexts of the main (TRANS_ETH) and the secondary (TRANS_ES) UDP port. */
extern struct trans_ctx eth_trans_ctx;
extern struct trans_ctx es_trans_ctx;
/* The SNMPv3 user table. */
extern struct snmp_v3_user_mgr g_snmpv3_user_mgr;

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_SDK_H */
