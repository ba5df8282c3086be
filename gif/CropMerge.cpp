// Frame crop (to the opaque pixels) and merge (pixels that repeat the previous frame become
// transparent), used by the image optimisation.
#include <algorithm>
#include <array>
#include <cstring>

#include "gif/Frame.h"
#include "gif/Image.h"
#include "gif/LzwDecoder.h"

namespace gif {

namespace {

// The colour of an entry; entries beyond the table are black.
TGIFColor EntryColor(const TGIFColorMap* Map, int Index) {
  if (Index >= Map->Count()) return TGIFColor{};
  const std::uint8_t* E = Map->Data() + static_cast<std::size_t>(Index) * 3;
  return TGIFColor{E[0], E[1], E[2]};
}

}  // namespace

void TGIFSubImage::CropTransparentBorders() {
  if (IsEmpty() || !FTransparent || !FGCE) return;
  const std::uint8_t T = FGCE->TransparentIndex();
  const int W = Width(), H = Height();
  const std::uint8_t* P = FData.get();
  auto Opaque = [&](int X, int Y) { return P[static_cast<std::int64_t>(Y) * W + X] != T; };
  auto ColumnOpaque = [&](int X) {
    for (int y = 0; y < H; ++y)
      if (Opaque(X, y)) return true;
    return false;
  };
  int Left = 0;
  while (Left < W && !ColumnOpaque(Left)) ++Left;
  int Right = W - 1;
  while (Right >= Left && !ColumnOpaque(Right)) --Right;
  int Top = 0, Bottom = -1;
  if (Right >= Left) {
    auto RowOpaque = [&](int Y) {
      for (int x = Left; x <= Right; ++x)
        if (Opaque(x, Y)) return true;
      return false;
    };
    while (Top < H && !RowOpaque(Top)) ++Top;
    Bottom = H - 1;
    while (Bottom >= Top && !RowOpaque(Bottom)) --Bottom;
  }
  if (Right < Left || Bottom < Top) {
    Clear();
    return;
  }
  const int NW = Right - Left + 1, NH = Bottom - Top + 1;
  if (NW != W || NH != H) {
    const std::int64_t Size = static_cast<std::int64_t>(NW) * NH;
    std::unique_ptr<std::uint8_t[]> Data(new std::uint8_t[static_cast<std::size_t>(Size + kLzwOutputSlack)]());
    for (int y = 0; y < NH; ++y)
      std::memcpy(Data.get() + static_cast<std::int64_t>(y) * NW, P + static_cast<std::int64_t>(Top + y) * W + Left,
                  static_cast<std::size_t>(NW));
    FData = std::move(Data);
    FDataSize = Size;
    SetWord(1, this->Left() + Left);
    SetWord(3, this->Top() + Top);
    SetWord(5, NW);
    SetWord(7, NH);
  }
  FreeBitmapCache();
  ReleaseMask();
}

void TGIFSubImage::MergeWithPrevious(TGIFSubImage* Previous, bool KeepTableBits) {
  if (IsEmpty() || !Previous || Previous->IsEmpty()) return;
  if (TGIFGraphicControlExtension* G = Previous->GraphicControlExtension()) {
    const int Disposal = G->DisposalMethod();
    if (Disposal == 2 || Disposal == 3) return;
  }
  TRect R;
  const TRect Here = FrameRect(), There = Previous->FrameRect();
  if (!IntersectRect(&R, &Here, &There)) return;

  bool NeedIndex = !(FTransparent && FGCE);
  int I = NeedIndex ? -1 : FGCE->TransparentIndex();
  if (NeedIndex) {
    const int Local = FColorMap->Count();
    const int Global = FImage ? FImage->GlobalColorMap()->Count() : 0;
    const bool CanAdd = Local > 0 ? Local < 256 : (Global > 0 && Global < 256);
    if (!CanAdd) return;
  }
  const bool PrevTransparent = Previous->Transparent() && Previous->GraphicControlExtension();
  const int PT = PrevTransparent ? Previous->GraphicControlExtension()->TransparentIndex() : -1;
  TGIFColorMap* Mine = EffectiveColorMap();
  TGIFColorMap* Theirs = Previous->EffectiveColorMap();

  // The transparent index a frame without one gets: another transparent frame's on the global
  // map when no pixel of this frame uses it, else a black entry appended to the map in use.
  auto ChooseIndex = [&]() -> int {
    if (FColorMap->Count() == 0 && FImage) {
      for (int i = 0; i < FImage->Images().Count(); ++i) {
        TGIFSubImage* Other = FImage->Images().FrameAt(i);
        if (Other == this || !Other->Transparent() || !Other->GraphicControlExtension()) continue;
        if (Other->ColorMap()->Count() != 0) continue;
        const std::uint8_t Shared = Other->GraphicControlExtension()->TransparentIndex();
        if (!FrameUsesIndex(this, Shared)) return Shared;
      }
    }
    TGIFColorMap* Target = FColorMap->Count() > 0 ? static_cast<TGIFColorMap*>(FColorMap.get())
                                                  : static_cast<TGIFColorMap*>(FImage->GlobalColorMap());
    const bool Full = Target->Count() >= (1 << Target->TableBits());
    if (KeepTableBits && Full) {
      // Another entry would cost the table a bit: an entry this frame does not use serves.
      std::array<bool, 256> Used{};
      for (std::int64_t i = 0; i < FDataSize; ++i) Used[FData[i]] = true;
      for (int i = Target->Count() - 1; i >= 0; --i)
        if (!Used[static_cast<std::size_t>(i)]) return i;
      return -1;
    }
    const int Added = Target->AddColor(clBlack);
    // Pixels beyond the table would take the new entry's meaning: no merge then.
    if (FrameUsesIndex(this, static_cast<std::uint8_t>(Added))) {
      Target->DeleteColor(Added);
      return -1;
    }
    return Added;
  };

  const int PW = Previous->Width(), MW = Width();
  bool Chosen = false;
  for (int y = R.top; y < R.bottom; ++y) {
    const std::uint8_t* PRow = Previous->Data() + static_cast<std::int64_t>(y - Previous->Top()) * PW;
    std::uint8_t* QRow = FData.get() + static_cast<std::int64_t>(y - Top()) * MW;
    for (int x = R.left; x < R.right; ++x) {
      const std::uint8_t p = PRow[x - Previous->Left()];
      std::uint8_t& q = QRow[x - Left()];
      if (!NeedIndex && q == I) continue;
      if (PrevTransparent && p == PT) continue;
      bool Same = Mine == Theirs && p == q;
      if (!Same) {
        const TGIFColor A = EntryColor(Mine, q), B = EntryColor(Theirs, p);
        Same = A.Red == B.Red && A.Green == B.Green && A.Blue == B.Blue;
      }
      if (!Same) continue;
      if (NeedIndex) {
        I = ChooseIndex();
        if (I < 0) return;
        NeedIndex = false;
        Chosen = true;
        // The map may have grown: colours are read from it again.
        Mine = EffectiveColorMap();
      }
      q = static_cast<std::uint8_t>(I);
    }
  }
  if (Chosen) {
    TGIFGraphicControlExtension* G = FGCE;
    if (!G) {
      auto Made = std::make_unique<TGIFGraphicControlExtension>(this);
      G = Made.get();
      FExtensions->Add(Made.release());
    }
    G->SetTransparentFlag(true);
    G->SetTransparentIndexRaw(static_cast<std::uint8_t>(I));
  }
  FreeBitmapCache();
  ReleaseMask();
}

}  // namespace gif
