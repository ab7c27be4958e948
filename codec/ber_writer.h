// Writes BER elements one after another into a buffer whose size the caller checked beforehand;
// the first failure sticks and every later call returns it. Used by the message codecs.
#ifndef VEK_CODEC_BER_WRITER_H
#define VEK_CODEC_BER_WRITER_H

#include <cstdint>
#include <cstring>
#include <span>

#include "codec/snmp_ber.h"

namespace vek::codec {

class BerWriter {
   public:
    BerWriter(uint8_t *buf, uint16_t size) : out_(buf, size) {}

    template <typename Fn>
    int32_t put(Fn &&encode) {
        if (ret_ != SNMP_OK) {
            return ret_;
        }
        uint16_t written = 0;
        ret_ = encode(out_.data() + pos_, static_cast<uint16_t>(out_.size() - pos_), written);
        if (ret_ == SNMP_OK) {
            pos_ = static_cast<uint16_t>(pos_ + written);
        }
        return ret_;
    }
    int32_t integer(int32_t value) {
        return put([value](uint8_t *p, uint16_t n, uint16_t &w) { return snmp_ber_encode_integer(p, n, value, &w); });
    }
    int32_t string(const uint8_t *data, uint16_t len) {
        return put([data, len](uint8_t *p, uint16_t n, uint16_t &w) {
            return snmp_ber_encode_string(p, n, data, len, &w);
        });
    }
    int32_t sequence(uint16_t content_len) {
        return put([content_len](uint8_t *p, uint16_t n, uint16_t &w) {
            return snmp_ber_encode_sequence_header(p, n, content_len, &w);
        });
    }
    int32_t raw(std::span<const uint8_t> bytes) {
        return put([bytes](uint8_t *p, uint16_t n, uint16_t &w) {
            if (bytes.size() > n) {
                return SNMP_ERR_NO_ROOM;
            }
            std::memcpy(p, bytes.data(), bytes.size());
            w = static_cast<uint16_t>(bytes.size());
            return SNMP_OK;
        });
    }
    // Tag and length octets of a constructed element such as a PDU.
    int32_t header(uint8_t tag, uint16_t content_len) {
        if (raw(std::span<const uint8_t>(&tag, 1)) != SNMP_OK) {
            return ret_;
        }
        return put([content_len](uint8_t *p, uint16_t n, uint16_t &w) {
            return snmp_ber_encode_length(p, n, content_len, &w);
        });
    }
    int32_t result() const { return ret_; }
    uint16_t pos() const { return pos_; }

   private:
    std::span<uint8_t> out_;
    uint16_t pos_ = 0;
    int32_t ret_ = SNMP_OK;
};

}  // namespace vek::codec

#endif
