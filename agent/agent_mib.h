/* MIB access: the four SNMP data operations on single variable bindings (GET, GETNEXT, GETBULK, SET)
 * over the node registry, the periodic collection into the snapshot table, and the hook through which
 * the device layer pushes collected values.
 *
 * Requests are always answered from the nodes' read callbacks, never from the snapshot table. Results
 * are the MIB status codes of agent/mib_registry.h. No locking: the agent calls this layer from one
 * thread. */
#ifndef VEK_AGENT_AGENT_MIB_H
#define VEK_AGENT_AGENT_MIB_H

#include <stdbool.h>
#include <stdint.h>

#include "agent/mib_registry.h"
#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- SNMP error-status values the request processor answers with ---- */
#define MIB_ERRSTAT_NO_ERROR 0u
#define MIB_ERRSTAT_NO_SUCH_NAME 2u
#define MIB_ERRSTAT_BAD_VALUE 3u
#define MIB_ERRSTAT_GEN_ERR 5u
#define MIB_ERRSTAT_NO_ACCESS 6u
#define MIB_ERRSTAT_WRONG_TYPE 7u
#define MIB_ERRSTAT_WRONG_LENGTH 8u
#define MIB_ERRSTAT_WRONG_VALUE 10u
#define MIB_ERRSTAT_NO_CREATION 11u
#define MIB_ERRSTAT_INCONSISTENT_VALUE 12u
#define MIB_ERRSTAT_COMMIT_FAILED 14u
#define MIB_ERRSTAT_UNDO_FAILED 15u
#define MIB_ERRSTAT_NOT_WRITABLE 17u

/* One snapshot slot per registry position: the last value read or written, and whether the last
 * collection attempt succeeded. */
typedef struct agent_mib_db_entry {
    snmp_varbind vb;
    uint8_t valid; /* 1 = vb holds the last value read or written; 0 = the last collection failed */
} agent_mib_db_entry;

/* Snapshot table and the tick at which each registry position was last collected by
 * agent_mib_coll_process (exported module records). */
extern agent_mib_db_entry g_mib_db[MIB_MAX_NODES];
extern uint32_t g_last_poll_time[MIB_MAX_NODES];

/* Empties the snapshot, then builds the registry with the system and sample nodes and the subtree
 * table with the library's standard groups. */
void agent_mib_init(void);

/* Reads the node with exactly this OID into vb (vb's oid is left as the caller set it). */
int32_t agent_mib_get(const snmp_oid *oid, snmp_varbind *vb);
/* Reads the first node after oid: its OID goes into out_oid and out_vb->oid. MIB_ERR_END_OF_MIB_VIEW
 * when no node follows; a following node that cannot be read ends the walk with its error. */
int32_t agent_mib_get_next(const snmp_oid *oid, snmp_oid *out_oid, snmp_varbind *out_vb);
/* GETBULK over req (req_cnt bindings) into out_vars (room for SNMP_MAX_VARBINDS): the first
 * non_repeaters bindings walked one step each, then up to max_repetitions rows of one step for each
 * repeating binding, in request order, each walking on from its own previous name. Only whole rows
 * are emitted; a row in which every repeating binding has reached the end of the MIB view is the
 * last. A position at the end of the view is answered with its last name (for a non-repeater: the
 * requested one) and the endOfMibView exception. */
int32_t agent_mib_get_bulk(const snmp_varbind *req, uint8_t req_cnt, uint8_t non_repeaters, uint8_t max_repetitions,
                           snmp_varbind *out_vars, uint8_t *out_count);
/* Writes vb into the node with exactly this OID; on success the value also becomes its snapshot. A
 * node of type 0 accepts any tag (its write callback judges the value). An OID that no exact node
 * holds goes to the subtree that serves it (check, then commit). */
int32_t agent_mib_set(const snmp_oid *oid, const snmp_varbind *vb);
/* A SET of `count` bindings as one: every binding is checked first (object present, writable, value
 * acceptable), then each is committed in order; when a commit fails, the ones before it are taken
 * back in reverse order (an exact node gets its earlier value written again). MIB_OK, or the status
 * of the binding whose position (0-based) goes into *failed; MIB_ERR_UNDO_FAILED when taking back
 * failed as well. */
int32_t agent_mib_set_request(const snmp_varbind *vbs, uint8_t count, uint8_t *failed);

/* Stores vb as the snapshot of the node with this OID; an unregistered OID is ignored. */
void agent_mib_update(const snmp_oid *oid, const snmp_varbind *vb);
/* Reads every readable node into the snapshot table. */
void agent_mib_update_all(void);
/* Reads the nodes whose poll_interval has elapsed into the snapshot table. */
void agent_mib_coll_process(void);
/* Asks the device layer (TPS) for its collected values. */
void agent_mib_collect_all(void);
/* agent_mib_collect_all, then agent_mib_update_all. */
void agent_mib_coll_loop(void);
/* Registers agent_mib_coll_callback_response with the device layer. */
void agent_mib_coll_callback_reg(void);
void agent_mib_coll_callback_response(const snmp_oid *oid, const snmp_varbind *vb);

/* Reads the node with the smallest OID: its OID into out_oid (and out_vb->oid), its value into out_vb. */
int32_t agent_mib_get_first(snmp_oid *out_oid, snmp_varbind *out_vb);
uint8_t agent_mib_get_total_nodes(void);

/* ---- Helpers for the request processor ---- */
/* Turns vb into the endOfMibView exception for oid (type 0x82, no value). */
void agent_mib_set_end_of_mib_view(snmp_varbind *vb, const snmp_oid *oid);
/* Error-status of a failed GETNEXT (status from agent_mib_get_next): genErr for a subtree that broke
 * the order of the view; otherwise v1 noSuchName for every failure; v2c/v3 noError at the end of the
 * MIB view (the binding carries endOfMibView, see agent_mib_set_end_of_mib_view), genErr otherwise. */
uint32_t agent_mib_get_next_error_status(int32_t mib_status, uint32_t version);
/* SNMPv2 error-status of a failed SET (status from agent_mib_set): noCreation, notWritable, wrongType,
 * wrongValue, or commitFailed for anything else. */
uint32_t agent_mib_set_error_status(int32_t mib_status);

#ifdef __cplusplus
}

struct mib_subtree;
/* Reads oid from the subtrees in service that hold it, the most specific first: MIB_OK with the value
 * in vb; MIB_ERR_NO_SUCH_INSTANCE when they hold no such instance; MIB_ERR_NOT_FOUND when no subtree
 * covers oid; or the first other failure. *owner (when given) names the subtree that answered, else
 * the most specific one that covers oid. */
int32_t agent_mib_subtree_get(const snmp_oid &oid, snmp_varbind &vb, const mib_subtree **owner);
#endif

#endif /* VEK_AGENT_AGENT_MIB_H */
