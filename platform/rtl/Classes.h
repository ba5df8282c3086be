#pragma once
// Class-library basics: persistent objects and components, streams, lists, string lists,
// threads and the hand-over of calls to the user-interface thread.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/SysUtils.h"
#include "platform/rtl/WinTypes.h"

using TNotifyEvent = std::function<void(TObject* Sender)>;

// ---------------------------------------------------------------------------------------------
// TPersistent

// Assign copies Source into this object: it asks Source->AssignTo(this); the fallback raises
// EConvertError "Cannot assign a <source class or nil> to a <this class>". Subclasses override
// Assign for sources they understand and AssignTo for destinations they can fill, calling the
// inherited operation otherwise.
class TPersistent : public TObject {
 public:
  virtual void Assign(TPersistent* Source);

 protected:
  virtual void AssignTo(TPersistent* Dest);
  [[noreturn]] void AssignError(TPersistent* Source);
};

// ---------------------------------------------------------------------------------------------
// TComponent

enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
};
using TComponentState = std::uint32_t;  // a set of TComponentStateFlag bits

// A named component; an owner frees the components it owns (last inserted first) when it is
// destroyed, and a component leaves its owner's list when it is destroyed itself. While an owner
// is destroyed, it and everything it owns carry csDestroying.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return FName; }
  virtual void SetName(const std::string& NewName) { FName = NewName; }
  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const;  // EListError when out of range

  TComponentState ComponentState() const { return FComponentState; }
  bool Designing() const { return (FComponentState & csDesigning) != 0; }
  void SetDesigning(bool Value);
  // csLoading is set by SetLoading(true) and cleared by Loaded().
  void SetLoading(bool Value);
  virtual void Loaded();

  void InsertComponent(TComponent* AComponent);  // takes ownership
  void RemoveComponent(TComponent* AComponent);  // gives it up without freeing

 protected:
  // Sets csDestroying here and on every owned component; the destructor calls it first.
  void Destroying();

 private:
  std::string FName;
  TComponent* FOwner{nullptr};
  std::vector<TComponent*> FComponents;
  TComponentState FComponentState{0};
};

// ---------------------------------------------------------------------------------------------
// Streams. Sizes, counts and positions are 64-bit.

enum TSeekOrigin : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream : public TObject {
 public:
  // Reads up to Count bytes; returns how many were read (0 at the end, or for Count <= 0).
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  // Writes up to Count bytes; returns how many were written.
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  // Returns the new position; -1 (position unchanged) when the target would be negative or the
  // system refuses it.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

  std::int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(std::int64_t Pos) { Seek(Pos, soFromBeginning); }
  virtual std::int64_t Size();
  // Default: EStreamError (the stream has no size to set).
  virtual void SetSize(std::int64_t NewSize);

  // Exact transfers: fewer bytes than Count raise EReadError / EWriteError.
  void ReadBuffer(void* Buffer, std::int64_t Count);
  void WriteBuffer(const void* Buffer, std::int64_t Count);
  // Copies Count bytes from Source's current position; Count <= 0 copies the whole of Source
  // from its start. Returns the number of bytes copied. A short source raises EReadError.
  std::int64_t CopyFrom(TStream* Source, std::int64_t Count);
};

// A stream over a block of memory it does not grow itself.
class TCustomMemoryStream : public TStream {
 public:
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return FSize; }
  void* Memory() const { return FMemory; }
  void SaveToStream(TStream* Stream);  // the whole block, whatever the position
  void SaveToFile(const std::string& FileName);

 protected:
  void SetPointer(void* Ptr, std::int64_t Size);

  void* FMemory{nullptr};
  std::int64_t FSize{0};
  std::int64_t FPosition{0};
};

// A growable stream in memory. Growth is amortised (the capacity at least doubles); writing
// past the end zero-fills any gap. A size that cannot be allocated raises EOutOfMemory.
class TMemoryStream : public TCustomMemoryStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  void SetSize(std::int64_t NewSize) override;  // keeps the position unless it is past the end
  // As SetSize, but the bytes it adds are not cleared: for a caller that writes every one of them.
  void SetSizeUncleared(std::int64_t NewSize);
  void Clear();                                  // size and position 0, memory released
  std::int64_t Capacity() const { return FCapacity; }
  void LoadFromStream(TStream* Stream);          // the whole of Stream from its start; position 0
  void LoadFromFile(const std::string& FileName);

 private:
  void SetCapacity(std::int64_t NewCapacity);
  std::int64_t FCapacity{0};
};

// Read-only stream over bytes embedded in the executable (or any memory that outlives it).
// Writing or resizing raises EStreamError "Can't write to a read-only resource stream".
class TResourceStream : public TCustomMemoryStream {
 public:
  TResourceStream(const void* Data, std::int64_t Size);
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  void SetSize(std::int64_t NewSize) override;
};

