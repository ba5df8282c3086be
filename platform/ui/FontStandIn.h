#pragma once
// The font of the controls (TFont): a description only (name, size, colour, style, character
// set); no text is drawn with it. Setters raise OnChange only when a value changes. Kept here
// until platform/graphics has a TFont; this header then includes that one instead.
#include <cstdint>
#include <string>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Kernel.h"

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
