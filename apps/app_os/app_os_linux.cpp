/* What the programs need from the operating system, on Linux (see app_os.h). */
#include "apps/app_os/app_os.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace app_os {

namespace {

constexpr mode_t k_private_file_mode = S_IRUSR | S_IWUSR; /* 0600 */
constexpr int k_on = 1;
constexpr const char *k_home_state = ".local/state";

int flags_for(bool wait) { return MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT); }

std::string env(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

// ---- Sockets ----

bool net_start() { return true; }

int last_socket_error() { return errno; }
void set_last_socket_error(int error) { errno = error; }
bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS; }
bool interrupted(int error) { return error == EINTR; }
bool out_of_descriptors(int error) { return error == EMFILE || error == ENFILE; }
bool address_in_use(int error) { return error == EADDRINUSE; }
bool access_denied(int error) { return error == EACCES; }
std::string socket_error_text(int error) { return std::strerror(error); }

socket_t tcp_socket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
socket_t udp_socket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

void close_socket(socket_t sock) {
    if (sock >= 0) {
        ::close(sock);
    }
}

bool set_blocking(socket_t sock, bool blocking) {
    const int flags = ::fcntl(sock, F_GETFL, 0);
    return flags >= 0 && ::fcntl(sock, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

bool reuse_listen_address(socket_t sock) {
    return ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &k_on, sizeof k_on) == 0;
}

void set_io_limit(socket_t sock, bool sending, std::chrono::milliseconds limit) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(limit).count());
    tv.tv_usec = static_cast<suseconds_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(limit - std::chrono::seconds(tv.tv_sec)).count());
    ::setsockopt(sock, SOL_SOCKET, sending ? SO_SNDTIMEO : SO_RCVTIMEO, &tv, sizeof tv);
}

socket_t accept_nonblocking(socket_t listener, sockaddr_in &peer) {
    socklen_t len = sizeof peer;
    return ::accept4(listener, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

int poll(poll_entry *entries, size_t count, int timeout_ms) { return ::poll(entries, count, timeout_ms); }

io_result send_some(socket_t sock, const char *data, size_t length, bool wait) {
    return ::send(sock, data, length, flags_for(wait));
}

io_result recv_some(socket_t sock, char *data, size_t length, bool wait) {
    return ::recv(sock, data, length, wait ? 0 : MSG_DONTWAIT);
}

io_result send_datagram(socket_t sock, const void *data, size_t length, const sockaddr_in &to) {
    return ::sendto(sock, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

io_result receive_datagram(socket_t sock, void *data, size_t length, sockaddr_in &from) {
    socklen_t len = sizeof from;
    return ::recvfrom(sock, data, length, 0, reinterpret_cast<sockaddr *>(&from), &len);
}

void shutdown_send(socket_t sock) { ::shutdown(sock, SHUT_WR); }

int pending_error(socket_t sock) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        return errno;
    }
    return error;
}

// ---- Console and stop requests ----

void console_utf8(bool /*input_too*/) {}

void on_stop_request(void (*handler)(int signal_number)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void line_buffered_stdout() { std::setvbuf(stdout, nullptr, _IOLBF, 0); }

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

// ---- Files, time and the process ----

int open_private_append(const std::string &path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, k_private_file_mode);
    if (fd >= 0) {
        ::fchmod(fd, k_private_file_mode); /* a file left by an older version may be readable by all */
    }
    return fd;
}

uint64_t file_size(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

io_result write_file(int fd, const char *data, size_t length) { return ::write(fd, data, length); }

void close_file(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool replace_file(const std::string &from, const std::string &to) { return ::rename(from.c_str(), to.c_str()) == 0; }

std::tm local_time(std::time_t when) {
    std::tm parts{};
    localtime_r(&when, &parts);
    return parts;
}

unsigned long process_id() { return static_cast<unsigned long>(::getpid()); }

std::string user_state_dir() {
    std::string base = env("XDG_STATE_HOME");
    if (base.empty() && !env("HOME").empty()) {
        base = (std::filesystem::path(env("HOME")) / k_home_state).string();
    }
    return base;
}

} // namespace app_os
