#include "platform/report/RavFormat.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>

namespace kelvrep {

const TReportDef* TProjectDef::FindReport(std::string_view Name) const {
  for (const TReportDef& r : Reports)
    if (AnsiSameText(r.Name, Name)) return &r;
  return nullptr;
}

namespace {

constexpr double kEps = 1e-6;

struct TToken {
  std::string Key;    // "key" of key=value, else empty
  std::string Value;  // the word, the quoted text, or the value of key=value
  bool Quoted{false};
};

class TParser {
 public:
  TParser(std::string_view Text, std::string SourceName) : FText(Text), FSource(std::move(SourceName)) {}
  TProjectDef Run();

 private:
  [[noreturn]] void Fail(const std::string& What) const {
    throw EReportError(FSource + ", line " + std::to_string(FLineNo) + ": " + What);
  }
  bool NextLine();  // tokenizes the next line that has tokens into FTokens
  void Tokenize(std::string_view Line);

  TReportDef ParseReport();
  void ParseFont(TReportDef& Report);
  void ParsePage(TReportDef& Report);
  void ParseBand(TReportDef& Report);
  void ParseTable(TReportDef& Report);
  TItem ParseItem(TReportDef& Report, double BandHeight);
  void ParseIcons(TItem& Item);
  const std::string& Keyword() const;
  int DefaultFont(TReportDef& Report) const;
  void CheckRect(double X, double Y, double W, double H, double Width, double Height) const;

  // Positional arguments (not key=value) after the keyword.
  std::vector<const TToken*> Positional() const;
  const TToken* Option(const std::string& Key) const;
  void AllowOptions(std::initializer_list<const char*> Keys) const;
  double Number(const std::string& Text, const char* What, double Min, double Max) const;
  TRgb Color(const std::string& Text) const;
  TAlign Align(const std::string& Text) const;
  int FontIndex(const TReportDef& Report, const std::string& Name) const;
  TTemplate Template(const std::string& Text) const;

  std::string_view FText;
  std::string FSource;
  std::size_t FPos{0};
  int FLineNo{0};
  std::vector<TToken> FTokens;
};

bool TParser::NextLine() {
  while (FPos < FText.size()) {
    std::size_t end = FText.find('\n', FPos);
    if (end == std::string_view::npos) end = FText.size();
    std::string_view line = FText.substr(FPos, end - FPos);
    FPos = end + 1;
    ++FLineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (FLineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    Tokenize(line);
    if (!FTokens.empty()) return true;
  }
  FPos = FText.size();
  return false;
}

void TParser::Tokenize(std::string_view Line) {
  FTokens.clear();
  std::size_t i = 0;
  auto quoted = [&](std::string& Out) {
    ++i;  // opening quote
    for (;;) {
      if (i >= Line.size()) Fail("a quoted text is not closed");
      char c = Line[i++];
      if (c == '"') break;
      if (c == '\\') {
        if (i >= Line.size()) Fail("a quoted text is not closed");
        char e = Line[i++];
        if (e == '"' || e == '\\')
          Out += e;
        else if (e == 'n')
          Out += '\n';
        else
          Fail(std::string("unknown escape \\") + e + " in a quoted text");
      } else {
        Out += c;
      }
    }
    if (i < Line.size() && Line[i] != ' ' && Line[i] != '\t' && Line[i] != '#')
      Fail("a quoted text must be followed by a space");
  };
  while (i < Line.size()) {
    char c = Line[i];
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (c == '#') break;
    TToken t;
    if (c == '"') {
      t.Quoted = true;
      quoted(t.Value);
    } else {
      std::string word;
      while (i < Line.size() && Line[i] != ' ' && Line[i] != '\t' && Line[i] != '"' && Line[i] != '=') word += Line[i++];
      if (i < Line.size() && Line[i] == '=') {
        if (word.empty()) Fail("'=' without an option name");
        ++i;
        t.Key = word;
        if (i < Line.size() && Line[i] == '"') {
          t.Quoted = true;
          quoted(t.Value);
        } else {
          while (i < Line.size() && Line[i] != ' ' && Line[i] != '\t') {
            if (Line[i] == '"' || Line[i] == '=') Fail("unexpected '" + std::string(1, Line[i]) + "' in option " + word);
            t.Value += Line[i++];
          }
          if (t.Value.empty()) Fail("option " + word + " has no value");
        }
      } else {
        if (i < Line.size() && Line[i] == '"') Fail("a quoted text must follow a space");
        t.Value = word;
      }
    }
    FTokens.push_back(std::move(t));
  }
}

std::vector<const TToken*> TParser::Positional() const {
  std::vector<const TToken*> out;
  for (std::size_t i = 1; i < FTokens.size(); ++i)
    if (FTokens[i].Key.empty()) out.push_back(&FTokens[i]);
  return out;
}

const TToken* TParser::Option(const std::string& Key) const {
  const TToken* found = nullptr;
  for (std::size_t i = 1; i < FTokens.size(); ++i)
    if (FTokens[i].Key == Key) {
      if (found) Fail("option " + Key + " is given twice");
      found = &FTokens[i];
    }
  return found;
}

void TParser::AllowOptions(std::initializer_list<const char*> Keys) const {
  for (std::size_t i = 1; i < FTokens.size(); ++i) {
    if (FTokens[i].Key.empty()) continue;
    bool ok = false;
    for (const char* k : Keys) ok = ok || FTokens[i].Key == k;
    if (!ok) Fail("unknown option " + FTokens[i].Key + " for '" + FTokens[0].Value + "'");
  }
}

double TParser::Number(const std::string& Text, const char* What, double Min, double Max) const {
  double v = 0;
  const char* first = Text.data();
  const char* last = Text.data() + Text.size();
  auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::fixed);
  if (Text.empty() || ec != std::errc() || ptr != last || !std::isfinite(v))
    Fail(std::string(What) + " must be a number, not '" + Text + "'");
  if (v < Min || v > Max) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", Min, Max);
    Fail(std::string(What) + " " + Text + " is outside " + range);
  }
  return v;
}

TRgb TParser::Color(const std::string& Text) const {
  if (Text.size() != 7 || Text[0] != '#') Fail("a colour is written #RRGGBB, not '" + Text + "'");
  TRgb v = 0;
  for (std::size_t i = 1; i < 7; ++i) {
    char c = Text[i];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) Fail("a colour is written #RRGGBB, not '" + Text + "'");
    v = v * 16 + static_cast<TRgb>(d);
  }
  return v;
}

