#include "tools/jet4/Jet4Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace jet4 {

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::uint32_t cp;
    std::size_t n;
    if (b0 < 0x80) {
      cp = b0;
      n = 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      cp = b0 & 0x1Fu;
      n = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      cp = b0 & 0x0Fu;
      n = 3;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      cp = b0 & 0x07u;
      n = 4;
    } else {
      throw EJet4Error("invalid UTF-8 byte in text");
    }
    if (s.size() - i < n) throw EJet4Error("truncated UTF-8 sequence in text");
    for (std::size_t k = 1; k < n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0u) != 0x80u) throw EJet4Error("invalid UTF-8 sequence in text");
      cp = (cp << 6) | (b & 0x3Fu);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      throw EJet4Error("overlong or out-of-range UTF-8 sequence in text");
    if (cp >= 0xD800 && cp <= 0xDFFF) throw EJet4Error("UTF-8 encoded surrogate in text");
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FFu)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::vector<std::uint8_t> EncodeText(const std::u16string& text, bool compress) {
  std::vector<std::uint8_t> plain;
  plain.reserve(text.size() * 2);
  for (char16_t c : text) {
    plain.push_back(static_cast<std::uint8_t>(c & 0xFF));
    plain.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (!compress || text.empty()) return plain;
  // A zero low byte would read as a mode switch in two-byte mode, and U+0000 as one in one-byte mode.
  if (std::any_of(text.begin(), text.end(), [](char16_t c) { return (c & 0xFF) == 0; })) return plain;
  std::vector<std::uint8_t> packed{0xFF, 0xFE};
  bool oneByte = true;
  for (char16_t c : text) {
    const bool wantOne = c < 0x100;
    if (wantOne != oneByte) {
      packed.push_back(0x00);
      oneByte = wantOne;
    }
    packed.push_back(static_cast<std::uint8_t>(c & 0xFF));
    if (!oneByte) packed.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return packed.size() < plain.size() ? packed : plain;
}

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool IEquals(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

// One token of a line: a bare word or a quoted string (escapes resolved).
struct TToken {
  std::string Text;
  bool Quoted = false;
};

class TParser {
 public:
  TParser(std::string_view source, const std::string& name, TDatabase& db) : src_(source), name_(name), db_(db) {}

  void Run() {
    std::size_t pos = src_.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;  // a byte-order mark
    while (pos <= src_.size()) {
      std::size_t eol = src_.find('\n', pos);
      if (eol == std::string_view::npos) eol = src_.size();
      ++line_;
      std::string_view text = src_.substr(pos, eol - pos);
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
      HandleLine(text);
      pos = eol + 1;
    }
    if (mode_ != TMode::Top) Fail("missing 'end' of the block begun at line " + std::to_string(blockLine_));
  }

 private:
  enum class TMode { Top, Table, Rows };

  [[noreturn]] void Fail(const std::string& msg) const {
    throw EJet4Error(name_ + ":" + std::to_string(line_) + ": " + msg);
  }

  // Splits a line into tokens; separators are blanks, and commas when commas is set (then every
  // value must be followed by a comma or the end of the line).
  std::vector<TToken> Tokenize(std::string_view s, bool commas) const {
    std::vector<TToken> out;
    std::size_t i = 0;
    auto skipBlanks = [&] {
      while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    };
    bool expectValue = true;
    for (;;) {
      skipBlanks();
      if (i >= s.size() || s[i] == '#') break;
      if (commas && s[i] == ',') {
        if (expectValue) Fail("missing value before ','");
        expectValue = true;
        ++i;
        skipBlanks();
        if (i >= s.size() || s[i] == '#') Fail("missing value after ','");
        continue;
      }
      if (commas && !expectValue) Fail("expected ',' between values");
      TToken tok;
      if (s[i] == '"') {
        tok.Quoted = true;
        ++i;
        for (;;) {
          if (i >= s.size()) Fail("unterminated string");
          const char c = s[i++];
          if (c == '"') break;
          if (c != '\\') {
            tok.Text.push_back(c);
            continue;
          }
          if (i >= s.size()) Fail("unterminated string");
          const char e = s[i++];
          switch (e) {
            case '"': tok.Text.push_back('"'); break;
            case '\\': tok.Text.push_back('\\'); break;
            case 'n': tok.Text.push_back('\n'); break;
            case 'r': tok.Text.push_back('\r'); break;
            case 't': tok.Text.push_back('\t'); break;
            case 'u': tok.Text += UnicodeEscape(s, i); break;
            default: Fail(std::string("unknown escape '\\") + e + "'");
          }
        }
        try {
          Utf8ToUtf16(tok.Text);
        } catch (const EJet4Error& e) {
          Fail(e.what());
        }
      } else {
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '#' && !(commas && s[i] == ',')) {
          if (s[i] == '"') Fail("quote inside a bare word");
          ++i;
        }
        tok.Text.assign(s.substr(start, i - start));
      }
      out.push_back(std::move(tok));
      expectValue = false;
    }
    return out;
  }

  std::string UnicodeEscape(std::string_view s, std::size_t& i) const {
    if (s.size() - i < 4) Fail("\\u needs four hexadecimal digits");
    unsigned cp = 0;
    const auto r = std::from_chars(s.data() + i, s.data() + i + 4, cp, 16);
    if (r.ec != std::errc() || r.ptr != s.data() + i + 4) Fail("\\u needs four hexadecimal digits");
    i += 4;
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) Fail("\\u escape of a null or surrogate character");
    std::string out;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return out;
  }

  TTable* FindTable(std::string_view name) {
    for (auto& t : db_.Tables)
      if (IEquals(t.Name, name)) return &t;
    return nullptr;
  }

  void HandleLine(std::string_view text) {
    const bool values = mode_ == TMode::Rows;
    std::vector<TToken> toks = Tokenize(text, values);
    if (toks.empty()) return;
    const bool isEnd = toks.size() == 1 && !toks[0].Quoted && IEquals(toks[0].Text, "end");
    switch (mode_) {
      case TMode::Top: return HandleTop(toks);
      case TMode::Table:
        if (isEnd) {
          if (table_->Columns.empty()) Fail("table '" + table_->Name + "' has no columns");
          mode_ = TMode::Top;
          return;
        }
        return HandleColumn(toks);
      case TMode::Rows:
        if (isEnd) {
          mode_ = TMode::Top;
          return;
        }
        return HandleRow(toks);
    }
  }

  void HandleTop(const std::vector<TToken>& toks) {
    const std::string word = toks[0].Quoted ? std::string() : Lower(toks[0].Text);
    if (word == "option") {
      if (toks.size() != 3 || toks[1].Quoted || !IEquals(toks[1].Text, "text"))
        Fail("expected 'option text plain' or 'option text compressed'");
      db_.DefaultTextForm = TextForm(toks[2]);
      return;
    }
    if (word == "table" || word == "rows") {
      if (toks.size() != 2) Fail("expected '" + word + " NAME'");
      const std::string& name = toks[1].Text;
      TTable* t = FindTable(name);
      if (word == "table") {
        if (t) Fail("table '" + name + "' is declared twice");
        db_.Tables.push_back(TTable{name, {}, {}});
        table_ = &db_.Tables.back();
        mode_ = TMode::Table;
      } else {
        if (!t) Fail("rows for undeclared table '" + name + "'");
        table_ = t;
        mode_ = TMode::Rows;
      }
      blockLine_ = line_;
      return;
    }
    Fail("expected 'table', 'rows' or 'option'");
  }

  TTextForm TextForm(const TToken& t) const {
    if (!t.Quoted && IEquals(t.Text, "plain")) return TTextForm::Plain;
    if (!t.Quoted && IEquals(t.Text, "compressed")) return TTextForm::Compressed;
    Fail("expected 'plain' or 'compressed', not '" + t.Text + "'");
  }

  void HandleColumn(const std::vector<TToken>& toks) {
    if (toks.size() < 2 || toks.size() > 3) Fail("expected 'NAME TYPE [plain|compressed]'");
    TColumn col;
    col.Name = toks[0].Text;
    for (const auto& c : table_->Columns)
      if (IEquals(c.Name, col.Name)) Fail("column '" + col.Name + "' is declared twice");
    if (toks[1].Quoted) Fail("a column type is a bare word");
    const std::string type = Lower(toks[1].Text);
    static const std::pair<const char*, TColumnType> kTypes[] = {
        {"boolean", TColumnType::Boolean},   {"byte", TColumnType::Byte},
        {"integer", TColumnType::Integer},   {"long", TColumnType::LongInteger},
        {"autonumber", TColumnType::AutoNumber}, {"currency", TColumnType::Currency},
        {"single", TColumnType::Single},     {"double", TColumnType::Double},
        {"datetime", TColumnType::DateTime},
        {"memo", TColumnType::Memo}};
    bool known = false;
    for (const auto& [word, t] : kTypes)
      if (type == word) {
        col.Type = t;
        known = true;
      }
    if (!known) {
      if (type.size() > 6 && type.compare(0, 5, "text(") == 0 && type.back() == ')') {
        int n = 0;
        const char* b = type.data() + 5;
        const char* e = type.data() + type.size() - 1;
        const auto r = std::from_chars(b, e, n);
        if (r.ec != std::errc() || r.ptr != e || n < 1 || n > 255) Fail("text length must be 1 to 255");
        col.Type = TColumnType::Text;
        col.Length = n;
      } else {
        Fail("unknown column type '" + toks[1].Text + "'");
      }
    }
    if (toks.size() == 3) {
      if (col.Type != TColumnType::Text && col.Type != TColumnType::Memo)
        Fail("'plain' and 'compressed' apply to text and memo columns only");
      col.TextForm = TextForm(toks[2]);
    }
    table_->Columns.push_back(std::move(col));
  }

  std::int64_t Integer(const TToken& t, std::int64_t lo, std::int64_t hi, const std::string& what) const {
    std::int64_t v = 0;
    const char* b = t.Text.data();
    const char* e = b + t.Text.size();
    const auto r = std::from_chars(b, e, v);
    if (t.Quoted || r.ec == std::errc::invalid_argument || r.ptr != e) Fail("expected an integer for " + what);
    if (r.ec == std::errc::result_out_of_range || v < lo || v > hi)
      Fail(what + " out of range " + std::to_string(lo) + ".." + std::to_string(hi) + ": " + t.Text);
    return v;
  }

  // A decimal number with up to four fraction digits, as ten-thousandths: the whole currency
  // range, -922337203685477.5808 to 922337203685477.5807.
  std::int64_t Currency(const TToken& t, const std::string& what) const {
    std::string_view s = t.Text;
    bool neg = false;
    if (!t.Quoted && !s.empty() && s[0] == '-') {
      neg = true;
      s.remove_prefix(1);
    }
    const std::size_t dot = s.find('.');
    std::string_view whole = s.substr(0, dot);
    std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    auto digits = [](std::string_view d) {
      return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (t.Quoted || whole.empty() || !digits(whole) || !digits(frac) || frac.size() > 4 ||
        (dot != std::string_view::npos && frac.empty()))
      Fail("expected a decimal number with at most four decimals for " + what);
    // The magnitude in ten-thousandths, at most 2^63 (the most negative amount).
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < whole.size() + 4; ++k) {
      const char c = k < whole.size() ? whole[k] : k - whole.size() < frac.size() ? frac[k - whole.size()] : '0';
      const auto digit = static_cast<std::uint64_t>(c - '0');
      if (v > (kLimit - digit) / 10) Fail(what + " out of range: " + t.Text);
      v = v * 10 + digit;
    }
    if (!neg && v == kLimit) Fail(what + " out of range: " + t.Text);
    return neg ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
  }

  double DateTime(const TToken& t, const std::string& what) const {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    const std::string& s = t.Text;
    auto num = [&](std::size_t pos, std::size_t len, int& out) {
      if (pos + len > s.size()) return false;
      for (std::size_t k = pos; k < pos + len; ++k)
        if (s[k] < '0' || s[k] > '9') return false;
      out = std::stoi(s.substr(pos, len));
      return true;
    };
    bool ok = t.Quoted && (s.size() == 10 || s.size() == 16 || s.size() == 19) && num(0, 4, y) && s[4] == '-' &&
              num(5, 2, mo) && s[7] == '-' && num(8, 2, d);
    if (ok && s.size() > 10) ok = s[10] == ' ' && num(11, 2, h) && s[13] == ':' && num(14, 2, mi);
    if (ok && s.size() > 16) ok = s[16] == ':' && num(17, 2, sec);
    if (!ok) Fail("expected \"YYYY-MM-DD\" or \"YYYY-MM-DD HH:MM[:SS]\" for " + what);
    try {
      return EncodeDateTime(y, mo, d, h, mi, sec);
    } catch (const EJet4Error& e) {
      Fail(std::string(e.what()) + " for " + what);
    }
  }

  TValue Value(const TToken& t, const TColumn& col) const {
    const std::string what = "column '" + col.Name + "'";
    if (!t.Quoted && IEquals(t.Text, "null")) {
      if (col.Type == TColumnType::Boolean) Fail("a Yes/No value cannot be null (" + what + ")");
      if (col.Type == TColumnType::AutoNumber) Fail("an AutoNumber value cannot be null (" + what + ")");
      return std::monostate{};
    }
    switch (col.Type) {
      case TColumnType::Boolean: {
        const std::string w = t.Quoted ? std::string() : Lower(t.Text);
        if (w == "yes" || w == "true" || w == "1") return true;
        if (w == "no" || w == "false" || w == "0") return false;
        Fail("expected yes or no for " + what);
      }
      case TColumnType::Byte: return Integer(t, 0, 255, what);
      case TColumnType::Integer: return Integer(t, -32768, 32767, what);
      case TColumnType::LongInteger:
      case TColumnType::AutoNumber: return Integer(t, INT32_MIN, INT32_MAX, what);
      case TColumnType::Currency: return Currency(t, what);
      case TColumnType::Single:
      case TColumnType::Double: {
        double v = 0;
        const char* b = t.Text.data();
        const char* e = b + t.Text.size();
        const auto r = std::from_chars(b, e, v);
        if (t.Quoted || r.ec != std::errc() || r.ptr != e || !std::isfinite(v))
          Fail("expected a finite number for " + what);
        return v;
      }
      case TColumnType::DateTime: return DateTime(t, what);
      case TColumnType::Text:
      case TColumnType::Memo: {
        if (!t.Quoted) Fail("expected a quoted string or null for " + what);
        if (col.Type == TColumnType::Text && Utf8ToUtf16(t.Text).size() > static_cast<std::size_t>(col.Length))
          Fail("text longer than " + std::to_string(col.Length) + " characters for " + what);
        return t.Text;
      }
      case TColumnType::Binary:
      case TColumnType::Ole: break;
    }
    Fail("column type without values (" + what + ")");
  }

  void HandleRow(const std::vector<TToken>& toks) {
    const auto& cols = table_->Columns;
    if (toks.size() != cols.size())
      Fail("table '" + table_->Name + "' has " + std::to_string(cols.size()) + " columns, the row gives " +
           std::to_string(toks.size()) + " values");
    TRow row;
    row.reserve(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) row.push_back(Value(toks[i], cols[i]));
    table_->Rows.push_back(std::move(row));
  }

  std::string_view src_;
  std::string name_;
  TDatabase& db_;
  int line_ = 0;
  int blockLine_ = 0;
  TMode mode_ = TMode::Top;
  TTable* table_ = nullptr;
};

}  // namespace

void ParseText(std::string_view source, const std::string& name, TDatabase& db) {
  TParser(source, name, db).Run();
}

}  // namespace jet4
