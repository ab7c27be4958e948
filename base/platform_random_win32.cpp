// Random bytes for both variants of the platform layer on Windows: the system's "RNG" algorithm
// provider. Every requested byte is filled, or the call fails.
#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "base/platform_internal.h"

namespace {

// The provider handle, closed when the scope ends.
class RngProvider {
public:
    RngProvider() noexcept { opened_ = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_RNG_ALGORITHM, nullptr, 0)); }
    RngProvider(const RngProvider &) = delete;
    RngProvider &operator=(const RngProvider &) = delete;
    ~RngProvider() {
        if (opened_) {
            BCryptCloseAlgorithmProvider(handle_, 0);
        }
    }
    bool fill(uint8_t *buf, uint32_t len) const noexcept {
        return opened_ && BCRYPT_SUCCESS(BCryptGenRandom(handle_, buf, len, 0));
    }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
    bool opened_ = false;
};

}  // namespace

namespace vek::platform_internal {

bool fill_from_os(uint8_t *buf, uint32_t len) { return RngProvider().fill(buf, len); }

}  // namespace vek::platform_internal
