#pragma once

// Lets a host that polls the device node sleep until the device has news.
//
// usbfs announces a reapable URB by making its node writable (POLLOUT). A
// testbed node is a regular file, always writable, so libusb would spin on
// REAPURBNDELAY while it waits. The gate replaces the node with a FIFO whose
// other end the emulator holds and keeps full (not writable); draining it
// makes the host's poll() return.

#include <string>

namespace emulator {

class poll_gate {
  public:
    poll_gate() = default;
    poll_gate(const poll_gate&) = delete;
    poll_gate& operator=(const poll_gate&) = delete;
    ~poll_gate();

    // Replaces the file at `path` by a full FIFO with the same mode.
    bool install(const std::string& path);
    // ready: the host's poll() reports POLLOUT; otherwise it blocks.
    void set_ready(bool ready);

  private:
    int fd_ = -1;
    bool ready_ = true;
};

}  // namespace emulator
