#ifndef TAVRELLE_FRAME_HOOK_MODULE_H
#define TAVRELLE_FRAME_HOOK_MODULE_H
/* The interface between the converter and a video hook module: a shared
 * object that exports "Process" and, when it takes arguments, "Configure";
 * "Release" is optional. Every entry uses the C calling convention. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Four plane pointers and four line sizes, in the decoder's pixel format. */
typedef struct FrameHookPicture {
  uint8_t* data[4];
  int linesize[4];
} FrameHookPicture;

/* The words of the "vhook" value; word 0 is the module file name and the
 * slot after the last word is null. */
enum { FrameHookMaxWords = 63 };

/* Creates an instance and stores its state in *context; 0 on success. The
 * words stay valid until the instance is released. highestIndex is the
 * highest index the word array has (FrameHookMaxWords). */
typedef int (*FrameHookConfigureFn)(void** context, int wordCount, char* words[], int highestIndex);
/* Changes the picture in place; pixelFormat is an AVPixelFormat value, pts
 * the picture's time in microseconds. */
typedef void (*FrameHookProcessFn)(void* context, FrameHookPicture* picture, int pixelFormat,
                                   int width, int height, int64_t pts);
typedef void (*FrameHookReleaseFn)(void* context);

#ifdef __cplusplus
}
#endif

#endif
