#include "agent/agent_mib.h"

#include <algorithm>
#include <array>
#include <span>

#include "agent/agent_engine_mib.h"
#include "agent/mib_std_groups.h"
#include "agent/mib_subtree.h"
#include "agent/tps.h"
#include "base/agent_log.h"
#include "base/platform.h"

namespace {

constexpr uint16_t kOidLogTextSize = 128;  // OID text in the GET/SET debug lines
constexpr uint8_t kMaxOutVars = SNMP_MAX_VARBINDS;

const char *node_name(const mib_node &node) { return node.name != nullptr ? node.name : "未知节点"; }

// The registry entries in use, at most the capacity.
std::span<mib_node> registry_nodes() {
    uint8_t count = 0;
    mib_node *nodes = mib_registry_get_all(&count);
    return {nodes, std::min<size_t>(count, MIB_MAX_NODES)};
}

void log_target_oid(const snmp_oid &oid) {
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        std::array<char, kOidLogTextSize> text{};
        oid_to_string(&oid, text.data(), kOidLogTextSize);
        AGENT_LOG(AGENT_LOG_DEBUG, "OID: %s", text.data());
    }
}

bool node_readable(const mib_node &node) { return node.access != MIB_ACCESS_NOT_ACCESSIBLE && node.read != nullptr; }

// Reads a node into a fresh binding that carries the node's own OID, as the callbacks expect.
int32_t read_node(const mib_node &node, snmp_varbind &vb) {
    vb = snmp_varbind{};
    vb.oid = node.oid;
    return node.read(node.user_data, &vb);
}

void store_snapshot(size_t index, const snmp_varbind &vb) {
    g_mib_db[index].vb = vb;
    g_mib_db[index].valid = 1;
}

// Appends one binding to the GETBULK output; the caller has checked the room.
void append(snmp_varbind *out_vars, uint8_t *out_count, const snmp_varbind &vb) {
    out_vars[*out_count] = vb;
    ++*out_count;
}

bool output_full(const uint8_t *out_count) { return *out_count >= kMaxOutVars; }

std::span<const mib_subtree> active_subtrees() {
    uint8_t count = 0;
    const mib_subtree *subtrees = mib_subtree_active(&count);
    return {subtrees, count};
}

void log_bad_handler(const snmp_oid &answer, const snmp_oid &start) {
    std::array<char, kOidLogTextSize> answer_text{};
    std::array<char, kOidLogTextSize> start_text{};
    oid_to_string(&answer, answer_text.data(), kOidLogTextSize);
    oid_to_string(&start, start_text.data(), kOidLogTextSize);
    AGENT_LOG(AGENT_LOG_ERROR, "GETNEXT：子树返回的OID不在其前缀内或未递增：%s（起点=%s）", answer_text.data(),
              start_text.data());
}

// One step of a subtree from `from` (or from its prefix when `from` lies before it). An answer outside
// the subtree or not after the start would send a walk back or round in circles: it is refused.
int32_t subtree_next(const mib_subtree &subtree, const snmp_oid &from, snmp_varbind &vb) {
    const snmp_oid start = mib_subtree_contains(&subtree, &from) ? from : subtree.prefix;
    vb = snmp_varbind{};
    const int32_t result = subtree.ops.get_next(subtree.ctx, &start, &vb);
    if (result != MIB_OK) {
        return result;
    }
    if (!mib_subtree_contains(&subtree, &vb.oid) || oid_compare(&vb.oid, &start) <= 0) {
        log_bad_handler(vb.oid, start);
        return MIB_ERR_BAD_HANDLER;
    }
    return MIB_OK;
}

// The next instance of the view after `from`: the exact nodes and the subtrees in service merged in
// OID order. Where two answer the same OID, the exact node wins, then the more specific subtree.
struct ViewNext {
    snmp_varbind vb{};                     // its OID, and its value when a subtree produced it
    const mib_subtree *subtree = nullptr;  // null: an exact node, still to be read
    bool found = false;
};

