// A test plug-in without "Configure": it can only be named without arguments. It fills plane 0
// with 42.
#include "libs/VideoHook.h"

#include <cstring>

extern "C" {

__attribute__((visibility("default"))) void Process(void *, THookPicture *picture, int, int width, int height, int64_t)
{
    for (int y = 0; y < height; ++y)
        std::memset(picture->data[0] + y * picture->linesize[0], 42, static_cast<size_t>(width));
}

} // extern "C"
