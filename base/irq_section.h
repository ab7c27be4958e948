// Scope guard for the platform's interrupt bracket (platform_irq_save / platform_irq_restore): the
// state saved on entry is restored when the scope ends, whichever way it ends.
#ifndef VEK_BASE_IRQ_SECTION_H
#define VEK_BASE_IRQ_SECTION_H

#include <cstdint>

#include "base/platform.h"

namespace vek {

class IrqSection {
   public:
    IrqSection() noexcept : state_(platform_irq_save()) {}
    IrqSection(const IrqSection &) = delete;
    IrqSection &operator=(const IrqSection &) = delete;
    ~IrqSection() { platform_irq_restore(state_); }

   private:
    uint32_t state_;
};

}  // namespace vek

#endif