int32_t view_next(const snmp_oid &from, ViewNext &next) {
    const mib_node *node = mib_registry_find_next(&from);
    if (node != nullptr) {
        next.vb.oid = node->oid;
        next.found = true;
    }
    // In prefix order: once a prefix is not below the best candidate, no later subtree can beat it.
    for (const mib_subtree &subtree : active_subtrees()) {
        if (next.found && oid_compare(&subtree.prefix, &next.vb.oid) >= 0) {
            break;
        }
        if (mib_subtree_before(&subtree, &from)) {
            continue;
        }
        snmp_varbind vb;
        const int32_t result = subtree_next(subtree, from, vb);
        if (result == MIB_ERR_END_OF_MIB_VIEW) {
            continue;
        }
        if (result != MIB_OK) {
            return result;
        }
        const int32_t order = next.found ? oid_compare(&vb.oid, &next.vb.oid) : -1;
        if (order < 0 || (order == 0 && next.subtree != nullptr)) {
            next.vb = vb;
            next.subtree = &subtree;
            next.found = true;
        }
    }
    return MIB_OK;
}

// One GETNEXT step of GETBULK from `from` into a cleared `vb`.
int32_t bulk_step(const snmp_oid &from, snmp_varbind &vb) {
    vb = snmp_varbind{};
    return agent_mib_get_next(&from, &vb.oid, &vb);
}

// Non-repeaters: one GETNEXT each. Returns the first failure other than the end of the MIB view.
int32_t bulk_non_repeaters(const snmp_varbind *req, uint8_t count, snmp_varbind *out_vars, uint8_t *out_count) {
    for (uint8_t i = 0; i < count; ++i) {
        if (output_full(out_count)) {
            return MIB_OK;
        }
        snmp_varbind tmp_vb{};
        int32_t result = bulk_step(req[i].oid, tmp_vb);
        if (result == MIB_ERR_END_OF_MIB_VIEW) {
            AGENT_LOG(AGENT_LOG_DEBUG, "GETBULK non_rep hit END_OF_MIB_VIEW, answer endOfMibView");
            agent_mib_set_end_of_mib_view(&tmp_vb, &req[i].oid);
        } else if (result != MIB_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "GETBULK non_repeaters GETNEXT fail code:%d", static_cast<int>(result));
            return result;
        }
        append(out_vars, out_count, tmp_vb);
    }
    return MIB_OK;
}

// The repeating part of GETBULK: one column per repeating binding, each walking on from its own
// last name; a column that has reached the end of the view stays there.
struct BulkColumns {
    std::array<snmp_oid, kMaxOutVars> last{};
    std::array<bool, kMaxOutVars> ended{};
    uint8_t count = 0;
};

// Rows that fit whole into the output after the `held` bindings already in it.
uint8_t whole_rows(uint8_t held, uint8_t columns, uint8_t max_repetitions) {
    if (columns == 0 || held >= kMaxOutVars) {
        return 0;
    }
    return std::min<uint8_t>(max_repetitions, static_cast<uint8_t>((kMaxOutVars - held) / columns));
}

// One row: a GETNEXT step in every column, in request order; a column at the end of the view is
// answered with its last name and endOfMibView. Returns the first failure other than the end of the
// view; all_ended tells whether every column has reached it.
int32_t bulk_row(BulkColumns &columns, snmp_varbind *out_vars, uint8_t *out_count, bool &all_ended) {
    all_ended = true;
    for (uint8_t c = 0; c < columns.count; ++c) {
        snmp_varbind tmp_vb{};
        if (!columns.ended[c]) {
            int32_t result = bulk_step(columns.last[c], tmp_vb);
            if (result == MIB_ERR_END_OF_MIB_VIEW) {
                columns.ended[c] = true;
            } else if (result != MIB_OK) {
                AGENT_LOG(AGENT_LOG_ERROR, "GETBULK repeat GETNEXT fail code:%d", static_cast<int>(result));
                return result;
            } else {
                columns.last[c] = tmp_vb.oid;
            }
        }
        if (columns.ended[c]) {
            agent_mib_set_end_of_mib_view(&tmp_vb, &columns.last[c]);
        } else {
            all_ended = false;
        }
        append(out_vars, out_count, tmp_vb);
    }
    return MIB_OK;
}

