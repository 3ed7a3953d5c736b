#include "scenarios.h"

namespace emulator {

namespace {

// A sensor that sends type 1 until it is nudged with 0x72 argument 1, then
// type 0 with every 50th frame of type 1.
model_settings sensor(double frame_period_ms) {
    model_settings s;
    s.sensor.frame_period_ms = frame_period_ms;
    s.sensor.type1_until_nudged = 1;
    s.sensor.type1_every = 50;
    return s;
}

device_setup camera(const std::string& name, int address, model_settings settings) {
    device_setup d;
    d.name = name;
    d.address = address;
    d.product = static_cast<std::uint16_t>(0x0100 + address - 2);
    d.settings = std::move(settings);
    return d;
}

std::vector<std::uint16_t> flat(std::uint16_t value) {
    return std::vector<std::uint16_t>(frame_pixels, value);
}

void add_frame_with_payload(std::vector<in_item>& script, std::uint32_t sequence,
                            std::uint16_t value, int payload_bytes) {
    script.push_back({make_header(sequence, 0), in_end::ok});
    script.push_back({make_payload(flat(value), payload_bytes), in_end::ok});
}

model_settings scripted(std::vector<in_item> script) {
    model_settings s;
    s.scripted = true;
    s.script = std::move(script);
    return s;
}

// Each scripted scenario starts with a type-0 frame (synchronisation takes
// it), then delivers exactly two acceptable frames among rejected ones, and
// falls silent.

// A payload one byte short of the minimum is rejected; a payload of exactly
// the minimum is accepted and its last 14 pixels keep what the buffer held
// (the full first payload: 100).
model_settings short_payloads() {
    std::vector<in_item> script;
    add_frame(script, 1, 0, flat(100));
    add_frame_with_payload(script, 2, 200, 38399);
    add_frame_with_payload(script, 3, 300, 38400);
    add_frame(script, 4, 0, flat(400));
    return scripted(std::move(script));
}

// Headers with a wrong magic or one byte too short are rejected, and so are
// their payloads when read as headers.
model_settings bad_magic() {
    std::vector<in_item> script;
    add_frame(script, 1, 0, flat(10));
    script.push_back({make_header(2, 0, header_length, header_magic ^ 1), in_end::ok});
    script.push_back({make_payload(flat(20)), in_end::ok});
    add_frame(script, 3, 0, flat(30));
    script.push_back({make_header(4, 0, header_length - 1), in_end::ok});
    script.push_back({make_payload(flat(40)), in_end::ok});
    add_frame(script, 5, 0, flat(50));
    return scripted(std::move(script));
}

// The initial "no frame yet" value and repeats of the last accepted sequence
// value are rejected; a value seen earlier but not last is accepted.
model_settings repeated_sequences() {
    std::vector<in_item> script;
    add_frame(script, 0xFFFFFFFF, 0, flat(5));
    add_frame(script, 7, 0, flat(10));
    add_frame(script, 7, 0, flat(20));
    add_frame(script, 8, 0, flat(30));
    add_frame(script, 8, 0, flat(40));
    add_frame(script, 7, 0, flat(50));
    return scripted(std::move(script));
}

}  // namespace

const std::vector<std::string>& scenario_names() {
    static const std::vector<std::string> names = {
        "default",        "stall",        "unplug",
        "short_payloads", "bad_magic",    "repeated_sequences",
        "no_type0",       "no_device",    "refuses_open",
        "two_devices",    "refuses_first"};
    return names;
}

bool make_scenario(const std::string& name, double frame_period_ms, scenario& out) {
    out.devices.clear();
    const model_settings live = sensor(frame_period_ms);
    if (name == "default") {
        out.devices.push_back(camera("1-1", 2, live));
    } else if (name == "stall" || name == "unplug") {
        // Falls silent (or disappears) after 40 frames, in the middle of a
        // 200-frame capture.
        model_settings s = live;
        s.frames_before_stall = 40;
        s.unplug_instead_of_stall = name == "unplug";
        out.devices.push_back(camera("1-1", 2, s));
    } else if (name == "short_payloads") {
        out.devices.push_back(camera("1-1", 2, short_payloads()));
    } else if (name == "bad_magic") {
        out.devices.push_back(camera("1-1", 2, bad_magic()));
    } else if (name == "repeated_sequences") {
        out.devices.push_back(camera("1-1", 2, repeated_sequences()));
    } else if (name == "no_type0") {
        model_settings s = live;
        s.sensor.type1_every = 1;  // every frame, before and after the nudge
        out.devices.push_back(camera("1-1", 2, s));
    } else if (name == "no_device") {
        // Something else on the bus, but no camera.
        device_setup other = camera("1-1", 2, live);
        other.vendor = 0x1D6B;
        other.product = 0x0002;
        out.devices.push_back(other);
    } else if (name == "refuses_open") {
        device_setup d = camera("1-1", 2, live);
        d.refuses_open = true;
        out.devices.push_back(d);
    } else if (name == "two_devices" || name == "refuses_first") {
        // libusb lists devices in reverse order of enumeration: 1-2 first.
        out.devices.push_back(camera("1-1", 2, live));
        out.devices.push_back(camera("1-2", 3, live));
        out.devices.back().refuses_open = name == "refuses_first";
    } else {
        return false;
    }
    return true;
}

}  // namespace emulator
