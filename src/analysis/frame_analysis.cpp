#include "analysis/frame_analysis.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace {
// Each frame is added into 32-bit sums, which the compiler vectorises twice as
// wide as 64-bit ones. They hold 65,536 frames of the largest sample
// (65,536 x 65,535 < 2^32) and are folded into the 64-bit sums before they
// could overflow and whenever the sums are read.
constexpr int frames_per_fold = 65536;
std::uint32_t g_recent_sums[pixel_count];
int g_recent_frames = 0;
std::uint64_t g_sums[pixel_count];

std::uint16_t g_previous[pixel_count];

void fold_recent_sums() {
    for (int i = 0; i < pixel_count; ++i) {
        g_sums[i] += g_recent_sums[i];
        g_recent_sums[i] = 0;
    }
    g_recent_frames = 0;
}

// The little-endian sample at p. On a little-endian host it is one 16-bit
// load, which the compiler vectorises; the byte-wise form defeats that.
std::uint16_t sample_at(const unsigned char* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
}
}  // namespace

void reset_accumulator() {
    std::memset(g_sums, 0, sizeof g_sums);
    std::memset(g_recent_sums, 0, sizeof g_recent_sums);
    g_recent_frames = 0;
}

const std::uint64_t* pixel_sums() {
    fold_recent_sums();
    return g_sums;
}

// The payload never overlaps the analysis state; `__restrict` says so, which
// lets the compiler vectorise the loop without run-time overlap checks.
frame_stats analyse_frame(const unsigned char* __restrict payload, bool has_previous) {
    if (g_recent_frames == frames_per_fold) fold_recent_sums();
    ++g_recent_frames;

    const unsigned char* pixels = payload + pixel_data_offset;
    // x86-64's baseline vector instructions compare 16-bit values as signed
    // only. Flipping the top bit maps unsigned order onto signed order, so the
    // extremes are taken over flipped samples and flipped back afterwards.
    std::int16_t lowest = INT16_MAX;
    std::int16_t highest = INT16_MIN;
    std::uint32_t sum = 0;     // at most 19,200 x 65,535: fits
    std::uint32_t change = 0;  // likewise
    // Branch-free so the compiler vectorises it. The change is computed even
    // for the first frame (against a zeroed or stale previous frame) and then
    // simply not used.
    for (int i = 0; i < pixel_count; ++i) {
        const std::uint16_t v = sample_at(pixels + 2 * static_cast<std::ptrdiff_t>(i));
        g_recent_sums[i] += v;
        sum += v;
        const auto flipped = static_cast<std::int16_t>(v ^ 0x8000);
        lowest = std::min(lowest, flipped);
        highest = std::max(highest, flipped);
        const std::uint16_t p = g_previous[i];
        change += static_cast<std::uint16_t>(v < p ? p - v : v - p);
        g_previous[i] = v;
    }
    frame_stats stats{};
    stats.min = static_cast<std::uint16_t>(lowest) ^ 0x8000u;
    stats.max = static_cast<std::uint16_t>(highest) ^ 0x8000u;
    stats.sum = static_cast<std::int32_t>(sum);
    stats.change_total = has_previous ? change : 0;
    stats.compared = has_previous ? pixel_count : 0;
    return stats;
}
