#include "codec/snmp_protocol.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/agent_log.h"

namespace {

constexpr int32_t kOrderLess = -1;
constexpr int32_t kOrderEqual = 0;
constexpr int32_t kOrderGreater = 1;

constexpr uint32_t kFirstRequestId = 1;

// Sub-identifiers of an OID that are actually held: a length field past the capacity is cut to it.
uint8_t held_len(const snmp_oid &oid) { return std::min<uint8_t>(oid.len, SNMP_MAX_OID_LEN); }

bool same_prefix(const snmp_oid &a, const snmp_oid &b, uint8_t count) {
    return std::equal(a.sub_ids, a.sub_ids + count, b.sub_ids);
}

// ---- Operation codes and PDU tags ----

struct op_tags {
    uint8_t v1;
    uint8_t v2c_v3;
};

constexpr op_tags kNoTag = {0, 0};

// Indexed by operation code 0..SNMP_OP_MAX; 0 marks an operation that has no PDU in that version.
constexpr std::array<op_tags, SNMP_OP_MAX + 1> kOpTags = {{
    {SNMP_PDU_TAG_GET, SNMP_PDU_TAG_GET},
    {SNMP_PDU_TAG_GETNEXT, SNMP_PDU_TAG_GETNEXT},
    {SNMP_PDU_TAG_RESPONSE, SNMP_PDU_TAG_RESPONSE},
    {SNMP_PDU_TAG_SET, SNMP_PDU_TAG_SET},
    kNoTag,
    {0, SNMP_PDU_TAG_GETBULK},
    {SNMP_PDU_TAG_V1_TRAP, SNMP_PDU_TAG_V2_TRAP},
    {0, SNMP_PDU_TAG_INFORM},
    kNoTag, /* Report is built by the SNMPv3 engine itself */
}};

struct tag_op {
    uint8_t tag;
    uint8_t op;
};

constexpr auto kTagOps = std::to_array<tag_op>({
    {SNMP_PDU_TAG_GET, SNMP_OP_GET},
    {SNMP_PDU_TAG_GETNEXT, SNMP_OP_GETNEXT},
    {SNMP_PDU_TAG_RESPONSE, SNMP_OP_GET_RESPONSE},
    {SNMP_PDU_TAG_SET, SNMP_OP_SET},
    {SNMP_PDU_TAG_V1_TRAP, SNMP_OP_TRAP},
    {SNMP_PDU_TAG_GETBULK, SNMP_OP_GETBULK},
    {SNMP_PDU_TAG_INFORM, SNMP_OP_INFORM},
    {SNMP_PDU_TAG_V2_TRAP, SNMP_OP_TRAP},
});

constexpr bool is_request_op(uint32_t op) {
    switch (op) {
    case SNMP_OP_GET:
    case SNMP_OP_GETNEXT:
    case SNMP_OP_SET:
    case SNMP_OP_GETBULK:
    case SNMP_OP_TRAP:
    case SNMP_OP_INFORM:
    case SNMP_OP_REPORT:
        return true;
    default:
        return false;
    }
}

// ---- Error status ----

// SNMPv1 and SNMPv2 error-status values used by the mapping.
constexpr uint32_t kErrBadValue = 3;
constexpr uint32_t kErrGenErr = 5;
constexpr uint32_t kErrNoAccess = 6;
constexpr uint32_t kErrWrongLength = 8;
constexpr uint32_t kErrMappedCount = 10; /* 0..9 have their own row, 10 and above share one */

struct error_row {
    uint32_t v1;
    uint32_t v2;
};

constexpr uint32_t kKeepStatus = UINT32_MAX; /* the status is passed on unchanged */

constexpr std::array<error_row, kErrMappedCount> kErrorMap = {{
    {0, 0},
    {1, 1},
    {2, 2},
    {3, 3},
    {4, kErrNoAccess},
    {kErrGenErr, kErrWrongLength},
    {kErrGenErr, kErrNoAccess},
    {kErrBadValue, kKeepStatus},
    {kErrBadValue, kKeepStatus},
    {kErrBadValue, kKeepStatus},
}};

constexpr error_row kErrorBeyondTable = {kErrGenErr, kErrWrongLength};

}  // namespace

