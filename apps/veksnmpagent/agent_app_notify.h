/* Notifications of veksnmpagent, sent through the agent's public API to one target. */
#ifndef VEK_APPS_VEKSNMPAGENT_NOTIFY_H
#define VEK_APPS_VEKSNMPAGENT_NOTIFY_H

#include <cstdint>
#include <string>
#include <string_view>

/* Where traps and informs go (the manager). */
struct agent_app_target {
    std::string host; /* dotted IPv4 */
    uint16_t port = 0;
};

inline constexpr char k_link_down_oid[] = "1.3.6.1.6.3.1.1.5.3";
inline constexpr char k_link_up_oid[] = "1.3.6.1.6.3.1.1.5.4";

/* The link notification of the LED: on = linkUp as an INFORM, off = linkDown as a TRAP, each with
 * ifIndex, ifAdminStatus and ifOperStatus of interface 1. Returns the agent's result code. */
int32_t agent_app_send_link(const agent_app_target &target, bool up);

/* A custom TRAP or INFORM with trap_oid and one varbind <trap_oid>.1 carrying value: an INTEGER
 * when value is a decimal 32-bit number, an OCTET STRING otherwise. Returns the agent's result
 * code (AGENT_SNMP_ERR_OID_INVALID for an OID that cannot take the extra sub-identifier). */
int32_t agent_app_send_custom(const agent_app_target &target, bool inform, std::string_view trap_oid,
                              std::string_view value);

#endif
