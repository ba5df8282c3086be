#include "gif/LzwDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "gif/Utils.h"

static_assert(std::endian::native == std::endian::little, "the bit reader assumes little-endian loads");

namespace gif {

namespace {

constexpr int kTableSize = 4096;
constexpr int kStackSize = 8192;
constexpr int kNoData = -1;
constexpr int kEndOfImage = -2;
// The longest string a code can stand for (minimum code size 1: codes 4 to 4095 add a pixel each).
constexpr int kLongestString = kTableSize;
// Interlace passes: first row and row step of each.
constexpr std::array<std::int64_t, 4> kPassStart{0, 4, 2, 1};
constexpr std::array<std::int64_t, 4> kPassStep{8, 8, 4, 2};
// Rows decoded before a row of each pass lie this many rows below it (none for pass 0).
constexpr std::array<std::int64_t, 4> kPassDecodedBelow{0, 4, 2, 1};

// A table entry of the fast path: the first 8 pixels of the string, and where a copy of the whole
// string stands. When that copy lies in one piece in memory, At is its offset from the first
// pixel; when it is cut by the end of a row (interlaced frames), At is its position in stream
// order and Len carries kSplit.
struct Entry {
  std::uint64_t Head;
  std::uint32_t At;
  std::uint32_t Len;
};
constexpr std::uint32_t kSplit = 1u << 31;

// 16 bytes through registers: the source may reach into the bytes being written (scratch
// bytes past the string), which a plain memcpy must not be given.
inline void Copy16(std::uint8_t* Dest, const std::uint8_t* Src) {
  std::uint64_t A, B;
  std::memcpy(&A, Src, 8);
  std::memcpy(&B, Src + 8, 8);
  std::memcpy(Dest, &A, 8);
  std::memcpy(Dest + 8, &B, 8);
}

// The decoder. Its tables are kept for the thread and reused for every frame.
//
// Codes are read from the data sub-blocks one sub-block at a time, exactly when a code needs
// bits beyond those at hand, so the stream is consumed as the block structure says. Two code
// paths share the reader and the tables:
//  - a fast path that writes each code's whole string into the output at once (a string is a
//    copy of pixels already decoded: the string of the previous code and one pixel of the next);
//  - an exact path (output stack, one pixel at a time) that takes over for the rest of the
//    frame at the first code that is not a defined code or the next one, and serves the code
//    read after the last pixel unless it is the end code.
// Both produce the same pixels, warnings and stream position.
//
// Pixels go straight to their rows, in interlaced order when the frame is interlaced; pixels the
// data does not reach get the fill value at the end, and nothing else is filled.
class Decoder {
 public:
  bool InUse{false};

  void Decode(TStream* Stream, const TLzwWarning& Warn, int MinCodeSize, std::uint8_t* Out, std::int64_t Width,
              std::int64_t Height, bool Interlaced, std::uint8_t Fill);

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

  // ---- output rows
  void StartRows(std::uint8_t* Out, std::int64_t Width, std::int64_t Height, bool Interlaced);
  void NextRow();
  std::uint8_t* RowOfStreamRow(std::int64_t StreamRow) const;
  void Gather(std::uint64_t StreamPos, std::int64_t Len, std::uint8_t* Dest) const;
  const std::uint8_t* StringOf(std::uint64_t Head, std::uint32_t At, std::uint32_t Len, std::uint8_t* Tmp) const;
  void PutExact(const std::uint8_t* Src, std::int64_t Len, std::uint32_t& At, std::uint32_t& Flag);
  void PutPixel(std::uint8_t V) {
    FRow[FCol] = V;
    if (++FCol == FRowWidth) NextRow();
  }
  void FillRest(std::uint8_t Fill);

  // ---- exact path
  void MakeExactTables();
  void ResetTables();
  int ExpandCode(int Code);
  int NextPixel() {
    if (FStackTop > 0) return FStack[--FStackTop];
    return ExpandCode(ReadCode(FCodeSize));
  }

  void Run();

  TStream* FStream{nullptr};
  const TLzwWarning* FWarn{nullptr};