extern "C" {

snmp_engine_info g_remote_engine = {};
uint32_t g_next_request_id = kFirstRequestId;

bool snmp_oid_compare(const snmp_oid *a, const snmp_oid *b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    uint8_t len = held_len(*a);
    return len == held_len(*b) && same_prefix(*a, *b, len);
}

bool snmp_oid_is_subtree(const snmp_oid *oid, const snmp_oid *prefix) {
    if (oid == nullptr || prefix == nullptr) {
        return false;
    }
    uint8_t prefix_len = held_len(*prefix);
    return held_len(*oid) >= prefix_len && same_prefix(*oid, *prefix, prefix_len);
}

int32_t snmp_oid_compare_lexicographic(const snmp_oid *a, const snmp_oid *b) {
    if (a == nullptr || b == nullptr) {
        return kOrderLess;
    }
    uint8_t a_len = held_len(*a);
    uint8_t b_len = held_len(*b);
    uint8_t common = std::min(a_len, b_len);
    for (uint8_t i = 0; i < common; ++i) {
        if (a->sub_ids[i] != b->sub_ids[i]) {
            return a->sub_ids[i] < b->sub_ids[i] ? kOrderLess : kOrderGreater;
        }
    }
    if (a_len == b_len) {
        return kOrderEqual;
    }
    return a_len < b_len ? kOrderLess : kOrderGreater;
}

void snmp_oid_copy(snmp_oid *dst, const snmp_oid *src) {
    if (dst == nullptr || src == nullptr || dst == src) {
        return;
    }
    uint8_t len = held_len(*src);
    std::fill(std::begin(dst->sub_ids), std::end(dst->sub_ids), 0u);
    std::copy(src->sub_ids, src->sub_ids + len, dst->sub_ids);
    dst->len = len;
}

bool snmp_validate_version(uint32_t version) {
    return version == SNMP_VERSION_1 || version == SNMP_VERSION_2C || version == SNMP_VERSION_3;
}

uint8_t snmp_get_pdu_type(uint32_t op, uint32_t version) {
    if (!snmp_validate_version(version) || op >= kOpTags.size()) {
        return 0;
    }
    return version == SNMP_VERSION_1 ? kOpTags[op].v1 : kOpTags[op].v2c_v3;
}

uint8_t snmp_get_operation_from_pdu_type(uint8_t pdu_type) {
    for (const tag_op &entry : kTagOps) {
        if (entry.tag == pdu_type) {
            return entry.op;
        }
    }
    return SNMP_OP_UNKNOWN;
}

uint8_t snmp_get_response_op(uint32_t request_op) {
    if (is_request_op(request_op)) {
        return SNMP_OP_GET_RESPONSE;
    }
    AGENT_LOG(AGENT_LOG_WARN, "snmp_get_response_op: 无效请求类型=%u，返回UNKNOWN", request_op);
    return SNMP_OP_UNKNOWN;
}

snmp_varbind *snmp_pdu_add_varbind(snmp_pdu *pdu) {
    if (pdu == nullptr || pdu->varbind_count >= SNMP_MAX_VARBINDS) {
        return nullptr;
    }
    snmp_varbind *slot = &pdu->varbinds[pdu->varbind_count];
    *slot = snmp_varbind{};
    ++pdu->varbind_count;
    return slot;
}

void snmp_pdu_clear_varbinds(snmp_pdu *pdu) {
    if (pdu == nullptr) {
        return;
    }
    uint8_t used = std::min<uint8_t>(pdu->varbind_count, SNMP_MAX_VARBINDS);
    std::fill(pdu->varbinds, pdu->varbinds + used, snmp_varbind{});
    pdu->varbind_count = 0;
}

uint32_t snmp_map_error_code(uint32_t error_status, uint8_t is_v2_or_later) {
    const error_row &row = error_status < kErrorMap.size() ? kErrorMap[error_status] : kErrorBeyondTable;
    if (is_v2_or_later == 0) {
        return row.v1;
    }
    return row.v2 == kKeepStatus ? error_status : row.v2;
}

void snmp_v3_store_engine_info(const uint8_t *engine_id, uint16_t engine_id_len, uint32_t engine_boots,
                               uint32_t engine_time) {
    if (engine_id == nullptr || engine_id_len == 0 || engine_id_len > SNMP_ENGINE_ID_SIZE) {
        return;
    }
    std::memset(g_remote_engine.engine_id, 0, sizeof(g_remote_engine.engine_id));
    std::memcpy(g_remote_engine.engine_id, engine_id, engine_id_len);
    g_remote_engine.engine_id_len = static_cast<uint8_t>(engine_id_len);
    g_remote_engine.engine_boots = engine_boots;
    g_remote_engine.engine_time = engine_time;
    g_remote_engine.valid = 1;
}

int32_t snmp_v3_get_stored_engine_info(snmp_v3_usm *usm) {
    if (usm == nullptr || g_remote_engine.valid == 0) {
        return 0;
    }
    uint8_t len = std::min<uint8_t>(g_remote_engine.engine_id_len, SNMP_ENGINE_ID_SIZE);
    std::memcpy(usm->engine_id, g_remote_engine.engine_id, len);
    usm->engine_id_len = len;
    usm->engine_boots = g_remote_engine.engine_boots;
    usm->engine_time = g_remote_engine.engine_time;
    return 1;
}

void snmp_v3_update_local_engine_time(snmp_engine_clock *clock) {
    if (clock == nullptr) {
        return;
    }
    // Counted in 64 bits so that a clock already at the top of the range starts a new boot too.
    uint64_t next_time = static_cast<uint64_t>(clock->engine_time) + 1;
    if (next_time > SNMP_ENGINE_TIME_LIMIT) {
        ++clock->engine_boots;
        clock->engine_time = 0;
    } else {
        clock->engine_time = static_cast<uint32_t>(next_time);
    }
}

uint32_t snmp_generate_request_id(void) {
    uint32_t current = __atomic_load_n(&g_next_request_id, __ATOMIC_RELAXED);
    uint32_t id = 0;
    do {
        // Ids stay positive as signed 32-bit numbers: past 2147483647 (or from 0) the sequence restarts at 1.
        id = static_cast<int32_t>(current) > 0 ? current : kFirstRequestId;
    } while (!__atomic_compare_exchange_n(&g_next_request_id, &current, id + 1, true, __ATOMIC_RELAXED,
                                          __ATOMIC_RELAXED));
    return id;
}

}  // extern "C"
