#pragma once
// Helpers shared by the control tests: a host that records what the model tells it, a 32-bit
// surface to paint controls on, a parent that records its messages, and pattern bitmaps.
#include <memory>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/ui/Controls.h"

namespace uitest {

class RecordingHost : public IControlHost {
 public:
  explicit RecordingHost(TControl* Control) : FControl(Control) { Control->SetHost(this); }
  ~RecordingHost() override {
    if (FControl) FControl->SetHost(nullptr);
  }
  void ControlChanged(TControlChange Change) override {
    Changes.push_back(Change);
    if (Change == ccDestroying) FControl = nullptr;
  }
  int Count(TControlChange Change) const {
    int n = 0;
    for (TControlChange c : Changes) n += c == Change ? 1 : 0;
    return n;
  }
  std::vector<TControlChange> Changes;

 private:
  TControl* FControl;
};

// A windowed parent that records every message it gets and may answer CM_HINTSHOW with a colour.
class RecordingParent : public TWinControl {
 public:
  using TWinControl::TWinControl;
  void WndProc(TMessage& Message) override {
    Messages.push_back(Message);
    if (Message.Msg == CM_HINTSHOW && HintColorAnswer != clNone && Message.LParam != 0) {
      auto* info = reinterpret_cast<THintInfo*>(Message.LParam);
      info->HintColor = HintColorAnswer;
      info->HintStr = "changed by the parent";
    }
    TWinControl::WndProc(Message);
  }
  int Count(UINT Msg) const {
    int n = 0;
    for (const TMessage& m : Messages) n += m.Msg == Msg ? 1 : 0;
    return n;
  }
  std::vector<TMessage> Messages;
  TColor HintColorAnswer{clNone};
};

// A 32-bit top-down surface with a memory DC, filled with one colour.
struct Surface {
  HDC dc{nullptr};
  HBITMAP bitmap{nullptr};
  HGDIOBJ old{nullptr};
  std::uint32_t* bits{nullptr};
  int width;
  int height;

  Surface(int W, int H, COLORREF Fill = RGB(1, 2, 3)) : width(W), height(H) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = W;
    info.bmiHeader.biHeight = -H;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    bits = static_cast<std::uint32_t*>(p);
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bitmap);
    for (int i = 0; i < W * H; ++i)
      bits[i] = (GetRValue(Fill) << 16) | (GetGValue(Fill) << 8) | GetBValue(Fill);
  }
  ~Surface() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  COLORREF At(int X, int Y) const {
    std::uint32_t v = bits[Y * width + X];
    return RGB(static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v));
  }
  void Paint(TControl* Control) { Control->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0); }
};

// A bitmap of W x H whose pixel (x, y) has a colour made from x and y (24 bits a pixel).
inline std::unique_ptr<TBitmap> PatternBitmap(int W, int H) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetWidth(W);
  b->SetHeight(H);
  for (int y = 0; y < H; ++y) {
    auto* row = static_cast<std::uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < W; ++x) {
      row[x * 3 + 0] = static_cast<std::uint8_t>(x * 7 + y);      // blue
      row[x * 3 + 1] = static_cast<std::uint8_t>(y * 5 + 3);      // green
      row[x * 3 + 2] = static_cast<std::uint8_t>(x ^ (y * 3));    // red
    }
  }
  return b;
}

// Blue, green, red of pixel (X, Y) of a 24-bit bitmap.
inline std::uint32_t Pixel24(TBitmap* B, int X, int Y) {
  const auto* row = static_cast<const std::uint8_t*>(B->ScanLine(Y));
  return row[X * 3] | (row[X * 3 + 1] << 8) | (row[X * 3 + 2] << 16);
}

}  // namespace uitest
