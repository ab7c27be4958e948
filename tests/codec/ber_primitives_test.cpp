// Single BER elements: byte-exact encodings, round trips, refusals and their result codes.
#include <gtest/gtest.h>

#include <array>
#include <climits>

#include "base/agent_log.h"
#include "codec/snmp_ber.h"
#include "tests/codec/ber_test_util.h"

using namespace ber_test;

namespace {

Bytes encode_len(uint16_t length) {
    Bytes out(SNMP_BER_MAX_LENGTH_OCTETS);
    uint16_t octets = 0;
    EXPECT_EQ(snmp_ber_encode_length(out.data(), static_cast<uint16_t>(out.size()), length, &octets),
              SNMP_OK);
    out.resize(octets);
    return out;
}

Bytes encode_int(int32_t value) {
    Bytes out(6);
    uint16_t written = 0;
    EXPECT_EQ(snmp_ber_encode_integer(out.data(), static_cast<uint16_t>(out.size()), value, &written),
              SNMP_OK);
    out.resize(written);
    return out;
}

Bytes encode_ticks(uint32_t value) {
    Bytes out(6);
    uint16_t written = 0;
    EXPECT_EQ(snmp_ber_encode_timeticks(out.data(), static_cast<uint16_t>(out.size()), value, &written),
              SNMP_OK);
    out.resize(written);
    return out;
}

Bytes encode_oid(const snmp_oid &o) {
    Bytes out(200);
    uint16_t written = 0;
    EXPECT_EQ(snmp_ber_encode_oid(out.data(), static_cast<uint16_t>(out.size()), &o, &written), SNMP_OK);
    out.resize(written);
    return out;
}

// Decoders get a vector of exactly the input's size, so AddressSanitizer reports any read past it.
int32_t decode_int(const Bytes &in, int32_t &value, uint16_t &used) {
    return snmp_ber_decode_integer(in.data(), static_cast<uint16_t>(in.size()), &value, &used);
}

int32_t decode_oid(const Bytes &in, snmp_oid &o, uint16_t &used) {
    return snmp_ber_decode_oid(in.data(), static_cast<uint16_t>(in.size()), &o, &used);
}

}  // namespace

TEST(BerLength, EncodesShortestDefiniteForm) {
    EXPECT_EQ(encode_len(0), hex("00"));
    EXPECT_EQ(encode_len(127), hex("7F"));
    EXPECT_EQ(encode_len(128), hex("81 80"));
    EXPECT_EQ(encode_len(255), hex("81 FF"));
    EXPECT_EQ(encode_len(256), hex("82 01 00"));
    EXPECT_EQ(encode_len(65535), hex("82 FF FF"));

    std::array<uint8_t, 3> buf{};
    uint16_t octets = 0;
    EXPECT_EQ(snmp_ber_encode_length(buf.data(), 1, 128, &octets), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_length(buf.data(), 2, 256, &octets), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_length(buf.data(), 0, 5, &octets), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_length(nullptr, 3, 5, &octets), SNMP_ERR_INVALID);
    EXPECT_EQ(snmp_ber_encode_length(buf.data(), 3, 5, nullptr), SNMP_ERR_INVALID);
}

