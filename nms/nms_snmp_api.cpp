// Public operations of the manager library: the SDK's lifecycle with its 1 ms timer thread, the
// argument checks that every request passes before it reaches the core, the varbind builders and
// the listing helpers. Everything else lives in the core (nms/nms_snmp_core.h).
#include "nms/nms_snmp_api.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "base/platform.h"
#include "nms/core_snmpv3.h"
#include "nms/nms_snmp_core.h"
#include "nms/snmp_adapter.h"
#include "nms/vek_nms_sdk.h"

#ifndef VEK_NMS_SDK_VERSION
#define VEK_NMS_SDK_VERSION "dev"
#endif

namespace {

// ---- Limits ----
constexpr size_t kOidTextMax = API_SNMP_OID_SIZE - 1;             // 127
constexpr size_t kUserNameMax = API_SNMP_USER_NAME_SIZE - 1;      // 31
constexpr size_t kCommunityMax = API_SNMP_COMMUNITY_SIZE - 1;     // 63
constexpr size_t kStringValueMax = API_SNMP_MAX_STRING_LEN;       // 255
constexpr uint8_t kMaxVarbinds = API_SNMP_MAX_REQUEST_VARBINDS;   // 10
constexpr uint32_t kFirstInvalidVersion = 4;                      // versions 0..3 pass the API check
constexpr size_t kTypeNameCompared = 15;                          // leading characters of a type name
constexpr size_t kIpv4Parts = 4;
constexpr size_t kIpv4PartDigitsMax = 3;
constexpr uint32_t kIpv4PartMax = 255;
constexpr uint32_t kIpv4PartShift = 8;
constexpr size_t kIpTextMax = API_SNMP_IP_SIZE - 1;  // any longer text is not an address

// ---- Timer thread ----
constexpr uint32_t kTimerStopGraceMs = 100;

constexpr const char *kBannerRule = "========================================";
constexpr const char *kNullText = "null";
constexpr const char *kEmptyText = "empty";

// ---- Small text helpers ----

// A printable, terminated copy of a fixed text field that the caller may have left unterminated.
// terminated() tells whether the field held its terminator.
template <size_t Size>
class FieldText {
   public:
    explicit FieldText(const char *field) noexcept {
        const size_t length = field == nullptr ? 0 : strnlen(field, Size);
        std::copy_n(field == nullptr ? "" : field, length, text_.begin());
        text_[length] = '\0';
        length_ = length;
    }
    const char *c_str() const noexcept { return text_.data(); }
    std::string_view view() const noexcept { return {text_.data(), length_}; }
    bool terminated() const noexcept { return length_ < Size; }

   private:
    std::array<char, Size + 1> text_{};
    size_t length_ = 0;
};

const char *printable(const char *text) noexcept {
    return text == nullptr ? kNullText : text;
}

std::string_view view_of(const char *text) noexcept {
    return text == nullptr ? std::string_view{} : std::string_view{text};
}

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

bool all_digits(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), is_digit);
}

// Copies text into a fixed field; the caller has checked that it fits.
template <size_t Size>
void copy_field(char (&field)[Size], std::string_view text) noexcept {
    const size_t length = std::min(text.size(), Size - 1);
    std::copy_n(text.data(), length, field);
    field[length] = '\0';
}

// ---- Address and OID rules ----

// One part of a dotted quad; its value when valid.
std::optional<uint32_t> ipv4_part(std::string_view part) noexcept {
    if (part.empty() || part.size() > kIpv4PartDigitsMax || !all_digits(part)) {
        return std::nullopt;
    }
    uint32_t value = 0;
    std::from_chars(part.data(), part.data() + part.size(), value);
    if (value > kIpv4PartMax) {
        return std::nullopt;
    }
    return value;
}

// The address a.b.c.d as a * 2^24 + b * 2^16 + c * 2^8 + d, when the text is a valid dotted quad.
std::optional<uint32_t> parse_ipv4(std::string_view text) noexcept {
    if (text.empty() || text.size() > kIpTextMax) {
        return std::nullopt;
    }
    uint32_t address = 0;
    size_t parts = 0;
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        const std::optional<uint32_t> value = ipv4_part(part);
        if (!value || ++parts > kIpv4Parts) {
            return std::nullopt;
        }
        address = (address << kIpv4PartShift) | *value;
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    if (parts != kIpv4Parts) {
        return std::nullopt;
    }
    return address;
}

