#pragma once
// The class library's picture classes over the in-memory GDI: colours, the abstract graphic,
// the picture holder with its format registry, canvases, bitmaps, icons and metafiles.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"
#include "platform/rtl/SysUtils.h"

// ---------------------------------------------------------------------------------------------
// Colours: 0x00BBGGRR for RGB values (red in the low byte); 0xFF000000 + index for the system
// colours; clNone and clDefault are markers, not colours.

using TColor = std::int32_t;

inline constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clActiveCaption = clSystemColor | 2;
inline constexpr TColor clInactiveCaption = clSystemColor | 3;
inline constexpr TColor clMenu = clSystemColor | 4;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clMenuText = clSystemColor | 7;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clCaptionText = clSystemColor | 9;
inline constexpr TColor clActiveBorder = clSystemColor | 10;
inline constexpr TColor clInactiveBorder = clSystemColor | 11;
inline constexpr TColor clAppWorkSpace = clSystemColor | 12;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clGrayText = clSystemColor | 17;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clInactiveCaptionText = clSystemColor | 19;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;
inline constexpr TColor cl3DDkShadow = clSystemColor | 21;
inline constexpr TColor cl3DLight = clSystemColor | 22;
inline constexpr TColor clInfoText = clSystemColor | 23;
inline constexpr TColor clInfoBk = clSystemColor | 24;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clLtGray = 0xC0C0C0;
inline constexpr TColor clDkGray = 0x808080;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clMoneyGreen = 0xC0DCC0;
inline constexpr TColor clSkyBlue = 0xF0CAA6;
inline constexpr TColor clCream = 0xF0FBFF;
inline constexpr TColor clMedGray = 0xA4A0A0;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

// A system colour (0xFF000000 + index 0..24) becomes its RGB value from the fixed table below;
// every other value (RGB, palette-relative, clNone, clDefault) is returned unchanged.
//
// System colour table (the classic desktop scheme), index: red, green, blue
//   0 scroll bar 212 208 200; 1 desktop 58 110 165; 2 active caption 10 36 106;
//   3 inactive caption 128 128 128; 4 menu 212 208 200; 5 window 255 255 255;
//   6 window frame 0 0 0; 7 menu text 0 0 0; 8 window text 0 0 0; 9 caption text 255 255 255;
//   10 active border 212 208 200; 11 inactive border 212 208 200; 12 application workspace
//   128 128 128; 13 highlight 10 36 106; 14 highlight text 255 255 255; 15 button face
//   212 208 200; 16 button shadow 128 128 128; 17 grey text 128 128 128; 18 button text 0 0 0;
//   19 inactive caption text 212 208 200; 20 button highlight 255 255 255; 21 3D dark shadow
//   64 64 64; 22 3D light 212 208 200; 23 tooltip text 0 0 0; 24 tooltip background 255 255 225.
// An index beyond 24 gives black.
TColor ColorToRGB(TColor Color);
// Palette-relative RGB (0x02000000 + RGB).
TColor PaletteRGB(BYTE R, BYTE G, BYTE B);

// ---------------------------------------------------------------------------------------------
// Graphic classes as values: the stand-in for class references and virtual constructors.

class TGraphic;

struct TGraphicClassInfo {
  const char* Name;                       // "TBitmap"
  const TGraphicClassInfo* Parent;        // null for TGraphic
  std::unique_ptr<TGraphic> (*Create)();  // null for abstract classes

  bool InheritsFrom(const TGraphicClassInfo* Base) const;
};
using TGraphicClass = const TGraphicClassInfo*;

// Declares the class reference of a graphic class (inside its public section) and defines it
// (in its source file, in the class's namespace):
//   class TFoo : public TGraphic { public: DECLARE_GRAPHIC_CLASS(TFoo) ... };
//   IMPLEMENT_GRAPHIC_CLASS(TFoo, TGraphic)
#define DECLARE_GRAPHIC_CLASS(Name)                           \
  static TGraphicClass StaticClass();                         \
  TGraphicClass ClassType() const override { return StaticClass(); }

#define IMPLEMENT_GRAPHIC_CLASS(Name, ParentName)                                           \
  TGraphicClass Name::StaticClass() {                                                       \
    static const TGraphicClassInfo Info{#Name, ParentName::StaticClass(),                   \
                                        []() -> std::unique_ptr<TGraphic> { return std::make_unique<Name>(); }}; \
    return &Info;                                                                           \
  }

