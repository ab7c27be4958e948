// Adapter between the manager library's public records and the SNMP codec's records: OID text,
// varbind conversion both ways, request encoding (v1/v2c, v3, v3 discovery), datagram decoding,
// algorithm and command mappings, and SNMPv3 key generation.
//
// Every work area is a fixed-size stack buffer; nothing on the request or receive path allocates.

#include "nms/snmp_adapter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <span>
#include <string_view>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "codec/snmp_ber.h"
#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_crypto.h"

namespace {

constexpr int kSuccess = 1;
constexpr int kFailure = 0;

constexpr uint32_t kMaxCodecSize = UINT16_MAX;                // codec sizes are 16-bit
constexpr uint32_t kMaxErrorIndex = UINT8_MAX;                // adapter_msg.error_index is one byte
constexpr size_t kSubIdTextSize = 11;                         // "4294967295" and the terminator
constexpr uint32_t kApiOctetsMax = API_SNMP_VALUE_SIZE - 1u;  // received strings stay NUL-terminated
constexpr std::string_view kUnknownTypeText = API_SNMP_UNKNOWN_TYPE_TEXT;

static_assert(API_SNMP_VALUE_SIZE <= SNMP_MAX_OCTETS, "an API string value always fits a codec value");
static_assert(ADAPTER_MAX_VARBINDS <= SNMP_MAX_VARBINDS, "a request fits a codec PDU");
static_assert(ADAPTER_MAX_VARBINDS <= SNMP_V3_CMD_MAX_VARBINDS, "a request fits the v3 command encoder");
static_assert(kUnknownTypeText.size() < API_SNMP_VALUE_SIZE, "the unknown-type text fits a value");
static_assert(SNMP_MAX_COMMUNITY_LEN < ADAPTER_COMMUNITY_SIZE, "a received community stays terminated");

using MessageBuffer = std::array<uint8_t, SNMP_MAX_MSG_SIZE>;

// ---- Fixed tables ----

struct CmdOp {
    uint32_t cmd;
    uint32_t op;
};

// Commands a request may carry and the codec operations they are encoded as.
constexpr std::array<CmdOp, 6> kCmdToOp{{
    {API_SNMP_CMD_GET, SNMP_OP_GET},
    {API_SNMP_CMD_GETNEXT, SNMP_OP_GETNEXT},
    {API_SNMP_CMD_SET, SNMP_OP_SET},
    {API_SNMP_CMD_TRAP, SNMP_OP_TRAP},
    {API_SNMP_CMD_RESPONSE, SNMP_OP_GET_RESPONSE},
    {API_SNMP_CMD_GETBULK, SNMP_OP_GETBULK},
}};

// Received codec operations and the command reported for them (an INFORM reports as a response).
constexpr std::array<CmdOp, 8> kOpToCmd{{
    {API_SNMP_CMD_GET, SNMP_OP_GET},
    {API_SNMP_CMD_GETNEXT, SNMP_OP_GETNEXT},
    {API_SNMP_CMD_RESPONSE, SNMP_OP_GET_RESPONSE},
    {API_SNMP_CMD_SET, SNMP_OP_SET},
    {API_SNMP_CMD_GETBULK, SNMP_OP_GETBULK},
    {API_SNMP_CMD_TRAP, SNMP_OP_TRAP},
    {API_SNMP_CMD_RESPONSE, SNMP_OP_INFORM},
    {API_SNMP_CMD_REPORT, SNMP_OP_REPORT},
}};

// Codec privacy protocol indexed by the API privacy number of the system's own scheme; the standard
// scheme's numbers are the codec's own (checked below).
constexpr std::array<uint8_t, 6> kPrivApiToProto{
    SNMP_V3_PRIV_NONE,    // API_SNMP_PRIV_NONE
    SNMP_V3_PRIV_DES,     // API_SNMP_PRIV_DES
    SNMP_V3_PRIV_AES128,  // API_SNMP_PRIV_AES128
    SNMP_V3_PRIV_3DES,    // API_SNMP_PRIV_3DES
    SNMP_V3_PRIV_AES192,  // API_SNMP_PRIV_AES192
    SNMP_V3_PRIV_AES256,  // API_SNMP_PRIV_AES256
};

static_assert(API_SNMP_AUTH_STD_MD5 == SNMP_V3_AUTH_STD_MD5 && API_SNMP_AUTH_STD_SHA512 == SNMP_V3_AUTH_STD_SHA512 &&
                  API_SNMP_PRIV_STD_DES == SNMP_V3_PRIV_STD_DES &&
                  API_SNMP_PRIV_STD_AES256C == SNMP_V3_PRIV_CODE_MAX,
              "the standard scheme's API numbers are the codec's");

struct TagType {
    uint8_t tag;
    uint8_t api_type;
};

constexpr uint8_t kTagUInteger32 = 0x47u;  // UInteger32 as it may be received

// Received BER tags that have an api_snmp_type code.
constexpr std::array<TagType, 13> kTagToApiType{{
    {SNMP_TAG_INTEGER, API_SNMP_BER_INTEGER},
    {SNMP_TAG_OCTET_STRING, API_SNMP_BER_OCTET_STRING},
    {SNMP_TAG_NULL, API_SNMP_BER_NULL},
    {SNMP_TAG_OID, API_SNMP_BER_OID},
    {SNMP_TAG_IPADDRESS, API_SNMP_BER_IPADDRESS},
    {SNMP_TAG_COUNTER32, API_SNMP_BER_COUNTER32},
    {SNMP_TAG_GAUGE32, API_SNMP_BER_GAUGE32},
    {SNMP_TAG_TIMETICKS, API_SNMP_BER_TIMETICKS},
    {SNMP_TAG_COUNTER64, API_SNMP_BER_COUNTER64},
    {kTagUInteger32, API_SNMP_BER_UINTEGER32},
    {SNMP_TAG_NO_SUCH_OBJECT, API_SNMP_BER_NO_SUCH_OBJECT},
    {SNMP_TAG_NO_SUCH_INSTANCE, API_SNMP_BER_NO_SUCH_INSTANCE},
    {SNMP_TAG_END_OF_MIB_VIEW, API_SNMP_BER_END_OF_MIB_VIEW},
}};

struct TypeText {
    uint8_t api_type;
    std::string_view text;
};

// Value texts of the received types whose value is a fixed text.
constexpr std::array<TypeText, 3> kExceptionTexts{{
    {API_SNMP_BER_NO_SUCH_OBJECT, API_SNMP_NO_SUCH_OBJECT_TEXT},
    {API_SNMP_BER_NO_SUCH_INSTANCE, API_SNMP_NO_SUCH_INSTANCE_TEXT},
    {API_SNMP_BER_END_OF_MIB_VIEW, API_SNMP_END_OF_MIB_VIEW_TEXT},
}};
static_assert(std::all_of(kExceptionTexts.begin(), kExceptionTexts.end(),
                          [](const TypeText &e) { return e.text.size() < API_SNMP_VALUE_SIZE; }),
              "the exception texts fit a value");

// ---- Small helpers ----

// Length of a text field that may lack its terminator (at most capacity).
size_t bounded_len(const char *text, size_t capacity) {
    return text == nullptr ? 0 : strnlen(text, capacity);
}

uint16_t codec_size(uint32_t size) {
    return static_cast<uint16_t>(std::min(size, kMaxCodecSize));
}

bool is_decimal(std::string_view token) {
    return std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parse_sub_id(std::string_view token, uint32_t &value) {
    auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value, 10);
    return ec == std::errc{} && end == token.data() + token.size();
}

// Copies at most SNMP_MAX_COMMUNITY_LEN bytes of the text into the codec's community field.
void set_community(snmp_v3_usm &usm, const char *text) {
    size_t len = bounded_len(text, SNMP_MAX_COMMUNITY_LEN);
    if (len > 0) {
        std::memcpy(usm.username, text, len);
    }
    usm.user_len = static_cast<uint8_t>(len);
}

// Printable length of a request varbind's OID field (it may lack its terminator).
int oid_text_len(const api_snmp_varbind &vb) {
    return static_cast<int>(bounded_len(vb.oid, API_SNMP_OID_SIZE));
}

bool varbind_args_ok(const api_snmp_varbind *varbinds, uint8_t count) {
    return count <= ADAPTER_MAX_VARBINDS && (count == 0 || varbinds != nullptr);
}

// api_snmp_type of a received BER tag.
uint8_t snmp_ber_type_to_api(uint8_t tag) {
    for (const auto &entry : kTagToApiType) {
        if (entry.tag == tag) {
            return entry.api_type;
        }
    }
    AGENT_LOG(AGENT_LOG_WARN, "%s: 未知协议库类型0x%02X，返回API_SNMP_BER_UNKNOWN", __func__,
              static_cast<unsigned>(tag));
    return API_SNMP_BER_UNKNOWN;
}

// An IpAddress travels as its four octets, first octet first; the API holds it as a number with the
// first octet in the most significant byte.
constexpr uint16_t kIpv4Octets = 4;
constexpr unsigned kOctetBits = 8;

uint32_t ip_octets_to_u32(const uint8_t *octets) {
    uint32_t value = 0;
    for (uint16_t i = 0; i < kIpv4Octets; ++i) {
        value = (value << kOctetBits) | octets[i];
    }
    return value;
}

void u32_to_ip_octets(uint32_t value, uint8_t *octets) {
    for (uint16_t i = kIpv4Octets; i-- > 0;) {
        octets[i] = static_cast<uint8_t>(value);
        value >>= kOctetBits;
    }
}

// Value of one received binding into an API varbind whose type is already set.
std::string_view exception_text(uint8_t api_type) {
    const auto *it = std::find_if(kExceptionTexts.begin(), kExceptionTexts.end(),
                                  [api_type](const TypeText &e) { return e.api_type == api_type; });
    return it != kExceptionTexts.end() ? it->text : std::string_view{};
}

// A fixed text as the value of a received varbind (the value field was cleared, so it stays
// terminated).
void store_text(api_snmp_varbind &api_vb, std::string_view text) {
    std::memcpy(api_vb.value.str, text.data(), text.size());
    api_vb.value_len = static_cast<uint16_t>(text.size());
}

bool convert_value_to_api(const snmp_varbind &codec_vb, api_snmp_varbind &api_vb, int ordinal) {
    switch (api_vb.type) {
        case API_SNMP_BER_INTEGER:
            api_vb.value.i32 = codec_vb.value.integer;
            break;
        case API_SNMP_BER_IPADDRESS:
            api_vb.value.u32 = ip_octets_to_u32(codec_vb.value.octets);
            break;
        case API_SNMP_BER_UINTEGER32:
        case API_SNMP_BER_COUNTER32:
        case API_SNMP_BER_GAUGE32:
        case API_SNMP_BER_TIMETICKS:
            api_vb.value.u32 = static_cast<uint32_t>(codec_vb.value.integer);
            break;
        case API_SNMP_BER_OCTET_STRING: {
            uint32_t len = std::min<uint32_t>(codec_vb.value_len, SNMP_MAX_OCTETS);
            if (len > kApiOctetsMax) {
                AGENT_LOG(AGENT_LOG_WARN, "%s: 第%d个字符串值截断（原长%d → 最大支持%d）",
                          "convert_varbinds_common", ordinal, static_cast<int>(len),
                          static_cast<int>(kApiOctetsMax));
                len = kApiOctetsMax;
            }
            std::memcpy(api_vb.value.bytes, codec_vb.value.octets, len);
            api_vb.value_len = static_cast<uint16_t>(len);
            break;
        }
        case API_SNMP_BER_NULL:
            break;
        case API_SNMP_BER_OID:
            if (!adapter_snmp_oid_to_str(&codec_vb.value.oid_value, api_vb.value.str, API_SNMP_VALUE_SIZE)) {
                AGENT_LOG(AGENT_LOG_ERROR, "%s: 第%d个OID值转换失败", "convert_varbinds_common", ordinal);
                return false;
            }
            api_vb.value_len = static_cast<uint16_t>(std::strlen(api_vb.value.str));
            break;
        case API_SNMP_BER_COUNTER64:
            api_vb.value.u64 = codec_vb.value.counter64;
            break;
        case API_SNMP_BER_NO_SUCH_OBJECT:
        case API_SNMP_BER_NO_SUCH_INSTANCE:
        case API_SNMP_BER_END_OF_MIB_VIEW:
            store_text(api_vb, exception_text(api_vb.type));
            break;
        default:
            AGENT_LOG(AGENT_LOG_WARN, "%s: 不支持的类型（0x%02X）", "convert_varbinds_common",
                      static_cast<unsigned>(codec_vb.type));
            store_text(api_vb, kUnknownTypeText);
            break;
    }
    return true;
}

// Value of an API varbind into a codec binding whose type is already set. False for a type the
// adapter does not send.
bool convert_value_to_codec(const api_snmp_varbind &api_vb, snmp_varbind &codec_vb) {
    switch (api_vb.type) {
        case API_SNMP_BER_INTEGER:
            codec_vb.value.integer = api_vb.value.i32;
            return true;
        case API_SNMP_BER_OCTET_STRING:
            if (api_vb.value_len > API_SNMP_VALUE_SIZE) {
                // The API field holds 256 bytes: a larger length would read past it.
                AGENT_LOG(AGENT_LOG_ERROR, "%s: 字符串长度无效（%d字节，最大%d字节）",
                          "adapter_varbind_to_snmp", static_cast<int>(api_vb.value_len),
                          static_cast<int>(API_SNMP_VALUE_SIZE));
                return false;
            }
            std::memcpy(codec_vb.value.octets, api_vb.value.bytes, api_vb.value_len);
            codec_vb.value_len = api_vb.value_len;
            return true;
        case API_SNMP_BER_NULL:
            return true;
        case API_SNMP_BER_OID: {
            std::array<char, API_SNMP_VALUE_SIZE + 1> text{};  // the value field may lack a terminator
            std::memcpy(text.data(), api_vb.value.str, API_SNMP_VALUE_SIZE);
            if (!adapter_oid_str_to_snmp_oid(text.data(), &codec_vb.value.oid_value)) {
                AGENT_LOG(AGENT_LOG_ERROR, "%s: OID值转换失败（字符串：%s）", "adapter_varbind_to_snmp",
                          text.data());
                return false;
            }
            return true;
        }
        case API_SNMP_BER_IPADDRESS:
            u32_to_ip_octets(api_vb.value.u32, codec_vb.value.octets);
            codec_vb.value_len = kIpv4Octets;
            return true;
        case API_SNMP_BER_UINTEGER32:
        case API_SNMP_BER_COUNTER32:
        case API_SNMP_BER_GAUGE32:
            codec_vb.value.integer = static_cast<int32_t>(api_vb.value.u32);
            return true;
        case API_SNMP_BER_COUNTER64:
            codec_vb.value.counter64 = api_vb.value.u64;
            return true;
        default:
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 不支持的变量类型: 0x%02X（OID：%s）", "adapter_varbind_to_snmp",
                      static_cast<unsigned>(api_vb.type), api_vb.oid);
            return false;
    }
}

