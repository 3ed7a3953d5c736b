#include "device/stream_control.h"

#include <libusb.h>

#include "device/command.h"
#include "device/connection.h"
#include "device/usb_ids.h"
#include "platform/clock.h"

void run_startup_sequence() {
    sendcmd(cmd_6b, 0, 4);
    sendcmd(cmd_6c, 0, 4);
    sendcmd(cmd_6f, 0, 4);
    sendcmd(cmd_72, 0, 8);
    sleep_ms(100);
    sendcmd(cmd_72, 0, 8);
    sleep_ms(300);
    sendcmd(cmd_73, 0, 4);
    sleep_ms(700);
}

void run_stop_sequence() {
    sleep_ms(300);
    libusb_clear_halt(g_h, command_endpoint);
    libusb_clear_halt(g_h, reply_endpoint);
    sendcmd(cmd_74, 0, 4);
}
