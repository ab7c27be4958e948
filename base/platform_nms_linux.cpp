// Manager variant of the platform layer (library vek_base_nms) on Linux: threads, locks,
// semaphores, clocks, sleeping, UDP reception with a time-out, port probing and the executable's
// name, on POSIX.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "base/platform.h"
#include "base/platform_internal.h"

namespace {

constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kUsPerSecond = 1000000;
constexpr long kNsPerMs = 1000000;
constexpr long kNsPerSecond = 1000000000;
constexpr const char *kSelfExeLink = "/proc/self/exe";
constexpr char kPathSeparator = '/';

struct ThreadCell {
    pthread_t id{};
};

struct MutexCell {
    std::mutex lock;
};

struct SemCell {
    sem_t sem{};
};

// Allocates a handle cell; exhaustion gives an empty pointer instead of an exception.
template <typename Cell>
std::unique_ptr<Cell> make_cell() noexcept {
    try {
        return std::make_unique<Cell>();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// Takes ownership of a handle back from the caller so that leaving scope frees it.
template <typename Cell>
std::unique_ptr<Cell> adopt(void *handle) noexcept {
    return std::unique_ptr<Cell>(static_cast<Cell *>(handle));
}

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }

private:
    int fd_;
};

timeval wall_clock() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return now;
}

// poll() takes a signed time-out; longer waits are capped at the largest it accepts.
int poll_timeout(uint32_t timeout_ms) {
    return timeout_ms > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeout_ms);
}

// Waits until the socket has a datagram: 1 when readable, 0 on time-out, -1 on failure.
int wait_readable(platform_socket_t sock, uint32_t timeout_ms) {
    pollfd entry{};
    entry.fd = sock;
    entry.events = POLLIN;
    int ready = poll(&entry, 1, poll_timeout(timeout_ms));
    return ready < 1 ? ready : 1;
}

void write_sender(const sockaddr_in &from, char *from_addr, uint16_t *from_port) {
    bool ipv4 = from.sin_family == AF_INET;
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

namespace vek::platform_internal {

timespec deadline_after(timespec now, uint32_t timeout_ms) {
    timespec deadline = now;
    deadline.tv_sec += static_cast<time_t>(timeout_ms / kMsPerSecond);
    deadline.tv_nsec += static_cast<long>(timeout_ms % kMsPerSecond) * kNsPerMs;
    if (deadline.tv_nsec >= kNsPerSecond) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNsPerSecond;
    }
    return deadline;
}

}  // namespace vek::platform_internal

namespace pi = vek::platform_internal;

extern "C" {

// ---- Initialisation: the POSIX socket layer needs no set-up ----

int platform_init(void) { return 1; }

void platform_deinit(void) {}

// ---- Threads ----

platform_thread_t platform_thread_create(platform_thread_fn routine, void *arg) {
    if (routine == nullptr) {
        return nullptr;
    }
    std::unique_ptr<ThreadCell> cell = make_cell<ThreadCell>();
    if (!cell || pthread_create(&cell->id, nullptr, routine, arg) != 0) {
        return nullptr;
    }
    return cell.release();
}

void platform_thread_join(platform_thread_t thread) {
    if (thread == nullptr) {
        return;
    }
    std::unique_ptr<ThreadCell> cell = adopt<ThreadCell>(thread);
    pthread_join(cell->id, nullptr);
}

void platform_thread_detach(platform_thread_t thread) {
    if (thread == nullptr) {
        return;
    }
    std::unique_ptr<ThreadCell> cell = adopt<ThreadCell>(thread);
    pthread_detach(cell->id);
}

uint64_t platform_thread_id(void) { return static_cast<uint64_t>(pthread_self()); }

// ---- Mutexes (not re-entrant) ----

platform_mutex_t platform_mutex_create(void) { return make_cell<MutexCell>().release(); }

void platform_mutex_lock(platform_mutex_t mutex) {
    if (mutex != nullptr) {
        static_cast<MutexCell *>(mutex)->lock.lock();
    }
}

void platform_mutex_unlock(platform_mutex_t mutex) {
    if (mutex != nullptr) {
        static_cast<MutexCell *>(mutex)->lock.unlock();
    }
}

void platform_mutex_destroy(platform_mutex_t mutex) { adopt<MutexCell>(mutex).reset(); }

// ---- Counting semaphores (the maximum count is not enforced on POSIX) ----

platform_sem_t platform_sem_create(uint32_t initial_count, uint32_t /*max_count*/) {
    std::unique_ptr<SemCell> cell = make_cell<SemCell>();
    if (!cell || sem_init(&cell->sem, 0, initial_count) != 0) {
        return nullptr;
    }
    return cell.release();
}

int platform_sem_post(platform_sem_t sem) {
    if (sem == nullptr) {
        return PLATFORM_SEM_ERROR;
    }
    return sem_post(&static_cast<SemCell *>(sem)->sem) == 0 ? PLATFORM_SEM_OK : PLATFORM_SEM_ERROR;
}

int platform_sem_timedwait(platform_sem_t sem, uint32_t timeout_ms) {
    if (sem == nullptr) {
        return PLATFORM_SEM_ERROR;
    }
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return PLATFORM_SEM_ERROR;
    }
    timespec deadline = pi::deadline_after(now, timeout_ms);
    if (sem_timedwait(&static_cast<SemCell *>(sem)->sem, &deadline) == 0) {
        return PLATFORM_SEM_OK;
    }
    return errno == ETIMEDOUT ? PLATFORM_SEM_TIMEOUT : PLATFORM_SEM_ERROR;
}

