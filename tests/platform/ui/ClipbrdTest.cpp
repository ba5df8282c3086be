// The clipboard over Qt's (offscreen) clipboard: opening rules, bitmaps, DIBs, palettes and
// registered formats placed and read back, handle ownership, other content left alone, and the
// Clipboard object's graphic exchange.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/graphics/Graphics.h"
#include "platform/ui/Clipbrd.h"
#include "support/QtTestSupport.h"

namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new qttest::QtEnvironment);

// A 24-bit bitmap of W x H: four quadrants of different colours.
void Paint(TBitmap& Bitmap, int W, int H) {
  Bitmap.SetPixelFormat(pf24bit);
  Bitmap.SetWidth(W);
  Bitmap.SetHeight(H);
  TCanvas* c = Bitmap.Canvas();
  const TColor colours[4] = {clRed, clLime, clBlue, static_cast<TColor>(0x336699)};
  for (int q = 0; q < 4; ++q) {
    c->Brush()->SetColor(colours[q]);
    const int x = q % 2 ? W / 2 : 0, y = q / 2 ? H / 2 : 0;
    c->FillRect(TRect{x, y, q % 2 ? W : W / 2, q / 2 ? H : H / 2});
  }
}

void ExpectSamePixels(TBitmap& A, TBitmap& B) {
  ASSERT_EQ(A.Width(), B.Width());
  ASSERT_EQ(A.Height(), B.Height());
  for (int y = 0; y < A.Height(); ++y)
    for (int x = 0; x < A.Width(); ++x)
      ASSERT_EQ(A.Canvas()->Pixels(x, y), B.Canvas()->Pixels(x, y)) << x << "," << y;
}

HGLOBAL Block(const std::vector<BYTE>& Bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, Bytes.size());
  if (!Bytes.empty()) std::memcpy(GlobalLock(block), Bytes.data(), Bytes.size());
  GlobalUnlock(block);
  return block;
}

std::vector<BYTE> BytesOf(HGLOBAL Block) {
  const auto* p = static_cast<const BYTE*>(GlobalLock(Block));
  std::vector<BYTE> bytes(p, p + GlobalSize(Block));
  GlobalUnlock(Block);
  return bytes;
}

class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override { QGuiApplication::clipboard()->clear(); }
  // A failed case must not leave the clipboard open for the next.
  void TearDown() override { CloseClipboard(); }
  UINT Gif = RegisterClipboardFormat("GIF Image");
};

TEST_F(ClipboardTest, OpensOnceAndOnlyOnTheApplicationsThread) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_FALSE(OpenClipboard(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CloseClipboard());
  EXPECT_FALSE(CloseClipboard());
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);

  // Closed, nothing is placed, read or emptied; whether a format is there can be asked.
  HGLOBAL block = Block({1, 2, 3});
  EXPECT_EQ(SetClipboardData(Gif, block), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  EXPECT_EQ(GlobalSize(block), 3u);  // still the caller's
  EXPECT_EQ(GetClipboardData(Gif), nullptr);
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_FALSE(IsClipboardFormatAvailable(Gif));

  // Another thread has no clipboard.
  BOOL opened = TRUE, available = TRUE;
  std::thread([&] {
    opened = OpenClipboard(nullptr);
    available = IsClipboardFormatAvailable(CF_BITMAP);
  }).join();
  EXPECT_FALSE(opened);
  EXPECT_FALSE(available);
  GlobalFree(block);
}

