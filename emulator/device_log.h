#pragma once

// What the emulated devices saw, one event per line, for tests to read:
//
//   <ms> <device> <event> [<field>...]
//
// <ms> is the time in milliseconds since the emulator started, <device> the
// sysfs name of the device (e.g. 1-1) or "host" for the command itself. Endpoints are two hex
// digits, packet bytes one run of hex digits. Events:
//
//   open                                  the host opens the device node (also
//                                         logged when the open is then refused)
//   set_configuration <value> <result>    result: ok, busy, invalid, no_device
//   claim <interface> <result>            result: ok, failed, no_device
//   release <interface> <result>
//   clear_halt <endpoint> <result>        result: ok, no_device
//   command <endpoint> <bytes> <result>   an OUT transfer; result: ok, stall, no_device
//   in <endpoint> <requested> <delivered> <result>
//                                         an IN transfer as it ended; result: ok,
//                                         timeout (the host gave up), error, stall,
//                                         no_device
//   ioctl <request> unsupported           a request the emulation does not serve
//
// The last line is "<ms> host exit <status>": the command ended with that
// status (umockdev does not report when the host closes the node, so the
// end of the command stands for it).

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace emulator {

class device_log {
  public:
    void add(std::int64_t at_ms, const std::string& device, const std::string& event);
    // Writes every line; false when the file cannot be written.
    bool write(const std::string& path) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace emulator
