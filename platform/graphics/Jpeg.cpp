#include "platform/graphics/Jpeg.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/graphics/GraphicsInternal.h"
#include "platform/graphics/JpegCodec.h"

IMPLEMENT_GRAPHIC_CLASS(TJPEGImage, TGraphic)

namespace {

int ScaleDenominator(TJPEGScale Scale) { return 1 << static_cast<int>(Scale); }

// Runs a codec call, turning its errors into the class library's.
template <typename F>
auto Codec(F&& Call) {
  try {
    return Call();
  } catch (const EJpegCodecError& E) {
    throw EJPEG(E.what());
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

HPALETTE CreateColorMapPalette(const std::vector<std::array<std::uint8_t, 3>>& Map) {
  // LOGPALETTE is variable length: the entries follow the header.
  std::vector<std::uint32_t> buffer((sizeof(LOGPALETTE) + Map.size() * sizeof(PALETTEENTRY)) / 4 + 1);
  auto* log = reinterpret_cast<LOGPALETTE*>(buffer.data());
  log->palVersion = 0x300;
  log->palNumEntries = static_cast<WORD>(Map.size());
  PALETTEENTRY* entries = log->palPalEntry;
  for (std::size_t i = 0; i < Map.size(); ++i) {
    entries[i].peRed = Map[i][0];
    entries[i].peGreen = Map[i][1];
    entries[i].peBlue = Map[i][2];
    entries[i].peFlags = 0;
  }
  HPALETTE palette = CreatePalette(log);
  if (!palette) throw EOutOfResources();
  return palette;
}

// A new bitmap for a picture of Layout, as the class library makes one (a bottom-up DIB section
// of 8 bits with the colour map as palette, else 24 bits); Rows are its rows. Its pixels are left
// for the decoder to write; only the padding behind each row is cleared.
std::unique_ptr<TBitmap> NewPictureBitmap(const TJpegLayout& Layout, TJpegRows& Rows) {
  const bool indexed = !Layout.ColorMap.empty();
  dib::Image shape;
  shape.width = Layout.Width;
  shape.height = Layout.Height;
  shape.bitCount = indexed ? 8 : 24;
  if (indexed) shape.colors = dib::DefaultPalette(8);
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetHandle(graphics_detail::CreateDibSectionForWriting(shape));
  if (indexed) bitmap->SetPalette(CreateColorMapPalette(Layout.ColorMap));
  auto* top = static_cast<std::uint8_t*>(bitmap->ScanLine(0));
  Rows.Top = top;
  Rows.Stride = Layout.Height > 1 ? static_cast<std::uint8_t*>(bitmap->ScanLine(1)) - top : 0;
  const std::size_t used = static_cast<std::size_t>(Layout.Width) * static_cast<std::size_t>(Layout.Channels);
  const auto padding = static_cast<std::size_t>(dib::RowBytes(static_cast<std::uint64_t>(Layout.Width),
                                                              static_cast<std::uint64_t>(shape.bitCount))) - used;
  if (padding > 0)
    for (int y = 0; y < Layout.Height; ++y) std::memset(top + Rows.Stride * y + used, 0, padding);
  return bitmap;
}

}  // namespace

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Clear() {
  FData.clear();
  FDataWidth = FDataHeight = 0;
  FBitmap.reset();
}

void TJPEGImage::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    Changed(this);
    return;
  }
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(Source)) {
    std::unique_ptr<TBitmap> bitmap;
    if (jpeg->FBitmap) {
      bitmap = std::make_unique<TBitmap>();
      bitmap->Assign(jpeg->FBitmap.get());
    }
    FData = jpeg->FData;
    FDataWidth = jpeg->FDataWidth;
    FDataHeight = jpeg->FDataHeight;
    FBitmap = std::move(bitmap);
    FScale = jpeg->FScale;
    FSmoothing = jpeg->FSmoothing;
    FGrayscale = jpeg->FGrayscale;
    FPixelFormat = jpeg->FPixelFormat;
    FPerformance = jpeg->FPerformance;
    FQuality = jpeg->FQuality;
    FProgressiveEncoding = jpeg->FProgressiveEncoding;
    FProgressiveDisplay = jpeg->FProgressiveDisplay;
    Changed(this);
    return;
  }
  if (auto* source = dynamic_cast<TBitmap*>(Source)) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Assign(source);
    Clear();
    FBitmap = std::move(bitmap);
    Changed(this);
    return;
  }
  TGraphic::Assign(Source);
}

