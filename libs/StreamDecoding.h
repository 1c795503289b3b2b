// The send/receive decoding of one stream of an open file, from its current position to its end.
#pragma once

#include "libs/AVEntryPoints.h"

#include <functional>

namespace avlib {

// Reads the file's packets, gives those of stream index to decoder, and hands each decoded frame
// to onFrame (unreferenced afterwards), the decoder drained at the end. Packets the decoder refuses
// are skipped; false when no packet or frame could be allocated.
bool DecodeStream(AVFormatContext *input, int index, AVCodecContext *decoder,
                  const std::function<void(AVFrame *)> &onFrame);

} // namespace avlib
