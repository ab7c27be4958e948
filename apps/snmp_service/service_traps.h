/* Notifications received by the HTTP service.
 *
 * The SDK's trap callback stores every notification twice: in g_trap_ring, a queue of 8192 slots
 * (8191 usable) that the trap consumer thread empties, and in the list of the most recent 100
 * notifications that /api_snmp_trap_list answers (oldest first). */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_TRAPS_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_TRAPS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "apps/snmp_service/service_json.h"
#include "nms/vek_nms_sdk.h"

namespace service {

inline constexpr size_t k_trap_ring_slots = 8192;
inline constexpr size_t k_recent_trap_count = 100;

/* One received notification: the trap record's fields with its filled varbinds, the sender and the
 * error code given to the callback. */
struct trap_slot {
    uint32_t version = 0;
    std::string community;
    std::vector<api_snmp_varbind> varbinds;
    std::string ip; /* at most 31 characters */
    uint16_t port = 0;
    uint32_t error = 0;
};

/* Builds a slot from the callback's arguments; null texts count as empty. */
trap_slot make_trap_slot(const char *ip, uint16_t port, const api_snmp_trap &trap, api_snmp_err error);

/* Ring of k_trap_ring_slots slots with head and tail taken modulo its size; it is full when advancing
 * the tail would reach the head. */
class trap_ring {
public:
    trap_ring();
    /* Stores the slot at the tail; false (the slot is dropped) when the ring is full. */
    bool push(trap_slot slot);
    /* Takes the slot at the head; false when the ring is empty. */
    bool pop(trap_slot &slot);
    /* Takes the slot at the head, waiting up to wait for one to arrive; false when none came. */
    bool pop_wait(trap_slot &slot, std::chrono::milliseconds wait);
    size_t size() const;
    void clear();

private:
    bool take_locked(trap_slot &slot);
    mutable std::mutex mtx_;
    std::condition_variable arrived_;
    std::vector<trap_slot> slots_;
    size_t head_ = 0;
    size_t tail_ = 0;
};

/* The most recent notifications, oldest first, each with a sequence number (1 for the first one the
 * service received) and its arrival time in UTC seconds. */
class recent_traps {
public:
    void add(const trap_slot &slot, int64_t arrival_time);
    /* {"ret":0,"msg":"success","total":N,"list":[{"seq":..,"time":..,"ip":"..","port":..,
     * "version":..,"community":"..","error":..,"var_count":..,"varbinds":[{"oid":..,"value":..,"type":..}]}]} */
    void write_json(json_writer &json) const;
    size_t size() const;
    void clear();

private:
    struct entry {
        uint64_t seq;
        int64_t time;
        trap_slot slot;
    };
    mutable std::mutex mtx_;
    std::deque<entry> entries_;
    uint64_t next_seq_ = 1;
};

extern trap_ring g_trap_ring;
extern recent_traps g_recent_traps;

/* The SDK's trap callback: prints "[CALLBACK] Trap from %s:%d" and stores the notification in the
 * ring (dropped silently when it is full) and in the recent list. */
void snmp_trap_callback(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                        void *user_data);

/* Body of the trap consumer thread: while running, takes and discards the entry at the head of the
 * ring, sleeping until one arrives whenever the ring is empty. */
void trap_consume_thread(const std::atomic<bool> &running);

} // namespace service

#endif
