#include "platform/ui/Animate.h"

#include <QDynamicPropertyChangeEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kFindFileFrames = 8;
constexpr int kFrameMs = 120;

constexpr const char* kClipNames[] = {"aviNone",         "aviFindFolder",   "aviFindFile",
                                      "aviFindComputer", "aviCopyFiles",    "aviCopyFile",
                                      "aviRecycleFile",  "aviEmptyRecycle", "aviDeleteFile"};

// The file search: a sheet of text with a magnifying glass circling over it. Drawn for a 16 x 16
// box; Frame is 0-based.
void DrawFindFile(QPainter& P, int Frame) {
  P.setRenderHint(QPainter::Antialiasing, true);
  // The sheet, its folded corner and its lines.
  QPainterPath sheet;
  sheet.moveTo(2.5, 1.5);
  sheet.lineTo(9.5, 1.5);
  sheet.lineTo(12.5, 4.5);
  sheet.lineTo(12.5, 14.5);
  sheet.lineTo(2.5, 14.5);
  sheet.closeSubpath();
  P.setPen(QPen(QColor(64, 64, 64), 1));
  P.setBrush(Qt::white);
  P.drawPath(sheet);
  P.drawLine(QPointF(9.5, 1.5), QPointF(9.5, 4.5));
  P.drawLine(QPointF(9.5, 4.5), QPointF(12.5, 4.5));
  P.setPen(QPen(QColor(128, 128, 160), 1));
  for (int y = 6; y <= 12; y += 2) P.drawLine(QPointF(4, y + 0.5), QPointF(11, y + 0.5));
  // The glass on a small circle over the sheet.
  const double angle = 2.0 * 3.14159265358979 * Frame / kFindFileFrames;
  const QPointF centre(7.5 + 2.5 * std::cos(angle), 8.0 + 2.0 * std::sin(angle));
  P.setPen(QPen(QColor(120, 80, 30), 2.0, Qt::SolidLine, Qt::RoundCap));
  P.drawLine(centre + QPointF(2.2, 2.2), centre + QPointF(4.5, 4.5));
  P.setPen(QPen(QColor(40, 40, 40), 1.2));
  P.setBrush(QColor(180, 220, 255, 190));
  P.drawEllipse(centre, 3.0, 3.0);
}

}  // namespace

TAnimate::TAnimate(QWidget* Parent) : QWidget(Parent) {}

TAnimate::~TAnimate() = default;

int TAnimate::FrameCount() const { return FCommonAVI == aviFindFile ? kFindFileFrames : 0; }

void TAnimate::SetCommonAVI(TCommonAVI Value) {
  FCommonAVI = Value;
  FStartFrame = 1;
  FStopFrame = FrameCount();
  FFrame = 1;
  SetActive(FActive);
}

void TAnimate::Clamp() {
  const int count = FrameCount();
  FStartFrame = std::clamp(FStartFrame, 1, std::max(count, 1));
  FStopFrame = std::clamp(FStopFrame, FStartFrame, std::max(count, FStartFrame));
  FFrame = std::clamp(FFrame, FStartFrame, FStopFrame);
}

void TAnimate::SetStartFrame(int Value) {
  FStartFrame = Value;
  Clamp();
  update();
}

void TAnimate::SetStopFrame(int Value) {
  FStopFrame = Value;
  Clamp();
  update();
}

void TAnimate::SetActive(bool Value) {
  FActive = Value;
  if (Value && FrameCount() > 0) {
    FFrame = FStartFrame;
    FTimer.start(kFrameMs, this);
  } else {
    FTimer.stop();
  }
  update();
}

void TAnimate::ReadProperty(const QByteArray& Name) {
  const QVariant v = property(Name.constData());
  if (Name == "CommonAVI") {
    const QString text = v.toString();
    for (int i = 0; i < static_cast<int>(std::size(kClipNames)); ++i)
      if (text == QLatin1String(kClipNames[i])) SetCommonAVI(static_cast<TCommonAVI>(i));
  } else if (Name == "StartFrame") {
    SetStartFrame(v.toInt());
  } else if (Name == "StopFrame") {
    SetStopFrame(v.toInt());
  } else if (Name == "Active") {
    SetActive(v.toBool());
  }
}

bool TAnimate::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange)
    ReadProperty(static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName());
  return QWidget::event(Event);
}

void TAnimate::timerEvent(QTimerEvent* Event) {
  if (Event->timerId() != FTimer.timerId()) {
    QWidget::timerEvent(Event);
    return;
  }
  FFrame = FFrame >= FStopFrame ? FStartFrame : FFrame + 1;
  update();
}

void TAnimate::paintEvent(QPaintEvent*) {
  if (FCommonAVI != aviFindFile) return;
  QPainter p(this);
  p.translate((width() - 16) / 2, (height() - 16) / 2);
  DrawFindFile(p, FFrame - 1);
}
