#include "picture/PxGIF.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>

#include "picture/PxAni.h"
#include "picture/PxDibConvert.h"
#include "picture/PxGIFCodec.h"
#include "picture/PxGraphUtils.h"
#include "picture/PxTransparent.h"
#include "platform/graphics/DibFormat.h"
#include "platform/graphics/Jpeg.h"

namespace px {

IMPLEMENT_GRAPHIC_CLASS(TPxGIFImage, TGraphic)

namespace {

std::mutex ClipboardLock;
TPxClipboardAccess& ClipboardAccess() {
  static TPxClipboardAccess access;
  return access;
}
TPxClipboardAccess CurrentClipboard() {
  std::lock_guard<std::mutex> guard(ClipboardLock);
  return ClipboardAccess();
}

// Colour-table entries of a DIB of BitCount bits (0 above 8).
int ColorsOfBits(int BitCount) {
  switch (BitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

int BitsPerPixelForDib(int TableBits) {
  if (TableBits == 1) return 1;
  if (TableBits >= 2 && TableBits <= 4) return 4;
  if (TableBits >= 5 && TableBits <= 8) return 8;
  RaisePxGifError("Wrong number of colors; must be a power of 2");
}

int BitsForCount(int Count) {
  int b = 1;
  while ((1 << b) < Count && b < 8) ++b;
  return b;
}

// Most pixels a frame of Bytes bytes of image data is taken to have: a code of 12 bits stands for
// at most 4096 pixels (narrower codes for fewer); small frames are taken whatever data follows
// (the pixels the data does not reach stay index 0).
std::int64_t FramePixelsForData(std::int64_t Bytes) {
  constexpr std::int64_t kPixelsWithoutData = std::int64_t{1} << 16;
  return std::max(kPixelsWithoutData, (std::max<std::int64_t>(Bytes, 0) * 8 + 11) / 12 * 4096);
}

// The reduction of a many-coloured picture keeps no exact entry for a rare colour: the pixels
// of the key colour get an entry of their own in Bmp (an 8-bit BMP reduced from Source), one
// that no other pixel used or, failing that, the least used one, whose pixels move to their
// nearest other entry. No other entry keeps the key colour.
void GiveKeyColorItsEntry(TMemoryStream& Bmp, TBitmap* Source, TColor Key) {
  auto* file = static_cast<std::uint8_t*>(Bmp.Memory());
  BITMAPINFOHEADER info;
  std::memcpy(&info, file + 14, sizeof info);
  auto* table = reinterpret_cast<RGBQUAD*>(file + 14 + info.biSize);
  std::uint8_t* rows = file + GetLE32(file + 10);
  const std::int64_t width = info.biWidth, height = info.biHeight < 0 ? -static_cast<std::int64_t>(info.biHeight) : info.biHeight;
  const std::int64_t stride = DibScanlineBytes(8 * width);

  std::int64_t length = 0;
  struct TBlock {
    void* P;
    ~TBlock() { FreeGlobalBuffer(P); }
  } trueColor{BitmapToDibBlock(Source->Handle(), Source->Palette(), pf24bit, length)};
  const auto* source = static_cast<const std::uint8_t*>(trueColor.P);
  const std::uint8_t* sourceRows = source + GetLE32(source + 10);
  const std::int64_t sourceStride = DibScanlineBytes(24 * width);

  const TColor rgb = ColorToRGB(Key);
  const BYTE red = static_cast<BYTE>(rgb), green = static_cast<BYTE>(rgb >> 8), blue = static_cast<BYTE>(rgb >> 16);
  auto isKey = [&](std::int64_t X, std::int64_t Y) {
    const std::uint8_t* p = sourceRows + Y * sourceStride + 3 * X;
    return p[0] == blue && p[1] == green && p[2] == red;
  };
  std::int64_t uses[256] = {};
  bool any = false;
  for (std::int64_t y = 0; y < height; ++y)
    for (std::int64_t x = 0; x < width; ++x) {
      if (isKey(x, y))
        any = true;
      else
        ++uses[rows[y * stride + x]];
    }
  if (!any) return;
  int entry = static_cast<int>(std::min_element(uses, uses + 256) - uses);
  if (uses[entry] > 0) {
    // The least used entry goes to the key; its pixels to their nearest other entry.
    int nearest = -1;
    std::int64_t best = INT64_MAX;
    for (int i = 0; i < 256; ++i) {
      if (i == entry) continue;
      const std::int64_t dr = table[i].rgbRed - table[entry].rgbRed, dg = table[i].rgbGreen - table[entry].rgbGreen,
                         db = table[i].rgbBlue - table[entry].rgbBlue;
      const std::int64_t d = dr * dr + dg * dg + db * db;
      if (d < best) {
        best = d;
        nearest = i;
      }
    }
    for (std::int64_t y = 0; y < height; ++y)
      for (std::int64_t x = 0; x < width; ++x)
        if (rows[y * stride + x] == entry && !isKey(x, y)) rows[y * stride + x] = static_cast<std::uint8_t>(nearest);
  }
  for (std::int64_t y = 0; y < height; ++y)
    for (std::int64_t x = 0; x < width; ++x)
      if (isKey(x, y)) rows[y * stride + x] = static_cast<std::uint8_t>(entry);
  for (int i = 0; i < 256; ++i)
    if (i != entry && table[i].rgbRed == red && table[i].rgbGreen == green && table[i].rgbBlue == blue)
      table[i].rgbBlue = static_cast<BYTE>(blue == 255 ? 254 : blue + 1);
  table[entry] = RGBQUAD{blue, green, red, 0};
}

}  // namespace

void SetPxClipboardAccess(TPxClipboardAccess Access) {
  std::lock_guard<std::mutex> guard(ClipboardLock);
  ClipboardAccess() = std::move(Access);
}

void RaisePxGifError(const std::string& Message) { throw EInvalidGraphicOperation(Message); }

int ColorCountToBits(int Count) {
  for (int b = 1; b <= 8; ++b)
    if (Count == 1 << b) return b;
  RaisePxGifError("Wrong number of colors; must be a power of 2");
}

int ColorTableIndexOf(const TGifColorTable& Table, TColor Color) {
  if (Color == clNone) return -1;
  const TColor rgb = ColorToRGB(Color);
  for (int i = 0; i < Table.Count; ++i)
    if (Table.ColorAt(i) == rgb) return i;
  return -1;
}

// ---------------------------------------------------------------------------------------------
// TExtension

void TExtension::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TExtension*>(Source);
  if (!source) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  Kind = source->Kind;
  FixedBytes = source->FixedBytes;
  if (source->Lines) {
    if (!Lines) Lines = std::make_unique<TStringList>();
    Lines->Assign(source->Lines.get());
  }
}

bool TExtension::IsLoopBlock() const {
  // Block size 11 and all 11 bytes of one of the two identifiers.
  if (Kind != gekApplication || !Lines || Lines->Count() == 0 || FixedBytes[0] != 11) return false;
  const BYTE* id = FixedBytes.data() + 1;
  if (std::memcmp(id, "NETSCAPE2.0", 11) != 0 && std::memcmp(id, "ANIMEXTS1.0", 11) != 0) return false;
  const std::string first = Lines->Get(0);
  return first.size() >= 3 && static_cast<BYTE>(first[0]) == 1;
}

// ---------------------------------------------------------------------------------------------
// TPxGIFFrame

TPxGIFFrame::TPxGIFFrame(TPxGIFImage* AOwner) : Owner(AOwner) { ResetImage(); }

TPxGIFFrame::~TPxGIFFrame() = default;

void TPxGIFFrame::ResetImage() {
  ItemData = std::make_shared<TGIFItem>();
  IsGray = IsCorrupt = IsInterlaced = HasLocalTable = false;
  KeyColor = clNone;
  OriginX = OriginY = 0;
  DelayMs = 0;
  DisposalCode = 0;
}

TGIFItem& TPxGIFFrame::OwnItem() {
  if (ItemData.use_count() > 1) {
    auto copy = std::make_shared<TGIFItem>();
    if (ItemData->CodeStream) {
      copy->CodeStream = std::make_unique<TMemoryStream>();
      copy->CodeStream->WriteBuffer(ItemData->CodeStream->Memory(), ItemData->CodeStream->Size());
      copy->CodeStream->SetPosition(0);
    }
    copy->ImageWidth = ItemData->ImageWidth;
    copy->ImageHeight = ItemData->ImageHeight;
    copy->DescriptorFlags = ItemData->DescriptorFlags;
    copy->TableBits = ItemData->TableBits;
    copy->ColorTable = ItemData->ColorTable;
    ItemData = std::move(copy);
  }
  return *ItemData;
}

void TPxGIFFrame::RecreateBitmap() { BitmapCache = std::make_unique<TBitmap>(); }

TBitmap* TPxGIFFrame::DecodedBitmap() {
  if (BitmapCache && !BitmapCache->Empty()) return BitmapCache.get();
  RecreateBitmap();
  // A frame without pixels (no width or height, here or on the logical screen) stays empty.
  if (ItemData->CodeStream && ItemData->ImageWidth > 0 && ItemData->ImageHeight > 0) {
    TMemoryStream dib;
    DecodeToDib(&dib);
    BitmapCache->LoadFromStream(&dib);
    if (!BitmapCache->Monochrome()) BitmapCache->SetHandleType(bmDDB);
  }
  return BitmapCache.get();
}

int TPxGIFFrame::PixelWidth() {
  if (!BitmapCache && !ItemData->CodeStream) return 0;
  return DecodedBitmap()->Width();
}

int TPxGIFFrame::PixelHeight() {
  if (!BitmapCache && !ItemData->CodeStream) return 0;
  return DecodedBitmap()->Height();
}

TStringList* TPxGIFFrame::CommentExtension(bool Create) {
  TExtension* comment = nullptr;
  for (auto it = ExtensionList.rbegin(); it != ExtensionList.rend(); ++it)
    if ((*it)->Kind == gekComment) {
      comment = it->get();
      break;
    }
  if (!comment) {
    if (!Create) return nullptr;
    ExtensionList.push_back(std::make_unique<TExtension>());
    comment = ExtensionList.back().get();
    comment->Kind = gekComment;
  }
  if (!comment->Lines && Create) comment->Lines = std::make_unique<TStringList>();
  return comment->Lines.get();
}

void TPxGIFFrame::AssignComment(TStrings* Lines) { CommentLines()->Assign(Lines); }

void TPxGIFFrame::DrawOnCanvas(TCanvas* Canvas, const TRect& Rect, bool Transparent) {
  TBitmap* bitmap = DecodedBitmap();
  if (KeyColor != clNone && Transparent)
    DrawBitmapTransparent(Canvas, Rect.left, Rect.top, bitmap, TRect{0, 0, bitmap->Width(), bitmap->Height()}, KeyColor,
                          Rect.right - Rect.left, Rect.bottom - Rect.top);
  else
    Canvas->StretchDraw(Rect, bitmap);
}

void TPxGIFFrame::Assign(TPersistent* Source) {
  if (!Source) {
    ResetImage();
    BitmapCache.reset();
    if (Owner) Owner->RecomputeScreenSize();
    return;
  }
  if (auto* frame = dynamic_cast<TPxGIFFrame*>(Source)) {
    if (frame == this) return;
    ItemData = frame->ItemData;
    HasLocalTable = frame->Owner == Owner ? frame->HasLocalTable : true;
    OriginX = frame->OriginX;
    OriginY = frame->OriginY;
    IsInterlaced = frame->IsInterlaced;
    if (frame->BitmapCache) {
      RecreateBitmap();
      BitmapCache->Assign(frame->BitmapCache.get());
    }
    KeyColor = frame->KeyColor;
    DelayMs = frame->DelayMs;
    DisposalCode = frame->DisposalCode;
    IsGray = frame->IsGray;
    IsCorrupt = frame->IsCorrupt;
    if (TStringList* lines = frame->CommentExtension(false)) AssignComment(lines);
    if (Owner) Owner->RecomputeScreenSize();
    return;
  }
  if (auto* image = dynamic_cast<TPxGIFImage*>(Source)) {
    if (image->FrameCount() == 0)
      Assign(nullptr);
    else
      Assign(image->FrameAt(std::max(image->CurrentFrame, 0)));
    return;
  }
  if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
    if (graphic->Empty()) {
      Assign(nullptr);
      return;
    }
    ResetImage();
    RecreateBitmap();
    auto* bitmap = dynamic_cast<TBitmap*>(graphic);
    try {
      if (bitmap) BitmapCache->SetMonochrome(bitmap->Monochrome());
      BitmapCache->Assign(graphic);
    } catch (const EConvertError&) {
      // The bitmap cannot take it: the graphic is drawn on a fuchsia background.
      BitmapCache->Canvas()->Brush()->SetColor(clFuchsia);
      BitmapCache->SetWidth(graphic->Width());
      BitmapCache->SetHeight(graphic->Height());
      BitmapCache->Canvas()->Draw(0, 0, graphic);
    }
    if (graphic->Transparent()) {
      if (bitmap)
        KeyColor = bitmap->TransparentColor();
      else
        KeyColor = static_cast<TColor>(GetNearestColor(BitmapCache->Canvas()->Handle(),
                                                       ColorToRGB(BitmapCache->Canvas()->Brush()->Color())));
    }
    if (Owner) Owner->RecomputeScreenSize();
    return;
  }
  TPersistent::Assign(Source);
}

void TPxGIFFrame::AssignTo(TPersistent* Dest) {
  if (dynamic_cast<TPxGIFFrame*>(Dest) || dynamic_cast<TPxGIFImage*>(Dest)) {
    Dest->Assign(this);
    return;
  }
  auto* graphic = dynamic_cast<TGraphic*>(Dest);
  if (!graphic) {
    TPersistent::AssignTo(Dest);
    return;
  }
  graphic->Assign(DecodedBitmap());
  if (auto* bitmap = dynamic_cast<TBitmap*>(graphic); bitmap && KeyColor != clNone) {
    bitmap->SetTransparentColor(static_cast<TColor>(GetNearestColor(bitmap->Canvas()->Handle(), ColorToRGB(KeyColor))));
    bitmap->SetTransparent(true);
  }
}

// ---------------------------------------------------------------------------------------------
// Pixel codec of a frame

void TPxGIFFrame::DecodeToDib(TMemoryStream* Target) {
  TGIFItem& item = *ItemData;
  const int bits = BitsPerPixelForDib(item.TableBits);
  const std::int64_t width = std::max(item.ImageWidth, 0), height = std::max(item.ImageHeight, 0);
  const std::int64_t stride = DibScanlineBytes(bits * width);
  const std::int64_t imageSize = stride * height;
  // No more pixels than the data can describe, nor than a bitmap may hold, before anything is
  // allocated.
  if (width * height > FramePixelsForData(item.CodeStream->Size())) RaisePxGifError("GIF encoded data is corrupt");
  if (width * height > static_cast<std::int64_t>(dib::kMaxPixels)) RaiseInvalidBitmap();
  const int tableEntries = 1 << bits;
  Target->Clear();
  std::uint8_t fileHeader[14];
  fileHeader[0] = 'B';
  fileHeader[1] = 'M';
  PutLE32(fileHeader + 2, static_cast<std::uint32_t>(imageSize + 54 + 4 * tableEntries));
  PutLE32(fileHeader + 6, 0);
  PutLE32(fileHeader + 10, static_cast<std::uint32_t>(54 + 4 * tableEntries));
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = static_cast<LONG>(width);
  info.biHeight = static_cast<LONG>(height);
  info.biPlanes = 1;
  info.biBitCount = static_cast<WORD>(bits);
  info.biSizeImage = static_cast<DWORD>(imageSize);
  // The pixels are decoded in place, after the headers and the colour table.
  const std::int64_t pixelOffset = 54 + 4 * tableEntries;
  Target->SetSizeUncleared(pixelOffset + imageSize);
  auto* file = static_cast<std::uint8_t*>(Target->Memory());
  std::memcpy(file, fileHeader, sizeof fileHeader);
  std::memcpy(file + sizeof fileHeader, &info, sizeof info);
  // The table's colours, then grey.
  std::uint8_t* quad = file + 54;
  const int colours = std::min(item.ColorTable.Count, tableEntries);
  for (int i = 0; i < colours; ++i, quad += 4) {
    const auto& c = item.ColorTable.Colors[static_cast<std::size_t>(i)];
    quad[0] = c[2];
    quad[1] = c[1];
    quad[2] = c[0];
    quad[3] = 0;
  }
  std::memset(quad, 128, 4 * static_cast<std::size_t>(tableEntries - colours));
  item.CodeStream->SetPosition(0);
  bool damaged = false;
  try {
    PxLzwDecode(item.CodeStream.get(), info, IsInterlaced, Owner, damaged, file + pixelOffset, AcceptDamagedData);
  } catch (...) {
    Target->Clear();
    throw;
  }
  if (damaged) IsCorrupt = true;
  Target->SetPosition(0);
}

void TPxGIFFrame::EncodeBitmap() {
  if (!BitmapCache || BitmapCache->Empty()) RaisePxGifError("No GIF Data to write");
  const TPixelFormat format = PixelFormatOf(BitmapCache.get());
  std::unique_ptr<TMemoryStream> bmp;
  if (format == pf1bit || format == pf4bit || format == pf8bit) {
    bmp = std::make_unique<TMemoryStream>();
    BitmapCache->SaveToStream(bmp.get());
  } else {
    bmp = BitmapToMemoryStream(BitmapCache.get(), pf8bit, IsGray ? static_cast<BYTE>(rmGray) : DefaultReductionMethod);
    if (KeyColor != clNone) GiveKeyColorItsEntry(*bmp, BitmapCache.get(), KeyColor);
  }
  EncodeDib(bmp.get());
}

void TPxGIFFrame::EncodeDib(TMemoryStream* Bmp) {
  const std::int64_t size = Bmp->Size();
  const auto* data = static_cast<const std::uint8_t*>(Bmp->Memory());
  if (size < 54) RaisePxGifError("GIF image encoding error");
  BITMAPINFOHEADER info;
  std::memcpy(&info, data + 14, sizeof info);
  const std::uint32_t pixelOffset = GetLE32(data + 10);
  const int colors = ColorsOfBits(info.biBitCount);
  if (colors == 0 || info.biSize < 40 || info.biWidth < 0 || info.biHeight < 0 || info.biCompression != BI_RGB)
    RaisePxGifError("GIF image encoding error");
  const std::int64_t rows = DibScanlineBytes(static_cast<std::int64_t>(info.biBitCount) * info.biWidth) * info.biHeight;
  if (pixelOffset > size || rows > size - pixelOffset) RaisePxGifError("GIF image encoding error");
  IsInterlaced = false;

  // The colour table that follows the info header: its used entries, bounded by the pixels.
  TGIFItem& item = OwnItem();
  item.ColorTable = TGifColorTable{};
  item.ColorTable.Count = std::min(colors, 256);
  std::int64_t listed = info.biClrUsed != 0 && info.biClrUsed < static_cast<DWORD>(colors) ? info.biClrUsed : colors;
  const std::int64_t tableStart = 14 + static_cast<std::int64_t>(info.biSize);
  listed = std::min<std::int64_t>(listed, std::max<std::int64_t>((std::min<std::int64_t>(pixelOffset, size) - tableStart) / 4, 0));
  for (std::int64_t i = 0; i < listed; ++i) {
    const std::uint8_t* q = data + tableStart + 4 * i;
    item.ColorTable.Colors[static_cast<std::size_t>(i)] = {q[2], q[1], q[0]};
  }

  if (item.CodeStream)
    item.CodeStream->Clear();
  else
    item.CodeStream = std::make_unique<TMemoryStream>();
  try {
    PxLzwEncode(item.CodeStream.get(), info, false, Owner, data + pixelOffset);
  } catch (const EAbort&) {
    ResetImage();
    throw;
  }
  item.TableBits = static_cast<BYTE>(BitsForCount(item.ColorTable.Count));
  if (Owner && Owner->GifData->GlobalTable.Count > 0) {
    HasLocalTable = true;
  } else if (Owner) {
    TGIFData& data = Owner->OwnData();
    data.GlobalTable = item.ColorTable;
    data.TableBits = item.TableBits;
    HasLocalTable = false;
  } else {
    HasLocalTable = true;
  }
  item.ImageWidth = info.biWidth;
  item.ImageHeight = info.biHeight;
  if (Owner) {
    Owner->LogicalWidth = static_cast<std::uint16_t>(std::max<std::int64_t>(Owner->LogicalWidth, std::min<std::int64_t>(info.biWidth + OriginX, 0xFFFF)));
    Owner->LogicalHeight = static_cast<std::uint16_t>(std::max<std::int64_t>(Owner->LogicalHeight, std::min<std::int64_t>(info.biHeight + OriginY, 0xFFFF)));
  }
}

// ---------------------------------------------------------------------------------------------
// TPxGIFImage

TPxGIFImage::TPxGIFImage() {
  ResetImage();
  SetTransparent(true);
}

TPxGIFImage::~TPxGIFImage() {
  OnChange = nullptr;
  FrameList.clear();
}

void TPxGIFImage::FreeFrames() {
  while (!FrameList.empty()) FrameList.erase(FrameList.begin());
}

void TPxGIFImage::ResetImage() {
  GifData = std::make_shared<TGIFData>();
  FreeFrames();
  ImageDamaged = false;
  CurrentFrame = -1;
  BackColor = clNone;
  LoopCount = 1;
  LoopAnimation = false;
  GifVersion = 0;
}

TGIFData& TPxGIFImage::OwnData() {
  if (GifData.use_count() > 1) {
    auto copy = std::make_shared<TGIFData>();
    copy->ImageComment.Assign(&GifData->ImageComment);
    copy->AspectByte = GifData->AspectByte;
    copy->TableBits = GifData->TableBits;
    copy->ColorResolution = GifData->ColorResolution;
    copy->GlobalTable = GifData->GlobalTable;
    GifData = std::move(copy);
  }
  return *GifData;
}

TPxGIFFrame* TPxGIFImage::FrameAt(int Index) const {
  if (Index < 0 || Index >= FrameCount()) throw EListError(Format("List index out of bounds (%d)", Index));
  return FrameList[static_cast<std::size_t>(Index)].get();
}

int TPxGIFImage::AppendFrame(TGraphic* Graphic) {
  FrameList.push_back(std::make_unique<TPxGIFFrame>(this));
  CurrentFrame = FrameCount() - 1;
  FrameList.back()->Assign(Graphic);
  if (GifVersion == 0) GifVersion = 1;
  if (FrameCount() > 1) GifVersion = 2;
  return CurrentFrame;
}

void TPxGIFImage::AssignFromAni(TPxAni* Ani) {
  // As many steps as a film strip of the animation may have.
  Ani->CheckFilmStripSize(false);
  ResetImage();
  BackColor = clWindow;
  for (int i = 0; i < Ani->FrameCount(); ++i) {
    TPxIconFrame* step = Ani->FrameAt(i);
    const int index = AppendFrame(step->Icon());
    const std::uint64_t delay = step->Rate == 0 ? 100 : static_cast<std::uint64_t>(step->Rate) * 100 / 6;
    FrameAt(index)->DelayMs = static_cast<std::uint32_t>(std::min<std::uint64_t>(delay, kMaxDelayMs));
  }
}

void TPxGIFImage::Assign(TPersistent* Source) {
  if (!Source) {
    ResetImage();
    Changed(this);
    return;
  }
  if (auto* image = dynamic_cast<TPxGIFImage*>(Source); image && image != this) {
    GifData = image->GifData;
    GifVersion = image->GifVersion;
    BackColor = image->BackColor;
    LoopCount = image->LoopCount;
    LoopAnimation = image->LoopAnimation;
    ImageDamaged = image->ImageDamaged;
    FreeFrames();
    for (const auto& source : image->FrameList) {
      auto frame = std::make_unique<TPxGIFFrame>(this);
      frame->Assign(source.get());
      frame->HasLocalTable = source->HasLocalTable;
      FrameList.push_back(std::move(frame));
    }
    LogicalWidth = image->LogicalWidth;
    LogicalHeight = image->LogicalHeight;
    CurrentFrame = image->CurrentFrame;
    Changed(this);
    return;
  }
  if (auto* frame = dynamic_cast<TPxGIFFrame*>(Source)) {
    ResetImage();
    if (frame->Owner) {
      GifData->AspectByte = frame->Owner->GifData->AspectByte;
      GifData->TableBits = frame->Owner->GifData->TableBits;
      GifData->ColorResolution = frame->Owner->GifData->ColorResolution;
      GifData->GlobalTable = frame->Owner->GifData->GlobalTable;
    }
    FrameList.push_back(std::make_unique<TPxGIFFrame>(this));
    CurrentFrame = FrameCount() - 1;
    FrameList.back()->Assign(frame);
    if (GifVersion == 0) GifVersion = 1;
    Changed(this);
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(Source)) {
    ResetImage();
    AppendFrame(bitmap);
    Changed(this);
    return;
  }
  if (auto* ani = dynamic_cast<TPxAni*>(Source)) {
    AssignFromAni(ani);
    Changed(this);
    return;
  }
  if (Source == this) return;
  TGraphic::Assign(Source);
}

void TPxGIFImage::AssignTo(TPersistent* Dest) {
  if (dynamic_cast<TPxGIFImage*>(Dest)) {
    Dest->Assign(this);
    return;
  }
  auto* graphic = dynamic_cast<TGraphic*>(Dest);
  if (!graphic) {
    TGraphic::AssignTo(Dest);
    return;
  }
  if (Empty())
    graphic->Assign(nullptr);
  else if (CurrentFrame < 0)
    graphic->Assign(CurrentBitmap());
  else
    FrameAt(CurrentFrame)->AssignTo(graphic);
}

void TPxGIFImage::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (CurrentFrame >= 0 && CurrentFrame < FrameCount())
    FrameAt(CurrentFrame)->DrawOnCanvas(ACanvas, Rect, GetTransparent());
}

