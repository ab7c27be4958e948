/* vek_nms_sdk: the SNMP manager library's public interface.
 *
 * An application creates agent contexts (IPv4 address, UDP port, SNMP version, community), adds
 * SNMPv3 users to them and issues GET, GET-NEXT, GET-BULK and SET requests. Every request is
 * answered asynchronously, exactly once, through the registered response callback together with the
 * caller's user data; received TRAP and INFORM notifications go to the trap callback.
 *
 * Calling order: api_snmp_init; register the callbacks; api_snmp_agent_create (and
 * api_snmp_user_add for SNMPv3 agents); optionally api_snmp_start_trap_listener; requests;
 * api_snmp_destroy.
 *
 * Records passed in are copied by the library; callback records belong to the library and are valid
 * only for the time of the call. All text is NUL-terminated 8-bit text (UTF-8 where not ASCII). */
#ifndef VEK_NMS_SDK_H
#define VEK_NMS_SDK_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Limits ---- */
#define API_SNMP_MAX_REQUEST_VARBINDS 10u  /* a request carries 1 to 10 varbinds */
#define API_SNMP_MAX_RESPONSE_VARBINDS 10u /* a response record carries at most 10 varbinds */
#define API_SNMP_MAX_TRAP_VARBINDS 10u     /* at most 10 received trap varbinds are delivered */
#define API_SNMP_TRAP_VARBIND_SLOTS 64u    /* room in a trap record */
#define API_SNMP_OID_SIZE 128u             /* OID text field: 127 characters and the terminator */
#define API_SNMP_VALUE_SIZE 256u           /* varbind value field */
#define API_SNMP_MAX_STRING_LEN 255u       /* longest OCTET STRING accepted for SET */
#define API_SNMP_COMMUNITY_SIZE 64u        /* community field: 63 characters and the terminator */
#define API_SNMP_USER_NAME_SIZE 32u        /* user name field: 31 characters and the terminator */
#define API_SNMP_V3_PASSWORD_SIZE 32u      /* stored passwords are cut to 31 characters */
#define API_SNMP_IP_SIZE 32u               /* IPv4 dotted text field */
#define MAX_V3_USERS 5u                    /* SNMPv3 users per agent */

/* error_status of a response that reports a local failure (time-out, authentication, ...). */
#define API_SNMP_ERROR_STATUS_LOCAL 0xFFFFFFFFu

/* Value text of a received varbind whose type has no api_snmp_type code. */
#define API_SNMP_UNKNOWN_TYPE_TEXT "[不支持类型]"

/* Value texts of the three exception values an SNMPv2c/v3 agent answers in place of a value. */
#define API_SNMP_NO_SUCH_OBJECT_TEXT "noSuchObject"
#define API_SNMP_NO_SUCH_INSTANCE_TEXT "noSuchInstance"
#define API_SNMP_END_OF_MIB_VIEW_TEXT "endOfMibView"

