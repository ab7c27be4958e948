// SNMPv3 framing: the USM block, the scoped PDU, the whole-message codec and the one-call command
// encoder, checked on the wire.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "v3_test_util.h"

namespace {

using namespace v3_test;

Bytes hex(const std::string &text) {
    Bytes out;
    std::string digits;
    for (char c : text) {
        if (c != ' ') {
            digits += c;
        }
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// Tag, short-form length and content (every hand-built element here is below 128 bytes).
Bytes tlv(uint8_t tag, const Bytes &content) {
    Bytes out;
    constexpr size_t kTagAndLength = 2;
    out.reserve(kTagAndLength + content.size());
    out.push_back(tag);
    out.push_back(static_cast<uint8_t>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes octets(size_t len, uint8_t fill) { return Bytes(len, fill); }

Bytes usm_block(const Bytes &engine, const Bytes &user, const Bytes &auth, const Bytes &priv,
                const Bytes &boots = hex("02 01 01"), const Bytes &time = hex("02 01 02")) {
    return tlv(0x30, cat({tlv(0x04, engine), boots, time, tlv(0x04, user), tlv(0x04, auth), tlv(0x04, priv)}));
}

// A v3 message of hand-made parts: msgGlobalData content, the USM block and msgData.
Bytes v3_message(const Bytes &global_content, const Bytes &usm, const Bytes &data) {
    return tlv(0x30, cat({hex("02 01 03"), tlv(0x30, global_content), tlv(0x04, usm), data}));
}

Bytes global_data(uint8_t flags, uint8_t security_model = 3) {
    return cat({hex("02 01 05 02 02 04 00"), tlv(0x04, {flags}), {0x02, 0x01, security_model}});
}

// A plaintext scoped PDU: empty context, GetRequest for sysUpTime.0.
const Bytes kScopedPdu = tlv(0x30, cat({hex("04 00 04 00"),
                                         tlv(0xA0, cat({hex("02 01 01 02 01 00 02 01 00"),
                                                        tlv(0x30, tlv(0x30, hex("06 08 2B 06 01 02 01 01 03 00 05 00")))}))}));

int32_t decode_usm(const Bytes &block, uint8_t flags, snmp_v3_usm &usm, uint16_t *auth_offset = nullptr) {
    uint16_t consumed = 0;
    int32_t ret = snmp_ber_decode_v3_usm(block.data(), static_cast<uint16_t>(block.size()), flags, &usm, &consumed,
                                         auth_offset);
    if (ret == SNMP_OK) {
        EXPECT_EQ(consumed, block.size());
    }
    return ret;
}

TEST(V3Usm, DiscoveryRecordEncodesToFixedBytesAndClearsTheName) {
    snmp_v3_usm usm{};
    std::memcpy(usm.username, "bob", 3);
    usm.user_len = 3;
    std::array<uint8_t, 64> buf{};
    uint16_t len = 0;
    uint16_t auth_rel = 0;
    uint16_t priv_rel = 0;
    uint16_t header = 0;
    ASSERT_EQ(snmp_ber_encode_v3_usm(buf.data(), buf.size(), &usm, &len, &auth_rel, &priv_rel, &header), SNMP_OK);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + len), hex("30 0E 04 00 02 01 00 02 01 00 04 00 04 00 04 00"));
    EXPECT_EQ(usm.user_len, 0);
    EXPECT_EQ(header, 2);
    EXPECT_EQ(auth_rel, 10);
    EXPECT_EQ(priv_rel, 12);
    EXPECT_EQ(snmp_ber_encode_v3_usm(buf.data(), 15, &usm, &len, &auth_rel, &priv_rel, &header), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_v3_usm(buf.data(), buf.size(), &usm, &len, &auth_rel, &priv_rel, nullptr),
              SNMP_ERR_INVALID);

    // A whole discovery probe carries the block as msgSecurityParameters and decodes as discovery.
    auto probe = std::make_unique<snmp_message>();
    probe->version = SNMP_VERSION_3;
    probe->msg_flags = SNMP_V3_FLAG_REPORTABLE;
    probe->msg_id = 77;
    probe->pdu.op = SNMP_OP_GET;
    snmp_v3_user user{};
    Bytes wire(SNMP_MAX_MSG_SIZE);
    uint16_t wire_len = 0;
    ASSERT_EQ(snmp_ber_encode_snmp_message(wire.data(), static_cast<uint16_t>(wire.size()), &user, probe.get(), &wire_len),
              SNMP_OK);
    wire.resize(wire_len);
    EXPECT_NE(find(wire, hex("04 10 30 0E 04 00 02 01 00 02 01 00 04 00 04 00 04 00 30")), std::string::npos);
    auto received = decode(wire);
    EXPECT_EQ(received->usm.engine_id_len, 0);
    EXPECT_EQ(received->auth_param_abs_offset, 0);
    EXPECT_EQ(received->msg_id, 77u);
    EXPECT_EQ(received->pdu.op, SNMP_OP_GET);
}

TEST(V3Usm, DiscoveryToleratesMalformedCountersButNormalMessagesDoNot) {
    // Boots is not an INTEGER (4 bytes skipped), time is fine.
    Bytes block = tlv(0x30, cat({hex("04 00"), hex("41 02 00 01"), hex("02 01 09"), hex("04 00 04 00 04 00")}));
    snmp_v3_usm usm{};
    ASSERT_EQ(decode_usm(block, 0, usm), SNMP_OK);
    EXPECT_EQ(usm.engine_boots, 0u);
    EXPECT_EQ(usm.engine_time, 0u);
    EXPECT_EQ(usm.engine_id_len, 0);

    Bytes normal = tlv(0x30, cat({hex("04 02 80 01"), hex("41 02 00 01"), hex("02 01 09"), hex("04 00 04 00 04 00")}));
    EXPECT_EQ(decode_usm(normal, 0, usm), SNMP_ERR_INVALID);
}

TEST(V3Usm, ParametersAreReadOnlyWithTheirFlags) {
    Bytes engine = octets(5, 0x80);
    Bytes with_auth = usm_block(engine, {'b', 'o', 'b'}, octets(12, 0xAB), {});
    snmp_v3_usm usm{};
    uint16_t auth_offset = 99;
    // The flag is clear, so the 12-byte parameter is unexpected: the block does not add up.
    EXPECT_EQ(decode_usm(with_auth, 0, usm, &auth_offset), SNMP_ERR_MALFORMED);
    EXPECT_EQ(auth_offset, 0);

    ASSERT_EQ(decode_usm(with_auth, SNMP_V3_FLAG_AUTH, usm, &auth_offset), SNMP_OK);
    EXPECT_EQ(auth_offset, 2 + 7 + 3 + 3 + 5);
    EXPECT_EQ(usm.auth_param_len, 12);
    EXPECT_EQ(usm.auth_param[11], 0xAB);
    EXPECT_EQ(usm.engine_boots, 1u);
    EXPECT_EQ(usm.engine_time, 2u);
    ASSERT_EQ(usm.user_len, 3);
    EXPECT_EQ(std::memcmp(usm.username, "bob", 3), 0);

    Bytes with_priv = usm_block(engine, {'b', 'o', 'b'}, octets(12, 0xAB), octets(8, 0xCD));
    EXPECT_EQ(decode_usm(with_priv, SNMP_V3_FLAG_AUTH, usm), SNMP_ERR_MALFORMED);
    ASSERT_EQ(decode_usm(with_priv, SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_PRIV, usm), SNMP_OK);
    EXPECT_EQ(usm.priv_param_len, 8);
    EXPECT_EQ(usm.priv_param[0], 0xCD);
}

TEST(V3Usm, OverlongFieldsAreRefusedRatherThanCut) {
    Bytes engine = octets(5, 0x80);
    snmp_v3_usm usm{};
    // A 32-byte name cut to 31 could match another configured user.
    EXPECT_EQ(decode_usm(usm_block(engine, octets(32, 'u'), {}, {}), 0, usm), SNMP_ERR_MALFORMED);
    ASSERT_EQ(decode_usm(usm_block(engine, octets(31, 'u'), {}, {}), 0, usm), SNMP_OK);
    EXPECT_EQ(usm.user_len, 31);

    EXPECT_EQ(decode_usm(usm_block(octets(33, 0x80), {'b'}, {}, {}), 0, usm), SNMP_ERR_MALFORMED);
    ASSERT_EQ(decode_usm(usm_block(octets(32, 0x81), {'b'}, {}, {}), 0, usm), SNMP_OK);
    EXPECT_EQ(usm.engine_id_len, 32);
    EXPECT_EQ(usm.engine_id[31], 0x81);

    EXPECT_EQ(decode_usm(usm_block(engine, {'b'}, octets(SNMP_AUTH_PARAM_SIZE + 1, 1), {}), SNMP_V3_FLAG_AUTH, usm),
              SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_usm(usm_block(engine, {'b'}, {}, octets(17, 1)), SNMP_V3_FLAG_PRIV, usm), SNMP_ERR_MALFORMED);

    // The same through the whole-message decoder.
    Bytes wire = v3_message(global_data(0x04), usm_block(engine, octets(40, 'u'), {}, {}), kScopedPdu);
    int32_t ret = 0;
    decode(wire, &ret);
    EXPECT_EQ(ret, SNMP_ERR_MALFORMED);
}

TEST(V3Message, GlobalDataIsChecked) {
    Bytes usm = usm_block(octets(5, 0x80), {'b', 'o', 'b'}, {}, {});
    int32_t ret = 0;
    auto ok = decode(v3_message(global_data(0x04), usm, kScopedPdu), &ret);
    ASSERT_EQ(ret, SNMP_OK);
    EXPECT_EQ(ok->msg_id, 5u);
    EXPECT_EQ(ok->pdu.varbind_count, 1);

    decode(v3_message(global_data(0x04, 2), usm, kScopedPdu), &ret);
    EXPECT_EQ(ret, SNMP_ERR_VERSION);
    // Authentication flag clear but a 12-byte authentication parameter present.
    Bytes usm_with_auth = usm_block(octets(5, 0x80), {'b', 'o', 'b'}, octets(12, 0), {});
    decode(v3_message(global_data(0x04), usm_with_auth, kScopedPdu), &ret);
    EXPECT_EQ(ret, SNMP_ERR_MALFORMED);
    auto authenticated = decode(v3_message(global_data(0x05), usm_with_auth, kScopedPdu), &ret);
    ASSERT_EQ(ret, SNMP_OK);
    EXPECT_EQ(authenticated->auth_param_abs_offset, 2 + 3 + 15 + 2 + 2 + 7 + 3 + 3 + 5);

    Bytes empty_flags = cat({hex("02 01 05 02 02 04 00 04 00 02 01 03")});
    decode(v3_message(empty_flags, usm, kScopedPdu), &ret);
    EXPECT_EQ(ret, SNMP_ERR_MALFORMED);
    Bytes two_flags = cat({hex("02 01 05 02 02 04 00 04 02 04 04 02 01 03")});
    decode(v3_message(two_flags, usm, kScopedPdu), &ret);
    EXPECT_EQ(ret, SNMP_ERR_MALFORMED);

    // Without the privacy flag msgData must be a SEQUENCE; with it, an OCTET STRING.
    decode(v3_message(global_data(0x04), usm, tlv(0x04, kScopedPdu)), &ret);
    EXPECT_EQ(ret, SNMP_ERR_INVALID);
    Bytes priv_usm = usm_block(octets(5, 0x80), {'b', 'o', 'b'}, {}, octets(8, 1));
    auto encrypted = decode(v3_message(global_data(0x06), priv_usm, tlv(0x04, octets(24, 0x5A))), &ret);
    ASSERT_EQ(ret, SNMP_OK);
    EXPECT_EQ(encrypted->encrypted_pdu_len, 24);
    EXPECT_EQ(encrypted->encrypted_pdu[23], 0x5A);
}

TEST(V3ScopedPdu, RoundTripsAndMustBeExactlyUsed) {
    snmp_pdu pdu{};
    pdu.op = SNMP_OP_REPORT;
    pdu.request_id = 9;
    std::memcpy(pdu.context_engine_id, kEngineId.data(), kEngineId.size());
    pdu.context_engine_id_len = static_cast<uint16_t>(kEngineId.size());
    std::memset(pdu.context_name, 'c', SNMP_V3_MAX_CONTEXT_NAME_LEN);
    pdu.context_name_len = SNMP_V3_MAX_CONTEXT_NAME_LEN;
    pdu.varbinds[0] = null_binding(3);
    pdu.varbind_count = 1;
    Bytes buf(SNMP_MAX_MSG_SIZE);
    uint16_t len = 0;
    ASSERT_EQ(snmp_ber_encode_v3_scoped_pdu(buf.data(), static_cast<uint16_t>(buf.size()), &pdu, &len), SNMP_OK);
    // 299-byte context name: the SEQUENCE uses a three-octet length.
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 2), hex("30 82"));
    EXPECT_EQ(snmp_ber_encode_v3_scoped_pdu(buf.data(), static_cast<uint16_t>(len - 1), &pdu, &len), SNMP_ERR_NO_ROOM);
    ASSERT_EQ(snmp_ber_encode_v3_scoped_pdu(buf.data(), static_cast<uint16_t>(buf.size()), &pdu, &len), SNMP_OK);
    auto back = std::make_unique<snmp_pdu>();
    uint16_t used = 0;
    ASSERT_EQ(snmp_ber_decode_v3_scoped_pdu(buf.data(), len, back.get(), &used), SNMP_OK);
    EXPECT_EQ(used, len);
    EXPECT_EQ(back->op, SNMP_OP_REPORT);
    EXPECT_EQ(back->context_name_len, SNMP_V3_MAX_CONTEXT_NAME_LEN);
    EXPECT_EQ(back->context_engine_id_len, kEngineId.size());

    pdu.context_name_len = SNMP_CONTEXT_NAME_SIZE;
    EXPECT_EQ(snmp_ber_encode_v3_scoped_pdu(buf.data(), static_cast<uint16_t>(buf.size()), &pdu, &len), SNMP_ERR_INVALID);

    // Bytes behind the PDU inside the SEQUENCE are refused.
    Bytes padded = tlv(0x30, cat({Bytes(kScopedPdu.begin() + 2, kScopedPdu.end()), hex("05 00")}));
    EXPECT_EQ(snmp_ber_decode_v3_scoped_pdu(padded.data(), static_cast<uint16_t>(padded.size()), back.get(), &used),
              SNMP_ERR_MALFORMED);
    // An SNMPv2 Trap is a v3 scoped PDU (notifications are checked like other messages); the
    // SNMPv1 Trap-PDU is not.
    Bytes trap = kScopedPdu;
    trap[6] = SNMP_PDU_TAG_V2_TRAP;
    EXPECT_EQ(snmp_ber_decode_v3_scoped_pdu(trap.data(), static_cast<uint16_t>(trap.size()), back.get(), &used),
              SNMP_OK);
    trap[6] = SNMP_PDU_TAG_V1_TRAP;
    EXPECT_EQ(snmp_ber_decode_v3_scoped_pdu(trap.data(), static_cast<uint16_t>(trap.size()), back.get(), &used),
              SNMP_ERR_VERSION);
}

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

TEST(V3CmdEncode, AuthenticationParameterSizeFollowsTheAlgorithm) {
    for (uint8_t auth : {SNMP_V3_AUTH_MD5, SNMP_V3_AUTH_SHA256, SNMP_V3_AUTH_SHA256_FULL}) {
        Command c;
        c.auth = auth;
        c.varbinds = {null_binding(1)};
        Bytes wire;
        ASSERT_EQ(encode(c, wire), SNMP_OK);
        auto msg = decode(wire);
        uint16_t at = msg->auth_param_abs_offset;
        uint8_t expected = auth == SNMP_V3_AUTH_SHA256_FULL ? 0x20 : 0x0C;
        EXPECT_EQ(wire[at + 1], expected) << "auth " << int(auth);
        EXPECT_EQ(msg->usm.auth_param_len, expected);
    }
}

TEST(V3CmdEncode, BulkRepetitionsAndBindingCountAreCapped) {
    Command c;
    c.op = SNMP_OP_GETBULK;
    c.non_repeaters = 3;
    c.max_repetitions = 50;
    for (uint32_t i = 0; i < 12; ++i) {
        c.varbinds.push_back(null_binding(i));
    }
    Bytes wire;
    ASSERT_EQ(encode(c, wire), SNMP_OK);
    auto msg = decode(wire);
    EXPECT_EQ(msg->msg_flags, SNMP_V3_FLAG_REPORTABLE);
    EXPECT_EQ(msg->pdu.op, SNMP_OP_GETBULK);
    EXPECT_EQ(msg->pdu.non_repeaters, 3u);
    EXPECT_EQ(msg->pdu.max_repetitions, 16u);
    ASSERT_EQ(msg->pdu.varbind_count, 10);
    EXPECT_EQ(msg->pdu.varbinds[9].oid.sub_ids[7], 9u);

    c.max_repetitions = 16;
    ASSERT_EQ(encode(c, wire), SNMP_OK);
    EXPECT_EQ(decode(wire)->pdu.max_repetitions, 16u);
}

TEST(V3CmdEncode, ArgumentsAreChecked) {
    const Bytes &auth_key = keys().auth[SNMP_V3_AUTH_SHA1];
    const Bytes &priv_key = keys().priv[SNMP_V3_PRIV_AES128];
    snmp_varbind vb = null_binding(1);
    Bytes buf(SNMP_MAX_MSG_SIZE);
    auto call = [&](const char *user, const uint8_t *akey, uint16_t akey_len, const uint8_t *pkey, uint16_t pkey_len,
                    const uint8_t *engine, uint16_t engine_len, const snmp_varbind *vbs, uint16_t size) {
        uint16_t len = size;
        return snmp_v3_cmd_encode(SNMP_OP_GET, user, SNMP_V3_AUTH_SHA1, SNMP_V3_PRIV_AES128, akey, akey_len, pkey,
                                  pkey_len, engine, engine_len, 1, 2, 3, 0, 0, vbs, 1, buf.data(), &len);
    };
    auto ak = static_cast<uint16_t>(auth_key.size());
    auto pk = static_cast<uint16_t>(priv_key.size());
    auto el = static_cast<uint16_t>(kEngineId.size());
    EXPECT_EQ(call(kUser, auth_key.data(), ak, priv_key.data(), pk, kEngineId.data(), el, &vb, 1024), SNMP_OK);
    EXPECT_EQ(call(kUser, auth_key.data(), ak, priv_key.data(), pk, kEngineId.data(), el, &vb, 0), SNMP_ERR_NULL);
    EXPECT_EQ(call("", auth_key.data(), ak, priv_key.data(), pk, kEngineId.data(), el, &vb, 1024), SNMP_ERR_NULL);
    EXPECT_EQ(call(kUser, auth_key.data(), ak, priv_key.data(), pk, kEngineId.data(), el, nullptr, 1024), SNMP_ERR_NULL);
    EXPECT_EQ(call(kUser, nullptr, 0, priv_key.data(), pk, kEngineId.data(), el, &vb, 1024), SNMP_ERR_AUTH);
    EXPECT_EQ(call(kUser, auth_key.data(), ak, priv_key.data(), 0, kEngineId.data(), el, &vb, 1024), SNMP_ERR_PRIV);
    EXPECT_EQ(call(kUser, auth_key.data(), ak, priv_key.data(), pk, kEngineId.data(), 0, &vb, 1024), SNMP_ERR_NULL);
    Bytes long_engine(33, 0x80);
    EXPECT_EQ(call(kUser, auth_key.data(), ak, priv_key.data(), pk, long_engine.data(), 33, &vb, 1024), SNMP_ERR_INVALID);
    // A privacy key of the wrong length fails the encryption step.
    EXPECT_EQ(call(kUser, auth_key.data(), ak, priv_key.data(), 15, kEngineId.data(), el, &vb, 1024), SNMP_ERR_PRIV);
}

TEST(V3CmdEncode, EncryptedScopedPduReplacesThePlaintext) {
    // A scoped PDU of 113..127 bytes becomes 8 random IV bytes and 128 bytes of cipher text.
    for (uint16_t len = 40; len < 140; ++len) {
        Command c;
        c.op = SNMP_OP_GET_RESPONSE;
        c.priv = SNMP_V3_PRIV_AES128;
        c.varbinds = {string_binding(1, len)};
        Bytes wire;
        ASSERT_EQ(encode(c, wire), SNMP_OK);
        auto msg = decode(wire);
        if (msg->encrypted_pdu_len != 8 + 128) {
            continue;
        }
        EXPECT_EQ(msg->msg_flags, 0x06);
        size_t at = wire.size() - (3 + 136);
        EXPECT_EQ(Bytes(wire.begin() + at, wire.begin() + at + 3), hex("04 81 88"));
        ASSERT_EQ(msg->usm.priv_param_len, 8);
        EXPECT_EQ(Bytes(wire.begin() + at + 3, wire.begin() + at + 11),
                  Bytes(msg->usm.priv_param, msg->usm.priv_param + 8));
        snmp_v3_user user = user_for(0, SNMP_V3_PRIV_AES128);
        ASSERT_EQ(process(wire, *msg, user), SNMP_OK);
        ASSERT_EQ(msg->pdu.varbind_count, 1);
        EXPECT_EQ(msg->pdu.varbinds[0].value_len, len);
        return;
    }
    FAIL() << "no binding size gave a 136-byte encryptedPDU";
}

TEST(V3CmdEncode, OuterLengthGrowthMovesTheAuthenticationParameter) {
    // Find a message whose plaintext content fits a two-octet length (81 xx) but whose encrypted
    // form needs three (82 xx xx): the authentication parameter then sits one byte further on.
    int crossings = 0;
    for (uint16_t len = 100; len < 240; ++len) {
        Command c;
        c.op = SNMP_OP_GET_RESPONSE;
        c.auth = SNMP_V3_AUTH_SHA1;
        c.varbinds = {string_binding(2, len)};
        Bytes plain;
        ASSERT_EQ(encode(c, plain), SNMP_OK);
        c.priv = SNMP_V3_PRIV_AES128;
        Bytes wire;
        ASSERT_EQ(encode(c, wire), SNMP_OK);
        // The privacy parameter adds 8 bytes to the plaintext encoding before its encryption.
        bool plain_short = plain[1] == 0x81 && plain[2] + 8 <= 0xFF;
        if (!plain_short || wire[1] != 0x82) {
            continue;
        }
        ++crossings;
        auto msg = decode(wire);
        EXPECT_EQ(wire[msg->auth_param_abs_offset + 1], 0x0C);
        snmp_v3_user user = user_for(SNMP_V3_AUTH_SHA1, SNMP_V3_PRIV_AES128);
        ASSERT_EQ(process(wire, *msg, user), SNMP_OK) << "binding of " << len << " bytes";
        ASSERT_EQ(msg->pdu.varbind_count, 1);
        EXPECT_EQ(msg->pdu.varbinds[0].value_len, len);
    }
    EXPECT_GT(crossings, 0);
}

TEST(V3CmdEncode, MessagesThatDoNotFitAreRefusedWithoutOverflow) {
    constexpr size_t kGuard = 64;
    constexpr uint8_t kGuardByte = 0xA5;
    for (uint8_t priv : {SNMP_V3_PRIV_NONE, SNMP_V3_PRIV_DES, SNMP_V3_PRIV_AES256}) {
        Command c;
        c.op = SNMP_OP_GET_RESPONSE;
        c.auth = SNMP_V3_AUTH_SHA256;
        c.priv = priv;
        for (uint32_t i = 0; i < 4; ++i) {
            c.varbinds.push_back(string_binding(i, 60));
        }
        Bytes wire;
        ASSERT_EQ(encode(c, wire), SNMP_OK);
        uint16_t fits = static_cast<uint16_t>(wire.size());
        // One byte short: with privacy the plaintext still fits, its encryption does not.
        Bytes guarded(fits - 1 + kGuard, kGuardByte);
        uint16_t len = static_cast<uint16_t>(fits - 1);
        const Bytes &ak = keys().auth[c.auth];
        const Bytes &pk = keys().priv[priv];
        int32_t ret = snmp_v3_cmd_encode(c.op, kUser, c.auth, priv, ak.data(), static_cast<uint16_t>(ak.size()),
                                         pk.empty() ? nullptr : pk.data(), static_cast<uint16_t>(pk.size()),
                                         kEngineId.data(), static_cast<uint16_t>(kEngineId.size()), kBoots, kTime,
                                         c.msg_id, 0, 0, c.varbinds.data(), static_cast<uint16_t>(c.varbinds.size()), guarded.data(),
                                         &len);
        EXPECT_EQ(ret, SNMP_ERR_NO_ROOM) << "priv " << int(priv);
        EXPECT_TRUE(std::all_of(guarded.begin() + fits - 1, guarded.end(), [](uint8_t b) { return b == kGuardByte; }))
            << "priv " << int(priv);
        // An exact-size heap buffer lets the address sanitizer see any stray write.
        Bytes exact;
        EXPECT_EQ(encode(c, exact, static_cast<uint16_t>(fits - 1)), SNMP_ERR_NO_ROOM);
        EXPECT_EQ(encode(c, exact, fits), SNMP_OK);
    }
}

}  // namespace
