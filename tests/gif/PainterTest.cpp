// The painter: timing arithmetic (with given clock readings), loop counts and the loop start,
// events, stopping a waiting painter, steps stopped while queued, passes that show nothing,
// ending through the message pump, Draw's reuse of a running painter, and images freed or
// cleared while a painter runs, waits in Synchronize or pumps messages inside Draw.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"
#include "support/TestSupport.h"

using namespace giftest;
using gif::TGIFImage;
using gif::TGIFPainter;

namespace {

const std::vector<Rgb> kTwo{{255, 0, 0}, {0, 0, 255}};

// Frames of 4 x 4 with the given delays; a looping extension on frame 0 when Loops >= 0.
std::unique_ptr<TGIFImage> Animation(const std::vector<int>& Delays, int Loops = -1, int Disposal = 1) {
  auto Image = std::make_unique<TGIFImage>();
  for (std::size_t i = 0; i < Delays.size(); ++i) {
    gif::TGIFSubImage* F = AddFrame(*Image, 0, 0, 4, 4, Bytes(16, static_cast<std::uint8_t>(i % 2)), kTwo);
    if (i == 0 && Loops >= 0) {
      auto L = std::make_unique<gif::TGIFAppExtNSLoop>(F);
      L->SetLoopCount(static_cast<std::uint16_t>(Loops));
      F->Extensions().Add(L.release());
    }
    AddGce(F, Disposal, Delays[i]);
  }
  return Image;
}

std::unique_ptr<TBitmap> Surface(int W = 8, int H = 8) {
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(pf24bit);
  B->SetWidth(W);
  B->SetHeight(H);
  return B;
}

// Pumps the synchronised calls until Done or about Limit ms; whether Done came.
template <class F>
bool PumpUntil(F&& Done, int Limit = testsupport::kHangGuardMs) {
  for (int i = 0; i < Limit / 5 && !Done(); ++i) CheckSynchronize(5);
  return Done();
}

bool NoPainters(TGIFImage& Image) {
  const int N = Image.PainterList()->LockList()->Count();
  Image.PainterList()->UnlockList();
  return N == 0;
}

struct Events {
  std::vector<std::string> Seen;
  int Frames{0};
  void Attach(TGIFImage& Image) {
    Image.OnPaintStart = [this](TObject*) { Seen.push_back("start"); };
    Image.OnPaintLoop = [this](TObject*) { Seen.push_back("loop"); };
    Image.OnPaintFrameDone = [this](TObject* S) {
      ++Frames;
      Seen.push_back(std::to_string(static_cast<TGIFPainter*>(S)->ActiveFrame()));
    };
    Image.OnPaintEnd = [this](TObject*) { Seen.push_back("end"); };
  }
};

constexpr gif::TGIFPaintFlags kAnimate = gif::drAnimate | gif::drDirect;

}  // namespace

TEST(PainterTiming, Delays) {
  TGIFImage Image;
  gif::TGIFSubImage* F = AddFrame(Image, 0, 0, 1, 1, {0}, kTwo);
  EXPECT_EQ(gif::FrameDelay(F, true), gif::DefaultFrameDelay);  // no extension
  gif::TGIFGraphicControlExtension* G = AddGce(F, 1, 0);
  EXPECT_EQ(gif::FrameDelay(F, true), 10);
  G->SetDelayTime(2);
  EXPECT_EQ(gif::FrameDelay(F, false), 3);
  G->SetDelayTime(5000);
  EXPECT_EQ(gif::FrameDelay(F, false), 1000);
  EXPECT_EQ(gif::FrameDelay(F, true), 5000);
}