TEST(BerLength, DecodesDefiniteFormsAndRefusesTheRest) {
    uint16_t length = 0;
    uint16_t octets = 0;
    auto decode = [&](const Bytes &in) {
        return snmp_ber_decode_length(in.data(), static_cast<uint16_t>(in.size()), &length, &octets);
    };
    ASSERT_EQ(decode(hex("81 05")), SNMP_OK);  // non-minimal long form is accepted
    EXPECT_EQ(length, 5);
    EXPECT_EQ(octets, 2);
    ASSERT_EQ(decode(hex("82 01 00")), SNMP_OK);
    EXPECT_EQ(length, 256);
    EXPECT_EQ(octets, 3);
    ASSERT_EQ(decode(hex("7F")), SNMP_OK);
    EXPECT_EQ(length, 127);
    EXPECT_EQ(octets, 1);

    EXPECT_EQ(decode(hex("80")), SNMP_ERR_MALFORMED);           // indefinite form
    EXPECT_EQ(decode(hex("83 00 00 01")), SNMP_ERR_MALFORMED);  // three length octets
    EXPECT_EQ(decode(hex("81")), SNMP_ERR_MALFORMED);           // length octet missing
    EXPECT_EQ(decode(hex("82 01")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(snmp_ber_decode_length(hex("05").data(), 0, &length, &octets), SNMP_ERR_MALFORMED);
    EXPECT_EQ(snmp_ber_decode_length(nullptr, 1, &length, &octets), SNMP_ERR_INVALID);
}

TEST(BerBase128, SplitsIntoSevenBitGroups) {
    std::array<uint8_t, 5> buf{};
    EXPECT_EQ(snmp_ber_encode_base128(0, buf.data(), 5), 1);
    EXPECT_EQ(buf[0], 0x00);
    ASSERT_EQ(snmp_ber_encode_base128(0xFFFFFFFFu, buf.data(), 5), 5);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), hex("8F FF FF FF 7F"));
    ASSERT_EQ(snmp_ber_encode_base128(180, buf.data(), 5), 2);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 2), hex("81 34"));
    EXPECT_EQ(snmp_ber_encode_base128(0xFFFFFFFFu, buf.data(), 4), 0);  // does not fit
    EXPECT_EQ(snmp_ber_encode_base128(1, buf.data(), 0), 0);
}

TEST(BerInteger, MinimalTwosComplement) {
    EXPECT_EQ(encode_int(0), hex("02 01 00"));
    EXPECT_EQ(encode_int(127), hex("02 01 7F"));
    EXPECT_EQ(encode_int(128), hex("02 02 00 80"));
    EXPECT_EQ(encode_int(-1), hex("02 01 FF"));
    EXPECT_EQ(encode_int(-128), hex("02 01 80"));
    EXPECT_EQ(encode_int(-129), hex("02 02 FF 7F"));
    EXPECT_EQ(encode_int(0x7FFFFFFF), hex("02 04 7F FF FF FF"));
    EXPECT_EQ(encode_int(INT32_MIN), hex("02 04 80 00 00 00"));
    EXPECT_EQ(encode_int(-8388609), hex("02 04 FF 7F FF FF"));

    for (int32_t value :
         {0, 1, -1, 127, 128, -128, -129, 32767, 32768, -32769, 8388607, -8388608, INT32_MAX, INT32_MIN}) {
        Bytes bytes = encode_int(value);
        int32_t back = 0;
        uint16_t used = 0;
        ASSERT_EQ(decode_int(bytes, back, used), SNMP_OK) << value;
        EXPECT_EQ(back, value);
        EXPECT_EQ(used, bytes.size());
    }

    std::array<uint8_t, 4> small{};
    uint16_t written = 0;
    EXPECT_EQ(snmp_ber_encode_integer(small.data(), 3, 128, &written), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_integer(small.data(), 0, 0, &written), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_integer(nullptr, 4, 0, &written), SNMP_ERR_INVALID);
}

