// Synchronisation on the type-0 stream, seen from the device: how many read
// attempts it makes, when the 0x72 argument-1 nudge goes out, and what follows
// success or giving up. Runs capture no frames, so every frame read of a run
// belongs to the synchronisation.

#include <gtest/gtest.h>

#include <ostream>

#include "device_link_support.h"
#include "tool_harness.h"

using namespace device_link;

namespace {

struct sync_case {
    const char* name;
    script (*stream)();
    bool reached;  // a type-0 frame was accepted in time
    int reads;     // read attempts made (header transfers)
    bool nudged;   // the nudge went out, at the tenth accepted frame
};

void PrintTo(const sync_case& c, std::ostream* os) {
    *os << c.name;
}

const sync_case sync_cases[] = {
    {"TypeZeroAtOnce", [] { return script().frames(1, 0).frames(5, 1); }, true, 1, false},
    {"TypeZeroAsNinthFrame", [] { return script().frames(8, 1).frames(1, 0); }, true, 9, false},
    {"TenthFrameIsTypeZero", [] { return script().frames(9, 1).frames(3, 0); }, true, 10, true},
    {"TypeZeroAfterTheNudge", [] { return script().frames(14, 1).frames(1, 0); }, true, 15, true},
    {"TypeOneOnly", [] { return script().frames(130, 1); }, false, 120, true},
    // Rejected reads are attempts too.
    {"TypeZeroOnLastAttemptAfterRejectedReads",
     [] { return script().frames(5, 1).bad_headers(114).frames(1, 0); }, true, 120, false},
    {"TypeZeroOnLastAttemptAfterTheNudge", [] { return script().frames(119, 1).frames(1, 0); },
     true, 120, true},
    {"TypeZeroOneAttemptTooLate",
     [] { return script().frames(9, 1).bad_headers(111).frames(1, 0); }, false, 120, false},
    {"StreamFallsSilentBeforeTheTenthFrame", [] { return script().frames(9, 1); }, false, 120,
     false},
};

class Synchronisation : public testing::TestWithParam<sync_case> {};

// Index in the call log of the nudge packet; -1 if it was not sent.
long nudge_index(const std::vector<fake_usb::call>& calls) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].function == "bulk_transfer" && calls[i].endpoint == command_endpoint &&
            hex(calls[i].bytes) == nudge_packet) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

TEST_P(Synchronisation, ReadsAndNudgesFromTheDevicesSide) {
    const sync_case& c = GetParam();
    fake_usb::reset();
    fake_usb::add_device({.settings = c.stream().settings()});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"0", path});

    EXPECT_EQ(header_reads(), c.reads);
    for (const auto& r : calls_of("bulk_transfer", frame_endpoint)) EXPECT_EQ(r.timeout, 200u);

    const auto& calls = fake_usb::calls();
    int nudges = 0;
    for (const std::string& packet : commands_sent()) nudges += packet == nudge_packet ? 1 : 0;
    EXPECT_EQ(nudges, c.nudged ? 1 : 0);
    if (c.nudged) {
        // Sent right after the tenth accepted frame's payload, then its reply
        // is read and the tool waits 200 ms.
        const long at = nudge_index(calls);
        ASSERT_GE(at, 1);
        int payloads_before = 0;
        for (long i = 0; i < at; ++i) {
            const fake_usb::call& k = calls[i];
            if (k.function == "bulk_transfer" && k.endpoint == frame_endpoint &&
                k.length == payload_request) {
                payloads_before += k.result == 0 ? 1 : 0;
            }
        }
        EXPECT_EQ(payloads_before, 10);
        EXPECT_EQ(calls[at - 1].length, payload_request);
        EXPECT_EQ(calls[at].length, 8);
        ASSERT_LT(at + 2, static_cast<long>(calls.size()));
        EXPECT_EQ(calls[at + 1].endpoint, reply_endpoint);
        EXPECT_EQ(calls[at + 2].function, "sleep");
        EXPECT_EQ(calls[at + 2].length, 200);
    }

    if (c.reached) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "captured 0 frames (type0=0 type1=0) -> " + path + "\n");
        const auto commands = commands_sent();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), stop_packet);
    } else {
        EXPECT_EQ(run.status, 3);
        EXPECT_EQ(run.out, "failed to reach type=0 stream\n");
        // No stop sequence, no halt clearing: nothing at all after the last
        // read; the report is never opened.
        EXPECT_TRUE(device_calls_after_last_frame_read().empty());
        EXPECT_FALSE(file_exists(path));
    }
    EXPECT_EQ(fake_usb::open_handles(), 0);
    EXPECT_EQ(fake_usb::live_contexts(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Synchronisation, testing::ValuesIn(sync_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SynchronisationTiming, SilentStreamCostsTheFrameTimeOutAndTenMillisecondsPerAttempt) {
    fake_usb::reset();
    fake_usb::add_device({.settings = script().settings()});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"0", path});

    EXPECT_EQ(run.status, 3);
    std::vector<long long> starts;
    for (const auto& c : fake_usb::calls()) {
        if (is_header_read(c)) starts.push_back(c.at_ms);
    }
    ASSERT_EQ(starts.size(), 120u);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        EXPECT_EQ(starts[i], 1100 + 210 * static_cast<long long>(i)) << "attempt " << i + 1;
    }
    // The last attempt's time-out and wait, then the run ends.
    EXPECT_EQ(fake_usb::now_ms(), 1100 + 210 * 120);
}

}  // namespace
