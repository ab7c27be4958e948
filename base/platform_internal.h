/* Internal pieces of the platform layer, shared with its unit tests only. Not part of either
 * library's interface: C++ only, nothing here is exported to applications. */
#ifndef VEK_BASE_PLATFORM_INTERNAL_H
#define VEK_BASE_PLATFORM_INTERNAL_H

#ifdef __cplusplus

#include <time.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace vek::platform_internal {

// ---- Both variants: big-endian loads and stores behind the platform_*be* functions ----

constexpr unsigned kBitsPerByte = 8;
constexpr int kBe32Bytes = 4;

inline void store_be32(uint8_t *dst, uint32_t value) {
    if (dst == nullptr) {
        return;
    }
    for (int i = kBe32Bytes - 1; i >= 0; --i) {
        dst[i] = static_cast<uint8_t>(value);
        value >>= kBitsPerByte;
    }
}

inline uint32_t load_be32(const uint8_t *src) {
    if (src == nullptr) {
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < kBe32Bytes; ++i) {
        value = (value << kBitsPerByte) | src[i];
    }
    return value;
}

inline void store_be16(uint8_t *dst, uint16_t value) {
    if (dst == nullptr) {
        return;
    }
    dst[0] = static_cast<uint8_t>(value >> kBitsPerByte);
    dst[1] = static_cast<uint8_t>(value);
}

inline uint16_t load_be16(const uint8_t *src) {
    if (src == nullptr) {
        return 0;
    }
    return static_cast<uint16_t>((src[0] << kBitsPerByte) | src[1]);
}

// ---- Manager variant (vek_base_nms) ----

// Linux: absolute deadline timeout_ms after now, nanoseconds kept below one second.
timespec deadline_after(timespec now, uint32_t timeout_ms);

// Cuts a full program path down to its file name as platform_get_runtime_filename reports it:
// the part after the last separator ('/' on Linux, '\\' on Windows), at most size - 1 bytes, with a
// final ".exe" removed. Clears the whole buffer first. Returns the name's length, 0 for a null
// path or buffer or size 0.
uint32_t cut_runtime_name(const char *path, char *buf, uint32_t size, char separator = '/');

// ---- Both variants: the clock and random bytes from the operating system ----

// Windows: the performance counter in microseconds (monotonic).
uint64_t performance_counter_us();


// Linux: fills all len bytes from the device at path; false when it cannot be opened or read in
// full.
bool fill_from_device(const char *path, uint8_t *buf, uint32_t len);
// Fills all len bytes from the system's secure source (Linux: getrandom, or /dev/urandom where
// getrandom does not exist; Windows: BCryptGenRandom); false when it does not deliver every byte.
bool fill_from_os(uint8_t *buf, uint32_t len);

// ---- Agent variant (vek_base_agent) ----

// True while the soft timer that calls the once-a-second callback is running.
bool soft_timer_running();
// Windows: 1 ms periods the soft timer has counted since it started (its tick counter).
uint64_t soft_timer_ticks();

}  // namespace vek::platform_internal

#endif

#endif
