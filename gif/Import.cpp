// Frames made from other pictures: frames, bitmaps (reduced first when they have more than 8 bits
// per pixel), icons, metafiles and any other graphic, with their transparency.
#include <algorithm>
#include <array>
#include <cstring>

#include "gif/ColorReduction.h"
#include "gif/Frame.h"
#include "gif/Image.h"

namespace gif {

namespace {

bool IsIndexed(TPixelFormat Format) { return Format == pf1bit || Format == pf4bit || Format == pf8bit; }

// Sizes the bitmap to the graphic at 24 bits per pixel and draws the graphic at (0, 0).
void ImportByDrawing(TBitmap* Bitmap, TGraphic* Graphic) {
  Bitmap->SetHeight(Graphic->Height());
  Bitmap->SetWidth(Graphic->Width());
  SetBitmapPixelFormat(Bitmap, pf24bit);
  Bitmap->Canvas()->Draw(0, 0, Graphic);
}

// The same on a ground of one colour.
void PrepareImportBitmap(TBitmap* Bitmap, TGraphic* Graphic, TColor Color) {
  Bitmap->SetWidth(Graphic->Width());
  Bitmap->SetHeight(Graphic->Height());
  SetBitmapPixelFormat(Bitmap, pf24bit);
  TCanvas* Canvas = Bitmap->Canvas();
  Canvas->Brush()->SetColor(Color);
  Canvas->Brush()->SetStyle(bsSolid);
  Canvas->FillRect(Canvas->ClipRect());
  Canvas->Draw(0, 0, Graphic);
}

}  // namespace

void TGIFSubImage::ReportRowProgress(int Row, int Height, const char* Message) {
  if (FImage && Row % 32 == 0)
    FImage->Progress(this, psRunning, static_cast<BYTE>(MulDiv(Row, 100, Height)), false, TRect{}, Message);
}

void TGIFSubImage::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    return;
  }
  if (auto* Frame = dynamic_cast<TGIFSubImage*>(Source)) {
    Clear();
    CopyFrame(Frame);
    return;
  }
  if (auto* Bitmap = dynamic_cast<TBitmap*>(Source)) {
    AssignBitmap(Bitmap);
    return;
  }
  if (auto* Graphic = dynamic_cast<TGraphic*>(Source)) {
    Clear();
    if (Graphic->Empty()) return;
    TBitmap Work;
    const bool Icon = dynamic_cast<TIcon*>(Graphic) != nullptr;
    const bool Metafile = dynamic_cast<TMetafile*>(Graphic) != nullptr;
    if (Icon || Metafile) {
      try {
        ImportByDrawing(&Work, Graphic);
      } catch (...) {
        Work.Assign(Graphic);
      }
    } else {
      try {
        Work.Assign(Graphic);
      } catch (...) {
        ImportByDrawing(&Work, Graphic);
      }
    }
    AssignBitmap(&Work);
    if (Icon) ImportIconMask(static_cast<TIcon*>(Graphic));
    if (Metafile) ImportGraphic(Graphic);
    return;
  }
  if (auto* Picture = dynamic_cast<TPicture*>(Source)) {
    Assign(Picture->Graphic());
    return;
  }
  TGIFItem::Assign(Source);
}

void TGIFSubImage::Restore(TGIFSubImage* Source) {
  if (Source == this) return;
  FreeContents();
  CopyFrame(Source);
}

void TGIFSubImage::CopyFrame(TGIFSubImage* Frame) {
  // A frame without pixels still carries its extensions (comments, the looping extension).
  FDescriptor = Frame->FDescriptor;
  FTransparent = Frame->FTransparent;
  if (!Frame->IsEmpty()) {
    AllocatePixels();
    std::memcpy(FData.get(), Frame->FData.get(), static_cast<std::size_t>(FDataSize));
  }
  FColorMap->Assign(Frame->FColorMap.get());
  if (Frame->FExtensions->Count() > 0) {
    TMemoryStream Stream;
    Frame->FExtensions->SaveToStream(&Stream);
    Stream.SetPosition(0);
    FExtensions->LoadFromStream(&Stream, this);
  }
  if (Frame->FBitmap) CreateBitmapCache()->Assign(Frame->RenderBitmap());
}

