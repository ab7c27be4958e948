/* Joints shared by the SNMP core's own units (agents and sending, receive path and tick, SNMPv3
 * engine); not part of any interface outside the core. */
#ifndef VEK_NMS_CORE_INTERNAL_H
#define VEK_NMS_CORE_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "nms/nms_snmp_core.h"
#include "nms/snmp_adapter.h"
#include "nms/vek_nms_sdk.h"

namespace vek::nms::core {

inline constexpr uint32_t kMsPerSecond = 1000;
inline constexpr char kNoUser[] = "";

// One outcome of a request, waiting to be handed to the response callback.
struct ResponseOutcome {
    char ip[API_SNMP_IP_SIZE];
    uint16_t port;
    char user_name[API_SNMP_USER_NAME_SIZE];
    uint32_t cmd_type;
    api_snmp_response response;
    void *user_data;
};

// Holds the list lock for its lifetime. When it ends, the lock is released first and then every
// outcome that was queued on this thread (post_response) is delivered to the response callback, so
// that no callback ever runs with a core lock held.
class CoreSection {
   public:
    CoreSection() noexcept;
    CoreSection(const CoreSection &) = delete;
    CoreSection &operator=(const CoreSection &) = delete;
    ~CoreSection();

    // Releases the lock (and delivers the queued outcomes) before the section ends.
    void release();

   private:
    platform_mutex_t mutex_;
    bool held_ = true;
};

// Queues an outcome on the calling thread; delivered when the thread's CoreSection ends.
void post_response(const ResponseOutcome &outcome);
// Queues a response outcome of the agent's outstanding request.
void post_agent_response(const snmp_core_agent &agent, const char *user_name, uint32_t cmd_type,
                         const api_snmp_response &response, void *user_data);
// Delivers the outcomes queued on this thread (called by CoreSection after unlocking).
void deliver_posted_responses();

// The registered trap callback and its user data (read together). List lock held.
api_snmp_trap_cb trap_callback(void **user_data) noexcept;

// UTC seconds now.
int64_t now_seconds() noexcept;

// The agent at ip:port, or null after the ERROR line "<tag>: Agent不存在（ip:port）". List lock held.
snmp_core_agent *find_agent_or_log(const char *tag, const char *ip, uint16_t port);

// Copies text into a fixed field, cut to size - 1 characters; a null source gives "".
void copy_text(char *dst, size_t size, const char *src) noexcept;

// True when an application waits for the outcome of the agent's outstanding request. A periodic
// re-discovery (SNMPv3, discovery outstanding, no held command) has no owner: its outcome is only
// logged.
bool request_has_owner(const snmp_core_agent &agent) noexcept;

// Ends the agent's outstanding request: nothing pending, nothing to retransmit, no held SNMPv3
// command, and an outstanding discovery is abandoned (state back to not discovered).
void end_request(snmp_core_agent &agent) noexcept;

// Ends the outstanding request after a failure detected on receipt (or in the tick). Unlike
// core_handle_error, an outstanding request's owner always learns the outcome, whatever the code.
void fail_request(snmp_core_agent &agent, uint32_t cmd_type, const char *user_name, uint32_t error,
                  void *user_data);

// Tells the tick that a request is outstanding (wakes a timer thread that sleeps while nothing
// is). List lock held.
void note_request_sent();

// Encodes, remembers and sends one request; flow control is applied when asked. List lock held.
api_snmp_err send_request(snmp_core_agent &agent, uint32_t cmd_type, const char *user_name,
                          const api_snmp_varbind *varbinds, uint8_t count, void *user_data, bool flow_controlled);

// Describes the agent for the adapter's encoders. user_storage receives the SNMPv3 user named by
// user_name (when the agent has it); it must outlive the use of out.
void fill_adapter_agent(snmp_core_agent &agent, const char *user_name, adapter_agent &out,
                        adapter_v3_user &user_storage) noexcept;

// The agent that owns sock, or null. List lock held.
snmp_core_agent *find_agent_by_socket(platform_socket_t sock) noexcept;

// The trap socket (-1 when none). List lock held.
platform_socket_t trap_socket() noexcept;

// An unbound UDP socket for an agent: a spare one of a removed agent, or a new one; -1 on failure.
// List lock held.
platform_socket_t acquire_socket() noexcept;
// Gives an agent's socket back for later use (closed when the core stops). List lock held.
void release_socket(platform_socket_t sock) noexcept;

// Wakes the receive thread out of its queue wait (used when the core stops).
void wake_receive_thread() noexcept;

// Calls fn for every agent, newest first. List lock held.
template <typename Fn>
void for_each_agent(Fn &&fn);

// Agents newest first (list lock held): the head of the linked list.
snmp_core_agent *agent_list_head() noexcept;

template <typename Fn>
void for_each_agent(Fn &&fn) {
    for (snmp_core_agent *agent = agent_list_head(); agent != nullptr; agent = agent->next) {
        fn(*agent);
    }
}

}  // namespace vek::nms::core

#endif
