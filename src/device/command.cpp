#include "device/command.h"

#include <libusb.h>

#include "device/connection.h"
#include "device/usb_ids.h"

void sendcmd(std::uint32_t word, int argument, int length) {
    unsigned char packet[8] = {};
    packet[0] = static_cast<unsigned char>(word & 0xFF);
    packet[1] = 0xB6;
    packet[2] = 0xB6;
    packet[3] = 0x6B;
    if (length == 8) packet[4] = static_cast<unsigned char>(argument & 0xFF);

    int transferred = 0;
    if (libusb_bulk_transfer(g_h, command_endpoint, packet, length, &transferred,
                             command_timeout_ms) != 0) {
        return;
    }
    unsigned char reply[4096];
    libusb_bulk_transfer(g_h, reply_endpoint, reply, sizeof reply, &transferred,
                         command_timeout_ms);
}
