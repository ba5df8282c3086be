#include <gtest/gtest.h>

#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "picture/PxThumbImage.h"
#include "platform/ui/QtHost.h"
#include "support/QtTestSupport.h"
#include "tests/platform/ui/UiTestSupport.h"

using namespace px;

namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new qttest::QtEnvironment);

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

TEST(HostedThumbImage, PlacedFromTheBrowseWindowsLayout) {
  // The browse window's layout: a placeholder named iAuto in the picture group box's layout,
  // carrying the control's published properties.
  QWidget window;
  window.resize(600, 280);
  auto* grpPicture = new QGroupBox("  Изображение ", &window);
  grpPicture->setGeometry(0, 0, 584, 264);
  auto* align = new QVBoxLayout(grpPicture);
  align->setContentsMargins(2, 2, 2, 2);
  auto* placeholder = new QWidget(grpPicture);
  placeholder->setObjectName("iAuto");
  placeholder->setProperty("AutoSize", true);
  placeholder->setProperty("Center", true);
  placeholder->setProperty("Proportional", true);
  placeholder->setProperty("IgnoreMouse", false);
  placeholder->setProperty("Angle", "AT0");
  placeholder->setProperty("Zoom", 0);
  align->addWidget(placeholder);

  TPxThumbImage iAuto(nullptr);
  QWidget* host = HostInPlaceOf(placeholder, &iAuto);
  window.show();
  QApplication::processEvents();
  EXPECT_EQ(iAuto.Name(), "iAuto");
  EXPECT_EQ(iAuto.Text(), "");
  EXPECT_TRUE(iAuto.AutoSize() && iAuto.Center() && iAuto.Proportional());
  EXPECT_FALSE(iAuto.IgnoreMouse());
  EXPECT_EQ(iAuto.Angle(), AT0);

  TBitmap car;
  car.SetPixelFormat(pf24bit);
  car.SetWidth(1000);
  car.SetHeight(500);
  car.Canvas()->Brush()->SetColor(clRed);
  car.Canvas()->FillRect(TRect{0, 0, 1000, 500});
  iAuto.Picture()->SetGraphic(&car);
  ASSERT_EQ(iAuto.Width(), host->width()) << "the layout keeps the control filling the box";
  TRect dest = iAuto.DestRect();
  const int w = dest.right - dest.left, h = dest.bottom - dest.top;
  EXPECT_TRUE(w == host->width() || h == host->height()) << "shrunk until one side fits exactly";
  EXPECT_LE(w, host->width());
  EXPECT_LE(h, host->height());
  EXPECT_NEAR(w, 2 * h, 1) << "keeping the aspect ratio";
  EXPECT_EQ(dest.left, (host->width() - w) / 2);
  EXPECT_EQ(dest.top, (host->height() - h) / 2);
  QImage shot = host->grab().toImage();
  EXPECT_EQ(shot.pixelColor(host->width() / 2, host->height() / 2), QColor(255, 0, 0));

  iAuto.SetPicture(nullptr);  // the catalogue clears the picture by assigning none
  EXPECT_EQ(iAuto.Picture()->Graphic(), nullptr);
  EXPECT_EQ(iAuto.Width(), host->width());
}
