/* The standard MIB-2 groups the library serves beside its exact system nodes: the rest of the system
 * group (sysObjectID, sysName, sysLocation, sysServices) and the snmp group's counters
 * (agent/agent_stats.h). Each group is a built-in subtree of scalars, so an application that
 * registers its own subtree at or above a group's prefix, or an exact node for one of its objects,
 * takes that part over.
 *
 * The values set here hold for the life of the process (re-initialising the agent keeps them). */
#ifndef VEK_AGENT_MIB_STD_GROUPS_H
#define VEK_AGENT_MIB_STD_GROUPS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MIB_SYS_TEXT_MAX 255u       /* characters of sysName and sysLocation (DisplayString) */
#define MIB_SYS_SERVICES_MAX 127u   /* sysServices: a sum of 2^(layer-1) over layers 1..7 */

/* Registers the built-in groups (after the registry's default nodes). */
void mib_std_groups_init(void);

/* Setters of the system group's values: false (nothing changes) for a null argument, an empty OID, a
 * text longer than MIB_SYS_TEXT_MAX or services above MIB_SYS_SERVICES_MAX. */
bool mib_std_set_sys_object_id(const snmp_oid *oid);
bool mib_std_set_sys_name(const char *text, size_t len);
bool mib_std_set_sys_location(const char *text, size_t len);
bool mib_std_set_sys_services(uint32_t services);

#ifdef __cplusplus
}

#include <span>

/* One scalar of a group, served as <prefix>.<sub_id>.0. */
struct mib_scalar {
    uint32_t sub_id;
    int32_t (*read)(const mib_scalar &scalar, snmp_varbind &vb);
    int32_t (*check)(const snmp_varbind &vb);  /* null: read-only */
    int32_t (*write)(const snmp_varbind &vb);
    uint32_t arg;                              /* for `read`: which value (a counter of agent/agent_stats.h) */
};

/* A group of scalars under one prefix, in ascending sub_id order; it must outlive its registration. */
struct mib_scalar_group {
    snmp_oid prefix;
    std::span<const mib_scalar> scalars;
};

/* Registers a group as a built-in subtree. */
bool mib_scalar_group_register(const mib_scalar_group &group);
/* The same for one of the library's own groups, logging the result under `name`. */
void mib_builtin_group_register(const mib_scalar_group &group, const char *name);
#endif

#endif /* VEK_AGENT_MIB_STD_GROUPS_H */