// The same for abstract classes (no factory).
#define IMPLEMENT_ABSTRACT_GRAPHIC_CLASS(Name, ParentName)                          \
  TGraphicClass Name::StaticClass() {                                               \
    static const TGraphicClassInfo Info{#Name, ParentName::StaticClass(), nullptr}; \
    return &Info;                                                                   \
  }

// ---------------------------------------------------------------------------------------------
// TGraphic

enum TProgressStage { psStarting, psRunning, psEnding };
using TProgressEvent = std::function<void(TObject* Sender, TProgressStage Stage, BYTE PercentDone, bool RedrawNow,
                                          const TRect& R, const std::string& Msg)>;

class TCanvas;
class TPicture;

// The abstract picture. Property getters are public and non-virtual (Width(), Empty(), ...)
// and call the protected virtual slots (GetWidth, GetEmpty, ...); property setters are the
// virtual slots themselves (SetWidth, SetHeight, SetPalette, SetTransparent) and public.
class TGraphic : public TPersistent {
 public:
  TGraphic() = default;
  ~TGraphic() override = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  static TGraphicClass StaticClass();
  virtual TGraphicClass ClassType() const { return StaticClass(); }
  bool InheritsFrom(TGraphicClass Class) const { return ClassType()->InheritsFrom(Class); }
  std::string ClassName() const override { return ClassType()->Name; }

  int Width() { return GetWidth(); }
  int Height() { return GetHeight(); }
  bool Empty() { return GetEmpty(); }
  HPALETTE Palette() { return GetPalette(); }
  bool Transparent() { return GetTransparent(); }
  virtual void SetWidth(int Value) = 0;
  virtual void SetHeight(int Value) = 0;
  virtual void SetPalette(HPALETTE Value);
  virtual void SetTransparent(bool Value);

  bool Modified() const { return FModified; }
  // true calls Changed; false only clears the flag.
  void SetModified(bool Value);
  bool PaletteModified() const { return FPaletteModified; }
  void SetPaletteModified(bool Value) { FPaletteModified = Value; }

  virtual void LoadFromFile(const std::string& FileName);
  virtual void SaveToFile(const std::string& FileName);
  virtual void LoadFromStream(TStream* Stream) = 0;
  virtual void SaveToStream(TStream* Stream) = 0;
  virtual void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) = 0;
  virtual void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) = 0;

  // Sets Modified and raises OnChange (Sender is this graphic).
  virtual void Changed(TObject* Sender);
  // Raises OnProgress with the given values.
  virtual void Progress(TObject* Sender, TProgressStage Stage, BYTE PercentDone, bool RedrawNow, const TRect& R,
                        const std::string& Msg);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;

 protected:
  friend class TCanvas;
  friend class TPicture;

  virtual void Draw(TCanvas* ACanvas, const TRect& Rect) = 0;
  // Same class and the same data (both empty, or equal WriteData output).
  virtual bool Equals(TGraphic* Graphic);
  virtual bool GetEmpty() = 0;
  virtual int GetHeight() = 0;
  virtual int GetWidth() = 0;
  virtual HPALETTE GetPalette() { return nullptr; }
  virtual bool GetTransparent() { return FTransparent; }
  // The layout ("Data") form: by default exactly what LoadFromStream reads and SaveToStream
  // writes, to the end of the stream.
  virtual void ReadData(TStream* Stream);
  virtual void WriteData(TStream* Stream);

 protected:
  bool FTransparent{false};

 private:
  bool FModified{false};
  bool FPaletteModified{false};
};

// A new graphic of the class; EInvalidGraphic for an abstract class.
std::unique_ptr<TGraphic> CreateGraphic(TGraphicClass Class);

// ---------------------------------------------------------------------------------------------
// TPicture: holds one graphic of any registered class.

class TBitmap;
class TIcon;

class TPicture : public TPersistent {
 public:
  TPicture();
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // The graphic (null when none). Setting copies Value into a new graphic of its class;
  // null clears the picture.
  TGraphic* Graphic() const { return FGraphic.get(); }
  void SetGraphic(TGraphic* Value);
  // The graphic as a bitmap (icon): a graphic of another class is replaced by a new empty one.
  TBitmap* Bitmap();
  void SetBitmap(TBitmap* Value);
  TIcon* Icon();
  void SetIcon(TIcon* Value);
  int Width() const;
  int Height() const;

