/* A UDP port on 127.0.0.1 that is free right now, for the tests written in C (one unit per system:
 * free_port_linux.c, free_port_win32.c). */
#ifndef VEK_TESTS_SUPPORT_FREE_PORT_H
#define VEK_TESTS_SUPPORT_FREE_PORT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when no socket could be bound. */
uint16_t test_free_udp_port(void);

#ifdef __cplusplus
}
#endif

#endif
