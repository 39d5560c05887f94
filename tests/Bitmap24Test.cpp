#include "platform/Bitmap24.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Exception.h"

namespace {
// A packed 24-bit picture with padded rows, filled with a pattern that
// tells every byte apart.
struct TPicture {
  int width, height, stride;
  std::vector<uint8_t> bytes;

  TPicture(int w, int h, int padding, uint8_t salt)
      : width(w), height(h), stride(w * 3 + padding), bytes(static_cast<size_t>(stride) * h) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + salt);
  }
  uint8_t At(int x, int y, int channel) const { return bytes[y * stride + x * 3 + channel]; }
};
}  // namespace

TEST(Bitmap24, RowsAreContiguousTopDownAndWordAligned) {
  struct TCase {
    int width, height;
  };
  for (const TCase c : {TCase{1, 1}, TCase{3, 2}, TCase{4, 3}, TCase{5, 4}, TCase{0, 0}}) {
    TBitmap24 bitmap(c.width, c.height);
    EXPECT_EQ(bitmap.Width(), c.width);
    EXPECT_EQ(bitmap.Height(), c.height);
    EXPECT_GE(bitmap.RowStride(), c.width * 3);
    EXPECT_LT(bitmap.RowStride(), c.width * 3 + 4);
    EXPECT_EQ(bitmap.RowStride() % 4, 0);
    for (int y = 0; y < c.height; ++y) {
      EXPECT_EQ(bitmap.ScanLine(y), bitmap.Bits() + y * bitmap.RowStride());
      for (int i = 0; i < bitmap.RowStride(); ++i) EXPECT_EQ(bitmap.ScanLine(y)[i], 0);
    }
    EXPECT_THROW(bitmap.ScanLine(-1), Exception);
    EXPECT_THROW(bitmap.ScanLine(c.height), Exception);
  }
}

TEST(Bitmap24, SetSizeBlanksAndRejectsImpossibleSizes) {
  TBitmap24 bitmap(2, 2);
  bitmap.ScanLine(1)[0] = 0xFF;
  bitmap.SetSize(3, 5);
  EXPECT_EQ(bitmap.Width(), 3);
  EXPECT_EQ(bitmap.Height(), 5);
  EXPECT_EQ(bitmap.ScanLine(1)[0], 0);
  EXPECT_EQ(bitmap.ScanLine(4)[8], 0);

  for (const auto& [w, h] : {std::pair{-1, 1}, std::pair{1, -1}, std::pair{1 << 30, 4}}) {
    EXPECT_THROW(bitmap.SetSize(w, h), Exception) << w << "x" << h;
    EXPECT_EQ(bitmap.Width(), 3) << "left as it was";
  }
}

// Library pictures carry padded rows (line sizes rounded up); copying a
// whole line size per row would run past the bitmap's rows.
TEST(Bitmap24, CopiesOnlyTheAreaBothPicturesCover) {
  struct TCase {
    const char* name;
    int width, height;
  };
  const TCase cases[] = {{"same size", 5, 3}, {"picture larger", 8, 6}, {"picture smaller", 2, 2}};
  for (const auto& c : cases) {
    TBitmap24 bitmap(5, 3);
    const TPicture source(c.width, c.height, 29, 1);
    bitmap.CopyPixelsFrom(source.bytes.data(), source.stride, source.width, source.height);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          const bool covered = x < c.width && y < c.height;
          EXPECT_EQ(bitmap.ScanLine(y)[x * 3 + ch], covered ? source.At(x, y, ch) : 0)
              << c.name << " at " << x << "," << y;
        }

    TPicture target(c.width, c.height, 29, 2);
    const TPicture untouched = target;
    bitmap.CopyPixelsTo(target.bytes.data(), target.stride, target.width, target.height);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        for (int ch = 0; ch < 3; ++ch) {
          const bool covered = x < 5 && y < 3;
          EXPECT_EQ(target.At(x, y, ch), covered ? source.At(x, y, ch) : untouched.At(x, y, ch))
              << c.name << " at " << x << "," << y;
        }
    for (int y = 0; y < c.height; ++y)
      for (int i = c.width * 3; i < target.stride; ++i)
        EXPECT_EQ(target.bytes[y * target.stride + i], untouched.bytes[y * target.stride + i])
            << c.name << ": row padding must stay as it was";
  }

  TBitmap24 bitmap(2, 2);
  const TPicture overlapping(2, 2, 0, 0);
  EXPECT_THROW(bitmap.CopyPixelsFrom(overlapping.bytes.data(), 5, 2, 2), Exception)
      << "a stride shorter than a row";
}

TEST(Bitmap24, CanvasLockIsReentrantAndExcludesOtherThreads) {
  TBitmap24 bitmap(4, 4);
  auto otherThreadGetsIt = [&] {
    bool got = false;
    std::thread([&] {
      got = bitmap.TryLockCanvas();
      if (got) bitmap.UnlockCanvas();
    }).join();
    return got;
  };
  {
    TCanvasGuard held(bitmap);
    // A hook handler drawing under the converter's lock takes it again.
    TCanvasGuard again(bitmap);
    EXPECT_FALSE(otherThreadGetsIt());
  }
  EXPECT_TRUE(otherThreadGetsIt());
}
