/* Layout of the public records as a C translation unit sees them. */
#ifndef VEK_TESTS_NMS_HEADER_PROBE_H
#define VEK_TESTS_NMS_HEADER_PROBE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct nms_header_layout {
    size_t varbind_size;
    size_t varbind_type;
    size_t varbind_value;
    size_t varbind_value_len;
    size_t agent_config_size;
    size_t user_config_size;
    size_t user_config_priv_password;
    size_t response_size;
    size_t response_varbinds;
    size_t trap_size;
    size_t trap_varbinds;
    size_t agent_info_size;
    size_t user_info_size;
    const char *error_text;
} nms_header_layout;

void nms_header_probe_layout(nms_header_layout *layout);

#ifdef __cplusplus
}
#endif

#endif
