#include "platform/ui/Clipbrd.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPointer>
#include <QThread>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/SysUtils.h"

namespace {

const QString kImageMime = QStringLiteral("application/x-qt-image");
const QString kPaletteMime = QStringLiteral("application/x-kelv-clipboard;standard=9");
const QString kFormatMimePrefix = QStringLiteral("application/x-kelv-clipboard;format=");

// Pixels of an image on the clipboard, so that its 32-bit form fits a global block.
constexpr std::int64_t kMaxPixels = static_cast<std::int64_t>(GLOBAL_MAX_BLOCK / 4);

struct State {
  bool Open{false};
  // Handles GetClipboardData made of the present content, by format.
  std::map<UINT, HANDLE> Retrieved;
  QPointer<QClipboard> Attached;
};

State& S() {
  static State state;
  return state;
}

void FreeData(UINT Format, HANDLE Data) {
  if (!Data) return;
  if (Format == CF_BITMAP || Format == CF_PALETTE)
    DeleteObject(Data);
  else
    GlobalFree(Data);
}

// The content changed: the handles made of the old one go.
void DropRetrieved() {
  std::map<UINT, HANDLE> retrieved;
  retrieved.swap(S().Retrieved);
  for (const auto& [format, data] : retrieved) FreeData(format, data);
}

// Qt's clipboard when the caller is on the GUI application's thread, else null.
QClipboard* UiClipboard() {
  auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!app || QThread::currentThread() != app->thread()) return nullptr;
  QClipboard* clipboard = QGuiApplication::clipboard();
  State& s = S();
  if (clipboard && s.Attached.data() != clipboard) {
    s.Attached = clipboard;
    QObject::connect(clipboard, &QClipboard::dataChanged, clipboard, [] { DropRetrieved(); });
    QObject::connect(clipboard, &QObject::destroyed, [] {
      DropRetrieved();
      S().Open = false;
    });
  }
  return clipboard;
}

std::string FormatName(UINT Format) {
  char name[256];
  const int n = GetClipboardFormatNameA(Format, name, static_cast<int>(sizeof name));
  return std::string(name, static_cast<std::size_t>(n > 0 ? n : 0));
}

QString PrivateMime(const std::string& Name) { return kFormatMimePrefix + QString::fromUtf8(Name); }

bool SizeFits(std::int64_t Width, std::int64_t Height) {
  return Width > 0 && Height > 0 && Width <= kMaxPixels && Height <= kMaxPixels && Width * Height <= kMaxPixels;
}

