/* IF-MIB for veksnmpagent: ifNumber, ifTable and the ifXTable columns of names, 64-bit counters and
 * speed, for the host's real interfaces (agent_app_ifstats.h). The interfaces are read again when a
 * request finds the last reading older than a second, so that one walk sees one reading. */
#ifndef VEK_APPS_VEKSNMPAGENT_INTERFACES_H
#define VEK_APPS_VEKSNMPAGENT_INTERFACES_H

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "agent/vek_agent_sdk.h"
#include "apps/veksnmpagent/agent_app_ifstats.h"

inline constexpr char k_if_number_oid[] = "1.3.6.1.2.1.2.1.0";
inline constexpr char k_if_entry_oid[] = "1.3.6.1.2.1.2.2.1";
inline constexpr char k_if_x_entry_oid[] = "1.3.6.1.2.1.31.1.1.1";

struct if_column;

class host_interfaces_mib {
public:
    host_interfaces_mib() = default;
    host_interfaces_mib(const host_interfaces_mib &) = delete;
    host_interfaces_mib &operator=(const host_interfaces_mib &) = delete;

    /* Registers ifNumber, ifTable and ifXTable: 0 or the agent's code. */
    int32_t install();

private:
    /* What one registered table hands its row callback. */
    struct table_binding {
        host_interfaces_mib *owner = nullptr;
        std::span<const if_column> columns;
    };

    const std::vector<host_interface> &current();
    static int32_t if_number_read(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx);
    static int32_t row(uint32_t op, uint32_t *index, uint32_t column, agent_snmp_vb *vb, void *ctx);

    std::vector<host_interface> interfaces_;
    std::chrono::steady_clock::time_point read_at_{};
    bool read_once_ = false;
    table_binding if_table_{};
    table_binding if_x_table_{};
};

#endif
