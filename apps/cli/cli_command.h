/* Executing one command line (one-shot or typed at the prompt). */
#ifndef VEK_APPS_CLI_COMMAND_H
#define VEK_APPS_CLI_COMMAND_H

#include <span>

#include "apps/cli/cli_options.h"

/* Exit codes of a one-shot command (the interactive mode and traplisten keep their own). */
inline constexpr int k_cli_exit_ok = 0;     /* every requested object was read or set */
inline constexpr int k_cli_exit_failed = 1; /* a time-out, an SNMP error or an exception value */
inline constexpr int k_cli_exit_usage = 2;  /* the command line was refused */

/* Ends the process with the exit code once everything printed is out. SDK threads may still run, so
 * no static destructor must run after this point. */
[[noreturn]] void cli_exit(int code);

/* Executes one command; words[0] is the program name, words[1] the command. Prints its outcome and
 * returns its exit code when the command is done (-h_vek ends the process). */
int cli_execute_and_print(std::span<const char *const> words);

/* Replaces any cached context of the request's target with a fresh one (and its SNMPv3 user);
 * false, with the reason printed, when that fails. */
bool cli_recreate_agent(const cli_request &request);

#endif