// Repeaters: rows of one binding per repeating request binding, as many whole rows as max_repetitions
// and the output allow; the row in which every column has reached the end of the view is the last.
int32_t bulk_repeat(const snmp_varbind *repeaters, uint8_t count, uint8_t max_repetitions,
                    snmp_varbind *out_vars, uint8_t *out_count) {
    const uint8_t rows = whole_rows(*out_count, count, max_repetitions);
    if (rows == 0) {
        return MIB_OK;
    }
    BulkColumns columns;
    columns.count = count;  // at most the output's capacity, since one row fits
    for (uint8_t c = 0; c < count; ++c) {
        columns.last[c] = repeaters[c].oid;
    }
    for (uint8_t row = 0; row < rows; ++row) {
        bool all_ended = false;
        int32_t result = bulk_row(columns, out_vars, out_count, all_ended);
        if (result != MIB_OK || all_ended) {
            return result;
        }
    }
    return MIB_OK;
}

// Collects one registry position: read it into its snapshot slot, or mark the slot invalid.
bool collect_position(size_t index, const mib_node &node) {
    snmp_varbind vb{};
    if (read_node(node, vb) == MIB_OK) {
        store_snapshot(index, vb);
        return true;
    }
    g_mib_db[index].valid = 0;
    return false;
}

}  // namespace

extern "C" {

agent_mib_db_entry g_mib_db[MIB_MAX_NODES] = {};
uint32_t g_last_poll_time[MIB_MAX_NODES] = {};

void agent_mib_init(void) {
    AGENT_LOG(AGENT_LOG_INFO, "MIB核心初始化开始");
    std::fill(std::begin(g_mib_db), std::end(g_mib_db), agent_mib_db_entry{});
    std::fill(std::begin(g_last_poll_time), std::end(g_last_poll_time), 0u);
    mib_registry_init();
    mib_registry_init_default_nodes();
    mib_subtree_init();
    mib_std_groups_init();
    agent_engine_mib_register();
    AGENT_LOG(AGENT_LOG_INFO, "MIB核心初始化完成");
}

int32_t agent_mib_get(const snmp_oid *oid, snmp_varbind *vb) {
    if (oid == nullptr || vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "GET操作失败：参数为空");
        return MIB_ERR_NULL_PARAM;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "执行GET操作，目标OID");
    log_target_oid(*oid);
    const mib_node *node = mib_registry_find(oid);
    if (node == nullptr) {
        const int32_t result = agent_mib_subtree_get(*oid, *vb, nullptr);
        if (result == MIB_ERR_NOT_FOUND) {
            AGENT_LOG(AGENT_LOG_DEBUG, "GET操作：未找到OID");
        }
        return result;
    }
    if (node->access == MIB_ACCESS_NOT_ACCESSIBLE) {
        AGENT_LOG(AGENT_LOG_WARN, "GET操作：节点不可读");
        return MIB_ERR_NO_ACCESS;
    }
    if (node->read == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "GET操作：读回调为空");
        return MIB_ERR_NO_CALLBACK;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "执行GET操作: %s", node_name(*node));
    return node->read(node->user_data, vb);
}

int32_t agent_mib_get_next(const snmp_oid *oid, snmp_oid *out_oid, snmp_varbind *out_vb) {
    if (oid == nullptr || out_oid == nullptr || out_vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "GETNEXT: 空入参");
        return MIB_ERR_NULL_PARAM;
    }
    const snmp_oid from = *oid;  // oid may alias out_oid or out_vb->oid
    ViewNext next;
    const int32_t result = view_next(from, next);
    if (result != MIB_OK) {
        return result;
    }
    if (!next.found) {
        AGENT_LOG(AGENT_LOG_DEBUG, "GETNEXT：无更大OID，endOfMibView");
        return MIB_ERR_END_OF_MIB_VIEW;
    }
    *out_oid = next.vb.oid;
    if (next.subtree != nullptr) {
        *out_vb = next.vb;
        return MIB_OK;
    }
    out_vb->oid = next.vb.oid;
    return agent_mib_get(&next.vb.oid, out_vb);
}

