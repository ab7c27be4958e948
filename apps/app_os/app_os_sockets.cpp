/* The socket calls that read the same on both systems (Winsock takes the BSD names and types). */
#include "apps/app_os/app_os.h"

namespace app_os {

bool bind_ipv4(socket_t sock, const sockaddr_in &address) {
    return ::bind(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

uint16_t local_port(socket_t sock) {
    sockaddr_in address{};
    socklen_t len = sizeof address;
    if (::getsockname(sock, reinterpret_cast<sockaddr *>(&address), &len) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

sockaddr_in ipv4_address(uint32_t host_order_address, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host_order_address);
    address.sin_port = htons(port);
    return address;
}

} // namespace app_os
