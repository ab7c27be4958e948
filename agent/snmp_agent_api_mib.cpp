// The public interface's subtrees, tables and system-group setters: the application's callbacks,
// which speak agent_snmp_vb and AGENT_SNMP_CB_* results, wrapped as subtrees of the MIB view.
#include <cstdlib>
#include <cstring>

#include "agent/agent_api_convert.h"
#include "agent/mib_registry.h"
#include "agent/mib_std_groups.h"
#include "agent/mib_subtree.h"
#include "agent/mib_table.h"
#include "agent/vek_agent_sdk.h"
#include "base/agent_log.h"

namespace {

using namespace vek::agent_api;

static_assert(AGENT_SNMP_MAX_SUBTREES == MIB_MAX_SUBTREES, "the interface and the subtree table agree");
static_assert(AGENT_SNMP_SYS_TEXT_MAX == MIB_SYS_TEXT_MAX, "the interface and the system group agree");

constexpr uint8_t kMinObjectIdArcs = 2;  // the least an OID value can be encoded with
constexpr uint64_t kAllColumns = ~uint64_t{0};

// What the library keeps for a subtree registered through this interface (its owned context).
struct api_subtree {
    agent_snmp_subtree_ops ops;
    void *user_ctx;
};

// What the library keeps for a table registered through this interface (its owned context).
struct api_table {
    mib_table_shape shape;
    uint64_t writable_columns;
    agent_snmp_row_cb row_cb;
    void *user_ctx;
};

// A callback's AGENT_SNMP_CB_* result as a MIB status; `no_such` is what "no such" means here.
int32_t mib_status_of(int32_t result, int32_t no_such) {
    switch (result) {
        case AGENT_SNMP_CB_OK:
            return MIB_OK;
        case AGENT_SNMP_CB_NO_SUCH:
            return no_such;
        case AGENT_SNMP_CB_NOT_WRITABLE:
            return MIB_ERR_NO_ACCESS;
        case AGENT_SNMP_CB_WRONG_TYPE:
            return MIB_ERR_WRONG_TYPE;
        case AGENT_SNMP_CB_WRONG_LENGTH:
            return MIB_ERR_WRONG_LENGTH;
        case AGENT_SNMP_CB_WRONG_VALUE:
            return MIB_ERR_WRONG_VALUE;
        case AGENT_SNMP_CB_INCONSISTENT:
            return MIB_ERR_INCONSISTENT_VALUE;
        default:
            return MIB_ERR_GENERAL;
    }
}

// A value the application produced, into the core's binding: MIB_OK, or a general failure for an
// OID value that is no valid OID text.
int32_t take_value(int32_t status, const agent_snmp_vb &api, snmp_varbind &vb) {
    if (status != MIB_OK) {
        return status;
    }
    return api_value_to_inner(api, vb) ? MIB_OK : MIB_ERR_GENERAL;
}

// ---- Subtrees ----

const api_subtree &subtree_of(void *ctx) { return *static_cast<const api_subtree *>(ctx); }

int32_t subtree_get(void *ctx, snmp_varbind *vb) {
    const api_subtree &s = subtree_of(ctx);
    agent_snmp_vb api;
    inner_vb_to_api(*vb, api);
    return take_value(mib_status_of(s.ops.get(&api, s.user_ctx), MIB_ERR_NO_SUCH_INSTANCE), api, *vb);
}

int32_t subtree_get_next(void *ctx, const snmp_oid *from, snmp_varbind *vb) {
    const api_subtree &s = subtree_of(ctx);
    agent_snmp_vb api{};
    oid_to_string(from, api.oid, AGENT_SNMP_OID_SIZE);
    const int32_t status = mib_status_of(s.ops.get_next(&api, s.user_ctx), MIB_ERR_END_OF_MIB_VIEW);
    if (status != MIB_OK) {
        return status;
    }
    api.oid[AGENT_SNMP_OID_SIZE - 1] = '\0';
    if (!parse_api_oid(api.oid, vb->oid)) {
        AGENT_LOG(AGENT_LOG_ERROR, "GETNEXT：子树返回的OID文本无效：%s", api.oid);
        return MIB_ERR_BAD_HANDLER;
    }
    return take_value(status, api, *vb);
}

using SubtreeSetCb = agent_snmp_subtree_cb agent_snmp_subtree_ops::*;

int32_t subtree_set_phase(void *ctx, const snmp_varbind *vb, SubtreeSetCb phase) {
    const api_subtree &s = subtree_of(ctx);
    agent_snmp_vb api;
    inner_vb_to_api(*vb, api);
    return mib_status_of((s.ops.*phase)(&api, s.user_ctx), MIB_ERR_NO_SUCH_INSTANCE);
}

int32_t subtree_check(void *ctx, const snmp_varbind *vb) {
    return subtree_set_phase(ctx, vb, &agent_snmp_subtree_ops::check);
}

int32_t subtree_commit(void *ctx, const snmp_varbind *vb) {
    return subtree_set_phase(ctx, vb, &agent_snmp_subtree_ops::commit);
}

int32_t subtree_undo(void *ctx, const snmp_varbind *old_vb) {
    return subtree_set_phase(ctx, old_vb, &agent_snmp_subtree_ops::undo);
}

// The core's view of an application's subtree: its optional callbacks stay optional.
mib_subtree_ops subtree_ops_for(const agent_snmp_subtree_ops &ops) {
    mib_subtree_ops inner{subtree_get, subtree_get_next, nullptr, nullptr, nullptr};
    if (ops.check != nullptr && ops.commit != nullptr) {
        inner.check = subtree_check;
        inner.commit = subtree_commit;
        inner.undo = ops.undo != nullptr ? subtree_undo : nullptr;
    }
    return inner;
}

// ---- Tables ----

const api_table &table_of(void *ctx) { return *static_cast<const api_table *>(ctx); }

// One call of the row callback for an instance named by vb->oid; MIB_ERR_NO_SUCH_INSTANCE when the
// OID is no cell of the table.
int32_t call_row(const api_table &t, uint32_t op, const snmp_varbind &vb, agent_snmp_vb &api) {
    const std::optional<mib_table_cell> cell = mib_table_cell_of(t.shape, vb.oid);
    if (!cell) {
        return MIB_ERR_NO_SUCH_INSTANCE;
    }
    inner_vb_to_api(vb, api);
    uint32_t index = cell->index;
    return mib_status_of(t.row_cb(op, &index, cell->column, &api, t.user_ctx), MIB_ERR_NO_SUCH_INSTANCE);
}

int32_t table_get(void *ctx, snmp_varbind *vb) {
    agent_snmp_vb api;
    return take_value(call_row(table_of(ctx), AGENT_SNMP_ROW_GET, *vb, api), api, *vb);
}

// Column by column from where `from` points: the first row the callback finds at or after the start.
int32_t table_get_next(void *ctx, const snmp_oid *from, snmp_varbind *vb) {
    const api_table &t = table_of(ctx);
    for (std::optional<mib_table_cell> cell = mib_table_next_start(t.shape, *from); cell;
         cell = mib_table_next_column(t.shape, cell->column)) {
        agent_snmp_vb api{};
        uint32_t index = cell->index;
        const int32_t status =
            mib_status_of(t.row_cb(AGENT_SNMP_ROW_NEXT, &index, cell->column, &api, t.user_ctx), MIB_ERR_NOT_FOUND);
        if (status == MIB_ERR_NOT_FOUND) {
            continue;
        }
        vb->oid = mib_table_instance(t.shape, mib_table_cell{cell->column, index});
        return take_value(status, api, *vb);
    }
    return MIB_ERR_END_OF_MIB_VIEW;
}

bool column_writable(const api_table &t, const snmp_oid &oid) {
    const std::optional<mib_table_cell> cell = mib_table_cell_of(t.shape, oid);
    return cell && (t.writable_columns >> (cell->column - 1) & 1u) != 0;
}

int32_t table_check(void *ctx, const snmp_varbind *vb) {
    const api_table &t = table_of(ctx);
    if (mib_table_cell_of(t.shape, vb->oid) && !column_writable(t, vb->oid)) {
        return MIB_ERR_NO_ACCESS;
    }
    agent_snmp_vb api;
    return call_row(t, AGENT_SNMP_ROW_CHECK, *vb, api);
}

int32_t table_commit(void *ctx, const snmp_varbind *vb) {
    agent_snmp_vb api;
    return call_row(table_of(ctx), AGENT_SNMP_ROW_COMMIT, *vb, api);
}

int32_t table_undo(void *ctx, const snmp_varbind *old_vb) {
    agent_snmp_vb api;
    return call_row(table_of(ctx), AGENT_SNMP_ROW_UNDO, *old_vb, api);
}

constexpr mib_subtree_ops kTableOps{table_get, table_get_next, table_check, table_commit, table_undo};

// ---- Registration ----

// Adds a subtree that owns `ctx` (heap memory): the interface's result code. ctx is released when
// the subtree cannot be added.
int32_t add_owned(const snmp_oid &prefix, const mib_subtree_ops &ops, void *ctx) {
    if (mib_subtree_add(&prefix, &ops, ctx, false, true)) {
        return AGENT_SNMP_OK;
    }
    std::free(ctx);
    if (mib_subtree_find(&prefix) != nullptr) {
        return AGENT_SNMP_ERR_OID_EXISTS;
    }
    return mib_subtree_app_count() >= MIB_MAX_SUBTREES ? AGENT_SNMP_ERR_MIB_FULL : AGENT_SNMP_ERR_OID_INVALID;
}

bool table_arguments_valid(uint32_t index_kind, uint32_t columns, uint64_t writable_columns) {
    if (index_kind > AGENT_SNMP_INDEX_IPV4 || columns == 0 || columns > AGENT_SNMP_MAX_TABLE_COLUMNS) {
        return false;
    }
    const uint64_t in_range = columns == AGENT_SNMP_MAX_TABLE_COLUMNS ? kAllColumns : (uint64_t{1} << columns) - 1;
    return (writable_columns & ~in_range) == 0;
}

int32_t set_sys_text(const char *text, bool (*store)(const char *, size_t)) {
    if (text == nullptr) {
        return AGENT_SNMP_ERR_PARAM;
    }
    const size_t len = strnlen(text, AGENT_SNMP_SYS_TEXT_MAX + 1);
    return len <= AGENT_SNMP_SYS_TEXT_MAX && store(text, len) ? AGENT_SNMP_OK : AGENT_SNMP_ERR_PARAM;
}

}  // namespace

