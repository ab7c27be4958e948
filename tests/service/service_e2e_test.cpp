// snmp_service as a process on high ports, driven over HTTP: every endpoint with its JSON answer
// parsed, against Debian's snmpd (a throw-away instance), a codec-based responder and snmptrap.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps_cli/apps_test_support.h"
#include "tests/service/service_test_support.h"

namespace service_test {
namespace {

using json_check::value;

constexpr const char *k_sys_descr = "1.3.6.1.2.1.1.1.0";
constexpr const char *k_sys_object_id = "1.3.6.1.2.1.1.2.0";
constexpr const char *k_sys_uptime = "1.3.6.1.2.1.1.3.0";
constexpr const char *k_sys_name = "1.3.6.1.2.1.1.5.0";
constexpr const char *k_loopback_address = "1.3.6.1.2.1.4.20.1.1.127.0.0.1";
constexpr const char *k_if_hc_in_multicast = "1.3.6.1.2.1.31.1.1.1.8.1";
constexpr int k_type_octet_string = 4;
constexpr int k_type_oid = 6;
constexpr int k_type_ipaddress = 10;
constexpr int k_type_timeticks = 67;
constexpr int k_type_counter64 = 70;

const std::string k_text_ok = "操作成功";
const std::string k_text_invalid = "无效参数（参数为空或格式错误）";
const std::string k_text_not_found = "Agent不存在（未创建或已移除）";
const std::string k_text_exists = "Agent已存在（重复创建同一IP:端口）";
const std::string k_text_not_supported = "操作不支持（如V1使用GET-NEXT）";
const std::string k_text_user_exists = "V3用户已存在（重复添加同一用户名）";

std::string agent(uint16_t port) { return "ip=127.0.0.1&port=" + std::to_string(port); }

void expect_ret_msg(const value &answer, int64_t ret, const std::string &msg) {
    EXPECT_EQ(answer.size(), 2u);
    EXPECT_EQ(answer["ret"].as_int(), ret);
    EXPECT_EQ(answer["msg"].str(), msg);
}

class ServiceE2e : public testing::Test {
protected:
    void SetUp() override {
        http_port_ = free_tcp_port();
        trap_port_ = apps_test::free_udp_port();
        service_.emplace(service_process::options{service_executable(), http_port_, trap_port_, {}, {}});
        ASSERT_TRUE(service_->wait_serving()) << service_->output();
    }

    value api(const std::string &target) { return get_json(http_port_, target); }

    void create_agent(uint16_t port, const std::string &community, const std::string &version = "2c") {
        const value created = api("/api_snmp_agent_create?" + agent(port) + "&community=" + community +
                                  "&version=" + version);
        ASSERT_EQ(created["ret"].as_int(), 0) << service_->output();
    }

    uint16_t http_port_ = 0;
    uint16_t trap_port_ = 0;
    std::optional<service_process> service_;
};

/* With a throw-away snmpd: its communities are public (read) and private (read-write). */
class ServiceSnmpd : public ServiceE2e {
protected:
    void SetUp() override {
        snmpd_.emplace();
        if (!snmpd_->skip_reason().empty()) {
            GTEST_SKIP() << snmpd_->skip_reason();
        }
        ServiceE2e::SetUp();
    }

    std::string target() const { return agent(snmpd_->port()); }

