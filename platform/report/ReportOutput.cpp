// Drawing laid-out pages on any paint device: an image (the preview), a PDF file or a printer.
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>
#include <cmath>

#include "platform/report/ReportEngine.h"

namespace kelvrep {

void PaintPage(QPainter& Painter, const TDocument& Doc, int Page, double DotsPerInchX, double DotsPerInchY) {
  if (Page < 0 || static_cast<std::size_t>(Page) >= Doc.Pages.size()) return;
  const double kx = DotsPerInchX / 25.4, ky = DotsPerInchY / 25.4;
  auto rect = [&](const QRectF& R) { return QRectF(R.x() * kx, R.y() * ky, R.width() * kx, R.height() * ky); };
  auto pen = [&](const QColor& C, double Width) {
    if (Width <= 0) return QPen(Qt::NoPen);
    QPen p(C, Width * (kx + ky) / 2);
    p.setCapStyle(Qt::FlatCap);
    p.setJoinStyle(Qt::MiterJoin);
    return p;
  };
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.setRenderHint(QPainter::TextAntialiasing);
  // Pictures are scaled by dropping or repeating rows and columns, as the screen draws them.
  Painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  for (const TOp& op : Doc.Pages[static_cast<std::size_t>(Page)].Ops) {
    switch (op.Type) {
      case TOp::Text:
        Painter.setFont(Doc.Fonts[static_cast<std::size_t>(op.Font)]);
        Painter.setPen(op.Pen);
        Painter.drawText(rect(op.R), op.Flags | Qt::TextDontClip, op.Str);
        break;
      case TOp::Line:
        Painter.setPen(pen(op.Pen, op.PenWidth));
        Painter.drawLine(QLineF(op.L.x1() * kx, op.L.y1() * ky, op.L.x2() * kx, op.L.y2() * ky));
        break;
      case TOp::Rect:
        Painter.setPen(pen(op.Pen, op.PenWidth));
        Painter.setBrush(op.HasFill ? QBrush(op.Fill) : QBrush(Qt::NoBrush));
        Painter.drawRect(rect(op.R));
        Painter.setBrush(Qt::NoBrush);
        break;
      case TOp::Image:
        Painter.drawImage(rect(op.R), op.Picture);
        break;
    }
  }
  Painter.restore();
}

QImage RenderPage(const TDocument& Doc, int Page, double Dpi) {
  const int w = std::max(1, static_cast<int>(std::lround(kPageWidth / 25.4 * Dpi)));
  const int h = std::max(1, static_cast<int>(std::lround(kPageHeight / 25.4 * Dpi)));
  QImage img(w, h, QImage::Format_RGB32);
  const int dpm = static_cast<int>(std::lround(Dpi / 0.0254));
  img.setDotsPerMeterX(dpm);
  img.setDotsPerMeterY(dpm);
  img.fill(Qt::white);
  QPainter painter(&img);
  PaintPage(painter, Doc, Page, Dpi, Dpi);
  painter.end();
  return img;
}

void WritePdf(const TDocument& Doc, const QString& FileName, const TPageProgress& Progress) {
  QSaveFile file(FileName);
  if (!file.open(QIODevice::WriteOnly))
    throw EReportError("Cannot create the file " + FileName.toStdString() + ": " + file.errorString().toStdString());
  {
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    writer.setTitle(Doc.Title);
    writer.setCreator(QStringLiteral("KELV"));
    QPainter painter;
    if (!painter.begin(&writer)) throw EReportError("Cannot write the file " + FileName.toStdString());
    for (std::size_t i = 0; i < Doc.Pages.size(); ++i) {
      if (i > 0) writer.newPage();
      PaintPage(painter, Doc, static_cast<int>(i), writer.logicalDpiX(), writer.logicalDpiY());
      if (Progress && !Progress(static_cast<int>(i) + 1)) {
        painter.end();
        file.cancelWriting();
        throw EAbort();
      }
    }
    painter.end();
  }
  if (!file.commit()) throw EReportError("Cannot write the file " + FileName.toStdString() + ": " + file.errorString().toStdString());
}

void PrintDocument(const TDocument& Doc, QPrinter& Printer, const TPageProgress& Progress) {
  Printer.setFullPage(true);
  Printer.setDocName(Doc.Title);
  QPainter painter;
  if (!painter.begin(&Printer)) throw EReportError("The printer cannot be used");
  for (std::size_t i = 0; i < Doc.Pages.size(); ++i) {
    if (i > 0) Printer.newPage();
    PaintPage(painter, Doc, static_cast<int>(i), Printer.logicalDpiX(), Printer.logicalDpiY());
    if (Progress && !Progress(static_cast<int>(i) + 1)) {
      Printer.abort();
      painter.end();
      throw EAbort();
    }
  }
  painter.end();
}

}  // namespace kelvrep
