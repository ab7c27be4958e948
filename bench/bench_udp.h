// A UDP socket of the load programs, connected to an agent on 127.0.0.1.
#ifndef VEK_BENCH_BENCH_UDP_H
#define VEK_BENCH_BENCH_UDP_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

// The socket, or -1.
inline int connect_udp(uint16_t port) {
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sock < 0 || connect(sock, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        return -1;
    }
    return sock;
}

#endif  // VEK_BENCH_BENCH_UDP_H
