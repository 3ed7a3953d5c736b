#include "camera_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace emulator {

namespace {
constexpr int command_endpoint = 0x03;
constexpr int reply_endpoint = 0x82;
constexpr int frame_endpoint = 0x81;

void put_le32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
}  // namespace

std::vector<std::uint8_t> make_header(std::uint32_t sequence, std::uint8_t type, int length,
                                      std::uint32_t magic) {
    std::vector<std::uint8_t> header(static_cast<std::size_t>(std::max(length, 28)), 0);
    put_le32(header.data(), magic);
    put_le32(header.data() + 4, sequence);
    header[12] = type;
    header.resize(static_cast<std::size_t>(length));
    return header;
}

std::vector<std::uint8_t> make_payload(const std::vector<std::uint16_t>& pixels, int length) {
    std::vector<std::uint8_t> payload(static_cast<std::size_t>(std::max(length, payload_length)),
                                      0);
    for (std::size_t i = 0; i < pixels.size() && i < frame_pixels; ++i) {
        payload[28 + 2 * i] = static_cast<std::uint8_t>(pixels[i] & 0xFF);
        payload[29 + 2 * i] = static_cast<std::uint8_t>(pixels[i] >> 8);
    }
    payload.resize(static_cast<std::size_t>(length));
    return payload;
}

void add_frame(std::vector<in_item>& script, std::uint32_t sequence, std::uint8_t type,
               const std::vector<std::uint16_t>& pixels) {
    script.push_back({make_header(sequence, type), in_end::ok});
    script.push_back({make_payload(pixels), in_end::ok});
}

camera_model::camera_model(model_settings settings)
    : settings_(std::move(settings)),
      configuration_(settings_.configuration),
      sequence_(settings_.sensor.first_sequence),
      rng_(settings_.sensor.seed) {
    streaming_ = settings_.stream_without_startup;
    if (settings_.scripted) return;

    // Fixed pattern of a plausible sensor: a smooth row shading, column
    // stripes from the readout amplifiers, per-pixel offsets and a few hot
    // pixels.
    fixed_pattern_.resize(frame_pixels);
    std::normal_distribution<double> offset(0.0, 3.0);
    for (int r = 0; r < frame_height; ++r) {
        for (int c = 0; c < frame_width; ++c) {
            const double row = 25.0 * std::sin(r * 0.05) + 0.2 * r;
            const double col = (c % 8 == 0 ? 12.0 : 0.0) + 6.0 * std::cos(c * 0.04);
            fixed_pattern_[r * frame_width + c] = row + col + offset(rng_);
        }
    }
    std::uniform_int_distribution<int> where(0, frame_pixels - 1);
    for (int i = 0; i < 12; ++i) fixed_pattern_[where(rng_)] += 400.0;
}

std::vector<device_event> camera_model::commands() const {
    std::vector<device_event> out;
    for (const auto& e : events_) {
        if (e.what == "command") out.push_back(e);
    }
    return out;
}

usb_status camera_model::bulk_out(int endpoint, const std::uint8_t* data, int length,
                                  std::int64_t now_ms) {
    if (unplugged_) return usb_status::no_device;
    if (endpoint != command_endpoint) return usb_status::stall;
    if (settings_.commands_rejected) {
        events_.push_back({now_ms, "rejected_command", endpoint,
                           std::vector<std::uint8_t>(data, data + length), 0});
        return usb_status::stall;
    }
    on_command(data, length, now_ms);
    return usb_status::ok;
}

void camera_model::on_command(const std::uint8_t* packet, int length, std::int64_t now_ms) {
    events_.push_back({now_ms, "command", command_endpoint,
                       std::vector<std::uint8_t>(packet, packet + length), 0});
    if (!settings_.replies_silent) ++replies_owed_;
    if (length < 4) return;
    switch (packet[0]) {
        case 0x73:  // last start-up command: the stream begins one frame period later
            streaming_ = true;
            next_frame_ms_ = now_ms + static_cast<std::int64_t>(settings_.sensor.frame_period_ms);
            break;
        case 0x72:
            if (length >= 5 && packet[4] == 1) nudged_ = true;
            break;
        case 0x74:
            streaming_ = false;
            break;
        default:
            break;
    }
}

const in_item* camera_model::head(std::int64_t now_ms, std::int64_t& ready_at) {
    ready_at = -1;
    if (!streaming_ || silent_) return nullptr;
    if (settings_.scripted) {
        if (script_next_ >= settings_.script.size() && settings_.loop_script) script_next_ = 0;
        if (script_next_ < settings_.script.size()) return &settings_.script[script_next_];
        silent_ = true;
        return nullptr;
    }
    if (queue_.empty()) {
        if (settings_.frames_before_stall >= 0 &&
            frames_generated_ >= settings_.frames_before_stall) {
            silent_ = true;
            return nullptr;
        }
        if (now_ms < next_frame_ms_) {
            ready_at = next_frame_ms_;
            return nullptr;
        }
        generate_frame();
        // A steady rate; a host that fell behind gets the newest frame, as a
        // sensor that keeps exposing would deliver it.
        const double period = settings_.sensor.frame_period_ms;
        next_frame_ms_ += static_cast<std::int64_t>(period);
        if (next_frame_ms_ < now_ms - static_cast<std::int64_t>(period)) next_frame_ms_ = now_ms;
    }
    return &queue_.front();
}

