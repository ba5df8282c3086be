#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/graphics/Graphics.h"

TEST(CanvasLock, LockIsHeldAcrossThreadsAndReentrant) {
  TBitmap bitmap;
  TCanvas* canvas = bitmap.Canvas();
  canvas->Lock();
  canvas->Lock();
  EXPECT_EQ(canvas->LockCount(), 2);
  std::atomic<bool> gotIt{true};
  std::thread([&] { gotIt = canvas->TryLock(); }).join();
  EXPECT_FALSE(gotIt);
  canvas->Unlock();
  canvas->Unlock();
  EXPECT_EQ(canvas->LockCount(), 0);
  std::thread([&] {
    gotIt = canvas->TryLock();
    if (gotIt) canvas->Unlock();
  }).join();
  EXPECT_TRUE(gotIt);
}

TEST(CanvasDrawing, BrushPenClipAndRefresh) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(6);
  bitmap.SetHeight(6);
  TCanvas* canvas = bitmap.Canvas();
  TRect clip = canvas->ClipRect();
  EXPECT_EQ(clip.right, 6);
  EXPECT_EQ(clip.bottom, 6);
  canvas->Brush()->SetColor(clYellow);
  canvas->Pen()->SetColor(clNavy);
  canvas->Rectangle(0, 0, 6, 6);
  EXPECT_EQ(canvas->Pixels(0, 0), clNavy);
  EXPECT_EQ(canvas->Pixels(3, 3), clYellow);
  canvas->Brush()->SetColor(clBtnFace);  // a system colour is drawn as its RGB value
  canvas->FillRect(TRect{2, 2, 4, 4});
  EXPECT_EQ(canvas->Pixels(2, 2), ColorToRGB(clBtnFace));
  canvas->Refresh();
  canvas->Brush()->SetStyle(bsClear);
  canvas->Rectangle(1, 1, 5, 5);
  EXPECT_EQ(canvas->Pixels(2, 2), ColorToRGB(clBtnFace));  // hollow
  EXPECT_EQ(canvas->Pixels(-1, 0), -1);
  TCanvas plain;
  EXPECT_THROW(plain.Handle(), EInvalidGraphicOperation);
}
