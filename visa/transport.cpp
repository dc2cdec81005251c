#include "visa/transport.h"

namespace quarvel::visa {

Deadline DeadlineAfter(ViUInt32 timeoutMs) {
    if (timeoutMs == VI_TMO_INFINITE)
        return Deadline::max();
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

} // namespace quarvel::visa
