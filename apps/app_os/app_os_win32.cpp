/* What the programs need from the operating system, on Windows (see app_os.h). */
#include "apps/app_os/app_os.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace app_os {

namespace {

constexpr WORD k_winsock_version = MAKEWORD(2, 2);
constexpr UINT k_utf8_code_page = CP_UTF8; /* 65001 */
constexpr DWORD k_error_text_size = 512;

std::atomic<void (*)(int)> g_stop_handler{nullptr};

BOOL WINAPI console_control(DWORD event) {
    void (*handler)(int) = g_stop_handler.load();
    if (handler == nullptr) {
        return FALSE;
    }
    switch (event) {
    case CTRL_C_EVENT:
        handler(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        handler(SIGTERM);
        return TRUE;
    default:
        return FALSE;
    }
}

/* Runs one call with the socket non-blocking, then makes it blocking again. */
template <typename Call>
io_result without_waiting(socket_t sock, Call call) {
    if (!set_blocking(sock, false)) {
        return SOCKET_ERROR;
    }
    const io_result result = call();
    const int error = WSAGetLastError();
    set_blocking(sock, true);
    WSASetLastError(error);
    return result;
}

int clamp_length(size_t length) { return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length); }

} // namespace

// ---- Sockets ----

bool net_start() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(k_winsock_version, &data) == 0;
    }();
    return started;
}

int last_socket_error() { return WSAGetLastError(); }
void set_last_socket_error(int error) { WSASetLastError(error); }
bool would_block(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }
bool interrupted(int error) { return error == WSAEINTR; }
bool out_of_descriptors(int error) { return error == WSAEMFILE || error == WSAENOBUFS; }
bool address_in_use(int error) { return error == WSAEADDRINUSE; }
bool access_denied(int error) { return error == WSAEACCES; }

std::string socket_error_text(int error) {
    std::array<char, k_error_text_size> text{};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(error), 0, text.data(), static_cast<DWORD>(text.size()), nullptr);
    std::string message(text.data(), length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message.empty() ? "Winsock error " + std::to_string(error) : message;
}

socket_t tcp_socket() {
    net_start();
    return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

socket_t udp_socket() {
    net_start();
    return WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

void close_socket(socket_t sock) {
    if (sock != INVALID_SOCKET) {
        closesocket(sock);
    }
}

bool set_blocking(socket_t sock, bool blocking) {
    u_long non_blocking = blocking ? 0 : 1;
    return ioctlsocket(sock, FIONBIO, &non_blocking) == 0;
}

bool reuse_listen_address(socket_t sock) {
    const BOOL on = TRUE;
    return setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on), sizeof on) == 0;
}

void set_io_limit(socket_t sock, bool sending, std::chrono::milliseconds limit) {
    // Windows reads these options as a DWORD of milliseconds (0 would mean no limit at all).
    const DWORD ms = limit.count() <= 0 ? 1 : static_cast<DWORD>(limit.count());
    setsockopt(sock, SOL_SOCKET, sending ? SO_SNDTIMEO : SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms);
}

socket_t accept_nonblocking(socket_t listener, sockaddr_in &peer) {
    int len = sizeof peer;
    const socket_t sock = ::accept(listener, reinterpret_cast<sockaddr *>(&peer), &len);
    if (sock != INVALID_SOCKET) {
        set_blocking(sock, false);
        SetHandleInformation(reinterpret_cast<HANDLE>(sock), HANDLE_FLAG_INHERIT, 0);
    }
    return sock;
}

int poll(poll_entry *entries, size_t count, int timeout_ms) {
    if (count == 0) {
        Sleep(timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
        return 0;
    }
    return WSAPoll(entries, static_cast<ULONG>(count), timeout_ms);
}

io_result send_some(socket_t sock, const char *data, size_t length, bool wait) {
    const auto call = [&] { return ::send(sock, data, clamp_length(length), 0); };
    return wait ? call() : without_waiting(sock, call);
}

io_result recv_some(socket_t sock, char *data, size_t length, bool wait) {
    const auto call = [&] { return ::recv(sock, data, clamp_length(length), 0); };
    return wait ? call() : without_waiting(sock, call);
}

io_result send_datagram(socket_t sock, const void *data, size_t length, const sockaddr_in &to) {
    return ::sendto(sock, static_cast<const char *>(data), clamp_length(length), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

io_result receive_datagram(socket_t sock, void *data, size_t length, sockaddr_in &from) {
    int len = sizeof from;
    return ::recvfrom(sock, static_cast<char *>(data), clamp_length(length), 0, reinterpret_cast<sockaddr *>(&from), &len);
}

void shutdown_send(socket_t sock) { ::shutdown(sock, SD_SEND); }

int pending_error(socket_t sock) {
    int error = 0;
    int len = sizeof error;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &len) != 0) {
        return WSAGetLastError();
    }
    return error;
}

// ---- Console and stop requests ----

void console_utf8(bool input_too) {
    // Fails harmlessly when the output is not a console (a pipe or a file keeps the bytes as they are).
    SetConsoleOutputCP(k_utf8_code_page);
    if (input_too) {
        SetConsoleCP(k_utf8_code_page);
    }
}

void on_stop_request(void (*handler)(int signal_number)) {
    g_stop_handler.store(handler);
    SetConsoleCtrlHandler(console_control, TRUE);
}

void line_buffered_stdout() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void ignore_broken_pipe() {}

// ---- Files, time and the process ----

int open_private_append(const std::string &path) {
    int fd = -1;
    if (_sopen_s(&fd, path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                 _S_IREAD | _S_IWRITE) != 0) {
        return -1;
    }
    return fd;
}

uint64_t file_size(int fd) {
    const long long size = _filelengthi64(fd);
    return size > 0 ? static_cast<uint64_t>(size) : 0;
}

io_result write_file(int fd, const char *data, size_t length) {
    return _write(fd, data, static_cast<unsigned int>(std::min<size_t>(length, UINT_MAX)));
}

void close_file(int fd) {
    if (fd >= 0) {
        _close(fd);
    }
}

bool replace_file(const std::string &from, const std::string &to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::tm local_time(std::time_t when) {
    std::tm parts{};
    localtime_s(&parts, &when);
    return parts;
}

unsigned long process_id() { return GetCurrentProcessId(); }

std::string user_state_dir() {
    const char *local_app_data = std::getenv("LOCALAPPDATA");
    return local_app_data != nullptr ? local_app_data : "";
}

} // namespace app_os
