// Agent transport: the two transport contexts, their receive rings, whitelist and current-NMS
// address. The UDP hardware path behind TRANS_ETH is the system's (trans_hw_<system>.cpp).
#include "agent/trans.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <immintrin.h>
#include <mutex>

#include "agent/agent_stats.h"
#include "agent/trans_hw.h"
#include "base/irq_section.h"
#include "base/agent_log.h"
#include "base/platform.h"

extern "C" {
trans_ctx eth_trans_ctx{};
trans_ctx es_trans_ctx{};
uint8_t g_transinit = 0;
}

namespace {

using Ipv4 = std::array<uint8_t, TRANS_IPV4_LEN>;

constexpr Ipv4 kLoopback{127, 0, 0, 1};
constexpr Ipv4 kDefaultLocalIp{192, 168, 1, 100};
constexpr Ipv4 kDefaultGateway{192, 168, 1, 1};
constexpr Ipv4 kDefaultSubnetMask{255, 255, 255, 0};
constexpr Ipv4 kBroadcast{255, 255, 255, 255};
constexpr uint16_t kDeprecatedPort = 161;
constexpr int kNullCtxState = -1;
constexpr uint32_t kNoStateLogged = 0xFFFFFFFFu;

using vek::IrqSection;

// Contexts used only by the deprecated one-shot senders.
trans_ctx g_deprecated_eth_ctx{};
trans_ctx g_deprecated_es_ctx{};

// trans_recv logs "not ready" only when the state differs from the one it logged last.
uint32_t g_last_logged_recv_state = kNoStateLogged;

// Wakes trans_wait callers: every successful enqueue moves the sequence on under the lock.
std::mutex g_wait_lock;
std::condition_variable g_wait_cv;
uint64_t g_enqueue_seq = 0;

Ipv4 to_ipv4(const uint8_t *bytes) {
    Ipv4 ip{};
    std::memcpy(ip.data(), bytes, ip.size());
    return ip;
}

Ipv4 to_ipv4(uint32_t network_order) {
    Ipv4 ip{};
    std::memcpy(ip.data(), &network_order, ip.size());
    return ip;
}

void copy_ip(uint8_t *dst, const Ipv4 &ip) { std::memcpy(dst, ip.data(), ip.size()); }

int ip_part(const Ipv4 &ip, size_t i) { return static_cast<int>(ip[i]); }

uint8_t next_pos(uint8_t pos) { return static_cast<uint8_t>((pos + 1u) % TRANS_QUEUE_SLOTS); }

void notify_waiters() {
    {
        std::lock_guard<std::mutex> guard(g_wait_lock);
        ++g_enqueue_seq;
    }
    g_wait_cv.notify_all();
}

// Stores one message with its sender. Returns false for bad arguments; dropped_oldest tells whether
// a full ring lost its oldest message to make room.
bool enqueue_from(trans_queue *q, const uint8_t *data, uint16_t len, const Ipv4 &src_ip, uint16_t src_port) {
    if (q == nullptr || data == nullptr || len == 0 || len > TRANS_MAX_MSG_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_queue_enqueue: 无效参数 [len=%d]", static_cast<int>(len));
        return false;
    }
    bool dropped_oldest = false;
    uint8_t count_after = 0;
    {
        IrqSection section;
        if (q->count >= TRANS_QUEUE_SLOTS) {
            q->read_pos = next_pos(q->read_pos);
            --q->count;
            dropped_oldest = true;
        }
        const uint8_t slot = q->write_pos;
        std::memcpy(q->slots[slot], data, len);
        q->lens[slot] = len;
        copy_ip(q->src_ip[slot], src_ip);
        q->src_port[slot] = src_port;
        q->write_pos = next_pos(slot);
        ++q->count;
        count_after = q->count;
    }
    if (dropped_oldest) {
        AGENT_LOG(AGENT_LOG_WARN, "trans_queue_enqueue: 队列溢出，丢弃 oldest 消息 [当前深度:%d]",
                  static_cast<int>(TRANS_QUEUE_SLOTS));
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_queue_enqueue: 入队%s [长度:%d, 队列计数:%d]",
              dropped_oldest ? "(溢出处理后)" : "成功", static_cast<int>(len), static_cast<int>(count_after));
    notify_waiters();
    return true;
}

void clear_queue(trans_queue &q) {
    IrqSection section;
    q = trans_queue{};
}

void forget_nms(trans_ctx &ctx) {
    IrqSection section;
    std::memset(ctx.nms_ip, 0, sizeof ctx.nms_ip);
    ctx.nms_port = 0;
    ctx.nms_valid = 0;
}

uint8_t queued_count(const trans_ctx &ctx) {
    IrqSection section;
    return ctx.queue.count;
}

// ---- Whitelist ----

enum class WhitelistVerdict { AcceptAll, AcceptLoopback, AcceptListed, Refuse };

WhitelistVerdict check_whitelist(const trans_ctx &ctx, const Ipv4 &src) {
    if (ctx.whitelist_count == 0) {
        return WhitelistVerdict::AcceptAll;
    }
    if (src == kLoopback) {
        return WhitelistVerdict::AcceptLoopback;
    }
    const size_t used = ctx.whitelist_count < TRANS_MAX_WHITELIST ? ctx.whitelist_count : TRANS_MAX_WHITELIST;
    for (size_t i = 0; i < used; ++i) {
        if (to_ipv4(ctx.whitelist[i]) == src) {
            return WhitelistVerdict::AcceptListed;
        }
    }
    return WhitelistVerdict::Refuse;
}

bool log_whitelist_verdict(WhitelistVerdict verdict, const Ipv4 &src) {
    switch (verdict) {
    case WhitelistVerdict::AcceptAll:
        AGENT_LOG(AGENT_LOG_DEBUG, "ip_in_whitelist: 白名单为空，允许所有IP");
        return true;
    case WhitelistVerdict::AcceptLoopback:
        AGENT_LOG(AGENT_LOG_DEBUG, "ip_in_whitelist: 允许回环地址 127.0.0.1");
        return true;
    case WhitelistVerdict::AcceptListed:
        AGENT_LOG(AGENT_LOG_DEBUG, "ip_in_whitelist: 允许IP %d.%d.%d.%d", ip_part(src, 0), ip_part(src, 1),
                  ip_part(src, 2), ip_part(src, 3));
        return true;
    case WhitelistVerdict::Refuse:
        break;
    }
    AGENT_LOG(AGENT_LOG_WARN, "ip_in_whitelist: 拒绝IP %d.%d.%d.%d（不在白名单）", ip_part(src, 0), ip_part(src, 1),
              ip_part(src, 2), ip_part(src, 3));
    return false;
}

bool deprecated_ready(trans_ctx &ctx, uint32_t type) {
    if (ctx.state == TRANS_STATE_READY) {
        return true;
    }
    if (!trans_init(type, kDeprecatedPort, nullptr, &ctx)) {
        return false;
    }
    trans_start(&ctx);
    return true;
}

// A request that arrives within this time of the loop asking is taken without the thread going to
// sleep: under load the next datagram is usually that close, and a sleep and wake-up would cost more
// than the whole request. An idle loop spends this once per wait.
constexpr auto kWaitSpin = std::chrono::microseconds(50);

bool queued_soon(const trans_ctx &ctx, std::chrono::steady_clock::time_point until) {
    while (std::chrono::steady_clock::now() < until) {
        if (queued_count(ctx) > 0) {
            return true;
        }
        _mm_pause();
    }
    return false;
}

}  // namespace

