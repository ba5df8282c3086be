#include <gtest/gtest.h>

#include <vector>

#include "picture/PxLibraryData.h"
#include "platform/rtl/Locale.h"
#include "platform/rtl/SysUtils.h"

using namespace px;

namespace {

struct Started {
  Started() { StartLibraryData(); }
  ~Started() { StopLibraryData(); }
};

}  // namespace

TEST(WindowsVersion, NinetyFiveFamily) {
  const int w95 = static_cast<int>(VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 0, " B ", 0), 2);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 0, "C", 0), 2);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 0, "A", 0), 1);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 10, "", 0), 3);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 10, " A", 0), 4);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 10, "", 0x0004005A), 5);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 90, "", 0), 5);
  EXPECT_EQ(ClassifyWindowsVersion(w95, 4, 95, "", 0), 0);
  EXPECT_EQ(ClassifyWindowsVersion(0, 3, 10, "", 0), 0);
}

TEST(WindowsVersion, NTFamilyAndReleaseFlags) {
  const int nt = static_cast<int>(VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 3, 10, "", 0), 6);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 3, 50, "", 0), 7);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 3, 51, "", 0), 8);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 4, 7, "", 0), 9);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 5, 0, "", 0), 10);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 5, 1, "Service Pack 2", 0), 11);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 5, 2, "", 0), 12);
  EXPECT_EQ(ClassifyWindowsVersion(nt, 6, 0, "", 0), 0);
  TSystemInformation info;
  SetReleaseFlags(8, info);
  EXPECT_TRUE(info.Release[8]);
  EXPECT_TRUE(info.Release[7]);
  EXPECT_TRUE(info.NT3);
  EXPECT_EQ(std::count(info.Release.begin(), info.Release.end(), true), 2);
  SetReleaseFlags(6, info);
  EXPECT_TRUE(info.Release[6]);
  EXPECT_TRUE(info.NT3);
  EXPECT_EQ(std::count(info.Release.begin(), info.Release.end(), true), 1);
  SetReleaseFlags(0, info);
  EXPECT_EQ(std::count(info.Release.begin(), info.Release.end(), true), 0);
  EXPECT_FALSE(info.NT3);
}

TEST(LibraryData, FilledAtStartAndReleasedAtExit) {
  {
    Started outer;
    {
      Started inner;  // a second start changes nothing; its stop releases nothing
    }
    EXPECT_EQ(StandardColorItems()[16].Description, "Money green");
    EXPECT_EQ(StandardColorItems()[19].Value, 0xA4A0A0);
    EXPECT_STREQ(SystemColorItems()[21].Constant, "cl3DDkShadow");
    EXPECT_EQ(SystemColorItems()[21].Description, "Dark shadow 3D elements");
    for (int i = 0; i < 25; ++i) EXPECT_EQ(static_cast<std::uint32_t>(SystemColorItems()[static_cast<std::size_t>(i)].Value), 0xFF000000u + i);
    EXPECT_EQ(CacheDescriptors()[0].Description, "Instruction TLB, 4Kb pages, 4-way set associative, 32 entries");
    EXPECT_EQ(CacheDescriptors()[50].Descriptor, 0xF1);
    const TSystemInformation& info = SystemInformation();
    EXPECT_TRUE(info.IsNT);
    EXPECT_GT(info.ProcessorCount, 0u);
    EXPECT_GT(info.PageSize, 0u);
    EXPECT_EQ(info.AllocationGranularity, 65536u);
    EXPECT_EQ(info.KernelProductVersion, 0u);
    EXPECT_EQ(info.WindowsVersionKind, 11);
    EXPECT_TRUE(info.Release[11]);
  }
  EXPECT_EQ(StandardColorItems()[0].Description, "");
  EXPECT_EQ(SystemInformation().WindowsVersionKind, 0);
  EXPECT_EQ(CaseMapTable()[512 + 'a'], 0);
}

