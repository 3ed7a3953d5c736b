#include "device_answers_harness.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "camera_model.h"
#include "device/connection.h"
#include "device/frame_reader.h"
#include "fake_libusb.h"
#include "run_sequence.h"

namespace {
using emulator::in_end;
using emulator::in_item;

// Sequential reader over the input; reads past the end give zeros.
struct input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool done() const { return at >= size; }
    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::uint16_t u16() {
        const unsigned low = byte();
        return static_cast<std::uint16_t>(low | unsigned{byte()} << 8);
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | std::uint32_t{u16()} << 16;
    }
};

// Sequence values of the scripted headers: fresh ones count up from 1.
struct sequences {
    std::uint32_t next = 1;
    std::uint32_t last = 0;
};

in_end end_of(int bits) {
    switch (bits) {
        case 5:
            return in_end::error;
        case 6:
            return in_end::timeout;
        case 7:
            return in_end::no_device;
        default:
            return in_end::ok;
    }
}

// Type 0 three times in four, so that most inputs reach the capture.
std::uint8_t frame_type(std::uint8_t b) {
    return b < 0xC0 ? 0 : static_cast<std::uint8_t>(b - 0xC0);
}

std::vector<std::uint8_t> header(input& in, int variant, sequences& seq) {
    // Lengths around the 28-byte minimum and the 64-byte buffer; above 64 the
    // transfer overflows (64 bytes and an error).
    static constexpr int lengths[] = {28, 28, 64, 27, 29, 0, 65, -1};
    const int length = lengths[variant] >= 0 ? lengths[variant] : in.byte();
    const std::uint8_t mode = in.byte();
    std::uint32_t sequence = 0;
    switch (mode & 3) {
        case 0:
            sequence = seq.next++;
            break;
        case 1:
            sequence = seq.last;
            break;
        case 2:
            sequence = 0xFFFFFFFF;
            break;
        default:
            sequence = in.u32();
            break;
    }
    seq.last = sequence;
    // A magic of the input's choosing one time in eight.
    const std::uint32_t magic = (mode & 0x1C) == 0x1C ? in.u32() : emulator::header_magic;
    const std::uint8_t type = frame_type(in.byte());
    return emulator::make_header(sequence, type, length, magic);
}

std::vector<std::uint8_t> flat_payload(int length, std::uint16_t value) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length), 0);
    for (std::size_t i = emulator::header_length; i + 1 < bytes.size(); i += 2) {
        bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
        bytes[i + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    return bytes;
}

std::vector<std::uint8_t> payload(input& in, int variant) {
    // Lengths around the 38,400-byte minimum, the 38,428-byte pixel area and
    // the 40,000-byte buffer; above 40,000 the transfer overflows.
    static constexpr int lengths[] = {38428, 38400, 38399, 40000, 40001, 0, 28, -1};
    const int length = lengths[variant] >= 0 ? lengths[variant] : in.u16() % 40100;
    const std::uint8_t fill = in.byte();
    if ((fill & 1) == 0) return flat_payload(length, in.u16());
    // A short pattern from the input, repeated over the whole payload.
    std::vector<std::uint8_t> pattern(static_cast<std::size_t>((fill >> 1) % 32 + 1));
    for (auto& b : pattern) b = in.byte();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = pattern[i % pattern.size()];
    return bytes;
}

struct decoded {
    int count = 0;
    emulator::model_settings settings;
};

decoded decode(const std::uint8_t* data, std::size_t size) {
    input in{data, size};
    decoded d;
    d.count = in.byte() % 21;
    const std::uint8_t flags = in.byte();
    emulator::model_settings& s = d.settings;
    s.scripted = true;
    s.commands_rejected = (flags & 0x01) != 0;
    s.replies_silent = (flags & 0x02) != 0;
    s.stream_without_startup = (flags & 0x04) != 0;
    s.loop_script = (flags & 0x08) != 0;
    s.unplug_instead_of_stall = (flags & 0x10) != 0;
    s.configuration_fails = (flags & 0x20) != 0;

    sequences seq;
    for (int item = 0; item < max_items && !in.done(); ++item) {
        const std::uint8_t lead = in.byte();
        const in_end end = end_of(lead >> 2 & 7);
        const int variant = lead >> 5;
        switch (lead & 3) {
            case 0:
                s.script.push_back({header(in, variant, seq), end});
                break;
            case 1:
                s.script.push_back({payload(in, variant), end});
                break;
            case 2: {
                std::vector<std::uint8_t> bytes(in.byte() % 80);
                for (auto& b : bytes) b = in.byte();
                s.script.push_back({std::move(bytes), end});
                break;
            }
            default: {
                const std::uint8_t type = frame_type(in.byte());
                s.script.push_back({emulator::make_header(seq.next++, type), in_end::ok});
                s.script.push_back({flat_payload(emulator::payload_length, in.u16()), end});
                break;
            }
        }
    }
    return d;
}

// read_frame remembers the last accepted sequence value for the whole process.
// Headers with 0xFFFFFFFE and then 0xFFFFFFFF bring it back to its initial
// value, so that every input runs as it would in a fresh process.
void restore_frame_sequence() {
    fake_usb::reset();
    fake_usb::set_recording(false);
    emulator::model_settings s;
    s.scripted = true;
    s.stream_without_startup = true;
    s.script = {{emulator::make_header(0xFFFFFFFE, 0), in_end::ok},
                {{}, in_end::ok},
                {emulator::make_header(0xFFFFFFFF, 0), in_end::ok},
                {{}, in_end::ok}};
    fake_usb::add_device({.settings = s});
    g_h = nullptr;
    g_ctx = nullptr;
    static unsigned char scratch[payload_buffer_size];
    int type = 0;
    if (open_connection() == open_result::ready) {
        for (int i = 0; i < 4; ++i) read_frame(scratch, type);
    }
    close_connection();
    g_h = nullptr;
    g_ctx = nullptr;
}

// The run's files, in a directory of its own that goes when the process ends.
struct work_dir {
    std::string path;
    work_dir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "frame_stats_fuzz_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~work_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    work_dir(const work_dir&) = delete;
    work_dir& operator=(const work_dir&) = delete;
};

const work_dir& files() {
    static const work_dir dir;
    return dir;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the tool with standard output sent to `out_path`.
int run_capturing_stdout(int argc, char** argv, const std::string& out_path) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (saved < 0 || fd < 0) throw std::runtime_error("cannot redirect standard output");
    dup2(fd, STDOUT_FILENO);
    close(fd);
    const int status = run_frame_stats(argc, argv);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return status;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    lines.reserve(19486 + 32);  // a report's lines, without regrowing
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));  // an unterminated tail too
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The report of a run that reached the capture: F frame lines, then the three
// sections, F + 19,486 lines in all, every one terminated.
std::string check_report(const std::string& report, int type0, int frames_read) {
    if (!report.empty() && report.back() != '\n') return "report ends inside a line";
    const std::vector<std::string_view> lines = split_lines(report);
    int frame_lines = 0;
    int last_index = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].substr(0, 6) != "FRAME ") continue;
        if (static_cast<std::size_t>(frame_lines) != i) {
            return "a FRAME line after the profile sections";
        }
        const std::string line(lines[i]);
        int index = -1;
        if (std::sscanf(line.c_str(), "FRAME %d type0 mean=", &index) != 1 || index <= last_index ||
            index >= frames_read) {
            return "FRAME line with a bad index: " + line;
        }
        last_index = index;
        ++frame_lines;
    }
    if (frame_lines != type0) {
        return std::to_string(frame_lines) + " FRAME lines for type0=" + std::to_string(type0);
    }
    if (lines.size() != static_cast<std::size_t>(type0) + 19486) {
        return "report has " + std::to_string(lines.size()) +
               " lines for type0=" + std::to_string(type0);
    }
    const std::size_t f = static_cast<std::size_t>(type0);
    if (lines[f] != "" || lines[f + 1] != "ROW_PROFILE:" || lines[f + 122] != "" ||
        lines[f + 123] != "COL_PROFILE:" || lines[f + 284] != "" ||
        lines[f + 285] != "PIXEL_DEVIATION (mean - row - col + global):") {
        return "report sections out of place";
    }
    return {};
}

