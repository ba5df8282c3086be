// Frame crop (to the opaque pixels) and merge (pixels that repeat the previous frame become
// transparent), used by the image optimisation.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "gif/Frame.h"
#include "gif/Image.h"
#include "gif/LzwDecoder.h"

namespace gif {

namespace {

// The entries' colours as 0xRRGGBB; entries beyond the table are black.
std::array<std::uint32_t, 256> EntryColors(const TGIFColorMap* Map) {
  std::array<std::uint32_t, 256> C{};
  for (int k = 0; k < std::min(Map->Count(), 256); ++k) {
    const std::uint8_t* E = Map->Data() + static_cast<std::size_t>(k) * 3;
    C[static_cast<std::size_t>(k)] = static_cast<std::uint32_t>(E[0] << 16 | E[1] << 8 | E[2]);
  }
  return C;
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

void TGIFSubImage::MergeWithPrevious(TGIFSubImage* Previous, bool KeepTableBits, TMergeKind Kind) {
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

  const std::array<std::uint32_t, 256> MineRgb = EntryColors(Mine), TheirsRgb = EntryColors(Theirs);
  // The entry other than I of this frame's map that shows the previous frame's entry p (-1:
  // none), for a transparent pixel that may as well show it itself.
  std::array<int, 256> Shows;
  Shows.fill(-2);
  auto ShowsEntry = [&](std::uint8_t p) -> int {
    int& E = Shows[p];
    if (E == -2) {
      E = -1;
      if (Mine == Theirs && p != I) E = p;
      for (int k = 0; k < Mine->Count() && E < 0; ++k)
        if (MineRgb[static_cast<std::size_t>(k)] == TheirsRgb[p] && k != I) E = k;
    }
    return E;
  };

  // Each pixel: shown (it must stay as it is), free (transparent or the colour in Colour show
  // the same) or hidden (transparent, and to stay so).
  enum : std::uint8_t { Shown, Free, Hidden };
  const std::size_t Size = static_cast<std::size_t>(FDataSize);
  const int MW = Width(), MH = Height(), ML = Left(), MT = Top();
  const int PW = Previous->Width(), PL = Previous->Left(), PTop = Previous->Top();
  std::vector<std::uint8_t> Role(Size, Shown);
  std::vector<std::uint8_t> Colour(FData.get(), FData.get() + Size);
  if (!NeedIndex)
    for (std::size_t i = 0; i < Size; ++i) Role[i] = Colour[i] == I ? Hidden : Shown;
  bool Any = false;
  for (int y = R.top; y < R.bottom; ++y) {
    const std::uint8_t* PRow = Previous->Data() + static_cast<std::int64_t>(y - PTop) * PW + (R.left - PL);
    const std::size_t Row = static_cast<std::size_t>(y - MT) * static_cast<std::size_t>(MW) + static_cast<std::size_t>(R.left - ML);
    const std::uint8_t* QRow = Colour.data() + Row;
    std::uint8_t* RoleRow = Role.data() + Row;
    std::uint8_t* ColourRow = Colour.data() + Row;
    for (int x = 0; x < R.right - R.left; ++x) {
      const std::uint8_t p = PRow[x];
      // Where the previous frame is transparent, what shows is not known here.
      const bool Known = !PrevTransparent || p != PT;
      if (RoleRow[x] == Hidden) {
        if (Known && Kind != mgAll && ShowsEntry(p) >= 0) {
          RoleRow[x] = Free;
          ColourRow[x] = static_cast<std::uint8_t>(ShowsEntry(p));
          Any = true;
        }
        continue;
      }
      const bool Same = Known && MineRgb[QRow[x]] == TheirsRgb[p];
      RoleRow[x] = Same ? Free : Shown;
      Any |= Same;
    }
  }
  if (!Any) {
    FreeBitmapCache();
    ReleaseMask();
    return;
  }
  // Which pixels are transparent: all but the shown ones, unless chosen otherwise below.
  std::vector<std::uint8_t> ToClear(Size);
  for (std::size_t i = 0; i < Size; ++i) ToClear[i] = Role[i] != Shown;
  if (Kind != mgAll) {
    // Outside the box of the shown pixels all stay transparent (for the crop).
    TRect Box{MW, MH, 0, 0};
    for (int y = 0; y < MH; ++y) {
      const std::uint8_t* RoleRow = Role.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(MW);
      int First = 0, Last = MW - 1;
      while (First < MW && RoleRow[First] != Shown) ++First;
      if (First == MW) continue;
      while (RoleRow[Last] != Shown) --Last;
      Box.left = std::min(Box.left, First);
      Box.right = std::max(Box.right, Last + 1);
      Box.top = std::min(Box.top, y);
      Box.bottom = y + 1;
    }
    // Inside, each stretch of free pixels along a row takes the choice with the fewest changes
    // of value, its neighbours included (transparent counts as one value; on a tie a pixel is
    // transparent with mgRunsClear, its colour with mgRunsKeep).
    constexpr int T = -1, None = -2;
    const bool ClearOnTie = Kind == mgRunsClear;
    std::vector<std::uint8_t> From;
    for (int y = Box.top; y < Box.bottom; ++y) {
      const std::size_t Row = static_cast<std::size_t>(y) * static_cast<std::size_t>(MW);
      auto Value = [&](int x) -> int {
        if (x < Box.left || x >= Box.right) return None;
        const std::size_t At = Row + static_cast<std::size_t>(x);
        return Role[At] == Shown ? Colour[At] : T;
      };
      for (int x = Box.left; x < Box.right;) {
        if (Role[Row + static_cast<std::size_t>(x)] != Free) {
          ++x;
          continue;
        }
        int End = x;
        while (End < Box.right && Role[Row + static_cast<std::size_t>(End)] == Free) ++End;
        const int N = End - x;
        const std::uint8_t* Own = Colour.data() + Row + static_cast<std::size_t>(x);
        // Cost[s]: the fewest changes so far with this pixel its colour (s 0) or transparent
        // (s 1); From: the state of the pixel before on that path.
        From.assign(static_cast<std::size_t>(N) * 2, 0);
        const int Left = Value(x - 1);
        int Cost[2] = {Own[0] != Left, T != Left};
        for (int i = 1; i < N; ++i) {
          const int KeepKeep = Cost[0] + (Own[i - 1] != Own[i]), ClearKeep = Cost[1] + 1;
          const int KeepClear = Cost[0] + 1, ClearClear = Cost[1];
          From[static_cast<std::size_t>(i) * 2] = ClearKeep < KeepKeep || (ClearOnTie && ClearKeep == KeepKeep);
          From[static_cast<std::size_t>(i) * 2 + 1] = ClearClear < KeepClear || (ClearOnTie && ClearClear == KeepClear);
          Cost[0] = std::min(KeepKeep, ClearKeep);
          Cost[1] = std::min(KeepClear, ClearClear);
        }
        const int Right = Value(End);
        const int KeepEnd = Cost[0] + (Own[N - 1] != Right), ClearEnd = Cost[1] + (T != Right);
        int S = ClearEnd < KeepEnd || (ClearOnTie && ClearEnd == KeepEnd);
        for (int i = N - 1; i >= 0; --i) {
          ToClear[Row + static_cast<std::size_t>(x + i)] = static_cast<std::uint8_t>(S);
          S = From[static_cast<std::size_t>(i) * 2 + static_cast<std::size_t>(S)];
        }
        x = End;
      }
    }
  }
  bool Chosen = false;
  if (NeedIndex) {
    // The frame has no transparent pixel yet: an index is wanted only where some pixel takes it.
    if (std::memchr(ToClear.data(), 1, Size) != nullptr) {
      I = ChooseIndex();
      if (I < 0) return;
      Chosen = true;
    }
  }
  // Shown pixels keep their colours, free ones take theirs, transparent ones the index.
  std::uint8_t* const Pixels = FData.get();
  const auto Index = static_cast<std::uint8_t>(I);
  for (std::size_t i = 0; i < Size; ++i) Pixels[i] = ToClear[i] ? Index : Colour[i];
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
