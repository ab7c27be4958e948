// Manager variant of the platform layer (library vek_base_nms), the part every system shares:
// memory and text helpers, the non-secure random bytes, cutting a program path down to its name,
// and byte order. Threads, locks, clocks, sockets and the rest are in platform_nms_<system>.cpp.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/platform.h"
#include "base/platform_internal.h"

namespace {

constexpr const char *kExeSuffix = ".exe";
constexpr size_t kExeSuffixLength = 4;
constexpr unsigned kLowByteMask = 0xFFu;

}  // namespace

namespace vek::platform_internal {

uint32_t cut_runtime_name(const char *path, char *buf, uint32_t size, char separator) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    std::memset(buf, 0, size);
    if (path == nullptr) {
        return 0;
    }
    const char *last_separator = std::strrchr(path, separator);
    const char *name = last_separator != nullptr ? last_separator + 1 : path;
    size_t length = strnlen(name, size - 1);
    std::memcpy(buf, name, length);
    buf[length] = '\0';
    char *dot = std::strrchr(buf, '.');
    if (dot != nullptr && std::strncmp(dot, kExeSuffix, kExeSuffixLength) == 0) {
        *dot = '\0';
        length = static_cast<size_t>(dot - buf);
    }
    return static_cast<uint32_t>(length);
}

}  // namespace vek::platform_internal

namespace pi = vek::platform_internal;

extern "C" {

// ---- Memory and text ----

void *platform_malloc(uint32_t size) { return std::calloc(1, size); }

void platform_free(void *block) { std::free(block); }

size_t platform_strlen(const char *text) { return text != nullptr ? std::strlen(text) : 0; }

int platform_strcmp(const char *a, const char *b) {
    // A null text sorts before every text instead of faulting.
    if (a == nullptr || b == nullptr) {
        return (a != nullptr) - (b != nullptr);
    }
    return std::strcmp(a, b);
}

uint32_t platform_memcpy_s(void *dst, uint32_t dst_size, const void *src, uint32_t count) {
    if (dst == nullptr || src == nullptr || dst_size == 0) {
        return 0;
    }
    uint32_t copied = count < dst_size ? count : dst_size;
    std::memmove(dst, src, copied);
    return copied;
}

uint32_t platform_strcpy_s(char *dst, uint32_t dst_size, const char *src) {
    if (dst == nullptr || src == nullptr || dst_size == 0) {
        return 0;
    }
    size_t copied = strnlen(src, dst_size - 1);
    std::memmove(dst, src, copied);
    dst[copied] = '\0';
    return static_cast<uint32_t>(copied);
}

// ---- Random bytes ----

int platform_rand_generate(uint8_t *buf, uint32_t len) {
    if (buf == nullptr || len == 0) {
        return 0;
    }
    for (uint32_t i = 0; i < len; ++i) {
        buf[i] = static_cast<uint8_t>(static_cast<unsigned>(std::rand()) & kLowByteMask);
    }
    return 1;
}

int platform_rand_generate_crypto(uint8_t *buf, uint32_t len) {
    if (buf == nullptr || len == 0) {
        return 0;
    }
    return pi::fill_from_os(buf, len) ? 1 : 0;
}

// ---- Byte order ----

void platform_cpu_to_be32(uint8_t *dst, uint32_t value) { pi::store_be32(dst, value); }

uint32_t platform_be32_to_cpu(const uint8_t *src) { return pi::load_be32(src); }

void platform_cpu_to_be16(uint8_t *dst, uint16_t value) { pi::store_be16(dst, value); }

uint16_t platform_be16_to_cpu(const uint8_t *src) { return pi::load_be16(src); }

}  // extern "C"
