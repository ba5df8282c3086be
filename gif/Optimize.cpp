// Image optimisation: colour maps sorted and trimmed, unused transparency switched off, covered
// disposals reset, repeated pixels made transparent, transparent borders cropped, and frames
// and extensions that carry nothing removed.
#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <cstring>
#include <vector>

#include "gif/Image.h"
#include "gif/Painter.h"

namespace gif {

namespace {

// Counts the bytes written to it.
class TSizeStream : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override {
    if (Count > 0) FSize += Count;
    return std::max<std::int64_t>(Count, 0);
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return FSize; }
  std::int64_t Size() override { return FSize; }

 private:
  std::int64_t FSize{0};
};

// The bytes the frame takes in a stream (extensions, descriptor, local table, image data).
std::int64_t WrittenSize(TGIFSubImage* Frame) {
  TSizeStream S;
  Frame->SaveToStream(&S);
  return S.Size();
}

int Disposal(TGIFSubImage* Frame) {
  TGIFGraphicControlExtension* G = Frame->GraphicControlExtension();
  return G ? G->DisposalMethod() : 0;
}

bool HasLoop(TGIFSubImage* Frame) {
  for (int e = 0; e < Frame->Extensions().Count(); ++e)
    if (dynamic_cast<TGIFAppExtNSLoop*>(Frame->Extensions().ExtensionAt(e))) return true;
  return false;
}

// Transparent borders may go: a frame restored to the background clears its whole rectangle,
// transparent border included, so cropping it would leave that border showing.
bool MayCrop(TGIFSubImage* Frame) {
  return !Frame->IsEmpty() && Frame->Transparent() && Frame->GraphicControlExtension() && Disposal(Frame) != 2;
}

// A copy of the frame's contents, to put back with Restore (it belongs to no image: it is not
// written itself).
std::unique_ptr<TGIFSubImage> Snapshot(TGIFSubImage* Frame) {
  auto Copy = std::make_unique<TGIFSubImage>(nullptr);
  Copy->Assign(Frame);
  return Copy;
}

// The bits of Codes codes written from code size Bits on: each code is as wide as the next free
// code needs, and the table is cleared whenever it fills.
std::int64_t CodeBits(std::int64_t Codes, int Bits) {
  const std::int64_t First = (std::int64_t{1} << Bits) + 2, PerTable = 4096 - First;
  std::int64_t Total = 0;
  while (Codes > 0) {
    const std::int64_t N = std::min(Codes, PerTable);
    std::int64_t K = 0;
    for (int Width = Bits + 1; K < N; ++Width) {
      const std::int64_t Upto = std::min(N, (std::int64_t{1} << Width) - First + 1);
      if (Upto > K) {
        Total += (Upto - K) * Width;
        K = Upto;
      }
    }
    Codes -= N;
    if (Codes > 0) Total += 12;
  }
  return Total;
}

// A frame drawn from the global table: the entries it uses and how many codes its pixels take.
struct TGlobalFrame {
  TGIFSubImage* Frame;
  std::bitset<256> Colors;
  std::int64_t Codes;
};

// The written size of the frames.
std::int64_t FramesSize(const std::vector<TGlobalFrame>& Frames) {
  std::int64_t Size = 0;
  for (const TGlobalFrame& F : Frames) Size += WrittenSize(F.Frame);
  return Size;
}

// The bits the frames' codes take when entry c of the table goes to Remap[c].
std::int64_t OrderCost(const std::vector<TGlobalFrame>& Frames, const TColormapReverse& Remap) {
  std::int64_t Bits = 0;
  for (const TGlobalFrame& F : Frames) {
    int Max = 0;
    for (int c = 0; c < 256; ++c)
      if (F.Colors[static_cast<std::size_t>(c)]) Max = std::max(Max, static_cast<int>(Remap[static_cast<std::size_t>(c)]));
    Bits += CodeBits(F.Codes, std::max(2, static_cast<int>(std::bit_width(static_cast<unsigned>(Max)))));
  }
  return Bits;
}

// A frame's codes are as wide as its largest index needs: the global table is ordered so that
// frames that need few of its colours find them at its start. Two orders are made and the one
// whose codes take the fewest bits is kept where it makes the frames smaller than they are:
// - frames placed one at a time, each time the one that adds the fewest colours to those
//   placed (the one with more codes first among equals);
// - from the widest code size down, the first 2^b entries filled with the colours of the frames
//   that save most per colour added when their codes are b bits narrower than the frames around,
//   taken from the frames that fit the size above.
// Colours keep their present order within what is placed together; colours of no frame go last.
void OrderGlobalColors(TGIFImage* Image) {
  TGIFColorMap* Map = Image->GlobalColorMap();
  const int N = Map->Count();
  if (N <= 4) return;  // every code size covers them
  using Set = std::bitset<256>;
  // Frames with more than 128 colours have 8-bit codes in any order.
  std::vector<TGlobalFrame> Frames;
  for (int i = 0; i < Image->Images().Count(); ++i) {
    TGIFSubImage* F = Image->Images().FrameAt(i);
    if (F->ColorMap()->Count() != 0 || F->IsEmpty()) continue;
    std::array<bool, 256> Used{};
    const std::uint8_t* P = F->Data();
    for (std::int64_t k = 0; k < F->DataSize(); ++k) Used[P[k]] = true;
    TGlobalFrame G{F, {}, 0};
    for (int c = 0; c < 256; ++c)
      if (Used[static_cast<std::size_t>(c)]) {
        if (c >= N) return;  // pixels beyond the table keep their places
        G.Colors.set(static_cast<std::size_t>(c));
      }
    if (G.Colors.count() > 128) continue;
    // Its codes, from the size of its image data (a length byte per 255 bytes, the code size
    // byte and the terminator around them).
    TSizeStream S;
    F->EncodeImageData(&S);
    const std::int64_t Bits = (S.Size() - 2) * 255 / 256 * 8;
    const int Width = std::max(2, IndexBits(P, F->DataSize()));
    std::int64_t Lo = 0, Hi = F->DataSize() + 1;
    while (Lo < Hi) {
      const std::int64_t Mid = (Lo + Hi + 1) / 2;
      if (CodeBits(Mid, Width) <= Bits)
        Lo = Mid;
      else
        Hi = Mid - 1;
    }
    G.Codes = Lo;
    Frames.push_back(G);
  }
  if (Frames.empty()) return;

  TColormapReverse Present;
  for (int c = 0; c < 256; ++c) Present[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c);
  // Builds the order from sets of colours placed in turn.
  auto MakeOrder = [&](const std::vector<Set>& Groups) {
    TColormapReverse Remap = Present;
    int Next = 0;
    Set Placed;
    auto Place = [&](const Set& Colors) {
      for (int c = 0; c < N; ++c)
        if (Colors[static_cast<std::size_t>(c)] && !Placed[static_cast<std::size_t>(c)]) {
          Remap[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(Next++);
          Placed.set(static_cast<std::size_t>(c));
        }
    };
    for (const Set& G : Groups) Place(G);
    Place(Set{}.set());
    return Remap;
  };

  std::vector<Set> Fewest;
  {
    std::vector<bool> Done(Frames.size(), false);
    Set Placed;
    for (std::size_t Step = 0; Step < Frames.size(); ++Step) {
      std::size_t Best = Frames.size(), BestNew = 0;
      for (std::size_t f = 0; f < Frames.size(); ++f) {
        if (Done[f]) continue;
        const std::size_t New = (Frames[f].Colors & ~Placed).count();
        if (Best == Frames.size() || New < BestNew || (New == BestNew && Frames[f].Codes > Frames[Best].Codes)) {
          Best = f;
          BestNew = New;
        }
      }
      Done[Best] = true;
      Placed |= Frames[Best].Colors;
      Fewest.push_back(Frames[Best].Colors);
    }
  }

  std::vector<Set> Layers;
  {
    std::vector<int> Level(Frames.size(), 8);
    for (int B = 7; B >= 2; --B) {
      Set Layer;
      for (;;) {
        std::size_t Best = Frames.size();
        double BestGain = 0;
        for (std::size_t f = 0; f < Frames.size(); ++f) {
          if (Level[f] != B + 1) continue;
          const Set Union = Layer | Frames[f].Colors;
          if (Union.count() > (std::size_t{1} << B)) continue;
          const double Gain = static_cast<double>(CodeBits(Frames[f].Codes, B + 1) - CodeBits(Frames[f].Codes, B)) /
                              static_cast<double>(std::max<std::size_t>(1, (Frames[f].Colors & ~Layer).count()));
          if (Best == Frames.size() || Gain > BestGain) {
            Best = f;
            BestGain = Gain;
          }
        }
        if (Best == Frames.size()) break;
        Level[Best] = B;
        Layer |= Frames[Best].Colors;
      }
      Layers.push_back(Layer);
    }
    std::reverse(Layers.begin(), Layers.end());
  }

  TColormapReverse Remap = Present;
  std::int64_t Cost = OrderCost(Frames, Present);
  for (const TColormapReverse& Candidate : {MakeOrder(Fewest), MakeOrder(Layers)}) {
    const std::int64_t C = OrderCost(Frames, Candidate);
    if (C < Cost) {
      Cost = C;
      Remap = Candidate;
    }
  }
  if (Remap == Present) return;
  const std::int64_t Was = FramesSize(Frames);
  Map->Reorder(Remap);
  if (FramesSize(Frames) < Was) {
    Map->SetSorted(false);  // no longer by use
    return;
  }
  TColormapReverse Back;
  for (int c = 0; c < 256; ++c) Back[Remap[static_cast<std::size_t>(c)]] = static_cast<std::uint8_t>(c);
  Map->Reorder(Back);
}

}  // namespace

void TGIFImage::Optimize(TGIFOptimizeFlags Options, TGIFColorReductionKind Reduction, int, TGIFDitherKind) {
  if (Empty()) return;
  StopAllPainters();
  FPainters.LockList();
  struct Unlock {
    TThreadList& List;
    ~Unlock() { List.UnlockList(); }
  } Guard{FPainters};

  const int Frames0 = FFrames->Count();
  const int Total = Frames0 * 6;
  int Counter = 0;
  auto Report = [&] {
    Progress(this, psRunning, static_cast<BYTE>(std::clamp(MulDiv(Counter, 100, Total), 0, 100)), false, TRect{},
             "Optimizing...");
  };
  auto Frame = [&](int i) { return FFrames->FrameAt(i); };

  Progress(this, psStarting, 0, false, TRect{}, "Optimizing...");
  try {
    if (Options & optSortColorMaps) {
      if (GlobalColorMap()->Count() > 0) GlobalColorMap()->Optimize();
      for (int i = 0; i < FFrames->Count(); ++i) {
        if (Frame(i)->ColorMap()->Count() == 0) continue;
        Frame(i)->ColorMap()->Optimize();
        ++Counter;
        Report();
      }
    }

    if (Options & optDropRedundant) {
      for (int i = 0; i < FFrames->Count(); ++i) {
        TGIFSubImage* F = Frame(i);
        if (!F->Transparent() || !F->GraphicControlExtension()) continue;
        if (!FrameUsesIndex(F, F->GraphicControlExtension()->TransparentIndex())) {
          F->GraphicControlExtension()->SetTransparentFlag(false);
          ++Counter;
          Report();
        }
      }
      for (int i = 0; i + 1 < FFrames->Count(); ++i) {
        TGIFSubImage* F = Frame(i);
        TGIFSubImage* Next = Frame(i + 1);
        TGIFGraphicControlExtension* G = F->GraphicControlExtension();
        if (!G || (G->DisposalMethod() != 2 && G->DisposalMethod() != 3) || Next->Transparent()) continue;
        TRect R;
        const TRect Mine = F->FrameRect(), Theirs = Next->FrameRect();
        if (!IntersectRect(&R, &Mine, &Theirs)) continue;
        // The disposal only stops mattering when the next, opaque frame covers all of this one
        // and is not itself undone (restored to the previous state, which is this disposal's).
        const bool NextRestores =
            Next->GraphicControlExtension() && Next->GraphicControlExtension()->DisposalMethod() == 3;
        if (EqualRect(&R, &Mine) && !NextRestores) G->SetDisposalMethod(0);
        ++Counter;
        Report();
      }
    } else {
      Counter += 2 * FFrames->Count();
    }

    // What a frame costs in the stream once the crop step (when asked for) has had it.
    auto Cost = [&](TGIFSubImage* F) -> std::int64_t {
      if (!(Options & optCropBorders) || !MayCrop(F)) return WrittenSize(F);
      auto Whole = Snapshot(F);
      F->CropTransparentBorders();
      const std::int64_t Size = F->IsEmpty() ? 0 : WrittenSize(F);
      F->Restore(Whole.get());
      return Size;
    };

    if (Options & optMergeWithPrevious) {
      for (int i = FFrames->Count() - 1; i >= 1; --i) {
        int Ref = i - 1;
        while (Ref > 0 && Frame(Ref)->GraphicControlExtension() &&
               Frame(Ref)->GraphicControlExtension()->DisposalMethod() == 3)
          --Ref;
        // Pixels made transparent can break the runs the encoder lives on: of the frame as it
        // is and the ways of merging (each cropped after), the smallest stays.
        TGIFSubImage* F = Frame(i);
        auto Before = Snapshot(F);
        std::int64_t Best = Cost(F);
        std::unique_ptr<TGIFSubImage> Kept;
        for (auto Kind : {TGIFSubImage::mgAll, TGIFSubImage::mgRunsClear, TGIFSubImage::mgRunsKeep}) {
          F->MergeWithPrevious(Frame(Ref), true, Kind);
          const std::int64_t Size = Cost(F);
          if (Size < Best) {
            Best = Size;
            Kept = Snapshot(F);
          }
          F->Restore(Before.get());
        }
        if (Kept) F->Restore(Kept.get());
        ++Counter;
        Report();
      }
    } else {
      Counter += FFrames->Count();
    }

    if (Options & optCropBorders) {
      for (int i = FFrames->Count() - 1; i >= 0; --i) {
        TGIFSubImage* F = Frame(i);
        if (!MayCrop(F)) continue;
        auto Before = Snapshot(F);
        const std::int64_t Was = WrittenSize(F);
        const std::uint8_t T = F->GraphicControlExtension()->TransparentIndex();
        F->CropTransparentBorders();
        if (F->IsEmpty()) {
          // A frame that shows nothing goes only where its time can go to the frame before it
          // unchanged: that frame must stay in place (disposal 0 or 1) and both delays must
          // count as stored (the painter lengthens shorter ones), their sum within 16 bits. A
          // frame with the looping extension stays too. Otherwise one transparent pixel is
          // left of it, with all its extensions.
          F->Restore(Before.get());
          TGIFSubImage* Prev = i > 0 ? Frame(i - 1) : nullptr;
          TGIFGraphicControlExtension* G = Prev ? Prev->GraphicControlExtension() : nullptr;
          const int Delay = F->GraphicControlExtension()->DelayTime();
          const bool Movable = G && Disposal(Prev) != 2 && Disposal(Prev) != 3 && !HasLoop(F) &&
                               Delay >= MinimumFrameDelay && G->DelayTime() >= MinimumFrameDelay &&
                               G->DelayTime() + Delay <= 0xFFFF;
          if (Movable) {
            G->SetDelayTime(static_cast<std::uint16_t>(G->DelayTime() + Delay));
            FFrames->Delete(i);
          } else {
            // Cropped around its first pixel, which then turns transparent again.
            F->RowPointer(0)[0] = static_cast<std::uint8_t>(T ^ 1);
            F->CropTransparentBorders();
            F->RowPointer(0)[0] = T;
          }
        } else if (WrittenSize(F) > Was) {
          F->Restore(Before.get());
        }
        ++Counter;
        Report();
      }
    } else {
      Counter += FFrames->Count();
    }

    if (Options & optSortColorMaps) OrderGlobalColors(this);

    Counter += FFrames->Count();
    if (Options & optDropRedundant) {
      const bool Single = FFrames->Count() == 1;
      // The painter loops by the first looping extension it meets: that one stays, wherever it
      // is (in an animation).
      TGIFExtension* KeptLoop = nullptr;
      for (int i = 0; i < FFrames->Count() && !KeptLoop && !Single; ++i)
        for (int e = 0; e < Frame(i)->Extensions().Count() && !KeptLoop; ++e)
          if (auto* L = dynamic_cast<TGIFAppExtNSLoop*>(Frame(i)->Extensions().ExtensionAt(e))) KeptLoop = L;
      for (int i = FFrames->Count() - 1; i >= 0; --i) {
        TGIFSubImage* F = Frame(i);
        TGIFExtensionList& Ext = F->Extensions();
        for (int e = Ext.Count() - 1; e >= 0; --e) {
          TGIFExtension* X = Ext.ExtensionAt(e);
          const bool Loop = dynamic_cast<TGIFAppExtNSLoop*>(X) != nullptr;
          const bool Drop = dynamic_cast<TGIFCommentExtension*>(X) || dynamic_cast<TGIFTextExtension*>(X) ||
                            dynamic_cast<TGIFUnknownAppExtension*>(X) || (Loop && X != KeptLoop);
          if (Drop) Ext.Delete(e);
        }
        if (TGIFGraphicControlExtension* G = F->GraphicControlExtension()) {
          if ((G->DelayTime() == 0 || Single) && !G->IsTransparent() && !G->WaitsForUserInput() &&
              (G->DisposalMethod() < 2 || Single))
            Ext.Delete(Ext.IndexOf(G));
        }
        if (F->IsEmpty() && Ext.Count() == 0) FFrames->Delete(i);
      }
      Report();
    }

    if (!(Options & optDropRedundant) && (Options & optReducePalette) && Reduction == grGivenPalette)
      RaiseGIFError("Invalid reduction method");
  } catch (...) {
    Progress(this, psEnding, 0, false, TRect{}, "Optimizing...");
    throw;
  }
  Progress(this, psEnding, 100, false, TRect{}, "Optimizing...");
}

}  // namespace gif
