// Writes a WAV for the benchmarks: make_tone FILE SECONDS [RATE [CHANNELS [music [ACCENT_EVERY]]]],
// a sine tone, or music-like sound with a sharp transient every ACCENT_EVERY seconds.
#include "tests/support/MediaFixtures.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::cerr << "usage: make_tone FILE SECONDS [RATE [CHANNELS [music [ACCENT_EVERY]]]]\n";
        return 1;
    }
    return testing_support::WriteFromProgram([&] {
        testing_support::MediaRecipe recipe;
        recipe.seconds = std::atof(argv[2]);
        testing_support::AudioTrack track{"pcm_s16le", argc > 3 ? std::atoi(argv[3]) : 44100,
                                          argc > 4 ? std::atoi(argv[4]) : 2};
        track.music = argc > 5 && std::string(argv[5]) == "music";
        track.accentEvery = argc > 6 ? std::atof(argv[6]) : 0.0;
        recipe.audio = track;
        testing_support::WriteMediaFile(argv[1], recipe);
    });
}
