// Manager variant of the platform layer (library vek_base_nms) on Windows: threads, locks,
// semaphores, clocks, sleeping, UDP reception with a time-out, port probing and the executable's
// name. Locks and semaphores are user-mode objects (critical sections, slim reader/writer locks and
// condition variables): they sit on every packet's path, where a kernel mutex or semaphore would
// cost a system call per operation.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <process.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "base/platform.h"
#include "base/platform_internal.h"

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kFileTimeUnitsPerMs = 10000;                // 100 ns units
constexpr uint64_t kFileTimeToUnixEpochMs = 11644473600000ULL;  // 1601-01-01 to 1970-01-01
constexpr char kPathSeparator = '\\';
constexpr DWORD kCriticalSectionSpins = 4000;  // spins before a contended lock sleeps
constexpr int kUdpTableAttempts = 3;

struct ThreadCell {
    HANDLE handle = nullptr;
};

// What the new thread needs to call the caller's routine; freed by the thread.
struct ThreadStart {
    platform_thread_fn routine;
    void *arg;
};

// Re-entrant by its owner, like a Windows mutex.
struct MutexCell {
    CRITICAL_SECTION section{};
    MutexCell() noexcept { InitializeCriticalSectionAndSpinCount(&section, kCriticalSectionSpins); }
    MutexCell(const MutexCell &) = delete;
    MutexCell &operator=(const MutexCell &) = delete;
    ~MutexCell() { DeleteCriticalSection(&section); }
};

// A counting semaphore that refuses a post beyond its maximum.
struct SemCell {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE available = CONDITION_VARIABLE_INIT;
    uint32_t count = 0;
    uint32_t max_count = 0;
};

class SrwGuard {
public:
    explicit SrwGuard(SRWLOCK &lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    SrwGuard(const SrwGuard &) = delete;
    SrwGuard &operator=(const SrwGuard &) = delete;
    ~SrwGuard() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK &lock_;
};

template <typename Cell>
std::unique_ptr<Cell> make_cell() noexcept {
    return std::unique_ptr<Cell>(new (std::nothrow) Cell());
}

template <typename Cell>
std::unique_ptr<Cell> adopt(void *handle) noexcept {
    return std::unique_ptr<Cell>(static_cast<Cell *>(handle));
}

unsigned __stdcall thread_entry(void *start_cell) {
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(start_cell));
    start->routine(start->arg);
    return 0;
}

// WSAPoll takes a signed time-out; longer waits are capped at the largest it accepts.
INT poll_timeout(uint32_t timeout_ms) {
    return timeout_ms > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<INT>(timeout_ms);
}

void write_sender(const sockaddr_in &from, char *from_addr, uint16_t *from_port) {
    const bool ipv4 = from.sin_family == AF_INET;
    if (from_addr != nullptr) {
        from_addr[0] = '\0';
        if (ipv4) {
            inet_ntop(AF_INET, &from.sin_addr, from_addr, PLATFORM_ADDR_TEXT_SIZE);
        }
    }
    if (from_port != nullptr) {
        *from_port = ipv4 ? ntohs(from.sin_port) : 0;
    }
}

}  // namespace

namespace pi = vek::platform_internal;

extern "C" {

// ---- Initialisation: Winsock 2.2 ----

int platform_init(void) {
    WSADATA data{};
    return WSAStartup(kWinsockVersion, &data) == 0 ? 1 : 0;
}

void platform_deinit(void) { WSACleanup(); }

// ---- Threads ----

platform_thread_t platform_thread_create(platform_thread_fn routine, void *arg) {
    if (routine == nullptr) {
        return nullptr;
    }
    std::unique_ptr<ThreadCell> cell = make_cell<ThreadCell>();
    std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{routine, arg});
    if (!cell || !start) {
        return nullptr;
    }
    const uintptr_t handle = _beginthreadex(nullptr, 0, thread_entry, start.get(), 0, nullptr);
    if (handle == 0) {
        return nullptr;
    }
    start.release();  // the thread owns it now
    cell->handle = reinterpret_cast<HANDLE>(handle);
    return cell.release();
}

void platform_thread_join(platform_thread_t thread) {
    if (thread == nullptr) {
        return;
    }
    std::unique_ptr<ThreadCell> cell = adopt<ThreadCell>(thread);
    WaitForSingleObject(cell->handle, INFINITE);
    CloseHandle(cell->handle);
}

void platform_thread_detach(platform_thread_t thread) {
    if (thread == nullptr) {
        return;
    }
    std::unique_ptr<ThreadCell> cell = adopt<ThreadCell>(thread);
    CloseHandle(cell->handle);
}

uint64_t platform_thread_id(void) { return GetCurrentThreadId(); }

// ---- Mutexes (re-entrant by their owner) ----

platform_mutex_t platform_mutex_create(void) { return make_cell<MutexCell>().release(); }

void platform_mutex_lock(platform_mutex_t mutex) {
    if (mutex != nullptr) {
        EnterCriticalSection(&static_cast<MutexCell *>(mutex)->section);
    }
}

