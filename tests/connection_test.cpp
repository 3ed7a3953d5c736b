// Finding, opening, configuring and claiming the device: which devices of the
// library's list are looked at and opened, which one the run then talks to,
// and what a failed connection leaves behind.

#include <gtest/gtest.h>

#include <libusb.h>

#include <fstream>
#include <ostream>

#include "device_link_support.h"
#include "tool_harness.h"

using namespace device_link;
using fake_usb::device_entry;

namespace {

// A camera that streams type-0 frames once started, and its variants.
enum class device {
    match,
    match_other_product,
    other_vendor,
    refuses_open,
    no_descriptor,
    refuses_claim,
    refuses_configuration
};

device_entry entry(device kind) {
    device_entry d{.settings = script().frames(2, 0).settings()};
    switch (kind) {
        case device::match:
            break;
        case device::match_other_product:
            d.product = 0xBEEF;
            break;
        case device::other_vendor:
            d.vendor = 0x833D;
            break;
        case device::refuses_open:
            d.opens = false;
            break;
        case device::no_descriptor:
            d.descriptor_fails = true;
            break;
        case device::refuses_claim:
            d.settings.claim_fails = true;
            break;
        case device::refuses_configuration:
            d.settings.configuration_fails = true;
            break;
    }
    return d;
}

constexpr int none = -1;

struct connection_case {
    const char* name;
    std::vector<device> devices;  // the library's list, in order
    int init_result;
    int list_error;
    int status;
    const char* out;             // nullptr: the summary line of a complete run
    std::vector<int> described;  // devices whose descriptor was read, in order
    std::vector<int> opened;     // devices libusb_open was called for, in order
    int used;                    // device configured and claimed; none if not reached
};

void PrintTo(const connection_case& c, std::ostream* os) {
    *os << c.name;
}

using enum device;
constexpr int no_mem = LIBUSB_ERROR_NO_MEM;
constexpr int init_error = LIBUSB_ERROR_OTHER;
const char* const no_device = "no device\n";
const char* const complete = nullptr;

const connection_case connection_cases[] = {
    {"NoDevice", {}, 0, 0, 1, no_device, {}, {}, none},
    {"DeviceListError", {match}, 0, no_mem, 1, no_device, {}, {}, none},
    {"OnlyOtherVendors", {other_vendor, other_vendor}, 0, 0, 1, no_device, {0, 1}, {}, none},
    {"NoMatchOpens", {refuses_open, refuses_open}, 0, 0, 1, no_device, {0, 1}, {0, 1}, none},
    {"FirstOfTwoMatchesIsUsed", {match, match}, 0, 0, 0, complete, {0}, {0}, 0},
    {"FirstMatchFailsToOpen", {refuses_open, match}, 0, 0, 0, complete, {0, 1}, {0, 1}, 1},
    {"OtherVendorSkipped", {other_vendor, match_other_product}, 0, 0, 0, complete, {0, 1}, {1}, 1},
    {"UnreadableDescriptorSkipped", {no_descriptor, match}, 0, 0, 0, complete, {0, 1}, {1}, 1},
    {"InitFails", {match}, init_error, 0, 1, "", {}, {}, none},
    {"ClaimFails", {refuses_claim}, 0, 0, 1, "", {0}, {0}, 0},
    {"ConfigurationFailuresIgnored", {refuses_configuration}, 0, 0, 0, complete, {0}, {0}, 0},
};

class Connection : public testing::TestWithParam<connection_case> {};

std::vector<int> devices_in(const std::string& function) {
    std::vector<int> out;
    for (const auto& c : calls_of(function)) out.push_back(c.device);
    return out;
}

TEST_P(Connection, OpensTheFirstMatchingDeviceThatOpens) {
    const connection_case& c = GetParam();
    fake_usb::reset();
    fake_usb::set_init_result(c.init_result);
    fake_usb::set_device_list_error(c.list_error);
    for (const device kind : c.devices) fake_usb::add_device(entry(kind));
    const std::string path = temp_dir() + "/r.txt";

    const tool_run run = run_tool({"0", path});

    EXPECT_EQ(run.status, c.status);
    const bool completes = c.out == complete;
    EXPECT_EQ(run.out, completes ? "captured 0 frames (type0=0 type1=0) -> " + path + "\n" : c.out);
    EXPECT_EQ(devices_in("get_device_descriptor"), c.described);
    EXPECT_EQ(devices_in("open"), c.opened);

    if (c.init_result != 0) {
        // Nothing but the failed initialisation.
        ASSERT_EQ(fake_usb::calls().size(), 1u);
        EXPECT_EQ(fake_usb::calls()[0].function, "init");
    } else {
        // The list is released, devices unreferenced, whatever it held.
        const auto frees = calls_of("free_device_list");
        ASSERT_EQ(frees.size(), 1u);
        EXPECT_EQ(frees[0].value, 1);
    }

    if (c.used == none) {
        EXPECT_TRUE(calls_of("set_configuration").empty());
        EXPECT_TRUE(calls_of("claim_interface").empty());
    } else {
        // Configuration 2, then 1, then interface 0, all on the device that
        // was opened; automatic kernel-driver detach is asked for before the
        // claim.
        std::vector<std::string> steps;
        int detach_requests = 0;
        bool claimed = false;
        for (const auto& k : fake_usb::calls()) {
            if (k.function == "set_configuration" || k.function == "claim_interface") {
                EXPECT_EQ(k.device, c.used) << k.function;
                steps.push_back(k.function + " " + std::to_string(k.value));
                claimed = claimed || k.function == "claim_interface";
            } else if (k.function == "set_auto_detach_kernel_driver") {
                EXPECT_EQ(k.device, c.used);
                EXPECT_EQ(k.value, 1);
                EXPECT_FALSE(claimed) << "detach requested after the claim";
                ++detach_requests;
            }
        }
        EXPECT_EQ(steps, (std::vector<std::string>{"set_configuration 2", "set_configuration 1",
                                                   "claim_interface 0"}));
        EXPECT_EQ(detach_requests, 1);
    }

    if (completes) {
        for (const auto& k : fake_usb::calls()) {
            if (reaches_device(k)) {
                EXPECT_EQ(k.device, c.used);
            }
        }
        EXPECT_EQ(commands_sent().back(), stop_packet);
    } else {
        // Nothing is sent after a failed connection and no report is made.
        for (const auto& k : fake_usb::calls()) EXPECT_FALSE(reaches_device(k)) << k.function;
        EXPECT_FALSE(file_exists(path));
    }
    // The handle (if opened) and the context (if created) are released.
    EXPECT_EQ(fake_usb::open_handles(), 0);
    EXPECT_EQ(fake_usb::live_contexts(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Connection, testing::ValuesIn(connection_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectionFailure, NoDeviceLeavesAnEarlierReportUntouched) {
    fake_usb::reset();
    const std::string path = temp_dir() + "/r.txt";
    std::ofstream(path) << "earlier report\n";

    const tool_run run = run_tool({"5", path});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "no device\n");
    EXPECT_EQ(read_file(path), "earlier report\n");
}

}  // namespace
