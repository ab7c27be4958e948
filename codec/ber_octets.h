// Big-endian content octets of BER unsigned values, shared by the primitives and the message codec.
#ifndef VEK_CODEC_BER_OCTETS_H
#define VEK_CODEC_BER_OCTETS_H

#include <cstdint>
#include <span>

namespace vek::codec {

inline constexpr unsigned kBerByteBits = 8;

// Writes the low `count` octets of `value`, most significant first.
inline void put_big_endian(std::span<uint8_t> out, uint64_t value, uint16_t count) {
    for (uint16_t i = 0; i < count; ++i) {
        out[i] = static_cast<uint8_t>(value >> (kBerByteBits * (count - 1u - i)));
    }
}

// The value of up to eight content octets, most significant first.
inline uint64_t get_big_endian(std::span<const uint8_t> content) {
    uint64_t value = 0;
    for (uint8_t octet : content) {
        value = (value << kBerByteBits) | octet;
    }
    return value;
}

}  // namespace vek::codec

#endif  // VEK_CODEC_BER_OCTETS_H
