// The device's view of a run: command packets, their replies, the waits
// between them, the frame transfers, and the stop sequence.

#include <gtest/gtest.h>

#include <libusb.h>

#include "device_link_support.h"
#include "tool_harness.h"

using namespace device_link;

TEST(DeviceLink, CompleteRunTrafficFromStartUpToStop) {
    fake_usb::reset();
    fake_usb::add_device({.settings = script().frames(2, 0).settings()});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"1", path});

    ASSERT_EQ(run.status, 0);
    // Every command is sent on 0x03 and its reply read on 0x82 (4096 bytes,
    // 2000 ms); frames are read on 0x81 (header 64, payload 40000, 200 ms).
    EXPECT_EQ(traffic(),
              "@0 out 0x03 len=4 t=2000 [6B B6 B6 6B]\n"
              "@0 in 0x82 len=4096 t=2000\n"
              "@0 out 0x03 len=4 t=2000 [6C B6 B6 6B]\n"
              "@0 in 0x82 len=4096 t=2000\n"
              "@0 out 0x03 len=4 t=2000 [6F B6 B6 6B]\n"
              "@0 in 0x82 len=4096 t=2000\n"
              "@0 out 0x03 len=8 t=2000 [72 B6 B6 6B 00 00 00 00]\n"
              "@0 in 0x82 len=4096 t=2000\n"
              "@0 sleep 100\n"
              "@100 out 0x03 len=8 t=2000 [72 B6 B6 6B 00 00 00 00]\n"
              "@100 in 0x82 len=4096 t=2000\n"
              "@100 sleep 300\n"
              "@400 out 0x03 len=4 t=2000 [73 B6 B6 6B]\n"
              "@400 in 0x82 len=4096 t=2000\n"
              "@400 sleep 700\n"
              // synchronisation: the first frame is of type 0
              "@1100 in 0x81 len=64 t=200\n"
              "@1100 in 0x81 len=40000 t=200\n"
              // capture of one frame
              "@1100 in 0x81 len=64 t=200\n"
              "@1100 in 0x81 len=40000 t=200\n"
              // stop: the halts are cleared before the stop command
              "@1100 sleep 300\n"
              "@1400 clear_halt 0x03\n"
              "@1400 clear_halt 0x82\n"
              "@1400 out 0x03 len=4 t=2000 [74 B6 B6 6B]\n"
              "@1400 in 0x82 len=4096 t=2000\n");
    // The same run as the camera saw it.
    EXPECT_EQ(device_events(),
              "@0 set_configuration 2\n"
              "@0 set_configuration 1\n"
              "@0 claim 0\n"
              "@0 command [6B B6 B6 6B]\n"
              "@0 command [6C B6 B6 6B]\n"
              "@0 command [6F B6 B6 6B]\n"
              "@0 command [72 B6 B6 6B 00 00 00 00]\n"
              "@100 command [72 B6 B6 6B 00 00 00 00]\n"
              "@400 command [73 B6 B6 6B]\n"
              "@1400 clear_halt 0x03\n"
              "@1400 clear_halt 0x82\n"
              "@1400 command [74 B6 B6 6B]\n");
    // The handle is closed, then the context, after the last transfer.
    const auto& calls = fake_usb::calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].function, "close");
    EXPECT_EQ(calls.back().function, "exit");
    EXPECT_EQ(fake_usb::open_handles(), 0);
    EXPECT_EQ(fake_usb::live_contexts(), 0);
}

TEST(DeviceLink, DeviceThatRejectsCommandsIsNeverAskedForAReply) {
    fake_usb::reset();
    emulator::model_settings camera = script().frames(2, 0).settings();
    camera.commands_rejected = true;
    camera.stream_without_startup = true;
    fake_usb::add_device({.settings = camera});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"1", path});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "captured 1 frames (type0=1 type1=0) -> " + path + "\n");
    EXPECT_TRUE(calls_of("bulk_transfer", reply_endpoint).empty());
    // Every command was still attempted once, in order, and failed.
    std::vector<std::string> expected = startup_packets;
    expected.push_back(stop_packet);
    EXPECT_EQ(commands_sent(), expected);
    for (const auto& c : calls_of("bulk_transfer", command_endpoint)) {
        EXPECT_NE(c.result, 0);
    }
    // The start-up waits do not depend on the device's answers.
    const auto frame_reads = calls_of("bulk_transfer", frame_endpoint);
    ASSERT_FALSE(frame_reads.empty());
    EXPECT_EQ(frame_reads.front().at_ms, 1100);
}

TEST(DeviceLink, SilentReplyEndpointCostsTwoSecondsPerCommand) {
    fake_usb::reset();
    emulator::model_settings camera = script().frames(2, 0).settings();
    camera.replies_silent = true;
    fake_usb::add_device({.settings = camera});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"1", path});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "captured 1 frames (type0=1 type1=0) -> " + path + "\n");
    const auto replies = calls_of("bulk_transfer", reply_endpoint);
    ASSERT_EQ(replies.size(), 7u);
    for (const auto& r : replies) {
        EXPECT_EQ(r.timeout, 2000u);
        EXPECT_EQ(r.result, LIBUSB_ERROR_TIMEOUT);
    }
    // Each command waits out its reply's time-out before the next step.
    EXPECT_EQ(device_events(),
              "@0 set_configuration 2\n"
              "@0 set_configuration 1\n"
              "@0 claim 0\n"
              "@0 command [6B B6 B6 6B]\n"
              "@2000 command [6C B6 B6 6B]\n"
              "@4000 command [6F B6 B6 6B]\n"
              "@6000 command [72 B6 B6 6B 00 00 00 00]\n"
              "@8100 command [72 B6 B6 6B 00 00 00 00]\n"
              "@10400 command [73 B6 B6 6B]\n"
              "@13400 clear_halt 0x03\n"
              "@13400 clear_halt 0x82\n"
              "@13400 command [74 B6 B6 6B]\n");
    EXPECT_EQ(calls_of("bulk_transfer", frame_endpoint).front().at_ms, 13100);
}

TEST(DeviceLink, UnopenableReportEndsTheRunWithoutStoppingTheDevice) {
    fake_usb::reset();
    fake_usb::add_device({.settings = script().frames(3, 0).settings()});
    const std::string path = temp_dir() + "/missing/r.txt";

    const tool_run run = run_tool({"2", path});

    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    // Start-up and synchronisation ran; nothing followed the sync frame.
    EXPECT_EQ(commands_sent(), startup_packets);
    EXPECT_EQ(header_reads(), 1);
    EXPECT_TRUE(device_calls_after_last_frame_read().empty());
    EXPECT_TRUE(calls_of("clear_halt").empty());
    EXPECT_EQ(fake_usb::open_handles(), 0);
    EXPECT_EQ(fake_usb::live_contexts(), 0);
}