uint8_t saturate_error_index(uint32_t index) {
    return static_cast<uint8_t>(std::min(index, kMaxErrorIndex));
}

// Encodes a v1/v2c message into a full-size work area and copies it out, so that a caller buffer
// that is too small is told apart from a message that cannot be encoded at all.
api_snmp_err encode_v1v2_message(const char *fn, snmp_message &msg, uint8_t *buffer,
                                 uint32_t *length_in_out) {
    MessageBuffer work;  // written by the encoder before it is read
    uint16_t len = 0;
    int32_t rc =
        snmp_ber_encode_snmp_message(work.data(), static_cast<uint16_t>(work.size()), nullptr, &msg, &len);
    if (rc != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 编码失败（错误码：%d）", fn, static_cast<int>(rc));
        return API_SNMP_ERR_ENCODE;
    }
    if (len > *length_in_out) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 缓冲区不足（需要：%d字节）", fn, static_cast<int>(len));
        return API_SNMP_ERR_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, work.data(), len);
    *length_in_out = len;
    AGENT_LOG(AGENT_LOG_INFO, "%s: 编码成功（使用：%d字节）", fn, static_cast<int>(len));
    return API_SNMP_OK;
}

// Bytes of the community as it stands on the wire, up to one more than the codec keeps: tells
// whether the decoder had to cut it.
bool community_was_cut(const uint8_t *data, uint16_t len) {
    uint8_t version = 0;
    uint16_t header = 0;
    if (snmp_ber_peek_version(data, len, &version, &header) != SNMP_OK || header >= len) {
        return false;
    }
    std::array<uint8_t, SNMP_MAX_COMMUNITY_LEN + 1u> probe{};
    uint16_t copied = 0;
    uint16_t consumed = 0;
    int32_t rc = snmp_ber_decode_string(data + header, static_cast<uint16_t>(len - header), probe.data(),
                                        static_cast<uint16_t>(probe.size()), &copied, &consumed);
    return rc == SNMP_OK && copied > SNMP_MAX_COMMUNITY_LEN;
}

