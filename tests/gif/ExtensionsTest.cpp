// Extension blocks: registry, graphic control, plain text, comment and application extensions.
#include <gtest/gtest.h>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;

namespace {

// A GIF with the given blocks in front of one 2 x 1 frame.
Bytes WithBlocks(const Bytes& Blocks) {
  return GifWriter().Header(2, 1, 0x81).Table(4).Raw(Blocks).Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({0, 3}, 2))).Trailer().Get();
}

// The same as written back: the screen descriptor's packed byte then carries the colour
// resolution that the tables give (2 bits: 1 in bits 4-6).
Bytes Rewritten(const Bytes& Blocks) {
  Bytes B = WithBlocks(Blocks);
  B[10] = 0x91;
  return B;
}

// The bytes one extension writes.
Bytes Written(gif::TGIFExtension* X) {
  TMemoryStream S;
  X->SaveToStream(&S);
  return BytesOf(S);
}

}  // namespace

TEST(GifExtensions, Registry) {
  EXPECT_EQ(gif::ExtensionRegistry().FindByLabel(0xF9), gif::TGIFGraphicControlExtension::StaticClass());
  EXPECT_EQ(gif::ExtensionRegistry().FindByLabel(0xFE), gif::TGIFCommentExtension::StaticClass());
  EXPECT_EQ(gif::ExtensionRegistry().FindByLabel(0x01), gif::TGIFTextExtension::StaticClass());
  EXPECT_EQ(gif::ExtensionRegistry().FindByLabel(0xFF), gif::TGIFApplicationExtension::StaticClass());
  EXPECT_EQ(gif::ExtensionRegistry().FindByLabel(0x02), nullptr);
  // The class lookup leaves the stream where it was.
  auto S = StreamOf({0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0});
  EXPECT_EQ(gif::ExtensionClassFromStream(S.get()), gif::TGIFAppExtNSLoop::StaticClass());
  EXPECT_EQ(S->Position(), 0);
  // An unknown label is the library's error.
  EXPECT_EQ(Load(WithBlocks({0x21, 0x02, 1, 5, 0})).Error, "Unknown extension type");
}

TEST(GifExtensions, ExtensionListStopsAtTheFrame) {
  gif::TGIFImage Image;
  std::vector<std::string> W;
  Image.OnFormatWarning = [&](TObject*, int, const std::string& M) { W.push_back(M); };
  gif::TGIFSubImage Frame(&Image);
  auto S = StreamOf({0x21, 0xFE, 1, 'x', 0, ',', 9});
  Frame.Extensions().LoadFromStream(S.get(), &Frame);
  EXPECT_EQ(Frame.Extensions().Count(), 1);
  EXPECT_EQ(S->Position(), 5);
  S = StreamOf({0x21, 0xFE, 1, 'x', 0});
  Frame.Extensions().LoadFromStream(S.get(), &Frame);
  EXPECT_EQ(Frame.Extensions().Count(), 2);
  EXPECT_EQ(S->Position(), 5);
  // A zero where an introducer belongs warns and leaves the stream on it.
  S = StreamOf({0x21, 0xFE, 0, 0x00, 0x2C});
  Frame.Extensions().LoadFromStream(S.get(), &Frame);
  EXPECT_EQ(S->Position(), 3);
  EXPECT_EQ(W, std::vector<std::string>{"Invalid extension introducer"});
  EXPECT_EQ(Frame.Extensions().Count(), 3);
  // The parent must be a frame.
  EXPECT_THROW(Frame.Extensions().LoadFromStream(S.get(), &Image), EInvalidCast);
  // Wrong label for the object and wrong introducer.
  gif::TGIFCommentExtension C(&Frame);
  S = StreamOf({0x21, 0xF9, 0});
  EXPECT_THROW(C.LoadFromStream(S.get()), gif::GIFException);
  S = StreamOf({0x2C, 0xFE, 0});
  try {
    C.LoadFromStream(S.get());
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Invalid extension introducer");
  }
}

