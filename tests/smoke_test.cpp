#include <gtest/gtest.h>

#include "tool_harness.h"

TEST(Smoke, CompleteRunWithTwoFrames) {
    fake_usb::reset();
    std::vector<emulator::in_item> script;
    emulator::add_frame(script, 1, 0, flat_pixels(7));
    emulator::add_frame(script, 2, 0, flat_pixels(9));
    fake_usb::add_device({.settings = scripted(script)});
    const std::string dir = temp_dir();
    const tool_run run = run_tool({"1", dir + "/r.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "captured 1 frames (type0=1 type1=0) -> " + dir + "/r.txt\n");
    const std::string report = read_file(dir + "/r.txt");
    EXPECT_EQ(report.substr(0, 54), "FRAME 0 type0 mean=9 min=9 max=9 meandelta=0.0\n\nROW_PR");
    EXPECT_EQ(fake_usb::open_handles(), 0);
    EXPECT_EQ(fake_usb::live_contexts(), 0);
}
