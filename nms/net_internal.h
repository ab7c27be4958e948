/* Internal joints of the network interface layer, shared by its own units only. */
#ifndef VEK_NMS_NET_INTERNAL_H
#define VEK_NMS_NET_INTERNAL_H

#ifdef __cplusplus

namespace vek::nms::net {

// True between a successful net_interface_init and the start of net_interface_deinit.
bool layer_ready() noexcept;

// Creates the empty receive queue with its mutex and semaphore; false (logged) on failure, with
// nothing left allocated.
bool queue_init() noexcept;

// Frees every queued packet and destroys the queue's mutex and semaphore.
void queue_release() noexcept;

}  // namespace vek::nms::net

#endif

#endif
