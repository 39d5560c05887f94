#pragma once
// Helpers shared by input opening, output creation and the release of the
// files at cleanup.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Sets the entries of options one by one on the private data of a codec or
// format whose private class is privateClass. The dispatcher kept a value
// when any class of its role took it, so entries this class does not know,
// or whose value it refuses, are passed over. The entries taken are added to
// taken, when given. Does nothing without private data or class.
void ApplyPrivateOptions(void* privateData, const AVClass* privateClass,
                         const AVDictionary* options, AVDictionary** taken);

// Frees a codec context the job made, with the rate-control overrides it
// allocated for it. Holds LibraryLock, since freeing closes an open codec.
void FreeJobCodecContext(AVCodecContext*& context);

// Closes the output's file when the format writes one, deletes the file
// when deleteWhenEmpty is set and it exists with no bytes in it, and frees
// the context with its streams.
void ReleaseOutputContext(AVFormatContext*& output, bool deleteWhenEmpty);
