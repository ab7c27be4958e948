#include "agent/mib_subtree.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <span>

#include "agent/mib_registry.h"
#include "base/agent_log.h"

namespace {

constexpr uint16_t kPrefixLogTextSize = 128;

std::array<mib_subtree, MIB_SUBTREE_CAPACITY> g_subtrees{};
uint8_t g_subtree_count = 0;
// The subtrees in service, in prefix order: rebuilt whenever the table changes.
std::array<mib_subtree, MIB_SUBTREE_CAPACITY> g_active{};
uint8_t g_active_count = 0;

std::span<mib_subtree> used() { return {g_subtrees.data(), g_subtree_count}; }

std::span<const uint32_t> ids(const snmp_oid &oid) {
    return {oid.sub_ids, std::min<size_t>(oid.len, SNMP_MAX_OID_LEN)};
}

// Whether `prefix` is a prefix of `oid` (equal included).
bool starts_with(const snmp_oid &oid, const snmp_oid &prefix) {
    const std::span<const uint32_t> a = ids(oid);
    const std::span<const uint32_t> p = ids(prefix);
    return a.size() >= p.size() && std::equal(p.begin(), p.end(), a.begin());
}

bool same(const snmp_oid &a, const snmp_oid &b) { return a.len == b.len && starts_with(a, b); }

size_t count_of(bool builtin) {
    return static_cast<size_t>(std::count_if(used().begin(), used().end(), [builtin](const mib_subtree &s) {
        return (s.builtin != 0) == builtin;
    }));
}

size_t capacity_of(bool builtin) { return builtin ? MIB_MAX_BUILTIN_SUBTREES : MIB_MAX_SUBTREES; }

// A built-in group steps aside while an application subtree sits at or above its prefix.
void refresh_active() {
    g_active_count = 0;
    for (mib_subtree &s : used()) {
        s.shadowed = 0;
        if (s.builtin != 0) {
            const bool replaced = std::any_of(used().begin(), used().end(), [&s](const mib_subtree &app) {
                return app.builtin == 0 && starts_with(s.prefix, app.prefix);
            });
            s.shadowed = replaced ? 1 : 0;
        }
        if (s.shadowed == 0) {
            g_active[g_active_count++] = s;
        }
    }
}

void log_prefix(const char *format, const snmp_oid &prefix) {
    if (agent_log_enabled(AGENT_LOG_INFO)) {
        std::array<char, kPrefixLogTextSize> text{};
        oid_to_string(&prefix, text.data(), kPrefixLogTextSize);
        AGENT_LOG(AGENT_LOG_INFO, format, text.data(), static_cast<int>(g_subtree_count));
    }
}

}  // namespace

extern "C" {

void mib_subtree_init(void) {
    for (mib_subtree &s : used()) {
        if (s.owns_ctx != 0) {
            std::free(s.ctx);
        }
    }
    g_subtrees.fill(mib_subtree{});
    g_subtree_count = 0;
    refresh_active();
}

bool mib_subtree_add(const snmp_oid *prefix, const mib_subtree_ops *ops, void *ctx, bool builtin, bool owns_ctx) {
    if (prefix == nullptr || prefix->len == 0 || prefix->len > SNMP_MAX_OID_LEN || ops == nullptr ||
        ops->get == nullptr || ops->get_next == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "子树注册失败：参数无效");
        return false;
    }
    if (count_of(builtin) >= capacity_of(builtin)) {
        AGENT_LOG(AGENT_LOG_ERROR, "子树注册失败：子树表已满（最大: %d）", static_cast<int>(capacity_of(builtin)));
        return false;
    }
    const bool taken = std::any_of(used().begin(), used().end(), [&](const mib_subtree &s) {
        return (s.builtin != 0) == builtin && same(s.prefix, *prefix);
    });
    if (taken) {
        AGENT_LOG(AGENT_LOG_ERROR, "子树注册失败：前缀已注册");
        return false;
    }
    mib_subtree entry{};
    entry.prefix = *prefix;
    entry.ops = *ops;
    entry.ctx = ctx;
    entry.builtin = builtin ? 1 : 0;
    entry.owns_ctx = owns_ctx ? 1 : 0;
    const auto gap = std::find_if(used().begin(), used().end(), [prefix](const mib_subtree &s) {
        return oid_compare(&s.prefix, prefix) > 0;
    });
    const auto index = static_cast<size_t>(gap - used().begin());
    std::copy_backward(g_subtrees.begin() + static_cast<ptrdiff_t>(index), g_subtrees.begin() + g_subtree_count,
                       g_subtrees.begin() + g_subtree_count + 1);
    g_subtrees[index] = entry;
    ++g_subtree_count;
    refresh_active();
    log_prefix("子树注册成功：%s（子树总数: %d）", *prefix);
    return true;
}

bool mib_subtree_remove(const snmp_oid *prefix) {
    if (prefix == nullptr) {
        return false;
    }
    const auto found = std::find_if(used().begin(), used().end(), [prefix](const mib_subtree &s) {
        return s.builtin == 0 && same(s.prefix, *prefix);
    });
    if (found == used().end()) {
        return false;
    }
    if (found->owns_ctx != 0) {
        std::free(found->ctx);
    }
    std::copy(found + 1, used().end(), found);
    --g_subtree_count;
    g_subtrees[g_subtree_count] = mib_subtree{};
    refresh_active();
    log_prefix("子树删除成功：%s（子树总数: %d）", *prefix);
    return true;
}

const mib_subtree *mib_subtree_find(const snmp_oid *prefix) {
    if (prefix == nullptr) {
        return nullptr;
    }
    const auto found = std::find_if(used().begin(), used().end(), [prefix](const mib_subtree &s) {
        return s.builtin == 0 && same(s.prefix, *prefix);
    });
    return found == used().end() ? nullptr : &*found;
}

uint8_t mib_subtree_app_count(void) { return static_cast<uint8_t>(count_of(false)); }

bool mib_subtree_contains(const mib_subtree *subtree, const snmp_oid *oid) {
    return subtree != nullptr && oid != nullptr && oid->len > subtree->prefix.len &&
           starts_with(*oid, subtree->prefix);
}

bool mib_subtree_before(const mib_subtree *subtree, const snmp_oid *oid) {
    if (subtree == nullptr || oid == nullptr) {
        return false;
    }
    const std::span<const uint32_t> p = ids(subtree->prefix);
    const std::span<const uint32_t> a = ids(*oid);
    const auto [pi, ai] = std::mismatch(p.begin(), p.end(), a.begin(), a.end());
    // The first differing sub-identifier decides; a prefix or an extension of the prefix does not
    // lie after the subtree.
    return pi != p.end() && ai != a.end() && *pi < *ai;
}

const mib_subtree *mib_subtree_active(uint8_t *out_count) {
    if (out_count != nullptr) {
        *out_count = g_active_count;
    }
    return g_active.data();
}

}  // extern "C"
