// Laying a report out on pages: bands stacked from the top margin down, tables row by row with
// their heading repeated on every page they run onto.
#include <QFontMetricsF>
#include <QImageReader>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "platform/report/ReportEngine.h"

namespace kelvrep {

int TConnectionRows::FieldIndex(const std::string& Field) const {
  for (std::size_t i = 0; i < Fields.size(); ++i)
    if (AnsiSameText(Fields[i], Field)) return static_cast<int>(i);
  return -1;
}

TConnectionRows& TDataSnapshot::Add(const std::string& Connection) { return FConnections[AnsiUpperCase(Connection)]; }

const TConnectionRows* TDataSnapshot::Find(const std::string& Connection) const {
  auto it = FConnections.find(AnsiUpperCase(Connection));
  return it == FConnections.end() ? nullptr : &it->second;
}

std::string TDataSnapshot::Value(const std::string& Connection, const std::string& Field, std::size_t Row) const {
  const TConnectionRows* c = Find(Connection);
  if (!c || Row >= c->Rows.size()) return {};
  const int f = c->FieldIndex(Field);
  return f < 0 ? std::string() : c->Rows[Row][static_cast<std::size_t>(f)];
}

std::vector<std::pair<std::string, std::vector<std::string>>> ReferencedFields(const TReportDef& Report) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  auto conn = [&](const std::string& Name) -> std::vector<std::string>& {
    for (auto& c : out)
      if (AnsiSameText(c.first, Name)) return c.second;
    out.push_back({Name, {}});
    return out.back().second;
  };
  auto scan = [&](const TTemplate& T) {
    for (const TTextPart& p : T) {
      if (!p.IsField) continue;
      auto& fields = conn(p.Connection);
      bool known = false;
      for (const std::string& f : fields) known = known || AnsiSameText(f, p.Field);
      if (!known) fields.push_back(p.Field);
    }
  };
  for (const TBlock& b : Report.Blocks) {
    if (b.Type == TBlock::Table) conn(b.Connection);
    for (const TItem& it : b.Items) scan(it.Content);
    for (const TColumnDef& c : b.Columns) scan(c.Content);
  }
  return out;
}

namespace {

constexpr double kRefDpi = 1200;  // text is measured at the resolution of the PDF output
constexpr double kRefPxPerMm = kRefDpi / 25.4;
constexpr double kCellPadX = 1.2;
constexpr double kCellPadY = 0.8;
const QColor kGridColor(0x90, 0x90, 0x90);
constexpr double kGridWidth = 0.2;

QPaintDevice* ReferenceDevice() {
  static QImage device = [] {
    QImage img(1, 1, QImage::Format_RGB32);
    const int dpm = static_cast<int>(std::lround(kRefDpi / 0.0254));
    img.setDotsPerMeterX(dpm);
    img.setDotsPerMeterY(dpm);
    return img;
  }();
  return &device;
}

QColor ToColor(TRgb C) { return QColor((C >> 16) & 0xFF, (C >> 8) & 0xFF, C & 0xFF); }

int AlignFlags(TAlign A) {
  switch (A) {
    case TAlign::Center:
      return Qt::AlignHCenter;
    case TAlign::Right:
      return Qt::AlignRight;
    case TAlign::Left:
      break;
  }
  return Qt::AlignLeft;
}

double LineHeight(const QFont& Font) { return QFontMetricsF(Font, ReferenceDevice()).lineSpacing() / kRefPxPerMm; }

double TextWidth(const QFont& Font, const QString& Text) {
  return QFontMetricsF(Font, ReferenceDevice()).horizontalAdvance(Text) / kRefPxPerMm;
}

// Breaks text into lines no wider than Width mm: at word boundaries, inside a word only when
// the word alone is wider.
QStringList WrapLines(const QFont& Font, const QString& Text, double Width) {
  QStringList lines;
  const double widthPx = std::max(1.0, Width * kRefPxPerMm);
  for (const QString& paragraph : Text.split(QLatin1Char('\n'))) {
    if (paragraph.isEmpty()) {
      lines << QString();
      continue;
    }
    QTextLayout layout(paragraph, Font, ReferenceDevice());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
      QTextLine line = layout.createLine();
      if (!line.isValid()) break;
      line.setLineWidth(widthPx);
      QString part = paragraph.mid(line.textStart(), line.textLength());
      while (!part.isEmpty() && part.back().isSpace()) part.chop(1);
      lines << part;
    }
    layout.endLayout();
  }
  return lines;
}

