#include "analysis/frame_analysis.h"

#include <algorithm>
#include <cstring>

std::uint64_t g_accumulator[pixel_count];

namespace {
std::uint16_t g_previous[pixel_count];
}

void reset_accumulator() {
    std::memset(g_accumulator, 0, sizeof g_accumulator);
}

frame_stats analyse_frame(const unsigned char* payload, bool has_previous) {
    const unsigned char* pixels = payload + pixel_data_offset;
    std::uint32_t min = 65535;
    std::uint32_t max = 0;
    std::uint32_t sum = 0;     // at most 19,200 x 65,535: fits
    std::uint32_t change = 0;  // likewise
    // Branch-free so the compiler vectorises it. The change is computed even
    // for the first frame (against a zeroed or stale previous frame) and then
    // simply not used.
    for (int i = 0; i < pixel_count; ++i) {
        const std::uint32_t v = pixels[2 * i] | static_cast<std::uint32_t>(pixels[2 * i + 1]) << 8;
        g_accumulator[i] += v;
        min = std::min(min, v);
        max = std::max(max, v);
        sum += v;
        const std::uint32_t p = g_previous[i];
        change += v > p ? v - p : p - v;
        g_previous[i] = static_cast<std::uint16_t>(v);
    }
    frame_stats stats{};
    stats.min = min;
    stats.max = max;
    stats.sum = static_cast<std::int32_t>(sum);
    stats.change_total = has_previous ? change : 0;
    stats.compared = has_previous ? pixel_count : 0;
    return stats;
}
