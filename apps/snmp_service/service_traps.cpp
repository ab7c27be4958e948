#include "apps/snmp_service/service_traps.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace service {

trap_ring g_trap_ring;
recent_traps g_recent_traps;

namespace {

constexpr size_t k_max_sender_ip_len = 31;
/* How often the consumer, while nothing arrives, looks at the running flag. */
constexpr std::chrono::milliseconds k_consumer_stop_check{200};

std::string bounded_text(const char *text, size_t max_len) {
    return text == nullptr ? std::string{} : std::string(text, strnlen(text, max_len));
}

} // namespace

trap_slot make_trap_slot(const char *ip, uint16_t port, const api_snmp_trap &trap, api_snmp_err error) {
    trap_slot slot;
    slot.version = trap.version;
    slot.community.assign(trap.community, strnlen(trap.community, sizeof trap.community));
    const size_t count = std::min<size_t>(trap.var_count, API_SNMP_TRAP_VARBIND_SLOTS);
    slot.varbinds.assign(trap.varbinds, trap.varbinds + count);
    slot.ip = bounded_text(ip, k_max_sender_ip_len);
    slot.port = port;
    slot.error = static_cast<uint32_t>(error);
    return slot;
}

// ---- trap_ring ----

trap_ring::trap_ring() : slots_(k_trap_ring_slots) {}

bool trap_ring::push(trap_slot slot) {
    {
        std::lock_guard<std::mutex> lock(mtx_);
        const size_t next = (tail_ + 1) % k_trap_ring_slots;
        if (next == head_) {
            return false;
        }
        slots_[tail_] = std::move(slot);
        tail_ = next;
    }
    arrived_.notify_one();
    return true;
}

bool trap_ring::take_locked(trap_slot &slot) {
    if (head_ == tail_) {
        return false;
    }
    slot = std::move(slots_[head_]);
    slots_[head_] = trap_slot{};
    head_ = (head_ + 1) % k_trap_ring_slots;
    return true;
}

bool trap_ring::pop(trap_slot &slot) {
    std::lock_guard<std::mutex> lock(mtx_);
    return take_locked(slot);
}

bool trap_ring::pop_wait(trap_slot &slot, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mtx_);
    arrived_.wait_for(lock, wait, [this] { return head_ != tail_; });
    return take_locked(slot);
}

size_t trap_ring::size() const {
    std::lock_guard<std::mutex> lock(mtx_);
    return (tail_ + k_trap_ring_slots - head_) % k_trap_ring_slots;
}

void trap_ring::clear() {
    std::lock_guard<std::mutex> lock(mtx_);
    for (trap_slot &slot : slots_) {
        slot = trap_slot{};
    }
    head_ = 0;
    tail_ = 0;
}

// ---- recent_traps ----

void recent_traps::add(const trap_slot &slot, int64_t arrival_time) {
    std::lock_guard<std::mutex> lock(mtx_);
    if (entries_.size() == k_recent_trap_count) {
        entries_.pop_front();
    }
    entries_.push_back(entry{next_seq_++, arrival_time, slot});
}

void recent_traps::write_json(json_writer &json) const {
    std::lock_guard<std::mutex> lock(mtx_);
    json.raw("{\"ret\":0,\"msg\":\"success\",\"total\":").unum(entries_.size()).raw(",\"list\":[");
    bool first = true;
    for (const entry &e : entries_) {
        json.raw(first ? "{\"seq\":" : ",{\"seq\":").unum(e.seq);
        first = false;
        json.raw(",\"time\":").num(e.time);
        json.raw(",\"ip\":").str(e.slot.ip).raw(",\"port\":").unum(e.slot.port);
        json.raw(",\"version\":").unum(e.slot.version).raw(",\"community\":").str(e.slot.community);
        json.raw(",\"error\":").unum(e.slot.error).raw(",\"var_count\":").unum(e.slot.varbinds.size());
        json.raw(",\"varbinds\":[");
        for (size_t i = 0; i < e.slot.varbinds.size(); ++i) {
            if (i != 0) {
                json.raw(",");
            }
            append_varbind_item(json, e.slot.varbinds[i]);
        }
        json.raw("]}");
    }
    json.raw("]}");
}

size_t recent_traps::size() const {
    std::lock_guard<std::mutex> lock(mtx_);
    return entries_.size();
}

void recent_traps::clear() {
    std::lock_guard<std::mutex> lock(mtx_);
    entries_.clear();
    next_seq_ = 1;
}

// ---- callback and consumer ----

void snmp_trap_callback(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                        void * /*user_data*/) {
    std::printf("[CALLBACK] Trap from %s:%d\n", ip != nullptr ? ip : "", port);
    if (trap == nullptr) {
        return;
    }
    trap_slot slot = make_trap_slot(ip, port, *trap, error);
    g_recent_traps.add(slot, static_cast<int64_t>(std::time(nullptr)));
    g_trap_ring.push(std::move(slot));
}

void trap_consume_thread(const std::atomic<bool> &running) {
    trap_slot slot;
    while (running.load()) {
        g_trap_ring.pop_wait(slot, k_consumer_stop_check);
    }
}

} // namespace service
