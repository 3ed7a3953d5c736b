#pragma once

// Frames for scripted runs, and an independent model of the report such a run
// must write: plain double loops in the documented order of operations,
// printed with the C library's snprintf. It shares no code with the tool.

#include <cstdint>
#include <string>
#include <vector>

#include "camera_model.h"

struct frame_spec {
    std::uint8_t type = 0;
    std::vector<std::uint16_t> pixels;              // 19,200 values
    int payload_length = emulator::payload_length;  // bytes the payload transfer carries
};

// Every pixel of the frame the device sends to end the synchronisation.
constexpr std::uint16_t sync_pixel_value = 4321;

// A synchronisation frame (type 0, every pixel sync_pixel_value), then the
// frames, each with a sequence value of its own.
std::vector<emulator::in_item> frame_script(const std::vector<frame_spec>& frames);

// The report of a run that captured `captured` after that synchronisation
// frame: per-frame lines, profiles and deviations.
std::string expected_report(const std::vector<frame_spec>& captured);

// One per-frame line; `previous` is null for the first type-0 frame.
std::string expected_frame_line(int index, const std::vector<std::uint16_t>& pixels,
                                const std::vector<std::uint16_t>* previous);

// Pixel sets.
std::vector<std::uint16_t> alternating_pixels(std::uint16_t even, std::uint16_t odd);
std::vector<std::uint16_t> random_pixels(unsigned seed, std::uint16_t low, std::uint16_t high);

std::vector<std::string> split_lines(const std::string& text);

// Empty when the texts are equal; otherwise where they first differ, line by
// line (whole reports are too long to print).
std::string first_difference(const std::string& actual, const std::string& expected);
