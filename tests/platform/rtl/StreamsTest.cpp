#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "platform/rtl/Classes.h"
#include "support/TestSupport.h"

namespace {

std::vector<char> Bytes(int n) {
  std::vector<char> v(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = static_cast<char>(i * 7 + 1);
  return v;
}

template <class E, class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "(no exception)";
}

}  // namespace

TEST(MemoryStream, ShortReadRaisesReadErrorAndPlainReadReturnsCount) {
  TMemoryStream s;
  const auto data = Bytes(10);
  s.WriteBuffer(data.data(), 10);
  s.SetPosition(4);
  char buf[16];
  EXPECT_EQ(s.Read(buf, 16), 6);
  EXPECT_EQ(s.Read(buf, 16), 0);
  s.SetPosition(8);
  EXPECT_EQ(MessageOf<EReadError>([&] { s.ReadBuffer(buf, 3); }), "Stream read error");
  s.SetPosition(0);
  EXPECT_THROW(s.ReadBuffer(buf, -1), EReadError);
  EXPECT_NO_THROW(s.ReadBuffer(buf, 0));
}

TEST(MemoryStream, SeekFromEachOrigin) {
  TMemoryStream s;
  const auto data = Bytes(100);
  s.WriteBuffer(data.data(), 100);
  EXPECT_EQ(s.Seek(10, soFromBeginning), 10);
  EXPECT_EQ(s.Seek(5, soFromCurrent), 15);
  EXPECT_EQ(s.Seek(-3, soFromCurrent), 12);
  EXPECT_EQ(s.Seek(-20, soFromEnd), 80);
  EXPECT_EQ(s.Seek(10, soFromEnd), 110);  // past the end is allowed; reads give nothing
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0);
  // A negative target fails and leaves the position alone.
  EXPECT_EQ(s.Seek(-200, soFromEnd), -1);
  EXPECT_EQ(s.Position(), 110);
  EXPECT_EQ(s.Seek(INT64_MAX, soFromCurrent), -1);
  EXPECT_EQ(s.Position(), 110);
}

TEST(MemoryStream, WritePastTheEndZeroFillsTheGap) {
  TMemoryStream s;
  s.SetPosition(5);
  s.WriteBuffer("ab", 2);
  ASSERT_EQ(s.Size(), 7);
  EXPECT_EQ(std::memcmp(s.Memory(), "\0\0\0\0\0ab", 7), 0);
  s.SetSize(3);
  EXPECT_EQ(s.Position(), 3);
  s.SetSize(6);
  EXPECT_EQ(std::memcmp(s.Memory(), "\0\0\0\0\0\0", 6), 0);  // regrown bytes are zero, not stale
  EXPECT_THROW(s.SetSize(-1), EStreamError);
  s.Clear();
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Memory(), nullptr);
}

TEST(MemoryStream, GrowthIsAmortised) {
  TMemoryStream s;
  int reallocations = 0;
  std::int64_t capacity = s.Capacity();
  for (int i = 0; i < 200000; ++i) {
    const char c = static_cast<char>(i);
    s.WriteBuffer(&c, 1);
    if (s.Capacity() != capacity) ++reallocations, capacity = s.Capacity();
  }
  EXPECT_EQ(s.Size(), 200000);
  EXPECT_LT(reallocations, 20);
  EXPECT_EQ(static_cast<const char*>(s.Memory())[199999], static_cast<char>(199999));
}

TEST(MemoryStream, FileAndStreamRoundTrip) {
  testsupport::TempDir dir;
  const std::string name = (dir / "round.bin").string();
  const auto data = Bytes(70000);
  TMemoryStream out;
  out.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  out.SetPosition(123);  // saving writes the whole stream whatever the position
  out.SaveToFile(name);
  TMemoryStream in;
  in.WriteBuffer("stale", 5);
  in.LoadFromFile(name);
  ASSERT_EQ(in.Size(), 70000);
  EXPECT_EQ(in.Position(), 0);
  EXPECT_EQ(std::memcmp(in.Memory(), data.data(), data.size()), 0);

  TMemoryStream copy;
  in.SetPosition(500);
  copy.LoadFromStream(&in);  // from the source's start
  EXPECT_EQ(copy.Size(), 70000);
  TMemoryStream saved;
  copy.SaveToStream(&saved);
  EXPECT_EQ(std::memcmp(saved.Memory(), data.data(), data.size()), 0);
}

