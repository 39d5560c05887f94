#pragma once
// A 24-bit picture in memory: bytes blue, green, red per pixel, rows top
// down, contiguous, RowStride() bytes apart (a multiple of 4). Bits() and
// RowStride() are what an image class that draws on foreign memory needs.
//
// The canvas lock marks who may touch the pixels: the converter holds it
// while a hook handler works on the picture, and a user-interface thread
// that draws on the bitmap takes it too. The lock is re-entrant, so a
// handler may take it again. Resizing while another thread holds a row
// pointer is the caller's fault; resize under the lock.
#include <cstdint>
#include <vector>

#include "Lock.h"

class TBitmap24 {
 public:
  static constexpr int BytesPerPixel = 3;

  TBitmap24() = default;
  // Raises Exception for a negative or too large size.
  TBitmap24(int width, int height);
  TBitmap24(const TBitmap24&) = delete;
  TBitmap24& operator=(const TBitmap24&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  int RowStride() const { return stride_; }
  // Every pixel is black afterwards. Raises Exception for a negative or
  // too large size, leaving the bitmap as it was.
  void SetSize(int width, int height);

  // Row y, 0 at the top; raises Exception for a row outside the bitmap.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  // The first row; null for an empty bitmap.
  uint8_t* Bits() { return pixels_.empty() ? nullptr : pixels_.data(); }
  const uint8_t* Bits() const { return pixels_.empty() ? nullptr : pixels_.data(); }

  // Row-by-row copies between the bitmap and a packed 24-bit picture of the
  // given size whose rows lie stride bytes apart. Only the area both
  // pictures cover is copied, and never more than a row's pixels, whatever
  // padding the other picture's rows carry.
  void CopyPixelsFrom(const uint8_t* source, int stride, int width, int height);
  void CopyPixelsTo(uint8_t* target, int stride, int width, int height) const;

  void LockCanvas() { canvasLock_.Enter(); }
  void UnlockCanvas() { canvasLock_.Leave(); }
  bool TryLockCanvas() { return canvasLock_.TryEnter(); }

 private:
  int RowBytes(int otherWidth) const;
  int RowsShared(int otherHeight) const;

  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  std::vector<uint8_t> pixels_;
  TCriticalSection canvasLock_;
};

// Holds a bitmap's canvas lock for its lifetime.
class TCanvasGuard {
 public:
  [[nodiscard]] explicit TCanvasGuard(TBitmap24& bitmap) : bitmap_(bitmap) { bitmap_.LockCanvas(); }
  ~TCanvasGuard() { bitmap_.UnlockCanvas(); }
  TCanvasGuard(const TCanvasGuard&) = delete;
  TCanvasGuard& operator=(const TCanvasGuard&) = delete;

 private:
  TBitmap24& bitmap_;
};
