/* The agent headers as a C translation unit sees them. */
#ifndef VEK_TESTS_AGENT_HEADER_PROBE_H
#define VEK_TESTS_AGENT_HEADER_PROBE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct agent_header_layout {
    size_t config_size;
    size_t config_engine_id;
    size_t config_trusted_nms;
    size_t config_trusted_nms_count;
    size_t trans_ctx_size;
    size_t trans_ctx_whitelist_count;
    size_t user_mgr_size;
    size_t inform_entry_size;
} agent_header_layout;

void agent_header_probe_layout(agent_header_layout *layout);

#ifdef __cplusplus
}
#endif

#endif