TEST(Stream, CopyFrom) {
  TMemoryStream src;
  const auto data = Bytes(200000);
  src.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  // Count 0: the whole source from its start, whatever its position.
  TMemoryStream all;
  EXPECT_EQ(all.CopyFrom(&src, 0), 200000);
  EXPECT_EQ(std::memcmp(all.Memory(), data.data(), data.size()), 0);
  // A count: from the current position.
  src.SetPosition(1000);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(&src, 100), 100);
  EXPECT_EQ(std::memcmp(part.Memory(), data.data() + 1000, 100), 0);
  EXPECT_EQ(src.Position(), 1100);
  // More than the source holds.
  src.SetPosition(199990);
  TMemoryStream shortCopy;
  EXPECT_THROW(shortCopy.CopyFrom(&src, 20), EReadError);
}

TEST(ResourceStream, ReadsAndRefusesWrites) {
  static const char kData[] = "embedded bytes";
  TResourceStream s(kData, 8);
  EXPECT_EQ(s.Size(), 8);
  char buf[8];
  s.ReadBuffer(buf, 8);
  EXPECT_EQ(std::string(buf, 8), "embedded");
  EXPECT_EQ(s.Seek(-5, soFromEnd), 3);
  EXPECT_EQ(MessageOf<EStreamError>([&] { s.Write("x", 1); }), "Can't write to a read-only resource stream");
  EXPECT_THROW(s.SetSize(2), EStreamError);
  EXPECT_THROW(TResourceStream(nullptr, 4), EStreamError);
  TResourceStream empty(nullptr, 0);
  EXPECT_EQ(empty.Read(buf, 8), 0);
}

TEST(FileStream, OpenAndCreateErrorsNameTheFileAndTheReason) {
  testsupport::TempDir dir;
  const std::string missing = (dir / "missing.gif").string();
  EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(missing, fmOpenRead | fmShareDenyNone); }),
            "Cannot open file \"" + missing + "\". " + std::strerror(ENOENT));
  const std::string noFolder = (dir / "no" / "x.bmp").string();
  EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream f(noFolder, fmCreate); }),
            "Cannot create file \"" + noFolder + "\". " + std::strerror(ENOENT));
  // Folders are not files.
  EXPECT_THROW(TFileStream(dir.path().string(), fmOpenRead), EFOpenError);
  // EFOpenError and EFCreateError are stream errors.
  EXPECT_THROW(TFileStream(missing, fmOpenRead), EStreamError);
}

TEST(FileStream, ReadWriteSeekAndSize) {
  testsupport::TempDir dir;
  const std::string name = (dir / "f.bin").string();
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("hello world", 11);
    EXPECT_EQ(f.Size(), 11);
    EXPECT_EQ(f.Seek(-5, soFromEnd), 6);
    char buf[5];
    f.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
    EXPECT_EQ(f.Seek(-100, soFromCurrent), -1);
    f.SetSize(5);
    EXPECT_EQ(f.Position(), 5);
    EXPECT_EQ(f.Size(), 5);
  }
  {
    TFileStream f(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(f.Size(), 5);
    EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);  // opened for reading only
  }
  {
    TFileStream f(name, fmCreate);  // truncates
    EXPECT_EQ(f.Size(), 0);
  }
}

TEST(FileStream, PositionsAndSizesAre64Bit) {
  testsupport::TempDir dir;
  TFileStream f((dir / "big.bin").string(), fmCreate);
  const std::int64_t big = (std::int64_t{5} << 30) + 3;  // sparse
  EXPECT_EQ(f.Seek(big, soFromBeginning), big);
  f.WriteBuffer("z", 1);
  EXPECT_EQ(f.Size(), big + 1);
  f.SetSize(0);
}
