#include "gif/Frame.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "gif/Image.h"
#include "gif/LzwDecoder.h"
#include "gif/LzwEncoder.h"
#include "gif/Utils.h"

namespace gif {

namespace {

// Frames up to this many pixels are accepted whatever data follows them (they are filled
// with the background index where the data does not reach).
constexpr std::int64_t kPixelsWithoutData = std::int64_t{1} << 16;

}  // namespace

std::int64_t FramePixelsForData(std::int64_t Bytes) {
  return std::max(kPixelsWithoutData, MaxPixelsForData(Bytes));
}

std::int64_t StreamPixelsForData(std::int64_t Bytes) {
  return MaxPixelsForData(Bytes) + 16 * kPixelsWithoutData;
}

bool FrameUsesIndex(const TGIFSubImage* Frame, std::uint8_t Index) {
  if (Frame->IsEmpty()) return false;
  return std::memchr(Frame->Data(), Index, static_cast<std::size_t>(Frame->DataSize())) != nullptr;
}

TGIFSubImage::TGIFSubImage(TGIFImage* Image)
    : TGIFItem(Image),
      FColorMap(std::make_unique<TGIFLocalColorMap>(this)),
      FExtensions(std::make_unique<TGIFExtensionList>(Image)) {
  FDescriptor[0] = 0x2C;
}

TGIFSubImage::~TGIFSubImage() {
  if (FImage) FImage->Images().Remove(this);
  FreeContents();
  FExtensions.reset();
  FColorMap.reset();
  if (FPalette) DeleteObject(FPalette);
}

void TGIFSubImage::FreeContents() {
  FExtensions->Clear();
  FColorMap->Clear();
  FreePixels();
  FTransparent = false;
  FGCE = nullptr;
  FreeBitmapCache();
  ReleaseMask();
}

void TGIFSubImage::Clear() {
  FExtensions->Clear();
  FColorMap->Clear();
  FreePixels();
  SetDescriptorField(4, 0);
  SetDescriptorField(3, 0);
  FTransparent = false;
  FGCE = nullptr;
  FreeBitmapCache();
  ReleaseMask();
}

bool TGIFSubImage::IsEmpty() const { return !FData || FDataSize == 0 || Width() == 0 || Height() == 0; }

void TGIFSubImage::EnsurePixels() {
  if (!FData) AllocatePixels();
  if (FDataSize == 0) RaiseGIFError("Image is empty");
}

void TGIFSubImage::AllocatePixels() {
  AllocatePixelsUnfilled();
  if (FData) std::memset(FData.get(), 0, static_cast<std::size_t>(FDataSize));
}

void TGIFSubImage::AllocatePixelsUnfilled() {
  FreePixels();
  const std::int64_t Size = static_cast<std::int64_t>(Width()) * Height();
  if (Size <= 0) return;
  FData.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(Size + kLzwOutputSlack)]);
  if (!FData) throw EOutOfMemory();
  std::memset(FData.get() + Size, 0, static_cast<std::size_t>(kLzwOutputSlack));
  FDataSize = Size;
}

void TGIFSubImage::FreePixels() {
  FData.reset();
  FDataSize = 0;
}

TBitmap* TGIFSubImage::CreateBitmapCache() {
  FBitmap = std::make_unique<TBitmap>();
  return FBitmap.get();
}

void TGIFSubImage::FreeBitmapCache() { FBitmap.reset(); }

void TGIFSubImage::ReleaseMask() {
  if (FMask) DeleteObject(FMask);
  FMask = nullptr;
  FNeedMask = true;
}

void TGIFSubImage::SetPaletteHandle(HPALETTE Palette) {
  if (Palette == FPalette) return;
  if (FPalette) DeleteObject(FPalette);
  FPalette = Palette;
  if (FBitmap && FBitmap->Palette() != Palette) {
    FreeBitmapCache();
    if (FImage) {
      FImage->SetPaletteModified(true);
      FImage->Changed(FImage);
    }
  }
}

int TGIFSubImage::DescriptorField(int Index) const {
  if (Index < 1 || Index > 4) return 0;
  const int At = 1 + (Index - 1) * 2;
  return FDescriptor[At] | (FDescriptor[At + 1] << 8);
}