/* Result of every SDK operation (0 = success). api_snmp_error_to_str gives each code's text. */
typedef enum api_snmp_err {
    API_SNMP_OK = 0,
    API_SNMP_ERR_INVALID_PARAM = 1,
    API_SNMP_ERR_AGENT_NOT_FOUND = 2,
    API_SNMP_ERR_USER_NOT_FOUND = 3,
    API_SNMP_ERR_AUTH_FAILED = 4,
    API_SNMP_ERR_ENCRYPT_FAILED = 5,
    API_SNMP_ERR_TIMEOUT = 6,
    API_SNMP_ERR_NETWORK = 7,
    API_SNMP_ERR_INVALID_OID = 8,
    API_SNMP_ERR_MIB_NOT_LOADED = 9,
    API_SNMP_ERR_AGENT_EXISTS = 10,
    API_SNMP_ERR_USER_LIMIT = 11,
    API_SNMP_ERR_USER_EXISTS = 12,
    API_SNMP_ERR_NO_MEMORY = 13,
    API_SNMP_ERR_INVALID_VERSION = 14,
    API_SNMP_ERR_IN_PROGRESS = 15,
    API_SNMP_ERR_NOT_SUPPORTED = 16,
    API_SNMP_ERR_NO_RESOURCE = 17,
    API_SNMP_ERR_NO_DATA = 18,
    API_SNMP_ERR_NET_INTERFACE = 19,
    API_SNMP_ERR_PORT_IN_USE = 20,
    API_SNMP_ERR_INIT_FAILED = 21,
    API_SNMP_ERR_LOCK = 22,
    API_SNMP_ERR_BUFFER_TOO_SMALL = 23,
    API_SNMP_ERR_VERSION_MISMATCH = 24,
    API_SNMP_ERR_ENCODE = 25,
    API_SNMP_ERR_DECODE = 26,
    API_SNMP_ERR_V3_TIME_EXPIRED = 27,
    API_SNMP_ERR_V3_USER_DISABLED = 28,
    API_SNMP_ERR_V3_DECRYPT = 29,
    API_SNMP_ERR_USER_COUNT_LIMIT = 30,
    API_SNMP_ERR_V3_ENGINE_NOT_READY = 31,
    API_SNMP_ERR_INVALID_CMD_TYPE = 32,
    API_SNMP_ERR_NO_ENGINE_ID = 33,
    API_SNMP_ERR_NO_ENGINE_BOOTS = 34
} api_snmp_err;

#define API_SNMP_ERR_MAX 34u /* highest defined api_snmp_err code */

/* SNMP version, as its wire value. */
typedef enum api_snmp_version { API_SNMP_V1 = 0, API_SNMP_V2C = 1, API_SNMP_V3 = 3 } api_snmp_version;

/* The command a request carries and a callback reports. */
typedef enum api_snmp_cmd_type {
    API_SNMP_CMD_GET = 1,
    API_SNMP_CMD_GETNEXT = 2,
    API_SNMP_CMD_SET = 3,
    API_SNMP_CMD_TRAP = 4,     /* a received trap */
    API_SNMP_CMD_RESPONSE = 5, /* a received response, also a received INFORM */
    API_SNMP_CMD_GETBULK = 6,
    API_SNMP_CMD_REPORT = 7 /* a received SNMPv3 report */
} api_snmp_cmd_type;

/* Value type of a varbind (stored in one byte). The codes equal the BER tags except for IpAddress
 * and UInteger32, which have small codes of their own. */
typedef enum api_snmp_type {
    API_SNMP_BER_INTEGER = 0x02,      /* value.i32 */
    API_SNMP_BER_OCTET_STRING = 0x04, /* value.bytes, length in value_len */
    API_SNMP_BER_NULL = 0x05,         /* nothing: value zeroed, value_len 0 */
    API_SNMP_BER_OID = 0x06,          /* value.str: dotted OID text, value_len its length */
    API_SNMP_BER_UINTEGER32 = 0x07,   /* value.u32 */
    API_SNMP_BER_IPADDRESS = 0x0A,    /* value.u32, first octet in the most significant byte */
    API_SNMP_BER_UNKNOWN = 0x24,      /* received type without a code: API_SNMP_UNKNOWN_TYPE_TEXT */
    API_SNMP_BER_COUNTER32 = 0x41,    /* value.u32 */
    API_SNMP_BER_GAUGE32 = 0x42,      /* value.u32 */
    API_SNMP_BER_TIMETICKS = 0x43,    /* value.u32, hundredths of a second (received values only) */
    API_SNMP_BER_COUNTER64 = 0x46,    /* value.u64 */
    /* Exception values (received only): the agent has no value for the OID. value.str holds the
     * exception's text (API_SNMP_NO_SUCH_OBJECT_TEXT ...), value_len its length. */
    API_SNMP_BER_NO_SUCH_OBJECT = 0x80,   /* no object of that name */
    API_SNMP_BER_NO_SUCH_INSTANCE = 0x81, /* the object exists, the instance does not */
    API_SNMP_BER_END_OF_MIB_VIEW = 0x82   /* nothing follows the OID (GET-NEXT, GET-BULK) */
} api_snmp_type;

