/* The web bridge's threads (see bridge_server.h). */
#include "apps/snmp_web_bridge/bridge_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "apps/snmp_web_bridge/bridge_handler.h"
#include "apps/snmp_web_bridge/bridge_log.h"

namespace bridge {

namespace {

[[noreturn]] void worker_thread(connection_queue &queue, const service_link &service) {
    for (;;) {
        handle_client(queue.pop(), service);
    }
}

/* Waits up to kAcceptWait for a connection and accepts it; an invalid descriptor when none came. */
unique_fd accept_one(int listener) {
    pollfd pfd{listener, POLLIN, 0};
    const auto wait_ms = static_cast<int>(std::chrono::milliseconds(kAcceptWait).count());
    if (::poll(&pfd, 1, wait_ms) <= 0) {
        return {};
    }
    return unique_fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

} // namespace

unique_fd open_listener(uint16_t port, std::string *error) {
    unique_fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int reuse = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!sock.valid() || ::setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        ::bind(sock.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(sock.get(), kListenBacklog) != 0) {
        *error = std::strerror(errno);
        return {};
    }
    return sock;
}

void serve(unique_fd listener, uint16_t port, service_link &service, connection_queue &queue) {
    std::thread([&service] { service.run_health_checks(); }).detach();
    for (size_t i = 0; i < kWorkerCount; ++i) {
        std::thread([&queue, &service] { worker_thread(queue, service); }).detach();
    }
    bridge_log("Web网桥启动成功，监听端口 %u", static_cast<unsigned>(port));
    for (;;) {
        unique_fd client = accept_one(listener.get());
        if (!client.valid()) {
            continue;
        }
        if (!queue.push(client)) {
            std::printf("[TRACE] 任务队列已满，丢弃客户端fd: %d\n", client.get());
            std::fflush(stdout);
        }
    }
}

} // namespace bridge
