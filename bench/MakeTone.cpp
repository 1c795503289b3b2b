// Writes a sine tone WAV for the benchmarks: make_tone FILE SECONDS [RATE [CHANNELS]].
#include "libs/AVLibLoader.h"
#include "tests/support/MediaFixtures.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::cerr << "usage: make_tone FILE SECONDS [RATE [CHANNELS]]\n";
        return 1;
    }
    if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true)) {
        std::cerr << avlib::LastErrorText() << "\n";
        return 1;
    }
    try {
        testing_support::WriteSineWav(argv[1], std::atof(argv[2]), argc > 3 ? std::atoi(argv[3]) : 44100,
                                      argc > 4 ? std::atoi(argv[4]) : 2);
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
