// Writes a sine tone WAV for the benchmarks: make_tone FILE SECONDS [RATE [CHANNELS]].
#include "tests/support/MediaFixtures.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::cerr << "usage: make_tone FILE SECONDS [RATE [CHANNELS]]\n";
        return 1;
    }
    return testing_support::WriteFromProgram([&] {
        testing_support::WriteSineWav(argv[1], std::atof(argv[2]), argc > 3 ? std::atoi(argv[3]) : 44100,
                                      argc > 4 ? std::atoi(argv[4]) : 2);
    });
}
