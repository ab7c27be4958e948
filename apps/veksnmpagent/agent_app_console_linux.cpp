/* Reading veksnmpagent's console on Linux: a thread that polls standard input and a wake-up pipe. */
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "apps/veksnmpagent/agent_app_console.h"

namespace {

constexpr size_t k_read_chunk = 512;

} // namespace

bool agent_app_console_wanted() {
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) != 0) {
        return false;
    }
    return isatty(STDIN_FILENO) != 0 || S_ISFIFO(st.st_mode);
}

bool console_reader::start() {
    if (thread_.joinable()) {
        return true;
    }
    if (pipe2(wake_.data(), O_CLOEXEC) != 0) {
        wake_ = {-1, -1};
        return false;
    }
    // Ctrl+C belongs to the main thread: the reader runs with the stop signals blocked.
    sigset_t stop_signals;
    sigset_t previous;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
    thread_ = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

void console_reader::stop() {
    if (thread_.joinable()) {
        const char byte = 0;
        (void)!write(wake_[1], &byte, 1);
        thread_.join();
    }
    for (int &fd : wake_) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

void console_reader::run() {
    for (;;) {
        std::array<pollfd, 2> fds = {pollfd{STDIN_FILENO, POLLIN, 0}, pollfd{wake_[0], POLLIN, 0}};
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0 && !read_chunk()) {
            return;
        }
    }
}

bool console_reader::read_chunk() {
    std::array<char, k_read_chunk> chunk{};
    const ssize_t n = read(STDIN_FILENO, chunk.data(), chunk.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (n <= 0) {
        finish_input();
        return false;
    }
    consume(std::string_view(chunk.data(), static_cast<size_t>(n)));
    return true;
}
