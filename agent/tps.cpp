#include "agent/tps.h"

#include <algorithm>
#include <initializer_list>

#include "agent/agent_trap.h"
#include "agent/mib_registry.h"
#include "base/agent_log.h"
#include "base/platform.h"
#include "codec/oid_literal.h"

namespace {

// ---- Simulated register block ----

// Temperature is kept in hundredths of a kelvin (the log lines call the unit "毫开").
constexpr int32_t kKelvinOffset = 27315;       // 0 °C
constexpr int32_t kCentiPerDegree = 100;
constexpr uint16_t kTempRawMin = 23315;        // -40 °C
constexpr uint16_t kTempRawMax = 35815;        // 85 °C
constexpr uint16_t kTempRawInitial = 29815;    // 25 °C
constexpr uint16_t kFanPwmInitial = 500;
constexpr uint32_t kFanRpmPerPwm = 10;
constexpr uint8_t kLedOff = 0;
constexpr uint8_t kLedOn = 1;

struct hw_regs {
    uint16_t temperature;
    uint8_t led;
    uint8_t reserved;
    uint16_t fan_pwm;
};
static_assert(sizeof(hw_regs) == 6, "the register block is 6 bytes");

hw_regs s_regs = {kTempRawInitial, kLedOff, 0, kFanPwmInitial};

// ---- Sample OIDs ----

constexpr uint32_t kTempSuffix = 1;
constexpr uint32_t kLedSuffix = 2;
constexpr uint32_t kFanSuffix = 3;
constexpr uint32_t kTempPollMs = 1000;
constexpr uint32_t kFanPollMs = 500;

using vek::codec::make_oid;

constexpr snmp_oid sample_oid(uint32_t suffix) { return make_oid({1, 3, 6, 1, 4, 1, USER_MIB_ENTERPRISE, 1, suffix}); }

snmp_oid s_temp_oid = sample_oid(kTempSuffix);
snmp_oid s_led_oid = sample_oid(kLedSuffix);
snmp_oid s_fan_oid = sample_oid(kFanSuffix);

// ---- TPS ----

constexpr snmp_oid s_collect_oids = make_oid({1, 3, 6, 1, 2, 1, 25, 3, 3, 1, 2, 1});  // hrProcessorLoad.1
constexpr uint32_t kLoadTickModulus = 100;
constexpr uint32_t kLoadTickDivisor = 2;

bool build_oid(snmp_oid &target, uint32_t suffix) {
    target = sample_oid(suffix);
    if (target.len != USER_MIB_OID_LEN) {
        return false;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "OID构建成功，节点数：%d", static_cast<int>(target.len));
    return true;
}

void register_sample(const mib_node &node, const char *ok_format, const char *fail_format) {
    if (mib_registry_add(&node)) {
        AGENT_LOG(AGENT_LOG_INFO, ok_format, node.name);
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, fail_format, node.name);
    }
}

bool oid_equal(const snmp_oid &a, const snmp_oid &b) {
    return a.len == b.len && a.len <= SNMP_MAX_OID_LEN && std::equal(a.sub_ids, a.sub_ids + a.len, b.sub_ids);
}

// Stores the LED register inside the interrupt bracket and reads it back.
uint8_t store_led(uint8_t value) {
    uint32_t state = platform_irq_save();
    s_regs.led = value;
    uint8_t readback = *static_cast<volatile uint8_t *>(&s_regs.led);
    platform_irq_restore(state);
    return readback;
}

void notify_link_state(uint8_t led) {
    if (led == kLedOn) {
        AGENT_LOG(AGENT_LOG_INFO, "触发链路恢复 Inform（自动匹配NMS地址）");
        if (!agent_send_v2c_link_up_inform_auto()) {
            AGENT_LOG(AGENT_LOG_WARN, "链路恢复 Inform 发送失败（不影响LED写入结果）");
        }
    } else {
        AGENT_LOG(AGENT_LOG_INFO, "触发链路断开 Trap（自动匹配NMS地址）");
        if (!agent_send_v2c_link_down_trap_auto()) {
            AGENT_LOG(AGENT_LOG_WARN, "链路断开 Trap 发送失败（不影响LED写入结果）");
        }
    }
}

}  // namespace

