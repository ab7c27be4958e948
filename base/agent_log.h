/* Log facility shared by both SDK libraries and their programs.
 *
 * Every module reports through agent_log(level, format, ...). Each library carries its own copy of
 * the settings (g_log_config): the manager library starts at WARN, the agent library at DEBUG.
 * Inner layers use AGENT_LOG(), which tests the filter before the arguments are even evaluated, so a
 * filtered line costs one comparison.
 *
 * Warnings and worse are rate-limited by kind (one call site with its format): at most one line of
 * a kind per second; the lines held back are counted, and the count is written just before the next
 * line of that kind. A flood of bad datagrams thus writes two lines a second, not one per datagram.
 * VEK_LOG_REPEATS=all in the environment writes every line. */
#ifndef VEK_BASE_AGENT_LOG_H
#define VEK_BASE_AGENT_LOG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum agent_log_level {
    AGENT_LOG_DEBUG = 0,
    AGENT_LOG_INFO = 1,
    AGENT_LOG_WARN = 2,
    AGENT_LOG_ERROR = 3,
    AGENT_LOG_FATAL = 4,
};

#define AGENT_LOG_LEVEL_MAX 4u
#define AGENT_LOG_TARGET_CONSOLE 0x1u
#define AGENT_LOG_MAX_ENTRIES_MIN 1u
#define AGENT_LOG_MAX_ENTRIES_MAX 1024u
#define AGENT_LOG_MAX_ENTRIES_DEFAULT 256u
#define AGENT_LOG_LINE_SIZE 1024u
#define AGENT_LOG_PRINTF_SIZE 256u

/* Settings of one library's log facility; agent_log_init takes a record of the same layout. */
typedef struct agent_log_config {
    uint32_t level;       /* lowest level that is written */
    uint32_t targets;     /* bit 0: console (standard output); other bits are kept, write nothing */
    uint32_t reserved;    /* never read */
    uint16_t max_entries; /* 1..1024, kept and validated only */
} agent_log_config;

extern agent_log_config g_log_config;
extern const char *const g_log_level_str[AGENT_LOG_LEVEL_MAX + 1];

void agent_log(uint32_t level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void agent_log_init(const agent_log_config *config);
void agent_log_set_level(uint32_t level);
void agent_log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void agent_log_hexdump(const char *title, const void *data, uint16_t length);
uint32_t agent_log_get_count(void);
const void *agent_log_get_entry(uint32_t index);
void agent_log_clear_flash(void);

/* The filter of agent_log: true when a line of this level would be written. */
static inline int agent_log_enabled(uint32_t level) {
    return level >= __atomic_load_n(&g_log_config.level, __ATOMIC_RELAXED) &&
           (__atomic_load_n(&g_log_config.targets, __ATOMIC_RELAXED) & AGENT_LOG_TARGET_CONSOLE) != 0;
}

#define AGENT_LOG(level, ...)                   \
    do {                                        \
        if (agent_log_enabled(level)) {         \
            agent_log((level), __VA_ARGS__);    \
        }                                       \
    } while (0)

#ifdef __cplusplus
}
#endif

#endif