void TGIFSubImage::SetDescriptorField(int Index, int Value) {
  switch (Index) {
    case 1: ChangeBounds(Value, Top(), Width(), Height()); break;
    case 2: ChangeBounds(Left(), Value, Width(), Height()); break;
    case 3: ChangeBounds(Left(), Top(), Value, Height()); break;
    case 4: ChangeBounds(Left(), Top(), Width(), Value); break;
    default: break;
  }
}

void TGIFSubImage::ChangeBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  const bool SizeChanged = (AWidth & 0xFFFF) != Width() || (AHeight & 0xFFFF) != Height();
  SetWord(1, ALeft);
  SetWord(3, ATop);
  SetWord(5, AWidth);
  SetWord(7, AHeight);
  if (SizeChanged) {
    FreeBitmapCache();
    ReleaseMask();
    FreePixels();
    AllocatePixels();
  }
  if (!FImage) return;
  bool Warned = false;
  const int Right = Left() + Width();
  const int Bottom = Top() + Height();
  if (FImage->Width() < Right) {
    if (FImage->Width() > 0) {
      ReportWarning(1, "Image width too small for contained frames");
      Warned = true;
    }
    FImage->SetWidth(Right);
  }
  if (FImage->Height() < Bottom) {
    if (FImage->Height() > 0) {
      ReportWarning(1, "Image height too small for contained frames");
      Warned = true;
    }
    FImage->SetHeight(Bottom);
  }
  if (Warned) ReportWarning(1, "Image exceeds Logical Screen size");
}

TRect TGIFSubImage::FrameRect() const {
  return TRect{Left(), Top(), Left() + Width(), Top() + Height()};
}

TGIFColorMap* TGIFSubImage::EffectiveColorMap() const {
  if (FColorMap->Count() > 0) return FColorMap.get();
  if (FImage && FImage->GlobalColorMap()->Count() > 0) return FImage->GlobalColorMap();
  return FColorMap.get();
}

TGIFVersion TGIFSubImage::RequiredVersion() {
  if (FColorMap->Sorted()) return gv89a;
  TGIFVersion Version = gv87a;
  for (int i = 0; i < FExtensions->Count(); ++i)
    Version = std::max(Version, FExtensions->ExtensionAt(i)->RequiredVersion());
  return Version;
}

std::uint8_t TGIFSubImage::PixelAt(int X, int Y) {
  if (X < 0 || X >= Width()) RaiseGIFError("Invalid pixel coordinates");
  return RowPointer(Y)[X];
}

std::uint8_t* TGIFSubImage::RowPointer(int Y) {
  if (Y < 0 || Y >= Height()) RaiseGIFError("Invalid pixel coordinates");
  EnsurePixels();
  return FData.get() + static_cast<std::int64_t>(Y) * Width();
}

void TGIFSubImage::PrepareDescriptor() {
  std::uint8_t& Packed = FDescriptor[9];
  if (FColorMap->Count() > 0) {
    Packed = 0x80;
    if (FColorMap->Sorted()) Packed |= 0x20;
    Packed |= static_cast<std::uint8_t>(ColorResolutionBits() & 7);
  } else {
    Packed &= 0x58;
  }
}

void TGIFSubImage::SaveToStream(TStream* Stream) {
  FExtensions->SaveToStream(Stream);
  if (IsEmpty()) return;
  PrepareDescriptor();
  // The image separator, whatever byte stood in its place in damaged input.
  std::array<std::uint8_t, 10> Descriptor = FDescriptor;
  Descriptor[0] = 0x2C;
  Stream->WriteBuffer(Descriptor.data(), 10);
  FColorMap->WriteToStream(Stream);
  EncodeImageData(Stream);
}

