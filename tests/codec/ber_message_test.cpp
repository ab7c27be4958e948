// Variable bindings, PDUs and v1/v2c messages: wire bytes, version rules, capacities and malformed input.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "codec/snmp_ber.h"
#include "tests/codec/ber_test_util.h"

using namespace ber_test;

namespace {

// The records are large; tests keep them on the heap.
std::unique_ptr<snmp_message> new_message() {
    return std::make_unique<snmp_message>();
}
std::unique_ptr<snmp_pdu> new_pdu() {
    return std::make_unique<snmp_pdu>();
}

int32_t decode_message(const Bytes &in, snmp_message &msg, uint16_t &used) {
    return snmp_ber_decode_snmp_message(in.data(), static_cast<uint16_t>(in.size()), &msg, &used);
}

int32_t decode_pdu(const Bytes &in, uint32_t version, snmp_pdu &pdu, uint16_t &used) {
    return snmp_ber_decode_snmp_pdu(in.data(), static_cast<uint16_t>(in.size()), version, &pdu, &used);
}

int32_t decode_varbind(const Bytes &in, uint32_t version, snmp_varbind &vb, uint16_t &used) {
    return snmp_ber_decode_varbind(in.data(), static_cast<uint16_t>(in.size()), &vb, version, &used);
}

Bytes encode_pdu(const snmp_pdu &pdu, uint32_t version, int32_t *result = nullptr) {
    Bytes out(SNMP_MAX_MSG_SIZE);
    uint16_t written = 0;
    int32_t ret =
        snmp_ber_encode_snmp_pdu(out.data(), static_cast<uint16_t>(out.size()), &pdu, version, &written);
    if (result != nullptr) {
        *result = ret;
    }
    out.resize(ret == SNMP_OK ? written : 0);
    return out;
}

// A PDU element around an already encoded binding list (request-id 5, error fields 0).
Bytes wrap_pdu(uint8_t tag, const Bytes &bindings) {
    Bytes list_len(SNMP_BER_MAX_LENGTH_OCTETS);
    uint16_t n = 0;
    snmp_ber_encode_length(list_len.data(), 3, static_cast<uint16_t>(bindings.size()), &n);
    list_len.resize(n);
    Bytes body = concat({hex("02 01 05 02 01 00 02 01 00 30"), list_len, bindings});
    Bytes body_len(SNMP_BER_MAX_LENGTH_OCTETS);
    snmp_ber_encode_length(body_len.data(), 3, static_cast<uint16_t>(body.size()), &n);
    body_len.resize(n);
    return concat({Bytes{tag}, body_len, body});
}

const Bytes kGetSysUpTimeV2c =
    hex("30 26 02 01 01 04 06 70 75 62 6C 69 63 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 "
        "02 01 01 "
        "03 00 05 00");

}  // namespace

// ---- Variable bindings ----

