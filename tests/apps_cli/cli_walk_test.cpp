// veksnmpnms walk against Debian's snmpd, next to snmpwalk and snmpbulkwalk of the same subtree, and
// against a responder whose answers repeat the OID they were asked for.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "codec/snmp_types.h"
#include "tests/apps_cli/cli_test_common.h"

namespace apps_test {
namespace {

/* The tables that list the host's connections, processes and neighbours change from one walk to the
 * next while other programs run. The modules that serve the connection tables by going through every
 * row for each request are left out of the agent, and all of these tables out of the view of the
 * community "walk" and the standard SNMPv3 user "walker". They see everything else of 1.3.6.1.2.1,
 * the address-indexed route and address tables with their long OIDs included. */
const std::vector<std::string> k_without_row_scans = {"-I", "-tcpTable,-udpTable,-udpEndpointTable"};
const std::string k_stable_view = "view stable included .1.3.6.1.2.1\n"
                                  "view stable excluded .1.3.6.1.2.1.4.22\n"
                                  "view stable excluded .1.3.6.1.2.1.4.35\n"
                                  "view stable excluded .1.3.6.1.2.1.6.13\n"
                                  "view stable excluded .1.3.6.1.2.1.6.19\n"
                                  "view stable excluded .1.3.6.1.2.1.6.20\n"
                                  "view stable excluded .1.3.6.1.2.1.7.5\n"
                                  "view stable excluded .1.3.6.1.2.1.7.7\n"
                                  "view stable excluded .1.3.6.1.2.1.25.4\n"
                                  "view stable excluded .1.3.6.1.2.1.25.5\n"
                                  "rocommunity walk 127.0.0.1 -V stable\n"
                                  "createUser walker SHA-256 authpass123 AES privpass123\n"
                                  "rouser walker priv -V stable\n";

/* A v1 walk sends one request per object, at most 300 a second. snmpd may take seconds to fill a
 * table's cache on a busy machine: the walks wait that long for an answer. */
constexpr auto k_walk_limit = 120s;
const std::string k_answer_wait_ms = "10000";
const std::vector<std::string> k_tool_patience = {"-t", "5", "-r", "3"};

using oid_list = std::vector<std::string>;

/* The OIDs of a standard tool's -On lines (".1.3.6... = ..."), without the leading dot; lines that
 * continue a long value and the endOfMibView line that may end a GET-BULK walk are not objects. */
oid_list tool_oids(const std::string &tool, const std::vector<std::string> &args) {
    const run_result r = run_snmp_tool(tool, args, k_walk_limit);
    oid_list oids;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find(" = ");
        if (line.starts_with('.') && eq != std::string::npos && line.find("No more variables left") == std::string::npos) {
            oids.push_back(line.substr(1, eq - 1));
        }
    }
    return oids;
}

/* Where two OID lists part: the first index at which they differ, with the entries there. */
std::string first_difference(const oid_list &ours, const oid_list &theirs) {
    size_t i = 0;
    while (i < ours.size() && i < theirs.size() && ours[i] == theirs[i]) {
        ++i;
    }
    const auto at = [i](const oid_list &list) { return i < list.size() ? list[i] : std::string("(end)"); };
    return "first difference at " + std::to_string(i) + ": ours " + at(ours) + ", theirs " + at(theirs) + " (" +
           std::to_string(ours.size()) + " and " + std::to_string(theirs.size()) + " objects)";
}

/* The end of a long output, where a walk says how it ended. */
std::string tail_of(const std::string &out) {
    constexpr size_t k_tail = 1500;
    return out.size() > k_tail ? out.substr(out.size() - k_tail) : out;
}

/* The OIDs of the object lines of a walk ("  [i] OID：<oid> = ..."). */
oid_list walk_oids(const std::string &out) {
    oid_list oids;
    std::istringstream in(out);
    const std::string marker = "] OID：";
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(marker);
        if (line.starts_with("  [") && at != std::string::npos) {
            const size_t start = at + marker.size();
            oids.push_back(line.substr(start, line.find(" = ", start) - start));
        }
    }
    return oids;
}

