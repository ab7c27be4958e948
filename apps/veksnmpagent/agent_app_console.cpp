/* Console commands of veksnmpagent. */
#include "apps/veksnmpagent/agent_app_console.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace {

constexpr size_t k_max_line = 1024; /* longer input is cut into lines of this length */
constexpr std::string_view k_blanks = " \t\r";
constexpr std::string_view k_default_notification_text = "veksnmpagent test notification";

constexpr std::string_view k_help =
    "Console commands:\n"
    "  temp <C>              set the temperature sensor (-40..85 degrees Celsius)\n"
    "  led <0|1>             switch the LED off or on (no notification; a SET of ledControl sends one)\n"
    "  fan <pwm>             set the fan drive (0..1000; 10 RPM per step)\n"
    "  trap <oid> [value]    send a trap <oid> with <oid>.1 = value (a number is sent as INTEGER)\n"
    "  inform <oid> [value]  the same as an inform\n"
    "  status                show the simulated hardware and the notification target\n"
    "  help                  this list\n"
    "  quit                  stop the agent\n";

std::string_view trim(std::string_view text) {
    const size_t first = text.find_first_not_of(k_blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(k_blanks);
    return text.substr(first, last - first + 1);
}

/* Splits off the first word; `rest` keeps what follows it (trimmed). */
std::string_view first_word(std::string_view text, std::string_view &rest) {
    text = trim(text);
    const size_t end = text.find_first_of(k_blanks);
    rest = end == std::string_view::npos ? std::string_view{} : trim(text.substr(end));
    return text.substr(0, end);
}

template <typename T> bool parse_number(std::string_view text, T &out) {
    if (text.empty()) {
        return false;
    }
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

std::string target_text(const agent_app_target &target) { return target.host + ":" + std::to_string(target.port); }

void print_status(const console_context &ctx) {
    const sample_device &dev = ctx.device;
    std::printf("temperature %d C, LED %s, fan PWM %u (%u RPM), notifications to %s\n",
                static_cast<int>(dev.temperature()), dev.led() != 0 ? "on" : "off",
                static_cast<unsigned>(dev.fan_pwm()), static_cast<unsigned>(dev.fan_rpm()),
                target_text(ctx.target).c_str());
}

void command_temp(std::string_view arg, console_context &ctx) {
    int32_t celsius = 0;
    if (!parse_number(arg, celsius) || !ctx.device.set_temperature(celsius)) {
        std::printf("temp: give whole degrees Celsius from %d to %d\n", static_cast<int>(sample_device::k_min_temp_c),
                    static_cast<int>(sample_device::k_max_temp_c));
        return;
    }
    std::printf("temperature set to %d C\n", static_cast<int>(celsius));
}

void command_led(std::string_view arg, console_context &ctx) {
    uint32_t state = 0;
    if (!parse_number(arg, state) || !ctx.device.set_led(state)) {
        std::puts("led: give 0 (off) or 1 (on)");
        return;
    }
    std::printf("LED switched %s\n", state != 0 ? "on" : "off");
}

void command_fan(std::string_view arg, console_context &ctx) {
    uint32_t pwm = 0;
    if (!parse_number(arg, pwm) || !ctx.device.set_fan_pwm(pwm)) {
        std::printf("fan: give a PWM value from 0 to %u\n", static_cast<unsigned>(sample_device::k_max_fan_pwm));
        return;
    }
    std::printf("fan PWM set to %u (%u RPM)\n", static_cast<unsigned>(pwm), static_cast<unsigned>(ctx.device.fan_rpm()));
}

void command_notify(std::string_view name, std::string_view arg, console_context &ctx) {
    const bool inform = name == "inform";
    std::string_view value;
    const std::string_view oid = first_word(arg, value);
    if (oid.empty()) {
        std::printf("%.*s: give the notification OID, e.g. %.*s 1.3.6.1.4.1.12345.2.1 hello\n",
                    static_cast<int>(name.size()), name.data(), static_cast<int>(name.size()), name.data());
        return;
    }
    if (value.empty()) {
        value = k_default_notification_text;
    }
    const int32_t rc = agent_app_send_custom(ctx.target, inform, oid, value);
    if (rc != AGENT_SNMP_OK) {
        std::printf("%.*s %.*s failed: %s (%d)\n", static_cast<int>(name.size()), name.data(),
                    static_cast<int>(oid.size()), oid.data(), agent_snmp_err_to_str(rc), static_cast<int>(rc));
        return;
    }
    std::printf("%.*s %.*s sent to %s\n", static_cast<int>(name.size()), name.data(), static_cast<int>(oid.size()),
                oid.data(), target_text(ctx.target).c_str());
}

} // namespace

console_reader::~console_reader() { stop(); }

std::vector<std::string> console_reader::take_lines() {
    std::lock_guard<std::mutex> lock(mtx_);
    return std::exchange(lines_, {});
}

void console_reader::consume(std::string_view bytes) {
    for (const char c : bytes) {
        if (c == '\n') {
            add_line(std::exchange(partial_, {}));
        } else if (partial_.size() < k_max_line) {
            partial_.push_back(c);
        } else {
            add_line(std::exchange(partial_, std::string(1, c)));
        }
    }
}

void console_reader::finish_input() {
    if (!partial_.empty()) {
        add_line(std::exchange(partial_, {}));
    }
}

void console_reader::add_line(std::string line) {
    std::lock_guard<std::mutex> lock(mtx_);
    lines_.push_back(std::move(line));
}

console_verdict agent_app_console_execute(std::string_view line, console_context &ctx) {
    std::string_view arg;
    const std::string_view name = first_word(line, arg);
    if (name.empty()) {
        return console_verdict::keep_running;
    }
    if (name == "quit" || name == "exit") {
        return console_verdict::quit;
    }
    if (name == "help") {
        std::fputs(k_help.data(), stdout);
    } else if (name == "status") {
        print_status(ctx);
    } else if (name == "temp") {
        command_temp(arg, ctx);
    } else if (name == "led") {
        command_led(arg, ctx);
    } else if (name == "fan") {
        command_fan(arg, ctx);
    } else if (name == "trap" || name == "inform") {
        command_notify(name, arg, ctx);
    } else {
        std::printf("unknown command '%.*s' (type help)\n", static_cast<int>(name.size()), name.data());
    }
    return console_verdict::keep_running;
}

std::string_view agent_app_console_help() { return k_help; }
