/* Sample device nodes of veksnmpagent. */
#include "apps/veksnmpagent/agent_app_device.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace {

/* Callback results: the agent turns any non-zero result into a failed GET or SET. */
constexpr int32_t k_cb_ok = 0;
constexpr int32_t k_cb_fail = -1;

constexpr uint32_t k_rpm_per_pwm = 10;
constexpr uint32_t k_max_fan_rpm = 10000;
constexpr uint16_t k_u32_len = sizeof(uint32_t);

/* Collection periods of the library's own sample nodes. */
constexpr uint32_t k_temp_poll_ms = 1000;
constexpr uint32_t k_led_poll_ms = 0;
constexpr uint32_t k_fan_poll_ms = 500;

constexpr int32_t k_writable = 1;
constexpr int32_t k_read_only = 0;

void put_u32(agent_snmp_vb *vb, uint8_t type, uint32_t value) {
    vb->type = type;
    std::memset(&vb->value, 0, sizeof vb->value);
    vb->value.u32 = value;
    vb->len = k_u32_len;
}

sample_device *device_of(void *ctx) { return static_cast<sample_device *>(ctx); }

/* The library hands the same record as in and out; a read fills whichever it was given. */
agent_snmp_vb *read_target(agent_snmp_vb *in, agent_snmp_vb *out) { return out != nullptr ? out : in; }

} // namespace

int32_t sample_device::install() {
    // The library registers its own sample nodes during initialisation; the program's nodes take
    // their OIDs, so remove them first (absent ones are fine).
    for (const char *oid : {k_temp_sensor_oid, k_led_control_oid, k_fan_speed_oid}) {
        (void)agent_snmp_mib_unregister(oid);
    }
    struct node {
        const char *oid;
        int32_t writable;
        agent_snmp_mib_cb read;
        agent_snmp_mib_cb write;
        uint32_t poll_ms;
    };
    const std::array nodes = {node{k_temp_sensor_oid, k_read_only, &temp_read, nullptr, k_temp_poll_ms},
                              node{k_led_control_oid, k_writable, &led_read, &led_write, k_led_poll_ms},
                              node{k_fan_speed_oid, k_read_only, &fan_read, nullptr, k_fan_poll_ms}};
    for (const node &n : nodes) {
        const int32_t rc = agent_snmp_mib_register(n.oid, n.writable, n.read, n.write, n.poll_ms, this);
        if (rc != AGENT_SNMP_OK) {
            return rc;
        }
    }
    return AGENT_SNMP_OK;
}

bool sample_device::set_temperature(int32_t celsius) {
    if (celsius < k_min_temp_c || celsius > k_max_temp_c) {
        return false;
    }
    temp_c_ = celsius;
    return true;
}

bool sample_device::set_led(uint32_t state) {
    if (state > k_led_on) {
        return false;
    }
    led_ = static_cast<uint8_t>(state);
    return true;
}

bool sample_device::set_fan_pwm(uint32_t pwm) {
    if (pwm > k_max_fan_pwm) {
        return false;
    }
    fan_pwm_ = static_cast<uint16_t>(pwm);
    return true;
}

uint32_t sample_device::fan_rpm() const { return std::min(static_cast<uint32_t>(fan_pwm_) * k_rpm_per_pwm, k_max_fan_rpm); }

std::optional<uint8_t> sample_device::take_led_write() { return std::exchange(led_written_, std::nullopt); }

int32_t sample_device::temp_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx) {
    agent_snmp_vb *vb = read_target(in, out);
    if (vb == nullptr || ctx == nullptr) {
        return k_cb_fail;
    }
    put_u32(vb, AGENT_SNMP_TYPE_INTEGER, static_cast<uint32_t>(device_of(ctx)->temp_c_));
    return k_cb_ok;
}

int32_t sample_device::led_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx) {
    agent_snmp_vb *vb = read_target(in, out);
    if (vb == nullptr || ctx == nullptr) {
        return k_cb_fail;
    }
    put_u32(vb, AGENT_SNMP_TYPE_INTEGER, device_of(ctx)->led_);
    return k_cb_ok;
}

int32_t sample_device::led_write(agent_snmp_vb *in, agent_snmp_vb * /*out*/, void *ctx) {
    // Only INTEGER 0 (off) or 1 (on); the notification follows once the answer has gone out.
    if (in == nullptr || ctx == nullptr || in->type != AGENT_SNMP_TYPE_INTEGER || in->value.u32 > k_led_on) {
        return k_cb_fail;
    }
    sample_device *dev = device_of(ctx);
    dev->led_ = static_cast<uint8_t>(in->value.u32);
    dev->led_written_ = dev->led_;
    return k_cb_ok;
}

int32_t sample_device::fan_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx) {
    agent_snmp_vb *vb = read_target(in, out);
    if (vb == nullptr || ctx == nullptr) {
        return k_cb_fail;
    }
    put_u32(vb, AGENT_SNMP_TYPE_GAUGE32, device_of(ctx)->fan_rpm());
    return k_cb_ok;
}