  // Bit buffer: data of the sub-blocks read so far (consumed bytes dropped from the front),
  // with zero slack behind for 8-byte loads.
  std::array<std::uint8_t, 1024> FBuf{};
  std::uint32_t FPos{0};    // next unread bit
  std::uint32_t FLimit{0};  // valid bits
  bool FFirstCall{true};
  bool FOutOfData{false};
  bool FChainDone{false};  // the terminator or the end of the stream has been met
  bool FEnded{false};      // the end code (or an unusable code) has ended the frame

  int FMinCodeSize{0};
  int FClear{0}, FEnd{0}, FInitialCodeSize{0}, FCodeSize{0}, FNext{0}, FSizeLimit{0};
  int FFirstCode{0}, FOldCode{-1};

  // The output: the frame, its rows in stream order, and the row being written.
  std::uint8_t* FOut{nullptr};
  std::int64_t FWidth{0}, FHeight{0};
  bool FInterlaced{false};
  std::int64_t FRowWidth{0};   // the whole frame is one row when not interlaced
  std::int64_t FRows{0};
  std::int64_t FStreamRow{0};  // rows done before the current one
  std::int64_t FMemRow{0};
  int FPass{0};
  std::uint8_t* FRow{nullptr};
  std::int64_t FCol{0};
  std::int64_t FFastLimit{0};  // a string ending at or before this column may be written with scratch bytes
  bool FDone{false};           // every pixel is written
  std::int64_t FLeftover{0};   // pixels of the last string beyond the frame

