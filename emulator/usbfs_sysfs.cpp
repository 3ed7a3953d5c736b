#include "usbfs_sysfs.h"

#include <cstdio>

namespace emulator {

namespace {
void put_le16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void add_configuration(std::vector<std::uint8_t>& out, std::uint8_t value) {
    const std::uint8_t total = 9 + 9 + 3 * 7;
    const std::uint8_t configuration[] = {9, 0x02, total, 0, 1, value, 0, 0x80, 50};
    const std::uint8_t interface[] = {9, 0x04, 0, 0, 3, 0xFF, 0, 0, 0};
    out.insert(out.end(), std::begin(configuration), std::end(configuration));
    out.insert(out.end(), std::begin(interface), std::end(interface));
    for (const std::uint8_t endpoint : {0x81, 0x82, 0x03}) {
        // Bulk, 512-byte packets (high speed).
        const std::uint8_t descriptor[] = {7, 0x05, endpoint, 0x02, 0x00, 0x02, 0};
        out.insert(out.end(), std::begin(descriptor), std::end(descriptor));
    }
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char digits[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}
}  // namespace

std::vector<std::uint8_t> usb_descriptors(std::uint16_t vendor, std::uint16_t product) {
    std::vector<std::uint8_t> out = {18, 0x01};
    put_le16(out, 0x0200);  // USB 2.0
    out.insert(out.end(), {0xFF, 0x00, 0x00, 64});
    put_le16(out, vendor);
    put_le16(out, product);
    put_le16(out, 0x0100);
    out.insert(out.end(), {0, 0, 0, 2});  // no strings, two configurations
    add_configuration(out, 1);
    add_configuration(out, 2);
    return out;
}

std::string device_node(const device_setup& device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", device.bus, device.address);
    return node;
}

std::string sysfs_path(const device_setup& device) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(device.bus) + "/" +
           device.name;
}

std::string device_record(const device_setup& d) {
    char numbers[512];
    const int minor = (d.bus - 1) * 128 + d.address - 1;
    std::snprintf(numbers, sizeof numbers,
                  "E: BUSNUM=%03d\n"
                  "E: DEVNUM=%03d\n"
                  "E: MAJOR=189\n"
                  "E: MINOR=%d\n"
                  "E: PRODUCT=%x/%x/100\n"
                  "A: busnum=%d\n"
                  "A: devnum=%d\n"
                  "A: dev=189:%d\n"
                  "A: idVendor=%04x\n"
                  "A: idProduct=%04x\n",
                  d.bus, d.address, minor, d.vendor, d.product, d.bus, d.address, minor, d.vendor,
                  d.product);
    const std::string node = device_node(d);
    std::string record = "P: " + sysfs_path(d).substr(4) + "\n";  // without "/sys"
    record += "N: " + node.substr(5) + "\n";
    record += "E: DEVNAME=" + node + "\n";
    record += "E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\n";
    record += numbers;
    record += "A: bConfigurationValue=" + std::to_string(d.settings.configuration) + "\n";
    record += "A: bNumConfigurations=2\nA: bNumInterfaces= 1\nA: speed=480\n";
    record += "H: descriptors=" + hex(usb_descriptors(d.vendor, d.product)) + "\n";
    return record;
}

}  // namespace emulator
