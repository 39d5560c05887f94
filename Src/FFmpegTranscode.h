#pragma once
// The records of one running transcode: per input file, per input stream and
// per output stream, and the tables that hold them for the job. Every table
// and buffer here belongs to the job that runs the transcode, so several jobs
// may convert at once.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

struct SwsContext;
struct SwrContext;
struct AVFilterGraph;
struct AVFilterContext;

struct InputFile {
  int EofReached = 0;   // reading failed (end of file or error)
  int FirstStream = 0;  // index in InputStreamTable of the file's stream 0
  int StreamCount = 0;  // streams the file had when the transcode started
};

// A plane layout: four plane pointers and four line sizes. Crop and pad
// views are such layouts over pixels that belong to someone else.
struct TPictureView {
  std::array<uint8_t*, AV_NUM_DATA_POINTERS> Data{};
  std::array<int, AV_NUM_DATA_POINTERS> LineSize{};
};

struct InputStream {
  int FileIndex = 0;
  int StreamIndex = 0;
  AVStream* Stream = nullptr;
  AVCodecContext* Decoder = nullptr;  // the job's own decoder context, owned by the input
  int Discard = 1;                    // no output stream uses it
  int DecodingNeeded = 0;
  int RateEmulation = 0;
  int64_t Start = 0;  // library clock at set-up, microseconds (rate emulation)
  int EmulatedFrames = 0;
  int64_t NextPts = AV_NOPTS_VALUE;  // microseconds
  int64_t Pts = 0;                   // microseconds
  int IsStart = 1;
  float Quality = 0;  // of the last decoded picture, lambda units
  // Reused decode target.
  AVFrame* DecodedFrame = nullptr;
};

// What the encoder said about its last packet.
struct TCodedPicture {
  int Quality = 0;  // lambda units (FF_QP2LAMBDA per quantiser step)
  int PictureType = AV_PICTURE_TYPE_NONE;
  std::array<uint64_t, 4> Error{};  // sum of squared errors per plane
  bool KeyFrame = false;
};

struct OutputStream {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SourceIndex = -1;
  AVStream* Stream = nullptr;
  AVCodecContext* Encoder = nullptr;  // the job's own encoder context, owned by the output
  int EncodingNeeded = 0;
  int FrameNumber = 0;
  InputStream* SyncInput = nullptr;
  int64_t SyncOpts = 0;  // output position in encoder units: frames or samples
  // End of the last packet handed to the muxer, in the stream's time base.
  int64_t MuxPosition = 0;
  // Video.
  int VideoResample = 0;
  AVFrame* TempPicture = nullptr;  // output size and format, when scaling or padding
  SwsContext* ScaleContext = nullptr;
  int ResampleHeight = 0;
  // The decoded picture the scaler and the crop were set up for; a picture
  // of another size or format gets a scaler of its own.
  int SourceWidth = 0;
  int SourceHeight = 0;
  int SourcePixFmt = -1;
  int VideoCrop = 0;
  int TopBand = 0;
  int LeftBand = 0;
  int VideoPad = 0;
  int PadTop = 0;
  int PadBottom = 0;
  int PadLeft = 0;
  int PadRight = 0;
  AVFrame* EncodeFrame = nullptr;  // shell handed to the encoder (audio samples, or a view)
  // The video filter chain, one per encoded video output, so that outputs of
  // one source at different sizes each get their own. Pictures enter at
  // InVideoFilter ("buffer", clocked in microseconds) and leave at
  // OutVideoFilter ("buffersink", the encoder's pixel format).
  AVFilterGraph* FilterGraph = nullptr;
  AVFilterContext* InVideoFilter = nullptr;
  AVFilterContext* OutVideoFilter = nullptr;
  AVFrame* PictureRef = nullptr;  // the filtered picture last taken out of the chain
  int FilterWidth = 0;            // the pictures the chain's source was made for
  int FilterHeight = 0;
  int FilterPixFmt = -1;
  int ChainWidth = 0;  // the size pictures enter the description with
  int ChainHeight = 0;
  TCodedPicture Coded;  // of the last encoded packet
  std::array<uint64_t, 4> ErrorSum{};
  // Audio.
  int AudioResample = 0;
  SwrContext* Resampler = nullptr;
  int ResamplerInChannels = 0;  // what Resampler was made for
  int ResamplerInRate = 0;
  int ResamplerInFormat = -1;
  int ReformatPair = -1 - AV_SAMPLE_FMT_NB;  // none
  SwrContext* ReformatContext = nullptr;
  std::vector<uint8_t> Fifo;  // converted samples waiting for a whole encoder frame
  size_t FifoStart = 0;       // bytes already taken from the front of Fifo
  int64_t NextAudioPts = 0;   // samples: where the next encoder frame must start at least
  FILE* LogFile = nullptr;    // two-pass statistics, pass 1
  // Bitstream filters, in the order they run.
  std::vector<AVBSFContext*> BsfContexts;
  std::vector<AVPacket*> BsfPackets;  // one reused output packet per filter
  bool CopyStarted = false;
};

// Buffers reused by every packet and frame of one transcode; they only grow.
struct TTranscodeBuffers {
  std::vector<uint8_t> DecodedAudio;   // interleaved samples in the decoder's packed format
  std::vector<uint8_t> AudioFrame;     // resampler output, and one encoder frame from the FIFO
  std::vector<uint8_t> AudioConvert;   // sample-format converter output
  std::vector<uint8_t> Silence;        // inserted silence followed by the block
  std::vector<uint8_t> SubtitleOut;    // one encoded subtitle
  AVPacket* ReadPacket = nullptr;      // packet read from an input
  AVPacket* OutPacket = nullptr;       // packet received from an encoder or copied
  AVPacket* FilteredPacket = nullptr;  // bitstream-filter output
};

// The deinterlacer: one filter graph per job, rebuilt when the picture
// changes size or format.
struct TDeinterlacer {
  AVFilterGraph* Graph = nullptr;
  AVFilterContext* Source = nullptr;
  AVFilterContext* Sink = nullptr;
  int Width = 0;
  int Height = 0;
  int PixFmt = -1;
  AVFrame* Input = nullptr;
  AVFrame* Output = nullptr;
};

// Arguments of a "buffer" source for pictures of this size and format, with
// timestamps in microseconds.
std::string PictureSourceArguments(int width, int height, int pixFmt, AVRational aspect);
// Parses a chain description into the graph, from the source's output (named
// "in" in the description) to the sink's input ("out"); the library's code.
int ParseChainBetween(AVFilterGraph* graph, AVFilterContext* source, AVFilterContext* sink,
                      const std::string& description);

struct TTranscodeTables {
  std::vector<InputFile> FileTable;
  std::vector<std::unique_ptr<InputStream>> InputStreamTable;
  std::vector<std::unique_ptr<OutputStream>> OutputStreamTable;
  TTranscodeBuffers Buffers;
  TDeinterlacer Deinterlacer;
  int64_t TimerStart = 0;
  bool Built = false;
};

// The message of a failed packet write or trailer, with the library's code.
std::string WriteErrorText(int code);
