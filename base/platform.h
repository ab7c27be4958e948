/* Platform layer: the only place that touches the operating system for threads, locks, semaphores,
 * clocks, sleeping, random bytes, UDP reception, port probing, the executable's name and byte order.
 *
 * Two variants are built from two sources: the manager variant (platform_nms.cpp, library
 * vek_base_nms) offers every operation below; the agent variant (platform_agent.cpp, library
 * vek_base_agent) offers the common operations and the agent-only ones. Beneath each variant one
 * unit per operating system (platform_*_linux.cpp, platform_*_win32.cpp) does the system calls; the
 * build picks the one of the system it builds for. */
#ifndef VEK_BASE_PLATFORM_H
#define VEK_BASE_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *platform_thread_t;  /* 0 means none */
typedef void *platform_mutex_t;   /* 0 means none */
typedef void *platform_sem_t;     /* 0 means none */
typedef void *(*platform_thread_fn)(void *arg);
typedef void (*platform_1ms_cb)(void);

/* A socket as the system hands it out: a descriptor on Linux, a pointer-sized SOCKET handle on
 * Windows, whose invalid value has all bits set. platform_socket_valid() tells whether a value can
 * be a socket at all. */
#ifdef _WIN32
typedef uintptr_t platform_socket_t;
#define PLATFORM_INVALID_SOCKET (~(platform_socket_t)0)
static inline int platform_socket_valid(platform_socket_t sock) { return sock != PLATFORM_INVALID_SOCKET; }
#else
typedef int platform_socket_t;
#define PLATFORM_INVALID_SOCKET (-1)
static inline int platform_socket_valid(platform_socket_t sock) { return sock >= 0; }
#endif

#define PLATFORM_ADDR_TEXT_SIZE 16u /* dotted IPv4 text with its terminating zero */
#define PLATFORM_PATH_WORK_SIZE 512u

#define PLATFORM_SEM_OK 0
#define PLATFORM_SEM_ERROR (-1)
#define PLATFORM_SEM_TIMEOUT (-2)

/* ---- Common to both variants ---- */
int platform_init(void);   /* manager: 1 when the socket layer is ready; agent: result unused */
void platform_deinit(void); /* manager: shuts the socket layer down; agent: stops the soft timer */
uint32_t platform_get_tick_ms(void);
uint64_t platform_get_tick_us(void);
void platform_delay_ms(uint32_t ms);
int platform_rand_generate_crypto(uint8_t *buf, uint32_t len);
void platform_cpu_to_be32(uint8_t *dst, uint32_t value);
uint32_t platform_be32_to_cpu(const uint8_t *src);
void platform_cpu_to_be16(uint8_t *dst, uint16_t value);
uint16_t platform_be16_to_cpu(const uint8_t *src);

/* ---- Manager variant only ---- */
platform_thread_t platform_thread_create(platform_thread_fn routine, void *arg);
void platform_thread_join(platform_thread_t thread);
void platform_thread_detach(platform_thread_t thread);
uint64_t platform_thread_id(void);
platform_mutex_t platform_mutex_create(void);
void platform_mutex_lock(platform_mutex_t mutex);
void platform_mutex_unlock(platform_mutex_t mutex);
void platform_mutex_destroy(platform_mutex_t mutex);
platform_sem_t platform_sem_create(uint32_t initial_count, uint32_t max_count);
int platform_sem_post(platform_sem_t sem);
int platform_sem_timedwait(platform_sem_t sem, uint32_t timeout_ms);
void platform_sem_destroy(platform_sem_t sem);
int64_t platform_get_utc_seconds(void);
uint64_t platform_get_utc_ms(void);
int platform_udp_recvfrom(platform_socket_t sock, uint8_t *buf, uint32_t buf_len, char *from_addr,
                          uint16_t *from_port, uint32_t timeout_ms);
void *platform_malloc(uint32_t size); /* zero-filled */
void platform_free(void *block);
size_t platform_strlen(const char *text);
int platform_strcmp(const char *a, const char *b);
uint32_t platform_memcpy_s(void *dst, uint32_t dst_size, const void *src, uint32_t count);
uint32_t platform_strcpy_s(char *dst, uint32_t dst_size, const char *src);
int platform_rand_generate(uint8_t *buf, uint32_t len);
int platform_check_port_in_use(uint16_t port);
uint32_t platform_get_runtime_filename(char *buf, uint32_t size);

/* ---- Agent variant only ---- */
uint32_t platform_get_tick(void);
uint32_t platform_irq_save(void);
void platform_irq_restore(uint32_t state);
void platform_register_1ms_callback(platform_1ms_cb callback);

#ifdef __cplusplus
}
#endif

#endif
