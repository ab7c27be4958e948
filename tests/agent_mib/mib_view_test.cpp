// The MIB view of exact nodes and subtrees: one order for GET-NEXT and GET-BULK, subtrees that break
// the order refused, tables indexed by integers and IPv4 addresses, and SETs that change all of their
// bindings or none.
#include <array>
#include <cstdio>
#include <map>
#include <sstream>

#include "agent/vek_agent_sdk.h"
#include "tests/agent_mib/mib_test_util.h"

namespace mib_test {
namespace {

constexpr const char *kBase = "1.3.6.1.4.1.9";
constexpr const char *kEntry = "1.3.6.1.4.1.9.2.1";
constexpr uint32_t kValueColumn = 2;
constexpr uint32_t kColumns = 3;
constexpr uint64_t kWritableValueColumn = 1u << (kValueColumn - 1);
constexpr uint32_t kCommitFails = 66;   // a value the test table accepts at check but fails to commit
constexpr uint32_t kLargestValue = 99;  // larger values are refused at check

snmp_oid oid_of(const std::string &text) {
    snmp_oid oid{};
    std::istringstream in(text);
    for (std::string arc; std::getline(in, arc, '.');) {
        oid.sub_ids[oid.len++] = static_cast<uint32_t>(std::stoul(arc));
    }
    return oid;
}

// A table of rows {index: value}; column 1 is the index, column 2 the value, column 3 only in rows
// with an odd value (a sparse column).
std::map<uint32_t, uint32_t> &rows() {
    static std::map<uint32_t, uint32_t> table;
    return table;
}

int32_t fill_cell(uint32_t index, uint32_t column, agent_snmp_vb *vb) {
    const uint32_t value = rows().at(index);
    if (column == kColumns && value % 2 == 0) {
        return AGENT_SNMP_CB_NO_SUCH;
    }
    vb->type = AGENT_SNMP_TYPE_INTEGER;
    vb->value.u32 = column == 1 ? index : value;
    vb->len = sizeof(uint32_t);
    return AGENT_SNMP_CB_OK;
}

int32_t row_cb(uint32_t op, uint32_t *index, uint32_t column, agent_snmp_vb *vb, void * /*ctx*/) {
    if (op == AGENT_SNMP_ROW_NEXT) {
        for (auto it = rows().lower_bound(*index); it != rows().end(); ++it) {
            if (fill_cell(it->first, column, vb) == AGENT_SNMP_CB_OK) {
                *index = it->first;
                return AGENT_SNMP_CB_OK;
            }
        }
        return AGENT_SNMP_CB_NO_SUCH;
    }
    if (rows().count(*index) == 0) {
        return AGENT_SNMP_CB_NO_SUCH;
    }
    switch (op) {
        case AGENT_SNMP_ROW_GET:
            return fill_cell(*index, column, vb);
        case AGENT_SNMP_ROW_CHECK:
            return vb->type != AGENT_SNMP_TYPE_INTEGER ? AGENT_SNMP_CB_WRONG_TYPE
                   : vb->value.u32 > kLargestValue   ? AGENT_SNMP_CB_WRONG_VALUE
                                                     : AGENT_SNMP_CB_OK;
        case AGENT_SNMP_ROW_COMMIT:
        case AGENT_SNMP_ROW_UNDO:
            if (vb->value.u32 == kCommitFails) {
                return 1;
            }
            rows()[*index] = vb->value.u32;
            return AGENT_SNMP_CB_OK;
        default:
            return 1;
    }
}

// A subtree with two instances, <prefix>.5 = 500 and <prefix>.7 = 700.
int32_t pair_get(agent_snmp_vb *vb, void *ctx) {
    const std::string prefix = static_cast<const char *>(ctx);
    const std::string name = vb->oid;
    if (name != prefix + ".5" && name != prefix + ".7") {
        return AGENT_SNMP_CB_NO_SUCH;
    }
    vb->type = AGENT_SNMP_TYPE_INTEGER;
    vb->value.u32 = (name.back() - '0') * 100u;
    return AGENT_SNMP_CB_OK;
}

int32_t pair_next(agent_snmp_vb *vb, void *ctx) {
    const std::string prefix = static_cast<const char *>(ctx);
    const std::string from = vb->oid;
    for (const char *last : {".5", ".7"}) {
        const std::string candidate = prefix + last;
        const snmp_oid after = oid_of(candidate);
        const snmp_oid before = oid_of(from);
        if (oid_compare(&after, &before) > 0) {
            std::snprintf(vb->oid, sizeof vb->oid, "%s", candidate.c_str());
            return pair_get(vb, ctx);
        }
    }
    return AGENT_SNMP_CB_NO_SUCH;
}

std::vector<std::string> walk_by_get_next(const std::string &from, const std::string &until) {
    std::vector<std::string> names;
    snmp_oid current = oid_of(from);
    snmp_varbind vb{};
    while (agent_mib_get_next(&current, &current, &vb) == MIB_OK && text_of(current).starts_with(until)) {
        names.push_back(text_of(current) + "=" + std::to_string(vb.value.integer));
    }
    return names;
}

std::vector<std::string> walk_by_get_bulk(const std::string &from, const std::string &until) {
    std::vector<std::string> names;
    snmp_varbind req{};
    req.oid = oid_of(from);
    std::array<snmp_varbind, SNMP_MAX_VARBINDS> out{};
    for (;;) {
        uint8_t count = 0;
        EXPECT_EQ(agent_mib_get_bulk(&req, 1, 0, 4, out.data(), &count), MIB_OK);
        for (uint8_t i = 0; i < count; ++i) {
            if (out[i].type == SNMP_TAG_END_OF_MIB_VIEW || !text_of(out[i].oid).starts_with(until)) {
                return names;
            }
            names.push_back(text_of(out[i].oid) + "=" + std::to_string(out[i].value.integer));
        }
        req.oid = out[count - 1].oid;
    }
}

class MibView : public EmptyRegistry {
protected:
    void SetUp() override {
        EmptyRegistry::SetUp();
        rows() = {{1, 11}, {3, 30}, {7, 71}};
        ASSERT_EQ(agent_snmp_table_register(kEntry, AGENT_SNMP_INDEX_INTEGER, kColumns, kWritableValueColumn, row_cb,
                                            nullptr),
                  AGENT_SNMP_OK);
    }
};

TEST_F(MibView, WalksMergeNodesAndSubtreesWithoutGapsOrRepeats) {
    add(test_node(oid_of("1.3.6.1.4.1.9.1.0")));
    add(test_node(oid_of("1.3.6.1.4.1.9.2.1.3.3"), MIB_ACCESS_READ_WRITE));  // a cell's OID: the node answers
    add(test_node(oid_of("1.3.6.1.4.1.9.3")));
    static const char *nested = "1.3.6.1.4.1.9.2.1.3";  // column 3 again, as a subtree of its own
    const agent_snmp_subtree_ops pair{pair_get, pair_next, nullptr, nullptr, nullptr};
    ASSERT_EQ(agent_snmp_subtree_register(nested, &pair, const_cast<char *>(nested)), AGENT_SNMP_OK);
    const std::vector<std::string> expected = {
        "1.3.6.1.4.1.9.1.0=0",     "1.3.6.1.4.1.9.2.1.1.1=1", "1.3.6.1.4.1.9.2.1.1.3=3",   "1.3.6.1.4.1.9.2.1.1.7=7",
        "1.3.6.1.4.1.9.2.1.2.1=11", "1.3.6.1.4.1.9.2.1.2.3=30", "1.3.6.1.4.1.9.2.1.2.7=71",
        "1.3.6.1.4.1.9.2.1.3.1=11", "1.3.6.1.4.1.9.2.1.3.3=3",  "1.3.6.1.4.1.9.2.1.3.5=500",
        "1.3.6.1.4.1.9.2.1.3.7=700", "1.3.6.1.4.1.9.3=3"};
    log_level_scope quiet(AGENT_LOG_WARN);
    for (const std::string from : {"1.3", kBase, "1.3.6.1.4.1.9.0.4294967295"}) {
        EXPECT_EQ(walk_by_get_next(from, kBase), expected) << from;
        EXPECT_EQ(walk_by_get_bulk(from, kBase), expected) << from;
    }
    // GET reaches each of them the same way; a cell that does not exist is no instance.
    for (const std::string &entry : expected) {
        snmp_varbind vb{};
        vb.oid = oid_of(entry.substr(0, entry.find('=')));
        ASSERT_EQ(agent_mib_get(&vb.oid, &vb), MIB_OK) << entry;
        EXPECT_EQ(entry.substr(entry.find('=') + 1), std::to_string(vb.value.integer));
    }
    snmp_varbind missing{};
    missing.oid = oid_of("1.3.6.1.4.1.9.2.1.2.2");
    EXPECT_EQ(agent_mib_get(&missing.oid, &missing), MIB_ERR_NO_SUCH_INSTANCE);
}

// The ways a subtree's get-next can break the order of the view.
enum class Fault { outside_prefix, same_name, backwards, not_an_oid };
Fault g_fault = Fault::outside_prefix;

int32_t faulty_next(agent_snmp_vb *vb, void * /*ctx*/) {
    const char *answers[] = {"1.3.6.1.4.1.8.1", vb->oid, "1.3.6.1.4.1.9.0", "1.3.x"};
    const std::string answer = answers[static_cast<int>(g_fault)];
    std::snprintf(vb->oid, sizeof vb->oid, "%s", answer.c_str());
    vb->type = AGENT_SNMP_TYPE_INTEGER;
    return AGENT_SNMP_CB_OK;
}

int32_t no_get(agent_snmp_vb * /*vb*/, void * /*ctx*/) { return AGENT_SNMP_CB_NO_SUCH; }

TEST_F(EmptyRegistry, SubtreeThatBreaksTheOrderIsRefusedWithGenErr) {
    const agent_snmp_subtree_ops faulty{no_get, faulty_next, nullptr, nullptr, nullptr};
    ASSERT_EQ(agent_snmp_subtree_register(kBase, &faulty, nullptr), AGENT_SNMP_OK);
    log_level_scope quiet(AGENT_LOG_FATAL);
    for (const Fault fault : {Fault::outside_prefix, Fault::same_name, Fault::backwards, Fault::not_an_oid}) {
        g_fault = fault;
        snmp_oid from = oid_of("1.3.6.1.4.1.9.5");
        snmp_varbind vb{};
        const int32_t status = agent_mib_get_next(&from, &from, &vb);
        EXPECT_EQ(status, MIB_ERR_BAD_HANDLER) << static_cast<int>(fault);
        EXPECT_EQ(agent_mib_get_next_error_status(status, SNMP_VERSION_1), MIB_ERRSTAT_GEN_ERR);
        EXPECT_EQ(agent_mib_get_next_error_status(status, SNMP_VERSION_2C), MIB_ERRSTAT_GEN_ERR);
        snmp_varbind req{};
        req.oid = oid_of("1.3.6.1.4.1.9.5");
        std::array<snmp_varbind, SNMP_MAX_VARBINDS> out{};
        uint8_t count = 0;
        EXPECT_EQ(agent_mib_get_bulk(&req, 1, 0, 10, out.data(), &count), MIB_ERR_BAD_HANDLER);
    }
}

snmp_varbind integer_binding(const std::string &oid, uint32_t value) {
    snmp_varbind vb{};
    vb.oid = oid_of(oid);
    vb.type = SNMP_TAG_INTEGER;
    vb.value.integer = static_cast<int32_t>(value);
    return vb;
}

TEST_F(MibView, SetChangesEveryBindingOrNone) {
    const std::string row1 = std::string(kEntry) + ".2.1";
    const std::string row3 = std::string(kEntry) + ".2.3";
    struct Case {
        const char *name;
        std::vector<snmp_varbind> bindings;
        uint32_t error_status;
        uint8_t failed;
        std::map<uint32_t, uint32_t> rows_after;
    };
    const std::vector<Case> cases = {
        {"both applied", {integer_binding(row1, 12), integer_binding(row3, 33)}, MIB_ERRSTAT_NO_ERROR, 0,
         {{1, 12}, {3, 33}, {7, 71}}},
        {"second refused at check", {integer_binding(row1, 12), integer_binding(row3, 100)}, MIB_ERRSTAT_WRONG_VALUE,
         1, {{1, 11}, {3, 30}, {7, 71}}},
        {"second names a read-only column", {integer_binding(row1, 12), integer_binding(std::string(kEntry) + ".1.3", 4)},
         MIB_ERRSTAT_NOT_WRITABLE, 1, {{1, 11}, {3, 30}, {7, 71}}},
        {"second fails to commit: the first is taken back", {integer_binding(row1, 12), integer_binding(row3, kCommitFails)},
         MIB_ERRSTAT_COMMIT_FAILED, 1, {{1, 11}, {3, 30}, {7, 71}}},
        {"a row that does not exist", {integer_binding(std::string(kEntry) + ".2.9", 1)}, MIB_ERRSTAT_NO_CREATION, 0,
         {{1, 11}, {3, 30}, {7, 71}}},
    };
    log_level_scope quiet(AGENT_LOG_FATAL);
    for (const Case &c : cases) {
        rows() = {{1, 11}, {3, 30}, {7, 71}};
        uint8_t failed = 0;
        const int32_t status =
            agent_mib_set_request(c.bindings.data(), static_cast<uint8_t>(c.bindings.size()), &failed);
        EXPECT_EQ(agent_mib_set_error_status(status), c.error_status) << c.name;
        EXPECT_EQ(status == MIB_OK ? 0 : failed, c.failed) << c.name;
        EXPECT_EQ(rows(), c.rows_after) << c.name;
    }
    // An exact node committed before the failing binding gets its earlier value written back.
    add(test_node(oid_of("1.3.6.1.4.1.9.1.8"), MIB_ACCESS_READ_WRITE));
    const std::vector<snmp_varbind> mixed = {integer_binding("1.3.6.1.4.1.9.1.8", 5),
                                             integer_binding(row3, kCommitFails)};
    uint8_t failed = 0;
    EXPECT_EQ(agent_mib_set_request(mixed.data(), 2, &failed), MIB_ERR_COMMIT_FAILED);
    EXPECT_EQ(calls().writes, 2);
    EXPECT_EQ(calls().last_written.value.integer, 8);  // what the node read before the SET
}

TEST_F(EmptyRegistry, Ipv4IndexedTableWalksAddressesInOrder) {
    rows() = {{0x0A000001, 1}, {0x0A000002, 3}, {0xC0A80101, 5}};  // 10.0.0.1, 10.0.0.2, 192.168.1.1
    ASSERT_EQ(agent_snmp_table_register(kEntry, AGENT_SNMP_INDEX_IPV4, 2, 0, row_cb, nullptr), AGENT_SNMP_OK);
    const std::string col1 = std::string(kEntry) + ".1.";
    const std::string col2 = std::string(kEntry) + ".2.";
    const std::vector<std::pair<std::string, std::string>> steps = {
        {kEntry, col1 + "10.0.0.1"},
        {col1 + "10", col1 + "10.0.0.1"},
        {col1 + "10.0.0.1", col1 + "10.0.0.2"},
        {col1 + "10.0.0.1.7", col1 + "10.0.0.2"},
        {col1 + "10.300", col1 + "192.168.1.1"},
        {col1 + "192.168.1.1", col2 + "10.0.0.1"},
        {col1 + "4294967295", col2 + "10.0.0.1"},
        {col2 + "192.168.1.1", ""},
    };
    log_level_scope quiet(AGENT_LOG_WARN);
    for (const auto &[from, next] : steps) {
        snmp_oid current = oid_of(from);
        snmp_varbind vb{};
        const int32_t status = agent_mib_get_next(&current, &current, &vb);
        EXPECT_EQ(status == MIB_OK ? text_of(current) : "", next) << from;
    }
    snmp_varbind partial{};
    partial.oid = oid_of(col1 + "10.0.0");
    EXPECT_EQ(agent_mib_get(&partial.oid, &partial), MIB_ERR_NO_SUCH_INSTANCE);
}

}  // namespace
}  // namespace mib_test