/* SNMPv3 algorithms. A user is in one of two schemes: the system's own (authentication 1..4,
 * privacy 1..5; the default) or the standard User-based Security Model that standard agents speak
 * (RFC 3414, 3826, 7860; the *_STD_* codes). Both algorithms of a user belong to the same scheme
 * (or are none); api_snmp_user_add refuses a mix. */

/* SNMPv3 authentication algorithm; any other value counts as none when keys are made. */
typedef enum api_snmp_auth_alg {
    API_SNMP_AUTH_NONE = 0,
    API_SNMP_AUTH_MD5 = 1,
    API_SNMP_AUTH_SHA1 = 2,
    API_SNMP_AUTH_SHA256 = 3,
    API_SNMP_AUTH_SHA256FULL = 4, /* SHA-256 with the full-length authentication parameter */
    API_SNMP_AUTH_STD_MD5 = 5,    /* standard HMAC-MD5-96 ("MD5") */
    API_SNMP_AUTH_STD_SHA1 = 6,   /* standard HMAC-SHA-96 ("SHA") */
    API_SNMP_AUTH_STD_SHA224 = 7, /* standard HMAC-SHA-224 ("SHA-224", RFC 7860) */
    API_SNMP_AUTH_STD_SHA256 = 8, /* standard HMAC-SHA-256 ("SHA-256") */
    API_SNMP_AUTH_STD_SHA384 = 9, /* standard HMAC-SHA-384 ("SHA-384") */
    API_SNMP_AUTH_STD_SHA512 = 10 /* standard HMAC-SHA-512 ("SHA-512") */
} api_snmp_auth_alg;

/* SNMPv3 privacy algorithm (the interface's own numbering). */
typedef enum api_snmp_priv_alg {
    API_SNMP_PRIV_NONE = 0,
    API_SNMP_PRIV_DES = 1,
    API_SNMP_PRIV_AES128 = 2,
    API_SNMP_PRIV_3DES = 3,
    API_SNMP_PRIV_AES192 = 4,
    API_SNMP_PRIV_AES256 = 5,
    API_SNMP_PRIV_STD_DES = 6,     /* standard DES-CBC ("DES") */
    API_SNMP_PRIV_STD_AES128 = 7,  /* standard AES-128-CFB ("AES") */
    API_SNMP_PRIV_STD_AES192 = 8,  /* AES-192-CFB, key extended as most managers do ("AES-192") */
    API_SNMP_PRIV_STD_AES256 = 9,  /* AES-256-CFB, likewise ("AES-256") */
    API_SNMP_PRIV_STD_AES192C = 10, /* AES-192-CFB, key extended as many devices do ("AES-192-C") */
    API_SNMP_PRIV_STD_AES256C = 11  /* AES-256-CFB, likewise ("AES-256-C") */
} api_snmp_priv_alg;

/* Value field of a varbind. Integers sit at the start of the field in host byte order. */
typedef union api_snmp_value {
    int32_t i32;                        /* INTEGER */
    uint32_t u32;                       /* UInteger32, IpAddress, Counter32, Gauge32, TimeTicks */
    uint64_t u64;                       /* Counter64 */
    uint8_t bytes[API_SNMP_VALUE_SIZE]; /* OCTET STRING */
    char str[API_SNMP_VALUE_SIZE];      /* OID text, unknown-type and exception texts */
} api_snmp_value;

/* One variable binding; requests pass arrays of them, callbacks receive arrays of them. */
typedef struct api_snmp_varbind {
    char oid[API_SNMP_OID_SIZE]; /* dotted numeric OID text */
    uint8_t type;                /* an api_snmp_type code */
    api_snmp_value value;
    uint16_t value_len; /* length of a string or OID value; 0 otherwise */
} api_snmp_varbind;

