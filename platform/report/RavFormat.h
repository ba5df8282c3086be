#pragma once
// The report project file: a small line-based text format (described in FORMAT.md) and the
// model it is read into. Pure C++: the engine (Report.h) lays the model out with Qt.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/SysUtils.h"

// A project file that cannot be read, or a report that cannot run; the message says which
// file, line and item.
class EReportError : public Exception {
 public:
  using Exception::Exception;
};

namespace kelvrep {

// Largest project file the engine reads.
inline constexpr std::uint64_t kMaxProjectSize = 1u << 20;

// A4 in millimetres.
inline constexpr double kPageWidth = 210.0;
inline constexpr double kPageHeight = 297.0;

enum class TAlign { Left, Center, Right };

// Literal text and {Connection.Field} references, in order.
struct TTextPart {
  bool IsField{false};
  std::string Text;        // literal text
  std::string Connection;  // when IsField
  std::string Field;
};
using TTemplate = std::vector<TTextPart>;

struct TFontDef {
  std::string Name;
  std::string Family;
  double Size{10};  // points
  bool Bold{false};
  bool Italic{false};
};

struct TIconDef {
  std::string Param;
  std::string Caption;
};

// 0xRRGGBB
using TRgb = std::uint32_t;

struct TItem {
  enum Kind { Text, Line, Box, Image, Icons };
  Kind Type{Text};
  double X{0}, Y{0}, W{0}, H{0};  // a line runs from (X, Y) to (W, H)
  TTemplate Content;              // Text
  int Font{0};                    // Text, Icons: index into TReportDef::Fonts
  TAlign Align{TAlign::Left};     // Text
  TRgb Color{0};                  // Text, Line, Box
  double PenWidth{0.3};           // Line, Box (0: no border)
  bool HasFill{false};            // Box
  TRgb Fill{0xFFFFFF};
  std::string Param;              // Image
  double Gap{4};                  // Icons
  std::vector<TIconDef> IconList; // Icons
};

struct TColumnDef {
  double Width{0};
  std::string Header;
  TTemplate Content;
  TAlign Align{TAlign::Left};
};

struct TBlock {
  enum Kind { Band, Table };
  Kind Type{Band};
  double Height{0};  // Band
  std::vector<TItem> Items;
  std::string Connection;  // Table
  int Font{0};
  int HeaderFont{0};
  double RowHeight{6};
  bool HasHeaderFill{false};
  TRgb HeaderFill{0xFFFFFF};
  std::string Empty;  // text of the one row shown when there are no rows ("" shows none)
  std::vector<TColumnDef> Columns;
};

struct TReportDef {
  std::string Name;
  double Margin{15};
  std::vector<TFontDef> Fonts;  // never empty after parsing
  std::vector<TBlock> Blocks;

  double ContentWidth() const { return kPageWidth - 2 * Margin; }
  double ContentHeight() const { return kPageHeight - 2 * Margin; }
};

struct TProjectDef {
  std::vector<TReportDef> Reports;
  // Without regard to case; null when absent.
  const TReportDef* FindReport(std::string_view Name) const;
};

// Reads a project; SourceName names it in error messages. Raises EReportError with
// "SourceName, line N: what" for the first fault found.
TProjectDef ParseProject(std::string_view Text, const std::string& SourceName);

// Reads a text with {Connection.Field} references ("{{" and "}}" stand for braces). Raises
// EReportError (without a place) when a brace is unmatched or a reference is malformed.
TTemplate ParseTemplate(std::string_view Text);

}  // namespace kelvrep
