// What the tests need from Linux (see test_os.h).
#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/test_os.h"

namespace test_os {

namespace {

constexpr size_t kPointerTextSize = 32;

}  // namespace

std::string pointer_text(const void *pointer) {
    std::array<char, kPointerTextSize> text{};
    std::snprintf(text.data(), text.size(), "%p", pointer);
    return text.data();
}

double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool under_wine() { return false; }

size_t thread_count() {
    size_t count = 0;
    if (DIR *tasks = opendir("/proc/self/task")) {
        while (const dirent *entry = readdir(tasks)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(tasks);
    }
    return count;
}

long current_thread_id() { return static_cast<long>(::syscall(SYS_gettid)); }

long thread_sleeps(long thread_id) {
    std::ifstream status("/proc/self/task/" + std::to_string(thread_id) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("voluntary_ctxt_switches:")) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return -1;
}

void make_room_for_descriptors(unsigned long wanted) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::max(limit.rlim_cur, std::min(static_cast<rlim_t>(wanted), limit.rlim_max));
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace test_os