TEST(PainterTiming, Waits) {
  // On time: 10 and 3 hundredths at rate 100 plan 120 and 36 ms.
  EXPECT_EQ(gif::PlanFrameWait(10, 100, 1000, 1000, 0, true).Wait, 120);
  EXPECT_EQ(gif::PlanFrameWait(3, 100, 5000, 5000, 0, true).Wait, 36);
  // The last step took 160 ms where 120 were planned: half of the 40 ms overrun comes off.
  const auto Late = gif::PlanFrameWait(10, 100, 1160, 1000, 120, true);
  EXPECT_EQ(Late.Wait, 100);
  EXPECT_EQ(Late.Carried, 100);
  // Rate 200 halves the wait, rate 50 doubles it.
  EXPECT_EQ(gif::PlanFrameWait(10, 200, 0, 0, 0, true).Wait, 60);
  EXPECT_EQ(gif::PlanFrameWait(10, 50, 0, 0, 0, true).Wait, 240);
  // Paused: a threaded painter waits until stopped, an inline one 12 s.
  EXPECT_EQ(gif::PlanFrameWait(10, 0, 0, 0, 0, true).Wait, gif::INFINITE_WAIT);
  EXPECT_EQ(gif::PlanFrameWait(10, -5, 0, 0, 0, false).Wait, 12000);
  // The clock wraps: the difference of the readings still counts.
  EXPECT_EQ(gif::PlanFrameWait(10, 100, 20, 0xFFFFFFF0u, 0, true).Wait, 120 - 18);
  // Arithmetic beyond 32 bits: the fallback wait.
  const auto Over = gif::PlanFrameWait(1000000000, 1, 0, 0, 0, true);
  EXPECT_EQ(Over.Wait, 12000);
  EXPECT_EQ(Over.Carried, 0);
}

TEST(Painter, LoopCountsAndEvents) {
  // Loop count 3 with drLoop: three passes; inline painters count 0 as one pass.
  auto Image = Animation({0, 0}, 3);
  Image->SetAnimationSpeed(100000);
  auto S = Surface();
  Events E;
  E.Attach(*Image);
  Image->StartPainter(nullptr, S->Canvas(), kAnimate | gif::drLoop, TRect{0, 0, 4, 4});
  EXPECT_EQ(E.Seen, (std::vector<std::string>{"start", "0", "1", "loop", "0", "1", "loop", "0", "1", "end"}));
  EXPECT_TRUE(NoPainters(*Image));

  Events One;
  One.Attach(*Image);
  Image->StartPainter(nullptr, S->Canvas(), kAnimate, TRect{0, 0, 4, 4});
  EXPECT_EQ(One.Frames, 2);

  auto Zero = Animation({0, 0}, 0);
  Zero->SetAnimationSpeed(100000);
  Events Z;
  Z.Attach(*Zero);
  Zero->StartPainter(nullptr, S->Canvas(), kAnimate | gif::drLoop, TRect{0, 0, 4, 4});
  EXPECT_EQ(Z.Frames, 2);

  // Forever: until an event handler stops the painter.
  Events F;
  F.Attach(*Zero);
  TGIFPainter* P = nullptr;
  Zero->OnPaintFrameDone = [&](TObject* Sender) {
    if (++F.Frames == 7) static_cast<TGIFPainter*>(Sender)->Stop();
  };
  Zero->StartPainter(&P, S->Canvas(), kAnimate | gif::drLoop | gif::drLoopForever, TRect{0, 0, 4, 4});
  EXPECT_EQ(F.Frames, 7);
  EXPECT_EQ(P, nullptr);

  // Passes after the first begin at the frame that carries the looping extension.
  auto Later = Animation({0, 0, 0});
  Later->SetAnimationSpeed(100000);
  {
    gif::TGIFSubImage* F1 = Later->Images().FrameAt(1);
    auto L = std::make_unique<gif::TGIFAppExtNSLoop>(F1);
    L->SetLoopCount(2);
    F1->Extensions().Add(L.release());
  }
  Events Lt;
  Lt.Attach(*Later);
  Later->StartPainter(nullptr, S->Canvas(), kAnimate | gif::drLoop, TRect{0, 0, 4, 4});
  EXPECT_EQ(Lt.Seen, (std::vector<std::string>{"start", "0", "1", "2", "loop", "1", "2", "end"}));
  Events LtThreaded;
  LtThreaded.Attach(*Later);
  Later->SetAnimationSpeed(-1);
  TGIFPainter* T = nullptr;
  Later->StartPainter(&T, S->Canvas(), kAnimate | gif::drLoop | gif::drThreaded, TRect{0, 0, 4, 4})->Start();
  ASSERT_TRUE(PumpUntil([&] { return T == nullptr; }));
  EXPECT_EQ(LtThreaded.Seen, Lt.Seen);

  // An empty rectangle starts nothing; a still picture paints once without a thread.
  P = reinterpret_cast<TGIFPainter*>(1);
  EXPECT_EQ(Image->StartPainter(&P, S->Canvas(), kAnimate | gif::drThreaded, TRect{2, 0, 2, 4}), nullptr);
  EXPECT_EQ(P, nullptr);
  auto Still = Animation({0});
  Events St;
  St.Attach(*Still);
  EXPECT_EQ(Still->StartPainter(nullptr, S->Canvas(), kAnimate | gif::drThreaded, TRect{0, 0, 4, 4}), nullptr);
  EXPECT_EQ(St.Frames, 1);
}

