/* The front door of the two HTTP programs (the service and the web bridge): one thread accepts
 * connections and reads their request heads, all of them at once and none for longer than a fixed
 * deadline, and hands each complete head to the workers through a small queue. A worker thus never
 * waits for a slow or idle client, and such clients cost a descriptor and a buffer each, up to fixed
 * limits:
 *  - the whole head must arrive within head_limit (an idle connection is closed without an answer,
 *    an unfinished head gets 408);
 *  - at most max_per_address connections of one client address are open at a time (more get 429);
 *  - at most max_reading heads are read at once, and a complete head finds the queue full: 503.
 * Every refusal is a short JSON answer, sent at once. */
#ifndef VEK_APPS_HTTP_INTAKE_HTTP_INTAKE_H
#define VEK_APPS_HTTP_INTAKE_HTTP_INTAKE_H

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace http_intake {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

/* Owns one descriptor and closes it. */
class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
    unique_fd &operator=(unique_fd &&other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

/* A TCP socket with address reuse, bound to address:port and listening; an invalid descriptor with
 * errno set when a step fails. */
unique_fd open_listener(in_addr address, uint16_t port, int backlog);

/* True when the address is one of the machine's loopback addresses (127.0.0.0/8). */
bool is_loopback(in_addr address);

struct limits {
    size_t max_head_bytes;                /* bytes of a request head that are read */
    std::chrono::milliseconds head_limit; /* for the whole head to arrive */
    size_t max_per_address;               /* open connections of one client address */
    size_t max_reading;                   /* heads being read at once */
    size_t queue_slots;                   /* ring of complete heads; one slot stays free */
};

/* Counts the open connections of each client address; a ticket holds one place. */
class address_counter {
public:
    class ticket {
    public:
        ticket() = default;
        ticket(address_counter *owner, uint32_t address) : owner_(owner), address_(address) {}
        ~ticket();
        ticket(ticket &&other) noexcept;
        ticket &operator=(ticket &&other) noexcept;
        ticket(const ticket &) = delete;
        ticket &operator=(const ticket &) = delete;

    private:
        address_counter *owner_ = nullptr;
        uint32_t address_ = 0;
    };

    explicit address_counter(size_t max_per_address) : max_(max_per_address) {}
    /* A place for one more connection of the address, or nothing when it has max_per_address. */
    std::optional<ticket> take(uint32_t address);
    size_t open(uint32_t address) const;

private:
    void give_back(uint32_t address);
    size_t max_;
    mutable std::mutex mutex_;
    std::vector<std::pair<uint32_t, size_t>> counts_; /* addresses with open connections */
};

/* One complete request head with its connection (blocking again) and its place in the count. */
struct request {
    unique_fd conn;
    std::string head;
    address_counter::ticket place;
    in_addr peer{};
};

class intake {
public:
    /* on_queue_full is called with the descriptor of a connection that is refused because the queue
     * is full (before the 503 answer goes out); it may be empty. */
    explicit intake(const limits &lim, std::function<void(int fd)> on_queue_full = {});
    ~intake();
    intake(const intake &) = delete;
    intake &operator=(const intake &) = delete;

    /* The accepting and reading loop on the listening socket, until running turns false. */
    void run(int listener, const std::atomic<bool> &running);

    /* The oldest complete request; nothing when none came within wait or the intake is stopping. */
    std::optional<request> pop(std::chrono::milliseconds wait);

    /* Wakes every waiting worker; pop answers nothing from then on. */
    void stop();

    size_t queued() const;

private:
    struct connection;
    int accept_all(int listener); /* the errno that ended accepting */
    void admit(unique_fd fd, in_addr peer);
    void read_from(connection &c);
    void finish_head(connection &c);
    bool push(request &r); /* false (r left as it was) when the queue is full */
    void refuse(connection &c, std::string_view answer);
    void expire(connection &c);

    limits limits_;
    std::function<void(int)> on_queue_full_;
    address_counter counter_;
    std::vector<std::unique_ptr<connection>> open_;

    mutable std::mutex queue_mutex_;
    std::condition_variable queue_ready_;
    std::vector<std::optional<request>> slots_;
    size_t head_ = 0;
    size_t tail_ = 0;
    bool stopping_ = false;
};

} // namespace http_intake

#endif
