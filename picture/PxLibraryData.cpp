#include "picture/PxLibraryData.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/rtl/Kernel.h"
#include "platform/rtl/Locale.h"

namespace px {

namespace {

std::array<TDefColorItem, 20> Standard = {{
    {clBlack, "clBlack", ""},       {clMaroon, "clMaroon", ""},         {clGreen, "clGreen", ""},
    {clOlive, "clOlive", ""},       {clNavy, "clNavy", ""},             {clPurple, "clPurple", ""},
    {clTeal, "clTeal", ""},         {clGray, "clGray", ""},             {clSilver, "clSilver", ""},
    {clRed, "clRed", ""},           {clLime, "clLime", ""},             {clYellow, "clYellow", ""},
    {clBlue, "clBlue", ""},         {clFuchsia, "clFuchsia", ""},       {clAqua, "clAqua", ""},
    {clWhite, "clWhite", ""},       {clMoneyGreen, "clMoneyGreen", ""}, {clSkyBlue, "clSkyBlue", ""},
    {clCream, "clCream", ""},       {clMedGray, "clMedGray", ""},
}};
constexpr const char* kStandardNames[20] = {"Black",  "Maroon", "Green",   "Olive green", "Navy blue",
                                            "Purple", "Teal",   "Gray",    "Silver",      "Red",
                                            "Lime",   "Yellow", "Blue",    "Fuchsia",     "Aqua",
                                            "White",  "Money green", "Sky blue", "Cream", "Medium gray"};

std::array<TDefColorItem, 25> System = {{
    {clScrollBar, "clScrollBar", ""},
    {clBackground, "clBackground", ""},
    {clActiveCaption, "clActiveCaption", ""},
    {clInactiveCaption, "clInactiveCaption", ""},
    {clMenu, "clMenu", ""},
    {clWindow, "clWindow", ""},
    {clWindowFrame, "clWindowFrame", ""},
    {clMenuText, "clMenuText", ""},
    {clWindowText, "clWindowText", ""},
    {clCaptionText, "clCaptionText", ""},
    {clActiveBorder, "clActiveBorder", ""},
    {clInactiveBorder, "clInactiveBorder", ""},
    {clAppWorkSpace, "clAppWorkSpace", ""},
    {clHighlight, "clHighlight", ""},
    {clHighlightText, "clHighlightText", ""},
    {clBtnFace, "clBtnFace", ""},
    {clBtnShadow, "clBtnShadow", ""},
    {clGrayText, "clGrayText", ""},
    {clBtnText, "clBtnText", ""},
    {clInactiveCaptionText, "clInactiveCaptionText", ""},
    {clBtnHighlight, "clBtnHighlight", ""},
    {cl3DDkShadow, "cl3DDkShadow", ""},
    {cl3DLight, "cl3DLight", ""},
    {clInfoText, "clInfoText", ""},
    {clInfoBk, "clInfoBk", ""},
}};
constexpr const char* kSystemNames[25] = {"Scrollbar",
                                          "Desktop background",
                                          "Active window title bar",
                                          "Inactive window title bar",
                                          "Menu background",
                                          "Window background",
                                          "Window frame",
                                          "Menu text",
                                          "Window text",
                                          "Active window title bar text",
                                          "Active window border",
                                          "Inactive window border",
                                          "Application workspace",
                                          "Selection background",
                                          "Selection text",
                                          "Button face",
                                          "Button shadow",
                                          "Dimmed text",
                                          "Button text",
                                          "Inactive window title bar text",
                                          "Button highlight",
                                          "Dark shadow 3D elements",
                                          "Highlight 3D elements",
                                          "Tooltip text",
                                          "Tooltip background"};

std::array<WORD, 256> CharTypes{};
std::array<BYTE, 768> CaseMaps{};
bool CaseMapsLoaded = false;

constexpr BYTE kFull = 0xFF;
std::array<TCacheDescriptor, 51> Caches = {{
    {0x01, ckInstructionTlb, 4096, 4, 0, 0, 32, ""},   {0x02, ckInstructionTlb, 4u << 20, kFull, 0, 0, 2, ""},
    {0x03, ckDataTlb, 4096, 4, 0, 0, 64, ""},          {0x04, ckDataTlb, 4u << 20, 4, 0, 0, 8, ""},
    {0x05, ckDataTlb, 4u << 20, 4, 0, 0, 32, ""},      {0x06, ckInstructionCache, 8u << 10, 4, 32, 0, 0, ""},
    {0x08, ckInstructionCache, 16u << 10, 4, 32, 0, 0, ""}, {0x0A, ckDataCache, 8u << 10, 2, 32, 0, 0, ""},
    {0x0C, ckDataCache, 16u << 10, 4, 32, 0, 0, ""},   {0x22, ckThirdLevel, 512u << 10, 4, 64, 2, 0, ""},
    {0x23, ckThirdLevel, 1u << 20, 8, 64, 2, 0, ""},   {0x25, ckThirdLevel, 2u << 20, 8, 64, 2, 0, ""},
    {0x29, ckThirdLevel, 4u << 20, 8, 64, 2, 0, ""},   {0x2C, ckDataCache, 32u << 10, 8, 64, 0, 0, ""},
    {0x30, ckInstructionCache, 32u << 10, 8, 64, 0, 0, ""}, {0x39, ckSecondLevel, 128u << 10, 4, 64, 2, 0, ""},
    {0x3B, ckSecondLevel, 128u << 10, 2, 64, 2, 0, ""}, {0x3C, ckSecondLevel, 256u << 10, 4, 64, 2, 0, ""},
    {0x40, ckNoCache, 0, 0, 0, 0, 0, ""},              {0x41, ckSecondLevel, 128u << 10, 4, 32, 0, 0, ""},
    {0x42, ckSecondLevel, 256u << 10, 4, 32, 0, 0, ""}, {0x43, ckSecondLevel, 512u << 10, 4, 32, 0, 0, ""},
    {0x44, ckSecondLevel, 1u << 20, 4, 32, 0, 0, ""},  {0x45, ckSecondLevel, 2u << 20, 4, 32, 0, 0, ""},
    {0x50, ckInstructionTlb, 4096, kFull, 0, 0, 64, ""}, {0x51, ckInstructionTlb, 4096, kFull, 0, 0, 128, ""},
    {0x52, ckInstructionTlb, 4096, kFull, 0, 0, 256, ""}, {0x5B, ckDataTlb, 4096, kFull, 0, 0, 64, ""},
    {0x5C, ckDataTlb, 4096, kFull, 0, 0, 128, ""},     {0x5D, ckDataTlb, 4096, kFull, 0, 0, 256, ""},
    {0x60, ckDataCache, 16u << 10, 8, 64, 0, 0, ""},   {0x66, ckDataCache, 8u << 10, 4, 64, 0, 0, ""},
    {0x67, ckDataCache, 16u << 10, 4, 64, 0, 0, ""},   {0x68, ckDataCache, 32u << 10, 4, 64, 0, 0, ""},
    {0x70, ckTraceCache, 12u << 10, 8, 0, 0, 0, ""},   {0x71, ckTraceCache, 16u << 10, 8, 0, 0, 0, ""},
    {0x72, ckTraceCache, 32u << 10, 8, 0, 0, 0, ""},   {0x79, ckSecondLevel, 128u << 10, 8, 64, 2, 0, ""},
    {0x7A, ckSecondLevel, 256u << 10, 8, 64, 2, 0, ""}, {0x7B, ckSecondLevel, 512u << 10, 8, 64, 2, 0, ""},
    {0x7C, ckSecondLevel, 1u << 20, 8, 64, 2, 0, ""},  {0x82, ckSecondLevel, 256u << 10, 8, 32, 0, 0, ""},
    {0x83, ckSecondLevel, 512u << 10, 8, 32, 0, 0, ""}, {0x84, ckSecondLevel, 1u << 20, 8, 32, 0, 0, ""},
    {0x85, ckSecondLevel, 2u << 20, 8, 32, 0, 0, ""},  {0x86, ckSecondLevel, 512u << 10, 4, 64, 0, 0, ""},
    {0x87, ckSecondLevel, 1u << 20, 8, 64, 0, 0, ""},  {0xB0, ckInstructionTlb, 4096, 4, 0, 0, 128, ""},
    {0xB3, ckDataTlb, 4096, 4, 0, 0, 128, ""},         {0xF0, ckPrefetch, 0, 0, 64, 0, 0, ""},
    {0xF1, ckPrefetch, 0, 0, 128, 0, 0, ""},
}};

TSystemInformation Information;
int StartCount = 0;
std::mutex CountLock;
TThreadList* RuntimeTypes = nullptr;
TPxAppStoragePropertyEngineList* PropertyEngines = nullptr;

std::string SizeText(std::uint32_t Bytes) {
  if (Bytes >= (1u << 20)) return std::to_string(Bytes >> 20) + "Mb";
  return std::to_string(Bytes >> 10) + "Kb";
}

std::string WaysText(BYTE Ways) {
  return Ways == kFull ? "fully associative" : std::to_string(Ways) + "-way set associative";
}

// The description of a descriptor, in the style of "Instruction TLB, 4Kb pages, 4-way set
// associative, 32 entries".
std::string Describe(const TCacheDescriptor& C) {
  switch (C.Kind) {
    case ckInstructionTlb:
    case ckDataTlb: {
      std::string pages = C.Descriptor >= 0x50 && C.Descriptor <= 0x5D ? "4Kb and 2Mb or 4Mb pages" : SizeText(C.Size) + " pages";
      return std::string(C.Kind == ckInstructionTlb ? "Instruction TLB, " : "Data TLB, ") + pages +
             (C.Associativity == kFull && C.Descriptor >= 0x50 ? "" : ", " + WaysText(C.Associativity)) + ", " +
             std::to_string(C.Entries) + " entries";
    }
    case ckTraceCache:
      return "Trace cache, " + std::to_string(C.Size >> 10) + "K-uops, " + WaysText(C.Associativity);
    case ckNoCache:
      return "No 2nd-level cache, or if processor contains a valid 2nd-level cache, no 3rd-level cache";
    case ckPrefetch:
      return std::to_string(C.LineSize) + "-byte prefetching";
    default: {
      const char* level = C.Kind == ckInstructionCache ? "1st-level instruction cache, "
                          : C.Kind == ckDataCache      ? "1st-level data cache, "
                          : C.Kind == ckSecondLevel    ? "2nd-level cache, "
                                                       : "3rd-level cache, ";
      std::string text = level + SizeText(C.Size) + ", " + WaysText(C.Associativity) + ", " +
                         std::to_string(C.LineSize) + " byte line size";
      if (C.LinesPerSector) text += ", " + std::to_string(C.LinesPerSector) + " lines per sector";
      return text;
    }
  }
}

void LoadColorDescriptions() {
  for (std::size_t i = 0; i < Standard.size(); ++i) Standard[i].Description = kStandardNames[i];
  for (std::size_t i = 0; i < System.size(); ++i) System[i].Description = kSystemNames[i];
}

void FillCharTypeTable() {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    WORD type = 0;
    GetStringTypeExA(LOCALE_USER_DEFAULT, CT_CTYPE1, &ch, 1, &type);
    CharTypes[static_cast<std::size_t>(c)] = type;
  }
}

void FillCaseMaps() {
  if (CaseMapsLoaded) return;
  for (int c = 0; c < 256; ++c) {
    char lower = static_cast<char>(c), upper = static_cast<char>(c);
    CharLowerBuffA(&lower, 1);
    CharUpperBuffA(&upper, 1);
    const WORD type = CharTypes[static_cast<std::size_t>(c)];
    const char swapped = (type & C1_UPPER) ? lower : ((type & C1_LOWER) ? upper : static_cast<char>(c));
    CaseMaps[static_cast<std::size_t>(c)] = static_cast<BYTE>(lower);
    CaseMaps[static_cast<std::size_t>(256 + c)] = static_cast<BYTE>(upper);
    CaseMaps[static_cast<std::size_t>(512 + c)] = static_cast<BYTE>(swapped);
  }
  CaseMapsLoaded = true;
}

void LoadCacheDescriptions() {
  for (TCacheDescriptor& c : Caches) c.Description = Describe(c);
}

void InitSystemInformation() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  Information = TSystemInformation{};
  Information.ProcessorCount = info.dwNumberOfProcessors;
  Information.AllocationGranularity = info.dwAllocationGranularity;
  Information.PageSize = info.dwPageSize;
  Information.IsNT = Win32Platform == static_cast<int>(VER_PLATFORM_WIN32_NT);
  // The kernel's version information is only asked for on the 95 family.
  if (!Information.IsNT) {
    VS_FIXEDFILEINFO kernel;
    HMODULE module = GetModuleHandleA("kernel32.dll");
    if (module && QueryFixedFileInfo(QueryModuleFileName(module), kernel))
      Information.KernelProductVersion = kernel.dwProductVersionMS;
  }
  Information.WindowsVersionKind = ClassifyWindowsVersion(Win32Platform, Win32MajorVersion, Win32MinorVersion,
                                                          Win32CSDVersion, Information.KernelProductVersion);
  SetReleaseFlags(Information.WindowsVersionKind, Information);
}

