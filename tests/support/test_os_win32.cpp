// What the tests need from Windows (see test_os.h).
#include <windows.h>
#include <tlhelp32.h>

#include <array>
#include <cstdint>
#include <cstdio>

#include "tests/support/test_os.h"

namespace test_os {

namespace {

constexpr double kFileTimeUnitsPerSecond = 1e7;  // 100 ns units
constexpr size_t kPointerTextSize = 32;

double seconds(const FILETIME &time) {
    const uint64_t units = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(units) / kFileTimeUnitsPerSecond;
}

}  // namespace

std::string pointer_text(const void *pointer) {
    std::array<char, kPointerTextSize> text{};
    std::snprintf(text.data(), text.size(), "%p", pointer);
    return text.data();
}

double process_cpu_seconds() {
    FILETIME created{};
    FILETIME ended{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return 0;
    }
    return seconds(kernel) + seconds(user);
}

void make_room_for_descriptors(unsigned long /*wanted*/) {}

size_t thread_count() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

long current_thread_id() { return static_cast<long>(GetCurrentThreadId()); }

long thread_sleeps(long /*thread_id*/) { return -1; }

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace test_os