void platform_mutex_unlock(platform_mutex_t mutex) {
    if (mutex != nullptr) {
        LeaveCriticalSection(&static_cast<MutexCell *>(mutex)->section);
    }
}

void platform_mutex_destroy(platform_mutex_t mutex) { adopt<MutexCell>(mutex).reset(); }

// ---- Counting semaphores (the maximum count is enforced) ----

platform_sem_t platform_sem_create(uint32_t initial_count, uint32_t max_count) {
    if (max_count == 0 || initial_count > max_count) {
        return nullptr;
    }
    std::unique_ptr<SemCell> cell = make_cell<SemCell>();
    if (!cell) {
        return nullptr;
    }
    cell->count = initial_count;
    cell->max_count = max_count;
    return cell.release();
}

int platform_sem_post(platform_sem_t sem) {
    if (sem == nullptr) {
        return PLATFORM_SEM_ERROR;
    }
    SemCell &cell = *static_cast<SemCell *>(sem);
    {
        SrwGuard guard(cell.lock);
        if (cell.count >= cell.max_count) {
            return PLATFORM_SEM_ERROR;
        }
        ++cell.count;
    }
    WakeConditionVariable(&cell.available);
    return PLATFORM_SEM_OK;
}

int platform_sem_timedwait(platform_sem_t sem, uint32_t timeout_ms) {
    if (sem == nullptr) {
        return PLATFORM_SEM_ERROR;
    }
    SemCell &cell = *static_cast<SemCell *>(sem);
    const uint64_t deadline_us = platform_get_tick_us() + static_cast<uint64_t>(timeout_ms) * kUsPerMs;
    SrwGuard guard(cell.lock);
    while (cell.count == 0) {
        const uint64_t now_us = platform_get_tick_us();
        if (now_us >= deadline_us) {
            return PLATFORM_SEM_TIMEOUT;
        }
        // Rounded up, so that the wait never ends before its time; woken early, it waits again.
        const uint64_t left_ms = (deadline_us - now_us + kUsPerMs - 1) / kUsPerMs;
        const DWORD wait_ms = left_ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left_ms);
        if (!SleepConditionVariableSRW(&cell.available, &cell.lock, wait_ms, 0) && GetLastError() != ERROR_TIMEOUT) {
            return PLATFORM_SEM_ERROR;
        }
    }
    --cell.count;
    return PLATFORM_SEM_OK;
}

void platform_sem_destroy(platform_sem_t sem) { adopt<SemCell>(sem).reset(); }

// ---- Clocks and sleeping ----

uint32_t platform_get_tick_ms(void) { return static_cast<uint32_t>(GetTickCount64()); }

uint64_t platform_get_tick_us(void) { return pi::performance_counter_us(); }

void platform_delay_ms(uint32_t ms) { Sleep(ms); }

int64_t platform_get_utc_seconds(void) { return static_cast<int64_t>(_time64(nullptr)); }

uint64_t platform_get_utc_ms(void) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t units = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return units / kFileTimeUnitsPerMs - kFileTimeToUnixEpochMs;
}

// ---- UDP reception with a time-out ----

int platform_udp_recvfrom(platform_socket_t sock, uint8_t *buf, uint32_t buf_len, char *from_addr,
                          uint16_t *from_port, uint32_t timeout_ms) {
    if (buf == nullptr || buf_len == 0 || !platform_socket_valid(sock)) {
        return -1;
    }
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(sock);
    entry.events = POLLRDNORM;
    const int ready = WSAPoll(&entry, 1, poll_timeout(timeout_ms));
    if (ready < 1) {
        return ready < 0 ? -1 : 0;
    }
    sockaddr_in from{};
    int from_len = sizeof(from);
    const int length = buf_len > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(buf_len);
    const int received = recvfrom(static_cast<SOCKET>(sock), reinterpret_cast<char *>(buf), length, 0,
                                  reinterpret_cast<sockaddr *>(&from), &from_len);
    if (received < 1) {
        return -1;
    }
    write_sender(from, from_addr, from_port);
    return received;
}

// ---- Port probe and program name ----

int platform_check_port_in_use(uint16_t port) {
    ULONG size = 0;
    if (GetUdpTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) {
        return 0;
    }
    std::vector<uint8_t> storage;
    DWORD read = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between the size query and the read: ask again with the size it needs now.
    for (int attempt = 0; attempt < kUdpTableAttempts && read == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        try {
            storage.resize(size);
        } catch (const std::bad_alloc &) {
            return 1;
        }
        read = GetUdpTable(reinterpret_cast<MIB_UDPTABLE *>(storage.data()), &size, FALSE);
    }
    if (read != NO_ERROR) {
        return 0;
    }
    const auto *table = reinterpret_cast<const MIB_UDPTABLE *>(storage.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port) {
            return 1;
        }
    }
    return 0;
}

uint32_t platform_get_runtime_filename(char *buf, uint32_t size) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    std::fill_n(buf, size, '\0');
    std::array<char, PLATFORM_PATH_WORK_SIZE> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size() - 1));
    if (length == 0) {
        return 0;
    }
    return pi::cut_runtime_name(path.data(), buf, size, kPathSeparator);
}

}  // extern "C"
