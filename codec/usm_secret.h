// Handling of key material inside the codec's security units: wiping that the compiler may not drop,
// and comparison whose time says nothing about the value.
#ifndef VEK_CODEC_USM_SECRET_H
#define VEK_CODEC_USM_SECRET_H

#include <cstddef>
#include <cstdint>

namespace vek::codec {

inline void wipe(void *data, size_t len) {
    auto *bytes = static_cast<volatile uint8_t *>(data);
    for (size_t i = 0; i < len; ++i) {
        bytes[i] = 0;
    }
}

template <typename T> void wipe(T &object) { wipe(&object, sizeof object); }

inline bool same_bytes(const uint8_t *a, const uint8_t *b, size_t len) {
    uint8_t diff = 0;
    for (size_t i = 0; i < len; ++i) {
        diff = static_cast<uint8_t>(diff | (a[i] ^ b[i]));
    }
    return diff == 0;
}

}  // namespace vek::codec

#endif  // VEK_CODEC_USM_SECRET_H
