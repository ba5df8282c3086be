#pragma once
// Unit-level routines of the GIF library: the exception class, GDI result checks, bit
// arithmetic, byte and sub-block text transfer over streams.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/SysUtils.h"

namespace gif {

// The library's one error type.
class GIFException : public EInvalidGraphic {
 public:
  explicit GIFException(std::string Msg) : EInvalidGraphic(std::move(Msg)) {}
};

[[noreturn]] void RaiseGIFError(const std::string& Msg);

// Zero: raises EOutOfResources with the text of the thread's last error, or the generic
// "Out of system resources"; anything else is returned unchanged.
[[noreturn]] void RaiseLastGDIError();
template <class T>
T CheckGDIResult(T Value) {
  if (!Value) RaiseLastGDIError();
  return Value;
}

// Bytes of a row of Count items of BitsPerItem bits, padded to Alignment bits (a power of two).
// 64-bit so that no size can wrap; negative counts give 0.
std::int64_t AlignedRowBytes(std::int64_t Count, std::int64_t BitsPerItem, std::int64_t Alignment);

// Smallest b >= 1 with 2^b >= Count; 0 for Count <= 0.
int BitsForColorCount(int Count);
// The bits that the largest of Count colour indices needs (0 when all are 0).
int IndexBits(const std::uint8_t* Indices, std::int64_t Count);

void StreamWriteByte(TStream* Stream, std::uint8_t B);
// 0 when the stream is exhausted.
std::uint8_t StreamReadByte(TStream* Stream);
// Reads exactly Count bytes or raises "Premature end of data".
void StreamReadExact(TStream* Stream, void* Buffer, std::int64_t Count);

// Lines as data sub-blocks of at most 255 bytes, then one terminator; lines are not separated.
void WriteSubBlockText(TStream* Stream, TStrings* Lines);
// One line per sub-block up to the terminator (or the end of the stream); a zero byte cuts a
// line short.
void ReadSubBlockText(TStream* Stream, TStrings* Lines);

// Reads another stream through a buffer, so that the byte-sized reads of the GIF reader are
// not each a transfer of that stream (a system call for a file). Positions and size are the
// other stream's; when this one is destroyed, the other stands at this one's position. Writing
// writes nothing.
class TGIFBufferedReader : public TStream {
 public:
  explicit TGIFBufferedReader(TStream* Source);
  ~TGIFBufferedReader() override;
  TGIFBufferedReader(const TGIFBufferedReader&) = delete;
  TGIFBufferedReader& operator=(const TGIFBufferedReader&) = delete;

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return FSize; }

 private:
  TStream* FSource;
  std::int64_t FSize;
  std::int64_t FPosition;
  std::int64_t FBufferStart{0};  // source position of the buffer's first byte
  std::int64_t FBufferFill{0};
  std::vector<std::uint8_t> FBuffer;
};

// Palette entries (red, green, blue, flags) become colour-table entries (blue, green, red, 0),
// in place.
void SwapRGBQuadOrder(void* Entries, int Count);

}  // namespace gif
