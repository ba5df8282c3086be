#include <gtest/gtest.h>

#include "picture/PxAni.h"
#include "support/TestSupport.h"
#include "tests/picture/PxTestSupport.h"

using namespace px;
using namespace pxtest;

namespace {

const Bytes kRed = SolidIcon(clRed);
const Bytes kLime = SolidIcon(clLime);
const Bytes kBlue = SolidIcon(clBlue);

void Load(TPxAni& Ani, const Bytes& File) {
  TMemoryStream s;
  PutBytes(&s, File);
  s.SetPosition(0);
  Ani.LoadFromStream(&s);
}

Bytes Save(TPxAni& Ani) {
  TMemoryStream s;
  Ani.SaveToStream(&s);
  return StreamBytes(&s);
}

// The colour in the middle of step Step's icon.
TColor StepColour(TPxAni& Ani, int Step) {
  TPxIconFrame* f = Ani.FrameAt(Step);
  auto sheet = MakeBitmap(16, 16, pfDevice, [](int, int) { return clWhite; });
  sheet->Canvas()->Draw(0, 0, f->Icon());
  return sheet->Canvas()->Pixels(8, 8);
}

// Offset of the first chunk with this id at the top level or inside lists.
std::size_t FindChunk(const Bytes& F, const std::string& Id) {
  for (std::size_t i = 12; i + 4 <= F.size(); ++i)
    if (std::equal(Id.begin(), Id.end(), F.begin() + static_cast<std::ptrdiff_t>(i))) return i;
  return std::string::npos;
}

}  // namespace

TEST(AniReader, StepsWithoutSequenceShowTheIcons) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(3, 3, 10).Frames({kRed, kLime, kBlue}).File());
  EXPECT_EQ(ani.IconCount(), 3);
  EXPECT_EQ(ani.FrameCount(), 3);
  EXPECT_EQ(ani.FrameIndex(), 0);
  EXPECT_EQ(StepColour(ani, 0), clRed);
  EXPECT_EQ(StepColour(ani, 1), clLime);
  EXPECT_EQ(StepColour(ani, 2), clBlue);
  EXPECT_EQ(ani.Width(), 16);
  EXPECT_FALSE(ani.Empty());
  EXPECT_TRUE(ani.Transparent());
  // Display rate 10 without "rate": 166 ms a step.
  ani.ScheduleNextFrame();
  EXPECT_EQ(ani.Timer()->Interval(), 166u);
}

TEST(AniReader, SequenceAndShortRateTable) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(2, 5, 0).Table("rate", {6, 12}).Table("seq ", {1, 0, 1, 1, 0}).Frames({kRed, kLime}).File());
  EXPECT_EQ(ani.FrameCount(), 5);
  EXPECT_EQ(StepColour(ani, 0), clLime);
  EXPECT_EQ(StepColour(ani, 4), clRed);
  EXPECT_EQ(ani.FrameAt(0)->Rate, 6u);
  EXPECT_EQ(ani.FrameAt(1)->Rate, 12u);
  EXPECT_EQ(ani.FrameAt(2)->Rate, 0u);  // beyond the table: the display rate
  EXPECT_EQ(ani.FrameAt(5), nullptr);
  EXPECT_EQ(ani.FrameAt(-1), nullptr);
  ani.ScheduleNextFrame();
  EXPECT_EQ(ani.Timer()->Interval(), 100u);  // rate 6
  ani.SetFrameIndex(2);
  ani.ScheduleNextFrame();
  EXPECT_EQ(ani.Timer()->Interval(), 100u);  // rate 0 gives 100 ms
  ani.SetFrameIndex(1);
  ani.ScheduleNextFrame();
  EXPECT_EQ(ani.Timer()->Interval(), 200u);
}