int32_t agent_mib_get_bulk(const snmp_varbind *req, uint8_t req_cnt, uint8_t non_repeaters, uint8_t max_repetitions,
                           snmp_varbind *out_vars, uint8_t *out_count) {
    if (req == nullptr || out_vars == nullptr || out_count == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "GETBULK：空指针参数");
        return MIB_ERR_NULL_PARAM;
    }
    *out_count = 0;
    if (req_cnt == 0) {
        AGENT_LOG(AGENT_LOG_DEBUG, "GETBULK：无请求OID");
        return MIB_OK;
    }
    uint8_t non_rep = std::min(req_cnt, non_repeaters);
    AGENT_LOG(AGENT_LOG_DEBUG, "GETBULK标准处理：req_cnt=%u, non_repeaters=%u, max_repetitions=%u",
              static_cast<unsigned>(req_cnt), static_cast<unsigned>(non_rep), static_cast<unsigned>(max_repetitions));
    int32_t result = bulk_non_repeaters(req, non_rep, out_vars, out_count);
    if (result != MIB_OK) {
        return result;
    }
    if (non_rep < req_cnt) {
        result = bulk_repeat(req + non_rep, static_cast<uint8_t>(req_cnt - non_rep), max_repetitions,
                             out_vars, out_count);
        if (result != MIB_OK) {
            return result;
        }
    }
    AGENT_LOG(AGENT_LOG_INFO, "GETBULK完成，输出总数：%d", static_cast<int>(*out_count));
    return MIB_OK;
}

void agent_mib_update(const snmp_oid *oid, const snmp_varbind *vb) {
    if (oid == nullptr || vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "更新MIB失败：参数为空");
        return;
    }
    std::span<mib_node> nodes = registry_nodes();
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (oid_compare(&nodes[i].oid, oid) == 0) {
            store_snapshot(i, *vb);
            g_mib_db[i].vb.oid = nodes[i].oid;  // pushed values may come without their name
            AGENT_LOG(AGENT_LOG_DEBUG, "更新MIB数据：%s", node_name(nodes[i]));
            return;
        }
    }
}

void agent_mib_update_all(void) {
    AGENT_LOG(AGENT_LOG_INFO, "强制更新所有MIB节点数据");
    std::span<mib_node> nodes = registry_nodes();
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (node_readable(nodes[i])) {
            collect_position(i, nodes[i]);
        }
    }
}

void agent_mib_coll_process(void) {
    uint32_t now = platform_get_tick();
    std::span<mib_node> nodes = registry_nodes();
    AGENT_LOG(AGENT_LOG_DEBUG, "开始采集处理，节点总数: %d", static_cast<int>(nodes.size()));
    for (size_t i = 0; i < nodes.size(); ++i) {
        const mib_node &node = nodes[i];
        if (!node_readable(node) || node.poll_interval == 0 || now - g_last_poll_time[i] < node.poll_interval) {
            continue;
        }
        AGENT_LOG(AGENT_LOG_DEBUG, "采集节点: %s", node_name(node));
        if (collect_position(i, node)) {
            AGENT_LOG(AGENT_LOG_INFO, "采集成功: %s", node_name(node));
        } else {
            AGENT_LOG(AGENT_LOG_ERROR, "采集失败: %s", node_name(node));
        }
        g_last_poll_time[i] = now;
    }
}

void agent_mib_collect_all(void) {
    snmp_varbind vb{};
    tps_mib_coll_req(tps_get_collect_oid(), &vb);
}

void agent_mib_coll_loop(void) {
    agent_mib_collect_all();
    agent_mib_update_all();
}

void agent_mib_coll_callback_reg(void) { tps_mib_coll_callback_reg(agent_mib_coll_callback_response); }

void agent_mib_coll_callback_response(const snmp_oid *oid, const snmp_varbind *vb) {
    if (oid == nullptr || vb == nullptr) {
        return;
    }
    agent_mib_update(oid, vb);
}

int32_t agent_mib_get_first(snmp_oid *out_oid, snmp_varbind *out_vb) {
    if (out_oid == nullptr || out_vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "agent_mib_get_first: 无效参数（oid=%p, value=%p）", static_cast<void *>(out_oid),
                  static_cast<void *>(out_vb));
        return MIB_ERR_NULL_PARAM;
    }
    std::span<mib_node> nodes = registry_nodes();
    if (nodes.empty()) {
        AGENT_LOG(AGENT_LOG_DEBUG, "agent_mib_get_first: MIB注册表为空");
        return MIB_ERR_EMPTY;
    }
    const mib_node &first = nodes.front();
    if (first.read == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "agent_mib_get_first: 第一个节点无读回调函数（%s）", node_name(first));
        return MIB_ERR_EMPTY;
    }
    *out_oid = first.oid;
    out_vb->oid = first.oid;
    int32_t result = first.read(first.user_data, out_vb);
    if (result == MIB_OK) {
        AGENT_LOG(AGENT_LOG_DEBUG, "agent_mib_get_first: 成功获取第一个节点（%s）", node_name(first));
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "agent_mib_get_first: 读取第一个节点失败（错误码: %d）", static_cast<int>(result));
    }
    return result;
}

