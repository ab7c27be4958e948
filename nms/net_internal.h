/* Internal joints of the network interface layer, shared by its own units only. */
#ifndef VEK_NMS_NET_INTERNAL_H
#define VEK_NMS_NET_INTERNAL_H

#ifdef __cplusplus

#include <cstdint>

namespace vek::nms::net {

// True between a successful net_interface_init and the start of net_interface_deinit.
bool layer_ready() noexcept;

// Creates the empty receive queue with its mutex and semaphore; false (logged) on failure, with
// nothing left allocated.
bool queue_init() noexcept;

// True while the queue can take one more packet.
bool queue_has_room() noexcept;

// Waits at most timeout_ms until the queue can take one more packet; returns early (false) when
// queue_wake_waiters is called. True when there is room.
bool queue_wait_for_room(uint32_t timeout_ms) noexcept;

// Ends every wait for room at once (a producer is stopping).
void queue_wake_waiters() noexcept;

// Frees every queued packet and destroys the queue's mutex and semaphore.
void queue_release() noexcept;

}  // namespace vek::nms::net

#endif

#endif
