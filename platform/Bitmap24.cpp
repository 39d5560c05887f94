#include "Bitmap24.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Exception.h"

namespace {
// Rows are padded to whole 32-bit words, as image classes expect.
int64_t StrideFor(int64_t width) {
  return (width * TBitmap24::BytesPerPixel + 3) & ~int64_t{3};
}

void CheckSize(int width, int height) {
  if (width < 0 || height < 0 || StrideFor(width) * height > INT_MAX)
    throw Exception("Invalid bitmap size " + std::to_string(width) + "x" + std::to_string(height));
}

void CheckPicture(const void* pixels, int stride, int width, int height) {
  if (width < 0 || height < 0 || std::abs(int64_t{stride}) < int64_t{width} * 3 ||
      (!pixels && width > 0 && height > 0))
    throw Exception("Invalid picture for a bitmap copy");
}
}  // namespace

TBitmap24::TBitmap24(int width, int height) {
  SetSize(width, height);
}

void TBitmap24::SetSize(int width, int height) {
  CheckSize(width, height);
  const int stride = static_cast<int>(StrideFor(width));
  pixels_.assign(static_cast<size_t>(stride) * static_cast<size_t>(height), 0);
  width_ = width;
  height_ = height;
  stride_ = stride;
}

uint8_t* TBitmap24::ScanLine(int y) {
  return const_cast<uint8_t*>(static_cast<const TBitmap24*>(this)->ScanLine(y));
}

const uint8_t* TBitmap24::ScanLine(int y) const {
  if (y < 0 || y >= height_) throw Exception("Scan line index out of range");
  return pixels_.data() + static_cast<ptrdiff_t>(y) * stride_;
}

int TBitmap24::RowBytes(int otherWidth) const {
  return std::min(otherWidth, width_) * BytesPerPixel;
}

int TBitmap24::RowsShared(int otherHeight) const {
  return std::min(otherHeight, height_);
}

void TBitmap24::CopyPixelsFrom(const uint8_t* source, int stride, int width, int height) {
  CheckPicture(source, stride, width, height);
  const int bytes = RowBytes(width);
  if (bytes <= 0) return;
  for (int y = 0; y < RowsShared(height); ++y)
    std::memcpy(ScanLine(y), source + static_cast<ptrdiff_t>(y) * stride, bytes);
}

void TBitmap24::CopyPixelsTo(uint8_t* target, int stride, int width, int height) const {
  CheckPicture(target, stride, width, height);
  const int bytes = RowBytes(width);
  if (bytes <= 0) return;
  for (int y = 0; y < RowsShared(height); ++y)
    std::memcpy(target + static_cast<ptrdiff_t>(y) * stride, ScanLine(y), bytes);
}