// File open modes: one access mode, or'ed with one share mode; fmCreate creates or truncates
// (read/write). Share modes are accepted and not enforced (no locking between processes).
inline constexpr WORD fmOpenRead = 0x0000;
inline constexpr WORD fmOpenWrite = 0x0001;
inline constexpr WORD fmOpenReadWrite = 0x0002;
inline constexpr WORD fmShareCompat = 0x0000;
inline constexpr WORD fmShareExclusive = 0x0010;
inline constexpr WORD fmShareDenyWrite = 0x0020;
inline constexpr WORD fmShareDenyRead = 0x0030;
inline constexpr WORD fmShareDenyNone = 0x0040;
inline constexpr WORD fmCreate = 0xFFFF;

// A stream on a file, opened by its native name. Failures raise EFOpenError
// "Cannot open file \"<name>\". <system text>" or EFCreateError
// "Cannot create file \"<name>\". <system text>"; a folder cannot be opened.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& FileName, WORD Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(std::int64_t NewSize) override;  // EStreamError when the system refuses
  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

 private:
  std::string FFileName;
  int FHandle{-1};
};

// ---------------------------------------------------------------------------------------------
// TList: a list of untyped pointers (not owned). Index errors raise EListError
// "List index out of bounds (<index>)".

using TListSortCompare = std::function<int(void* Item1, void* Item2)>;

class TList : public TObject {
 public:
  TList() = default;
  ~TList() override = default;

  int Add(void* Item);  // returns the new item's index
  void Insert(int Index, void* Item);  // 0 <= Index <= Count
  void Delete(int Index);
  int Remove(void* Item);  // removes the first occurrence; returns its index or -1
  int IndexOf(void* Item) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  void* Items(int Index) const { return Get(Index); }
  void* Get(int Index) const;
  void Put(int Index, void* Item);
  void* First() const { return Get(0); }
  void* Last() const { return Get(Count() - 1); }
  void Clear();
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  // Stable sort; Compare returns <0 when Item1 goes before Item2.
  void Sort(const TListSortCompare& Compare);
  int Capacity() const { return static_cast<int>(FItems.capacity()); }
  // EListError "List capacity out of bounds (<n>)" when below Count.
  void SetCapacity(int NewCapacity);
  void Pack();  // removes the null items
  void** List() { return FItems.data(); }

 private:
  void CheckIndex(int Index) const;
  std::vector<void*> FItems;
};

// A TList guarded by a lock that one thread may take several times (LockList / UnlockList
// pairs). Add, Remove and Clear take the lock themselves; Add ignores an item that is listed
// already.
class TThreadList : public TObject {
 public:
  TThreadList() = default;
  ~TThreadList() override = default;
  TList* LockList();
  void UnlockList();
  void Add(void* Item);
  void Remove(void* Item);
  void Clear();

 private:
  std::recursive_mutex FLock;
  TList FList;
};

// ---------------------------------------------------------------------------------------------
// String lists. Strings are byte strings (UTF-8 text or raw bytes); each may carry an object
// pointer (not owned).

class TStrings : public TPersistent {
 public:
  virtual int Count() const = 0;
  virtual std::string Get(int Index) const = 0;  // EListError when out of range
  virtual void Put(int Index, const std::string& S);
  virtual TObject* GetObject(int Index) const;
  virtual void PutObject(int Index, TObject* AObject);
  virtual void Insert(int Index, const std::string& S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;
  virtual int Add(const std::string& S);  // returns the new line's index
  int AddObject(const std::string& S, TObject* AObject);
  void InsertObject(int Index, const std::string& S, TObject* AObject);
  void AddStrings(TStrings* Strings);
  virtual int IndexOf(const std::string& S) const;

  std::string Strings(int Index) const { return Get(Index); }
  TObject* Objects(int Index) const { return GetObject(Index); }

  // Each line followed by "\r\n"; setting splits at "\r\n", "\n" or "\r" (a final line break
  // does not make an empty last line).
  std::string Text() const;
  void SetText(const std::string& Value);

  // OnChange is deferred while updates are open and fires once at the last EndUpdate.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  // From another TStrings: lines and objects; anything else goes to TPersistent::Assign.
  void Assign(TPersistent* Source) override;

  TNotifyEvent OnChange;

 protected:
  virtual void Changed();
  virtual int CompareStrings(const std::string& S1, const std::string& S2) const;

 private:
  int FUpdateCount{0};
  bool FChangedWhileUpdating{false};
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  ~TStringList() override = default;

  int Count() const override { return static_cast<int>(FItems.size()); }
  std::string Get(int Index) const override;
  void Put(int Index, const std::string& S) override;  // EListError on a sorted list
  TObject* GetObject(int Index) const override;
  void PutObject(int Index, TObject* AObject) override;
  // On a sorted list Add inserts at the sorted place and Insert raises EListError
  // "Operation not allowed on sorted list".
  int Add(const std::string& S) override;
  void Insert(int Index, const std::string& S) override;
  void Delete(int Index) override;
  void Clear() override;
  int IndexOf(const std::string& S) const override;

  // Sorted lists only: binary search; true when found, Index = its place or where it goes.
  bool Find(const std::string& S, int& Index) const;
  void Sort();
  bool Sorted() const { return FSorted; }
  void SetSorted(bool Value);
  // Default false: comparisons fold case (AnsiCompareText).
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);

