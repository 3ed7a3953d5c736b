#include "device/stream_control.h"

#include <libusb.h>

#include "device/command.h"
#include "device/connection.h"
#include "device/usb_ids.h"
#include "platform/clock.h"
#include "platform/stop_signal.h"

namespace {
struct startup_step {
    std::uint32_t word;
    int argument;
    int length;
    int wait_before_ms;
};

// The start-up commands in order, each with the wait that precedes it.
constexpr startup_step startup_steps[] = {
    {cmd_6b, 0, 4, 0}, {cmd_6c, 0, 4, 0},   {cmd_6f, 0, 4, 0},
    {cmd_72, 0, 8, 0}, {cmd_72, 0, 8, 100}, {cmd_73, 0, 4, 300},
};
constexpr int startup_settle_ms = 700;
}  // namespace

bool run_startup_sequence() {
    for (const startup_step& step : startup_steps) {
        if (step.wait_before_ms != 0) sleep_ms(step.wait_before_ms);
        if (stop_requested() != 0) return false;
        sendcmd(step.word, step.argument, step.length);
    }
    sleep_ms(startup_settle_ms);
    return true;
}

void run_stop_sequence() {
    sleep_ms(300);
    libusb_clear_halt(g_h, command_endpoint);
    libusb_clear_halt(g_h, reply_endpoint);
    sendcmd(cmd_74, 0, 4);
}