TEST(BerVarbind, ValueTypesOnTheWire) {
    snmp_varbind vb = null_binding(kSysUpTime0);
    const Bytes name = hex("06 08 2B 06 01 02 01 01 03 00");
    auto with_value = [&](const Bytes &value) {
        return concat({Bytes{0x30, static_cast<uint8_t>(name.size() + value.size())}, name, value});
    };
    EXPECT_EQ(encode_varbind(vb), with_value(hex("05 00")));
    vb.type = SNMP_TAG_END_OF_MIB_VIEW;
    EXPECT_EQ(encode_varbind(vb), hex("30 0C 06 08 2B 06 01 02 01 01 03 00 82 00"));
    vb.type = SNMP_TAG_NO_SUCH_INSTANCE;
    EXPECT_EQ(encode_varbind(vb, SNMP_VERSION_1), with_value(hex("81 00")));

    vb.type = SNMP_TAG_COUNTER32;
    vb.value.integer = 200;
    EXPECT_EQ(encode_varbind(vb), with_value(hex("41 01 C8")));
    vb.value.integer = 0x12345678;
    EXPECT_EQ(encode_varbind(vb), with_value(hex("41 04 12 34 56 78")));
    vb.value.integer = 0;
    EXPECT_EQ(encode_varbind(vb), with_value(hex("41 01 00")));
    vb.type = SNMP_TAG_GAUGE32;
    vb.value.integer = 5;
    EXPECT_EQ(encode_varbind(vb), with_value(hex("42 04 00 00 00 05")));
    vb.type = SNMP_TAG_TIMETICKS;
    vb.value.integer = 200;
    EXPECT_EQ(encode_varbind(vb), with_value(hex("43 02 00 C8")));
    vb.type = SNMP_TAG_INTEGER;
    vb.value.integer = -129;
    EXPECT_EQ(encode_varbind(vb), with_value(hex("02 02 FF 7F")));
    vb.type = SNMP_TAG_OID;
    vb.value.oid_value = oid({2, 100, 3});
    EXPECT_EQ(encode_varbind(vb), with_value(hex("06 03 81 34 03")));

    vb.type = SNMP_TAG_COUNTER64;
    vb.value.counter64 = 0x0102030405060708ull;
    EXPECT_EQ(encode_varbind(vb, SNMP_VERSION_2C), with_value(hex("46 08 01 02 03 04 05 06 07 08")));
    EXPECT_EQ(encode_varbind(vb, SNMP_VERSION_1), with_value(hex("80 00")));  // no Counter64 in v1

    Bytes out(64);
    uint16_t written = 0;
    for (uint8_t refused : {SNMP_TAG_OPAQUE, 0x30u}) {
        vb.type = refused;
        EXPECT_EQ(snmp_ber_encode_varbind(out.data(), 64, &vb, SNMP_VERSION_2C, &written), SNMP_ERR_INVALID);
    }
    // IpAddress is served by every standard agent: four octets, nothing else.
    vb.type = SNMP_TAG_IPADDRESS;
    vb.value_len = 4;
    const uint8_t addr[] = {192, 0, 2, 7};
    std::copy(std::begin(addr), std::end(addr), vb.value.octets);
    EXPECT_EQ(encode_varbind(vb), with_value(hex("40 04 C0 00 02 07")));
    snmp_varbind back{};
    uint16_t used = 0;
    Bytes encoded = encode_varbind(vb);
    ASSERT_EQ(snmp_ber_decode_varbind(encoded.data(), static_cast<uint16_t>(encoded.size()), &back,
                                      SNMP_VERSION_1, &used),
              SNMP_OK);
    EXPECT_EQ(back.type, SNMP_TAG_IPADDRESS);
    EXPECT_EQ(back.value_len, 4);
    EXPECT_EQ(Bytes(back.value.octets, back.value.octets + 4), Bytes(std::begin(addr), std::end(addr)));
    vb.value_len = 5;
    EXPECT_EQ(snmp_ber_encode_varbind(out.data(), 64, &vb, SNMP_VERSION_2C, &written), SNMP_ERR_INVALID);
    vb = string_binding(kSysUpTime0, 10);
    vb.value_len = SNMP_MAX_OCTETS + 1;  // claims more than the record holds
    EXPECT_EQ(snmp_ber_encode_varbind(out.data(), 64, &vb, SNMP_VERSION_2C, &written), SNMP_ERR_INVALID);
    vb = null_binding(oid({1}));
    EXPECT_EQ(snmp_ber_encode_varbind(out.data(), 64, &vb, SNMP_VERSION_2C, &written), SNMP_ERR_OID);
    vb = null_binding(kSysUpTime0);
    EXPECT_EQ(snmp_ber_encode_varbind(out.data(), 13, &vb, SNMP_VERSION_2C, &written), SNMP_ERR_NO_ROOM);
}

