/* BER encoding and decoding for SNMP: single elements (lengths, INTEGER, Counter64, TimeTicks,
 * OBJECT IDENTIFIER, OCTET STRING, SEQUENCE headers), variable bindings, PDUs and whole v1/v2c/v3
 * messages.
 *
 * Every function works on a caller-supplied buffer with an explicit 16-bit size, keeps no state,
 * allocates nothing and may be called from any thread. Results are the codec result codes of
 * codec/snmp_types.h (0 success, negative on failure). Encoders report the bytes written, decoders
 * the bytes consumed; a decoder's consumed count covers the whole element (tag, length octets and the
 * declared content), even where only part of the content could be stored. */
#ifndef VEK_CODEC_SNMP_BER_H
#define VEK_CODEC_SNMP_BER_H

#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Largest encodings of single elements, used to size work areas and checks. */
#define SNMP_BER_MAX_LENGTH_OCTETS 3u /* 0x82 and two octets */
#define SNMP_BER_MAX_HEADER_LEN 4u    /* tag and the longest length field */
#define SNMP_BER_MAX_BASE128_LEN 5u   /* octets of one 32-bit sub-identifier */
#define SNMP_BER_COUNTER64_LEN 10u    /* 46 08 and eight octets */
/* An encoded variable binding never exceeds this: an OID of SNMP_MAX_OID_LEN arcs with 5-octet
 * sub-identifiers and a 300-byte OCTET STRING, each with its header, under the binding's SEQUENCE
 * header. */
#define SNMP_BER_MAX_VARBIND_LEN                                                      \
    (SNMP_BER_MAX_HEADER_LEN +                                                        \
     (SNMP_BER_MAX_HEADER_LEN + (SNMP_MAX_OID_LEN - 1u) * SNMP_BER_MAX_BASE128_LEN) + \
     (SNMP_BER_MAX_HEADER_LEN + SNMP_MAX_OCTETS))
/* Capacity used when a binding's OCTET STRING value is decoded; a longer value refuses the binding. */
#define SNMP_BER_VARBIND_OCTETS_CAPACITY SNMP_MAX_OCTETS

/* ---- Sizes of encodings (exact; the encoders below write these many bytes) ---- */
/* Length octets needed for a content length: 1, 2 or 3. */
uint16_t snmp_ber_length_octets(uint16_t length);
/* Whole INTEGER element (tag, length, minimal two's-complement content). */
uint16_t snmp_ber_integer_len(int32_t value);
/* Whole TimeTicks element. */
uint16_t snmp_ber_timeticks_len(uint32_t value);
/* Whole element of `content_len` bytes under a one-byte tag; 0 when it would exceed 65535 bytes. */
uint16_t snmp_ber_element_len(uint32_t content_len);
/* Whole OBJECT IDENTIFIER element into `len`; SNMP_ERR_OID for fewer than 2 or more than 32 arcs. */
int32_t snmp_ber_oid_len(const snmp_oid *oid, uint16_t *len);

/* ---- Single elements ---- */
int32_t snmp_ber_encode_length(uint8_t *buf, uint16_t size, uint16_t length, uint16_t *out_octets);
int32_t snmp_ber_decode_length(const uint8_t *buf, uint16_t available, uint16_t *length,
                               uint16_t *out_octets);
/* Base-128 form of one sub-identifier; returns the octets written, 0 when it does not fit. */
uint16_t snmp_ber_encode_base128(uint32_t value, uint8_t *buf, uint16_t size);

int32_t snmp_ber_encode_integer(uint8_t *buf, uint16_t size, int32_t value, uint16_t *written);
int32_t snmp_ber_decode_integer(const uint8_t *buf, uint16_t available, int32_t *value, uint16_t *consumed);
int32_t snmp_ber_encode_counter64(uint8_t *buf, uint16_t size, uint64_t value, uint16_t *written);
int32_t snmp_ber_decode_counter64(const uint8_t *buf, uint16_t available, uint64_t *value,
                                  uint16_t *consumed);