extern "C" {

// ---- Lifecycle ----

bool trans_init(uint32_t type, uint16_t port, trans_rx_notify_cb cb, trans_ctx *ctx) {
    if (type >= TRANS_TYPE_COUNT || port == 0 || ctx == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_init: 无效参数 [type=%d, port=%d]", static_cast<int>(type),
                  static_cast<int>(port));
        return false;
    }
    // A context initialised again must not leave its old socket and receive thread behind.
    vek::agent::trans_hw::close(*ctx);
    *ctx = trans_ctx{};
    ctx->type = type;
    ctx->port = port;
    ctx->rx_notify = cb;
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_queue_init: 队列初始化完成");
    AGENT_LOG(AGENT_LOG_INFO, "trans_init: 开始传输层初始化 [类型:%d, 端口:%d]", static_cast<int>(type),
              static_cast<int>(port));
    if (!vek::agent::trans_hw::init(*ctx)) {
        ctx->state = TRANS_STATE_HW_FAILED;
        AGENT_LOG(AGENT_LOG_FATAL, "trans_init: 硬件初始化失败");
        return false;
    }
    ctx->state = TRANS_STATE_READY;
    g_transinit = 1;
    AGENT_LOG(AGENT_LOG_INFO, "trans_init: 传输层初始化完成 [类型:%d, 端口:%d]", static_cast<int>(type),
              static_cast<int>(ctx->port));
    return true;
}

