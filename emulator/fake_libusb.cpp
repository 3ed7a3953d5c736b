#include "fake_libusb.h"

#include <libusb.h>

#include <csignal>
#include <memory>

#include "platform/clock.h"

// The library's opaque types, defined here since this file replaces it.
struct libusb_context {
    int unused = 0;
};
struct libusb_device {
    int index = 0;
};
struct libusb_device_handle {
    int index = 0;
};

namespace fake_usb {
namespace {
struct device_slot {
    device_entry entry;
    std::unique_ptr<emulator::camera_model> model;
    libusb_device device;
};

struct state {
    std::vector<std::unique_ptr<device_slot>> devices;
    std::vector<call> calls;
    std::int64_t now = 0;
    int init_result = 0;
    int list_error = 0;
    int handles = 0;
    int contexts = 0;
    bool recording = true;
    int transfers = 0;
    int raise_at_transfer = 0;
    int raise_signal = 0;
};

state& st() {
    static state s;
    return s;
}

call& record(const char* function, int device = -1) {
    static call discarded;
    if (!st().recording) return discarded = call{};
    call c;
    c.at_ms = st().now;
    c.function = function;
    c.device = device;
    st().calls.push_back(c);
    return st().calls.back();
}

int to_libusb(emulator::usb_status status) {
    switch (status) {
        case emulator::usb_status::ok:
            return LIBUSB_SUCCESS;
        case emulator::usb_status::pending:
        case emulator::usb_status::timeout:
            return LIBUSB_ERROR_TIMEOUT;
        case emulator::usb_status::stall:
            return LIBUSB_ERROR_PIPE;
        case emulator::usb_status::no_device:
            return LIBUSB_ERROR_NO_DEVICE;
        case emulator::usb_status::error:
            break;
    }
    return LIBUSB_ERROR_IO;
}

emulator::camera_model& model_of(libusb_device_handle* handle) {
    return *st().devices.at(static_cast<std::size_t>(handle->index))->model;
}
}  // namespace

void reset() {
    st() = state{};
}
void raise_during_transfer(int n, int signal) {
    st().raise_at_transfer = n;
    st().raise_signal = signal;
}
void set_recording(bool on) {
    st().recording = on;
}
void set_init_result(int result) {
    st().init_result = result;
}
void set_device_list_error(int error) {
    st().list_error = error;
}

int add_device(const device_entry& entry) {
    auto slot = std::make_unique<device_slot>();
    slot->entry = entry;
    slot->model = std::make_unique<emulator::camera_model>(entry.settings);
    slot->device.index = static_cast<int>(st().devices.size());
    st().devices.push_back(std::move(slot));
    return static_cast<int>(st().devices.size()) - 1;
}

emulator::camera_model& model(int device) {
    return *st().devices.at(static_cast<std::size_t>(device))->model;
}

const std::vector<call>& calls() {
    return st().calls;
}
std::int64_t now_ms() {
    return st().now;
}
int open_handles() {
    return st().handles;
}
int live_contexts() {
    return st().contexts;
}

}  // namespace fake_usb

using fake_usb::record;
using fake_usb::st;

// The virtual host clock.
void sleep_ms(int ms) {
    record("sleep").length = ms;
    st().now += ms;
}

std::int64_t monotonic_ms() {
    return st().now;
}

