#include "binding/MediaUrl.h"

#include <gtest/gtest.h>

TEST(MediaUrl, FileNamesNeverReachAProtocolByAccident) {
  struct {
    const char* Name;
    const char* Url;
  } const cases[] = {
      {"clip.mp4", "clip.mp4"},
      {"/videos/take2:final.mp4", "/videos/take2:final.mp4"},
      {"take2:final.mp4", "./take2:final.mp4"},
      {"pipe:0.mp4", "./pipe:0.mp4"},
      {"file:clip.mp4", "./file:clip.mp4"},
      {"sub/dir:x/clip.mp4", "sub/dir:x/clip.mp4"},
      {"rtp://127.0.0.1:5004", "rtp://127.0.0.1:5004"},
      {"udp://127.0.0.1:1234?pkt_size=1316", "udp://127.0.0.1:1234?pkt_size=1316"},
      {"1ab://x", "./1ab://x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(MediaUrl(c.Name), c.Url) << c.Name;
}