bool ip_valid(const char *ip) noexcept {
    // Reads at most one byte past the longest possible address, so an unterminated buffer is safe.
    return ip != nullptr && parse_ipv4(std::string_view(ip, strnlen(ip, kIpTextMax + 1))).has_value();
}

bool address_valid(const char *ip, uint16_t port) noexcept {
    return ip_valid(ip) && port != 0;
}

// Decimal digit groups separated by single dots, starting and ending with a digit.
bool oid_format_valid(std::string_view text) noexcept {
    if (text.empty() || !is_digit(text.front()) || !is_digit(text.back())) {
        return false;
    }
    char previous = '\0';
    for (char c : text) {
        if (c == '.' ? previous == '.' : !is_digit(c)) {
            return false;
        }
        previous = c;
    }
    return true;
}

// Format and rule of an OID held in a fixed, possibly unterminated field. Returns API_SNMP_OK,
// API_SNMP_ERR_INVALID_PARAM (format) or API_SNMP_ERR_INVALID_OID (rule).
template <size_t Size>
api_snmp_err check_oid_field(const FieldText<Size> &oid) noexcept {
    if (!oid.terminated() || !oid_format_valid(oid.view())) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return snmp_core_oid_validate(oid.c_str()) ? API_SNMP_OK : API_SNMP_ERR_INVALID_OID;
}

bool user_name_too_long(const char *user_name) noexcept {
    return user_name != nullptr && strnlen(user_name, kUserNameMax + 1) > kUserNameMax;
}

// ---- Request checks ----

// One varbind of a GET, GET-NEXT or SET (with the SET value checks when is_set).
api_snmp_err check_request_varbind(const api_snmp_varbind &vb, bool is_set) noexcept {
    const FieldText<API_SNMP_OID_SIZE> oid(vb.oid);
    const api_snmp_err oid_result = check_oid_field(oid);
    if (oid_result == API_SNMP_ERR_INVALID_PARAM) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效OID格式（%s）", oid.c_str());
        return oid_result;
    }
    if (oid_result != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "OID不合法（%s）", oid.c_str());
        return oid_result;
    }
    if (!is_set) {
        return API_SNMP_OK;
    }
    if (vb.type == API_SNMP_BER_OCTET_STRING && vb.value_len > kStringValueMax) {
        AGENT_LOG(AGENT_LOG_ERROR, "字符串值过长（OID：%s，最大长度：%d）", oid.c_str(),
                  static_cast<int>(kStringValueMax));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (vb.type == API_SNMP_BER_OID) {
        const FieldText<API_SNMP_VALUE_SIZE> value(vb.value.str);
        if (!value.terminated() || !oid_format_valid(value.view())) {
            AGENT_LOG(AGENT_LOG_ERROR, "OID类型值格式无效（%s）", value.c_str());
            return API_SNMP_ERR_INVALID_PARAM;
        }
    }
    return API_SNMP_OK;
}

