// Linked into every test program. libx265, which makes the HEVC test streams, keeps a few blocks
// of its own past x265_encoder_close; they say nothing about our ownership of FFmpeg objects.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }

// FFmpeg is not built with ThreadSanitizer: the atomics by which its frame threads hand buffers
// over are invisible to it, so its allocations and frees look unordered. Our own code stays
// checked.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libavcodec.so\ncalled_from_lib:libavutil.so\n";
}
