// Fixed texts of the SDK's result codes and of the SNMP error-status values.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "nms/vek_nms_sdk.h"

namespace {

// Indexed by api_snmp_err.
constexpr std::array<const char *, API_SNMP_ERR_MAX + 1> kErrorText = {
    "操作成功",
    "无效参数（参数为空或格式错误）",
    "Agent不存在（未创建或已移除）",
    "V3用户不存在（用户名错误）",
    "认证失败（密码错误或算法不匹配）",
    "加密失败（密钥错误或算法不支持）",
    "响应超时（设备未在规定时间内回复）",
    "网络错误（发送/接收数据失败）",
    "OID无效（格式错误或不符合SNMP标准）",
    "MIB未加载（未调用api_snmp_mib_load）",
    "Agent已存在（重复创建同一IP:端口）",
    "用户数达上限（超过MAX_V3_USERS）",
    "V3用户已存在（重复添加同一用户名）",
    "内存分配失败（系统内存不足）",
    "无效SNMP版本（仅支持1/2c/3）",
    "操作正在进行中（存在未完成的请求）",
    "操作不支持（如V1使用GET-NEXT）",
    "资源不足（如队列满、线程创建失败）",
    "数据为空（队列空或无有效响应）",
    "网络接口错误（套接字创建/绑定失败）",
    "端口被占用（Trap监听端口已使用）",
    "初始化失败（核心层初始化未完成）",
    "锁操作失败（互斥锁获取/释放失败）",
    "缓冲区太小（编码/解码时内存不足）",
    "版本不匹配（请求与Agent版本不一致）",
    "编码失败（SNMP报文构造错误）",
    "解码失败（收到的报文格式错误）",
    "V3时间同步过期（需重新同步引擎时间）",
    "V3用户被临时禁用（鉴权失败次数超限）",
    "V3解密失败（加密密钥错误或报文被篡改）",
    "用户数量达到上限（无法添加更多用户）",
    "V3引擎未就绪（未完成发现流程）",
    "无效的命令类型（不支持的SNMP命令）",
    "缺少引擎ID（RFC 3414必选参数）",
    "缺少引擎启动次数（RFC 3414必选参数）",
};

constexpr const char *kUnknownErrorText = "未知错误（invalid error code）";

// Indexed by the SNMP error-status value, noError (0) to endOfMibView (21).
constexpr size_t kErrorStatusCount = 22;
constexpr std::array<const char *, kErrorStatusCount> kErrorStatusText = {
    "success",
    "tooBig",
    "noSuchName",
    "badValue",
    "readOnly",
    "genErr",
    "noAccess",
    "wrongType",
    "wrongLength",
    "wrongEncoding",
    "wrongValue",
    "noCreation",
    "inconsistentValue",
    "resourceUnavailable",
    "commitFailed",
    "undoFailed",
    "authorizationError",
    "notWritable",
    "inconsistentName",
    "noSuchInstance",
    "noSuchObject",
    "endOfMibView",
};

constexpr const char *kUnknownStatusText = "unknownError";

static_assert(std::string_view(kErrorText[API_SNMP_ERR_NO_ENGINE_BOOTS]) ==
              "缺少引擎启动次数（RFC 3414必选参数）");
static_assert(std::string_view(kErrorStatusText.back()) == "endOfMibView");

}  // namespace

extern "C" const char *api_snmp_error_to_str(uint32_t code) {
    return code < kErrorText.size() ? kErrorText[code] : kUnknownErrorText;
}

extern "C" const char *api_snmp_error_status_to_str(uint32_t status) {
    return status < kErrorStatusText.size() ? kErrorStatusText[status] : kUnknownStatusText;
}
