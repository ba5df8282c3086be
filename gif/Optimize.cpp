// Image optimisation: colour maps sorted and trimmed, unused transparency switched off, covered
// disposals reset, repeated pixels made transparent, transparent borders cropped, and frames
// and extensions that carry nothing removed.
#include <algorithm>
#include <cstring>

#include "gif/Image.h"
#include "gif/Painter.h"

namespace gif {

namespace {

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

    if (Options & optMergeWithPrevious) {
      for (int i = FFrames->Count() - 1; i >= 1; --i) {
        int Ref = i - 1;
        while (Ref > 0 && Frame(Ref)->GraphicControlExtension() &&
               Frame(Ref)->GraphicControlExtension()->DisposalMethod() == 3)
          --Ref;
        Frame(i)->MergeWithPrevious(Frame(Ref));
        ++Counter;
        Report();
      }
    } else {
      Counter += FFrames->Count();
    }

    if (Options & optCropBorders) {
      for (int i = FFrames->Count() - 1; i >= 0; --i) {
        TGIFSubImage* F = Frame(i);
        if (F->IsEmpty() || !F->Transparent()) continue;
        // A frame restored to the background clears its whole rectangle, transparent border
        // included: cropping it would leave that border showing.
        if (!F->GraphicControlExtension() || F->GraphicControlExtension()->DisposalMethod() == 2) continue;
        const int Delay = F->GraphicControlExtension() ? F->GraphicControlExtension()->DelayTime() : 0;
        F->CropTransparentBorders();
        if (F->IsEmpty()) {
          if (i > 0 && Frame(i - 1)->Transparent() && Frame(i - 1)->GraphicControlExtension()) {
            TGIFGraphicControlExtension* G = Frame(i - 1)->GraphicControlExtension();
            G->SetDelayTime(static_cast<std::uint16_t>(G->DelayTime() + Delay));
          }
          FFrames->Delete(i);
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
      for (int i = FFrames->Count() - 1; i >= 0; --i) {
        TGIFSubImage* F = Frame(i);
        TGIFExtensionList& Ext = F->Extensions();
        for (int e = Ext.Count() - 1; e >= 0; --e) {
          TGIFExtension* X = Ext.ExtensionAt(e);
          const bool Loop = dynamic_cast<TGIFAppExtNSLoop*>(X) != nullptr;
          const bool Drop = dynamic_cast<TGIFCommentExtension*>(X) || dynamic_cast<TGIFTextExtension*>(X) ||
                            dynamic_cast<TGIFUnknownAppExtension*>(X) ||
                            (Loop && !(i == 0 && FFrames->Count() > 1));
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