bool trans_cfg_trans(uint32_t type, uint16_t port, trans_ctx *ctx) { return trans_init(type, port, nullptr, ctx); }

bool trans_start(trans_ctx *ctx) {
    if (ctx == nullptr || ctx->state != TRANS_STATE_READY) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_start: 无效上下文或状态 [state=%d]",
                  ctx == nullptr ? kNullCtxState : static_cast<int>(ctx->state));
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_start: 启动传输层 [类型:%d, 端口:%d]", static_cast<int>(ctx->type),
              static_cast<int>(ctx->port));
    return vek::agent::trans_hw::start(*ctx);
}

void trans_stop(trans_ctx *ctx) {
    if (ctx == nullptr || ctx->state == TRANS_STATE_STOPPED) {
        AGENT_LOG(AGENT_LOG_WARN, "trans_stop: 无效上下文或未初始化");
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_stop: 停止传输层 [类型:%d]", static_cast<int>(ctx->type));
    vek::agent::trans_hw::stop(*ctx);
    ctx->state = TRANS_STATE_STOPPED;
    AGENT_LOG(AGENT_LOG_INFO, "trans_stop: 传输层已停止");
}

// ---- Sending ----

bool trans_hw_send(trans_ctx *ctx, const uint8_t *data, uint16_t len, const uint8_t *dst_ip, uint16_t dst_port) {
    if (ctx == nullptr || data == nullptr || dst_ip == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_send: 无效参数 [len=%d]", static_cast<int>(len));
        return false;
    }
    const Ipv4 dst = to_ipv4(dst_ip);
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_hw_send: 准备发送数据 [长度:%d, 目标:%d.%d.%d.%d:%d]", static_cast<int>(len),
              ip_part(dst, 0), ip_part(dst, 1), ip_part(dst, 2), ip_part(dst, 3), static_cast<int>(dst_port));
    if (ctx->type == TRANS_ES || ctx->udp_inst == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_send: 发送失败，不支持的平台或参数");
        return false;
    }
    return vek::agent::trans_hw::send(*ctx, data, len, dst.data(), dst_port);
}

bool trans_hw_reset(trans_ctx *ctx) {
    if (ctx == nullptr || ctx->state == TRANS_STATE_STOPPED) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_reset: 无效上下文或未初始化");
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_hw_reset: 开始硬件重置");
    forget_nms(*ctx);
    clear_queue(ctx->queue);
    if (ctx->type != TRANS_ETH) {
        AGENT_LOG(AGENT_LOG_WARN, "trans_hw_reset: 不支持的硬件类型重置");
        return false;
    }
    return vek::agent::trans_hw::reset(*ctx);
}

bool trans_send(trans_ctx *ctx, const uint8_t *data, uint16_t len, const uint8_t *dst_ip, uint16_t dst_port) {
    if (ctx == nullptr || ctx->state != TRANS_STATE_READY || data == nullptr || len == 0 ||
        len > TRANS_MAX_MSG_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_send: 无效参数 [state=%d, len=%d]",
                  ctx == nullptr ? kNullCtxState : static_cast<int>(ctx->state), static_cast<int>(len));
        return false;
    }
    if (trans_hw_send(ctx, data, len, dst_ip, dst_port)) {
        agent_stats_count(AGENT_STAT_OUT_PKTS);
        return true;
    }
    if (!vek::agent::trans_hw::reset_wanted(*ctx)) {
        return false;
    }
    trans_hw_reset(ctx);
    const bool sent = trans_hw_send(ctx, data, len, dst_ip, dst_port);
    if (sent) {
        agent_stats_count(AGENT_STAT_OUT_PKTS);
    }
    return sent;
}

// ---- Receiving ----

