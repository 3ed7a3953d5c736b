#pragma once

#include <cstdint>

#include "analysis/capture.h"

// One progress line on standard error while a capture runs, shown only when
// standard error is a terminal, redrawn at most a few times a second and
// erased at the end. Scripts never see it.
void progress_start(int requested);
void progress_update(const run_counters& counters);
void progress_finish();

// The line's text, e.g. "frames 120/200  type0 118  30.0 fps  0:03 left".
// Answers its length (at most size - 1).
int format_progress(char* out, int size, const run_counters& counters, int requested,
                    std::int64_t elapsed_ms);