std::string Trim(const std::string& S) {
  const std::size_t first = S.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return S.substr(first, S.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string QueryModuleFileName(HMODULE Module) {
  char buffer[261];
  const DWORD length = GetModuleFileNameA(Module, buffer, sizeof buffer);
  return std::string(buffer, std::min<DWORD>(length, sizeof buffer - 1));
}

bool QueryFixedFileInfo(const std::string& FileName, VS_FIXEDFILEINFO& Info) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(FileName.c_str(), &handle);
  if (size == 0) return false;
  std::vector<std::uint8_t> data(size);
  if (!GetFileVersionInfoA(FileName.c_str(), handle, size, data.data())) return false;
  void* root = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", &root, &length) || length != sizeof Info) return false;
  std::memcpy(&Info, root, sizeof Info);
  return true;
}

TThreadList* RuntimeTypeList() { return RuntimeTypes; }

void ReleaseRuntimeType(TPxTypeInfo* TypeInfo) {
  TThreadList* list = RuntimeTypes;
  if (!list || !TypeInfo) return;
  TRuntimeTypeEntry* entry = nullptr;
  TList* items = list->LockList();
  for (int i = items->Count() - 1; i >= 0 && !entry; --i) {
    auto* e = static_cast<TRuntimeTypeEntry*>(items->Get(i));
    if (e->TypeInfo == TypeInfo) entry = e;
  }
  list->UnlockList();
  if (!entry || --entry->RefCount > 0) return;
  TPxTypeInfo* base = TypeInfo->BaseType ? *TypeInfo->BaseType : nullptr;
  if (base && (TypeInfo->Kind == ptkSet || (TypeInfo->Kind == ptkEnumeration && base != TypeInfo)))
    ReleaseRuntimeType(base);
  delete TypeInfo->BaseType;
  delete TypeInfo;
  list->Remove(entry);
  delete entry;
}

TPxAppStoragePropertyEngineList::~TPxAppStoragePropertyEngineList() {
  while (Count() > 0) {
    auto* engine = static_cast<TPxAppStoragePropertyEngine*>(Last());
    Delete(Count() - 1);
    delete engine;
  }
}

TPxAppStoragePropertyEngineList* PropertyEngineList() { return PropertyEngines; }

const std::array<TDefColorItem, 20>& StandardColorItems() { return Standard; }
const std::array<TDefColorItem, 25>& SystemColorItems() { return System; }
const std::array<WORD, 256>& CharTypeTable() { return CharTypes; }
const std::array<BYTE, 768>& CaseMapTable() { return CaseMaps; }
const std::array<TCacheDescriptor, 51>& CacheDescriptors() { return Caches; }
const TSystemInformation& SystemInformation() { return Information; }

int ClassifyWindowsVersion(int Platform, int Major, int Minor, const std::string& CSDVersion,
                           std::uint32_t KernelProductVersion) {
  const std::string csd = Trim(CSDVersion);
  if (Platform == static_cast<int>(VER_PLATFORM_WIN32_WINDOWS)) {
    if (Minor < 10) return csd == "B" || csd == "C" ? 2 : 1;
    if (Minor < 90) {
      if (KernelProductVersion == 0x0004005A) return 5;
      return csd == "A" ? 4 : 3;
    }
    return Minor == 90 ? 5 : 0;
  }
  if (Platform == static_cast<int>(VER_PLATFORM_WIN32_NT)) {
    if (Major == 3) return Minor == 10 ? 6 : Minor == 50 ? 7 : Minor == 51 ? 8 : 0;
    if (Major == 4) return 9;
    if (Major == 5) return Minor == 0 ? 10 : Minor == 1 ? 11 : Minor == 2 ? 12 : 0;
  }
  return 0;
}

void SetReleaseFlags(int Kind, TSystemInformation& Info) {
  Info.Release.fill(false);
  Info.NT3 = false;
  if (Kind < 1 || Kind > 12) return;
  Info.Release[static_cast<std::size_t>(Kind)] = true;
  if (Kind >= 6 && Kind <= 8) Info.NT3 = true;
  if (Kind == 8) Info.Release[7] = true;
}

void StartLibraryData() {
  std::lock_guard<std::mutex> guard(CountLock);
  if (StartCount++ != 0) return;
  LoadColorDescriptions();
  FillCharTypeTable();
  FillCaseMaps();
  LoadCacheDescriptions();
  InitSystemInformation();
  RuntimeTypes = new TThreadList;
  PropertyEngines = new TPxAppStoragePropertyEngineList;
}

void StopLibraryData() {
  std::lock_guard<std::mutex> guard(CountLock);
  if (StartCount == 0 || --StartCount != 0) return;
  delete PropertyEngines;
  PropertyEngines = nullptr;
  // Every description still listed is released, the last entry first.
  TList* types = RuntimeTypes->LockList();
  while (types->Count() > 0) ReleaseRuntimeType(static_cast<TRuntimeTypeEntry*>(types->Last())->TypeInfo);
  RuntimeTypes->UnlockList();
  delete RuntimeTypes;
  RuntimeTypes = nullptr;
  Information = TSystemInformation{};
  for (TCacheDescriptor& c : Caches) c.Description.clear();
  CaseMaps.fill(0);
  CaseMapsLoaded = false;
  CharTypes.fill(0);
  for (TDefColorItem& c : Standard) c.Description.clear();
  for (TDefColorItem& c : System) c.Description.clear();
}

}  // namespace px
