#pragma once

// Reads the frame count the way atoi does (leading white space, optional
// sign, decimal digits up to the first other character; no number gives 0),
// but clamps a value beyond the range of int instead of overflowing.
int parse_count(const char* text);

// What the first argument asks for: a run, or only the usage or the version
// text (-h, --help, --version), which touch neither the device nor any file.
enum class command { run, help, version };
command requested_command(int argc, char** argv);

// Prints the usage or version text on standard output.
void print_usage();
void print_version();
