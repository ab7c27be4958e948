// veksnmpagent's IF-MIB against the host and against Debian's snmpd: snmptable lists one row per
// interface of /proc/net/dev, ifDescr and ifHCInOctets agree with snmpd's, and a SET that names a
// read-only column changes nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/agent_e2e/agent_e2e_support.h"

namespace agent_e2e {
namespace {

constexpr const char *k_if_descr = "1.3.6.1.2.1.2.2.1.2";
constexpr const char *k_if_hc_in_octets = "1.3.6.1.2.1.31.1.1.1.6";

/* Just enough of IF-MIB's ifTable for snmptable to know the table's shape (no MIB files are
 * installed with the tools). */
constexpr const char *k_table_mib = R"(VEK-IF-TEST-MIB DEFINITIONS ::= BEGIN
ifTable OBJECT-TYPE SYNTAX SEQUENCE OF IfEntry MAX-ACCESS not-accessible STATUS current DESCRIPTION ""
    ::= { iso(1) org(3) dod(6) internet(1) mgmt(2) mib-2(1) interfaces(2) 2 }
ifEntry OBJECT-TYPE SYNTAX IfEntry MAX-ACCESS not-accessible STATUS current DESCRIPTION ""
    INDEX { ifIndex } ::= { ifTable 1 }
IfEntry ::= SEQUENCE { ifIndex INTEGER, ifDescr OCTET STRING }
ifIndex OBJECT-TYPE SYNTAX INTEGER MAX-ACCESS read-only STATUS current DESCRIPTION "" ::= { ifEntry 1 }
ifDescr OBJECT-TYPE SYNTAX OCTET STRING MAX-ACCESS read-only STATUS current DESCRIPTION "" ::= { ifEntry 2 }
END
)";

/* Received bytes of each interface of /proc/net/dev, by name. */
std::map<std::string, uint64_t> proc_net_dev() {
    std::map<std::string, uint64_t> received;
    std::ifstream in("/proc/net/dev");
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::istringstream counters(line.substr(colon + 1));
        uint64_t bytes = 0;
        counters >> bytes;
        received[line.substr(line.find_first_not_of(' '), colon - line.find_first_not_of(' '))] = bytes;
    }
    return received;
}

/* The bare values of a column walk (-Oqv), one per line, by the row index in the name. */
std::map<uint32_t, std::string> column(const std::string &target, const std::string &oid) {
    const run_result r = run_snmp_tool("snmpwalk", {"-v2c", "-c", "public", "-On", "-Oq", target, oid});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    std::map<uint32_t, std::string> values;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const size_t space = line.find(' ');
        const std::string name = line.substr(0, space);
        values[static_cast<uint32_t>(std::stoul(name.substr(name.rfind('.') + 1)))] = line.substr(space + 1);
    }
    return values;
}

class AgentInterfaces : public ::testing::Test {
protected:
    void SetUp() override {
        if (!find_program("snmptable") || !find_program("snmpset")) {
            GTEST_SKIP() << "the standard SNMP tools are not installed (Debian package snmp)";
        }
    }
};

TEST_F(AgentInterfaces, SnmptableListsOneRowPerInterfaceOfProcNetDev) {
    agent_under_test agent;
    ASSERT_TRUE(agent.ready()) << agent.output();
    const std::filesystem::path dir = make_temp_dir("vek_if_mib_");
    std::ofstream(dir / "VEK-IF-TEST-MIB.txt") << k_table_mib;
    const run_result table = run_snmp_tool("snmptable", {"-M", dir.string(), "-m", "VEK-IF-TEST-MIB", "-v2c", "-c",
                                                         "public", "-Cf", ",", "-CH", agent.target(), k_if_table});
    EXPECT_EQ(table.exit_code, 0) << table.out;
    std::vector<std::string> names;
    std::istringstream rows(table.out);
    for (std::string row; std::getline(rows, row);) {
        const size_t quote = row.find(",\"");
        if (quote != std::string::npos) {  // not the tool's notes
            names.push_back(row.substr(quote + 2, row.size() - quote - 3));
        }
    }
    std::vector<std::string> expected;
    for (const auto &[name, bytes] : proc_net_dev()) {
        expected.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected) << table.out;
    std::filesystem::remove_all(dir);
}

TEST_F(AgentInterfaces, DescriptionsAndOctetCountersAgreeWithSnmpd) {
    const std::map<std::string, uint64_t> before = proc_net_dev();
    snmpd_peer snmpd;
    if (!snmpd.skip_reason().empty()) {
        GTEST_SKIP() << snmpd.skip_reason();
    }
    agent_under_test agent;
    ASSERT_TRUE(agent.ready()) << agent.output();
    const std::map<uint32_t, std::string> their_names = column(snmpd.target(), k_if_descr);
    const std::map<uint32_t, std::string> our_names = column(agent.target(), k_if_descr);
    const std::map<uint32_t, std::string> their_octets = column(snmpd.target(), k_if_hc_in_octets);
    const std::map<uint32_t, std::string> our_octets = column(agent.target(), k_if_hc_in_octets);
    const std::map<std::string, uint64_t> after = proc_net_dev();
    ASSERT_FALSE(our_names.empty());
    EXPECT_EQ(our_names, their_names);
    ASSERT_EQ(our_octets.size(), their_octets.size());
    // Both read the same counters between the two readings of /proc/net/dev.
    for (const auto &[index, name] : our_names) {
        const std::string bare = name.substr(1, name.size() - 2);
        const uint64_t traffic = after.at(bare) - before.at(bare);
        const uint64_t ours = std::stoull(our_octets.at(index));
        const uint64_t theirs = std::stoull(their_octets.at(index));
        EXPECT_LE(std::max(ours, theirs) - std::min(ours, theirs), traffic) << bare;
    }
}

TEST_F(AgentInterfaces, SetOfAReadOnlyColumnIsNotWritableAndChangesNothingElse) {
    agent_under_test agent;
    ASSERT_TRUE(agent.ready()) << agent.output();
    const std::string admin_status = std::string(k_if_admin_status) + ".1";
    const run_result set = run_merged(*find_program("snmpset"), {"-On", "-v2c", "-c", "private", agent.target(),
                                                                  k_sys_name, "s", "renamed", admin_status, "i", "2"});
    EXPECT_NE(set.exit_code, 0);
    EXPECT_NE(set.out.find("notWritable"), std::string::npos) << set.out;
    EXPECT_NE(set.out.find("Failed object: ." + admin_status), std::string::npos) << set.out;
    const run_result name = run_snmp_tool("snmpget", {"-v2c", "-c", "public", "-Oqv", agent.target(), k_sys_name});
    EXPECT_NE(name.out, "\"renamed\"\n");
    EXPECT_FALSE(name.out.empty());
}

} // namespace
} // namespace agent_e2e
