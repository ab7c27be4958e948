/* Waiters: how an HTTP worker waits for the SDK's response callback.
 *
 * Each request that goes to an agent gets a waiter with a unique 64-bit identifier, which travels to
 * the SDK as the request's user data. The waiter is entered in g_req_hash (1024 slots by the low 10
 * bits of the identifier; several waiters can share a slot, none replaces another) for exactly the
 * time the worker waits; the response callback finds it by identifier, copies the answer into it and
 * wakes the worker. A worker waits only until its deadline. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_WAITERS_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_WAITERS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "nms/vek_nms_sdk.h"

namespace service {

inline constexpr size_t k_req_hash_slots = 1024;

struct waiter {
    explicit waiter(uint64_t waiter_id) : id(waiter_id) {}
    waiter(const waiter &) = delete;
    waiter &operator=(const waiter &) = delete;

    uint64_t id;
    api_snmp_response response{};
    bool done = false; /* guarded by mtx */
    std::mutex mtx;
    std::condition_variable cond;
};

/* A fresh identifier: g_req_id_seed (then incremented) plus seconds * 2^32 + microseconds. */
uint64_t next_waiter_id();

/* Enters a waiter in g_req_hash for its lifetime: clears its done flag and answer on entry and
 * removes it on destruction, so that no reference to a finished waiter is left behind. When another
 * entered waiter already has the same identifier, the new one's identifier is moved on until it is
 * unique; use waiter.id only after entering it. */
class waiter_entry {
public:
    explicit waiter_entry(waiter &w);
    ~waiter_entry();
    waiter_entry(const waiter_entry &) = delete;
    waiter_entry &operator=(const waiter_entry &) = delete;

private:
    waiter &waiter_;
};

/* Hands an answer to the entered waiter with that identifier and wakes it; the waiter leaves the
 * table. False (and nothing happens) when no waiter with that identifier is entered, for example
 * after its worker stopped waiting. */
bool deliver_response(uint64_t id, const api_snmp_response &response);

/* Waits until the waiter has its answer (true), the deadline passes or running is cleared (false). */
bool wait_for_response(waiter &w, std::chrono::steady_clock::time_point deadline, const std::atomic<bool> &running);

/* Number of waiters entered at the moment. */
size_t entered_waiter_count();

} // namespace service

#endif
