/* The trap listener of the command-line manager: its thread, starting and stopping it, the one-shot
 * traplisten command, and the signal handling that stops it. */
#ifndef VEK_APPS_CLI_TRAP_H
#define VEK_APPS_CLI_TRAP_H

#include <cstdint>
#include <span>

/* Runs for the interrupt and termination signals (on the signal thread): announces the exit, sets
 * g_exit_flag and asks a running trap listener to stop. */
void sigint_handler(int sig);

/* Stops the trap listener thread and the SDK's listener, if one runs (trap_stop_all). */
void trap_stop_all();

/* What cli_prepare_listener found. */
enum class cli_listener_state { idle, already_running };

/* Cleans up a stale running flag or a finished listener thread, and reports whether a listener runs
 * now ("TRAP监听已在运行（端口：%d）" is printed in that case). */
cli_listener_state cli_prepare_listener();

/* Initialises the SDK once, marks the listener running on the port and starts its thread; false
 * when the thread could not be created (g_trap_running is then cleared). */
bool cli_start_listener(uint16_t port);

/* The command-line traplisten: words are those after "traplisten". Listens until Ctrl+C or until the
 * listener stops, then stops everything. */
void cli_traplisten_once(std::span<const char *const> words);

#endif
