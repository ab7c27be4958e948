/* The web page the bridge serves for every path that is not one of its own: six panels (device
 * agents, SNMPv3 users, SNMP operations, result, log, notifications) with inline style and script.
 * Every value the page shows is inserted as text, never as markup. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_PAGE_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_PAGE_H

#include <cstdint>
#include <string_view>

namespace bridge {

/* The page, UTF-8. */
std::string_view index_html();

/* Makes the page propose this agent port in its port fields instead of 161. Call before serving. */
void set_page_agent_port(uint16_t port);

} // namespace bridge

#endif
