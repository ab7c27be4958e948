/* Conversions between the public interface's records (dotted OID text, agent_snmp_vb) and the agent
 * core's (snmp_oid, snmp_varbind), shared by the units of the public interface. */
#ifndef VEK_AGENT_AGENT_API_CONVERT_H
#define VEK_AGENT_AGENT_API_CONVERT_H

#include "agent/vek_agent_sdk.h"
#include "codec/snmp_types.h"

namespace vek::agent_api {

/* The text after one leading '.'. */
const char *skip_leading_dot(const char *text);
/* Whether text is valid dotted-decimal OID text (no leading '.'). */
bool local_oid_check_valid(const char *text);
/* Dotted text to an OID (false for no component or more than the system's capacity). */
bool oid_from_string(const char *text, snmp_oid &oid);
/* Interface text (one leading '.' allowed) that must be valid, to an OID. */
bool parse_api_oid(const char *text, snmp_oid &oid);

/* A core binding as the interface shows it: OID text and value (an OID value as dotted text). */
void inner_vb_to_api(const snmp_varbind &vb, agent_snmp_vb &api);
/* An interface binding to the core's, its OID parsed from the text (empty when invalid). */
void api_vb_to_inner(const agent_snmp_vb &api, snmp_varbind &vb);
/* Only the type and value of an interface binding into vb (its OID stays); false for an OID value
 * that is no valid OID text. */
bool api_value_to_inner(const agent_snmp_vb &api, snmp_varbind &vb);

}  // namespace vek::agent_api

#endif /* VEK_AGENT_AGENT_API_CONVERT_H */
