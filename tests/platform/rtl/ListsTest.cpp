#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"

namespace {

void* P(std::intptr_t v) { return reinterpret_cast<void*>(v); }
std::intptr_t V(void* p) { return reinterpret_cast<std::intptr_t>(p); }

template <class F>
std::string ListErrorOf(F f) {
  try {
    f();
  } catch (const EListError& e) {
    return e.Message();
  }
  return "(no exception)";
}

std::vector<std::string> Lines(const TStrings& s) {
  std::vector<std::string> v;
  for (int i = 0; i < s.Count(); ++i) v.push_back(s.Strings(i));
  return v;
}

}  // namespace

TEST(List, IndexErrorsNameTheIndex) {
  TList l;
  l.Add(P(1));
  l.Add(P(2));
  EXPECT_EQ(ListErrorOf([&] { l.Get(2); }), "List index out of bounds (2)");
  EXPECT_EQ(ListErrorOf([&] { l.Get(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(ListErrorOf([&] { l.Delete(5); }), "List index out of bounds (5)");
  EXPECT_EQ(ListErrorOf([&] { l.Insert(3, P(9)); }), "List index out of bounds (3)");
  EXPECT_EQ(ListErrorOf([&] { l.Exchange(0, 2); }), "List index out of bounds (2)");
  EXPECT_EQ(ListErrorOf([&] { l.Move(0, 2); }), "List index out of bounds (2)");
  EXPECT_EQ(ListErrorOf([&] { l.SetCapacity(1); }), "List capacity out of bounds (1)");
  TList empty;
  EXPECT_EQ(ListErrorOf([&] { empty.First(); }), "List index out of bounds (0)");
  EXPECT_EQ(ListErrorOf([&] { empty.Last(); }), "List index out of bounds (-1)");
  l.Insert(2, P(3));  // at Count is allowed
  EXPECT_EQ(V(l.Last()), 3);
}

TEST(List, EditingOperations) {
  TList l;
  for (int i = 1; i <= 5; ++i) l.Add(P(i));
  l.Move(0, 4);  // 2 3 4 5 1
  l.Exchange(0, 1);  // 3 2 4 5 1
  EXPECT_EQ(l.Remove(P(4)), 2);  // 3 2 5 1
  EXPECT_EQ(l.Remove(P(42)), -1);
  l.Put(1, nullptr);
  l.Insert(0, nullptr);
  l.Pack();  // 3 5 1
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(V(l.Items(0)), 3);
  EXPECT_EQ(V(l.Items(1)), 5);
  EXPECT_EQ(V(l.Items(2)), 1);
  EXPECT_EQ(l.IndexOf(P(1)), 2);
  l.SetCapacity(100);
  EXPECT_GE(l.Capacity(), 100);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
}

TEST(List, SortOrdersByTheCompareFunctionAndKeepsEqualItemsInOrder) {
  TList l;
  const std::intptr_t values[] = {31, 12, 23, 11, 32, 21};
  for (auto v : values) l.Add(P(v));
  // By tens only: equal keys keep their order.
  l.Sort([](void* a, void* b) { return static_cast<int>(V(a) / 10 - V(b) / 10); });
  const std::intptr_t expected[] = {12, 11, 23, 21, 31, 32};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(V(l.Get(i)), expected[i]);
}

TEST(ThreadList, ReentrantWithinOneThread) {
  TThreadList tl;
  TList* outer = tl.LockList();
  TList* inner = tl.LockList();  // would deadlock on a plain lock
  EXPECT_EQ(outer, inner);
  tl.Add(P(1));  // takes the lock a third time
  tl.Add(P(1));  // listed already: ignored
  tl.UnlockList();
  EXPECT_EQ(outer->Count(), 1);
  tl.UnlockList();
  tl.Remove(P(1));
  EXPECT_EQ(tl.LockList()->Count(), 0);
  tl.UnlockList();
}

TEST(ThreadList, ExcludesOtherThreads) {
  TThreadList tl;
  std::atomic<bool> acquired{false};
  tl.LockList();
  std::thread other([&] {
    tl.LockList();
    acquired = true;
    tl.UnlockList();
  });
  Sleep(30);
  EXPECT_FALSE(acquired.load());  // cannot have it while we hold it
  tl.UnlockList();
  other.join();
  EXPECT_TRUE(acquired.load());

  // Concurrent adds of distinct items all arrive.
  std::vector<std::thread> adders;
  for (int t = 0; t < 4; ++t)
    adders.emplace_back([&tl, t] {
      for (int i = 0; i < 500; ++i) tl.Add(P(1 + t * 1000 + i));
    });
  for (auto& a : adders) a.join();
  EXPECT_EQ(tl.LockList()->Count(), 2000);
  tl.UnlockList();
}

TEST(StringList, TextJoinsWithCrLfAndSplitsOnAnyLineBreak) {
  TStringList s;
  s.Add("a");
  s.Add("");
  s.Add("b");
  EXPECT_EQ(s.Text(), "a\r\n\r\nb\r\n");
  s.SetText("one\r\ntwo\nthree\rfour");
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"one", "two", "three", "four"}));
  s.SetText("x\r\n");  // a final break makes no empty line
  EXPECT_EQ(Lines(s), std::vector<std::string>{"x"});
  s.SetText("\r\n\r\n");
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"", ""}));
  s.SetText("a\n\rb");  // LF then CR: two breaks
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"a", "", "b"}));
  s.SetText("");
  EXPECT_EQ(s.Count(), 0);
  EXPECT_EQ(s.Text(), "");
}