TEST(BerVarbind, RoundTripsEveryType) {
    std::vector<snmp_varbind> cases;
    snmp_varbind vb = null_binding(kSysDescr0);
    for (uint8_t type :
         {SNMP_TAG_NULL, SNMP_TAG_NO_SUCH_OBJECT, SNMP_TAG_NO_SUCH_INSTANCE, SNMP_TAG_END_OF_MIB_VIEW}) {
        vb.type = type;
        cases.push_back(vb);
    }
    for (uint8_t type : {SNMP_TAG_INTEGER, SNMP_TAG_COUNTER32, SNMP_TAG_GAUGE32, SNMP_TAG_TIMETICKS}) {
        for (uint32_t value : {0u, 1u, 200u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
            vb.type = type;
            vb.value.integer = static_cast<int32_t>(value);
            cases.push_back(vb);
        }
    }
    vb.type = SNMP_TAG_COUNTER64;
    vb.value.counter64 = UINT64_MAX;
    cases.push_back(vb);
    vb.type = SNMP_TAG_OID;
    vb.value.oid_value = oid_of_len(SNMP_MAX_OID_LEN, 0xFFFFFFFFu);
    cases.push_back(vb);
    cases.push_back(string_binding(kSysDescr0, 0));
    cases.push_back(string_binding(oid_of_len(SNMP_MAX_OID_LEN, 0xF0000000u), SNMP_MAX_OCTETS));

    for (const snmp_varbind &in : cases) {
        Bytes bytes = encode_varbind(in);
        ASSERT_FALSE(bytes.empty()) << "type " << int(in.type);
        snmp_varbind out{};
        uint16_t used = 0;
        ASSERT_EQ(decode_varbind(bytes, SNMP_VERSION_2C, out, used), SNMP_OK) << "type " << int(in.type);
        EXPECT_EQ(used, bytes.size());
        EXPECT_TRUE(same_oid(out.oid, in.oid));
        ASSERT_EQ(out.type, in.type);
        switch (in.type) {
            case SNMP_TAG_COUNTER64:
                EXPECT_EQ(out.value.counter64, in.value.counter64);
                break;
            case SNMP_TAG_OID:
                EXPECT_TRUE(same_oid(out.value.oid_value, in.value.oid_value));
                break;
            case SNMP_TAG_OCTET_STRING:
                ASSERT_EQ(out.value_len, in.value_len);
                EXPECT_EQ(0, std::memcmp(out.value.octets, in.value.octets, in.value_len));
                break;
            case SNMP_TAG_INTEGER:
            case SNMP_TAG_COUNTER32:
            case SNMP_TAG_GAUGE32:
            case SNMP_TAG_TIMETICKS:
                EXPECT_EQ(out.value.integer, in.value.integer) << "type " << int(in.type);
                break;
            default:
                break;
        }
    }
}

TEST(BerVarbind, LargestBindingTheRecordsHoldEncodes) {
    // Used to fail: every binding went through a 64-byte work area.
    EXPECT_EQ(encode_varbind(string_binding(kSysDescr0, 50)).size(), 64u);
    EXPECT_EQ(encode_varbind(string_binding(kSysDescr0, 51)).size(), 65u);
    snmp_varbind biggest = string_binding(oid_of_len(SNMP_MAX_OID_LEN, 0xFFFFFFFFu), SNMP_MAX_OCTETS);
    Bytes bytes = encode_varbind(biggest);
    // 1 octet for 1.3 and 5 for each further arc; both contents take a four-octet header.
    const size_t oid_content = 1u + (SNMP_MAX_OID_LEN - 2u) * 5u;
    EXPECT_EQ(bytes.size(), 4u + (4u + oid_content) + (4u + 300u));
    EXPECT_LE(bytes.size(), SNMP_BER_MAX_VARBIND_LEN);

    // Exactly sized output works; one byte less is refused and nothing past it is touched.
    Bytes out(bytes.size() + 8, 0xEE);
    uint16_t written = 0;
    EXPECT_EQ(snmp_ber_encode_varbind(out.data(), static_cast<uint16_t>(bytes.size() - 1), &biggest,
                                      SNMP_VERSION_2C, &written),
              SNMP_ERR_NO_ROOM);
    EXPECT_EQ(out, Bytes(bytes.size() + 8, 0xEE));
    ASSERT_EQ(snmp_ber_encode_varbind(out.data(), static_cast<uint16_t>(bytes.size()), &biggest,
                                      SNMP_VERSION_2C, &written),
              SNMP_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + written), bytes);
    EXPECT_EQ(Bytes(out.begin() + written, out.end()), Bytes(8, 0xEE));
}

