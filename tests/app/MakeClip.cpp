// Writes a short video with sound for looking at the options window: make_clip FILE [SECONDS].
#include "tests/support/MediaFixtures.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::cerr << "usage: app_make_clip FILE [SECONDS]\n";
        return 1;
    }
    testing_support::MediaRecipe recipe;
    recipe.seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    testing_support::VideoTrack video;
    video.width = 320;
    video.height = 240;
    video.pattern = testing_support::VideoPattern::Bands;
    recipe.video = video;
    recipe.audio = testing_support::AudioTrack{};
    recipe.tags = {{"title", "Colour bands"}, {"artist", "Velox"}};
    return testing_support::WriteFromProgram([&] { testing_support::WriteMediaFile(argv[1], recipe); });
}
