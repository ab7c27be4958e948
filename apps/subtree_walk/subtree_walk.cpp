/* The rules of walking one subtree (see subtree_walk.h). */
#include "apps/subtree_walk/subtree_walk.h"

#include <algorithm>
#include <charconv>
#include <compare>
#include <cstring>

namespace subtree_walk {

namespace {

/* Margin past the second's turn: a coarse clock tick and then some. */
constexpr std::chrono::milliseconds k_flow_second_margin{20};
/* An OID on the wire has at least two arcs. */
constexpr size_t k_min_encoded_arcs = 2;
constexpr std::string_view k_first_arc_suffix = ".0";
/* SNMPv1 reports the end of the MIB view as this error-status. */
constexpr uint32_t k_status_no_such_name = 2;

std::strong_ordering compare(const oid_arcs &a, const oid_arcs &b) {
    const auto x = a.view();
    const auto y = b.view();
    return std::lexicographical_compare_three_way(x.begin(), x.end(), y.begin(), y.end());
}

bool in_subtree(const oid_arcs &root, const oid_arcs &oid) {
    return oid.len >= root.len && std::equal(root.arcs.begin(), root.arcs.begin() + root.len, oid.arcs.begin());
}

/* A GET binding (type NULL, no value) of the OID of vb. */
api_snmp_varbind get_binding(const api_snmp_varbind &vb) {
    api_snmp_varbind out{};
    const std::string_view oid = oid_text(vb);
    std::copy(oid.begin(), oid.end(), out.oid);
    out.type = API_SNMP_BER_NULL;
    return out;
}

} // namespace

std::chrono::system_clock::time_point flow_window_reopens() {
    return std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now()) + k_flow_second_margin;
}

std::optional<oid_arcs> parse_oid(std::string_view text) {
    if (text.starts_with('.')) {
        text.remove_prefix(1);
    }
    oid_arcs oid;
    while (!text.empty() && oid.len < k_max_oid_arcs) {
        uint32_t arc = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), arc);
        if (ec != std::errc() || end == text.data()) {
            return std::nullopt;
        }
        oid.arcs[oid.len++] = arc;
        text.remove_prefix(static_cast<size_t>(end - text.data()));
        if (text.empty()) {
            break;
        }
        if (text.front() != '.' || text.size() == 1) {
            return std::nullopt;
        }
        text.remove_prefix(1);
    }
    if (!text.empty() || oid.len == 0) {
        return std::nullopt;
    }
    return oid;
}

std::string_view oid_text(const api_snmp_varbind &vb) { return {vb.oid, strnlen(vb.oid, sizeof vb.oid)}; }

bool is_exception(uint8_t type) {
    return type == API_SNMP_BER_NO_SUCH_OBJECT || type == API_SNMP_BER_NO_SUCH_INSTANCE ||
           type == API_SNMP_BER_END_OF_MIB_VIEW;
}

std::optional<walk> walk::start(std::string_view root_oid, uint32_t version) {
    const std::optional<oid_arcs> root = parse_oid(root_oid);
    if (!root) {
        return std::nullopt;
    }
    const size_t suffix = root->len < k_min_encoded_arcs ? k_first_arc_suffix.size() : 0;
    if (root_oid.size() + suffix >= API_SNMP_OID_SIZE) {
        return std::nullopt;
    }
    walk w;
    w.root_ = *root;
    w.last_ = *root;
    std::copy(root_oid.begin(), root_oid.end(), w.root_vb_.oid);
    w.root_vb_.type = API_SNMP_BER_NULL;
    w.next_ = w.root_vb_;
    if (root->len < k_min_encoded_arcs) {
        // An OID goes on the wire with at least two arcs: the walk of a top arc starts from its ".0",
        // the smallest OID under it, and the arc itself names no object to read.
        const std::string_view first_under = k_first_arc_suffix;
        std::copy(first_under.begin(), first_under.end(), w.next_.oid + root_oid.size());
    }
    w.version_ = version;
    return w;
}

request_kind walk::next_kind() const {
    if (reading_root_) {
        return request_kind::get_root;
    }
    return version_ == API_SNMP_V1 ? request_kind::get_next : request_kind::get_bulk;
}

step walk::fail(failure why) {
    failure_ = why;
    return step::failed;
}

step walk::subtree_ended() {
    if (count_ > 0 || root_.len < k_min_encoded_arcs) {
        return step::done;
    }
    reading_root_ = true;
    next_ = root_vb_;
    return step::send;
}

step walk::take_root_answer(const api_snmp_response &response,
                            const std::function<void(const api_snmp_varbind &)> &on_object) {
    if (response.error_status == k_status_no_such_name && version_ == API_SNMP_V1) {
        return step::done;
    }
    if (response.error_status != 0) {
        error_status_ = response.error_status;
        return fail(failure::error_status);
    }
    if (response.var_count > 0) {
        const api_snmp_varbind &vb = response.varbinds[0];
        if (is_exception(vb.type)) {
            offending_ = vb;
            root_exception_ = true;
        } else {
            ++count_;
            on_object(vb);
        }
    }
    return step::done;
}

step walk::take(const api_snmp_response &response, const std::function<void(const api_snmp_varbind &)> &on_object) {
    if (response.error != API_SNMP_OK) {
        error_ = response.error;
        return fail(failure::local_error);
    }
    if (reading_root_) {
        return take_root_answer(response, on_object);
    }
    if (response.error_status == k_status_no_such_name && version_ == API_SNMP_V1) {
        return subtree_ended();
    }
    if (response.error_status != 0) {
        error_status_ = response.error_status;
        return fail(failure::error_status);
    }
    const size_t count = std::min<size_t>(response.var_count, API_SNMP_MAX_RESPONSE_VARBINDS);
    if (count == 0) {
        return fail(failure::empty_answer);
    }
    for (size_t i = 0; i < count; ++i) {
        const api_snmp_varbind &vb = response.varbinds[i];
        const std::optional<oid_arcs> oid = parse_oid(oid_text(vb));
        if (is_exception(vb.type) || !oid || !in_subtree(root_, *oid)) {
            return subtree_ended(); // endOfMibView, or the first OID past the subtree
        }
        if (compare(*oid, last_) != std::strong_ordering::greater) {
            offending_ = vb;
            return fail(failure::not_increasing);
        }
        last_ = *oid;
        next_ = get_binding(vb);
        ++count_;
        on_object(vb);
    }
    return step::send;
}

} // namespace subtree_walk
