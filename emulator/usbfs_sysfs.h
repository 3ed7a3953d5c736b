#pragma once

// How an emulated camera appears in sysfs and /dev: its binary USB
// descriptors and the device record that the testbed turns into sysfs
// attributes, udev properties and a device node.

#include <cstdint>
#include <string>
#include <vector>

#include "scenarios.h"

namespace emulator {

// Device descriptor followed by configurations 1 and 2, each with interface 0
// and bulk endpoints 0x81 IN, 0x82 IN and 0x03 OUT, as the sysfs
// `descriptors` attribute holds them.
std::vector<std::uint8_t> usb_descriptors(std::uint16_t vendor, std::uint16_t product);

// "/dev/bus/usb/BBB/DDD"
std::string device_node(const device_setup& device);

// The device's directory under /sys.
std::string sysfs_path(const device_setup& device);

// The device in umockdev's record format.
std::string device_record(const device_setup& device);

}  // namespace emulator
