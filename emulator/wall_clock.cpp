#include "wall_clock.h"

#include <chrono>

namespace emulator {

namespace {
const auto g_start = std::chrono::steady_clock::now();
}

std::int64_t elapsed_ms() {
    const auto since = std::chrono::steady_clock::now() - g_start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

}  // namespace emulator
