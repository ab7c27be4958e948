/* The small state file in which veksnmpagent keeps its SNMPv3 engine boots from one run to the
 * next: one decimal number and a line feed. Every start reads the last value and writes the new one
 * before the agent answers anything, so that no run repeats the (boots, time) pairs of another. */
#ifndef VEK_APPS_VEKSNMPAGENT_BOOTS_H
#define VEK_APPS_VEKSNMPAGENT_BOOTS_H

#include <cstdint>
#include <string>

/* The file used when -b is not given: $XDG_STATE_HOME/veksnmpagent/engine_boots, else
 * $HOME/.local/state/veksnmpagent/engine_boots, else veksnmpagent.engine_boots in the current
 * directory. */
std::string agent_app_default_boots_file();

/* The boots value kept in the file (0 when there is no file yet). False, with the reason, when the
 * file exists but cannot be read or holds no number. */
bool agent_app_read_boots(const std::string &path, uint32_t &boots, std::string &why);

/* Keeps the boots value: written next to the file and renamed over it (its directory is made when
 * missing), so that a crash never leaves half a number. False, with the reason, on failure. */
bool agent_app_write_boots(const std::string &path, uint32_t boots, std::string &why);

#endif
