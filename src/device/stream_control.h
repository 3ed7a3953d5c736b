#pragma once

// The fixed command sequence that starts the device's frame stream, with its
// waits (at least 1.1 s in all). Answers false if a stop signal cut it short
// (no further command is sent once one has arrived).
bool run_startup_sequence();

// Clears the halts on the command and reply endpoints, then sends the stop
// command. Only a run that reached the capture sends it.
void run_stop_sequence();
