/* SNMPv2c/SNMPv3 notification PDUs (SNMPv2-Trap and InformRequest): building and checking them, and
 * building the answer to a received Inform. */
#ifndef VEK_CODEC_SNMP_TRAP_H
#define VEK_CODEC_SNMP_TRAP_H

#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Names of the two bindings every notification starts with. */
#define SNMP_TRAP_SYS_UPTIME_OID "1.3.6.1.2.1.1.3.0"
#define SNMP_TRAP_SNMP_TRAP_OID "1.3.6.1.6.3.1.1.4.1.0"

/* Longest OID text taken into account by snmp_trap_parse_oid; further characters are ignored. */
#define SNMP_TRAP_OID_TEXT_MAX 127u

/* Dotted-decimal text to OID: 1 on success, 0 on failure (oid->len is then 0). */
int32_t snmp_trap_parse_oid(const char *text, snmp_oid *oid);

/* Zeroes the PDU and sets its operation and request-id. */
int32_t snmp_trap_pdu_init(snmp_pdu *pdu, uint32_t op, uint32_t request_id);

/* Appends sysUpTime.0 (TimeTicks) and snmpTrapOID.0 (the notification OID parsed from the text). */
int32_t snmp_trap_add_mandatory_varbinds(snmp_pdu *pdu, uint32_t sys_uptime, const char *trap_oid);

/* Starts a notification PDU: a Trap when is_inform is 0, an Inform otherwise, with its two mandatory
 * bindings; the caller may add up to 14 bindings of its own. */
int32_t snmp_trap_build_v2c_v3_pdu(snmp_pdu *pdu, uint8_t is_inform, uint32_t sys_uptime, const char *trap_oid,
                                   uint32_t request_id);

/* 1 when the decoded message is a well-formed v2c/v3 Trap or Inform, 0 otherwise. */
int32_t snmp_trap_validate_message(const snmp_message *msg);

/* Builds the Response to a received Inform: for v2c (version 1) under the community text, for v3
 * (version 3) with the received msgID and msgFlags (the USM parameters are left to the encoder's caller).
 * resp may be the same record as inform. */
int32_t snmp_inform_build_response(snmp_message *resp, const snmp_message *inform, uint32_t version,
                                   const char *community, const snmp_v3_user *user);

#ifdef __cplusplus
}
#endif

#endif
