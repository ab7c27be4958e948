/* Unit tests of the web bridge's text handling: request line, query parameters, forwarded paths,
 * log lines, JSON escaping, the log list, the connection queue and the configuration. */
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "apps/snmp_web_bridge/bridge_config.h"
#include "apps/snmp_web_bridge/bridge_http.h"
#include "apps/snmp_web_bridge/bridge_json.h"
#include "apps/snmp_web_bridge/bridge_log.h"
#include "apps/snmp_web_bridge/bridge_page.h"
#include "apps/snmp_web_bridge/bridge_routes.h"
#include "tests/bridge/bridge_test_support.h"

namespace {

using namespace std::string_literals;
using bridge_test::parse_json;

TEST(BridgeRequest, PathAndQueryComeFromTheRequestLine) {
    EXPECT_EQ(bridge::request_path("GET /snmp_get?ip=1 HTTP/1.1\r\nHost: x\r\n\r\n"), "/snmp_get");
    EXPECT_EQ(bridge::request_path("GET / HTTP/1.1\r\n"), "/");
    EXPECT_EQ(bridge::request_path("GET /status\r\n"), "/status");
    EXPECT_EQ(bridge::request_path("GET /log"), "/log");
    /* Only GET requests have a path; POST and garbage get the page. */
    EXPECT_EQ(bridge::request_path("POST /snmp_get?ip=1 HTTP/1.1\r\n"), "");
    EXPECT_EQ(bridge::request_path("get /status HTTP/1.1\r\n"), "");
    EXPECT_EQ(bridge::request_path(""), "");
    /* Paths count up to 255 characters. */
    const std::string long_path = "/" + std::string(400, 'a');
    EXPECT_EQ(bridge::request_path("GET " + long_path + " HTTP/1.1\r\n").size(), bridge::kMaxPathLen);

    EXPECT_EQ(bridge::request_query("GET /a?x=1&y=2 HTTP/1.1\r\n"), "x=1&y=2");
    EXPECT_EQ(bridge::request_query("GET /a?x=1"), "x=1");
    EXPECT_EQ(bridge::request_query("GET /a HTTP/1.1\r\nReferer: /b?x=1\r\n\r\n"), "") << "query of a header line";
    EXPECT_EQ(bridge::request_query("GET /a?x=1?2 HTTP/1.1\r\n"), "x=1?2");
}

TEST(BridgeRequest, PercentDecoding) {
    EXPECT_EQ(bridge::percent_decode("a+b%20c%2C%2c"), "a b c,,");
    EXPECT_EQ(bridge::percent_decode("%41%4a%4A"), "AJJ");
    EXPECT_EQ(bridge::percent_decode("%00%FF"), "\0\xFF"s);
    /* A '%' without two hexadecimal digits stays as it is. */
    EXPECT_EQ(bridge::percent_decode("100%"), "100%");
    EXPECT_EQ(bridge::percent_decode("%4"), "%4");
    EXPECT_EQ(bridge::percent_decode("%zz%4g"), "%zz%4g");
    EXPECT_EQ(bridge::percent_decode("%%41"), "%A");
}

TEST(BridgeRequest, ParametersAreSplitBeforeDecodingAndMatchedByExactName) {
    const std::string_view q = "community=a%26b&xip=9.9.9.9&ip=10.0.0.5&oid=1.3%2C1.4&v=x%3Dy&empty=&flag&ip=2";
    EXPECT_EQ(bridge::query_param(q, "community"), "a&b") << "an encoded '&' stays inside the value";
    EXPECT_EQ(bridge::query_param(q, "ip"), "10.0.0.5") << "xip must not match ip; the first ip wins";
    EXPECT_EQ(bridge::query_param(q, "oid"), "1.3,1.4");
    EXPECT_EQ(bridge::query_param(q, "v"), "x=y");
    EXPECT_EQ(bridge::query_param(q, "empty"), "");
    EXPECT_EQ(bridge::query_param(q, "flag"), "") << "a piece without '=' has no value";
    EXPECT_EQ(bridge::query_param(q, "missing"), "");
    EXPECT_EQ(bridge::query_param("user%5Fname=bob", "user_name"), "bob") << "names are decoded too";
    EXPECT_EQ(bridge::query_param("a=1=2", "a"), "1=2");
    /* Values are cut to 2046 bytes. */
    const std::string big = "v=" + std::string(5000, 'x');
    EXPECT_EQ(bridge::query_param(big, "v").size(), bridge::kMaxParamLen);
}

TEST(BridgeRequest, PercentEncodingKeepsOnlySafeCharacters) {
    EXPECT_EQ(bridge::percent_encode("1.3.6.1,1.3.6.2"), "1.3.6.1,1.3.6.2");
    EXPECT_EQ(bridge::percent_encode("Az09-_.~"), "Az09-_.~");
    EXPECT_EQ(bridge::percent_encode("a&b=c#d%e f+g?h/i"), "a%26b%3Dc%23d%25e%20f%2Bg%3Fh%2Fi");
    EXPECT_EQ(bridge::percent_encode("\x01\xFF\r\n\"<"s), "%01%FF%0D%0A%22%3C");
    /* What is encoded decodes to the same bytes. */
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    EXPECT_EQ(bridge::percent_decode(bridge::percent_encode(all)), all);
}

TEST(BridgeRequest, ReplyBody) {
    EXPECT_EQ(bridge::reply_body("HTTP/1.1 200 OK\r\nA: b\r\n\r\n{\"ret\":0}"), "{\"ret\":0}");
    EXPECT_EQ(bridge::reply_body("{\"ret\":0}"), "{\"ret\":0}") << "no header: the whole reply";
    EXPECT_EQ(bridge::reply_body("H\r\n\r\nx\r\n\r\ny"), "x\r\n\r\ny");
}

TEST(BridgeRoutes, EveryShortPathMapsToItsServicePath) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"/agent_add", "/api_snmp_agent_create?ip=&port=&version=&community="},
        {"/agent_remove", "/api_snmp_agent_remove?ip=&port="},
        {"/agent_exist", "/api_snmp_agent_exist?ip=&port="},
        {"/agent_list", "/api_snmp_get_agent_list"},
        {"/user_add", "/api_snmp_user_add?ip=&port=&username=&auth_alg=&auth_pass=&priv_alg=&priv_pass="},
        {"/user_remove", "/api_snmp_user_remove?ip=&port=&username="},
        {"/user_list", "/api_snmp_get_user_list?ip=&port="},
        {"/snmp_get", "/api_snmp_get?ip=&port=&username=&oid="},
        {"/snmp_getnext", "/api_snmp_getnext?ip=&port=&username=&oid="},
        {"/snmp_getbulk", "/api_snmp_get_bulk?ip=&port=&username=&oid=&non_repeat=&max_repeat="},
        {"/snmp_set", "/api_snmp_set?ip=&port=&username=&oid=&type=&value="},
        {"/trap_list", "/api_snmp_trap_list"},
    };
    for (const auto &[path, service] : expected) {
        const bridge::forward_route *route = bridge::find_route(path);
        ASSERT_NE(route, nullptr) << path;
        EXPECT_EQ(bridge::forward_path(*route, bridge::route_values(*route, "")), service) << path;
    }
    EXPECT_EQ(bridge::find_route("/status"), nullptr);
    EXPECT_EQ(bridge::find_route("/snmp_get/"), nullptr);
    EXPECT_EQ(bridge::find_route(""), nullptr);
    EXPECT_TRUE(bridge::find_route("/trap_list")->quiet);
    EXPECT_FALSE(bridge::find_route("/snmp_get")->quiet);
}