void fill_v1v2_header(const snmp_message &codec, const uint8_t *data, uint16_t len, adapter_msg &msg) {
    msg.request_id = static_cast<uint32_t>(codec.pdu.request_id);
    uint8_t community_len = std::min<uint8_t>(codec.usm.user_len, SNMP_MAX_COMMUNITY_LEN);
    std::memcpy(msg.community, codec.usm.username, community_len);
    msg.community[community_len] = '\0';
    msg.community_len = community_len;
    msg.community_truncated = community_was_cut(data, len) ? 1 : 0;
}

void fill_v3_header(const snmp_message &codec, adapter_msg &msg) {
    const snmp_v3_usm &usm = codec.usm;
    msg.request_id = codec.msg_id;
    std::memcpy(msg.auth_param, usm.auth_param, sizeof msg.auth_param);
    uint8_t user_len = std::min<uint8_t>(usm.user_len, ADAPTER_USER_NAME_SIZE - 1u);
    std::memcpy(msg.user_name, usm.username, user_len);
    msg.user_name[user_len] = '\0';
    auto engine_len = static_cast<uint8_t>(std::min<uint16_t>(usm.engine_id_len, ADAPTER_ENGINE_ID_SIZE));
    std::memcpy(msg.engine_id, usm.engine_id, engine_len);
    msg.engine_id_len = engine_len;
    msg.engine_boots = usm.engine_boots;
    msg.engine_time = usm.engine_time;
    msg.msg_flags = codec.msg_flags;
    msg.auth_param_offset = codec.auth_param_abs_offset;
    msg.encrypted = codec.encrypted_pdu;
    msg.encrypted_len = codec.encrypted_pdu_len;
}

// ---- Key generation, shared by the authentication and the privacy key ----