TEST(StringList, LinesAreByteStrings) {
  TStringList s;
  const std::string raw("\x00\xff\x01", 3);
  s.Add(raw);
  EXPECT_EQ(s.Strings(0), raw);
  EXPECT_EQ(s.IndexOf(raw), 0);
}

TEST(StringList, SortedListsFindIgnoringCaseUnlessCaseSensitive) {
  TStringList s;
  s.SetSorted(true);
  for (const char* w : {"жаба", "Ябълка", "apple", "Banana", "ёж"}) s.Add(w);
  // Order of the case-folded code points (ё is U+0451, after я).
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"apple", "Banana", "жаба", "Ябълка", "ёж"}));
  EXPECT_EQ(s.IndexOf("ЖАБА"), 2);
  EXPECT_EQ(s.IndexOf("BANANA"), 1);
  int index = -1;
  EXPECT_FALSE(s.Find("cherry", index));
  EXPECT_EQ(index, 2);
  EXPECT_EQ(ListErrorOf([&] { s.Insert(0, "x"); }), "Operation not allowed on sorted list");
  EXPECT_THROW(s.Put(0, "x"), EListError);
  s.SetCaseSensitive(true);
  EXPECT_EQ(s.IndexOf("ЖАБА"), -1);
  EXPECT_EQ(s.Strings(0), "Banana");  // re-sorted by bytes
  EXPECT_EQ(s.IndexOf("жаба"), 3);
  s.SetSorted(false);
  s.SetCaseSensitive(false);
  s.Insert(0, "first");
  EXPECT_EQ(s.IndexOf("FIRST"), 0);
}

TEST(StringList, ObjectsAssignAndAddStrings) {
  TObject o1, o2;
  TStringList a;
  a.AddObject("one", &o1);
  a.AddObject("two", &o2);
  TStringList b;
  b.Add("old");
  b.Assign(&a);
  EXPECT_EQ(Lines(b), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(b.Objects(1), &o2);
  b.AddStrings(&b);  // adding a list to itself doubles it once
  EXPECT_EQ(b.Count(), 4);
  EXPECT_EQ(b.Objects(2), &o1);
  EXPECT_EQ(ListErrorOf([&] { b.Get(4); }), "List index out of bounds (4)");
  b.Delete(0);
  EXPECT_EQ(b.Strings(0), "two");
  b.Put(0, "deux");
  EXPECT_EQ(b.Objects(0), &o2);

  class TOther : public TPersistent {};
  TOther other;
  try {
    b.Assign(&other);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TOther to a TStringList");
  }
}

TEST(StringList, OnChangeIsDeferredDuringUpdates) {
  TStringList s;
  int changes = 0;
  TObject* sender = nullptr;
  s.OnChange = [&](TObject* Sender) {
    ++changes;
    sender = Sender;
  };
  s.Add("a");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(sender, &s);
  s.BeginUpdate();
  s.BeginUpdate();
  s.Add("b");
  s.Add("c");
  s.EndUpdate();
  EXPECT_EQ(changes, 1);
  s.EndUpdate();
  EXPECT_EQ(changes, 2);
  s.BeginUpdate();
  s.EndUpdate();  // nothing changed: no event
  EXPECT_EQ(changes, 2);
  s.SetText("x\ny\nz");
  EXPECT_EQ(changes, 3);
  s.Clear();
  s.Clear();  // already empty: no change
  EXPECT_EQ(changes, 4);
}