void TJPEGImage::AssignTo(TPersistent* Dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(Dest)) {
    DIBNeeded();
    bitmap->Assign(FBitmap.get());  // null empties the bitmap
    return;
  }
  TGraphic::AssignTo(Dest);
}

void TJPEGImage::SetWidth(int) {}
void TJPEGImage::SetHeight(int) {}
void TJPEGImage::SetTransparent(bool) {}

bool TJPEGImage::GetEmpty() { return FData.empty() && (!FBitmap || FBitmap->Empty()); }

int TJPEGImage::GetWidth() {
  if (!FData.empty()) return (FDataWidth + ScaleDenominator(FScale) - 1) / ScaleDenominator(FScale);
  return FBitmap ? FBitmap->Width() : 0;
}

int TJPEGImage::GetHeight() {
  if (!FData.empty()) return (FDataHeight + ScaleDenominator(FScale) - 1) / ScaleDenominator(FScale);
  return FBitmap ? FBitmap->Height() : 0;
}

HPALETTE TJPEGImage::GetPalette() {
  if (FPixelFormat != jf8Bit) return nullptr;
  DIBNeeded();
  return FBitmap ? FBitmap->Palette() : nullptr;
}

void TJPEGImage::LoadFromStream(TStream* Stream) {
  std::vector<std::uint8_t> data;
  const std::int64_t left = Stream->Size() - Stream->Position();
  if (left > 0) data.reserve(static_cast<std::size_t>(left));
  std::uint8_t chunk[64 * 1024];
  for (;;) {
    const std::int64_t n = Stream->Read(chunk, sizeof chunk);
    if (n <= 0) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  const TJpegHeader header = Codec([&] { return JpegReadHeader(data.data(), data.size()); });
  FData = std::move(data);
  FDataWidth = header.Width;
  FDataHeight = header.Height;
  FBitmap.reset();
  Changed(this);
}

void TJPEGImage::SaveToStream(TStream* Stream) {
  JPEGNeeded();
  if (!FData.empty()) Stream->WriteBuffer(FData.data(), static_cast<std::int64_t>(FData.size()));
}

void TJPEGImage::LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) {
  TBitmap bitmap;
  bitmap.LoadFromClipboardFormat(AFormat, AData, APalette);
  Assign(&bitmap);
}

void TJPEGImage::SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) {
  DIBNeeded();
  TBitmap empty;
  (FBitmap ? FBitmap.get() : &empty)->SaveToClipboardFormat(AFormat, AData, APalette);
}

void TJPEGImage::DIBNeeded() {
  if (FBitmap || FData.empty()) return;
  TJpegDecodeOptions options;
  options.ScaleDenom = ScaleDenominator(FScale);
  options.Smoothing = FSmoothing;
  options.Grayscale = FGrayscale;
  options.QuantizeColors = FPixelFormat == jf8Bit ? 256 : 0;
  options.FastDct = FPerformance == jpBestSpeed;
  // Decoded straight into the bitmap's rows, in its byte order.
  options.Bgr = true;
  const TRect none{};
  int percent = 0;
  Progress(this, psStarting, 0, false, none, "");
  try {
    std::unique_ptr<TBitmap> bitmap;
    Codec([&] {
      return JpegDecodeInto(
          FData.data(), FData.size(), options,
          [&](const TJpegLayout& layout) {
            TJpegRows rows;
            bitmap = NewPictureBitmap(layout, rows);
            return rows;
          },
          [&](int done, int total) {
            const int now = total > 0 ? static_cast<int>(static_cast<std::int64_t>(done) * 100 / total) : 100;
            if (now != percent && now < 100) {
              percent = now;
              Progress(this, psRunning, static_cast<BYTE>(now), false, none, "");
            }
          });
    });
    FBitmap = std::move(bitmap);
  } catch (...) {
    Progress(this, psEnding, 0, false, none, "");
    throw;
  }
  Progress(this, psEnding, 100, false, none, "");
}

