#include <gtest/gtest.h>

#include <QGroupBox>
#include <QPushButton>
#include <QTest>

#include "picture/PxThumbImage.h"
#include "platform/ui/QtHost.h"
#include "tests/platform/ui/UiTestSupport.h"

using namespace px;

namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new uitest::QtEnvironment);

// The browse window's arrangement: iAuto fills the picture group box; a button lies beneath it.
struct PictureBox {
  QWidget window;
  QGroupBox* box;
  QPushButton* beneath;
  TWinControl grpPicture{nullptr};
  TPxThumbImage iAuto{nullptr};
  std::unique_ptr<TBitmap> picture = uitest::PatternBitmap(120, 60);

  PictureBox() {
    window.resize(600, 280);
    box = new QGroupBox("  Изображение ", &window);
    box->setGeometry(10, 10, 580, 264);
    beneath = new QPushButton("beneath", box);
    beneath->setGeometry(250, 100, 80, 40);
    grpPicture.AttachWidget(box);
    iAuto.SetName("iAuto");
    iAuto.SetParent(&grpPicture);
    iAuto.SetAlign(alClient);
    iAuto.SetAutoSize(true);
    iAuto.SetCenter(true);
    iAuto.SetProportional(true);
    iAuto.Picture()->SetGraphic(picture.get());
    window.show();
  }
  QWidget* Host() { return dynamic_cast<QWidget*>(iAuto.Host()); }
  QPoint OnButton() { return Host()->mapFrom(box, QPoint(290, 120)); }
};

}  // namespace

TEST(HostedThumbImage, ClickWithIgnoreMouseReachesTheWidgetBeneath) {
  PictureBox w;
  ASSERT_NE(w.Host(), nullptr);
  int imageClicks = 0, buttonClicks = 0;
  w.iAuto.OnClick = [&](TObject*) { ++imageClicks; };
  QObject::connect(w.beneath, &QPushButton::clicked, [&] { ++buttonClicks; });

  w.iAuto.SetIgnoreMouse(true);
  QTest::mouseClick(w.Host(), Qt::LeftButton, Qt::NoModifier, w.OnButton());
  EXPECT_EQ(buttonClicks, 1);
  EXPECT_EQ(imageClicks, 0);

  w.iAuto.SetIgnoreMouse(false);
  QTest::mouseClick(w.Host(), Qt::LeftButton, Qt::NoModifier, w.OnButton());
  EXPECT_EQ(buttonClicks, 1);
  EXPECT_EQ(imageClicks, 1);

  w.iAuto.SetIgnoreMouse(true);
  w.iAuto.SetDesigning(true);
  QTest::mouseClick(w.Host(), Qt::LeftButton, Qt::NoModifier, w.OnButton());
  EXPECT_EQ(imageClicks, 2) << "while designed the control is hit whatever IgnoreMouse says";
  EXPECT_EQ(buttonClicks, 1);
}

TEST(HostedThumbImage, MouseOverOnlyWhenTheControlIsHit) {
  PictureBox w;
  std::vector<std::string> events;
  w.iAuto.OnMouseEnter = [&](TObject*) { events.push_back("enter"); };
  w.iAuto.OnMouseLeave = [&](TObject*) { events.push_back("leave"); };
  QTest::mouseMove(w.Host(), QPoint(20, 20));
  EXPECT_TRUE(w.iAuto.MouseOver());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(w.Host(), &leave);
  EXPECT_FALSE(w.iAuto.MouseOver());
  EXPECT_EQ(events, (std::vector<std::string>{"enter", "leave"}));

  w.iAuto.SetIgnoreMouse(true);
  QTest::mouseMove(w.Host(), QPoint(30, 30));
  EXPECT_FALSE(w.iAuto.MouseOver());
  EXPECT_EQ(events.size(), 2u);
}

TEST(HostedThumbImage, ShowsThePictureProportionalAndCentredAndTurned) {
  PictureBox w;
  QWidget* host = w.Host();
  ASSERT_EQ(host->geometry(), w.box->contentsRect());
  const int cw = host->width(), ch = host->height();
  TRect dest = w.iAuto.DestRect();
  EXPECT_EQ(dest.right - dest.left, 120) << "a picture that fits is not enlarged";
  EXPECT_EQ(dest.left, (cw - 120) / 2);
  EXPECT_EQ(dest.top, (ch - 60) / 2);

  auto colourAt = [&](int x, int y) { return host->grab().toImage().pixelColor(x, y); };
  auto expected = [&](int sx, int sy) {
    std::uint32_t v = uitest::Pixel24(w.picture.get(), sx, sy);
    return QColor(static_cast<int>(v >> 16), static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF));
  };
  EXPECT_EQ(colourAt(dest.left, dest.top), expected(0, 0));
  EXPECT_EQ(colourAt(dest.left + 119, dest.top + 59), expected(119, 59));

  w.iAuto.SetAngle(AT90);
  dest = w.iAuto.DestRect();
  EXPECT_EQ(dest.right - dest.left, 60);
  EXPECT_EQ(dest.bottom - dest.top, 120);
  EXPECT_EQ(colourAt(dest.left, dest.top), expected(0, 59)) << "top-left now shows the source's bottom-left";
}
