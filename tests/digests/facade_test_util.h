// Helpers shared by the crypto facade tests (crypto_facade_test.cpp, crypto_facade_openssl_test.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/agent_log.h"
#include "crypto/crypto_vek.h"
#include "digest_test_util.h"

namespace facade_test {

using digest_test::Bytes;
using digest_test::from_hex;

inline constexpr std::array<int32_t, 5> kCipherIds = {VEK_ALG_AES128_CBC, VEK_ALG_AES192_CBC, VEK_ALG_AES256_CBC,
                                                      VEK_ALG_DES_CBC, VEK_ALG_3DES_CBC};

inline uint32_t key_size(int32_t alg) {
    switch (alg) {
        case VEK_ALG_AES128_CBC: return 16;
        case VEK_ALG_AES192_CBC: return 24;
        case VEK_ALG_AES256_CBC: return 32;
        case VEK_ALG_DES_CBC: return 8;
        default: return 24;
    }
}

inline uint32_t block_size(int32_t alg) { return alg == VEK_ALG_DES_CBC || alg == VEK_ALG_3DES_CBC ? 8 : 16; }

// Restores the log level after tests that capture DEBUG lines.
class LogLevelGuard {
public:
    explicit LogLevelGuard(uint32_t level) : saved_(g_log_config.level) { g_log_config.level = level; }
    ~LogLevelGuard() { g_log_config.level = saved_; }

private:
    uint32_t saved_;
};

// The engine ID and the password widened to 16-bit characters of the localized key tests.
inline const Bytes kEngineId = from_hex("80001f8804");
inline const Bytes kWidePassword = [] {
    Bytes wide;
    for (char c : std::string("maplesyrup")) {
        wide.push_back(static_cast<uint8_t>(c));
        wide.push_back(0);
    }
    return wide;
}();

}  // namespace facade_test