int32_t snmp_ber_encode_timeticks(uint8_t *buf, uint16_t size, uint32_t value, uint16_t *written);
int32_t snmp_ber_decode_timeticks(const uint8_t *buf, uint16_t available, uint32_t *value,
                                  uint16_t *consumed);
int32_t snmp_ber_encode_oid(uint8_t *buf, uint16_t size, const snmp_oid *oid, uint16_t *written);
int32_t snmp_ber_decode_oid(const uint8_t *buf, uint16_t available, snmp_oid *oid, uint16_t *consumed);
int32_t snmp_ber_encode_string(uint8_t *buf, uint16_t size, const uint8_t *data, uint16_t data_len,
                               uint16_t *written);
/* Copies at most `capacity` bytes of the string into `out` (no terminating zero) and stores that count
 * in `copied`; `consumed` always covers the whole element. A declared length running past `available`
 * gives SNMP_ERR_MALFORMED. */
int32_t snmp_ber_decode_string(const uint8_t *buf, uint16_t available, uint8_t *out, uint16_t capacity,
                               uint16_t *copied, uint16_t *consumed);
int32_t snmp_ber_encode_sequence_header(uint8_t *buf, uint16_t size, uint16_t content_len,
                                        uint16_t *header_len);
int32_t snmp_ber_decode_sequence_header(const uint8_t *buf, uint16_t available, uint16_t *content_len,
                                        uint16_t *header_len);

/* ---- Variable bindings, PDUs and messages (version: 0 v1, 1 v2c, 3 v3) ---- */
int32_t snmp_ber_encode_varbind(uint8_t *buf, uint16_t size, const snmp_varbind *vb, uint32_t version,
                                uint16_t *written);
int32_t snmp_ber_decode_varbind(const uint8_t *buf, uint16_t available, snmp_varbind *vb, uint32_t version,
                                uint16_t *consumed);
/* Reads the outer SEQUENCE header and the version INTEGER; `consumed` covers both. */
int32_t snmp_ber_peek_version(const uint8_t *buf, uint16_t available, uint8_t *version, uint16_t *consumed);
int32_t snmp_ber_encode_snmp_pdu(uint8_t *buf, uint16_t size, const snmp_pdu *pdu, uint32_t version,
                                 uint16_t *written);
int32_t snmp_ber_decode_snmp_pdu(const uint8_t *buf, uint16_t available, uint32_t version, snmp_pdu *pdu,
                                 uint16_t *consumed);
/* `user` is required for version 3 and ignored otherwise. `msg` is written to only by the v3 branch,
 * which records the positions of the security parameters and the scoped PDU. */
int32_t snmp_ber_encode_snmp_message(uint8_t *buf, uint16_t size, const snmp_v3_user *user, snmp_message *msg,
                                     uint16_t *out_len);
int32_t snmp_ber_decode_snmp_message(const uint8_t *buf, uint16_t available, snmp_message *msg,
                                     uint16_t *consumed);

/* ---- SNMPv3 framing, provided by codec/snmpv3_ber.cpp (internal to the codec) ----
 * Encode: the whole v3 message for `msg` (version 3), `user` non-null; fills the recorded offsets of
 * `msg` and stores the total length in `out_len`.
 * Decode: continues a received v3 message after its version INTEGER. `buf` is the start of the
 * message, `len` the end of the outer SEQUENCE (header + content, already checked to be present) and
 * `offset_after_version` the position right behind the version INTEGER; offsets recorded in `msg` are
 * absolute in `buf`, and `consumed` is the position reached (outer header + content used). */
int32_t snmp_ber_encode_v3_message(uint8_t *buf, uint16_t size, const snmp_v3_user *user, snmp_message *msg,
                                   uint16_t *out_len);
int32_t snmp_ber_decode_v3_message(const uint8_t *buf, uint16_t len, uint16_t offset_after_version,
                                   snmp_message *msg, uint16_t *consumed);

#ifdef __cplusplus
}
#endif

#endif
