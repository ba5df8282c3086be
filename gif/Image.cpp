#include "gif/Image.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

#include "gif/Painter.h"
#include "gif/Quantizer.h"

namespace gif {

IMPLEMENT_GRAPHIC_CLASS(TGIFImage, TGraphic)

namespace {

std::mutex& ClipboardLock() {
  static std::mutex Lock;
  return Lock;
}

TGIFClipboardAccess& Clipboard() {
  static TGIFClipboardAccess Access;
  return Access;
}

TGIFClipboardAccess CurrentClipboard() {
  std::lock_guard<std::mutex> Guard(ClipboardLock());
  return Clipboard();
}

// Raises the progress end of an operation, 100 % when it succeeded and 0 % otherwise.
template <class F>
void WithProgress(TGIFImage* Image, const char* Message, bool RedrawAtEnd, F&& Body) {
  Image->Progress(Image, psStarting, 0, false, TRect{}, Message);
  try {
    Body();
  } catch (...) {
    Image->Progress(Image, psEnding, 0, RedrawAtEnd, TRect{}, Message);
    throw;
  }
  Image->Progress(Image, psEnding, 100, RedrawAtEnd, TRect{}, Message);
}

}  // namespace

void SetGIFClipboardAccess(TGIFClipboardAccess Access) {
  std::lock_guard<std::mutex> Guard(ClipboardLock());
  Clipboard() = std::move(Access);
}

void RegisterGIFImageFormats() {
  TPicture::RegisterFileFormat("GIF", "GIF Image", TGIFImage::StaticClass());
  CF_GIF = static_cast<WORD>(RegisterClipboardFormat("GIF Image"));
  TPicture::RegisterClipboardFormat(CF_GIF, TGIFImage::StaticClass());
  if (HDC DC = GetDC(nullptr)) {
    PaletteDisplay = GetDeviceCaps(DC, BITSPIXEL) * GetDeviceCaps(DC, PLANES) <= 8;
    ReleaseDC(nullptr, DC);
  }
}

void UnregisterGIFImageFormats() { TPicture::UnregisterGraphicClass(TGIFImage::StaticClass()); }

// ---------------------------------------------------------------------------------------------
// Life

TGIFImage::TGIFImage()
    : FFrames(std::make_unique<TGIFImageList>(this)),
      FHeader(std::make_unique<TGIFHeader>(this)),
      FPaintOptions(GIFDefaultPaintOptions),
      FReductionKind(GIFDefaultReduction),
      FReductionBits(GIFDefaultReductionBits),
      FDitherKind(GIFDefaultDither),
      FCompression(GIFDefaultCompression),
      FPainterPriority(GIFDefaultPainterPriority),
      FAnimationRate(GIFDefaultAnimationRate) {
  Clear();
}

TGIFImage::~TGIFImage() {
  *FAlive = false;
  try {
    StopAllPainters();
  } catch (...) {
  }
  // Painters whose step is running further up this thread's stack end without touching the
  // image again; they forget it now.
  TList* List = FPainters.LockList();
  while (List->Count() > 0) {
    auto* P = static_cast<TGIFPainter*>(List->Items(List->Count() - 1));
    P->Detach();
    List->Delete(List->Count() - 1);
  }
  FPainters.UnlockList();
  FCanvasPainter = nullptr;
  // Frames leave the list as they go and the colour maps report their end to this image, so
  // everything is freed while the image is still whole.
  FBitmapCache.reset();
  FFrames->Clear();
  FHeader.reset();
  FFrames.reset();
  if (FCachedPalette) DeleteObject(FCachedPalette);
  FCachedPalette = nullptr;
}

void TGIFImage::Clear() {
  StopAllPainters();
  FreeBitmapCache();
  FFrames->Clear();
  FHeader->ColorMap()->Clear();
  FHeader->SetWidth(0);
  FHeader->SetHeight(0);
  FHeader->PrepareDescriptor();
  SetPalette(nullptr);
}

int TGIFImage::Add(TPersistent* Source) {
  TGIFSubImage* Frame = dynamic_cast<TGIFSubImage*>(Source);
  std::unique_ptr<TGIFSubImage> Made;
  if (!Frame) {
    if (!dynamic_cast<TGraphic*>(Source)) RaiseGIFError("Object type not supported for operation");
    // The painters read the frame list: none may run while it grows.
    StopAllPainters();
    Made = std::make_unique<TGIFSubImage>(this);
    Made->Assign(Source);
    Frame = Made.get();
  } else {
    StopAllPainters();
  }
  const int Index = FFrames->Add(Frame);
  Made.release();
  FreeBitmapCache();
  Changed(this);
  return Index;
}

// ---------------------------------------------------------------------------------------------
// Queries

TGIFVersion TGIFImage::RequiredVersion() const {
  TGIFVersion Version = gvUnknown;
  for (int i = 0; i < FFrames->Count(); ++i) {
    Version = std::max(Version, FFrames->FrameAt(i)->RequiredVersion());
    if (Version == gv89a) break;
  }
  return Version;
}

int TGIFImage::ColorResolutionBits() const {
  int Bits = FHeader->ColorResolutionBits();
  for (int i = 0; i < FFrames->Count(); ++i) Bits = std::max(Bits, FFrames->FrameAt(i)->ColorResolutionBits());
  return Bits;
}

int TGIFImage::PixelBits() const {
  int Bits = FHeader->PixelBits();
  for (int i = 0; i < FFrames->Count(); ++i) Bits = std::max(Bits, FFrames->FrameAt(i)->PixelBits());
  return Bits;
}

void TGIFImage::SetWidth(int Value) {
  for (int i = 0; i < FFrames->Count(); ++i) {
    TGIFSubImage* Frame = FFrames->FrameAt(i);
    if (Value < Frame->Left() + Frame->Width()) RaiseGIFError("Image width too small for contained frames");
  }
  if (Value != FHeader->Width()) {
    FHeader->SetWidth(Value);
    FreeBitmapCache();
    Changed(this);
  }
}

void TGIFImage::SetHeight(int Value) {
  for (int i = 0; i < FFrames->Count(); ++i) {
    TGIFSubImage* Frame = FFrames->FrameAt(i);
    if (Value < Frame->Top() + Frame->Height()) RaiseGIFError("Image height too small for contained frames");
  }
  if (Value != FHeader->Height()) {
    FHeader->SetHeight(Value);
    FreeBitmapCache();
    Changed(this);
  }
}

bool TGIFImage::ShouldDither() const {
  if (!(FPaintOptions & drDither)) return false;
  if (FPaintOptions & drDitherOnPaletteDevice) return PaletteDisplay;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Palette and bitmap cache

void TGIFImage::SetPalette(HPALETTE Value) {
  if (Value == FCachedPalette) return;
  // The bitmap cache's own palette stays the cache's: the image keeps a copy of it.
  if (Value && FBitmapCache && FBitmapCache->Palette() == Value) {
    if (FCachedPalette) DeleteObject(FCachedPalette);
    FCachedPalette = CopyPalette(Value);
    return;
  }
  if (FCachedPalette) DeleteObject(FCachedPalette);
  FCachedPalette = Value;
  if (FBitmapCache && FBitmapCache->Palette() != Value) {
    FreeBitmapCache();
    SetPaletteModified(true);
    Changed(this);
  }
}

HPALETTE TGIFImage::GetPalette() {
  if (FInGetPalette) RaiseGIFError("No global or local color table defined");
  FInGetPalette = true;
  struct Reset {
    bool& Flag;
    ~Reset() { Flag = false; }
  } Guard{FInGetPalette};
  if (FBitmapCache) {
    if (HPALETTE P = FBitmapCache->Palette()) return P;
  }
  if (FCachedPalette) return FCachedPalette;
  if (ShouldDither()) {
    FCachedPalette = WebSafePalette();
    return FCachedPalette;
  }
  if (GlobalColorMap()->Count() > 0) {
    FCachedPalette = GlobalColorMap()->CreatePaletteHandle();
    return FCachedPalette;
  }
  if (FFrames->Count() == 0) return nullptr;
  return FFrames->FrameAt(0)->PaletteHandle();
}

TBitmap* TGIFImage::CreateBitmapCache() {
  if (FBitmapCache) return FBitmapCache.get();
  auto Cache = std::make_unique<TBitmap>();
  Cache->OnChange = [this](TObject*) { Changed(this); };
  Cache->SetPalette(CopyPalette(GetPalette()));
  Cache->SetHeight(Height());
  Cache->SetWidth(Width());
  FBitmapCache = std::move(Cache);
  return FBitmapCache.get();
}

void TGIFImage::FreeBitmapCache() {
  if (FCanvasPainter) FCanvasPainter->Stop();
  FBitmapCache.reset();
}

TBitmap* TGIFImage::RenderBitmap() {
  if (Empty()) return nullptr;
  if (FBitmapCache) return FBitmapCache.get();
  TGIFSubImage* First = FFrames->FrameAt(0);
  auto Cache = std::make_unique<TBitmap>();
  if (First->Width() == Width() && First->Height() == Height()) {
    Cache->Assign(First->RenderBitmap());
  } else {
    Cache->SetPalette(CopyPalette(GetPalette()));
    Cache->SetHeight(Height());
    Cache->SetWidth(Width());
    First->DrawFrame(Cache->Canvas(), TRect{0, 0, Width(), Height()}, false, false);
  }
  Cache->OnChange = [this](TObject*) { Changed(this); };
  FBitmapCache = std::move(Cache);
  return FBitmapCache.get();
}

// ---------------------------------------------------------------------------------------------
// Streams

void TGIFImage::LoadFromStream(TStream* Stream) {
  // The reader reads a byte or a sub-block at a time: a stream that is not in memory is read
  // through a buffer (which leaves it where the reading ends).
  std::optional<TGIFBufferedReader> Buffered;
  if (!dynamic_cast<TCustomMemoryStream*>(Stream)) Stream = &Buffered.emplace(Stream);
  WithProgress(this, "Loading...", true, [&] {
    Clear();
    const std::int64_t Start = Stream->Position();
    FLoadPixelBudget = StreamPixelsForData(Stream->Size() - Start);
    try {
      FHeader->LoadFromStream(Stream);
      FFrames->LoadFromStream(Stream, this);
      TGIFTrailer Trailer(this);
      Trailer.LoadFromStream(Stream);
    } catch (...) {
      FLoadPixelBudget = -1;
      Stream->SetPosition(Start);
      throw;
    }
    FLoadPixelBudget = -1;
  });
}

void TGIFImage::SaveToStream(TStream* Stream) {
  WithProgress(this, "Saving...", true, [&] {
    FHeader->SaveToStream(Stream);
    FFrames->SaveToStream(Stream);
    TGIFTrailer Trailer(this);
    Trailer.SaveToStream(Stream);
  });
}

void TGIFImage::WriteData(TStream* Stream) {
  if (OptimizeWhenStreamed) Optimize(0x1F, grKeepTrueColor, 8, gdNearest);
  TGraphic::WriteData(Stream);
}

void TGIFImage::ReportWarning(TObject* Sender, int Severity, const std::string& Message) {
  if (OnFormatWarning) OnFormatWarning(Sender, Severity, Message);
}

// ---------------------------------------------------------------------------------------------
// Assignment

void TGIFImage::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    return;
  }
  if (auto* Other = dynamic_cast<TGIFImage*>(Source)) {
    Clear();
    OnProgress = Other->OnProgress;
    OnFormatWarning = Other->OnFormatWarning;
    try {
      WithProgress(this, "Copying...", false, [&] {
        FHeader->Assign(&Other->Header());
        FPainterPriority = Other->FPainterPriority;
        FBackdropColor = Other->FBackdropColor;
        FPaintOptions = Other->FPaintOptions;
        FReductionKind = Other->FReductionKind;
        FDitherKind = Other->FDitherKind;
        const int Total = Other->Images().Count();
        for (int i = 0; i < Total; ++i) {
          auto Frame = std::make_unique<TGIFSubImage>(this);
          Frame->Assign(Other->Images().FrameAt(i));
          Add(Frame.get());
          Frame.release();
          Progress(this, psRunning, static_cast<BYTE>(MulDiv(i + 1, 100, Total)), false, TRect{}, "Copying...");
        }
      });
    } catch (...) {
      OnProgress = nullptr;
      OnFormatWarning = nullptr;
      throw;
    }
    OnProgress = nullptr;
    OnFormatWarning = nullptr;
    return;
  }
  Clear();
  auto Frame = std::make_unique<TGIFSubImage>(this);
  try {
    Frame->Assign(Source);
  } catch (const EConvertError&) {
    Frame.reset();
    TGraphic::Assign(Source);
    return;
  }
  Add(Frame.get());
  Frame.release();
}

