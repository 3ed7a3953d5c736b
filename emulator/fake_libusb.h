#pragma once

// Control of the link-time libusb stand-in. A test program links
// fake_libusb.cpp instead of libusb-1.0 and the host clock: every libusb call
// the tool makes is answered here from camera models, on a virtual clock that
// the tool's sleeps and transfer time-outs advance instantly.

#include <cstdint>
#include <string>
#include <vector>

#include "camera_model.h"

namespace fake_usb {

struct device_entry {
    std::uint16_t vendor = 0x833C;
    std::uint16_t product = 0x0100;
    bool opens = true;              // libusb_open succeeds
    int open_error = -3;            // what it answers otherwise (LIBUSB_ERROR_ACCESS)
    bool descriptor_fails = false;  // libusb_get_device_descriptor fails
    emulator::model_settings settings;
};

// One libusb call (or sleep) as the tool made it.
struct call {
    std::int64_t at_ms = 0;  // virtual time when the call began
    std::string function;    // libusb name without the prefix, or "sleep"
    int device = -1;         // index of the device in list order, when it concerns one
    int endpoint = 0;
    int length = 0;                   // bytes requested (transfers), milliseconds (sleep)
    unsigned timeout = 0;             // transfer time-out
    int value = 0;                    // configuration, interface, enable flag
    int result = 0;                   // what the call answered
    int transferred = 0;              // bytes moved (transfers)
    std::vector<std::uint8_t> bytes;  // what an OUT transfer carried
};

// Forgets every device and call and sets the clock to 0.
void reset();
// libusb_init answers this (0: success).
void set_init_result(int result);
// libusb_get_device_list answers this negative error instead of the list.
void set_device_list_error(int error);
// Adds a device at the end of the library's list; answers its index.
int add_device(const device_entry& entry);
emulator::camera_model& model(int device);

const std::vector<call>& calls();
// Whether calls are recorded (on after reset; benchmarks turn it off).
void set_recording(bool on);
std::int64_t now_ms();

// Raises `signal` in the tool's process while its n-th bulk transfer (counted
// from 1) is in flight, as a Ctrl-C at that moment would.
void raise_during_transfer(int n, int signal);

// Number of open handles and contexts not yet released.
int open_handles();
int live_contexts();

}  // namespace fake_usb