BITMAPINFO TopDown32(int Width, int Height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = Width;
  info.bmiHeader.biHeight = -Height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

// The picture of a bitmap handle; a null image for anything that is not a bitmap.
QImage ImageOfBitmap(HBITMAP Bitmap) {
  BITMAP bm{};
  if (GetObjectType(Bitmap) != OBJ_BITMAP || !GetObject(Bitmap, sizeof bm, &bm)) return {};
  const std::int64_t height = bm.bmHeight < 0 ? -static_cast<std::int64_t>(bm.bmHeight) : bm.bmHeight;
  if (!SizeFits(bm.bmWidth, height)) return {};
  QImage image(bm.bmWidth, static_cast<int>(height), QImage::Format_RGB32);
  if (image.isNull()) return {};
  BITMAPINFO info = TopDown32(image.width(), image.height());
  HDC screen = GetDC(nullptr);
  const int lines = GetDIBits(screen, Bitmap, 0, static_cast<UINT>(image.height()), image.bits(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (lines != image.height()) return {};
  // The DIB's fourth byte is not an alpha channel.
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) row[x] |= 0xFF000000u;
  }
  return image;
}

// A device-dependent bitmap of the picture; null when it cannot be made.
HBITMAP BitmapOfImage(const QImage& Image) {
  if (Image.isNull() || !SizeFits(Image.width(), Image.height())) return nullptr;
  const QImage rgb = Image.convertToFormat(QImage::Format_RGB32);
  if (rgb.isNull()) return nullptr;
  BITMAPINFO info = TopDown32(rgb.width(), rgb.height());
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBitmap(screen, &info.bmiHeader, CBM_INIT, rgb.constBits(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

// A packed DIB (header, colour table, bits) in a global block: the picture, or a null image
// when the block is no whole uncompressed DIB.
QImage ImageOfDib(HGLOBAL Block) {
  const std::uint64_t size = GlobalSize(Block);
  if (size < sizeof(BITMAPINFOHEADER)) return {};
  const auto* memory = static_cast<const BYTE*>(GlobalLock(Block));
  if (!memory) return {};
  QImage image;
  BITMAPINFOHEADER header;
  std::memcpy(&header, memory, sizeof header);
  const std::int64_t width = header.biWidth;
  const std::int64_t height = header.biHeight < 0 ? -static_cast<std::int64_t>(header.biHeight) : header.biHeight;
  const int bits = header.biBitCount;
  const bool knownDepth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  const bool knownCompression =
      header.biCompression == BI_RGB || (header.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32));
  if (header.biSize >= sizeof(BITMAPINFOHEADER) && header.biSize <= size && header.biPlanes == 1 && knownDepth &&
      knownCompression && SizeFits(width, height)) {
    const bool fields = header.biCompression == BI_BITFIELDS;
    std::uint64_t colours = header.biClrUsed;
    if (bits <= 8 && (colours == 0 || colours > (1u << bits))) colours = 1u << bits;
    if (bits > 8 && colours > 256) colours = 256;
    // The three masks follow a 40-byte header and sit inside a longer one.
    const std::uint64_t masks = fields ? 3 * sizeof(DWORD) : 0;
    const std::uint64_t tableAt = header.biSize == sizeof(BITMAPINFOHEADER) ? header.biSize + masks : header.biSize;
    const std::uint64_t table = colours * sizeof(RGBQUAD);
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    const std::uint64_t offset = tableAt + table;
    if ((!fields || header.biSize == sizeof(BITMAPINFOHEADER) || header.biSize >= sizeof(BITMAPINFOHEADER) + masks) &&
        offset <= size && stride * static_cast<std::uint64_t>(height) <= size - offset) {
      // A 40-byte header, aligned, with the masks and the colour table right behind it.
      std::vector<std::uint32_t> info((sizeof(BITMAPINFOHEADER) + masks + table + 3) / 4);
      auto* out = reinterpret_cast<BYTE*>(info.data());
      std::memcpy(out, &header, sizeof header);
      reinterpret_cast<BITMAPINFOHEADER*>(out)->biSize = sizeof(BITMAPINFOHEADER);
      if (masks) std::memcpy(out + sizeof header, memory + sizeof header, masks);
      if (table) std::memcpy(out + sizeof header + masks, memory + tableAt, table);
      HDC screen = GetDC(nullptr);
      HBITMAP bitmap = CreateDIBitmap(screen, reinterpret_cast<BITMAPINFOHEADER*>(out), CBM_INIT, memory + offset,
                                      reinterpret_cast<BITMAPINFO*>(out), DIB_RGB_COLORS);
      ReleaseDC(nullptr, screen);
      if (bitmap) {
        image = ImageOfBitmap(bitmap);
        DeleteObject(bitmap);
      }
    }
  }
  GlobalUnlock(Block);
  return image;
}

// The picture as a packed 32-bit DIB, bottom row first, in a new global block.
HGLOBAL DibOfImage(const QImage& Image) {
  if (Image.isNull() || !SizeFits(Image.width(), Image.height())) return nullptr;
  const QImage rgb = Image.convertToFormat(QImage::Format_RGB32);
  if (rgb.isNull()) return nullptr;
  const std::uint64_t stride = static_cast<std::uint64_t>(rgb.width()) * 4;
  const std::uint64_t bytes = sizeof(BITMAPINFOHEADER) + stride * static_cast<std::uint64_t>(rgb.height());
  if (bytes > GLOBAL_MAX_BLOCK) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(bytes));
  auto* memory = block ? static_cast<BYTE*>(GlobalLock(block)) : nullptr;
  if (!memory) {
    if (block) GlobalFree(block);
    return nullptr;
  }
  BITMAPINFOHEADER header = TopDown32(rgb.width(), rgb.height()).bmiHeader;
  header.biHeight = rgb.height();
  header.biSizeImage = static_cast<DWORD>(stride * static_cast<std::uint64_t>(rgb.height()));
  std::memcpy(memory, &header, sizeof header);
  for (int y = 0; y < rgb.height(); ++y)
    std::memcpy(memory + sizeof header + stride * static_cast<std::uint64_t>(rgb.height() - 1 - y),
                rgb.constScanLine(y), stride);
  GlobalUnlock(block);
  return block;
}

QByteArray PaletteBytes(HPALETTE Palette) {
  WORD count = 0;
  if (GetObjectType(Palette) != OBJ_PAL || !GetObject(Palette, sizeof count, &count) || count == 0) return {};
  std::vector<PALETTEENTRY> entries(count);
  if (GetPaletteEntries(Palette, 0, count, entries.data()) != count) return {};
  QByteArray bytes(static_cast<qsizetype>(count) * 4, '\0');
  for (std::size_t i = 0; i < entries.size(); ++i) {
    bytes[static_cast<qsizetype>(i * 4)] = static_cast<char>(entries[i].peRed);
    bytes[static_cast<qsizetype>(i * 4 + 1)] = static_cast<char>(entries[i].peGreen);
    bytes[static_cast<qsizetype>(i * 4 + 2)] = static_cast<char>(entries[i].peBlue);
    bytes[static_cast<qsizetype>(i * 4 + 3)] = static_cast<char>(entries[i].peFlags);
  }
  return bytes;
}

HPALETTE PaletteOfBytes(const QByteArray& Bytes) {
  const qsizetype count = Bytes.size() / 4;
  if (Bytes.size() % 4 != 0 || count < 1 || count > 0xFFFF) return nullptr;
  std::vector<std::uint32_t> storage(1 + static_cast<std::size_t>(count));
  auto* palette = reinterpret_cast<LOGPALETTE*>(storage.data());
  palette->palVersion = 0x300;
  palette->palNumEntries = static_cast<WORD>(count);
  PALETTEENTRY* entries = palette->palPalEntry;
  for (qsizetype i = 0; i < count; ++i) {
    entries[i].peRed = static_cast<BYTE>(Bytes[i * 4]);
    entries[i].peGreen = static_cast<BYTE>(Bytes[i * 4 + 1]);
    entries[i].peBlue = static_cast<BYTE>(Bytes[i * 4 + 2]);
    entries[i].peFlags = static_cast<BYTE>(Bytes[i * 4 + 3]);
  }
  return CreatePalette(palette);
}

// The bytes of a global block; false for an invalid block.
bool BlockBytes(HGLOBAL Block, QByteArray& Bytes) {
  const SIZE_T size = GlobalSize(Block);
  const void* memory = GlobalLock(Block);
  if (!memory) return false;
  Bytes = QByteArray(static_cast<const char*>(memory), static_cast<qsizetype>(size));
  GlobalUnlock(Block);
  return true;
}

HGLOBAL BlockOfBytes(const QByteArray& Bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(Bytes.size()));
  if (!block) return nullptr;
  if (void* memory = GlobalLock(block)) {
    if (!Bytes.isEmpty()) std::memcpy(memory, Bytes.constData(), static_cast<std::size_t>(Bytes.size()));
    GlobalUnlock(block);
    return block;
  }
  GlobalFree(block);
  return nullptr;
}

// Another clipboard content's formats, in their order, to keep them when a format is added.
void CopyMimeData(const QMimeData* From, QMimeData* To) {
  if (!From) return;
  const bool image = From->hasImage();
  bool imageCopied = false;
  for (const QString& format : From->formats()) {
    if (image && (format == kImageMime || format.startsWith(QLatin1String("image/")))) {
      if (!imageCopied) To->setImageData(From->imageData());
      imageCopied = true;
    } else {
      To->setData(format, From->data(format));
    }
  }
  if (image && !imageCopied) To->setImageData(From->imageData());
}

// The formats on the clipboard, in the order they were placed.
std::vector<UINT> AvailableFormats(const QMimeData* Data) {
  std::vector<UINT> formats;
  if (!Data) return formats;
  auto add = [&](UINT Format) {
    for (UINT f : formats)
      if (f == Format) return;
    formats.push_back(Format);
  };
  const bool image = Data->hasImage();
  for (const QString& format : Data->formats()) {
    if (image && (format == kImageMime || format.startsWith(QLatin1String("image/")))) {
      add(CF_BITMAP);
      add(CF_DIB);
    } else if (format == kPaletteMime) {
      add(CF_PALETTE);
    } else if (format.startsWith(kFormatMimePrefix)) {
      const QByteArray name = format.mid(kFormatMimePrefix.size()).toUtf8();
      if (name.isEmpty() || name.size() > 255) continue;
      if (UINT id = RegisterClipboardFormatA(name.constData())) add(id);
    }
  }
  if (image) {
    add(CF_BITMAP);
    add(CF_DIB);
  }
  return formats;
}

bool HasData(const QMimeData* Data, UINT Format) {
  if (!Data) return false;
  switch (Format) {
    case CF_BITMAP:
    case CF_DIB: return Data->hasImage();
    case CF_PALETTE: return Data->hasFormat(kPaletteMime);
    default: {
      const std::string name = FormatName(Format);
      return !name.empty() && Data->hasFormat(PrivateMime(name));
    }
  }
}

}  // namespace

