// SET over the MIB view: every binding of a request is checked before any is applied, then they are
// committed in order, and a failed commit takes back the ones before it, so that a request changes
// all of its objects or none.
#include <algorithm>
#include <array>
#include <span>

#include "agent/agent_mib.h"
#include "agent/mib_subtree.h"
#include "base/agent_log.h"

namespace {

constexpr uint16_t kOidLogTextSize = 128;  // OID text in the SET debug lines

// Where one binding goes, and what its object held before the commit.
struct SetTarget {
    snmp_oid subtree_prefix{};  // len 0: an exact node
    snmp_varbind old{};
    bool have_old = false;
};

const char *node_name(const mib_node &node) { return node.name != nullptr ? node.name : "未知节点"; }

void log_target_oid(const snmp_oid &oid) {
    AGENT_LOG(AGENT_LOG_DEBUG, "执行SET操作，目标OID");
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        std::array<char, kOidLogTextSize> text{};
        oid_to_string(&oid, text.data(), kOidLogTextSize);
        AGENT_LOG(AGENT_LOG_DEBUG, "OID: %s", text.data());
    }
}

// The subtree in service with exactly this prefix (callbacks may have changed the table meanwhile).
const mib_subtree *active_subtree(const snmp_oid &prefix) {
    uint8_t count = 0;
    const mib_subtree *subtrees = mib_subtree_active(&count);
    for (const mib_subtree &subtree : std::span<const mib_subtree>(subtrees, count)) {
        if (oid_compare(&subtree.prefix, &prefix) == 0) {
            return &subtree;
        }
    }
    return nullptr;
}

// The checks an exact node makes before its write callback may be called.
int32_t check_node(const mib_node &node, const snmp_varbind &vb) {
    if (node.access != MIB_ACCESS_READ_WRITE) {
        AGENT_LOG(AGENT_LOG_WARN, "SET操作：节点无写权限");
        return MIB_ERR_NO_ACCESS;
    }
    // Type 0 marks a node registered without a value type: its write callback judges the value.
    if (node.type != 0 && node.type != vb.type) {
        AGENT_LOG(AGENT_LOG_WARN, "SET操作：类型不匹配");
        return MIB_ERR_WRONG_TYPE;
    }
    if (node.write == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "SET操作：写回调为空");
        return MIB_ERR_NO_CALLBACK;
    }
    return MIB_OK;
}

// The present value of an exact node, kept so that a failed request can write it back.
void remember_node_value(const mib_node &node, SetTarget &target) {
    if (node.access == MIB_ACCESS_NOT_ACCESSIBLE || node.read == nullptr) {
        return;
    }
    target.old = snmp_varbind{};
    target.old.oid = node.oid;
    target.have_old = node.read(node.user_data, &target.old) == MIB_OK;
}

// First phase for a binding that no exact node holds: the subtree that has the instance (its value
// is kept), else the most specific one that covers it, decides.
int32_t check_subtree(const snmp_varbind &vb, SetTarget &target) {
    const mib_subtree *owner = nullptr;
    const int32_t read = agent_mib_subtree_get(vb.oid, target.old, &owner);
    if (read == MIB_ERR_NOT_FOUND) {
        AGENT_LOG(AGENT_LOG_DEBUG, "SET操作：未找到OID");
        return MIB_ERR_NOT_FOUND;
    }
    if (read != MIB_OK && read != MIB_ERR_NO_SUCH_INSTANCE) {
        return read;
    }
    target.have_old = read == MIB_OK;
    target.subtree_prefix = owner->prefix;
    if (owner->ops.check == nullptr || owner->ops.commit == nullptr) {
        AGENT_LOG(AGENT_LOG_WARN, "SET操作：节点无写权限");
        return MIB_ERR_NO_ACCESS;
    }
    return owner->ops.check(owner->ctx, &vb);
}

// `undoable`: the request has other bindings, whose failure may call for taking this one back.
int32_t check_binding(const snmp_varbind &vb, SetTarget &target, bool undoable) {
    log_target_oid(vb.oid);
    const mib_node *node = mib_registry_find(&vb.oid);
    if (node == nullptr) {
        return check_subtree(vb, target);
    }
    const int32_t result = check_node(*node, vb);
    if (result == MIB_OK && undoable) {
        remember_node_value(*node, target);
    }
    return result;
}