TEST(GifExtensions, GraphicControl) {
  Loaded L = Load(WithBlocks({0x21, 0xF9, 4, 0x09, 0x34, 0x12, 3, 0}));
  ASSERT_EQ(L.Error, "");
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  gif::TGIFGraphicControlExtension* G = F->GraphicControlExtension();
  ASSERT_NE(G, nullptr);
  EXPECT_EQ(G->DisposalMethod(), 2);
  EXPECT_FALSE(G->WaitsForUserInput());
  EXPECT_TRUE(G->IsTransparent());
  EXPECT_TRUE(F->Transparent());
  EXPECT_EQ(G->DelayTime(), 0x1234);
  EXPECT_EQ(G->TransparentIndex(), 3);
  EXPECT_EQ(F->RequiredVersion(), gif::gv89a);
  G->SetDisposalMethod(9);
  EXPECT_EQ(G->DisposalMethod(), 1);
  EXPECT_TRUE(G->IsTransparent());
  EXPECT_EQ(Written(G), (Bytes{0x21, 0xF9, 4, 0x05, 0x34, 0x12, 3, 0}));
  // An index outside the (4-entry) map warns and stores 0.
  std::vector<std::string> W;
  L.Image->OnFormatWarning = [&](TObject*, int, const std::string& M) { W.push_back(M); };
  G->SetTransparentIndex(20);
  EXPECT_EQ(G->TransparentIndex(), 0);
  EXPECT_EQ(W, std::vector<std::string>{"Invalid color index"});
  // A second one does not take the frame's reference; freeing the first makes the frame
  // opaque and leaves it without one.
  auto* Second = new gif::TGIFGraphicControlExtension(F);
  F->Extensions().Add(Second);
  EXPECT_EQ(F->GraphicControlExtension(), G);
  delete G;
  EXPECT_EQ(F->GraphicControlExtension(), nullptr);
  EXPECT_FALSE(F->Transparent());
  EXPECT_EQ(F->Extensions().Count(), 1);
  // With an empty map any index is kept.
  gif::TGIFImage Image;
  gif::TGIFSubImage Frame(&Image);
  gif::TGIFGraphicControlExtension X(&Frame);
  X.SetTransparentIndex(200);
  EXPECT_EQ(X.TransparentIndex(), 200);
  X.SetTransparentFlag(true);
  EXPECT_TRUE(Frame.Transparent());
}

TEST(GifExtensions, GraphicControlHonoursItsSizeByte) {
  // A block of size 5 is read whole (the frame after it is not lost) and written back as the
  // standard block of size 4.
  Loaded L = Load(WithBlocks({0x21, 0xF9, 5, 0x01, 10, 0, 2, 0xEE, 0}));
  ASSERT_EQ(L.Error, "");
  EXPECT_TRUE(L.Warnings.empty());
  ASSERT_EQ(L.Image->Images().Count(), 1);
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  EXPECT_FALSE(F->IsEmpty());
  EXPECT_EQ(F->GraphicControlExtension()->TransparentIndex(), 2);
  EXPECT_EQ(F->GraphicControlExtension()->DelayTime(), 10);
  EXPECT_EQ(Written(F->GraphicControlExtension()), (Bytes{0x21, 0xF9, 4, 0x01, 10, 0, 2, 0}));
  // A short block (size 3: no transparent index) and one with data sub-blocks after it.
  L = Load(WithBlocks({0x21, 0xF9, 3, 0x04, 7, 0, 0, 0x21, 0xF9, 4, 0, 1, 0, 0, 2, 9, 9, 0}));
  ASSERT_EQ(L.Error, "");
  F = L.Image->Images().FrameAt(0);
  ASSERT_EQ(F->Extensions().Count(), 2);
  EXPECT_EQ(F->GraphicControlExtension()->DisposalMethod(), 1);
  EXPECT_EQ(F->GraphicControlExtension()->DelayTime(), 7);
  // A block cut short warns.
  gif::TGIFImage Image;
  std::vector<std::string> W;
  Image.OnFormatWarning = [&](TObject*, int, const std::string& M) { W.push_back(M); };
  gif::TGIFSubImage Frame(&Image);
  gif::TGIFGraphicControlExtension G(&Frame);
  auto S = StreamOf({0x21, 0xF9, 4, 1, 2});
  G.LoadFromStream(S.get());
  EXPECT_EQ(W, std::vector<std::string>{"Premature end of data"});
}

