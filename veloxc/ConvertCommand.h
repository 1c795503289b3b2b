// "veloxc convert": one input into one output through the engine.
#pragma once

#include <string>
#include <vector>

namespace veloxc {

// Runs the command on the words after "convert"; returns the exit status.
int ConvertCommand(const std::vector<std::string> &words);

} // namespace veloxc
