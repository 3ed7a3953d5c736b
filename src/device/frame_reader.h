#pragma once

#include <cstdint>

constexpr int payload_buffer_size = 40000;
constexpr int header_buffer_size = 64;
constexpr int min_header_size = 28;
constexpr int min_payload_size = 38400;
constexpr std::uint32_t frame_magic = 0x1BB1B11B;

// Tries to receive one new frame: a header, checked for the magic and for a
// sequence value other than the last accepted one, then the payload straight
// into `buffer` (payload_buffer_size bytes). Answers 1 and sets `type` to the
// header's type byte when a complete new frame arrived, 0 otherwise (`type`
// untouched; the buffer may hold part of a rejected payload).
int read_frame(unsigned char* buffer, int& type);