TEST(LibraryData, CharacterTablesOfCodePage1251) {
  Started started;
  const auto& types = CharTypeTable();
  EXPECT_EQ(types['A'], C1_UPPER | C1_ALPHA | C1_XDIGIT | C1_DEFINED);
  EXPECT_EQ(types['z'], C1_LOWER | C1_ALPHA | C1_DEFINED);
  EXPECT_EQ(types['7'], C1_DIGIT | C1_XDIGIT | C1_DEFINED);
  EXPECT_EQ(types[' '], C1_SPACE | C1_BLANK | C1_DEFINED);
  EXPECT_EQ(types['\t'], C1_CNTRL | C1_SPACE | C1_BLANK | C1_DEFINED);
  EXPECT_EQ(types[0xC0], C1_UPPER | C1_ALPHA | C1_DEFINED);  // А
  EXPECT_EQ(types[0xFF], C1_LOWER | C1_ALPHA | C1_DEFINED);  // я
  EXPECT_EQ(types[0x98], 0);                                  // not in the code page
  EXPECT_EQ(types[0xAB] & C1_PUNCT, C1_PUNCT);                // «
  const auto& maps = CaseMapTable();
  // The swapped-case map exchanges the Cyrillic capital and small letters.
  for (int c = 0xC0; c <= 0xDF; ++c) {
    EXPECT_EQ(maps[static_cast<std::size_t>(512 + c)], c + 0x20);
    EXPECT_EQ(maps[static_cast<std::size_t>(512 + c + 0x20)], c);
    EXPECT_EQ(maps[static_cast<std::size_t>(c + 0x20)], c + 0x20);       // lower of a small letter
    EXPECT_EQ(maps[static_cast<std::size_t>(256 + c + 0x20)], c);        // upper of a small letter
  }
  EXPECT_EQ(maps[512 + 0xA8], 0xB8);  // Ё, ё
  EXPECT_EQ(maps[512 + 0xB8], 0xA8);
  EXPECT_EQ(maps[512 + 0x80], 0x90);  // Ђ, ђ
  EXPECT_EQ(maps[512 + 'q'], 'Q');
  EXPECT_EQ(maps[512 + '5'], '5');
  EXPECT_EQ(maps[256 + 0xB5], 0xB5);  // µ has no capital in the code page
}

TEST(LibraryData, ModuleFileNameAndVersionInformation) {
  const std::string own = ExecutableName();
  if (own.size() <= 260) {
    EXPECT_EQ(QueryModuleFileName(nullptr), own);
  } else {
    EXPECT_EQ(QueryModuleFileName(nullptr), own.substr(0, 260));
  }
  VS_FIXEDFILEINFO info;
  info.dwSignature = 1;
  EXPECT_FALSE(QueryFixedFileInfo(own, info));  // the files of this platform carry none
  EXPECT_FALSE(QueryFixedFileInfo("", info));
  EXPECT_EQ(info.dwSignature, 1u);
}

namespace {

// An engine that notes when it is freed and what the registries hold then.
struct TNotingEngine : TPxAppStoragePropertyEngine {
  TNotingEngine(int Id, std::vector<int>& Freed) : Id(Id), Freed(Freed) {}
  ~TNotingEngine() override {
    Freed.push_back(Id);
    EXPECT_EQ(PropertyEngineList()->IndexOf(this), -1);  // removed before it is freed
    EXPECT_NE(RuntimeTypeList(), nullptr);                // released after the engines
  }
  int Id;
  std::vector<int>& Freed;
};

TPxTypeInfo* NewType(TPxTypeKind Kind, TPxTypeInfo* Base) {
  auto* t = new TPxTypeInfo{Kind, "", new TPxTypeInfo*(Base)};
  return t;
}

void List(TPxTypeInfo* Type, int References) {
  RuntimeTypeList()->Add(new TRuntimeTypeEntry{Type, References});
}

int Listed() {
  const int n = RuntimeTypeList()->LockList()->Count();
  RuntimeTypeList()->UnlockList();
  return n;
}

}  // namespace

TEST(LibraryData, RegistriesLiveFromStartToExit) {
  EXPECT_EQ(RuntimeTypeList(), nullptr);
  EXPECT_EQ(PropertyEngineList(), nullptr);
  ReleaseRuntimeType(nullptr);  // nothing to release from
  std::vector<int> freed;
  {
    Started started;
    ASSERT_NE(RuntimeTypeList(), nullptr);
    ASSERT_NE(PropertyEngineList(), nullptr);
    EXPECT_EQ(Listed(), 0);
    EXPECT_EQ(PropertyEngineList()->Count(), 0);
    // A set over an element type: releasing the set's last reference releases one of its
    // element type's; an enumeration based on itself releases nothing more.
    TPxTypeInfo* element = NewType(ptkEnumeration, nullptr);
    *element->BaseType = element;
    TPxTypeInfo* set = NewType(ptkSet, element);
    TPxTypeInfo* other = NewType(ptkOther, nullptr);
    List(element, 2);
    List(set, 2);
    List(other, 3);
    ReleaseRuntimeType(set);
    EXPECT_EQ(Listed(), 3);
    ReleaseRuntimeType(set);
    EXPECT_EQ(Listed(), 2);  // the set's entry is gone, the element keeps one reference
    TPxTypeInfo stranger;
    ReleaseRuntimeType(&stranger);
    EXPECT_EQ(Listed(), 2);
    ReleaseRuntimeType(element);
    EXPECT_EQ(Listed(), 1);
    for (int id = 1; id <= 3; ++id) PropertyEngineList()->Add(new TNotingEngine(id, freed));
  }
  // At exit: the engines from the last to the first, then whatever types were still listed.
  EXPECT_EQ(freed, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(RuntimeTypeList(), nullptr);
  EXPECT_EQ(PropertyEngineList(), nullptr);
}
