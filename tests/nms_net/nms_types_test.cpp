// Public records, enumerations and texts of the manager library's interface.
#include <cstddef>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "nms/vek_nms_sdk.h"
#include "tests/nms_net/nms_header_probe.h"

namespace {

TEST(NmsTypes, ErrorTextsAreFixedAndOutOfRangeCodesAreUnknown) {
    EXPECT_STREQ(api_snmp_error_to_str(API_SNMP_OK), "操作成功");
    EXPECT_STREQ(api_snmp_error_to_str(API_SNMP_ERR_INVALID_PARAM), "无效参数（参数为空或格式错误）");
    EXPECT_STREQ(api_snmp_error_to_str(API_SNMP_ERR_TIMEOUT), "响应超时（设备未在规定时间内回复）");
    EXPECT_STREQ(api_snmp_error_to_str(API_SNMP_ERR_PORT_IN_USE), "端口被占用（Trap监听端口已使用）");
    EXPECT_STREQ(api_snmp_error_to_str(API_SNMP_ERR_NO_ENGINE_ID), "缺少引擎ID（RFC 3414必选参数）");
    EXPECT_STREQ(api_snmp_error_to_str(API_SNMP_ERR_NO_ENGINE_BOOTS), "缺少引擎启动次数（RFC 3414必选参数）");
    EXPECT_STREQ(api_snmp_error_to_str(API_SNMP_ERR_MAX + 1), "未知错误（invalid error code）");
    EXPECT_STREQ(api_snmp_error_to_str(0xFFFFFFFFu), "未知错误（invalid error code）");

    // Every defined code has its own text (a shifted table would repeat or lose one).
    std::set<std::string> texts;
    for (uint32_t code = 0; code <= API_SNMP_ERR_MAX; ++code) {
        texts.insert(api_snmp_error_to_str(code));
    }
    EXPECT_EQ(texts.size(), API_SNMP_ERR_MAX + 1);
    EXPECT_EQ(texts.count("未知错误（invalid error code）"), 0u);
}

TEST(NmsTypes, ErrorStatusNames) {
    EXPECT_STREQ(api_snmp_error_status_to_str(0), "success");
    EXPECT_STREQ(api_snmp_error_status_to_str(2), "noSuchName");
    EXPECT_STREQ(api_snmp_error_status_to_str(13), "resourceUnavailable");
    EXPECT_STREQ(api_snmp_error_status_to_str(21), "endOfMibView");
    EXPECT_STREQ(api_snmp_error_status_to_str(22), "unknownError");
    EXPECT_STREQ(api_snmp_error_status_to_str(0xFFFFFFFFu), "unknownError");
}

TEST(NmsTypes, RecordsHaveTheirFieldSizesAndTheSameLayoutInC) {
    api_snmp_varbind vb{};
    EXPECT_EQ(sizeof(vb.oid), 128u);
    EXPECT_EQ(sizeof(vb.type), 1u);
    EXPECT_EQ(sizeof(vb.value), 256u);
    EXPECT_EQ(sizeof(vb.value_len), 2u);
    EXPECT_EQ(sizeof(api_snmp_agent_config{}.community), 64u);
    EXPECT_EQ(sizeof(api_snmp_v3_user_config{}.user_name), 32u);
    EXPECT_EQ(sizeof(api_snmp_response{}.varbinds) / sizeof(api_snmp_varbind), 10u);
    EXPECT_EQ(sizeof(api_snmp_trap{}.varbinds) / sizeof(api_snmp_varbind), 64u);
    EXPECT_EQ(sizeof(api_snmp_agent_info{}.ip), 32u);

    // An IpAddress value: first octet in the most significant byte, at the start of the field.
    vb.value.u32 = 0xC0A80101u;
    uint32_t stored = 0;
    std::memcpy(&stored, &vb.value, sizeof(stored));
    EXPECT_EQ(stored, 0xC0A80101u);

    nms_header_layout c_layout{};
    nms_header_probe_layout(&c_layout);
    EXPECT_EQ(c_layout.varbind_size, sizeof(api_snmp_varbind));
    EXPECT_EQ(c_layout.varbind_type, offsetof(api_snmp_varbind, type));
    EXPECT_EQ(c_layout.varbind_value, offsetof(api_snmp_varbind, value));
    EXPECT_EQ(c_layout.varbind_value_len, offsetof(api_snmp_varbind, value_len));
    EXPECT_EQ(c_layout.agent_config_size, sizeof(api_snmp_agent_config));
    EXPECT_EQ(c_layout.user_config_size, sizeof(api_snmp_v3_user_config));
    EXPECT_EQ(c_layout.user_config_priv_password, offsetof(api_snmp_v3_user_config, priv_password));
    EXPECT_EQ(c_layout.response_size, sizeof(api_snmp_response));
    EXPECT_EQ(c_layout.response_varbinds, offsetof(api_snmp_response, varbinds));
    EXPECT_EQ(c_layout.trap_size, sizeof(api_snmp_trap));
    EXPECT_EQ(c_layout.trap_varbinds, offsetof(api_snmp_trap, varbinds));
    EXPECT_EQ(c_layout.agent_info_size, sizeof(api_snmp_agent_info));
    EXPECT_EQ(c_layout.user_info_size, sizeof(api_snmp_user_info));
    EXPECT_STREQ(c_layout.error_text, "响应超时（设备未在规定时间内回复）");
}

}  // namespace
