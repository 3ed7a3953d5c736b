#include "usbfs_device.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "usbfs_sysfs.h"
#include "wall_clock.h"

namespace emulator {

namespace {

// Scatter-gather lets libusb send each transfer as one URB of any size, so a
// URB is always a whole transfer.
constexpr std::uint32_t capabilities = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                       USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                       USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

std::string hex2(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value & 0xFF);
    return text;
}

std::string hex_bytes(const std::uint8_t* bytes, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) out += hex2(bytes[i]);
    return out;
}

const char* status_word(int urb_status) {
    switch (urb_status) {
        case 0:
            return "ok";
        case -ENOENT:
            return "timeout";
        case -EPIPE:
            return "stall";
        case -ENODEV:
            return "no_device";
        default:
            return "error";
    }
}

int urb_status(usb_status status) {
    switch (status) {
        case usb_status::ok:
            return 0;
        case usb_status::stall:
            return -EPIPE;
        case usb_status::no_device:
            return -ENODEV;
        case usb_status::pending:
        case usb_status::timeout:
        case usb_status::error:
            break;
    }
    return -EPROTO;  // a transmission error on the bus
}

// The value of the pointer-sized ioctl argument itself.
std::uint64_t argument_value(UMockdevIoctlData* arg) {
    std::uint64_t value = 0;
    std::memcpy(&value, arg->data, std::min<std::size_t>(sizeof value, arg->data_len));
    return value;
}

// Resolves the argument as a pointer to `size` bytes; null (and the client
// completed with EFAULT) when the memory cannot be read.
UMockdevIoctlData* resolve_argument(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                                    std::size_t size) {
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    if (data == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
    }
    return data;
}

// Reads the 4-byte value (an int or unsigned int) the argument points to;
// false (and the client completed with EFAULT) when it cannot be read.
template <typename T>
bool read_argument(UMockdevIoctlClient* client, UMockdevIoctlData* arg, T& value) {
    static_assert(sizeof(T) == 4);
    UMockdevIoctlData* data = resolve_argument(client, arg, sizeof value);
    if (data == nullptr) return false;
    std::memcpy(&value, data->data, sizeof value);
    g_object_unref(data);
    return true;
}

}  // namespace

usbfs_device::usbfs_device(const device_setup& setup, device_log& log)
    : setup_(setup), model_(setup.settings), log_(log) {}

usbfs_device::~usbfs_device() {
    detach();
    std::lock_guard<std::mutex> lock(mutex_);
    cancel_timer();
    for (urb& u : urbs_) release_urb(u);
    urbs_.clear();
    if (handler_ != nullptr) g_object_unref(handler_);
    if (context_ != nullptr) g_main_context_unref(context_);
}

bool usbfs_device::attach(UMockdevTestbed* testbed, const std::string& root, std::string& error) {
    testbed_ = testbed;
    root_ = root;
    node_ = device_node(setup_);
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_ioctl), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(on_connected), this);

    // The handler must be in place before the device appears.
    GError* gerror = nullptr;
    attached_ = umockdev_testbed_attach_ioctl(testbed, node_.c_str(), handler_, &gerror);
    if (!attached_ ||
        !umockdev_testbed_add_from_string(testbed, device_record(setup_).c_str(), &gerror)) {
        error = gerror != nullptr ? gerror->message : "cannot add the device";
        g_clear_error(&gerror);
        return false;
    }
    sysfs_path_ = sysfs_path(setup_);
    if (!gate_.install(node_path())) {
        error = "cannot put a FIFO at " + node_path();
        return false;
    }
    return true;
}

void usbfs_device::detach() {
    if (!attached_) return;
    attached_ = false;
    umockdev_testbed_detach_ioctl(testbed_, node_.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(handler_, this);
}

void usbfs_device::log(std::int64_t now, const std::string& event) {
    log_.add(now, setup_.name, event);
}

gboolean usbfs_device::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* device = static_cast<usbfs_device*>(self);
    std::lock_guard<std::mutex> lock(device->mutex_);
    device->handle(client);
    return TRUE;
}

void usbfs_device::on_connected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
    auto* device = static_cast<usbfs_device*>(self);
    std::lock_guard<std::mutex> lock(device->mutex_);
    // Timers go to the worker thread's context, next to the requests.
    if (device->context_ == nullptr) device->context_ = g_main_context_ref_thread_default();
    device->log(elapsed_ms(), "open");
}

gboolean usbfs_device::on_timer(gpointer self) {
    auto* device = static_cast<usbfs_device*>(self);
    std::lock_guard<std::mutex> lock(device->mutex_);
    g_source_unref(device->timer_);
    device->timer_ = nullptr;
    device->timer_at_ = -1;
    device->advance(elapsed_ms());
    return G_SOURCE_REMOVE;
}

