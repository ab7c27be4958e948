#include "agent/mib_std_groups.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "agent/agent_stats.h"
#include "agent/mib_registry.h"
#include "agent/mib_subtree.h"
#include "base/agent_log.h"
#include "codec/oid_literal.h"

namespace {

using vek::codec::make_oid;

constexpr uint32_t kInstanceSubId = 0;  // the .0 of a scalar's instance
constexpr uint8_t kInstanceArcs = 2;    // <sub_id>.0 after the group's prefix

// The default sysObjectID: the product's subtree under the sample enterprise number.
constexpr snmp_oid kDefaultSysObjectId = make_oid({1, 3, 6, 1, 4, 1, 12345});
// An application or end-to-end host (layers 4 and 7), as RFC 3418 describes such a node.
constexpr uint32_t kDefaultSysServices = 72;
// snmpEnableAuthenTraps: the agent sends no authenticationFailure notifications.
constexpr int32_t kAuthenTrapsDisabled = 2;

constexpr uint32_t kSysObjectId = 2;
constexpr uint32_t kSysName = 5;
constexpr uint32_t kSysLocation = 6;
constexpr uint32_t kSysServices = 7;

// A DisplayString value with its length.
struct SysText {
    std::array<char, MIB_SYS_TEXT_MAX + 1> text{};
    size_t len = 0;
};

snmp_oid g_sys_object_id = kDefaultSysObjectId;
SysText g_sys_name;
SysText g_sys_location;
uint32_t g_sys_services = kDefaultSysServices;

bool store_text(SysText &field, const char *text, size_t len) {
    if (text == nullptr || len > MIB_SYS_TEXT_MAX) {
        return false;
    }
    std::memcpy(field.text.data(), text, len);
    field.text[len] = '\0';
    field.len = len;
    return true;
}

void put_text(snmp_varbind &vb, const SysText &field) {
    vb.type = SNMP_TAG_OCTET_STRING;
    std::memcpy(vb.value.octets, field.text.data(), field.len);
    vb.value_len = static_cast<uint16_t>(field.len);
}

void put_integer(snmp_varbind &vb, uint8_t type, uint32_t value) {
    vb.type = type;
    vb.value.integer = static_cast<int32_t>(value);
}

// ---- The system group ----

int32_t read_sys_object_id(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    vb.type = SNMP_TAG_OID;
    vb.value.oid_value = g_sys_object_id;
    return MIB_OK;
}

int32_t read_sys_name(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    put_text(vb, g_sys_name);
    return MIB_OK;
}

int32_t read_sys_location(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    put_text(vb, g_sys_location);
    return MIB_OK;
}

int32_t read_sys_services(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    put_integer(vb, SNMP_TAG_INTEGER, g_sys_services);
    return MIB_OK;
}

int32_t check_sys_text(const snmp_varbind &vb) {
    if (vb.type != SNMP_TAG_OCTET_STRING) {
        return MIB_ERR_WRONG_TYPE;
    }
    return vb.value_len > MIB_SYS_TEXT_MAX ? MIB_ERR_WRONG_LENGTH : MIB_OK;
}

int32_t write_text(SysText &field, const snmp_varbind &vb) {
    const int32_t result = check_sys_text(vb);
    if (result != MIB_OK) {
        return result;
    }
    store_text(field, reinterpret_cast<const char *>(vb.value.octets), vb.value_len);
    return MIB_OK;
}

int32_t write_sys_name(const snmp_varbind &vb) { return write_text(g_sys_name, vb); }

int32_t write_sys_location(const snmp_varbind &vb) { return write_text(g_sys_location, vb); }

constexpr std::array kSystemScalars = {
    mib_scalar{kSysObjectId, read_sys_object_id, nullptr, nullptr, 0},
    mib_scalar{kSysName, read_sys_name, check_sys_text, write_sys_name, 0},
    mib_scalar{kSysLocation, read_sys_location, check_sys_text, write_sys_location, 0},
    mib_scalar{kSysServices, read_sys_services, nullptr, nullptr, 0},
};

// ---- The snmp group ----

int32_t read_counter(const mib_scalar &scalar, snmp_varbind &vb) {
    put_integer(vb, SNMP_TAG_COUNTER32, agent_stats_get(static_cast<agent_stat>(scalar.arg)));
    return MIB_OK;
}

int32_t read_zero_counter(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    put_integer(vb, SNMP_TAG_COUNTER32, 0);
    return MIB_OK;
}

int32_t read_authen_traps(const mib_scalar & /*scalar*/, snmp_varbind &vb) {
    put_integer(vb, SNMP_TAG_INTEGER, static_cast<uint32_t>(kAuthenTrapsDisabled));
    return MIB_OK;
}

constexpr mib_scalar counter(uint32_t sub_id, agent_stat stat) {
    return mib_scalar{sub_id, read_counter, nullptr, nullptr, stat};
}

// snmp group sub-identifiers (RFC 3418 and RFC 1213); snmpProxyDrops stays 0: the agent is no proxy.
constexpr std::array kSnmpScalars = {
    counter(1, AGENT_STAT_IN_PKTS),
    counter(2, AGENT_STAT_OUT_PKTS),
    counter(3, AGENT_STAT_IN_BAD_VERSIONS),
    counter(4, AGENT_STAT_IN_BAD_COMMUNITY_NAMES),
    counter(5, AGENT_STAT_IN_BAD_COMMUNITY_USES),
    counter(6, AGENT_STAT_IN_ASN_PARSE_ERRS),
    counter(13, AGENT_STAT_IN_TOTAL_REQ_VARS),
    counter(14, AGENT_STAT_IN_TOTAL_SET_VARS),
    counter(15, AGENT_STAT_IN_GET_REQUESTS),
    counter(16, AGENT_STAT_IN_GET_NEXTS),
    counter(17, AGENT_STAT_IN_SET_REQUESTS),
    counter(18, AGENT_STAT_IN_GET_RESPONSES),
    counter(21, AGENT_STAT_OUT_NO_SUCH_NAMES),
    counter(22, AGENT_STAT_OUT_BAD_VALUES),
    counter(24, AGENT_STAT_OUT_GEN_ERRS),
    counter(28, AGENT_STAT_OUT_GET_RESPONSES),
    mib_scalar{30, read_authen_traps, nullptr, nullptr, 0},
    counter(31, AGENT_STAT_SILENT_DROPS),
    mib_scalar{32, read_zero_counter, nullptr, nullptr, 0},
};

const mib_scalar_group kSystemGroup{make_oid({1, 3, 6, 1, 2, 1, 1}), kSystemScalars};
const mib_scalar_group kSnmpGroup{make_oid({1, 3, 6, 1, 2, 1, 11}), kSnmpScalars};

// ---- Scalar groups as subtrees ----

snmp_oid instance_of(const mib_scalar_group &group, const mib_scalar &scalar) {
    snmp_oid oid = group.prefix;
    oid.sub_ids[oid.len++] = scalar.sub_id;
    oid.sub_ids[oid.len++] = kInstanceSubId;
    return oid;
}

const mib_scalar *scalar_at(const mib_scalar_group &group, const snmp_oid &oid) {
    if (oid.len != group.prefix.len + kInstanceArcs || oid.sub_ids[oid.len - 1] != kInstanceSubId) {
        return nullptr;
    }
    const uint32_t sub_id = oid.sub_ids[group.prefix.len];
    const auto found = std::find_if(group.scalars.begin(), group.scalars.end(),
                                    [sub_id](const mib_scalar &s) { return s.sub_id == sub_id; });
    return found == group.scalars.end() ? nullptr : &*found;
}

const mib_scalar_group &group_of(void *ctx) { return *static_cast<const mib_scalar_group *>(ctx); }

int32_t group_get(void *ctx, snmp_varbind *vb) {
    const mib_scalar *scalar = scalar_at(group_of(ctx), vb->oid);
    return scalar == nullptr ? MIB_ERR_NO_SUCH_INSTANCE : scalar->read(*scalar, *vb);
}

int32_t group_get_next(void *ctx, const snmp_oid *from, snmp_varbind *vb) {
    const mib_scalar_group &group = group_of(ctx);
    for (const mib_scalar &scalar : group.scalars) {
        const snmp_oid instance = instance_of(group, scalar);
        if (oid_compare(&instance, from) > 0) {
            vb->oid = instance;
            return scalar.read(scalar, *vb);
        }
    }
    return MIB_ERR_END_OF_MIB_VIEW;
}

int32_t group_check(void *ctx, const snmp_varbind *vb) {
    const mib_scalar *scalar = scalar_at(group_of(ctx), vb->oid);
    if (scalar == nullptr) {
        return MIB_ERR_NO_SUCH_INSTANCE;
    }
    return scalar->check == nullptr ? MIB_ERR_NO_ACCESS : scalar->check(*vb);
}

int32_t group_commit(void *ctx, const snmp_varbind *vb) {
    const mib_scalar *scalar = scalar_at(group_of(ctx), vb->oid);
    return scalar == nullptr || scalar->write == nullptr ? MIB_ERR_NO_ACCESS : scalar->write(*vb);
}

constexpr mib_subtree_ops kScalarGroupOps{group_get, group_get_next, group_check, group_commit, nullptr};

}  // namespace

