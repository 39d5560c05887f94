#pragma once
// The deterministic content of generated clips. Both depend only on the
// position in the clip, so a clip made twice holds the same pictures and
// samples.
#include <cstdint>
#include <string>

struct AVFrame;

// A diagonal gradient with a bright vertical bar that moves right by a few
// pixels per picture. The frame must be YUV420P with its buffers allocated.
void FillPicture(AVFrame& frame, int64_t pictureIndex);

// A sine tone per channel (440 Hz, 550 Hz, ...) starting at sample
// firstSample of the clip, for frame.nb_samples samples in the frame's
// sample format. False with a message for a sample format it cannot write.
bool FillTone(AVFrame& frame, int64_t firstSample, std::string& error);
