// Encode and decode cost of typical v2c messages at log level WARN (the trace lines are filtered).
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>

#include "base/agent_log.h"
#include "codec/oid_literal.h"
#include "codec/snmp_ber.h"

namespace {

constexpr uint8_t kResponseBindings = 10;
constexpr int32_t kRequestId = 0x1F3A5B7C;

using vek::codec::make_oid;

void set_community(snmp_message &msg) {
    static constexpr char kCommunity[] = "public";
    std::memcpy(msg.usm.username, kCommunity, sizeof kCommunity - 1);
    msg.usm.user_len = sizeof kCommunity - 1;
}

// GetRequest for sysDescr.0.
std::unique_ptr<snmp_message> get_request() {
    auto msg = std::make_unique<snmp_message>();
    msg->version = SNMP_VERSION_2C;
    set_community(*msg);
    msg->pdu.op = SNMP_OP_GET;
    msg->pdu.request_id = kRequestId;
    msg->pdu.varbinds[0].oid = make_oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
    msg->pdu.varbinds[0].type = SNMP_TAG_NULL;
    msg->pdu.varbind_count = 1;
    return msg;
}

// GetResponse with ten bindings of mixed types, as an interface-table walk answers.
std::unique_ptr<snmp_message> get_response() {
    auto msg = std::make_unique<snmp_message>();
    msg->version = SNMP_VERSION_2C;
    set_community(*msg);
    msg->pdu.op = SNMP_OP_GET_RESPONSE;
    msg->pdu.request_id = kRequestId;
    static constexpr char kDescr[] = "Linux agent 6.1.0 x86_64";
    for (uint8_t i = 0; i < kResponseBindings; ++i) {
        snmp_varbind &vb = msg->pdu.varbinds[i];
        vb.oid = make_oid({1, 3, 6, 1, 2, 1, 2, 2, 1, 10, static_cast<uint32_t>(i + 1)});
        switch (i % 5) {
            case 0:
                vb.type = SNMP_TAG_OCTET_STRING;
                std::memcpy(vb.value.octets, kDescr, sizeof kDescr - 1);
                vb.value_len = sizeof kDescr - 1;
                break;
            case 1:
                vb.type = SNMP_TAG_COUNTER32;
                vb.value.integer = static_cast<int32_t>(0xF0001234u);
                break;
            case 2:
                vb.type = SNMP_TAG_TIMETICKS;
                vb.value.integer = 123456789;
                break;
            case 3:
                vb.type = SNMP_TAG_COUNTER64;
                vb.value.counter64 = 0x0123456789ABCDEFull;
                break;
            default:
                vb.type = SNMP_TAG_INTEGER;
                vb.value.integer = -42;
                break;
        }
    }
    msg->pdu.varbind_count = kResponseBindings;
    return msg;
}

void run_encode(benchmark::State &state, snmp_message &msg) {
    agent_log_set_level(AGENT_LOG_WARN);
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> out{};
    for (auto _ : state) {
        uint16_t len = 0;
        int32_t ret = snmp_ber_encode_snmp_message(out.data(), out.size(), nullptr, &msg, &len);
        benchmark::DoNotOptimize(ret);
        benchmark::DoNotOptimize(out.data());
        if (ret != SNMP_OK) {
            state.SkipWithError("encode failed");
            break;
        }
    }
}

void run_decode(benchmark::State &state, snmp_message &source) {
    agent_log_set_level(AGENT_LOG_WARN);
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> wire{};
    uint16_t len = 0;
    if (snmp_ber_encode_snmp_message(wire.data(), wire.size(), nullptr, &source, &len) != SNMP_OK) {
        state.SkipWithError("encode failed");
        return;
    }
    auto msg = std::make_unique<snmp_message>();
    for (auto _ : state) {
        uint16_t used = 0;
        int32_t ret = snmp_ber_decode_snmp_message(wire.data(), len, msg.get(), &used);
        benchmark::DoNotOptimize(ret);
        benchmark::DoNotOptimize(msg.get());
        if (ret != SNMP_OK) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
}

void BM_EncodeGetRequestSysDescr(benchmark::State &state) {
    run_encode(state, *get_request());
}
void BM_DecodeGetRequestSysDescr(benchmark::State &state) {
    run_decode(state, *get_request());
}
void BM_EncodeGetResponse10(benchmark::State &state) {
    run_encode(state, *get_response());
}
void BM_DecodeGetResponse10(benchmark::State &state) {
    run_decode(state, *get_response());
}

}  // namespace

BENCHMARK(BM_EncodeGetRequestSysDescr);
BENCHMARK(BM_DecodeGetRequestSysDescr);
BENCHMARK(BM_EncodeGetResponse10);
BENCHMARK(BM_DecodeGetResponse10);
