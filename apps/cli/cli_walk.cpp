/* walk: the requests of a walk are sent from the response callback, so the next one leaves as soon
 * as an answer is read; the command's own thread only waits for the end, for a step that makes no
 * progress within the time-out, or for a step the SDK's flow limit held back. */
#include "apps/cli/cli_walk.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "apps/cli/cli_command.h"
#include "apps/cli/cli_output.h"
#include "apps/cli/cli_state.h"
#include "apps/subtree_walk/subtree_walk.h"

namespace {

using walk_clock = std::chrono::steady_clock;

enum class walk_end { running, done, failed };

/* What comes after an answer, carried out outside the walk's lock. */
enum class walk_action { none, send, finish };

/* The walk in progress; guarded by g_walk_mtx. */
struct walk_state {
    cli_request request;
    std::optional<subtree_walk::walk> rules;
    uintptr_t token = 0; /* user data of this walk's requests */
    walk_end end = walk_end::running;
    walk_clock::time_point last_answer{};
};

std::mutex g_walk_mtx;
walk_state g_walk;
std::atomic<bool> g_walk_finished{false};
std::atomic<bool> g_walk_held{false};
std::atomic<uintptr_t> g_walk_tokens{0};

/* What a request of the walk needs of the command's options. */
struct cli_target {
    std::array<char, API_SNMP_IP_SIZE> ip{};
    uint16_t port = 0;
    std::array<char, API_SNMP_USER_NAME_SIZE> user{};
    uint32_t version = API_SNMP_V2C;
    uint32_t timeout_ms = 0;
    uint8_t max_repetitions = 0;
};

cli_target cli_target_of(const cli_request &request) {
    return {request.ip, request.port, request.user, request.version, request.timeout_ms, request.max_repetitions};
}

template <typename Request> uint8_t bulk_repetitions(const Request &request) {
    return std::min(request.max_repetitions, subtree_walk::k_max_repetitions);
}

void print_failure(const subtree_walk::walk &rules) {
    switch (rules.why()) {
    case subtree_walk::failure::local_error:
        std::printf("API错误（代码：%d）：%s\n", static_cast<int>(rules.error()), api_snmp_error_to_str(rules.error()));
        if (rules.error() == API_SNMP_ERR_TIMEOUT) {
            std::puts("建议：检查设备是否在线，或延长超时时间（-t 参数）");
        }
        break;
    case subtree_walk::failure::error_status:
        std::printf("协议错误（状态码：%d）：%s\n", static_cast<int>(rules.error_status()),
                    api_snmp_error_status_to_str(rules.error_status()));
        break;
    case subtree_walk::failure::empty_answer:
        std::puts("执行失败：设备返回空响应（无有效变量数据）");
        break;
    case subtree_walk::failure::not_increasing: {
        const auto before = rules.previous_oid();
        const auto after = rules.offending_oid();
        std::printf("错误：设备返回的OID未递增（%.*s 之后是 %.*s），遍历中止\n", static_cast<int>(before.size()),
                    before.data(), static_cast<int>(after.size()), after.data());
        break;
    }
    case subtree_walk::failure::none:
        break;
    }
}

/* Reads one answer (walk lock held): prints its objects and says what comes next. */
walk_action take_answer(const api_snmp_response &response) {
    subtree_walk::walk &rules = *g_walk.rules;
    const subtree_walk::step step = rules.take(
        response, [&rules](const api_snmp_varbind &vb) { cli_print_response_varbind(static_cast<int>(rules.count()), vb); });
    if (step == subtree_walk::step::send) {
        return walk_action::send;
    }
    if (const api_snmp_varbind *missing = rules.root_exception(); missing != nullptr) {
        cli_print_response_varbind(1, *missing); // the walk's own OID, as the standard tools show it
    }
    print_failure(rules);
    g_walk.end = step == subtree_walk::step::done ? walk_end::done : walk_end::failed;
    return walk_action::finish;
}

enum class send_result { sent, held, refused };

/* Sends the walk's next request. The SDK sends at most 300 new requests a second: a request it holds
 * back is sent again by the command's thread in the next second. Any other refusal ends the walk
 * (its reason printed). */
send_result send_next() {
    api_snmp_varbind vb{};
    subtree_walk::request_kind kind{};
    uintptr_t token = 0;
    cli_target request;
    {
        const std::lock_guard<std::mutex> lock(g_walk_mtx);
        vb = g_walk.rules->next_varbind();
        kind = g_walk.rules->next_kind();
        token = g_walk.token;
        request = cli_target_of(g_walk.request);
    }
    const char *ip = request.ip.data();
    const char *user = request.version == API_SNMP_V3 ? request.user.data() : nullptr;
    auto *user_data = reinterpret_cast<void *>(token);
    api_snmp_err rc = API_SNMP_OK;
    switch (kind) {
    case subtree_walk::request_kind::get_root:
        rc = api_snmp_get(ip, request.port, user, &vb, 1, request.timeout_ms, user_data);
        break;
    case subtree_walk::request_kind::get_next:
        rc = api_snmp_get_next(ip, request.port, user, &vb, 1, request.timeout_ms, user_data);
        break;
    case subtree_walk::request_kind::get_bulk:
        rc = api_snmp_get_bulk(ip, request.port, user, 0, bulk_repetitions(request), &vb, 1, request.timeout_ms,
                               user_data);
        break;
    }
    if (rc == API_SNMP_OK) {
        return send_result::sent;
    }
    const std::lock_guard<std::mutex> lock(g_walk_mtx);
    if (g_walk.end != walk_end::running || g_walk.token != token) {
        return send_result::refused; // already ended (a refusal the SDK also reported to the callback)
    }
    if (rc == API_SNMP_ERR_NO_RESOURCE) {
        return send_result::held;
    }
    std::printf("发送命令失败: %s (%d)\n", api_snmp_error_to_str(rc), static_cast<int>(rc));
    g_walk.end = walk_end::failed;
    return send_result::refused;
}

/* Carries out what an answer asked for; the callback and the command's own sends end here. */
void perform(walk_action action) {
    if (action == walk_action::none) {
        return;
    }
    const send_result sent = action == walk_action::send ? send_next() : send_result::refused;
    if (sent == send_result::sent) {
        return;
    }
    std::fflush(stdout);
    (sent == send_result::held ? g_walk_held : g_walk_finished).store(true);
    cli_wake_waiters();
}

void walk_callback(const char * /*ip*/, uint16_t /*port*/, const char * /*user_name*/, api_snmp_cmd_type /*cmd_type*/,
                   const api_snmp_response *response, void *user_data) {
    walk_action action = walk_action::none;
    {
        const std::lock_guard<std::mutex> lock(g_walk_mtx);
        if (response == nullptr || g_walk.end != walk_end::running ||
            reinterpret_cast<uintptr_t>(user_data) != g_walk.token) {
            return; // an answer to an earlier walk that gave up waiting
        }
        g_walk.last_answer = walk_clock::now();
        action = take_answer(*response);
    }
    perform(action);
}

/* Sends a held request again once the flow limit's next second has begun. */
void resume_held_step() {
    std::this_thread::sleep_until(subtree_walk::flow_window_reopens());
    {
        const std::lock_guard<std::mutex> lock(g_walk_mtx);
        g_walk_held.store(false);
        g_walk.last_answer = walk_clock::now();
    }
    perform(walk_action::send);
}

/* Waits until the walk ends, or until no answer came for the time-out (the walk then ends as failed
 * and later answers are ignored), and sends again what the flow limit held back. True when it timed
 * out. */
bool wait_for_walk(std::chrono::milliseconds timeout) {
    auto wait = timeout;
    for (;;) {
        if (cli_wait_until([] { return g_walk_finished.load() || g_walk_held.load(); }, wait)) {
            if (g_walk_finished.load()) {
                return false;
            }
            resume_held_step();
            wait = timeout;
            continue;
        }
        const std::lock_guard<std::mutex> lock(g_walk_mtx);
        if (g_walk.end != walk_end::running) {
            return false;
        }
        const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(walk_clock::now() - g_walk.last_answer);
        if (quiet >= timeout) {
            g_walk.end = walk_end::failed;
            return true;
        }
        wait = timeout - quiet;
    }
}

/* Starts a fresh walk of the request's OID; false when its OID is not one. */
bool start_walk(const cli_request &request) {
    const std::lock_guard<std::mutex> lock(g_walk_mtx);
    g_walk = walk_state{};
    g_walk.rules = subtree_walk::walk::start(subtree_walk::oid_text(request.varbinds[0]), request.version);
    if (!g_walk.rules) {
        return false;
    }
    g_walk.request = request;
    g_walk.token = ++g_walk_tokens;
    g_walk.last_answer = walk_clock::now();
    g_walk_finished.store(false);
    g_walk_held.store(false);
    return true;
}

void print_start(const cli_request &request) {
    const auto root = subtree_walk::oid_text(request.varbinds[0]);
    const int root_len = static_cast<int>(root.size());
    if (request.version == API_SNMP_V1) {
        std::printf("发送GET-NEXT命令到 %s:%d，遍历子树 %.*s ...\n", request.ip.data(), static_cast<int>(request.port),
                    root_len, root.data());
    } else {
        std::printf("发送GET-BULK命令到 %s:%d（每次最多%d个），遍历子树 %.*s ...\n", request.ip.data(),
                    static_cast<int>(request.port), static_cast<int>(bulk_repetitions(request)), root_len,
                    root.data());
    }
    std::fflush(stdout);
}

} // namespace

int cli_run_walk(const cli_request &request) {
    if (!start_walk(request)) {
        return k_cli_exit_usage; // the SDK accepted the OID text, so this does not happen
    }
    cli_safe_snmp_init();
    api_snmp_register_response_callback(walk_callback);
    if (!cli_recreate_agent(request)) {
        return k_cli_exit_failed;
    }
    print_start(request);
    perform(walk_action::send);
    const bool timed_out = wait_for_walk(std::chrono::milliseconds(request.timeout_ms));
    const std::lock_guard<std::mutex> lock(g_walk_mtx);
    if (timed_out) {
        std::puts("响应超时");
    }
    const size_t count = g_walk.rules->count();
    if (g_walk.end == walk_end::done) {
        std::printf("遍历完成（共%zu个变量）\n", count);
        return k_cli_exit_ok;
    }
    std::printf("遍历中止（已读取%zu个变量）\n", count);
    return k_cli_exit_failed;
}
