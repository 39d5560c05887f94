/* An example video hook module: inverts the brightness of a rectangle of
 * every picture it is given.
 *
 *   vhook=/path/to/invert_rect.so [LEFT TOP WIDTH HEIGHT]
 *
 * Without a rectangle the whole picture is inverted. The rectangle is
 * clipped to the picture; pictures in formats the module does not know
 * pass unchanged. */
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

#include <libavutil/pixfmt.h>

#include "binding/FrameHookModule.h"

#define EXPORT __attribute__((visibility("default")))

typedef struct InvertContext {
  int left, top, width, height; /* width < 0: the whole picture */
} InvertContext;

static int ParseNonNegative(const char* text, int* value) {
  char* end = NULL;
  errno = 0;
  long number = strtol(text, &end, 10);
  if (errno || end == text || *end || number < 0 || number > 1 << 20) return 0;
  *value = (int)number;
  return 1;
}

EXPORT int Configure(void** context, int wordCount, char* words[], int highestIndex) {
  (void)highestIndex;
  if (wordCount != 1 && wordCount != 5) return 1;
  InvertContext* state = calloc(1, sizeof *state);
  if (!state) return 1;
  state->width = -1;
  if (wordCount == 5 &&
      !(ParseNonNegative(words[1], &state->left) && ParseNonNegative(words[2], &state->top) &&
        ParseNonNegative(words[3], &state->width) && ParseNonNegative(words[4], &state->height))) {
    free(state);
    return 1;
  }
  *context = state;
  return 0;
}

/* Bytes per pixel of the brightness plane (plane 0); 0 for formats whose
 * plane 0 is not simply one value per byte. */
static int BrightnessStep(int pixelFormat) {
  switch (pixelFormat) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_GRAY8:
      return 1;
    case AV_PIX_FMT_BGR24:
    case AV_PIX_FMT_RGB24:
      return 3;
    default:
      return 0;
  }
}

static int Clip(int value, int limit) {
  return value < 0 ? 0 : value > limit ? limit : value;
}

EXPORT void Process(void* context, FrameHookPicture* picture, int pixelFormat, int width,
                    int height, int64_t pts) {
  (void)pts;
  const InvertContext* state = context;
  const int step = BrightnessStep(pixelFormat);
  if (!state || !step) return;
  const int whole = state->width < 0;
  const int left = whole ? 0 : Clip(state->left, width);
  const int top = whole ? 0 : Clip(state->top, height);
  const int right = whole ? width : Clip(state->left + state->width, width);
  const int bottom = whole ? height : Clip(state->top + state->height, height);
  for (int y = top; y < bottom; ++y) {
    uint8_t* row = picture->data[0] + (ptrdiff_t)y * picture->linesize[0];
    for (int x = left * step; x < right * step; ++x) row[x] = (uint8_t)(255 - row[x]);
  }
}

EXPORT void Release(void* context) {
  free(context);
}
