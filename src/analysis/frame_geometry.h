#pragma once

// Frame layout: 160 columns by 120 rows of 16-bit samples, row-major, stored
// little-endian in the payload after a 28-byte lead.
constexpr int frame_width = 160;
constexpr int frame_height = 120;
constexpr int pixel_count = frame_width * frame_height;
constexpr int pixel_data_offset = 28;
