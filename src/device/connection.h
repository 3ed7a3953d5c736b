#pragma once

#include <libusb.h>

// The run's private USB library context and the one open device handle.
extern libusb_context* g_ctx;
extern libusb_device_handle* g_h;

// no_access: no device opened, and at least one with the vendor ID refused
// for lack of access rights.
enum class open_result { ready, no_library, no_device, no_access, not_claimed };

// Finds the first device with the vendor ID that opens, selects configuration
// 2 then 1 and claims interface 0.
open_result open_connection();

// Closes the handle (if one was opened) and the library context (if one was
// created). Sends nothing to the device.
void close_connection();
