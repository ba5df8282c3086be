#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "GraphicsTestFiles.h"
#include "platform/graphics/Graphics.h"
#include "support/TestSupport.h"

using namespace graphicstest;
using testsupport::TempDir;

namespace {

// A plain graphic that keeps the bytes it reads; tags itself so that tests see which
// registered class served a file.
class TTestGraphicA : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TTestGraphicA)
  std::string Bytes;
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  void LoadFromStream(TStream* Stream) override {
    Bytes.resize(static_cast<std::size_t>(Stream->Size() - Stream->Position()));
    if (!Bytes.empty()) Stream->ReadBuffer(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
    Changed(this);
  }
  void SaveToStream(TStream* Stream) override {
    if (!Bytes.empty()) Stream->WriteBuffer(Bytes.data(), static_cast<std::int64_t>(Bytes.size()));
  }
  void LoadFromClipboardFormat(WORD, HANDLE, HPALETTE) override { Bytes = "clipboard"; }
  void SaveToClipboardFormat(WORD&, HANDLE&, HPALETTE&) override {}
  void Assign(TPersistent* Source) override {
    if (auto* a = dynamic_cast<TTestGraphicA*>(Source)) {
      Bytes = a->Bytes;
      return;
    }
    TGraphic::Assign(Source);
  }

 protected:
  void Draw(TCanvas*, const TRect&) override {}
  bool GetEmpty() override { return Bytes.empty(); }
  int GetHeight() override { return 1; }
  int GetWidth() override { return static_cast<int>(Bytes.size()); }
};
IMPLEMENT_GRAPHIC_CLASS(TTestGraphicA, TGraphic)

class TTestGraphicB : public TTestGraphicA {
 public:
  DECLARE_GRAPHIC_CLASS(TTestGraphicB)
};
IMPLEMENT_GRAPHIC_CLASS(TTestGraphicB, TTestGraphicA)

// Registrations made by a test are taken back when it ends.
struct Registrations {
  ~Registrations() {
    TPicture::UnregisterGraphicClass(TTestGraphicA::StaticClass());
  }
};

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& content) {
  std::string path = (dir / name).string();
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

}  // namespace

TEST(Colors, SystemColoursFromTheFixedTable) {
  EXPECT_EQ(ColorToRGB(clBtnFace), static_cast<TColor>(RGB(212, 208, 200)));
  EXPECT_EQ(ColorToRGB(clWindow), clWhite);
  EXPECT_EQ(ColorToRGB(clWindowText), clBlack);
  EXPECT_EQ(ColorToRGB(clHighlight), static_cast<TColor>(RGB(10, 36, 106)));
  EXPECT_EQ(ColorToRGB(clInfoBk), static_cast<TColor>(RGB(255, 255, 225)));
  EXPECT_EQ(ColorToRGB(clFuchsia), 0xFF00FF);
  EXPECT_EQ(ColorToRGB(clNone), clNone);
  EXPECT_EQ(ColorToRGB(clDefault), clDefault);
  EXPECT_EQ(clBtnFace, static_cast<TColor>(0xFF00000F));
  EXPECT_EQ(PaletteRGB(1, 2, 3), 0x02030201);
}

TEST(GraphicClasses, ClassReferencesCreateAndCompare) {
  EXPECT_STREQ(TBitmap::StaticClass()->Name, "TBitmap");
  EXPECT_TRUE(TTestGraphicB::StaticClass()->InheritsFrom(TTestGraphicA::StaticClass()));
  EXPECT_FALSE(TTestGraphicA::StaticClass()->InheritsFrom(TTestGraphicB::StaticClass()));
  std::unique_ptr<TGraphic> graphic = CreateGraphic(TTestGraphicB::StaticClass());
  EXPECT_EQ(graphic->ClassName(), "TTestGraphicB");
  EXPECT_TRUE(graphic->InheritsFrom(TGraphic::StaticClass()));
  EXPECT_THROW(CreateGraphic(TGraphic::StaticClass()), EInvalidGraphic);
}

TEST(GraphicEvents, ProgressAndModified) {
  TTestGraphicA graphic;
  std::vector<int> stages;
  graphic.OnProgress = [&](TObject* sender, TProgressStage stage, BYTE percent, bool, const TRect& r,
                           const std::string& msg) {
    EXPECT_EQ(sender, &graphic);
    EXPECT_EQ(r.right, 0);
    EXPECT_EQ(msg, "Loading...");
    stages.push_back(stage * 1000 + percent);
  };
  graphic.Progress(&graphic, psStarting, 0, false, TRect{}, "Loading...");
  graphic.Progress(&graphic, psRunning, 50, false, TRect{}, "Loading...");
  graphic.Progress(&graphic, psEnding, 100, true, TRect{}, "Loading...");
  EXPECT_EQ(stages, (std::vector<int>{0, 1050, 2100}));
  EXPECT_FALSE(graphic.Modified());
  graphic.SetModified(true);
  EXPECT_TRUE(graphic.Modified());
}