uint8_t agent_mib_get_total_nodes(void) {
    uint8_t count = mib_registry_get_count();
    AGENT_LOG(AGENT_LOG_DEBUG, "agent_mib_get_total_nodes: 当前MIB节点总数为 %d", static_cast<int>(count));
    return count;
}

void agent_mib_set_end_of_mib_view(snmp_varbind *vb, const snmp_oid *oid) {
    if (vb == nullptr || oid == nullptr) {
        return;
    }
    snmp_oid name = *oid;  // oid may point into vb
    *vb = snmp_varbind{};
    vb->oid = name;
    vb->type = SNMP_TAG_END_OF_MIB_VIEW;
}

uint32_t agent_mib_get_next_error_status(int32_t mib_status, uint32_t version) {
    if (mib_status == MIB_OK) {
        return MIB_ERRSTAT_NO_ERROR;
    }
    if (mib_status == MIB_ERR_BAD_HANDLER) {
        return MIB_ERRSTAT_GEN_ERR;
    }
    if (version == SNMP_VERSION_1) {
        return MIB_ERRSTAT_NO_SUCH_NAME;
    }
    return mib_status == MIB_ERR_END_OF_MIB_VIEW ? MIB_ERRSTAT_NO_ERROR : MIB_ERRSTAT_GEN_ERR;
}

uint32_t agent_mib_set_error_status(int32_t mib_status) {
    switch (mib_status) {
    case MIB_OK:
        return MIB_ERRSTAT_NO_ERROR;
    case MIB_ERR_NOT_FOUND:
    case MIB_ERR_NO_SUCH_INSTANCE:
        return MIB_ERRSTAT_NO_CREATION;
    case MIB_ERR_NO_ACCESS:
        return MIB_ERRSTAT_NOT_WRITABLE;
    case MIB_ERR_WRONG_TYPE:
        return MIB_ERRSTAT_WRONG_TYPE;
    case MIB_ERR_TOO_LONG:
    case MIB_ERR_WRONG_VALUE:
        return MIB_ERRSTAT_WRONG_VALUE;
    case MIB_ERR_WRONG_LENGTH:
        return MIB_ERRSTAT_WRONG_LENGTH;
    case MIB_ERR_INCONSISTENT_VALUE:
        return MIB_ERRSTAT_INCONSISTENT_VALUE;
    case MIB_ERR_UNDO_FAILED:
        return MIB_ERRSTAT_UNDO_FAILED;
    case MIB_ERR_BAD_HANDLER:
    case MIB_ERR_GENERAL:
        return MIB_ERRSTAT_GEN_ERR;
    default:
        return MIB_ERRSTAT_COMMIT_FAILED;
    }
}

}  // extern "C"

int32_t agent_mib_subtree_get(const snmp_oid &oid, snmp_varbind &vb, const mib_subtree **owner) {
    const snmp_oid name = oid;  // oid may point into vb
    int32_t status = MIB_ERR_NOT_FOUND;
    const std::span<const mib_subtree> subtrees = active_subtrees();
    // Nested prefixes sort shorter first: from the end, the most specific subtree comes first.
    for (auto it = subtrees.rbegin(); it != subtrees.rend(); ++it) {
        if (!mib_subtree_contains(&*it, &name)) {
            continue;
        }
        if (owner != nullptr && status == MIB_ERR_NOT_FOUND) {
            *owner = &*it;
        }
        vb = snmp_varbind{};
        vb.oid = name;
        const int32_t result = it->ops.get(it->ctx, &vb);
        if (result == MIB_OK) {
            if (owner != nullptr) {
                *owner = &*it;
            }
            return MIB_OK;
        }
        if (result != MIB_ERR_NO_SUCH_INSTANCE && result != MIB_ERR_NOT_FOUND) {
            return result;
        }
        status = MIB_ERR_NO_SUCH_INSTANCE;
    }
    vb.oid = name;
    return status;
}
