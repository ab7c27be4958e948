// The HTTP service's text handling: request lines, query parameters, lists and numbers, and the JSON
// writer with its escaping, checked against an independent strict JSON reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "apps/http_intake/http_head.h"
#include "apps/snmp_service/service_http.h"
#include "apps/snmp_service/service_json.h"
#include "apps/snmp_service/service_query.h"
#include "tests/service/json_check.h"

namespace service {
namespace {

using namespace std::string_literals;

TEST(ServiceHttp, RequestLineGivesPathAndQuery) {
    const http_request get = parse_http_request("GET /api_snmp_get?ip=1.2.3.4&oid=1.3 HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(get.path, "/api_snmp_get");
    EXPECT_EQ(get.query, "ip=1.2.3.4&oid=1.3");

    const http_request bare = parse_http_request("GET /api_snmp_get_agent_count HTTP/1.1\r\n\r\n");
    EXPECT_EQ(bare.path, "/api_snmp_get_agent_count");
    EXPECT_TRUE(bare.query.empty());

    // The request line alone, with or without a version; CR and LF end path and query.
    EXPECT_EQ(parse_http_request("GET /a").path, "/a");
    EXPECT_EQ(parse_http_request("GET /a\r\n").path, "/a");
    EXPECT_EQ(parse_http_request("GET /a?x=1\r\n").query, "x=1");
    EXPECT_EQ(parse_http_request("GET /a?x=1\n").query, "x=1");
    EXPECT_EQ(parse_http_request("GET /a?").query, "");
}

TEST(ServiceHttp, OnlyGetHasAPath) {
    for (const char *raw : {"POST /api_snmp_get?ip=1 HTTP/1.1\r\n\r\n", "get /api_snmp_get HTTP/1.1\r\n\r\n",
                            "GET", "", "GET/x HTTP/1.1\r\n\r\n"}) {
        const http_request request = parse_http_request(raw);
        EXPECT_TRUE(request.path.empty()) << raw;
        EXPECT_TRUE(request.query.empty()) << raw;
    }
}

TEST(ServiceHttp, QueryComesOnlyFromTheRequestTarget) {
    // A '?' in a header must not turn header text into parameters.
    const http_request request = parse_http_request("GET /api_snmp_get HTTP/1.1\r\nReferer: http://h/?ip=6.6.6.6\r\n\r\n");
    EXPECT_EQ(request.path, "/api_snmp_get");
    EXPECT_TRUE(request.query.empty());
    // Nor does a '?' after the blank that ends the path.
    EXPECT_TRUE(parse_http_request("GET /a HTTP/1.1?ip=1\r\n").query.empty());
}

TEST(ServiceHttp, PathAndQueryAreCutToTheirLimits) {
    const std::string long_path = "/" + std::string(400, 'p');
    const std::string raw_path = "GET " + long_path + "?a=1 HTTP/1.1\r\n\r\n";
    const http_request request = parse_http_request(raw_path);
    EXPECT_EQ(request.path.size(), k_max_path_len);
    // The query still starts after the '?' that ends the whole path.
    EXPECT_EQ(request.query, "a=1");

    const std::string long_query = "v=" + std::string(5000, 'q');
    const std::string raw = "GET /a?" + long_query + " HTTP/1.1\r\n\r\n";
    EXPECT_EQ(parse_http_request(raw).query.size(), k_max_query_len);
}

TEST(ServiceHttp, RequestHeadEndsAtTheEmptyLine) {
    EXPECT_FALSE(http_intake::head_complete("GET /a HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_TRUE(http_intake::head_complete("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_TRUE(http_intake::head_complete("GET /a HTTP/1.1\n\n"));
}

TEST(ServiceQuery, PercentDecoding) {
    EXPECT_EQ(percent_decode("a+b%20c"), "a b c");
    EXPECT_EQ(percent_decode("%41%6a%4A"), "AjJ");
    EXPECT_EQ(percent_decode("%FF%00x"), "\xFF\0x"s);
    // A '%' without two hexadecimal digits stays as it is.
    EXPECT_EQ(percent_decode("100%"), "100%");
    EXPECT_EQ(percent_decode("%4"), "%4");
    EXPECT_EQ(percent_decode("%zz%4g"), "%zz%4g");
    EXPECT_EQ(percent_decode("%%41"), "%A");
}

TEST(ServiceQuery, EncodedSeparatorsStayInsideTheirValue) {
    // Split first, decode afterwards: "a%26b" is one value "a&b", not "a" and a stray "b".
    EXPECT_EQ(get_param("community=a%26b&version=2c", "community", 64), "a&b");
    EXPECT_EQ(get_param("community=a%26b&version=2c", "version", 32), "2c");
    EXPECT_EQ(get_param("community=a%26version%3D0", "version", 32), "");
    EXPECT_EQ(get_param("community=a%3Db", "community", 64), "a=b");
    // Only the first '=' separates name and value.
    EXPECT_EQ(get_param("value=x=y", "value", 64), "x=y");
}

TEST(ServiceQuery, NamesMatchExactlyAndTheFirstWins) {
    EXPECT_EQ(get_param("xip=1&ip=2", "ip", 32), "2");
    EXPECT_EQ(get_param("ipx=1", "ip", 32), "");
    EXPECT_EQ(get_param("ip=1&ip=2", "ip", 32), "1");
    EXPECT_EQ(get_param("%69p=3", "ip", 32), "3");
    // A piece without '=' is no parameter; an empty value is a parameter with an empty value.
    EXPECT_EQ(get_param("ip&ip=4", "ip", 32), "4");
    EXPECT_EQ(get_param("oid=&ip=5", "oid", 32), "");
    EXPECT_TRUE(has_param("oid=&ip=5", "oid"));
    EXPECT_FALSE(has_param("oid&ip=5", "oid"));
    EXPECT_EQ(get_param("", "ip", 32), "");
    EXPECT_EQ(get_param("&&=&", "ip", 32), "");
}

TEST(ServiceQuery, ValuesAreCutToTheirField) {
    EXPECT_EQ(get_param("community=" + std::string(100, 'c'), "community", 64), std::string(63, 'c'));
    // The cut counts decoded bytes.
    EXPECT_EQ(get_param("u=%41%41%41%41", "u", 3), "AA");
    EXPECT_EQ(get_param("u=abc", "u", 1), "");
}

TEST(ServiceQuery, ListsSplitAtCommasAndBlanks) {
    EXPECT_EQ(split_list("1.3.6.1,1.3.6.2 1.3.6.3", 32), (std::vector<std::string>{"1.3.6.1", "1.3.6.2", "1.3.6.3"}));
    EXPECT_EQ(split_list(",, a ,,b  ", 32), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(split_list("", 32).empty());
    EXPECT_TRUE(split_list(" , ,", 32).empty());
    std::string many;
    for (int i = 0; i < 40; ++i) {
        many += std::to_string(i) + ",";
    }
    const std::vector<std::string> items = split_list(many, 32);
    ASSERT_EQ(items.size(), 32u);
    EXPECT_EQ(items.back(), "31");
}

TEST(ServiceQuery, DecimalNumbersReadLikeAtoi) {
    EXPECT_EQ(parse_decimal("161"), 161);
    EXPECT_EQ(parse_decimal("  -42xyz"), -42);
    EXPECT_EQ(parse_decimal("+7"), 7);
    EXPECT_EQ(parse_decimal("abc"), 0);
    EXPECT_EQ(parse_decimal(""), 0);
    EXPECT_EQ(parse_decimal("-"), 0);
    // Beyond the 64-bit range the value saturates instead of overflowing.
    EXPECT_EQ(parse_decimal("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(parse_decimal("-99999999999999999999999"), INT64_MIN);
    EXPECT_EQ(parse_decimal("-9223372036854775808"), INT64_MIN);
    // The port is the low 16 bits of the value.
    EXPECT_EQ(static_cast<uint16_t>(parse_decimal("65537")), 1);
}

/* The text decoded from str() by the independent reader. */
std::string round_trip(std::string_view text) {
    json_writer json;
    json.str(text);
    std::string error;
    const auto parsed = json_check::parse(json.text(), &error);
    EXPECT_TRUE(parsed.has_value()) << error << " in " << json.text();
    return parsed ? parsed->str() : std::string{};
}

TEST(ServiceJson, EscapesQuotesBackslashesAndControls) {
    json_writer json;
    json.str("a\"b\\c\n\r\t\b\f\x01\x1f\x7f/");
    EXPECT_EQ(json.text(), R"("a\"b\\c\n\r\t\b\f\u0001\u001f\u007f/")");
    EXPECT_EQ(round_trip("a\"b\\c\n\x01"), "a\"b\\c\n\x01");
    EXPECT_EQ(round_trip("\0x"s), "\0x"s);
}

TEST(ServiceJson, KeepsUtf8AndEscapesOtherBytes) {
    // Well-formed UTF-8 (2, 3 and 4 bytes) passes unchanged.
    const std::string utf8 = "é操作成功✅😀";
    json_writer kept;
    kept.str(utf8);
    EXPECT_EQ(kept.text(), "\"" + utf8 + "\"");

    struct bad_case {
        std::string in;
        std::string out;
    };
    const bad_case cases[] = {
        {"\xFF", "\\u00ff"},                         // never valid
        {"\x80", "\\u0080"},                         // stray continuation byte
        {"\xC0\x80", "\\u00c0\\u0080"},              // overlong NUL
        {"\xC1\xBF", "\\u00c1\\u00bf"},              // overlong
        {"\xE0\x80\xAF", "\\u00e0\\u0080\\u00af"},   // overlong 3-byte form
        {"\xED\xA0\x80", "\\u00ed\\u00a0\\u0080"},   // surrogate
        {"\xF4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"}, // beyond U+10FFFF
        {"\xF0\x8F\xBF\xBF", "\\u00f0\\u008f\\u00bf\\u00bf"}, // overlong 4-byte form
        {"\xF5\x80", "\\u00f5\\u0080"},
        {"\xE2\x82", "\\u00e2\\u0082"},              // cut short at the end
        {"\xE2\x82x", "\\u00e2\\u0082x"},            // cut short before ASCII
        {"\xC3\xA9\xC3", "\xC3\xA9\\u00c3"},         // a good sequence, then a lone lead byte
    };
    for (const bad_case &c : cases) {
        json_writer json;
        json.str(c.in);
        EXPECT_EQ(json.text(), "\"" + c.out + "\"");
        std::string error;
        EXPECT_TRUE(json_check::parse(json.text(), &error).has_value()) << error;
    }
    // A MAC address: each byte that is not part of well-formed UTF-8 becomes its own code point.
    const std::string mac = "\x00\x1B\x21\xFA\xCE\x41"s;
    EXPECT_EQ(round_trip(mac), "\0\x1B!\xC3\xBA\xC3\x8E" "A"s);
}

TEST(ServiceJson, AnyByteSequenceGivesValidJson) {
    // Every byte value on its own and after every lead byte: the output always parses.
    for (int first = 0; first < 256; ++first) {
        for (int second : {0x00, 0x41, 0x80, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF}) {
            std::string text;
            text.push_back(static_cast<char>(first));
            text.push_back(static_cast<char>(second));
            json_writer json;
            json.str(text);
            std::string error;
            ASSERT_TRUE(json_check::parse(json.text(), &error).has_value()) << first << "," << second << ": " << error;
        }
    }
}

TEST(ServiceJson, InjectedFieldsStayInsideTheString) {
    json_writer json;
    json.raw("{\"ret\":0,\"msg\":").str("x\",\"ret\":9,\"y\":\"").raw("}");
    const auto parsed = json_check::parse(json.text());
    ASSERT_TRUE(parsed.has_value()) << json.text();
    EXPECT_EQ(parsed->size(), 2u);
    EXPECT_EQ((*parsed)["ret"].as_int(), 0);
    EXPECT_EQ((*parsed)["msg"].str(), "x\",\"ret\":9,\"y\":\"");
}

TEST(ServiceJson, BufferGrowsForLongAnswers) {
    json_writer json;
    json.raw("[");
    const std::string chunk(300, 'v');
    for (int i = 0; i < 1000; ++i) {
        json.raw(i == 0 ? "" : ",").str(chunk);
    }
    json.raw("]");
    const auto parsed = json_check::parse(json.text());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->size(), 1000u);
    EXPECT_EQ((*parsed)[999].str(), chunk);
    json_writer numbers;
    numbers.num(INT64_MIN).raw(",").unum(UINT64_MAX).raw(",").num(-1);
    EXPECT_EQ(numbers.text(), "-9223372036854775808,18446744073709551615,-1");
}

api_snmp_varbind varbind(uint8_t type) {
    api_snmp_varbind vb{};
    std::strcpy(vb.oid, "1.3.6.1.2.1.1.1.0");
    vb.type = type;
    return vb;
}

TEST(ServiceJson, ValueTextsByType) {
    api_snmp_varbind vb = varbind(API_SNMP_BER_INTEGER);
    vb.value.i32 = -5;
    EXPECT_EQ(varbind_value_text(vb), "-5");

    vb = varbind(API_SNMP_BER_OCTET_STRING);
    std::memcpy(vb.value.bytes, "ab\0cd", 5);
    vb.value_len = 5;
    // The whole value, not only the part before an embedded zero byte.
    EXPECT_EQ(varbind_value_text(vb), "ab\0cd"s);
    vb.value_len = 300; // longer than the field: at most 255 bytes are shown
    EXPECT_EQ(varbind_value_text(vb).size(), 255u);

    vb = varbind(API_SNMP_BER_OID);
    std::strcpy(vb.value.str, "1.3.6.1.4.1.8072");
    vb.value_len = 16;
    EXPECT_EQ(varbind_value_text(vb), "1.3.6.1.4.1.8072");

    EXPECT_EQ(varbind_value_text(varbind(API_SNMP_BER_NULL)), "null");
    for (uint8_t type : {API_SNMP_BER_UINTEGER32, API_SNMP_BER_COUNTER32, API_SNMP_BER_GAUGE32, API_SNMP_BER_TIMETICKS}) {
        vb = varbind(type);
        vb.value.u32 = 4294967295u;
        EXPECT_EQ(varbind_value_text(vb), "4294967295");
    }
    // 192.168.1.2 is 0xC0A80102: the first octet is the most significant byte, whatever the memory order.
    vb = varbind(API_SNMP_BER_IPADDRESS);
    vb.value.u32 = 0xC0A80102u;
    EXPECT_EQ(varbind_value_text(vb), "192.168.1.2");

    vb = varbind(API_SNMP_BER_COUNTER64);
    vb.value.u64 = 18446744073709551615ull;
    EXPECT_EQ(varbind_value_text(vb), "18446744073709551615");

    vb = varbind(API_SNMP_BER_UNKNOWN);
    std::strcpy(vb.value.str, "[不支持类型]");
    EXPECT_EQ(varbind_value_text(vb), "unknown");
}

TEST(ServiceJson, VarbindItem) {
    api_snmp_varbind vb = varbind(API_SNMP_BER_OCTET_STRING);
    const std::string value = "say \"hi\"\\\xFF";
    std::memcpy(vb.value.bytes, value.data(), value.size());
    vb.value_len = static_cast<uint16_t>(value.size());
    json_writer json;
    append_varbind_item(json, vb);
    EXPECT_EQ(json.text(), R"({"oid":"1.3.6.1.2.1.1.1.0","value":"say \"hi\"\\\u00ff","type":4})");
    const auto parsed = json_check::parse(json.text());
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ((*parsed)["type"].as_int(), 4);
}

TEST(JsonCheck, RejectsWhatIsNotJson) {
    // The reader used as the oracle above must itself refuse broken text.
    for (const char *bad : {"{\"a\":1,\"a\":2}", "{\"a\":\"\x01\"}", "\"\xFF\"", "[1,]", "{\"a\" 1}", "\"\\x\"",
                            "01", "\"\\ud800\"", "{} x", "\"abc"}) {
        EXPECT_FALSE(json_check::parse(bad).has_value()) << bad;
    }
    EXPECT_TRUE(json_check::parse(" {\"a\":[1,-2.5e3,true,false,null,\"\\u00e9\\ud83d\\ude00\"]} ").has_value());
}

} // namespace
} // namespace service
