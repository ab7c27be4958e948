/* The front door of the HTTP programs (see http_intake.h). */
#include "apps/http_intake/http_intake.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "apps/http_intake/http_head.h"

namespace http_intake {

namespace {

constexpr auto k_running_check = 200ms; /* how often the loop looks at the running flag */
/* A refused connection reads and drops what the client still sends for this long, so that closing
 * does not reset the connection and destroy the answer on its way. */
constexpr auto k_refusal_drain = 500ms;
/* Descriptors exhausted: accepting pauses this long instead of spinning on the listener. */
constexpr auto k_accept_pause = 100ms;
constexpr size_t k_read_chunk = 4096;
constexpr uint32_t k_loopback_net = 0x7F000000; /* 127.0.0.0/8 */
constexpr uint32_t k_loopback_mask = 0xFF000000;

constexpr std::string_view k_busy_answer =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nRetry-After: 1\r\n"
    "Connection: close\r\n\r\n"
    R"({"ret":-503,"msg":"server busy, try again"})";
constexpr std::string_view k_too_many_answer =
    "HTTP/1.1 429 Too Many Requests\r\nContent-Type: application/json\r\nRetry-After: 1\r\n"
    "Connection: close\r\n\r\n"
    R"({"ret":-429,"msg":"too many connections from this address"})";
constexpr std::string_view k_head_timeout_answer =
    "HTTP/1.1 408 Request Timeout\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
    R"({"ret":-408,"msg":"request head not complete in time"})";

bool set_blocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

int millis(std::chrono::nanoseconds span) {
    return static_cast<int>(std::max<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(span).count(), 0));
}

} // namespace

// ---- descriptors ----

void unique_fd::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

unique_fd open_listener(in_addr address, uint16_t port, int backlog) {
    unique_fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int reuse = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr = address;
    if (!sock.valid() || ::setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        ::bind(sock.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(sock.get(), backlog) != 0) {
        const int saved = errno;
        sock.reset();
        errno = saved;
    }
    return sock;
}

bool is_loopback(in_addr address) { return (ntohl(address.s_addr) & k_loopback_mask) == k_loopback_net; }

// ---- address_counter ----

address_counter::ticket::~ticket() {
    if (owner_ != nullptr) {
        owner_->give_back(address_);
    }
}

address_counter::ticket::ticket(ticket &&other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), address_(other.address_) {}

address_counter::ticket &address_counter::ticket::operator=(ticket &&other) noexcept {
    if (this != &other) {
        if (owner_ != nullptr) {
            owner_->give_back(address_);
        }
        owner_ = std::exchange(other.owner_, nullptr);
        address_ = other.address_;
    }
    return *this;
}

std::optional<address_counter::ticket> address_counter::take(uint32_t address) {
    const std::lock_guard lock(mutex_);
    auto it = std::find_if(counts_.begin(), counts_.end(), [&](const auto &e) { return e.first == address; });
    if (it == counts_.end()) {
        counts_.emplace_back(address, 0);
        it = counts_.end() - 1;
    }
    if (it->second >= max_) {
        return std::nullopt;
    }
    ++it->second;
    return ticket(this, address);
}

size_t address_counter::open(uint32_t address) const {
    const std::lock_guard lock(mutex_);
    const auto it = std::find_if(counts_.begin(), counts_.end(), [&](const auto &e) { return e.first == address; });
    return it == counts_.end() ? 0 : it->second;
}

void address_counter::give_back(uint32_t address) {
    const std::lock_guard lock(mutex_);
    const auto it = std::find_if(counts_.begin(), counts_.end(), [&](const auto &e) { return e.first == address; });
    if (it != counts_.end() && --it->second == 0) {
        *it = counts_.back();
        counts_.pop_back();
    }
}

// ---- intake ----

/* A connection in the loop: its head is being read, or (refused) its answer went out and what the
 * client still sends is dropped until the deadline. */
struct intake::connection {
    unique_fd fd;
    std::string head;
    clock_type::time_point deadline;
    address_counter::ticket place;
    in_addr peer{};
    bool draining = false;
};

intake::intake(const limits &lim, std::function<void(int)> on_queue_full)
    : limits_(lim), on_queue_full_(std::move(on_queue_full)), counter_(lim.max_per_address),
      slots_(lim.queue_slots) {}

intake::~intake() { stop(); }

void intake::run(int listener, const std::atomic<bool> &running) {
    std::vector<pollfd> polled;
    clock_type::time_point accept_paused_until{};
    while (running.load()) {
        const auto now = clock_type::now();
        auto wake = now + k_running_check;
        polled.clear();
        const bool accepting = now >= accept_paused_until;
        polled.push_back({accepting ? listener : -1, POLLIN, 0});
        for (const auto &c : open_) {
            polled.push_back({c->fd.get(), POLLIN, 0});
            wake = std::min(wake, c->deadline);
        }
        if (::poll(polled.data(), polled.size(), millis(wake - now)) < 0 && errno != EINTR) {
            continue;
        }
        for (size_t i = 1; i < polled.size(); ++i) {
            if (polled[i].revents != 0) {
                read_from(*open_[i - 1]);
            }
        }
        if (polled[0].revents != 0) {
            const int rc = accept_all(listener);
            if (rc == EMFILE || rc == ENFILE) {
                accept_paused_until = clock_type::now() + k_accept_pause;
            }
        }
        const auto later = clock_type::now();
        for (auto &c : open_) {
            if (c->fd.valid() && later >= c->deadline) {
                expire(*c);
            }
        }
        std::erase_if(open_, [](const auto &c) { return !c->fd.valid(); });
    }
}

int intake::accept_all(int listener) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listener, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return errno == EINTR ? 0 : errno;
        }
        admit(unique_fd(fd), peer.sin_addr);
    }
}