TEST(AniReader, OddSizedChunks) {
  // "anih" of 40 bytes, "rate" and "seq " bodies of 4n + 3 bytes, then an unknown odd chunk.
  TPxAni ani;
  Load(ani, AniBuilder()
                .Header(2, 2, 7, 1 | 0x100, 40)
                .Table("rate", {3, 4}, 3)
                .Table("seq ", {1, 1, 0}, 3)
                .Chunk("junk", Bytes(5, 1))
                .Frames({kRed, kLime})
                .File());
  EXPECT_EQ(ani.Header().DisplayRate, 7u);
  EXPECT_EQ(ani.Header().Flags, 0x101u);
  EXPECT_EQ(ani.Rates().size(), 2u);
  EXPECT_EQ(ani.FrameCount(), 3);
  EXPECT_EQ(StepColour(ani, 2), clRed);
  EXPECT_EQ(ani.IconCount(), 2);
}

TEST(AniReader, TitleAndAuthor) {
  TPxAni ani;
  const std::string longTitle(300, 'x');
  Load(ani, AniBuilder().Info(longTitle, "Иван").Header(1, 1, 0).Frames({kRed}).File());
  EXPECT_EQ(ani.TitleText(), std::string(255, 'x'));
  EXPECT_EQ(ani.AuthorText(), "Иван");
}

TEST(AniReader, NotAnAnimatedCursor) {
  TPxAni ani;
  const Bytes good = AniBuilder().Header(1, 1, 0).Frames({kRed}).File();
  Bytes form = good;
  std::memcpy(&form[8], "AVI ", 4);
  Bytes notRiff = good;
  std::memcpy(&notRiff[0], "RIFX", 4);
  for (const Bytes& f : {form, notRiff, Bytes(good.begin(), good.begin() + 10),
                         AniBuilder().Header(1, 1, 0, 0).Frames({kRed}).File(),  // flag bit 0 clear
                         AniBuilder().Header(0, 1, 0).Frames({kRed}).File(),     // no icons in the header
                         AniBuilder().Header(1, 1, 0).File()}) {                 // no icon at all
    try {
      Load(ani, f);
      ADD_FAILURE();
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
  }
  // An empty stream loads nothing.
  TPxAni empty;
  Load(empty, {});
  EXPECT_TRUE(empty.Empty());
}

TEST(AniReader, HotSpots) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(2, 2, 0).Frames({SolidIcon(clRed, 16, 16, 2, 3, 4), SolidIcon(clLime, 20, 12)}).File());
  EXPECT_FALSE(ani.FrameAt(0)->IsIcon);
  EXPECT_EQ(ani.FrameAt(0)->HotSpotX, 3);
  EXPECT_EQ(ani.FrameAt(0)->HotSpotY, 4);
  EXPECT_TRUE(ani.FrameAt(1)->IsIcon);
  EXPECT_EQ(ani.FrameAt(1)->HotSpotX, 10);
  EXPECT_EQ(ani.FrameAt(1)->HotSpotY, 6);
  EXPECT_EQ(StepColour(ani, 0), clRed);
}

TEST(AniReader, WithoutHeader) {
  TPxAni ani;
  Load(ani, AniBuilder().Frames({kRed, kLime}).File());
  EXPECT_EQ(ani.FrameCount(), 2);
  EXPECT_EQ(ani.Header().Icons, 2u);
  EXPECT_EQ(ani.Header().DisplayRate, 0u);
  ani.ScheduleNextFrame();
  EXPECT_EQ(ani.Timer()->Interval(), 100u);
  // Written with a header that reads back.
  TPxAni back;
  Load(back, Save(ani));
  EXPECT_EQ(back.IconCount(), 2);
  EXPECT_EQ(back.Header().Flags, 1u);
  EXPECT_EQ(back.Header().HeaderSize, 36u);
}

