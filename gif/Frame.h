#pragma once
// One image of a GIF stream (descriptor, local colour map, pixel indices, extensions) and the
// trailer item.
#include <array>
#include <cstdint>
#include <memory>

#include "gif/ColorMap.h"
#include "gif/Extensions.h"
#include "gif/Items.h"
#include "platform/graphics/Graphics.h"

namespace gif {

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

 private:
  friend class TGIFGraphicControlExtension;

  void SetWord(int At, int Value) {
    FDescriptor[At] = static_cast<std::uint8_t>(Value);
    FDescriptor[At + 1] = static_cast<std::uint8_t>(Value >> 8);
  }
  // Grows the effective colour map with black entries so that it covers every pixel.
  void CoverPixelsWithColorMap();
  void FreeContents();
  void AllocatePixels(std::uint8_t Fill);

  std::unique_ptr<TBitmap> FBitmap;
  HBITMAP FMask{nullptr};
  bool FNeedMask{true};
  HPALETTE FPalette{nullptr};
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