void usbfs_device::handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::int64_t now = elapsed_ms();
    switch (request) {
        case USBDEVFS_SUBMITURB:
            submit(client, arg, now);
            break;
        case USBDEVFS_REAPURB:  // never blocks here: libusb only reaps what poll() announced
        case USBDEVFS_REAPURBNDELAY:
            advance(now);
            reap(client, arg);
            break;
        case USBDEVFS_DISCARDURB:
            discard(client, arg, now);
            break;
        case USBDEVFS_GET_CAPABILITIES:
            if (UMockdevIoctlData* caps = resolve_argument(client, arg, sizeof(std::uint32_t))) {
                std::memcpy(caps->data, &capabilities, sizeof capabilities);
                umockdev_ioctl_client_complete(client, 0, 0);
                g_object_unref(caps);
            }
            break;
        case USBDEVFS_SETCONFIGURATION:
            set_configuration(client, arg, now);
            break;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:  // interface number first, no kernel driver to detach
            claim(client, arg, now);
            break;
        case USBDEVFS_RELEASEINTERFACE:
            release(client, arg, now);
            break;
        case USBDEVFS_CLEAR_HALT:
            clear_halt(client, arg, now);
            break;
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
            break;
        default: {
            // Answered as the kernel answers a request it does not know.
            char text[32];
            std::snprintf(text, sizeof text, "ioctl %lx unsupported", request);
            log(now, text);
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            break;
        }
    }
}

void usbfs_device::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now) {
    urb u;
    u.client = client;
    u.address = argument_value(arg);
    u.data = resolve_argument(client, arg, sizeof(usbdevfs_urb));
    if (u.data == nullptr) return;
    const auto* request = reinterpret_cast<const usbdevfs_urb*>(u.data->data);
    u.endpoint = request->endpoint;
    u.length = request->buffer_length;
    const bool in = (u.endpoint & 0x80) != 0;
    if (request->type != USBDEVFS_URB_TYPE_BULK || u.length < 0) {
        g_object_unref(u.data);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    if (u.length > 0) {
        GError* error = nullptr;
        u.buffer = umockdev_ioctl_data_resolve(u.data, offsetof(usbdevfs_urb, buffer),
                                               static_cast<std::size_t>(u.length), &error);
        if (u.buffer == nullptr) {
            g_clear_error(&error);
            g_object_unref(u.data);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
    }
    std::uint8_t* bytes = u.buffer != nullptr ? u.buffer->data : nullptr;

    if (model_.unplugged()) {
        // A device that is gone takes no URBs.
        if (in) {
            log(now, "in " + hex2(u.endpoint) + " " + std::to_string(u.length) + " 0 no_device");
        } else {
            log(now,
                "command " + hex2(u.endpoint) + " " + hex_bytes(bytes, u.length) + " no_device");
        }
        release_urb(u);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    if (!in) {
        // OUT data is taken at once; the URB completes with the model's answer.
        const usb_status status = model_.bulk_out(u.endpoint, bytes, u.length, now);
        u.done = true;
        u.status = urb_status(status);
        u.actual = status == usb_status::ok ? u.length : 0;
        log(now, "command " + hex2(u.endpoint) + " " + hex_bytes(bytes, u.length) + " " +
                     (status == usb_status::no_device ? "no_device" : status_word(u.status)));
    }
    urbs_.push_back(u);
    umockdev_ioctl_client_complete(client, 0, 0);
    advance(now);
}

void usbfs_device::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    auto it = std::find_if(urbs_.begin(), urbs_.end(),
                           [client](const urb& u) { return u.client == client && u.done; });
    if (it == urbs_.end()) {
        umockdev_ioctl_client_complete(client, -1, model_.unplugged() ? ENODEV : EAGAIN);
        return;
    }
    auto* reaped = reinterpret_cast<usbdevfs_urb*>(it->data->data);
    reaped->status = it->status;
    reaped->actual_length = it->actual;
    // The argument points to the host's URB pointer: set it to the URB, whose
    // memory (and buffer) then goes back to the host.
    UMockdevIoctlData* pointer = resolve_argument(client, arg, sizeof(void*));
    if (pointer == nullptr) return;
    umockdev_ioctl_data_set_ptr(pointer, 0, it->data);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    release_urb(*it);
    urbs_.erase(it);
    advance(elapsed_ms());
}

void usbfs_device::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now) {
    const std::uint64_t address = argument_value(arg);
    auto it = std::find_if(urbs_.begin(), urbs_.end(), [&](const urb& u) {
        return u.client == client && u.address == address && !u.done;
    });
    if (it == urbs_.end()) {
        // Already complete (or unknown): the host reaps it as it is.
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    std::uint8_t* bytes = it->buffer != nullptr ? it->buffer->data : nullptr;
    it->actual = model_.in_cancelled(it->endpoint, bytes, it->length, now);
    it->status = -ENOENT;
    it->done = true;
    log(now, "in " + hex2(it->endpoint) + " " + std::to_string(it->length) + " " +
                 std::to_string(it->actual) + " timeout");
    umockdev_ioctl_client_complete(client, 0, 0);
    advance(now);
}

void usbfs_device::set_configuration(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                                     std::int64_t now) {
    int value = 0;
    if (!read_argument(client, arg, value)) return;
    const bool was_claimed = model_.claimed();
    const usb_status status = model_.set_configuration(value, now);
    const char* result = "ok";
    int error = 0;
    if (status == usb_status::no_device) {
        result = "no_device";
        error = ENODEV;
    } else if (status != usb_status::ok) {
        // As the kernel: busy while an interface is claimed, else no such value.
        result = was_claimed ? "busy" : "invalid";
        error = was_claimed ? EBUSY : EINVAL;
    } else {
        umockdev_testbed_set_attribute_int(testbed_, sysfs_path_.c_str(), "bConfigurationValue",
                                           value);
    }
    log(now, "set_configuration " + std::to_string(value) + " " + result);
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

void usbfs_device::claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now) {
    unsigned int number = 0;
    if (!read_argument(client, arg, number)) return;
    const usb_status status = model_.claim_interface(static_cast<int>(number), now);
    const bool gone = status == usb_status::no_device;
    log(now, "claim " + std::to_string(number) + " " +
                 (status == usb_status::ok ? "ok"
                  : gone                   ? "no_device"
                                           : "failed"));
    if (status == usb_status::ok) {
        umockdev_ioctl_client_complete(client, 0, 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EBUSY);
    }
}

void usbfs_device::release(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::int64_t now) {
    unsigned int number = 0;
    if (!read_argument(client, arg, number)) return;
    const usb_status status = model_.release_interface(static_cast<int>(number), now);
    const bool ok = status == usb_status::ok;
    log(now, "release " + std::to_string(number) + (ok ? " ok" : " no_device"));
    umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : ENODEV);
}

void usbfs_device::clear_halt(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                              std::int64_t now) {
    unsigned int endpoint = 0;
    if (!read_argument(client, arg, endpoint)) return;
    const usb_status status = model_.clear_halt(static_cast<int>(endpoint), now);
    const bool ok = status == usb_status::ok;
    log(now, "clear_halt " + hex2(static_cast<int>(endpoint)) + (ok ? " ok" : " no_device"));
    umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : ENODEV);
}

