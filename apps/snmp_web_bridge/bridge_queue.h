/* The connection queue of the web bridge: the accept loop appends client sockets, the workers take
 * them in order. A ring of 32 slots that counts as full when advancing the tail would reach the
 * head, so 31 connections can wait. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_QUEUE_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_QUEUE_H

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "apps/snmp_web_bridge/bridge_socket.h"

namespace bridge {

inline constexpr size_t kQueueSlots = 32;

class connection_queue {
public:
    /* Appends the client and wakes one worker; false (client left as it is) when the queue is full. */
    bool push(unique_fd &client);
    /* Waits until a client is queued and takes the oldest. */
    unique_fd pop();
    size_t size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::array<unique_fd, kQueueSlots> slots_{};
    size_t head_ = 0;
    size_t tail_ = 0;
};

} // namespace bridge

#endif