TEST_F(ClipboardTest, BitmapRoundTripThroughQtImage) {
  TBitmap source;
  Paint(source, 37, 21);
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  source.SaveToClipboardFormat(format, data, palette);
  ASSERT_EQ(format, CF_BITMAP);
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_EQ(SetClipboardData(CF_BITMAP, data), data);
  // The clipboard owns (and has already turned into Qt's image) what it took.
  EXPECT_EQ(GetObjectType(data), 0u);
  ASSERT_TRUE(CloseClipboard());

  const QImage image = QGuiApplication::clipboard()->image();
  ASSERT_EQ(image.size(), QSize(37, 21));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 0, 0));
  EXPECT_EQ(image.pixelColor(36, 20), QColor(0x99, 0x66, 0x33));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_DIB));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_PALETTE));

  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE back = GetClipboardData(CF_BITMAP);
  ASSERT_NE(back, nullptr);
  // The same handle until the content changes.
  EXPECT_EQ(GetClipboardData(CF_BITMAP), back);
  TBitmap copy;
  copy.LoadFromClipboardFormat(CF_BITMAP, back, nullptr);
  ExpectSamePixels(source, copy);
  ASSERT_TRUE(CloseClipboard());
  EXPECT_EQ(GetObjectType(back), static_cast<DWORD>(OBJ_BITMAP));

  // New content drops the handles made of the old one.
  QGuiApplication::clipboard()->setText("text");
  EXPECT_EQ(GetObjectType(back), 0u);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_BITMAP));
}

TEST_F(ClipboardTest, DibInBothDirections) {
  // A 2 x 2 8-bit DIB, bottom row first, with a four-colour table.
  std::vector<BYTE> dib(sizeof(BITMAPINFOHEADER) + 4 * 4 + 2 * 4);
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = 2;
  h.biHeight = 2;
  h.biPlanes = 1;
  h.biBitCount = 8;
  h.biClrUsed = 4;
  std::memcpy(dib.data(), &h, sizeof h);
  const BYTE table[16] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};  // red green blue white
  std::memcpy(dib.data() + sizeof h, table, sizeof table);
  BYTE* bits = dib.data() + sizeof h + sizeof table;
  bits[0] = 0, bits[1] = 1;  // bottom row: red, green
  bits[4] = 2, bits[5] = 3;  // top row: blue, white

  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  HGLOBAL block = Block(dib);
  EXPECT_EQ(SetClipboardData(CF_DIB, block), block);
  ASSERT_TRUE(CloseClipboard());
  const QImage image = QGuiApplication::clipboard()->image();
  ASSERT_EQ(image.size(), QSize(2, 2));
  EXPECT_EQ(image.pixelColor(0, 1), QColor(255, 0, 0));
  EXPECT_EQ(image.pixelColor(1, 1), QColor(0, 255, 0));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(0, 0, 255));
  EXPECT_EQ(image.pixelColor(1, 0), QColor(255, 255, 255));

  // Read as a DIB: a packed 32-bit one, bottom row first.
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE packed = GetClipboardData(CF_DIB);
  ASSERT_NE(packed, nullptr);
  const std::vector<BYTE> out = BytesOf(packed);
  ASSERT_EQ(out.size(), sizeof(BITMAPINFOHEADER) + 16);
  BITMAPINFOHEADER oh;
  std::memcpy(&oh, out.data(), sizeof oh);
  EXPECT_EQ(oh.biWidth, 2);
  EXPECT_EQ(oh.biHeight, 2);
  EXPECT_EQ(oh.biBitCount, 32);
  const BYTE* px = out.data() + sizeof oh;
  EXPECT_EQ((std::vector<BYTE>(px, px + 3)), (std::vector<BYTE>{0, 0, 255}));       // red, bottom left
  EXPECT_EQ((std::vector<BYTE>(px + 12, px + 15)), (std::vector<BYTE>{255, 255, 255}));  // white, top right
  ASSERT_TRUE(CloseClipboard());
}

