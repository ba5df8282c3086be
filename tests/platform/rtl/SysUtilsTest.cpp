#include <gtest/gtest.h>

#include <cstring>

#include "platform/rtl/Classes.h"
#include "platform/rtl/SysUtils.h"

namespace probe {
class TNamespaced : public TObject {};
template <class T>
class TTemplated : public TObject {};
}  // namespace probe

namespace {

class TDeclared : public TObject {
 public:
  DECLARE_CLASS_NAME(TCustomName)
};

}  // namespace

TEST(Exceptions, DefaultMessagesAndKinds) {
  EXPECT_EQ(EInvalidGraphic().Message(), "Bitmap image is not valid");
  EXPECT_EQ(EReadError().Message(), "Stream read error");
  EXPECT_EQ(EWriteError().Message(), "Stream write error");
  EXPECT_EQ(EOutOfResources().Message(), "Out of system resources");
  EXPECT_STREQ(EReadError().what(), "Stream read error");
  // Kinds callers catch by.
  EXPECT_THROW(throw EReadError(), EStreamError);
  EXPECT_THROW(throw EFOpenError("x"), EStreamError);
  EXPECT_THROW(throw EOutOfResources(), EOutOfMemory);
  EXPECT_THROW(throw EAbort(), Exception);
  EXPECT_THROW(throw EListError("x"), std::exception);
  Exception e("first");
  e.SetMessage("Грешка");
  EXPECT_STREQ(e.what(), "Грешка");
}

TEST(Exceptions, DefaultHandlerIsSilentForAbort) {
  std::vector<std::string> shown;
  SetExceptionDisplay([&](const std::string& m) { shown.push_back(m); });
  ShowException(EAbort());
  ShowException(EInvalidGraphicOperation("Invalid image"));
  ShowException(std::runtime_error("plain"));
  SetExceptionDisplay(nullptr);
  EXPECT_EQ(shown, (std::vector<std::string>{"Invalid image", "plain"}));
}

TEST(Format, PrintfConversions) {
  EXPECT_EQ(Format("%d|%5d|%-5d|%05d", 42, 42, 42, -42), "42|   42|42   |-0042");
  EXPECT_EQ(Format("%x %X %.2x %u", 255u, 255u, 5u, 4000000000u), "ff FF 05 4000000000");
  EXPECT_EQ(Format("%lld %zu", -5000000000LL, std::size_t{7}), "-5000000000 7");
  EXPECT_EQ(Format("%.3f %g %c %%", 1.5, 0.25, 'Q'), "1.500 0.25 Q %");
  EXPECT_EQ(Format("%*d|%-*d|%.*s", 4, 7, 3, 7, 2, "abc"), "   7|7  |ab");
  EXPECT_EQ(Format("Cannot assign a %s to a %s", "TBitmap", "TIcon"), "Cannot assign a TBitmap to a TIcon");
  EXPECT_EQ(Format("no conversions"), "no conversions");
  const char* volatile nothing = nullptr;  // hidden from the compiler's format check
  EXPECT_EQ(Format("%s", nothing), "(null)");
  const std::string longText(5000, 'y');
  EXPECT_EQ(Format("<%s>", longText.c_str()).size(), 5002u);
}

TEST(Format, TextWidthAndPrecisionCountCharacters) {
  EXPECT_EQ(Format("%-6.6s|", "Жигули 2107"), "Жигули|");
  EXPECT_EQ(Format("%-6.6s|", "Лада"), "Лада  |");
  EXPECT_EQ(Format("%6s|", "Лада"), "  Лада|");
  EXPECT_EQ(Format("%.2s", "ЁЖ!"), "ЁЖ");
  // Precision bounds the look into an unterminated buffer.
  const char raw[3] = {'a', 'b', 'c'};
  EXPECT_EQ(Format("%.2s", raw), "ab");
  const char cyrillic[4] = {'\xd0', '\x96', '\xd0', '\x96'};  // "ЖЖ", unterminated
  EXPECT_EQ(Format("%.2s", cyrillic), "ЖЖ");
}

TEST(Format, RefusesWritingThroughN) {
  int n = 1234;
  EXPECT_EQ(Format("ab%ncd %d", &n, 5), "ab%ncd 5");
  EXPECT_EQ(n, 1234);
}

TEST(ClassName, FromTheTypeOrDeclared) {
  TObject o;
  EXPECT_EQ(o.ClassName(), "TObject");
  probe::TNamespaced n;
  EXPECT_EQ(n.ClassName(), "TNamespaced");
  probe::TTemplated<int> t;
  EXPECT_EQ(t.ClassName(), "TTemplated");
  TDeclared d;
  EXPECT_EQ(d.ClassName(), "TCustomName");
  TObject* base = &n;
  EXPECT_EQ(base->ClassName(), "TNamespaced");
  TStringList s;
  EXPECT_EQ(s.ClassName(), "TStringList");
}

namespace {

class TTarget : public TPersistent {
 public:
  int Value{0};
};

class TSource : public TPersistent {
 public:
  int Value{7};