TAlign TParser::Align(const std::string& Text) const {
  if (Text == "left") return TAlign::Left;
  if (Text == "center") return TAlign::Center;
  if (Text == "right") return TAlign::Right;
  Fail("align is left, center or right, not '" + Text + "'");
}

int TParser::FontIndex(const TReportDef& Report, const std::string& Name) const {
  for (std::size_t i = 0; i < Report.Fonts.size(); ++i)
    if (Report.Fonts[i].Name == Name) return static_cast<int>(i);
  Fail("no font named '" + Name + "' is defined before this line");
}

TTemplate TParser::Template(const std::string& Text) const {
  try {
    return ParseTemplate(Text);
  } catch (const EReportError& E) {
    Fail(E.Message());
  }
}

TProjectDef TParser::Run() {
  bool any = false;
  try {
    any = NextLine();
  } catch (const EReportError&) {
    Fail("not a report project: the first line must be 'kelvrav 1'");
  }
  if (!any) {
    FLineNo = 1;
    Fail("the file is empty; a report project begins with 'kelvrav 1'");
  }
  if (FTokens.size() != 2 || FTokens[0].Value != "kelvrav" || !FTokens[0].Key.empty() || FTokens[0].Quoted)
    Fail("not a report project: the first line must be 'kelvrav 1'");
  if (FTokens[1].Value != "1" || !FTokens[1].Key.empty()) Fail("version " + FTokens[1].Value + " is not known (1 is)");
  TProjectDef project;
  while (NextLine()) {
    if (FTokens[0].Value != "report" || FTokens[0].Quoted || !FTokens[0].Key.empty())
      Fail("expected 'report', found '" + FTokens[0].Value + "'");
    const int line = FLineNo;
    TReportDef r = ParseReport();
    if (project.FindReport(r.Name)) {
      FLineNo = line;
      Fail("a report named \"" + r.Name + "\" is defined twice");
    }
    project.Reports.push_back(std::move(r));
  }
  if (project.Reports.empty()) Fail("the project has no report");
  return project;
}

const std::string& TParser::Keyword() const {
  if (FTokens[0].Quoted || !FTokens[0].Key.empty()) Fail("a line must begin with a keyword");
  return FTokens[0].Value;
}