struct KeyRequest {
    const char *fn;
    bool is_auth;
    const adapter_v3_key_params *params;
    const uint8_t *password;
    uint32_t password_len;
    uint8_t *key_out;
    uint16_t *key_len;
    uint16_t key_max;
};

bool key_request_valid(const KeyRequest &r) {
    if (r.params == nullptr || r.password == nullptr || r.password_len == 0 || r.key_out == nullptr ||
        r.key_len == nullptr || r.key_max == 0) {
        AGENT_LOG(AGENT_LOG_ERROR,
                  "%s: 无效参数（params=%p, password=%p, 密码长度=%u, key=%p, key_len=%p, 最大长度=%u）",
                  r.fn, static_cast<const void *>(r.params), static_cast<const void *>(r.password),
                  r.password_len, static_cast<const void *>(r.key_out), static_cast<const void *>(r.key_len),
                  static_cast<unsigned>(r.key_max));
        return false;
    }
    if (r.password_len > ADAPTER_MAX_PASSWORD_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 密码过长（%u字节，最大%u字节）", r.fn, r.password_len,
                  ADAPTER_MAX_PASSWORD_LEN);
        return false;
    }
    if (r.params->engine_id_len > ADAPTER_ENGINE_ID_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 引擎ID长度超限（实际：%d，最大：%d）", r.fn,
                  static_cast<int>(r.params->engine_id_len), static_cast<int>(ADAPTER_ENGINE_ID_SIZE));
        return false;
    }
    return true;
}

int generate_key(const KeyRequest &r) {
    if (!key_request_valid(r)) {
        return kFailure;
    }
    *r.key_len = 0;
    uint32_t api_alg = r.is_auth ? r.params->auth_alg : r.params->priv_alg;
    if (api_alg == 0) {
        AGENT_LOG(AGENT_LOG_WARN,
                  r.is_auth ? "%s: 认证算法为NONE，无需生成密钥" : "%s: 加密算法为NONE，无需生成密钥", r.fn);
        return kSuccess;
    }
    uint8_t proto = r.is_auth ? adapter_auth_alg_to_proto(api_alg) : adapter_priv_alg_to_proto(api_alg);
    if (proto == 0) {
        AGENT_LOG(AGENT_LOG_ERROR,
                  r.is_auth ? "%s: 不支持的认证算法（API算法：%d）" : "%s: 不支持的加密算法（API算法：%d）",
                  r.fn, static_cast<int>(api_alg));
        return kFailure;
    }
    uint16_t needed = snmpv3_get_key_length(proto, r.is_auth ? 1 : 0);
    if (needed == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无法获取算法所需密钥长度（协议库算法：%d）", r.fn,
                  static_cast<int>(proto));
        return kFailure;
    }
    if (r.key_max < needed) {
        AGENT_LOG(AGENT_LOG_ERROR,
                  r.is_auth ? "%s: auth_key缓冲区大小不足（算法需%d字节，缓冲区最大支持%d字节）"
                            : "%s: priv_key缓冲区大小不足（算法需%d字节，缓冲区最大支持%d字节）",
                  r.fn, static_cast<int>(needed), static_cast<int>(r.key_max));
        *r.key_len = needed;
        return kFailure;
    }
    // A standard privacy key is made with the digest of the user's authentication algorithm.
    snmp_v3_usm usm{};
    usm.auth_proto = adapter_auth_alg_to_proto(r.params->auth_alg);
    usm.priv_proto = adapter_priv_alg_to_proto(r.params->priv_alg);
    std::memcpy(usm.engine_id, r.params->engine_id, r.params->engine_id_len);
    usm.engine_id_len = r.params->engine_id_len;
    usm.engine_boots = r.params->engine_boots;
    auto pass_len = static_cast<uint8_t>(r.password_len);
    int32_t ok = r.is_auth ? snmp_v3_generate_auth_key(&usm, r.password, pass_len, r.key_out, needed)
                           : snmp_v3_generate_priv_key(&usm, r.password, pass_len, r.key_out, needed);
    if (ok != 1) {
        AGENT_LOG(AGENT_LOG_ERROR,
                  r.is_auth ? "%s: 密钥生成失败（算法：%d，所需长度：%d字节）"
                            : "%s: 加密密钥生成失败（算法：%d，所需长度：%d字节）",
                  r.fn, static_cast<int>(api_alg), static_cast<int>(needed));
        return kFailure;
    }
    *r.key_len = needed;
    int remaining = static_cast<int>(r.key_max) - static_cast<int>(needed);
    if (r.is_auth) {
        AGENT_LOG(AGENT_LOG_INFO, "%s: 认证密钥生成成功（长度：%d字节，缓冲区剩余：%d字节）", r.fn,
                  static_cast<int>(needed), remaining);
    } else {
        AGENT_LOG(AGENT_LOG_INFO, "%s: 加密密钥生成成功（算法：%d，长度：%d字节，缓冲区剩余：%d字节）", r.fn,
                  static_cast<int>(api_alg), static_cast<int>(needed), remaining);
    }
    vek::log_masked_dump(r.is_auth ? "认证密钥（前8字节）" : "加密密钥（前8字节）");
    return kSuccess;
}

}  // namespace

extern "C" {

// ---- Lifecycle ----

int adapter_snmp_init(void) {
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 初始化SNMPv3安全模块", __func__);
    snmpv3_crypto_init();
    return kSuccess;
}

void adapter_snmp_deinit(void) {
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 无需释放资源", __func__);
}

// ---- OIDs ----

int adapter_oid_str_to_snmp_oid(const char *oid_str, snmp_oid *oid) {
    if (oid_str == nullptr || oid_str[0] == '\0' || oid == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效输入（oid_str=%p, snmp_oid=%p）", __func__,
                  static_cast<const void *>(oid_str), static_cast<void *>(oid));
        return kFailure;
    }
    *oid = snmp_oid{};
    size_t text_len = bounded_len(oid_str, ADAPTER_OID_TEXT_MAX + 1u);
    if (text_len > ADAPTER_OID_TEXT_MAX) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: OID字符串过长", __func__);
        return kFailure;
    }
    std::string_view text(oid_str, text_len);
    bool any_token = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t dot = std::min(text.find('.', pos), text.size());
        std::string_view token = text.substr(pos, dot - pos);
        pos = dot + 1;
        if (token.empty()) {
            continue;  // leading, doubled or trailing dot
        }
        any_token = true;
        if (!is_decimal(token)) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: OID 包含非法字符", __func__);
            return kFailure;
        }
        if (oid->len >= SNMP_MAX_OID_LEN) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: OID 太长", __func__);
            return kFailure;
        }
        uint32_t value = 0;
        if (!parse_sub_id(token, value)) {
            // A component above 4294967295 would wrap into another OID: refuse it.
            AGENT_LOG(AGENT_LOG_ERROR, "%s: OID 节点值超出范围（%.*s）", __func__,
                      static_cast<int>(token.size()), token.data());
            return kFailure;
        }
        oid->sub_ids[oid->len++] = value;
    }
    if (!any_token) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: OID 格式错误", __func__);
        return kFailure;
    }
    if (oid->len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: OID 无有效节点", __func__);
        return kFailure;
    }
    return kSuccess;
}