bool TPxGIFImage::Equals(TGraphic* Graphic) {
  auto* other = dynamic_cast<TPxGIFImage*>(Graphic);
  return other && other->GifData == GifData;
}

bool TPxGIFImage::GetEmpty() {
  if (FrameList.empty()) return true;
  TPxGIFFrame* frame = FrameAt(std::max(CurrentFrame, 0));
  if (frame->BitmapCache) return false;
  return !frame->ItemData->CodeStream || frame->ItemData->CodeStream->Size() == 0;
}

int TPxGIFImage::GetWidth() {
  if (Empty() || CurrentFrame < 0 || CurrentFrame >= FrameCount()) return 0;
  return FrameAt(CurrentFrame)->DecodedBitmap()->Width();
}

int TPxGIFImage::GetHeight() {
  if (Empty() || CurrentFrame < 0 || CurrentFrame >= FrameCount()) return 0;
  return FrameAt(CurrentFrame)->DecodedBitmap()->Height();
}

HPALETTE TPxGIFImage::GetPalette() {
  if (FrameList.empty()) return nullptr;
  return CurrentBitmap()->Palette();
}

bool TPxGIFImage::GetTransparent() {
  if (!FTransparent) return false;
  return std::any_of(FrameList.begin(), FrameList.end(), [](const auto& F) { return F->KeyColor != clNone; });
}

