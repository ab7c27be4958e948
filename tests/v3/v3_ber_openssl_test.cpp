// SNMPv3 framing checked against OpenSSL's libcrypto: the authentication parameter that the command
// encoder writes is the HMAC of the message with the parameter zeroed. Linux only: there is no
// OpenSSL for the Windows build.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <array>

#include "v3_test_util.h"

namespace {

using namespace v3_test;

TEST(V3CmdEncode, Sha1GetRequestOnTheWire) {
    Command c;
    c.auth = SNMP_V3_AUTH_SHA1;
    c.msg_id = 0x1234;
    c.varbinds = {null_binding(3)};
    Bytes wire;
    ASSERT_EQ(encode(c, wire), SNMP_OK);
    EXPECT_EQ(Bytes(wire.begin() + 2, wire.begin() + 5), hex("02 01 03"));
    EXPECT_NE(find(wire, hex("30 0E 02 02 12 34 02 02 04 00 04 01 05 02 01 03")), std::string::npos);

    auto msg = decode(wire);
    EXPECT_EQ(msg->msg_flags, 0x05);
    EXPECT_EQ(msg->msg_id, 0x1234u);
    EXPECT_EQ(msg->pdu.request_id, 0);
    ASSERT_EQ(msg->pdu.context_engine_id_len, kEngineId.size());
    EXPECT_EQ(std::memcmp(msg->pdu.context_engine_id, kEngineId.data(), kEngineId.size()), 0);
    EXPECT_EQ(msg->pdu.context_name_len, 0);
    EXPECT_EQ(msg->usm.engine_boots, kBoots);
    EXPECT_EQ(msg->usm.engine_time, kTime);

    uint16_t at = msg->auth_param_abs_offset;
    ASSERT_GT(at, 0);
    ASSERT_LE(at + 16u, wire.size());
    EXPECT_EQ(wire[at], 0x04);
    EXPECT_EQ(wire[at + 1], 0x0C);
    EXPECT_EQ(wire[at + 14], 0x04);  // empty privacy parameter follows
    EXPECT_EQ(wire[at + 15], 0x00);

    // HMAC-SHA-1 over the message with the 12 bytes zeroed reproduces them.
    Bytes zeroed = wire;
    std::fill(zeroed.begin() + at + 2, zeroed.begin() + at + 14, 0);
    std::array<uint8_t, EVP_MAX_MD_SIZE> mac{};
    unsigned mac_len = 0;
    const Bytes &key = keys().auth[SNMP_V3_AUTH_SHA1];
    ASSERT_NE(HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), zeroed.data(), zeroed.size(), mac.data(), &mac_len),
              nullptr);
    EXPECT_EQ(Bytes(mac.begin(), mac.begin() + 12), Bytes(wire.begin() + at + 2, wire.begin() + at + 14));
}

}  // namespace