void TGIFSubImage::LoadFromStream(TStream* Stream) {
  Clear();
  FExtensions->LoadFromStream(Stream, this);
  std::uint8_t B = 0;
  if (Stream->Read(&B, 1) != 1) return;
  Stream->Seek(-1, soFromCurrent);
  if (B == ';' || B == 0) return;
  StreamReadExact(Stream, FDescriptor.data(), 10);
  if (Width() == 0 || Height() == 0) {
    const int ScreenWidth = FImage ? FImage->Width() : 0;
    const int ScreenHeight = FImage ? FImage->Height() : 0;
    SetWord(7, ScreenHeight);
    SetWord(5, ScreenWidth);
    ReportWarning(1, "Image exceeds Logical Screen size");
  }
  if (FDescriptor[9] & 0x80) FColorMap->ReadFromStream(Stream, 2 << (FDescriptor[9] & 7));
  DecodeImageData(Stream);
  CoverPixelsWithColorMap();
  if (RenderFramesOnLoad) RenderBitmap();
}

void TGIFSubImage::DecodeImageData(TStream* Stream) {
  const std::int64_t Pixels = static_cast<std::int64_t>(Width()) * Height();
  std::int64_t Limit = FramePixelsForData(Stream->Size() - Stream->Position());
  if (FImage && FImage->LoadPixelBudget() >= 0) Limit = std::min(Limit, FImage->LoadPixelBudget());
  if (Pixels > Limit) RaiseGIFError("Invalid image dimensions");
  if (FImage) FImage->SpendLoadPixels(Pixels);
  const std::uint8_t Fill = (FTransparent && FGCE) ? FGCE->TransparentIndex() : 0;
  // The decoder writes every pixel: those the data leaves out get the fill value.
  AllocatePixelsUnfilled();
  std::uint8_t Empty[kLzwOutputSlack + 1] = {};
  std::uint8_t* Out = FDataSize > 0 ? FData.get() : Empty;
  DecodeLzwImage(Stream, Out, FDataSize > 0 ? Width() : 0, FDataSize > 0 ? Height() : 0, IsInterlaced(), Fill,
                 [this](const std::string& Message) { ReportWarning(1, Message); });
}

void TGIFSubImage::EncodeImageData(TStream* Stream) {
  int Bits, Colors;
  if (FColorMap->Count() > 0) {
    Bits = FColorMap->TableBits();
    Colors = FColorMap->Count();
  } else {
    Bits = FImage ? FImage->PixelBits() : 0;
    Colors = 1 << Bits;
  }
  std::unique_ptr<TGIFEncoder> Encoder;
  if (FImage && FImage->Compression() == ckRLE)
    Encoder = std::make_unique<TRLEEncoder>();
  else
    Encoder = std::make_unique<TLZWEncoder>();
  if (FImage) {
    TGIFImage* Img = FImage;
    Encoder->OnWarning = [Img](TObject* Sender, int Severity, const std::string& Message) {
      Img->ReportWarning(Sender, Severity, Message);
    };
  }
  Encoder->Encode(Stream, Bits, Colors, FData.get(), IsInterlaced(), Height(), Width());
}

void TGIFSubImage::CoverPixelsWithColorMap() {
  if (IsEmpty()) return;
  TGIFColorMap* Map = FColorMap.get();
  if (Map->Count() == 0 && FImage) Map = FImage->GlobalColorMap();
  const int Count = Map->Count();
  if (Count >= 256) return;
  const std::uint8_t* P = FData.get();
  // Tables read from a stream have a power-of-two size: then no pixel lies outside when no
  // pixel has a bit above the table's.
  if (Count > 0 && (Count & (Count - 1)) == 0 && (1 << IndexBits(P, FDataSize)) <= Count) return;
  std::uint8_t Max = 0;
  for (std::int64_t i = 0; i < FDataSize; ++i) Max = std::max(Max, P[i]);
  if (Max >= Count) Map->PadWithBlack(Max + 1);
}

// ---------------------------------------------------------------------------------------------
// TGIFTrailer

void TGIFTrailer::SaveToStream(TStream* Stream) { StreamWriteByte(Stream, ';'); }

void TGIFTrailer::LoadFromStream(TStream* Stream) {
  std::uint8_t B = 0;
  if (Stream->Read(&B, 1) == 1 && B != ';') ReportWarning(1, "Invalid Image trailer");
}

}  // namespace gif
