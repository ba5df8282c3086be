// TThread and the hand-over of calls to the user-interface thread.
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"

#if KELV_RTL_WITH_QT
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#endif

namespace {

// The process's first thread that used this library; fixed at load time below.
std::thread::id FirstThread() {
  static const std::thread::id id = std::this_thread::get_id();
  return id;
}
const std::thread::id gFirstThreadAtLoad = FirstThread();

// One Synchronize call waiting for the user-interface thread.
struct SyncCall {
  enum class State { Queued, Running, Done, Cancelled };
  TThread* thread{nullptr};
  const TThreadMethod* method{nullptr};
  State state{State::Queued};
  std::exception_ptr error;
};

// One lock and one condition serve the queue, the waiting callers and WaitFor: every queued,
// finished or cancelled call and every ended thread notifies all waiters. Never destroyed:
// threads may still wait on them while the process exits.
struct SyncState {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<SyncCall*> queue;
};
SyncState& Sync() {
  static SyncState* const state = new SyncState;
  return *state;
}

thread_local TThread* tCurrentThread = nullptr;

void WakeMainThread() {
#if KELV_RTL_WITH_QT
  if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(
        app,
        [] {
          try {
            CheckSynchronize();
          } catch (...) {
            // not the main thread: nothing to run here
          }
        },
        Qt::QueuedConnection);
  }
#endif
}

}  // namespace

bool IsMainThread() {
#if KELV_RTL_WITH_QT
  if (QCoreApplication* app = QCoreApplication::instance()) return QThread::currentThread() == app->thread();
#endif
  return std::this_thread::get_id() == FirstThread();
}

bool CheckSynchronize(int Timeout) {
  if (!IsMainThread()) throw EThread("CheckSynchronize called from a thread that is not the main thread");
  std::unique_lock lock(Sync().lock);
  if (Sync().queue.empty() && Timeout > 0)
    Sync().changed.wait_for(lock, std::chrono::milliseconds(Timeout), [] { return !Sync().queue.empty(); });
  // Only the calls queued by now: a caller that queues again at once cannot keep us here.
  std::size_t pending = Sync().queue.size();
  bool ran = false;
  while (pending-- > 0 && !Sync().queue.empty()) {
    SyncCall* call = Sync().queue.front();
    Sync().queue.pop_front();
    call->state = SyncCall::State::Running;
    lock.unlock();
    try {
      (*call->method)();
    } catch (...) {
      call->error = std::current_exception();
    }
    lock.lock();
    call->state = SyncCall::State::Done;  // the caller may free the call from here on
    Sync().changed.notify_all();
    ran = true;
  }
  return ran;
}

void TThread::Synchronize(TThread* Thread, const TThreadMethod& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  SyncCall call;
  call.thread = Thread;
  call.method = &Method;
  {
    std::lock_guard lock(Sync().lock);
    Sync().queue.push_back(&call);
  }
  Sync().changed.notify_all();
  WakeMainThread();
  std::unique_lock lock(Sync().lock);
  Sync().changed.wait(lock, [&] {
    return call.state == SyncCall::State::Done || call.state == SyncCall::State::Cancelled;
  });
  if (call.error) std::rethrow_exception(call.error);
}

void Synchronize(const TThreadMethod& Method) { TThread::Synchronize(TThread::CurrentThread(), Method); }

void TThread::RemoveQueuedEvents(TThread* Thread) {
  {
    std::lock_guard lock(Sync().lock);
    for (auto it = Sync().queue.begin(); it != Sync().queue.end();) {
      if ((*it)->thread == Thread) {
        (*it)->state = SyncCall::State::Cancelled;
        it = Sync().queue.erase(it);
      } else {
        ++it;
      }
    }
  }
  Sync().changed.notify_all();
}

TThread* TThread::CurrentThread() { return tCurrentThread; }

// ---------------------------------------------------------------------------------------------
// TThread

TThread::TThread(bool /*CreateSuspended*/) { (void)gFirstThreadAtLoad; }

TThread::~TThread() {
  const bool ownThread = FThread.joinable() && FThread.get_id() == std::this_thread::get_id();
  if (FStarted.load() && !FDone.load() && !ownThread) {
    Terminate();
    WaitFor();
  }
  if (FThread.joinable()) {
    if (ownThread)
      FThread.detach();
    else
      FThread.join();
  }
}

void TThread::StartThread() {
  // The new thread reports its id and then waits until FThread is stored: a FreeOnTerminate
  // thread may otherwise delete itself while it is still being assigned.
  std::promise<DWORD> reportId;
  std::future<DWORD> id = reportId.get_future();
  std::promise<void> go;
  FThread = std::thread([this, reportId = std::move(reportId), goSignal = go.get_future()]() mutable {
    reportId.set_value(GetCurrentThreadId());
    goSignal.wait();
    Run();
  });
  FThreadID.store(id.get());
  go.set_value();
}

void TThread::Start() {
  bool expected = false;
  if (!FStarted.compare_exchange_strong(expected, true))
    throw EThread("Cannot call Start on a running or finished thread");
  StartThread();
}

void TThread::Resume() {
  bool expected = false;
  if (FStarted.compare_exchange_strong(expected, true)) StartThread();
}

void TThread::Run() {
  tCurrentThread = this;
  if (!Terminated()) {
    try {
      Execute();
    } catch (...) {
      FFatalException = std::current_exception();
    }
  }
  FFinished.store(true);
  const bool freeSelf = FFreeOnTerminate;
  try {
    DoTerminate();
  } catch (...) {
    if (!FFatalException) FFatalException = std::current_exception();
  }
  {
    std::lock_guard lock(Sync().lock);
    FDone.store(true);
  }
  Sync().changed.notify_all();
  if (freeSelf) delete this;
  tCurrentThread = nullptr;
}

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

DWORD TThread::WaitFor() {
  if (!FStarted.load()) throw EThread("Cannot wait for a thread that was not started");
  if (FThread.get_id() == std::this_thread::get_id()) throw EThread("A thread cannot wait for itself");
  if (IsMainThread()) {
    // Keep running the queued calls: the thread may be waiting in Synchronize.
    std::unique_lock lock(Sync().lock);
    while (!FDone.load()) {
      if (!Sync().queue.empty()) {
        lock.unlock();
        CheckSynchronize();
        lock.lock();
        continue;
      }
      Sync().changed.wait(lock);
    }
  } else {
    std::unique_lock lock(Sync().lock);
    Sync().changed.wait(lock, [this] { return FDone.load(); });
  }
  if (FThread.joinable()) FThread.join();
  return static_cast<DWORD>(FReturnValue);
}
