#pragma once

// Reads the frame count the way atoi does (leading white space, optional
// sign, decimal digits up to the first other character; no number gives 0),
// but clamps a value beyond the range of int instead of overflowing.
int parse_count(const char* text);