bool trans_recv_from(trans_ctx *ctx, uint8_t *out, uint16_t *out_len, uint8_t *src_ip, uint16_t *src_port) {
    if (ctx == nullptr || out == nullptr || out_len == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_recv: 无效参数");
        if (out_len != nullptr) {
            *out_len = 0;
        }
        return false;
    }
    *out_len = 0;
    if (ctx->state != TRANS_STATE_READY) {
        if (ctx->state != g_last_logged_recv_state) {
            g_last_logged_recv_state = ctx->state;
            AGENT_LOG(AGENT_LOG_DEBUG, "trans_recv: 传输层未就绪 [state=%d]", static_cast<int>(ctx->state));
        }
        return false;
    }
    uint8_t count_after = 0;
    {
        IrqSection section;
        trans_queue &q = ctx->queue;
        if (q.count == 0) {
            return false;
        }
        const uint8_t slot = q.read_pos;
        const uint16_t len = q.lens[slot] <= TRANS_MAX_MSG_SIZE ? q.lens[slot] : TRANS_MAX_MSG_SIZE;
        std::memcpy(out, q.slots[slot], len);
        *out_len = len;
        if (src_ip != nullptr) {
            std::memcpy(src_ip, q.src_ip[slot], TRANS_IPV4_LEN);
        }
        if (src_port != nullptr) {
            *src_port = q.src_port[slot];
        }
        std::memset(q.slots[slot], 0, sizeof q.slots[slot]);
        q.lens[slot] = 0;
        std::memset(q.src_ip[slot], 0, sizeof q.src_ip[slot]);
        q.src_port[slot] = 0;
        q.read_pos = next_pos(slot);
        --q.count;
        count_after = q.count;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_queue_dequeue: 出队成功 [长度:%d, 队列计数:%d]", static_cast<int>(*out_len),
              static_cast<int>(count_after));
    return true;
}

bool trans_recv(trans_ctx *ctx, uint8_t *out, uint16_t *out_len) {
    return trans_recv_from(ctx, out, out_len, nullptr, nullptr);
}

bool trans_wait(trans_ctx *ctx, uint32_t timeout_ms) {
    if (ctx == nullptr) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (queued_soon(*ctx, std::min(now + kWaitSpin, now + std::chrono::milliseconds(timeout_ms)))) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> guard(g_wait_lock);
    for (;;) {
        // The sequence is read before the ring is looked at, so an enqueue in between still wakes us.
        const uint64_t seen = g_enqueue_seq;
        guard.unlock();
        if (queued_count(*ctx) > 0) {
            return true;
        }
        guard.lock();
        if (!g_wait_cv.wait_until(guard, deadline, [seen] { return g_enqueue_seq != seen; })) {
            guard.unlock();
            return queued_count(*ctx) > 0;
        }
    }
}

// ---- Intake ----

bool trans_queue_enqueue(trans_queue *q, const uint8_t *data, uint16_t len) {
    return enqueue_from(q, data, len, Ipv4{}, 0);
}

void trans_eth_irq_handler(trans_ctx *ctx, const uint8_t *data, uint16_t len, const uint8_t *src_ip,
                           uint16_t src_port) {
    if (ctx == nullptr || data == nullptr || src_ip == nullptr || len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_eth_irq_handler: 无效参数");
        return;
    }
    const Ipv4 src = to_ipv4(src_ip);
    WhitelistVerdict verdict = WhitelistVerdict::Refuse;
    {
        IrqSection section;
        verdict = check_whitelist(*ctx, src);
    }
    if (!log_whitelist_verdict(verdict, src)) {
        AGENT_LOG(AGENT_LOG_WARN, "trans_eth_irq_handler: 源IP不在白名单，丢弃报文");
        return;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_eth_irq_handler: 处理ETH数据 [长度:%d, src:%d.%d.%d.%d:%d]",
              static_cast<int>(len), ip_part(src, 0), ip_part(src, 1), ip_part(src, 2), ip_part(src, 3),
              static_cast<int>(src_port));
    if (!enqueue_from(&ctx->queue, data, len, src, src_port)) {
        AGENT_LOG(AGENT_LOG_WARN, "trans_eth_irq_handler: 数据入队失败");
        return;
    }
    if (ctx->rx_notify != nullptr) {
        ctx->rx_notify(TRANS_ETH, data, len);
    }
}