class TLayout {
 public:
  TLayout(const TReportDef& Report, const TDataSnapshot& Data, const TParamLookup& Param, const TPageProgress& Progress)
      : R(Report), D(Data), P(Param), Progress(Progress) {}

  TDocument Run();

 private:
  std::string Fill(const TTemplate& T, const std::string& RowConnection, std::size_t Row) const;
  QImage Picture(const std::string& ParamName);
  void NewPage();
  void Band(const TBlock& B);
  void Table(const TBlock& B);
  void TableHeader(const TBlock& B, double Height);
  enum TRowKind { rkHeader, rkData, rkEmpty };  // rkEmpty: one cell across the table
  static double CellWidth(const TBlock& B, std::size_t Column, TRowKind Kind);
  double CellHeight(const TBlock& B, int Font, const std::vector<QString>& Texts, TRowKind Kind);
  void CellRow(const TBlock& B, int Font, const std::vector<QString>& Texts, double Height, TRowKind Kind);
  void AddText(const QRectF& Rect, const QString& Text, int Font, int Flags, const QColor& Color, bool Clip);

  const TReportDef& R;
  const TDataSnapshot& D;
  const TParamLookup& P;
  const TPageProgress& Progress;
  TDocument Doc;
  double Y{0};
  std::map<std::string, QImage> FPictures;  // by file name
};

std::string TLayout::Fill(const TTemplate& T, const std::string& RowConnection, std::size_t Row) const {
  std::string out;
  for (const TTextPart& p : T) {
    if (!p.IsField)
      out += p.Text;
    else
      out += D.Value(p.Connection, p.Field, AnsiSameText(p.Connection, RowConnection) ? Row : 0);
  }
  return out;
}

QImage TLayout::Picture(const std::string& ParamName) {
  const std::string value = P ? P(ParamName) : std::string();
  if (value.empty()) return {};
  const std::string file = FindFileNoCase(value);
  if (file.empty()) return {};
  auto it = FPictures.find(file);
  if (it != FPictures.end()) return it->second;
  QImageReader reader(QString::fromStdString(file));
  reader.setAutoTransform(true);
  QImage img = reader.read();
  if (!img.isNull() && img.hasAlphaChannel()) {
    // Drawn on white paper.
    QImage flat(img.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, img);
    painter.end();
    img = flat;
  }
  FPictures[file] = img;
  return img;
}

void TLayout::NewPage() {
  if (!Doc.Pages.empty() && Progress && !Progress(static_cast<int>(Doc.Pages.size()))) throw EAbort();
  Doc.Pages.emplace_back();
  Y = R.Margin;
}

void TLayout::AddText(const QRectF& Rect, const QString& Text, int Font, int Flags, const QColor& Color, bool Clip) {
  const QFont& font = Doc.Fonts[static_cast<std::size_t>(Font)];
  QStringList lines = WrapLines(font, Text, Rect.width());
  if (Clip) {
    // Only the lines that fit in the box (at least one).
    const auto fit = std::max<qsizetype>(1, static_cast<qsizetype>(std::floor(Rect.height() / LineHeight(font) + 1e-6)));
    if (lines.size() > fit) lines = lines.mid(0, fit);
  }
  TOp op;
  op.Type = TOp::Text;
  op.R = Rect;
  op.Str = lines.join(QLatin1Char('\n'));
  op.Font = Font;
  op.Flags = Flags;
  op.Pen = Color;
  Doc.Pages.back().Ops.push_back(std::move(op));
}

