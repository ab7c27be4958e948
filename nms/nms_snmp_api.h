/* Argument checks of the manager library's public API, shared by its operations (and reachable
 * by the library's tests). Not part of the public interface. */
#ifndef VEK_NMS_SNMP_API_H
#define VEK_NMS_SNMP_API_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Dotted IPv4 text: exactly four parts of 1 to 3 decimal digits, each at most 255. */
bool api_validate_ip(const char *ip);
/* Dotted OID text: non-empty decimal digit groups separated by single dots. */
bool api_validate_oid_format(const char *oid);

#ifdef __cplusplus
}
#endif

#endif
