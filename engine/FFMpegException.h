// Exceptions raised while a job is set up. Each carries its message only.
#pragma once

#include <stdexcept>

// The engine's own rejections.
class FFMpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A number option whose value is no number: "'%s' is not a valid integer value" and the like.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value that breaks an invariant the option checks, such as a tag that is not four characters.
class EAssertionFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