void TGIFImage::AssignTo(TPersistent* Dest) {
  if (auto* Bitmap = dynamic_cast<TBitmap*>(Dest)) {
    Bitmap->Assign(RenderBitmap());
    return;
  }
  TGraphic::AssignTo(Dest);
}

// ---------------------------------------------------------------------------------------------
// Clipboard

void TGIFImage::LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) {
  if (!AData) {
    TGIFClipboardAccess Access = CurrentClipboard();
    if (Access.GetData) AData = Access.GetData(AFormat);
  }
  if (AData && AFormat == CF_GIF && CF_GIF != 0) {
    void* Memory = GlobalLock(AData);
    if (!Memory) RaiseGIFError("Unsupported clipboard format");
    try {
      TMemoryStream Stream;
      Stream.WriteBuffer(Memory, static_cast<std::int64_t>(GlobalSize(AData)));
      Stream.SetPosition(0);
      LoadFromStream(&Stream);
    } catch (...) {
      GlobalUnlock(AData);
      throw;
    }
    GlobalUnlock(AData);
    return;
  }
  if (AData && AFormat == CF_BITMAP) {
    TBitmap Bitmap;
    Bitmap.LoadFromClipboardFormat(AFormat, AData, APalette);
    Assign(&Bitmap);
    return;
  }
  RaiseGIFError("Unsupported clipboard format");
}

