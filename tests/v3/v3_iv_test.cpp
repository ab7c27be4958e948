// Privacy IVs of the USM codec under one key, built into each runtime (manager and agent platform
// variant): 100,000 AES encryptions never repeat an IV, and the random parts of consecutive IVs are
// not shifted copies of each other, as the words of a shift register would be.
#include <array>
#include <cstdint>
#include <cstring>
#include <unordered_set>

#include <gtest/gtest.h>

#include "base/agent_log.h"
#include "codec/snmpv3_crypto.h"

namespace {

constexpr int kEncryptions = 100000;
constexpr size_t kRandomPart = 8;
constexpr uint32_t kLow31Bits = 0x7FFFFFFFu;

TEST(V3Iv, NoRepeatAndNoShiftedBitsUnderOneKey) {
    agent_log_set_level(AGENT_LOG_WARN);  // the agent runtime starts at DEBUG
    const std::array<uint8_t, 16> key{0x5e, 0x21, 0x9a, 0x03, 0x77, 0xc4, 0x18, 0xbb,
                                      0x42, 0x0d, 0xe6, 0x91, 0x3f, 0x58, 0xa0, 0x6c};
    const std::array<uint8_t, 32> plain{};
    std::array<uint8_t, 64> out{};
    std::array<uint8_t, 64> work{};
    snmp_v3_usm usm{};
    usm.priv_proto = SNMP_V3_PRIV_AES128;
    usm.engine_boots = 1;
    usm.engine_time = 7;
    std::unordered_set<uint64_t> seen;
    uint32_t previous_word = 0;
    size_t shifted_pairs = 0;
    for (int i = 0; i < kEncryptions; ++i) {
        ASSERT_EQ(snmpv3_crypto_gen_full_iv(&usm), 1);
        auto out_len = static_cast<uint16_t>(out.size());
        ASSERT_EQ(snmp_v3_encrypt_pdu(plain.data(), static_cast<uint16_t>(plain.size()), &usm, key.data(),
                                      static_cast<uint16_t>(key.size()), out.data(), &out_len, work.data(),
                                      static_cast<uint16_t>(work.size())),
                  1);
        // The random part travels in front of the cipher text: that is what an eavesdropper sees.
        ASSERT_EQ(std::memcmp(out.data(), usm.full_iv + SNMP_V3_IV_FIXED_LEN, kRandomPart), 0);
        uint64_t random = 0;
        std::memcpy(&random, out.data(), kRandomPart);
        ASSERT_TRUE(seen.insert(random).second) << "IV repeated after " << i << " encryptions";
        for (size_t at = 0; at < kRandomPart; at += sizeof(uint32_t)) {
            uint32_t word = 0;
            std::memcpy(&word, out.data() + at, sizeof word);
            shifted_pairs += (word & kLow31Bits) == (previous_word >> 1) ? 1 : 0;
            previous_word = word;
        }
    }
    EXPECT_LE(shifted_pairs, 1u) << "consecutive random words are shifted copies of each other";
}

}  // namespace