int TParser::DefaultFont(TReportDef& Report) const {
  if (Report.Fonts.empty()) Report.Fonts.push_back({"default", "DejaVu Sans", 10, false, false});
  return 0;
}

void TParser::CheckRect(double X, double Y, double W, double H, double Width, double Height) const {
  if (W <= 0 || H <= 0) Fail("width and height must be above 0");
  if (X + W > Width + kEps || Y + H > Height + kEps) {
    char size[64];
    std::snprintf(size, sizeof size, "%g x %g mm", Width, Height);
    Fail(std::string("the item reaches past its band (") + size + ")");
  }
}

TReportDef TParser::ParseReport() {
  const int openLine = FLineNo;
  AllowOptions({});
  auto pos = Positional();
  if (pos.size() != 1 || !pos[0]->Quoted) Fail("'report' needs its name in quotes");
  TReportDef r;
  r.Name = pos[0]->Value;
  if (r.Name.empty()) Fail("a report name cannot be empty");
  bool page = false;
  for (;;) {
    if (!NextLine()) {
      FLineNo = openLine;
      Fail("report \"" + r.Name + "\" is not closed with 'end'");
    }
    const std::string& kw = Keyword();
    if (kw == "end") {
      if (FTokens.size() != 1) Fail("'end' stands alone on its line");
      break;
    } else if (kw == "page") {
      if (page) Fail("'page' is given twice");
      if (!r.Blocks.empty()) Fail("'page' must come before the first band or table");
      ParsePage(r);
      page = true;
    } else if (kw == "font") {
      ParseFont(r);
    } else if (kw == "band") {
      ParseBand(r);
    } else if (kw == "table") {
      ParseTable(r);
    } else {
      Fail("unknown keyword '" + kw + "' in a report (page, font, band, table or end)");
    }
  }
  DefaultFont(r);
  return r;
}

void TParser::ParsePage(TReportDef& Report) {
  AllowOptions({"margin"});
  auto pos = Positional();
  if (pos.size() != 1 || pos[0]->Quoted || pos[0]->Value != "A4") Fail("'page' takes the page size A4");
  if (const TToken* m = Option("margin")) Report.Margin = Number(m->Value, "margin", 0, 50);
}

void TParser::ParseFont(TReportDef& Report) {
  AllowOptions({});
  auto pos = Positional();
  if (pos.size() < 3 || pos[0]->Quoted || !pos[1]->Quoted)
    Fail("'font' needs a name, the family in quotes and a size in points");
  TFontDef f;
  f.Name = pos[0]->Value;
  f.Family = pos[1]->Value;
  if (f.Family.empty()) Fail("a font family cannot be empty");
  f.Size = Number(pos[2]->Value, "font size", 1, 144);
  for (std::size_t i = 3; i < pos.size(); ++i) {
    if (pos[i]->Quoted) Fail("a font takes the words bold and italic after its size");
    if (pos[i]->Value == "bold")
      f.Bold = true;
    else if (pos[i]->Value == "italic")
      f.Italic = true;
    else
      Fail("a font takes the words bold and italic after its size, not '" + pos[i]->Value + "'");
  }
  for (const TFontDef& g : Report.Fonts)
    if (g.Name == f.Name) Fail("a font named '" + f.Name + "' is defined twice");
  Report.Fonts.push_back(std::move(f));
}

void TParser::ParseBand(TReportDef& Report) {
  const int openLine = FLineNo;
  AllowOptions({});
  auto pos = Positional();
  if (pos.size() != 1 || pos[0]->Quoted) Fail("'band' takes its height in millimetres");
  TBlock b;
  b.Type = TBlock::Band;
  b.Height = Number(pos[0]->Value, "band height", 0, kPageHeight);
  if (b.Height <= 0 || b.Height > Report.ContentHeight() + kEps) Fail("a band must be above 0 and fit on the page");
  for (;;) {
    if (!NextLine()) {
      FLineNo = openLine;
      Fail("'band' is not closed with 'end'");
    }
    if (Keyword() == "end") {
      if (FTokens.size() != 1) Fail("'end' stands alone on its line");
      break;
    }
    b.Items.push_back(ParseItem(Report, b.Height));
  }
  Report.Blocks.push_back(std::move(b));
}

