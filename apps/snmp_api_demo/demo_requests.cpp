/* The demo's requests against its one agent and the printers of their answers. */
#include <array>
#include <cstdlib>
#include <cstring>

#include "apps/snmp_api_demo/snmp_api_demo.h"
#include "base/agent_log.h"
#include "nms/vek_nms_sdk.h"

std::atomic<bool> g_snmp_inited{false};
std::atomic<bool> g_agent_created{false};

namespace {

constexpr const char *k_led_oid = "1.3.6.1.4.1.12345.1.2";
constexpr const char *k_led_type = "int";
constexpr std::array k_get_oids = {"1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.4.0"};
constexpr const char *k_walk_start_oid = "1.3.6.1.2.1.1";
constexpr uint8_t k_bulk_non_repeaters = 0;
constexpr uint8_t k_bulk_max_repetitions = 5;
constexpr double k_ticks_per_second = 100.0;
constexpr std::chrono::milliseconds k_request_wait{2000};

/* The LED values as decimal text. They travel as the SET's user data and must outlive any answer,
 * however late, so they live as long as the program. */
char g_led_on_text[] = "1";
char g_led_off_text[] = "0";

/* Version and community that the agent is created with by each kind of command. */
struct agent_profile {
    uint32_t version;
    const char *community;
};
constexpr agent_profile k_read_profile{API_SNMP_V2C, "public"};
constexpr agent_profile k_led_profile{API_SNMP_V1, "private"};

void response_callback(const char *ip, uint16_t port, const char * /*user_name*/, api_snmp_cmd_type cmd_type,
                       const api_snmp_response *response, void * /*user_data*/) {
    if (response == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "响应数据无效");
        return;
    }
    const char *label = cmd_type == API_SNMP_CMD_GETNEXT ? "GET-NEXT"
                        : cmd_type == API_SNMP_CMD_GETBULK ? "GET-BULK"
                                                            : "GET";
    AGENT_LOG(AGENT_LOG_INFO, "=== %s 响应结果（%s:%d）===", label, ip, static_cast<int>(port));
    if (response->error != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "执行失败：%s（错误码：%d）", api_snmp_error_to_str(response->error),
                  static_cast<int>(response->error));
        return;
    }
    const int count = response->var_count < API_SNMP_MAX_RESPONSE_VARBINDS ? response->var_count
                                                                           : static_cast<int>(API_SNMP_MAX_RESPONSE_VARBINDS);
    for (int i = 0; i < count; ++i) {
        const api_snmp_varbind &vb = response->varbinds[i];
        const int index = i + 1;
        switch (vb.type) {
        case API_SNMP_BER_TIMETICKS:
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = TIMETICKS: %u (%.2fs)", index, static_cast<int>(sizeof vb.oid),
                      vb.oid, vb.value.u32, vb.value.u32 / k_ticks_per_second);
            break;
        case API_SNMP_BER_OCTET_STRING:
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = STRING: %.*s", index, static_cast<int>(sizeof vb.oid), vb.oid,
                      static_cast<int>(vb.value_len < sizeof vb.value.str ? vb.value_len : sizeof vb.value.str),
                      vb.value.str);
            break;
        case API_SNMP_BER_INTEGER:
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = INTEGER: %d", index, static_cast<int>(sizeof vb.oid), vb.oid,
                      vb.value.i32);
            break;
        case API_SNMP_BER_UINTEGER32:
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = UINT32: %u", index, static_cast<int>(sizeof vb.oid), vb.oid,
                      vb.value.u32);
            break;
        default:
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = TYPE(0x%02X)", index, static_cast<int>(sizeof vb.oid), vb.oid,
                      static_cast<unsigned>(vb.type));
            break;
        }
    }
}

