/* Console of veksnmpagent: commands read from standard input that change the simulated hardware
 * and send custom notifications. Lines are read on a thread of their own and executed by the main
 * loop, on the thread that owns the agent. */
#ifndef VEK_APPS_VEKSNMPAGENT_CONSOLE_H
#define VEK_APPS_VEKSNMPAGENT_CONSOLE_H

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "apps/veksnmpagent/agent_app_device.h"
#include "apps/veksnmpagent/agent_app_notify.h"

/* Whether standard input is a terminal or a pipe: only then are commands read from it. */
bool agent_app_console_wanted();

/* Reads standard input line by line until its end or stop(); the end of input stops only the
 * reading, never the program. */
class console_reader {
public:
    console_reader() = default;
    ~console_reader();
    console_reader(const console_reader &) = delete;
    console_reader &operator=(const console_reader &) = delete;

    bool start();
    void stop();
    /* The complete lines read since the previous call, oldest first. */
    std::vector<std::string> take_lines();

private:
    /* The system's part (agent_app_console_linux.cpp, agent_app_console_win32.cpp). */
    void run();
    bool read_chunk(); /* one read of standard input; false at its end */

    /* Cuts what was read into lines; finish_input keeps a last line without a newline. */
    void consume(std::string_view bytes);
    void finish_input();
    void add_line(std::string line);

    std::thread thread_;
    std::array<int, 2> wake_{-1, -1}; /* Linux: pipe that ends the reading thread */
    std::atomic<bool> stopping_{false}; /* Windows: ends the reading thread at its next look */
    std::mutex mtx_;
    std::vector<std::string> lines_;
    std::string partial_;
};

enum class console_verdict { keep_running, quit };

struct console_context {
    sample_device &device;
    const agent_app_target &target;
};

/* Executes one command line and prints its outcome. */
console_verdict agent_app_console_execute(std::string_view line, console_context &ctx);

/* The command list printed by "help". */
std::string_view agent_app_console_help();

#endif
