// Helpers shared by the digest and facade tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/sha1_vek.h"
#include "crypto/sha256_vek.h"

namespace digest_test {

using Bytes = std::vector<uint8_t>;

inline Bytes from_hex(std::string_view hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

inline std::string to_hex(const uint8_t *data, size_t len) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 0x0F]);
    }
    return out;
}

inline std::string to_hex(const Bytes &data) { return to_hex(data.data(), data.size()); }

inline Bytes from_text(std::string_view text) { return Bytes(text.begin(), text.end()); }

struct BackendName {
    std::string operator()(const testing::TestParamInfo<int> &param_info) const {
        return param_info.param == VEK_SHA_BACKEND_SHA_NI ? "ShaNi" : "Portable";
    }
};

// Runs each test once per SHA compression back end; the SHA-NI run is skipped on processors
// without the instructions. The default back end is restored afterwards.
class ShaBackendTest : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        saved_sha1_ = vek_sha1_get_backend();
        saved_sha256_ = vek_sha256_get_backend();
        if (GetParam() == VEK_SHA_BACKEND_SHA_NI && vek_cpu_has_sha_ni() == 0) {
            GTEST_SKIP() << "processor has no SHA instructions";
        }
        ASSERT_EQ(vek_sha1_set_backend(GetParam()), GetParam());
        ASSERT_EQ(vek_sha256_set_backend(GetParam()), GetParam());
    }
    void TearDown() override {
        vek_sha1_set_backend(saved_sha1_);
        vek_sha256_set_backend(saved_sha256_);
    }

private:
    int saved_sha1_ = VEK_SHA_BACKEND_PORTABLE;
    int saved_sha256_ = VEK_SHA_BACKEND_PORTABLE;
};

#define DIGEST_INSTANTIATE_BACKENDS(fixture)                                                          \
    INSTANTIATE_TEST_SUITE_P(Backends, fixture,                                                       \
                             testing::Values(VEK_SHA_BACKEND_PORTABLE, VEK_SHA_BACKEND_SHA_NI),       \
                             digest_test::BackendName{})

}  // namespace digest_test