TEST(BridgeRoutes, ForwardedValuesCannotAddChangeOrCutParameters) {
    const bridge::forward_route &route = *bridge::find_route("/snmp_set");
    const auto values = bridge::route_values(
        route, "ip=10.0.0.5&port=161&username=&oid=1.3.6.1.2.1.1.5.0%2C1.3.6.1.2.1.1.6.0&type=octet_string"
               "&value=a%26port%3D9%23x+y%25z,b");
    EXPECT_EQ(bridge::forward_path(route, values),
              "/api_snmp_set?ip=10.0.0.5&port=161&username=&oid=1.3.6.1.2.1.1.5.0,1.3.6.1.2.1.1.6.0&type=octet_string"
              "&value=a%26port%3D9%23x%20y%25z,b");
    /* Parameters the route does not know are not forwarded; the order is the route's. */
    const bridge::forward_route &get = *bridge::find_route("/snmp_get");
    EXPECT_EQ(bridge::forward_path(get, bridge::route_values(get, "timeout=1&oid=1.3&ip=1.2.3.4&port=162")),
              "/api_snmp_get?ip=1.2.3.4&port=162&username=&oid=1.3");
}

TEST(BridgeRoutes, LogLinesShowTheRequestedValues) {
    const bridge::forward_route &add = *bridge::find_route("/agent_add");
    const auto add_values = bridge::route_values(add, "community=pub&ip=1.2.3.4&port=161&version=1");
    EXPECT_EQ(bridge::fill_log(add, add.done_log, add_values), "请求：添加Agent | ip=1.2.3.4 port=161 ver=1 com=***")
        << "communities are never logged";
    EXPECT_EQ(bridge::fill_log(add, add.done_log, bridge::route_values(add, "ip=1.2.3.4")),
              "请求：添加Agent | ip=1.2.3.4 port= ver= com=")
        << "a missing one shows as missing";

    const bridge::forward_route &user = *bridge::find_route("/user_add");
    const auto user_values =
        bridge::route_values(user, "ip=1.1.1.1&port=161&username=u&auth_alg=2&auth_pass=secret&priv_alg=3&priv_pass=p2");
    const std::string user_line = bridge::fill_log(user, user.done_log, user_values);
    EXPECT_EQ(user_line, "请求：添加SNMPv3用户 | ip=1.1.1.1 port=161 user=u auth_alg=2 priv_alg=3");
    EXPECT_EQ(user_line.find("secret"), std::string::npos) << "passwords are never logged";
    EXPECT_EQ(bridge::logged_path(user, user_values),
              "/api_snmp_user_add?ip=1.1.1.1&port=161&username=u&auth_alg=2&auth_pass=***&priv_alg=3&priv_pass=***");
    EXPECT_NE(bridge::forward_path(user, user_values).find("auth_pass=secret"), std::string::npos)
        << "the service still gets them";
    const auto no_priv = bridge::route_values(user, "ip=1.1.1.1&port=161&username=u&auth_alg=2&auth_pass=secret");
    EXPECT_TRUE(bridge::logged_path(user, no_priv).ends_with("&priv_pass=")) << "a missing password shows as missing";

    const bridge::forward_route &bulk = *bridge::find_route("/snmp_getbulk");
    const auto bulk_values =
        bridge::route_values(bulk, "ip=1.1.1.1&port=161&username=u&oid=1.3&non_repeat=0&max_repeat=5");
    EXPECT_EQ(bridge::fill_log(bulk, bulk.input_log, bulk_values),
              "[GETBULK_BRIDGE_INPUT] ip=1.1.1.1 port=161 user=u non_repeat=0 max_repeat=5 oid=1.3");
    EXPECT_EQ(bridge::fill_log(bulk, bulk.done_log, bulk_values, R"({"ret":0})"),
              R"(请求：SNMP GETBULK | ip=1.1.1.1 port=161 oid=1.3 nr=0 mr=5 后端返回={"ret":0})");

    const bridge::forward_route &set = *bridge::find_route("/snmp_set");
    const auto set_values = bridge::route_values(set, "ip=a&port=b&oid=c&type=d&value=e%25s");
    EXPECT_EQ(bridge::fill_log(set, set.done_log, set_values), "请求：SNMP SET | ip=a port=b oid=c type=d val=e%s")
        << "a '%s' inside a value is text, not a slot";
}

