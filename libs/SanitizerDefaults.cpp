// Sanitizer run-time defaults, compiled into every program of a sanitizer build that loads the
// media libraries (see CMakeLists.txt).
//
// The runtime's record of dynamic TLS blocks takes a block that starts 16 bytes into a page for the
// layout of glibc before 2.25 and reads the two words before it as the block's range. Blocks are
// plain heap allocations since 2.25, so those words are an allocator header and the leak checker
// crashes at exit scanning the bogus range. libgnutls (loaded with libavformat) creates such a block
// while it shuts down, so whether a run crashes depends only on where the heap happens to put it.
// Without the record the checker still scans the blocks: glibc's own table of them is reachable.
extern "C" const char *__asan_default_options() { return "intercept_tls_get_addr=0"; }