TEST(BerInteger, DecodeRefusals) {
    int32_t value = 0;
    uint16_t used = 0;
    EXPECT_EQ(decode_int(hex("02 05 00 80 00 00 00"), value, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_int(hex("02 00"), value, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_int(hex("02 81 01 05"), value, used), SNMP_ERR_MALFORMED);  // long form refused
    EXPECT_EQ(decode_int(hex("02 02 01"), value, used), SNMP_ERR_MALFORMED);     // runs past the input
    EXPECT_EQ(decode_int(hex("02"), value, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_int(hex("04 01 00"), value, used), SNMP_ERR_INVALID);
    EXPECT_EQ(snmp_ber_decode_integer(nullptr, 3, &value, &used), SNMP_ERR_NULL);
    EXPECT_EQ(snmp_ber_decode_integer(hex("02 01 00").data(), 3, nullptr, &used), SNMP_ERR_NULL);
}

TEST(BerTimeTicks, EncodesUnsignedAndDecodesWithoutSignExtension) {
    EXPECT_EQ(encode_ticks(0), hex("43 01 00"));
    EXPECT_EQ(encode_ticks(200), hex("43 02 00 C8"));
    EXPECT_EQ(encode_ticks(0x7FFFFFFF), hex("43 04 7F FF FF FF"));
    EXPECT_EQ(encode_ticks(0x80000000u), hex("43 04 80 00 00 00"));
    EXPECT_EQ(encode_ticks(0xFFFFFFFFu), hex("43 04 FF FF FF FF"));

    uint32_t value = 1;
    uint16_t used = 0;
    auto decode = [&](const Bytes &in) {
        return snmp_ber_decode_timeticks(in.data(), static_cast<uint16_t>(in.size()), &value, &used);
    };
    ASSERT_EQ(decode(hex("43 00")), SNMP_OK);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(used, 2);
    ASSERT_EQ(decode(hex("43 04 FF FF FF FF")), SNMP_OK);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    // Other encoders put a zero octet in front of values with the top bit set.
    ASSERT_EQ(decode(hex("43 05 00 80 00 00 01")), SNMP_OK);
    EXPECT_EQ(value, 0x80000001u);
    EXPECT_EQ(used, 7);
    EXPECT_EQ(decode(hex("43 05 01 00 00 00 00")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode(hex("43 03 00 01")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode(hex("43 80")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode(hex("02 01 00")), SNMP_ERR_INVALID);
    EXPECT_EQ(decode(hex("43")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(snmp_ber_decode_timeticks(nullptr, 3, &value, &used), SNMP_ERR_NULL);

    std::array<uint8_t, 6> buf{};
    uint16_t written = 0;
    EXPECT_EQ(snmp_ber_encode_timeticks(buf.data(), 5, 0xFFFFFFFFu, &written), SNMP_ERR_NO_ROOM);
}

TEST(BerCounter64, AlwaysEightContentOctets) {
    std::array<uint8_t, 10> buf{};
    uint16_t written = 0;
    ASSERT_EQ(snmp_ber_encode_counter64(buf.data(), 10, 1, &written), SNMP_OK);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), hex("46 08 00 00 00 00 00 00 00 01"));
    EXPECT_EQ(written, 10);
    EXPECT_EQ(snmp_ber_encode_counter64(buf.data(), 9, 1, &written), SNMP_ERR_NO_ROOM);

    uint64_t value = 0;
    uint16_t used = 0;
    auto decode = [&](const Bytes &in) {
        return snmp_ber_decode_counter64(in.data(), static_cast<uint16_t>(in.size()), &value, &used);
    };
    ASSERT_EQ(decode(hex("46 08 FF FF FF FF FF FF FF FE")), SNMP_OK);
    EXPECT_EQ(value, 0xFFFFFFFFFFFFFFFEull);
    ASSERT_EQ(decode(hex("46 02 01 00")), SNMP_OK);
    EXPECT_EQ(value, 256u);
    EXPECT_EQ(used, 4);
    ASSERT_EQ(decode(hex("46 09 00 80 00 00 00 00 00 00 00")), SNMP_OK);
    EXPECT_EQ(value, 0x8000000000000000ull);
    EXPECT_EQ(decode(hex("46 09 01 00 00 00 00 00 00 00 00")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode(hex("46 00")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode(hex("46 04 00 00")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode(hex("46 80")), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode(hex("46")), SNMP_ERR_INVALID);
    EXPECT_EQ(decode(hex("41 01 00")), SNMP_ERR_INVALID);
}

TEST(BerOid, EncodesKnownNames) {
    EXPECT_EQ(encode_oid(kSysUpTime0), hex("06 08 2B 06 01 02 01 01 03 00"));
    EXPECT_EQ(encode_oid(oid({2, 100, 3})), hex("06 03 81 34 03"));
    EXPECT_EQ(encode_oid(oid({1, 3, 0xFFFFFFFFu})), hex("06 06 2B 8F FF FF FF 7F"));
    EXPECT_EQ(encode_oid(oid({0, 0})), hex("06 01 00"));

    std::array<uint8_t, 16> buf{};
    uint16_t written = 0;
    snmp_oid one = oid({1});
    EXPECT_EQ(snmp_ber_encode_oid(buf.data(), 16, &one, &written), SNMP_ERR_OID);
    EXPECT_EQ(snmp_ber_encode_oid(buf.data(), 16, nullptr, &written), SNMP_ERR_OID);
    snmp_oid too_long = oid_of_len(SNMP_MAX_OID_LEN, 1);
    too_long.len = SNMP_MAX_OID_LEN + 1;  // a record that claims more arcs than it holds
    EXPECT_EQ(snmp_ber_encode_oid(buf.data(), 16, &too_long, &written), SNMP_ERR_OID);
    // First arcs that do not fit the shared first sub-identifier would wrap into another name.
    for (const snmp_oid &bad : {oid({0, 40}), oid({1, 40, 1}), oid({3, 0}), oid({2, 0xFFFFFFFFu - 79})}) {
        EXPECT_EQ(snmp_ber_encode_oid(buf.data(), 16, &bad, &written), SNMP_ERR_OID);
    }
    EXPECT_EQ(encode_oid(oid({2, 0xFFFFFFFFu - 80})), hex("06 05 8F FF FF FF 7F"));
    EXPECT_EQ(snmp_ber_encode_oid(buf.data(), 9, &kSysUpTime0, &written), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_oid(buf.data(), 0, &kSysUpTime0, &written), SNMP_ERR_NO_ROOM);
}

TEST(BerOid, DecodesAndRoundTrips) {
    snmp_oid o{};
    uint16_t used = 0;
    ASSERT_EQ(decode_oid(hex("06 03 81 34 03"), o, used), SNMP_OK);
    EXPECT_TRUE(same_oid(o, oid({2, 100, 3})));
    EXPECT_EQ(used, 5);
    ASSERT_EQ(decode_oid(hex("06 02 27 05"), o, used), SNMP_OK);  // first sub-identifier 39
    EXPECT_TRUE(same_oid(o, oid({0, 39, 5})));
    ASSERT_EQ(decode_oid(hex("06 01 4F"), o, used), SNMP_OK);  // 79
    EXPECT_TRUE(same_oid(o, oid({1, 39})));

    for (const snmp_oid &name : {kSysDescr0, oid({1, 3, 6, 1, 4, 1, 12345, 1, 1}),
                                 oid_of_len(32, 0xFFFFFFFFu), oid({2, 999, 0x10000000u, 0x0FFFFFFFu})}) {
        Bytes bytes = encode_oid(name);
        ASSERT_EQ(decode_oid(bytes, o, used), SNMP_OK);
        EXPECT_TRUE(same_oid(o, name));
        EXPECT_EQ(used, bytes.size());
    }
}

TEST(BerOid, DecodeRefusals) {
    snmp_oid o{};
    uint16_t used = 0;
    // One sub-identifier past the capacity: the first content octet holds two arcs, then the rest.
    constexpr uint8_t too_many = SNMP_MAX_OID_LEN + 1;
    Bytes too_long = concat({Bytes{0x06, static_cast<uint8_t>(too_many - 1), 0x2B}, Bytes(too_many - 2, 0x01)});
    EXPECT_EQ(decode_oid(too_long, o, used), SNMP_ERR_OID);
    Bytes longest = concat({Bytes{0x06, static_cast<uint8_t>(SNMP_MAX_OID_LEN - 1), 0x2B},
                            Bytes(SNMP_MAX_OID_LEN - 2, 0x01)});
    ASSERT_EQ(decode_oid(longest, o, used), SNMP_OK);
    EXPECT_EQ(o.len, SNMP_MAX_OID_LEN);

    EXPECT_EQ(decode_oid(hex("06 00"), o, used), SNMP_ERR_OID);                       // empty
    EXPECT_EQ(decode_oid(hex("06 07 2B 81 81 81 81 81 01"), o, used), SNMP_ERR_OID);  // sixth octet
    EXPECT_EQ(decode_oid(hex("06 02 2B 81"), o, used), SNMP_ERR_OID);                 // cut off
    EXPECT_EQ(decode_oid(hex("06 06 2B 90 80 80 80 00"), o, used), SNMP_ERR_OID);     // 2^32 overflows
    EXPECT_EQ(decode_oid(hex("06 06 2B FF FF FF FF 7F"), o, used), SNMP_ERR_OID);     // 2^35 - 1
    EXPECT_EQ(decode_oid(hex("06 06 90 80 80 80 00 01"), o, used), SNMP_ERR_OID);     // first one overflows
    EXPECT_EQ(decode_oid(hex("06 03 2B 80 01"), o, used), SNMP_ERR_OID);              // leading 0x80
    EXPECT_EQ(decode_oid(hex("06 03 80 2B 01"), o, used), SNMP_ERR_OID);              // leading 0x80 first
    EXPECT_EQ(decode_oid(hex("06 05 2B 06"), o, used), SNMP_ERR_MALFORMED);           // past the input
    EXPECT_EQ(decode_oid(hex("06"), o, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_oid(hex("04 01 2B"), o, used), SNMP_ERR_INVALID);
    EXPECT_EQ(snmp_ber_decode_oid(nullptr, 3, &o, &used), SNMP_ERR_INVALID);
}

TEST(BerString, EncodesAndRefuses) {
    std::array<uint8_t, 8> buf{};
    uint16_t written = 0;
    Bytes data = ascii("public");
    ASSERT_EQ(snmp_ber_encode_string(buf.data(), 8, data.data(), 6, &written), SNMP_OK);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), concat({hex("04 06"), data}));
    EXPECT_EQ(snmp_ber_encode_string(buf.data(), 7, data.data(), 6, &written), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_string(buf.data(), 0, data.data(), 6, &written), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_string(buf.data(), 8, nullptr, 6, &written), SNMP_ERR_INVALID);

    Bytes big(300, 'x');
    Bytes out(304);
    ASSERT_EQ(snmp_ber_encode_string(out.data(), 304, big.data(), 300, &written), SNMP_OK);
    EXPECT_EQ(written, 304);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), hex("04 82 01 2C"));
}

TEST(BerString, LongerThanCapacityIsCutButConsumedWhole) {
    Bytes element = concat({hex("04 28"), Bytes(40, 'c'), hex("02 01 07")});
    std::array<uint8_t, 31> out{};
    uint16_t copied = 0;
    uint16_t used = 0;
    ASSERT_EQ(snmp_ber_decode_string(element.data(), static_cast<uint16_t>(element.size()), out.data(), 31,
                                     &copied, &used),
              SNMP_OK);
    EXPECT_EQ(copied, 31);
    EXPECT_EQ(used, 42);
    // Decoding goes on behind the string.
    int32_t next = 0;
    uint16_t next_used = 0;
    ASSERT_EQ(snmp_ber_decode_integer(element.data() + used, static_cast<uint16_t>(element.size() - used),
                                      &next, &next_used),
              SNMP_OK);
    EXPECT_EQ(next, 7);
}

TEST(BerString, DeclaredLengthPastInputIsRefused) {
    std::array<uint8_t, 300> out{};
    uint16_t copied = 0;
    uint16_t used = 0;
    Bytes element = concat({hex("04 81 C8"), Bytes(10, 'z')});  // says 200, has 10
    EXPECT_EQ(snmp_ber_decode_string(element.data(), static_cast<uint16_t>(element.size()), out.data(), 300,
                                     &copied, &used),
              SNMP_ERR_MALFORMED);
    Bytes empty = hex("04 00");
    ASSERT_EQ(snmp_ber_decode_string(empty.data(), 2, out.data(), 300, &copied, &used), SNMP_OK);
    EXPECT_EQ(copied, 0);
    EXPECT_EQ(used, 2);
    Bytes wrong_tag = hex("05 00");
    EXPECT_EQ(snmp_ber_decode_string(wrong_tag.data(), 2, out.data(), 300, &copied, &used), SNMP_ERR_INVALID);
    EXPECT_EQ(snmp_ber_decode_string(empty.data(), 1, out.data(), 300, &copied, &used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(snmp_ber_decode_string(empty.data(), 2, nullptr, 300, &copied, &used), SNMP_ERR_NULL);
    Bytes bad_length = hex("04 83 00 00 01 00");
    EXPECT_EQ(snmp_ber_decode_string(bad_length.data(), 6, out.data(), 300, &copied, &used),
              SNMP_ERR_MALFORMED);
}

TEST(BerSequence, HeaderOnly) {
    std::array<uint8_t, 4> buf{};
    uint16_t header_len = 0;
    ASSERT_EQ(snmp_ber_encode_sequence_header(buf.data(), 4, 300, &header_len), SNMP_OK);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + header_len), hex("30 82 01 2C"));
    EXPECT_EQ(snmp_ber_encode_sequence_header(buf.data(), 3, 300, &header_len), SNMP_ERR_NO_ROOM);
    EXPECT_EQ(snmp_ber_encode_sequence_header(buf.data(), 0, 3, &header_len), SNMP_ERR_NO_ROOM);

    uint16_t content_len = 0;
    Bytes in = hex("30 81 90");  // content need not be present: callers check it
    ASSERT_EQ(snmp_ber_decode_sequence_header(in.data(), 3, &content_len, &header_len), SNMP_OK);
    EXPECT_EQ(content_len, 0x90);
    EXPECT_EQ(header_len, 3);
    EXPECT_EQ(snmp_ber_decode_sequence_header(hex("31 00").data(), 2, &content_len, &header_len),
              SNMP_ERR_INVALID);
    EXPECT_EQ(snmp_ber_decode_sequence_header(in.data(), 0, &content_len, &header_len), SNMP_ERR_INVALID);
    EXPECT_EQ(snmp_ber_decode_sequence_header(in.data(), 1, &content_len, &header_len), SNMP_ERR_MALFORMED);
    EXPECT_EQ(snmp_ber_decode_sequence_header(hex("30 80").data(), 2, &content_len, &header_len),
              SNMP_ERR_MALFORMED);
}

TEST(BerTrace, DebugLinesOnlyWhenTheLevelAllowsThem) {
    std::array<uint8_t, 8> buf{};
    uint16_t n = 0;
    int32_t value = 0;
    Bytes in = hex("02 02 FF 7F");

    agent_log_set_level(AGENT_LOG_DEBUG);
    testing::internal::CaptureStdout();
    snmp_ber_decode_integer(in.data(), 4, &value, &n);
    snmp_ber_encode_base128(0, buf.data(), 8);
    snmp_ber_encode_sequence_header(buf.data(), 8, 12, &n);
    std::string debug_out = testing::internal::GetCapturedStdout();

    agent_log_set_level(AGENT_LOG_WARN);
    testing::internal::CaptureStdout();
    snmp_ber_decode_integer(in.data(), 4, &value, &n);
    snmp_ber_encode_oid(buf.data(), 8, &kSysUpTime0, &n);  // fails: no room, and writes nothing
    std::string warn_out = testing::internal::GetCapturedStdout();

    EXPECT_NE(debug_out.find("[DEBUG] snmp_ber_decode_integer: 解析得到值=-129, 使用了4字节\n"),
              std::string::npos);
    EXPECT_NE(debug_out.find("[DEBUG] snmp_ber_encode_base128: 值=0, 编码后1字节\n"), std::string::npos);
    EXPECT_NE(debug_out.find("[DEBUG] snmp_ber_encode_sequence_header: 内容长度=12, 头部长度=2字节\n"),
              std::string::npos);
    EXPECT_EQ(warn_out, "");
}
