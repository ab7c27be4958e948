// Agent variant of the platform layer (library vek_base_agent), the part every system shares: the
// millisecond clocks on top of the microsecond clock, random bytes from the system's secure source,
// and byte order. The clock itself, the delay, the interrupt bracket and the soft timer are in
// platform_agent_<system>.cpp.
#include <cstdint>

#include "base/agent_log.h"
#include "base/platform.h"
#include "base/platform_internal.h"

namespace pi = vek::platform_internal;

namespace {

constexpr uint64_t kUsPerMs = 1000;

}  // namespace

extern "C" {

// ---- Clocks ----

uint32_t platform_get_tick_ms(void) { return static_cast<uint32_t>(platform_get_tick_us() / kUsPerMs); }

uint32_t platform_get_tick(void) { return platform_get_tick_ms(); }

// ---- Random bytes ----

int platform_rand_generate_crypto(uint8_t *buf, uint32_t len) {
    if (buf == nullptr || len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "_platform_rand_c_std: invalid param (buf=%p, len=%d)", static_cast<void *>(buf),
                  static_cast<int>(len));
        return 0;
    }
    if (!pi::fill_from_os(buf, len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "_platform_rand_c_std: system random source failed (len=%d)", static_cast<int>(len));
        return 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "_platform_rand_c_std: generate %d bytes crypto-grade random success",
              static_cast<int>(len));
    return 1;
}

// ---- Byte order ----

void platform_cpu_to_be32(uint8_t *dst, uint32_t value) { pi::store_be32(dst, value); }

uint32_t platform_be32_to_cpu(const uint8_t *src) { return pi::load_be32(src); }

void platform_cpu_to_be16(uint8_t *dst, uint16_t value) { pi::store_be16(dst, value); }

uint16_t platform_be16_to_cpu(const uint8_t *src) { return pi::load_be16(src); }

}  // extern "C"