extern "C" {

int libusb_init(libusb_context** ctx) {
    record("init").result = st().init_result;
    if (st().init_result != 0) return st().init_result;
    *ctx = new libusb_context;
    ++st().contexts;
    return 0;
}

void libusb_exit(libusb_context* ctx) {
    record("exit");
    if (ctx != nullptr) --st().contexts;
    delete ctx;
}

ssize_t libusb_get_device_list(libusb_context* /*ctx*/, libusb_device*** list) {
    auto& c = record("get_device_list");
    if (st().list_error < 0) {
        c.result = st().list_error;
        return st().list_error;
    }
    const std::size_t count = st().devices.size();
    auto** devices = new libusb_device*[count + 1];
    for (std::size_t i = 0; i < count; ++i) devices[i] = &st().devices[i]->device;
    devices[count] = nullptr;
    *list = devices;
    c.result = static_cast<int>(count);
    return static_cast<ssize_t>(count);
}

void libusb_free_device_list(libusb_device** list, int unref_devices) {
    record("free_device_list").value = unref_devices;
    delete[] list;
}

int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    auto& slot = *st().devices.at(static_cast<std::size_t>(dev->index));
    auto& c = record("get_device_descriptor", dev->index);
    if (slot.entry.descriptor_fails) {
        c.result = LIBUSB_ERROR_IO;
        return c.result;
    }
    *desc = libusb_device_descriptor{};
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->idVendor = slot.entry.vendor;
    desc->idProduct = slot.entry.product;
    desc->bNumConfigurations = 2;
    return 0;
}

int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
    auto& slot = *st().devices.at(static_cast<std::size_t>(dev->index));
    auto& c = record("open", dev->index);
    if (!slot.entry.opens) {
        c.result = slot.entry.open_error;
        return c.result;
    }
    *handle = new libusb_device_handle{dev->index};
    ++st().handles;
    return 0;
}

void libusb_close(libusb_device_handle* handle) {
    record("close", handle->index);
    --st().handles;
    delete handle;
}

int libusb_set_configuration(libusb_device_handle* handle, int configuration) {
    const int result =
        fake_usb::to_libusb(fake_usb::model_of(handle).set_configuration(configuration, st().now));
    auto& c = record("set_configuration", handle->index);
    c.value = configuration;
    c.result = result;
    return result;
}

int libusb_claim_interface(libusb_device_handle* handle, int interface_number) {
    const int result =
        fake_usb::to_libusb(fake_usb::model_of(handle).claim_interface(interface_number, st().now));
    auto& c = record("claim_interface", handle->index);
    c.value = interface_number;
    c.result = result;
    return result;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable) {
    record("set_auto_detach_kernel_driver", handle->index).value = enable;
    return 0;
}

int libusb_clear_halt(libusb_device_handle* handle, unsigned char endpoint) {
    const int result =
        fake_usb::to_libusb(fake_usb::model_of(handle).clear_halt(endpoint, st().now));
    auto& c = record("clear_halt", handle->index);
    c.endpoint = endpoint;
    c.result = result;
    return result;
}

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* actual_length, unsigned int timeout) {
    auto& model = fake_usb::model_of(handle);
    if (++st().transfers == st().raise_at_transfer) std::raise(st().raise_signal);
    fake_usb::call c;
    c.at_ms = st().now;
    c.function = "bulk_transfer";
    c.device = handle->index;
    c.endpoint = endpoint;
    c.length = length;
    c.timeout = timeout;

    const std::int64_t start = st().now;
    if ((endpoint & LIBUSB_ENDPOINT_IN) == 0) {
        if (st().recording) c.bytes.assign(data, data + length);
        c.result = fake_usb::to_libusb(model.bulk_out(endpoint, data, length, start));
        c.transferred = c.result == 0 ? length : 0;
    } else {
        for (;;) {
            const emulator::in_result r = model.bulk_in(endpoint, data, length, st().now);
            if (r.status != emulator::usb_status::pending) {
                c.result = fake_usb::to_libusb(r.status);
                c.transferred = r.length;
                break;
            }
            // Wait for the device while the time-out allows; 0 waits forever.
            const bool arrives_in_time =
                r.ready_at_ms >= 0 && (timeout == 0 || r.ready_at_ms - start <= timeout);
            if (arrives_in_time) {
                st().now = std::max(st().now, r.ready_at_ms);
                continue;
            }
            st().now = start + timeout;
            c.transferred = model.in_cancelled(endpoint, data, length, st().now);
            c.result = LIBUSB_ERROR_TIMEOUT;
            break;
        }
    }
    if (actual_length != nullptr) *actual_length = c.transferred;
    const int result = c.result;
    if (st().recording) st().calls.push_back(std::move(c));
    return result;
}

}  // extern "C"