/* Agent settings passed to api_snmp_agent_create. */
typedef struct api_snmp_agent_config {
    uint32_t version;                        /* an api_snmp_version */
    char community[API_SNMP_COMMUNITY_SIZE]; /* SNMPv1/v2c community; ignored for SNMPv3 */
} api_snmp_agent_config;

/* SNMPv3 user passed to api_snmp_user_add. The SDK copies the texts; the caller keeps ownership. */
typedef struct api_snmp_v3_user_config {
    char user_name[API_SNMP_USER_NAME_SIZE];
    uint32_t auth_alg;         /* an api_snmp_auth_alg */
    const char *auth_password; /* may be absent when auth_alg is none */
    uint32_t priv_alg;         /* an api_snmp_priv_alg */
    const char *priv_password; /* may be absent when priv_alg is none */
} api_snmp_v3_user_config;

/* Outcome of one request, handed to the response callback (SDK-owned, valid during the call). */
typedef struct api_snmp_response {
    uint32_t request_id; /* request identifier of the answered (or failed) request */
    uint32_t error;      /* an api_snmp_err: API_SNMP_OK for an answer, else the local failure */
    /* SNMP error-status of the answer (0 = noError); API_SNMP_ERROR_STATUS_LOCAL on a local failure */
    uint32_t error_status;
    uint8_t var_count; /* 0 to 10 filled varbinds */
    api_snmp_varbind varbinds[API_SNMP_MAX_RESPONSE_VARBINDS];
} api_snmp_response;

/* A received notification, handed to the trap callback (SDK-owned, valid during the call). */
typedef struct api_snmp_trap {
    uint32_t version;                        /* api_snmp_version of the received message */
    char community[API_SNMP_COMMUNITY_SIZE]; /* agent's community ("public" when none), or SNMPv3 user */
    uint8_t var_count;                       /* 0 to 10 */
    api_snmp_varbind varbinds[API_SNMP_TRAP_VARBIND_SLOTS]; /* the first var_count are filled */
} api_snmp_trap;

/* One entry of api_snmp_get_agent_list. */
typedef struct api_snmp_agent_info {
    char ip[API_SNMP_IP_SIZE];
    uint16_t port;
    uint32_t version;    /* an api_snmp_version */
    uint32_t timeout_ms; /* the agent's request time-out */
    uint32_t retries;    /* the agent's retry count */
} api_snmp_agent_info;

/* One entry of api_snmp_get_user_list. */
typedef struct api_snmp_user_info {
    char user_name[API_SNMP_USER_NAME_SIZE];
    uint32_t auth_alg; /* an api_snmp_auth_alg */
    uint32_t priv_alg; /* an api_snmp_priv_alg */
} api_snmp_user_info;

/* Response callback: ip/port of the agent, user_name the SNMPv3 user of the request ("" for v1/v2c),
 * the command, the outcome and the user data passed with the request. */
typedef void (*api_snmp_response_cb)(const char *ip, uint16_t port, const char *user_name,
                                     api_snmp_cmd_type cmd_type, const api_snmp_response *response,
                                     void *user_data);

/* Trap callback: ip/port of the sender, the notification, an api_snmp_err (always API_SNMP_OK) and
 * the user data given at registration. */
typedef void (*api_snmp_trap_cb)(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                                 void *user_data);

/* ---- Lifecycle ---- */

/* Starts the SDK: core, network layer, receive thread and the 1 ms timer thread. */
void api_snmp_init(void);
/* Stops every SDK thread and releases all agents, users and sockets. */
void api_snmp_destroy(void);

/* ---- Agents and users ---- */

/* Creates the context of the agent at ip:port (version, community copied from config). */
api_snmp_err api_snmp_agent_create(const char *ip, uint16_t port, const api_snmp_agent_config *config);
/* Removes the agent at ip:port; an outstanding request is dropped without a callback. */
api_snmp_err api_snmp_agent_remove(const char *ip, uint16_t port);
/* True when an agent context exists for ip:port. */
bool api_snmp_agent_exist(const char *ip, uint16_t port);
/* Adds an SNMPv3 user (at most MAX_V3_USERS) to the agent at ip:port; the record is copied. */
api_snmp_err api_snmp_user_add(const char *ip, uint16_t port, const api_snmp_v3_user_config *user);
/* Removes the SNMPv3 user user_name from the agent at ip:port. */
api_snmp_err api_snmp_user_remove(const char *ip, uint16_t port, const char *user_name);