void platform_sem_destroy(platform_sem_t sem) {
    if (sem == nullptr) {
        return;
    }
    std::unique_ptr<SemCell> cell = adopt<SemCell>(sem);
    sem_destroy(&cell->sem);
}

// ---- Clocks and sleeping ----

uint32_t platform_get_tick_ms(void) {
    timeval now = wall_clock();
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * kMsPerSecond +
                                 static_cast<uint64_t>(now.tv_usec) / kUsPerMs);
}

uint64_t platform_get_tick_us(void) {
    timeval now = wall_clock();
    return static_cast<uint64_t>(now.tv_sec) * kUsPerSecond + static_cast<uint64_t>(now.tv_usec);
}

void platform_delay_ms(uint32_t ms) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(ms / kMsPerSecond);
    remaining.tv_nsec = static_cast<long>(ms % kMsPerSecond) * kNsPerMs;
    // A signal cuts the sleep short; sleep on for what is left of it.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

int64_t platform_get_utc_seconds(void) { return static_cast<int64_t>(time(nullptr)); }

uint64_t platform_get_utc_ms(void) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * kMsPerSecond + static_cast<uint64_t>(now.tv_nsec / kNsPerMs);
}

// ---- UDP reception with a time-out ----

int platform_udp_recvfrom(platform_socket_t sock, uint8_t *buf, uint32_t buf_len, char *from_addr,
                          uint16_t *from_port, uint32_t timeout_ms) {
    if (buf == nullptr || buf_len == 0 || sock < 0) {
        return -1;
    }
    int ready = wait_readable(sock, timeout_ms);
    if (ready < 1) {
        return ready;
    }
    sockaddr_in from{};
    socklen_t from_len = sizeof(from);
    ssize_t received = recvfrom(sock, buf, buf_len, 0, reinterpret_cast<sockaddr *>(&from), &from_len);
    if (received < 1) {
        return -1;
    }
    write_sender(from, from_addr, from_port);
    return static_cast<int>(received);
}

// ---- Port probe and program name ----

int platform_check_port_in_use(uint16_t port) {
    FileDescriptor probe(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe.valid()) {
        return 1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    return bind(probe.get(), reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 ? 1 : 0;
}

uint32_t platform_get_runtime_filename(char *buf, uint32_t size) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    std::memset(buf, 0, size);
    std::array<char, PLATFORM_PATH_WORK_SIZE> path{};
    ssize_t length = readlink(kSelfExeLink, path.data(), path.size() - 1);
    if (length <= 0) {
        return 0;
    }
    return pi::cut_runtime_name(path.data(), buf, size, kPathSeparator);
}

}  // extern "C"
