#include "device/connection.h"

#include "device/usb_ids.h"

libusb_context* g_ctx = nullptr;
libusb_device_handle* g_h = nullptr;

open_result open_connection() {
    if (libusb_init(&g_ctx) != 0) return open_result::no_library;

    bool access_denied = false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(g_ctx, &list);
    // The first device in list order that matches and opens is taken; a
    // device that refuses to open leaves g_h null and the walk goes on.
    for (ssize_t i = 0; i < count; ++i) {
        if (g_h != nullptr) break;
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
        if (descriptor.idVendor == device_vendor_id &&
            libusb_open(list[i], &g_h) == LIBUSB_ERROR_ACCESS) {
            access_denied = true;
        }
    }
    libusb_free_device_list(list, 1);
    if (g_h == nullptr) return access_denied ? open_result::no_access : open_result::no_device;

    // Configuration 2 is always requested before 1; neither answer matters.
    libusb_set_configuration(g_h, first_configuration);
    libusb_set_configuration(g_h, working_configuration);
    libusb_set_auto_detach_kernel_driver(g_h, 1);
    if (libusb_claim_interface(g_h, device_interface) != 0) return open_result::not_claimed;
    return open_result::ready;
}

void close_connection() {
    if (g_h != nullptr) libusb_close(g_h);
    if (g_ctx != nullptr) libusb_exit(g_ctx);
}
