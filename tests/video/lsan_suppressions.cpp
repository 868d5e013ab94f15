// libx265, which makes our HEVC test streams, keeps a few blocks past x265_encoder_close.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
