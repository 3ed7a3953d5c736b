#include "run_sequence.h"

int main(int argc, char** argv) {
    return run_frame_stats(argc, argv);
}
