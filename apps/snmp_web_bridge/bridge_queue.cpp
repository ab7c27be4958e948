/* The connection queue of the web bridge (see bridge_queue.h). */
#include "apps/snmp_web_bridge/bridge_queue.h"

namespace bridge {

bool connection_queue::push(unique_fd &client) {
    {
        const std::lock_guard lock(mutex_);
        const size_t next = (tail_ + 1) % slots_.size();
        if (next == head_) {
            return false;
        }
        slots_[tail_] = std::move(client);
        tail_ = next;
    }
    ready_.notify_one();
    return true;
}

unique_fd connection_queue::pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return head_ != tail_; });
    unique_fd client = std::move(slots_[head_]);
    head_ = (head_ + 1) % slots_.size();
    return client;
}

size_t connection_queue::size() const {
    const std::lock_guard lock(mutex_);
    return (tail_ + slots_.size() - head_) % slots_.size();
}

} // namespace bridge