int adapter_snmp_oid_to_str(const snmp_oid *oid, char *buffer, uint32_t size) {
    if (oid == nullptr || oid->len == 0 || oid->len > SNMP_MAX_OID_LEN || buffer == nullptr || size == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效OID转换参数（结构体：%p，节点数：%d，缓冲区：%p，大小：%d）",
                  __func__, static_cast<const void *>(oid), oid != nullptr ? static_cast<int>(oid->len) : 0,
                  static_cast<void *>(buffer), static_cast<int>(size));
        return kFailure;
    }
    size_t used = 0;
    buffer[0] = '\0';
    for (uint8_t i = 0; i < oid->len; ++i) {
        std::array<char, kSubIdTextSize> piece{};
        auto [end, ec] = std::to_chars(piece.data(), piece.data() + piece.size(), oid->sub_ids[i]);
        (void)ec;  // ten digits always fit
        size_t piece_len = static_cast<size_t>(end - piece.data());
        size_t needed = piece_len + (i > 0 ? 1u : 0u);
        if (used + needed + 1u > size) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 缓冲区不足（当前长度：%zu，需要：%zu，总大小：%d）", __func__,
                      used, needed, static_cast<int>(size));
            return kFailure;
        }
        if (i > 0) {
            buffer[used++] = '.';
        }
        std::memcpy(buffer + used, piece.data(), piece_len);
        used += piece_len;
        buffer[used] = '\0';
    }
    return kSuccess;
}

// ---- Varbinds ----

int adapter_varbind_to_snmp(const api_snmp_varbind *api_vb, snmp_varbind *codec_vb) {
    if (api_vb == nullptr || codec_vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（api_vb=%p, snmp_vb=%p）", __func__,
                  static_cast<const void *>(api_vb), static_cast<void *>(codec_vb));
        return kFailure;
    }
    *codec_vb = snmp_varbind{};
    if (!adapter_oid_str_to_snmp_oid(api_vb->oid, &codec_vb->oid)) {
        return kFailure;
    }
    codec_vb->type = api_vb->type;
    return convert_value_to_codec(*api_vb, *codec_vb) ? kSuccess : kFailure;
}

api_snmp_err convert_varbinds_common(const snmp_varbind *codec_vbs, uint8_t count,
                                     api_snmp_varbind *api_vbs) {
    if (count > SNMP_MAX_VARBINDS || (count > 0 && (codec_vbs == nullptr || api_vbs == nullptr))) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（codec_vbs=%p, 数量=%d, api_vbs=%p）", __func__,
                  static_cast<const void *>(codec_vbs), static_cast<int>(count),
                  static_cast<void *>(api_vbs));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    std::span<const snmp_varbind> source(codec_vbs, count);
    std::span<api_snmp_varbind> target(api_vbs, count);
    for (size_t i = 0; i < source.size(); ++i) {
        const snmp_varbind &codec_vb = source[i];
        api_snmp_varbind &api_vb = target[i];
        api_vb = api_snmp_varbind{};
        int ordinal = static_cast<int>(i + 1);
        if (!adapter_snmp_oid_to_str(&codec_vb.oid, api_vb.oid, sizeof api_vb.oid)) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 第%d个OID转换失败", __func__, ordinal);
            return API_SNMP_ERR_INVALID_OID;
        }
        api_vb.type = snmp_ber_type_to_api(codec_vb.type);
        if (!convert_value_to_api(codec_vb, api_vb, ordinal)) {
            return API_SNMP_ERR_INVALID_OID;
        }
    }
    return API_SNMP_OK;
}

// ---- Mappings ----

uint8_t adapter_auth_alg_to_proto(uint32_t auth_alg) {
    return auth_alg <= API_SNMP_AUTH_STD_SHA512 ? static_cast<uint8_t>(auth_alg)
                                                : static_cast<uint8_t>(SNMP_V3_AUTH_NONE);
}

uint8_t adapter_priv_alg_to_proto(uint32_t priv_alg) {
    if (priv_alg < kPrivApiToProto.size()) {
        return kPrivApiToProto[priv_alg];
    }
    return priv_alg <= API_SNMP_PRIV_STD_AES256C ? static_cast<uint8_t>(priv_alg)
                                                 : static_cast<uint8_t>(SNMP_V3_PRIV_NONE);
}

int adapter_v3_algorithms_match(uint32_t auth_alg, uint32_t priv_alg) {
    const uint8_t auth = adapter_auth_alg_to_proto(auth_alg);
    const uint8_t priv = adapter_priv_alg_to_proto(priv_alg);
    return auth == SNMP_V3_AUTH_NONE || priv == SNMP_V3_PRIV_NONE || snmp_v3_scheme_of(auth, priv) != nullptr ? 1 : 0;
}

uint32_t snmp_operation_to_api_cmd_type(uint32_t op) {
    for (const auto &entry : kOpToCmd) {
        if (entry.op == op) {
            return entry.cmd;
        }
    }
    AGENT_LOG(AGENT_LOG_ERROR, "%s: 不支持的协议层操作类型：%d", __func__, static_cast<int>(op));
    return 0;
}

int adapter_cmd_type_to_snmp_op(uint32_t cmd_type, uint32_t *op) {
    for (const auto &entry : kCmdToOp) {
        if (entry.cmd == cmd_type) {
            if (op != nullptr) {
                *op = entry.op;
            }
            return op != nullptr ? kSuccess : kFailure;
        }
    }
    AGENT_LOG(AGENT_LOG_ERROR, "%s: 不支持的命令类型：%d", __func__, static_cast<int>(cmd_type));
    return kFailure;
}

