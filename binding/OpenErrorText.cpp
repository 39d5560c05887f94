#include "OpenErrorText.h"

#include <cerrno>

#include "platform/Format.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {
enum class TOpenFailure {
  NoSuchFile,
  IoError,
  NoMemory,
  BadHeader,
  NoImageNumber,
  UnknownFormat,
  Other
};

TOpenFailure Classify(int code) {
  switch (code) {
    case AVERROR(ENOENT):
      return TOpenFailure::NoSuchFile;
    case AVERROR(EIO):
      return TOpenFailure::IoError;
    case AVERROR(ENOMEM):
      return TOpenFailure::NoMemory;
    case AVERROR(EINVAL):
      return TOpenFailure::BadHeader;
    case AVERROR(EDOM):  // the image-number pattern is missing
      return TOpenFailure::NoImageNumber;
    case -42:  // the code this message had in the original numbering
    case AVERROR(EILSEQ):
    case AVERROR_INVALIDDATA:
    case AVERROR_DEMUXER_NOT_FOUND:
      return TOpenFailure::UnknownFormat;
    default:
      return TOpenFailure::Other;
  }
}

const char* MessageFormat(TOpenFailure failure) {
  switch (failure) {
    case TOpenFailure::NoSuchFile:
      return "%s: no such file or directory";
    case TOpenFailure::IoError:
      return "%s: I/O error occurred\r\nUsually that means that input file is truncated and/or "
             "corrupted.";
    case TOpenFailure::NoMemory:
      return "%s: memory allocation error occurred";
    case TOpenFailure::BadHeader:
      return "%s: Error while parsing header";
    case TOpenFailure::NoImageNumber:
      return "%s: Incorrect image filename syntax.\r\nUse '%%d' to specify the image number:\r\n"
             "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
             "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
    case TOpenFailure::UnknownFormat:
      return "%s: Unknown format";
    default:
      return "%s: Error while opening file";
  }
}
}  // namespace

std::string FormatOpenError(const std::string& fileName, int code) {
  return Format(MessageFormat(Classify(code)), {fileName});
}
