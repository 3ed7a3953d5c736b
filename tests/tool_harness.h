#pragma once

// Runs the tool in-process against the libusb stand-in. Each test runs in a
// process of its own (CTest starts one per test), so the process-wide state of
// the tool (the open handle, the last frame sequence) starts fresh.

#include <cstdint>
#include <string>
#include <vector>

#include "camera_model.h"
#include "fake_libusb.h"

struct tool_run {
    int status = -1;
    std::string out;  // everything printed on standard output
};

tool_run run_tool(const std::vector<std::string>& args);

// A camera that streams the scripted transfers from the first read after the
// start-up sequence.
emulator::model_settings scripted(std::vector<emulator::in_item> script);

// A frame whose every pixel is `value`.
std::vector<std::uint16_t> flat_pixels(std::uint16_t value);

// Calls of one libusb function (and, for transfers, one endpoint).
std::vector<fake_usb::call> calls_of(const std::string& function, int endpoint = -1);

// A fresh temporary directory for the test's files.
std::string temp_dir();
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