TEST(BerVarbind, DecodeRules) {
    snmp_varbind vb{};
    uint16_t used = 0;
    const Bytes head = hex("06 08 2B 06 01 02 01 01 03 00");
    auto binding = [&](const Bytes &value) {
        return concat({Bytes{0x30, static_cast<uint8_t>(head.size() + value.size())}, head, value});
    };
    // Counter32/Gauge32 of other encoders: a zero octet in front of a value with the top bit set.
    ASSERT_EQ(decode_varbind(binding(hex("41 05 00 FF FF FF FF")), SNMP_VERSION_2C, vb, used), SNMP_OK);
    EXPECT_EQ(static_cast<uint32_t>(vb.value.integer), 0xFFFFFFFFu);
    ASSERT_EQ(decode_varbind(binding(hex("42 05 00 80 00 00 00")), SNMP_VERSION_1, vb, used), SNMP_OK);
    EXPECT_EQ(static_cast<uint32_t>(vb.value.integer), 0x80000000u);
    ASSERT_EQ(decode_varbind(binding(hex("42 81 02 01 00")), SNMP_VERSION_2C, vb, used),
              SNMP_OK);  // long form
    EXPECT_EQ(vb.value.integer, 256);
    EXPECT_EQ(decode_varbind(binding(hex("41 81 02 01 00")), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(binding(hex("41 05 01 00 00 00 00")), SNMP_VERSION_2C, vb, used),
              SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(binding(hex("41 00")), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(binding(hex("41")), SNMP_VERSION_2C, vb, used), SNMP_ERR_INVALID);
    EXPECT_EQ(decode_varbind(binding(hex("42")), SNMP_VERSION_2C, vb, used), SNMP_ERR_INVALID);
    EXPECT_EQ(decode_varbind(binding(hex("42 80")), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);

    EXPECT_EQ(decode_varbind(binding(hex("46 01 01")), SNMP_VERSION_1, vb, used), SNMP_ERR_VERSION);
    EXPECT_EQ(decode_varbind(binding(hex("46 01 01")), SNMP_VERSION_3, vb, used), SNMP_OK);
    EXPECT_EQ(decode_varbind(binding(hex("40 04 7F 00 00 01")), SNMP_VERSION_2C, vb, used), SNMP_OK);
    EXPECT_EQ(decode_varbind(binding(hex("40 03 7F 00 00")), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(binding(hex("40 04 7F 00")), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(binding(hex("44 01 00")), SNMP_VERSION_2C, vb, used), SNMP_ERR_INVALID);
    EXPECT_EQ(decode_varbind(binding(hex("05 01 00")), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(binding(hex("80")), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(binding(Bytes{}), SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);  // no value
    EXPECT_EQ(decode_varbind(hex("30 0C 06 08 2B 06 01 02 01 01 03 00 05"), SNMP_VERSION_2C, vb, used),
              SNMP_ERR_MALFORMED);  // SEQUENCE runs past the input
    // The value may not reach beyond the binding's own SEQUENCE into what follows it.
    EXPECT_EQ(decode_varbind(hex("30 0B 06 08 2B 06 01 02 01 01 03 00 05 00"), SNMP_VERSION_2C, vb, used),
              SNMP_ERR_MALFORMED);
    EXPECT_EQ(decode_varbind(hex("31 02 05 00"), SNMP_VERSION_2C, vb, used), SNMP_ERR_INVALID);
}

TEST(BerVarbind, StringValueLongerThanTheRecordIsRefused) {
    snmp_varbind vb{};
    uint16_t used = 0;
    Bytes fits = encode_varbind(string_binding(kSysDescr0, SNMP_MAX_OCTETS));
    ASSERT_EQ(decode_varbind(fits, SNMP_VERSION_2C, vb, used), SNMP_OK);
    EXPECT_EQ(vb.value_len, SNMP_MAX_OCTETS);

    Bytes name = hex("06 08 2B 06 01 02 01 01 01 00");
    Bytes value = concat({hex("04 82 01 2D"), Bytes(301, 'v')});
    Bytes too_long = concat({hex("30 82 01 3B"), name, value});
    ASSERT_EQ(too_long.size(), 4u + 0x13Bu);
    EXPECT_EQ(decode_varbind(too_long, SNMP_VERSION_2C, vb, used), SNMP_ERR_MALFORMED);
}

// ---- PDUs ----

TEST(BerPdu, OperationsAndVersions) {
    auto pdu = new_pdu();
    *pdu = {};
    pdu->varbinds[0] = null_binding(kSysUpTime0);
    pdu->varbind_count = 1;
    int32_t ret = 0;

    pdu->op = SNMP_OP_GETBULK;
    encode_pdu(*pdu, SNMP_VERSION_1, &ret);
    EXPECT_EQ(ret, SNMP_ERR_VERSION);
    pdu->op = SNMP_OP_REPORT;
    encode_pdu(*pdu, SNMP_VERSION_2C, &ret);
    EXPECT_EQ(ret, SNMP_ERR_VERSION);
    EXPECT_EQ(encode_pdu(*pdu, SNMP_VERSION_3)[0], SNMP_PDU_TAG_REPORT);
    pdu->op = 4;
    encode_pdu(*pdu, SNMP_VERSION_1, &ret);
    EXPECT_EQ(ret, SNMP_ERR_INVALID);
    pdu->op = 9;
    encode_pdu(*pdu, SNMP_VERSION_2C, &ret);
    EXPECT_EQ(ret, SNMP_ERR_INVALID);
    pdu->op = SNMP_OP_GET;
    pdu->varbind_count = SNMP_MAX_VARBINDS + 1;
    encode_pdu(*pdu, SNMP_VERSION_2C, &ret);
    EXPECT_EQ(ret, SNMP_ERR_INVALID);
    pdu->varbind_count = 1;

    // Trap and Inform cross over: op 6 is tag A7, op 7 is tag A6.
    auto back = new_pdu();
    uint16_t used = 0;
    for (auto [op, tag] :
         {std::pair{SNMP_OP_TRAP, SNMP_PDU_TAG_V2_TRAP}, std::pair{SNMP_OP_INFORM, SNMP_PDU_TAG_INFORM}}) {
        pdu->op = op;
        Bytes bytes = encode_pdu(*pdu, SNMP_VERSION_2C);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes[0], tag);
        ASSERT_EQ(decode_pdu(bytes, SNMP_VERSION_2C, *back, used), SNMP_OK);
        EXPECT_EQ(back->op, static_cast<uint32_t>(op));
        // SNMPv3 notifications decode too: the manager checks them like any other v3 message.
        EXPECT_EQ(decode_pdu(bytes, SNMP_VERSION_3, *back, used), SNMP_OK);
        EXPECT_EQ(decode_pdu(bytes, SNMP_VERSION_1, *back, used), SNMP_ERR_VERSION);
    }

    Bytes bulk = wrap_pdu(SNMP_PDU_TAG_GETBULK, encode_varbind(null_binding(kSysDescr0)));
    EXPECT_EQ(decode_pdu(bulk, SNMP_VERSION_1, *back, used), SNMP_ERR_VERSION);
    EXPECT_EQ(decode_pdu(bulk, 2, *back, used), SNMP_ERR_VERSION);
    Bytes report = wrap_pdu(SNMP_PDU_TAG_REPORT, {});
    EXPECT_EQ(decode_pdu(report, SNMP_VERSION_2C, *back, used), SNMP_ERR_VERSION);
    ASSERT_EQ(decode_pdu(report, SNMP_VERSION_3, *back, used), SNMP_OK);
    EXPECT_EQ(back->op, static_cast<uint32_t>(SNMP_OP_REPORT));
    Bytes v1_trap = wrap_pdu(SNMP_PDU_TAG_V1_TRAP, {});
    EXPECT_EQ(decode_pdu(v1_trap, SNMP_VERSION_1, *back, used), SNMP_ERR_INVALID);
    EXPECT_EQ(back->op, static_cast<uint32_t>(SNMP_OP_UNKNOWN));
    EXPECT_EQ(decode_pdu(v1_trap, SNMP_VERSION_2C, *back, used), SNMP_ERR_VERSION);
}

TEST(BerPdu, GetBulkFieldsRoundTrip) {
    auto pdu = new_pdu();
    *pdu = {};
    pdu->op = SNMP_OP_GETBULK;
    pdu->request_id = -7;
    pdu->non_repeaters = 1;
    pdu->max_repetitions = 16;
    pdu->varbinds[0] = null_binding(kSysDescr0);
    pdu->varbinds[1] = null_binding(kSysUpTime0);
    pdu->varbind_count = 2;
    Bytes bytes = encode_pdu(*pdu, SNMP_VERSION_3);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 11), hex("A5 27 02 01 F9 02 01 01 02 01 10"));

    auto back = new_pdu();
    back->error_status = 99;
    uint16_t used = 0;
    ASSERT_EQ(decode_pdu(bytes, SNMP_VERSION_3, *back, used), SNMP_OK);
    EXPECT_EQ(used, bytes.size());
    EXPECT_EQ(back->request_id, -7);
    EXPECT_EQ(back->non_repeaters, 1u);
    EXPECT_EQ(back->max_repetitions, 16u);
    EXPECT_EQ(back->error_status, 0u);
    EXPECT_EQ(back->varbind_count, 2);
    EXPECT_TRUE(same_oid(back->varbinds[1].oid, kSysUpTime0));
}

TEST(BerPdu, BindingListLimits) {
    Bytes one = encode_varbind(null_binding(kSysDescr0));
    Bytes seventeen;
    for (int i = 0; i < 17; ++i) {
        seventeen = concat({seventeen, one});
    }
    auto pdu = new_pdu();
    uint16_t used = 0;
    Bytes wire = wrap_pdu(SNMP_PDU_TAG_RESPONSE, seventeen);
    ASSERT_EQ(decode_pdu(wire, SNMP_VERSION_2C, *pdu, used), SNMP_OK);
    EXPECT_EQ(pdu->varbind_count, SNMP_MAX_VARBINDS);
    EXPECT_EQ(used, wire.size() - one.size());  // the 17th binding is left unread

    // A malformed third binding ends the list quietly.
    Bytes broken = hex("30 0C 06 08 2B 06 01 02 01 01 03 00 41 00");
    wire = wrap_pdu(SNMP_PDU_TAG_RESPONSE, concat({one, one, broken, one}));
    ASSERT_EQ(decode_pdu(wire, SNMP_VERSION_2C, *pdu, used), SNMP_OK);
    EXPECT_EQ(pdu->varbind_count, 2);
    EXPECT_EQ(pdu->request_id, 5);

    // A Counter64 in a v1 message fails its binding and so ends the list there.
    snmp_varbind c64 = null_binding(kSysUpTime0);
    c64.type = SNMP_TAG_COUNTER64;
    c64.value.counter64 = 1;
    wire = wrap_pdu(SNMP_PDU_TAG_RESPONSE, concat({one, encode_varbind(c64, SNMP_VERSION_2C), one}));
    ASSERT_EQ(decode_pdu(wire, SNMP_VERSION_1, *pdu, used), SNMP_OK);
    EXPECT_EQ(pdu->varbind_count, 1);
    ASSERT_EQ(decode_pdu(wire, SNMP_VERSION_2C, *pdu, used), SNMP_OK);
    EXPECT_EQ(pdu->varbind_count, 3);

    // noSuchInstance consumes exactly its SEQUENCE: the next binding is read correctly.
    snmp_varbind missing = null_binding(kSysUpTime0);
    missing.type = SNMP_TAG_NO_SUCH_INSTANCE;
    wire = wrap_pdu(SNMP_PDU_TAG_RESPONSE, concat({encode_varbind(missing), one}));
    ASSERT_EQ(decode_pdu(wire, SNMP_VERSION_2C, *pdu, used), SNMP_OK);
    ASSERT_EQ(pdu->varbind_count, 2);
    EXPECT_EQ(pdu->varbinds[0].type, SNMP_TAG_NO_SUCH_INSTANCE);
    EXPECT_EQ(pdu->varbinds[1].type, SNMP_TAG_NULL);
    EXPECT_TRUE(same_oid(pdu->varbinds[1].oid, kSysDescr0));
}

TEST(BerPdu, MalformedPduRefused) {
    auto pdu = new_pdu();
    uint16_t used = 0;
    Bytes good = wrap_pdu(SNMP_PDU_TAG_GET, encode_varbind(null_binding(kSysDescr0)));
    EXPECT_EQ(snmp_ber_decode_snmp_pdu(good.data(), 0, SNMP_VERSION_2C, pdu.get(), &used),
              SNMP_ERR_MALFORMED);
    EXPECT_EQ(snmp_ber_decode_snmp_pdu(nullptr, 4, SNMP_VERSION_2C, pdu.get(), &used), SNMP_ERR_INVALID);
    // The binding list claims more bytes than the PDU holds.
    Bytes list_too_long = good;
    ASSERT_EQ(list_too_long[11], 0x30);
    list_too_long[12] = static_cast<uint8_t>(list_too_long[12] + 1);
    EXPECT_EQ(decode_pdu(list_too_long, SNMP_VERSION_2C, *pdu, used), SNMP_ERR_MALFORMED);
    // Every cut of a valid PDU is refused, never read past.
    for (size_t n = 1; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_NE(decode_pdu(cut, SNMP_VERSION_2C, *pdu, used), SNMP_OK) << n;
    }
    Bytes bad_id = good;
    bad_id[2] = SNMP_TAG_OCTET_STRING;
    EXPECT_EQ(decode_pdu(bad_id, SNMP_VERSION_2C, *pdu, used), SNMP_ERR_INVALID);
}

// ---- Messages ----

TEST(BerMessage, V2cGetRequestBytes) {
    auto msg = new_message();
    init_message(*msg, SNMP_VERSION_2C, "public", SNMP_OP_GET);
    msg->pdu.request_id = 1;
    msg->pdu.varbinds[0] = null_binding(kSysUpTime0);
    msg->pdu.varbind_count = 1;
    EXPECT_EQ(encode_message(*msg), kGetSysUpTimeV2c);

    // Exact size works, one byte less is refused and leaves the buffer as it was.
    Bytes out(kGetSysUpTimeV2c.size(), 0xEE);
    uint16_t len = 0;
    EXPECT_EQ(snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size() - 1), nullptr,
                                           msg.get(), &len),
              SNMP_ERR_NO_ROOM);
    EXPECT_EQ(out, Bytes(kGetSysUpTimeV2c.size(), 0xEE));
    EXPECT_EQ(
        snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), nullptr, msg.get(), &len),
        SNMP_OK);
    EXPECT_EQ(out, kGetSysUpTimeV2c);

    EXPECT_EQ(snmp_ber_encode_snmp_message(nullptr, 100, nullptr, msg.get(), &len), SNMP_ERR_INVALID);
    EXPECT_EQ(snmp_ber_encode_snmp_message(out.data(), 100, nullptr, nullptr, &len), SNMP_ERR_INVALID);
    msg->version = SNMP_VERSION_3;
    EXPECT_EQ(snmp_ber_encode_snmp_message(out.data(), 100, nullptr, msg.get(), &len), SNMP_ERR_INVALID);
}

TEST(BerMessage, DecodesKnownGoodRequests) {
    // A v2c GetRequest for sysDescr.0 as the standard command-line tools send it (4-byte request-id).
    Bytes wire =
        hex("30 29 02 01 01 04 06 70 75 62 6C 69 63 A0 1C 02 04 1F 3A 5B 7C 02 01 00 02 01 00 30 0E 30 0C "
            "06 08 2B 06 01 02 01 01 01 00 05 00");
    auto msg = new_message();
    uint16_t used = 0;
    ASSERT_EQ(decode_message(wire, *msg, used), SNMP_OK);
    EXPECT_EQ(used, wire.size());
    EXPECT_EQ(msg->version, SNMP_VERSION_2C);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(msg->usm.username), msg->usm.user_len), "public");
    EXPECT_EQ(msg->pdu.op, static_cast<uint32_t>(SNMP_OP_GET));
    EXPECT_EQ(msg->pdu.request_id, 0x1F3A5B7C);
    ASSERT_EQ(msg->pdu.varbind_count, 1);
    EXPECT_TRUE(same_oid(msg->pdu.varbinds[0].oid, kSysDescr0));

    // A v1 GetResponse with a Counter32 above 2^31 in the 5-octet form and a TimeTicks.
    wire =
        hex("30 3B 02 01 00 04 06 70 75 62 6C 69 63 A2 2E 02 01 09 02 01 00 02 01 00 30 23 "
            "30 13 06 0A 2B 06 01 02 01 02 02 01 0A 01 41 05 00 FF FF FF FE "
            "30 0C 06 08 2B 06 01 02 01 01 03 00 43 00");
    ASSERT_EQ(wire.size(), 0x3Du);
    ASSERT_EQ(decode_message(wire, *msg, used), SNMP_OK);
    EXPECT_EQ(msg->version, SNMP_VERSION_1);
    EXPECT_EQ(msg->pdu.op, static_cast<uint32_t>(SNMP_OP_GET_RESPONSE));
    ASSERT_EQ(msg->pdu.varbind_count, 2);
    EXPECT_EQ(static_cast<uint32_t>(msg->pdu.varbinds[0].value.integer), 0xFFFFFFFEu);
    EXPECT_EQ(msg->pdu.varbinds[1].type, SNMP_TAG_TIMETICKS);
}

