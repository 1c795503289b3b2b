// The quality of an MP3 output as a task's option record asks the encoder for it. The desktop
// program and the command line both set it here, so that one choice gives one file.
#pragma once

#include "component/ConverterTypes.h"

struct TMp3Quality {
    enum TKind { mqConstant, mqVariable };
    TKind Kind = mqConstant;
    int Value = 128; // kbit/s when constant; the encoder's variable scale, 0 best to 9, when variable

    bool operator==(const TMp3Quality &) const = default;
};

// Makes the record an MP3 of that quality: the encoder, its bit rate or variable scale, and room
// in the leading tag so that tags written afterwards go in place instead of moving the file.
void SetMp3Quality(TOutputOptions &options, const TMp3Quality &quality);
