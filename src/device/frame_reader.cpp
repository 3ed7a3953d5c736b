#include "device/frame_reader.h"

#include <libusb.h>

#include "device/connection.h"
#include "device/usb_ids.h"

namespace {
std::uint32_t read_le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace

int read_frame(unsigned char* buffer, int& type) {
    // Sequence value of the last header that passed the checks, kept for the
    // whole process so that synchronisation and capture share it.
    static std::uint32_t prev = 0xFFFFFFFF;

    unsigned char header[header_buffer_size];
    int transferred = 0;
    // The status is not examined: a header that arrived whole before an error
    // or time-out is judged by its bytes like any other.
    libusb_bulk_transfer(g_h, frame_endpoint, header, sizeof header, &transferred,
                         frame_timeout_ms);
    if (transferred < min_header_size) return 0;
    if (read_le32(header) != frame_magic) return 0;
    const std::uint32_t sequence = read_le32(header + 4);
    if (sequence == prev) return 0;
    prev = sequence;  // remembered even if the payload then fails

    transferred = 0;
    if (libusb_bulk_transfer(g_h, frame_endpoint, buffer, payload_buffer_size, &transferred,
                             frame_timeout_ms) != 0) {
        return 0;
    }
    if (transferred < min_payload_size) return 0;
    type = header[12];
    return 1;
}