void TJPEGImage::Compress() {
  if (GetEmpty()) return;
  // Rows to encode, red green blue: from the assigned picture, or the data decoded at full size.
  TJpegPicture decoded;
  TBitmap converted;
  TBitmap* source = nullptr;
  int width = 0, height = 0;
  if (FData.empty()) {
    source = FBitmap.get();
    if (source->PixelFormat() != pf24bit) {
      converted.Assign(source);
      converted.SetPixelFormat(pf24bit);
      source = &converted;
    }
    width = source->Width();
    height = source->Height();
  } else {
    TJpegDecodeOptions options;
    options.Smoothing = FSmoothing;
    options.FastDct = FPerformance == jpBestSpeed;
    decoded = Codec([&] { return JpegDecode(FData.data(), FData.size(), options); });
    width = decoded.Width;
    height = decoded.Height;
  }
  const int channels = FGrayscale ? 1 : 3;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  auto rows = [&](int y) {
    std::uint8_t* out = row.data();
    if (source) {
      const auto* bgr = static_cast<const std::uint8_t*>(source->ScanLine(y));
      for (int x = 0; x < width; ++x, bgr += 3, out += 3) {
        out[0] = bgr[2];
        out[1] = bgr[1];
        out[2] = bgr[0];
      }
    } else if (decoded.Channels == 3) {
      std::memcpy(out, decoded.Pixels.data() + row.size() * static_cast<std::size_t>(y), row.size());
    } else {
      const std::uint8_t* grey = decoded.Pixels.data() + static_cast<std::size_t>(width) * static_cast<std::size_t>(y);
      for (int x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = grey[x];
    }
    if (channels == 1) {
      // grey with the weights libjpeg uses
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = row.data() + 3 * x;
        row[static_cast<std::size_t>(x)] =
            static_cast<std::uint8_t>((19595 * p[0] + 38470 * p[1] + 7471 * p[2] + 32768) >> 16);
      }
    }
    return static_cast<const std::uint8_t*>(row.data());
  };
  TJpegEncodeOptions options;
  options.Quality = FQuality;
  options.Progressive = FProgressiveEncoding;
  std::vector<std::uint8_t> data = Codec([&] { return JpegEncode(width, height, channels, rows, options); });
  FData = std::move(data);
  FDataWidth = width;
  FDataHeight = height;
  FBitmap.reset();
  Changed(this);
}

void TJPEGImage::JPEGNeeded() {
  if (FData.empty() && FBitmap) Compress();
}

bool TJPEGImage::Equals(TGraphic* Graphic) {
  auto* other = dynamic_cast<TJPEGImage*>(Graphic);
  if (!other || other->ClassType() != ClassType()) return false;
  if (other == this) return true;
  JPEGNeeded();
  other->JPEGNeeded();
  return FData == other->FData;
}

void TJPEGImage::Draw(TCanvas* ACanvas, const TRect& Rect) {
  DIBNeeded();
  if (FBitmap && !FBitmap->Empty()) ACanvas->StretchDraw(Rect, FBitmap.get());
}

void TJPEGImage::DecodeOptionChanged() {
  if (GetEmpty()) return;
  if (FData.empty()) {
    Compress();  // drops the picture, which is then decoded with the new options
    return;
  }
  FBitmap.reset();
  Changed(this);
}

void TJPEGImage::SetScale(TJPEGScale Value) {
  if (Value == FScale) return;
  FScale = Value;
  DecodeOptionChanged();
}

void TJPEGImage::SetSmoothing(bool Value) {
  if (Value == FSmoothing) return;
  FSmoothing = Value;
  DecodeOptionChanged();
}

void TJPEGImage::SetGrayscale(bool Value) {
  if (Value == FGrayscale) return;
  FGrayscale = Value;
  DecodeOptionChanged();
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat Value) {
  if (Value == FPixelFormat) return;
  FPixelFormat = Value;
  DecodeOptionChanged();
}

void TJPEGImage::SetPerformance(TJPEGPerformance Value) {
  if (Value == FPerformance) return;
  FPerformance = Value;
  DecodeOptionChanged();
}

void TJPEGImage::SetCompressionQuality(TJPEGQualityRange Value) { FQuality = std::clamp(Value, 1, 100); }

void RegisterJpegFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    TPicture::RegisterFileFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
    TPicture::RegisterFileFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
  });
}
