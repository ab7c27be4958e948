// Encoder of SNMPv3 answers: plaintext message first, then the scoped PDU replaced by its
// encryption, then the authentication parameter over the final message.
#include "codec/snmpv3_reply.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/snmp_ber.h"
#include "codec/snmpv3_crypto.h"

namespace {

constexpr uint16_t kTlvHeaderLen = 2;  // tag and one length octet of the authentication parameter
// Room for an encrypted scoped PDU: a whole message, one block of padding and the privacy parameter.
constexpr size_t kCipherRoom = SNMP_MAX_MSG_SIZE + SNMP_V3_MAX_BLOCK_SIZE + SNMP_PRIV_PARAM_SIZE;

using CipherArea = std::array<uint8_t, kCipherRoom>;

snmp_message reply_message(const snmp_message &reply, const snmp_v3_user &user, uint8_t auth_proto,
                           uint8_t priv_proto, uint8_t reportable) {
    snmp_message msg{};
    msg.version = SNMP_VERSION_3;
    msg.msg_id = reply.msg_id;
    msg.msg_flags = static_cast<uint8_t>((auth_proto != SNMP_V3_AUTH_NONE ? SNMP_V3_FLAG_AUTH : 0u) |
                                         (priv_proto != SNMP_V3_PRIV_NONE ? SNMP_V3_FLAG_PRIV : 0u) | reportable);
    snmp_v3_usm &usm = msg.usm;
    usm.user_len = std::min<uint8_t>(user.user_len, SNMP_MAX_COMMUNITY_LEN);
    std::memcpy(usm.username, user.username, usm.user_len);
    usm.auth_proto = auth_proto;
    usm.priv_proto = priv_proto;
    usm.engine_id_len = std::min<uint16_t>(reply.usm.engine_id_len, SNMP_ENGINE_ID_SIZE);
    std::memcpy(usm.engine_id, reply.usm.engine_id, usm.engine_id_len);
    usm.engine_boots = reply.usm.engine_boots;
    usm.engine_time = reply.usm.engine_time;
    // Reserves the parameter's place; its value is computed over the finished message.
    usm.auth_param_len = snmpv3_get_auth_param_length(auth_proto);
    msg.pdu = reply.pdu;
    return msg;
}

snmp_v3_user encoder_user(const snmp_v3_user &user, const snmp_message &msg) {
    snmp_v3_user record = user;
    record.enabled = 1;
    record.auth_proto = msg.usm.auth_proto;
    record.priv_proto = msg.usm.priv_proto;
    return record;
}

// Replaces the plaintext scoped PDU, which ends the message, by the OCTET STRING of its encryption and
// rewrites the outer header for the new length.
int32_t encrypt_scoped_pdu(uint8_t *buf, uint16_t capacity, uint16_t &total, snmp_message &msg,
                           const snmp_v3_user &user) {
    const uint16_t scoped_at = msg.scoped_pdu_type_offset;
    uint16_t old_content = 0;
    uint16_t old_header = 0;
    if (scoped_at == 0 || scoped_at >= total ||
        snmp_ber_decode_sequence_header(buf, total, &old_content, &old_header) != SNMP_OK ||
        scoped_at < old_header) {
        return SNMP_ERR_MALFORMED;
    }
    CipherArea cipher;  // written by the encryption before it is read
    CipherArea work;
    auto cipher_len = static_cast<uint16_t>(cipher.size());
    if (snmp_v3_encrypt_pdu(buf + scoped_at, static_cast<uint16_t>(total - scoped_at), &msg.usm,
                            user.priv_key, user.priv_key_len, cipher.data(), &cipher_len, work.data(),
                            static_cast<uint16_t>(work.size())) != 1 ||
        cipher_len == 0) {
        return SNMP_ERR_PRIV;
    }
    const auto prefix_len = static_cast<uint16_t>(scoped_at - old_header);
    const uint16_t wrapped_len = snmp_ber_element_len(cipher_len);
    const uint32_t new_content = static_cast<uint32_t>(prefix_len) + wrapped_len;
    const uint16_t new_total = new_content > UINT16_MAX ? 0 : snmp_ber_element_len(new_content);
    if (wrapped_len == 0 || new_total == 0 || new_total > capacity) {
        return SNMP_ERR_NO_ROOM;
    }
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> prefix{};
    std::memcpy(prefix.data(), buf + old_header, prefix_len);
    uint16_t header = 0;
    int32_t ret = snmp_ber_encode_sequence_header(buf, capacity, static_cast<uint16_t>(new_content), &header);
    if (ret != SNMP_OK) {
        return ret;
    }
    std::memcpy(buf + header, prefix.data(), prefix_len);
    const auto data_at = static_cast<uint16_t>(header + prefix_len);
    uint16_t written = 0;
    ret = snmp_ber_encode_string(buf + data_at, static_cast<uint16_t>(capacity - data_at), cipher.data(),
                                 cipher_len, &written);
    if (ret != SNMP_OK) {
        return ret;
    }
    total = static_cast<uint16_t>(data_at + written);
    if (msg.usm.auth_param_offset != 0) {
        msg.usm.auth_param_offset = static_cast<uint16_t>(msg.usm.auth_param_offset + header - old_header);
    }
    return SNMP_OK;
}

// Writes the HMAC of the final message into its reserved authentication parameter.
int32_t authenticate(uint8_t *buf, uint16_t total, const snmp_message &msg, const snmp_v3_user &user) {
    const uint16_t at = msg.usm.auth_param_offset;
    const uint16_t len = msg.usm.auth_param_len;
    if (at == 0 || len > SNMP_AUTH_PARAM_SIZE || static_cast<uint32_t>(at) + kTlvHeaderLen + len > total ||
        buf[at] != SNMP_TAG_OCTET_STRING || buf[at + 1] != len) {
        return SNMP_ERR_MALFORMED;
    }
    std::array<uint8_t, SNMP_AUTH_PARAM_SIZE> param{};
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> work{};
    if (snmp_v3_gen_auth_param(&msg.usm, user.auth_key, user.auth_key_len, buf, total, param.data(),
                               work.data(), static_cast<uint16_t>(work.size())) != 1) {
        return SNMP_ERR_AUTH;
    }
    std::memcpy(buf + at + kTlvHeaderLen, param.data(), len);
    return SNMP_OK;
}

// The whole message at the caller's security level; reportable is SNMP_V3_FLAG_REPORTABLE or 0.
int32_t encode_secured(const snmp_message *reply, const snmp_v3_user *user, uint8_t auth_proto, uint8_t priv_proto,
                       uint8_t reportable, uint8_t *out, uint16_t *out_len) {
    if (reply == nullptr || user == nullptr || out == nullptr || out_len == nullptr || *out_len == 0) {
        return SNMP_ERR_NULL;
    }
    if (auth_proto != SNMP_V3_AUTH_NONE && (user->auth_key_len == 0 || user->auth_key_len > SNMP_KEY_SIZE)) {
        return SNMP_ERR_AUTH;
    }
    if (priv_proto != SNMP_V3_PRIV_NONE && (user->priv_key_len == 0 || user->priv_key_len > SNMP_KEY_SIZE)) {
        return SNMP_ERR_PRIV;
    }
    const auto capacity = std::min<uint16_t>(*out_len, SNMP_MAX_MSG_SIZE);
    snmp_message msg = reply_message(*reply, *user, auth_proto, priv_proto, reportable);
    if (priv_proto != SNMP_V3_PRIV_NONE && snmpv3_crypto_gen_full_iv(&msg.usm) != 1) {
        return SNMP_ERR_PRIV;
    }
    const snmp_v3_user record = encoder_user(*user, msg);
    uint16_t total = 0;
    int32_t ret = snmp_ber_encode_snmp_message(out, capacity, &record, &msg, &total);
    if (ret == SNMP_OK && priv_proto != SNMP_V3_PRIV_NONE) {
        ret = encrypt_scoped_pdu(out, capacity, total, msg, *user);
    }
    if (ret == SNMP_OK && auth_proto != SNMP_V3_AUTH_NONE) {
        ret = authenticate(out, total, msg, *user);
    }
    if (ret != SNMP_OK) {
        return ret;
    }
    *out_len = total;
    return SNMP_OK;
}

}  // namespace

extern "C" {

int32_t snmp_v3_encode_reply(const snmp_message *reply, const snmp_v3_user *user, uint8_t auth_proto,
                             uint8_t priv_proto, uint8_t *out, uint16_t *out_len) {
    // An answer is never reportable: only its security level is flagged.
    return encode_secured(reply, user, auth_proto, priv_proto, 0, out, out_len);
}

int32_t snmp_v3_encode_notification(const snmp_message *msg, const snmp_v3_user *user, uint8_t auth_proto,
                                    uint8_t priv_proto, uint8_t confirmed, uint8_t *out, uint16_t *out_len) {
    return encode_secured(msg, user, auth_proto, priv_proto, confirmed != 0 ? SNMP_V3_FLAG_REPORTABLE : 0u, out,
                          out_len);
}

}  // extern "C"