TEST_F(ClipboardTest, DamagedDibsAreRefusedAndStayTheCallers) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = 100;
  h.biHeight = 100;
  h.biPlanes = 1;
  h.biBitCount = 24;
  auto dib = [&](std::size_t Extra) {
    std::vector<BYTE> bytes(sizeof h + Extra);
    std::memcpy(bytes.data(), &h, sizeof h);
    return bytes;
  };
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  std::vector<std::vector<BYTE>> cases;
  cases.push_back(dib(100 * 300 - 1));  // bits cut short
  h.biWidth = 0x7FFFFFFF;
  h.biHeight = -0x7FFFFFFF;
  cases.push_back(dib(16));  // a huge picture in a small block
  h.biWidth = 2, h.biHeight = 2, h.biBitCount = 8, h.biClrUsed = 0x7FFFFFFF;
  cases.push_back(dib(16));  // a colour table larger than the block
  h.biClrUsed = 0, h.biCompression = BI_RLE8;
  cases.push_back(dib(1024));  // compressed
  h.biCompression = BI_RGB, h.biSize = 0xFFFFFF00;
  cases.push_back(dib(1024));  // header longer than the block
  cases.push_back({1, 2, 3});  // not even a header
  for (const auto& bytes : cases) {
    HGLOBAL block = Block(bytes);
    EXPECT_EQ(SetClipboardData(CF_DIB, block), nullptr);
    EXPECT_EQ(GlobalSize(block), bytes.size());
    GlobalFree(block);
  }
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
  ASSERT_TRUE(CloseClipboard());
}

TEST_F(ClipboardTest, PaletteAndRegisteredFormatsKeepTheirBytes) {
  std::vector<std::uint32_t> storage(1 + 3);
  auto* lp = reinterpret_cast<LOGPALETTE*>(storage.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 3;
  lp->palPalEntry[0] = {10, 20, 30, 0};
  lp->palPalEntry[1] = {40, 50, 60, 0};
  lp->palPalEntry[2] = {70, 80, 90, 0};
  HPALETTE palette = CreatePalette(lp);
  const std::vector<BYTE> gif = {'G', 'I', 'F', '8', '9', 'a', 0, 0xFF, 0x3B};

  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  HGLOBAL block = Block(gif);
  EXPECT_EQ(SetClipboardData(Gif, block), block);
  EXPECT_EQ(SetClipboardData(CF_PALETTE, palette), palette);
  EXPECT_EQ(GetObjectType(palette), 0u);
  // Standard formats the clipboard does not keep, unregistered numbers and dead handles fail.
  HGLOBAL text = Block({'a', 0});
  EXPECT_EQ(SetClipboardData(CF_TEXT, text), nullptr);
  EXPECT_EQ(SetClipboardData(0xBFFF, text), nullptr);
  EXPECT_EQ(SetClipboardData(CF_PALETTE, text), nullptr);
  EXPECT_EQ(SetClipboardData(Gif, nullptr), nullptr);
  GlobalFree(text);
  ASSERT_TRUE(CloseClipboard());

  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(mime);
  EXPECT_EQ(mime->data("application/x-kelv-clipboard;format=GIF Image"),
            QByteArray(reinterpret_cast<const char*>(gif.data()), static_cast<qsizetype>(gif.size())));

  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE back = GetClipboardData(Gif);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(BytesOf(back), gif);
  auto pal = static_cast<HPALETTE>(GetClipboardData(CF_PALETTE));
  ASSERT_NE(pal, nullptr);
  PALETTEENTRY entries[3];
  ASSERT_EQ(GetPaletteEntries(pal, 0, 3, entries), 3u);
  EXPECT_EQ(entries[2].peRed, 70);
  EXPECT_EQ(entries[2].peBlue, 90);
  EXPECT_EQ(GetClipboardData(CF_BITMAP), nullptr);
  ASSERT_TRUE(CloseClipboard());
}

TEST_F(ClipboardTest, AddingWithoutEmptyingKeepsTheOtherFormats) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  SetClipboardData(Gif, Block({1}));
  ASSERT_TRUE(CloseClipboard());

  TBitmap bitmap;
  Paint(bitmap, 4, 4);
  WORD format;
  HANDLE data;
  HPALETTE palette;
  bitmap.SaveToClipboardFormat(format, data, palette);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(SetClipboardData(CF_BITMAP, data));
  // The same format again replaces its data.
  EXPECT_TRUE(SetClipboardData(Gif, Block({2, 3})));
  ASSERT_TRUE(CloseClipboard());
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP));
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_EQ(BytesOf(GetClipboardData(Gif)), (std::vector<BYTE>{2, 3}));
  // Emptying removes everything.
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_FALSE(IsClipboardFormatAvailable(Gif));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_BITMAP));
  ASSERT_TRUE(CloseClipboard());
}