TEST(GifExtensions, CommentAndPlainText) {
  Loaded L = Load(WithBlocks({0x21, 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0, 0x21, 0x01, 12, 1, 0, 2, 0, 30, 0, 40, 0, 8, 9,
                              1, 2, 2, 'h', 'i', 0}));
  ASSERT_EQ(L.Error, "");
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  ASSERT_EQ(F->Extensions().Count(), 2);
  auto* C = dynamic_cast<gif::TGIFCommentExtension*>(F->Extensions().ExtensionAt(0));
  ASSERT_NE(C, nullptr);
  EXPECT_EQ(C->Text()->Count(), 2);
  EXPECT_EQ(C->Text()->Get(1), "de");
  auto* T = dynamic_cast<gif::TGIFTextExtension*>(F->Extensions().ExtensionAt(1));
  ASSERT_NE(T, nullptr);
  EXPECT_EQ(T->Left(), 1);
  EXPECT_EQ(T->Top(), 2);
  EXPECT_EQ(T->GridWidth(), 30);
  EXPECT_EQ(T->GridHeight(), 40);
  EXPECT_EQ(T->CharWidth(), 8);
  EXPECT_EQ(T->CharHeight(), 9);
  EXPECT_EQ(T->ForegroundColorIndex(), 1);
  EXPECT_EQ(T->BackgroundColorIndex(), 2);
  EXPECT_EQ(T->Text()->Get(0), "hi");
  const Bytes Out = Save(*L.Image);
  EXPECT_EQ(Load(Out).Image->Images().FrameAt(0)->Extensions().Count(), 2);
  EXPECT_EQ(Out, Rewritten({0x21, 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0, 0x21, 0x01, 12, 1, 0, 2, 0, 30, 0, 40, 0, 8, 9,
                            1, 2, 2, 'h', 'i', 0}));
  // A comment line of 300 bytes: sub-blocks of 255 and 45; an empty line is not written.
  C->Text()->Clear();
  C->Text()->Add(std::string(300, 'q'));
  C->Text()->Add("");
  const Bytes W = Written(C);
  ASSERT_EQ(W.size(), 2u + 256 + 46 + 1);
  EXPECT_EQ(W[2], 255);
  EXPECT_EQ(W[258], 45);
  EXPECT_EQ(W.back(), 0);
}

TEST(GifAppExtensions, Looping) {
  const Bytes Block{0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 5, 0, 0};
  Loaded L = Load(WithBlocks(Block));
  ASSERT_EQ(L.Error, "");
  auto* Loop = dynamic_cast<gif::TGIFAppExtNSLoop*>(L.Image->Images().FrameAt(0)->Extensions().ExtensionAt(0));
  ASSERT_NE(Loop, nullptr);
  EXPECT_EQ(Loop->LoopCount(), 5);
  EXPECT_EQ(Loop->AppIdentifier(), "NETSCAPE");
  EXPECT_EQ(Loop->AppAuthCode(), "2.0");
  EXPECT_EQ(Written(Loop), Block);
  Loop->SetLoopCount(0);
  Bytes Out = Written(Loop);
  EXPECT_EQ(Bytes(Out.begin() + 14, Out.end()), (Bytes{3, 1, 0, 0, 0}));
  Loop->SetBufferSize(0x01020304);
  Out = Written(Loop);
  EXPECT_EQ(Bytes(Out.begin() + 14, Out.end()), (Bytes{3, 1, 0, 0, 5, 2, 4, 3, 2, 1, 0}));
  // ANIMEXTS1.0 is a looping block too, written back with its own identifier; ids 9 and 17
  // count as loop sub-blocks; a buffer sub-block is read.
  const Bytes Anim{0x21, 0xFF, 11, 'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0', 3, 9, 7, 0, 5, 2, 1, 0, 0, 0, 0};
  L = Load(WithBlocks(Anim));
  ASSERT_EQ(L.Error, "");
  Loop = dynamic_cast<gif::TGIFAppExtNSLoop*>(L.Image->Images().FrameAt(0)->Extensions().ExtensionAt(0));
  ASSERT_NE(Loop, nullptr);
  EXPECT_EQ(Loop->LoopCount(), 7);
  EXPECT_EQ(Loop->BufferSize(), 1u);
  EXPECT_EQ(Loop->AppIdentifier(), "ANIMEXTS");
  Out = Written(Loop);
  EXPECT_EQ(Bytes(Out.begin(), Out.begin() + 14), Bytes(Anim.begin(), Anim.begin() + 14));
  // A loop sub-block too short for its id.
  EXPECT_EQ(Load(WithBlocks({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 2, 1, 5, 0})).Error,
            "Invalid GIF data");
  // The loop count itself cut off.
  EXPECT_EQ(Load(Bytes{'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0, 0, 0, 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A',
                       'P', 'E', '2', '.', '0', 3, 1, 5})
                .Error,
            "Premature end of data");
}

