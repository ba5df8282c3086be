// The animation's timer ticks through the Qt event loop on the user-interface thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <thread>

#include "picture/PxAni.h"
#include "support/TestSupport.h"
#include "tests/picture/PxTestSupport.h"

using namespace px;
using namespace pxtest;

TEST(AniAnimation, StepsOnTheEventLoop) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);

  TPxAni ani;
  TMemoryStream s;
  PutBytes(&s, AniBuilder().Header(2, 2, 3).Table("rate", {3, 6}).Frames({SolidIcon(clRed), SolidIcon(clLime)}).File());
  s.SetPosition(0);
  ani.LoadFromStream(&s);
  std::vector<int> steps;
  const auto thread = std::this_thread::get_id();
  bool sameThread = true;
  ani.OnChange = [&](TObject*) {
    steps.push_back(ani.FrameIndex());
    sameThread = sameThread && std::this_thread::get_id() == thread;
  };
  EXPECT_EQ(ani.Timer()->Interval(), 100u);
  ani.SetAnimating(true);
  QElapsedTimer clock;
  clock.start();
  while (steps.size() < 4 && clock.elapsed() < testsupport::kHangGuardMs)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  ani.SetAnimating(false);
  ASSERT_GE(steps.size(), 4u);
  EXPECT_EQ(steps[0], 1);
  EXPECT_EQ(steps[1], 0);
  EXPECT_EQ(steps[2], 1);
  EXPECT_TRUE(sameThread);
  // Step 0 lasts 50 ms (rate 3), step 1 100 ms (rate 6).
  EXPECT_EQ(ani.Timer()->Interval(), ani.FrameIndex() == 0 ? 50u : 100u);
  const std::size_t stopped = steps.size();
  clock.restart();
  while (clock.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(steps.size(), stopped);
}
