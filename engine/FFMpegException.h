// The engine's exception: raised by set-up operations that reject their input; carries a message only.
#pragma once

#include <stdexcept>

class FFMpegException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