  // Chooses the class by the file's extension (registrations searched newest first, without
  // regard to case); EInvalidGraphic "Unknown picture file extension (.xyz)" when none serves
  // it. A failed load keeps the previous graphic.
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);
  // EInvalidGraphic "Unsupported clipboard format" when no class serves AFormat.
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette);
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette);
  static bool SupportsClipboardFormat(WORD AFormat);

  // Null clears; a TPicture copies its graphic; a TGraphic is copied; anything else raises.
  void Assign(TPersistent* Source) override;

  // The layout ("Data") form: the graphic's class name as a short string (length byte, then
  // the name; empty for no graphic), then the graphic's WriteData. Reading creates the named
  // registered class and calls its ReadData; an unknown name raises EInvalidGraphic
  // "Unknown picture class (<name>)".
  void ReadData(TStream* Stream);
  void WriteData(TStream* Stream);

  // Registry. Extensions are given without the dot and stored in lower case.
  static void RegisterFileFormat(const std::string& AExtension, const std::string& ADescription,
                                 TGraphicClass AGraphicClass);
  static void RegisterClipboardFormat(WORD AFormat, TGraphicClass AGraphicClass);
  // Removes every file and clipboard registration of the class and of classes derived from it.
  static void UnregisterGraphicClass(TGraphicClass AClass);
  // The newest registration of the extension (any case, with or without the dot), or null.
  static TGraphicClass FindFileFormat(const std::string& AExtension);

  TNotifyEvent OnChange;

 protected:
  virtual void Changed(TObject* Sender);

 private:
  void ForceType(TGraphicClass Class);
  void TakeGraphic(std::unique_ptr<TGraphic> NewGraphic);

  std::unique_ptr<TGraphic> FGraphic;
};

// ---------------------------------------------------------------------------------------------
// Brush and pen of a canvas

enum TBrushStyle { bsSolid, bsClear };
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

class TGraphicsObject : public TPersistent {
 public:
  TNotifyEvent OnChange;

 protected:
  // Raises OnChange, then deletes the outdated handle (no longer selected anywhere).
  void Changed(HGDIOBJ& Handle);
};

class TBrush : public TGraphicsObject {
 public:
  TBrush() = default;
  ~TBrush() override;
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle Value);
  HBRUSH Handle();  // owned by the brush
  void Assign(TPersistent* Source) override;

 private:
  TColor FColor{clWhite};
  TBrushStyle FStyle{bsSolid};
  HGDIOBJ FHandle{nullptr};
};

class TPen : public TGraphicsObject {
 public:
  TPen() = default;
  ~TPen() override;
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  int Width() const { return FWidth; }
  void SetWidth(int Value);
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle Value);
  HPEN Handle();  // owned by the pen
  void Assign(TPersistent* Source) override;

 private:
  TColor FColor{clBlack};
  int FWidth{1};
  TPenStyle FStyle{psSolid};
  HGDIOBJ FHandle{nullptr};
};

// TFont: a font description (name, size, colour, style, character set) for controls; the
// system draws no text with it. Setters raise OnChange only when a value changes.
enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = std::uint8_t;

class TFont : public TGraphicsObject {
 public:
  TFont() = default;
  ~TFont() override = default;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { if (Value != FName) { FName = Value; Changed(); } }
  int Size() const { return FSize; }
  void SetSize(int Value) { if (Value != FSize) { FSize = Value; Changed(); } }
  // Character height in pixels at 96 pixels an inch, negative (Size is in points).
  int Height() const { return -MulDiv(FSize, 96, 72); }
  void SetHeight(int Value) { SetSize(-MulDiv(Value, 72, 96)); }
  TColor Color() const { return FColor; }
  void SetColor(TColor Value) { if (Value != FColor) { FColor = Value; Changed(); } }
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value) { if (Value != FStyle) { FStyle = Value; Changed(); } }
  BYTE Charset() const { return FCharset; }
  void SetCharset(BYTE Value) { if (Value != FCharset) { FCharset = Value; Changed(); } }

  void Assign(TPersistent* Source) override {
    if (auto* f = dynamic_cast<TFont*>(Source)) {
      if (f == this) return;
      FName = f->FName;
      FSize = f->FSize;
      FColor = f->FColor;
      FStyle = f->FStyle;
      FCharset = f->FCharset;
      Changed();
      return;
    }
    TGraphicsObject::Assign(Source);
  }

 private:
  void Changed() {
    HGDIOBJ none = nullptr;
    TGraphicsObject::Changed(none);
  }
  std::string FName{"Sans Serif"};
  int FSize{8};
  TColor FColor{clWindowText};
  TFontStyles FStyle{0};
  BYTE FCharset{1};
};

