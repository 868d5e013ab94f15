// libx265, which makes the HEVC stream of the codec-mapping test, keeps a few blocks past
// x265_encoder_close.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
