#include "platform/db/JetSql.h"

#include "platform/rtl/SysUtils.h"

#include <cctype>

namespace kelvdb {
namespace {

enum class Tok { Space, Ident, Bracket, String, Number, Param, Other };

struct Token {
  Tok Kind;
  std::size_t Begin, End;  // span in the source text
  std::string Value;       // identifier / parameter name / string contents
};

bool IsIdentStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80 || c == '$'; }

bool SameAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(A[i])) != std::tolower(static_cast<unsigned char>(B[i]))) return false;
  return true;
}

std::vector<Token> Tokenize(std::string_view S) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < S.size()) {
    const std::size_t b = i;
    const auto c = static_cast<unsigned char>(S[i]);
    if (std::isspace(c)) {
      while (i < S.size() && std::isspace(static_cast<unsigned char>(S[i]))) ++i;
      out.push_back({Tok::Space, b, i, {}});
    } else if (IsIdentStart(c)) {
      while (i < S.size() && IsIdentChar(static_cast<unsigned char>(S[i]))) ++i;
      out.push_back({Tok::Ident, b, i, std::string(S.substr(b, i - b))});
    } else if (c == '[' || c == '`') {
      const char close = c == '[' ? ']' : '`';
      const std::size_t e = S.find(close, i + 1);
      if (e == std::string_view::npos) throw Exception("Syntax error in SQL: unterminated name " + std::string(S.substr(b)));
      i = e + 1;
      out.push_back({Tok::Bracket, b, i, std::string(S.substr(b + 1, e - b - 1))});
    } else if (c == '\'' || c == '"') {
      std::string value;
      ++i;
      for (;;) {
        if (i >= S.size()) throw Exception("Syntax error in SQL: unterminated string " + std::string(S.substr(b)));
        if (S[i] == static_cast<char>(c)) {
          if (i + 1 < S.size() && S[i + 1] == static_cast<char>(c)) {
            value += S[i];
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += S[i++];
      }
      out.push_back({Tok::String, b, i, std::move(value)});
    } else if (std::isdigit(c)) {
      while (i < S.size() && (std::isalnum(static_cast<unsigned char>(S[i])) || S[i] == '.')) ++i;
      out.push_back({Tok::Number, b, i, {}});
    } else if (c == ':' && i + 1 < S.size() && IsIdentChar(static_cast<unsigned char>(S[i + 1]))) {
      ++i;
      while (i < S.size() && IsIdentChar(static_cast<unsigned char>(S[i]))) ++i;
      out.push_back({Tok::Param, b, i, std::string(S.substr(b + 1, i - b - 1))});
    } else {
      ++i;
      out.push_back({Tok::Other, b, i, std::string(1, static_cast<char>(c))});
    }
  }
  return out;
}

bool IsKeyword(const Token& T, std::string_view K) { return T.Kind == Tok::Ident && SameAscii(T.Value, K); }

bool IsJoinWord(const Token& T) {
  static constexpr std::string_view words[] = {"INNER", "LEFT",  "RIGHT", "OUTER", "JOIN",  "ON",    "CROSS",
                                               "WHERE", "ORDER", "GROUP", "HAVING", "UNION", "LIMIT", "FULL"};
  for (auto w : words)
    if (IsKeyword(T, w)) return true;
  return false;
}

}  // namespace

