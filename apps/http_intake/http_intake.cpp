/* The front door of the HTTP programs (see http_intake.h). */
#include "apps/http_intake/http_intake.h"

#include <algorithm>
#include <array>
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

int millis(std::chrono::nanoseconds span) {
    return static_cast<int>(std::max<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(span).count(), 0));
}

} // namespace

// ---- descriptors ----

void unique_fd::reset(socket_t fd) {
    if (valid()) {
        app_os::close_socket(fd_);
    }
    fd_ = fd;
}

unique_fd open_listener(in_addr address, uint16_t port, int backlog) {
    app_os::net_start();
    unique_fd sock(app_os::tcp_socket());
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr = address;
    if (!sock.valid() || !app_os::set_blocking(sock.get(), false) || !app_os::reuse_listen_address(sock.get()) ||
        ::bind(sock.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(sock.get(), backlog) != 0) {
        const int saved = app_os::last_socket_error();
        sock.reset();
        app_os::set_last_socket_error(saved);
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

intake::intake(const limits &lim, std::function<void(socket_t)> on_queue_full)
    : limits_(lim), on_queue_full_(std::move(on_queue_full)), counter_(lim.max_per_address),
      slots_(lim.queue_slots) {}

intake::~intake() { stop(); }

void intake::run(socket_t listener, const std::atomic<bool> &running) {
    std::vector<app_os::poll_entry> polled;
    clock_type::time_point accept_paused_until{};
    while (running.load()) {
        const auto now = clock_type::now();
        auto wake = now + k_running_check;
        polled.clear();
        /* The listener comes last, and only while accepting, so that entry i is open_[i]. */
        const bool accepting = now >= accept_paused_until;
        for (const auto &c : open_) {
            polled.push_back({c->fd.get(), POLLIN, 0});
            wake = std::min(wake, c->deadline);
        }
        if (accepting) {
            polled.push_back({listener, POLLIN, 0});
        }
        if (app_os::poll(polled.data(), polled.size(), millis(wake - now)) < 0 &&
            !app_os::interrupted(app_os::last_socket_error())) {
            continue;
        }
        const size_t reading = open_.size();
        for (size_t i = 0; i < reading; ++i) {
            if (polled[i].revents != 0) {
                read_from(*open_[i]);
            }
        }
        if (accepting && polled[reading].revents != 0) {
            const int rc = accept_all(listener);
            if (app_os::out_of_descriptors(rc)) {
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

int intake::accept_all(socket_t listener) {
    for (;;) {
        sockaddr_in peer{};
        unique_fd fd(app_os::accept_nonblocking(listener, peer));
        if (!fd.valid()) {
            const int error = app_os::last_socket_error();
            return app_os::interrupted(error) ? 0 : error;
        }
        admit(std::move(fd), peer.sin_addr);
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
    const app_os::io_result got = app_os::recv_some(c.fd.get(), chunk.data(), room, false);
    if (got < 0) {
        const int error = app_os::last_socket_error();
        if (!app_os::would_block(error) && !app_os::interrupted(error)) {
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
    app_os::set_blocking(c.fd.get(), true);
    request r{std::move(c.fd), std::move(c.head), std::move(c.place), c.peer};
    if (push(r)) {
        return;
    }
    c.fd = std::move(r.conn);
    c.place = std::move(r.place);
    app_os::set_blocking(c.fd.get(), false);
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
    app_os::send_some(c.fd.get(), answer.data(), answer.size(), false);
    app_os::shutdown_send(c.fd.get());
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
