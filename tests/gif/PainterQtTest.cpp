// A threaded painter under a Qt event loop: its paint steps and events reach the loop's thread,
// Draw animates a picture in the image's bitmap cache, and the image can go while the loop runs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"
#include "support/TestSupport.h"

using namespace giftest;

namespace {

int Argc = 1;
char Arg0[] = "test";
char* Argv[] = {Arg0, nullptr};

}  // namespace

TEST(PainterQt, AnimatesThroughTheEventLoop) {
  QCoreApplication App(Argc, Argv);
  auto Image = std::make_unique<gif::TGIFImage>();
  for (int i = 0; i < 3; ++i) {
    gif::TGIFSubImage* F = AddFrame(*Image, 0, 0, 4, 4, Bytes(16, static_cast<std::uint8_t>(i)),
                                    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}});
    AddGce(F, 1, 1);
  }
  Image->SetPaintOptions(gif::drThreaded | gif::drAnimate | gif::drLoop | gif::drLoopForever);
  Image->SetAnimationSpeed(1000);
  std::vector<int> Frames;
  bool OnLoopThread = true;
  QEventLoop Loop;
  Image->OnPaintFrameDone = [&](TObject* S) {
    OnLoopThread = OnLoopThread && IsMainThread();
    Frames.push_back(static_cast<gif::TGIFPainter*>(S)->ActiveFrame());
    if (Frames.size() == 7) Loop.quit();
  };
  TBitmap Screen;
  Screen.SetPixelFormat(pf24bit);
  Screen.SetWidth(8);
  Screen.SetHeight(8);
  Screen.Canvas()->StretchDraw(TRect{0, 0, 8, 8}, Image.get());
  QTimer::singleShot(testsupport::kHangGuardMs, &Loop, &QEventLoop::quit);
  Loop.exec();
  ASSERT_EQ(Frames.size(), 7u);
  EXPECT_EQ(Frames, (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
  EXPECT_TRUE(OnLoopThread);
  // The cache shows the last frame painted (all pixels index 0: red).
  Screen.Canvas()->StretchDraw(TRect{0, 0, 8, 8}, Image.get());
  EXPECT_EQ(PixelsOf(&Screen)[0], (Rgb{255, 0, 0}));
  // The image goes while its painter is still animating.
  Image.reset();
  QEventLoop After;
  QTimer::singleShot(50, &After, &QEventLoop::quit);
  After.exec();
}