// ---- Encoding ----

api_snmp_err adapter_snmp_cmd_encode(const adapter_agent *agent, uint32_t cmd_type, const char *user_name,
                                     const api_snmp_varbind *varbinds, uint8_t count, uint8_t *buffer,
                                     uint32_t *length_in_out) {
    if (agent == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（agent=%p）", __func__, static_cast<const void *>(agent));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 版本=%d，命令=%d，变量数=%d", __func__, static_cast<int>(agent->version),
              static_cast<int>(cmd_type), static_cast<int>(count));
    if (agent->version == API_SNMP_V3) {
        return adapter_snmp_v3_cmd_encode(agent, cmd_type, user_name, varbinds, count, buffer, length_in_out);
    }
    return adapter_snmp_v1v2_cmd_encode(agent, cmd_type, user_name, varbinds, count, buffer, length_in_out);
}

api_snmp_err adapter_snmp_v1v2_cmd_encode(const adapter_agent *agent, uint32_t cmd_type,
                                          const char *user_name, const api_snmp_varbind *varbinds,
                                          uint8_t count, uint8_t *buffer, uint32_t *length_in_out) {
    if (agent == nullptr || length_in_out == nullptr || buffer == nullptr || *length_in_out == 0 ||
        agent->version > API_SNMP_V2C) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（版本：%d，非V1/V2C）", __func__,
                  agent != nullptr ? static_cast<int>(agent->version) : -1);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 开始编码（版本：%d，命令：%d，变量数：%d）", __func__,
              static_cast<int>(agent->version), static_cast<int>(cmd_type), static_cast<int>(count));
    bool is_v1 = agent->version == API_SNMP_V1;
    if (is_v1 && cmd_type == API_SNMP_CMD_GETBULK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 版本%d不支持GET_BULK", __func__, static_cast<int>(agent->version));
        return API_SNMP_ERR_NOT_SUPPORTED;
    }
    if (!varbind_args_ok(varbinds, count)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效变量绑定（列表=%p，数量=%d）", __func__,
                  static_cast<const void *>(varbinds), static_cast<int>(count));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    snmp_message msg{};
    if (!adapter_cmd_type_to_snmp_op(cmd_type, &msg.pdu.op)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 命令类型映射失败", __func__);
        return API_SNMP_ERR_INVALID_CMD_TYPE;
    }
    msg.version = agent->version;
    msg.pdu.request_id = agent->next_request_id;
    if (cmd_type == API_SNMP_CMD_GETBULK) {
        msg.pdu.non_repeaters = agent->bulk_non_repeaters;
        msg.pdu.max_repetitions = agent->bulk_max_repetitions;
        AGENT_LOG(AGENT_LOG_INFO, "%s: GETBULK参数赋值成功 non_rep=%u, max_rep=%u", __func__,
                  msg.pdu.non_repeaters, msg.pdu.max_repetitions);
    }
    for (uint8_t i = 0; i < count; ++i) {
        const api_snmp_varbind &vb = varbinds[i];
        int ordinal = i + 1;
        if (vb.oid[0] == '\0') {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 第%d个OID为空", __func__, ordinal);
            return API_SNMP_ERR_INVALID_PARAM;
        }
        if (is_v1 && vb.type == API_SNMP_BER_COUNTER64) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: V1不支持Counter64（OID：%.*s）", __func__, oid_text_len(vb),
                      vb.oid);
            return API_SNMP_ERR_NOT_SUPPORTED;
        }
        if (!adapter_varbind_to_snmp(&vb, &msg.pdu.varbinds[i])) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 第%d个变量转换失败", __func__, ordinal);
            return API_SNMP_ERR_INVALID_PARAM;
        }
    }
    msg.pdu.varbind_count = count;
    // An acknowledgement answers with the community the INFORM came with.
    bool answer_community = cmd_type == API_SNMP_CMD_RESPONSE && user_name != nullptr && user_name[0] != '\0';
    set_community(msg.usm, answer_community ? user_name : agent->community);
    return encode_v1v2_message(__func__, msg, buffer, length_in_out);
}

api_snmp_err adapter_snmp_v3_cmd_encode(const adapter_agent *agent, uint32_t cmd_type, const char *user_name,
                                        const api_snmp_varbind *varbinds, uint8_t count, uint8_t *buffer,
                                        uint32_t *length_in_out) {
    if (buffer == nullptr || length_in_out == nullptr || agent == nullptr || *length_in_out == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（agent=%p, buffer=%p, len=%p）", __func__,
                  static_cast<const void *>(agent), static_cast<void *>(buffer),
                  static_cast<void *>(length_in_out));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (agent->version != API_SNMP_V3) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 非V3版本（当前版本：%d）", __func__,
                  static_cast<int>(agent->version));
        return API_SNMP_ERR_VERSION_MISMATCH;
    }
    if (agent->discovery_state == ADAPTER_V3_DISCOVERY_SENT) {
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 引擎发现中，改用发现流程编码", __func__);
        return adapter_snmp_v3_discover_encode(agent, cmd_type, buffer, length_in_out);
    }
    if (user_name == nullptr || user_name[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 非发现流程必须指定用户名", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    const adapter_v3_user *user = agent->user;
    if (user == nullptr || user->user_name == nullptr || std::strcmp(user->user_name, user_name) != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]不存在", __func__, user_name);
        return API_SNMP_ERR_USER_NOT_FOUND;
    }
    uint32_t op = 0;
    if (!adapter_cmd_type_to_snmp_op(cmd_type, &op)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 命令类型映射失败", __func__);
        return API_SNMP_ERR_INVALID_CMD_TYPE;
    }
    uint32_t non_repeaters = 0;
    uint32_t max_repetitions = 0;
    if (cmd_type == API_SNMP_CMD_GETBULK) {
        non_repeaters = agent->bulk_non_repeaters;
        max_repetitions = agent->bulk_max_repetitions;
        AGENT_LOG(AGENT_LOG_INFO, "%s: GET_BULK参数 non_rep=%u max_rep=%u", __func__, non_repeaters,
                  max_repetitions);
    }
    uint8_t auth_proto = adapter_auth_alg_to_proto(user->auth_alg);
    uint8_t priv_proto = adapter_priv_alg_to_proto(user->priv_alg);
    if (!varbind_args_ok(varbinds, count)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效变量绑定（列表=%p，数量=%d）", __func__,
                  static_cast<const void *>(varbinds), static_cast<int>(count));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    std::array<snmp_varbind, ADAPTER_MAX_VARBINDS> codec_vbs;  // each entry is set before it is used
    for (uint8_t i = 0; i < count; ++i) {
        if (!adapter_varbind_to_snmp(&varbinds[i], &codec_vbs[i])) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 变量绑定[%d]转换失败", __func__, static_cast<int>(i));
            return API_SNMP_ERR_INVALID_PARAM;
        }
    }
    uint16_t len = codec_size(*length_in_out);
    int32_t rc = snmp_v3_cmd_encode(op, user_name, auth_proto, priv_proto, user->auth_key, user->auth_key_len,
                                    user->priv_key, user->priv_key_len, agent->engine_id,
                                    agent->engine_id_len, agent->engine_boots, agent->engine_time,
                                    static_cast<uint32_t>(agent->next_request_id), non_repeaters,
                                    max_repetitions, codec_vbs.data(), count, buffer, &len);
    if (rc != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: V3编码失败 | 协议层错误码：%d", __func__, static_cast<int>(rc));
        return API_SNMP_ERR_ENCODE;
    }
    *length_in_out = len;
    AGENT_LOG(AGENT_LOG_INFO, "%s: V3编码完成（非发现流程）| 最终长度：%d字节", __func__,
              static_cast<int>(len));
    return API_SNMP_OK;
}

