// An output record made a file of one of the sound formats, at a quality in the format's own
// terms. The desktop program and the command line both set it here, so one choice gives one file.
#pragma once

#include "batch/OutputFormats.h"
#include "component/ConverterTypes.h"

// The format's encoder and container, and what the quality means to the encoder: a bit rate, a
// variable scale or a compression level. A quality outside the format's ladders leaves the
// encoder's own default. An MP3 gets room in its leading tag, so tags written afterwards go in
// place instead of moving the file.
void SetOutputFormat(TOutputOptions &options, const batch::OutputFormat &format, const batch::FormatQuality &quality);