void usbfs_device::advance(std::int64_t now) {
    std::int64_t next_at = -1;
    std::vector<int> waiting;  // endpoints whose oldest URB is still pending
    bool reapable = false;
    for (urb& u : urbs_) {
        if (u.done) {
            reapable = true;
            continue;
        }
        // Data on an endpoint goes to its URBs in submission order.
        if (std::find(waiting.begin(), waiting.end(), u.endpoint) != waiting.end()) continue;
        std::uint8_t* bytes = u.buffer != nullptr ? u.buffer->data : nullptr;
        const in_result r = model_.bulk_in(u.endpoint, bytes, u.length, now);
        if (r.status == usb_status::pending) {
            waiting.push_back(u.endpoint);
            if (r.ready_at_ms >= 0 && (next_at < 0 || r.ready_at_ms < next_at)) {
                next_at = r.ready_at_ms;
            }
            continue;
        }
        u.done = true;
        u.status = urb_status(r.status);
        u.actual = r.length;
        reapable = true;
        log(now, "in " + hex2(u.endpoint) + " " + std::to_string(u.length) + " " +
                     std::to_string(u.actual) + " " + status_word(u.status));
    }
    gate_.set_ready(reapable);
    arm_timer(next_at);
}

void usbfs_device::arm_timer(std::int64_t at_ms) {
    if (at_ms < 0) {
        cancel_timer();
        return;
    }
    if (timer_ != nullptr && timer_at_ == at_ms) return;
    cancel_timer();
    if (context_ == nullptr) context_ = g_main_context_ref_thread_default();
    const std::int64_t delay = std::max<std::int64_t>(0, at_ms - elapsed_ms());
    timer_ = g_timeout_source_new(static_cast<guint>(delay));
    g_source_set_callback(timer_, on_timer, this, nullptr);
    g_source_attach(timer_, context_);
    timer_at_ = at_ms;
}

void usbfs_device::cancel_timer() {
    if (timer_ == nullptr) return;
    g_source_destroy(timer_);
    g_source_unref(timer_);
    timer_ = nullptr;
    timer_at_ = -1;
}

void usbfs_device::release_urb(urb& u) {
    if (u.buffer != nullptr) g_object_unref(u.buffer);
    if (u.data != nullptr) g_object_unref(u.data);
    u.buffer = nullptr;
    u.data = nullptr;
}

}  // namespace emulator
