#pragma once

// Script builders and views of the stand-in's call log for the device-link
// tests: what the camera streams, and what reached it, in a form that a test
// can compare line by line.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tool_harness.h"

namespace device_link {

constexpr int frame_endpoint = 0x81;
constexpr int reply_endpoint = 0x82;
constexpr int command_endpoint = 0x03;
constexpr int header_request = 64;      // bytes the tool asks for per header
constexpr int payload_request = 40000;  // bytes the tool asks for per payload

// Command packets as the device must receive them.
inline const std::vector<std::string> startup_packets = {"6B B6 B6 6B",
                                                         "6C B6 B6 6B",
                                                         "6F B6 B6 6B",
                                                         "72 B6 B6 6B 00 00 00 00",
                                                         "72 B6 B6 6B 00 00 00 00",
                                                         "73 B6 B6 6B"};
inline const std::string nudge_packet = "72 B6 B6 6B 01 00 00 00";
inline const std::string stop_packet = "74 B6 B6 6B";

// Frame-endpoint transfers, in the order the camera delivers them once it
// streams. Frames made by frames() and bad_headers() get sequence values of
// their own (from 0x1000 on), so each is new to the reader.
struct script {
    std::vector<emulator::in_item> items;

    script& header(std::uint32_t sequence, std::uint8_t type, int length = emulator::header_length,
                   emulator::in_end end = emulator::in_end::ok,
                   std::uint32_t magic = emulator::header_magic) {
        items.push_back({emulator::make_header(sequence, type, length, magic), end});
        return *this;
    }
    script& payload(int length = emulator::payload_length,
                    emulator::in_end end = emulator::in_end::ok, std::uint16_t pixel = 0) {
        items.push_back({emulator::make_payload(flat_pixels(pixel), length), end});
        return *this;
    }
    script& frame(std::uint32_t sequence, std::uint8_t type, std::uint16_t pixel = 0) {
        return header(sequence, type)
            .payload(emulator::payload_length, emulator::in_end::ok, pixel);
    }
    script& frames(int n, std::uint8_t type) {
        for (int i = 0; i < n; ++i) frame(fresh_sequence(), type);
        return *this;
    }
    // Headers that fail the magic check: read attempts that are rejected
    // at once.
    script& bad_headers(int n) {
        for (int i = 0; i < n; ++i) {
            header(fresh_sequence(), 0, emulator::header_length, emulator::in_end::ok, 0xDEADBEEF);
        }
        return *this;
    }
    emulator::model_settings settings() const { return scripted(items); }

  private:
    std::uint32_t fresh_sequence() const {
        return 0x1000 + static_cast<std::uint32_t>(items.size());
    }
};

inline std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char b[4];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, out.empty() ? "%02X" : " %02X", v);
        out += b;
    }
    return out;
}

// One line per transfer, halt clearing and wait, with the virtual time at
// which it began, e.g. "@100 out 0x03 len=8 t=2000 [72 B6 B6 6B 00 00 00 00]".
inline std::string traffic() {
    std::string out;
    char line[256];
    for (const fake_usb::call& c : fake_usb::calls()) {
        const long long at = c.at_ms;
        if (c.function == "bulk_transfer" && (c.endpoint & 0x80) == 0) {
            std::snprintf(line, sizeof line, "@%lld out 0x%02X len=%d t=%u [%s]\n", at, c.endpoint,
                          c.length, c.timeout, hex(c.bytes).c_str());
        } else if (c.function == "bulk_transfer") {
            std::snprintf(line, sizeof line, "@%lld in 0x%02X len=%d t=%u\n", at, c.endpoint,
                          c.length, c.timeout);
        } else if (c.function == "clear_halt") {
            std::snprintf(line, sizeof line, "@%lld clear_halt 0x%02X\n", at, c.endpoint);
        } else if (c.function == "sleep") {
            std::snprintf(line, sizeof line, "@%lld sleep %d\n", at, c.length);
        } else {
            continue;
        }
        out += line;
    }
    return out;
}

// What the camera itself recorded: configuration, claim, commands, halts.
inline std::string device_events(int device = 0) {
    std::string out;
    char line[256];
    for (const emulator::device_event& e : fake_usb::model(device).events()) {
        const long long at = e.at_ms;
        if (e.what == "command" || e.what == "rejected_command") {
            std::snprintf(line, sizeof line, "@%lld %s [%s]\n", at, e.what.c_str(),
                          hex(e.bytes).c_str());
        } else if (e.what == "clear_halt") {
            std::snprintf(line, sizeof line, "@%lld clear_halt 0x%02X\n", at, e.endpoint);
        } else {
            std::snprintf(line, sizeof line, "@%lld %s %d\n", at, e.what.c_str(), e.value);
        }
        out += line;
    }
    return out;
}

inline bool reaches_device(const fake_usb::call& c) {
    return c.function == "bulk_transfer" || c.function == "clear_halt";
}

inline bool is_header_read(const fake_usb::call& c) {
    return c.function == "bulk_transfer" && c.endpoint == frame_endpoint &&
           c.length == header_request;
}

inline int header_reads() {
    int n = 0;
    for (const auto& c : fake_usb::calls()) n += is_header_read(c) ? 1 : 0;
    return n;
}

// Packets sent on the command endpoint, as hex.
inline std::vector<std::string> commands_sent() {
    std::vector<std::string> out;
    for (const auto& c : calls_of("bulk_transfer", command_endpoint)) out.push_back(hex(c.bytes));
    return out;
}

// Everything the device saw after the last frame-endpoint transfer.
inline std::vector<fake_usb::call> device_calls_after_last_frame_read() {
    const auto& calls = fake_usb::calls();
    std::size_t last = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].function == "bulk_transfer" && calls[i].endpoint == frame_endpoint) last = i;
    }
    std::vector<fake_usb::call> out;
    for (std::size_t i = last + 1; i < calls.size(); ++i) {
        if (reaches_device(calls[i])) out.push_back(calls[i]);
    }
    return out;
}

}  // namespace device_link