// Everything a GET, GET-NEXT or SET is checked for before it reaches the core.
api_snmp_err check_command_request(const char *ip, uint16_t port, const char *user_name,
                                   const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                                   bool is_set) noexcept {
    if (!address_valid(ip, port)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效Agent地址（%s:%d）", printable(ip), static_cast<int>(port));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (timeout_ms == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "超时时间不能为0");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (varbinds == nullptr || count == 0 || count > kMaxVarbinds) {
        AGENT_LOG(AGENT_LOG_ERROR, "变量绑定无效（数量：%d，允许范围：1-%d）", static_cast<int>(count),
                  static_cast<int>(kMaxVarbinds));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    for (uint8_t i = 0; i < count; ++i) {
        const api_snmp_err result = check_request_varbind(varbinds[i], is_set);
        if (result != API_SNMP_OK) {
            return result;
        }
    }
    if (user_name_too_long(user_name)) {
        AGENT_LOG(AGENT_LOG_ERROR, "用户名过长（最大%d字节）", static_cast<int>(kUserNameMax));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return API_SNMP_OK;
}

api_snmp_err send_command(uint32_t cmd_type, const char *ip, uint16_t port, const char *user_name,
                          const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                          void *user_data) noexcept {
    const api_snmp_err checked =
        check_command_request(ip, port, user_name, varbinds, count, timeout_ms, cmd_type == API_SNMP_CMD_SET);
    if (checked != API_SNMP_OK) {
        return checked;
    }
    return snmp_core_send_cmd(cmd_type, ip, port, user_name, varbinds, count, user_data);
}

// Everything a GET-BULK is checked for before the agent is consulted.
api_snmp_err check_bulk_request(const char *ip, uint16_t port, const char *user_name, uint8_t non_repeaters,
                                uint8_t max_repetitions, const api_snmp_varbind *varbinds, uint8_t count,
                                uint32_t timeout_ms) noexcept {
    if (!address_valid(ip, port)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效 Agent 地址（%s:%d）", printable(ip), static_cast<int>(port));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (timeout_ms == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "超时时间不能为 0");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (varbinds == nullptr || count == 0 || count > kMaxVarbinds) {
        AGENT_LOG(AGENT_LOG_ERROR, "变量绑定无效（数量：%d，范围：1-%d）", static_cast<int>(count),
                  static_cast<int>(kMaxVarbinds));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    for (uint8_t i = 0; i < count; ++i) {
        const FieldText<API_SNMP_OID_SIZE> oid(varbinds[i].oid);
        if (check_oid_field(oid) != API_SNMP_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "OID 不合法（%s）", oid.c_str());
            return API_SNMP_ERR_INVALID_OID;
        }
    }
    if (non_repeaters > count) {
        AGENT_LOG(AGENT_LOG_ERROR, "non_repeaters（%d）> 变量数（%d）", static_cast<int>(non_repeaters),
                  static_cast<int>(count));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (max_repetitions == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "max_repetitions 不能为 0");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    // The user name is held in a 32-byte field further down, as for the other requests.
    if (user_name_too_long(user_name)) {
        AGENT_LOG(AGENT_LOG_ERROR, "用户名过长（最大%d字节）", static_cast<int>(kUserNameMax));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return API_SNMP_OK;
}

// ---- SET value parsing ----

// Base-10 integer of the whole text (an optional leading '+' is accepted; '-' only where T is signed).
template <typename T>
std::optional<T> parse_whole_number(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || !is_digit(text.front())) {
            return std::nullopt;
        }
    }
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

enum class SetType { kString, kInteger, kIpAddress, kOid, kUnsigned, kUnknown };

struct TypeName {
    std::string_view name;
    SetType type;
};

constexpr std::array<TypeName, 9> kTypeNames = {{
    {"s", SetType::kString},
    {"string", SetType::kString},
    {"i", SetType::kInteger},
    {"int", SetType::kInteger},
    {"ip", SetType::kIpAddress},
    {"o", SetType::kOid},
    {"oid", SetType::kOid},
    {"u", SetType::kUnsigned},
    {"uint32", SetType::kUnsigned},
}};

// The leading characters of a type name, lower-cased, as they are compared.
class TypeNameKey {
   public:
    explicit TypeNameKey(const char *type_name) noexcept {
        length_ = strnlen(type_name, kTypeNameCompared);
        std::transform(type_name, type_name + length_, text_.begin(), [](char c) {
            return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        });
    }
    std::string_view view() const noexcept { return {text_.data(), length_}; }
    const char *c_str() const noexcept { return text_.data(); }

   private:
    std::array<char, kTypeNameCompared + 1> text_{};
    size_t length_ = 0;
};

SetType set_type_of(const TypeNameKey &key) noexcept {
    const auto *entry = std::find_if(kTypeNames.begin(), kTypeNames.end(),
                                     [&key](const TypeName &candidate) { return candidate.name == key.view(); });
    return entry == kTypeNames.end() ? SetType::kUnknown : entry->type;
}

api_snmp_err fill_string_value(const char *value, api_snmp_varbind &vb) noexcept {
    const size_t length = std::strlen(value);
    if (length > kStringValueMax) {
        AGENT_LOG(AGENT_LOG_ERROR, "字符串值过长（最大%d字节，当前%d字节）", static_cast<int>(kStringValueMax),
                  static_cast<int>(length));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    vb.type = API_SNMP_BER_OCTET_STRING;
    std::memcpy(vb.value.bytes, value, length);
    vb.value_len = static_cast<uint16_t>(length);
    return API_SNMP_OK;
}

api_snmp_err fill_integer_value(const char *value, api_snmp_varbind &vb) noexcept {
    const std::optional<int32_t> number = parse_whole_number<int32_t>(value);
    if (!number) {
        AGENT_LOG(AGENT_LOG_ERROR, "整数类型值无效（%s）", value);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    vb.type = API_SNMP_BER_INTEGER;
    vb.value.i32 = *number;
    vb.value_len = sizeof(int32_t);
    return API_SNMP_OK;
}

api_snmp_err fill_ip_value(const char *value, api_snmp_varbind &vb) noexcept {
    const std::optional<uint32_t> address = parse_ipv4(view_of(value));
    if (!address) {
        AGENT_LOG(AGENT_LOG_ERROR, "IP地址格式无效（%s）", value);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    vb.type = API_SNMP_BER_IPADDRESS;
    vb.value.u32 = *address;
    vb.value_len = sizeof(uint32_t);
    return API_SNMP_OK;
}

api_snmp_err fill_oid_value(const char *value, api_snmp_varbind &vb) noexcept {
    // The value field would hold a longer text, but no OID of more than 127 characters is carried
    // anywhere else in the system: refuse it rather than cut it into a different OID.
    const size_t length = std::strlen(value);
    if (!api_snmp_oid_validate(value) || length > kOidTextMax) {
        AGENT_LOG(AGENT_LOG_ERROR, "OID类型值无效（%s）", value);
        return API_SNMP_ERR_INVALID_OID;
    }
    vb.type = API_SNMP_BER_OID;
    std::memcpy(vb.value.str, value, length);
    vb.value_len = static_cast<uint16_t>(length);
    return API_SNMP_OK;
}

api_snmp_err fill_unsigned_value(const char *value, api_snmp_varbind &vb) noexcept {
    const std::optional<uint32_t> number = parse_whole_number<uint32_t>(value);
    if (!number) {
        AGENT_LOG(AGENT_LOG_ERROR, "无符号整数类型值无效（%s）", value);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    vb.type = API_SNMP_BER_UINTEGER32;
    vb.value.u32 = *number;
    vb.value_len = sizeof(uint32_t);
    return API_SNMP_OK;
}

api_snmp_err fill_set_value(const TypeNameKey &key, const char *value, api_snmp_varbind &vb) noexcept {
    switch (set_type_of(key)) {
        case SetType::kString:
            return fill_string_value(value, vb);
        case SetType::kInteger:
            return fill_integer_value(value, vb);
        case SetType::kIpAddress:
            return fill_ip_value(value, vb);
        case SetType::kOid:
            return fill_oid_value(value, vb);
        case SetType::kUnsigned:
            return fill_unsigned_value(value, vb);
        case SetType::kUnknown:
            break;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "不支持的类型（%s）", key.c_str());
    return API_SNMP_ERR_INVALID_PARAM;
}

// An OID for a varbind's name: valid and short enough for the 128-byte field (a longer one would be
// cut into a different OID).
bool oid_fits_varbind(const char *oid) noexcept {
    return api_snmp_oid_validate(oid) && std::strlen(oid) <= kOidTextMax;
}

// ---- Lifecycle ----

// Serialises api_snmp_init and api_snmp_destroy; guards g_started and g_timer_thread.
std::mutex g_lifecycle_mutex;
bool g_started = false;
platform_thread_t g_timer_thread = nullptr;
// Read by the timer thread on every pass; set before the thread is created and cleared to stop it.
std::atomic<bool> g_timer_running{false};

// Drives the core's millisecond tick by the time that has passed instead of waking every
// millisecond: the tick has work only once a second (and none at all while no request is
// outstanding), so the thread sleeps until then. Milliseconds are counted from a monotonic clock and
// carried over whole, so the tick keeps pace with real time however late a wake-up comes.
void *timer_thread_main(void * /*arg*/) {
    using TickClock = std::chrono::steady_clock;
    TickClock::time_point counted = TickClock::now();  // time already handed to the tick
    while (g_timer_running.load(std::memory_order_acquire)) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(TickClock::now() - counted);
        counted += elapsed;
        const uint32_t wait_ms = core_snmp_timer_advance(static_cast<uint32_t>(elapsed.count()));
        if (g_timer_running.load(std::memory_order_acquire)) {
            core_snmp_timer_sleep(wait_ms);
        }
    }
    return nullptr;
}

// Lifecycle lock held. The running flag is raised before the thread exists, so that neither a
// second start nor an immediate stop can miss it.
bool start_timer_thread() noexcept {
    if (g_timer_running.exchange(true, std::memory_order_acq_rel)) {
        return true;
    }
    g_timer_thread = platform_thread_create(timer_thread_main, nullptr);
    if (g_timer_thread == nullptr) {
        g_timer_running.store(false, std::memory_order_release);
        AGENT_LOG(AGENT_LOG_ERROR, "定时器线程创建失败");
        return false;
    }
    return true;
}

// Lifecycle lock held.
void stop_timer_thread() noexcept {
    if (!g_timer_running.exchange(false, std::memory_order_acq_rel)) {
        return;
    }
    core_snmp_timer_interrupt();
    platform_delay_ms(kTimerStopGraceMs);
    platform_thread_join(g_timer_thread);
    g_timer_thread = nullptr;
}

void log_banner() noexcept {
    AGENT_LOG(AGENT_LOG_WARN, "%s", kBannerRule);
    AGENT_LOG(AGENT_LOG_WARN, "  VEK SNMP 网管 SDK（vek_nms_sdk）版本 %s", VEK_NMS_SDK_VERSION);
    AGENT_LOG(AGENT_LOG_WARN, "  SNMP v1/v2c/v3 管理端：GET / GET-NEXT / GET-BULK / SET / TRAP / INFORM");
    AGENT_LOG(AGENT_LOG_WARN, "%s\n", kBannerRule);
}

}  // namespace

// ---- Shared checks ----

extern "C" bool api_validate_ip(const char *ip) {
    return ip_valid(ip);
}

extern "C" bool api_validate_oid_format(const char *oid) {
    return oid != nullptr && oid_format_valid(oid);
}

// ---- Lifecycle ----

extern "C" void api_snmp_init(void) {
    log_banner();
    const std::lock_guard<std::mutex> lock(g_lifecycle_mutex);
    if (g_started) {
        AGENT_LOG(AGENT_LOG_INFO, "API层已初始化，忽略重复初始化");
        return;
    }
    if (snmp_core_init() != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "API层初始化失败（核心层未启动）");
        return;
    }
    if (!start_timer_thread()) {
        snmp_core_destroy();
        return;
    }
    g_started = true;
}

extern "C" void api_snmp_destroy(void) {
    const std::lock_guard<std::mutex> lock(g_lifecycle_mutex);
    if (!g_started) {
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, "API层销毁开始");
    stop_timer_thread();
    snmp_core_destroy();
    g_started = false;
    AGENT_LOG(AGENT_LOG_INFO, "API层销毁完成");
}

// ---- Agents and users ----

extern "C" api_snmp_err api_snmp_agent_create(const char *ip, uint16_t port, const api_snmp_agent_config *config) {
    if (!ip_valid(ip)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效IP地址（%s）", printable(ip));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (port == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效端口（%d）", static_cast<int>(port));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (config == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "Agent配置为空");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (config->version >= kFirstInvalidVersion) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效SNMP版本（%d），支持版本：1/2C/3", static_cast<int>(config->version));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    // The community field may arrive without its terminator: measure it within the field only.
    if (config->version != API_SNMP_V3 && strnlen(config->community, sizeof(config->community)) > kCommunityMax) {
        AGENT_LOG(AGENT_LOG_ERROR, "社区名过长（最大%d字节）", static_cast<int>(kCommunityMax));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return snmp_core_agent_create(ip, port, config);
}

extern "C" api_snmp_err api_snmp_agent_remove(const char *ip, uint16_t port) {
    if (!address_valid(ip, port)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效IP或端口（%s:%d）", printable(ip), static_cast<int>(port));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return snmp_core_agent_remove(ip, port);
}

extern "C" bool api_snmp_agent_exist(const char *ip, uint16_t port) {
    if (!address_valid(ip, port)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效IP或端口（%s:%d）", printable(ip), static_cast<int>(port));
        return false;
    }
    return snmp_core_agent_exist(ip, port);
}

extern "C" api_snmp_err api_snmp_user_add(const char *ip, uint16_t port, const api_snmp_v3_user_config *user) {
    if (!address_valid(ip, port)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效Agent地址（%s:%d）", printable(ip), static_cast<int>(port));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (user == nullptr || user->user_name[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "V3用户配置无效（用户名为空）");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (strnlen(user->user_name, sizeof(user->user_name)) > kUserNameMax) {
        AGENT_LOG(AGENT_LOG_ERROR, "用户名过长（最大%d字节）", static_cast<int>(kUserNameMax));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    const bool auth_enabled = user->auth_alg != API_SNMP_AUTH_NONE;
    const bool priv_enabled = user->priv_alg != API_SNMP_PRIV_NONE;
    if (priv_enabled && !auth_enabled) {
        AGENT_LOG(AGENT_LOG_ERROR, "加密算法使用需配合认证算法（不能单独启用加密）");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (adapter_v3_algorithms_match(user->auth_alg, user->priv_alg) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "认证算法（%u）与加密算法（%u）不属于同一安全方案（自研/标准USM）",
                  static_cast<unsigned>(user->auth_alg), static_cast<unsigned>(user->priv_alg));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    const auto missing = [](const char *password) { return password == nullptr || password[0] == '\0'; };
    if ((auth_enabled && missing(user->auth_password)) || (priv_enabled && missing(user->priv_password))) {
        AGENT_LOG(AGENT_LOG_ERROR, "启用认证/加密算法时必须提供对应非空密码");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return core_snmpv3_user_add(ip, port, user);
}

extern "C" api_snmp_err api_snmp_user_remove(const char *ip, uint16_t port, const char *user_name) {
    if (!address_valid(ip, port)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效Agent地址（%s:%d）", printable(ip), static_cast<int>(port));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (user_name == nullptr || user_name[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "用户名不能为空");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (user_name_too_long(user_name)) {
        AGENT_LOG(AGENT_LOG_ERROR, "用户名过长（最大%d字节）", static_cast<int>(kUserNameMax));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return core_snmpv3_user_remove(ip, port, user_name);
}

// ---- Notifications, callbacks, settings ----

extern "C" api_snmp_err api_snmp_start_trap_listener(uint16_t port) {
    if (port == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效Trap监听端口（%d）", static_cast<int>(port));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return snmp_core_start_trap_listener(port);
}

extern "C" void api_snmp_stop_trap_listener(void) {
    snmp_core_stop_trap_listener();
    AGENT_LOG(AGENT_LOG_INFO, "Trap监听器已停止");
}

extern "C" void api_snmp_register_response_callback(api_snmp_response_cb cb) {
    if (cb == nullptr) {
        AGENT_LOG(AGENT_LOG_WARN, "回调函数为空，注册失败");
        return;
    }
    snmp_core_register_response_callback(cb);
    AGENT_LOG(AGENT_LOG_INFO, "响应回调函数注册成功");
}

extern "C" void api_snmp_register_trap_callback(api_snmp_trap_cb cb, void *user_data) {
    if (cb == nullptr) {
        AGENT_LOG(AGENT_LOG_WARN, "回调函数为空，注册失败");
        return;
    }
    snmp_core_register_trap_callback(cb, user_data);
    AGENT_LOG(AGENT_LOG_INFO, "Trap回调函数注册成功");
}

extern "C" void api_snmp_set_log_level(uint32_t level) {
    snmp_core_set_log_level(level);
    AGENT_LOG(AGENT_LOG_INFO, "日志级别已设置为：%d", static_cast<int>(level));
}

extern "C" api_snmp_err api_snmp_mib_load(const char *path) {
    if (path == nullptr || path[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "MIB文件路径为空");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    return snmp_core_mib_load(path);
}

// ---- Requests ----

extern "C" api_snmp_err api_snmp_get(const char *ip, uint16_t port, const char *user_name,
                                     const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                                     void *user_data) {
    return send_command(API_SNMP_CMD_GET, ip, port, user_name, varbinds, count, timeout_ms, user_data);
}

extern "C" api_snmp_err api_snmp_get_next(const char *ip, uint16_t port, const char *user_name,
                                          const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                                          void *user_data) {
    return send_command(API_SNMP_CMD_GETNEXT, ip, port, user_name, varbinds, count, timeout_ms, user_data);
}

extern "C" api_snmp_err api_snmp_set(const char *ip, uint16_t port, const char *user_name,
                                     const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                                     void *user_data) {
    return send_command(API_SNMP_CMD_SET, ip, port, user_name, varbinds, count, timeout_ms, user_data);
}

extern "C" api_snmp_err api_snmp_get_bulk(const char *ip, uint16_t port, const char *user_name,
                                          uint8_t non_repeaters, uint8_t max_repetitions,
                                          const api_snmp_varbind *varbinds, uint8_t count, uint32_t timeout_ms,
                                          void *user_data) {
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        // Only the varbinds the caller says it passed are read.
        const bool has_first = varbinds != nullptr && count > 0;
        const FieldText<API_SNMP_OID_SIZE> first_oid(has_first ? varbinds[0].oid : kEmptyText);
        agent_log(AGENT_LOG_DEBUG,
                  "api_snmp_get_bulk ip=%s port=%u user=%s nr=%u mr=%u vb_cnt=%u timeout=%u userdata=%p oid0=%s",
                  printable(ip), static_cast<unsigned>(port), printable(user_name),
                  static_cast<unsigned>(non_repeaters), static_cast<unsigned>(max_repetitions),
                  static_cast<unsigned>(count), static_cast<unsigned>(timeout_ms), user_data, first_oid.c_str());
    }
    const api_snmp_err checked =
        check_bulk_request(ip, port, user_name, non_repeaters, max_repetitions, varbinds, count, timeout_ms);
    if (checked != API_SNMP_OK) {
        return checked;
    }
    api_snmp_agent_config config{};
    if (snmp_core_agent_get_config(ip, port, &config) != API_SNMP_OK) {
        return API_SNMP_ERR_AGENT_NOT_FOUND;
    }
    if (config.version == API_SNMP_V1) {
        AGENT_LOG(AGENT_LOG_ERROR, "GET-BULK 不支持 SNMPv1");
        return API_SNMP_ERR_NOT_SUPPORTED;
    }
    return snmp_core_send_bulk_cmd(API_SNMP_CMD_GETBULK, ip, port, user_name, non_repeaters, max_repetitions,
                                   varbinds, count, user_data);
}

// ---- Helpers ----

extern "C" bool api_snmp_oid_validate(const char *oid) {
    if (!api_validate_oid_format(oid)) {
        AGENT_LOG(AGENT_LOG_ERROR, "OID格式错误（%s）", printable(oid));
        return false;
    }
    if (!snmp_core_oid_validate(oid)) {
        AGENT_LOG(AGENT_LOG_ERROR, "OID不符合SNMP标准（%s）", oid);
        return false;
    }
    return true;
}

extern "C" api_snmp_err api_snmp_create_get_varbind(const char *oid, api_snmp_varbind *vb) {
    if (oid == nullptr || vb == nullptr) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    *vb = api_snmp_varbind{};
    if (!oid_fits_varbind(oid)) {
        return API_SNMP_ERR_INVALID_OID;
    }
    copy_field(vb->oid, oid);
    vb->type = API_SNMP_BER_NULL;
    vb->value_len = 0;
    return API_SNMP_OK;
}

extern "C" api_snmp_err api_snmp_create_set_varbind(const char *oid, const char *type_name, const char *value,
                                                    api_snmp_varbind *vb) {
    if (oid == nullptr || type_name == nullptr || value == nullptr || vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效入参（oid/type/value/vb为空）");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    *vb = api_snmp_varbind{};
    if (!oid_fits_varbind(oid)) {
        AGENT_LOG(AGENT_LOG_ERROR, "OID校验失败（%s）", oid);
        return API_SNMP_ERR_INVALID_OID;
    }
    copy_field(vb->oid, oid);
    const TypeNameKey key(type_name);
    const api_snmp_err result = fill_set_value(key, value, *vb);
    if (result != API_SNMP_OK) {
        return result;
    }
    // The value may be meant to travel encrypted: it does not go to the log.
    AGENT_LOG(AGENT_LOG_DEBUG, "SET变量绑定构造成功：OID=%s，类型=%s，值=%s，长度=%d", vb->oid, type_name, vek::kLogMask,
              static_cast<int>(vb->value_len));
    return API_SNMP_OK;
}

// ---- Listing ----

extern "C" uint32_t api_snmp_get_agent_count(void) {
    return snmp_core_get_agent_count();
}

extern "C" uint32_t api_snmp_get_agent_list(api_snmp_agent_info *entries, uint32_t capacity) {
    if (entries == nullptr || capacity == 0) {
        return 0;
    }
    return snmp_core_get_agent_list(entries, capacity);
}

extern "C" uint32_t api_snmp_get_user_count(const char *ip, uint16_t port) {
    return ip == nullptr ? 0 : snmp_core_get_user_count(ip, port);
}

extern "C" uint32_t api_snmp_get_user_list(const char *ip, uint16_t port, api_snmp_user_info *entries,
                                           uint32_t capacity) {
    if (ip == nullptr || entries == nullptr || capacity == 0) {
        return 0;
    }
    return snmp_core_get_user_list(ip, port, entries, capacity);
}
