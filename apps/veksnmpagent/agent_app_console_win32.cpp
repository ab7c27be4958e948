/* Reading veksnmpagent's console on Windows: a thread that looks at standard input (a console or a
 * pipe) at short intervals, reads what is there, and notices stop() at its next look. */
#include <windows.h>

#include <array>

#include "apps/veksnmpagent/agent_app_console.h"

namespace {

constexpr DWORD k_read_chunk = 512;
constexpr DWORD k_look_interval_ms = 100;

HANDLE standard_input() { return GetStdHandle(STD_INPUT_HANDLE); }

/* Whether a read of the input would return at once: console input waiting, bytes in a pipe, or a
 * file (whose reads never wait). False with at_end set when the input is gone. */
bool input_ready(HANDLE input, bool &at_end) {
    at_end = false;
    switch (GetFileType(input)) {
    case FILE_TYPE_CHAR:
        return WaitForSingleObject(input, k_look_interval_ms) == WAIT_OBJECT_0;
    case FILE_TYPE_PIPE: {
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
            at_end = true;  // the writer has closed the pipe
            return false;
        }
        if (available == 0) {
            Sleep(k_look_interval_ms);
        }
        return available > 0;
    }
    default:
        return true;
    }
}

} // namespace

bool agent_app_console_wanted() {
    const HANDLE input = standard_input();
    DWORD mode = 0;
    // A character device is a console only when it has a console mode (NUL has none).
    return GetConsoleMode(input, &mode) != 0 || GetFileType(input) == FILE_TYPE_PIPE;
}

bool console_reader::start() {
    if (thread_.joinable()) {
        return true;
    }
    stopping_.store(false);
    thread_ = std::thread([this] { run(); });
    return true;
}

void console_reader::stop() {
    if (thread_.joinable()) {
        stopping_.store(true);
        thread_.join();
    }
}

void console_reader::run() {
    const HANDLE input = standard_input();
    while (!stopping_.load()) {
        bool at_end = false;
        if (input_ready(input, at_end)) {
            if (!read_chunk()) {
                return;
            }
        } else if (at_end) {
            finish_input();
            return;
        }
    }
}

bool console_reader::read_chunk() {
    std::array<char, k_read_chunk> chunk{};
    DWORD n = 0;
    if (!ReadFile(standard_input(), chunk.data(), k_read_chunk, &n, nullptr) || n == 0) {
        finish_input();  // the end of the input (a console read cut short by Ctrl+C ends so too)
        return false;
    }
    consume(std::string_view(chunk.data(), n));  // CR of CR LF is a blank that the commands trim
    return true;
}
