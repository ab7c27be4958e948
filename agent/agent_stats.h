/* Counters of the SNMP protocol entity: the snmp group of MIB-2 (RFC 3418, with the older RFC 1213
 * counters the agent can keep), served by agent/mib_std_groups.h. Counted where messages enter and
 * leave the agent; Counter32 values that wrap at 2^32. */
#ifndef VEK_AGENT_AGENT_STATS_H
#define VEK_AGENT_AGENT_STATS_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum agent_stat {
    AGENT_STAT_IN_PKTS = 0,             /* snmpInPkts: messages received */
    AGENT_STAT_OUT_PKTS,                /* snmpOutPkts: messages sent (answers and notifications) */
    AGENT_STAT_IN_BAD_VERSIONS,         /* snmpInBadVersions */
    AGENT_STAT_IN_BAD_COMMUNITY_NAMES,  /* snmpInBadCommunityNames */
    AGENT_STAT_IN_BAD_COMMUNITY_USES,   /* snmpInBadCommunityUses: a SET with the read-only community */
    AGENT_STAT_IN_ASN_PARSE_ERRS,       /* snmpInASNParseErrs */
    AGENT_STAT_IN_TOTAL_REQ_VARS,       /* snmpInTotalReqVars: objects read for GET, GETNEXT, GETBULK */
    AGENT_STAT_IN_TOTAL_SET_VARS,       /* snmpInTotalSetVars: objects written */
    AGENT_STAT_IN_GET_REQUESTS,         /* snmpInGetRequests */
    AGENT_STAT_IN_GET_NEXTS,            /* snmpInGetNexts */
    AGENT_STAT_IN_SET_REQUESTS,         /* snmpInSetRequests */
    AGENT_STAT_IN_GET_RESPONSES,        /* snmpInGetResponses: answers to our informs */
    AGENT_STAT_OUT_NO_SUCH_NAMES,       /* snmpOutNoSuchNames */
    AGENT_STAT_OUT_BAD_VALUES,          /* snmpOutBadValues */
    AGENT_STAT_OUT_GEN_ERRS,            /* snmpOutGenErrs */
    AGENT_STAT_OUT_GET_RESPONSES,       /* snmpOutGetResponses */
    AGENT_STAT_SILENT_DROPS,            /* snmpSilentDrops: answers that could not be encoded */
    AGENT_STAT_COUNT
} agent_stat;

/* Sets every counter to 0. */
void agent_stats_reset(void);
/* One more of `stat`. */
void agent_stats_count(agent_stat stat);
/* The counter's value. */
uint32_t agent_stats_get(agent_stat stat);
/* Counts a request that was executed (its op) and the answer made of it: request and variable
 * counters, and the error-status of the answer. */
void agent_stats_count_request(uint32_t request_op, const snmp_pdu *answer);
/* Counts an answer handed to the transport (sent) or dropped because it could not be encoded. */
void agent_stats_count_answer(bool sent);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_STATS_H */
