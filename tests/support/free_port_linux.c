/* A free UDP port on Linux: bind a socket to port 0 of 127.0.0.1 and read back what it got. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/free_port.h"

uint16_t test_free_udp_port(void) {
    struct sockaddr_in address;
    socklen_t length = sizeof(address);
    uint16_t port = 0;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (struct sockaddr *)&address, sizeof(address)) == 0 &&
        getsockname(fd, (struct sockaddr *)&address, &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}
