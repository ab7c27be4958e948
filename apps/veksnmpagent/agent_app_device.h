/* The sample device of veksnmpagent: a temperature sensor, an LED and a fan over a simulated
 * register block, served as the sample device MIB through the agent's public API. The program owns
 * the registers so that its console can change them like real hardware would. */
#ifndef VEK_APPS_VEKSNMPAGENT_DEVICE_H
#define VEK_APPS_VEKSNMPAGENT_DEVICE_H

#include <cstdint>
#include <optional>

#include "agent/vek_agent_sdk.h"

/* Sample device OIDs (no instance suffix, as the library registers them). */
inline constexpr char k_temp_sensor_oid[] = "1.3.6.1.4.1.12345.1.1";
inline constexpr char k_led_control_oid[] = "1.3.6.1.4.1.12345.1.2";
inline constexpr char k_fan_speed_oid[] = "1.3.6.1.4.1.12345.1.3";

class sample_device {
public:
    static constexpr int32_t k_min_temp_c = -40;
    static constexpr int32_t k_max_temp_c = 85;
    static constexpr uint32_t k_max_fan_pwm = 1000;
    static constexpr uint8_t k_led_off = 0;
    static constexpr uint8_t k_led_on = 1;

    /* Puts the program's nodes in place of the library's sample nodes: 0 or the agent's code. */
    int32_t install();

    /* Console changes of the simulated hardware; false (and no change) outside the ranges. */
    bool set_temperature(int32_t celsius);
    bool set_led(uint32_t state);
    bool set_fan_pwm(uint32_t pwm);

    int32_t temperature() const { return temp_c_; }
    uint8_t led() const { return led_; }
    uint16_t fan_pwm() const { return fan_pwm_; }
    uint32_t fan_rpm() const;

    /* The LED value last written by a manager since the previous call (a SET, not the console). */
    std::optional<uint8_t> take_led_write();

private:
    static int32_t temp_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx);
    static int32_t led_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx);
    static int32_t led_write(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx);
    static int32_t fan_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx);

    static constexpr int32_t k_initial_temp_c = 25;
    static constexpr uint16_t k_initial_fan_pwm = 500;

    int32_t temp_c_ = k_initial_temp_c;
    uint8_t led_ = k_led_off;
    uint16_t fan_pwm_ = k_initial_fan_pwm;
    std::optional<uint8_t> led_written_;
};

#endif
