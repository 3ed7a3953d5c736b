#pragma once

// One emulated camera behind its usbfs device node. umockdev forwards every
// ioctl that the host makes on the node (libusb's SUBMITURB, REAPURBNDELAY,
// DISCARDURB, CLEAR_HALT, SETCONFIGURATION, CLAIMINTERFACE, ...) to this
// object, which answers it from the camera model, the same model that the
// link-time libusb stand-in serves, here on the real clock.
//
// Everything runs on umockdev's ioctl worker thread: each request is
// completed exactly once and nothing blocks. IN transfers stay in flight
// until the model has their data; the data is written into the host's
// buffer then and handed over when the host reaps the URB. A transfer the
// host gives up on (libusb's own time-out discards the URB) ends as
// cancelled, with whatever the model had delivered before.

#include <umockdev.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "camera_model.h"
#include "device_log.h"
#include "scenarios.h"
#include "usbfs_poll_gate.h"

namespace emulator {

class usbfs_device {
  public:
    usbfs_device(const device_setup& setup, device_log& log);
    usbfs_device(const usbfs_device&) = delete;
    usbfs_device& operator=(const usbfs_device&) = delete;
    ~usbfs_device();

    // Adds the device to the testbed with its ioctl handler and puts the
    // poll gate in place of its node. `root` is the testbed's root directory.
    bool attach(UMockdevTestbed* testbed, const std::string& root, std::string& error);
    // Detaches the handler; no callback runs after this returns.
    void detach();

    const device_setup& setup() const { return setup_; }
    std::string node_path() const { return root_ + node_; }

  private:
    struct urb {
        UMockdevIoctlClient* client = nullptr;  // identifies the host's open file
        std::uint64_t address = 0;              // of the URB in the host's memory
        UMockdevIoctlData* data = nullptr;      // the URB, resolved
        UMockdevIoctlData* buffer = nullptr;    // its buffer, resolved
        int endpoint = 0;
        int length = 0;
        bool done = false;
        int status = 0;  // the URB's status when reaped (0 or a negative errno)
        int actual = 0;
    };

    static gboolean on_ioctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    static void on_connected(UMockdevIoctlBase* base, UMockdevIoctlClient* client, gpointer self);
    static gboolean on_timer(gpointer self);

    void handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now);
    void set_configuration(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now);
    void claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now);
    void release(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now);
    void clear_halt(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now);

    // Completes the IN transfers whose data the model now has, then lets the
    // host's poll() through if any URB can be reaped and sets the timer for
    // the next transfer the model has promised.
    void advance(std::int64_t now);
    void arm_timer(std::int64_t at_ms);
    void cancel_timer();
    void release_urb(urb& u);
    void log(std::int64_t now, const std::string& event);

    device_setup setup_;
    camera_model model_;
    device_log& log_;
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    std::string root_;
    std::string node_;
    std::string sysfs_path_;
    poll_gate gate_;
    std::vector<urb> urbs_;  // submitted and not yet reaped, in submission order
    GMainContext* context_ = nullptr;
    GSource* timer_ = nullptr;
    std::int64_t timer_at_ = -1;
    std::mutex mutex_;
    bool attached_ = false;
};

}  // namespace emulator
