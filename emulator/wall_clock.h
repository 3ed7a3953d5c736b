#pragma once

#include <cstdint>

namespace emulator {

// Milliseconds since the emulator started, on the monotonic clock: the time
// base of the device models and of the event log.
std::int64_t elapsed_ms();

}  // namespace emulator
