/* Protocol helpers shared by both SDKs around the codec records: OID comparison and copying, the
 * mapping between operation codes and PDU tags, a PDU's binding list, error-status mapping between
 * SNMPv1 and SNMPv2, the store of the last discovered remote SNMPv3 engine, the local engine clock
 * and the request-id generator. */
#ifndef VEK_CODEC_SNMP_PROTOCOL_H
#define VEK_CODEC_SNMP_PROTOCOL_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The last remote SNMPv3 engine learnt from a received message (one entry, overwritten by each store). */
typedef struct snmp_engine_info {
    uint8_t engine_id[SNMP_ENGINE_ID_SIZE];
    uint8_t engine_id_len; /* 1..32 once valid */
    uint32_t engine_boots;
    uint32_t engine_time;
    uint8_t valid; /* 0 until the first store, then 1 */
} snmp_engine_info;

/* The local engine's clock as the agent keeps it (its configuration's engine_boots / engine_time). */
typedef struct snmp_engine_clock {
    uint32_t engine_boots;
    uint32_t engine_time;
} snmp_engine_clock;

/* Engine time at which the local clock starts a new boot: a tick that would go past it wraps. */
#define SNMP_ENGINE_TIME_LIMIT 0xFFFFFFFDu

extern snmp_engine_info g_remote_engine;
/* Next request-id to hand out; starts at 1. Advance it only through snmp_generate_request_id. */
extern uint32_t g_next_request_id;

/* ---- OIDs ---- */
bool snmp_oid_compare(const snmp_oid *a, const snmp_oid *b);
bool snmp_oid_is_subtree(const snmp_oid *oid, const snmp_oid *prefix);
/* -1, 0 or 1 in the order of GetNext walks; a null argument gives -1. */
int32_t snmp_oid_compare_lexicographic(const snmp_oid *a, const snmp_oid *b);
void snmp_oid_copy(snmp_oid *dst, const snmp_oid *src);

/* ---- Versions and operations ---- */
bool snmp_validate_version(uint32_t version);
/* PDU tag for the operation in that version, 0 when the pair is not allowed. */
uint8_t snmp_get_pdu_type(uint32_t op, uint32_t version);
/* Operation code of a PDU tag, SNMP_OP_UNKNOWN for a tag it does not know. */
uint8_t snmp_get_operation_from_pdu_type(uint8_t pdu_type);
/* Operation of the answer to a request, SNMP_OP_UNKNOWN when the operation is not a request. */
uint8_t snmp_get_response_op(uint32_t request_op);

/* ---- Binding list ---- */
/* Takes the next binding slot (zeroed); null when the PDU is null or already holds 16 bindings. */
snmp_varbind *snmp_pdu_add_varbind(snmp_pdu *pdu);
void snmp_pdu_clear_varbinds(snmp_pdu *pdu);

/* ---- Error status ---- */
uint32_t snmp_map_error_code(uint32_t error_status, uint8_t is_v2_or_later);

/* ---- SNMPv3 engine ---- */
void snmp_v3_store_engine_info(const uint8_t *engine_id, uint16_t engine_id_len, uint32_t engine_boots,
                               uint32_t engine_time);
/* 1 when the record was filled from the store, 0 for a null record or an empty store. */
int32_t snmp_v3_get_stored_engine_info(snmp_v3_usm *usm);
/* One tick of the local engine clock. */
void snmp_v3_update_local_engine_time(snmp_engine_clock *clock);

/* ---- Request ids ---- */
/* 1, 2, ..., 2147483647, 1, 2, ...; safe to call from several threads at once. */
uint32_t snmp_generate_request_id(void);

#ifdef __cplusplus
}
#endif

#endif