std::string check_run(int count, int status, const std::string& out,
                      const std::string& report_path) {
    const bool report_exists = std::filesystem::exists(report_path);
    if (status == 3) {
        if (out != "failed to reach type=0 stream\n") return "status 3 with other output";
        if (report_exists) return "status 3 created the report";
        return {};
    }
    if (status == 2) {
        // The report could not be written whole: no summary line.
        if (out.find("captured") != std::string::npos) return "status 2 with a summary line";
        return {};
    }
    if (status != 0 && status != 4) return "unexpected exit status";

    std::string summary = out;
    if (status == 4) {
        const std::string stopped = "device stopped sending frames\n";
        if (out.rfind(stopped, 0) != 0) return "status 4 without its message";
        summary = out.substr(stopped.size());
    }
    int frames = -1;
    int type0 = -1;
    int type1 = -1;
    int consumed = 0;
    if (std::sscanf(summary.c_str(), "captured %d frames (type0=%d type1=%d) -> %n", &frames,
                    &type0, &type1, &consumed) != 3 ||
        consumed == 0 || summary.substr(static_cast<std::size_t>(consumed)) != report_path + "\n") {
        return "summary line does not parse";
    }
    if (type0 < 0 || type1 < 0 || frames != type0 + type1) return "counts do not add up";
    if (status == 0 && frames != count) return "complete run with a count other than requested";
    if (status == 4 && frames >= count) return "device stopped after the requested count";
    if (!report_exists) return "no report file";
    return check_report(read_file(report_path), type0, frames);
}
}  // namespace

answers_run play_device_answers(const std::uint8_t* data, std::size_t size) {
    const decoded d = decode(data, size);
    restore_frame_sequence();

    fake_usb::reset();
    fake_usb::set_recording(false);
    fake_usb::add_device({.settings = d.settings});
    // The tool leaves the closed handle in g_h; a fresh run starts from none.
    g_h = nullptr;
    g_ctx = nullptr;

    const std::string report_path = files().path + "/report.txt";
    const std::string out_path = files().path + "/stdout.txt";
    std::error_code ignored;
    std::filesystem::remove(report_path, ignored);

    std::string count = std::to_string(d.count);
    std::string program = "frame_stats";
    std::string path = report_path;
    char* argv[] = {program.data(), count.data(), path.data(), nullptr};
    answers_run run;
    run.status = run_capturing_stdout(3, argv, out_path);
    run.output = read_file(out_path);

    run.violation = check_run(d.count, run.status, run.output, report_path);
    if (run.violation.empty() &&
        (fake_usb::open_handles() != 0 || fake_usb::live_contexts() != 0)) {
        run.violation = "device handle or library context not released";
    }
    if (!run.violation.empty()) run.violation += " (count " + std::to_string(d.count) + ")";
    // Release the run's device now, so that every allocation of a run is also
    // freed in it (libFuzzer looks for leaks when the counts differ).
    fake_usb::reset();
    return run;
}