TEST(AniReader, DamageAfterTheFirstIconsEndsReadingQuietly) {
  TPxAni ani;
  Bytes broken = kLime;
  broken[2] = 5;  // neither icon nor cursor
  Load(ani, AniBuilder().Header(3, 3, 0).Frames({kRed, broken, kBlue}).File());
  EXPECT_EQ(ani.IconCount(), 1);
  EXPECT_EQ(ani.FrameCount(), 1);  // without "seq ": one step per icon read
  // A sequence naming an icon that was not read (or never was there) is refused at load: the
  // graphic is then empty, and no later use of it fails.
  for (const Bytes& file : {AniBuilder().Header(1, 1, 0).Table("seq ", {0, 4}).Frames({kRed}).File(),
                            AniBuilder().Header(2, 2, 0).Table("seq ", {0, 1}).Frames({kRed, Bytes(kLime.begin(), kLime.begin() + 30)}).File()}) {
    Load(ani, AniBuilder().Header(1, 1, 0).Frames({kRed}).File());
    EXPECT_THROW(Load(ani, file), EReadError);
    EXPECT_EQ(ani.IconCount(), 0);
    EXPECT_EQ(ani.FrameCount(), 0);
    EXPECT_EQ(ani.Width(), 0);
    TBitmap strip;
    strip.Assign(&ani);
    EXPECT_TRUE(strip.Empty());
    auto sheet = MakeBitmap(16, 16, pfDevice, [](int, int) { return clWhite; });
    sheet->Canvas()->Draw(0, 0, &ani);
  }
}

TEST(AniReader, HeaderRefusedAfterTheIconsKeepsOnlyAWorkingGraphic) {
  // A second "anih" without flag bit 0 fails the load after the sequence and icons were read.
  const auto file = [](const std::vector<std::uint32_t>& Sequence, const std::vector<Bytes>& Icons) {
    return AniBuilder().Header(2, 2, 0).Table("seq ", Sequence).Frames(Icons).Header(1, 1, 0, 0).File();
  };
  TPxAni ani;
  EXPECT_THROW(Load(ani, file({1, 0, 1}, {kRed, kLime})), EReadError);
  EXPECT_EQ(ani.IconCount(), 2);  // what was read stays
  EXPECT_EQ(ani.FrameCount(), 3);
  EXPECT_EQ(StepColour(ani, 2), clLime);
  // A step naming an icon that was not read, or steps without any icon: nothing stays.
  for (const Bytes& f : {file({0, 1, 2}, {kRed, kLime}), file({0, 0}, {})}) {
    Load(ani, AniBuilder().Header(1, 1, 0).Frames({kRed}).File());
    EXPECT_THROW(Load(ani, f), EReadError);
    EXPECT_EQ(ani.IconCount(), 0);
    EXPECT_EQ(ani.FrameCount(), 0);
    EXPECT_TRUE(ani.Empty());
  }
}

TEST(AniReader, LoadingAgainReplacesAndNotifiesTwice) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(2, 2, 0).Frames({kRed, kLime}).File());
  ani.SetFrameIndex(1);
  int changes = 0;
  ani.OnChange = [&](TObject*) { ++changes; };
  Load(ani, AniBuilder().Header(1, 1, 0).Frames({kBlue}).File());
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(ani.IconCount(), 1);
  EXPECT_EQ(ani.FrameIndex(), 0);
  EXPECT_EQ(StepColour(ani, 0), clBlue);
}

