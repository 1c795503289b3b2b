// Writes an H.264 video without sound for the benchmarks: make_video FILE SECONDS [WIDTH HEIGHT].
#include "tests/support/MediaFixtures.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::cerr << "usage: make_video FILE SECONDS [WIDTH HEIGHT]\n";
        return 1;
    }
    testing_support::MediaRecipe recipe;
    recipe.seconds = std::atof(argv[2]);
    testing_support::VideoTrack video;
    video.codec = "libx264";
    video.width = argc > 4 ? std::atoi(argv[3]) : 1280;
    video.height = argc > 4 ? std::atoi(argv[4]) : 720;
    video.gopSize = 50;
    recipe.video = video;
    return testing_support::WriteFromProgram([&] { testing_support::WriteMediaFile(argv[1], recipe); });
}
