// TList, TThreadList, TStrings and TStringList.
#include <algorithm>

#include "platform/rtl/Classes.h"

namespace {

[[noreturn]] void IndexError(int Index) { throw EListError(Format("List index out of bounds (%d)", Index)); }

constexpr int kMaxListSize = 0x7FFFFFF;  // keeps byte sizes of pointer arrays within 31 bits

// Runs EndUpdate on every way out.
class UpdateScope {
 public:
  explicit UpdateScope(TStrings& S) : FStrings(S) { FStrings.BeginUpdate(); }
  ~UpdateScope() { FStrings.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TStrings& FStrings;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TList

void TList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
}

int TList::Add(void* Item) {
  if (Count() >= kMaxListSize) throw EListError(Format("List capacity out of bounds (%d)", Count() + 1));
  FItems.push_back(Item);
  return Count() - 1;
}

void TList::Insert(int Index, void* Item) {
  if (Index < 0 || Index > Count()) IndexError(Index);
  if (Count() >= kMaxListSize) throw EListError(Format("List capacity out of bounds (%d)", Count() + 1));
  FItems.insert(FItems.begin() + Index, Item);
}

void TList::Delete(int Index) {
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
}

int TList::Remove(void* Item) {
  const int index = IndexOf(Item);
  if (index >= 0) Delete(index);
  return index;
}

int TList::IndexOf(void* Item) const {
  const auto it = std::find(FItems.begin(), FItems.end(), Item);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void* TList::Get(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<std::size_t>(Index)];
}

void TList::Put(int Index, void* Item) {
  CheckIndex(Index);
  FItems[static_cast<std::size_t>(Index)] = Item;
}

void TList::Clear() {
  FItems.clear();
  FItems.shrink_to_fit();
}

void TList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(FItems[static_cast<std::size_t>(Index1)], FItems[static_cast<std::size_t>(Index2)]);
}

void TList::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  CheckIndex(CurIndex);
  CheckIndex(NewIndex);
  void* item = FItems[static_cast<std::size_t>(CurIndex)];
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + NewIndex, item);
}

void TList::Sort(const TListSortCompare& Compare) {
  std::stable_sort(FItems.begin(), FItems.end(), [&](void* a, void* b) { return Compare(a, b) < 0; });
}

void TList::SetCapacity(int NewCapacity) {
  if (NewCapacity < Count() || NewCapacity > kMaxListSize)
    throw EListError(Format("List capacity out of bounds (%d)", NewCapacity));
  if (static_cast<std::size_t>(NewCapacity) > FItems.capacity()) {
    FItems.reserve(static_cast<std::size_t>(NewCapacity));
  } else if (static_cast<std::size_t>(NewCapacity) < FItems.capacity()) {
    std::vector<void*> items;
    items.reserve(static_cast<std::size_t>(NewCapacity));
    items.assign(FItems.begin(), FItems.end());
    FItems.swap(items);
  }
}

void TList::Pack() { FItems.erase(std::remove(FItems.begin(), FItems.end(), nullptr), FItems.end()); }

// ---------------------------------------------------------------------------------------------
// TThreadList

TList* TThreadList::LockList() {
  FLock.lock();
  return &FList;
}

void TThreadList::UnlockList() { FLock.unlock(); }

void TThreadList::Add(void* Item) {
  std::lock_guard guard(FLock);
  if (FList.IndexOf(Item) < 0) FList.Add(Item);
}

void TThreadList::Remove(void* Item) {
  std::lock_guard guard(FLock);
  FList.Remove(Item);
}

void TThreadList::Clear() {
  std::lock_guard guard(FLock);
  FList.Clear();
}

// ---------------------------------------------------------------------------------------------
// TStrings

void TStrings::Put(int Index, const std::string& S) {
  TObject* object = GetObject(Index);
  UpdateScope update(*this);
  Delete(Index);
  InsertObject(Index, S, object);
}

TObject* TStrings::GetObject(int) const { return nullptr; }

void TStrings::PutObject(int, TObject*) {}

int TStrings::Add(const std::string& S) {
  const int index = Count();
  Insert(index, S);
  return index;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
  const int index = Add(S);
  PutObject(index, AObject);
  return index;
}

void TStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

void TStrings::AddStrings(TStrings* Strings) {
  UpdateScope update(*this);
  const int count = Strings->Count();  // fixed first, so adding a list to itself ends
  for (int i = 0; i < count; ++i) AddObject(Strings->Get(i), Strings->GetObject(i));
}

int TStrings::IndexOf(const std::string& S) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), S) == 0) return i;
  return -1;
}

std::string TStrings::Text() const {
  std::string text;
  for (int i = 0; i < Count(); ++i) {
    text += Get(i);
    text += "\r\n";
  }
  return text;
}

void TStrings::SetText(const std::string& Value) {
  UpdateScope update(*this);
  Clear();
  std::size_t start = 0;
  while (start < Value.size()) {
    std::size_t end = Value.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(Value.substr(start));
      break;
    }
    Add(Value.substr(start, end - start));
    if (Value[end] == '\r' && end + 1 < Value.size() && Value[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

void TStrings::BeginUpdate() { ++FUpdateCount; }

void TStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0 && FChangedWhileUpdating) {
    FChangedWhileUpdating = false;
    Changed();
  }
}

void TStrings::Changed() {
  if (FUpdateCount > 0)
    FChangedWhileUpdating = true;
  else if (OnChange)
    OnChange(this);
}

int TStrings::CompareStrings(const std::string& S1, const std::string& S2) const { return AnsiCompareText(S1, S2); }

void TStrings::Assign(TPersistent* Source) {
  if (auto* strings = dynamic_cast<TStrings*>(Source)) {
    if (strings == this) return;
    UpdateScope update(*this);
    Clear();
    AddStrings(strings);
    return;
  }
  TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------------------------
// TStringList

void TStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
}

std::string TStringList::Get(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<std::size_t>(Index)].S;
}

void TStringList::Put(int Index, const std::string& S) {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
  CheckIndex(Index);
  FItems[static_cast<std::size_t>(Index)].S = S;
  Changed();
}

TObject* TStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<std::size_t>(Index)].Obj;
}

void TStringList::PutObject(int Index, TObject* AObject) {
  CheckIndex(Index);
  FItems[static_cast<std::size_t>(Index)].Obj = AObject;
  Changed();
}

void TStringList::InsertItem(int Index, const std::string& S, TObject* AObject) {
  if (Index < 0 || Index > Count()) IndexError(Index);
  if (Count() >= kMaxListSize) throw EListError(Format("List capacity out of bounds (%d)", Count() + 1));
  FItems.insert(FItems.begin() + Index, Item{S, AObject});
  Changed();
}

int TStringList::Add(const std::string& S) {
  int index = Count();
  if (FSorted) Find(S, index);
  InsertItem(index, S, nullptr);
  return index;
}

void TStringList::Insert(int Index, const std::string& S) {
  if (FSorted) throw EListError("Operation not allowed on sorted list");
  InsertItem(Index, S, nullptr);
}

void TStringList::Delete(int Index) {
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed();
}

int TStringList::IndexOf(const std::string& S) const {
  if (!FSorted) return TStrings::IndexOf(S);
  int index;
  return Find(S, index) ? index : -1;
}

bool TStringList::Find(const std::string& S, int& Index) const {
  // The first item not less than S.
  int low = 0, high = Count();
  while (low < high) {
    const int mid = low + (high - low) / 2;
    if (CompareStrings(FItems[static_cast<std::size_t>(mid)].S, S) < 0)
      low = mid + 1;
    else
      high = mid;
  }
  Index = low;
  return low < Count() && CompareStrings(FItems[static_cast<std::size_t>(low)].S, S) == 0;
}

void TStringList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [this](const Item& a, const Item& b) { return CompareStrings(a.S, b.S) < 0; });
  Changed();
}

void TStringList::SetSorted(bool Value) {
  if (Value == FSorted) return;
  if (Value) Sort();
  FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (Value == FCaseSensitive) return;
  FCaseSensitive = Value;
  if (FSorted) Sort();
}

int TStringList::CompareStrings(const std::string& S1, const std::string& S2) const {
  return FCaseSensitive ? AnsiCompareStr(S1, S2) : AnsiCompareText(S1, S2);
}