TEST(CliWalk, SameOidsInTheSameOrderAsTheStandardWalks) {
    const snmpd_peer peer(k_stable_view, k_without_row_scans);
    if (!peer.skip_reason().empty()) {
        GTEST_SKIP() << peer.skip_reason();
    }
    const std::vector<std::string> v1 = {"-v", "1", "-c", "walk"};
    const std::vector<std::string> v2c = {"-v", "2c", "-c", "walk"};
    const std::vector<std::string> v3 = {"-v", "3", "-s", "std", "-u", "walker", "-a", "SHA-256", "-A", "authpass123",
                                         "-x", "AES", "-X", "privpass123"};
    const std::vector<std::string> tool_v1 = {"-v1", "-c", "walk"};
    const std::vector<std::string> tool_v2c = {"-v2c", "-c", "walk"};
    const std::vector<std::string> tool_v3 = {"-v3", "-l", "authPriv", "-u", "walker", "-a", "SHA-256", "-A",
                                              "authpass123", "-x", "AES", "-X", "privpass123"};
    struct walk_case {
        std::vector<std::string> options;
        std::vector<std::string> tool_options;
        std::vector<std::string> tools;
    };
    const std::vector<walk_case> cases = {
        {v1, tool_v1, {"snmpwalk"}},
        {v2c, tool_v2c, {"snmpwalk", "snmpbulkwalk"}},
        {v3, tool_v3, {"snmpbulkwalk"}},
    };
    for (const std::string subtree : {"1.3.6.1.2.1.1", "1.3.6.1.2.1"}) {
        for (const walk_case &c : cases) {
            std::vector<std::string> args = {"walk", "-lvl", "3", "-t", k_answer_wait_ms};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.insert(args.end(), {peer.target(), subtree});
            const run_result ours = run_program(k_cli, args, "", k_walk_limit);
            const oid_list walked = walk_oids(ours.out);
            const std::string label = c.options[1] + " " + subtree;
            EXPECT_EQ(ours.exit_code, k_exit_ok) << label << "\n" << tail_of(ours.out);
            EXPECT_NE(ours.out.find("遍历完成（共" + std::to_string(walked.size()) + "个变量）\n"), std::string::npos);
            for (const std::string &tool : c.tools) {
                std::vector<std::string> tool_args = {"-On"};
                tool_args.insert(tool_args.end(), k_tool_patience.begin(), k_tool_patience.end());
                tool_args.insert(tool_args.end(), c.tool_options.begin(), c.tool_options.end());
                tool_args.insert(tool_args.end(), {peer.target(), subtree});
                const oid_list expected = tool_oids(tool, tool_args);
                ASSERT_FALSE(expected.empty()) << tool << " " << label;
                EXPECT_TRUE(walked == expected) << tool << " " << label << ": " << first_difference(walked, expected);
                std::printf("walk -v %s: %zu objects, as %s lists them\n", label.c_str(), walked.size(), tool.c_str());
            }
        }
    }
}

TEST(CliWalk, AnOidThatDoesNotIncreaseEndsTheWalkAtOnce) {
    // The responder answers every request with the OID it was asked for.
    snmp_responder responder;
    ASSERT_TRUE(responder.ok());
    constexpr auto k_timeout = 3000ms;
    for (const std::string version : {"1", "2c"}) {
        const auto start = std::chrono::steady_clock::now();
        const run_result r = run_cli({"walk", "-v", version, "-t", std::to_string(k_timeout.count()),
                                      local_target(responder.port()), "1.3.6.1.4.1.9999"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, k_timeout);
        EXPECT_EQ(r.exit_code, k_exit_failed);
        EXPECT_NE(r.out.find("错误：设备返回的OID未递增（1.3.6.1.4.1.9999 之后是 1.3.6.1.4.1.9999），遍历中止\n"
                             "遍历中止（已读取0个变量）\n"),
                  std::string::npos)
            << version << "\n" << r.out;
    }
    const std::vector<seen_request> seen = responder.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].op, static_cast<uint32_t>(SNMP_OP_GETNEXT));
    EXPECT_EQ(seen[1].op, static_cast<uint32_t>(SNMP_OP_GETBULK));
    EXPECT_EQ(seen[1].non_repeaters, 0u);
    EXPECT_EQ(seen[1].max_repetitions, 10u);
}

} // namespace
} // namespace apps_test