void TLayout::Band(const TBlock& B) {
  if (Y + B.Height > kPageHeight - R.Margin + 1e-6 && Y > R.Margin + 1e-6) NewPage();
  const double x0 = R.Margin;
  const double y0 = Y;
  auto& ops = Doc.Pages.back().Ops;
  for (const TItem& it : B.Items) {
    switch (it.Type) {
      case TItem::Text:
        AddText(QRectF(x0 + it.X, y0 + it.Y, it.W, it.H), QString::fromStdString(Fill(it.Content, {}, 0)), it.Font,
                AlignFlags(it.Align) | Qt::AlignTop, ToColor(it.Color), true);
        break;
      case TItem::Line: {
        TOp op;
        op.Type = TOp::Line;
        op.L = QLineF(x0 + it.X, y0 + it.Y, x0 + it.W, y0 + it.H);
        op.Pen = ToColor(it.Color);
        op.PenWidth = it.PenWidth;
        ops.push_back(std::move(op));
        break;
      }
      case TItem::Box: {
        TOp op;
        op.Type = TOp::Rect;
        op.R = QRectF(x0 + it.X, y0 + it.Y, it.W, it.H);
        op.Pen = ToColor(it.Color);
        op.PenWidth = it.PenWidth;
        op.HasFill = it.HasFill;
        op.Fill = ToColor(it.Fill);
        ops.push_back(std::move(op));
        break;
      }
      case TItem::Image: {
        QImage img = Picture(it.Param);
        if (img.isNull()) break;
        // Scaled to fit the box, in proportion, centred.
        const double s = std::min(it.W / img.width(), it.H / img.height());
        const double w = img.width() * s, h = img.height() * s;
        TOp op;
        op.Type = TOp::Image;
        op.R = QRectF(x0 + it.X + (it.W - w) / 2, y0 + it.Y + (it.H - h) / 2, w, h);
        op.Picture = img;
        ops.push_back(std::move(op));
        break;
      }
      case TItem::Icons: {
        const QFont& font = Doc.Fonts[static_cast<std::size_t>(it.Font)];
        const double lineH = LineHeight(font);
        double x = x0 + it.X;
        const double right = x0 + it.X + it.W;
        for (const TIconDef& icon : it.IconList) {
          if (!P || P(icon.Param).empty()) continue;
          QImage img = Picture(icon.Param);
          const QString caption = QString::fromStdString(icon.Caption);
          const double iconW = img.isNull() ? 0 : it.H * img.width() / img.height();
          const double cell = std::max(iconW, TextWidth(font, caption) + 0.5);
          if (x + cell > right + 1e-6) break;
          if (!img.isNull()) {
            TOp op;
            op.Type = TOp::Image;
            op.R = QRectF(x + (cell - iconW) / 2, y0 + it.Y, iconW, it.H);
            op.Picture = img;
            Doc.Pages.back().Ops.push_back(std::move(op));
          }
          AddText(QRectF(x, y0 + it.Y + it.H + 0.3, cell, lineH), caption, it.Font, Qt::AlignHCenter | Qt::AlignTop,
                  Qt::black, true);
          x += cell + it.Gap;
        }
        break;
      }
    }
  }
  Y += B.Height;
}

double TLayout::CellWidth(const TBlock& B, std::size_t Column, TRowKind Kind) {
  if (Kind != rkEmpty) return B.Columns[Column].Width;
  double w = 0;
  for (const TColumnDef& c : B.Columns) w += c.Width;
  return w;
}

double TLayout::CellHeight(const TBlock& B, int Font, const std::vector<QString>& Texts, TRowKind Kind) {
  const QFont& font = Doc.Fonts[static_cast<std::size_t>(Font)];
  const double lineH = LineHeight(font);
  double h = B.RowHeight;
  for (std::size_t c = 0; c < Texts.size(); ++c) {
    const double width = CellWidth(B, c, Kind) - 2 * kCellPadX;
    h = std::max(h, static_cast<double>(WrapLines(font, Texts[c], width).size()) * lineH + 2 * kCellPadY);
  }
  // A row never runs past a page.
  return std::min(h, R.ContentHeight() / 2);
}

