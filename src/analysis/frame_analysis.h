#pragma once

#include <cstdint>

#include "analysis/frame_geometry.h"

// Per-pixel sums over every type-0 frame of the capture. Sums of 16-bit
// samples are whole numbers far below 2^53, so this integer total converts to
// exactly the double a running double sum would hold.
extern std::uint64_t g_accumulator[pixel_count];

struct frame_stats {
    std::uint32_t min;
    std::uint32_t max;
    std::int32_t sum;
    std::uint64_t change_total;  // sum of |pixel - previous pixel|
    std::int32_t compared;       // pixels that entered change_total
};

// Clears the accumulator before a capture.
void reset_accumulator();

// Decodes one type-0 payload and, in a single pass over its pixels, adds them
// to the accumulator, measures them, compares them with the previous type-0
// frame (when `has_previous`) and keeps them as the new previous frame.
frame_stats analyse_frame(const unsigned char* payload, bool has_previous);
