// The FFmpeg headers the library uses, and the versions it is built for.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

// FFmpeg 7.1 (libavcodec 61.13) is the first to ask a codec for its supported formats through
// avcodec_get_supported_config.
static_assert(LIBAVCODEC_VERSION_MAJOR == 61 && LIBAVCODEC_VERSION_MINOR >= 13 &&
                  LIBAVFORMAT_VERSION_MAJOR == 61 && LIBAVUTIL_VERSION_MAJOR == 59 &&
                  LIBAVFILTER_VERSION_MAJOR == 10 && LIBSWRESAMPLE_VERSION_MAJOR == 5 &&
                  LIBSWSCALE_VERSION_MAJOR == 8,
              "built for FFmpeg 7");