void TGIFSubImage::AssignBitmap(TBitmap* Source) {
  Clear();
  // No palette of an earlier rendering may outlive the import: replacing it would drop the
  // bitmap the rows are read from.
  SetPaletteHandle(nullptr);
  if (Source->Empty()) return;
  SetDescriptorField(3, Source->Width());
  SetDescriptorField(4, Source->Height());
  std::unique_ptr<TBitmap> Work;
  TPixelFormat Format = GetBitmapPixelFormat(Source);
  if (IsIndexed(Format)) {
    Work = std::make_unique<TBitmap>();
    Work->Assign(Source);
  } else {
    const TGIFColorReductionKind Reduction = FImage ? FImage->ColorReduction() : grWebSafe216;
    const TGIFDitherKind Dither = FImage ? FImage->DitherMode() : gdNearest;
    const int Bits = FImage ? FImage->ReductionBits() : 8;
    Work = ReduceBitmapColors(Source, Reduction, Dither, Bits, nullptr);
    Format = GetBitmapPixelFormat(Work.get());
  }
  AllocatePixels();
  if (FImage) FImage->Progress(this, psStarting, 0, false, TRect{}, "Converting...");
  try {
    const TPixelFormat ReadFormat = IsIndexed(Format) ? Format : pf24bit;
    {
      TDIBReader Reader(Work.get(), ReadFormat);
      switch (ReadFormat) {
        case pf1bit: ImportBitmap1(&Reader); break;
        case pf4bit: ImportBitmap4(&Reader); break;
        case pf8bit: ImportBitmap8(&Reader); break;
        default: ImportBitmapReduced(&Reader); break;
      }
    }
    FBitmap = std::move(Work);
    if (Source->Transparent()) ImportMaskHandle(Source->MaskHandle());
  } catch (...) {
    if (FImage) FImage->Progress(this, psEnding, 0, FImage->PaletteModified(), TRect{}, "Converting...");
    throw;
  }
  if (FImage) FImage->Progress(this, psEnding, 100, FImage->PaletteModified(), TRect{}, "Converting...");
}

void TGIFSubImage::ImportBitmap8(TDIBReader* Reader) {
  TBitmap* Bitmap = Reader->Bitmap();
  if (Bitmap->HandleType() == bmDDB)
    FColorMap->LoadFromPalette(Bitmap->Palette());
  else
    FColorMap->LoadFromDIBColors(Bitmap->Canvas()->Handle());
  const int W = Width(), H = Height();
  for (int y = 0; y < H; ++y) {
    ReportRowProgress(y, H, "Converting...");
    std::memcpy(RowPointer(y), Reader->GetScanline(y), static_cast<std::size_t>(W));
  }
}

void TGIFSubImage::ImportBitmap4(TDIBReader* Reader) {
  FColorMap->LoadFromPalette(Reader->Bitmap()->Palette());
  const int W = Width(), H = Height();
  for (int y = 0; y < H; ++y) {
    ReportRowProgress(y, H, "Converting...");
    const auto* Src = static_cast<const std::uint8_t*>(Reader->GetScanline(y));
    std::uint8_t* Dst = RowPointer(y);
    for (int x = 0; x < W; ++x) Dst[x] = (x & 1) ? (Src[x >> 1] & 0x0F) : (Src[x >> 1] >> 4);
  }
}

void TGIFSubImage::ImportBitmap1(TDIBReader* Reader) {
  FColorMap->LoadFromPalette(Reader->Bitmap()->Palette());
  const int W = Width(), H = Height();
  for (int y = 0; y < H; ++y) {
    ReportRowProgress(y, H, "Converting...");
    const auto* Src = static_cast<const std::uint8_t*>(Reader->GetScanline(y));
    std::uint8_t* Dst = RowPointer(y);
    for (int x = 0; x < W; ++x) Dst[x] = (Src[x >> 3] >> (7 - (x & 7))) & 1;
  }
}