void TGIFImage::SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) {
  if (Empty()) return;
  RenderBitmap()->SaveToClipboardFormat(AFormat, AData, APalette);
  // The caller places the bitmap; on failure it never sees the handles, so they go here.
  auto DropBitmap = [&] {
    if (AData) DeleteObject(AData);
    if (APalette) DeleteObject(APalette);
    AData = nullptr;
    APalette = nullptr;
  };
  try {
    TMemoryStream Stream;
    SaveToStream(&Stream);
    HGLOBAL Block = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(Stream.Size()));
    if (!Block) RaiseGIFError("Failed to store GIF on clipboard");
    void* Memory = GlobalLock(Block);
    if (!Memory) {
      GlobalFree(Block);
      RaiseGIFError("Failed to store GIF on clipboard");
    }
    std::memcpy(Memory, Stream.Memory(), static_cast<std::size_t>(Stream.Size()));
    GlobalUnlock(Block);
    TGIFClipboardAccess Access = CurrentClipboard();
    if (!Access.SetData || !Access.SetData(CF_GIF, Block)) {
      GlobalFree(Block);
      RaiseGIFError("Failed to store GIF on clipboard");
    }
  } catch (...) {
    DropBitmap();
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// Drawing and painters

void TGIFImage::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (FInDraw || FFrames->Count() == 0) return;
  FInDraw = true;
  const std::shared_ptr<bool> Alive = FAlive;
  struct Reset {
    bool& Flag;
    const std::shared_ptr<bool>& Alive;
    ~Reset() {
      if (*Alive) Flag = false;
    }
  } Guard{FInDraw, Alive};

  if (FFrames->Count() == 1 || !(FPaintOptions & drAnimate)) {
    FFrames->FrameAt(0)->DrawFrame(ACanvas, Rect, (FPaintOptions & drTile) != 0, (FPaintOptions & drTransparent) != 0);
    return;
  }
  if (!FBitmapCache || (FPaintOptions & drDirect)) {
    const bool Direct = (FPaintOptions & drDirect) != 0;
    const bool Inline = !(FPaintOptions & drThreaded);
    bool RunInline = false;
    TCanvas* Target = ACanvas;
    TRect TargetRect = Rect;
    FPainters.LockList();
    try {
      const TRect Served = FCanvasPainter ? FCanvasPainter->Rect() : TRect{};
      const bool Serving = FCanvasPainter && FCanvasPainter->Canvas() == ACanvas && EqualRect(&Served, &Rect);
      if (!Serving) {
        StopDrawPainter();
        if (!Direct) {
          TBitmap* Cache = CreateBitmapCache();
          Target = Cache->Canvas();
          TargetRect = TRect{0, 0, Cache->Width(), Cache->Height()};
          Target->SetCopyMode(SRCCOPY);
          Target->CopyRect(TargetRect, ACanvas, Rect);
        }
        if (Inline) {
          RunInline = true;
        } else {
          if (TGIFPainter* P = StartPainter(&FCanvasPainter, Target, FPaintOptions, TargetRect)) P->Start();
          if (!Direct && FBitmapCache) PaintTiled(ACanvas, Rect, FBitmapCache.get());
        }
      }
    } catch (...) {
      FPainters.UnlockList();
      throw;
    }
    FPainters.UnlockList();
    if (!RunInline) return;
    // The inline run pumps messages and raises the paint events, from which the image may be
    // freed: it runs outside the lock, and nothing of the image is touched once it is gone.
    StartPainter(&FCanvasPainter, Target, FPaintOptions, TargetRect);
    if (!*Alive) return;
    // The cache shows where the animation ended.
    if (!Direct && FBitmapCache) PaintTiled(ACanvas, Rect, FBitmapCache.get());
    return;
  }
  PaintTiled(ACanvas, Rect, RenderBitmap());
}

