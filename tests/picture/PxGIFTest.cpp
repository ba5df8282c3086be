#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "picture/PxAni.h"
#include "picture/PxGIF.h"
#include "picture/PxGraphUtils.h"
#include "support/TestSupport.h"
#include "tests/picture/PxGifTestSupport.h"

using namespace px;
using namespace pxtest;

namespace {

// A 4 x 2 frame of index 1 with a 2-bit global table.
GifBuilder Simple() { return std::move(GifBuilder().Screen(4, 2, 2)); }
const Bytes kPixels = Flat(2, 1, 8);

void Load(TPxGIFImage& Image, const Bytes& File, bool DecodeFirst = true) {
  TMemoryStream s;
  PutBytes(&s, File);
  s.SetPosition(0);
  Image.DecodeStream(s.Size(), &s, DecodeFirst);
}

Bytes Save(TPxGIFImage& Image) {
  TMemoryStream s;
  Image.SaveToStream(&s);
  return StreamBytes(&s);
}

std::string Message(const std::function<void()>& F) {
  try {
    F();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::size_t Find(const Bytes& In, const Bytes& What, std::size_t From = 0) {
  auto it = std::search(In.begin() + static_cast<std::ptrdiff_t>(From), In.end(), What.begin(), What.end());
  return it == In.end() ? std::string::npos : static_cast<std::size_t>(it - In.begin());
}

// The splash window's stored picture: class name, 32-bit count, GIF89a.
Bytes StoredSplash() { return testsupport::ReadFile(testsupport::SourceDir() / "app/uSplash.Image1.picture"); }

}  // namespace

TEST(PxGifReader, SignatureAndVersion) {
  TPxGIFImage image;
  Load(image, GifBuilder("gif87A").Screen(4, 2, 2).Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_EQ(image.GifVersion, 1);
  EXPECT_EQ(image.FrameCount(), 1);
  EXPECT_EQ(image.CurrentFrame, 0);
  EXPECT_EQ(image.Width(), 4);
  EXPECT_EQ(Message([&] { Load(image, GifBuilder("GIF88a").Screen(4, 2).Trailer().File()); }), "Unknown GIF version");
  EXPECT_EQ(Message([&] { Load(image, GifBuilder("GIX89a").Screen(4, 2).Trailer().File()); }), "Unknown GIF version");
  EXPECT_THROW(Load(image, Bytes{'G', 'I', 'F', '8'}), EReadError);
  EXPECT_EQ(image.FrameCount(), 0);
}

TEST(PxGifReader, ScreenAndBackground) {
  TPxGIFImage image;
  Load(image, GifBuilder().Screen(9, 7, 2, 3, 49).Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_EQ(image.LogicalWidth, 9);
  EXPECT_EQ(image.LogicalHeight, 7);
  EXPECT_EQ(image.GifData->AspectByte, 49);
  EXPECT_EQ(image.GifData->TableBits, 2);
  EXPECT_EQ(image.GifData->ColorResolution, 8);
  EXPECT_EQ(image.GifData->GlobalTable.Count, 4);
  EXPECT_EQ(image.BackColor, image.GifData->GlobalTable.ColorAt(3));
  Load(image, GifBuilder().Screen(9, 7, 2, 4).Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_EQ(image.BackColor, clNone);  // index beyond the table
}

TEST(PxGifReader, OnlyATrailer) {
  TPxGIFImage image;
  Load(image, Simple().Trailer().File());
  EXPECT_EQ(image.FrameCount(), 0);
  EXPECT_TRUE(image.Empty());
  EXPECT_EQ(Message([&] { Save(image); }), "No GIF Data to write");
}

TEST(PxGifReader, StrayBytes) {
  TPxGIFImage image;
  // After a frame: reading ends quietly.
  Load(image, Simple().Image(0, 0, 4, 2, kPixels).Raw({0x55, 0x66}).Trailer().File());
  EXPECT_EQ(image.FrameCount(), 1);
  // Right after the colour tables, or after a run of extensions: an error.
  EXPECT_EQ(Message([&] { Load(image, Simple().Raw({0x55}).Image(0, 0, 4, 2, kPixels).Trailer().File()); }),
            "Stream read error");
  EXPECT_EQ(Message([&] { Load(image, Simple().Control(1).Raw({0x55}).Image(0, 0, 4, 2, kPixels).Trailer().File()); }),
            "Stream read error");
  // Unless the byte is the last of the data.
  Load(image, Simple().Raw({0x55}).File());
  EXPECT_EQ(image.FrameCount(), 0);
  EXPECT_EQ(Message([&] { Load(image, Simple().Raw({0x21, 0x2A, 0}).File()); }), "Unrecognized extension block: 2a");
}

TEST(PxGifReader, CommentsBelongToFramesOrTheImage) {
  TPxGIFImage image;
  Load(image, Simple()
                  .Comment({"frame"})
                  .Image(0, 0, 4, 2, kPixels)
                  .Comment({"one", "two"})
                  .Comment({"three"})
                  .Trailer()
                  .File());
  ASSERT_EQ(image.FrameCount(), 1);
  TStringList* frameComment = image.FrameAt(0)->CommentExtension(false);
  ASSERT_NE(frameComment, nullptr);
  EXPECT_EQ(frameComment->Text(), "frame\r\n");
  EXPECT_EQ(image.GifData->ImageComment.Count(), 4);
  EXPECT_EQ(image.GifData->ImageComment.Get(2), "\r\n\r\n");
  EXPECT_EQ(image.GifData->ImageComment.Get(3), "three");
  // Written in front of the frame, and after all frames just before the trailer.
  const Bytes out = Save(image);
  const std::size_t frame = Find(out, {0x21, 0xFE, 5, 'f'});
  const std::size_t descriptor = Find(out, {',', 0, 0, 0, 0, 4, 0, 2, 0});
  const std::size_t trailing = Find(out, {0x21, 0xFE, 3, 'o', 'n', 'e'});
  ASSERT_NE(frame, std::string::npos);
  ASSERT_NE(trailing, std::string::npos);
  EXPECT_LT(frame, descriptor);
  EXPECT_GT(trailing, descriptor);
  EXPECT_EQ(out.back(), ';');
  EXPECT_EQ(out[out.size() - 2], 0);
  EXPECT_EQ(std::string(out.begin() + 3, out.begin() + 6), "89a");
  // A second run after the comment is not added.
  Load(image, Simple().Image(0, 0, 4, 2, kPixels).Comment({"a"}).File());
  EXPECT_EQ(image.GifData->ImageComment.Text(), "a\r\n");
}

TEST(PxGifReader, PlainTextAndApplicationBlocks) {
  TPxGIFImage image;
  Load(image, Simple()
                  .Control(3)
                  .Comment({"gone"})
                  .PlainText("hi")
                  .Comment({"kept"})
                  .Application("XMP DataXMP", {1, 2, 3})
                  .Image(0, 0, 4, 2, kPixels)
                  .Trailer()
                  .File());
  TPxGIFFrame* f = image.FrameAt(0);
  ASSERT_EQ(f->ExtensionList.size(), 1u);
  EXPECT_EQ(f->ExtensionList[0]->Kind, gekComment);
  EXPECT_EQ(f->DelayMs, 0);
  const Bytes out = Save(image);
  EXPECT_EQ(Find(out, {0x21, 0x01}), std::string::npos);
  EXPECT_EQ(Find(out, {0x21, 0xFF}), std::string::npos);
  EXPECT_NE(Find(out, {0x21, 0xFE, 4, 'k'}), std::string::npos);
}

TEST(PxGifReader, LoopBlocks) {
  TPxGIFImage image;
  Load(image, Simple().Loop(40000).Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_TRUE(image.LoopAnimation);
  EXPECT_EQ(image.LoopCount, 30000);
  EXPECT_EQ(Find(Save(image), {0x21, 0xFF}), std::string::npos);  // one frame: not written
  Load(image, Simple().Loop(0, "ANIMEXTS1.0").Image(0, 0, 4, 2, kPixels).Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_TRUE(image.LoopAnimation);
  EXPECT_EQ(image.LoopCount, 0);
  const Bytes out = Save(image);
  Bytes loop = {0x21, 0xFF, 0x0B};
  AppendText(loop, "NETSCAPE2.0");
  loop.insert(loop.end(), {3, 1, 0, 0, 0});
  EXPECT_NE(Find(out, loop), std::string::npos);
  // Not a loop block: a first data byte other than 1.
  Load(image, Simple().Application("NETSCAPE2.0", {2, 5, 0}).Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_FALSE(image.LoopAnimation);
  // Nor a block whose size byte is not 11 (the 11 bytes after it are read all the same), nor
  // another identifier of the same length.
  Bytes zeroSize = {0x21, 0xFF, 0};
  AppendText(zeroSize, "XMP DataXMP");
  zeroSize.insert(zeroSize.end(), {3, 1, 5, 0, 0});
  for (const Bytes& block : {zeroSize, GifBuilder("").Application("NETSCAPE2.1", {1, 5, 0}).File(),
                             GifBuilder("").Application("NETSCAPE", {1, 5, 0}).File()}) {
    Load(image, Simple().Raw(block).Image(0, 0, 4, 2, kPixels).Image(0, 0, 4, 2, kPixels).Trailer().File());
    ASSERT_EQ(image.FrameCount(), 2);
    EXPECT_FALSE(image.LoopAnimation);
    EXPECT_EQ(Find(Save(image), {0x21, 0xFF}), std::string::npos);
  }
}

TEST(PxGifReader, TruncatedFrameStaysMarked) {
  TPxGIFImage image;
  Bytes file = Simple().Image(0, 0, 4, 2, kPixels).File();
  file.resize(file.size() - 3);
  Load(image, file);
  ASSERT_EQ(image.FrameCount(), 1);
  EXPECT_TRUE(image.FrameAt(0)->IsCorrupt);
  EXPECT_EQ(image.Width(), 4);
  // Written back with a terminator: a comment after it stays a comment.
  image.GifData->ImageComment.Add("after");
  TPxGIFImage back;
  Load(back, Save(image));
  EXPECT_EQ(back.FrameCount(), 1);
  EXPECT_EQ(back.GifData->ImageComment.Text(), "after\r\n");
  // Every cut of a small file: an error or an image, nothing else.
  const Bytes whole = Simple().Loop(2).Comment({"c"}).Control(4, 1).Image(0, 0, 4, 2, kPixels).Comment({"x"}).Trailer().File();
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    TPxGIFImage part;
    try {
      Load(part, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    } catch (const EReadError&) {
    } catch (const EInvalidGraphicOperation&) {
    }
  }
}

TEST(PxGifReader, FrameWithoutAnyTable) {
  TPxGIFImage image;
  const Bytes file = GifBuilder().Screen(4, 2).Image(0, 0, 4, 2, kPixels).Trailer().File();
  Load(image, file, false);
  ASSERT_EQ(image.FrameCount(), 1);
  EXPECT_EQ(image.FrameAt(0)->ItemData->TableBits, 0);
  EXPECT_EQ(Message([&] { image.FrameAt(0)->DecodedBitmap(); }), "Wrong number of colors; must be a power of 2");
  EXPECT_EQ(Message([&] { Load(image, file); }), "Wrong number of colors; must be a power of 2");
  EXPECT_EQ(image.FrameCount(), 0);
  // Behind a frame with a table it loads, and is written with a black two-entry table of its
  // own (no global table) or with the global one.
  const Bytes second = GifBuilder().Screen(4, 2).Image(0, 0, 4, 2, kPixels, 2).Image(0, 0, 4, 2, kPixels).Trailer().File();
  Load(image, second);
  ASSERT_EQ(image.FrameCount(), 2);
  TPxGIFImage back;
  Load(back, Save(image));
  ASSERT_EQ(back.FrameCount(), 2);
  EXPECT_TRUE(back.FrameAt(1)->HasLocalTable);
  EXPECT_EQ(back.FrameAt(1)->ItemData->ColorTable.Count, 2);
  EXPECT_EQ(back.FrameAt(1)->ItemData->ColorTable.ColorAt(1), clBlack);
  EXPECT_EQ(back.FrameAt(1)->DecodedBitmap()->Width(), 4);
  Load(image, second);
  TPxGIFImage global;
  Load(global, Simple().Image(0, 0, 4, 2, kPixels).Trailer().File());
  global.FrameList.push_back(std::make_unique<TPxGIFFrame>(&global));
  global.FrameList.back()->ItemData = image.FrameAt(1)->ItemData;
  Load(back, Save(global));
  ASSERT_EQ(back.FrameCount(), 2);
  EXPECT_FALSE(back.FrameAt(1)->HasLocalTable);
  EXPECT_EQ(back.FrameAt(1)->ItemData->ColorTable.Count, 4);
  EXPECT_EQ(image.FrameAt(1)->ItemData->ColorTable.Count, 0);  // the other owner's is untouched
}

TEST(PxGifReader, TransparentEntryMadeUnique) {
  // Entries 0 and 2 share (10, 20, 0) and entry 1 is (10, 20, 255): the transparent entry 2
  // climbs from blue 0 (going down from 0 turns upward) until it is unique: (10, 20, 1).
  TPxGIFImage image;
  // The builder's local table: make the duplicates by hand.
  Bytes file = GifBuilder().Screen(4, 2).Control(0, 2).File();
  file.insert(file.end(), {',', 0, 0, 0, 0, 4, 0, 2, 0, 0x81});
  file.insert(file.end(), {10, 20, 0, 10, 20, 255, 10, 20, 0, 1, 1, 1});
  file.insert(file.end(), kPixels.begin(), kPixels.end());
  file.push_back(';');
  Load(image, file);
  TPxGIFFrame* f = image.FrameAt(0);
  EXPECT_EQ(f->KeyColor, static_cast<TColor>(10 | 20 << 8 | 1 << 16));
  EXPECT_EQ(f->ItemData->ColorTable.Colors[2], (std::array<BYTE, 3>{10, 20, 1}));
  EXPECT_TRUE(image.Transparent());
  // The downward search: (10, 20, 7) duplicated goes to 6.
  file[file.size() - kPixels.size() - 1 - 12 + 2] = 7;
  file[file.size() - kPixels.size() - 1 - 12 + 8] = 7;
  Load(image, file);
  EXPECT_EQ(image.FrameAt(0)->ItemData->ColorTable.Colors[2][2], 6);
}

TEST(PxGifReader, SizesDelaysAndDisposal) {
  TPxGIFImage image;
  Load(image, GifBuilder().Screen(6, 5, 2).Control(5, -1, 2).Control(5, 3, 1).Image(1, 2, 0, 0, Flat(2, 1, 30)).Trailer().File());
  TPxGIFFrame* f = image.FrameAt(0);
  EXPECT_EQ(f->ItemData->ImageWidth, 6);  // 0 takes the logical screen's
  EXPECT_EQ(f->ItemData->ImageHeight, 5);
  EXPECT_EQ(f->OriginX, 1);
  EXPECT_EQ(f->OriginY, 2);
  EXPECT_EQ(f->DelayMs, 50);
  EXPECT_EQ(f->DisposalCode, 1);
  EXPECT_EQ(f->KeyColor, image.GifData->GlobalTable.ColorAt(3));
  const Bytes out = Save(image);
  // The last graphic control block carries the frame's settings: delay 5, disposal 1, index 3.
  EXPECT_NE(Find(out, {0x21, 0xF9, 4, 0x05, 5, 0, 3, 0}), std::string::npos);
}

TEST(PxGifReader, LongDelaysKeepTheirHundredths) {
  TPxGIFImage image;
  Load(image, Simple().Control(60000).Image(0, 0, 4, 2, kPixels).Control(65535).Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_EQ(image.FrameAt(0)->DelayMs, 600000u);
  const Bytes out = Save(image);
  EXPECT_NE(Find(out, {0x21, 0xF9, 4, 0, 0x60, 0xEA}), std::string::npos);  // 60000
  EXPECT_NE(Find(out, {0x21, 0xF9, 4, 0, 0xFF, 0xFF}), std::string::npos);  // 65535
}

TEST(PxGifReader, FrameWithoutPixels) {
  // Width 0 on a logical screen of width 0: an empty frame.
  TPxGIFImage image;
  Load(image, GifBuilder().Screen(0, 2, 2).Control(7).Image(0, 0, 0, 2, kPixels).Image(0, 0, 4, 2, kPixels).Image(50000, 0, 0, 2, kPixels).Trailer().File());
  ASSERT_EQ(image.FrameCount(), 3);
  EXPECT_TRUE(image.FrameAt(0)->DecodedBitmap()->Empty());
  EXPECT_EQ(image.Width(), 0);
  // Written, only the 4-pixel frame widens the screen; there a width of 0 would read back as
  // 4, so the frames without pixels are left out, their extensions with them.
  TPxGIFImage back;
  Load(back, Save(image));
  EXPECT_EQ(back.LogicalWidth, 4);
  ASSERT_EQ(back.FrameCount(), 1);
  EXPECT_EQ(back.FrameAt(0)->ItemData->ImageWidth, 4);
  EXPECT_EQ(back.FrameAt(0)->DelayMs, 0u);
  // On a screen as empty as they are, they are written as they came.
  Load(image, GifBuilder().Screen(0, 2, 2).Image(0, 0, 0, 2, kPixels).Image(3, 0, 0, 2, kPixels).Trailer().File());
  Load(back, Save(image));
  EXPECT_EQ(back.FrameCount(), 2);
  EXPECT_EQ(back.LogicalWidth, 0);
}

TEST(PxGifReader, HugeFramesAreRefusedBeforeTheyAreAllocated) {
  // 65535 x 8192 pixels: with 51 KB of data more than the data can describe, and with 200 KB
  // more than a bitmap may hold; neither gets a pixel buffer.
  auto refused = [](TPxGIFFrame* F, bool Bitmap) {
    TMemoryStream dib;
    try {
      F->DecodeToDib(&dib);
      ADD_FAILURE() << "decoded";
    } catch (const EInvalidGraphicOperation& e) {
      EXPECT_FALSE(Bitmap);
      EXPECT_STREQ(e.what(), "GIF encoded data is corrupt");
    } catch (const EInvalidGraphic& e) {
      EXPECT_TRUE(Bitmap);
      EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
    EXPECT_EQ(dib.Size(), 0);
  };
  for (const std::size_t blocks : {200u, 800u}) {
    Bytes data{8};
    for (std::size_t i = 0; i < blocks; ++i) {
      data.push_back(255);
      data.insert(data.end(), 255, 0);
    }
    data.push_back(0);
    TPxGIFImage image;
    Load(image, Simple().Image(0, 0, 65535, 8192, data).Trailer().File(), false);
    ASSERT_EQ(image.FrameCount(), 1);
    refused(image.FrameAt(0), blocks == 800);
  }
}

TEST(PxGifReader, InterlacedFrame) {
  std::vector<std::uint32_t> codes{4};
  for (int row = 0; row < 5; ++row)
    for (int x = 0; x < 3; ++x) codes.push_back(static_cast<std::uint32_t>(row % 4));
  codes.push_back(5);
  TPxGIFImage image;
  Load(image, Simple().Image(0, 0, 3, 5, PackCodes(2, codes), 0, true).Trailer().File());
  TMemoryStream dib;
  image.FrameAt(0)->DecodeToDib(&dib);
  TBitmap b;
  b.LoadFromStream(&dib);
  // Stored rows 0..4 are picture rows 0, 4, 2, 1, 3.
  const TGifColorTable& t = image.GifData->GlobalTable;
  const int stored[5] = {0, 4, 2, 1, 3};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(b.Canvas()->Pixels(1, stored[i]), t.ColorAt(i % 4)) << i;
}

TEST(PxGifImage, NewImage) {
  TPxGIFImage image;
  EXPECT_TRUE(image.Empty());
  EXPECT_EQ(image.Width(), 0);
  EXPECT_EQ(image.Height(), 0);
  EXPECT_EQ(image.CurrentFrame, -1);
  EXPECT_EQ(image.Palette(), nullptr);
  TBitmap* current = image.CurrentBitmap();
  ASSERT_NE(current, nullptr);
  EXPECT_TRUE(current->Empty());
  EXPECT_EQ(image.FrameCount(), 1);
  EXPECT_EQ(image.CurrentFrame, 0);
  EXPECT_EQ(Message([&] { image.SetWidth(0); }), "Cannot change the Size of a GIF image");
  EXPECT_THROW(image.SetHeight(image.Height()), EInvalidGraphicOperation);
}

TEST(PxGifImage, AssignSharesData) {
  TPxGIFImage a, b;
  Load(a, Simple().Image(0, 0, 4, 2, kPixels).Image(1, 0, 3, 2, Flat(2, 2, 6)).Trailer().File());
  b.Assign(&a);
  EXPECT_EQ(b.GifData, a.GifData);
  EXPECT_EQ(b.FrameCount(), 2);
  EXPECT_EQ(b.FrameAt(1)->ItemData, a.FrameAt(1)->ItemData);
  EXPECT_EQ(b.FrameAt(1)->OriginX, 1);
  EXPECT_TRUE(static_cast<TGraphic&>(b).Empty() == false);
  TPicture pa, pb;
  pa.SetGraphic(&a);  // copies through Assign
  ASSERT_NE(pa.Graphic(), nullptr);
  EXPECT_EQ(static_cast<TPxGIFImage*>(pa.Graphic())->GifData, a.GifData);
  EXPECT_EQ(Save(b), Save(a));
  // A frame alone.
  TPxGIFImage c;
  c.Assign(a.FrameAt(1));
  EXPECT_EQ(c.FrameCount(), 1);
  EXPECT_EQ(c.GifVersion, 1);
  EXPECT_EQ(c.GifData->GlobalTable.Count, 4);
  EXPECT_EQ(c.Width(), 3);
  c.Assign(nullptr);
  EXPECT_TRUE(c.Empty());
}

TEST(PxGifImage, SharedDataIsCopiedBeforeAnOwnerChangesIt) {
  auto first = MakeBitmap(6, 3, pf24bit, [](int X, int) { return X < 3 ? clRed : clBlue; });
  auto second = MakeBitmap(6, 3, pf24bit, [](int X, int) { return X < 3 ? clLime : clYellow; });
  TPxGIFImage a;
  a.Assign(first.get());
  a.AppendFrame(second.get());
  TPxGIFImage b;
  b.Assign(&a);
  EXPECT_EQ(b.GifData, a.GifData);
  // Writing b encodes its frames; a's frames and image data stay as they were.
  const Bytes fromB = Save(b);
  EXPECT_EQ(a.FrameAt(0)->ItemData->CodeStream, nullptr);
  EXPECT_EQ(a.GifData->GlobalTable.Count, 0);
  for (const Bytes& file : {fromB, Save(a)}) {
    TPxGIFImage back;
    Load(back, file);
    ASSERT_EQ(back.FrameCount(), 2);
    back.CurrentFrame = 1;
    auto sheet = MakeBitmap(6, 3, pfDevice, [](int, int) { return clWhite; });
    sheet->Canvas()->Draw(0, 0, &back);
    EXPECT_EQ(sheet->Canvas()->Pixels(0, 0), clLime);
    EXPECT_EQ(sheet->Canvas()->Pixels(5, 2), clYellow);
  }
}

TEST(PxGifImage, KeyColourOfAManyColouredBitmapKeepsItsEntry) {
  // 4096 colours and a 2 x 2 fuchsia key: the key is no frequent colour of the reduction.
  auto bitmap = MakeBitmap(64, 64, pf24bit, [](int X, int Y) {
    if (X >= 30 && X < 32 && Y >= 30 && Y < 32) return clFuchsia;
    return static_cast<TColor>(X * 4 | Y * 4 << 8 | (X + Y) << 16);
  });
  bitmap->SetTransparentColor(clFuchsia);
  bitmap->SetTransparent(true);
  TPxGIFImage image;
  image.Assign(bitmap.get());
  ASSERT_EQ(image.FrameAt(0)->KeyColor, clFuchsia);
  TPxGIFImage back;
  Load(back, Save(image));
  TPxGIFFrame* frame = back.FrameAt(0);
  ASSERT_NE(frame->KeyColor, clNone);
  auto sheet = MakeBitmap(64, 64, pfDevice, [](int, int) { return clWhite; });
  sheet->Canvas()->Draw(0, 0, &back);
  EXPECT_EQ(sheet->Canvas()->Pixels(30, 30), clWhite);
  EXPECT_EQ(sheet->Canvas()->Pixels(31, 31), clWhite);
  int shown = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) shown += sheet->Canvas()->Pixels(x, y) != clWhite;
  EXPECT_EQ(shown, 64 * 64 - 4);
}

TEST(PxGifImage, FromABitmap) {
  auto bitmap = MakeBitmap(12, 5, pf24bit, [](int X, int) { return X < 6 ? clRed : clBlue; });
  TPxGIFImage image;
  image.Assign(bitmap.get());
  EXPECT_EQ(image.FrameCount(), 1);
  EXPECT_EQ(image.GifVersion, 1);
  EXPECT_EQ(image.CurrentFrame, 0);
  EXPECT_EQ(image.FrameAt(0)->ItemData->CodeStream, nullptr);  // encoded only when written
  EXPECT_EQ(image.LogicalWidth, 12);
  const Bytes once = Save(image);
  EXPECT_EQ(std::string(once.begin(), once.begin() + 6), "GIF87a");
  EXPECT_NE(image.FrameAt(0)->ItemData->CodeStream, nullptr);
  image.AppendFrame(bitmap.get());
  EXPECT_EQ(image.GifVersion, 2);
  TPxGIFImage back;
  Load(back, Save(image));
  EXPECT_EQ(back.FrameCount(), 2);
  back.CurrentFrame = 1;
  auto sheet = MakeBitmap(12, 5, pfDevice, [](int, int) { return clWhite; });
  sheet->Canvas()->Draw(0, 0, &back);
  EXPECT_EQ(sheet->Canvas()->Pixels(0, 0), clRed);
  EXPECT_EQ(sheet->Canvas()->Pixels(11, 4), clBlue);
}

TEST(PxGifImage, FromAnAnimatedCursor) {
  const Bytes icons[3] = {SolidIcon(clRed), SolidIcon(clLime), SolidIcon(clBlue)};
  TMemoryStream s;
  PutBytes(&s, AniBuilder().Header(3, 5, 0).Table("rate", {0, 6, 10, 3, 0}).Table("seq ", {0, 1, 2, 1, 0}).Frames({icons[0], icons[1], icons[2]}).File());
  s.SetPosition(0);
  TPxAni ani;
  ani.LoadFromStream(&s);
  TPxGIFImage image;
  image.Assign(&ani);
  ASSERT_EQ(image.FrameCount(), 5);
  EXPECT_EQ(image.BackColor, clWindow);
  EXPECT_EQ(image.FrameAt(0)->DelayMs, 100);
  EXPECT_EQ(image.FrameAt(1)->DelayMs, 100);
  EXPECT_EQ(image.FrameAt(2)->DelayMs, 166);
  EXPECT_EQ(image.FrameAt(3)->DelayMs, 50);
  EXPECT_EQ(image.CurrentFrame, 4);
  // An icon is drawn on fuchsia and fuchsia becomes the transparent colour.
  TPxGIFFrame* f = image.FrameAt(2);
  EXPECT_EQ(f->KeyColor, clFuchsia);
  EXPECT_EQ(f->DecodedBitmap()->Canvas()->Pixels(3, 3), clBlue);
  // Written and read back: five frames with their delays.
  TPxGIFImage back;
  Load(back, Save(image));
  ASSERT_EQ(back.FrameCount(), 5);
  EXPECT_EQ(back.FrameAt(2)->DelayMs, 160);
}

TEST(PxGifImage, CursorAnimationTooLongForAFilmStripIsRefused) {
  // 5000 steps of a 16-pixel icon: a film strip of 80000 pixels cannot be made, nor this.
  TMemoryStream s;
  PutBytes(&s, AniBuilder().Header(1, 5000, 0).Table("seq ", std::vector<std::uint32_t>(5000, 0)).Frames({SolidIcon(clRed)}).File());
  s.SetPosition(0);
  TPxAni ani;
  ani.LoadFromStream(&s);
  TBitmap strip;
  EXPECT_EQ(Message([&] { strip.Assign(&ani); }), "Out of system resources");
  TPxGIFImage image;
  Load(image, Simple().Image(0, 0, 4, 2, kPixels).Trailer().File());
  EXPECT_EQ(Message([&] { image.Assign(&ani); }), "Out of system resources");
  EXPECT_EQ(image.FrameCount(), 1);  // unchanged
}

TEST(PxGifImage, IconWithMaskOnFuchsia) {
  IconSpec spec;
  spec.Width = 8;
  spec.Height = 8;
  spec.Color = [](int, int) { return clLime; };
  spec.Transparent = [](int X, int) { return X < 4; };
  auto icon = LoadIcon(MakeIconFile(1, {spec}));
  TPxGIFImage image;
  image.AppendFrame(icon.get());
  TPxGIFFrame* f = image.FrameAt(0);
  EXPECT_EQ(f->DecodedBitmap()->Canvas()->Pixels(0, 0), clFuchsia);
  EXPECT_EQ(f->DecodedBitmap()->Canvas()->Pixels(6, 0), clLime);
  EXPECT_EQ(f->KeyColor, clFuchsia);
  // Drawn with transparency: the fuchsia half shows what is beneath, also after a round trip.
  TPxGIFImage back;
  Load(back, Save(image));
  for (TPxGIFImage* g : {&image, &back}) {
    auto sheet = MakeBitmap(8, 8, pfDevice, [](int, int) { return clYellow; });
    sheet->Canvas()->Draw(0, 0, g);
    EXPECT_EQ(sheet->Canvas()->Pixels(1, 1), clYellow);
    EXPECT_EQ(sheet->Canvas()->Pixels(6, 6), clLime);
  }
  image.SetTransparent(false);
  auto opaque = MakeBitmap(8, 8, pfDevice, [](int, int) { return clYellow; });
  opaque->Canvas()->Draw(0, 0, &image);
  EXPECT_EQ(opaque->Canvas()->Pixels(1, 1), clFuchsia);
}

TEST(PxGifImage, AssignToBitmapsAndIcons) {
  TPxGIFImage image;
  Load(image, GifBuilder().Screen(4, 2, 2).Control(0, 1).Image(0, 0, 4, 2, Flat(2, 1, 8)).Trailer().File());
  TBitmap b;
  b.Assign(&image);
  EXPECT_EQ(b.Width(), 4);
  EXPECT_TRUE(b.Transparent());
  EXPECT_EQ(b.TransparentColor(), image.FrameAt(0)->KeyColor);
  TPxGIFImage empty;
  b.Assign(&empty);
  EXPECT_TRUE(b.Empty());
  TIcon icon;
  EXPECT_THROW(icon.Assign(&image), EConvertError);
  TStringList notAGraphic;
  EXPECT_THROW(notAGraphic.Assign(&image), EConvertError);
}

TEST(PxGifImage, LayoutFormAndRegistration) {
  RegisterPxGifFormats();
  EXPECT_NE(GifClipboardFormat, 0);
  EXPECT_EQ(TPicture::FindFileFormat("GIF"), TPxGIFImage::StaticClass());
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(GifClipboardFormat));
  char name[32] = {};
  GetClipboardFormatNameA(GifClipboardFormat, name, sizeof name);
  EXPECT_STREQ(name, "GIF Image");
  // The splash window's stored picture loads by its class name.
  const Bytes stored = StoredSplash();
  ASSERT_GT(stored.size(), 16u);
  TMemoryStream s;
  PutBytes(&s, stored);
  s.SetPosition(0);
  TPicture picture;
  picture.ReadData(&s);
  auto* gif = dynamic_cast<TPxGIFImage*>(picture.Graphic());
  ASSERT_NE(gif, nullptr);
  EXPECT_EQ(picture.Width(), 118);
  EXPECT_EQ(picture.Height(), 54);
  EXPECT_EQ(gif->GifVersion, 2);
  EXPECT_EQ(gif->GifData->GlobalTable.Count, 256);
  EXPECT_EQ(gif->FrameAt(0)->ItemData->CodeStream->Memory() != nullptr, true);
  EXPECT_EQ(static_cast<const std::uint8_t*>(gif->FrameAt(0)->ItemData->CodeStream->Memory())[0], 8);
  EXPECT_FALSE(gif->FrameAt(0)->IsInterlaced);
  // Written back in the same form: class name, count, GIF; it reads back to the same picture.
  TMemoryStream again;
  picture.WriteData(&again);
  const Bytes written = StreamBytes(&again);
  EXPECT_EQ(std::string(written.begin() + 1, written.begin() + 12), "TPxGIFImage");
  EXPECT_EQ(LE32(written, 12), written.size() - 16);
  again.SetPosition(0);
  TPicture copy;
  copy.ReadData(&again);
  auto render = [](TPicture& P) {
    auto sheet = MakeBitmap(118, 54, pfDevice, [](int, int) { return clBlack; });
    sheet->Canvas()->Draw(0, 0, P.Graphic());
    return sheet;
  };
  auto one = render(picture), two = render(copy);
  for (int y = 0; y < 54; y += 3)
    for (int x = 0; x < 118; x += 3) ASSERT_EQ(one->Canvas()->Pixels(x, y), two->Canvas()->Pixels(x, y));
  EXPECT_NE(one->Canvas()->Pixels(59, 50), clBlack);
  // A count beyond the stream fails before anything is read.
  Bytes hostile = {0xFF, 0xFF, 0xFF, 0x7F, 'G', 'I', 'F'};
  TMemoryStream h;
  PutBytes(&h, hostile);
  h.SetPosition(0);
  struct Reader : TPxGIFImage {
    void Read(TStream* S) { ReadData(S); }
  } reader;
  EXPECT_THROW(reader.Read(&h), EReadError);
  UnregisterPxGifFormats();
  EXPECT_EQ(TPicture::FindFileFormat("gif"), nullptr);
}

TEST(PxGifImage, Clipboard) {
  RegisterPxGifFormats();
  std::map<UINT, HANDLE> board;
  SetPxClipboardAccess({[&](UINT F) { return board.count(F) ? board[F] : nullptr; },
                        [&](UINT F, HANDLE D) { board[F] = D; }});
  TPxGIFImage image;
  Load(image, Simple().Image(0, 0, 4, 2, kPixels).Image(0, 0, 4, 2, Flat(2, 3, 8)).Trailer().File());
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  image.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, CF_BITMAP);
  ASSERT_TRUE(board.count(GifClipboardFormat));
  const std::uint32_t count = GetLE32(GlobalLock(board[GifClipboardFormat]));
  GlobalUnlock(board[GifClipboardFormat]);
  EXPECT_EQ(count + 4, GlobalSize(board[GifClipboardFormat]));
  board[CF_BITMAP] = data;
  TPxGIFImage pasted;
  pasted.LoadFromClipboardFormat(GifClipboardFormat, board[GifClipboardFormat], palette);
  EXPECT_EQ(pasted.FrameCount(), 2);
  EXPECT_EQ(pasted.CurrentFrame, 0);
  EXPECT_NE(pasted.FrameAt(0)->BitmapCache, nullptr);  // from the clipboard's bitmap
  EXPECT_EQ(pasted.Width(), 4);
  GlobalFree(board[GifClipboardFormat]);
  DeleteObject(board[CF_BITMAP]);
  if (palette) DeleteObject(palette);
  // Frames without image data: only the bitmap is placed.
  board.clear();
  auto bitmap = MakeBitmap(3, 3, pf24bit, [](int, int) { return clRed; });
  TPxGIFImage fresh;
  fresh.Assign(bitmap.get());
  fresh.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, CF_BITMAP);
  EXPECT_EQ(board.count(GifClipboardFormat), 0u);
  DeleteObject(data);
  // A failure to place the GIF block passes on; the bitmap handles go with it.
  SetPxClipboardAccess({nullptr, [](UINT, HANDLE) { throw EOutOfResources(); }});
  EXPECT_THROW(image.SaveToClipboardFormat(format, data, palette), EOutOfResources);
  EXPECT_EQ(data, nullptr);
  SetPxClipboardAccess({});
  EXPECT_EQ(image.FrameCount(), 2);
  UnregisterPxGifFormats();
}

TEST(PxGifImage, ClipboardFormsOfTheGifBlock) {
  RegisterPxGifFormats();
  std::map<UINT, HANDLE> board;
  SetPxClipboardAccess({[&](UINT F) { return board.count(F) ? board[F] : nullptr; }, nullptr});
  auto place = [&](const Bytes& Block) {
    if (board.count(GifClipboardFormat)) GlobalFree(board[GifClipboardFormat]);
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, Block.size());
    std::memcpy(GlobalLock(h), Block.data(), Block.size());
    GlobalUnlock(h);
    board[GifClipboardFormat] = h;
  };
  // The GIF library places the plain stream.
  const Bytes plain = Simple().Image(0, 0, 4, 2, kPixels).Image(0, 0, 4, 2, Flat(2, 3, 8)).Trailer().File();
  place(plain);
  TPxGIFImage pasted;
  pasted.LoadFromClipboardFormat(GifClipboardFormat, board[GifClipboardFormat], nullptr);
  EXPECT_EQ(pasted.FrameCount(), 2);
  EXPECT_EQ(pasted.Width(), 4);
  // Ours puts a count first.
  Bytes counted;
  Append32(counted, static_cast<std::uint32_t>(plain.size()));
  counted.insert(counted.end(), plain.begin(), plain.end());
  place(counted);
  TPxGIFImage again;
  again.LoadFromClipboardFormat(GifClipboardFormat, board[GifClipboardFormat], nullptr);
  EXPECT_EQ(again.FrameCount(), 2);
  // A count beyond the block is refused before anything is made of it.
  Bytes hostile;
  Append32(hostile, 0x7FFFFFF0u);
  hostile.insert(hostile.end(), plain.begin(), plain.end());
  place(hostile);
  EXPECT_THROW(again.LoadFromClipboardFormat(GifClipboardFormat, board[GifClipboardFormat], nullptr), EReadError);
  GlobalFree(board[GifClipboardFormat]);
  SetPxClipboardAccess({});
  UnregisterPxGifFormats();
}
