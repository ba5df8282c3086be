// Row access to bitmaps: reader conversion, writer layout, colour table, commit and release.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gif/GIFImage.h"

namespace {

HPALETTE MakePalette(int Count) {
  std::vector<std::uint8_t> Block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<std::size_t>(Count));
  auto* Pal = reinterpret_cast<LOGPALETTE*>(Block.data());
  Pal->palVersion = 0x300;
  Pal->palNumEntries = static_cast<WORD>(Count);
  for (int i = 0; i < Count; ++i)
    Pal->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(i), static_cast<BYTE>(i + 1), static_cast<BYTE>(i + 2), 0};
  return CreatePalette(Pal);
}

}  // namespace

TEST(GifDib, WriterArguments) {
  TBitmap B;
  try {
    gif::TDIBWriter W(&B, pf4bit, 0, 5, nullptr);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Unsupported PixelFormat");  // the format is checked first
  }
  try {
    gif::TDIBWriter W(&B, pf8bit, 3, 0, nullptr);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Invalid image dimensions");
  }
  // A writer whose rows are never asked for allocates nothing and leaves the bitmap alone.
  B.SetWidth(2);
  B.SetHeight(2);
  {
    gif::TDIBWriter W(&B, pf24bit, 5, 5, nullptr);
    EXPECT_EQ(W.InfoHeader(), nullptr);
  }
  EXPECT_EQ(B.Width(), 2);
}

// A picture larger than a memory block may be (65535 x 65535 at 24 bits: 12 GiB) is refused
// when its rows are first asked for; nothing stays allocated and the bitmap is untouched.
TEST(GifDib, OversizedPictureIsRefused) {
  TBitmap B;
  B.SetWidth(3);
  B.SetHeight(2);
  gif::TDIBWriter W(&B, pf24bit, 65535, 65535, nullptr);
  try {
    W.GetScanline(0);
    FAIL();
  } catch (const EOutOfMemory& E) {
    EXPECT_EQ(E.Message(), "Failed to allocate memory for GIF DIB");
  }
  EXPECT_EQ(W.InfoHeader(), nullptr);
  W.UpdateBitmap();
  EXPECT_EQ(B.Width(), 3);
  EXPECT_EQ(B.Height(), 2);
}

TEST(GifDib, EightBitColorTable) {
  TBitmap B;
  HPALETTE Pal = MakePalette(16);
  gif::TDIBWriter W(&B, pf8bit, 5, 3, Pal);
  auto* Row0 = static_cast<std::uint8_t*>(W.GetScanline(0));
  ASSERT_NE(W.InfoHeader(), nullptr);
  EXPECT_EQ(W.InfoHeader()->biBitCount, 8);
  EXPECT_EQ(W.InfoHeader()->biClrUsed, 256u);
  EXPECT_EQ(W.InfoHeader()->biClrImportant, 16u);
  EXPECT_EQ(W.InfoHeader()->biHeight, 3);
  const RGBQUAD* T = W.ColorTable();
  EXPECT_EQ(T[15].rgbRed, 15);
  EXPECT_EQ(T[15].rgbGreen, 16);
  EXPECT_EQ(T[15].rgbBlue, 17);
  for (int i = 16; i < 256; ++i) EXPECT_EQ(T[i].rgbRed | T[i].rgbGreen | T[i].rgbBlue | T[i].rgbReserved, 0) << i;
  // Rows are 8 bytes (5 padded), stored bottom-up, and start zeroed.
  auto* Row1 = static_cast<std::uint8_t*>(W.GetScanline(1));
  EXPECT_EQ(Row0 - Row1, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Row1[i], 0);
  std::memset(Row0, 7, 5);
  W.UpdateBitmap();
  DeleteObject(Pal);
  EXPECT_EQ(B.Width(), 5);
  EXPECT_EQ(B.Height(), 3);
  EXPECT_EQ(B.PixelFormat(), pf8bit);
  EXPECT_EQ(static_cast<std::uint8_t*>(B.ScanLine(0))[4], 7);
  EXPECT_EQ(static_cast<std::uint8_t*>(B.ScanLine(1))[4], 0);
  // No palette: an all-zero table.
  TBitmap C;
  gif::TDIBWriter Plain(&C, pf8bit, 2, 2, nullptr);
  Plain.GetScanline(0);
  EXPECT_EQ(Plain.InfoHeader()->biClrImportant, 0u);
  EXPECT_EQ(Plain.ColorTable()[0].rgbRed, 0);
}

TEST(GifDib, LargePalettesAreClampedTo256) {
  TBitmap B;
  HPALETTE Pal = MakePalette(300);
  gif::TDIBWriter W(&B, pf8bit, 4, 4, Pal);
  W.GetScanline(3);
  EXPECT_EQ(W.InfoHeader()->biClrImportant, 256u);
  EXPECT_EQ(W.ColorTable()[255].rgbRed, 255);
  DeleteObject(Pal);
}

TEST(GifDib, TwentyFourBitRows) {
  TBitmap B;
  gif::TDIBWriter W(&B, pf24bit, 3, 2, nullptr);
  auto* Row0 = static_cast<std::uint8_t*>(W.GetScanline(0));
  auto* Row1 = static_cast<std::uint8_t*>(W.GetScanline(1));
  EXPECT_EQ(Row0 - Row1, 12);  // row 0 is the last in memory
  EXPECT_EQ(W.InfoHeader()->biClrUsed, 0u);
  EXPECT_THROW(W.GetScanline(2), EInvalidGraphicOperation);
  try {
    W.GetScanline(-1);
  } catch (const EInvalidGraphicOperation& E) {
    EXPECT_EQ(E.Message(), "Scan line index out of range");
  }
  Row0[0] = 10;  // blue
  Row0[1] = 20;  // green
  Row0[2] = 30;  // red
  W.UpdateBitmap();
  EXPECT_EQ(B.PixelFormat(), pf24bit);
  EXPECT_EQ(B.Canvas()->Pixels(0, 0), 0x0A141E);
}

TEST(GifDib, AbandonedWriterLeavesTheBitmap) {
  TBitmap B;
  B.SetWidth(1);
  B.SetHeight(1);
  try {
    gif::TDIBWriter W(&B, pf8bit, 9, 9, nullptr);
    W.GetScanline(0);
    throw std::runtime_error("renderer failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(B.Width(), 1);
}

TEST(GifDib, ReaderConvertsTheBitmap) {
  TBitmap B;
  B.SetPixelFormat(pf8bit);
  B.SetWidth(4);
  B.SetHeight(2);
  EXPECT_EQ(gif::GetBitmapPixelFormat(&B), pf8bit);
  {
    gif::TDIBReader R(&B, pf24bit);
    EXPECT_EQ(R.GetScanline(1), B.ScanLine(1));
  }
  EXPECT_EQ(B.PixelFormat(), pf24bit);
  gif::SetBitmapPixelFormat(&B, pf8bit);
  EXPECT_EQ(B.PixelFormat(), pf8bit);
}
