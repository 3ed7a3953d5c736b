#pragma once

#include <cstdint>

// The host's millisecond sleep and monotonic clock. Every wait and every time
// reading of the program goes through these two functions; the tests link a
// virtual clock in their place.
void sleep_ms(int ms);
std::int64_t monotonic_ms();
