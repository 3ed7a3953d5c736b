#pragma once

#include <cstdint>

// Command words: the low byte is the command code, the upper bytes are the
// fixed tag 0xB6 0xB6 0x6B that every command packet carries.
constexpr std::uint32_t cmd_6b = 0x6BB6B66B;
constexpr std::uint32_t cmd_6c = 0x6BB6B66C;
constexpr std::uint32_t cmd_6f = 0x6BB6B66F;
constexpr std::uint32_t cmd_72 = 0x6BB6B672;  // 8 bytes; argument 1 nudges the device to type 0
constexpr std::uint32_t cmd_73 = 0x6BB6B673;
constexpr std::uint32_t cmd_74 = 0x6BB6B674;  // stop

// Sends one command packet of `length` bytes (4 or 8; the argument's low byte
// goes out only in 8-byte packets) and, if the send succeeded, drains one
// reply. Neither outcome is reported.
void sendcmd(std::uint32_t word, int argument, int length);