TEST(Painter, ThreadedLoopsAndStopsDuringALongWait) {
  auto Image = Animation({0, 0}, 2);
  Image->SetAnimationSpeed(100000);
  auto S = Surface();
  Events E;
  E.Attach(*Image);
  TGIFPainter* P = nullptr;
  ASSERT_NE(Image->StartPainter(&P, S->Canvas(), kAnimate | gif::drLoop | gif::drThreaded, TRect{0, 0, 4, 4}), nullptr);
  EXPECT_TRUE(P->HasWakeEvent());
  P->Start();
  ASSERT_TRUE(PumpUntil([&] { return P == nullptr; }));
  EXPECT_EQ(E.Seen, (std::vector<std::string>{"start", "0", "1", "loop", "0", "1", "end"}));
  EXPECT_TRUE(NoPainters(*Image));

  // A delay of 50 s: Stop wakes the painter at once (a missed wake would outlast the pump).
  auto Slow = Animation({5000, 5000});
  Events W;
  W.Attach(*Slow);
  TGIFPainter* Q = nullptr;
  Slow->StartPainter(&Q, S->Canvas(), kAnimate | gif::drThreaded, TRect{0, 0, 4, 4})->Start();
  ASSERT_TRUE(PumpUntil([&] { return W.Frames == 1; }));
  Q->Stop();
  ASSERT_TRUE(PumpUntil([&] { return Q == nullptr; }));
  EXPECT_EQ(W.Frames, 1);

  // Rate 0: a threaded painter waits until it is stopped; a negative rate makes no event.
  Slow->SetAnimationSpeed(0);
  Events Paused;
  Paused.Attach(*Slow);
  Slow->StartPainter(&Q, S->Canvas(), kAnimate | gif::drThreaded, TRect{0, 0, 4, 4})->Start();
  ASSERT_TRUE(PumpUntil([&] { return Paused.Frames == 1; }));
  Slow->StopAllPainters();
  EXPECT_EQ(Q, nullptr);
  Slow->SetAnimationSpeed(-1);
  TGIFPainter* N = Slow->StartPainter(&Q, S->Canvas(), kAnimate | gif::drThreaded, TRect{0, 0, 4, 4});
  EXPECT_FALSE(N->HasWakeEvent());
  N->Start();
  ASSERT_TRUE(PumpUntil([&] { return Q == nullptr; }));
}

TEST(Painter, InlineWaitsKeepTheQueueAndEndOnQuit) {
  auto Image = Animation({5000, 5000});
  auto S = Surface();
  int Pumps = 0;
  // The application's loop ends while the painter waits: the painter ends too.
  gif::SetGIFMessagePump([&] { return ++Pumps < 3; });
  Events E;
  E.Attach(*Image);
  Image->StartPainter(nullptr, S->Canvas(), kAnimate, TRect{0, 0, 4, 4});
  // One pump in the first short wait, then frame 0, then the long wait that the quit ends;
  // a terminated painter raises no more events.
  EXPECT_EQ(Pumps, 3);
  EXPECT_EQ(E.Frames, 1);
  EXPECT_EQ(E.Seen, (std::vector<std::string>{"start", "0"}));
  // Stop from the queue: the wait ends within its slice.
  TGIFPainter* P = nullptr;
  Pumps = 0;
  gif::SetGIFMessagePump([&] {
    if (++Pumps == 2 && P) P->Stop();
    return true;
  });
  Image->StartPainter(&P, S->Canvas(), kAnimate, TRect{0, 0, 4, 4});
  EXPECT_EQ(Pumps, 2);
  gif::SetGIFMessagePump(nullptr);
}

