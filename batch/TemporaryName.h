// The names of the files an output is written to before it is complete: one name per output, that
// proves by itself that this program made it, so that a clean-up never takes a person's file for one.
#pragma once

#include <string>

namespace batch {

// ".NAME.partial-TOKEN" + extension for the output named name. TOKEN is a digest of the whole
// name, then a check of everything else in the temporary name: the same output always gets the
// same temporary name (two runs meet on it), and a name no one typed by hand. NAME is cut so that
// the whole name fits in maxBytes.
std::string TemporaryNameOf(const std::string &name, const std::string &extension, size_t maxBytes = 255);

// Whether a file name is one TemporaryNameOf gives: its check is right.
bool IsTemporaryName(const std::string &name);

// The name's bytes cut to at most size, not inside a UTF-8 sequence.
std::string CutName(const std::string &name, size_t size);

} // namespace batch
