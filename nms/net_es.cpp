// ES interface kind: a reserved second transport. Its operations check their arguments, log and
// report API_SNMP_ERR_NOT_SUPPORTED, so that a port to a device without sockets has a place to plug in.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/agent_log.h"
#include "nms/net_interface.h"

namespace {

constexpr const char *kNullText = "(null)";

std::atomic<bool> g_es_initialised{false};

bool valid_send_args(const char *ip, uint16_t port, const uint8_t *data, uint32_t len) noexcept {
    if (ip == nullptr || ip[0] == '\0' || strnlen(ip, NET_IP_TEXT_SIZE) >= NET_IP_TEXT_SIZE) {
        return false;
    }
    return port != 0 && data != nullptr && len >= 1 && len <= NET_MAX_PACKET_SIZE;
}

}  // namespace

extern "C" {

api_snmp_err net_es_init(void) {
    if (g_es_initialised.load(std::memory_order_acquire)) {
        AGENT_LOG(AGENT_LOG_INFO, "ES接口已初始化（预留），无需重复操作");
        return API_SNMP_OK;
    }
    g_es_initialised.store(true, std::memory_order_release);
    const net_interface_ops ops = {NET_IF_ES, es_send, es_recv, es_destroy, 0};
    api_snmp_err registered = net_interface_register(&ops);
    if (registered != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "ES接口注册失败（错误：%d）", static_cast<int>(registered));
        es_destroy();
        return registered;
    }
    AGENT_LOG(AGENT_LOG_INFO, "ES接口注册成功（预留）");
    return API_SNMP_OK;
}

api_snmp_err es_send(const char *ip, uint16_t port, const uint8_t *data, uint32_t len) {
    if (!valid_send_args(ip, port, data, len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "ES发送参数无效（ip：%s，port：%d，len：%d）",
                  ip != nullptr ? ip : kNullText, static_cast<int>(port), static_cast<int>(len));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (!g_es_initialised.load(std::memory_order_acquire)) {
        AGENT_LOG(AGENT_LOG_ERROR, "ES接口未初始化");
        return API_SNMP_ERR_NETWORK;
    }
    AGENT_LOG(AGENT_LOG_WARN, "ES发送接口未实现（预留）：%d字节到%s:%d", static_cast<int>(len), ip,
              static_cast<int>(port));
    return API_SNMP_ERR_NOT_SUPPORTED;
}

api_snmp_err es_recv(uint8_t *buf, uint32_t size, uint32_t *out_len, char *ip_out, uint16_t *port_out) {
    if (buf == nullptr || size == 0 || out_len == nullptr || ip_out == nullptr || port_out == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "ES接收参数无效");
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (!g_es_initialised.load(std::memory_order_acquire)) {
        AGENT_LOG(AGENT_LOG_ERROR, "ES接口未初始化");
        return API_SNMP_ERR_NETWORK;
    }
    *out_len = 0;
    std::fill_n(ip_out, NET_IP_TEXT_SIZE, '\0');
    *port_out = 0;
    AGENT_LOG(AGENT_LOG_WARN, "ES接收接口未实现（预留）");
    return API_SNMP_ERR_NOT_SUPPORTED;
}

void es_destroy(void) {
    if (g_es_initialised.exchange(false, std::memory_order_acq_rel)) {
        AGENT_LOG(AGENT_LOG_INFO, "ES接口资源已释放（预留）");
    }
}

}  // extern "C"