// ---------------------------------------------------------------------------------------------
// TCanvas: drawing on a device context.

using TCopyMode = DWORD;
inline constexpr TCopyMode cmSrcCopy = SRCCOPY;
inline constexpr TCopyMode cmSrcPaint = SRCPAINT;
inline constexpr TCopyMode cmSrcAnd = SRCAND;
inline constexpr TCopyMode cmSrcInvert = SRCINVERT;
inline constexpr TCopyMode cmNotSrcCopy = NOTSRCCOPY;
inline constexpr TCopyMode cmBlackness = BLACKNESS;
inline constexpr TCopyMode cmWhiteness = WHITENESS;

class TCanvas : public TPersistent {
 public:
  TCanvas();
  ~TCanvas() override;
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // The device context; a canvas without one asks CreateHandle (a plain canvas raises
  // EInvalidGraphicOperation "Canvas does not allow drawing"). The canvas does not own a
  // handle given to SetHandle.
  HDC Handle();
  void SetHandle(HDC Value);
  bool HandleAllocated() const { return FHandle != nullptr; }

  TBrush* Brush() { return &FBrush; }
  TPen* Pen() { return &FPen; }
  TCopyMode CopyMode() const { return FCopyMode; }
  void SetCopyMode(TCopyMode Value) { FCopyMode = Value; }
  TRect ClipRect();

  // Drawing; each one raises OnChanging before and OnChange after.
  void CopyRect(const TRect& Dest, TCanvas* Canvas, const TRect& Source);  // with CopyMode
  void Draw(int X, int Y, TGraphic* Graphic);        // at the graphic's size; nothing when empty
  void StretchDraw(const TRect& Rect, TGraphic* Graphic);
  void FillRect(const TRect& Rect);                  // with the brush
  void Rectangle(int X1, int Y1, int X2, int Y2);    // outlined with the pen, filled with the brush
  void Rectangle(const TRect& Rect) { Rectangle(Rect.left, Rect.top, Rect.right, Rect.bottom); }
  TColor Pixels(int X, int Y);                       // -1 outside the surface
  void SetPixel(int X, int Y, TColor Color);

  // A lock per canvas, usable across threads; re-entrant within a thread.
  void Lock();
  void Unlock();
  bool TryLock();
  int LockCount() const { return FLockCount.load(); }

  // Deselects the pen and brush from the device context (they are selected again when needed).
  void Refresh();
  virtual void Changed();
  virtual void Changing();

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void CreateHandle();
  void RequirePenAndBrush();
  void DeselectHandles();

 private:
  void BrushChanged();
  void PenChanged();

  HDC FHandle{nullptr};
  TBrush FBrush;
  TPen FPen;
  TCopyMode FCopyMode{cmSrcCopy};
  HGDIOBJ FOldBrush{nullptr};
  HGDIOBJ FOldPen{nullptr};
  bool FBrushSelected{false};
  bool FPenSelected{false};
  std::recursive_mutex FLock;
  std::atomic<int> FLockCount{0};
};

// ---------------------------------------------------------------------------------------------
// TBitmap

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TBitmapHandleType { bmDIB, bmDDB };
enum TTransparentMode { tmAuto, tmFixed };

class TBitmapCanvas;
namespace dib {
struct Image;
struct Quad;
}  // namespace dib

