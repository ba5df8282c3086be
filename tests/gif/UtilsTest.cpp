// Unit routines: bit arithmetic, stream transfer, sub-block text, GDI result checks.
#include <gtest/gtest.h>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"
#include "platform/rtl/Kernel.h"

using namespace giftest;

TEST(GifUtils, BitArithmetic) {
  const std::pair<int, int> Bits[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {129, 8}, {256, 8}, {257, 9}, {-4, 0}};
  for (auto [N, B] : Bits) EXPECT_EQ(gif::BitsForColorCount(N), B) << N;
  EXPECT_EQ(gif::AlignedRowBytes(1, 24, 32), 4);
  EXPECT_EQ(gif::AlignedRowBytes(3, 24, 32), 12);
  EXPECT_EQ(gif::AlignedRowBytes(5, 8, 32), 8);
  EXPECT_EQ(gif::AlignedRowBytes(17, 1, 16), 4);
  // Sizes beyond 32 bits do not wrap.
  EXPECT_EQ(gif::AlignedRowBytes(std::int64_t{1} << 31, 24, 32), (std::int64_t{3} << 31));
  EXPECT_EQ(gif::AlignedRowBytes(-1, 8, 32), 0);
}

TEST(GifUtils, StreamBytes) {
  auto S = StreamOf({7});
  EXPECT_EQ(gif::StreamReadByte(S.get()), 7);
  // At the end of the stream the byte is 0, so no caller loops on garbage.
  EXPECT_EQ(gif::StreamReadByte(S.get()), 0);
  std::uint8_t Buf[4];
  S = StreamOf({1, 2, 3});
  try {
    gif::StreamReadExact(S.get(), Buf, 4);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Premature end of data");
  }
  // GIFException is a kind of the class library's invalid-graphic error.
  EXPECT_THROW(gif::RaiseGIFError("x"), EInvalidGraphic);
}

TEST(GifUtils, SubBlockText) {
  auto Write = [](const std::vector<std::string>& Lines) {
    TStringList L;
    for (const auto& S : Lines) L.Add(S);
    TMemoryStream S;
    gif::WriteSubBlockText(&S, &L);
    return BytesOf(S);
  };
  EXPECT_EQ(Write({}), Bytes{0});
  EXPECT_EQ(Write({""}), Bytes{0});
  EXPECT_EQ(Write({"ab", "", "c"}), (Bytes{2, 'a', 'b', 1, 'c', 0}));
  const std::string Long(300, 'x');
  const Bytes Out = Write({Long});
  ASSERT_EQ(Out.size(), 1u + 255 + 1 + 45 + 1);
  EXPECT_EQ(Out[0], 255);
  EXPECT_EQ(Out[256], 45);
  TStringList Back;
  auto S = StreamOf(Out);
  gif::ReadSubBlockText(S.get(), &Back);
  ASSERT_EQ(Back.Count(), 2);
  EXPECT_EQ(Back.Get(0), std::string(255, 'x'));
  EXPECT_EQ(Back.Get(1), std::string(45, 'x'));
  // An exhausted stream gives an empty list and no error.
  Back.Add("old");
  S = StreamOf({});
  gif::ReadSubBlockText(S.get(), &Back);
  EXPECT_EQ(Back.Count(), 0);
  // A zero byte cuts a line short; a stream ending inside a sub-block raises with the lines
  // before it kept.
  S = StreamOf({3, 'a', 0, 'b', 4, 'x', 'y'});
  EXPECT_THROW(gif::ReadSubBlockText(S.get(), &Back), gif::GIFException);
  ASSERT_EQ(Back.Count(), 1);
  EXPECT_EQ(Back.Get(0), "a");
}

TEST(GifUtils, SwapRGBQuadOrder) {
  std::uint8_t E[8] = {1, 2, 3, 9, 10, 20, 30, 4};
  gif::SwapRGBQuadOrder(E, 2);
  EXPECT_EQ(Bytes(E, E + 8), (Bytes{3, 2, 1, 0, 30, 20, 10, 0}));
}

TEST(GifUtils, CheckGDIResult) {
  EXPECT_EQ(gif::CheckGDIResult(5), 5);
  SetLastError(0);
  try {
    gif::CheckGDIResult(0);
    FAIL();
  } catch (const EOutOfResources& E) {
    EXPECT_EQ(E.Message(), "Out of system resources");
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  try {
    gif::CheckGDIResult<void*>(nullptr);
    FAIL();
  } catch (const EOutOfResources& E) {
    EXPECT_EQ(E.Message(), SysErrorMessage(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_FALSE(E.Message().empty());
  }
}
