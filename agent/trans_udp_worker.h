// The receive thread of a UDP transport instance, the same on every system: started once, stopped
// by clearing its running flag, joined, or detached when it is stopped from its own callback.
#ifndef VEK_AGENT_TRANS_UDP_WORKER_H
#define VEK_AGENT_TRANS_UDP_WORKER_H

#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <utility>

#include "agent/trans.h"
#include "base/agent_log.h"

namespace vek::agent {

class udp_recv_worker {
public:
    bool running() const { return running_.load() != 0; }

    /* Starts entry(args...) on a thread of its own unless one runs already; create_call names the
     * system's thread call in the failure line. TRANS_UDP_OK or TRANS_UDP_ERR_THREAD. */
    template <typename Entry, typename... Args>
    int start(const char *create_call, Entry entry, Args... args) {
        int32_t expected = 0;
        if (!running_.compare_exchange_strong(expected, 1)) {
            AGENT_LOG(AGENT_LOG_WARN, "recv thread already running");
            return TRANS_UDP_OK;
        }
        try {
            thread_ = std::thread(entry, args...);
        } catch (const std::system_error &error) {
            running_.store(0);
            AGENT_LOG(AGENT_LOG_ERROR, "%s failed rc=%d", create_call, error.code().value());
            return TRANS_UDP_ERR_THREAD;
        }
        return TRANS_UDP_OK;
    }

    /* Clears the running flag, calls wake() when the thread was running, and waits for it to end
     * (stopped from its own callback, it is detached: its loop ends when the callback returns). */
    template <typename Wake>
    void stop(Wake wake) {
        int32_t expected = 1;
        if (running_.compare_exchange_strong(expected, 0)) {
            wake();
        }
        if (!thread_.joinable()) {
            return;
        }
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }

private:
    std::thread thread_;
    std::atomic<int32_t> running_{0};
};

}  // namespace vek::agent

#endif
