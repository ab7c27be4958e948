/* MIB subtrees: OID prefixes whose instances are produced on demand by callbacks (a table, a group of
 * scalars) instead of being registered one by one. The MIB access layer (agent/agent_mib.h) walks
 * them together with the exact nodes of the registry as one ordered view.
 *
 * An instance of a subtree is any OID that extends its prefix (the prefix itself is none). Subtrees
 * may nest; where two produce the same OID, the exact node wins over both, the longer prefix over the
 * shorter. The library's own groups are "built-in" subtrees: each steps aside while an application
 * subtree sits at or above its prefix, so that an application can serve such a group itself.
 *
 * No locking: used from the agent main loop and the public API on one thread. */
#ifndef VEK_AGENT_MIB_SUBTREE_H
#define VEK_AGENT_MIB_SUBTREE_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MIB_MAX_SUBTREES 16u         /* subtrees an application may register */
#define MIB_MAX_BUILTIN_SUBTREES 4u  /* the library's own groups: system, snmp, snmpEngine, usmStats */
#define MIB_SUBTREE_CAPACITY (MIB_MAX_SUBTREES + MIB_MAX_BUILTIN_SUBTREES)

/* The callbacks of a subtree; each returns 0 or a MIB status (agent/mib_registry.h). */
typedef struct mib_subtree_ops {
    /* vb->oid names an instance: fill type, value and value_len, or MIB_ERR_NO_SUCH_INSTANCE. */
    int32_t (*get)(void *ctx, snmp_varbind *vb);
    /* The first instance after `from` (the prefix, or an OID inside the subtree): its OID into
     * vb->oid and its value, or MIB_ERR_END_OF_MIB_VIEW when none follows. */
    int32_t (*get_next)(void *ctx, const snmp_oid *from, snmp_varbind *vb);
    /* SET, first phase: whether vb would be taken; nothing changes. Null: every instance read-only. */
    int32_t (*check)(void *ctx, const snmp_varbind *vb);
    /* SET, second phase: apply vb. */
    int32_t (*commit)(void *ctx, const snmp_varbind *vb);
    /* Take back a commit: old_vb holds the value read before it (type NULL when there was none).
     * Null: the old value is committed again. */
    int32_t (*undo)(void *ctx, const snmp_varbind *old_vb);
} mib_subtree_ops;

typedef struct mib_subtree {
    snmp_oid prefix;
    mib_subtree_ops ops;
    void *ctx;         /* handed to every callback */
    uint8_t builtin;   /* 1: one of the library's own groups */
    uint8_t owns_ctx;  /* 1: ctx is heap memory, released with free() when the subtree goes */
    uint8_t shadowed;  /* 1: a built-in group that an application subtree replaces */
} mib_subtree;

/* Empties the table, releasing the contexts it owns. */
void mib_subtree_init(void);
/* Adds a subtree in prefix order. False (nothing changes) for an empty prefix, missing get/get_next,
 * a full share of the table (application or built-in) or a prefix already held by the same kind. */
bool mib_subtree_add(const snmp_oid *prefix, const mib_subtree_ops *ops, void *ctx, bool builtin, bool owns_ctx);
/* Removes the application subtree with exactly this prefix, releasing an owned context. */
bool mib_subtree_remove(const snmp_oid *prefix);
/* The application subtree with exactly this prefix, or null. */
const mib_subtree *mib_subtree_find(const snmp_oid *prefix);
/* Number of application subtrees. */
uint8_t mib_subtree_app_count(void);

/* Whether oid lies inside the subtree (extends its prefix). */
bool mib_subtree_contains(const mib_subtree *subtree, const snmp_oid *oid);
/* Whether every instance of the subtree sorts before oid. */
bool mib_subtree_before(const mib_subtree *subtree, const snmp_oid *oid);

/* The subtrees in service (the shadowed ones left out), in ascending prefix order: *out_count of
 * them from the returned pointer. */
const mib_subtree *mib_subtree_active(uint8_t *out_count);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_MIB_SUBTREE_H */