TEST(AniReader, HostileSizesAndTruncation) {
  const Bytes good = AniBuilder().Info("t", "a").Header(2, 3, 5).Table("rate", {1, 2, 3}).Table("seq ", {0, 1, 0}).Frames({kRed, kLime}).File();
  // Every truncation point: an error or a graphic with at least one icon.
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    TPxAni ani;
    Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    try {
      Load(ani, part);
      if (cut > 0) {
        ASSERT_GT(ani.IconCount(), 0) << cut;
      }
    } catch (const EReadError&) {
    } catch (const EListError&) {
    }
  }
  // Sizes near 4 GiB in every chunk.
  for (const char* id : {"anih", "rate", "seq ", "LIST", "junk"}) {
    Bytes f = AniBuilder().Header(1, 1, 0).Frames({kRed}).File();
    Bytes chunk;
    AniBuilder::AppendChunk(chunk, id, Bytes(8, 0), false);
    chunk[4] = chunk[5] = chunk[6] = chunk[7] = 0xFF;
    f.insert(f.begin() + 12, chunk.begin(), chunk.end());
    TPxAni ani;
    try {
      Load(ani, f);
    } catch (const EReadError&) {
    }
  }
  Bytes bigIcon = AniBuilder().Header(1, 1, 0).Frames({kRed}).File();
  const std::size_t icon = FindChunk(bigIcon, "icon");
  bigIcon[icon + 7] = 0x7F;
  TPxAni ani;
  EXPECT_THROW(Load(ani, bigIcon), EReadError);
}

TEST(AniWriter, LayoutAndRoundTrip) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(9, 4, 8, 1 | 2).Table("rate", {5, 6, 7, 8}).Table("seq ", {1, 0, 1, 0}).Frames({kRed, SolidIcon(clLime, 16, 16, 2, 7, 9)}).File());
  ani.SetTitleText("ab");
  const Bytes f = Save(ani);
  EXPECT_EQ(LE32(f, 4), f.size() - 8);
  const std::size_t inam = FindChunk(f, "INAM");
  ASSERT_NE(inam, std::string::npos);
  EXPECT_EQ(LE32(f, inam + 4), 3u);
  EXPECT_EQ(f[inam + 8 + 2], 0);   // terminating zero
  EXPECT_EQ(f[inam + 8 + 3], 0);   // pad byte
  EXPECT_EQ(std::string(f.begin() + static_cast<std::ptrdiff_t>(inam) + 12, f.begin() + static_cast<std::ptrdiff_t>(inam) + 16), "anih");
  EXPECT_EQ(FindChunk(f, "IART"), std::string::npos);

  TPxAni back;
  Load(back, f);
  EXPECT_EQ(back.TitleText(), "ab");
  EXPECT_EQ(back.Header().Icons, 2u);  // set to the icon count
  EXPECT_EQ(back.Header().Steps, 4u);
  EXPECT_EQ(back.Header().Flags, 3u);
  EXPECT_EQ(back.Header().DisplayRate, 8u);
  EXPECT_EQ(back.Rates(), (std::vector<std::uint32_t>{5, 6, 7, 8}));
  EXPECT_EQ(back.Sequence(), (std::vector<std::uint32_t>{1, 0, 1, 0}));
  EXPECT_EQ(StepColour(back, 0), clLime);
  EXPECT_EQ(StepColour(back, 1), clRed);
  // The cursor frame stays a cursor with its hot spot.
  EXPECT_FALSE(back.FrameAt(0)->IsIcon);
  EXPECT_EQ(back.FrameAt(0)->HotSpotX, 7);
  EXPECT_EQ(back.FrameAt(0)->HotSpotY, 9);
  EXPECT_EQ(Save(back), f);
}

TEST(AniGraphic, EmptyGraphic) {
  TPxAni ani;
  EXPECT_TRUE(ani.Empty());
  EXPECT_EQ(ani.Width(), 0);
  EXPECT_EQ(ani.Height(), 0);
  EXPECT_EQ(ani.FrameIndex(), -1);
  try {
    Save(ani);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Invalid image");
  }
  TBitmap target;
  target.SetWidth(5);
  target.SetHeight(5);
  target.Assign(&ani);
  EXPECT_TRUE(target.Empty());
  auto sheet = MakeBitmap(4, 4, pfDevice, [](int, int) { return clWhite; });
  sheet->Canvas()->Draw(0, 0, &ani);  // nothing
  EXPECT_THROW(ani.SetWidth(3), EInvalidGraphicOperation);
  WORD format;
  HANDLE data;
  HPALETTE palette;
  EXPECT_THROW(ani.SaveToClipboardFormat(format, data, palette), EInvalidGraphicOperation);
  EXPECT_THROW(ani.LoadFromClipboardFormat(CF_BITMAP, nullptr, nullptr), EInvalidGraphicOperation);
}