class TBitmap : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TBitmap)

  TBitmap();
  ~TBitmap() override;

  // Null empties; a bitmap is copied (picture, format, palette and transparency settings);
  // any other graphic is asked to fill this bitmap (its AssignTo), which raises EConvertError
  // "Cannot assign a <class> to a TBitmap" when it cannot.
  void Assign(TPersistent* Source) override;

  // Width and height can be set in either order; the picture is kept where old and new
  // areas overlap and new areas take the canvas's brush colour. A size of 0 empties.
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  void SetPalette(HPALETTE Value) override;  // takes ownership; recolours a palette-indexed DIB

  // A BMP file from the stream's position to its end (nothing: an empty bitmap). Reads
  // 1, 4, 8, 16, 24 and 32 bits a pixel, BI_RGB, BI_BITFIELDS, RLE4 and RLE8, top-down and
  // bottom-up rows, OS/2 core headers. Malformed data raises EInvalidGraphic "Bitmap image is
  // not valid", data that ends early EReadError "Stream read error"; the bitmap is unchanged then.
  void LoadFromStream(TStream* Stream) override;
  // A BMP file at the bitmap's own format (nothing for an empty bitmap).
  void SaveToStream(TStream* Stream) override;
  // A BMP file, or a bitmap resource (info header first), from memory.
  void LoadFromResourceData(const void* Data, std::size_t Size);
  // CF_BITMAP: a copy of the given bitmap handle (and palette); the handles stay the caller's.
  // Any other format raises EInvalidGraphic "Unsupported clipboard format".
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  // CF_BITMAP with a new device-dependent copy of the picture and a copy of the palette;
  // the receiver owns both.
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

  TCanvas* Canvas();
  // Drops the canvas's device context and the cached mask; the picture stays.
  void FreeImage();

  HBITMAP Handle();
  void SetHandle(HBITMAP Value);  // takes ownership
  HBITMAP ReleaseHandle();        // hands the handle to the caller; the bitmap becomes empty
  TBitmapHandleType HandleType();
  void SetHandleType(TBitmapHandleType Value);
  // Monochrome mask: 1 where a pixel has the transparent colour, else 0. Owned by the bitmap.
  HBITMAP MaskHandle();
  HBITMAP ReleaseMaskHandle();
  HPALETTE ReleasePalette();
  bool IgnorePalette() const { return FIgnorePalette; }
  void SetIgnorePalette(bool Value);
  bool Monochrome();
  void SetMonochrome(bool Value);
  TPixelFormat PixelFormat();
  // Converts the picture (colours kept where the format can hold them); pfCustom raises
  // EInvalidGraphic "Invalid pixel format".
  void SetPixelFormat(TPixelFormat Value);
  // Address of row Row (0 = top) of the device-independent picture (a device-dependent bitmap
  // becomes one); EInvalidGraphicOperation "Scan line index out of range" outside 0..Height-1.
  void* ScanLine(int Row);
  // clDefault (automatic): the colour of the bottom-left pixel (white for a monochrome bitmap).
  TColor TransparentColor();
  void SetTransparentColor(TColor Value);
  TTransparentMode TransparentMode() const { return FTransparentMode; }
  void SetTransparentMode(TTransparentMode Value);

  void Changed(TObject* Sender) override;

 protected:
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  bool GetEmpty() override;
  int GetHeight() override { return FHeight; }
  int GetWidth() override { return FWidth; }
  HPALETTE GetPalette() override;
  // The layout form: a 32-bit byte count, then the BMP file.
  void ReadData(TStream* Stream) override;
  void WriteData(TStream* Stream) override;

 private:
  friend class TBitmapCanvas;

  void Clear();
  void Resize(int NewWidth, int NewHeight);
  // Puts NewHandle (owned) in place of the picture; the palette goes unless KeepPalette.
  void ReplaceHandle(HBITMAP NewHandle, bool KeepPalette);
  void FreeContext();
  void FreeMask();
  // The picture and colour table of the handle (a bitmap is selected into one device context
  // at a time, so these take it out of the canvas's first).
  dib::Image ReadPicture();
  std::vector<dib::Quad> ColorTable();
  void LoadFromBytes(const std::uint8_t* Data, std::size_t Size);

  HBITMAP FHandle{nullptr};
  HBITMAP FMaskHandle{nullptr};
  HPALETTE FPalette{nullptr};
  int FWidth{0};
  int FHeight{0};
  // The format a new picture gets while the bitmap is empty.
  TPixelFormat FPixelFormat{pfDevice};
  bool FMonochrome{false};
  bool FIgnorePalette{false};
  TColor FTransparentColor{clDefault};
  TTransparentMode FTransparentMode{tmAuto};
  std::unique_ptr<TBitmapCanvas> FCanvas;
};