void set_response_callback(const char *ip, uint16_t port, const char * /*user_name*/,
                           api_snmp_cmd_type /*cmd_type*/, const api_snmp_response *response, void *user_data) {
    if (response == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "SET响应无效");
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, "=== SET 操作结果（%s:%d）===", ip, static_cast<int>(port));
    if (response->error == API_SNMP_OK && response->error_status == 0) {
        // An answer to a request other than the LED SET carries no value text.
        const int value = user_data != nullptr ? std::atoi(static_cast<const char *>(user_data)) : 0;
        AGENT_LOG(AGENT_LOG_INFO, "[OK] 设置成功：%s = %d", k_led_oid, value);
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "SET 失败：%s", api_snmp_error_to_str(response->error));
    }
}

/* Creates the one agent on the first request; false when it does not exist afterwards. */
bool ensure_agent(const agent_profile &profile) {
    if (g_agent_created.load()) {
        return true;
    }
    api_snmp_agent_config config{};
    config.version = profile.version;
    std::strncpy(config.community, profile.community, sizeof config.community - 1);
    const api_snmp_err rc = api_snmp_agent_create(k_demo_target_ip, k_demo_target_port, &config);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "创建Agent失败：%s", api_snmp_error_to_str(rc));
        return false;
    }
    g_agent_created.store(true);
    AGENT_LOG(AGENT_LOG_INFO, "全局Agent创建完成，后续命令复用");
    return true;
}

bool prepare_request(api_snmp_response_cb callback, const agent_profile &profile) {
    demo_snmp_init();
    api_snmp_register_response_callback(callback);
    return ensure_agent(profile);
}

/* The fixed pause after every request, whatever its outcome. */
void wait_after_request() { std::this_thread::sleep_for(k_request_wait); }

/* GET-NEXT (bulk false) or GET-BULK of the walk's start object. */
void walk_request(bool bulk) {
    if (!prepare_request(response_callback, k_read_profile)) {
        return;
    }
    api_snmp_varbind vb{};
    if (api_snmp_create_get_varbind(k_walk_start_oid, &vb) != API_SNMP_OK) {
        return;
    }
    if (bulk) {
        api_snmp_get_bulk(k_demo_target_ip, k_demo_target_port, nullptr, k_bulk_non_repeaters,
                          k_bulk_max_repetitions, &vb, 1, k_demo_timeout_ms, nullptr);
    } else {
        api_snmp_get_next(k_demo_target_ip, k_demo_target_port, nullptr, &vb, 1, k_demo_timeout_ms, nullptr);
    }
    wait_after_request();
}

} // namespace

void demo_snmp_init() {
    if (g_snmp_inited.exchange(true)) {
        return;
    }
    api_snmp_init();
    AGENT_LOG(AGENT_LOG_INFO, "SNMP 初始化完成");
}

void demo_get() {
    if (!prepare_request(response_callback, k_read_profile)) {
        return;
    }
    std::array<api_snmp_varbind, k_get_oids.size()> varbinds{};
    for (size_t i = 0; i < k_get_oids.size(); ++i) {
        if (api_snmp_create_get_varbind(k_get_oids[i], &varbinds[i]) != API_SNMP_OK) {
            return;
        }
    }
    const api_snmp_err rc = api_snmp_get(k_demo_target_ip, k_demo_target_port, nullptr, varbinds.data(),
                                         static_cast<uint8_t>(varbinds.size()), k_demo_timeout_ms, nullptr);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "GET发送失败：%s", api_snmp_error_to_str(rc));
    }
    wait_after_request();
}

void demo_getnext() { walk_request(false); }

void demo_bulkwalk() { walk_request(true); }

void demo_set_led(bool on) {
    if (!prepare_request(set_response_callback, k_led_profile)) {
        return;
    }
    char *value_text = on ? g_led_on_text : g_led_off_text;
    api_snmp_varbind vb{};
    if (api_snmp_create_set_varbind(k_led_oid, k_led_type, value_text, &vb) != API_SNMP_OK) {
        return;
    }
    api_snmp_set(k_demo_target_ip, k_demo_target_port, nullptr, &vb, 1, k_demo_timeout_ms, value_text);
    wait_after_request();
}
