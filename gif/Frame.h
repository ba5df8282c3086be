#pragma once
// One image of a GIF stream (descriptor, local colour map, pixel indices, extensions) and the
// trailer item.
#include <array>
#include <cstdint>
#include <memory>

#include "gif/ColorMap.h"
#include "gif/Dib.h"
#include "gif/Extensions.h"
#include "gif/Items.h"
#include "platform/graphics/Graphics.h"

namespace gif {

// The most pixels a frame followed by Bytes bytes of stream may have: what that data could
// decode to, and never less than a small frame's worth.
std::int64_t FramePixelsForData(std::int64_t Bytes);
// The most pixels all frames of a stream of Bytes bytes may have together: what its data could
// decode to, and some small frames' worth beyond.
std::int64_t StreamPixelsForData(std::int64_t Bytes);

class TGIFSubImage;
// Whether any pixel of Frame has the colour index Index.
bool FrameUsesIndex(const TGIFSubImage* Frame, std::uint8_t Index);

class TGIFSubImage : public TGIFItem {
 public:
  explicit TGIFSubImage(TGIFImage* Image);
  // Leaves the image's frame list (without being freed a second time).
  ~TGIFSubImage() override;

  void Clear();
  bool IsEmpty() const;
  void EnsurePixels();
  void AllocatePixels();
  void FreePixels();

  bool HasBitmapCache() const { return FBitmap != nullptr; }
  TBitmap* CreateBitmapCache();
  void FreeBitmapCache();
  void ReleaseMask();
  // The cached palette: replacing it drops a bitmap rendered with another palette.
  void SetPaletteHandle(HPALETTE Palette);

  // 1 left, 2 top, 3 width, 4 height; other indices 0.
  int DescriptorField(int Index) const;
  void SetDescriptorField(int Index, int Value);
  void ChangeBounds(int Left, int Top, int Width, int Height);
  int Left() const { return DescriptorField(1); }
  int Top() const { return DescriptorField(2); }
  int Width() const { return DescriptorField(3); }
  int Height() const { return DescriptorField(4); }
  TRect FrameRect() const;
  const std::array<std::uint8_t, 10>& Descriptor() const { return FDescriptor; }

  TGIFColorMap* EffectiveColorMap() const;
  TGIFLocalColorMap* ColorMap() const { return FColorMap.get(); }
  TGIFExtensionList& Extensions() const { return *FExtensions; }
  bool IsInterlaced() const { return (FDescriptor[9] & 0x40) != 0; }
  TGIFVersion RequiredVersion() override;
  int PixelBits() const { return FColorMap->TableBits(); }
  int ColorResolutionBits() const { return FColorMap->TableBits() - 1; }

  // Pixel access; coordinates outside the frame raise "Invalid pixel coordinates".
  std::uint8_t PixelAt(int X, int Y);
  std::uint8_t* RowPointer(int Y);
  std::uint8_t* Data() const { return FData.get(); }
  std::int64_t DataSize() const { return FDataSize; }

  // True while the graphic control extension has its transparent bit set.
  bool Transparent() const { return FTransparent; }
  TGIFGraphicControlExtension* GraphicControlExtension() const { return FGCE; }

  void PrepareDescriptor();
  void SaveToStream(TStream* Stream) override;
  void LoadFromStream(TStream* Stream) override;
  void DecodeImageData(TStream* Stream);
  void EncodeImageData(TStream* Stream);

  // Rendering and drawing.
  // The palette the frame is rendered with (cached unless it is the image's own).
  HPALETTE PaletteHandle();
  // The cached bitmap, rendered first when there is none; null for an empty frame.
  TBitmap* RenderBitmap();
  // A new bitmap: the indices as an 8-bit DIB, or dithered onto the 216-colour palette; the
  // mask is built in the same pass when it is due.
  std::unique_ptr<TBitmap> RenderPlain();
  std::unique_ptr<TBitmap> RenderDithered();
  // Renders again when a mask is due; whether a mask exists.
  bool EnsureMask();
  // One bit a pixel, 1 = transparent; null when no pixel is transparent.
  HBITMAP Mask() const { return FMask; }
  // The source through the mask (1 keeps the target), stretched to the target size.
  static bool TransparentStretchBlt(HDC DstDC, int DstX, int DstY, int DstW, int DstH, HDC SrcDC, int SrcX, int SrcY,
                                    int SrcW, int SrcH, HDC MaskDC, int MaskX, int MaskY);
  // The frame on the canvas, its place found by stretching the logical screen onto Rect (or
  // tiled over Rect), through its mask when Transparent.
  void DrawFrame(TCanvas* Canvas, const TRect& Rect, bool Tile, bool Transparent);
  void DrawStretched(TCanvas* Canvas, const TRect& Rect, bool Tile, bool Transparent);
  TRect MapRectToDest(const TRect& Rect) const;

  // Import: another frame is copied; a bitmap is taken row by row (reduced first when it has
  // more than 8 bits per pixel); icons, metafiles and other graphics are drawn onto a bitmap
  // first. The source's transparency becomes a colour index of its own.
  void Assign(TPersistent* Source) override;

  // Shrinks a transparent frame to its opaque pixels; a frame without any is cleared.
  void CropTransparentBorders();
  // Pixels that show the colour the previous frame shows at the same place become transparent.
  void MergeWithPrevious(TGIFSubImage* Previous);

 protected:
  void AssignTo(TPersistent* Dest) override;

 private:
  void ImportBitmap8(TDIBReader* Reader);
  void ImportBitmap4(TDIBReader* Reader);
  void ImportBitmap1(TDIBReader* Reader);
  void ImportBitmapReduced(TDIBReader* Reader);
  void ImportMaskTransparency(TBitmap* Mask);
  void ImportMaskHandle(HBITMAP Mask);
  void ImportIconMask(TIcon* Icon);
  void ImportGraphic(TGraphic* Graphic);
  void AssignBitmap(TBitmap* Source);
  void ReportRowProgress(int Row, int Height, const char* Message);
  std::unique_ptr<TBitmap> RenderCommon(bool Dithered);

 private:
  friend class TGIFGraphicControlExtension;

  void SetWord(int At, int Value) {
    FDescriptor[At] = static_cast<std::uint8_t>(Value);
    FDescriptor[At + 1] = static_cast<std::uint8_t>(Value >> 8);
  }
  // Grows the effective colour map with black entries so that it covers every pixel.
  void CoverPixelsWithColorMap();
  void FreeContents();
  // The buffer without its pixels set (for a writer that sets them all).
  void AllocatePixelsUnfilled();

  std::unique_ptr<TBitmap> FBitmap;
  HBITMAP FMask{nullptr};
  bool FNeedMask{true};
  HPALETTE FPalette{nullptr};
  bool FPaletteDithered{false};  // FPalette is the 216-colour palette of a dithered rendering
  std::unique_ptr<std::uint8_t[]> FData;  // width x height bytes and a little decoder slack
  std::int64_t FDataSize{0};
  std::unique_ptr<TGIFLocalColorMap> FColorMap;
  std::array<std::uint8_t, 10> FDescriptor{};
  std::unique_ptr<TGIFExtensionList> FExtensions;
  bool FTransparent{false};
  TGIFGraphicControlExtension* FGCE{nullptr};
};

// The one-byte trailer ";".
class TGIFTrailer : public TGIFItem {
 public:
  using TGIFItem::TGIFItem;
  void SaveToStream(TStream* Stream) override;
  // A byte other than ";" warns "Invalid Image trailer"; the end of the stream is accepted.
  void LoadFromStream(TStream* Stream) override;
};

}  // namespace gif