void TPxGIFImage::SetWidth(int) { RaisePxGifError("Cannot change the Size of a GIF image"); }
void TPxGIFImage::SetHeight(int) { RaisePxGifError("Cannot change the Size of a GIF image"); }

TBitmap* TPxGIFImage::CurrentBitmap() {
  if (FrameList.empty()) {
    CurrentFrame = 0;
    TBitmap empty;
    Assign(&empty);
    return FrameAt(0)->DecodedBitmap();
  }
  const int index = CurrentFrame >= 0 && CurrentFrame < FrameCount() ? CurrentFrame : 0;
  return FrameAt(index)->DecodedBitmap();
}

void TPxGIFImage::RecomputeScreenSize() {
  std::int64_t width = 0, height = 0;
  for (const auto& frame : FrameList) {
    const std::int64_t w = frame->PixelWidth(), h = frame->PixelHeight();
    if (w == 0 || h == 0) continue;  // a frame without pixels covers nothing
    width = std::max<std::int64_t>(width, w + frame->OriginX);
    height = std::max<std::int64_t>(height, h + frame->OriginY);
  }
  LogicalWidth = static_cast<std::uint16_t>(std::clamp<std::int64_t>(width, 0, 0xFFFF));
  LogicalHeight = static_cast<std::uint16_t>(std::clamp<std::int64_t>(height, 0, 0xFFFF));
}

