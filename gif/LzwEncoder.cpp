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
  // Dirty while the buffer holds bytes (a block flushed in between does not clean the rest).
  FDirty = FBufferCount > 1;
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

void TGIFEncoder::FlushBits(bool Partial) {
  while (FBucketBits >= 8 || (Partial && FBucketBits > 0)) {
    FOut[static_cast<std::size_t>(FOutCount++)] = static_cast<std::uint8_t>(FBucket);
    FBucket >>= 8;
    FBucketBits = std::max(FBucketBits - 8, 0);
  }
  FBucket = FBucketBits > 0 ? FBucket : 0;
}

void TGIFEncoder::FlushOut() {
  if (FOutCount > 0) FWriter->Write(FOut.data(), FOutCount);
  FOutCount = 0;
}

void TGIFEncoder::Encode(TStream* Stream, int BitsPerPixel, int NumColors, const std::uint8_t* Pixels,
                         bool Interlaced, int Height, int Width) {
  FStream = Stream;
  FBitsPerPixel = std::clamp(BitsPerPixel, 2, 8);
  // The code size covers the largest index the pixels use (and no more than the table): the
  // fewer bits, the shorter every code.
  FPixelBits = 0;
  if (Pixels != nullptr && Width > 0 && Height > 0) {
    FPixelBits = gif::IndexBits(Pixels, static_cast<std::int64_t>(Width) * Height);
    FBitsPerPixel = std::clamp(FPixelBits, 2, FBitsPerPixel);
  }
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
  FOutCount = 0;
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
    // What was packed so far reaches the target, as it would byte by byte.
    try {
      FlushBits(false);
      FlushOut();
    } catch (...) {
    }
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

// The string table of the encoder: an open-addressed table of (prefix << 8 | pixel) -> code,
// emptied at every clear code, and for each prefix code a hint: the pixel and code of the
// string last found or added after it, tagged with the number of the table generation (the
// strings between two clear codes), so that stale hints never match and the hints need
// clearing only when that number wraps. Kept per thread between frames.
struct TLZWEncoder::StringTable {
  static constexpr std::uint32_t kSlots = 32768;  // at most 4089 strings between clears
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static constexpr std::uint32_t kGenerations = 255;
  std::array<std::uint32_t, kSlots> Slots;
  std::array<std::uint32_t, 4096> Hint;
  std::uint32_t Generation{kGenerations};
  static std::uint32_t Slot(std::uint32_t Key) { return (Key * 0x9E3779B1u) >> 17; }
  // Empties the table and starts a new generation; returns its tag (bits 8-15 of a hint's
  // upper half).
  std::uint32_t NewGeneration() {
    std::memset(Slots.data(), 0xFF, sizeof(Slots));
    if (++Generation >= kGenerations) {
      std::memset(Hint.data(), 0xFF, sizeof(Hint));
      Generation = 0;
    }
    return Generation << 8;
  }
};

namespace {

TLZWEncoder::StringTable& ThreadStringTable() {
  thread_local TLZWEncoder::StringTable Table;
  return Table;
}

}  // namespace

void TLZWEncoder::ResetTable() {
  FClearFlag = true;
  Emit(FClearCode);
  FTag = FTable->NewGeneration();
  FNextFree = FClearCode + 2;
}

void TLZWEncoder::Reset() { ResetTable(); }

int TLZWEncoder::Miss(int Prefix, int P, std::uint32_t I) {
  StringTable& T = *FTable;
  const std::uint32_t Key = (static_cast<std::uint32_t>(Prefix) << 8) | static_cast<std::uint32_t>(P);
  for (;;) {
    const std::uint32_t S = T.Slots[I];
    if (S == StringTable::kEmpty) break;
    if ((S >> 12) == Key) {
      const std::uint32_t Code = S & 0xFFF;
      T.Hint[Prefix] = ((FTag | static_cast<std::uint32_t>(P)) << 16) | Code;
      return static_cast<int>(Code);
    }
    I = (I + 1) & (StringTable::kSlots - 1);
  }
  ++FEmitted;
  Emit(Prefix);
  if (FNextFree >= 4095) {
    ResetTable();
  } else {
    const auto Code = static_cast<std::uint32_t>(FNextFree++);
    T.Slots[I] = (Key << 12) | Code;
    T.Hint[Prefix] = ((FTag | static_cast<std::uint32_t>(P)) << 16) | Code;
  }
  return P;
}

// Compresses the pixels P..End-1 (a stretch of one row, or of the whole picture) with the
// current prefix. The hot state lives in locals, brought back to the members around the calls
// that use them (clear codes, the rare table paths, errors). Hints: the prefix's hint is tried
// before the table and kept up to date. Check: pixels are checked against the number of
// colours (only needed when some pixel is out of range).
template <bool Hints, bool Check>
void TLZWEncoder::RunSpan(const std::uint8_t* P, const std::uint8_t* const End, int& PrefixRef) {
  std::uint32_t* const Slots = FTable->Slots.data();
  int Prefix = PrefixRef;
  if constexpr (Hints) {
    // Long strings: the hint, then the string's home slot; everything else in Miss.
    std::uint32_t* const Hint = FTable->Hint.data();
    for (; P < End; ++P) {
      const int Pixel = *P;
      if constexpr (Check) {
        if (Pixel >= FNumColors) {
          PrefixRef = Prefix;
          ColorNotInTable();
        }
      }
      const std::uint32_t H = Hint[Prefix];
      if ((H >> 16) == (FTag | static_cast<std::uint32_t>(Pixel))) {
        Prefix = static_cast<int>(H & 0xFFFF);
        continue;
      }
      const std::uint32_t Key = (static_cast<std::uint32_t>(Prefix) << 8) | static_cast<std::uint32_t>(Pixel);
      const std::uint32_t I = StringTable::Slot(Key);
      const std::uint32_t S = Slots[I];
      if ((S >> 12) == Key) {
        Hint[Prefix] = ((FTag | static_cast<std::uint32_t>(Pixel)) << 16) | (S & 0xFFF);
        Prefix = static_cast<int>(S & 0xFFF);
      } else {
        Prefix = Miss(Prefix, Pixel, I);
      }
    }
    PrefixRef = Prefix;
  } else {
    // Short strings: the home slot; a new string whose home slot is free is output and added
    // here with the output state in locals, which go back to the members around the calls
    // that use them.
    std::uint64_t Bucket = FBucket;
    int Bits = FBucketBits, Width = FCodeWidth, MaxCode = FMaxCode, NextFree = FNextFree;
    int OutCount = FOutCount;
    std::int64_t Emitted = 0;
    auto Store = [&] {
      FBucket = Bucket;
      FBucketBits = Bits;
      FCodeWidth = Width;
      FMaxCode = MaxCode;
      FNextFree = NextFree;
      FOutCount = OutCount;
    };
    auto Fetch = [&] {
      Bucket = FBucket;
      Bits = FBucketBits;
      Width = FCodeWidth;
      MaxCode = FMaxCode;
      NextFree = FNextFree;
      OutCount = FOutCount;
    };
    for (; P < End; ++P) {
      const int Pixel = *P;
      if constexpr (Check) {
        if (Pixel >= FNumColors) {
          Store();
          PrefixRef = Prefix;
          ColorNotInTable();
        }
      }
      const std::uint32_t Key = (static_cast<std::uint32_t>(Prefix) << 8) | static_cast<std::uint32_t>(Pixel);
      const std::uint32_t I = StringTable::Slot(Key);
      const std::uint32_t S = Slots[I];
      if ((S >> 12) == Key) {
        Prefix = static_cast<int>(S & 0xFFF);
        continue;
      }
      if (S != StringTable::kEmpty || NextFree >= 4095) {
        Store();
        const std::int64_t Before = FEmitted;
        Prefix = Miss(Prefix, Pixel, I);
        Emitted += FEmitted - Before;
        Fetch();
        continue;
      }
      // Output the prefix as Emit does (no clear is pending here, and the code fits the width).
      Bucket |= static_cast<std::uint64_t>(Prefix) << Bits;
      Bits += Width;
      if (Bits >= 32) {
        const auto Word = static_cast<std::uint32_t>(Bucket);
        std::memcpy(FOut.data() + OutCount, &Word, 4);
        OutCount += 4;
        Bucket >>= 32;
        Bits -= 32;
        if (OutCount >= kOutFlush) {
          FOutCount = OutCount;
          FlushOut();
          OutCount = 0;
        }
      }
      if (NextFree > MaxCode) {
        ++Width;
        MaxCode = Width == 12 ? 4096 : CodeLimit(Width);
      }
      ++Emitted;
      Slots[I] = (Key << 12) | static_cast<std::uint32_t>(NextFree);
      ++NextFree;
      Prefix = Pixel;
    }
    Store();
    FEmitted += Emitted;
    PrefixRef = Prefix;
  }
}

void TLZWEncoder::EncodePixels() {
  FTable = &ThreadStringTable();
  struct Release {
    StringTable*& T;
    ~Release() { T = nullptr; }
  } R{FTable};
  // Pixels out of range are looked for once; only then is every pixel checked on the way.
  bool Check = false;
  if (FNumColors < (1 << FPixelBits)) {
    const std::int64_t Size = static_cast<std::int64_t>(FWidth) * FHeight;
    std::uint8_t Max = 0;
    for (std::int64_t i = 0; i < Size; ++i) Max = std::max(Max, FPixels[i]);
    Check = Max >= FNumColors;
  }
  ResetTable();
  int Prefix = TakePixel();
  // Where strings are long (flat pictures) the hint of the prefix usually names the next
  // string and is quicker than the table; where they are short it seldom does and only costs.
  // The choice is made again after every block of pixels from the mean string length in it.
  bool UseHints = true;
  constexpr std::int64_t kBlock = 1024;
  // Pixels are walked a row (or, without interlacing, the whole picture) at a time; the
  // row changes go through AdvancePixel.
  for (;;) {
    const std::uint8_t* P = FCurrent;
    const std::uint8_t* const End = FCurrent + (FPixelsLeft - 1);
    while (P < End) {
      const std::uint8_t* BlockEnd = End - P > kBlock ? P + kBlock : End;
      const std::int64_t Before = FEmitted;
      if (Check) {
        if (UseHints)
          RunSpan<true, true>(P, BlockEnd, Prefix);
        else
          RunSpan<false, true>(P, BlockEnd, Prefix);
      } else {
        if (UseHints)
          RunSpan<true, false>(P, BlockEnd, Prefix);
        else
          RunSpan<false, false>(P, BlockEnd, Prefix);
      }
      UseHints = (FEmitted - Before) * 8 < (BlockEnd - P);
      P = BlockEnd;
    }
    FPixelsLeft -= (End - FCurrent);
    FCurrent = End;
    if (!AdvancePixel()) break;
    const std::uint8_t* First = FCurrent;
    TakePixel();
    FCurrent = First;
    RunSpan<true, false>(First, First + 1, Prefix);
    FCurrent = First + 1;
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
