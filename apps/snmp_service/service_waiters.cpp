#include "apps/snmp_service/service_waiters.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

namespace service {

namespace {

constexpr unsigned k_seconds_shift = 32;
/* How often a waiting worker looks at the running flag. */
constexpr std::chrono::milliseconds k_wait_slice{200};

std::atomic<uint64_t> g_req_id_seed{0};
std::mutex g_req_hash_lock;
std::array<std::vector<waiter *>, k_req_hash_slots> g_req_hash;

std::vector<waiter *> &slot_of(uint64_t id) { return g_req_hash[id % k_req_hash_slots]; }

/* Under g_req_hash_lock. */
waiter *find_entered(uint64_t id) {
    std::vector<waiter *> &slot = slot_of(id);
    const auto it = std::find_if(slot.begin(), slot.end(), [id](const waiter *w) { return w->id == id; });
    return it == slot.end() ? nullptr : *it;
}

/* Under g_req_hash_lock. */
void remove_entered(waiter *w) {
    std::vector<waiter *> &slot = slot_of(w->id);
    slot.erase(std::remove(slot.begin(), slot.end(), w), slot.end());
}

} // namespace

uint64_t next_waiter_id() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since_epoch - seconds);
    const uint64_t clock_part = (static_cast<uint64_t>(seconds.count()) << k_seconds_shift) +
                                static_cast<uint64_t>(micros.count());
    return g_req_id_seed.fetch_add(1) + clock_part;
}

waiter_entry::waiter_entry(waiter &w) : waiter_(w) {
    {
        std::lock_guard<std::mutex> state(w.mtx);
        w.done = false;
        w.response = api_snmp_response{};
    }
    std::lock_guard<std::mutex> table(g_req_hash_lock);
    while (find_entered(w.id) != nullptr) {
        ++w.id;
    }
    slot_of(w.id).push_back(&w);
}

waiter_entry::~waiter_entry() {
    std::lock_guard<std::mutex> table(g_req_hash_lock);
    remove_entered(&waiter_);
}

bool deliver_response(uint64_t id, const api_snmp_response &response) {
    // The table lock stays held while the answer is handed over: a worker that stops waiting has to
    // take it to leave the table, so the waiter cannot go away in the middle of the hand-over.
    std::lock_guard<std::mutex> table(g_req_hash_lock);
    waiter *w = find_entered(id);
    if (w == nullptr) {
        return false;
    }
    remove_entered(w);
    {
        std::lock_guard<std::mutex> state(w->mtx);
        w->response = response;
        w->done = true;
    }
    w->cond.notify_one();
    return true;
}

bool wait_for_response(waiter &w, std::chrono::steady_clock::time_point deadline, const std::atomic<bool> &running) {
    std::unique_lock<std::mutex> state(w.mtx);
    while (!w.done && running.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            break;
        }
        w.cond.wait_until(state, std::min(deadline, now + k_wait_slice));
    }
    return w.done;
}

size_t entered_waiter_count() {
    std::lock_guard<std::mutex> table(g_req_hash_lock);
    size_t count = 0;
    for (const std::vector<waiter *> &slot : g_req_hash) {
        count += slot.size();
    }
    return count;
}

} // namespace service
