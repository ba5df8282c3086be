#pragma once
// Inside the report engine: the rows read from the data connections, the pages laid out from a
// report definition, and their output to a paint device, a PDF file or a printer.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QLineF>
#include <QRectF>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/report/RavFormat.h"

class QPaintDevice;
class QPainter;
class QPrinter;
class QWidget;
class TComponent;

namespace kelvrep {

// The rows of every data connection a report names, read once before it is laid out. Fields
// are kept as text (a null value as empty text).
struct TConnectionRows {
  std::vector<std::string> Fields;               // as the report names them
  std::vector<std::vector<std::string>> Rows;    // Rows[r][f]
  int FieldIndex(const std::string& Field) const;  // without regard to case; -1 when absent
};

class TDataSnapshot {
 public:
  TConnectionRows& Add(const std::string& Connection);  // makes or finds it
  const TConnectionRows* Find(const std::string& Connection) const;
  // Row Row of a connection ("" past the last row, or for a field that was not read).
  std::string Value(const std::string& Connection, const std::string& Field, std::size_t Row) const;

 private:
  std::map<std::string, TConnectionRows> FConnections;  // key: upper-cased name
};

// Every connection a report names, with the fields it reads from each, in order of first use.
std::vector<std::pair<std::string, std::vector<std::string>>> ReferencedFields(const TReportDef& Report);

// One drawing operation; geometry in millimetres from the page's top-left corner.
struct TOp {
  enum Kind { Text, Line, Rect, Image };
  Kind Type{Text};
  QRectF R;             // Text, Rect, Image
  QLineF L;             // Line
  QString Str;          // Text: already broken into lines ('\n')
  int Font{0};          // Text
  int Flags{0};         // Text: Qt alignment flags
  QColor Pen{Qt::black};
  double PenWidth{0};   // Line, Rect (0: no border)
  bool HasFill{false};  // Rect
  QColor Fill;
  QImage Picture;       // Image
};

struct TPage {
  std::vector<TOp> Ops;
};

struct TDocument {
  QString Title;
  std::vector<QFont> Fonts;  // point sizes
  std::vector<TPage> Pages;
};

using TParamLookup = std::function<std::string(const std::string& Name)>;
// Called after each finished page (1-based); returning false cancels (LayOut raises EAbort).
using TPageProgress = std::function<bool(int Page)>;

// Lays a report out on A4 pages. Parameters name image files: an image whose parameter is empty,
// unset or names no readable picture draws nothing.
TDocument LayOut(const TReportDef& Report, const TDataSnapshot& Data, const TParamLookup& Param,
                 const TPageProgress& Progress = {});

// Draws page Page (0-based) on a painter whose device has the given resolution.
void PaintPage(QPainter& Painter, const TDocument& Doc, int Page, double DotsPerInchX, double DotsPerInchY);
// The page as a white image at Dpi dots per inch.
QImage RenderPage(const TDocument& Doc, int Page, double Dpi);
// Writes every page to a PDF file, replacing it only when the whole document is written.
// Raises EReportError when the file cannot be written, EAbort when Progress cancels.
void WritePdf(const TDocument& Doc, const QString& FileName, const TPageProgress& Progress = {});
// Prints every page on a printer that is already set up. EAbort when Progress cancels.
void PrintDocument(const TDocument& Doc, QPrinter& Printer, const TPageProgress& Progress = {});

// The engine's windows.
enum class TDestination { Printer, Preview, File };
struct TOutputChoice {
  TDestination Destination{TDestination::Preview};
  int Copies{1};
  QString FileName;
};
// "Output Options": empty when cancelled.
std::optional<TOutputChoice> RunOutputOptions(const QString& ReportName);
// The printer dialog for Copies copies; false when cancelled.
bool SetUpPrinter(QPrinter& Printer, int Copies, QWidget* Parent);
// "Report Preview", modal, until the user closes it.
void RunPreview(const TDocument& Doc, int Copies);

// "Report Status": shown while a report is read, laid out and written; application-modal.
class TStatusWindow {
 public:
  explicit TStatusWindow(const QString& ReportName);
  ~TStatusWindow();
  TStatusWindow(const TStatusWindow&) = delete;
  TStatusWindow& operator=(const TStatusWindow&) = delete;
  void SetStatus(const QString& Text);
  void SetPage(int Page);
  // Lets the window paint and take a click on Cancel; false once cancelled.
  bool Poll();

 private:
  struct TImpl;
  TImpl* FImpl;
};

}  // namespace kelvrep