extern "C" {

tps_coll_cb coll_callback = nullptr;

void user_mib_init(void) {
    AGENT_LOG(AGENT_LOG_INFO, "开始初始化用户自定义MIB节点");
    if (!build_oid(s_temp_oid, kTempSuffix) || !build_oid(s_led_oid, kLedSuffix) || !build_oid(s_fan_oid, kFanSuffix)) {
        AGENT_LOG(AGENT_LOG_FATAL, "用户自定义MIB初始化失败：OID构建失败");
        return;
    }
    register_sample(mib_registry_make_node("tempSensor", s_temp_oid, SNMP_TAG_INTEGER, MIB_ACCESS_READ_ONLY, kTempPollMs,
                                temp_read, nullptr),
                    "温度节点注册成功：%s", "温度节点注册失败：%s");
    register_sample(mib_registry_make_node("ledControl", s_led_oid, SNMP_TAG_INTEGER, MIB_ACCESS_READ_WRITE, 0, led_read,
                                led_write),
                    "LED节点注册成功：%s", "LED节点注册失败：%s");
    register_sample(mib_registry_make_node("fanSpeed", s_fan_oid, SNMP_TAG_GAUGE32, MIB_ACCESS_READ_ONLY, kFanPollMs, fan_read,
                                nullptr),
                    "风扇节点注册成功：%s", "风扇节点注册失败：%s");
    AGENT_LOG(AGENT_LOG_INFO, "用户自定义MIB初始化完成（3个节点）");
}

const snmp_oid *user_mib_get_oid(uint32_t which) {
    switch (which) {
    case USER_MIB_NODE_TEMP:
        AGENT_LOG(AGENT_LOG_DEBUG, "获取温度节点OID");
        return &s_temp_oid;
    case USER_MIB_NODE_LED:
        AGENT_LOG(AGENT_LOG_DEBUG, "获取LED节点OID");
        return &s_led_oid;
    case USER_MIB_NODE_FAN:
        AGENT_LOG(AGENT_LOG_DEBUG, "获取风扇节点OID");
        return &s_fan_oid;
    default:
        AGENT_LOG(AGENT_LOG_WARN, "获取无效节点OID：%d", static_cast<int>(which));
        return nullptr;
    }
}

bool user_mib_simulate_hw(int32_t temp_c, uint8_t led, uint16_t fan_pwm) {
    if (temp_c < USER_MIB_TEMP_MIN_C || temp_c > USER_MIB_TEMP_MAX_C) {
        AGENT_LOG(AGENT_LOG_ERROR, "硬件模拟失败：温度超出范围（%d℃），有效范围%d~%d℃", static_cast<int>(temp_c),
                  USER_MIB_TEMP_MIN_C, USER_MIB_TEMP_MAX_C);
        return false;
    }
    if (led > kLedOn) {
        AGENT_LOG(AGENT_LOG_ERROR, "硬件模拟失败：LED状态无效（%hhu），有效值0~1", led);
        return false;
    }
    if (fan_pwm > USER_MIB_FAN_PWM_MAX) {
        AGENT_LOG(AGENT_LOG_ERROR, "硬件模拟失败：风扇PWM超出范围（%u），有效范围%d~%d", static_cast<unsigned>(fan_pwm), 0,
                  static_cast<int>(USER_MIB_FAN_PWM_MAX));
        return false;
    }
    s_regs.led = led;
    s_regs.fan_pwm = fan_pwm;
    s_regs.temperature = static_cast<uint16_t>(temp_c * kCentiPerDegree + kKelvinOffset);
    AGENT_LOG(AGENT_LOG_INFO, "硬件模拟更新成功：温度=%d℃, LED=%hhu, 风扇PWM=%u", static_cast<int>(temp_c), led,
              static_cast<unsigned>(fan_pwm));
    return true;
}

int32_t temp_read(void * /*user_data*/, snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "温度读取失败：varbind参数为空");
        return MIB_ERR_NULL_PARAM;
    }
    uint16_t raw = s_regs.temperature;
    AGENT_LOG(AGENT_LOG_DEBUG, "温度原始值读取：%u毫开", static_cast<unsigned>(raw));
    if (raw < kTempRawMin || raw > kTempRawMax) {
        AGENT_LOG(AGENT_LOG_ERROR, "温度超出范围（%u毫开），有效范围23315~35815毫开", static_cast<unsigned>(raw));
        return MIB_ERR_NO_CALLBACK;
    }
    int32_t celsius = (static_cast<int32_t>(raw) - kKelvinOffset) / kCentiPerDegree;
    vb->type = SNMP_TAG_INTEGER;
    vb->value.integer = celsius;
    AGENT_LOG(AGENT_LOG_INFO, "温度读取成功：%d℃", static_cast<int>(celsius));
    return MIB_OK;
}