TEST(BridgeJson, StringsAreEscapedAsJsonRequires) {
    EXPECT_EQ(bridge::json_string("plain 中文 ✅"), "\"plain 中文 ✅\"");
    EXPECT_EQ(bridge::json_string("q\"b\\s/"), R"("q\"b\\s/")");
    EXPECT_EQ(bridge::json_string("\b\f\n\r\t"), R"("\b\f\n\r\t")");
    EXPECT_EQ(bridge::json_string("\x01\x1f\x7f"s), R"("\u0001\u001f)"s + "\x7f\"");
    EXPECT_EQ(bridge::json_string("a\0b"s), R"("a\u0000b")");
    /* Bytes that are not UTF-8 (a MAC address, say) become \u00XX. */
    EXPECT_EQ(bridge::json_string("\x00\x1b\x21\xff\xfe\x80"s), R"("\u0000\u001b!\u00ff\u00fe\u0080")");
    EXPECT_EQ(bridge::json_string("\xC0\xAF"), R"("\u00c0\u00af")") << "overlong '/'";
    EXPECT_EQ(bridge::json_string("\xED\xA0\x80"), R"("\u00ed\u00a0\u0080")") << "surrogate";
    EXPECT_EQ(bridge::json_string("\xF4\x90\x80\x80"), R"("\u00f4\u0090\u0080\u0080")") << "above U+10FFFF";
    EXPECT_EQ(bridge::json_string("\xE4\xB8"), R"("\u00e4\u00b8")") << "cut sequence";
    EXPECT_EQ(bridge::json_string("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\"") << "4-byte sequence kept";

    /* Every byte string becomes valid JSON that reads back to the same text where it was UTF-8. */
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    const auto parsed = parse_json(bridge::json_string(all + "\"},{\"x\":1"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->type, bridge_test::json_value::kind::string);
    EXPECT_EQ(parsed->text.substr(0, 0x80), all.substr(0, 0x80));
}

TEST(BridgeJson, Utf8PrefixNeverSplitsASequence) {
    const std::string text = "ab中文"; /* 2 + 3 + 3 bytes */
    EXPECT_EQ(bridge::utf8_prefix(text, 100), text);
    EXPECT_EQ(bridge::utf8_prefix(text, 8), text);
    EXPECT_EQ(bridge::utf8_prefix(text, 7), "ab中");
    EXPECT_EQ(bridge::utf8_prefix(text, 5), "ab中");
    EXPECT_EQ(bridge::utf8_prefix(text, 4), "ab");
    EXPECT_EQ(bridge::utf8_prefix(text, 0), "");
    EXPECT_EQ(bridge::utf8_prefix("\xff\xfe\xfd", 2), "\xff\xfe") << "bytes that are not UTF-8 count one by one";
}

TEST(BridgeLogList, KeepsTheLast100LinesOldestFirst) {
    bridge::log_list list;
    EXPECT_EQ(list.to_json(), "[]");
    for (int i = 1; i <= 101; ++i) {
        list.push("line " + std::to_string(i));
    }
    EXPECT_EQ(list.size(), bridge::kLogListCapacity);
    const auto parsed = parse_json(list.to_json());
    ASSERT_TRUE(parsed.has_value());
    ASSERT_EQ(parsed->items.size(), 100u);
    EXPECT_EQ((*parsed)[0].text, "line 2") << "the 101st line pushed the first out";
    EXPECT_EQ((*parsed)[99].text, "line 101");
    for (int i = 102; i <= 350; ++i) {
        list.push("line " + std::to_string(i));
    }
    const auto again = parse_json(list.to_json());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ((*again)[0].text, "line 251");
    EXPECT_EQ((*again)[99].text, "line 350");
}

TEST(BridgeLogList, LinesAreValidJsonWhateverTheyHold) {
    bridge::log_list list;
    list.push("quote \" and backslash \\ and tab \t");
    list.push("");
    list.push("cr\rlf\nend");
    list.push("binary \x00\x1b\xff\xfe mac"s);
    list.push("\",\"injected\":\"x");
    const std::string json = list.to_json();
    const auto parsed = parse_json(json);
    ASSERT_TRUE(parsed.has_value()) << json;
    ASSERT_EQ(parsed->items.size(), 4u) << "empty lines are skipped";
    EXPECT_EQ((*parsed)[0].text, "quote \" and backslash \\ and tab \t");
    EXPECT_EQ((*parsed)[1].text, "crlfend") << "line feeds and carriage returns are left out";
    EXPECT_NE(json.find(R"(binary \u0000\u001b\u00ff\u00fe mac)"), std::string::npos) << json;
    EXPECT_EQ((*parsed)[3].text, "\",\"injected\":\"x");

    /* A kept line is cut to 1023 bytes, never inside a UTF-8 sequence. */
    bridge::log_list cut;
    std::string long_line = "x";
    for (int i = 0; i < 600; ++i) {
        long_line += "中";
    }
    cut.push(long_line);
    const auto cut_parsed = parse_json(cut.to_json());
    ASSERT_TRUE(cut_parsed.has_value());
    EXPECT_EQ((*cut_parsed)[0].text.size(), 1 + 340 * 3u);
}

TEST(BridgeLogList, MessagesCannotStartLinesOfTheirOwn) {
    EXPECT_EQ(bridge::log_message_text("a\r\n[BRIDGE] forged"), "a  [BRIDGE] forged");
    EXPECT_EQ(bridge::log_message_text(std::string(5000, 'x')).size(), bridge::kLogMessageMax);
}

TEST(BridgeConfig, DefaultsEnvironmentAndOptions) {
    const auto no_env = [](const char *) -> const char * { return nullptr; };
    const auto defaults = bridge::parse_config({}, no_env);
    ASSERT_TRUE(defaults.config.has_value());
    EXPECT_EQ(defaults.config->port, 8098);
    EXPECT_EQ(defaults.config->service_host, "127.0.0.1");
    EXPECT_EQ(defaults.config->service_port, 8099);

    const auto env = [](const char *name) -> const char * {
        const std::string n = name;
        return n == "VEK_BRIDGE_PORT" ? "18098" : n == "VEK_BRIDGE_SERVICE_PORT" ? "18099" : nullptr;
    };
    const auto from_env = bridge::parse_config({}, env);
    ASSERT_TRUE(from_env.config.has_value());
    EXPECT_EQ(from_env.config->port, 18098);
    EXPECT_EQ(from_env.config->service_port, 18099);

    const std::vector<std::string_view> args = {"--port", "28098", "--service-host", "127.0.0.2"};
    const auto both = bridge::parse_config(args, env);
    ASSERT_TRUE(both.config.has_value());
    EXPECT_EQ(both.config->port, 28098) << "options win over the environment";
    EXPECT_EQ(both.config->service_host, "127.0.0.2");
    EXPECT_EQ(both.config->service_port, 18099);

    for (const std::vector<std::string_view> &bad : std::vector<std::vector<std::string_view>>{
             {"--port", "0"}, {"--port", "65536"}, {"--port", "80x"}, {"--port"}, {"--service-host", "localhost"},
             {"--service-port", "-1"}, {"--verbose"}}) {
        const auto r = bridge::parse_config(bad, no_env);
        EXPECT_FALSE(r.config.has_value()) << bad[0];
        EXPECT_FALSE(r.error.empty()) << bad[0];
    }
    const auto bad_env = bridge::parse_config({}, [](const char *name) -> const char * {
        return std::string(name) == "VEK_BRIDGE_PORT" ? "http" : nullptr;
    });
    EXPECT_FALSE(bad_env.config.has_value());
    EXPECT_NE(bad_env.error.find("VEK_BRIDGE_PORT"), std::string::npos);
    const std::vector<std::string_view> help = {"--help"};
    EXPECT_TRUE(bridge::parse_config(help, no_env).help);
}

TEST(BridgeConfig, PageProposesTheConfiguredAgentPort) {
    const auto no_env = [](const char *) -> const char * { return nullptr; };
    EXPECT_EQ(bridge::parse_config({}, no_env).config->agent_port, 161);
    const std::vector<std::string_view> args = {"--agent-port", "1161"};
    const auto parsed = bridge::parse_config(args, no_env);
    ASSERT_TRUE(parsed.config.has_value());
    EXPECT_EQ(parsed.config->agent_port, 1161);

    const auto port_fields = [](std::string_view page, std::string_view port) {
        const std::string field = "max=\"65535\" value=\"" + std::string(port) + "\">";
        size_t count = 0;
        for (size_t at = page.find(field); at != std::string_view::npos; at = page.find(field, at + 1)) {
            ++count;
        }
        return count;
    };
    const size_t fields = port_fields(bridge::index_html(), "161");
    EXPECT_GE(fields, 3u);  // agents, users and operations panels
    bridge::set_page_agent_port(1161);
    EXPECT_EQ(port_fields(bridge::index_html(), "1161"), fields);
    EXPECT_EQ(port_fields(bridge::index_html(), "161"), 0u);
    bridge::set_page_agent_port(161);
}

} // namespace