TGIFPainter* TGIFImage::StartPainter(TGIFPainter** Reference, TCanvas* Canvas, TGIFPaintFlags Options,
                                     const TRect& Rect) {
  if (Empty() || Rect.left >= Rect.right || Rect.top >= Rect.bottom) {
    if (Reference) *Reference = nullptr;
    return nullptr;
  }
  if (FFrames->Count() == 1) Options &= static_cast<TGIFPaintFlags>(~(drThreaded | drAnimate));
  auto* Painter = new TGIFPainter(Reference, Options, Rect, Canvas, this);
  FPainters.Add(Painter);
  Painter->OnPaintStart = OnPaintStart;
  Painter->OnPaintFrame = OnPaintFrame;
  Painter->OnPaintFrameDone = OnPaintFrameDone;
  Painter->OnPaintLoop = OnPaintLoop;
  Painter->OnPaintEnd = OnPaintEnd;
  if (Options & drThreaded) {
    Painter->SetPriority(FPainterPriority);
    return Painter;
  }
  // The image may be freed while the painter runs (from a paint event or the message pump):
  // afterwards only the painter and the caller's own variable are touched.
  const std::shared_ptr<bool> Alive = FAlive;
  TGIFPainter** const Own = &FCanvasPainter;
  std::exception_ptr Error;
  try {
    Painter->Execute();
  } catch (...) {
    Error = std::current_exception();
  }
  if (!Error) Error = Painter->KeptException();
  delete Painter;
  if (Reference && (*Alive || Reference != Own)) *Reference = nullptr;
  if (Error) std::rethrow_exception(Error);
  return nullptr;
}