void TLayout::CellRow(const TBlock& B, int Font, const std::vector<QString>& Texts, double Height, TRowKind Kind) {
  double x = R.Margin;
  for (std::size_t c = 0; c < Texts.size(); ++c) {
    const double width = CellWidth(B, c, Kind);
    TOp cell;
    cell.Type = TOp::Rect;
    cell.R = QRectF(x, Y, width, Height);
    cell.Pen = kGridColor;
    cell.PenWidth = kGridWidth;
    cell.HasFill = Kind == rkHeader && B.HasHeaderFill;
    cell.Fill = ToColor(B.HeaderFill);
    Doc.Pages.back().Ops.push_back(std::move(cell));
    const int align = Kind == rkData ? AlignFlags(B.Columns[c].Align) : Qt::AlignLeft;
    AddText(QRectF(x + kCellPadX, Y + kCellPadY, width - 2 * kCellPadX, Height - 2 * kCellPadY), Texts[c], Font,
            align | Qt::AlignVCenter, Qt::black, true);
    x += width;
  }
  Y += Height;
}

void TLayout::TableHeader(const TBlock& B, double Height) {
  std::vector<QString> heads;
  for (const TColumnDef& c : B.Columns) heads.push_back(QString::fromStdString(c.Header));
  CellRow(B, B.HeaderFont, heads, Height, rkHeader);
}

void TLayout::Table(const TBlock& B) {
  const double bottom = kPageHeight - R.Margin + 1e-6;
  std::vector<QString> heads;
  for (const TColumnDef& c : B.Columns) heads.push_back(QString::fromStdString(c.Header));
  const double headH = CellHeight(B, B.HeaderFont, heads, rkHeader);

  const TConnectionRows* rows = D.Find(B.Connection);
  const std::size_t count = rows ? rows->Rows.size() : 0;
  auto rowTexts = [&](std::size_t Row) {
    std::vector<QString> texts;
    for (const TColumnDef& c : B.Columns) texts.push_back(QString::fromStdString(Fill(c.Content, B.Connection, Row)));
    return texts;
  };

  if (count == 0) {
    const std::vector<QString> empty{QString::fromStdString(B.Empty)};
    const double h = B.Empty.empty() ? 0 : CellHeight(B, B.Font, empty, rkEmpty);
    if (Y + headH + h > bottom && Y > R.Margin + 1e-6) NewPage();
    TableHeader(B, headH);
    if (h > 0) CellRow(B, B.Font, empty, h, rkEmpty);
    return;
  }
  bool headed = false;
  for (std::size_t r = 0; r < count; ++r) {
    const std::vector<QString> texts = rowTexts(r);
    const double h = CellHeight(B, B.Font, texts, rkData);
    if (Y + (headed ? 0 : headH) + h > bottom && Y > R.Margin + 1e-6) {
      NewPage();
      headed = false;
    }
    if (!headed) {
      TableHeader(B, headH);
      headed = true;
    }
    CellRow(B, B.Font, texts, h, rkData);
  }
}

TDocument TLayout::Run() {
  Doc.Title = QString::fromStdString(R.Name);
  for (const TFontDef& f : R.Fonts) {
    QFont font(QString::fromStdString(f.Family));
    font.setPointSizeF(f.Size);
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    font.setKerning(true);
    font.setHintingPreference(QFont::PreferNoHinting);
    Doc.Fonts.push_back(font);
  }
  NewPage();
  for (const TBlock& b : R.Blocks) {
    if (b.Type == TBlock::Band)
      Band(b);
    else
      Table(b);
  }
  if (Progress && !Progress(static_cast<int>(Doc.Pages.size()))) throw EAbort();
  return std::move(Doc);
}

}  // namespace

TDocument LayOut(const TReportDef& Report, const TDataSnapshot& Data, const TParamLookup& Param,
                 const TPageProgress& Progress) {
  return TLayout(Report, Data, Param, Progress).Run();
}

}  // namespace kelvrep
