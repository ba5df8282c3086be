#include "GifTestUtil.h"

#include <gif_lib.h>

#include <cstring>
#include <map>

namespace giftest {

Bytes PackCodes(const std::vector<std::pair<int, int>>& Codes) {
  Bytes Out;
  std::uint64_t Bucket = 0;
  int Bits = 0;
  for (auto [Code, Width] : Codes) {
    Bucket |= static_cast<std::uint64_t>(Code) << Bits;
    Bits += Width;
    while (Bits >= 8) {
      Out.push_back(static_cast<std::uint8_t>(Bucket));
      Bucket >>= 8;
      Bits -= 8;
    }
  }
  if (Bits > 0) Out.push_back(static_cast<std::uint8_t>(Bucket));
  return Out;
}

Bytes SubBlocks(const Bytes& Data, std::vector<int> Sizes, bool Terminate) {
  Bytes Out;
  std::size_t At = 0, K = 0;
  while (At < Data.size()) {
    const int Size = Sizes[std::min(K, Sizes.size() - 1)];
    ++K;
    const std::size_t N = std::min<std::size_t>(static_cast<std::size_t>(Size), Data.size() - At);
    Out.push_back(static_cast<std::uint8_t>(N));
    Out.insert(Out.end(), Data.begin() + static_cast<long>(At), Data.begin() + static_cast<long>(At + N));
    At += N;
  }
  if (Terminate) Out.push_back(0);
  return Out;
}

GifWriter& GifWriter::Raw(const Bytes& B) {
  FBytes.insert(FBytes.end(), B.begin(), B.end());
  return *this;
}
GifWriter& GifWriter::Byte(std::uint8_t B) {
  FBytes.push_back(B);
  return *this;
}
GifWriter& GifWriter::Word(int W) {
  Byte(static_cast<std::uint8_t>(W));
  return Byte(static_cast<std::uint8_t>(W >> 8));
}
GifWriter& GifWriter::Header(int Width, int Height, std::uint8_t Packed, std::uint8_t Background,
                             std::uint8_t Aspect, const char* Version) {
  Raw({'G', 'I', 'F'});
  for (int i = 0; i < 3; ++i) Byte(static_cast<std::uint8_t>(Version[i]));
  Word(Width).Word(Height).Byte(Packed).Byte(Background).Byte(Aspect);
  return *this;
}
GifWriter& GifWriter::Table(int Entries, int Seed) {
  for (int i = 0; i < Entries; ++i)
    Byte(static_cast<std::uint8_t>(i + Seed)).Byte(static_cast<std::uint8_t>(2 * i)).Byte(static_cast<std::uint8_t>(3 * i));
  return *this;
}
GifWriter& GifWriter::Gce(std::uint8_t Packed, int Delay, std::uint8_t TransparentIndex, std::uint8_t Size) {
  Byte(0x21).Byte(0xF9).Byte(Size).Byte(Packed).Word(Delay).Byte(TransparentIndex);
  for (int i = 4; i < Size; ++i) Byte(0xEE);
  return Byte(0);
}
GifWriter& GifWriter::Comment(const std::vector<std::string>& Blocks) {
  Byte(0x21).Byte(0xFE);
  for (const auto& S : Blocks) {
    Byte(static_cast<std::uint8_t>(S.size()));
    Raw(Bytes(S.begin(), S.end()));
  }
  return Byte(0);
}
GifWriter& GifWriter::AppExt(const std::string& Key, const Bytes& Data, std::uint8_t Size) {
  Byte(0x21).Byte(0xFF).Byte(Size);
  for (int i = 0; i < Size; ++i) Byte(i < static_cast<int>(Key.size()) ? static_cast<std::uint8_t>(Key[i]) : 0);
  return Raw(Data);
}
GifWriter& GifWriter::Descriptor(int Left, int Top, int Width, int Height, std::uint8_t Packed) {
  return Byte(0x2C).Word(Left).Word(Top).Word(Width).Word(Height).Byte(Packed);
}
GifWriter& GifWriter::ImageData(int MinCodeSize, const Bytes& Data, std::vector<int> Sizes, bool Terminate) {
  Byte(static_cast<std::uint8_t>(MinCodeSize));
  return Raw(SubBlocks(Data, std::move(Sizes), Terminate));
}

std::vector<std::pair<int, int>> LzwCodes(const Bytes& Pixels, int MinCodeSize, bool LeadingClear) {
  const int Clear = 1 << MinCodeSize, End = Clear + 1;
  std::vector<std::pair<int, int>> Out;
  std::map<std::pair<int, int>, int> Dict;
  int EncNext = Clear + 2, DecNext = Clear + 2, Width = MinCodeSize + 1, Limit = 2 * Clear;
  bool First = true;
  auto Emit = [&](int Code) {
    Out.push_back({Code, Width});
    if (Code == Clear) {
      Width = MinCodeSize + 1;
      Limit = 2 * Clear;
      DecNext = Clear + 2;
      First = true;
      return;
    }
    if (First) {
      First = false;
      return;
    }
    if (DecNext < 4096) {
      ++DecNext;
      if (DecNext >= Limit && Limit < 4096) {
        Limit *= 2;
        ++Width;
      }
    }
  };
  if (LeadingClear) Emit(Clear);
  if (Pixels.empty()) {
    Emit(End);
    return Out;
  }
  int Prefix = Pixels[0];
  for (std::size_t i = 1; i < Pixels.size(); ++i) {
    const int P = Pixels[i];
    auto It = Dict.find({Prefix, P});
    if (It != Dict.end()) {
      Prefix = It->second;
      continue;
    }
    Emit(Prefix);
    if (EncNext < 4096) {
      Dict[{Prefix, P}] = EncNext++;
    } else {
      Emit(Clear);
      Dict.clear();
      EncNext = Clear + 2;
    }
    Prefix = P;
  }
  Emit(Prefix);
  Emit(End);
  return Out;
}

Bytes SimpleGif(int Width, int Height, const Bytes& Pixels, int GlobalEntries, int LocalEntries, int Transparent,
                bool Interlaced) {
  auto SizeField = [](int Entries) {
    int n = 0;
    while ((2 << n) < Entries) ++n;
    return n;
  };
  GifWriter G;
  G.Header(Width, Height, GlobalEntries > 0 ? static_cast<std::uint8_t>(0x80 | SizeField(GlobalEntries)) : 0);
  if (GlobalEntries > 0) G.Table(2 << SizeField(GlobalEntries));
  if (Transparent >= 0) G.Gce(0x01, 0, static_cast<std::uint8_t>(Transparent));
  std::uint8_t Packed = Interlaced ? 0x40 : 0;
  if (LocalEntries > 0) Packed |= static_cast<std::uint8_t>(0x80 | SizeField(LocalEntries));
  G.Descriptor(0, 0, Width, Height, Packed);
  if (LocalEntries > 0) G.Table(2 << SizeField(LocalEntries), 7);
  Bytes Order = Pixels;
  if (Interlaced) {
    Order.clear();
    for (int Start : {0, 4, 2, 1})
      for (int y = Start; y < Height; y += Start == 0 ? 8 : Start * 2)
        Order.insert(Order.end(), Pixels.begin() + y * Width, Pixels.begin() + (y + 1) * Width);
  }
  int Max = 0;
  for (auto P : Pixels) Max = std::max<int>(Max, P);
  int Mcs = 2;
  while ((1 << Mcs) <= Max) ++Mcs;
  G.ImageData(Mcs, PackCodes(LzwCodes(Order, Mcs)));
  return G.Trailer().Get();
}

// ---------------------------------------------------------------------------------------------
// Peer

namespace {

struct MemReader {
  const Bytes* Data;
  std::size_t At;
};

int ReadMem(GifFileType* G, GifByteType* Buf, int N) {
  auto* R = static_cast<MemReader*>(G->UserData);
  const std::size_t Left = R->Data->size() - R->At;
  const std::size_t K = std::min<std::size_t>(static_cast<std::size_t>(N), Left);
  std::memcpy(Buf, R->Data->data() + R->At, K);
  R->At += K;
  return static_cast<int>(K);
}

int WriteMem(GifFileType* G, const GifByteType* Buf, int N) {
  auto* Out = static_cast<Bytes*>(G->UserData);
  Out->insert(Out->end(), Buf, Buf + N);
  return N;
}

std::vector<std::uint8_t> MapOf(const ColorMapObject* M) {
  std::vector<std::uint8_t> Out;
  if (!M) return Out;
  for (int i = 0; i < M->ColorCount; ++i) {
    Out.push_back(M->Colors[i].Red);
    Out.push_back(M->Colors[i].Green);
    Out.push_back(M->Colors[i].Blue);
  }
  return Out;
}

}  // namespace

PeerImage PeerDecode(const Bytes& Gif) {
  PeerImage R;
  MemReader M{&Gif, 0};
  int Err = 0;
  GifFileType* G = DGifOpen(&M, ReadMem, &Err);
  if (!G) {
    R.Error = Err;
    return R;
  }
  R.Ok = DGifSlurp(G) == GIF_OK;
  R.Error = G->Error;
  R.Width = G->SWidth;
  R.Height = G->SHeight;
  R.Background = G->SBackGroundColor;
  R.GlobalMap = MapOf(G->SColorMap);
  for (int i = 0; i < G->ImageCount; ++i) {
    const SavedImage& S = G->SavedImages[i];
    PeerFrame F;
    F.Left = S.ImageDesc.Left;
    F.Top = S.ImageDesc.Top;
    F.Width = S.ImageDesc.Width;
    F.Height = S.ImageDesc.Height;
    F.Interlace = S.ImageDesc.Interlace;
    F.LocalMap = MapOf(S.ImageDesc.ColorMap);
    if (S.RasterBits)
      F.Pixels.assign(S.RasterBits, S.RasterBits + static_cast<std::size_t>(F.Width) * static_cast<std::size_t>(F.Height));
    GraphicsControlBlock Gcb;
    if (DGifSavedExtensionToGCB(G, i, &Gcb) == GIF_OK) {
      F.HasGcb = true;
      F.Disposal = Gcb.DisposalMode;
      F.Delay = Gcb.DelayTime;
      F.Transparent = Gcb.TransparentColor;
    }
    for (int e = 0; e + 1 < S.ExtensionBlockCount; ++e) {
      const ExtensionBlock& X = S.ExtensionBlocks[e];
      if (X.Function == APPLICATION_EXT_FUNC_CODE && X.ByteCount == 11 &&
          std::memcmp(X.Bytes, "NETSCAPE2.0", 11) == 0) {
        const ExtensionBlock& D = S.ExtensionBlocks[e + 1];
        if (D.ByteCount >= 3 && D.Bytes[0] == 1) R.LoopCount = D.Bytes[1] | (D.Bytes[2] << 8);
      }
    }
    R.Frames.push_back(std::move(F));
  }
  DGifCloseFile(G, &Err);
  return R;
}

Bytes PeerEncode(const Bytes& Gif) {
  MemReader M{&Gif, 0};
  int Err = 0;
  GifFileType* G = DGifOpen(&M, ReadMem, &Err);
  if (!G) return {};
  if (DGifSlurp(G) != GIF_OK) {
    DGifCloseFile(G, &Err);
    return {};
  }
  Bytes Out;
  GifFileType* E = EGifOpen(&Out, WriteMem, &Err);
  E->SWidth = G->SWidth;
  E->SHeight = G->SHeight;
  E->SColorResolution = G->SColorResolution;
  E->SBackGroundColor = G->SBackGroundColor;
  E->SColorMap = G->SColorMap ? GifMakeMapObject(G->SColorMap->ColorCount, G->SColorMap->Colors) : nullptr;
  for (int i = 0; i < G->ImageCount; ++i) GifMakeSavedImage(E, &G->SavedImages[i]);
  EGifSpew(E);
  DGifCloseFile(G, &Err);
  return Out;
}

// ---------------------------------------------------------------------------------------------
// Library

std::unique_ptr<TMemoryStream> StreamOf(const Bytes& B) {
  auto S = std::make_unique<TMemoryStream>();
  if (!B.empty()) S->Write(B.data(), static_cast<std::int64_t>(B.size()));
  S->SetPosition(0);
  return S;
}

Bytes BytesOf(TMemoryStream& S) {
  const auto* P = static_cast<const std::uint8_t*>(S.Memory());
  return Bytes(P, P + S.Size());
}

Loaded Load(const Bytes& Gif) {
  Loaded L;
  L.Image = std::make_unique<gif::TGIFImage>();
  L.Image->OnFormatWarning = [&L](TObject*, int, const std::string& Message) { L.Warnings.push_back(Message); };
  auto S = StreamOf(Gif);
  try {
    L.Image->LoadFromStream(S.get());
  } catch (const Exception& E) {
    L.Error = E.Message();
  }
  L.Image->OnFormatWarning = nullptr;
  L.Position = S->Position();
  return L;
}

Bytes Save(gif::TGIFImage& Image) {
  TMemoryStream S;
  Image.SaveToStream(&S);
  return BytesOf(S);
}

Bytes FramePixels(gif::TGIFSubImage* Frame) {
  if (Frame->IsEmpty()) return {};
  return Bytes(Frame->Data(), Frame->Data() + Frame->DataSize());
}

std::vector<std::uint8_t> MapBytes(gif::TGIFColorMap* Map) {
  return std::vector<std::uint8_t>(Map->Data(), Map->Data() + static_cast<std::size_t>(Map->Count()) * 3);
}

Bytes NoisePixels(int Width, int Height, int Colors, std::uint64_t Seed) {
  Rng R(Seed);
  Bytes P(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height));
  // Smooth-ish photographic noise: a gradient with random jitter.
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const int Base = ((x * 7 + y * 3) / 5) % Colors;
      const int Jitter = R.Below(5) - 2;
      P[static_cast<std::size_t>(y) * Width + x] = static_cast<std::uint8_t>((Base + Jitter + Colors) % Colors);
    }
  return P;
}

Bytes FlatPixels(int Width, int Height, int Colors, std::uint64_t Seed) {
  Rng R(Seed);
  Bytes P(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height), 0);
  for (int k = 0; k < 40; ++k) {
    const int X0 = R.Below(Width), Y0 = R.Below(Height);
    const int W = 1 + R.Below(std::max(1, Width / 3)), H = 1 + R.Below(std::max(1, Height / 3));
    const auto C = static_cast<std::uint8_t>(R.Below(Colors));
    for (int y = Y0; y < std::min(Height, Y0 + H); ++y)
      for (int x = X0; x < std::min(Width, X0 + W); ++x) P[static_cast<std::size_t>(y) * Width + x] = C;
  }
  return P;
}

}  // namespace giftest