TItem TParser::ParseItem(TReportDef& Report, double BandHeight) {
  const std::string kw = Keyword();
  const double cw = Report.ContentWidth();
  auto pos = Positional();
  auto numbers = [&](std::size_t Count, const char* Usage) {
    if (pos.size() < Count) Fail(Usage);
    std::vector<double> v;
    for (std::size_t i = 0; i < Count; ++i) {
      if (pos[i]->Quoted) Fail(Usage);
      v.push_back(Number(pos[i]->Value, "a position or size", 0, 1000));
    }
    return v;
  };
  TItem it;
  if (kw == "text") {
    const char* usage = "'text' needs X Y W H and the text in quotes";
    AllowOptions({"font", "align", "color"});
    auto v = numbers(4, usage);
    if (pos.size() != 5 || !pos[4]->Quoted) Fail(usage);
    it.Type = TItem::Text;
    it.X = v[0], it.Y = v[1], it.W = v[2], it.H = v[3];
    CheckRect(it.X, it.Y, it.W, it.H, cw, BandHeight);
    it.Content = Template(pos[4]->Value);
    it.Font = Option("font") ? FontIndex(Report, Option("font")->Value) : DefaultFont(Report);
    if (const TToken* a = Option("align")) it.Align = Align(a->Value);
    if (const TToken* c = Option("color")) it.Color = Color(c->Value);
  } else if (kw == "line") {
    const char* usage = "'line' needs X1 Y1 X2 Y2";
    AllowOptions({"width", "color"});
    auto v = numbers(4, usage);
    if (pos.size() != 4) Fail(usage);
    it.Type = TItem::Line;
    it.X = v[0], it.Y = v[1], it.W = v[2], it.H = v[3];
    if (std::max(it.X, it.W) > cw + kEps || std::max(it.Y, it.H) > BandHeight + kEps)
      Fail("the line reaches past its band");
    if (const TToken* w = Option("width")) it.PenWidth = Number(w->Value, "line width", 0.05, 10);
    if (const TToken* c = Option("color")) it.Color = Color(c->Value);
  } else if (kw == "box") {
    const char* usage = "'box' needs X Y W H";
    AllowOptions({"width", "color", "fill"});
    auto v = numbers(4, usage);
    if (pos.size() != 4) Fail(usage);
    it.Type = TItem::Box;
    it.X = v[0], it.Y = v[1], it.W = v[2], it.H = v[3];
    CheckRect(it.X, it.Y, it.W, it.H, cw, BandHeight);
    if (const TToken* w = Option("width")) it.PenWidth = Number(w->Value, "line width", 0, 10);
    if (const TToken* c = Option("color")) it.Color = Color(c->Value);
    if (const TToken* f = Option("fill")) {
      it.HasFill = true;
      it.Fill = Color(f->Value);
    }
  } else if (kw == "image") {
    const char* usage = "'image' needs X Y W H and a parameter name";
    AllowOptions({});
    auto v = numbers(4, usage);
    if (pos.size() != 5 || pos[4]->Quoted) Fail(usage);
    it.Type = TItem::Image;
    it.X = v[0], it.Y = v[1], it.W = v[2], it.H = v[3];
    CheckRect(it.X, it.Y, it.W, it.H, cw, BandHeight);
    it.Param = pos[4]->Value;
  } else if (kw == "icons") {
    const char* usage = "'icons' needs X Y and the icon height H";
    AllowOptions({"gap", "font"});
    auto v = numbers(3, usage);
    if (pos.size() != 3) Fail(usage);
    it.Type = TItem::Icons;
    it.X = v[0], it.Y = v[1], it.H = v[2];
    it.Font = Option("font") ? FontIndex(Report, Option("font")->Value) : DefaultFont(Report);
    if (const TToken* g = Option("gap")) it.Gap = Number(g->Value, "gap", 0, 100);
    // The caption line below the icons must fit in the band too.
    const double caption = Report.Fonts[static_cast<std::size_t>(it.Font)].Size * 25.4 / 72 * 1.3;
    it.W = cw - it.X;
    CheckRect(it.X, it.Y, it.W, it.H + caption, cw, BandHeight);
    ParseIcons(it);
  } else {
    Fail("unknown item '" + kw + "' in a band (text, line, box, image, icons or end)");
  }
  return it;
}