void trans_es_irq_handler(trans_ctx *ctx, const uint8_t *data, uint16_t len, const void * /*src*/) {
    if (ctx == nullptr || data == nullptr || len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_es_irq_handler: 无效参数");
        return;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_es_irq_handler: 处理ES数据 [长度:%d]", static_cast<int>(len));
    if (!trans_queue_enqueue(&ctx->queue, data, len)) {
        AGENT_LOG(AGENT_LOG_WARN, "trans_es_irq_handler: 数据入队失败");
        return;
    }
    if (ctx->rx_notify != nullptr) {
        ctx->rx_notify(TRANS_ES, data, len);
    }
}

void trans_linux_recv_cb_adapter(void *ctx, const uint8_t *data, int32_t len, const uint8_t *src_ip,
                                 uint16_t src_port) {
    if (ctx == nullptr || data == nullptr || len <= 0 || len > UINT16_MAX) {
        return;
    }
    trans_eth_irq_handler(static_cast<trans_ctx *>(ctx), data, static_cast<uint16_t>(len), src_ip, src_port);
}

void trans_linux_poll_process(trans_ctx *ctx) {
    if (ctx == nullptr || ctx->udp_inst == nullptr) {
        return;
    }
    // One byte more than a message may hold, so that an oversized datagram is recognised and
    // refused by the ring instead of being queued cut short.
    std::array<uint8_t, TRANS_MAX_MSG_SIZE + 1> buf{};
    Ipv4 src_ip{};
    uint16_t src_port = 0;
    const int received = vek::agent::trans_hw::receive_now(*ctx, buf, src_ip.data(), src_port);
    if (received > 0) {
        trans_eth_irq_handler(ctx, buf.data(), static_cast<uint16_t>(received), src_ip.data(), src_port);
    }
}

// ---- Whitelist and addresses ----

void trans_set_nms_whitelist(trans_ctx *ctx, const uint32_t *ips, uint8_t count) {
    if (ctx == nullptr || (ips == nullptr && count > 0)) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_set_nms_whitelist: 无效参数");
        return;
    }
    const uint8_t kept = count < TRANS_MAX_WHITELIST ? count : static_cast<uint8_t>(TRANS_MAX_WHITELIST);
    std::array<Ipv4, TRANS_MAX_WHITELIST> list{};
    for (size_t i = 0; i < kept; ++i) {
        list[i] = to_ipv4(ips[i]);
    }
    {
        IrqSection section;
        bool same = ctx->whitelist_count == kept;
        for (size_t i = 0; same && i < kept; ++i) {
            same = to_ipv4(ctx->whitelist[i]) == list[i];
        }
        if (same) {
            return;
        }
        std::memset(ctx->whitelist, 0, sizeof ctx->whitelist);
        for (size_t i = 0; i < kept; ++i) {
            copy_ip(ctx->whitelist[i], list[i]);
        }
        ctx->whitelist_count = kept;
    }
    for (size_t i = 0; i < kept; ++i) {
        AGENT_LOG(AGENT_LOG_DEBUG, "trans_set_nms_whitelist: 添加白名单IP %d.%d.%d.%d", ip_part(list[i], 0),
                  ip_part(list[i], 1), ip_part(list[i], 2), ip_part(list[i], 3));
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_set_nms_whitelist: 白名单设置完成 [数量:%d]", static_cast<int>(kept));
}

void trans_set_nms_whitelist_all(const uint32_t *ips, uint8_t count) {
    trans_set_nms_whitelist(&eth_trans_ctx, ips, count);
    trans_set_nms_whitelist(&es_trans_ctx, ips, count);
}

void trans_set_default_nms_ip(trans_ctx *ctx, const uint8_t *ip) {
    if (ctx == nullptr || ip == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_set_default_nms_ip: 无效参数");
        return;
    }
    const Ipv4 address = to_ipv4(ip);
    {
        IrqSection section;
        copy_ip(ctx->default_nms_ip, address);
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_set_default_nms_ip: 设置默认NMS IP %d.%d.%d.%d", ip_part(address, 0),
              ip_part(address, 1), ip_part(address, 2), ip_part(address, 3));
}

void trans_set_nms_addr(trans_ctx *ctx, const uint8_t *ip, uint16_t port) {
    if (ctx == nullptr || ip == nullptr) {
        return;
    }
    const Ipv4 address = to_ipv4(ip);
    IrqSection section;
    copy_ip(ctx->nms_ip, address);
    ctx->nms_port = port;
    ctx->nms_valid = 1;
}

bool trans_get_nms_addr(trans_ctx *ctx, uint8_t *ip, uint16_t *port) {
    if (ctx == nullptr) {
        return false;
    }
    Ipv4 address{};
    uint16_t nms_port = 0;
    bool valid = false;
    {
        IrqSection section;
        valid = ctx->nms_valid == 1;
        address = to_ipv4(valid ? ctx->nms_ip : ctx->default_nms_ip);
        nms_port = valid ? ctx->nms_port : 0;
    }
    if (ip != nullptr) {
        copy_ip(ip, address);
    }
    if (port != nullptr) {
        *port = nms_port;
    }
    return valid;
}

const uint8_t *trans_get_nms_ip(trans_ctx *ctx) {
    if (ctx == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_get_nms_ip: 无效参数");
        return nullptr;
    }
    // A copy taken as one unit with nms_valid: the receive thread may move the address at any time.
    thread_local Ipv4 snapshot{};
    const bool valid = trans_get_nms_addr(ctx, snapshot.data(), nullptr);
    if (valid) {
        AGENT_LOG(AGENT_LOG_DEBUG, "trans_get_nms_ip: 获取当前NMS IP %d.%d.%d.%d", ip_part(snapshot, 0),
                  ip_part(snapshot, 1), ip_part(snapshot, 2), ip_part(snapshot, 3));
    } else {
        AGENT_LOG(AGENT_LOG_DEBUG, "trans_get_nms_ip: 获取默认NMS IP %d.%d.%d.%d", ip_part(snapshot, 0),
                  ip_part(snapshot, 1), ip_part(snapshot, 2), ip_part(snapshot, 3));
    }
    return snapshot.data();
}

const uint8_t *trans_get_local_ip(trans_ctx *ctx) {
    if (ctx == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_get_local_ip: 无效参数");
        return nullptr;
    }
    const Ipv4 local = to_ipv4(ctx->local_ip);
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_get_local_ip: 获取本地IP %d.%d.%d.%d", ip_part(local, 0), ip_part(local, 1),
              ip_part(local, 2), ip_part(local, 3));
    return ctx->local_ip;
}