BOOL OpenClipboard(HWND /*hWndNewOwner*/) {
  State& s = S();
  if (!UiClipboard() || s.Open) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  s.Open = true;
  return TRUE;
}

BOOL CloseClipboard() {
  State& s = S();
  if (!s.Open || !UiClipboard()) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  s.Open = false;
  return TRUE;
}

BOOL EmptyClipboard() {
  State& s = S();
  QClipboard* clipboard = UiClipboard();
  if (!clipboard || !s.Open) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  clipboard->setMimeData(new QMimeData);
  DropRetrieved();
  return TRUE;
}

HANDLE SetClipboardData(UINT uFormat, HANDLE hMem) {
  State& s = S();
  QClipboard* clipboard = UiClipboard();
  if (!clipboard || !s.Open) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  if (!hMem) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto next = std::make_unique<QMimeData>();
  CopyMimeData(clipboard->mimeData(), next.get());
  switch (uFormat) {
    case CF_BITMAP:
    case CF_DIB: {
      const QImage image = uFormat == CF_BITMAP ? ImageOfBitmap(static_cast<HBITMAP>(hMem)) : ImageOfDib(hMem);
      if (image.isNull()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      next->setImageData(image);
      break;
    }
    case CF_PALETTE: {
      const QByteArray bytes = PaletteBytes(static_cast<HPALETTE>(hMem));
      if (bytes.isEmpty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      next->setData(kPaletteMime, bytes);
      break;
    }
    default: {
      const std::string name = FormatName(uFormat);
      if (name.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      QByteArray bytes;
      if (!BlockBytes(hMem, bytes)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      next->setData(PrivateMime(name), bytes);
      break;
    }
  }
  // A handle that came from the clipboard itself is freed once, below.
  for (auto it = s.Retrieved.begin(); it != s.Retrieved.end();)
    it = it->second == hMem ? s.Retrieved.erase(it) : std::next(it);
  clipboard->setMimeData(next.release());
  DropRetrieved();
  // What was placed lives on Qt's clipboard now.
  FreeData(uFormat, hMem);
  return hMem;
}

HANDLE GetClipboardData(UINT uFormat) {
  State& s = S();
  QClipboard* clipboard = UiClipboard();
  if (!clipboard || !s.Open) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  if (auto it = s.Retrieved.find(uFormat); it != s.Retrieved.end()) return it->second;
  const QMimeData* data = clipboard->mimeData();
  if (!HasData(data, uFormat)) return nullptr;
  HANDLE handle = nullptr;
  switch (uFormat) {
    case CF_BITMAP: handle = BitmapOfImage(qvariant_cast<QImage>(data->imageData())); break;
    case CF_DIB: handle = DibOfImage(qvariant_cast<QImage>(data->imageData())); break;
    case CF_PALETTE: handle = PaletteOfBytes(data->data(kPaletteMime)); break;
    default: handle = BlockOfBytes(data->data(PrivateMime(FormatName(uFormat)))); break;
  }
  if (handle) s.Retrieved[uFormat] = handle;
  return handle;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  QClipboard* clipboard = UiClipboard();
  return clipboard && HasData(clipboard->mimeData(), format) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------------------------
// TClipboard

TClipboard::~TClipboard() = default;

void TClipboard::Open() {
  if (FOpenRefCount == 0) {
    if (!OpenClipboard(nullptr)) throw Exception("Cannot open clipboard");
    FEmptied = false;
  }
  ++FOpenRefCount;
}

void TClipboard::Close() {
  if (FOpenRefCount == 0) return;
  if (--FOpenRefCount == 0) {
    CloseClipboard();
    FEmptied = false;
  }
}

void TClipboard::Clear() {
  Open();
  EmptyClipboard();
  Close();
}

bool TClipboard::HasFormat(WORD Format) const { return IsClipboardFormatAvailable(Format) != FALSE; }

HANDLE TClipboard::GetAsHandle(WORD Format) {
  Open();
  HANDLE data = GetClipboardData(Format);
  Close();
  return data;
}

void TClipboard::Adding() {
  if (FOpenRefCount != 0 && !FEmptied) {
    Clear();
    FEmptied = true;
  }
}

void TClipboard::Place(UINT Format, HANDLE Data) {
  if (!SetClipboardData(Format, Data)) throw Exception("Cannot put the data on the clipboard");
}

void TClipboard::SetAsHandle(WORD Format, HANDLE Value) {
  Open();
  try {
    Adding();
    Place(Format, Value);
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TClipboard::Assign(TPersistent* Source) {
  TGraphic* graphic = dynamic_cast<TGraphic*>(Source);
  if (auto* picture = dynamic_cast<TPicture*>(Source)) {
    graphic = picture->Graphic();
    if (!graphic) {
      Clear();
      return;
    }
  }
  if (!graphic) {
    TPersistent::Assign(Source);
    return;
  }
  Open();
  try {
    Adding();
    WORD format = 0;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    graphic->SaveToClipboardFormat(format, data, palette);
    if (data) {
      try {
        Place(format, data);
      } catch (...) {
        FreeData(format, data);
        if (palette) DeleteObject(palette);
        throw;
      }
    }
    if (palette) {
      try {
        Place(CF_PALETTE, palette);
      } catch (...) {
        DeleteObject(palette);
        throw;
      }
    }
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TClipboard::AssignTo(TPersistent* Dest) {
  auto* picture = dynamic_cast<TPicture*>(Dest);
  auto* graphic = dynamic_cast<TGraphic*>(Dest);
  if (!picture && !graphic) {
    TPersistent::AssignTo(Dest);
    return;
  }
  Open();
  try {
    QClipboard* clipboard = UiClipboard();
    const std::vector<UINT> formats = AvailableFormats(clipboard ? clipboard->mimeData() : nullptr);
    auto available = [&](UINT Format) {
      for (UINT f : formats)
        if (f == Format) return true;
      return false;
    };
    UINT chosen = 0;
    if (picture || !dynamic_cast<TBitmap*>(graphic)) {
      for (UINT f : formats) {
        if ((picture || f >= 0xC000) && TPicture::SupportsClipboardFormat(static_cast<WORD>(f))) {
          chosen = f;
          break;
        }
      }
    }
    if (!chosen && graphic && available(CF_BITMAP)) chosen = CF_BITMAP;
    HANDLE data = chosen ? GetClipboardData(chosen) : nullptr;
    if (!data) throw EInvalidGraphic("Unsupported clipboard format");
    auto palette = static_cast<HPALETTE>(available(CF_PALETTE) ? GetClipboardData(CF_PALETTE) : nullptr);
    if (picture)
      picture->LoadFromClipboardFormat(static_cast<WORD>(chosen), data, palette);
    else
      graphic->LoadFromClipboardFormat(static_cast<WORD>(chosen), data, palette);
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

TClipboard* Clipboard() {
  static TClipboard clipboard;
  return &clipboard;
}