void TParser::ParseIcons(TItem& Item) {
  const int openLine = FLineNo;
  for (;;) {
    if (!NextLine()) {
      FLineNo = openLine;
      Fail("'icons' is not closed with 'end'");
    }
    const std::string& kw = Keyword();
    if (kw == "end") {
      if (FTokens.size() != 1) Fail("'end' stands alone on its line");
      break;
    }
    if (kw != "icon") Fail("only 'icon' lines and 'end' go inside 'icons'");
    AllowOptions({});
    auto pos = Positional();
    if (pos.size() != 2 || pos[0]->Quoted || !pos[1]->Quoted) Fail("'icon' needs a parameter name and a caption in quotes");
    Item.IconList.push_back({pos[0]->Value, pos[1]->Value});
  }
  if (Item.IconList.empty()) Fail("'icons' has no icon");
}

void TParser::ParseTable(TReportDef& Report) {
  const int openLine = FLineNo;
  AllowOptions({"font", "header", "rowheight", "headerfill", "empty"});
  auto pos = Positional();
  if (pos.size() != 1 || pos[0]->Quoted) Fail("'table' takes the name of a data connection");
  TBlock b;
  b.Type = TBlock::Table;
  b.Connection = pos[0]->Value;
  if (b.Connection.find_first_of(".{}") != std::string::npos) Fail("a data connection name has no '.', '{' or '}'");
  b.Font = Option("font") ? FontIndex(Report, Option("font")->Value) : DefaultFont(Report);
  b.HeaderFont = Option("header") ? FontIndex(Report, Option("header")->Value) : b.Font;
  if (const TToken* h = Option("rowheight")) b.RowHeight = Number(h->Value, "row height", 2, 50);
  if (const TToken* f = Option("headerfill")) {
    b.HasHeaderFill = true;
    b.HeaderFill = Color(f->Value);
  }
  if (const TToken* e = Option("empty")) b.Empty = e->Value;
  double total = 0;
  for (;;) {
    if (!NextLine()) {
      FLineNo = openLine;
      Fail("'table' is not closed with 'end'");
    }
    const std::string& kw = Keyword();
    if (kw == "end") {
      if (FTokens.size() != 1) Fail("'end' stands alone on its line");
      break;
    }
    if (kw != "column") Fail("only 'column' lines and 'end' go inside 'table'");
    AllowOptions({"align"});
    auto cpos = Positional();
    if (cpos.size() != 3 || cpos[0]->Quoted || !cpos[1]->Quoted || !cpos[2]->Quoted)
      Fail("'column' needs a width, the heading in quotes and the text in quotes");
    TColumnDef c;
    c.Width = Number(cpos[0]->Value, "column width", 1, kPageWidth);
    c.Header = cpos[1]->Value;
    c.Content = Template(cpos[2]->Value);
    if (const TToken* a = Option("align")) c.Align = Align(a->Value);
    total += c.Width;
    if (total > Report.ContentWidth() + kEps) Fail("the columns are wider than the page");
    b.Columns.push_back(std::move(c));
  }
  if (b.Columns.empty()) Fail("'table' has no column");
  Report.Blocks.push_back(std::move(b));
}

}  // namespace

TTemplate ParseTemplate(std::string_view Text) {
  TTemplate out;
  std::string lit;
  auto flush = [&] {
    if (!lit.empty()) out.push_back({false, std::move(lit), {}, {}});
    lit.clear();
  };
  for (std::size_t i = 0; i < Text.size();) {
    const char c = Text[i];
    const bool doubled = i + 1 < Text.size() && Text[i + 1] == c;
    if (c == '{' && !doubled) {
      const std::size_t close = Text.find('}', i + 1);
      if (close == std::string_view::npos) throw EReportError("a '{' is not closed (write {{ for a brace)");
      const std::string_view inner = Text.substr(i + 1, close - i - 1);
      const std::size_t dot = inner.find('.');
      if (inner.find('{') != std::string_view::npos || dot == std::string_view::npos || dot == 0 ||
          dot + 1 == inner.size())
        throw EReportError("a field is written {Connection.Field}, not {" + std::string(inner) + "}");
      flush();
      out.push_back({true, {}, std::string(inner.substr(0, dot)), std::string(inner.substr(dot + 1))});
      i = close + 1;
    } else if (c == '}' && !doubled) {
      throw EReportError("a '}' without its '{' (write }} for a brace)");
    } else {
      lit += c;
      i += (c == '{' || c == '}') ? 2 : 1;
    }
  }
  flush();
  return out;
}

TProjectDef ParseProject(std::string_view Text, const std::string& SourceName) {
  if (Text.size() > kMaxProjectSize) throw EReportError(SourceName + ": the file is too large for a report project");
  return TParser(Text, SourceName).Run();
}

}  // namespace kelvrep
