#include "gif/LzwDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "gif/Utils.h"

static_assert(std::endian::native == std::endian::little, "the bit reader assumes little-endian loads");

namespace gif {

namespace {

constexpr int kTableSize = 4096;

// 16 bytes through registers: the source may reach into the bytes being written (scratch
// bytes past the string), which a plain memcpy must not be given.
inline void Copy16(std::uint8_t* Dest, const std::uint8_t* Src) {
  std::uint64_t A, B;
  std::memcpy(&A, Src, 8);
  std::memcpy(&B, Src + 8, 8);
  std::memcpy(Dest, &A, 8);
  std::memcpy(Dest + 8, &B, 8);
}
constexpr int kStackSize = 8192;
constexpr int kNoData = -1;
constexpr int kEndOfImage = -2;

// The decoder. Codes are read from the data sub-blocks one sub-block at a time, exactly when a
// code needs bits beyond those at hand, so the stream is consumed as the block structure says.
// Two code paths share the reader and the tables:
//  - a fast path that writes each code's whole string into the output at once (a string is a
//    copy of bytes already decoded: prefix + one pixel of the next string);
//  - an exact path (output stack, one pixel at a time) that takes over for the rest of the
//    frame at the first code that is not a defined code or the next one, and serves the one
//    code read after the last pixel.
// Both produce the same pixels, warnings and stream position.
class Decoder {
 public:
  Decoder(TStream* Stream, const TLzwWarning& Warn) : FStream(Stream), FWarn(Warn) {}

  void Run(std::uint8_t* Out, std::int64_t Total);

 private:
  // ---- bit reader over the data sub-blocks
  bool RefillOne();
  int ReadCodeSlow(int Width);
  inline int ReadCode(int Width) {
    if (FPos + Width >= FLimit) return ReadCodeSlow(Width);
    std::uint64_t W;
    std::memcpy(&W, FBuf.data() + (FPos >> 3), 8);
    const int Code = static_cast<int>((W >> (FPos & 7)) & ((1u << Width) - 1));
    FPos += Width;
    return Code;
  }
  void SkipRest();

  // ---- exact path
  void ResetTables();
  int ExpandCode(int Code);
  int NextPixel() {
    if (FStackTop > 0) return FStack[--FStackTop];
    return ExpandCode(ReadCode(FCodeSize));
  }

  TStream* FStream;
  const TLzwWarning& FWarn;

  // Bit buffer: data of the sub-blocks read so far (consumed bytes dropped from the front),
  // with zero slack behind for 8-byte loads.
  std::array<std::uint8_t, 1024> FBuf{};
  std::uint32_t FPos{0};    // next unread bit
  std::uint32_t FLimit{0};  // valid bits
  bool FFirstCall{true};
  bool FOutOfData{false};
  bool FChainDone{false};  // the terminator or the end of the stream has been met
  bool FEnded{false};      // the end code (or an unusable code) has ended the frame

  int FClear{0}, FEnd{0}, FInitialCodeSize{0}, FCodeSize{0}, FNext{0}, FSizeLimit{0};
  int FFirstCode{0}, FOldCode{-1};

  std::array<std::uint16_t, kTableSize> FPrefix;
  std::array<std::uint16_t, kTableSize> FSuffix;
  // Fast path: the first 8 pixels of each string, and where a copy of it stands in the output
  // (low 32 bits) with its length (high 32 bits).
  std::array<std::uint64_t, kTableSize> FHead;
  std::array<std::uint64_t, kTableSize> FMeta;
  std::unique_ptr<std::uint16_t[]> FStack;
  int FStackTop{0};

