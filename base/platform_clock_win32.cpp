// The performance counter in microseconds, for both variants of the platform layer on Windows.
#include <windows.h>

#include <cstdint>

#include "base/platform_internal.h"

namespace {

constexpr uint64_t kUsPerSecond = 1000000;

uint64_t performance_frequency() noexcept {
    static const uint64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<uint64_t>(value.QuadPart);
    }();
    return frequency;
}

}  // namespace

namespace vek::platform_internal {

uint64_t performance_counter_us() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
    const uint64_t frequency = performance_frequency();
    // In two parts, so that the product cannot overflow however long the system has been up.
    return ticks / frequency * kUsPerSecond + ticks % frequency * kUsPerSecond / frequency;
}

}  // namespace vek::platform_internal
