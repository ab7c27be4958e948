/* The rules of walking one subtree, shared by the command line and the HTTP service: which request
 * comes next, where the subtree ends, and what ends a walk with an error. How requests are sent and
 * how objects are shown is the caller's.
 *
 * A walk reads with GET-NEXT (SNMPv1) or GET-BULK (SNMPv2c/v3), each request starting from the last
 * object read. It ends cleanly at the first OID outside the subtree, at an exception value
 * (endOfMibView) and, for SNMPv1, at the error-status noSuchName. It ends with an error at a local
 * failure, any other error-status, an empty answer, or an OID that does not increase (so that a
 * broken agent cannot keep it going forever). When the subtree holds nothing, its own OID is read
 * with a GET, as it may name a leaf. */
#ifndef VEK_APPS_SUBTREE_WALK_SUBTREE_WALK_H
#define VEK_APPS_SUBTREE_WALK_SUBTREE_WALK_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "nms/vek_nms_sdk.h"

namespace subtree_walk {

/* The most arcs an OID text of the public records carries ("0." per arc). */
inline constexpr size_t k_max_oid_arcs = API_SNMP_OID_SIZE / 2;
/* An answer delivers at most this many bindings: a GET-BULK asks for no more repetitions. */
inline constexpr uint8_t k_max_repetitions = API_SNMP_MAX_RESPONSE_VARBINDS;

/* An OID as its arcs, for ordering and the subtree test. */
struct oid_arcs {
    std::array<uint32_t, k_max_oid_arcs> arcs{};
    size_t len = 0;
    std::span<const uint32_t> view() const { return {arcs.data(), len}; }
};

/* When a request that the manager library's flow limit held back (API_SNMP_ERR_NO_RESOURCE: at most
 * 300 new requests in one calendar second) may be sent again: just after the next second begins.
 * The library reads the seconds from a clock that may lag the system clock by a tick. */
std::chrono::system_clock::time_point flow_window_reopens();

/* The arcs of a dotted OID text (one leading dot allowed); nothing for anything else. */
std::optional<oid_arcs> parse_oid(std::string_view text);

/* The text of a varbind's OID field. */
std::string_view oid_text(const api_snmp_varbind &vb);

/* True for the three exception values (noSuchObject, noSuchInstance, endOfMibView). */
bool is_exception(uint8_t type);

/* The request a walk sends next. */
enum class request_kind { get_next, get_bulk, get_root };

/* What a walk does after an answer. */
enum class step { send, done, failed };

/* Why a walk failed. */
enum class failure { none, local_error, error_status, empty_answer, not_increasing };

class walk {
public:
    /* A walk of the subtree of root_oid for an agent of that SNMP version; nothing when root_oid is
     * not an OID. */
    static std::optional<walk> start(std::string_view root_oid, uint32_t version);

    /* The request to send next and the variable binding it carries (a GET varbind of the OID to
     * start from, or of the walk's own OID for get_root). */
    request_kind next_kind() const;
    const api_snmp_varbind &next_varbind() const { return next_; }

    /* Reads the answer to the last request: calls on_object for each object in order and says what
     * comes next. After a failure, failure() and the accessors below tell why. */
    step take(const api_snmp_response &response, const std::function<void(const api_snmp_varbind &)> &on_object);

    size_t count() const { return count_; }
    failure why() const { return failure_; }
    uint32_t error() const { return error_; }               /* local_error: the api_snmp_err */
    uint32_t error_status() const { return error_status_; } /* error_status: the status */
    /* not_increasing: the OID read last before the one that did not follow it. */
    std::string_view previous_oid() const { return oid_text(next_); }
    std::string_view offending_oid() const { return oid_text(offending_); }
    /* The exception value the GET of the walk's own OID was answered with (nullptr when none). */
    const api_snmp_varbind *root_exception() const { return root_exception_ ? &offending_ : nullptr; }

private:
    walk() = default;
    step take_root_answer(const api_snmp_response &response,
                          const std::function<void(const api_snmp_varbind &)> &on_object);
    step subtree_ended();
    step fail(failure why);

    oid_arcs root_;
    oid_arcs last_;            /* the last OID read (the root before the first) */
    api_snmp_varbind root_vb_{};
    api_snmp_varbind next_{};  /* the binding the next request carries */
    api_snmp_varbind offending_{};
    uint32_t version_ = API_SNMP_V2C;
    size_t count_ = 0;
    bool reading_root_ = false;
    bool root_exception_ = false;
    failure failure_ = failure::none;
    uint32_t error_ = API_SNMP_OK;
    uint32_t error_status_ = 0;
};

} // namespace subtree_walk

#endif
