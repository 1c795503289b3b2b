// "veloxc batch": folders of recordings to MP3 or WAV, several at once, tags kept.
#pragma once

#include <string>
#include <vector>

namespace veloxc {

// The words after "batch"; returns the exit status.
int BatchCommand(const std::vector<std::string> &words);

} // namespace veloxc
