#pragma once

#include <cstdio>

// Clears the row and column profiles before a capture.
void reset_profiles();

// Turns the accumulator into the mean type-0 frame, computes its row and
// column profiles and global mean, and writes the ROW_PROFILE, COL_PROFILE and
// PIXEL_DEVIATION sections to `report`.
void write_profile_sections(std::FILE* report, int type0_frames);