void TGIFImage::StopDrawPainter() {
  FPainters.LockList();
  if (FCanvasPainter) FCanvasPainter->Stop();
  FPainters.UnlockList();
  FreeBitmapCache();
}

void TGIFImage::StopAllPainters() {
  try {
    TList* List = FPainters.LockList();
    for (int i = List->Count() - 1; i >= 0; --i) static_cast<TGIFPainter*>(List->Items(i))->Stop();
    FPainters.UnlockList();
  } catch (...) {
    FPainters.UnlockList();
    FreeBitmapCache();
    throw;
  }
  FreeBitmapCache();
  WaitForPainters();
}

void TGIFImage::WaitForPainters() {
  for (;;) {
    bool Busy = false;
    TList* List = FPainters.LockList();
    for (int i = 0; i < List->Count(); ++i) {
      auto* P = static_cast<TGIFPainter*>(List->Items(i));
      if (P->Threaded() && !P->InStep()) Busy = true;
    }
    FPainters.UnlockList();
    if (!Busy) return;
    // A stopped painter ends after its pending step; its end is handed to this thread.
    if (IsMainThread())
      CheckSynchronize(5);
    else
      Sleep(1);
  }
}

void TGIFImage::PaintTiled(TCanvas* Canvas, const TRect& Rect, TBitmap* Bitmap) {
  if (!Bitmap) return;
  if (!(FPaintOptions & drTile)) {
    Canvas->StretchDraw(Rect, Bitmap);
    return;
  }
  const int SW = std::max(Width(), 1), SH = std::max(Height(), 1);
  for (std::int64_t X = Rect.left; X < Rect.right; X += SW)
    for (std::int64_t Y = Rect.top; Y < Rect.bottom; Y += SH)
      Canvas->StretchDraw(TRect{static_cast<LONG>(X), static_cast<LONG>(Y), static_cast<LONG>(X + SW),
                                static_cast<LONG>(Y + SH)},
                          Bitmap);
}

}  // namespace gif
