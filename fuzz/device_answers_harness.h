#pragma once

// Plays arbitrary device answers through the whole tool: one input becomes a
// frame count, a few behaviours of the command channel and a script of
// transfers on the frame endpoint, served by the link-time libusb stand-in on
// its virtual clock. The run's exit status, console output and report are then
// checked against what must hold for any device behaviour.
//
// Input layout (bytes read in order; a missing byte reads as 0):
//   byte 0   frame count: value % 21 (0 to 20)
//   byte 1   device flags, bit 0: commands rejected, 1: replies silent,
//            2: streams without start-up, 3: script loops, 4: unplugged
//            instead of silent after the script, 5: configuration fails
//   then up to max_items transfers, each led by one byte:
//            bits 0-1 kind: 0 header, 1 payload, 2 raw bytes, 3 whole frame
//            bits 2-4 end: 0-4 ok, 5 I/O error, 6 time-out, 7 device gone
//            bits 5-7 variant: which length (see the .cpp)
//   followed by the kind's own bytes.

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int max_items = 64;

struct answers_run {
    int status = -1;        // the tool's exit status
    std::string output;     // what it printed on standard output
    std::string violation;  // empty when every check held, else what failed
};

// Runs the tool once on `data` and checks the outcome. Usable any number of
// times in one process: each input runs as in a fresh process.
answers_run play_device_answers(const std::uint8_t* data, std::size_t size);
