#pragma once

#include <cstdio>

// Frames accepted during the capture, by type. Frames read while
// synchronising are not counted.
struct run_counters {
    int frames_read = 0;
    int type0_frames = 0;
    int other_frames = 0;
};

// Without an accepted frame for this long the device is taken to have
// stopped sending (stalled or unplugged) and the capture ends early.
constexpr long long stall_limit_ms = 5000;

enum class capture_end { complete, device_stopped, interrupted };

// Reads frames into `payload` until `requested` frames (of any type) have been
// accepted, analysing every type-0 frame and writing its line to `report`.
// Ends early when the device stops sending or a stop signal arrives.
capture_end capture_frames(int requested, unsigned char* payload, std::FILE* report,
                           run_counters& counters);