/* ---- Notifications, callbacks, settings ---- */

/* Starts listening for TRAP and INFORM notifications on the UDP port (162 by convention). */
api_snmp_err api_snmp_start_trap_listener(uint16_t port);
/* Stops the trap listener and closes its socket. */
void api_snmp_stop_trap_listener(void);
/* Registers the callback that receives every request's outcome; a null callback is refused. */
void api_snmp_register_response_callback(api_snmp_response_cb cb);
/* Registers the callback that receives notifications, with its user data; null is refused. */
void api_snmp_register_trap_callback(api_snmp_trap_cb cb, void *user_data);
/* Sets the SDK's log level, 0 (DEBUG) to 4 (FATAL). */
void api_snmp_set_log_level(uint32_t level);
/* Accepts a MIB file path (no file is read). */
api_snmp_err api_snmp_mib_load(const char *path);

/* ---- Requests (results arrive through the response callback) ---- */

/* Sends a GET for 1 to 10 varbinds to ip:port; user_name selects the SNMPv3 user (may be null). */
api_snmp_err api_snmp_get(const char *ip, uint16_t port, const char *user_name,
                          const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                          void *user_data);
/* Sends a GET-NEXT for 1 to 10 varbinds; arguments as api_snmp_get. */
api_snmp_err api_snmp_get_next(const char *ip, uint16_t port, const char *user_name,
                               const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                               void *user_data);
/* Sends a SET of 1 to 10 typed varbinds; arguments as api_snmp_get. */
api_snmp_err api_snmp_set(const char *ip, uint16_t port, const char *user_name,
                          const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                          void *user_data);
/* Sends a GET-BULK (SNMPv2c/v3 only) with the given non-repeaters and max-repetitions. */
api_snmp_err api_snmp_get_bulk(const char *ip, uint16_t port, const char *user_name, uint8_t non_repeaters,
                               uint8_t max_repetitions, const api_snmp_varbind *varbinds, uint8_t count,
                               uint32_t timeout_ms, void *user_data);

/* ---- Helpers ---- */

/* True when the text is a well-formed OID (first component 0-2, components at most 4294967295). */
bool api_snmp_oid_validate(const char *oid);
/* Fills vb as a GET varbind (type NULL) for the OID. */
api_snmp_err api_snmp_create_get_varbind(const char *oid, api_snmp_varbind *vb);
/* Fills vb as a SET varbind; type_name is s/string, i/int, ip, o/oid or u/uint32 (any case). */
api_snmp_err api_snmp_create_set_varbind(const char *oid, const char *type_name, const char *value,
                                         api_snmp_varbind *vb);
/* Constant text of an api_snmp_err code; unknown codes give "未知错误（invalid error code）". */
const char *api_snmp_error_to_str(uint32_t code);
/* Constant name of an SNMP error-status (0 "success" ... 21 "endOfMibView"; else "unknownError"). */
const char *api_snmp_error_status_to_str(uint32_t status);

/* ---- Listing ---- */

/* Number of agent contexts. */
uint32_t api_snmp_get_agent_count(void);
/* Fills up to capacity entries, newest agent first; returns the number written. */
uint32_t api_snmp_get_agent_list(api_snmp_agent_info *entries, uint32_t capacity);
/* Number of SNMPv3 users of the agent at ip:port (0 for unknown or non-SNMPv3 agents). */
uint32_t api_snmp_get_user_count(const char *ip, uint16_t port);
/* Fills up to capacity user entries of the agent at ip:port in slot order; returns the number written. */
uint32_t api_snmp_get_user_list(const char *ip, uint16_t port, api_snmp_user_info *entries,
                                uint32_t capacity);

#ifdef __cplusplus
}
#endif

#endif
