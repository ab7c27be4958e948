/* The mask that log lines carry where a secret (password, key, configured community, decrypted
 * value) would stand: the line keeps its text, the secret never reaches the log. */
#ifndef VEK_BASE_LOG_MASK_H
#define VEK_BASE_LOG_MASK_H

#ifdef __cplusplus

#include "base/agent_log.h"

namespace vek {

inline constexpr char kLogMask[] = "***";

// A DEBUG dump of secret bytes: its title, then the mask in place of the bytes.
inline void log_masked_dump(const char *title) {
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        agent_log(AGENT_LOG_DEBUG, "%s", title);
        agent_log(AGENT_LOG_DEBUG, "%s", kLogMask);
    }
}

}  // namespace vek

#endif

#endif
