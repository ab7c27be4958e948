/* MIB registry: the agent's fixed table of MIB nodes kept in ascending OID order, the OID ordering and
 * OID-to-text helpers used throughout the agent, and the four standard system nodes (snmpEngineID,
 * sysDescr, sysUpTime, sysContact) with their callbacks.
 *
 * No locking: the registry is used from the agent main loop and from application calls of the public
 * API, which the agent keeps on one thread. */
#ifndef VEK_AGENT_MIB_REGISTRY_H
#define VEK_AGENT_MIB_REGISTRY_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Capacities ---- */
#define MIB_MAX_NODES 32u          /* entries of the node table */
#define MIB_OID_TEXT_SIZE 1024u    /* buffer for an OID rendered by oid_compare's debug lines */
#define MIB_SYS_CONTACT_SIZE 300u  /* sysContact text buffer, NUL included */

/* ---- Access modes of a node ---- */
#define MIB_ACCESS_READ_ONLY 0u
#define MIB_ACCESS_READ_WRITE 1u
#define MIB_ACCESS_NOT_ACCESSIBLE 2u

/* ---- MIB status codes (callbacks and the MIB functions return 0 or one of these) ---- */
#define MIB_OK 0
#define MIB_ERR_INVALID_ARG (-2)      /* a callback was given a null varbind */
#define MIB_ERR_NULL_PARAM (-5)       /* a MIB operation was given a null argument */
#define MIB_ERR_NOT_FOUND (-10)       /* no node with that exact OID */
#define MIB_ERR_EMPTY (-11)           /* registry empty, or its first node has no read callback */
#define MIB_ERR_END_OF_MIB_VIEW (-12) /* no registered OID is greater than the one given */
#define MIB_ERR_WRONG_TYPE (-13)      /* value type does not match the node's type */
#define MIB_ERR_TOO_LONG (-15)        /* value longer than the node accepts */
#define MIB_ERR_NO_ACCESS (-16)       /* node not readable (GET) or not writable (SET) */
#define MIB_ERR_NO_CALLBACK (-35)     /* needed callback missing, or the value does not exist yet */
/* Statuses of the subtrees (agent/mib_subtree.h) and of multi-binding SETs: */
#define MIB_ERR_NO_SUCH_INSTANCE (-17)   /* inside a registered subtree, but no such instance */
#define MIB_ERR_BAD_HANDLER (-18)        /* a subtree answered outside its prefix or out of order */
#define MIB_ERR_WRONG_VALUE (-19)        /* value refused by the object */
#define MIB_ERR_WRONG_LENGTH (-20)       /* value of a length the object does not take */
#define MIB_ERR_INCONSISTENT_VALUE (-21) /* value refused in the object's present state */
#define MIB_ERR_UNDO_FAILED (-22)        /* a failed SET could not take back what it had applied */
#define MIB_ERR_GENERAL (-23)            /* any other failure of an object's callback */
#define MIB_ERR_COMMIT_FAILED (-24)      /* a SET binding that passed its check could not be applied */

/* Fills vb's type, value and value_len (never its oid) and returns 0, or returns a negative status. */
typedef int32_t (*mib_read_cb)(void *user_data, snmp_varbind *vb);
/* Applies vb's value and returns 0, or returns a negative status. */
typedef int32_t (*mib_write_cb)(void *user_data, const snmp_varbind *vb);

/* One registered node. An entry whose oid.len is 0 is unused. */
typedef struct mib_node {
    snmp_oid oid;           /* the node's full OID */
    uint8_t type;           /* BER tag of its value; 0 = any tag (nodes registered through the public API) */
    uint32_t access;        /* MIB_ACCESS_* */
    uint32_t poll_interval; /* collection period in milliseconds; 0 = never collected */
    mib_read_cb read;
    mib_write_cb write;
    void *user_data;        /* handed to read/write; owned by the registry: freed with free() on removal */
    const char *name;       /* display name for log lines; not copied, must outlive the node */
} mib_node;

/* Empties the table. */
void mib_registry_init(void);
/* Copies the record into the table at its sorted position. False for null, an unusable OID, a full
 * table or an OID already registered; the table is then unchanged. */
bool mib_registry_add(const mib_node *node);
/* Removes the node with exactly this OID and releases its user_data. */
bool mib_registry_remove(const snmp_oid *oid);
/* The entry whose OID equals oid, or null. */
mib_node *mib_registry_find(const snmp_oid *oid);
/* The entry with the smallest OID strictly greater than oid, or null (end of the MIB view). */
mib_node *mib_registry_find_next(const snmp_oid *oid);
/* The table itself (MIB_MAX_NODES entries, the first *out_count in use). */
mib_node *mib_registry_get_all(uint8_t *out_count);
uint8_t mib_registry_get_count(void);
/* Registers the four system nodes, then the sample device nodes (user_mib_init). */
void mib_registry_init_default_nodes(void);
/* Fills out (oid and value) with the current engine ID through the snmpEngineID node. */
bool mib_registry_get_snmp_engine_id(snmp_varbind *out);

/* -1, 0 or +1; an empty OID (null or length 0) sorts before every other one. */
int32_t oid_compare(const snmp_oid *oid1, const snmp_oid *oid2);
/* Dotted-decimal text; cut (still terminated) when buf is too small. */
void oid_to_string(const snmp_oid *oid, char *buf, uint16_t buf_len);

/* ---- System-node callbacks (user_data is ignored) ---- */
int32_t sys_descr_read(void *user_data, snmp_varbind *vb);
int32_t sys_uptime_read(void *user_data, snmp_varbind *vb);
int32_t sys_contact_read(void *user_data, snmp_varbind *vb);
int32_t sys_contact_write(void *user_data, const snmp_varbind *vb);
int32_t snmp_engine_id_read(void *user_data, snmp_varbind *vb);

#ifdef __cplusplus
}

/* A node record for the library's built-in nodes (no user_data), ready for mib_registry_add. */
mib_node mib_registry_make_node(const char *name, const snmp_oid &oid, uint8_t type, uint32_t access,
                                uint32_t poll, mib_read_cb read, mib_write_cb write);
#endif

#endif /* VEK_AGENT_MIB_REGISTRY_H */