TEST(AniGraphic, DrawsTheCurrentStepAtItsOwnSize) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(2, 2, 0).Frames({SolidIcon(clRed, 8, 8), SolidIcon(clBlue, 12, 4)}).File());
  auto sheet = MakeBitmap(40, 40, pfDevice, [](int, int) { return clWhite; });
  sheet->Canvas()->StretchDraw(TRect{10, 10, 40, 40}, &ani);
  EXPECT_EQ(sheet->Canvas()->Pixels(10, 10), clRed);
  EXPECT_EQ(sheet->Canvas()->Pixels(17, 17), clRed);
  EXPECT_EQ(sheet->Canvas()->Pixels(18, 18), clWhite);  // the rectangle's size is ignored
  ani.SetFrameIndex(1);
  EXPECT_EQ(ani.Width(), 12);
  EXPECT_EQ(ani.Height(), 4);
}

TEST(AniGraphic, FilmStripAndIconTargets) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(2, 3, 0).Table("seq ", {0, 1, 0}).Frames({kRed, kLime}).File());
  ani.SetFrameIndex(1);
  int changes = 0;
  ani.OnChange = [&](TObject*) { ++changes; };
  TBitmap strip;
  ani.RenderFilmStrip(&strip, clWhite, false, false);
  EXPECT_EQ(strip.Width(), 48);
  EXPECT_EQ(strip.Height(), 16);
  EXPECT_EQ(strip.Canvas()->Pixels(5, 5), clRed);
  EXPECT_EQ(strip.Canvas()->Pixels(21, 5), clLime);
  EXPECT_EQ(strip.Canvas()->Pixels(37, 5), clRed);
  EXPECT_EQ(ani.FrameIndex(), 1);
  EXPECT_EQ(changes, 4);  // once a step and once for going back to step 1
  ani.RenderFilmStrip(&strip, clWhite, true, false);
  EXPECT_EQ(strip.Width(), 16);
  EXPECT_EQ(strip.Height(), 48);
  EXPECT_EQ(strip.Canvas()->Pixels(5, 21), clLime);

  TBitmap reduced;
  reduced.Canvas()->Brush()->SetColor(clYellow);
  reduced.Assign(&ani);
  EXPECT_EQ(reduced.Width(), 48);
  EXPECT_EQ(reduced.PixelFormat(), pf4bit);  // max(image colours 0, 16) colours
  EXPECT_EQ(reduced.Canvas()->Pixels(21, 5), clLime);

  TIcon icon;
  icon.Assign(&ani);
  EXPECT_EQ(icon.Width(), 16);
  auto sheet = MakeBitmap(16, 16, pfDevice, [](int, int) { return clWhite; });
  sheet->Canvas()->Draw(0, 0, &icon);
  EXPECT_EQ(sheet->Canvas()->Pixels(3, 3), clLime);

  TMetafile other;
  EXPECT_THROW(other.Assign(&ani), EConvertError);
}

TEST(AniGraphic, FailedFilmStripKeepsTheCurrentStep) {
  // A step that cannot be drawn: the strip fails, and the step shown before is shown again.
  struct TFailingAni : TPxAni {
    void Draw(TCanvas* Canvas, const TRect& Rect) override {
      if (FrameIndex() == 2) throw EOutOfResources();
      TPxAni::Draw(Canvas, Rect);
    }
  } ani;
  Load(ani, AniBuilder().Header(2, 4, 0).Table("seq ", {0, 1, 0, 1}).Frames({kRed, kLime}).File());
  ani.SetFrameIndex(1);
  TBitmap strip;
  EXPECT_THROW(ani.RenderFilmStrip(&strip, clWhite, false, false), EOutOfResources);
  EXPECT_EQ(ani.FrameIndex(), 1);
  auto sheet = MakeBitmap(16, 16, pfDevice, [](int, int) { return clWhite; });
  sheet->Canvas()->Draw(0, 0, &ani);
  EXPECT_EQ(sheet->Canvas()->Pixels(8, 8), clLime);
}