  bool FExact{false};   // the exact path's tables are set up
  int FRootsReady{0};  // entries below this are the roots (one pixel, its own value)
  std::array<Entry, kTableSize> FTable;
  std::array<std::uint16_t, kTableSize> FPrefix;
  std::array<std::uint16_t, kTableSize> FSuffix;
  std::array<std::uint16_t, kStackSize> FStack;
  int FStackTop{0};
  std::array<std::uint8_t, kLongestString + 16> FTmp;
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
    (*FWarn)("Premature end of data");
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
      if (FPos >= FLimit) (*FWarn)("Decoder bit buffer under-run");
      return kNoData;
    }
    if (!RefillOne()) return kNoData;
    // A code may span several tiny sub-blocks: read on until it is complete.
    while (FPos + Width > FLimit) {
      if (FOutOfData) {
        // The data end inside a code.
        FPos = FLimit;
        (*FWarn)("Decoder bit buffer under-run");
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

// ---- output rows

void Decoder::StartRows(std::uint8_t* Out, std::int64_t Width, std::int64_t Height, bool Interlaced) {
  FOut = Out;
  FWidth = Width;
  FHeight = Height;
  FInterlaced = Interlaced && Height > 1;
  FRowWidth = FInterlaced ? Width : Width * Height;
  FRows = FInterlaced ? Height : 1;
  FStreamRow = 0;
  FMemRow = 0;
  FPass = 0;
  FRow = Out;
  FCol = 0;
  FLeftover = 0;
  FDone = FRowWidth <= 0;
  // The slack behind the frame takes the scratch bytes of the last strings.
  FFastLimit = FRowWidth;
}

void Decoder::NextRow() {
  if (++FStreamRow >= FRows) {
    FDone = true;
    return;
  }
  FMemRow += kPassStep[static_cast<std::size_t>(FPass)];
  while (FMemRow >= FHeight) {
    ++FPass;
    FMemRow = kPassStart[static_cast<std::size_t>(FPass)];
  }
  FRow = FOut + FMemRow * FWidth;
  FCol = 0;
  // Scratch bytes may run on into the rows below that are still to come, up to the first row
  // decoded already (or the slack behind the frame).
  const std::int64_t Below = kPassDecodedBelow[static_cast<std::size_t>(FPass)];
  const std::int64_t Decoded = Below == 0 ? FHeight : std::min(FMemRow + Below, FHeight);
  const std::int64_t Room = (Decoded - FMemRow) * FWidth + (Decoded >= FHeight ? kLzwOutputSlack : 0);
  FFastLimit = std::min(FWidth, Room - 16);
}

std::uint8_t* Decoder::RowOfStreamRow(std::int64_t StreamRow) const {
  if (!FInterlaced) return FOut;
  for (std::size_t Pass = 0; Pass < 4; ++Pass) {
    const std::int64_t Start = kPassStart[Pass], Step = kPassStep[Pass];
    const std::int64_t Count = FHeight > Start ? (FHeight - Start + Step - 1) / Step : 0;
    if (StreamRow < Count) return FOut + (Start + StreamRow * Step) * FWidth;
    StreamRow -= Count;
  }
  return FOut;
}

// Copies Len pixels decoded earlier, from position StreamPos in stream order.
void Decoder::Gather(std::uint64_t StreamPos, std::int64_t Len, std::uint8_t* Dest) const {
  std::int64_t Row = static_cast<std::int64_t>(StreamPos) / FRowWidth;
  std::int64_t Col = static_cast<std::int64_t>(StreamPos) % FRowWidth;
  while (Len > 0) {
    const std::int64_t N = std::min(Len, FRowWidth - Col);
    std::memcpy(Dest, RowOfStreamRow(Row) + Col, static_cast<std::size_t>(N));
    Dest += N;
    Len -= N;
    ++Row;
    Col = 0;
  }
}

// The pixels of a string described as an Entry (in Tmp unless they lie in one piece).
const std::uint8_t* Decoder::StringOf(std::uint64_t Head, std::uint32_t At, std::uint32_t Len,
                                      std::uint8_t* Tmp) const {
  const std::uint32_t N = Len & ~kSplit;
  if (N <= 8) {
    std::memcpy(Tmp, &Head, 8);
    return Tmp;
  }
  if (!(Len & kSplit)) return FOut + At;
  Gather(At, N, Tmp);
  return Tmp;
}

// Writes a string exactly (no scratch bytes), across row ends, up to the end of the frame. At and
// Flag tell where it stands, for an entry made of it and the pixel after it (see Entry).
void Decoder::PutExact(const std::uint8_t* Src, std::int64_t Len, std::uint32_t& At, std::uint32_t& Flag) {
  const bool OneRow = FCol + Len < FRowWidth;
  At = static_cast<std::uint32_t>(OneRow ? FRow + FCol - FOut : FStreamRow * FRowWidth + FCol);
  Flag = OneRow ? 0 : kSplit;
  while (Len > 0 && !FDone) {
    const std::int64_t N = std::min(Len, FRowWidth - FCol);
    std::memmove(FRow + FCol, Src, static_cast<std::size_t>(N));
    Src += N;
    Len -= N;
    FCol += N;
    if (FCol == FRowWidth) NextRow();
  }
  FLeftover = Len;
}

// Everything from the current position on, in stream order, gets the fill value.
void Decoder::FillRest(std::uint8_t Fill) {
  while (!FDone) {
    std::memset(FRow + FCol, Fill, static_cast<std::size_t>(FRowWidth - FCol));
    NextRow();
  }
}

// ---- exact path

void Decoder::ResetTables() {
  for (int i = 0; i < kTableSize; ++i) {
    FPrefix[static_cast<std::size_t>(i)] = 0;
    FSuffix[static_cast<std::size_t>(i)] = i < FClear ? static_cast<std::uint16_t>(i) : 0;
  }
}

// The exact path's suffixes from the fast path's entries (its prefixes are kept as it goes).
void Decoder::MakeExactTables() {
  for (int i = 0; i < FClear; ++i) {
    FPrefix[static_cast<std::size_t>(i)] = 0;
    FSuffix[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i);
  }
  FPrefix[static_cast<std::size_t>(FClear)] = FSuffix[static_cast<std::size_t>(FClear)] = 0;
  FPrefix[static_cast<std::size_t>(FEnd)] = FSuffix[static_cast<std::size_t>(FEnd)] = 0;
  for (int k = FClear + 2; k < FNext; ++k) {
    const Entry& E = FTable[static_cast<std::size_t>(k)];
    const std::uint32_t Len = E.Len & ~kSplit;
    std::uint8_t Last;
    if (Len <= 8)
      Last = static_cast<std::uint8_t>(E.Head >> (8 * (Len - 1)));
    else if (!(E.Len & kSplit))
      Last = FOut[E.At + Len - 1];
    else
      Gather(E.At + Len - 1, 1, &Last);
    FSuffix[static_cast<std::size_t>(k)] = Last;
  }
  for (int i = FNext; i < kTableSize; ++i) FPrefix[static_cast<std::size_t>(i)] = FSuffix[static_cast<std::size_t>(i)] = 0;
  FStackTop = 0;
  FExact = true;
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
      FStack[static_cast<std::size_t>(FStackTop++)] = static_cast<std::uint16_t>(FFirstCode);
      Code = FOldCode;
    }
    while (Code >= FClear) {
      if (FStackTop >= kStackSize - 1) {
        // A cycle of prefixes in damaged data: end the frame.
        FStackTop = 0;
        FEnded = true;
        return kNoData;
      }
      FStack[static_cast<std::size_t>(FStackTop++)] = FSuffix[static_cast<std::size_t>(Code)];
      if (FPrefix[static_cast<std::size_t>(Code)] == Code) RaiseGIFError("Circular decoder table entry");
      Code = FPrefix[static_cast<std::size_t>(Code)];
    }
    FFirstCode = FSuffix[static_cast<std::size_t>(Code)];
    FStack[static_cast<std::size_t>(FStackTop++)] = static_cast<std::uint16_t>(FFirstCode);
    if (FNext < kTableSize) {
      FPrefix[static_cast<std::size_t>(FNext)] = static_cast<std::uint16_t>(FOldCode);
      FSuffix[static_cast<std::size_t>(FNext)] = static_cast<std::uint16_t>(FFirstCode);
      ++FNext;
      if (FNext >= FSizeLimit && FSizeLimit < kTableSize) {
        FSizeLimit *= 2;
        ++FCodeSize;
      }
    }
    FOldCode = Incoming;
    if (FStackTop > 0) return FStack[static_cast<std::size_t>(--FStackTop)];
    Code = ReadCode(FCodeSize);
  }
}

// ---- the frame

void Decoder::Run() {
  // The fast path keeps its state in locals.
  std::uint32_t Pos = FPos, Limit = FLimit;
  int CodeSize = FCodeSize, Next = FNext, SizeLimit = FSizeLimit, Old = FOldCode;
  std::uint64_t LastHead = 0;
  std::uint32_t LastLen = 0, LastAt = 0, LastFlag = 0;
  std::uint8_t* Row = FRow;
  std::int64_t Col = FCol, FastLimit = FFastLimit;
  const std::int64_t RowWidth = FRowWidth;
  const std::uint8_t* const Buf = FBuf.data();
  Entry* const Table = FTable.data();
  std::uint16_t* const Prefix = FPrefix.data();
  std::uint8_t* const Out = FOut;
  std::uint8_t* const Tmp = FTmp.data();
  const int Clear = FClear, End = FEnd;
  bool Slow = false;
  int Pending = 0;  // the code handed to the exact path

  auto Sync = [&] {
    FPos = Pos;
    FLimit = Limit;
    FCodeSize = CodeSize;
    FNext = Next;
    FSizeLimit = SizeLimit;
    FOldCode = Old;
    FFirstCode = static_cast<std::uint8_t>(LastHead);
    FRow = Row;
    FCol = Col;
  };
  auto Read = [&]() __attribute__((always_inline)) {
    if (Pos + static_cast<std::uint32_t>(CodeSize) >= Limit) {
      Sync();
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
  // Writes a string the exact way (at the end of a row or of the frame); At and Flag tell where
  // it stands.
  auto PutSlow = [&](const std::uint8_t* Src, std::uint32_t Len, std::uint32_t& At, std::uint32_t& Flag) {
    Sync();
    PutExact(Src, Len, At, Flag);
    Row = FRow;
    Col = FCol;
    FastLimit = FFastLimit;
  };
  // After a string: the table gains the previous string and this string's first pixel (unless
  // the string follows a clear code), and this string becomes the previous one.
  auto Finish = [&](bool Define, std::uint64_t H, std::uint32_t Len, std::uint32_t At, std::uint32_t Flag)
                    __attribute__((always_inline)) {
    if (Define && Next < kTableSize) {
      Prefix[Next] = static_cast<std::uint16_t>(Old);
      Table[Next] = Entry{LastLen < 8 ? LastHead | ((H & 0xFF) << (8 * LastLen)) : LastHead, LastAt,
                          (LastLen + 1) | LastFlag};
      ++Next;
      if (Next >= SizeLimit && SizeLimit < kTableSize) {
        SizeLimit *= 2;
        ++CodeSize;
      }
    }
    LastHead = H;
    LastLen = Len;
    LastAt = At;
    LastFlag = Flag;
  };
  // A string written the fast way ended its row: an entry made of it and the next pixel is cut.
  auto RowEnd = [&] {
    LastAt = static_cast<std::uint32_t>(FStreamRow * RowWidth + Col - LastLen);
    LastFlag = kSplit;
    Sync();
    NextRow();
    Row = FRow;
    Col = FCol;
    FastLimit = FFastLimit;
  };

  FFirstCall = false;
  int Code = Clear;
  for (;;) {
    if (static_cast<unsigned>(Code) < static_cast<unsigned>(Next)) [[likely]] {
      const Entry E = Table[Code];
      if (Col + E.Len <= FastLimit) [[likely]] {
        std::uint8_t* Dest = Row + Col;
        if (E.Len <= 8) {
          std::memcpy(Dest, &E.Head, 8);
        } else {
          const std::uint8_t* Src = Out + E.At;
          for (std::uint32_t i = 0; i < E.Len; i += 16) Copy16(Dest + i, Src + i);
        }
        Finish(true, E.Head, E.Len, static_cast<std::uint32_t>(Dest - Out), 0);
        Old = Code;
        Col += E.Len;
        if (Col == RowWidth) {
          RowEnd();
          if (FDone) break;
        }
      } else if (Code == Clear) {
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
        const auto Pixel = static_cast<std::uint8_t>(Code);
        std::uint32_t At = 0, Flag = 0;
        if (Col + 1 <= FastLimit) {
          Row[Col] = Pixel;
          At = static_cast<std::uint32_t>(Row + Col - Out);
          ++Col;
        } else {
          PutSlow(&Pixel, 1, At, Flag);
        }
        Finish(false, Pixel, 1, At, Flag);
        if (FDone) break;
        if (Col == RowWidth) {
          RowEnd();
          if (FDone) break;
        }
      } else if (Code == End) {
        Sync();
        FEnded = true;
        SkipRest();
        break;
      } else {
        const std::uint32_t Len = E.Len & ~kSplit;
        std::uint32_t At = 0, Flag = 0;
        PutSlow(StringOf(E.Head, E.At, E.Len, Tmp), Len, At, Flag);
        Finish(true, E.Head, Len, At, Flag);
        Old = Code;
        if (FDone) break;
      }
    } else if (Code == Next && Old >= 0) {
      // The code being defined: the previous string and its own first pixel.
      const std::uint32_t Len = LastLen + 1;
      const auto First = static_cast<std::uint8_t>(LastHead);
      const std::uint64_t H = LastLen < 8 ? LastHead | (static_cast<std::uint64_t>(First) << (8 * LastLen)) : LastHead;
      if (Col + Len <= FastLimit && (LastLen < 8 || !LastFlag)) {
        std::uint8_t* Dest = Row + Col;
        if (LastLen < 8) {
          std::memcpy(Dest, &H, 8);
        } else {
          const std::uint8_t* Src = Out + LastAt;
          for (std::uint32_t i = 0; i < LastLen; i += 16) Copy16(Dest + i, Src + i);
          Dest[LastLen] = First;
        }
        Finish(true, H, Len, static_cast<std::uint32_t>(Dest - Out), 0);
        Old = Code;
        Col += Len;
        if (Col == RowWidth) {
          RowEnd();
          if (FDone) break;
        }
      } else {
        const std::uint8_t* Src = StringOf(LastHead, LastAt, LastLen | LastFlag, Tmp);
        if (Src != Tmp) std::memcpy(Tmp, Src, LastLen);
        Tmp[LastLen] = First;
        std::uint32_t At = 0, Flag = 0;
        PutSlow(Tmp, Len, At, Flag);
        Finish(true, H, Len, At, Flag);
        Old = Code;
        if (FDone) break;
      }
    } else {
      if (Code >= 0) {
        // An undefined code (or no previous code): the exact path decides.
        Slow = true;
        Pending = Code;
      }
      break;
    }
    Code = Read();
  }
  Sync();

  if (Slow) {
    MakeExactTables();
    int V = ExpandCode(Pending);
    while (V >= 0) {
      PutPixel(static_cast<std::uint8_t>(V));
      if (FDone) break;
      V = NextPixel();
    }
    FLeftover = FStackTop;
  }
  // One more value after the last pixel: normally the end code, which skips the rest.
  if (FLeftover == 0 && !FEnded) {
    const int C = ReadCode(FCodeSize);
    if (C == FEnd) {
      FEnded = true;
    } else if (C >= 0) {
      if (!FExact) MakeExactTables();
      FStackTop = 0;
      ExpandCode(C);
    }
  }
}

void Decoder::Decode(TStream* Stream, const TLzwWarning& Warn, int MinCodeSize, std::uint8_t* Out,
                     std::int64_t Width, std::int64_t Height, bool Interlaced, std::uint8_t Fill) {
  FStream = Stream;
  FWarn = &Warn;
  FClear = 1 << MinCodeSize;
  FEnd = FClear + 1;
  FInitialCodeSize = MinCodeSize + 1;
  FCodeSize = FInitialCodeSize;
  FSizeLimit = 2 * FClear;
  FNext = FClear + 2;
  FFirstCode = 0;
  FOldCode = -1;
  FPos = FLimit = 0;
  FFirstCall = true;
  FOutOfData = FChainDone = FEnded = false;
  FStackTop = 0;
  FExact = false;
  // The roots stand for themselves; the clear and end codes are never written the fast way.
  for (int i = FRootsReady; i < FClear; ++i)
    FTable[static_cast<std::size_t>(i)] = Entry{static_cast<std::uint64_t>(i & 0xFF), 0, 1};
  FRootsReady = FClear;
  FTable[static_cast<std::size_t>(FClear)] = FTable[static_cast<std::size_t>(FEnd)] = Entry{0, 0, ~0u};
  StartRows(Out, Width, Height, Interlaced);
  try {
    if (!FDone) {
      Run();
    } else {
      // No pixels: the one value after them is still taken.
      const int C = ReadCode(FCodeSize);
      if (C >= 0 && C != FEnd) MakeExactTables();
      ExpandCode(C);
    }
    SkipRest();
  } catch (...) {
    // One more pixel is taken after an error too, as after a normal end.
    try {
      if (FStackTop > 0) {
        --FStackTop;
      } else {
        if (!FExact) MakeExactTables();
        ExpandCode(ReadCode(FCodeSize));
      }
    } catch (...) {
    }
    FillRest(Fill);
    throw;
  }
  FillRest(Fill);
}

// The thread's decoder, kept from frame to frame; a new one while it is busy (a warning
// handler may load another picture).
class DecoderLease {
 public:
  DecoderLease() {
    thread_local std::unique_ptr<Decoder> Kept;
    if (!Kept) Kept = std::make_unique<Decoder>();
    if (Kept->InUse) {
      FOwn = std::make_unique<Decoder>();
      FDecoder = FOwn.get();
    } else {
      FDecoder = Kept.get();
    }
    FDecoder->InUse = true;
  }
  ~DecoderLease() { FDecoder->InUse = false; }
  DecoderLease(const DecoderLease&) = delete;
  DecoderLease& operator=(const DecoderLease&) = delete;
  Decoder* operator->() const { return FDecoder; }

 private:
  std::unique_ptr<Decoder> FOwn;
  Decoder* FDecoder;
};

}  // namespace

std::int64_t MaxPixelsForData(std::int64_t Bytes) {
  if (Bytes <= 0) return 0;
  // 8 bits per byte, at least 12 bits for a code of 4096 pixels once the table is full; the
  // narrower codes before stand for shorter strings.
  return (Bytes * 8 + 11) / 12 * 4096;
}

void DecodeLzwImage(TStream* Stream, std::uint8_t* Pixels, std::int64_t Width, std::int64_t Height,
                    bool Interlaced, std::uint8_t Fill, const TLzwWarning& Warn) {
  const std::int64_t Total = (Width > 0 && Height > 0) ? Width * Height : 0;
  std::uint8_t MinCodeSize = 0;
  if (Stream->Read(&MinCodeSize, 1) != 1) {
    std::memset(Pixels, Fill, static_cast<std::size_t>(Total));
    return;
  }
  if (MinCodeSize > 11) {
    std::memset(Pixels, Fill, static_cast<std::size_t>(Total));
    RaiseGIFError("Invalid GIF data");
  }
  DecoderLease D;
  D->Decode(Stream, Warn, MinCodeSize, Pixels, Total > 0 ? Width : 0, Total > 0 ? Height : 0, Interlaced, Fill);
}

}  // namespace gif
