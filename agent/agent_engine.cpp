// The agent's own SNMPv3 engine clock: boots grows at every start, time counts the seconds since
// boots last changed on a monotonic clock of its own.
#include "agent/agent_engine.h"

#include "agent/agent_config.h"
#include "base/agent_log.h"
#include "base/irq_section.h"
#include "base/platform.h"
#include "codec/snmpv3_crypto.h"

namespace {

constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kMsPerSecond = 1000;

uint64_t monotonic_ms() { return platform_get_tick_us() / kUsPerMs; }

// Shared with the once-a-second callback: read and written inside the interrupt bracket.
agent_engine_clock_fn g_clock = monotonic_ms;
uint32_t g_boots = 0;
uint64_t g_counted_ms = 0;  // engine time (in ms) counted up to the clock reading g_read_at_ms
uint64_t g_read_at_ms = 0;

void restart_time() {
    g_counted_ms = 0;
    g_read_at_ms = g_clock();
}

// Engine time in milliseconds now; a clock that went backwards counts as standing still.
uint64_t elapsed_ms() {
    const uint64_t now = g_clock();
    if (now > g_read_at_ms) {
        g_counted_ms += now - g_read_at_ms;
    }
    g_read_at_ms = now;
    return g_counted_ms;
}

uint32_t next_boots(uint32_t boots) { return boots < SNMP_V3_ENGINE_VALUE_MAX ? boots + 1 : boots; }

void mirror(const snmp_engine_clock &clock) {
    agent_cfg.engine_boots = clock.engine_boots;
    agent_cfg.engine_time = clock.engine_time;
}

}  // namespace

extern "C" {

void agent_engine_set_last_boots(uint32_t boots) {
    vek::IrqSection section;
    g_boots = boots;
    restart_time();
    mirror({g_boots, 0});
}

uint32_t agent_engine_start(void) {
    uint32_t boots = 0;
    {
        vek::IrqSection section;
        g_boots = next_boots(g_boots);
        restart_time();
        mirror({g_boots, 0});
        boots = g_boots;
    }
    if (boots >= SNMP_V3_ENGINE_VALUE_MAX) {
        AGENT_LOG(AGENT_LOG_ERROR, "agent_engine_start: 引擎启动次数已达上限（%u），SNMPv3请求将不再被接受", boots);
    }
    return boots;
}

snmp_engine_clock agent_engine_now(void) {
    vek::IrqSection section;
    uint64_t seconds = elapsed_ms() / kMsPerSecond;
    if (seconds > SNMP_V3_ENGINE_VALUE_MAX) {
        // Engine time never passes its maximum: boots moves on and time starts again.
        g_boots = next_boots(g_boots);
        restart_time();
        seconds = 0;
    }
    const snmp_engine_clock clock{g_boots, static_cast<uint32_t>(seconds)};
    mirror(clock);
    return clock;
}

uint32_t agent_engine_boots(void) { return agent_engine_now().engine_boots; }

void agent_engine_set_clock(agent_engine_clock_fn clock) {
    vek::IrqSection section;
    // The engine time goes on where it was: only the source of the passing seconds changes.
    elapsed_ms();
    g_clock = clock != nullptr ? clock : monotonic_ms;
    g_read_at_ms = g_clock();
}

}  // extern "C"
