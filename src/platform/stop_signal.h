#pragma once

// Ctrl-C and SIGTERM ask the run to stop cleanly: the handler only records the
// signal (and restores the default action, so a second one ends the process at
// once); the loops look at stop_requested() between transfers.
void install_stop_signals();

// The signal that asked the run to stop, or 0.
int stop_requested();