TEST(AniGraphic, AssignCopiesEverything) {
  TPxAni ani;
  Load(ani, AniBuilder().Info("t", "a").Header(2, 3, 4).Table("rate", {1, 2, 3}).Table("seq ", {1, 1, 0}).Frames({kRed, kLime}).File());
  ani.SetFrameIndex(2);
  TPxAni copy;
  int changes = 0;
  copy.OnChange = [&](TObject*) { ++changes; };
  copy.Assign(&ani);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(copy.FrameIndex(), 2);
  EXPECT_EQ(copy.TitleText(), "t");
  EXPECT_EQ(copy.AuthorText(), "a");
  EXPECT_EQ(copy.Sequence(), ani.Sequence());
  EXPECT_EQ(copy.Rates(), ani.Rates());
  EXPECT_EQ(copy.FrameCount(), 3);
  EXPECT_NE(copy.IconAt(0), ani.IconAt(0));
  EXPECT_EQ(StepColour(copy, 0), clLime);
  EXPECT_EQ(Save(copy), Save(ani));
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
  EXPECT_EQ(changes, 1);
  TBitmap bitmap;
  EXPECT_THROW(copy.Assign(&bitmap), EConvertError);
}

TEST(AniGraphic, TimerTickStepsAndWraps) {
  TPxAni ani;
  Load(ani, AniBuilder().Header(2, 3, 0).Table("rate", {6, 60, 3}).Table("seq ", {0, 1, 0}).Frames({kRed, kLime}).File());
  ani.SetAnimating(true);
  EXPECT_TRUE(ani.IsAnimating());
  ani.TimerTick(nullptr);
  EXPECT_EQ(ani.FrameIndex(), 1);
  EXPECT_EQ(ani.Timer()->Interval(), 1000u);
  EXPECT_TRUE(ani.IsAnimating());
  ani.TimerTick(nullptr);
  ani.TimerTick(nullptr);
  EXPECT_EQ(ani.FrameIndex(), 0);
  EXPECT_EQ(ani.Timer()->Interval(), 100u);
  // Without steps the tick switches the animation off.
  TPxAni empty;
  empty.SetAnimating(true);
  empty.TimerTick(nullptr);
  EXPECT_FALSE(empty.IsAnimating());
}

TEST(AniGraphic, FilesAndRegistration) {
  testsupport::TempDir dir;
  const std::string name = (dir / "x.ani").string();
  testsupport::WriteFile(name, AniBuilder().Header(1, 1, 0).Frames({kRed}).File());
  RegisterPxAniFormat();
  RegisterPxAniFormat();
  EXPECT_EQ(TPicture::FindFileFormat("ANI"), TPxAni::StaticClass());
  TPicture picture;
  picture.LoadFromFile(name);
  ASSERT_NE(dynamic_cast<TPxAni*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 16);

  TPxAni ani;
  ani.LoadFromFile(name);
  const std::string copy = (dir / "y.ani").string();
  ani.SaveToFile(copy);
  EXPECT_EQ(testsupport::ReadFile(copy), testsupport::ReadFile(name));
  // A file that cannot be opened leaves the graphic; a bad file resets it.
  EXPECT_THROW(ani.LoadFromFile((dir / "none.ani").string()), EFOpenError);
  EXPECT_EQ(ani.IconCount(), 1);
  testsupport::WriteFile(copy, {'R', 'I', 'F', 'F'});
  EXPECT_THROW(ani.LoadFromFile(copy), EReadError);
  EXPECT_EQ(ani.IconCount(), 0);
  UnregisterPxAniFormat();
  EXPECT_EQ(TPicture::FindFileFormat("ani"), nullptr);
}
