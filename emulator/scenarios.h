#pragma once

// Named set-ups of emulated cameras: which devices are attached, what each
// one streams and how it misbehaves.

#include <cstdint>
#include <string>
#include <vector>

#include "camera_model.h"

namespace emulator {

struct device_setup {
    std::string name;  // sysfs name, e.g. "1-1"
    int bus = 1;
    int address = 2;
    std::uint16_t vendor = 0x833C;
    std::uint16_t product = 0x0100;
    bool refuses_open = false;  // the device node cannot be opened
    model_settings settings;
};

struct scenario {
    std::vector<device_setup> devices;  // in the order they are enumerated
};

// The default frame period of the sensor scenarios: 40 frames per second.
constexpr double default_frame_period_ms = 25.0;

// Builds the scenario `name`; false when there is no such scenario.
bool make_scenario(const std::string& name, double frame_period_ms, scenario& out);
const std::vector<std::string>& scenario_names();

}  // namespace emulator