    std::optional<apps_test::snmpd_peer> snmpd_;
};

TEST_F(ServiceE2e, AgentEndpoints) {
    const uint16_t port = apps_test::free_udp_port();
    expect_ret_msg(api("/api_snmp_agent_create?" + agent(port) + "&community=public&version=2c"), 0, k_text_ok);
    expect_ret_msg(api("/api_snmp_agent_create?" + agent(port) + "&community=public"), 10, k_text_exists);
    expect_ret_msg(api("/api_snmp_agent_create?ip=127.0.0.256&port=161"), 1, k_text_invalid);
    // Version "0" is SNMPv1, "3" SNMPv3, anything else SNMPv2c; no port means 161, and a port is taken
    // as the low 16 bits of its value.
    expect_ret_msg(api("/api_snmp_agent_create?ip=127.0.0.2&version=0&community=public"), 0, k_text_ok);
    expect_ret_msg(api("/api_snmp_agent_create?ip=127.0.0.3&port=65537&version=3"), 0, k_text_ok);

    const value list = api("/api_snmp_get_agent_list");
    EXPECT_EQ(list["ret"].as_int(), 0);
    EXPECT_EQ(list["msg"].str(), "success");
    ASSERT_EQ(list["total"].as_int(), 3);
    ASSERT_EQ(list["list"].size(), 3u);
    // Newest first.
    const value &v3 = list["list"][0];
    EXPECT_EQ(v3["ip"].str(), "127.0.0.3");
    EXPECT_EQ(v3["port"].as_int(), 1);
    EXPECT_EQ(v3["version"].as_int(), 3);
    EXPECT_EQ(list["list"][1]["port"].as_int(), 161);
    EXPECT_EQ(list["list"][1]["version"].as_int(), 0);
    const value &v2c = list["list"][2];
    EXPECT_EQ(v2c["ip"].str(), "127.0.0.1");
    EXPECT_EQ(v2c["port"].as_int(), port);
    EXPECT_EQ(v2c["version"].as_int(), 1);
    EXPECT_EQ(v2c["timeout"].as_int(), 3000);
    EXPECT_EQ(v2c["max_retry"].as_int(), 3);

    const value count = api("/api_snmp_get_agent_count");
    EXPECT_EQ(count["count"].as_int(), 3);
    EXPECT_EQ(count["msg"].str(), "success");
    EXPECT_EQ(api("/api_snmp_agent_exist?" + agent(port))["exist"].as_int(), 1);
    expect_ret_msg(api("/api_snmp_agent_remove?" + agent(port)), 0, k_text_ok);
    expect_ret_msg(api("/api_snmp_agent_remove?" + agent(port)), 2, k_text_not_found);
    const value gone = api("/api_snmp_agent_exist?" + agent(port));
    EXPECT_EQ(gone["ret"].as_int(), 0);
    EXPECT_EQ(gone["exist"].as_int(), 0);

    const std::string out = service_->output();
    EXPECT_NE(out.find("[HTTP] path=/api_snmp_get_agent_count\n"), std::string::npos);
    EXPECT_NE(out.find("[HTTP] response: {\"ret\":0,\"msg\":\"success\",\"count\":3}\n"), std::string::npos);
    EXPECT_NE(out.find("[API] api_snmp_agent_remove ip=127.0.0.1 port=" + std::to_string(port)), std::string::npos);
}

TEST_F(ServiceE2e, HelperEndpointsAndUnknownRequests) {
    expect_ret_msg(api("/api_snmp_mib_load"), 1, k_text_invalid);
    expect_ret_msg(api("/api_snmp_mib_load?path=%2Ftmp%2Fx.mib"), 0, k_text_ok);
    EXPECT_EQ(api("/api_snmp_oid_validate?oid=1.3.6.1.2.1")["valid"].as_int(), 1);
    EXPECT_EQ(api("/api_snmp_oid_validate?oid=3.6.1")["valid"].as_int(), 0);
    EXPECT_EQ(api("/api_snmp_oid_validate?oid=1..3")["valid"].as_int(), 0);
    expect_ret_msg(api("/api_snmp_error_to_str?code=6"), 6, "响应超时（设备未在规定时间内回复）");
    expect_ret_msg(api("/api_snmp_error_to_str?code=99"), 99, "未知错误（invalid error code）");
    expect_ret_msg(api("/api_snmp_error_status_to_str?status=2"), 2, "noSuchName");
    expect_ret_msg(api("/api_snmp_error_status_to_str?status=22"), 22, "unknownError");
    expect_ret_msg(api("/api_snmp_set_log_level?level=2"), 0, "success");

    // Unknown paths are echoed, escaped; only the path counts, not its query.
    const value unknown = api("/no_such_api?x=1");
    EXPECT_EQ(unknown["ret"].as_int(), -404);
    EXPECT_EQ(unknown["msg"].str(), "unknown api");
    EXPECT_EQ(unknown["path"].str(), "/no_such_api");
    const std::optional<std::string> raw = exchange(http_port_, "GET /a\"b\\c\xFF\x01 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(raw.has_value());
    EXPECT_TRUE(raw->starts_with("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"));
    const auto odd = json_check::parse(raw->substr(raw->find("\r\n\r\n") + 4));
    ASSERT_TRUE(odd.has_value()) << *raw;
    EXPECT_EQ((*odd)["path"].str(), "/a\"b\\c\xC3\xBF\x01");

    // Anything but GET has an empty path.
    const std::optional<std::string> post =
        exchange(http_port_, "POST /api_snmp_get_agent_count HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(post.has_value());
    EXPECT_TRUE(post->ends_with("\r\n\r\n{\"ret\":-404,\"msg\":\"unknown api\",\"path\":\"\"}")) << *post;

    // A connection that ends without sending anything is closed without an answer.
    const std::optional<std::string> silent = exchange(http_port_, "", 10s);
    ASSERT_TRUE(silent.has_value());
    EXPECT_TRUE(silent->empty());
    // A request that arrives in pieces is read up to the end of its head.
    const std::optional<std::string> pieces = exchange_in_pieces(
        http_port_, {"GET /api_snmp_error_status", "_to_str?status=1", "3 HTTP/1.1\r\n", "Host: 127.0.0.1\r\n\r\n"});
    ASSERT_TRUE(pieces.has_value());
    EXPECT_TRUE(pieces->ends_with("\r\n\r\n{\"ret\":13,\"msg\":\"resourceUnavailable\"}")) << *pieces;
}

// A page of another site cannot make the operator's browser drive the service: no work is done.
TEST_F(ServiceE2e, RequestsFromOtherSitesAreRefused) {
    const std::string host = "127.0.0.1:" + std::to_string(http_port_);
    struct {
        std::string headers;
        int status;
    } const cases[] = {
        {"Host: " + host + "\r\n", 200},
        {"Host: " + host + "\r\nOrigin: http://" + host + "\r\nSec-Fetch-Site: same-origin\r\n", 200},
        {"Host: " + host + "\r\nOrigin: http://evil.example\r\n", 403},
        {"Host: " + host + "\r\nSec-Fetch-Site: cross-site\r\n", 403},
        {"Host: " + host + "\r\nReferer: http://evil.example/x.html\r\n", 403},
        {"Host: rebound.example:" + std::to_string(http_port_) + "\r\n", 403}, /* a name some site may point here */
    };
    int created = 0;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string request = "GET /api_snmp_agent_create?ip=127.0.0.9&community=public&port=" +
                                    std::to_string(1000 + i) + " HTTP/1.1\r\n" + cases[i].headers + "\r\n";
        const std::optional<std::string> reply = service_test::exchange(http_port_, request);
        ASSERT_TRUE(reply.has_value());
        EXPECT_TRUE(reply->starts_with("HTTP/1.1 " + std::to_string(cases[i].status) + " ")) << *reply;
        EXPECT_EQ(reply->find("Access-Control-Allow-Origin"), std::string::npos);
        const auto body = json_check::parse(reply->substr(reply->find("\r\n\r\n") + 4));
        ASSERT_TRUE(body.has_value()) << *reply;
        EXPECT_EQ((*body)["ret"].as_int(), cases[i].status == 200 ? 0 : -403) << *reply;
        created += cases[i].status == 200 ? 1 : 0;
    }
    EXPECT_EQ(api("/api_snmp_get_agent_count")["count"].as_int(), created) << "refused requests did nothing";
    EXPECT_EQ(service_->output().find("community=public"), std::string::npos) << "communities are never printed";
}

TEST_F(ServiceE2e, RequestsWithoutObjectsOrAgent) {
    const std::string target = agent(apps_test::free_udp_port());
    expect_ret_msg(api("/api_snmp_get?" + target), 1, "no oid");
    expect_ret_msg(api("/api_snmp_getnext?" + target + "&oid=,%20,"), 1, "no oid");
    expect_ret_msg(api("/api_snmp_get_bulk?" + target), 1, "no oid");
    expect_ret_msg(api("/api_snmp_set?" + target + "&oid=1.3.6.1.2.1.1.5.0&type=octet_string"), 1, "no oid or value");
    expect_ret_msg(api("/api_snmp_set?" + target + "&value=x"), 1, "no oid or value");
    // No agent at that address: the SDK's refusal comes back at once.
    expect_ret_msg(api("/api_snmp_get?" + target + "&oid=1.3.6.1.2.1.1.1.0"), 2, k_text_not_found);
    // More OIDs than the SDK takes in one request, and a zero time-out, are refused by the SDK.
    std::string many;
    for (int i = 1; i <= 11; ++i) {
        many += "1.3.6.1.2.1.1." + std::to_string(i) + ".0,";
    }
    expect_ret_msg(api("/api_snmp_get?" + target + "&oid=" + many), 1, k_text_invalid);
    expect_ret_msg(api("/api_snmp_get?" + target + "&oid=1.3.6.1.2.1.1.1.0&timeout=0"), 1, k_text_invalid);

    // GET-BULK: max_repeat whose low 8 bits are 0 is reset to 10 with a warning line.
    api("/api_snmp_get_bulk?" + target + "&oid=1.3.6.1.2.1.1&non_repeat=257&max_repeat=256&timeout=1");
    const std::string out = service_->output();
    EXPECT_NE(out.find("[WARN_GETBULK_ZERO] max_repeat cannot be zero, reset default to 10\n"), std::string::npos);
    EXPECT_NE(out.find("non_repeat=1 max_repeat=10 timeout=1 raw_nr_str=\"257\" raw_mr_str=\"256\" oids=1.3.6.1.2.1.1\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[NMS_HTTP_PARSE_GETBULK] varbind_count=1\n"), std::string::npos);
    EXPECT_NE(out.find("[API] api_snmp_get ip=127.0.0.1 port="), std::string::npos);
    EXPECT_NE(out.find(" user=NULL oid=1.3.6.1.2.1.1.1.0\n"), std::string::npos);
    EXPECT_NE(out.find("[API] api_snmp_get ret=2\n"), std::string::npos);
}

TEST_F(ServiceE2e, CommunityKeepsEncodedSeparators) {
    // community=a%26b%3Dc must reach the agent as "a&b=c", not be cut at the encoded '&'.
    apps_test::snmp_responder responder;
    ASSERT_TRUE(responder.ok());
    create_agent(responder.port(), "a%26b%3Dc%2Bd");
    const value got = api("/api_snmp_get?" + agent(responder.port()) + "&oid=1.3.6.1.2.1.1.1.0");
    ASSERT_EQ(got["ret"].as_int(), 0) << service_->output();
    ASSERT_EQ(got["data"].size(), 1u);
    EXPECT_EQ(got["data"][0]["value"].str(), "value:1.3.6.1.2.1.1.1.0");
    const std::vector<apps_test::seen_request> seen = responder.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].community, "a&b=c+d");
}

TEST_F(ServiceE2e, UserEndpointsCheckTheirArguments) {
    const uint16_t port = apps_test::free_udp_port();
    create_agent(port, "", "3");
    const std::string base = "/api_snmp_user_add?" + agent(port) + "&username=alice";
    expect_ret_msg(api(base + "&auth_alg=11&auth_pass=x"), 1, "invalid auth_alg value 11");
    expect_ret_msg(api(base + "&auth_alg=-1&auth_pass=x"), 1, "invalid auth_alg value -1");
    expect_ret_msg(api(base + "&auth_alg=1&auth_pass=x&priv_alg=12&priv_pass=y"), 1, "invalid priv_alg value 12");
    expect_ret_msg(api(base + "&auth_alg=2"), 1, "auth algorithm selected, auth_pass cannot empty");
    expect_ret_msg(api(base + "&auth_alg=2&auth_pass=authpass&priv_alg=2"), 1,
                   "priv algorithm selected, priv_pass cannot empty");
    expect_ret_msg(api(base + "&priv_alg=2&priv_pass=privpass"), 1, "priv requires auth enabled first");
    expect_ret_msg(api(base + "&priv_alg=2"), 1, "priv algorithm selected, priv_pass cannot empty");
    EXPECT_EQ(api("/api_snmp_get_user_count?" + agent(port))["count"].as_int(), 0);

    expect_ret_msg(api(base + "&auth_alg=3&auth_pass=authpass123&priv_alg=2&priv_pass=privpass123"), 0, k_text_ok);
    expect_ret_msg(api(base + "&auth_alg=3&auth_pass=authpass123&priv_alg=2&priv_pass=privpass123"), 12,
                   k_text_user_exists);
    // A user name built to inject members into the list stays one string.
    const std::string crafted = "b%22%2C%22ret%22%3A9%2C%22x%22%3A%22";
    expect_ret_msg(api("/api_snmp_user_add?" + agent(port) + "&username=" + crafted), 0, k_text_ok);

    const value count = api("/api_snmp_get_user_count?" + agent(port));
    EXPECT_EQ(count["count"].as_int(), 2);
    const value list = api("/api_snmp_get_user_list?" + agent(port));
    EXPECT_EQ(list["ret"].as_int(), 0);
    ASSERT_EQ(list["total"].as_int(), 2);
    ASSERT_EQ(list["list"].size(), 2u);
    EXPECT_EQ(list["list"][0]["username"].str(), "alice");
    EXPECT_EQ(list["list"][0]["auth_alg"].as_int(), 3);
    EXPECT_EQ(list["list"][0]["priv_alg"].as_int(), 2);
    EXPECT_EQ(list["list"][1]["username"].str(), "b\",\"ret\":9,\"x\":\"");
    EXPECT_EQ(list["list"][1]["auth_alg"].as_int(), 0);

    expect_ret_msg(api("/api_snmp_user_remove?" + agent(port) + "&username=alice"), 0, k_text_ok);
    EXPECT_EQ(api("/api_snmp_get_user_count?" + agent(port))["count"].as_int(), 1);
    expect_ret_msg(api("/api_snmp_user_remove?" + agent(port)), 1, k_text_invalid);
}

TEST_F(ServiceE2e, NotificationsAppearInTheTrapList) {
    if (!apps_test::find_program("snmptrap")) {
        GTEST_SKIP() << "snmptrap is not installed (Debian package snmp)";
    }
    const value empty = api("/api_snmp_trap_list");
    EXPECT_EQ(empty["total"].as_int(), 0);
    // Notifications are accepted from created agents only: snmptrap sends from a fixed port.
    const uint16_t source = apps_test::free_udp_port();
    create_agent(source, "public");
    const std::string texts[] = {"first trap", "quote\" back\\slash"};
    for (const std::string &text : texts) {
        const apps_test::run_result sent = apps_test::run_snmp_tool(
            "snmptrap", {"-v2c", "-c", "public", "--clientaddr=127.0.0.1:" + std::to_string(source),
                         "--clientaddrUsesPort=yes", "127.0.0.1:" + std::to_string(trap_port_), "",
                         "1.3.6.1.4.1.9999.1", "1.3.6.1.4.1.9999.1.1", "s", text});
        ASSERT_EQ(sent.exit_code, 0) << sent.out;
        ASSERT_TRUE(service_->wait_for_output("[CALLBACK] Trap from 127.0.0.1:" + std::to_string(source), 5s));
    }
    value list;
    for (int attempt = 0; attempt < 100; ++attempt) {
        list = api("/api_snmp_trap_list");
        if (list["total"].as_int() == 2) {
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(list["ret"].as_int(), 0);
    ASSERT_EQ(list["total"].as_int(), 2) << service_->output();
    for (size_t i = 0; i < 2; ++i) {
        const value &trap = list["list"][i];
        EXPECT_EQ(trap["seq"].as_int(), static_cast<int64_t>(i + 1));
        EXPECT_EQ(trap["ip"].str(), "127.0.0.1");
        EXPECT_EQ(trap["port"].as_int(), source);
        EXPECT_EQ(trap["version"].as_int(), 1);
        EXPECT_EQ(trap["community"].str(), "public");
        EXPECT_EQ(trap["error"].as_int(), 0);
        ASSERT_EQ(trap["var_count"].as_int(), 3);
        EXPECT_EQ(trap["varbinds"][0]["oid"].str(), "1.3.6.1.2.1.1.3.0");
        EXPECT_EQ(trap["varbinds"][1]["oid"].str(), "1.3.6.1.6.3.1.1.4.1.0");
        EXPECT_EQ(trap["varbinds"][1]["value"].str(), "1.3.6.1.4.1.9999.1");
        EXPECT_EQ(trap["varbinds"][2]["oid"].str(), "1.3.6.1.4.1.9999.1.1");
        EXPECT_EQ(trap["varbinds"][2]["value"].str(), texts[i]);
        EXPECT_EQ(trap["varbinds"][2]["type"].as_int(), k_type_octet_string);
    }
}

TEST_F(ServiceSnmpd, GetGetNextAndBulkMatchTheAgent) {
    create_agent(snmpd_->port(), "public");
    const value got = api("/api_snmp_get?" + target() + "&oid=" + k_sys_descr + "," + k_sys_uptime + "+" +
                          k_loopback_address + "," + k_if_hc_in_multicast);
    ASSERT_EQ(got["ret"].as_int(), 0) << service_->output();
    EXPECT_EQ(got["msg"].str(), "success");
    const value &data = got["data"];
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[0]["oid"].str(), k_sys_descr);
    EXPECT_EQ(data[0]["value"].str(), "Test agent");
    EXPECT_EQ(data[0]["type"].as_int(), k_type_octet_string);
    EXPECT_EQ(data[1]["type"].as_int(), k_type_timeticks);
    EXPECT_FALSE(data[1]["value"].str().empty());
    EXPECT_EQ(data[1]["value"].str().find_first_not_of("0123456789"), std::string::npos);
    // The address reads with its first octet first.
    EXPECT_EQ(data[2]["value"].str(), "127.0.0.1");
    EXPECT_EQ(data[2]["type"].as_int(), k_type_ipaddress);
    EXPECT_EQ(data[3]["type"].as_int(), k_type_counter64);
    const apps_test::run_result counter =
        apps_test::run_snmp_tool("snmpget", {"-v2c", "-c", "public", "-Oqv", snmpd_->target(), k_if_hc_in_multicast});
    EXPECT_EQ(data[3]["value"].str() + "\n", counter.out);
    const std::string out = service_->output();
    EXPECT_NE(out.find("[API] api_snmp_get ip=127.0.0.1 port=" + std::to_string(snmpd_->port()) +
                       " user=NULL oid=1.3.6.1.2.1.1.1.0,1.3.6.1.2.1.1.3.0 1.3.6.1.2.1.4.20"),
              std::string::npos);
    EXPECT_NE(out.find("[CALLBACK] SNMP response ip=127.0.0.1 port=" + std::to_string(snmpd_->port()) + " error=0\n"),
              std::string::npos);

    const value next = api("/api_snmp_getnext?" + target() + "&oid=" + k_sys_descr);
    ASSERT_EQ(next["data"].size(), 1u);
    EXPECT_EQ(next["data"][0]["oid"].str(), k_sys_object_id);
    EXPECT_EQ(next["data"][0]["type"].as_int(), k_type_oid);
    const apps_test::run_result object_id =
        apps_test::run_snmp_tool("snmpget", {"-v2c", "-c", "public", "-Oqvn", snmpd_->target(), k_sys_object_id});
    EXPECT_EQ("." + next["data"][0]["value"].str() + "\n", object_id.out);

    const value bulk = api("/api_snmp_get_bulk?" + target() + "&oid=1.3.6.1.2.1.1&non_repeat=0&max_repeat=3");
    ASSERT_EQ(bulk["data"].size(), 3u);
    EXPECT_EQ(bulk["data"][0]["oid"].str(), k_sys_descr);
    EXPECT_EQ(bulk["data"][1]["oid"].str(), k_sys_object_id);
    EXPECT_EQ(bulk["data"][2]["oid"].str(), k_sys_uptime);
    // max_repeat=256 is 0 in its low 8 bits: 10 repetitions, which is also all a response holds.
    const value wide = api("/api_snmp_get_bulk?" + target() + "&oid=1.3.6.1.2.1.1&max_repeat=256");
    EXPECT_EQ(wide["data"].size(), 10u);
}

TEST_F(ServiceSnmpd, SetAndReadBackAnyBytes) {
    create_agent(snmpd_->port(), "private");
    const std::string set = "/api_snmp_set?" + target() + "&oid=" + k_sys_name;
    expect_ret_msg(api(set + "&type=octet_string&value=plain"), 0, "success");
    EXPECT_EQ(api("/api_snmp_get?" + target() + "&oid=" + k_sys_name)["data"][0]["value"].str(), "plain");

    // Quotes, backslashes, control and non-UTF-8 bytes in a value: the answer stays valid JSON and
    // gives the bytes back (those that are not UTF-8 as \u00XX).
    expect_ret_msg(api(set + "&type=octet_string&value=a%22b%5Cc%FF%01%C3%A9%3C%2Fscript%3E"), 0, "success");
    const std::optional<std::string> body = http_get(http_port_, "/api_snmp_get?" + target() + "&oid=" + k_sys_name);
    ASSERT_TRUE(body.has_value());
    EXPECT_NE(body->find(R"("value":"a\"b\\c\u00ff\u0001é</script>")"), std::string::npos) << *body;
    const auto parsed = json_check::parse(*body);
    ASSERT_TRUE(parsed.has_value()) << *body;
    EXPECT_EQ((*parsed)["data"][0]["value"].str(), "a\"b\\c\xC3\xBF\x01\xC3\xA9</script>");
    const apps_test::run_result raw =
        apps_test::run_snmp_tool("snmpget", {"-v2c", "-c", "public", "-Oqvx", snmpd_->target(), k_sys_name});
    EXPECT_NE(raw.out.find("61 22 62 5C 63 FF 01 C3 A9"), std::string::npos) << raw.out;

    // The agent's own refusals: read-only object, wrong type ("integer" reaches the SDK as its type
    // name "int"; a type word the SDK does not know makes the SDK refuse the request itself).
    expect_ret_msg(api("/api_snmp_set?" + target() + "&oid=" + k_sys_descr + "&type=octet_string&value=x"), 17,
                   "notWritable");
    expect_ret_msg(api(set + "&type=integer&value=5"), 7, "wrongType");
    expect_ret_msg(api(set + "&type=gauge&value=5"), 1, k_text_invalid);
    expect_ret_msg(api(set + "&type=s&value=pair1,extra"), 0, "success");
    EXPECT_EQ(api("/api_snmp_get?" + target() + "&oid=" + k_sys_name)["data"][0]["value"].str(), "pair1");
}

TEST_F(ServiceSnmpd, V1AgentReportsNoSuchName) {
    create_agent(snmpd_->port(), "public", "0");
    expect_ret_msg(api("/api_snmp_get?" + target() + "&oid=1.3.6.1.2.1.1.99.0"), 2, "noSuchName");
    EXPECT_EQ(api("/api_snmp_get?" + target() + "&oid=" + k_sys_descr)["data"][0]["value"].str(), "Test agent");
    expect_ret_msg(api("/api_snmp_get_bulk?" + target() + "&oid=1.3.6.1.2.1.1"), 16, k_text_not_supported);
}

TEST_F(ServiceSnmpd, ExceptionValuesAreNamedInTheJsonAndTheCommandLine) {
    create_agent(snmpd_->port(), "public");
    struct exception_case {
        std::string operation; /* endpoint and command */
        std::string command;
        std::string oid;
        int64_t type;
        std::string name;
        std::string line; /* as the standard tools print it */
    };
    const std::vector<exception_case> cases = {
        {"get", "get", "1.3.6.1.2.1.1.99.0", 0x80, "noSuchObject",
         "No Such Object available on this agent at this OID"},
        {"get", "get", "1.3.6.1.2.1.1.1.0.0", 0x81, "noSuchInstance", // past a scalar's instance
         "No Such Instance currently exists at this OID"},
        {"getnext", "getnext", "1.3.6.1.9", 0x82, "endOfMibView",
         "No more variables left in this MIB View (It is past the end of the MIB tree)"},
    };
    for (const exception_case &c : cases) {
        const value answer = api("/api_snmp_" + c.operation + "?" + target() + "&oid=" + c.oid);
        EXPECT_EQ(answer["ret"].as_int(), 0) << c.name;
        ASSERT_EQ(answer["data"].size(), 1u) << c.name;
        EXPECT_EQ(answer["data"][0]["oid"].str(), c.oid);
        EXPECT_EQ(answer["data"][0]["value"].str(), c.name);
        EXPECT_EQ(answer["data"][0]["type"].as_int(), c.type);

        const apps_test::run_result cli =
            apps_test::run_program(VEK_CLI_PATH, {c.command, "-t", "3000", snmpd_->target(), c.oid});
        EXPECT_EQ(cli.exit_code, 1) << cli.out;
        EXPECT_NE(cli.out.find("执行完成（共1个变量，其中1个无值）\n  [1] OID：" + c.oid + " = " + c.line + "\n"),
                  std::string::npos)
            << cli.out;
    }
}

TEST_F(ServiceSnmpd, WalkListsTheSubtreeAndSaysWhenTheLimitCutIt) {
    create_agent(snmpd_->port(), "public");
    const apps_test::run_result tool =
        apps_test::run_snmp_tool("snmpwalk", {"-v2c", "-c", "public", "-On", snmpd_->target(), "1.3.6.1.2.1.1"});
    std::vector<std::string> expected;
    for (size_t at = tool.out.find("\n."); at != std::string::npos; at = tool.out.find("\n.", at + 1)) {
        expected.push_back(tool.out.substr(at + 2, tool.out.find(" = ", at) - at - 2));
    }
    expected.insert(expected.begin(), tool.out.substr(1, tool.out.find(" = ") - 1));
    ASSERT_GT(expected.size(), 5u) << tool.out;
    const auto oids_of = [](const value &answer) {
        std::vector<std::string> oids;
        for (size_t i = 0; i < answer["data"].size(); ++i) {
            oids.push_back(answer["data"][i]["oid"].str());
        }
        return oids;
    };
    struct limit_case {
        std::string limit; /* the parameter, empty for none */
        size_t count;
        bool truncated;
    };
    // At exactly the subtree's size the walk reads one step more to know the subtree ends there.
    const std::vector<limit_case> cases = {
        {"", expected.size(), false}, {"5", 5, true}, {std::to_string(expected.size()), expected.size(), false}};
    for (const limit_case &c : cases) {
        const value walked = api("/api_snmp_walk?" + target() + "&oid=1.3.6.1.2.1.1&max_repeat=4" +
                                 (c.limit.empty() ? "" : "&limit=" + c.limit));
        EXPECT_EQ(walked["ret"].as_int(), 0) << c.limit;
        EXPECT_EQ(walked["msg"].str(), "success");
        EXPECT_EQ(walked["count"].as_int(), static_cast<int64_t>(c.count)) << c.limit;
        EXPECT_EQ(walked["truncated"].type, value::kind::boolean);
        EXPECT_EQ(walked["truncated"].flag, c.truncated) << c.limit;
        EXPECT_EQ(oids_of(walked), std::vector<std::string>(expected.begin(), expected.begin() + c.count)) << c.limit;
    }
    // A leaf is its own walk; an empty subtree has nothing.
    const value leaf = api("/api_snmp_walk?" + target() + "&oid=" + k_sys_descr);
    EXPECT_EQ(oids_of(leaf), std::vector<std::string>{k_sys_descr});
    EXPECT_EQ(api("/api_snmp_walk?" + target() + "&oid=1.3.6.1.2.1.1.99")["count"].as_int(), 0);
    expect_ret_msg(api("/api_snmp_walk?" + target() + "&oid=1.3.6.1.2.1.1,1.3.6.1.2.1.2"), 1, "one oid only");
    EXPECT_EQ(api("/api_snmp_walk?ip=127.0.0.1&port=9&oid=1.3.6.1.2.1.1")["msg"].str(), k_text_not_found);
}

TEST_F(ServiceSnmpd, ConcurrentRequestsAllGetTheirAnswer) {
    create_agent(snmpd_->port(), "public");
    // Eight clients on the same agent at once (the SDK has one request slot per agent), while a ninth
    // creates, lists and removes other agents.
    constexpr int k_clients = 8;
    constexpr int k_rounds = 6;
    std::atomic<int> good{0};
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        int n = 0;
        while (!stop.load()) {
            const std::string other = "ip=127.0.0.9&port=" + std::to_string(20000 + (n++ % 50));
            get_json(http_port_, "/api_snmp_agent_create?" + other + "&community=public");
            get_json(http_port_, "/api_snmp_get_agent_list");
            get_json(http_port_, "/api_snmp_agent_remove?" + other);
        }
    });
    std::vector<std::thread> clients;
    for (int c = 0; c < k_clients; ++c) {
        clients.emplace_back([&] {
            for (int r = 0; r < k_rounds; ++r) {
                const value got = get_json(http_port_, "/api_snmp_get?" + target() + "&oid=" + k_sys_descr);
                if (got["ret"].as_int() == 0 && got["data"][0]["value"].str() == "Test agent") {
                    good.fetch_add(1);
                }
            }
        });
    }
    for (std::thread &client : clients) {
        client.join();
    }
    stop.store(true);
    churn.join();
    EXPECT_EQ(good.load(), k_clients * k_rounds) << service_->output().substr(0, 4000);
}

} // namespace
} // namespace service_test
