// Image optimisation: colour maps sorted and trimmed, unused transparency switched off, covered
// disposals reset, repeated pixels made transparent, transparent borders cropped, and frames
// and extensions that carry nothing removed.
#include <algorithm>
#include <cstring>

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
        // Pixels made transparent can break the runs the encoder lives on: a frame stays as it
        // was where merging (and cropping after it) would not make it smaller.
        TGIFSubImage* F = Frame(i);
        auto Before = Snapshot(F);
        const std::int64_t Was = Cost(F);
        F->MergeWithPrevious(Frame(Ref), true);
        if (Cost(F) >= Was) F->Restore(Before.get());
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
