#include "LzwReference.h"

#include <cstring>
#include <stdexcept>

namespace giftest {

namespace {

struct Ref {
  TStream* S;
  std::vector<std::string>* Warn;
  int InitialSize, CodeSize, Clear, End, Next, Limit, First, Old{-1};
  std::uint8_t Buf[2 + 255 + 2]{};
  int BitPos{0}, BitLimit{0}, LastLen{2};
  bool FirstCall{true}, OutOfData{false}, TermSeen{false}, ChainDone{false}, Ended{false};
  int Prefix[4096]{}, Suffix[4096]{};
  int Stack[8192]{};
  int Top{0};

  bool Refill() {
    Buf[0] = Buf[LastLen - 2];
    Buf[1] = Buf[LastLen - 1];
    std::uint8_t Len;
    if (S->Read(&Len, 1) != 1) {
      ChainDone = true;
      return false;
    }
    int Count = Len;
    if (Len == 0) {
      OutOfData = TermSeen = ChainDone = true;
    } else {
      const std::int64_t Rem = S->Size() - S->Position();
      if (Rem < Len) {
        Warn->push_back("Premature end of data");
        Count = static_cast<int>(Rem < 0 ? 0 : Rem);
      }
      Count = static_cast<int>(S->Read(Buf + 2, Count));
    }
    LastLen = Count + 2;
    BitPos = BitPos - BitLimit + 16;
    BitLimit = LastLen * 8;
    return true;
  }

  int ReadCode(int Width) {
    if (FirstCall) {
      FirstCall = false;
      return Clear;
    }
    if (BitPos + Width >= BitLimit) {
      if (OutOfData) {
        if (BitPos >= BitLimit) Warn->push_back("Decoder bit buffer under-run");
        return -1;
      }
      if (!Refill()) return -1;
      while (BitPos + Width > BitLimit) {
        if (OutOfData) {
          BitPos = BitLimit;
          Warn->push_back("Decoder bit buffer under-run");
          return -1;
        }
        if (!Refill()) return -1;
      }
    }
    const int I = BitPos / 8, E = (BitPos + Width) / 8;
    std::uint32_t G = Buf[I];
    if (E == I + 1) G |= Buf[I + 1] << 8;
    if (E >= I + 2) G |= (Buf[I + 1] << 8) | (Buf[I + 2] << 16);
    const int Code = static_cast<int>((G >> (BitPos & 7)) & ((1u << Width) - 1));
    BitPos += Width;
    return Code;
  }

  void Skip() {
    while (!ChainDone) {
      std::uint8_t Len;
      if (S->Read(&Len, 1) != 1 || Len == 0) {
        ChainDone = true;
        return;
      }
      S->Seek(Len, soFromCurrent);
    }
  }

  int Expand() {
    if (Ended) return -2;
    int C = ReadCode(CodeSize);
    for (;;) {
      if (C < 0) return C;
      if (C == Clear) {
        for (int i = 0; i < 4096; ++i) {
          Prefix[i] = 0;
          Suffix[i] = i < Clear ? i : 0;
        }
        CodeSize = InitialSize;
        Limit = 2 * Clear;
        Next = Clear + 2;
        Top = 0;
        do {
          C = ReadCode(CodeSize);
          First = Old = C;
        } while (C == Clear);
        if (C < Clear) return C;  // also a negative value
        Old = -1;
        C = End;
      }
      if (C == End) {
        Ended = true;
        Skip();
        return -2;
      }
      const int In = C;
      if (C >= Next) {
        if (Old < 0) {
          Ended = true;
          return -1;
        }
        Stack[Top++] = First;
        C = Old;
      }
      while (C >= Clear) {
        if (Top >= 8191) {
          Top = 0;
          Ended = true;
          return -1;
        }
        Stack[Top++] = Suffix[C];
        if (Prefix[C] == C) throw std::runtime_error("Circular decoder table entry");
        C = Prefix[C];
      }
      First = Suffix[C];
      Stack[Top++] = First;
      if (Next <= 4095) {
        Prefix[Next] = Old;
        Suffix[Next] = First;
        ++Next;
        if (Next >= Limit && Limit <= 4095) {
          Limit *= 2;
          ++CodeSize;
        }
      }
      Old = In;
      if (Top > 0) return Stack[--Top];
      C = ReadCode(CodeSize);
    }
  }

  int NextPixel() { return Top > 0 ? Stack[--Top] : Expand(); }
};

}  // namespace

ReferenceResult ReferenceDecode(TStream* Stream, int Width, int Height, bool Interlaced, std::uint8_t Fill) {
  ReferenceResult R;
  R.Pixels.assign(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height), Fill);
  std::uint8_t Mcs;
  if (Stream->Read(&Mcs, 1) != 1) {
    R.Position = Stream->Position();
    return R;
  }
  if (Mcs > 11) {
    R.Error = "Invalid GIF data";
    R.Position = Stream->Position();
    return R;
  }
  auto D = std::make_unique<Ref>();
  D->S = Stream;
  D->Warn = &R.Warnings;
  D->InitialSize = Mcs + 1;
  D->CodeSize = D->InitialSize;
  D->Clear = 1 << Mcs;
  D->End = D->Clear + 1;
  D->Limit = 2 * D->Clear;
  D->Next = D->Clear + 2;
  bool Done = false;
  try {
    if (Interlaced) {
      int Row = 0, Step = 8, Pass = 0;
      for (int i = 0; i < Height && !Done; ++i) {
        for (int x = 0; x < Width; ++x) {
          const int V = D->NextPixel();
          if (V < 0) {
            Done = true;
            break;
          }
          R.Pixels[static_cast<std::size_t>(Row) * Width + x] = static_cast<std::uint8_t>(V);
        }
        Row += Step;
        while (Row >= Height) {
          if (Pass > 0) Step /= 2;
          ++Pass;
          Row = Step / 2;
          if (Step == 0) break;
        }
      }
    } else {
      for (std::size_t i = 0; i < R.Pixels.size(); ++i) {
        const int V = D->NextPixel();
        if (V < 0) break;
        R.Pixels[i] = static_cast<std::uint8_t>(V);
      }
    }
  } catch (const std::exception& E) {
    R.Error = E.what();
    try {
      D->NextPixel();
    } catch (...) {
    }
    R.Position = Stream->Position();
    return R;
  }
  try {
    D->NextPixel();
  } catch (const std::exception& E) {
    R.Error = E.what();
    R.Position = Stream->Position();
    return R;
  }
  D->Skip();
  R.Position = Stream->Position();
  return R;
}

}  // namespace giftest
