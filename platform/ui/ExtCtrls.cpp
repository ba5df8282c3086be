#include "platform/ui/ExtCtrls.h"

#include "platform/ui/Published.h"

namespace {

// a * b / c rounded to the nearest integer (a, b, c >= 0, c > 0), at least 1.
int ScaleSide(std::int64_t A, std::int64_t B, std::int64_t C) {
  std::int64_t v = (2 * A * B + C) / (2 * C);
  return static_cast<int>(v < 1 ? 1 : v);
}

}  // namespace

TRect ImageDestRect(int PictureWidth, int PictureHeight, int ClientWidth, int ClientHeight, bool Stretch,
                    bool Proportional, bool Center) {
  if (PictureWidth <= 0 || PictureHeight <= 0) return TRect{};
  ClientWidth = ClientWidth < 0 ? 0 : ClientWidth;
  ClientHeight = ClientHeight < 0 ? 0 : ClientHeight;
  int w = PictureWidth;
  int h = PictureHeight;
  if (Proportional && (Stretch || w > ClientWidth || h > ClientHeight)) {
    if (ClientWidth == 0 || ClientHeight == 0) {
      w = 0;
      h = 0;
    } else if (static_cast<std::int64_t>(w) * ClientHeight >= static_cast<std::int64_t>(h) * ClientWidth) {
      // Relatively wider than the client area: the width limits.
      h = ScaleSide(h, ClientWidth, w);
      w = ClientWidth;
    } else {
      w = ScaleSide(w, ClientHeight, h);
      h = ClientHeight;
    }
  } else if (Stretch) {
    w = ClientWidth;
    h = ClientHeight;
  }
  TRect r{0, 0, w, h};
  if (Center) {
    int dx = (ClientWidth - w) / 2;
    int dy = (ClientHeight - h) / 2;
    r.left += dx;
    r.right += dx;
    r.top += dy;
    r.bottom += dy;
  }
  return r;
}

TImage::TImage(TComponent* AOwner) : TGraphicControl(AOwner), FPicture(std::make_unique<TPicture>()) {
  SetControlStyle(ControlStyle() | csReplicatable);
  FPicture->OnChange = [this](TObject* Sender) { PictureChanged(Sender); };
  SetBounds(0, 0, 105, 105);
}

TImage::~TImage() { FPicture->OnChange = nullptr; }

TRect TImage::DestRect() {
  return ImageDestRect(FPicture->Width(), FPicture->Height(), ClientWidth(), ClientHeight(), FStretch,
                       FProportional, FCenter);
}

void TImage::Paint() {
  TGraphic* graphic = FPicture->Graphic();
  if (!graphic || graphic->Empty()) return;
  TRect dest = DestRect();
  if (dest.right <= dest.left || dest.bottom <= dest.top) return;
  Canvas()->StretchDraw(dest, graphic);
}

void TImage::PictureChanged(TObject*) {
  if (FInPictureChanged) return;
  FInPictureChanged = true;
  try {
    if (AutoSize() && FPicture->Width() > 0 && FPicture->Height() > 0)
      SetBounds(Left(), Top(), FPicture->Width(), FPicture->Height());
    TGraphic* graphic = FPicture->Graphic();
    if (graphic && !graphic->InheritsFrom(TMetafile::StaticClass()) && !graphic->InheritsFrom(TIcon::StaticClass()) &&
        graphic->Transparent() != FTransparent)
      graphic->SetTransparent(FTransparent);
  } catch (...) {
    FInPictureChanged = false;
    throw;
  }
  FInPictureChanged = false;
  Invalidate();
}

void TImage::SetCenter(bool Value) {
  if (Value == FCenter) return;
  FCenter = Value;
  PictureChanged(this);
}

void TImage::SetProportional(bool Value) {
  if (Value == FProportional) return;
  FProportional = Value;
  PictureChanged(this);
}

void TImage::SetStretch(bool Value) {
  if (Value == FStretch) return;
  FStretch = Value;
  PictureChanged(this);
}