void TGIFSubImage::ImportBitmapReduced(TDIBReader* Reader) {
  struct Slot {
    std::uint32_t Color{0};
    int Index{-1};
  };
  std::array<Slot, 8> Cache{};
  int Last = 0;
  const int W = Width(), H = Height();
  for (int y = 0; y < H; ++y) {
    ReportRowProgress(y, H, "Converting...");
    const auto* Src = static_cast<const std::uint8_t*>(Reader->GetScanline(y));
    std::uint8_t* Dst = RowPointer(y);
    for (int x = 0; x < W; ++x, Src += 3) {
      // Blue lowest: the map gathers the entries in blue, green, red order.
      const std::uint32_t Color = Src[0] | (Src[1] << 8) | (static_cast<std::uint32_t>(Src[2]) << 16);
      int Found = -1;
      int i = Last;
      do {
        if (Cache[i].Index < 0) break;
        if (Cache[i].Color == Color) {
          Found = Cache[i].Index;
          Last = i;
          break;
        }
        i = (i + 7) & 7;
      } while (i != Last);
      if (Found >= 0) {
        Dst[x] = static_cast<std::uint8_t>(Found);
        continue;
      }
      if (FColorMap->Count() < 256) {
        const int Index = FColorMap->AddIfMissing(static_cast<TColor>(Color));
        Dst[x] = static_cast<std::uint8_t>(Index);
        Last = (Last + 1) & 7;
        Cache[Last] = Slot{Color, Index};
      } else {
        Dst[x] = 0;
      }
    }
  }
  FColorMap->SwapRedBlue();
}

void TGIFSubImage::ImportMaskTransparency(TBitmap* Mask) {
  FColorMap->Optimize();
  const int Count = FColorMap->Count();
  if (Count == 0 || Count == 256) return;
  const int Index = FColorMap->AddColor(clBlack);
  bool Changed = false;
  {
    // Read as colours: a mask pixel counts when it is not black, whatever table an 8-bit
    // conversion would give it.
    TDIBReader Reader(Mask, pf24bit);
    const int W = std::min(Width(), Mask->Width());
    const int H = std::min(Height(), Mask->Height());
    for (int y = 0; y < H; ++y) {
      const auto* Src = static_cast<const std::uint8_t*>(Reader.GetScanline(y));
      std::uint8_t* Dst = RowPointer(y);
      for (int x = 0; x < W; ++x)
        if (Src[x * 3] | Src[x * 3 + 1] | Src[x * 3 + 2]) {
          Dst[x] = static_cast<std::uint8_t>(Index);
          Changed = true;
        }
    }
  }
  if (!Changed) {
    FColorMap->DeleteColor(Index);
    return;
  }
  auto GCE = std::make_unique<TGIFGraphicControlExtension>(this);
  GCE->SetTransparentFlag(true);
  GCE->SetTransparentIndex(static_cast<std::uint8_t>(Index));
  FExtensions->Add(GCE.release());
  ReleaseMask();
}

void TGIFSubImage::ImportMaskHandle(HBITMAP Mask) {
  if (!Mask) return;
  // The handle stays the caller's: the mask is read from a copy.
  TBitmap Wrapper;
  Wrapper.SetHandle(Mask);
  TBitmap Copy;
  try {
    Copy.Assign(&Wrapper);
  } catch (...) {
    Wrapper.ReleaseHandle();
    throw;
  }
  Wrapper.ReleaseHandle();
  ImportMaskTransparency(&Copy);
}

void TGIFSubImage::ImportIconMask(TIcon* Icon) {
  ICONINFO Info{};
  if (!GetIconInfo(Icon->Handle(), &Info)) return;
  // Both bitmaps are new copies that belong to this caller.
  try {
    ImportMaskHandle(Info.hbmMask);
  } catch (...) {
    if (Info.hbmMask) DeleteObject(Info.hbmMask);
    if (Info.hbmColor) DeleteObject(Info.hbmColor);
    throw;
  }
  if (Info.hbmMask) DeleteObject(Info.hbmMask);
  if (Info.hbmColor) DeleteObject(Info.hbmColor);
}

void TGIFSubImage::ImportGraphic(TGraphic* Graphic) {
  TBitmap White, Black;
  PrepareImportBitmap(&White, Graphic, static_cast<TColor>(0xFFFFFF));
  PrepareImportBitmap(&Black, Graphic, 0);
  // Covered pixels are the same on both grounds: they become black, the uncovered ground white.
  White.Canvas()->SetCopyMode(SRCINVERT);
  White.Canvas()->Draw(0, 0, &Black);
  ImportMaskTransparency(&White);
}

}  // namespace gif
