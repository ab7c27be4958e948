// The agent transport's hardware on Linux: the trans_udp_linux instance behind TRANS_ETH, bound to
// exactly the requested port (no fallback), with its receive thread; no TRANS_ES hardware and no
// automatic address.
#include <cstdint>
#include <cstring>
#include <span>

#include "agent/trans_hw.h"
#include "agent/trans_udp_linux.h"
#include "base/agent_log.h"

namespace {

// Creates, binds and wires a UDP instance for ctx on ctx.port; null (instance destroyed) on failure.
// bind_ret receives the bind result.
trans_udp_linux_t *open_udp_instance(trans_ctx &ctx, int &bind_ret) {
    bind_ret = TRANS_UDP_OK;
    trans_udp_linux_t *inst = trans_udp_linux_create();
    if (inst == nullptr) {
        return nullptr;
    }
    bind_ret = trans_udp_linux_bind(inst, ctx.port);
    if (bind_ret != TRANS_UDP_OK) {
        trans_udp_linux_destroy(inst);
        return nullptr;
    }
    trans_udp_linux_set_recv_callback(inst, trans_linux_recv_cb_adapter, &ctx);
    const int bound = trans_udp_linux_get_bound_port(inst);
    if (bound > 0) {
        ctx.port = static_cast<uint16_t>(bound);
    }
    return inst;
}

}  // namespace

namespace vek::agent::trans_hw {

bool init(trans_ctx &ctx) {
    if (ctx.type == TRANS_ES) {
        AGENT_LOG(AGENT_LOG_INFO, "trans_hw_init: Linux平台TRANS_ES暂不支持");
        return true;
    }
    int bind_ret = TRANS_UDP_OK;
    const uint16_t requested = ctx.port;
    ctx.udp_inst = open_udp_instance(ctx, bind_ret);
    if (ctx.udp_inst == nullptr) {
        if (bind_ret == TRANS_UDP_OK) {
            AGENT_LOG(AGENT_LOG_FATAL, "trans_hw_init: trans_udp_linux_create 失败");
        } else {
            AGENT_LOG(AGENT_LOG_FATAL, "trans_hw_init: trans_udp_linux_bind port=%d ret=%d",
                      static_cast<int>(requested), bind_ret);
        }
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_hw_init: Linux trans_udp_linux实例创建绑定成功，port=%d",
              static_cast<int>(ctx.port));
    AGENT_LOG(AGENT_LOG_INFO, "trans_hw_init: 硬件初始化完成");
    return true;
}

void close(trans_ctx &ctx) {
    if (ctx.udp_inst != nullptr) {
        trans_udp_linux_destroy(ctx.udp_inst);
        ctx.udp_inst = nullptr;
    }
}

bool start(trans_ctx &ctx) {
    if (ctx.udp_inst == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_start(Linux): udp_inst is NULL");
        return false;
    }
    const int started = trans_udp_linux_start_recv_thread(ctx.udp_inst);
    if (started != TRANS_UDP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_start(Linux): start_recv_thread failed ret=%d", started);
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_start(Linux): UDP recv thread started, port=%u", static_cast<unsigned>(ctx.port));
    return true;
}

void stop(trans_ctx &ctx) {
    if (ctx.type == TRANS_ETH && ctx.udp_inst != nullptr) {
        close(ctx);
        AGENT_LOG(AGENT_LOG_INFO, "trans_stop(Linux): trans_udp_linux实例已销毁");
    }
}

bool send(trans_ctx &ctx, const uint8_t *data, uint16_t len, const uint8_t *dst, uint16_t dst_port) {
    const int sent = trans_udp_linux_sendto_bin(ctx.udp_inst, dst, dst_port, data, len);
    if (sent != static_cast<int>(len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_send(Linux): sendto_bin failed ret=%d", sent);
        return false;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_hw_send(Linux): sendto_bin ok len=%d", sent);
    return true;
}

bool reset_wanted(const trans_ctx & /*ctx*/) {
    AGENT_LOG(AGENT_LOG_ERROR, "trans_send: Linux发送返回失败，尝试硬件重置");
    return true;
}

bool reset(trans_ctx &ctx) {
    close(ctx);
    int bind_ret = TRANS_UDP_OK;
    trans_udp_linux_t *inst = open_udp_instance(ctx, bind_ret);
    if (inst == nullptr) {
        if (bind_ret == TRANS_UDP_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_reset(Linux): trans_udp_linux_create failed");
        } else {
            AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_reset(Linux): bind all fallback port failed ret=%d", bind_ret);
        }
        return false;
    }
    const int started = trans_udp_linux_start_recv_thread(inst);
    if (started != TRANS_UDP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_reset(Linux): start_recv_thread failed ret=%d", started);
        trans_udp_linux_destroy(inst);
        return false;
    }
    ctx.udp_inst = inst;
    AGENT_LOG(AGENT_LOG_INFO, "trans_hw_reset(Linux): reset complete, actual bind port=%u",
              static_cast<unsigned>(ctx.port));
    return true;
}

bool auto_config(trans_ctx & /*ctx*/) {
    AGENT_LOG(AGENT_LOG_WARN,
              "trans_auto_config_ip(Linux): trans层不实现IP获取，请业务层填充local_ip/gateway/subnet_mask");
    return false;
}

int receive_now(trans_ctx &ctx, std::span<uint8_t> buf, uint8_t *src_ip, uint16_t &src_port) {
    uint32_t src = 0;  // network order
    const int received =
        trans_udp_linux_recvfrom_bin(ctx.udp_inst, buf.data(), static_cast<int32_t>(buf.size()), &src, &src_port);
    std::memcpy(src_ip, &src, TRANS_IPV4_LEN);
    return received;
}

}  // namespace vek::agent::trans_hw
