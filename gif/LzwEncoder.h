#pragma once
// Image data writers: the sub-block writer, the LZW encoder and the run-length encoder whose
// output any LZW decoder expands.
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "platform/rtl/Classes.h"

namespace gif {

// Warning handler of the library's objects: (Sender, Severity, Message).
using TGIFWarning = std::function<void(TObject* Sender, int Severity, const std::string& Message)>;

// A write-only stream that packs what is written into data sub-blocks on Target.
class TGIFStream : public TStream {
 public:
  explicit TGIFStream(TStream* Target) : FTarget(Target) {}
  // Reading, seeking and asking the size raise "Invalid stream operation".
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;

  TGIFWarning OnWarning;

 protected:
  TStream* FTarget;
  std::array<std::uint8_t, 256> FBuffer{};
  int FBufferCount{0};
};

// Byte 0 of the buffer is the sub-block length; data go to bytes 1..255.
class TGIFWriter : public TGIFStream {
 public:
  explicit TGIFWriter(TStream* Target) : TGIFStream(Target) { FBufferCount = 1; }
  // Flushes a partly filled block; errors of the target are not raised from here (call
  // FlushBlock first to see them).
  ~TGIFWriter() override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  void PutByte(std::uint8_t B) {
    FDirty = true;
    FBuffer[FBufferCount++] = B;
    if (FBufferCount == 256) FlushBlock();
  }
  void FlushBlock();
  bool Dirty() const { return FDirty; }

 private:
  bool FDirty{false};
};

// Open-addressed table of (prefix << 8 | pixel) -> code, 8009 slots.
class THashTable : public TObject {
 public:
  static constexpr int kSize = 8009;
  THashTable() { Clear(); }
  void Clear();
  void Insert(std::uint32_t Key, int Code);
  int Find(std::uint32_t Key) const;  // -1 when absent

 private:
  static int Hash(std::uint32_t Key) { return static_cast<int>(((Key >> 4) ^ Key) % kSize); }
  static int NextSlot(int H) {
    int N = (H == 0) ? -1 : H - (kSize - H);
    return N < 0 ? N + kSize : N;
  }
  std::array<std::uint32_t, kSize> FSlots;
};

class TGIFEncoder : public TObject {
 public:
  ~TGIFEncoder() override = default;
  // Writes the minimum code size, the code stream in sub-blocks and the block terminator.
  void Encode(TStream* Stream, int BitsPerPixel, int NumColors, const std::uint8_t* Pixels, bool Interlaced,
              int Height, int Width);
  static int CodeLimit(int Bits) { return (1 << Bits) - 1; }

  TGIFWarning OnWarning;

 protected:
  virtual void OutputCode(int Code);
  virtual void Reset();
  virtual void EncodePixels() = 0;

  // Steps the pixel walk after a pixel was taken; false when the image is done.
  bool AdvancePixel();
  // The current pixel, checked against the number of colours.
  std::uint8_t TakePixel() {
    const std::uint8_t P = *FCurrent++;
    if (P >= FNumColors) ColorNotInTable();
    return P;
  }
  [[noreturn]] static void ColorNotInTable();

  // Packs Code at the current width (least significant bit first); the end code also sends
  // the last partial byte. Whole bytes are collected four at a time and handed to the writer
  // in runs.
  void PackCode(int Code) {
    FBucket |= static_cast<std::uint64_t>(Code & ((1 << FCodeWidth) - 1)) << FBucketBits;
    FBucketBits += FCodeWidth;
    if (FBucketBits >= 32) {
      const auto Word = static_cast<std::uint32_t>(FBucket);
      std::memcpy(FOut.data() + FOutCount, &Word, 4);
      FOutCount += 4;
      FBucket >>= 32;
      FBucketBits -= 32;
      if (FOutCount >= kOutFlush) FlushOut();
    }
    if (Code == FEOICode) {
      FlushBits();
      FlushOut();
    }
  }
  // Sends the whole bytes in the bucket (and with them any partial last byte when Partial).
  void FlushBits(bool Partial = true);
  // Hands the collected bytes to the writer.
  void FlushOut();

  TStream* FStream{nullptr};
  int FBitsPerPixel{0};
  int FNumColors{0};
  int FPixelBits{0};  // what the largest pixel needs
  int FWidth{0}, FHeight{0};
  bool FInterlaced{false};
  const std::uint8_t* FPixels{nullptr};
  TGIFWriter* FWriter{nullptr};
  static constexpr int kOutFlush = 4096;
  std::array<std::uint8_t, kOutFlush + 8> FOut;
  int FOutCount{0};
  std::uint64_t FBucket{0};
  int FBucketBits{0};
  bool FClearFlag{false};
  int FCodeWidth{0};
  int FInitialCodeWidth{0};
  int FMaxCode{0};
  int FClearCode{0}, FEOICode{0}, FFirstFreeCode{0};
  const std::uint8_t* FCurrent{nullptr};
  std::int64_t FPixelsLeft{0};
  int FRow{0};
  int FPass{0};
};

class TLZWEncoder : public TGIFEncoder {
 public:
  struct StringTable;

 protected:
  void OutputCode(int Code) override;
  void Reset() override;
  void EncodePixels() override;

 private:
  void Emit(int Code) {
    PackCode(Code);
    if (FNextFree > FMaxCode || FClearFlag) {
      if (FClearFlag) {
        FCodeWidth = FInitialCodeWidth;
        FMaxCode = CodeLimit(FCodeWidth);
        FClearFlag = false;
      } else {
        ++FCodeWidth;
        FMaxCode = FCodeWidth == 12 ? 4096 : CodeLimit(FCodeWidth);
      }
    }
  }
  void ResetTable();
  // A step that the fast paths leave: looks the string up from its home slot I on, or emits
  // the prefix and adds the string (clearing the table when it is full). Returns the new prefix.
  [[gnu::noinline]] int Miss(int Prefix, int Pixel, std::uint32_t I);
  // Compresses P..End-1 with the current prefix (see the source for the two strategies).
  template <bool Hints, bool Check>
  void RunSpan(const std::uint8_t* P, const std::uint8_t* End, int& Prefix);

  int FNextFree{0};
  std::uint32_t FTag{0};
  std::int64_t FEmitted{0};
  StringTable* FTable{nullptr};
};

class TRLEEncoder : public TGIFEncoder {
 protected:
  void Reset() override;
  void EncodePixels() override;

 private:
  void EmitLiteral(int Code);
  void EmitRunCode(std::int64_t Length) {
    EmitLiteral(Length == 1 ? FRunPixel : FFirstFreeCode - 2 + static_cast<int>(Length));
  }
  void EmitRun(std::int64_t N);
  void EmitRunFresh(std::int64_t N);
  void EmitRunShort(std::int64_t N);
  void EmitRunTable(std::int64_t N);
  void RestoreThreshold();
  static std::int64_t RunCodeCount(std::int64_t N, std::int64_t Limit);

  int FRunPixel{-1};
  int FRunTableLength{0};
  int FRunTablePixel{-1};
  int FOutCount{0};
  int FClearThreshold{0}, FInitialClearThreshold{0};
  int FGrowCount{0}, FInitialGrowCount{0};
  int FMaxCodes{0};
};

}  // namespace gif
