/* A free UDP port on Windows: bind a socket to port 0 of 127.0.0.1 and read back what it got. */
#include <winsock2.h>

#include <string.h>

#include "tests/support/free_port.h"

uint16_t test_free_udp_port(void) {
    WSADATA data;
    struct sockaddr_in address;
    int length = sizeof(address);
    uint16_t port = 0;
    SOCKET sock;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 0;
    }
    sock = socket(AF_INET, SOCK_DGRAM, 0);
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sock != INVALID_SOCKET && bind(sock, (struct sockaddr *)&address, sizeof(address)) == 0 &&
        getsockname(sock, (struct sockaddr *)&address, &length) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(sock);
    WSACleanup();
    return port;
}