TEST(GifAppExtensions, UnknownApplicationsAreKept) {
  const Bytes Block{0x21, 0xFF, 11, 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P', 3, 1, 2, 3, 1, 9, 0};
  Loaded L = Load(WithBlocks(Block));
  ASSERT_EQ(L.Error, "");
  auto* U = dynamic_cast<gif::TGIFUnknownAppExtension*>(L.Image->Images().FrameAt(0)->Extensions().ExtensionAt(0));
  ASSERT_NE(U, nullptr);
  ASSERT_EQ(U->Blocks().size(), 2u);
  EXPECT_EQ(U->Blocks()[1]->BlockSize(), 1);
  EXPECT_EQ(Written(U), Block);
  EXPECT_EQ(Save(*L.Image), Rewritten(Block));
  // Block sizes 10 and 12 (neither is the standard 11): kept as unknown application data and
  // written back as they were read.
  const Bytes Ten{0x21, 0xFF, 10, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', 2, 7, 8, 0};
  L = Load(WithBlocks(Ten));
  ASSERT_EQ(L.Error, "");
  U = dynamic_cast<gif::TGIFUnknownAppExtension*>(L.Image->Images().FrameAt(0)->Extensions().ExtensionAt(0));
  ASSERT_NE(U, nullptr);
  EXPECT_EQ(Written(U), Ten);
  const Bytes Twelve{0x21, 0xFF, 12, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', '3', 'Z', 1, 6, 0};
  L = Load(WithBlocks(Twelve));
  ASSERT_EQ(L.Error, "");
  U = dynamic_cast<gif::TGIFUnknownAppExtension*>(L.Image->Images().FrameAt(0)->Extensions().ExtensionAt(0));
  ASSERT_NE(U, nullptr);
  EXPECT_EQ(U->AppIdentifier(), "ABCDEFGH");
  ASSERT_EQ(U->Blocks().size(), 1u);
  EXPECT_EQ(U->Blocks()[0]->BlockData()[0], 6);
  EXPECT_FALSE(L.Image->Images().FrameAt(0)->IsEmpty());
  EXPECT_EQ(Written(U), Twelve);
  // A looping block's identifier behind another size is no looping block, and stays none when
  // written back (as the standard size its data would not read as loop sub-blocks).
  const Bytes Odd{0x21, 0xFF, 13, 'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0', 'x', 'y', 1, 1, 0};
  L = Load(WithBlocks(Odd));
  ASSERT_EQ(L.Error, "");
  const Bytes Again = Save(*L.Image);
  EXPECT_EQ(Again, Rewritten(Odd));
  EXPECT_EQ(Load(Again).Error, "");
  // Below 10 it is refused.
  EXPECT_EQ(Load(WithBlocks({0x21, 0xFF, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0})).Error,
            "Unsupported Application Extension block size");
  // Data ending inside a sub-block.
  EXPECT_EQ(Load(Bytes{'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0, 0, 0, 0x21, 0xFF, 11, 'A', 'B', 'C', 'D', 'E', 'F',
                       'G', 'H', '1', '2', '3', 4, 1, 2})
                .Error,
            "Premature end of data");
}
