#pragma once

// USB identity and resources of the imaging device.
constexpr unsigned short device_vendor_id = 0x833C;
constexpr int first_configuration = 2;
constexpr int working_configuration = 1;
constexpr int device_interface = 0;

constexpr unsigned char command_endpoint = 0x03;  // bulk OUT: command packets
constexpr unsigned char reply_endpoint = 0x82;    // bulk IN: one reply per command
constexpr unsigned char frame_endpoint = 0x81;    // bulk IN: frame headers and payloads

constexpr unsigned int command_timeout_ms = 2000;
constexpr unsigned int frame_timeout_ms = 200;
