// Notification PDUs on the wire: a built Trap and an Inform answer survive the v2c message codec.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "codec/snmp_ber.h"
#include "codec/snmp_protocol.h"
#include "codec/snmp_trap.h"
#include "test_support.h"

namespace {

using wire = std::array<uint8_t, SNMP_MAX_MSG_SIZE>;

uint16_t encode(snmp_message &msg, wire &buf) {
    uint16_t len = 0;
    EXPECT_EQ(snmp_ber_encode_snmp_message(buf.data(), static_cast<uint16_t>(buf.size()), nullptr, &msg, &len),
              SNMP_OK);
    return len;
}

std::unique_ptr<snmp_message> decode(const wire &buf, uint16_t len) {
    auto msg = std::make_unique<snmp_message>();
    uint16_t consumed = 0;
    EXPECT_EQ(snmp_ber_decode_snmp_message(buf.data(), len, msg.get(), &consumed), SNMP_OK);
    EXPECT_EQ(consumed, len);
    return msg;
}

TEST(TrapOnTheWire, BuiltInformDecodesValidatesAndIsAnswered) {
    auto inform = std::make_unique<snmp_message>();
    inform->version = SNMP_VERSION_2C;
    const char community[] = "public";
    std::copy_n(community, sizeof(community) - 1, inform->usm.username);
    inform->usm.user_len = sizeof(community) - 1;
    ASSERT_EQ(snmp_trap_build_v2c_v3_pdu(&inform->pdu, 1, 12345, "1.3.6.1.4.1.9999.1", 31), SNMP_OK);
    snmp_varbind *own = snmp_pdu_add_varbind(&inform->pdu);
    ASSERT_NE(own, nullptr);
    own->oid = vek_test::make_oid({1, 3, 6, 1, 4, 1, 9999, 2, 0});
    own->type = SNMP_TAG_INTEGER;
    own->value.integer = -7;

    wire buf{};
    uint16_t len = encode(*inform, buf);
    ASSERT_GT(len, 0);
    auto received = decode(buf, len);
    EXPECT_EQ(snmp_trap_validate_message(received.get()), 1);
    EXPECT_EQ(received->pdu.op, SNMP_OP_INFORM);
    ASSERT_EQ(received->pdu.varbind_count, 3);
    EXPECT_EQ(static_cast<uint32_t>(received->pdu.varbinds[0].value.integer), 12345u);
    EXPECT_TRUE(vek_test::oid_is(received->pdu.varbinds[1].value.oid_value, {1, 3, 6, 1, 4, 1, 9999, 1}));

    auto answer = std::make_unique<snmp_message>();
    ASSERT_EQ(snmp_inform_build_response(answer.get(), received.get(), SNMP_VERSION_2C, "public", nullptr), SNMP_OK);
    len = encode(*answer, buf);
    ASSERT_GT(len, 0);
    auto answer_received = decode(buf, len);
    EXPECT_EQ(answer_received->pdu.op, SNMP_OP_GET_RESPONSE);
    EXPECT_EQ(answer_received->pdu.request_id, 31);
    EXPECT_EQ(answer_received->pdu.varbind_count, 0);
    EXPECT_EQ(answer_received->usm.user_len, 6);
    EXPECT_EQ(snmp_trap_validate_message(answer_received.get()), 0);
}

}  // namespace