bool trans_auto_config_ip(trans_ctx *ctx) {
    if (ctx == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_auto_config_ip: 无效参数");
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_auto_config_ip: 开始自动配置IP");
    ctx->auto_config_busy = 1;
    ctx->ip_mode = TRANS_IP_MODE_AUTO;
    const bool configured = vek::agent::trans_hw::auto_config(*ctx);
    ctx->auto_config_busy = 0;
    if (configured) {
        return true;
    }
    ctx->ip_mode = TRANS_IP_MODE_STATIC;
    copy_ip(ctx->local_ip, kDefaultLocalIp);
    copy_ip(ctx->gateway, kDefaultGateway);
    copy_ip(ctx->subnet_mask, kDefaultSubnetMask);
    AGENT_LOG(AGENT_LOG_WARN, "trans_auto_config_ip: 自动配置失败，使用默认IP %d.%d.%d.%d",
              ip_part(kDefaultLocalIp, 0), ip_part(kDefaultLocalIp, 1), ip_part(kDefaultLocalIp, 2),
              ip_part(kDefaultLocalIp, 3));
    return true;
}

// ---- Deprecated one-shot senders ----

bool trans_send_eth(const uint8_t *data, uint16_t len) {
    AGENT_LOG(AGENT_LOG_WARN, "trans_send_eth: 已过时，建议使用trans_send");
    if (!deprecated_ready(g_deprecated_eth_ctx, TRANS_ETH)) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_send_eth: 初始化失败");
        return false;
    }
    Ipv4 dst = kBroadcast;
    uint16_t port = kDeprecatedPort;
    if (!trans_get_nms_addr(&g_deprecated_eth_ctx, dst.data(), &port)) {
        dst = kBroadcast;
        port = kDeprecatedPort;
    }
    return trans_send(&g_deprecated_eth_ctx, data, len, dst.data(), port);
}

bool trans_send_es(const uint8_t *data, uint16_t len) {
    AGENT_LOG(AGENT_LOG_WARN, "trans_send_es: 已过时，建议使用trans_send");
    if (!deprecated_ready(g_deprecated_es_ctx, TRANS_ES)) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_send_es: 初始化失败");
        return false;
    }
    const Ipv4 none{};
    return trans_send(&g_deprecated_es_ctx, data, len, none.data(), 0);
}

}  // extern "C"