 protected:
  void AssignTo(TPersistent* Dest) override {
    if (auto* t = dynamic_cast<TTarget*>(Dest)) {
      t->Value = Value;
      return;
    }
    TPersistent::AssignTo(Dest);
  }
};

class TStranger : public TPersistent {};

std::string ConvertErrorOf(TPersistent& Dest, TPersistent* Source) {
  try {
    Dest.Assign(Source);
  } catch (const EConvertError& e) {
    return e.Message();
  }
  return "(no exception)";
}

}  // namespace

TEST(Persistent, AssignAsksTheSourceAndFallsBackToConvertError) {
  TTarget target;
  TSource source;
  target.Assign(&source);
  EXPECT_EQ(target.Value, 7);
  TStranger stranger;
  EXPECT_EQ(ConvertErrorOf(target, &stranger), "Cannot assign a TStranger to a TTarget");
  EXPECT_EQ(ConvertErrorOf(target, nullptr), "Cannot assign a nil to a TTarget");
  EXPECT_EQ(ConvertErrorOf(stranger, &source), "Cannot assign a TSource to a TStranger");
}

namespace {

class TProbe : public TComponent {
 public:
  TProbe(TComponent* AOwner, std::vector<std::string>* Log) : TComponent(AOwner), FLog(Log) {}
  ~TProbe() override {
    std::string entry = Name();
    if (ComponentState() & csDestroying) entry += " (destroying)";
    FLog->push_back(entry);
  }

 private:
  std::vector<std::string>* FLog;
};

}  // namespace

TEST(Component, OwnerFreesWhatItOwns) {
  std::vector<std::string> log;
  auto* form = new TProbe(nullptr, &log);
  form->SetName("form");
  auto* a = new TProbe(form, &log);
  a->SetName("a");
  auto* b = new TProbe(form, &log);
  b->SetName("b");
  auto* c = new TProbe(form, &log);
  c->SetName("c");
  EXPECT_EQ(form->ComponentCount(), 3);
  delete b;  // leaves its owner's list
  EXPECT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(form->Components(1), c);
  EXPECT_THROW(form->Components(2), EListError);
  delete form;
  // The owner's own destructor body runs first; its components go last inserted first.
  EXPECT_EQ(log, (std::vector<std::string>{"b", "form", "c (destroying)", "a (destroying)"}));
}

TEST(Component, StateFlags) {
  TComponent owner(nullptr);
  auto* child = new TComponent(&owner);
  EXPECT_EQ(owner.ComponentState(), 0u);
  owner.SetDesigning(true);
  EXPECT_TRUE(owner.ComponentState() & csDesigning);
  EXPECT_TRUE(child->Designing());
  owner.SetLoading(true);
  EXPECT_TRUE(owner.ComponentState() & csLoading);
  owner.Loaded();
  EXPECT_FALSE(owner.ComponentState() & csLoading);
  owner.SetDesigning(false);
  EXPECT_FALSE(child->Designing());
  TComponent other(nullptr);
  other.InsertComponent(child);  // moves to a new owner
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(child->Owner(), &other);
}

TEST(Utf8Text, CountsCharactersNotBytes) {
  EXPECT_EQ(Utf8Length("Лада 1500"), 9u);
  EXPECT_EQ(Utf8Length(""), 0u);
  EXPECT_EQ(Utf8Length("\xff\xfe"), 2u);  // stray bytes count one each
  EXPECT_EQ(Utf8Length("\xd0"), 1u);      // cut sequence
  EXPECT_EQ(Utf8Copy("Москвич 412", 1, 7), "Москвич");
  EXPECT_EQ(Utf8Copy("Москвич 412", 9, 100), "412");
  EXPECT_EQ(Utf8Copy("Москвич", 0, 2), "Мо");
  EXPECT_EQ(Utf8Copy("Москвич", 8, 2), "");
  EXPECT_EQ(Utf8Copy("Москвич", 2, -1), "");
  EXPECT_EQ(Utf8PadRight("Ока", 5), "Ока  ");
  EXPECT_EQ(Utf8PadRight("Запорожец", 5), "Запор");
  EXPECT_EQ(Utf8PadLeft("Ока", 5), "  Ока");
  EXPECT_EQ(Utf8PadLeft("Запорожец", 0), "");
}

TEST(Utf8Text, CaseMappingAndComparison) {
  EXPECT_EQ(AnsiUpperCase("шкода fabia ёж ѓ"), "ШКОДА FABIA ЁЖ Ѓ");
  EXPECT_EQ(AnsiLowerCase("ШКОДА FABIA ЁЖ ÀÉ"), "шкода fabia ёж àé");
  EXPECT_EQ(AnsiUpperCase("ßx\xff"), "ßX\xff");  // no simple upper case; stray byte kept
  EXPECT_EQ(AnsiCompareText("Жигули", "жИГУЛИ"), 0);
  EXPECT_LT(AnsiCompareText("Audi", "бмв"), 0);
  EXPECT_GT(AnsiCompareText("abc", "AB"), 0);
  EXPECT_TRUE(AnsiSameText("ΣΟΦΊΑ", "σοφία"));
  EXPECT_FALSE(AnsiSameText("Жигули", "Жигули "));
  EXPECT_NE(AnsiCompareStr("a", "A"), 0);
  EXPECT_EQ(AnsiCompareStr("ж", "ж"), 0);
}
