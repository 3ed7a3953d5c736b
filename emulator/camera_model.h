#pragma once

// A model of the imaging camera as seen from the USB bus. It knows nothing of
// how it is reached: a transport (the link-time libusb stand-in with a virtual
// clock, or the usbfs emulation under umockdev with the real clock) hands it
// each transfer with the current time and moves the bytes.
//
// What it does: accepts command packets on 0x03 and answers each with a short
// reply on 0x82; starts streaming once the start-up command 0x73 arrives and
// stops on 0x74; delivers each frame on 0x81 as a header transfer followed by
// a payload transfer, either generated (a sensor with fixed row, column and
// pixel patterns, temporal noise and drift) or from a scripted list of
// transfers that tests write byte for byte.

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace emulator {

constexpr int frame_width = 160;
constexpr int frame_height = 120;
constexpr int frame_pixels = frame_width * frame_height;
constexpr int header_length = 28;
constexpr int payload_length = 28 + 2 * frame_pixels;  // 38,428
constexpr std::uint32_t header_magic = 0x1BB1B11B;

// How one IN transfer on the frame endpoint ends.
enum class in_end {
    ok,         // completes with the bytes
    error,      // completes with the bytes and an I/O error status
    timeout,    // delivers the bytes, then nothing more until the host gives up
    no_device,  // the device is gone: this and every later transfer fails
};

struct in_item {
    std::vector<std::uint8_t> bytes;
    in_end end = in_end::ok;
};

// Outcome of a transfer as the model reports it to a transport.
enum class usb_status { ok, pending, timeout, error, stall, no_device };

struct in_result {
    usb_status status = usb_status::pending;
    int length = 0;  // bytes written into the host's buffer
    // For pending: the model time from which asking again may complete the
    // transfer; -1 when nothing will arrive unless the host acts.
    std::int64_t ready_at_ms = -1;
};

// What happened on the device, for tests to read.
struct device_event {
    std::int64_t at_ms = 0;
    std::string what;  // "command", "clear_halt", "set_configuration", "claim", "release"
    int endpoint = 0;
    std::vector<std::uint8_t> bytes;  // command packet
    int value = 0;                    // configuration or interface number
};

struct sensor_settings {
    double frame_period_ms = 33.3;  // steady frame rate once streaming
    int type1_until_nudged = 1;     // stream type 1 until command 0x72 argument 1 arrives
    int type1_every = 0;            // after that, every n-th frame is of type 1 (0: never)
    double base_level = 2000.0;
    double noise_sigma = 4.0;
    double drift_per_frame = 0.02;
    std::uint32_t first_sequence = 1;
    unsigned seed = 12345;
};

struct model_settings {
    // Generated sensor frames, or the scripted transfers below when `scripted`.
    bool scripted = false;
    sensor_settings sensor;
    std::vector<in_item> script;  // frame endpoint transfers, in order, once streaming
    bool loop_script = false;     // start the script again when it runs out
    // After the script (or after `frames_before_stall` generated frames, when
    // not negative): silence, or the device disappears.
    int frames_before_stall = -1;
    bool unplug_instead_of_stall = false;
    bool stream_without_startup = false;  // stream from the first read on
    bool commands_rejected = false;       // every command transfer fails
    bool replies_silent = false;          // no reply is ever sent on 0x82
    bool claim_fails = false;
    bool configuration_fails = false;  // every set_configuration request fails
    int configuration = 1;             // configuration the device starts in
};

class camera_model {
  public:
    explicit camera_model(model_settings settings);

    // Host to device (endpoint 0x03).
    usb_status bulk_out(int endpoint, const std::uint8_t* data, int length, std::int64_t now_ms);
    // Device to host: completes an IN transfer of at most `max_length` bytes
    // now, or answers pending.
    in_result bulk_in(int endpoint, std::uint8_t* data, int max_length, std::int64_t now_ms);
    // The host gave up on a pending IN transfer (its time-out). Writes what
    // had arrived before that into `data` and answers its length.
    int in_cancelled(int endpoint, std::uint8_t* data, int max_length, std::int64_t now_ms);

    usb_status clear_halt(int endpoint, std::int64_t now_ms);
    usb_status set_configuration(int value, std::int64_t now_ms);
    usb_status claim_interface(int number, std::int64_t now_ms);
    usb_status release_interface(int number, std::int64_t now_ms);

    bool unplugged() const { return unplugged_; }
    bool claimed() const { return claimed_; }
    int configuration() const { return configuration_; }
    const std::vector<device_event>& events() const { return events_; }
    std::vector<device_event> commands() const;

  private:
    void on_command(const std::uint8_t* packet, int length, std::int64_t now_ms);
    // The transfer due next on the frame endpoint, or null with `ready_at`
    // set (-1: nothing will come).
    const in_item* head(std::int64_t now_ms, std::int64_t& ready_at);
    void pop_head();
    void generate_frame();
    std::uint8_t next_type();

    model_settings settings_;
    std::vector<device_event> events_;
    int configuration_;
    bool claimed_ = false;
    bool streaming_ = false;
    bool nudged_ = false;
    bool unplugged_ = false;
    int replies_owed_ = 0;

    // Frame endpoint: transfers queued for delivery, and the partial bytes of
    // a transfer that ends in a time-out.
    std::deque<in_item> queue_;
    std::size_t script_next_ = 0;
    bool silent_ = false;  // the script or the frame budget ran out: stall or unplug
    int frames_generated_ = 0;
    std::int64_t next_frame_ms_ = 0;
    std::uint32_t sequence_ = 0;

    // Sensor state.
    std::mt19937 rng_;
    std::normal_distribution<double> noise_{0.0, 1.0};
    std::vector<double> fixed_pattern_;  // row + column + pixel offsets
};

// Builders for scripted transfers.
std::vector<std::uint8_t> make_header(std::uint32_t sequence, std::uint8_t type,
                                      int length = header_length,
                                      std::uint32_t magic = header_magic);
// A payload whose pixel i is pixels[i] (little-endian after the 28-byte lead),
// cut or padded to `length` bytes.
std::vector<std::uint8_t> make_payload(const std::vector<std::uint16_t>& pixels,
                                       int length = payload_length);
// A whole frame: header then payload, both completing normally.
void add_frame(std::vector<in_item>& script, std::uint32_t sequence, std::uint8_t type,
               const std::vector<std::uint16_t>& pixels);

}  // namespace emulator
