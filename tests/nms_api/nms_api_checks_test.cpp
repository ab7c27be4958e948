// Argument checks of the public API: result codes, the ERROR lines that name each refusal, and that
// a refused request never reaches the network (the agent is a real responder on 127.0.0.1).
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/agent_log.h"
#include "nms/nms_snmp_api.h"
#include "nms/vek_nms_sdk.h"
#include "tests/nms_api/nms_api_test_support.h"
#include "tests/support/test_os.h"

namespace {

using testing::HasSubstr;
using testing::Not;
using vek::test::agent_config;
using vek::test::Collector;
using vek::test::get_varbind;
using vek::test::kLoopback;
using vek::test::kRequestTimeoutMs;
using vek::test::LogCapture;
using vek::test::Responder;

constexpr const char *kSysName = "1.3.6.1.2.1.1.5.0";

struct Outcome {
    uint32_t code;
    std::string log;
};

template <typename Fn>
Outcome run(Fn &&fn) {
    LogCapture capture;
    const uint32_t code = static_cast<uint32_t>(fn());
    return {code, capture.text()};
}

std::string error_line(const std::string &message) {
    return "[ERROR] " + message + "\n";
}

#define EXPECT_REFUSED(outcome, expected_code, message)               \
    do {                                                              \
        const Outcome refused_ = (outcome);                           \
        EXPECT_EQ(refused_.code, static_cast<uint32_t>(expected_code)); \
        EXPECT_THAT(refused_.log, HasSubstr(error_line(message)));    \
    } while (0)

class ApiChecks : public testing::Test {
   protected:
    void SetUp() override {
        api_snmp_init();
        api_snmp_register_response_callback(Collector::on_response);
        const api_snmp_agent_config config = agent_config(API_SNMP_V2C, "public");
        ASSERT_EQ(api_snmp_agent_create(kLoopback, port(), &config), API_SNMP_OK);
    }
    void TearDown() override { api_snmp_destroy(); }

    uint16_t port() const { return responder_.port(); }

    // Sends a request that passes the checks and waits for its answer, so that the agent is idle again.
    void expect_answered(api_snmp_err result) {
        ASSERT_EQ(result, API_SNMP_OK);
        const auto event = collector_.next_response();
        ASSERT_TRUE(event.has_value());
        EXPECT_EQ(event->response.error, static_cast<uint32_t>(API_SNMP_OK));
    }