  friend void gif::DecodeLzwImage(TStream*, std::uint8_t*, std::int64_t, std::int64_t, bool,
                                  const TLzwWarning&);
  int FMinCodeSize{0};
};

bool Decoder::RefillOne() {
  // Drop the bytes that are fully used; at most a few bytes of a partial code remain.
  const std::uint32_t Drop = FPos >> 3;
  if (Drop > 0) {
    const std::uint32_t Keep = (FLimit >> 3) - Drop;
    std::memmove(FBuf.data(), FBuf.data() + Drop, Keep);
    FPos -= Drop * 8;
    FLimit -= Drop * 8;
  }
  std::uint8_t Len = 0;
  if (FStream->Read(&Len, 1) != 1) {
    FChainDone = true;
    return false;
  }
  if (Len == 0) {
    FOutOfData = true;
    FChainDone = true;
    return true;
  }
  std::int64_t Count = Len;
  const std::int64_t Remaining = FStream->Size() - FStream->Position();
  if (Remaining < Count) {
    FWarn("Premature end of data");
    Count = std::max<std::int64_t>(Remaining, 0);
  }
  std::uint8_t* Dest = FBuf.data() + (FLimit >> 3);
  const std::int64_t Got = Count > 0 ? FStream->Read(Dest, Count) : 0;
  if (Got > 0) FLimit += static_cast<std::uint32_t>(Got) * 8;
  // Keep the slack behind the data zero so stale bytes never enter a code.
  std::memset(FBuf.data() + (FLimit >> 3), 0, 8);
  return true;
}

int Decoder::ReadCodeSlow(int Width) {
  if (FFirstCall) {
    FFirstCall = false;
    return FClear;
  }
  if (FPos + Width >= FLimit) {
    if (FOutOfData) {
      if (FPos >= FLimit) FWarn("Decoder bit buffer under-run");
      return kNoData;
    }
    if (!RefillOne()) return kNoData;
    // A code may span several tiny sub-blocks: read on until it is complete.
    while (FPos + Width > FLimit) {
      if (FOutOfData) {
        // The data end inside a code.
        FPos = FLimit;
        FWarn("Decoder bit buffer under-run");
        return kNoData;
      }
      if (!RefillOne()) return kNoData;
    }
  }
  std::uint64_t W;
  std::memcpy(&W, FBuf.data() + (FPos >> 3), 8);
  const int Code = static_cast<int>((W >> (FPos & 7)) & ((1u << Width) - 1));
  FPos += Width;
  return Code;
}

void Decoder::SkipRest() {
  while (!FChainDone) {
    std::uint8_t Len = 0;
    if (FStream->Read(&Len, 1) != 1 || Len == 0) {
      FChainDone = true;
      break;
    }
    FStream->Seek(Len, soFromCurrent);
  }
}

void Decoder::ResetTables() {
  for (int i = 0; i < kTableSize; ++i) {
    FPrefix[i] = 0;
    FSuffix[i] = i < FClear ? static_cast<std::uint16_t>(i) : 0;
  }
}

// One step of the exact decoder with the code already read: returns the next pixel, or
// kNoData / kEndOfImage.
int Decoder::ExpandCode(int Code) {
  if (FEnded) return kEndOfImage;
  for (;;) {
    if (Code < 0) return Code;
    if (Code == FClear) {
      ResetTables();
      FCodeSize = FInitialCodeSize;
      FSizeLimit = 2 * FClear;
      FNext = FClear + 2;
      FStackTop = 0;
      do {
        Code = ReadCode(FCodeSize);
        FFirstCode = FOldCode = Code;
      } while (Code == FClear);
      if (Code < 0) return Code;
      if (Code < FClear) return Code;
      // The end code, or a code that nothing has defined yet: the frame ends here.
      FOldCode = -1;
      Code = FEnd;
    }
    if (Code == FEnd) {
      FEnded = true;
      SkipRest();
      return kEndOfImage;
    }
    const int Incoming = Code;
    if (Code >= FNext) {
      if (FOldCode < 0) {
        FEnded = true;
        return kNoData;
      }
      FStack[FStackTop++] = static_cast<std::uint16_t>(FFirstCode);
      Code = FOldCode;
    }
    while (Code >= FClear) {
      if (FStackTop >= kStackSize - 1) {
        // A cycle of prefixes in damaged data: end the frame.
        FStackTop = 0;
        FEnded = true;
        return kNoData;
      }
      FStack[FStackTop++] = FSuffix[Code];
      if (FPrefix[Code] == Code) RaiseGIFError("Circular decoder table entry");
      Code = FPrefix[Code];
    }
    FFirstCode = FSuffix[Code];
    FStack[FStackTop++] = static_cast<std::uint16_t>(FFirstCode);
    if (FNext < kTableSize) {
      FPrefix[FNext] = static_cast<std::uint16_t>(FOldCode);
      FSuffix[FNext] = static_cast<std::uint16_t>(FFirstCode);
      ++FNext;
      if (FNext >= FSizeLimit && FSizeLimit < kTableSize) {
        FSizeLimit *= 2;
        ++FCodeSize;
      }
    }
    FOldCode = Incoming;
    if (FStackTop > 0) return FStack[--FStackTop];
    Code = ReadCode(FCodeSize);
  }
}

void Decoder::Run(std::uint8_t* Out, std::int64_t Total) {
  FClear = 1 << FMinCodeSize;
  FEnd = FClear + 1;
  FInitialCodeSize = FMinCodeSize + 1;
  FCodeSize = FInitialCodeSize;
  FSizeLimit = 2 * FClear;
  FNext = FClear + 2;
  FStack = std::make_unique_for_overwrite<std::uint16_t[]>(kStackSize);
  for (int i = 0; i < FClear; ++i) {
    FPrefix[i] = 0;
    FSuffix[i] = static_cast<std::uint16_t>(i);
  }
  FPrefix[FClear] = FSuffix[FClear] = FPrefix[FEnd] = FSuffix[FEnd] = 0;

  std::int64_t P = 0;         // pixels written
  std::int64_t Leftover = 0;  // pixels of the last string that did not fit
  bool Slow = false;
  int Pending = 0;            // code handed to the exact path
  const std::uint8_t Fill = Total > 0 ? Out[0] : 0;
  const std::int64_t Room = Total + kLzwOutputSlack;

  // The first pixels of defined strings come from FHead (entries at and above the first free
  // code); the suffix table of the exact path is made from them when it takes over.
  auto MakeSuffixes = [&] {
    for (int k = FClear + 2; k < FNext; ++k) {
      const auto Len = static_cast<std::int64_t>(FMeta[k] >> 32);
      FSuffix[k] = Len <= 8 ? static_cast<std::uint8_t>(FHead[k] >> (8 * (Len - 1)))
                            : Out[static_cast<std::uint32_t>(FMeta[k]) + Len - 1];
    }
    for (int i = FNext; i < kTableSize; ++i) FPrefix[i] = FSuffix[i] = 0;
  };

  try {
    // ---- fast path, with its state in locals
    int Code = Total > 0 ? ReadCode(FCodeSize) : -1;  // the clear code of the first call
    std::uint32_t Pos = FPos, Limit = FLimit;
    int CodeSize = FCodeSize, Next = FNext, SizeLimit = FSizeLimit, Old = FOldCode;
    std::uint64_t LastHead = 0;  // the previous code's string: first 8 pixels, start, length
    std::int64_t LastPos = 0;
    std::int64_t LastLen = 0;
    const std::uint8_t* const Buf = FBuf.data();
    std::uint64_t* const Head = FHead.data();
    std::uint64_t* const Meta = FMeta.data();
    std::uint16_t* const Prefix = FPrefix.data();
    const int Clear = FClear, End = FEnd;
    auto Sync = [&] {
      FPos = Pos;
      FLimit = Limit;
      FCodeSize = CodeSize;
      FNext = Next;
      FSizeLimit = SizeLimit;
      FOldCode = Old;
      FFirstCode = static_cast<std::uint8_t>(LastHead);
    };
    auto Read = [&]() __attribute__((always_inline)) {
      if (Pos + CodeSize >= Limit) {
        FPos = Pos;
        FLimit = Limit;
        const int C = ReadCodeSlow(CodeSize);
        Pos = FPos;
        Limit = FLimit;
        return C;
      }
      std::uint64_t W;
      std::memcpy(&W, Buf + (Pos >> 3), 8);
      const int C = static_cast<int>((W >> (Pos & 7)) & ((1u << CodeSize) - 1));
      Pos += static_cast<std::uint32_t>(CodeSize);
      return C;
    };
    while (Total > 0) {
      if (Code < 0) break;
      if (Code == Clear) {
        CodeSize = FInitialCodeSize;
        SizeLimit = 2 * Clear;
        Next = Clear + 2;
        do {
          Code = Read();
        } while (Code == Clear);
        Old = Code;
        if (Code < 0) break;
        if (Code >= Clear) {
          // The end code or an undefined code right after a clear ends the frame.
          Old = -1;
          Sync();
          FEnded = true;
          SkipRest();
          break;
        }
        LastHead = static_cast<std::uint8_t>(Code);
        LastPos = P;
        LastLen = 1;
        Out[P++] = static_cast<std::uint8_t>(Code);
        if (P >= Total) break;
        Code = Read();
        continue;
      }
      if (Code == End) {
        Sync();
        FEnded = true;
        SkipRest();
        break;
      }
      if (Code > Next || Old < 0) {
        Slow = true;
        Pending = Code;
        break;
      }
      std::uint64_t H;
      std::int64_t Len;
      if (Code < Clear) {
        H = static_cast<std::uint8_t>(Code);
        Len = 1;
        Out[P] = static_cast<std::uint8_t>(Code);
      } else if (Code < Next) {
        const std::uint64_t M = Meta[Code];
        H = Head[Code];
        Len = static_cast<std::int64_t>(M >> 32);
        if (Len <= 8) {
          std::memcpy(Out + P, &H, 8);
        } else {
          const std::uint8_t* Src = Out + static_cast<std::uint32_t>(M);
          if (P + Len + 16 <= Room) {
            for (std::int64_t i = 0; i < Len; i += 16) Copy16(Out + P + i, Src + i);
          } else {
            std::memcpy(Out + P, Src, static_cast<std::size_t>(std::min(Len, Total - P)));
          }
        }
      } else {
        // The code being defined: the previous string and its own first pixel.
        Len = LastLen + 1;
        const auto First = static_cast<std::uint8_t>(LastHead);
        if (LastLen < 8) {
          H = LastHead | (static_cast<std::uint64_t>(First) << (8 * LastLen));
          std::memcpy(Out + P, &H, 8);
        } else {
          H = LastHead;
          const std::uint8_t* Src = Out + LastPos;
          if (P + Len + 16 <= Room) {
            for (std::int64_t i = 0; i < LastLen; i += 16) Copy16(Out + P + i, Src + i);
            Out[P + LastLen] = First;
          } else {
            const std::int64_t N = std::min(LastLen, Total - P);
            std::memmove(Out + P, Src, static_cast<std::size_t>(N));
            if (P + LastLen < Total) Out[P + LastLen] = First;
          }
        }
      }
      if (Next < kTableSize) {
        // The previous string plus this string's first pixel.
        Prefix[Next] = static_cast<std::uint16_t>(Old);
        Head[Next] = LastLen < 8 ? LastHead | ((H & 0xFF) << (8 * LastLen)) : LastHead;
        Meta[Next] = static_cast<std::uint64_t>(LastPos) | (static_cast<std::uint64_t>(LastLen + 1) << 32);
        ++Next;
        if (Next >= SizeLimit && SizeLimit < kTableSize) {
          SizeLimit *= 2;
          ++CodeSize;
        }
      }
      Old = Code;
      LastHead = H;
      LastPos = P;
      LastLen = Len;
      P += Len;
      if (P >= Total) {
        Leftover = P - Total;
        P = Total;
        break;
      }
      Code = Read();
    }
    Sync();
    // Bytes written ahead of the last string are scratch: give them back their fill value.
    if (P < Total) std::memset(Out + P, Fill, static_cast<std::size_t>(std::min<std::int64_t>(16, Total - P)));

    // ---- exact path for the rest of the frame
    if (Slow) {
      MakeSuffixes();
      FStackTop = 0;
      int V = ExpandCode(Pending);
      while (V >= 0) {
        Out[P++] = static_cast<std::uint8_t>(V);
        if (P >= Total) break;
        V = NextPixel();
      }
      Leftover = FStackTop;
    }
  } catch (...) {
    // One more pixel is taken after an error too, as after a normal end.
    try {
      if (FStackTop > 0)
        --FStackTop;
      else
        ExpandCode(ReadCode(FCodeSize));
    } catch (...) {
    }
    throw;
  }

  // One more value after the last pixel: normally the end code, which skips the rest.
  if (Leftover == 0 && !FEnded) {
    if (!Slow) MakeSuffixes();
    FStackTop = 0;
    ExpandCode(ReadCode(FCodeSize));
  }
  // Whatever follows the last pixel in the data is skipped, so that the stream always stands
  // on the next block.
  SkipRest();
}

}  // namespace

std::int64_t MaxPixelsForData(std::int64_t Bytes) {
  if (Bytes <= 0) return 0;
  // 8 bits per byte, at least 12 bits for a code of 4096 pixels once the table is full; the
  // narrower codes before stand for shorter strings.
  return (Bytes * 8 + 11) / 12 * 4096;
}

void DecodeLzwImage(TStream* Stream, std::uint8_t* Pixels, std::int64_t Width, std::int64_t Height,
                    bool Interlaced, const TLzwWarning& Warn) {
  std::uint8_t MinCodeSize = 0;
  if (Stream->Read(&MinCodeSize, 1) != 1) return;
  if (MinCodeSize > 11) RaiseGIFError("Invalid GIF data");

  auto D = std::make_unique<Decoder>(Stream, Warn);
  D->FMinCodeSize = MinCodeSize;
  const std::int64_t Total = (Width > 0 && Height > 0) ? Width * Height : 0;
  if (!Interlaced || Total == 0) {
    D->Run(Pixels, Total);
    return;
  }
  // Interlaced: decode in stream order, then put the rows in place (also when decoding raised:
  // the rows decoded so far are kept).
  std::unique_ptr<std::uint8_t[]> Linear(new std::uint8_t[static_cast<std::size_t>(Total + kLzwOutputSlack)]);
  std::memset(Linear.get(), Pixels[0], static_cast<std::size_t>(Total));
  auto Place = [&] {
    std::int64_t Row = 0, Step = 8, Pass = 0;
    for (std::int64_t i = 0; i < Height; ++i) {
      std::memcpy(Pixels + Row * Width, Linear.get() + i * Width, static_cast<std::size_t>(Width));
      Row += Step;
      while (Row >= Height && i + 1 < Height) {
        if (Pass > 0) Step /= 2;
        ++Pass;
        Row = Step / 2;
      }
    }
  };
  try {
    D->Run(Linear.get(), Total);
  } catch (...) {
    Place();
    throw;
  }
  Place();
}

}  // namespace gif