api_snmp_err adapter_snmp_v3_discover_encode(const adapter_agent *agent, uint32_t cmd_type, uint8_t *buffer,
                                             uint32_t *length_in_out) {
    if (agent == nullptr || buffer == nullptr || length_in_out == nullptr || *length_in_out == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（agent=%p, buffer=%p, len=%p）", __func__,
                  static_cast<const void *>(agent), static_cast<void *>(buffer),
                  static_cast<void *>(length_in_out));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (agent->version != API_SNMP_V3) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 非SNMPv3版本，不支持发现流程（当前版本：%d）", __func__,
                  static_cast<int>(agent->version));
        return API_SNMP_ERR_VERSION_MISMATCH;
    }
    snmp_message msg{};
    if (!adapter_cmd_type_to_snmp_op(cmd_type, &msg.pdu.op)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 命令类型映射失败", __func__);
        return API_SNMP_ERR_INVALID_CMD_TYPE;
    }
    msg.version = SNMP_VERSION_3;
    msg.msg_id = static_cast<uint32_t>(agent->next_request_id);
    msg.msg_flags = ADAPTER_V3_DISCOVERY_MSG_FLAGS;
    const snmp_v3_user no_user{};  // empty security parameters
    uint16_t len = 0;
    int32_t rc = snmp_ber_encode_snmp_message(buffer, codec_size(*length_in_out), &no_user, &msg, &len);
    if (rc != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 发现流程编码失败（NMS调用）| 错误码：%d | 缓冲区长度：%d字节",
                  __func__, static_cast<int>(rc), static_cast<int>(*length_in_out));
        return API_SNMP_ERR_ENCODE;
    }
    *length_in_out = len;
    AGENT_LOG(AGENT_LOG_INFO, "%s: 发现流程编码完成（NMS调用）| 最终消息长度：%d字节 | 消息ID：%d", __func__,
              static_cast<int>(len), static_cast<int>(msg.msg_id));
    return API_SNMP_OK;
}

api_snmp_err adapter_snmp_inform_ack_encode(const adapter_msg *inform, uint8_t *buffer,
                                            uint32_t *length_in_out) {
    if (inform == nullptr || buffer == nullptr || length_in_out == nullptr || *length_in_out == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（inform=%p, buffer=%p, len=%p）", __func__,
                  static_cast<const void *>(inform), static_cast<void *>(buffer),
                  static_cast<void *>(length_in_out));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (inform->version > API_SNMP_V2C) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 不支持的版本：%d", __func__, static_cast<int>(inform->version));
        return API_SNMP_ERR_VERSION_MISMATCH;
    }
    if (inform->pdu_op != SNMP_OP_INFORM) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 非INFORM报文（操作类型：%d）", __func__,
                  static_cast<int>(inform->pdu_op));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (inform->community_truncated != 0 || inform->community_len > SNMP_MAX_COMMUNITY_LEN) {
        // Answering with a cut community would answer for another community.
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 共同体名超长（最大%d字节），无法确认INFORM", __func__,
                  static_cast<int>(SNMP_MAX_COMMUNITY_LEN));
        return API_SNMP_ERR_ENCODE;
    }
    snmp_message msg{};
    msg.version = inform->version;
    std::memcpy(msg.usm.username, inform->community, inform->community_len);
    msg.usm.user_len = inform->community_len;
    msg.pdu.op = SNMP_OP_GET_RESPONSE;
    msg.pdu.request_id = static_cast<int32_t>(inform->request_id);
    return encode_v1v2_message(__func__, msg, buffer, length_in_out);
}

// ---- Decoding ----

api_snmp_err adapter_msg_refresh_pdu(adapter_msg *msg, const snmp_message *codec_msg) {
    if (msg == nullptr || codec_msg == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（msg=%p, module_msg=%p）", __func__,
                  static_cast<void *>(msg), static_cast<const void *>(codec_msg));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    const snmp_pdu &pdu = codec_msg->pdu;
    msg->pdu_op = pdu.op;
    msg->cmd_type = snmp_operation_to_api_cmd_type(pdu.op);
    msg->error_status = pdu.error_status;
    msg->error_index = saturate_error_index(pdu.error_index);
    auto count = static_cast<uint8_t>(std::min<uint32_t>(pdu.varbind_count, ADAPTER_MAX_VARBINDS));
    msg->var_count = 0;
    api_snmp_err rc = convert_varbinds_common(pdu.varbinds, count, msg->varbinds);
    if (rc != API_SNMP_OK) {
        return rc;
    }
    msg->var_count = count;
    return API_SNMP_OK;
}