bool mib_scalar_group_register(const mib_scalar_group &group) {
    return mib_subtree_add(&group.prefix, &kScalarGroupOps, const_cast<mib_scalar_group *>(&group), true, false);
}

void mib_builtin_group_register(const mib_scalar_group &group, const char *name) {
    if (mib_scalar_group_register(group)) {
        AGENT_LOG(AGENT_LOG_INFO, "默认子树注册成功：%s", name);
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "默认子树注册失败：%s", name);
    }
}

extern "C" {

void mib_std_groups_init(void) {
    mib_builtin_group_register(kSystemGroup, "system");
    mib_builtin_group_register(kSnmpGroup, "snmp");
}

bool mib_std_set_sys_object_id(const snmp_oid *oid) {
    if (oid == nullptr || oid->len == 0 || oid->len > SNMP_MAX_OID_LEN) {
        return false;
    }
    g_sys_object_id = *oid;
    return true;
}

bool mib_std_set_sys_name(const char *text, size_t len) { return store_text(g_sys_name, text, len); }

bool mib_std_set_sys_location(const char *text, size_t len) { return store_text(g_sys_location, text, len); }

bool mib_std_set_sys_services(uint32_t services) {
    if (services > MIB_SYS_SERVICES_MAX) {
        return false;
    }
    g_sys_services = services;
    return true;
}

}  // extern "C"