    Responder responder_;
    Collector collector_;
};

TEST(ApiRules, IpAddressRule) {
    for (const char *ip : {"192.168.1.1", "0.0.0.0", "255.255.255.255", "127.0.0.1", "10.0.0.001"}) {
        EXPECT_TRUE(api_validate_ip(ip)) << ip;
    }
    for (const char *ip : {"", "192.168.1.256", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "1.2.3.4 ",
                           " 1.2.3.4", "a.b.c.d", "1.2.3.-4", "1.2.3.+4", "1000.1.1.1", "1.2.3.0004",
                           "999.999.999.999", "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16"}) {
        EXPECT_FALSE(api_validate_ip(ip)) << ip;
    }
    EXPECT_FALSE(api_validate_ip(nullptr));
}

TEST(ApiRules, OidFormatAndRule) {
    for (const char *oid : {"1.3.6.1.2.1.1.1.0", "0", "2.999", "1.3.4294967295", "1.3.0000000000000000001"}) {
        EXPECT_TRUE(api_snmp_oid_validate(oid)) << oid;
    }
    // Format: digit groups separated by single dots.
    for (const char *oid : {"", "1..3", ".1.3", "1.3.", "1.3.a", "1.3.-1", " 1.3", "1.3 ", "1,3"}) {
        EXPECT_FALSE(api_validate_oid_format(oid)) << oid;
        const Outcome outcome = run([oid] { return api_snmp_oid_validate(oid); });
        EXPECT_EQ(outcome.code, 0u) << oid;
        EXPECT_THAT(outcome.log, HasSubstr(error_line(std::string("OID格式错误（") + oid + "）")));
    }
    EXPECT_FALSE(api_snmp_oid_validate(nullptr));
    // Rule: first component 0-2, further components of at most 19 digits and at most 4294967295.
    for (const char *oid : {"3.1", "9", "1.3.4294967296", "1.3.00000000000000000001", "1.3.99999999999999999999"}) {
        EXPECT_TRUE(api_validate_oid_format(oid)) << oid;
        const Outcome outcome = run([oid] { return api_snmp_oid_validate(oid); });
        EXPECT_EQ(outcome.code, 0u) << oid;
        EXPECT_THAT(outcome.log, HasSubstr(error_line(std::string("OID不符合SNMP标准（") + oid + "）")));
    }
}

TEST_F(ApiChecks, AgentCreateChecksInOrder) {
    const api_snmp_agent_config v2c = agent_config(API_SNMP_V2C, "public");
    for (const char *ip : {"192.168.1.256", "1.2.3", "1.2.3.4.5"}) {
        EXPECT_REFUSED(run([&] { return api_snmp_agent_create(ip, 161, &v2c); }), API_SNMP_ERR_INVALID_PARAM,
                       std::string("无效IP地址（") + ip + "）");
    }
    EXPECT_REFUSED(run([&] { return api_snmp_agent_create(nullptr, 161, &v2c); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效IP地址（null）");
    // An invalid address is reported before the port and the configuration.
    EXPECT_REFUSED(run([] { return api_snmp_agent_create("1.2.3", 0, nullptr); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效IP地址（1.2.3）");
    EXPECT_REFUSED(run([&] { return api_snmp_agent_create("10.0.0.1", 0, &v2c); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效端口（0）");
    EXPECT_REFUSED(run([] { return api_snmp_agent_create("10.0.0.1", 161, nullptr); }), API_SNMP_ERR_INVALID_PARAM,
                   "Agent配置为空");
    const api_snmp_agent_config v4 = agent_config(4, "public");
    EXPECT_REFUSED(run([&] { return api_snmp_agent_create("10.0.0.1", 161, &v4); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效SNMP版本（4），支持版本：1/2C/3");

    // A community that fills its whole field (no terminator) is too long, and is not read past it.
    api_snmp_agent_config full = agent_config(API_SNMP_V2C, "");
    std::memset(full.community, 'c', sizeof(full.community));
    EXPECT_REFUSED(run([&] { return api_snmp_agent_create("10.0.0.1", 161, &full); }), API_SNMP_ERR_INVALID_PARAM,
                   "社区名过长（最大63字节）");
    EXPECT_FALSE(api_snmp_agent_exist("10.0.0.1", 161));
    // SNMPv3 ignores the community; 63 characters are accepted for v1/v2c.
    full.version = API_SNMP_V3;
    EXPECT_EQ(api_snmp_agent_create("10.0.0.1", 161, &full), API_SNMP_OK);
    const api_snmp_agent_config longest = agent_config(API_SNMP_V1, std::string(63, 'c').c_str());
    EXPECT_EQ(api_snmp_agent_create("10.0.0.1", 162, &longest), API_SNMP_OK);
    // Version 2 passes the API check; its commands fail in the encoder and are not sent.
    const api_snmp_agent_config v2 = agent_config(2, "public");
    EXPECT_EQ(api_snmp_agent_create("10.0.0.2", 161, &v2), API_SNMP_OK);
    const api_snmp_varbind vb = get_varbind(kSysName);
    EXPECT_NE(api_snmp_get("10.0.0.2", 161, nullptr, &vb, 1, kRequestTimeoutMs, nullptr), API_SNMP_OK);

    EXPECT_REFUSED(run([] { return api_snmp_agent_remove("1.2.3.4", 0); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效IP或端口（1.2.3.4:0）");
    EXPECT_REFUSED(run([] { return api_snmp_agent_remove("1.2.3.999", 161); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效IP或端口（1.2.3.999:161）");
    const Outcome exist = run([] { return api_snmp_agent_exist("localhost", 161); });
    EXPECT_EQ(exist.code, 0u);
    EXPECT_THAT(exist.log, HasSubstr(error_line("无效IP或端口（localhost:161）")));
    EXPECT_EQ(api_snmp_agent_remove("10.0.0.1", 161), API_SNMP_OK);
    EXPECT_EQ(api_snmp_agent_remove("10.0.0.1", 161), API_SNMP_ERR_AGENT_NOT_FOUND);
}

TEST_F(ApiChecks, RefusedRequestsSendNothing) {
    const api_snmp_varbind good = get_varbind("1.3.6.1.2.1.1.1.0");
    std::vector<api_snmp_varbind> eleven(11, good);
    const uint16_t p = port();

    EXPECT_REFUSED(run([&] { return api_snmp_get("1.2.3", p, nullptr, &good, 1, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "无效Agent地址（1.2.3:" + std::to_string(p) + "）");
    EXPECT_REFUSED(run([&] { return api_snmp_get_next(kLoopback, 0, nullptr, &good, 1, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "无效Agent地址（127.0.0.1:0）");
    // The address is checked before the time-out, the time-out before the count.
    EXPECT_REFUSED(run([&] { return api_snmp_get(kLoopback, p, nullptr, nullptr, 0, 0, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "超时时间不能为0");
    EXPECT_REFUSED(run([&] { return api_snmp_get(kLoopback, p, nullptr, eleven.data(), 11, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "变量绑定无效（数量：11，允许范围：1-10）");
    EXPECT_REFUSED(run([&] { return api_snmp_set(kLoopback, p, nullptr, &good, 0, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "变量绑定无效（数量：0，允许范围：1-10）");
    EXPECT_REFUSED(run([&] { return api_snmp_get(kLoopback, p, nullptr, nullptr, 1, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "变量绑定无效（数量：1，允许范围：1-10）");

    // OID format errors are invalid parameters; rule errors invalid OIDs. Every varbind is checked.
    std::vector<api_snmp_varbind> pair(2, good);
    std::strcpy(pair[1].oid, "1.3..6");
    EXPECT_REFUSED(run([&] { return api_snmp_get(kLoopback, p, nullptr, pair.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "无效OID格式（1.3..6）");
    std::strcpy(pair[1].oid, "3.6.1");
    EXPECT_REFUSED(run([&] { return api_snmp_get_next(kLoopback, p, nullptr, pair.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_OID, "OID不合法（3.6.1）");
    std::strcpy(pair[1].oid, "1.3.6.4294967296");
    EXPECT_REFUSED(run([&] { return api_snmp_get(kLoopback, p, nullptr, pair.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_OID, "OID不合法（1.3.6.4294967296）");
    // An OID field without its terminator is refused, not read past its end.
    api_snmp_varbind unterminated = good;
    std::memset(unterminated.oid, '1', sizeof(unterminated.oid));
    EXPECT_EQ(api_snmp_get(kLoopback, p, nullptr, &unterminated, 1, 1000, nullptr), API_SNMP_ERR_INVALID_PARAM);

    // User names of 32 characters do not fit the 32-byte field.
    const std::string name32(32, 'u');
    EXPECT_REFUSED(run([&] { return api_snmp_get(kLoopback, p, name32.c_str(), &good, 1, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "用户名过长（最大31字节）");

    EXPECT_EQ(responder_.answered(), 0u);
    EXPECT_EQ(collector_.pending_responses(), 0u);

    // Ten varbinds and a user name of 31 characters (ignored for SNMPv2c) pass.
    const std::string name31(31, 'u');
    expect_answered(api_snmp_get(kLoopback, p, name31.c_str(), eleven.data(), 10, 1, &collector_));
    EXPECT_EQ(responder_.answered(), 1u);
}

TEST_F(ApiChecks, SetValueChecks) {
    const uint16_t p = port();
    api_snmp_varbind text{};
    ASSERT_EQ(api_snmp_create_set_varbind(kSysName, "s", "name", &text), API_SNMP_OK);

    text.value_len = 256;
    EXPECT_REFUSED(run([&] { return api_snmp_set(kLoopback, p, nullptr, &text, 1, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "字符串值过长（OID：1.3.6.1.2.1.1.5.0，最大长度：255）");
    // The same length is no concern of GET, which sends no value.
    expect_answered(api_snmp_get(kLoopback, p, nullptr, &text, 1, 1000, &collector_));

    api_snmp_varbind oid_value{};
    ASSERT_EQ(api_snmp_create_set_varbind(kSysName, "o", "1.3.6.1", &oid_value), API_SNMP_OK);
    std::strcpy(oid_value.value.str, "1..3");
    EXPECT_REFUSED(run([&] { return api_snmp_set(kLoopback, p, nullptr, &oid_value, 1, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "OID类型值格式无效（1..3）");
    std::memset(oid_value.value.str, '1', sizeof(oid_value.value.str));
    EXPECT_EQ(api_snmp_set(kLoopback, p, nullptr, &oid_value, 1, 1000, nullptr), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(responder_.answered(), 1u);

    text.value_len = 255;
    std::memset(text.value.bytes, 'x', 255);
    expect_answered(api_snmp_set(kLoopback, p, nullptr, &text, 1, 1000, &collector_));
}

TEST_F(ApiChecks, BulkChecksInOrder) {
    const uint16_t p = port();
    std::vector<api_snmp_varbind> two(2, get_varbind("1.3.6.1.2.1.1"));

    EXPECT_REFUSED(run([&] { return api_snmp_get_bulk("1.2.3.4.5", p, nullptr, 0, 5, two.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "无效 Agent 地址（1.2.3.4.5:" + std::to_string(p) + "）");
    EXPECT_REFUSED(run([&] { return api_snmp_get_bulk(kLoopback, p, nullptr, 0, 5, two.data(), 2, 0, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "超时时间不能为 0");
    EXPECT_REFUSED(run([&] { return api_snmp_get_bulk(kLoopback, p, nullptr, 0, 5, two.data(), 11, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "变量绑定无效（数量：11，范围：1-10）");
    // Here a malformed OID is reported as an invalid OID.
    std::strcpy(two[1].oid, "1.3..6");
    EXPECT_REFUSED(run([&] { return api_snmp_get_bulk(kLoopback, p, nullptr, 0, 5, two.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_OID, "OID 不合法（1.3..6）");
    std::strcpy(two[1].oid, "1.3.6.1.2.1.2");
    EXPECT_REFUSED(run([&] { return api_snmp_get_bulk(kLoopback, p, nullptr, 3, 5, two.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "non_repeaters（3）> 变量数（2）");
    EXPECT_REFUSED(run([&] { return api_snmp_get_bulk(kLoopback, p, nullptr, 2, 0, two.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_INVALID_PARAM, "max_repetitions 不能为 0");
    const std::string name32(32, 'u');
    EXPECT_REFUSED(
        run([&] { return api_snmp_get_bulk(kLoopback, p, name32.c_str(), 0, 5, two.data(), 2, 1000, nullptr); }),
        API_SNMP_ERR_INVALID_PARAM, "用户名过长（最大31字节）");
    EXPECT_EQ(api_snmp_get_bulk("10.9.9.9", 161, nullptr, 0, 5, two.data(), 2, 1000, nullptr),
              API_SNMP_ERR_AGENT_NOT_FOUND);

    const api_snmp_agent_config v1 = agent_config(API_SNMP_V1, "public");
    ASSERT_EQ(api_snmp_agent_create("10.9.9.9", 161, &v1), API_SNMP_OK);
    EXPECT_REFUSED(run([&] { return api_snmp_get_bulk("10.9.9.9", 161, nullptr, 0, 5, two.data(), 2, 1000, nullptr); }),
                   API_SNMP_ERR_NOT_SUPPORTED, "GET-BULK 不支持 SNMPv1");
    EXPECT_EQ(responder_.answered(), 0u);

    // The DEBUG line reads only the varbinds that were passed: none here.
    api_snmp_set_log_level(AGENT_LOG_DEBUG);
    const Outcome traced = run([&] { return api_snmp_get_bulk(kLoopback, p, nullptr, 0, 5, two.data(), 0, 7, nullptr); });
    api_snmp_set_log_level(AGENT_LOG_WARN);
    EXPECT_THAT(traced.log, HasSubstr("[DEBUG] api_snmp_get_bulk ip=127.0.0.1 port=" + std::to_string(p) +
                                      " user=null nr=0 mr=5 vb_cnt=0 timeout=7 userdata=" +
                                      test_os::pointer_text(nullptr) + " oid0=empty\n"));

    expect_answered(api_snmp_get_bulk(kLoopback, p, nullptr, 1, 5, two.data(), 2, 1000, &collector_));
}

TEST_F(ApiChecks, UserChecks) {
    const api_snmp_agent_config v3 = agent_config(API_SNMP_V3, "");
    ASSERT_EQ(api_snmp_agent_create("10.3.3.3", 161, &v3), API_SNMP_OK);
    api_snmp_v3_user_config user{};
    std::strcpy(user.user_name, "alice");
    user.auth_alg = API_SNMP_AUTH_SHA1;
    user.auth_password = "authpass1";

    EXPECT_REFUSED(run([&] { return api_snmp_user_add("10.3.3.3", 0, &user); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效Agent地址（10.3.3.3:0）");
    EXPECT_REFUSED(run([] { return api_snmp_user_add("10.3.3.3", 161, nullptr); }), API_SNMP_ERR_INVALID_PARAM,
                   "V3用户配置无效（用户名为空）");
    api_snmp_v3_user_config bad = user;
    bad.user_name[0] = '\0';
    EXPECT_REFUSED(run([&] { return api_snmp_user_add("10.3.3.3", 161, &bad); }), API_SNMP_ERR_INVALID_PARAM,
                   "V3用户配置无效（用户名为空）");
    std::memset(bad.user_name, 'n', sizeof(bad.user_name));  // 32 characters, no terminator
    EXPECT_REFUSED(run([&] { return api_snmp_user_add("10.3.3.3", 161, &bad); }), API_SNMP_ERR_INVALID_PARAM,
                   "用户名过长（最大31字节）");
    bad = user;
    bad.auth_alg = API_SNMP_AUTH_NONE;
    bad.priv_alg = API_SNMP_PRIV_AES128;
    bad.priv_password = "privpass1";
    EXPECT_REFUSED(run([&] { return api_snmp_user_add("10.3.3.3", 161, &bad); }), API_SNMP_ERR_INVALID_PARAM,
                   "加密算法使用需配合认证算法（不能单独启用加密）");
    for (const char *password : {static_cast<const char *>(nullptr), ""}) {
        bad = user;
        bad.auth_password = password;
        EXPECT_REFUSED(run([&] { return api_snmp_user_add("10.3.3.3", 161, &bad); }), API_SNMP_ERR_INVALID_PARAM,
                       "启用认证/加密算法时必须提供对应非空密码");
        bad = user;
        bad.priv_alg = API_SNMP_PRIV_DES;
        bad.priv_password = password;
        EXPECT_REFUSED(run([&] { return api_snmp_user_add("10.3.3.3", 161, &bad); }), API_SNMP_ERR_INVALID_PARAM,
                       "启用认证/加密算法时必须提供对应非空密码");
    }
    EXPECT_EQ(api_snmp_get_user_count("10.3.3.3", 161), 0u);

    EXPECT_EQ(api_snmp_user_add("10.3.3.3", 161, &user), API_SNMP_OK);
    api_snmp_v3_user_config plain{};
    std::memset(plain.user_name, 'p', sizeof(plain.user_name) - 1);  // 31 characters
    EXPECT_EQ(api_snmp_user_add("10.3.3.3", 161, &plain), API_SNMP_OK);  // no algorithm, no password
    EXPECT_EQ(api_snmp_get_user_count("10.3.3.3", 161), 2u);

    EXPECT_REFUSED(run([] { return api_snmp_user_remove("10.3.3", 161, "alice"); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效Agent地址（10.3.3:161）");
    for (const char *name : {static_cast<const char *>(nullptr), ""}) {
        EXPECT_REFUSED(run([&] { return api_snmp_user_remove("10.3.3.3", 161, name); }), API_SNMP_ERR_INVALID_PARAM,
                       "用户名不能为空");
    }
    const std::string name32(32, 'p');
    EXPECT_REFUSED(run([&] { return api_snmp_user_remove("10.3.3.3", 161, name32.c_str()); }),
                   API_SNMP_ERR_INVALID_PARAM, "用户名过长（最大31字节）");
    EXPECT_EQ(api_snmp_user_remove("10.3.3.3", 161, "alice"), API_SNMP_OK);
    EXPECT_EQ(api_snmp_user_remove("10.3.3.3", 161, "alice"), API_SNMP_ERR_USER_NOT_FOUND);
}

TEST(ApiVarbinds, SetVarbindTypesAndValues) {
    api_snmp_varbind vb{};
    ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.4.1.1", "Uint32", "4294967295", &vb), API_SNMP_OK);
    EXPECT_EQ(vb.type, API_SNMP_BER_UINTEGER32);
    EXPECT_EQ(vb.value.u32, 4294967295u);
    EXPECT_EQ(vb.value_len, 4u);
    EXPECT_STREQ(vb.oid, "1.3.6.1.4.1.1");

    ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.4.1.1", "i", "-2147483648", &vb), API_SNMP_OK);
    EXPECT_EQ(vb.type, API_SNMP_BER_INTEGER);
    EXPECT_EQ(vb.value.i32, INT32_MIN);
    ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.4.1.1", "Int", "+17", &vb), API_SNMP_OK);
    EXPECT_EQ(vb.value.i32, 17);

    ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.4.1.1", "IP", "192.168.1.1", &vb), API_SNMP_OK);
    EXPECT_EQ(vb.type, API_SNMP_BER_IPADDRESS);
    EXPECT_EQ(vb.value.u32, 0xC0A80101u);
    EXPECT_EQ(vb.value_len, 4u);

    ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.4.1.1", "oid", "1.3.6.1.6.3.1", &vb), API_SNMP_OK);
    EXPECT_EQ(vb.type, API_SNMP_BER_OID);
    EXPECT_STREQ(vb.value.str, "1.3.6.1.6.3.1");
    EXPECT_EQ(vb.value_len, 13u);

    const std::string longest(255, 'v');
    ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.4.1.1", "STRING", longest.c_str(), &vb), API_SNMP_OK);
    EXPECT_EQ(vb.type, API_SNMP_BER_OCTET_STRING);
    EXPECT_EQ(vb.value_len, 255u);
    EXPECT_EQ(std::string(vb.value.str, vb.value_len), longest);
    ASSERT_EQ(api_snmp_create_set_varbind("1.3.6.1.4.1.1", "s", "", &vb), API_SNMP_OK);
    EXPECT_EQ(vb.value_len, 0u);
}

TEST(ApiVarbinds, SetVarbindRefusals) {
    api_snmp_varbind vb{};
    const char *oid = "1.3.6.1.4.1.1";
    const auto build = [&](const char *type, const char *value) {
        return run([&] { return api_snmp_create_set_varbind(oid, type, value, &vb); });
    };
    EXPECT_REFUSED(build("INT", "12abc"), API_SNMP_ERR_INVALID_PARAM, "整数类型值无效（12abc）");
    EXPECT_REFUSED(build("i", "2147483648"), API_SNMP_ERR_INVALID_PARAM, "整数类型值无效（2147483648）");
    EXPECT_REFUSED(build("i", ""), API_SNMP_ERR_INVALID_PARAM, "整数类型值无效（）");
    EXPECT_REFUSED(build("i", " 5"), API_SNMP_ERR_INVALID_PARAM, "整数类型值无效（ 5）");
    EXPECT_REFUSED(build("u", "4294967296"), API_SNMP_ERR_INVALID_PARAM, "无符号整数类型值无效（4294967296）");
    // A negative number is not silently wrapped into a large unsigned one.
    EXPECT_REFUSED(build("uint32", "-1"), API_SNMP_ERR_INVALID_PARAM, "无符号整数类型值无效（-1）");
    EXPECT_REFUSED(build("u", "+-1"), API_SNMP_ERR_INVALID_PARAM, "无符号整数类型值无效（+-1）");
    EXPECT_REFUSED(build("ip", "192.168.1.256"), API_SNMP_ERR_INVALID_PARAM, "IP地址格式无效（192.168.1.256）");
    EXPECT_REFUSED(build("o", "3.1"), API_SNMP_ERR_INVALID_OID, "OID类型值无效（3.1）");
    EXPECT_REFUSED(build("float", "1.5"), API_SNMP_ERR_INVALID_PARAM, "不支持的类型（float）");
    // Only the first 15 characters of a type name are compared (and reported).
    EXPECT_REFUSED(build("stringstringstring", "x"), API_SNMP_ERR_INVALID_PARAM, "不支持的类型（stringstringstr）");
    const std::string too_long(256, 'v');
    EXPECT_REFUSED(build("s", too_long.c_str()), API_SNMP_ERR_INVALID_PARAM,
                   "字符串值过长（最大255字节，当前256字节）");

    // OID values that would not fit the 128-byte OID field are refused rather than cut.
    std::string long_oid = "1.3";
    while (long_oid.size() <= 127) {
        long_oid += ".1";
    }
    EXPECT_REFUSED(build("o", long_oid.c_str()), API_SNMP_ERR_INVALID_OID, "OID类型值无效（" + long_oid + "）");

    EXPECT_REFUSED(run([&] { return api_snmp_create_set_varbind("1..3", "i", "1", &vb); }), API_SNMP_ERR_INVALID_OID,
                   "OID校验失败（1..3）");
    EXPECT_REFUSED(run([&] { return api_snmp_create_set_varbind(long_oid.c_str(), "i", "1", &vb); }),
                   API_SNMP_ERR_INVALID_OID, "OID校验失败（" + long_oid + "）");
    for (int absent = 0; absent < 4; ++absent) {
        EXPECT_REFUSED(run([&] {
                           return api_snmp_create_set_varbind(absent == 0 ? nullptr : oid, absent == 1 ? nullptr : "i",
                                                              absent == 2 ? nullptr : "1", absent == 3 ? nullptr : &vb);
                       }),
                       API_SNMP_ERR_INVALID_PARAM, "无效入参（oid/type/value/vb为空）");
    }

    // A refused build leaves a cleared record behind.
    std::memset(&vb, 0x5A, sizeof(vb));
    EXPECT_EQ(api_snmp_create_set_varbind(oid, "i", "x", &vb), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(vb.type, 0u);
    EXPECT_EQ(vb.value_len, 0u);
}

TEST(ApiVarbinds, GetVarbind) {
    api_snmp_varbind vb{};
    std::memset(&vb, 0x5A, sizeof(vb));
    ASSERT_EQ(api_snmp_create_get_varbind("1.3.6.1.2.1.1.1.0", &vb), API_SNMP_OK);
    EXPECT_STREQ(vb.oid, "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(vb.type, API_SNMP_BER_NULL);
    EXPECT_EQ(vb.value_len, 0u);
    EXPECT_EQ(vb.value.u64, 0u);

    EXPECT_EQ(api_snmp_create_get_varbind(nullptr, &vb), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(api_snmp_create_get_varbind("1.3", nullptr), API_SNMP_ERR_INVALID_PARAM);
    EXPECT_EQ(api_snmp_create_get_varbind("4.1", &vb), API_SNMP_ERR_INVALID_OID);
    EXPECT_EQ(api_snmp_create_get_varbind("1.3.", &vb), API_SNMP_ERR_INVALID_OID);
    std::string oid127 = "1.3";
    while (oid127.size() < 127) {
        oid127 += ".1";
    }
    ASSERT_EQ(oid127.size(), 127u);
    ASSERT_EQ(api_snmp_create_get_varbind(oid127.c_str(), &vb), API_SNMP_OK);
    EXPECT_EQ(std::string(vb.oid), oid127);
    EXPECT_EQ(api_snmp_create_get_varbind((oid127 + "1").c_str(), &vb), API_SNMP_ERR_INVALID_OID);
}

TEST_F(ApiChecks, CallbacksSettingsAndTrapListener) {
    const Outcome null_response = run([] {
        api_snmp_register_response_callback(nullptr);
        return 0;
    });
    EXPECT_THAT(null_response.log, HasSubstr("[WARN] 回调函数为空，注册失败\n"));
    const Outcome null_trap = run([] {
        api_snmp_register_trap_callback(nullptr, nullptr);
        return 0;
    });
    EXPECT_THAT(null_trap.log, HasSubstr("[WARN] 回调函数为空，注册失败\n"));
    // The earlier registration is still in place.
    const api_snmp_varbind vb = get_varbind("1.3.6.1.2.1.1.1.0");
    expect_answered(api_snmp_get(kLoopback, port(), nullptr, &vb, 1, 1000, &collector_));

    EXPECT_REFUSED(run([] { return api_snmp_start_trap_listener(0); }), API_SNMP_ERR_INVALID_PARAM,
                   "无效Trap监听端口（0）");
    EXPECT_REFUSED(run([] { return api_snmp_mib_load(""); }), API_SNMP_ERR_INVALID_PARAM, "MIB文件路径为空");
    EXPECT_REFUSED(run([] { return api_snmp_mib_load(nullptr); }), API_SNMP_ERR_INVALID_PARAM, "MIB文件路径为空");
    EXPECT_EQ(api_snmp_mib_load("/nonexistent/any.mib"), API_SNMP_OK);

    const Outcome info = run([] {
        api_snmp_set_log_level(AGENT_LOG_INFO);
        api_snmp_register_trap_callback(Collector::on_trap, nullptr);
        api_snmp_stop_trap_listener();
        api_snmp_set_log_level(AGENT_LOG_WARN);
        return 0;
    });
    EXPECT_THAT(info.log, HasSubstr("[INFO] 日志级别已设置为：1\n"));
    EXPECT_THAT(info.log, HasSubstr("[INFO] Trap回调函数注册成功\n"));
    EXPECT_THAT(info.log, HasSubstr("[INFO] Trap监听器已停止\n"));
    EXPECT_THAT(info.log, Not(HasSubstr("日志级别已设置为：2")));  // WARN filters the second INFO line
}

TEST_F(ApiChecks, Listing) {
    const api_snmp_agent_config v1 = agent_config(API_SNMP_V1, "public");
    const api_snmp_agent_config v3 = agent_config(API_SNMP_V3, "");
    ASSERT_EQ(api_snmp_agent_create("10.1.1.1", 1161, &v1), API_SNMP_OK);
    ASSERT_EQ(api_snmp_agent_create("10.1.1.2", 2161, &v3), API_SNMP_OK);
    EXPECT_EQ(api_snmp_get_agent_count(), 3u);

    api_snmp_agent_info entries[4]{};
    EXPECT_EQ(api_snmp_get_agent_list(entries, 0), 0u);
    EXPECT_EQ(api_snmp_get_agent_list(nullptr, 4), 0u);
    ASSERT_EQ(api_snmp_get_agent_list(entries, 2), 2u);  // newest first, cut at the capacity
    EXPECT_STREQ(entries[0].ip, "10.1.1.2");
    EXPECT_EQ(entries[0].port, 2161);
    EXPECT_EQ(entries[0].version, static_cast<uint32_t>(API_SNMP_V3));
    EXPECT_EQ(entries[0].timeout_ms, 3000u);
    EXPECT_EQ(entries[0].retries, 3u);
    EXPECT_STREQ(entries[1].ip, "10.1.1.1");
    ASSERT_EQ(api_snmp_get_agent_list(entries, 4), 3u);
    EXPECT_STREQ(entries[2].ip, kLoopback);

    api_snmp_v3_user_config user{};
    user.auth_alg = API_SNMP_AUTH_SHA256;
    user.auth_password = "authpass1";
    user.priv_alg = API_SNMP_PRIV_AES256;
    user.priv_password = "privpass1";
    for (const char *name : {"u1", "u2"}) {
        std::strcpy(user.user_name, name);
        ASSERT_EQ(api_snmp_user_add("10.1.1.2", 2161, &user), API_SNMP_OK);
    }
    api_snmp_user_info users[3]{};
    EXPECT_EQ(api_snmp_get_user_count("10.1.1.2", 2161), 2u);
    ASSERT_EQ(api_snmp_get_user_list("10.1.1.2", 2161, users, 3), 2u);
    EXPECT_STREQ(users[0].user_name, "u1");
    EXPECT_EQ(users[0].auth_alg, static_cast<uint32_t>(API_SNMP_AUTH_SHA256));
    EXPECT_EQ(users[0].priv_alg, static_cast<uint32_t>(API_SNMP_PRIV_AES256));
    EXPECT_STREQ(users[1].user_name, "u2");
    EXPECT_EQ(api_snmp_get_user_list("10.1.1.2", 2161, users, 1), 1u);
    EXPECT_EQ(api_snmp_get_user_list("10.1.1.2", 2161, nullptr, 3), 0u);
    EXPECT_EQ(api_snmp_get_user_list("10.1.1.1", 1161, users, 3), 0u);  // not SNMPv3
    EXPECT_EQ(api_snmp_get_user_count("10.1.1.1", 1161), 0u);
    EXPECT_EQ(api_snmp_get_user_count("10.7.7.7", 161), 0u);            // unknown
    EXPECT_EQ(api_snmp_get_user_count(nullptr, 161), 0u);
    EXPECT_EQ(api_snmp_get_user_list(nullptr, 161, users, 3), 0u);
}

}  // namespace