void intake::admit(unique_fd fd, in_addr peer) {
    auto c = std::make_unique<connection>();
    c->fd = std::move(fd);
    c->peer = peer;
    c->deadline = clock_type::now() + limits_.head_limit;
    auto place = counter_.take(peer.s_addr);
    const size_t reading = static_cast<size_t>(
        std::count_if(open_.begin(), open_.end(), [](const auto &o) { return !o->draining; }));
    if (!place) {
        refuse(*c, k_too_many_answer);
    } else if (reading >= limits_.max_reading) {
        c->place = std::move(*place);
        refuse(*c, k_busy_answer);
    } else {
        c->place = std::move(*place);
    }
    if (c->fd.valid()) {
        open_.push_back(std::move(c));
    }
}

void intake::read_from(connection &c) {
    std::array<char, k_read_chunk> chunk{};
    const size_t room = c.draining ? chunk.size() : std::min(chunk.size(), limits_.max_head_bytes - c.head.size());
    const ssize_t got = ::recv(c.fd.get(), chunk.data(), room, MSG_DONTWAIT);
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            c.fd.reset();
        }
        return;
    }
    if (c.draining || (got == 0 && c.head.empty())) {
        if (got == 0) {
            c.fd.reset(); /* the client closed: after a refusal, or without sending anything */
        }
        return;
    }
    c.head.append(chunk.data(), static_cast<size_t>(got));
    /* Complete, as much as is read, or the client stopped sending: the workers' turn. */
    if (got == 0 || head_complete(c.head) || c.head.size() >= limits_.max_head_bytes) {
        finish_head(c);
    }
}

void intake::finish_head(connection &c) {
    set_blocking(c.fd.get(), true);
    request r{std::move(c.fd), std::move(c.head), std::move(c.place), c.peer};
    if (push(r)) {
        return;
    }
    c.fd = std::move(r.conn);
    c.place = std::move(r.place);
    set_blocking(c.fd.get(), false);
    if (on_queue_full_) {
        on_queue_full_(c.fd.get());
    }
    refuse(c, k_busy_answer);
}

bool intake::push(request &r) {
    {
        const std::lock_guard lock(queue_mutex_);
        const size_t next = (tail_ + 1) % slots_.size();
        if (next == head_ || stopping_) {
            return false;
        }
        slots_[tail_].emplace(std::move(r));
        tail_ = next;
    }
    queue_ready_.notify_one();
    return true;
}

void intake::refuse(connection &c, std::string_view answer) {
    ::send(c.fd.get(), answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(c.fd.get(), SHUT_WR);
    const size_t draining = static_cast<size_t>(
        std::count_if(open_.begin(), open_.end(), [](const auto &o) { return o->draining; }));
    if (draining >= limits_.max_reading) { /* at most as many as are read; more close at once */
        c.fd.reset();
        return;
    }
    c.draining = true;
    c.head.clear();
    c.deadline = clock_type::now() + k_refusal_drain;
}

void intake::expire(connection &c) {
    if (c.draining || c.head.empty()) {
        c.fd.reset(); /* drained long enough, or idle: closed without an answer */
        return;
    }
    refuse(c, k_head_timeout_answer);
}

std::optional<request> intake::pop(std::chrono::milliseconds wait) {
    std::unique_lock lock(queue_mutex_);
    if (!queue_ready_.wait_for(lock, wait, [this] { return head_ != tail_ || stopping_; }) || stopping_) {
        return std::nullopt;
    }
    std::optional<request> r = std::move(slots_[head_]);
    slots_[head_].reset();
    head_ = (head_ + 1) % slots_.size();
    return r;
}

void intake::stop() {
    {
        const std::lock_guard lock(queue_mutex_);
        stopping_ = true;
    }
    queue_ready_.notify_all();
}

size_t intake::queued() const {
    const std::lock_guard lock(queue_mutex_);
    return (tail_ + slots_.size() - head_) % slots_.size();
}

} // namespace http_intake
