// A job in a process that never loaded the media libraries.
#include <gtest/gtest.h>

#include "Src/FFmpeg.h"
#include "Src/LibraryLoader.h"

TEST(JobWithoutLibraries, ResetAndCleanupDoNothing) {
  ASSERT_FALSE(LibrariesLoaded());
  TCustomFFmpeg job;
  job.Video.FrameWidth = 640;
  job.Reset();
  EXPECT_EQ(job.Video.FrameWidth, 640);
  EXPECT_EQ(job.Generic.FormatOptionContext, nullptr);
  for (AVCodecContext* context : job.Generic.CodecOptionContexts) EXPECT_EQ(context, nullptr);
  job.Cleanup();
  EXPECT_EQ(job.Video.FrameWidth, 640);
}