TEST(BerMessage, RoundTripV1AndV2c) {
    for (uint32_t version : {SNMP_VERSION_1, SNMP_VERSION_2C}) {
        auto msg = new_message();
        init_message(*msg, version, "private-community-name-31-bytes", SNMP_OP_SET);
        ASSERT_EQ(msg->usm.user_len, SNMP_MAX_COMMUNITY_LEN);
        msg->pdu.request_id = 0x12345678;
        msg->pdu.error_status = 5;
        msg->pdu.error_index = 2;
        msg->pdu.varbinds[0] = string_binding(kSysDescr0, 120, 'q');
        msg->pdu.varbinds[1] = null_binding(kSysUpTime0);
        msg->pdu.varbinds[1].type = SNMP_TAG_GAUGE32;
        msg->pdu.varbinds[1].value.integer = 77;
        msg->pdu.varbind_count = 2;
        Bytes wire = encode_message(*msg);
        ASSERT_FALSE(wire.empty());

        auto back = new_message();
        uint16_t used = 0;
        ASSERT_EQ(decode_message(wire, *back, used), SNMP_OK);
        EXPECT_EQ(used, wire.size());
        EXPECT_EQ(back->version, version);
        EXPECT_EQ(back->usm.user_len, SNMP_MAX_COMMUNITY_LEN);
        EXPECT_EQ(0, std::memcmp(back->usm.username, msg->usm.username, SNMP_MAX_COMMUNITY_LEN));
        EXPECT_EQ(back->pdu.op, static_cast<uint32_t>(SNMP_OP_SET));
        EXPECT_EQ(back->pdu.request_id, 0x12345678);
        EXPECT_EQ(back->pdu.error_status, 5u);
        EXPECT_EQ(back->pdu.error_index, 2u);
        ASSERT_EQ(back->pdu.varbind_count, 2);
        EXPECT_EQ(back->pdu.varbinds[0].value_len, 120);
        EXPECT_EQ(back->pdu.varbinds[1].value.integer, 77);
        EXPECT_EQ(encode_message(*back), wire);
    }
}