TEST(Painter, PassesThatShowNothingStillWait) {
  // Looping forever where the pass begins at a frame without pixels: every pass waits the
  // shortest frame time (an inline painter keeps pumping the queue) instead of spinning.
  auto Image = Animation({0, 0});
  Image->Images().FrameAt(0)->FreePixels();
  auto S = Surface();
  TGIFPainter* P = nullptr;
  int Pumps = 0;
  gif::SetGIFMessagePump([&] {
    if (++Pumps == 3) P->Stop();
    return true;
  });
  Events E;
  E.Attach(*Image);
  Image->StartPainter(&P, S->Canvas(), kAnimate | gif::drLoop | gif::drLoopForever, TRect{0, 0, 4, 4});
  gif::SetGIFMessagePump(nullptr);
  EXPECT_EQ(Pumps, 3);
  EXPECT_EQ(E.Frames, 0);
  EXPECT_EQ(P, nullptr);
  // A threaded one waits on its wake event, which Stop sets.
  TGIFPainter* Q = nullptr;
  Image->StartPainter(&Q, S->Canvas(), kAnimate | gif::drLoop | gif::drLoopForever | gif::drThreaded,
                      TRect{0, 0, 4, 4})
      ->Start();
  ASSERT_TRUE(PumpUntil([&] { return Q != nullptr; }));
  Q->Stop();
  ASSERT_TRUE(PumpUntil([&] { return Q == nullptr; }));
}

TEST(Painter, StepsQueuedBeforeAStopDoNotRun) {
  // A painter that never waits is almost always blocked handing a step to this thread. Stopped
  // between two pumps, the step it has queued by then must not run: no event after the stop.
  auto S = Surface();
  auto Image = Animation({0, 0, 0}, 0);
  Image->SetAnimationSpeed(-1);
  bool Stopped = false;
  int After = 0, Before = 0;
  auto Count = [&](TObject*) { Stopped ? ++After : ++Before; };
  Image->OnPaintFrame = Count;
  Image->OnPaintFrameDone = Count;
  Image->OnPaintLoop = Count;
  Image->OnPaintEnd = Count;
  for (int Round = 0; Round < 60; ++Round) {
    Stopped = false;
    TGIFPainter* P = nullptr;
    Image->StartPainter(&P, S->Canvas(), kAnimate | gif::drLoop | gif::drThreaded, TRect{0, 0, 4, 4})->Start();
    for (int Steps = 0; Steps < 1 + Round % 7;)
      if (CheckSynchronize(5)) ++Steps;
    // Let the painter queue its next step.
    for (int i = 0; i < 100 + 50 * (Round % 5); ++i) std::this_thread::yield();
    P->Stop();
    Stopped = true;
    ASSERT_TRUE(PumpUntil([&] { return P == nullptr; }));
  }
  EXPECT_GT(Before, 0);
  EXPECT_EQ(After, 0);
}

TEST(Painter, ImageFreedDuringAnInlineDraw) {
  // Draw runs an inline painter, which raises the paint events and pumps messages: freeing the
  // image from either leaves Draw without touching the image again.
  auto S = Surface(16, 16);
  for (const gif::TGIFPaintFlags Direct : {gif::TGIFPaintFlags{0}, gif::drDirect}) {
    auto* Image = Animation({0, 0, 0}, 0, 2).release();
    Image->SetPaintOptions(gif::drAnimate | gif::drLoop | gif::drTransparent | Direct);
    Image->SetAnimationSpeed(100000);
    int Frames = 0;
    Image->OnPaintFrameDone = [&](TObject*) {
      if (++Frames == 2) delete Image;
    };
    S->Canvas()->StretchDraw(TRect{0, 0, 8, 8}, Image);
    EXPECT_EQ(Frames, 2);
  }
  // From the message pump while the painter waits between frames.
  auto* Image = Animation({5000, 5000}).release();
  Image->SetPaintOptions(gif::drAnimate | gif::drLoop | gif::drTransparent);
  int Pumps = 0;
  gif::SetGIFMessagePump([&] {
    if (++Pumps == 2) delete Image;
    return true;
  });
  S->Canvas()->StretchDraw(TRect{0, 0, 8, 8}, Image);
  gif::SetGIFMessagePump(nullptr);
  EXPECT_EQ(Pumps, 2);
}

TEST(Painter, ErrorsOfAnInlinePainterReachTheCaller) {
  auto Image = Animation({0, 0});
  Image->SetAnimationSpeed(100000);
  auto S = Surface();
  Image->OnPaintFrame = [](TObject*) { throw EConvertError("bad frame"); };
  TGIFPainter* P = nullptr;
  EXPECT_THROW(Image->StartPainter(&P, S->Canvas(), kAnimate, TRect{0, 0, 4, 4}), EConvertError);
  EXPECT_EQ(P, nullptr);
  EXPECT_TRUE(NoPainters(*Image));
}

