// Notification PDUs: OID text parsing, Trap/Inform building, the notification check and the Inform answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/snmp_protocol.h"
#include "codec/snmp_trap.h"
#include "test_support.h"

using testing::HasSubstr;
using testing::Not;
using vek_test::capture_log;
using vek_test::make_oid;
using vek_test::oid_is;

namespace {

const snmp_oid kSysUpTime = make_oid({1, 3, 6, 1, 2, 1, 1, 3, 0});
const snmp_oid kSnmpTrapOid = make_oid({1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0});

std::string dotted(uint32_t first, unsigned count) {
    std::string text;
    for (unsigned i = 0; i < count; ++i) {
        text += i == 0 ? "" : ".";
        text += std::to_string(first + i);
    }
    return text;
}

// Parse result and OID, with the log lines the parse wrote.
struct parsed {
    int32_t rc;
    snmp_oid oid;
    std::string log;
};

parsed parse(const char *text) {
    parsed out{};
    out.oid = make_oid({9, 9, 9}); /* must be overwritten */
    out.log = capture_log([&] { out.rc = snmp_trap_parse_oid(text, &out.oid); });
    return out;
}

TEST(ParseOid, AcceptsDottedDecimalAndSkipsEmptyPieces) {
    EXPECT_EQ(parse("1.3.6.1.4.1.9999.1").rc, 1);
    EXPECT_TRUE(oid_is(parse("1.3.6.1.4.1.9999.1").oid, {1, 3, 6, 1, 4, 1, 9999, 1}));
    EXPECT_TRUE(oid_is(parse(".1.3.6").oid, {1, 3, 6}));
    EXPECT_TRUE(oid_is(parse("1..3.6.").oid, {1, 3, 6}));
    EXPECT_TRUE(oid_is(parse("7").oid, {7})); /* no two-arc minimum here */
    EXPECT_TRUE(oid_is(parse("1.3.4294967295").oid, {1, 3, 4294967295u}));
    EXPECT_TRUE(oid_is(parse("1.3.000000000000000000042").oid, {1, 3, 42}));

    vek_test::log_level_scope debug(AGENT_LOG_DEBUG);
    parsed ok = parse(".1.3.6");
    EXPECT_THAT(ok.log, HasSubstr("[DEBUG] snmp_trap_parse_oid: 解析成功 .1.3.6 (节点数=3)\n"));
}

TEST(ParseOid, RefusesBadTextWithItsErrorLine) {
    parsed letter = parse("1.3a.6");
    EXPECT_EQ(letter.rc, 0);
    EXPECT_EQ(letter.oid.len, 0);
    EXPECT_THAT(letter.log, HasSubstr("[ERROR] snmp_trap_parse_oid: OID节点包含非数字字符 3a\n"));

    for (const char *text : {"1.-3.6", "1.+3", "1. 3", "1.3.6 ", "0x10.1"}) {
        parsed p = parse(text);
        EXPECT_EQ(p.rc, 0) << text;
        EXPECT_EQ(p.oid.len, 0) << text;
        EXPECT_THAT(p.log, HasSubstr("OID节点包含非数字字符")) << text;
    }

    parsed empty = parse("");
    EXPECT_EQ(empty.rc, 0);
    EXPECT_EQ(empty.oid.len, 0);
    EXPECT_THAT(empty.log, HasSubstr("[ERROR] snmp_trap_parse_oid: OID解析失败 \n"));
    parsed dots = parse("...");
    EXPECT_EQ(dots.rc, 0);
    EXPECT_THAT(dots.log, HasSubstr("[ERROR] snmp_trap_parse_oid: OID解析失败 ...\n"));

    parsed null_text = parse(nullptr);
    EXPECT_EQ(null_text.rc, 0);
    EXPECT_THAT(null_text.log, HasSubstr("[ERROR] snmp_trap_parse_oid: 入参为空\n"));
    EXPECT_EQ(snmp_trap_parse_oid("1.3", nullptr), 0);
}

TEST(ParseOid, PieceBeyondThirtyTwoBitsIsRefused) {
    parsed over = parse("1.3.4294967296.1");
    EXPECT_EQ(over.rc, 0);
    EXPECT_EQ(over.oid.len, 0);
    EXPECT_THAT(over.log, HasSubstr("[ERROR] snmp_trap_parse_oid: OID节点数值超出范围 4294967296\n"));

    parsed huge = parse("1.3.99999999999999999999999999");
    EXPECT_EQ(huge.rc, 0);
    EXPECT_THAT(huge.log, HasSubstr("OID节点数值超出范围 99999999999999999999999999\n"));
}

TEST(ParseOid, KeepsEveryArcOfTheLongestTextAndTheFirst127Characters) {
    // One-digit arcs fill the 127 characters with exactly as many arcs as an OID holds.
    std::string longest = "1";
    for (uint32_t i = 1; i < SNMP_MAX_OID_LEN; ++i) {
        longest += '.';
        longest += static_cast<char>('0' + i % 10);
    }
    ASSERT_EQ(longest.size(), SNMP_TRAP_OID_TEXT_MAX);
    parsed p = parse(longest.c_str());
    ASSERT_EQ(p.rc, 1);
    ASSERT_EQ(p.oid.len, SNMP_MAX_OID_LEN);
    EXPECT_EQ(p.oid.sub_ids[SNMP_MAX_OID_LEN - 1], (SNMP_MAX_OID_LEN - 1) % 10);

    // "1.3." and 123 zeros fill the 127 characters: the 7 after them is not part of the OID.
    std::string cut = "1.3." + std::string(SNMP_TRAP_OID_TEXT_MAX - 4, '0') + "7.5";
    parsed c = parse(cut.c_str());
    ASSERT_EQ(c.rc, 1);
    EXPECT_TRUE(oid_is(c.oid, {1, 3, 0}));
}

TEST(ParseOid, ParsesFromSeveralThreadsAtOnce) {
    constexpr unsigned kRounds = 2000;
    vek_test::log_level_scope quiet(AGENT_LOG_FATAL);
    auto worker = [](const std::string &text, uint32_t first, bool &ok) {
        for (unsigned i = 0; i < kRounds && ok; ++i) {
            snmp_oid oid{};
            ok = snmp_trap_parse_oid(text.c_str(), &oid) == 1 && oid.len == 12 && oid.sub_ids[0] == first &&
                 oid.sub_ids[11] == first + 11;
        }
    };
    const std::string a = dotted(100, 12);
    const std::string b = dotted(5000, 12);
    bool ok_a = true;
    bool ok_b = true;
    {
        std::jthread ta(worker, std::cref(a), 100u, std::ref(ok_a));
        std::jthread tb(worker, std::cref(b), 5000u, std::ref(ok_b));
    }
    EXPECT_TRUE(ok_a);
    EXPECT_TRUE(ok_b);
}

TEST(BuildPdu, TrapAndInformWithTheirMandatoryBindings) {
    auto pdu = std::make_unique<snmp_pdu>();
    std::memset(pdu.get(), 0x5A, sizeof(*pdu));
    ASSERT_EQ(snmp_trap_build_v2c_v3_pdu(pdu.get(), 0, 12345, "1.3.6.1.4.1.9999.1", 77), SNMP_OK);
    EXPECT_EQ(pdu->op, SNMP_OP_TRAP);
    EXPECT_EQ(pdu->request_id, 77);
    EXPECT_EQ(pdu->error_status, 0u);
    EXPECT_EQ(pdu->error_index, 0u);
    EXPECT_EQ(pdu->non_repeaters, 0u);
    EXPECT_EQ(pdu->context_engine_id_len, 0);
    EXPECT_EQ(pdu->context_name_len, 0);
    ASSERT_EQ(pdu->varbind_count, 2);
    EXPECT_TRUE(snmp_oid_compare(&pdu->varbinds[0].oid, &kSysUpTime));
    EXPECT_EQ(pdu->varbinds[0].type, SNMP_TAG_TIMETICKS);
    EXPECT_EQ(static_cast<uint32_t>(pdu->varbinds[0].value.integer), 12345u);
    EXPECT_TRUE(snmp_oid_compare(&pdu->varbinds[1].oid, &kSnmpTrapOid));
    EXPECT_EQ(pdu->varbinds[1].type, SNMP_TAG_OID);
    EXPECT_TRUE(oid_is(pdu->varbinds[1].value.oid_value, {1, 3, 6, 1, 4, 1, 9999, 1}));
    EXPECT_EQ(pdu->varbinds[2].type, 0); /* the slots after the count were cleared too */

    // 14 bindings of the caller's own fit behind the two mandatory ones.
    for (int i = 0; i < 14; ++i) {
        EXPECT_NE(snmp_pdu_add_varbind(pdu.get()), nullptr) << i;
    }
    EXPECT_EQ(snmp_pdu_add_varbind(pdu.get()), nullptr);

    std::string log = capture_log([&] {
        EXPECT_EQ(snmp_trap_build_v2c_v3_pdu(pdu.get(), 1, 0xFFFFFFFFu, "1.3.6.1.6.3.1.1.5.4", 0x80000001u),
                  SNMP_OK);
    });
    EXPECT_EQ(pdu->op, SNMP_OP_INFORM);
    EXPECT_EQ(static_cast<uint32_t>(pdu->request_id), 0x80000001u);
    EXPECT_EQ(pdu->varbind_count, 2);
    EXPECT_EQ(static_cast<uint32_t>(pdu->varbinds[0].value.integer), 0xFFFFFFFFu);
    EXPECT_THAT(log, Not(HasSubstr("[ERROR]")));

    vek_test::log_level_scope info(AGENT_LOG_INFO);
    log = capture_log([&] { snmp_trap_build_v2c_v3_pdu(pdu.get(), 0, 1, "1.3.6.1.6.3.1.1.5.3", 9); });
    EXPECT_THAT(log, HasSubstr("[INFO] snmp_trap_build_v2c_v3_pdu: v2c/v3 Trap PDU构造成功 (RequestID=9, "
                               "TrapOID=1.3.6.1.6.3.1.1.5.3)\n"));
}

TEST(BuildPdu, RefusesNullArgumentsAndBadOperations) {
    snmp_pdu pdu{};
    std::string log = capture_log([&] {
        EXPECT_EQ(snmp_trap_build_v2c_v3_pdu(nullptr, 0, 1, "1.3.6", 1), SNMP_ERR_NULL);
        EXPECT_EQ(snmp_trap_build_v2c_v3_pdu(&pdu, 0, 1, nullptr, 1), SNMP_ERR_NULL);
        EXPECT_EQ(snmp_trap_pdu_init(nullptr, SNMP_OP_TRAP, 1), SNMP_ERR_NULL);
        EXPECT_EQ(snmp_trap_pdu_init(&pdu, 9, 1), SNMP_ERR_NULL);
        EXPECT_EQ(snmp_trap_add_mandatory_varbinds(nullptr, 1, "1.3.6"), SNMP_ERR_NULL);
        EXPECT_EQ(snmp_trap_add_mandatory_varbinds(&pdu, 1, nullptr), SNMP_ERR_NULL);
    });
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_trap_build_v2c_v3_pdu: 入参为空\n"));
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_trap_pdu_init: pdu为空\n"));
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_trap_pdu_init: 非法PDU类型 9\n"));
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_trap_add_mandatory_varbinds: 入参为空\n"));
    EXPECT_EQ(pdu.varbind_count, 0);

    EXPECT_EQ(snmp_trap_pdu_init(&pdu, SNMP_OP_REPORT, 3), SNMP_OK); /* every op up to 8 starts a PDU */
    EXPECT_EQ(pdu.op, SNMP_OP_REPORT);
}

TEST(MandatoryBindings, FullPduKeepsSixteenBindings) {
    snmp_pdu pdu{};
    pdu.varbind_count = 15;
    std::string log = capture_log([&] {
        EXPECT_EQ(snmp_trap_add_mandatory_varbinds(&pdu, 500, "1.3.6.1.4.1.1"), SNMP_ERR_NO_ROOM);
    });
    EXPECT_EQ(pdu.varbind_count, 16);
    EXPECT_TRUE(snmp_oid_compare(&pdu.varbinds[15].oid, &kSysUpTime));
    EXPECT_EQ(static_cast<uint32_t>(pdu.varbinds[15].value.integer), 500u);
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_trap_check_varbind_count: VarBind数量超限 (当前=16, 最大=16)\n"));

    log = capture_log([&] {
        EXPECT_EQ(snmp_trap_add_mandatory_varbinds(&pdu, 500, "1.3.6.1.4.1.1"), SNMP_ERR_NO_ROOM);
    });
    EXPECT_EQ(pdu.varbind_count, 16);
    EXPECT_THAT(log, HasSubstr("VarBind数量超限 (当前=16, 最大=16)"));
}

TEST(MandatoryBindings, InvalidNotificationOidLeavesOnlySysUpTime) {
    snmp_pdu pdu{};
    std::string log = capture_log([&] {
        EXPECT_EQ(snmp_trap_add_mandatory_varbinds(&pdu, 1, "1.3.6.x.1"), SNMP_ERR_OID);
    });
    ASSERT_EQ(pdu.varbind_count, 1);
    EXPECT_TRUE(snmp_oid_compare(&pdu.varbinds[0].oid, &kSysUpTime));
    EXPECT_EQ(pdu.varbinds[1].oid.len, 0);
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_trap_add_mandatory_varbinds: 解析Trap OID失败 1.3.6.x.1\n"));

    log = capture_log([&] { EXPECT_EQ(snmp_trap_build_v2c_v3_pdu(&pdu, 1, 1, "", 5), SNMP_ERR_OID); });
    EXPECT_EQ(pdu.varbind_count, 1);
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_trap_build_v2c_v3_pdu: 添加必备VarBind失败 (错误码=-4)\n"));
}

// A well-formed decoded v2c trap to break one field at a time.
std::unique_ptr<snmp_message> trap_message() {
    auto msg = std::make_unique<snmp_message>();
    msg->version = SNMP_VERSION_2C;
    EXPECT_EQ(snmp_trap_build_v2c_v3_pdu(&msg->pdu, 0, 100, "1.3.6.1.4.1.9999.1", 5), SNMP_OK);
    return msg;
}

std::string validate_log(const snmp_message *msg, int32_t expected) {
    return capture_log([&] { EXPECT_EQ(snmp_trap_validate_message(msg), expected); });
}

TEST(ValidateMessage, AcceptsTrapsAndInformsOfV2cAndV3) {
    auto msg = trap_message();
    vek_test::log_level_scope debug(AGENT_LOG_DEBUG);
    EXPECT_THAT(validate_log(msg.get(), 1),
                HasSubstr("[DEBUG] snmp_trap_validate_message: Trap/Inform消息校验通过\n"));
    msg->version = SNMP_VERSION_3;
    msg->pdu.op = SNMP_OP_INFORM;
    msg->pdu.varbinds[0].type = SNMP_TAG_INTEGER; /* value types are not checked */
    validate_log(msg.get(), 1);
}

TEST(ValidateMessage, EachFailureWritesItsLine) {
    EXPECT_THAT(validate_log(nullptr, 0), HasSubstr("[ERROR] snmp_trap_validate_message: 消息为空\n"));

    auto msg = trap_message();
    for (uint32_t version : {0u, 2u}) {
        msg->version = version;
        EXPECT_THAT(validate_log(msg.get(), 0),
                    HasSubstr("[ERROR] snmp_trap_validate_message: 不支持的SNMP版本 " + std::to_string(version) +
                              "\n"));
    }

    msg = trap_message();
    msg->pdu.op = SNMP_OP_GET_RESPONSE;
    EXPECT_THAT(validate_log(msg.get(), 0), HasSubstr("[ERROR] snmp_trap_validate_message: 非法PDU类型 2\n"));

    msg = trap_message();
    msg->pdu.varbind_count = 1;
    EXPECT_THAT(validate_log(msg.get(), 0),
                HasSubstr("[ERROR] snmp_trap_validate_message: VarBind数量不足 (当前=1, 最小=2)\n"));

    msg = trap_message();
    std::swap(msg->pdu.varbinds[0], msg->pdu.varbinds[1]);
    EXPECT_THAT(validate_log(msg.get(), 0),
                HasSubstr("[ERROR] snmp_trap_validate_message: 第一个VarBind不是sysUpTime.0\n"));

    msg = trap_message();
    msg->pdu.varbinds[0].oid.sub_ids[msg->pdu.varbinds[0].oid.len++] = 0; /* sysUpTime.0.0 */
    EXPECT_THAT(validate_log(msg.get(), 0), HasSubstr("第一个VarBind不是sysUpTime.0"));

    msg = trap_message();
    msg->pdu.varbinds[1].oid.len--; /* snmpTrapOID without its .0 */
    EXPECT_THAT(validate_log(msg.get(), 0),
                HasSubstr("[ERROR] snmp_trap_validate_message: 第二个VarBind不是snmpTrapOID.0\n"));
}

std::unique_ptr<snmp_message> inform_message() {
    auto msg = trap_message();
    msg->pdu.op = SNMP_OP_INFORM;
    msg->pdu.request_id = 4242;
    msg->msg_id = 0x01020304;
    msg->msg_flags = SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_REPORTABLE;
    return msg;
}

TEST(InformResponse, V2cAnswerUnderPrintableCommunity) {
    auto inform = inform_message();
    auto resp = std::make_unique<snmp_message>();
    std::memset(resp.get(), 0x77, sizeof(*resp));
    ASSERT_EQ(snmp_inform_build_response(resp.get(), inform.get(), SNMP_VERSION_2C, "pub lic~", nullptr), SNMP_OK);
    EXPECT_EQ(resp->version, SNMP_VERSION_2C);
    EXPECT_EQ(resp->usm.user_len, 8);
    EXPECT_STREQ(reinterpret_cast<const char *>(resp->usm.username), "pub lic~");
    EXPECT_EQ(resp->pdu.op, SNMP_OP_GET_RESPONSE);
    EXPECT_EQ(resp->pdu.request_id, 4242);
    EXPECT_EQ(resp->pdu.error_status, 0u);
    EXPECT_EQ(resp->pdu.error_index, 0u);
    EXPECT_EQ(resp->pdu.varbind_count, 0);
    EXPECT_EQ(resp->msg_id, 0u);
    EXPECT_EQ(resp->encrypted_pdu_len, 0);

    std::string long_name(40, 'c');
    ASSERT_EQ(snmp_inform_build_response(resp.get(), inform.get(), 1, long_name.c_str(), nullptr), SNMP_OK);
    EXPECT_EQ(resp->usm.user_len, SNMP_MAX_COMMUNITY_LEN);
    EXPECT_EQ(resp->usm.username[SNMP_MAX_COMMUNITY_LEN], 0);

    // Built over the received message itself.
    ASSERT_EQ(snmp_inform_build_response(inform.get(), inform.get(), 1, "public", nullptr), SNMP_OK);
    EXPECT_EQ(inform->pdu.request_id, 4242);
    EXPECT_EQ(inform->pdu.op, SNMP_OP_GET_RESPONSE);
    EXPECT_EQ(inform->pdu.varbind_count, 0);
}

TEST(InformResponse, V2cRefusesEmptyAndNonPrintableCommunities) {
    auto inform = inform_message();
    snmp_message resp{};
    struct bad {
        const char *community;
        const char *line;
    };
    const bad cases[] = {
        {nullptr, "[ERROR] snmp_inform_build_response: v2c共同体名为空\n"},
        {"", "[ERROR] snmp_inform_build_response: v2c共同体名为空\n"},
        {"pub\tlic", "[ERROR] 共同体名包含非打印字符\n"},
        {"public\x7f", "[ERROR] 共同体名包含非打印字符\n"},
        {"公共", "[ERROR] 共同体名包含非打印字符\n"},
        {"public\n", "[ERROR] 共同体名包含非打印字符\n"},
    };
    for (const bad &c : cases) {
        std::string log = capture_log([&] {
            EXPECT_EQ(snmp_inform_build_response(&resp, inform.get(), 1, c.community, nullptr), SNMP_ERR_NULL);
        });
        EXPECT_THAT(log, HasSubstr(c.line)) << (c.community ? c.community : "(null)");
    }
}

TEST(InformResponse, V3CopiesMessageIdAndFlags) {
    auto inform = inform_message();
    inform->version = SNMP_VERSION_3;
    snmp_v3_user user{};
    auto resp = std::make_unique<snmp_message>();
    ASSERT_EQ(snmp_inform_build_response(resp.get(), inform.get(), SNMP_VERSION_3, nullptr, &user), SNMP_OK);
    EXPECT_EQ(resp->version, SNMP_VERSION_3);
    EXPECT_EQ(resp->msg_id, 0x01020304u);
    EXPECT_EQ(resp->msg_flags, SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_REPORTABLE);
    EXPECT_EQ(resp->usm.user_len, 0);
    EXPECT_EQ(resp->usm.engine_id_len, 0);
    EXPECT_EQ(resp->pdu.op, SNMP_OP_GET_RESPONSE);
    EXPECT_EQ(resp->pdu.request_id, 4242);

    std::string log = capture_log([&] {
        EXPECT_EQ(snmp_inform_build_response(resp.get(), inform.get(), 3, "public", nullptr), SNMP_ERR_NULL);
        EXPECT_EQ(snmp_inform_build_response(resp.get(), inform.get(), 0, "public", &user), SNMP_ERR_VERSION);
        EXPECT_EQ(snmp_inform_build_response(resp.get(), inform.get(), 2, "public", &user), SNMP_ERR_VERSION);
        EXPECT_EQ(snmp_inform_build_response(nullptr, inform.get(), 1, "public", &user), SNMP_ERR_NULL);
        EXPECT_EQ(snmp_inform_build_response(resp.get(), nullptr, 1, "public", &user), SNMP_ERR_NULL);
    });
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_inform_build_response: v3用户信息为空\n"));
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_inform_build_response: 不支持的版本 0\n"));
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_inform_build_response: 不支持的版本 2\n"));
    EXPECT_THAT(log, HasSubstr("[ERROR] snmp_inform_build_response: 入参为空\n"));
}

}  // namespace
