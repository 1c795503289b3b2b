// Tags and the cover of an input carried into its finished output, before it takes its name.
#pragma once

#include <string>

namespace batch {

struct TagCarry {
    bool tags = true;   // the input's tags and cover; false: only the record
    std::string record; // what the output records of its input; empty: nothing
};

// Writes into written (a file of any kind that holds tags) what carry asks for: the tags TagLib
// reads from input, else those the media libraries read. A sound format that holds no tags
// (batch/OutputFormats.h) is left as it is, with nothing noted. note gets what was not kept, as " (...)" parts. False
// with error when the writing failed half way: written can then no longer be trusted.
bool CarryTags(const std::string &input, const std::string &written, const TagCarry &carry, std::string &note,
               std::string &error);

// The local file an engine name opens ("file:" taken off); empty for any other protocol.
std::string LocalFileOf(const std::string &name);

} // namespace batch