TEST_F(ClipboardTest, TextOfOtherCopiesIsLeftAlone) {
  QGuiApplication::clipboard()->setText(QString::fromUtf8("Каталожни номера"));
  for (UINT f : {CF_BITMAP, CF_DIB, CF_PALETTE, Gif}) EXPECT_FALSE(IsClipboardFormatAvailable(f)) << f;
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_EQ(GetClipboardData(CF_BITMAP), nullptr);
  // Adding a format keeps the text.
  EXPECT_TRUE(SetClipboardData(Gif, Block({7})));
  ASSERT_TRUE(CloseClipboard());
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("Каталожни номера"));
  EXPECT_TRUE(IsClipboardFormatAvailable(Gif));
  // Text copied afterwards replaces the formats.
  QGuiApplication::clipboard()->setText("FO.16.01");
  EXPECT_FALSE(IsClipboardFormatAvailable(Gif));
}

TEST_F(ClipboardTest, ClipboardObjectNestsAndExchangesGraphics) {
  TClipboard* clipboard = Clipboard();
  clipboard->Open();
  clipboard->Open();
  // The system clipboard is taken until the outermost Close.
  EXPECT_FALSE(OpenClipboard(nullptr));
  clipboard->Close();
  EXPECT_FALSE(OpenClipboard(nullptr));
  clipboard->Close();
  ASSERT_TRUE(OpenClipboard(nullptr));
  try {
    clipboard->Open();
    ADD_FAILURE() << "opened twice";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot open clipboard");
  }
  ASSERT_TRUE(CloseClipboard());

  TBitmap bitmap;
  Paint(bitmap, 16, 10);
  clipboard->Assign(&bitmap);
  EXPECT_TRUE(clipboard->HasFormat(CF_BITMAP));
  TPicture picture;
  picture.Assign(clipboard);
  ASSERT_TRUE(picture.Graphic());
  EXPECT_EQ(picture.Graphic()->ClassName(), "TBitmap");
  ExpectSamePixels(bitmap, *picture.Bitmap());
  TBitmap copy;
  copy.Assign(clipboard);
  ExpectSamePixels(bitmap, copy);

  // SetAsHandle empties first; a handle it refuses stays the caller's.
  HGLOBAL block = Block({5, 6});
  clipboard->SetAsHandle(static_cast<WORD>(Gif), block);
  EXPECT_FALSE(clipboard->HasFormat(CF_BITMAP));
  EXPECT_EQ(BytesOf(clipboard->GetAsHandle(static_cast<WORD>(Gif))), (std::vector<BYTE>{5, 6}));
  HGLOBAL refused = Block({1});
  EXPECT_THROW(clipboard->SetAsHandle(CF_TEXT, refused), Exception);
  EXPECT_EQ(GlobalSize(refused), 1u);
  GlobalFree(refused);
  // No format a picture reads.
  TPicture none;
  try {
    none.Assign(clipboard);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unsupported clipboard format");
  }
  // An empty picture empties the clipboard.
  TPicture empty;
  clipboard->Assign(&empty);
  EXPECT_FALSE(clipboard->HasFormat(static_cast<WORD>(Gif)));
  EXPECT_THROW(clipboard->Assign(static_cast<TPersistent*>(nullptr)), EConvertError);
}

}  // namespace
