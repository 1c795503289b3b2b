// The two inputs the option targets hand the engine, written once per process into the work folder.
#pragma once

#include "fuzz/FuzzSupport.h"
#include "tests/support/MediaFixtures.h"

#include <string>
#include <vector>

namespace fuzz_support {

struct EngineInputs {
    std::string tone; // a short WAV
    std::string clip; // a short video with sound
};

// Their names in the work folder, which a case's clearing keeps.
inline const std::vector<std::string> kEngineInputNames = {"tone.wav", "clip.avi"};

inline EngineInputs WriteEngineInputs()
{
    EngineInputs inputs{WorkFile(kEngineInputNames[0]), WorkFile(kEngineInputNames[1])};
    testing_support::WriteSineWav(inputs.tone, 0.1);
    testing_support::MediaRecipe recipe;
    recipe.seconds = 0.2;
    recipe.video.emplace();
    recipe.video->width = 64;
    recipe.video->height = 48;
    recipe.audio = testing_support::AudioTrack{"mp2", 44100, 2};
    testing_support::WriteMediaFile(inputs.clip, recipe);
    return inputs;
}

} // namespace fuzz_support