void TPxGIFImage::ReportProgress(TProgressStage Stage, BYTE Percent, const std::string& Message) {
  Progress(this, Stage, Percent, false, TRect{0, 0, 0, 0}, Message);
}

void TPxGIFImage::ReadData(TStream* Stream) {
  std::uint8_t count[4];
  Stream->ReadBuffer(count, 4);
  DecodeStream(static_cast<std::int32_t>(GetLE32(count)), Stream, true);
}

void TPxGIFImage::WriteData(TStream* Stream) { EncodeStream(Stream, true); }

void TPxGIFImage::LoadFromStream(TStream* Stream) {
  DecodeStream(std::max<std::int64_t>(Stream->Size() - Stream->Position(), 0), Stream, true);
}

void TPxGIFImage::SaveToStream(TStream* Stream) { EncodeStream(Stream, false); }

void TPxGIFImage::LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) {
  TPxClipboardAccess clipboard = CurrentClipboard();
  HANDLE gif = GifClipboardFormat != 0 && clipboard.GetData ? clipboard.GetData(GifClipboardFormat) : nullptr;
  if (gif) {
    TMemoryStream stream;
    void* memory = GlobalLock(gif);
    if (!memory) throw EInvalidGraphic("Unsupported clipboard format");
    try {
      stream.WriteBuffer(memory, static_cast<std::int64_t>(GlobalSize(gif)));
    } catch (...) {
      GlobalUnlock(gif);
      throw;
    }
    GlobalUnlock(gif);
    stream.SetPosition(0);
    // A plain GIF stream (as the GIF image library places it), or a byte count first. The
    // count is checked against the block before anything is made of it.
    const auto* bytes = static_cast<const std::uint8_t*>(stream.Memory());
    const std::int64_t size = stream.Size();
    auto isSignature = [&](std::int64_t At) {
      return At + 3 <= size && std::toupper(bytes[At]) == 'G' && std::toupper(bytes[At + 1]) == 'I' &&
             std::toupper(bytes[At + 2]) == 'F';
    };
    if (isSignature(0) && !isSignature(4)) {
      DecodeStream(size, &stream, false);
    } else {
      std::uint8_t count[4];
      stream.ReadBuffer(count, 4);
      DecodeStream(static_cast<std::int32_t>(GetLE32(count)), &stream, false);
    }
    if (!FrameList.empty()) {
      CurrentFrame = 0;
      if (HANDLE bitmap = clipboard.GetData(CF_BITMAP)) {
        TPxGIFFrame* frame = FrameAt(0);
        frame->RecreateBitmap();
        frame->BitmapCache->LoadFromClipboardFormat(CF_BITMAP, bitmap, APalette);
      }
    }
    return;
  }
  TBitmap bitmap;
  bitmap.LoadFromClipboardFormat(AFormat, AData, APalette);
  Assign(&bitmap);
}

