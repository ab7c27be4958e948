/* snmp_api_demo: a small interactive program that shows the manager library in use against one
 * fixed agent. Its output goes through the log facility, configured at WARN. */
#ifndef VEK_APPS_SNMP_API_DEMO_H
#define VEK_APPS_SNMP_API_DEMO_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#ifndef VEK_DEMO_TARGET_IP
#define VEK_DEMO_TARGET_IP "127.0.0.1"
#endif

inline constexpr const char *k_demo_target_ip = VEK_DEMO_TARGET_IP;
inline constexpr uint16_t k_demo_target_port = 161;
inline constexpr uint16_t k_demo_trap_port = 162;
inline constexpr uint32_t k_demo_timeout_ms = 2000;
inline constexpr std::chrono::milliseconds k_demo_poll_step{10};

extern std::atomic<bool> g_snmp_inited;    /* the SDK was initialised */
extern std::atomic<bool> g_agent_created;  /* the one agent exists */
extern std::atomic<bool> g_listen_running; /* the trap listener should run */
extern std::atomic<bool> g_exit_flag;      /* leave the program */
extern std::thread g_listen_thread;        /* the listener thread (main thread only) */

/* Initialises the SDK unless done ("SNMP 初始化完成"). */
void demo_snmp_init();

/* The request commands. */
void demo_get();
void demo_getnext();
void demo_bulkwalk();
void demo_set_led(bool on);

/* start-listen, stop-listen, and the stop of a running listener that exit and the end of input use. */
void demo_start_listen();
void demo_stop_listen();

#endif
