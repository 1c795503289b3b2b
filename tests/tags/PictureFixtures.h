// Small real pictures for the tag tests, encoded at test time through the media libraries.
#pragma once

#include <string>
#include <vector>

namespace tagtest {

// A width x height picture encoded by the named encoder ("png", "mjpeg"). Needs the libraries loaded;
// throws std::runtime_error naming the step that failed.
std::vector<unsigned char> EncodePicture(const std::string &encoder, int width = 16, int height = 16);

// A small PNG followed by zero bytes up to size: still a PNG by its first bytes.
std::vector<unsigned char> PaddedPng(size_t size);

} // namespace tagtest