void TPxGIFImage::SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) {
  if (FrameList.empty()) return;
  FrameAt(0)->DecodedBitmap()->SaveToClipboardFormat(AFormat, AData, APalette);
  for (const auto& frame : FrameList)
    if (!frame->ItemData->CodeStream || frame->ItemData->CodeStream->Size() == 0) return;
  TPxClipboardAccess clipboard = CurrentClipboard();
  if (!clipboard.SetData || GifClipboardFormat == 0) return;
  // The caller places the bitmap; when this fails it never sees the handles, so they go here.
  HGLOBAL block = nullptr;
  try {
    TMemoryStream stream;
    EncodeStream(&stream, true);
    block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(stream.Size()));
    void* memory = block ? GlobalLock(block) : nullptr;
    if (!memory) throw EOutOfMemory();
    std::memcpy(memory, stream.Memory(), static_cast<std::size_t>(stream.Size()));
    GlobalUnlock(block);
    clipboard.SetData(GifClipboardFormat, block);
  } catch (...) {
    if (block) GlobalFree(block);
    if (AData) DeleteObject(AData);
    if (APalette) DeleteObject(APalette);
    AData = nullptr;
    APalette = nullptr;
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// Registration

namespace {
std::mutex RegistrationLock;
bool Registered = false;
}  // namespace

void RegisterPxGifFormats() {
  RegisterJpegFormats();  // "jpeg" and "jpg" stay the oldest registrations
  std::lock_guard<std::mutex> guard(RegistrationLock);
  if (Registered) return;
  GifClipboardFormat = static_cast<WORD>(RegisterClipboardFormatA("GIF Image"));
  TPicture::RegisterFileFormat("gif", "CompuServe GIF Image", TPxGIFImage::StaticClass());
  TPicture::RegisterClipboardFormat(GifClipboardFormat, TPxGIFImage::StaticClass());
  Registered = true;
}

void UnregisterPxGifFormats() {
  std::lock_guard<std::mutex> guard(RegistrationLock);
  if (!Registered) return;
  TPicture::UnregisterGraphicClass(TPxGIFImage::StaticClass());
  Registered = false;
}

}  // namespace px
