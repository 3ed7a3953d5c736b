// read_frame against a camera that streams scripted transfers: which headers
// and payloads make a frame, and what the reader remembers between calls.

#include <gtest/gtest.h>

#include <ostream>

#include "device/connection.h"
#include "device/frame_reader.h"
#include "device_link_support.h"
#include "tool_harness.h"

using namespace device_link;
using emulator::in_end;

namespace {

constexpr int rejected = -1;

struct reader_case {
    const char* name;
    script (*stream)();
    // One entry per read_frame call: the type of the accepted frame, or
    // `rejected`.
    std::vector<int> answers;
};

void PrintTo(const reader_case& c, std::ostream* os) {
    *os << c.name;
}

constexpr int full = emulator::payload_length;
constexpr std::uint32_t good_magic = emulator::header_magic;

const reader_case reader_cases[] = {
    {"FirstSequenceAllOnesIsARepeat",
     [] { return script().header(0xFFFFFFFF, 0).frame(1, 7); },
     {rejected, 7}},
    {"RepeatedSequenceRejected",
     [] { return script().frame(5, 0).header(5, 3).frame(6, 4); },
     {0, rejected, 4}},
    {"OnlyTheLastSequenceCounts",
     [] { return script().frame(9, 1).frame(3, 2).frame(9, 0); },
     {1, 2, 0}},
    // A header rejected for its length or magic leaves the remembered
    // sequence alone, so a frame with the same sequence is still new.
    {"ShortHeaderRejected",
     [] { return script().header(1, 0, 27).header(1, 0, 27, in_end::timeout).frame(1, 5); },
     {rejected, rejected, 5}},
    {"BadMagicRejected",
     [] { return script().header(1, 0, 28, in_end::ok, good_magic ^ 0x100).frame(1, 5); },
     {rejected, 5}},
    {"HeadersOf28And64BytesAccepted",
     [] { return script().header(1, 2, 28).payload().header(2, 3, 64).payload(); },
     {2, 3}},
    // The header transfer's status is not examined, only what arrived.
    {"HeaderEndingInTimeOutOrErrorIsExamined",
     [] {
         return script()
             .header(1, 2, 28, in_end::timeout)
             .payload()
             .header(2, 3, 40, in_end::error)
             .payload();
     },
     {2, 3}},
    // The sequence is remembered before the payload is read: a payload that
    // fails loses that frame for good.
    {"PayloadTimeOutLosesTheFrame",
     [] { return script().header(4, 0).payload(full, in_end::timeout).header(4, 0).frame(5, 6); },
     {rejected, rejected, 6}},
    {"PayloadErrorRejectedEvenWhenComplete",
     [] { return script().header(4, 0).payload(full, in_end::error).frame(5, 6); },
     {rejected, 6}},
    {"PayloadOf38400BytesAccepted", [] { return script().header(4, 9).payload(38400); }, {9}},
    {"PayloadOf38399BytesRejected",
     [] { return script().header(4, 9).payload(38399).frame(5, 6); },
     {rejected, 6}},
    {"TypeByteReadUnsigned", [] { return script().frame(1, 0xFF).frame(2, 0x80); }, {255, 128}},
};

class FrameReader : public testing::TestWithParam<reader_case> {};

TEST_P(FrameReader, AnswersEachReadFromTheTransfers) {
    const reader_case& c = GetParam();
    const script stream = c.stream();
    fake_usb::reset();
    emulator::model_settings camera = stream.settings();
    camera.stream_without_startup = true;
    fake_usb::add_device({.settings = camera});
    ASSERT_EQ(open_connection(), open_result::ready);

    static unsigned char buffer[payload_buffer_size];
    for (std::size_t i = 0; i < c.answers.size(); ++i) {
        SCOPED_TRACE("read " + std::to_string(i + 1));
        int type = 42;  // left alone unless a frame is accepted
        const int answer = read_frame(buffer, type);
        if (c.answers[i] == rejected) {
            EXPECT_EQ(answer, 0);
            EXPECT_EQ(type, 42);
        } else {
            EXPECT_EQ(answer, 1);
            EXPECT_EQ(type, c.answers[i]);
        }
    }

    // Every scripted transfer was read exactly once: no payload read after a
    // rejected header, none skipped after an accepted one. Headers are asked
    // for in 64 bytes, payloads in 40000, both with the 200 ms time-out.
    const auto reads = calls_of("bulk_transfer", frame_endpoint);
    EXPECT_EQ(reads.size(), stream.items.size());
    for (const auto& r : reads) {
        EXPECT_TRUE(r.length == header_request || r.length == payload_request) << r.length;
        EXPECT_EQ(r.timeout, 200u);
    }
    close_connection();
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameReader, testing::ValuesIn(reader_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// A payload of 38,400 bytes ends 28 bytes short of the pixel area: the last 14
// pixels keep what the buffer held, here the synchronisation frame's pixels.
TEST(FrameReaderInARun, ShortPayloadKeepsTheBuffersLastFourteenPixels) {
    fake_usb::reset();
    fake_usb::add_device(
        {.settings =
             script().frame(1, 0, 500).header(2, 0).payload(38400, in_end::ok, 7).settings()});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"1", path});

    ASSERT_EQ(run.status, 0);
    // (19186 * 7 + 14 * 500) / 19200 = 7.36
    const std::string line = "FRAME 0 type0 mean=7 min=7 max=500 meandelta=0.0\n";
    EXPECT_EQ(read_file(path).substr(0, line.size()), line);
}

// The last header accepted while synchronising is remembered into the
// capture: the capture's first header repeating it is rejected.
TEST(FrameReaderInARun, SynchronisationFrameIsARepeatForTheCapture) {
    fake_usb::reset();
    fake_usb::add_device(
        {.settings = script().frame(7, 0, 1).header(7, 0).frame(8, 0, 3).settings()});
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"1", path});

    ASSERT_EQ(run.status, 0);
    const std::string line = "FRAME 0 type0 mean=3 min=3 max=3 meandelta=0.0\n";
    EXPECT_EQ(read_file(path).substr(0, line.size()), line);
    EXPECT_EQ(header_reads(), 3);
}

}  // namespace
