/* Pieces shared by the manager library's inner units; not part of the public interface. */
#ifndef VEK_NMS_TYPES_INTERNAL_H
#define VEK_NMS_TYPES_INTERNAL_H

#include "base/platform.h"
#include "nms/vek_nms_sdk.h"

#ifdef __cplusplus

namespace vek::nms {

// Holds a platform mutex for the lifetime of the guard. A null handle is a no-op, as it is for the
// platform calls themselves.
class MutexGuard {
   public:
    explicit MutexGuard(platform_mutex_t mutex) noexcept : mutex_(mutex) { platform_mutex_lock(mutex_); }
    MutexGuard(const MutexGuard &) = delete;
    MutexGuard &operator=(const MutexGuard &) = delete;
    ~MutexGuard() { platform_mutex_unlock(mutex_); }

   private:
    platform_mutex_t mutex_;
};

}  // namespace vek::nms

#endif

#endif
