#pragma once

// The whole run: arguments, device start-up, synchronisation, capture,
// report, stop. Answers the process exit status.
int run_frame_stats(int argc, char** argv);