std::string QuoteIdent(std::string_view Name) {
  std::string out = "\"";
  for (char c : Name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

int CountTableRefs(const TranslatedSql& Sql, std::string_view Table) {
  int n = 0;
  for (const auto& t : Sql.TableRefs)
    if (AnsiSameText(t, Table)) ++n;
  return n;
}

TranslatedSql TranslateJetSql(std::string_view Text) {
  const std::vector<Token> toks = Tokenize(Text);
  TranslatedSql r;
  std::string& out = r.Sql;
  out.reserve(Text.size() + 16);

  // Significant (non-blank) tokens, for looking at neighbours.
  std::vector<std::size_t> sig;
  for (std::size_t k = 0; k < toks.size(); ++k)
    if (toks[k].Kind != Tok::Space) sig.push_back(k);

  bool simple = true;
  int depth = 0;
  bool seenSelect = false, inFrom = false, ended = false;
  std::size_t selects = 0;
  std::size_t prevSig = SIZE_MAX;  // index into toks of the previous significant token

  for (std::size_t si = 0; si < sig.size(); ++si) {
    const Token& t = toks[sig[si]];
    // Blank text between the previous significant token and this one is kept as written.
    const std::size_t gapBegin = prevSig == SIZE_MAX ? 0 : toks[prevSig].End;
    if (ended) throw Exception("Characters found after end of SQL statement.");
    if (t.Kind == Tok::Other && t.Value == ";" && depth == 0) {
      ended = true;
      prevSig = sig[si];
      continue;
    }
    out.append(Text.substr(gapBegin, t.Begin - gapBegin));
    const Token* next = si + 1 < sig.size() ? &toks[sig[si + 1]] : nullptr;
    const Token* prev = prevSig == SIZE_MAX ? nullptr : &toks[prevSig];
    prevSig = sig[si];

    switch (t.Kind) {
      case Tok::Param: {
        std::size_t index = 0;
        while (index < r.ParamNames.size() && !AnsiSameText(r.ParamNames[index], t.Value)) ++index;
        if (index == r.ParamNames.size()) r.ParamNames.push_back(t.Value);
        out += "?" + std::to_string(index + 1);
        continue;
      }
      case Tok::String: {
        out += '\'';
        for (char c : t.Value) {
          if (c == '\'') out += '\'';
          out += c;
        }
        out += '\'';
        continue;
      }
      case Tok::Other:
        if (t.Value == "(") ++depth;
        if (t.Value == ")") --depth;
        if (t.Value == "&") throw Exception("The & operator is not supported in SQL text");
        if (t.Value == "?") throw Exception("Unnamed '?' parameters are not supported in SQL text");
        break;
      case Tok::Ident:
        if (IsKeyword(t, "SELECT")) {
          ++selects;
          if (depth > 0 || selects > 1) simple = false;
          if (!seenSelect && depth == 0) {
            seenSelect = true;
            out.append(Text.substr(t.Begin, t.End - t.Begin));
            r.SelectEnd = out.size();
            if (next && IsKeyword(*next, "DISTINCTROW")) {
              r.DistinctRow = true;
              // Drop the word and keep one blank in its place.
              prevSig = sig[++si];
            }
            continue;
          }
        } else if (depth == 0 && IsKeyword(t, "FROM") && !inFrom && r.FromPos == 0) {
          inFrom = true;
          r.FromPos = out.size();
        } else if (depth == 0 && IsKeyword(t, "WHERE")) {
          inFrom = false;
          if (r.HasWhere) simple = false;
          r.HasWhere = true;
          r.WherePos = out.size() + (t.End - t.Begin);
        } else if (depth == 0 && IsKeyword(t, "ORDER")) {
          inFrom = false;
          if (r.TailPos == 0) r.TailPos = out.size();
        } else if (IsKeyword(t, "GROUP") || IsKeyword(t, "HAVING") || IsKeyword(t, "UNION") ||
                   IsKeyword(t, "LIMIT") || IsKeyword(t, "AS") || IsKeyword(t, "TOP") ||
                   IsKeyword(t, "DISTINCTROW")) {
          simple = false;
        } else if (inFrom && !IsJoinWord(t)) {
          const bool followedByDot = next && next->Kind == Tok::Other && next->Value == ".";
          const bool afterDot = prev && prev->Kind == Tok::Other && prev->Value == ".";
          const bool refPosition = prev && (IsKeyword(*prev, "FROM") || IsKeyword(*prev, "JOIN") ||
                                            (prev->Kind == Tok::Other && (prev->Value == "," || prev->Value == "(")));
          if (!followedByDot && !afterDot) {
            if (refPosition) {
              r.TableRefs.push_back(t.Value);
              // A name right after a table name is an alias.
              if (next && (next->Kind == Tok::Ident || next->Kind == Tok::Bracket) && !IsJoinWord(*next)) simple = false;
            }
          }
        }
        break;
      case Tok::Bracket:
        if (inFrom) {
          const bool followedByDot = si + 1 < sig.size() && toks[sig[si + 1]].Kind == Tok::Other && toks[sig[si + 1]].Value == ".";
          const bool refPosition = prev && (IsKeyword(*prev, "FROM") || IsKeyword(*prev, "JOIN") ||
                                            (prev->Kind == Tok::Other && (prev->Value == "," || prev->Value == "(")));
          if (!followedByDot && refPosition) {
            r.TableRefs.push_back(t.Value);
            if (next && (next->Kind == Tok::Ident || next->Kind == Tok::Bracket) && !IsJoinWord(*next)) simple = false;
          }
        }
        break;
      default:
        break;
    }
    out.append(Text.substr(t.Begin, t.End - t.Begin));
  }
  // Column = constant, either way round.
  auto isName = [&](std::size_t k) { return toks[sig[k]].Kind == Tok::Ident || toks[sig[k]].Kind == Tok::Bracket; };
  auto isDot = [&](std::size_t k) { return toks[sig[k]].Kind == Tok::Other && toks[sig[k]].Value == "."; };
  auto isConstant = [&](std::size_t k) {
    const Tok kind = toks[sig[k]].Kind;
    return kind == Tok::Param || kind == Tok::Number || kind == Tok::String;
  };
  // The column that ends at sig index K (or starts at it, Forward), as (table, column).
  auto columnAt = [&](std::size_t K, bool Forward, std::pair<std::string, std::string>& Out) {
    if (!isName(K)) return false;
    if (Forward) {
      if (K + 2 < sig.size() && isDot(K + 1) && isName(K + 2)) {
        if (K + 3 < sig.size() && isDot(K + 3)) return false;
        Out = {toks[sig[K]].Value, toks[sig[K + 2]].Value};
      } else {
        Out = {std::string(), toks[sig[K]].Value};
      }
    } else if (K >= 2 && isDot(K - 1) && isName(K - 2)) {
      if (K >= 3 && isDot(K - 3)) return false;
      Out = {toks[sig[K - 2]].Value, toks[sig[K]].Value};
    } else {
      if (K >= 1 && isDot(K - 1)) return false;
      Out = {std::string(), toks[sig[K]].Value};
    }
    return !IsKeyword(toks[sig[K]], "NULL");
  };
  for (std::size_t k = 1; k + 1 < sig.size(); ++k) {
    if (!(toks[sig[k]].Kind == Tok::Other && toks[sig[k]].Value == "=")) continue;
    std::pair<std::string, std::string> col;
    if (isConstant(k + 1) && columnAt(k - 1, false, col))
      r.ConstantEqualities.push_back(col);
    else if (isConstant(k - 1) && columnAt(k + 1, true, col))
      r.ConstantEqualities.push_back(col);
    else if (std::pair<std::string, std::string> other; columnAt(k - 1, false, col) && columnAt(k + 1, true, other)) {
      r.JoinColumns.push_back(col);
      r.JoinColumns.push_back(other);
    }
  }

  if (depth != 0) simple = false;
  if (!seenSelect || r.FromPos == 0) simple = false;
  if (r.TailPos == 0) r.TailPos = out.size();
  if (r.HasWhere && r.WherePos > r.TailPos) simple = false;
  r.Simple = simple;
  return r;
}

ParsedFilter ParseFilter(std::string_view Text) {
  ParsedFilter f;
  std::size_t i = 0;
  auto skip = [&] {
    while (i < Text.size() && std::isspace(static_cast<unsigned char>(Text[i]))) ++i;
  };
  auto fail = [&](const char* what) -> ParsedFilter {
    throw Exception("Filter \"" + std::string(Text) + "\" is not valid: " + what +
                    " (expected Field='value')");
  };
  skip();
  if (i == Text.size()) return f;
  // Field name: parts joined by dots, each a plain name or [bracketed].
  for (;;) {
    if (i < Text.size() && Text[i] == '[') {
      const std::size_t e = Text.find(']', i + 1);
      if (e == std::string_view::npos) return fail("unterminated [");
      f.Field.append(Text.substr(i + 1, e - i - 1));
      i = e + 1;
    } else {
      const std::size_t b = i;
      while (i < Text.size() && IsIdentChar(static_cast<unsigned char>(Text[i]))) ++i;
      if (i == b) return fail("field name missing");
      f.Field.append(Text.substr(b, i - b));
    }
    if (i < Text.size() && Text[i] == '.') {
      f.Field += '.';
      ++i;
      continue;
    }
    break;
  }
  skip();
  if (i >= Text.size() || Text[i] != '=') return fail("'=' missing");
  ++i;
  skip();
  if (i >= Text.size() || Text[i] != '\'') return fail("quoted value missing");
  ++i;
  for (;;) {
    if (i >= Text.size()) return fail("unterminated quoted value");
    if (Text[i] == '\'') {
      if (i + 1 < Text.size() && Text[i + 1] == '\'') {
        f.Value += '\'';
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    f.Value += Text[i++];
  }
  skip();
  if (i != Text.size()) return fail("unexpected text after the value");
  f.Empty = false;
  return f;
}

}  // namespace kelvdb
