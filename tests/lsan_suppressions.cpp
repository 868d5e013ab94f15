// Linked into every test program. libx265, which makes the HEVC test streams, keeps a few blocks
// of its own past x265_encoder_close; they say nothing about our ownership of FFmpeg objects.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
