#pragma once
// Encodes and muxes one generated clip from a plan: which muxer, and which
// streams in which order.
#include <string>
#include <vector>

#include "MediaGen.h"

extern "C" {
#include <libavutil/avutil.h>
}

struct TStreamPlan {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  // The encoder's name; captions without one are written as SubRip text.
  const char* Encoder = nullptr;
  int BitRate = 0;  // 0 keeps the encoder's default
  // The program the stream belongs to; 0 for none.
  int Program = 0;
  // Pictures of this stream are this many times smaller than the clip size.
  int SizeDivisor = 1;
};

struct TContainerPlan {
  const char* Muxer = nullptr;
  std::vector<TStreamPlan> Streams;
  // Video streams keep an unset sample aspect ratio whatever the options say.
  bool KeepAspectUnset = false;
};

// Writes the clip; a failed clip leaves no file behind.
bool WriteMedia(const TContainerPlan& plan, const std::string& fileName,
                const TMediaOptions& options, std::string& error);
