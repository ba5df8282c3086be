#include "gif/LzwEncoder.h"

#include <algorithm>
#include <cstring>

#include "gif/Utils.h"

namespace gif {

// ---------------------------------------------------------------------------------------------
// Sub-block streams

std::int64_t TGIFStream::Read(void*, std::int64_t) { throw Exception("Invalid stream operation"); }
std::int64_t TGIFStream::Write(const void*, std::int64_t) { throw Exception("Invalid stream operation"); }
std::int64_t TGIFStream::Seek(std::int64_t, TSeekOrigin) { throw Exception("Invalid stream operation"); }

TGIFWriter::~TGIFWriter() {
  try {
    if (FDirty) FlushBlock();
  } catch (...) {
  }
}

std::int64_t TGIFWriter::Write(const void* Buffer, std::int64_t Count) {
  FDirty = true;
  const auto* P = static_cast<const std::uint8_t*>(Buffer);
  std::int64_t Left = Count;
  while (Left > 0) {
    const int N = static_cast<int>(std::min<std::int64_t>(Left, 256 - FBufferCount));
    std::memcpy(FBuffer.data() + FBufferCount, P, static_cast<std::size_t>(N));
    FBufferCount += N;
    P += N;
    Left -= N;
    if (FBufferCount == 256) FlushBlock();
  }
  return Count;
}

void TGIFWriter::FlushBlock() {
  FBuffer[0] = static_cast<std::uint8_t>(FBufferCount - 1);
  const int N = FBufferCount;
  FBufferCount = 1;
  FDirty = false;
  FTarget->WriteBuffer(FBuffer.data(), N);
}

// ---------------------------------------------------------------------------------------------
// Hash table

void THashTable::Clear() { std::memset(FSlots.data(), 0xFF, sizeof(FSlots)); }

void THashTable::Insert(std::uint32_t Key, int Code) {
  int H = Hash(Key);
  while (FSlots[H] < 0xFFFFF000u) H = NextSlot(H);
  FSlots[H] = (Key << 12) | (static_cast<std::uint32_t>(Code) & 0xFFF);
}

int THashTable::Find(std::uint32_t Key) const {
  int H = Hash(Key);
  for (;;) {
    const std::uint32_t S = FSlots[H];
    if (S >= 0xFFFFF000u) return -1;
    if ((S >> 12) == Key) return static_cast<int>(S & 0xFFF);
    H = NextSlot(H);
  }
}

// ---------------------------------------------------------------------------------------------
// Encoder base

void TGIFEncoder::ColorNotInTable() { RaiseGIFError("Color not in color table"); }

void TGIFEncoder::Encode(TStream* Stream, int BitsPerPixel, int NumColors, const std::uint8_t* Pixels,
                         bool Interlaced, int Height, int Width) {
  FStream = Stream;
  FBitsPerPixel = std::clamp(BitsPerPixel, 2, 8);
  FNumColors = NumColors;
  FPixels = Pixels;
  FInterlaced = Interlaced;
  FHeight = Height;
  FWidth = Width;
  FInitialCodeWidth = FBitsPerPixel + 1;
  StreamWriteByte(Stream, static_cast<std::uint8_t>(FBitsPerPixel));

  FCodeWidth = FInitialCodeWidth;
  FMaxCode = CodeLimit(FCodeWidth);
  FClearCode = 1 << FBitsPerPixel;
  FEOICode = FClearCode + 1;
  FFirstFreeCode = FClearCode + 2;
  FBucket = 0;
  FBucketBits = 0;
  FClearFlag = false;
  FPixelsLeft = Interlaced ? Width : static_cast<std::int64_t>(Width) * Height;
  FRow = 0;
  FPass = 0;
  FCurrent = Pixels;

  TGIFWriter Writer(Stream);
  Writer.OnWarning = OnWarning;
  FWriter = &Writer;
  try {
    if (Pixels != nullptr && Width > 0 && Height > 0) EncodePixels();
    OutputCode(FEOICode);
    if (Writer.Dirty()) Writer.FlushBlock();
  } catch (...) {
    FWriter = nullptr;
    throw;
  }
  FWriter = nullptr;
  StreamWriteByte(Stream, 0);
}

void TGIFEncoder::OutputCode(int Code) { PackCode(Code); }

void TGIFEncoder::Reset() {
  FClearFlag = true;
  OutputCode(FClearCode);
}

bool TGIFEncoder::AdvancePixel() {
  if (--FPixelsLeft >= 1) return true;
  if (!FInterlaced) return false;
  FPixelsLeft = FWidth;
  FRow += (FPass == 0 || FPass == 1) ? 8 : (FPass == 2 ? 4 : 2);
  while (FRow >= FHeight && FPass < 3) {
    ++FPass;
    FRow = FPass == 1 ? 4 : (FPass == 2 ? 2 : 1);
  }
  if (FRow >= FHeight) return false;
  FCurrent = FPixels + static_cast<std::int64_t>(FRow) * FWidth;
  return true;
}

// ---------------------------------------------------------------------------------------------
// LZW

void TLZWEncoder::OutputCode(int Code) { Emit(Code); }

void TLZWEncoder::ResetTable() {
  FClearFlag = true;
  Emit(FClearCode);
  FHash->Clear();
  FNextFree = FClearCode + 2;
}

void TLZWEncoder::Reset() { ResetTable(); }

void TLZWEncoder::EncodePixels() {
  FHash = std::make_unique<THashTable>();
  struct Release {
    std::unique_ptr<THashTable>& H;
    ~Release() { H.reset(); }
  } R{FHash};
  ResetTable();
  THashTable& Hash = *FHash;
  const int NumColors = FNumColors;
  int Prefix = TakePixel();
  // Pixels are walked a row (or, without interlacing, the whole picture) at a time; the
  // row changes go through AdvancePixel.
  for (;;) {
    const std::uint8_t* P = FCurrent;
    const std::uint8_t* End = P + (FPixelsLeft - 1);
    while (P < End) {
      const int Pixel = *P++;
      if (Pixel >= NumColors) ColorNotInTable();
      const std::uint32_t Key = (static_cast<std::uint32_t>(Prefix) << 8) | static_cast<std::uint32_t>(Pixel);
      const int Code = Hash.Find(Key);
      if (Code >= 0) {
        Prefix = Code;
        continue;
      }
      Emit(Prefix);
      Prefix = Pixel;
      if (FNextFree >= 4095) {
        ResetTable();
      } else {
        Hash.Insert(Key, FNextFree);
        ++FNextFree;
      }
    }
    FPixelsLeft -= (P - FCurrent);
    FCurrent = P;
    if (!AdvancePixel()) break;
    const int Pixel = TakePixel();
    const std::uint32_t Key = (static_cast<std::uint32_t>(Prefix) << 8) | static_cast<std::uint32_t>(Pixel);
    const int Code = Hash.Find(Key);
    if (Code >= 0) {
      Prefix = Code;
    } else {
      Emit(Prefix);
      Prefix = Pixel;
      if (FNextFree >= 4095) {
        ResetTable();
      } else {
        Hash.Insert(Key, FNextFree);
        ++FNextFree;
      }
    }
  }
  Emit(Prefix);
}

// ---------------------------------------------------------------------------------------------
// Run-length

void TRLEEncoder::Reset() {
  FGrowCount = FInitialGrowCount;
  FClearThreshold = FInitialClearThreshold;
  FOutCount = 0;
  FRunTableLength = 0;
  TGIFEncoder::Reset();
  FCodeWidth = FInitialCodeWidth;
}

void TRLEEncoder::EmitLiteral(int Code) {
  FClearFlag = false;
  OutputCode(Code);
  ++FOutCount;
  if (FOutCount >= FGrowCount) {
    FGrowCount += 1 << FCodeWidth;
    ++FCodeWidth;
  }
  if (FOutCount >= FClearThreshold) Reset();
}

std::int64_t TRLEEncoder::RunCodeCount(std::int64_t N, std::int64_t Limit) {
  const std::int64_t Block = Limit * (Limit + 1) / 2;
  std::int64_t Codes = 0;
  if (Block > 0) {
    Codes = (N / Block) * Limit;
    N %= Block;
  }
  if (N <= 0) return Codes;
  // Integer square root by Newton's iteration, then up to the smallest m with m(m+1)/2 >= N.
  std::int64_t X = 1;
  while (X * X < N) X <<= 1;
  for (;;) {
    const std::int64_t Y = (X + N / X) / 2;
    if (Y >= X) break;
    X = Y;
  }
  while (X * (X + 1) / 2 < N) ++X;
  return Codes + X;
}

void TRLEEncoder::RestoreThreshold() {
  FClearThreshold = FInitialClearThreshold;
  if (FOutCount >= FClearThreshold) Reset();
}

void TRLEEncoder::EmitRunFresh(std::int64_t N) {
  FClearThreshold = FMaxCodes;
  FRunTablePixel = FRunPixel;
  std::int64_t K = 1;
  while (N > 0) {
    if (K == 1) {
      FRunTableLength = 1;
      EmitLiteral(FRunPixel);
      N -= 1;
    } else if (N < K) {
      ++FRunTableLength;
      EmitRunCode(N);
      break;
    } else {
      FRunTableLength = static_cast<int>(K);
      EmitRunCode(K);
      N -= K;
    }
    K = FOutCount == 0 ? 1 : K + 1;
  }
  RestoreThreshold();
}

void TRLEEncoder::EmitRunShort(std::int64_t N) {
  if (RunCodeCount(N, FMaxCodes) + 1 < N) {
    Reset();
    EmitRunFresh(N);
  } else {
    for (std::int64_t i = 0; i < N; ++i) EmitLiteral(FRunPixel);
  }
}

void TRLEEncoder::EmitRunTable(std::int64_t N) {
  const std::int64_t M = FRunTableLength;
  std::int64_t Repeats = N / M;
  std::int64_t Rest = N % M;
  std::int64_t Extra = Rest > 0 ? 1 : 0;
  if (FMaxCodes < Repeats + FOutCount + Extra) {
    Repeats = FMaxCodes - FOutCount;
    Rest = N - M * Repeats;
    Extra = RunCodeCount(Rest, FMaxCodes) + 1;
  }
  if (RunCodeCount(N, FMaxCodes) + 1 < Repeats + Extra) {
    Reset();
    EmitRunFresh(N);
    return;
  }
  FClearThreshold = FMaxCodes;
  for (std::int64_t i = 0; i < Repeats; ++i) EmitRunCode(M);
  if (Rest > 0) {
    if (FClearFlag)
      EmitRunFresh(Rest);
    else
      EmitRunCode(Rest);
  }
  RestoreThreshold();
}

void TRLEEncoder::EmitRun(std::int64_t N) {
  if (N == 1)
    EmitLiteral(FRunPixel);
  else if (FClearFlag)
    EmitRunFresh(N);
  else if (FRunTableLength > 1 && FRunTablePixel == FRunPixel)
    EmitRunTable(N);
  else
    EmitRunShort(N);
}

void TRLEEncoder::EncodePixels() {
  FInitialGrowCount = FClearCode - 1;
  FInitialClearThreshold = FBitsPerPixel <= 3 ? 9 : FClearCode - 2;
  FMaxCodes = 4095 - FFirstFreeCode;
  Reset();
  FRunPixel = -1;
  std::int64_t RunLength = 0;
  do {
    const int Pixel = TakePixel();
    if (Pixel != FRunPixel && RunLength > 0) {
      EmitRun(RunLength);
      RunLength = 0;
    }
    if (RunLength == 0) FRunPixel = Pixel;
    ++RunLength;
  } while (AdvancePixel());
  if (RunLength > 0) EmitRun(RunLength);
}

}  // namespace gif
