// The agent transport's hardware on Windows: the trans_udp_win32 instance behind TRANS_ETH. A port
// that is taken gives way to the first free port of the fallback list; a send that fails because the
// port or the buffers are in trouble (WSAEADDRINUSE, WSAENOBUFS) rebuilds the instance; a lost socket
// (WSAENOTSOCK on the receive thread) rebuilds it too. TRANS_ES initialises without hardware. The
// local address is the one the host's own name resolves to.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "agent/trans_hw.h"
#include "agent/trans_udp_win32.h"
#include "base/agent_log.h"

namespace {

using Ipv4 = std::array<uint8_t, TRANS_IPV4_LEN>;
using vek::agent::udp_win32::kFallbackPorts;

constexpr Ipv4 kLoopback{127, 0, 0, 1};
constexpr Ipv4 kAutoSubnetMask{255, 255, 255, 0};
constexpr uint8_t kAutoGatewayHost = 1;  // the gateway is a.b.c.1 of the address's /24
constexpr size_t kHostNameSize = 256;

// The Winsock error of this thread's last failed send, for the reset decision that follows it.
thread_local int t_last_send_error = 0;

bool port_in_use(uint16_t port) { return trans_udp_win32_port_in_use(port) != 0; }

bool reset_from_receive_thread(void *ctx) { return trans_hw_reset(static_cast<trans_ctx *>(ctx)); }

// Creates an instance bound to port and wired to ctx; null (instance destroyed) on failure, with
// bind_ret holding the bind result.
trans_udp_win32_t *open_udp_instance(trans_ctx &ctx, uint16_t port, int &bind_ret) {
    bind_ret = TRANS_UDP_OK;
    trans_udp_win32_t *inst = trans_udp_win32_create();
    if (inst == nullptr) {
        return nullptr;
    }
    bind_ret = trans_udp_win32_bind(inst, port);
    if (bind_ret != TRANS_UDP_OK) {
        trans_udp_win32_destroy(inst);
        return nullptr;
    }
    trans_udp_win32_set_recv_callback(inst, trans_linux_recv_cb_adapter, &ctx);
    trans_udp_win32_set_reset_callback(inst, reset_from_receive_thread, &ctx);
    const int bound = trans_udp_win32_get_bound_port(inst);
    ctx.port = bound > 0 ? static_cast<uint16_t>(bound) : port;
    return inst;
}

// The current port again, or failing that the first fallback port that differs from it and binds.
trans_udp_win32_t *reopen_udp_instance(trans_ctx &ctx) {
    int bind_ret = TRANS_UDP_OK;
    const uint16_t current = ctx.port;
    if (trans_udp_win32_t *inst = open_udp_instance(ctx, current, bind_ret)) {
        return inst;
    }
    for (const uint16_t candidate : kFallbackPorts) {
        if (candidate == current) {
            continue;
        }
        if (trans_udp_win32_t *inst = open_udp_instance(ctx, candidate, bind_ret)) {
            return inst;
        }
    }
    return nullptr;
}

// The host's own name resolved to IPv4; nothing when it cannot be resolved.
bool resolve_own_address(Ipv4 &address) {
    std::array<char, kHostNameSize> host{};
    if (!trans_udp_win32_winsock_ready() || gethostname(host.data(), static_cast<int>(host.size() - 1)) != 0) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.data(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
    const auto *ipv4 = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    std::memcpy(address.data(), &ipv4->sin_addr.s_addr, address.size());
    return true;
}

}  // namespace

namespace vek::agent::trans_hw {

bool init(trans_ctx &ctx) {
    if (ctx.type == TRANS_ES) {
        AGENT_LOG(AGENT_LOG_INFO, "trans_hw_init: Windows平台对TRANS_ES类型的支持正在开发中");
        return true;
    }
    const uint16_t port = udp_win32::choose_port(ctx.port, port_in_use);
    int bind_ret = TRANS_UDP_OK;
    ctx.udp_inst = open_udp_instance(ctx, port, bind_ret);
    if (ctx.udp_inst == nullptr) {
        if (bind_ret == TRANS_UDP_OK) {
            AGENT_LOG(AGENT_LOG_FATAL, "trans_hw_init: trans_udp_win32_create 失败");
        } else {
            AGENT_LOG(AGENT_LOG_FATAL, "trans_hw_init: trans_udp_win32_bind port=%d ret=%d", static_cast<int>(port),
                      bind_ret);
        }
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_hw_init: Windows UDP实例创建绑定成功，port=%d", static_cast<int>(ctx.port));
    AGENT_LOG(AGENT_LOG_INFO, "trans_hw_init: 硬件初始化完成");
    return true;
}

void close(trans_ctx &ctx) {
    if (ctx.udp_inst != nullptr) {
        trans_udp_win32_destroy(ctx.udp_inst);
        ctx.udp_inst = nullptr;
    }
}

bool start(trans_ctx &ctx) {
    if (ctx.type == TRANS_ES) {
        return true;  // no hardware, so no receive thread
    }
    if (ctx.udp_inst == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_start(Windows): udp_inst is NULL");
        return false;
    }
    const int started = trans_udp_win32_start_recv_thread(ctx.udp_inst);
    if (started != TRANS_UDP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_start(Windows): start_recv_thread failed ret=%d", started);
        return false;
    }
    AGENT_LOG(AGENT_LOG_INFO, "trans_start(Windows): UDP recv thread started, port=%u", static_cast<unsigned>(ctx.port));
    return true;
}

void stop(trans_ctx &ctx) {
    if (ctx.type == TRANS_ETH && ctx.udp_inst != nullptr) {
        close(ctx);
        AGENT_LOG(AGENT_LOG_INFO, "trans_stop(Windows): UDP实例已销毁");
    }
}

bool send(trans_ctx &ctx, const uint8_t *data, uint16_t len, const uint8_t *dst, uint16_t dst_port) {
    int error = 0;
    const int sent = trans_udp_win32_sendto_bin(ctx.udp_inst, dst, dst_port, data, len, &error);
    t_last_send_error = error;
    if (sent != static_cast<int>(len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_send(Windows): sendto failed ret=%d [错误:%d]", sent, error);
        return false;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "trans_hw_send(Windows): sendto ok len=%d", sent);
    return true;
}

bool reset_wanted(const trans_ctx & /*ctx*/) {
    if (t_last_send_error != WSAEADDRINUSE && t_last_send_error != WSAENOBUFS) {
        return false;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "trans_send: Windows端口错误，尝试重置 [%d]", t_last_send_error);
    return true;
}

bool reset(trans_ctx &ctx) {
    close(ctx);
    trans_udp_win32_t *inst = reopen_udp_instance(ctx);
    if (inst == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_reset: Windows所有端口绑定失败");
        return false;
    }
    const int started = trans_udp_win32_start_recv_thread(inst);
    if (started != TRANS_UDP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "trans_hw_reset: Windows接收线程启动失败 ret=%d", started);
        trans_udp_win32_destroy(inst);
        return false;
    }
    ctx.udp_inst = inst;
    AGENT_LOG(AGENT_LOG_INFO, "trans_hw_reset: Windows重置完成 [新端口:%d]", static_cast<int>(ctx.port));
    return true;
}

bool auto_config(trans_ctx &ctx) {
    Ipv4 address{};
    if (!resolve_own_address(address) || address == kLoopback) {
        return false;
    }
    Ipv4 gateway = address;
    gateway.back() = kAutoGatewayHost;
    std::memcpy(ctx.local_ip, address.data(), address.size());
    std::memcpy(ctx.gateway, gateway.data(), gateway.size());
    std::memcpy(ctx.subnet_mask, kAutoSubnetMask.data(), kAutoSubnetMask.size());
    ctx.ip_mode = TRANS_IP_MODE_AUTO;
    AGENT_LOG(AGENT_LOG_INFO, "trans_auto_config_ip: Windows IP配置成功 %d.%d.%d.%d", static_cast<int>(address[0]),
              static_cast<int>(address[1]), static_cast<int>(address[2]), static_cast<int>(address[3]));
    return true;
}

int receive_now(trans_ctx &ctx, std::span<uint8_t> buf, uint8_t *src_ip, uint16_t &src_port) {
    uint32_t src = 0;  // network order
    const int received =
        trans_udp_win32_recvfrom_bin(ctx.udp_inst, buf.data(), static_cast<int32_t>(buf.size()), &src, &src_port);
    std::memcpy(src_ip, &src, TRANS_IPV4_LEN);
    return received;
}

}  // namespace vek::agent::trans_hw
