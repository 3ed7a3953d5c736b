#pragma once

// Process exit statuses: how far the run got.
constexpr int status_complete = 0;
constexpr int status_device = 1;          // no library, no device, or interface not claimed
constexpr int status_report = 2;          // report file could not be opened or written
constexpr int status_sync = 3;            // the device never reached the type-0 stream
constexpr int status_device_stopped = 4;  // frames stopped arriving during the capture
constexpr int status_signal_base = 128;   // plus the number of the signal that stopped the run
