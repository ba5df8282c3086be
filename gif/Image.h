#pragma once
// The GIF graphic: logical screen header, global colour map and frames, with the settings that
// govern rendering, animation and re-encoding, the registration with the picture registry and
// the clipboard exchange.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gif/AppExtensions.h"
#include "gif/ColorReduction.h"
#include "gif/Frame.h"
#include "gif/Items.h"
#include "platform/graphics/Graphics.h"

namespace gif {

enum TGIFCompressionKind : std::uint8_t { ckLZW = 0, ckRLE = 1 };

using TGIFPaintFlags = std::uint16_t;
inline constexpr TGIFPaintFlags drThreaded = 0x0001;    // animate in a painter thread
inline constexpr TGIFPaintFlags drTransparent = 0x0002; // draw through the transparency masks
inline constexpr TGIFPaintFlags drAnimate = 0x0004;     // step through the frames
inline constexpr TGIFPaintFlags drLoop = 0x0008;        // repeat (looping extension's count)
inline constexpr TGIFPaintFlags drLoopForever = 0x0010;
inline constexpr TGIFPaintFlags drCheckCanvas = 0x0020; // stop when the start DC is gone
inline constexpr TGIFPaintFlags drDirect = 0x0040;      // paint straight onto the caller's canvas
inline constexpr TGIFPaintFlags drClearOnLoop = 0x0080;
inline constexpr TGIFPaintFlags drTile = 0x0100;
inline constexpr TGIFPaintFlags drDither = 0x0200;
inline constexpr TGIFPaintFlags drDitherOnPaletteDevice = 0x0400;

using TGIFOptimizeFlags = std::uint8_t;
inline constexpr TGIFOptimizeFlags optCropBorders = 0x01;
inline constexpr TGIFOptimizeFlags optMergeWithPrevious = 0x02;
inline constexpr TGIFOptimizeFlags optDropRedundant = 0x04;
inline constexpr TGIFOptimizeFlags optSortColorMaps = 0x08;
inline constexpr TGIFOptimizeFlags optReducePalette = 0x10;

using TGIFWarningEvent = std::function<void(TObject* Sender, int Severity, const std::string& Message)>;

// Defaults every new image takes.
inline TGIFPaintFlags GIFDefaultPaintOptions = 0x060F;
inline TGIFColorReductionKind GIFDefaultReduction = grWebSafe216;
inline int GIFDefaultReductionBits = 8;
inline TGIFDitherKind GIFDefaultDither = gdNearest;
inline TGIFCompressionKind GIFDefaultCompression = ckLZW;
inline TThreadPriority GIFDefaultPainterPriority = tpNormal;
inline int GIFDefaultAnimationRate = 100;

// Clipboard format of "GIF Image" (0 until registered).
inline WORD CF_GIF = 0;
// The screen has 8 bits per pixel or fewer (set when the formats are registered).
inline bool PaletteDisplay = false;
// Each frame renders its bitmap right after it was read.
inline bool RenderFramesOnLoad = false;
// WriteData optimises the image before writing it.
inline bool OptimizeWhenStreamed = false;

// Registers "GIF" ("GIF Image") and the clipboard format "GIF Image" with the picture registry
// and decides PaletteDisplay from the screen; the program calls it once at start-up.
void RegisterGIFImageFormats();
// Removes the registrations again.
void UnregisterGIFImageFormats();

// The clipboard calls the image needs (the user-interface layer connects them): the block of
// a format (null when there is none) and placing a block (null when that failed; the clipboard
// owns the block otherwise). Unconnected, nothing is read and placing fails.
struct TGIFClipboardAccess {
  std::function<HANDLE(UINT Format)> GetData;
  std::function<HANDLE(UINT Format, HANDLE Data)> SetData;
};
void SetGIFClipboardAccess(TGIFClipboardAccess Access);

class TGIFPainter;

class TGIFImage : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TGIFImage)

  TGIFImage();
  ~TGIFImage() override;

  // Stops the painters and empties the image; the palette goes too.
  void Clear();
  TGIFImageList& Images() const { return *FFrames; }
  TGIFHeader& Header() const { return *FHeader; }
  TGIFGlobalColorMap* GlobalColorMap() const { return FHeader->ColorMap(); }

  // A TGraphic becomes a new frame (imported), a TGIFSubImage is taken over as it is; anything
  // else raises "Object type not supported for operation". Returns the frame's index.
  int Add(TPersistent* Source);
  void Assign(TPersistent* Source) override;

  // Highest version any frame needs; gvUnknown without frames.
  TGIFVersion RequiredVersion() const;
  int ColorResolutionBits() const;
  int PixelBits() const;
  TColor BackColor() { return FHeader->BackColor(); }

  // Every frame must fit: a value below a frame's extent raises "Image width too small for
  // contained frames" ("... height ...") and changes nothing.
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  // Takes ownership of the palette handle.
  void SetPalette(HPALETTE Value) override;

  // The whole-image bitmap (first frame on the logical screen), or the buffer an animation
  // paints into; null for an empty image.
  TBitmap* RenderBitmap();
  TBitmap* CreateBitmapCache();
  void FreeBitmapCache();
  TBitmap* BitmapCache() const { return FBitmapCache.get(); }
  bool ShouldDither() const;

  void LoadFromStream(TStream* Stream) override;
  void SaveToStream(TStream* Stream) override;
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

  // Passes the warnings of the whole object tree to OnFormatWarning.
  virtual void ReportWarning(TObject* Sender, int Severity, const std::string& Message);

  // Drawing and animation.
  TGIFPainter* StartPainter(TGIFPainter** Reference, TCanvas* Canvas, TGIFPaintFlags Options, const TRect& Rect);
  void StopDrawPainter();
  // Stops every painter and waits until none of them works on the frames any more.
  void StopAllPainters();
  void PaintTiled(TCanvas* Canvas, const TRect& Rect, TBitmap* Bitmap);
  TThreadList* PainterList() { return &FPainters; }
  TGIFPainter* Painter() const { return FCanvasPainter; }

  void Optimize(TGIFOptimizeFlags Options, TGIFColorReductionKind Reduction, int Bits, TGIFDitherKind Dither);

  // Settings.
  TGIFPaintFlags PaintOptions() const { return FPaintOptions; }
  void SetPaintOptions(TGIFPaintFlags Value) { FPaintOptions = Value; }
  TGIFColorReductionKind ColorReduction() const { return FReductionKind; }
  void SetColorReduction(TGIFColorReductionKind Value) { FReductionKind = Value; }
  int ReductionBits() const { return FReductionBits; }
  void SetReductionBits(int Value) { FReductionBits = Value; }
  TGIFDitherKind DitherMode() const { return FDitherKind; }
  void SetDitherMode(TGIFDitherKind Value) { FDitherKind = Value; }
  TGIFCompressionKind Compression() const { return FCompression; }
  void SetCompression(TGIFCompressionKind Value) { FCompression = Value; }
  TThreadPriority ThreadPriority() const { return FPainterPriority; }
  void SetThreadPriority(TThreadPriority Value) { FPainterPriority = Value; }
  int AnimationSpeed() const { return FAnimationRate; }
  void SetAnimationSpeed(int Value) { FAnimationRate = Value; }
  TColor BackgroundColor() const { return FBackdropColor; }
  void SetBackgroundColor(TColor Value) { FBackdropColor = Value; }

  TGIFWarningEvent OnFormatWarning;
  TNotifyEvent OnPaintStart, OnPaintFrame, OnPaintFrameDone, OnPaintLoop, OnPaintEnd;

  // While a stream loads: the pixels that its frames may still claim (StreamPixelsForData), so
  // that many frames cannot together claim more memory than the stream justifies. Negative
  // when no load runs.
  std::int64_t LoadPixelBudget() const { return FLoadPixelBudget; }
  void SpendLoadPixels(std::int64_t Pixels) {
    if (FLoadPixelBudget >= 0) FLoadPixelBudget -= std::min(Pixels, FLoadPixelBudget);
  }

 protected:
  void AssignTo(TPersistent* Dest) override;
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  bool Equals(TGraphic* Graphic) override { return Graphic == this; }
  bool GetEmpty() override { return FFrames->Count() == 0; }
  int GetHeight() override { return FHeader->Height(); }
  int GetWidth() override { return FHeader->Width(); }
  HPALETTE GetPalette() override;
  void WriteData(TStream* Stream) override;

 private:
  friend class TGIFPainter;
  // Until no threaded painter of this image works on the frames (those whose paint step is
  // running on this thread right now excepted: they end without touching the image again).
  void WaitForPainters();

  bool FInDraw{false};
  bool FInGetPalette{false};
  std::unique_ptr<TGIFImageList> FFrames;
  std::unique_ptr<TGIFHeader> FHeader;
  HPALETTE FCachedPalette{nullptr};
  TThreadList FPainters;
  TGIFPaintFlags FPaintOptions;
  TGIFColorReductionKind FReductionKind;
  int FReductionBits;
  TGIFDitherKind FDitherKind;
  TGIFCompressionKind FCompression;
  std::unique_ptr<TBitmap> FBitmapCache;
  TGIFPainter* FCanvasPainter{nullptr};
  TThreadPriority FPainterPriority;
  int FAnimationRate;
  TColor FBackdropColor{clNone};
  std::int64_t FLoadPixelBudget{-1};
  // False once the image is being destroyed: an inline painter's caller further up the stack
  // (Draw, StartPainter) then leaves without touching the image again.
  std::shared_ptr<bool> FAlive{std::make_shared<bool>(true)};
};

}  // namespace gif
