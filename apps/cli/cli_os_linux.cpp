/* The command-line manager's system part on Linux: the signal thread, and no 1 ms timer. */
#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "apps/cli/cli_state.h"
#include "apps/cli/cli_trap.h"

namespace {

std::atomic<bool> g_signal_thread_started{false};

/* Signal sets are filled by the C library's macros; this keeps that in one place. */
sigset_t cli_handled_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

/* Receives the blocked signals one at a time and handles each on this ordinary thread, where
 * printing and waking waiters are safe (neither is allowed inside an asynchronous handler). */
void signal_thread(sigset_t set) {
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) == 0) {
            sigint_handler(sig);
        }
    }
}

} // namespace

void start_snmp_1ms_timer() {}

void stop_snmp_1ms_timer() {
    if (g_timer_id != 0) {
        g_timer_id = 0;
        std::puts("[调试] 1ms定时器已停止");
    }
}

void cli_install_signal_handler() {
    if (g_signal_thread_started.exchange(true)) {
        return;
    }
    sigset_t set = cli_handled_signals();
    // Every thread started from here on inherits the mask, so only the signal thread receives them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(signal_thread, set).detach();
}