api_snmp_err adapter_decode_snmp_msg(const void *agent, const uint8_t *data, uint32_t len,
                                     adapter_msg *msg_out, snmp_message *codec_msg_out) {
    if (agent == nullptr || data == nullptr || msg_out == nullptr || codec_msg_out == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（agent=%p, data=%p, msg=%p, module_msg=%p）", __func__,
                  agent, static_cast<const void *>(data), static_cast<void *>(msg_out),
                  static_cast<void *>(codec_msg_out));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (len == 0 || len > kMaxCodecSize) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 报文长度无效（%u字节）", __func__, len);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 开始解码（长度：%u字节）", __func__, len);
    *msg_out = adapter_msg{};
    *codec_msg_out = snmp_message{};
    auto available = static_cast<uint16_t>(len);
    uint16_t consumed = 0;
    int32_t rc = snmp_ber_decode_snmp_message(data, available, codec_msg_out, &consumed);
    if (rc != SNMP_OK) {
        // A datagram that does not decode is dropped by the caller: no louder than its own line.
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 协议层解码失败（错误码：%d）", __func__, static_cast<int>(rc));
        return API_SNMP_ERR_DECODE;
    }
    msg_out->version = codec_msg_out->version;
    msg_out->raw = data;
    msg_out->raw_len = len;
    bool encrypted = false;
    switch (codec_msg_out->version) {
        case SNMP_VERSION_1:
        case SNMP_VERSION_2C:
            fill_v1v2_header(*codec_msg_out, data, available, *msg_out);
            break;
        case SNMP_VERSION_3:
            fill_v3_header(*codec_msg_out, *msg_out);
            encrypted = (codec_msg_out->msg_flags & SNMP_V3_FLAG_PRIV) != 0;
            break;
        default:
            AGENT_LOG(AGENT_LOG_DEBUG, "%s: 不支持的版本：%d", __func__,
                      static_cast<int>(codec_msg_out->version));
            return API_SNMP_ERR_VERSION_MISMATCH;
    }
    if (encrypted) {
        // The scoped PDU is still encrypted: nothing of the PDU is known yet.
        msg_out->pdu_op = SNMP_OP_UNKNOWN;
        msg_out->cmd_type = 0;
    } else {
        api_snmp_err conv = adapter_msg_refresh_pdu(msg_out, codec_msg_out);
        if (conv != API_SNMP_OK) {
            return conv;
        }
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 解码成功（版本：%d，变量数：%d，已用长度：%d字节）", __func__,
              static_cast<int>(msg_out->version), static_cast<int>(msg_out->var_count),
              static_cast<int>(consumed));
    return API_SNMP_OK;
}

int adapter_v1v2_community_matches(const adapter_msg *msg, const char *community) {
    if (msg == nullptr || community == nullptr || msg->community_truncated != 0) {
        return 0;
    }
    snmp_v3_usm sent{};
    set_community(sent, community);
    const bool same =
        msg->community_len == sent.user_len && std::memcmp(msg->community, sent.username, sent.user_len) == 0;
    return same ? 1 : 0;
}

api_snmp_err adapter_v3_process_security(const adapter_v3_user *user, uint8_t enabled, adapter_msg *msg,
                                         snmp_message *codec_msg) {
    if (user == nullptr || user->user_name == nullptr || msg == nullptr || msg->raw == nullptr ||
        codec_msg == nullptr || codec_msg->version != SNMP_VERSION_3 || msg->raw_len > kMaxCodecSize) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（user=%p, msg=%p, module_msg=%p）", __func__,
                  static_cast<const void *>(user), static_cast<void *>(msg), static_cast<void *>(codec_msg));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    size_t name_len = bounded_len(user->user_name, ADAPTER_USER_NAME_SIZE);
    if (name_len >= ADAPTER_USER_NAME_SIZE || user->auth_key_len > SNMP_KEY_SIZE ||
        user->priv_key_len > SNMP_KEY_SIZE || (user->auth_key_len > 0 && user->auth_key == nullptr) ||
        (user->priv_key_len > 0 && user->priv_key == nullptr)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户参数无效（用户名长度：%zu，认证密钥：%d字节，加密密钥：%d字节）",
                  __func__, name_len, static_cast<int>(user->auth_key_len),
                  static_cast<int>(user->priv_key_len));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    snmp_v3_user record{};
    record.enabled = enabled;
    record.user_len = static_cast<uint8_t>(name_len);
    std::memcpy(record.username, user->user_name, name_len);
    record.auth_proto = adapter_auth_alg_to_proto(user->auth_alg);
    record.priv_proto = adapter_priv_alg_to_proto(user->priv_alg);
    if (user->auth_key_len > 0) {
        std::memcpy(record.auth_key, user->auth_key, user->auth_key_len);
    }
    record.auth_key_len = user->auth_key_len;
    if (user->priv_key_len > 0) {
        std::memcpy(record.priv_key, user->priv_key, user->priv_key_len);
    }
    record.priv_key_len = user->priv_key_len;
    int32_t rc = snmp_v3_process_security(msg->raw, static_cast<uint16_t>(msg->raw_len), codec_msg, codec_msg,
                                          &record);
    if (rc == SNMP_ERR_AUTH) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]鉴权失败（错误码：%d）", __func__, user->user_name,
                  static_cast<int>(rc));
        return API_SNMP_ERR_AUTH_FAILED;
    }
    if (rc != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]安全处理失败（错误码：%d）", __func__, user->user_name,
                  static_cast<int>(rc));
        return API_SNMP_ERR_V3_DECRYPT;
    }
    return adapter_msg_refresh_pdu(msg, codec_msg);
}

// ---- SNMPv3 keys ----

int adapter_v3_gen_auth_key(const adapter_v3_key_params *params, const uint8_t *password,
                            uint32_t password_len, uint8_t *key_out, uint16_t *key_len_in_out,
                            uint16_t key_max) {
    return generate_key({__func__, true, params, password, password_len, key_out, key_len_in_out, key_max});
}

int adapter_v3_gen_priv_key(const adapter_v3_key_params *params, const uint8_t *password,
                            uint32_t password_len, uint8_t *key_out, uint16_t *key_len_out,
                            uint16_t key_max) {
    return generate_key({__func__, false, params, password, password_len, key_out, key_len_out, key_max});
}

// ---- MIB ----

int adapter_mib_load(const char *path) {
    if (path == nullptr || path[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: MIB路径为空（无效输入）", __func__);
        return kFailure;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 开始加载MIB文件，路径：%s（长度：%zu字节）", __func__, path,
              std::strlen(path));
    AGENT_LOG(AGENT_LOG_INFO, "%s: MIB文件加载完成，路径：%s", __func__, path);
    return kSuccess;
}

}  // extern "C"