void camera_model::pop_head() {
    if (settings_.scripted) {
        ++script_next_;
    } else {
        queue_.pop_front();
    }
}

in_result camera_model::bulk_in(int endpoint, std::uint8_t* data, int max_length,
                                std::int64_t now_ms) {
    in_result result;
    if (unplugged_) {
        result.status = usb_status::no_device;
        return result;
    }
    if (endpoint == reply_endpoint) {
        if (replies_owed_ == 0) return result;  // pending: nothing to say
        --replies_owed_;
        const std::uint8_t reply[4] = {0x00, 0x00, 0x01, 0x00};
        result.length = std::min(max_length, 4);
        std::memcpy(data, reply, static_cast<std::size_t>(result.length));
        result.status = usb_status::ok;
        return result;
    }
    if (endpoint != frame_endpoint) {
        result.status = usb_status::stall;
        return result;
    }

    const in_item* item = head(now_ms, result.ready_at_ms);
    if (item == nullptr) {
        if (silent_ && settings_.unplug_instead_of_stall) {
            unplugged_ = true;
            result.status = usb_status::no_device;
        }
        return result;
    }
    switch (item->end) {
        case in_end::timeout:
            return result;  // its bytes go out when the host gives up
        case in_end::no_device:
            unplugged_ = true;
            result.status = usb_status::no_device;
            return result;
        case in_end::ok:
        case in_end::error:
            break;
    }
    const int length = static_cast<int>(item->bytes.size());
    result.length = std::min(length, max_length);
    // copy_n, not memcpy: an empty transfer's data() may be null.
    std::copy_n(item->bytes.begin(), result.length, data);
    // More data than the host asked for is an overflow on a real bus.
    result.status =
        item->end == in_end::error || length > max_length ? usb_status::error : usb_status::ok;
    pop_head();
    return result;
}

int camera_model::in_cancelled(int endpoint, std::uint8_t* data, int max_length,
                               std::int64_t now_ms) {
    if (endpoint != frame_endpoint || unplugged_) return 0;
    std::int64_t ready_at = -1;
    const in_item* item = head(now_ms, ready_at);
    if (item == nullptr || item->end != in_end::timeout) return 0;
    const int length = std::min(static_cast<int>(item->bytes.size()), max_length);
    std::copy_n(item->bytes.begin(), length, data);
    pop_head();
    return length;
}

usb_status camera_model::clear_halt(int endpoint, std::int64_t now_ms) {
    if (unplugged_) return usb_status::no_device;
    events_.push_back({now_ms, "clear_halt", endpoint, {}, 0});
    return usb_status::ok;
}

usb_status camera_model::set_configuration(int value, std::int64_t now_ms) {
    if (unplugged_) return usb_status::no_device;
    events_.push_back({now_ms, "set_configuration", 0, {}, value});
    if (settings_.configuration_fails) return usb_status::error;
    if (claimed_) return usb_status::error;  // busy while an interface is claimed
    if (value != 1 && value != 2) return usb_status::error;
    configuration_ = value;
    return usb_status::ok;
}

usb_status camera_model::claim_interface(int number, std::int64_t now_ms) {
    if (unplugged_) return usb_status::no_device;
    events_.push_back({now_ms, "claim", 0, {}, number});
    if (settings_.claim_fails || number != 0) return usb_status::error;
    claimed_ = true;
    return usb_status::ok;
}

usb_status camera_model::release_interface(int number, std::int64_t now_ms) {
    if (unplugged_) return usb_status::no_device;
    events_.push_back({now_ms, "release", 0, {}, number});
    claimed_ = false;
    return usb_status::ok;
}

std::uint8_t camera_model::next_type() {
    const sensor_settings& s = settings_.sensor;
    if (s.type1_until_nudged != 0 && !nudged_) return 1;
    if (s.type1_every > 0 && frames_generated_ % s.type1_every == s.type1_every - 1) return 1;
    return 0;
}

void camera_model::generate_frame() {
    const sensor_settings& s = settings_.sensor;
    const std::uint8_t type = next_type();
    in_item header{make_header(sequence_++, type), in_end::ok};
    in_item payload{std::vector<std::uint8_t>(payload_length, 0), in_end::ok};
    const double level = s.base_level + s.drift_per_frame * frames_generated_;
    for (int i = 0; i < frame_pixels; ++i) {
        const double v = level + fixed_pattern_[i] + s.noise_sigma * noise_(rng_);
        const auto sample = static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
        payload.bytes[28 + 2 * i] = static_cast<std::uint8_t>(sample & 0xFF);
        payload.bytes[29 + 2 * i] = static_cast<std::uint8_t>(sample >> 8);
    }
    ++frames_generated_;
    queue_.push_back(std::move(header));
    queue_.push_back(std::move(payload));
}

}  // namespace emulator