extern "C" {

int32_t agent_snmp_subtree_register(const char *prefix, const agent_snmp_subtree_ops *ops, void *user_ctx) {
    if (prefix == nullptr || prefix[0] == '\0' || ops == nullptr || ops->get == nullptr || ops->get_next == nullptr) {
        return AGENT_SNMP_ERR_PARAM;
    }
    snmp_oid parsed{};
    if (!parse_api_oid(prefix, parsed) || parsed.len >= SNMP_MAX_OID_LEN) {
        return AGENT_SNMP_ERR_OID_INVALID;
    }
    auto *ctx = static_cast<api_subtree *>(std::calloc(1, sizeof(api_subtree)));
    if (ctx == nullptr) {
        return AGENT_SNMP_ERR_MEMORY;
    }
    *ctx = api_subtree{*ops, user_ctx};
    return add_owned(parsed, subtree_ops_for(*ops), ctx);
}

int32_t agent_snmp_subtree_unregister(const char *prefix) {
    if (prefix == nullptr || prefix[0] == '\0') {
        return AGENT_SNMP_ERR_PARAM;
    }
    snmp_oid parsed{};
    if (!parse_api_oid(prefix, parsed) || !mib_subtree_remove(&parsed)) {
        return AGENT_SNMP_ERR_OID_INVALID;
    }
    return AGENT_SNMP_OK;
}

uint32_t agent_snmp_subtree_get_count(void) { return mib_subtree_app_count(); }

int32_t agent_snmp_table_register(const char *entry_oid, uint32_t index_kind, uint32_t columns,
                                  uint64_t writable_columns, agent_snmp_row_cb row_cb, void *user_ctx) {
    if (entry_oid == nullptr || entry_oid[0] == '\0' || row_cb == nullptr ||
        !table_arguments_valid(index_kind, columns, writable_columns)) {
        return AGENT_SNMP_ERR_PARAM;
    }
    mib_table_shape shape{};
    shape.kind = index_kind == AGENT_SNMP_INDEX_IPV4 ? mib_table_index::ipv4 : mib_table_index::integer;
    shape.columns = columns;
    // Every instance, <entry>.<column>.<index>, must fit in an OID.
    if (!parse_api_oid(entry_oid, shape.entry) ||
        shape.entry.len + 1u + mib_table_index_arcs(shape.kind) > SNMP_MAX_OID_LEN) {
        return AGENT_SNMP_ERR_OID_INVALID;
    }
    auto *ctx = static_cast<api_table *>(std::calloc(1, sizeof(api_table)));
    if (ctx == nullptr) {
        return AGENT_SNMP_ERR_MEMORY;
    }
    *ctx = api_table{shape, writable_columns, row_cb, user_ctx};
    return add_owned(shape.entry, kTableOps, ctx);
}

int32_t agent_snmp_set_sys_object_id(const char *oid) {
    if (oid == nullptr) {
        return AGENT_SNMP_ERR_PARAM;
    }
    snmp_oid parsed{};
    if (!parse_api_oid(oid, parsed) || parsed.len < kMinObjectIdArcs) {
        return AGENT_SNMP_ERR_OID_INVALID;
    }
    return mib_std_set_sys_object_id(&parsed) ? AGENT_SNMP_OK : AGENT_SNMP_ERR_OID_INVALID;
}

int32_t agent_snmp_set_sys_name(const char *name) { return set_sys_text(name, mib_std_set_sys_name); }

int32_t agent_snmp_set_sys_location(const char *location) {
    return set_sys_text(location, mib_std_set_sys_location);
}

int32_t agent_snmp_set_sys_services(uint32_t services) {
    return mib_std_set_sys_services(services) ? AGENT_SNMP_OK : AGENT_SNMP_ERR_PARAM;
}

}  // extern "C"
