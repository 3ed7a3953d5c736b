#pragma once

constexpr int sync_attempts = 120;
constexpr int sync_nudge_at = 10;

enum class sync_result { reached, gave_up, interrupted };

// Reads frames into `payload` until one of type 0 arrives, nudging the device
// with command 0x72 argument 1 when the tenth frame is accepted. Gives up
// after sync_attempts reads without a type-0 frame; a stop signal ends it
// before the next read.
sync_result synchronise(unsigned char* payload);
