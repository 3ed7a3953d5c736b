#pragma once

// Number formatting for the report and the console, byte for byte as printf's
// "%d", "%u", "%.0f" and "%.1f" print in the C locale: correctly rounded from
// the exact binary value, ties to even, "-0.0" for a negative value that
// rounds to zero, a full stop as decimal point whatever the locale. Each
// function writes at p and returns the end of what it wrote; the caller
// provides room: 32 bytes suffice for any value below 10^29 in magnitude, and
// so for every value the report holds; the longest finite double takes 312.

char* format_int(char* p, long long value);

// `decimals` is 0 or 1.
char* format_fixed(char* p, double value, int decimals);

char* format_text(char* p, const char* text);