int32_t fan_read(void * /*user_data*/, snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "风扇读取失败：varbind参数为空");
        return MIB_ERR_NULL_PARAM;
    }
    uint32_t rpm = static_cast<uint32_t>(s_regs.fan_pwm) * kFanRpmPerPwm;
    if (rpm > USER_MIB_FAN_MAX_RPM) {
        rpm = USER_MIB_FAN_MAX_RPM;
        AGENT_LOG(AGENT_LOG_WARN, "风扇转速超出最大值，已截断为10000RPM");
    }
    vb->type = SNMP_TAG_GAUGE32;
    vb->value.integer = static_cast<int32_t>(rpm);
    AGENT_LOG(AGENT_LOG_INFO, "风扇转速读取成功：%u RPM", static_cast<unsigned>(rpm));
    return MIB_OK;
}

int32_t led_read(void * /*user_data*/, snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "LED读取失败：varbind参数为空");
        return MIB_ERR_NULL_PARAM;
    }
    uint8_t led = s_regs.led;
    vb->type = SNMP_TAG_INTEGER;
    vb->value.integer = led;
    AGENT_LOG(AGENT_LOG_INFO, "LED状态读取成功：%hhu（0=关，1=开）", led);
    return MIB_OK;
}

int32_t led_write(void * /*user_data*/, const snmp_varbind *vb) {
    if (vb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "LED写入失败：varbind参数为空");
        return MIB_ERR_NULL_PARAM;
    }
    if (vb->type != SNMP_TAG_INTEGER) {
        AGENT_LOG(AGENT_LOG_ERROR, "LED写入失败：类型错误（0x%02X），预期INTEGER(0x%02X)", static_cast<unsigned>(vb->type),
                  static_cast<unsigned>(SNMP_TAG_INTEGER));
        return MIB_ERR_WRONG_TYPE;
    }
    if (static_cast<uint32_t>(vb->value.integer) > kLedOn) {
        AGENT_LOG(AGENT_LOG_ERROR, "LED写入失败：值无效（%d），有效范围0~1", static_cast<int>(vb->value.integer));
        return MIB_ERR_TOO_LONG;
    }
    auto value = static_cast<uint8_t>(vb->value.integer);
    uint8_t actual = store_led(value);
    if (actual != value) {
        AGENT_LOG(AGENT_LOG_ERROR, "LED写入失败：寄存器回读值不匹配（写入%d，实际%d）", static_cast<int>(value),
                  static_cast<int>(actual));
        return MIB_ERR_NO_CALLBACK;
    }
    AGENT_LOG(AGENT_LOG_INFO, "LED状态写入成功：%hhu（0=关，1=开）", value);
    notify_link_state(value);
    return MIB_OK;
}

void tps_cfg_tps(void) {}

void tps_start(void) {}

void tps_stop(void) {}

void tps_mib_coll_callback_reg(tps_coll_cb callback) { coll_callback = callback; }

bool tps_mib_coll_req(const snmp_oid *oid, snmp_varbind *out) {
    if (oid == nullptr || out == nullptr || !oid_equal(*oid, s_collect_oids)) {
        return false;
    }
    out->type = SNMP_TAG_INTEGER;
    out->value.integer = static_cast<int32_t>((platform_get_tick() % kLoadTickModulus) / kLoadTickDivisor);
    if (coll_callback != nullptr) {
        coll_callback(oid, out);
    }
    return true;
}

const snmp_oid *tps_get_collect_oid(void) { return &s_collect_oids; }

}  // extern "C"
