#pragma once
// Tables and records the control library fills at start and releases at exit: colour names,
// character types and case maps of the user's locale, processor-cache descriptions and the
// system information with the Windows version classification.
#include <array>
#include <cstdint>
#include <string>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"

namespace px {

struct TDefColorItem {
  TColor Value;
  const char* Constant;
  std::string Description;  // filled at start
};

// The 20 standard colours and the 25 system colours (0xFF000000 + index), in table order.
const std::array<TDefColorItem, 20>& StandardColorItems();
const std::array<TDefColorItem, 25>& SystemColorItems();

// CT_CTYPE1 flags of every byte value in the user's default locale.
const std::array<WORD, 256>& CharTypeTable();
// Lower-case forms at 0..255, upper-case forms at 256..511, swapped-case forms at 512..767.
const std::array<BYTE, 768>& CaseMapTable();

enum TCacheKind : BYTE { ckInstructionTlb, ckDataTlb, ckInstructionCache, ckDataCache, ckSecondLevel, ckThirdLevel,
                         ckTraceCache, ckNoCache, ckPrefetch };
struct TCacheDescriptor {
  BYTE Descriptor;
  TCacheKind Kind;
  std::uint32_t Size;      // bytes (entries for a trace cache: micro-operations)
  BYTE Associativity;      // ways; 0xFF fully associative
  WORD LineSize;           // bytes
  BYTE LinesPerSector;
  WORD Entries;            // translation buffers
  std::string Description; // filled at start
};
// The descriptors of the processor identification's cache leaf (51 of them).
const std::array<TCacheDescriptor, 51>& CacheDescriptors();

struct TSystemInformation {
  std::uint32_t ProcessorCount{0};
  std::uint32_t AllocationGranularity{0};
  std::uint32_t PageSize{0};
  bool IsNT{false};
  std::uint32_t KernelProductVersion{0};  // high 32 bits of kernel32's product version; 0 on NT
  int WindowsVersionKind{0};
  std::array<bool, 13> Release{};  // Release[n] for kinds 1..12
  bool NT3{false};                 // the NT 3 family
};
const TSystemInformation& SystemInformation();

// The Windows version: 1..5 the 95 family (95, 95 OSR2, 98, 98 SE, Me), 6..12 NT 3.1, 3.5,
// 3.51, 4, 2000, XP, Server 2003; 0 any other. CSDVersion is trimmed of blanks.
int ClassifyWindowsVersion(int Platform, int Major, int Minor, const std::string& CSDVersion,
                           std::uint32_t KernelProductVersion);
// The release flags of a kind: its own; 6, 7 and 8 also NT 3; 8 also 7.
void SetReleaseFlags(int Kind, TSystemInformation& Info);

// The module's file name, read into a buffer of 261 characters and cut to the length the
// system gives.
std::string QueryModuleFileName(HMODULE Module);
// The fixed version information of a file; false when it has none (its size is 0), when
// reading it fails, or when its root block is missing or not 52 bytes.
bool QueryFixedFileInfo(const std::string& FileName, VS_FIXEDFILEINFO& Info);

// A run-time type description made while the program runs. A set's element type, or an
// enumeration's base type when that is another type, is in the cell BaseType points to (a
// cell of the description's own).
enum TPxTypeKind : BYTE { ptkOther, ptkEnumeration, ptkSet };
struct TPxTypeInfo {
  TPxTypeKind Kind{ptkOther};
  std::string Name;
  TPxTypeInfo** BaseType{nullptr};
};
// An entry of RuntimeTypeList: a description made with new, and its reference count.
struct TRuntimeTypeEntry {
  TPxTypeInfo* TypeInfo{nullptr};
  int RefCount{0};
};
// The registry of run-time type descriptions (TRuntimeTypeEntry items made with new), from
// start-up to exit; null outside them.
TThreadList* RuntimeTypeList();
// Takes one reference off the entry of TypeInfo (the last such entry); at 0 the description is
// released (a set's element type, or an enumeration's other base type, first), its base-type
// cell and itself freed, and the entry removed and freed. Nothing for a description not listed.
void ReleaseRuntimeType(TPxTypeInfo* TypeInfo);

// A property engine of the application storage.
class TPxAppStoragePropertyEngine : public TObject {};
// A list that owns its engines (TPxAppStoragePropertyEngine items made with new).
class TPxAppStoragePropertyEngineList : public TList {
 public:
  // Frees every engine, from the last to the first, each removed from the list first.
  ~TPxAppStoragePropertyEngineList() override;
};
// The registry of property engines, from start-up to exit; null outside them.
TPxAppStoragePropertyEngineList* PropertyEngineList();

// Start-up steps (in this order: colour descriptions, character tables, cache descriptions,
// system information, RuntimeTypeList, PropertyEngineList) and their undoing in the reverse
// order; each runs once however often it is asked for: a counter starts the data when it
// leaves 0 and releases it when it returns to 0.
void StartLibraryData();
void StopLibraryData();

}  // namespace px
