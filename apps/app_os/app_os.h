/* What the programs need from the operating system beyond the standard library: TCP and UDP sockets
 * (BSD sockets on Linux, Winsock 2.2 on Windows), the console, stop requests (Ctrl+C and
 * termination), a private append-only file, local time, the process id and a per-user state
 * directory. The programs call only these; app_os_linux.cpp and app_os_win32.cpp implement them,
 * and the build takes the one of the system it builds for. */
#ifndef VEK_APPS_APP_OS_APP_OS_H
#define VEK_APPS_APP_OS_APP_OS_H

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

/* printf-style checking of a function's format text: mingw's C++ run time prints with its own ISO C
 * printf (%zu, %lld), which GCC knows as gnu_printf. */
#ifdef __MINGW32__
#define APP_OS_PRINTF_LIKE(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define APP_OS_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace app_os {

/* ---- Sockets ---- */

#ifdef _WIN32
using socket_t = SOCKET; /* pointer-sized */
using poll_entry = WSAPOLLFD;
using io_result = int;
inline constexpr socket_t k_invalid_socket = INVALID_SOCKET;
#else
using socket_t = int;
using poll_entry = pollfd;
using io_result = ssize_t;
inline constexpr socket_t k_invalid_socket = -1;
#endif

/* Starts the system's socket library once per process (Winsock); true when sockets can be used. */
bool net_start();

/* The error of the calling thread's last failed socket call, and what it means. */
int last_socket_error();
void set_last_socket_error(int error);
bool would_block(int error);         /* nothing to do without waiting (also: connect under way) */
bool interrupted(int error);         /* a signal cut the call short: try again */
bool out_of_descriptors(int error);  /* the process or the system has no socket to spare */
bool address_in_use(int error);
bool access_denied(int error);
std::string socket_error_text(int error);

/* An IPv4 socket (TCP or UDP) that child processes do not inherit, or k_invalid_socket. */
socket_t tcp_socket();
socket_t udp_socket();
void close_socket(socket_t sock);
bool set_blocking(socket_t sock, bool blocking);
/* Lets a listener bind again at once after a restart, and keeps other programs off its port (on
 * Windows SO_REUSEADDR would let them take it: exclusive use is asked for instead). */
bool reuse_listen_address(socket_t sock);
/* Send or receive time-out of the socket's blocking calls, set as the system reads it. */
void set_io_limit(socket_t sock, bool sending, std::chrono::milliseconds limit);
/* Accepts one connection without waiting; the new socket is non-blocking and not inherited. */
socket_t accept_nonblocking(socket_t listener, sockaddr_in &peer);
/* Waits for the given entries (timeout_ms < 0: without limit); the count of ready ones, or < 0. */
int poll(poll_entry *entries, size_t count, int timeout_ms);
/* One send or receive; a send never raises SIGPIPE. With wait false it does not wait even on a
 * blocking socket (what fits is sent, what is there is received); on a non-blocking socket nothing
 * waits either way. */
io_result send_some(socket_t sock, const char *data, size_t length, bool wait);
io_result recv_some(socket_t sock, char *data, size_t length, bool wait);
/* One datagram to an IPv4 address, and one received with its sender: bytes, or < 0. */
io_result send_datagram(socket_t sock, const void *data, size_t length, const sockaddr_in &to);
io_result receive_datagram(socket_t sock, void *data, size_t length, sockaddr_in &from);
bool bind_ipv4(socket_t sock, const sockaddr_in &address);
/* The local port of a bound socket, 0 when it cannot be read. */
uint16_t local_port(socket_t sock);
/* The IPv4 socket address of a host-order address and a port (INADDR_LOOPBACK, INADDR_ANY, ...). */
sockaddr_in ipv4_address(uint32_t host_order_address, uint16_t port);
/* Ends the sending direction of a connection. */
void shutdown_send(socket_t sock);
/* The socket's pending error (after a non-blocking connect), 0 when none. */
int pending_error(socket_t sock);
/* The socket's value for log lines. */
inline long long socket_number(socket_t sock) { return static_cast<long long>(sock); }

/* ---- Console and stop requests ---- */

/* Console text is UTF-8: on Windows the console's output code page (and with input_too its input
 * code page) becomes 65001; elsewhere there is nothing to do. */
void console_utf8(bool input_too);

/* Calls handler with SIGINT or SIGTERM when the user presses Ctrl+C or the process is asked to end.
 * Linux: inside the signal handler (so handler may only do what a signal handler may); Windows: on a
 * thread of the system's (Ctrl+C, Ctrl+Break, closing the console window). */
void on_stop_request(void (*handler)(int signal_number));

/* Standard output is written line by line (so that a reader of a pipe or a file sees each line as
 * it is printed); Windows has no line buffering, so there it is not buffered at all. */
void line_buffered_stdout();

/* A write to a connection that the peer has closed fails instead of ending the process. */
void ignore_broken_pipe();

/* ---- Files, time and the process ---- */

/* Opens path for appending, creating it readable and writable by its owner only; -1 on failure. */
int open_private_append(const std::string &path);
uint64_t file_size(int fd);
io_result write_file(int fd, const char *data, size_t length);
void close_file(int fd);
/* Moves from over to, replacing to when it exists. */
bool replace_file(const std::string &from, const std::string &to);

/* Local calendar time of a time value. */
std::tm local_time(std::time_t when);

unsigned long process_id();

/* The directory where a program keeps per-user state (Linux: $XDG_STATE_HOME or ~/.local/state;
 * Windows: %LOCALAPPDATA%); empty when there is none. */
std::string user_state_dir();

} // namespace app_os

#endif