 protected:
  int CompareStrings(const std::string& S1, const std::string& S2) const override;

 private:
  struct Item {
    std::string S;
    TObject* Obj{nullptr};
  };
  void CheckIndex(int Index) const;
  void InsertItem(int Index, const std::string& S, TObject* AObject);
  std::vector<Item> FItems;
  bool FSorted{false};
  bool FCaseSensitive{false};
};

// ---------------------------------------------------------------------------------------------
// Threads

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
using TThreadMethod = std::function<void()>;

// A thread object. The system thread is made when the thread starts. C++ cannot run an
// override from a base constructor, so TThread's constructor never starts it: a class that
// passes CreateSuspended = false calls Start() at the end of its own constructor; with true
// the creator calls Start/Resume later. A derived destructor that frees what Execute uses
// calls Terminate() and WaitFor() first. When Execute returns (an exception it lets out is
// caught and kept as FatalException), OnTerminate runs on the user-interface thread through
// Synchronize; then, with FreeOnTerminate, the object deletes itself on its own thread.
//
// The user-interface thread is the thread of the QCoreApplication when one exists, else the
// first thread that used this library (the process's main thread).
//
// Hand-over rules (deadlock-free shutdown):
// - Synchronize(Method) called on the user-interface thread runs Method at once. From another
//   thread it queues the call, wakes the Qt event loop (when a QCoreApplication exists) and
//   waits until the user-interface thread has run it; an exception from Method is re-raised in
//   the waiting thread. Without Qt, CheckSynchronize() runs the queued calls.
// - WaitFor on the user-interface thread keeps running queued calls while it waits, so a thread
//   that is blocked in Synchronize can finish. Destroying a running thread object does
//   Terminate + WaitFor.
// - RemoveQueuedEvents(Thread) cancels the calls that Thread has queued and not yet started: its
//   waiting Synchronize returns without running the method. Later calls queue as usual.
class TThread : public TObject {
 public:
  explicit TThread(bool CreateSuspended);
  // A thread that has started and not finished is terminated and waited for; a thread that was
  // never started just goes. Deleting the object from its own thread (FreeOnTerminate, or from
  // Execute) detaches the system thread.
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Start a thread created suspended; EThread "Cannot call Start on a running or finished
  // thread" when it has been started already. Resume starts it and does nothing otherwise.
  void Start();
  void Resume();
  bool Suspended() const { return !FStarted.load(); }

  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }

  // Waits until the thread has ended (Execute returned and OnTerminate ran) and returns
  // ReturnValue. EThread when the thread was never started or waits for itself. Do not wait for
  // a FreeOnTerminate thread (it may be gone).
  DWORD WaitFor();

  bool Finished() const { return FFinished.load(); }  // Execute has returned
  bool FreeOnTerminate() const { return FFreeOnTerminate; }
  void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
  // Stored only: all threads run at the system's normal priority.
  TThreadPriority Priority() const { return FPriority; }
  void SetPriority(TThreadPriority Value) { FPriority = Value; }
  DWORD ThreadID() const { return FThreadID.load(); }  // 0 until the thread has started
  int ReturnValue() const { return FReturnValue; }
  std::exception_ptr FatalException() const { return FFatalException; }

  TNotifyEvent OnTerminate;

  // Runs Method on the user-interface thread on behalf of Thread (may be null) and waits.
  static void Synchronize(TThread* Thread, const TThreadMethod& Method);
  static void RemoveQueuedEvents(TThread* Thread);
  // The TThread whose Execute runs on the calling thread, or null.
  static TThread* CurrentThread();

 protected:
  virtual void Execute() = 0;
  // Delivers OnTerminate (through Synchronize) when it is assigned.
  virtual void DoTerminate();
  void Synchronize(const TThreadMethod& Method) { Synchronize(this, Method); }
  void SetReturnValue(int Value) { FReturnValue = Value; }

 private:
  void Run();
  void StartThread();

  std::thread FThread;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FDone{false};  // the whole run is over (also OnTerminate)
  std::atomic<DWORD> FThreadID{0};
  bool FFreeOnTerminate{false};
  TThreadPriority FPriority{tpNormal};
  int FReturnValue{0};
  std::exception_ptr FFatalException;
};

// Synchronize on behalf of the calling thread's TThread (if any).
void Synchronize(const TThreadMethod& Method);

// Runs the queued Synchronize calls on the user-interface thread; waits up to Timeout ms for one
// to arrive when none is queued. Returns true when at least one call ran. EThread when called
// on another thread.
bool CheckSynchronize(int Timeout = 0);

// True on the user-interface thread.
bool IsMainThread();