int32_t commit_node(const snmp_varbind &vb) {
    const mib_node *node = mib_registry_find(&vb.oid);
    if (node == nullptr || node->write == nullptr) {
        return MIB_ERR_NOT_FOUND;
    }
    const char *name = node_name(*node);  // the callback may change the table; keep the name for the log
    AGENT_LOG(AGENT_LOG_DEBUG, "执行SET操作: %s", name);
    const int32_t result = node->write(node->user_data, &vb);
    if (result != MIB_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "SET失败: %s", name);
        return result;
    }
    agent_mib_update(&vb.oid, &vb);
    AGENT_LOG(AGENT_LOG_INFO, "SET成功: %s", name);
    return MIB_OK;
}

int32_t commit_binding(const snmp_varbind &vb, const SetTarget &target) {
    if (target.subtree_prefix.len == 0) {
        return commit_node(vb);
    }
    const mib_subtree *subtree = active_subtree(target.subtree_prefix);
    if (subtree == nullptr || subtree->ops.commit == nullptr) {
        return MIB_ERR_NOT_FOUND;
    }
    return subtree->ops.commit(subtree->ctx, &vb);
}

// Takes a commit back: the subtree's undo (given the earlier value), or the earlier value committed
// again.
int32_t undo_binding(const snmp_varbind &vb, const SetTarget &target) {
    snmp_varbind old = target.old;
    if (!target.have_old) {
        old = snmp_varbind{};
        old.oid = vb.oid;
        old.type = SNMP_TAG_NULL;
    }
    if (target.subtree_prefix.len != 0) {
        const mib_subtree *subtree = active_subtree(target.subtree_prefix);
        if (subtree != nullptr && subtree->ops.undo != nullptr) {
            return subtree->ops.undo(subtree->ctx, &old);
        }
    }
    return target.have_old ? commit_binding(old, target) : MIB_ERR_UNDO_FAILED;
}

// Takes back the first `count` commits, the last first: MIB_OK, or MIB_ERR_UNDO_FAILED if one refused.
int32_t undo_commits(std::span<const snmp_varbind> vbs, std::span<const SetTarget> targets, size_t count) {
    int32_t result = MIB_OK;
    for (size_t i = count; i-- > 0;) {
        if (undo_binding(vbs[i], targets[i]) != MIB_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "SET回滚失败：第%u个变量绑定", static_cast<unsigned>(i + 1));
            result = MIB_ERR_UNDO_FAILED;
        }
    }
    return result;
}

}  // namespace

extern "C" {

int32_t agent_mib_set_request(const snmp_varbind *vbs, uint8_t count, uint8_t *failed) {
    if (vbs == nullptr || failed == nullptr || count > SNMP_MAX_VARBINDS) {
        AGENT_LOG(AGENT_LOG_ERROR, "SET操作失败：参数为空");
        return MIB_ERR_NULL_PARAM;
    }
    const std::span<const snmp_varbind> bindings(vbs, count);
    std::array<SetTarget, SNMP_MAX_VARBINDS> targets{};
    for (size_t i = 0; i < bindings.size(); ++i) {
        const int32_t result = check_binding(bindings[i], targets[i], bindings.size() > 1);
        if (result != MIB_OK) {
            *failed = static_cast<uint8_t>(i);
            return result;
        }
    }
    for (size_t i = 0; i < bindings.size(); ++i) {
        const int32_t result = commit_binding(bindings[i], targets[i]);
        if (result != MIB_OK) {
            *failed = static_cast<uint8_t>(i);
            // Past its check, a general failure of the object is a failed commit.
            const int32_t reported = result == MIB_ERR_GENERAL ? MIB_ERR_COMMIT_FAILED : result;
            return undo_commits(bindings, targets, i) == MIB_OK ? reported : MIB_ERR_UNDO_FAILED;
        }
    }
    return MIB_OK;
}

int32_t agent_mib_set(const snmp_oid *oid, const snmp_varbind *vb) {
    if (oid == nullptr || vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "SET操作失败：参数为空");
        return MIB_ERR_NULL_PARAM;
    }
    snmp_varbind binding = *vb;
    binding.oid = *oid;
    uint8_t failed = 0;
    return agent_mib_set_request(&binding, 1, &failed);
}

}  // extern "C"
