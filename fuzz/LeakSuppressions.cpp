// Leaks the fuzz targets do not report, compiled into each of them.
//
// x264_encoder_open copies its statistics file names before it checks the settings and does not
// free the copies when it refuses them (for example "broken ffmpeg default settings detected").
// The strings are lost inside the library; no caller can free them. The stacks of an uninstrumented
// library end at its first frame, so the module is named rather than the function.
extern "C" const char *__lsan_default_suppressions() { return "leak:libx264.so\n"; }
