// TThread and Synchronize with a running Qt event loop; this program has its own main.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

#include "Watchdog.h"
#include "platform/rtl/Classes.h"

namespace {

class TLoopThread : public TThread {
 public:
  explicit TLoopThread(std::function<void(TLoopThread&)> Body) : TThread(true), FBody(std::move(Body)) {}
  ~TLoopThread() override {
    if (!Suspended() && !FreeOnTerminate()) {
      Terminate();
      WaitFor();
    }
  }
  using TThread::Synchronize;

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TLoopThread&)> FBody;
};

}  // namespace

// The event loop delivers the calls; then a timer on the main thread terminates the thread and
// waits for it while it is blocked in Synchronize.
TEST(SynchronizeWithQt, EventLoopDeliversAndWaitForEnds) {
  Watchdog dog("Qt event loop scenario");
  std::atomic<int> calls{0};
  std::atomic<bool> wrongThread{false};
  bool terminateRan = false;
  TLoopThread t([&](TLoopThread& self) {
    while (!self.Terminated())
      self.Synchronize([&] {
        if (!IsMainThread()) wrongThread = true;
        ++calls;
      });
  });
  t.OnTerminate = [&](TObject*) { terminateRan = IsMainThread(); };
  t.Start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (calls.load() < 100) return;
    poll.stop();
    t.Terminate();
    t.WaitFor();
    QCoreApplication::quit();
  });
  poll.start(5);
  QCoreApplication::exec();
  EXPECT_GE(calls.load(), 100);
  EXPECT_FALSE(wrongThread.load());
  EXPECT_TRUE(terminateRan);
  EXPECT_TRUE(t.Finished());
}

TEST(SynchronizeWithQt, FreeOnTerminateDeliversOnTerminateThroughTheLoop) {
  Watchdog dog("Qt OnTerminate");
  bool onMain = false;
  auto* t = new TLoopThread([](TLoopThread&) {});
  t->SetFreeOnTerminate(true);
  t->OnTerminate = [&](TObject*) {
    onMain = IsMainThread();
    QCoreApplication::quit();
  };
  QTimer::singleShot(0, [t] { t->Start(); });
  QCoreApplication::exec();
  EXPECT_TRUE(onMain);
}

TEST(SynchronizeWithQt, MainThreadIsTheApplicationThread) {
  EXPECT_TRUE(IsMainThread());
  bool inWorker = true;
  std::thread([&] { inWorker = IsMainThread(); }).join();
  EXPECT_FALSE(inWorker);
}

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
