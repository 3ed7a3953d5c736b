#pragma once

#include <cstdint>

#include "analysis/frame_geometry.h"

struct frame_stats {
    std::uint32_t min;
    std::uint32_t max;
    std::int32_t sum;
    std::uint64_t change_total;  // sum of |pixel - previous pixel|
    std::int32_t compared;       // pixels that entered change_total
};

// Clears the per-pixel sums before a capture.
void reset_accumulator();

// Decodes one type-0 payload and, in a single pass over its pixels, adds them
// to the per-pixel sums, measures them, compares them with the previous type-0
// frame (when `has_previous`) and keeps them as the new previous frame.
frame_stats analyse_frame(const unsigned char* payload, bool has_previous);

// Per-pixel sums over every frame analysed since the reset, in pixel order.
// Sums of 16-bit samples are whole numbers far below 2^53, so each converts to
// exactly the double a running double sum would hold.
const std::uint64_t* pixel_sums();