TEST(BerMessage, CommunityLongerThan31BytesIsRefused) {
    auto msg = new_message();
    uint16_t used = 0;
    // 32 bytes on the wire: never cut into a shorter community that might match a configured one.
    std::string name32(32, 'p');
    Bytes pdu = wrap_pdu(SNMP_PDU_TAG_GET, encode_varbind(null_binding(kSysDescr0)));
    Bytes content = concat({hex("02 01 01 04 20"), ascii(name32), pdu});
    Bytes wire = concat({Bytes{0x30, static_cast<uint8_t>(content.size())}, content});
    EXPECT_EQ(decode_message(wire, *msg, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(msg->usm.user_len, 0);

    content = concat({hex("02 01 01 04 1F"), ascii(name32.substr(1)), pdu});
    wire = concat({Bytes{0x30, static_cast<uint8_t>(content.size())}, content});
    ASSERT_EQ(decode_message(wire, *msg, used), SNMP_OK);
    EXPECT_EQ(msg->usm.user_len, 31);

    // The encoder refuses a community record of more than 31 bytes too.
    init_message(*msg, SNMP_VERSION_2C, "", SNMP_OP_GET);
    msg->usm.user_len = SNMP_USERNAME_SIZE;
    int32_t ret = 0;
    encode_message(*msg, &ret);
    EXPECT_EQ(ret, SNMP_ERR_INVALID);
}

TEST(BerMessage, VersionsAndMalformedMessages) {
    auto msg = new_message();
    uint16_t used = 0;
    Bytes v2 = kGetSysUpTimeV2c;
    v2[4] = 2;
    EXPECT_EQ(decode_message(v2, *msg, used), SNMP_ERR_VERSION);
    v2[4] = 4;
    EXPECT_EQ(decode_message(v2, *msg, used), SNMP_ERR_VERSION);
    Bytes v3 = kGetSysUpTimeV2c;
    v3[4] = 3;  // handed to the v3 framing
    EXPECT_NE(decode_message(v3, *msg, used), SNMP_OK);

    uint8_t version = 0;
    ASSERT_EQ(snmp_ber_peek_version(kGetSysUpTimeV2c.data(), static_cast<uint16_t>(kGetSysUpTimeV2c.size()),
                                    &version, &used),
              SNMP_OK);
    EXPECT_EQ(version, 1);
    EXPECT_EQ(used, 5);

    // Outer SEQUENCE longer than the datagram.
    Bytes longer = kGetSysUpTimeV2c;
    longer[1] = static_cast<uint8_t>(longer[1] + 1);
    EXPECT_EQ(decode_message(longer, *msg, used), SNMP_ERR_MALFORMED);
    for (size_t n = 0; n < kGetSysUpTimeV2c.size(); ++n) {
        Bytes cut(kGetSysUpTimeV2c.begin(), kGetSysUpTimeV2c.begin() + static_cast<long>(n));
        EXPECT_NE(decode_message(cut, *msg, used), SNMP_OK) << n;
    }
    Bytes not_sequence = kGetSysUpTimeV2c;
    not_sequence[0] = 0x31;
    EXPECT_EQ(decode_message(not_sequence, *msg, used), SNMP_ERR_INVALID);
    // Community declared past the message.
    Bytes community_long = kGetSysUpTimeV2c;
    community_long[6] = 0x30;
    EXPECT_EQ(decode_message(community_long, *msg, used), SNMP_ERR_MALFORMED);
    EXPECT_EQ(snmp_ber_decode_snmp_message(nullptr, 10, msg.get(), &used), SNMP_ERR_INVALID);
}

TEST(BerMessage, AnyMessageUpTo1024BytesEncodes) {
    // Used to fail: the PDU body went through a 512-byte work area.
    auto msg = new_message();
    init_message(*msg, SNMP_VERSION_2C, "public", SNMP_OP_GET_RESPONSE);
    msg->pdu.request_id = 1;
    msg->pdu.varbinds[0] = string_binding(kSysDescr0, 300);
    msg->pdu.varbinds[1] = string_binding(kSysUpTime0, 300);
    msg->pdu.varbind_count = 2;
    Bytes wire = encode_message(*msg);
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(wire.size(), 2u * (4 + 10 + 304) + 4 + 9 + 4 + 3 + 8 + 4);  // 668

    // Add a third such binding, then grow a fourth string until the message is exactly 1024 bytes;
    // one more byte is refused.
    msg->pdu.varbinds[2] = string_binding(kSysDescr0, 300);
    msg->pdu.varbinds[3] = string_binding(kSysDescr0, 0);
    msg->pdu.varbind_count = 4;
    uint16_t last = 0;
    int32_t ret = SNMP_OK;
    for (; last <= SNMP_MAX_OCTETS; ++last) {
        msg->pdu.varbinds[3].value_len = last;
        wire = encode_message(*msg, &ret);
        if (ret != SNMP_OK || wire.size() >= SNMP_MAX_MSG_SIZE) {
            break;
        }
    }
    ASSERT_EQ(ret, SNMP_OK);
    ASSERT_EQ(wire.size(), SNMP_MAX_MSG_SIZE);
    auto back = new_message();
    uint16_t used = 0;
    ASSERT_EQ(decode_message(wire, *back, used), SNMP_OK);
    EXPECT_EQ(back->pdu.varbind_count, 4);
    EXPECT_EQ(back->pdu.varbinds[3].value_len, last);

    msg->pdu.varbinds[3].value_len = static_cast<uint16_t>(last + 1);
    Bytes big(2048, 0xEE);
    uint16_t len = 0;
    EXPECT_EQ(
        snmp_ber_encode_snmp_message(big.data(), static_cast<uint16_t>(big.size()), nullptr, msg.get(), &len),
        SNMP_ERR_NO_ROOM);
    EXPECT_EQ(big, Bytes(2048, 0xEE));

    // Sixteen of the largest bindings do not fit any message.
    for (auto &vb : msg->pdu.varbinds) {
        vb = string_binding(oid_of_len(SNMP_MAX_OID_LEN, 0xFFFFFFFFu), SNMP_MAX_OCTETS);
    }
    msg->pdu.varbind_count = SNMP_MAX_VARBINDS;
    EXPECT_EQ(
        snmp_ber_encode_snmp_message(big.data(), static_cast<uint16_t>(big.size()), nullptr, msg.get(), &len),
        SNMP_ERR_NO_ROOM);
    Bytes pdu_out(8192);
    EXPECT_EQ(snmp_ber_encode_snmp_pdu(pdu_out.data(), 8192, &msg->pdu, SNMP_VERSION_2C, &len),
              SNMP_ERR_NO_ROOM);
}

TEST(BerMessage, Counter64InV1ResponseGoesOutAsNoSuchObject) {
    auto msg = new_message();
    init_message(*msg, SNMP_VERSION_1, "public", SNMP_OP_GET_RESPONSE);
    msg->pdu.varbinds[0] = null_binding(kSysUpTime0);
    msg->pdu.varbinds[0].type = SNMP_TAG_COUNTER64;
    msg->pdu.varbinds[0].value.counter64 = 12345;
    msg->pdu.varbind_count = 1;
    Bytes wire = encode_message(*msg);
    ASSERT_GE(wire.size(), 2u);
    EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), hex("80 00"));
    auto back = new_message();
    uint16_t used = 0;
    ASSERT_EQ(decode_message(wire, *back, used), SNMP_OK);
    ASSERT_EQ(back->pdu.varbind_count, 1);
    EXPECT_EQ(back->pdu.varbinds[0].type, SNMP_TAG_NO_SUCH_OBJECT);
}