TEST(PictureRegistry, NewestRegistrationWinsWithoutRegardToCase) {
  Registrations cleanup;
  TempDir dir;
  TPicture::RegisterFileFormat("gif", "CompuServe GIF Image", TTestGraphicA::StaticClass());
  TPicture::RegisterFileFormat("GIF", "GIF Image", TTestGraphicB::StaticClass());
  EXPECT_EQ(TPicture::FindFileFormat("gif"), TTestGraphicB::StaticClass());
  EXPECT_EQ(TPicture::FindFileFormat(".Gif"), TTestGraphicB::StaticClass());

  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TObject*) { ++changes; };
  picture.LoadFromFile(WriteFile(dir, "banner.gif", "GIF89a"));
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Graphic()->ClassType(), TTestGraphicB::StaticClass());
  EXPECT_EQ(static_cast<TTestGraphicA*>(picture.Graphic())->Bytes, "GIF89a");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(picture.Width(), 6);

  // Unregistering the newer class brings the older registration back.
  TPicture::UnregisterGraphicClass(TTestGraphicB::StaticClass());
  EXPECT_EQ(TPicture::FindFileFormat("GIF"), TTestGraphicA::StaticClass());
  TPicture::UnregisterGraphicClass(TTestGraphicA::StaticClass());
  EXPECT_EQ(TPicture::FindFileFormat("gif"), nullptr);

  EXPECT_EQ(TPicture::FindFileFormat("BMP"), TBitmap::StaticClass());
  EXPECT_EQ(TPicture::FindFileFormat("ico"), TIcon::StaticClass());
  EXPECT_EQ(TPicture::FindFileFormat("wmf"), TMetafile::StaticClass());
  EXPECT_EQ(TPicture::FindFileFormat("emf"), TMetafile::StaticClass());
}

TEST(PictureRegistry, UnknownExtensionAndFailedLoadKeepThePicture) {
  TempDir dir;
  TPicture picture;
  picture.Bitmap()->SetWidth(2);
  picture.Bitmap()->SetHeight(2);
  try {
    picture.LoadFromFile(WriteFile(dir, "car.xyz", "data"));
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unknown picture file extension (.xyz)");
  }
  EXPECT_THROW(picture.LoadFromFile(WriteFile(dir, "broken.bmp", "BMxx")), EReadError);
  EXPECT_THROW(picture.LoadFromFile(WriteFile(dir, "drawing.wmf", "\xD7\xCD\xC6\x9A")), EInvalidGraphic);
  ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 2);
}

TEST(PictureRegistry, ClipboardFormats) {
  Registrations cleanup;
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(CF_BITMAP));
  const WORD gifFormat = static_cast<WORD>(RegisterClipboardFormat("GIF Image"));
  EXPECT_FALSE(TPicture::SupportsClipboardFormat(gifFormat));
  TPicture::RegisterClipboardFormat(gifFormat, TTestGraphicA::StaticClass());
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(gifFormat));
  TPicture picture;
  picture.LoadFromClipboardFormat(gifFormat, nullptr, nullptr);
  EXPECT_EQ(static_cast<TTestGraphicA*>(picture.Graphic())->Bytes, "clipboard");
  try {
    picture.LoadFromClipboardFormat(CF_TEXT, nullptr, nullptr);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unsupported clipboard format");
  }
}

TEST(Picture, GraphicAssignmentAndChangePropagation) {
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &picture);
    ++changes;
  };
  TTestGraphicA graphic;
  graphic.Bytes = "abc";
  picture.SetGraphic(&graphic);  // a copy
  EXPECT_NE(picture.Graphic(), &graphic);
  EXPECT_EQ(static_cast<TTestGraphicA*>(picture.Graphic())->Bytes, "abc");
  EXPECT_EQ(changes, 1);

  // Bitmap() replaces a graphic of another class; drawing on it reaches the picture.
  TBitmap* bitmap = picture.Bitmap();
  EXPECT_EQ(changes, 2);
  bitmap->SetWidth(3);
  bitmap->SetHeight(3);
  changes = 0;
  bitmap->Canvas()->FillRect(TRect{0, 0, 1, 1});
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(picture.Bitmap(), bitmap);

  TPicture other;
  other.Assign(&picture);
  ASSERT_NE(dynamic_cast<TBitmap*>(other.Graphic()), nullptr);
  EXPECT_EQ(other.Width(), 3);
  picture.SetGraphic(nullptr);
  EXPECT_EQ(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Width(), 0);
  other.Assign(nullptr);
  EXPECT_EQ(other.Graphic(), nullptr);
  TIcon* icon = other.Icon();
  EXPECT_TRUE(icon->Empty());
}

TEST(PictureData, NamedClassThenItsData) {
  Registrations cleanup;
  TPicture::RegisterFileFormat("tst", "Test", TTestGraphicA::StaticClass());
  TPicture picture;
  TTestGraphicA graphic;
  graphic.Bytes = "GIF89a...";
  picture.SetGraphic(&graphic);
  TMemoryStream data;
  picture.WriteData(&data);
  // The plain graphic's data has no length in front: it runs to the end of the stream.
  EXPECT_EQ(std::string(static_cast<const char*>(data.Memory()), static_cast<std::size_t>(data.Size())),
            "\x0dTTestGraphicAGIF89a...");
  data.SetPosition(0);
  TPicture back;
  back.ReadData(&data);
  ASSERT_NE(back.Graphic(), nullptr);
  EXPECT_EQ(static_cast<TTestGraphicA*>(back.Graphic())->Bytes, "GIF89a...");

  // No graphic: an empty name.
  TPicture empty;
  TMemoryStream none;
  empty.WriteData(&none);
  EXPECT_EQ(none.Size(), 1);
  none.SetPosition(0);
  back.ReadData(&none);
  EXPECT_EQ(back.Graphic(), nullptr);

  TMemoryStream unknown;
  unknown.WriteBuffer("\x08TNoSuchX", 9);
  unknown.SetPosition(0);
  try {
    back.ReadData(&unknown);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Unknown picture class (TNoSuchX)");
  }
}