void TImage::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  PictureChanged(this);
}

void TImage::SetAutoSize(bool Value) {
  if (Value == AutoSize()) return;
  TGraphicControl::SetAutoSize(Value);
  if (Value) PictureChanged(this);
}

const TPublishedClass* TImage::PublishedClass() const {
  auto self = [](TControl* C) { return static_cast<TImage*>(C); };
  static const TPublishedClass published{
      "TImage",
      TControl::PublishedClass(),
      {
          EnumProperty(
              "Align", "TAlign", {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"},
              [](TControl* C) { return static_cast<std::int64_t>(C->Align()); },
              [](TControl* C, std::int64_t V) { C->SetAlign(static_cast<TAlign>(V)); }, psDefault, alNone),
          BooleanProperty(
              "AutoSize", [](TControl* C) { return C->AutoSize(); },
              [](TControl* C, bool V) { C->SetAutoSize(V); }, psDefault, false),
          BooleanProperty(
              "Center", [self](TControl* C) { return self(C)->Center(); },
              [self](TControl* C, bool V) { self(C)->SetCenter(V); }, psDefault, false),
          BooleanProperty(
              "Enabled", [](TControl* C) { return C->Enabled(); }, [](TControl* C, bool V) { C->SetEnabled(V); },
              psDefault, true),
          StringProperty(
              "Hint", "string", [](TControl* C) { return C->Hint(); },
              [](TControl* C, const std::string& V) { C->SetHint(V); }, psStored,
              [](TControl* C) { return !C->Hint().empty(); }),
          BooleanProperty(
              "ParentShowHint", [](TControl* C) { return C->ParentShowHint(); },
              [](TControl* C, bool V) { C->SetParentShowHint(V); }, psDefault, true),
          BinaryProperty(
              "Picture", "TPicture",
              [self](TControl* C) {
                TMemoryStream stream;
                self(C)->Picture()->WriteData(&stream);
                return std::string(static_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size()));
              },
              [self](TControl* C, const std::string& V) {
                TResourceStream stream(V.data(), static_cast<std::int64_t>(V.size()));
                self(C)->Picture()->ReadData(&stream);
              },
              [self](TControl* C) { return self(C)->Picture()->Graphic() != nullptr; }),
          BooleanProperty(
              "Proportional", [self](TControl* C) { return self(C)->Proportional(); },
              [self](TControl* C, bool V) { self(C)->SetProportional(V); }, psDefault, false),
          StoredWhen(BooleanProperty(
                         "ShowHint", [](TControl* C) { return C->ShowHint(); },
                         [](TControl* C, bool V) { C->SetShowHint(V); }, psStored),
                     [](TControl* C) { return !C->ParentShowHint(); }),
          BooleanProperty(
              "Stretch", [self](TControl* C) { return self(C)->Stretch(); },
              [self](TControl* C, bool V) { self(C)->SetStretch(V); }, psDefault, false),
          BooleanProperty(
              "Transparent", [self](TControl* C) { return self(C)->Transparent(); },
              [self](TControl* C, bool V) { self(C)->SetTransparent(V); }, psDefault, false),
          BooleanProperty(
              "Visible", [](TControl* C) { return C->Visible(); }, [](TControl* C, bool V) { C->SetVisible(V); },
              psDefault, true),
          EventProperty<TNotifyEvent>("OnClick", "TNotifyEvent", [](TControl* C) { return &C->OnClick; }),
          EventProperty<TMouseEvent>("OnMouseDown", "TMouseEvent", [](TControl* C) { return &C->OnMouseDown; }),
          EventProperty<TMouseMoveEvent>("OnMouseMove", "TMouseMoveEvent",
                                         [](TControl* C) { return &C->OnMouseMove; }),
          EventProperty<TMouseEvent>("OnMouseUp", "TMouseEvent", [](TControl* C) { return &C->OnMouseUp; }),
      }};
  return &published;
}
