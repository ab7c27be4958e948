/* Link and custom notifications of veksnmpagent. */
#include "apps/veksnmpagent/agent_app_notify.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "agent/vek_agent_sdk.h"

namespace {

/* IF-MIB objects of interface 1 that linkUp and linkDown carry (RFC 2863). */
constexpr char k_if_index_oid[] = "1.3.6.1.2.1.2.2.1.1.1";
constexpr char k_if_admin_status_oid[] = "1.3.6.1.2.1.2.2.1.7.1";
constexpr char k_if_oper_status_oid[] = "1.3.6.1.2.1.2.2.1.8.1";
constexpr uint32_t k_if_index = 1;
constexpr uint32_t k_if_status_up = 1;
constexpr uint32_t k_if_status_down = 2;

constexpr std::string_view k_custom_suffix = ".1";
constexpr size_t k_max_sub_ids = 32; /* the agent's OID capacity */

agent_snmp_vb integer_vb(const char *oid, uint32_t value) {
    agent_snmp_vb vb{};
    const std::string_view text(oid);
    std::copy_n(text.begin(), std::min(text.size(), sizeof vb.oid - 1), vb.oid);  // vb.oid stays terminated
    vb.type = AGENT_SNMP_TYPE_INTEGER;
    vb.value.u32 = value;
    vb.len = sizeof(uint32_t);
    return vb;
}

bool parse_int32(std::string_view text, int32_t &out) {
    if (text.empty()) {
        return false;
    }
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

} // namespace

int32_t agent_app_send_link(const agent_app_target &target, bool up) {
    const uint32_t status = up ? k_if_status_up : k_if_status_down;
    const std::array vbs = {integer_vb(k_if_index_oid, k_if_index), integer_vb(k_if_admin_status_oid, status),
                            integer_vb(k_if_oper_status_oid, status)};
    const auto count = static_cast<uint8_t>(vbs.size());
    return up ? agent_snmp_inform_custom(target.host.c_str(), target.port, k_link_up_oid, vbs.data(), count)
              : agent_snmp_trap_custom(target.host.c_str(), target.port, k_link_down_oid, vbs.data(), count);
}

int32_t agent_app_send_custom(const agent_app_target &target, bool inform, std::string_view trap_oid,
                              std::string_view value) {
    if (trap_oid.starts_with('.')) {
        trap_oid.remove_prefix(1);
    }
    const std::string oid(trap_oid);
    const std::string vb_oid = oid + std::string(k_custom_suffix);
    const auto sub_ids = static_cast<size_t>(std::count(vb_oid.begin(), vb_oid.end(), '.')) + 1;
    if (!agent_snmp_oid_validate(oid.c_str()) || !agent_snmp_oid_validate(vb_oid.c_str()) || sub_ids > k_max_sub_ids) {
        return AGENT_SNMP_ERR_OID_INVALID;
    }
    agent_snmp_vb vb{};
    std::strncpy(vb.oid, vb_oid.c_str(), sizeof vb.oid - 1);
    int32_t number = 0;
    if (parse_int32(value, number)) {
        vb = integer_vb(vb.oid, static_cast<uint32_t>(number));
    } else {
        const size_t len = std::min(value.size(), sizeof vb.value.bytes);
        vb.type = AGENT_SNMP_TYPE_OCTET_STRING;
        std::memcpy(vb.value.bytes, value.data(), len);
        vb.len = static_cast<uint16_t>(len);
    }
    return inform ? agent_snmp_inform_custom(target.host.c_str(), target.port, oid.c_str(), &vb, 1)
                  : agent_snmp_trap_custom(target.host.c_str(), target.port, oid.c_str(), &vb, 1);
}
