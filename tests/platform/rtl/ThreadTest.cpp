#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Watchdog.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"

namespace {

const std::thread::id kMainThread = std::this_thread::get_id();

// A thread whose Execute is a lambda.
class TLambdaThread : public TThread {
 public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> Body, std::atomic<bool>* Destroyed = nullptr)
      : TThread(true), FBody(std::move(Body)), FDestroyed(Destroyed) {}
  ~TLambdaThread() override {
    Terminate();
    if (Suspended() || FreeOnTerminate()) {
      // never started, or deleting itself at its end
    } else {
      WaitFor();
    }
    if (FDestroyed) FDestroyed->store(true);
  }
  using TThread::SetReturnValue;
  using TThread::Synchronize;

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TLambdaThread&)> FBody;
  std::atomic<bool>* FDestroyed;
};

}  // namespace

TEST(Thread, RunsWhenStartedAndReturnsItsValue) {
  TLambdaThread t([](TLambdaThread& self) {
    EXPECT_EQ(TThread::CurrentThread(), &self);
    EXPECT_FALSE(IsMainThread());
    self.SetReturnValue(42);
  });
  EXPECT_TRUE(t.Suspended());
  EXPECT_EQ(t.ThreadID(), 0u);
  EXPECT_THROW(t.WaitFor(), EThread);  // never started
  t.Start();
  EXPECT_FALSE(t.Suspended());
  EXPECT_NE(t.ThreadID(), 0u);
  EXPECT_NE(t.ThreadID(), GetCurrentThreadId());
  EXPECT_EQ(t.WaitFor(), 42u);
  EXPECT_TRUE(t.Finished());
  EXPECT_THROW(t.Start(), EThread);
  t.Resume();  // nothing
  EXPECT_TRUE(IsMainThread());
  EXPECT_EQ(TThread::CurrentThread(), nullptr);
}

TEST(Thread, ExceptionInExecuteIsKept) {
  TLambdaThread t([](TLambdaThread&) { throw EInvalidGraphic(); });
  t.Resume();
  t.WaitFor();
  ASSERT_TRUE(t.FatalException());
  try {
    std::rethrow_exception(t.FatalException());
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Bitmap image is not valid");
  }
  TLambdaThread other([](TLambdaThread&) { throw 17; });  // not even an exception class
  other.Start();
  other.WaitFor();
  EXPECT_TRUE(other.FatalException());
}

TEST(Thread, TerminatedBeforeStartSkipsExecuteAndPriorityIsKept) {
  bool ran = false;
  TLambdaThread t([&](TLambdaThread&) { ran = true; });
  t.SetPriority(tpHigher);
  EXPECT_EQ(t.Priority(), tpHigher);
  t.Terminate();
  t.Start();
  t.WaitFor();
  EXPECT_FALSE(ran);
}

TEST(Thread, FreeOnTerminateAndOnTerminateOnTheMainThread) {
  Watchdog dog("FreeOnTerminate");
  std::atomic<bool> destroyed{false};
  std::thread::id terminateThread;
  TObject* sender = nullptr;
  auto* t = new TLambdaThread([](TLambdaThread&) {}, &destroyed);
  t->SetFreeOnTerminate(true);
  t->OnTerminate = [&](TObject* Sender) {
    terminateThread = std::this_thread::get_id();
    sender = Sender;
  };
  TThread* expected = t;
  t->Start();
  while (!destroyed.load()) CheckSynchronize(10);
  EXPECT_EQ(terminateThread, kMainThread);
  EXPECT_EQ(sender, expected);
}

TEST(Synchronize, RunsOnTheMainThreadAndPassesExceptionsBack) {
  Watchdog dog("Synchronize");
  std::thread::id ranOn;
  bool caught = false;
  std::atomic<bool> done{false};
  TLambdaThread t([&](TLambdaThread& self) {
    self.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      self.Synchronize([] { throw EAbort(); });
    } catch (const EAbort&) {
      caught = true;
    }
    EXPECT_THROW(CheckSynchronize(), EThread);  // only the main thread may
    done = true;
  });
  t.Start();
  while (!done.load()) CheckSynchronize(10);
  t.WaitFor();
  EXPECT_EQ(ranOn, kMainThread);
  EXPECT_TRUE(caught);
  // On the main thread the call runs at once.
  bool direct = false;
  Synchronize([&] { direct = true; });
  EXPECT_TRUE(direct);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(Synchronize, FromAPlainThread) {
  Watchdog dog("plain thread");
  int value = 0;
  std::thread plain([&] { Synchronize([&] { value = 5; }); });
  while (value == 0) CheckSynchronize(10);
  plain.join();
  EXPECT_EQ(value, 5);
}

// The user-interface thread terminates and waits for a thread that keeps calling Synchronize:
// WaitFor runs the queued calls, so both finish.
TEST(Synchronize, WaitForWhileTheThreadIsBlockedInSynchronize) {
  Watchdog dog("WaitFor during Synchronize");
  std::atomic<int> calls{0};
  bool terminateRan = false;
  TLambdaThread t([&](TLambdaThread& self) {
    while (!self.Terminated()) self.Synchronize([&] { ++calls; });
    self.Synchronize([&] { ++calls; });  // one more after Terminate
  });
  t.OnTerminate = [&](TObject*) { terminateRan = true; };
  t.Start();
  while (calls.load() < 50) CheckSynchronize(10);
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(terminateRan);
  EXPECT_TRUE(t.Finished());
}

TEST(Synchronize, DestroyingARunningThreadWaitsWithoutDeadlock) {
  Watchdog dog("destructor during Synchronize");
  std::atomic<int> calls{0};
  auto* t = new TLambdaThread([&](TLambdaThread& self) {
    while (!self.Terminated()) self.Synchronize([&] { ++calls; });
  });
  t->Start();
  while (calls.load() < 5) CheckSynchronize(10);
  delete t;  // Terminate + WaitFor, which keeps serving Synchronize
  SUCCEED();
}

TEST(Synchronize, WaitForFromAnotherThread) {
  Watchdog dog("WaitFor from another thread");
  std::atomic<bool> waited{false};
  TLambdaThread t([](TLambdaThread& self) { self.SetReturnValue(3); });
  t.Start();
  std::thread waiter([&] {
    EXPECT_EQ(t.WaitFor(), 3u);
    waited = true;
  });
  waiter.join();
  EXPECT_TRUE(waited.load());
}

// Cancelled calls return to their thread without running.
TEST(Synchronize, RemoveQueuedEventsCancelsPendingCalls) {
  Watchdog dog("RemoveQueuedEvents");
  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  TLambdaThread t([&](TLambdaThread& self) {
    self.Synchronize([&] { ran = true; });
    returned = true;
  });
  t.Start();
  while (!returned.load()) {
    TThread::RemoveQueuedEvents(&t);
    Sleep(1);
  }
  t.WaitFor();
  EXPECT_FALSE(ran.load());

  // Calls of other threads stay queued.
  std::atomic<bool> otherRan{false};
  std::thread plain([&] { Synchronize([&] { otherRan = true; }); });
  TThread::RemoveQueuedEvents(&t);
  while (!otherRan.load()) CheckSynchronize(10);
  plain.join();
}