// ---------------------------------------------------------------------------------------------
// TIcon

class TIcon : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TIcon)

  TIcon();
  ~TIcon() override;

  // Null empties; an icon is copied; anything else raises EConvertError.
  void Assign(TPersistent* Source) override;

  // An icon's size is that of its image: both raise EInvalidGraphicOperation
  // "Cannot change the size of an icon".
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  void SetTransparent(bool Value) override;  // ignored: icons are always transparent

  // An ICO (or CUR) file from the stream's position to its end, every image at its own size
  // and depth (1, 4, 8, 16, 24, 32 bits); PNG-compressed images raise EInvalidGraphic.
  void LoadFromStream(TStream* Stream) override;
  // The file as loaded; an icon made from a handle is written as one image.
  void SaveToStream(TStream* Stream) override;
  // Both raise EInvalidGraphicOperation "Clipboard does not support Icons".
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

  // The icon of the image nearest the system icon size (SM_CXICON x SM_CYICON; the deepest
  // among equals), made on demand. Owned by the icon.
  HICON Handle();
  void SetHandle(HICON Value);  // takes ownership; drops the loaded file
  HICON ReleaseHandle();        // hands the handle to the caller
  bool HandleAllocated() const { return FHandle != nullptr; }

 protected:
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;  // DrawIconEx into the rectangle
  bool GetEmpty() override;
  int GetHeight() override;
  int GetWidth() override;
  bool GetTransparent() override { return true; }

 private:
  void Clear();
  int ChosenImage() const;

  std::vector<std::uint8_t> FData;  // the file as loaded
  struct Parsed;
  std::unique_ptr<Parsed> FParsed;
  HICON FHandle{nullptr};
};

// ---------------------------------------------------------------------------------------------
// TMetafile: pictures recorded through a TMetafileCanvas (reading WMF and EMF files is not
// available: it raises EInvalidGraphic "Metafile is not valid").

class TMetafile : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TMetafile)

  TMetafile();
  ~TMetafile() override;

  // Null empties; a metafile is copied; anything else raises EConvertError.
  void Assign(TPersistent* Source) override;
  void Clear();

  void SetWidth(int Value) override;   // the size the record is drawn at, in pixels
  void SetHeight(int Value) override;
  // Size in 0.01 mm at the screen's resolution.
  int MMWidth();
  void SetMMWidth(int Value);
  int MMHeight();
  void SetMMHeight(int Value);
  bool Enhanced() const { return FEnhanced; }
  void SetEnhanced(bool Value) { FEnhanced = Value; }

  void LoadFromStream(TStream* Stream) override;  // raises EInvalidGraphic "Metafile is not valid"
  // Raises EInvalidGraphicOperation "Saving metafiles is not supported".
  void SaveToStream(TStream* Stream) override;
  // Both raise EInvalidGraphic "Unsupported clipboard format".
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

 protected:
  // Replays the record stretched into the rectangle; what the recording did not cover is
  // left as it was.
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  bool GetEmpty() override;
  int GetHeight() override { return FHeight; }
  int GetWidth() override { return FWidth; }
  // Same class and the same recorded pixels.
  bool Equals(TGraphic* Graphic) override;

 private:
  friend class TMetafileCanvas;

  void TakeRecord(HBITMAP Record, int RecordWidth, int RecordHeight);

  HBITMAP FRecord{nullptr};  // 32-bit DIB; reserved byte 0 where drawn
  int FRecordWidth{0};
  int FRecordHeight{0};
  int FWidth{0};
  int FHeight{0};
  bool FEnhanced{true};
};

// Records drawing into a metafile: draw on this canvas, then destroy it; the metafile then
// holds the drawing. The record has the metafile's size (the reference device's size when the
// metafile has none, which then becomes the metafile's size).
class TMetafileCanvas : public TCanvas {
 public:
  TMetafileCanvas(TMetafile* AMetafile, HDC ReferenceDevice);
  ~TMetafileCanvas() override;

 private:
  TMetafile* FMetafile;
  HBITMAP FRecord{nullptr};
  HGDIOBJ FOldBitmap{nullptr};
  int FRecordWidth{0};
  int FRecordHeight{0};
};
