// Random bytes for both variants of the platform layer on Linux: getrandom, or
// "/dev/urandom" where the kernel has no getrandom. Every requested byte is filled, or the call
// fails: a short read is never taken for random data.
#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdint>

#include "base/platform_internal.h"

namespace {

constexpr const char *kRandomDevice = "/dev/urandom";

// Calls read-like `step` until len bytes are in, retrying interruptions; false on any other
// failure or when the source runs dry.
template <typename Step>
bool fill_all(uint8_t *buf, uint32_t len, Step step) {
    uint32_t done = 0;
    while (done < len) {
        const ssize_t got = step(buf + done, len - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<uint32_t>(got);
    }
    return true;
}

}  // namespace

namespace vek::platform_internal {

bool fill_from_device(const char *path, uint8_t *buf, uint32_t len) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool filled = fill_all(buf, len, [fd](uint8_t *at, uint32_t left) { return read(fd, at, left); });
    close(fd);
    return filled;
}

bool fill_from_os(uint8_t *buf, uint32_t len) {
    bool no_getrandom = false;
    const bool filled = fill_all(buf, len, [&no_getrandom](uint8_t *at, uint32_t left) {
        const ssize_t got = getrandom(at, left, 0);
        no_getrandom = got < 0 && errno == ENOSYS;
        return got;
    });
    return filled || (no_getrandom && fill_from_device(kRandomDevice, buf, len));
}

}  // namespace vek::platform_internal