TEST(Painter, DrawReusesARunningPainter) {
  auto Image = Animation({5000, 5000});
  Image->SetPaintOptions(gif::drThreaded | gif::drAnimate | gif::drLoop | gif::drTransparent);
  auto S = Surface(16, 16);
  S->Canvas()->StretchDraw(TRect{0, 0, 4, 4}, Image.get());
  TGIFPainter* First = Image->Painter();
  ASSERT_NE(First, nullptr);
  ASSERT_NE(Image->BitmapCache(), nullptr);
  S->Canvas()->StretchDraw(TRect{0, 0, 4, 4}, Image.get());
  EXPECT_EQ(Image->Painter(), First);
  // With a cache the same call only shows it; drDirect and a new rectangle start a new painter.
  Image->SetPaintOptions(Image->PaintOptions() | gif::drDirect);
  S->Canvas()->StretchDraw(TRect{0, 0, 8, 8}, Image.get());
  ASSERT_NE(Image->Painter(), nullptr);
  EXPECT_EQ(Image->Painter()->Rect().right, 8);
  Image->StopAllPainters();
  EXPECT_TRUE(NoPainters(*Image));
  EXPECT_EQ(Image->Painter(), nullptr);
}

TEST(Painter, ImagesGoWhilePaintersRunOrWaitInSynchronize) {
  auto S = Surface();
  for (int Round = 0; Round < 20; ++Round) {
    auto Image = Animation({0, 0, 0}, 0);
    Image->SetAnimationSpeed(-1);
    std::atomic<int> Frames{0};
    Image->OnPaintFrame = [&](TObject*) { ++Frames; };
    Image->StartPainter(nullptr, S->Canvas(), kAnimate | gif::drLoop | gif::drThreaded, TRect{0, 0, 4, 4})->Start();
    // Without pumping, the painter soon blocks in Synchronize; freeing the image must end it.
    std::this_thread::sleep_for(std::chrono::milliseconds(Round % 4));
    if (Round % 2) PumpUntil([&] { return Frames > Round; }, 200);
    Image.reset();
  }
  // Frames with long extension lists keep the painter thread reading the image between its
  // steps: freeing the image then must wait until the thread has let go of it.
  for (int Round = 0; Round < 30; ++Round) {
    auto Image = Animation({0, 0}, 0);
    for (int f = 0; f < 2; ++f)
      for (int e = 0; e < 3000; ++e) {
        gif::TGIFSubImage* F = Image->Images().FrameAt(f);
        F->Extensions().Add(new gif::TGIFCommentExtension(F));
      }
    Image->SetAnimationSpeed(-1);
    TGIFPainter* P = nullptr;
    Image->StartPainter(&P, S->Canvas(), kAnimate | gif::drLoop | gif::drThreaded, TRect{0, 0, 4, 4})->Start();
    // Free the image right after one of the painter's steps ran: the thread goes on reading.
    for (int Steps = 0; Steps < 1 + Round % 4;)
      if (CheckSynchronize(5)) ++Steps;
    Image.reset();
  }
  // Clearing from one of the painter's own events (a step on this thread) does not wait for it.
  auto Image = Animation({0, 0}, 0);
  Image->SetAnimationSpeed(-1);
  bool Cleared = false;
  Image->OnPaintFrameDone = [&](TObject*) {
    if (!Cleared) {
      Cleared = true;
      Image->Clear();
    }
  };
  TGIFPainter* P = nullptr;
  Image->StartPainter(&P, S->Canvas(), kAnimate | gif::drLoop | gif::drThreaded, TRect{0, 0, 4, 4})->Start();
  ASSERT_TRUE(PumpUntil([&] { return Cleared && P == nullptr; }));
  EXPECT_TRUE(Image->Empty());
}

TEST(Painter, DisposalsAndCanvasCheck) {
  // Undefined disposal values paint like "leave in place".
  auto S = Surface();
  for (int Disposal : {0, 2, 3, 4, 7}) {
    auto Image = Animation({0, 0}, -1, Disposal);
    Image->SetAnimationSpeed(100000);
    Events E;
    E.Attach(*Image);
    Image->StartPainter(nullptr, S->Canvas(), kAnimate | gif::drTransparent, TRect{0, 0, 4, 4});
    EXPECT_EQ(E.Frames, 2) << Disposal;
  }
  // A memory DC passes the canvas check.
  auto Image = Animation({0, 0}, -1, 2);
  Image->SetAnimationSpeed(100000);
  Events E;
  E.Attach(*Image);
  Image->StartPainter(nullptr, S->Canvas(), kAnimate | gif::drCheckCanvas, TRect{0, 0, 4, 4});
  EXPECT_EQ(E.Frames, 2);
}
