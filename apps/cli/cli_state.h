/* Process-wide state of the command-line manager and the wake-up used by every wait in it.
 *
 * The flags are written by one thread and read by another (the main thread, the trap listener
 * thread, the signal thread and the SDK's callback threads), so they are atomics. Every wait of the
 * program goes through cli_wait_until: whoever changes a flag that a waiter watches calls
 * cli_wake_waiters afterwards, so a waiter returns the moment its condition holds instead of
 * polling. */
#ifndef VEK_APPS_CLI_STATE_H
#define VEK_APPS_CLI_STATE_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

/* The name the program gives itself in every message, whatever it was started as. */
inline constexpr const char *k_cli_program_name = "veksnmpnms";

inline constexpr uint32_t k_cli_default_log_level = 1;  /* INFO */
inline constexpr uint16_t k_cli_default_trap_port = 162;
inline constexpr uint16_t k_cli_default_agent_port = 161;

extern std::atomic<uint32_t> g_snmp_log_lvl;       /* log level handed to the SDK at initialisation */
extern std::atomic<uint16_t> g_trap_listen_port;   /* port of the trap listener */
extern std::atomic<uint16_t> g_dev_snmp_port;      /* agent port for agents the trap callback creates */
extern std::mutex g_agent_mtx;                     /* serialises agent check-remove-create sequences */
extern std::thread g_trap_thread;                  /* the trap listener thread (main thread only) */
extern std::atomic<bool> g_trap_cb_reg;            /* the trap callback is registered with the SDK */
extern std::atomic<bool> g_cli_snmp_inited;        /* the SDK was initialised by this process */
extern std::atomic<bool> g_exit_flag;              /* Ctrl+C, termination or exit was seen */
extern std::atomic<bool> g_trap_running;           /* a trap listener should be running */
extern std::atomic<bool> g_response_received;      /* the current request got an answer with variables */
extern std::atomic<bool> g_request_failed;         /* the current request failed or missed an object */
extern uint32_t g_timer_id;                        /* periodic 1 ms timer (Windows); 0 when none */

/* Wakes every thread blocked in cli_wait_until so that it re-checks its condition. */
void cli_wake_waiters();

/* Blocks until ready() is true or the time-out has passed; returns ready()'s last value. */
bool cli_wait_until(const std::function<bool()> &ready, std::chrono::milliseconds timeout);

/* One-time SDK initialisation of this process (cli_safe_snmp_init). */
void cli_safe_snmp_init();

/* ---- The system's part (cli_os_linux.cpp, cli_os_win32.cpp) ---- */

/* Starts the periodic 1 ms timer with its empty routine and announces it (Windows: a multimedia
 * timer, whose identifier goes into g_timer_id); the Linux build starts none and says nothing. */
void start_snmp_1ms_timer();

/* Stops the periodic 1 ms timer when one runs (only the Windows build starts one). */
void stop_snmp_1ms_timer();

/* Routes the interrupt and termination signals (Ctrl+C) to sigint_handler, which then runs on a
 * thread of its own. Must be called before any other thread is started; calling it again changes
 * nothing. */
void cli_install_signal_handler();

#endif
