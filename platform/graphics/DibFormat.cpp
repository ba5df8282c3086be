#include "platform/graphics/DibFormat.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "platform/rtl/SysUtils.h"

namespace dib {
namespace {

constexpr std::uint16_t kBmpFileType = 0x4D42;  // "BM"
constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;  // OS/2 BITMAPCOREHEADER
constexpr std::uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
// BITMAPINFOHEADER and its successors with colour masks (V2, V3), V4 and V5.
constexpr std::uint32_t kInfoHeaderSizes[] = {40, 52, 56, 108, 124};

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitFields = 3;
constexpr std::uint32_t kBiAlphaBitFields = 6;

constexpr std::uint32_t kMasks32[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};

// Run-length data can describe a large picture in few bytes (end-of-line, delta and
// end-of-bitmap escapes). The decoded rows may take this many bytes per input byte, plus a
// fixed allowance, and no more.
constexpr std::uint64_t kRleExpansion = 1024;
constexpr std::uint64_t kRleAllowance = std::uint64_t{1} << 20;

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

constexpr std::uint16_t kIconDirSize = 6;
constexpr std::uint16_t kIconEntrySize = 16;

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }
[[noreturn]] void InvalidIcon() { throw EInvalidGraphic("Icon image is not valid"); }
[[noreturn]] void ShortRead() { throw EReadError("Stream read error"); }

// Little-endian reads from the input; each one checked against its end.
class ByteView {
 public:
  ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t size() const { return size_; }
  bool Has(std::uint64_t offset, std::uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }
  void Need(std::uint64_t offset, std::uint64_t count) const {
    if (!Has(offset, count)) ShortRead();
  }
  std::uint8_t U8(std::uint64_t offset) const {
    Need(offset, 1);
    return data_[offset];
  }
  std::uint16_t U16(std::uint64_t offset) const {
    Need(offset, 2);
    return static_cast<std::uint16_t>(data_[offset] | data_[offset + 1] << 8);
  }
  std::uint32_t U32(std::uint64_t offset) const {
    Need(offset, 4);
    return static_cast<std::uint32_t>(data_[offset]) | static_cast<std::uint32_t>(data_[offset + 1]) << 8 |
           static_cast<std::uint32_t>(data_[offset + 2]) << 16 | static_cast<std::uint32_t>(data_[offset + 3]) << 24;
  }
  std::int32_t I32(std::uint64_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
  const std::uint8_t* At(std::uint64_t offset) const { return data_ + offset; }

 private:
  const std::uint8_t* data_;
  std::uint64_t size_;
};

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// rows x rowBytes <= limit, without overflow.
bool RowsFit(std::uint64_t rowBytes, std::uint64_t rows, std::uint64_t limit) {
  return rowBytes == 0 || rows <= limit / rowBytes;
}

struct BitmapFileHeader {
  std::uint16_t type{0};
  std::uint32_t size{0};
  std::uint32_t offBits{0};
};

struct BitmapInfoHeader {
  std::uint32_t size{0};
  std::int64_t width{0};
  std::int64_t height{0};  // negative: rows stored top-down
  std::uint16_t bitCount{0};
  std::uint32_t compression{kBiRgb};
  std::uint32_t sizeImage{0};
  std::uint32_t clrUsed{0};
  std::uint32_t masks[4]{0, 0, 0, 0};  // red, green, blue, alpha
  bool core{false};                    // OS/2 header: 3-byte colour entries
  std::uint64_t end{0};                // offset of the colour table
};

// A contiguous colour mask of a 16- or 32-bit pixel.
struct MaskField {
  std::uint32_t mask{0};
  int shift{0};
  int bits{0};
};

MaskField FieldOf(std::uint32_t mask) {
  MaskField f;
  if (mask == 0) return f;
  f.mask = mask;
  f.shift = std::countr_zero(mask);
  f.bits = std::popcount(mask);
  if ((mask >> f.shift) != (f.bits == 32 ? 0xFFFFFFFFu : (1u << f.bits) - 1)) InvalidBitmap();
  return f;
}

std::uint8_t Extract(std::uint32_t pixel, const MaskField& f) {
  if (f.bits == 0) return 0;
  std::uint32_t v = (pixel & f.mask) >> f.shift;
  if (f.bits >= 8) return static_cast<std::uint8_t>(v >> (f.bits - 8));
  std::uint32_t max = (1u << f.bits) - 1;
  return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

BitmapFileHeader DecodeFileHeader(const ByteView& in) {
  in.Need(0, kFileHeaderSize);
  BitmapFileHeader h;
  h.type = in.U16(0);
  h.size = in.U32(2);
  h.offBits = in.U32(10);
  if (h.type != kBmpFileType) InvalidBitmap();
  return h;
}

BitmapInfoHeader DecodeInfoHeader(const ByteView& in, std::uint64_t at, std::uint64_t offBits) {
  BitmapInfoHeader h;
  h.size = in.U32(at);
  if (h.size == kCoreHeaderSize) {
    in.Need(at, h.size);
    h.core = true;
    h.width = in.U16(at + 4);
    h.height = in.U16(at + 6);
    h.bitCount = in.U16(at + 10);
    h.end = at + h.size;
    return h;
  }
  if (std::find(std::begin(kInfoHeaderSizes), std::end(kInfoHeaderSizes), h.size) == std::end(kInfoHeaderSizes))
    InvalidBitmap();
  in.Need(at, h.size);
  h.width = in.I32(at + 4);
  h.height = in.I32(at + 8);
  h.bitCount = in.U16(at + 14);
  h.compression = in.U32(at + 16);
  h.sizeImage = in.U32(at + 20);
  h.clrUsed = in.U32(at + 32);
  h.end = at + h.size;
  if (h.compression == kBiBitFields || h.compression == kBiAlphaBitFields) {
    int count = h.compression == kBiAlphaBitFields ? 4 : 3;
    if (h.size == kInfoHeaderSize && offBits != 0 && offBits < h.end + 4 * count) {
      // Some writers announce bit fields after a plain header but leave no room for the masks
      // before the pixels: read the pixels with the default masks, as other readers do.
      h.compression = kBiRgb;
    } else if (h.size == kInfoHeaderSize) {
      // The masks follow a plain info header.
      for (int i = 0; i < count; ++i) h.masks[i] = in.U32(h.end + 4 * i);
      h.end += 4 * count;
    } else {
      for (int i = 0; i < 3; ++i) h.masks[i] = in.U32(at + 40 + 4 * i);
      if (h.size >= 56) h.masks[3] = in.U32(at + 52);
    }
  }
  return h;
}

bool WithinBounds(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxDimension && height <= kMaxDimension &&
         static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kMaxPixels;
}

void ValidateInfoHeader(const BitmapInfoHeader& h) {
  if (!WithinBounds(h.width, h.height < 0 ? -h.height : h.height)) InvalidBitmap();
  if (h.core) {
    if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24) InvalidBitmap();
    return;
  }
  switch (h.compression) {
    case kBiRgb:
      if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 16 && h.bitCount != 24 &&
          h.bitCount != 32)
        InvalidBitmap();
      break;
    case kBiRle8:
      if (h.bitCount != 8 || h.height < 0) InvalidBitmap();
      break;
    case kBiRle4:
      if (h.bitCount != 4 || h.height < 0) InvalidBitmap();
      break;
    case kBiBitFields:
    case kBiAlphaBitFields:
      if (h.bitCount != 16 && h.bitCount != 32) InvalidBitmap();
      break;
    default:  // JPEG and PNG payloads and unknown schemes
      InvalidBitmap();
  }
}

// Reads `count` colour entries of `entryBytes` (3 or 4) at `at`.
std::vector<Quad> DecodeColorTable(const ByteView& in, std::uint64_t at, std::uint64_t count, int entryBytes) {
  in.Need(at, count * entryBytes);
  std::vector<Quad> colors(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* e = in.At(at + i * entryBytes);
    colors[i] = Quad{e[0], e[1], e[2], 0};
  }
  return colors;
}

// Converts rows of 16- or 32-bit pixels with arbitrary masks to 32-bit blue, green, red, alpha.
void ConvertMaskedRows(const ByteView& in, std::uint64_t at, const BitmapInfoHeader& h, Image& out) {
  MaskField r = FieldOf(h.masks[0]), g = FieldOf(h.masks[1]), b = FieldOf(h.masks[2]), a = FieldOf(h.masks[3]);
  const std::uint64_t rows = static_cast<std::uint64_t>(out.height);
  const std::uint64_t srcStride = RowBytes(out.width, h.bitCount);
  const std::uint64_t dstStride = RowBytes(out.width, 32);
  const int bytes = h.bitCount / 8;
  out.bitCount = 32;
  out.bits.assign(dstStride * rows, 0);
  for (std::uint64_t y = 0; y < rows; ++y) {
    const std::uint8_t* src = in.At(at + y * srcStride);
    std::uint64_t dstRow = h.height < 0 ? rows - 1 - y : y;
    std::uint8_t* dst = out.bits.data() + dstRow * dstStride;
    for (std::int32_t x = 0; x < out.width; ++x, src += bytes, dst += 4) {
      std::uint32_t p = bytes == 2 ? static_cast<std::uint32_t>(src[0] | src[1] << 8)
                                   : static_cast<std::uint32_t>(src[0]) | static_cast<std::uint32_t>(src[1]) << 8 |
                                         static_cast<std::uint32_t>(src[2]) << 16 |
                                         static_cast<std::uint32_t>(src[3]) << 24;
      dst[0] = Extract(p, b);
      dst[1] = Extract(p, g);
      dst[2] = Extract(p, r);
      dst[3] = Extract(p, a);
    }
  }
}

bool SameMasks(const std::uint32_t* masks, const std::uint32_t* reference) {
  return masks[0] == reference[0] && masks[1] == reference[1] && masks[2] == reference[2];
}

void DecodeUncompressedRows(const ByteView& in, std::uint64_t at, const BitmapInfoHeader& h, Image& out) {
  const std::uint64_t rows = static_cast<std::uint64_t>(out.height);
  const std::uint64_t stride = RowBytes(out.width, h.bitCount);
  if (!RowsFit(stride, rows, in.size()) || !in.Has(at, stride * rows)) ShortRead();

  bool masked = h.compression == kBiBitFields || h.compression == kBiAlphaBitFields;
  if (h.bitCount == 16) {
    if (!masked || SameMasks(h.masks, kMasks555)) {
      out.mask565 = false;
    } else if (SameMasks(h.masks, kMasks565)) {
      out.mask565 = true;
    } else {
      ConvertMaskedRows(in, at, h, out);
      return;
    }
  } else if (h.bitCount == 32 && masked && !SameMasks(h.masks, kMasks32)) {
    ConvertMaskedRows(in, at, h, out);
    return;
  }

  out.bitCount = h.bitCount;
  out.bits.resize(stride * rows);
  if (h.height > 0) {
    std::memcpy(out.bits.data(), in.At(at), stride * rows);
  } else {
    for (std::uint64_t y = 0; y < rows; ++y)
      std::memcpy(out.bits.data() + (rows - 1 - y) * stride, in.At(at + y * stride), stride);
  }
}

// RLE4 and RLE8: pairs of (count, value); a zero count introduces an escape: 0 end of line,
// 1 end of bitmap, 2 delta (dx, dy), 3..255 an absolute run padded to a 16-bit boundary.
// Pixels never written keep index 0; pixels past the right edge are dropped.
void DecodeRleRows(const ByteView& in, std::uint64_t at, const BitmapInfoHeader& h, Image& out) {
  const bool rle4 = h.compression == kBiRle4;
  const std::uint64_t width = static_cast<std::uint64_t>(out.width);
  const std::uint64_t rows = static_cast<std::uint64_t>(out.height);
  const std::uint64_t stride = RowBytes(width, h.bitCount);
  if (at > in.size()) ShortRead();
  std::uint64_t end = in.size();
  if (h.sizeImage != 0 && h.sizeImage < end - at) end = at + h.sizeImage;
  const std::uint64_t limit = kRleAllowance + kRleExpansion * (end - at);
  if (!RowsFit(stride, rows, limit)) InvalidBitmap();

  out.bitCount = h.bitCount;
  out.bits.assign(stride * rows, 0);
  std::uint64_t x = 0, y = 0, pos = at;
  auto put = [&](std::uint8_t index) {
    if (x < width && y < rows) {
      std::uint8_t* row = out.bits.data() + y * stride;
      if (rle4) {
        std::uint8_t& byte = row[x / 2];
        byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0xF0) | (index & 0x0F))
                       : static_cast<std::uint8_t>((byte & 0x0F) | index << 4);
      } else {
        row[x] = index;
      }
    }
    ++x;
  };
  auto need = [&](std::uint64_t count) {
    if (count > end - pos) ShortRead();
  };
  while (y < rows) {
    need(2);
    std::uint8_t count = in.U8(pos), value = in.U8(pos + 1);
    pos += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(rle4 ? ((i & 1) ? value & 0x0F : value >> 4) : value);
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      need(2);
      x += in.U8(pos);
      y += in.U8(pos + 1);
      pos += 2;
    } else {
      std::uint64_t bytes = rle4 ? (value + 1u) / 2 : value;
      std::uint64_t padded = (bytes + 1) & ~std::uint64_t{1};
      need(padded);
      for (int i = 0; i < value; ++i) {
        std::uint8_t b = in.U8(pos + (rle4 ? i / 2 : i));
        put(rle4 ? ((i & 1) ? b & 0x0F : b >> 4) : b);
      }
      pos += padded;
    }
  }
}

}  // namespace

Image ReadBmp(const std::uint8_t* data, std::size_t size) {
  ByteView in(data, size);
  BitmapFileHeader file = DecodeFileHeader(in);
  BitmapInfoHeader info = DecodeInfoHeader(in, kFileHeaderSize, file.offBits);
  ValidateInfoHeader(info);

  Image out;
  out.width = static_cast<std::int32_t>(info.width);
  out.height = static_cast<std::int32_t>(info.height < 0 ? -info.height : info.height);

  // Colour table: biClrUsed entries, or 2^bits when 0, for up to 8 bits a pixel; an optional
  // table of biClrUsed entries above that, which is skipped.
  const int entryBytes = info.core ? 3 : 4;
  std::uint64_t fileEntries = 0, keptEntries = 0;
  if (info.bitCount <= 8) {
    std::uint64_t full = std::uint64_t{1} << info.bitCount;
    fileEntries = info.clrUsed == 0 || info.core ? full : info.clrUsed;
    keptEntries = std::min(fileEntries, full);
  } else {
    fileEntries = info.clrUsed;
  }
  const std::uint64_t tableStart = info.end;
  std::uint64_t pixels = file.offBits;
  if (pixels == 0) {
    pixels = tableStart + fileEntries * entryBytes;
  } else {
    if (pixels < tableStart) InvalidBitmap();  // the pixel offset points into the headers
    // Writers that shorten the table say so through the pixel offset.
    keptEntries = std::min(keptEntries, (pixels - tableStart) / entryBytes);
  }
  if (pixels > in.size()) ShortRead();
  if (info.bitCount <= 8) {
    if (keptEntries == 0) InvalidBitmap();
    out.colors = DecodeColorTable(in, tableStart, keptEntries, entryBytes);
  }

  if (info.compression == kBiRle4 || info.compression == kBiRle8)
    DecodeRleRows(in, pixels, info, out);
  else
    DecodeUncompressedRows(in, pixels, info, out);
  return out;
}

std::vector<std::uint8_t> WriteBmp(const Image& image) {
  const std::uint64_t stride = RowBytes(image.width, image.bitCount);
  const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(image.height);
  const bool bitFields = image.bitCount == 16 && image.mask565;
  const std::uint32_t fullTable = image.bitCount <= 8 ? 1u << image.bitCount : 0;
  const std::uint32_t entries = image.bitCount <= 8 ? static_cast<std::uint32_t>(image.colors.size()) : 0;
  const std::uint32_t offBits = kFileHeaderSize + kInfoHeaderSize + (bitFields ? 12 : 0) + 4 * entries;
  const std::uint64_t fileSize = offBits + imageSize;

  std::vector<std::uint8_t> out;
  out.reserve(fileSize);
  Put16(out, kBmpFileType);
  Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize, UINT32_MAX)));
  Put32(out, 0);
  Put32(out, offBits);
  Put32(out, kInfoHeaderSize);
  Put32(out, static_cast<std::uint32_t>(image.width));
  Put32(out, static_cast<std::uint32_t>(image.height));
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(image.bitCount));
  Put32(out, bitFields ? kBiBitFields : kBiRgb);
  Put32(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(imageSize, UINT32_MAX)));
  Put32(out, 0);  // biXPelsPerMeter
  Put32(out, 0);  // biYPelsPerMeter
  Put32(out, entries == fullTable ? 0 : entries);
  Put32(out, 0);  // biClrImportant
  if (bitFields)
    for (std::uint32_t m : kMasks565) Put32(out, m);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const Quad& q = image.colors[i];
    out.insert(out.end(), {q.blue, q.green, q.red, 0});
  }
  out.insert(out.end(), image.bits.begin(), image.bits.begin() + static_cast<std::ptrdiff_t>(imageSize));
  return out;
}

namespace {

struct IconDir {
  std::uint16_t reserved{0};
  std::uint16_t type{0};
  std::uint16_t count{0};
};

struct IconDirEntry {
  std::uint16_t planes{0};    // hot spot x of a cursor
  std::uint16_t bitCount{0};  // hot spot y of a cursor
  std::uint32_t bytesInRes{0};
  std::uint32_t imageOffset{0};
};

IconDir DecodeIconDir(const ByteView& in) {
  IconDir d;
  d.reserved = in.U16(0);
  d.type = in.U16(2);
  d.count = in.U16(4);
  if (d.reserved != 0 || (d.type != 1 && d.type != 2) || d.count == 0) InvalidIcon();
  in.Need(kIconDirSize, std::uint64_t{kIconEntrySize} * d.count);
  return d;
}

IconDirEntry DecodeIconDirEntry(const ByteView& in, std::uint64_t at) {
  IconDirEntry e;
  e.planes = in.U16(at + 4);
  e.bitCount = in.U16(at + 6);
  e.bytesInRes = in.U32(at + 8);
  e.imageOffset = in.U32(at + 12);
  return e;
}

// One image: BITMAPINFOHEADER with the doubled height, colour table, XOR rows, AND rows.
IconImage DecodeIconImage(const ByteView& in, const IconDirEntry& entry, std::uint64_t directoryEnd) {
  if (entry.imageOffset < directoryEnd) InvalidIcon();
  in.Need(entry.imageOffset, entry.bytesInRes);
  ByteView image(in.At(entry.imageOffset), entry.bytesInRes);
  if (image.Has(0, sizeof kPngSignature) && std::memcmp(image.At(0), kPngSignature, sizeof kPngSignature) == 0)
    throw EInvalidGraphic("PNG-compressed icon images are not supported");
  if (!image.Has(0, kInfoHeaderSize)) InvalidIcon();

  const std::uint32_t headerSize = image.U32(0);
  const std::int32_t width = image.I32(4);
  const std::int32_t doubledHeight = image.I32(8);
  const std::uint16_t bitCount = image.U16(14);
  const std::uint32_t compression = image.U32(16);
  const std::uint32_t clrUsed = image.U32(32);
  if (headerSize < kInfoHeaderSize || headerSize > 124 || doubledHeight % 2 != 0 ||
      !WithinBounds(width, doubledHeight / 2) || compression != kBiRgb)
    InvalidIcon();
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    InvalidIcon();

  IconImage out;
  out.color.width = width;
  out.color.height = doubledHeight / 2;
  out.color.bitCount = bitCount;
  const std::uint64_t rows = static_cast<std::uint64_t>(out.color.height);

  std::uint64_t entries = clrUsed;
  if (bitCount <= 8) {
    const std::uint64_t full = std::uint64_t{1} << bitCount;
    if (entries == 0) entries = full;
    if (entries > full) InvalidIcon();
  }
  const std::uint64_t xorStride = RowBytes(width, bitCount);
  const std::uint64_t andStride = RowBytes(width, 1);
  const std::uint64_t tableAt = headerSize;
  const std::uint64_t xorAt = tableAt + 4 * entries;
  if (!RowsFit(xorStride, rows, image.size()) || !RowsFit(andStride, rows, image.size())) InvalidIcon();
  const std::uint64_t andAt = xorAt + xorStride * rows;
  if (!image.Has(andAt, andStride * rows)) InvalidIcon();

  if (bitCount <= 8) out.color.colors = DecodeColorTable(image, tableAt, entries, 4);
  out.color.bits.assign(image.At(xorAt), image.At(xorAt) + xorStride * rows);
  out.mask.assign(image.At(andAt), image.At(andAt) + andStride * rows);
  return out;
}

}  // namespace

IconFile ReadIco(const std::uint8_t* data, std::size_t size) {
  ByteView in(data, size);
  IconDir dir = DecodeIconDir(in);
  const std::uint64_t directoryEnd = kIconDirSize + std::uint64_t{kIconEntrySize} * dir.count;

  std::vector<IconDirEntry> entries;
  std::uint64_t total = 0;
  for (std::uint16_t i = 0; i < dir.count; ++i) {
    entries.push_back(DecodeIconDirEntry(in, kIconDirSize + std::uint64_t{kIconEntrySize} * i));
    total += entries.back().bytesInRes;
  }
  // Images do not overlap, so together they cannot be larger than the file; this keeps a
  // directory of many entries naming one large image from multiplying the memory it takes.
  if (total > in.size()) ShortRead();

  IconFile out;
  out.type = dir.type;
  for (const IconDirEntry& e : entries) {
    out.images.push_back(DecodeIconImage(in, e, directoryEnd));
    if (dir.type == 2) {
      out.images.back().hotspotX = e.planes;
      out.images.back().hotspotY = e.bitCount;
    }
  }
  return out;
}

std::vector<std::uint8_t> WriteIco(const IconFile& icon) {
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, icon.type);
  Put16(out, static_cast<std::uint32_t>(icon.images.size()));

  std::uint64_t offset = kIconDirSize + std::uint64_t{kIconEntrySize} * icon.images.size();
  std::vector<std::vector<std::uint8_t>> bodies;
  for (const IconImage& image : icon.images) {
    const Image& c = image.color;
    const std::uint64_t rows = static_cast<std::uint64_t>(c.height);
    const std::uint64_t xorBytes = RowBytes(c.width, c.bitCount) * rows;
    const std::uint64_t andBytes = RowBytes(c.width, 1) * rows;
    const std::uint32_t fullTable = c.bitCount <= 8 ? 1u << c.bitCount : 0;
    const std::uint32_t entries = c.bitCount <= 8 ? static_cast<std::uint32_t>(c.colors.size()) : 0;

    std::vector<std::uint8_t> body;
    Put32(body, kInfoHeaderSize);
    Put32(body, static_cast<std::uint32_t>(c.width));
    Put32(body, static_cast<std::uint32_t>(c.height * 2));
    Put16(body, 1);
    Put16(body, static_cast<std::uint32_t>(c.bitCount));
    Put32(body, kBiRgb);
    Put32(body, static_cast<std::uint32_t>(xorBytes + andBytes));
    Put32(body, 0);
    Put32(body, 0);
    Put32(body, entries == fullTable ? 0 : entries);
    Put32(body, 0);
    for (std::uint32_t i = 0; i < entries; ++i) {
      const Quad& q = c.colors[i];
      body.insert(body.end(), {q.blue, q.green, q.red, 0});
    }
    body.insert(body.end(), c.bits.begin(), c.bits.begin() + static_cast<std::ptrdiff_t>(xorBytes));
    std::size_t maskStart = body.size();
    body.resize(maskStart + andBytes, 0);
    std::copy_n(image.mask.begin(), std::min<std::uint64_t>(andBytes, image.mask.size()), body.begin() + maskStart);

    out.push_back(static_cast<std::uint8_t>(c.width >= 256 ? 0 : c.width));
    out.push_back(static_cast<std::uint8_t>(c.height >= 256 ? 0 : c.height));
    out.push_back(static_cast<std::uint8_t>(c.bitCount < 8 ? fullTable : 0));
    out.push_back(0);
    Put16(out, icon.type == 2 ? image.hotspotX : 1);
    Put16(out, icon.type == 2 ? image.hotspotY : static_cast<std::uint32_t>(c.bitCount));
    Put32(out, static_cast<std::uint32_t>(body.size()));
    Put32(out, static_cast<std::uint32_t>(offset));
    offset += body.size();
    bodies.push_back(std::move(body));
  }
  for (const auto& body : bodies) out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::uint32_t PixelRgb(const Image& image, std::int32_t x, std::int32_t y) {
  const std::uint64_t stride = RowBytes(image.width, image.bitCount);
  const std::uint8_t* row = image.bits.data() + (image.height - 1 - y) * stride;
  auto rgb = [](std::uint32_t r, std::uint32_t g, std::uint32_t b) { return r << 16 | g << 8 | b; };
  auto indexed = [&](std::uint32_t index) {
    if (index >= image.colors.size()) return 0u;
    const Quad& q = image.colors[index];
    return rgb(q.red, q.green, q.blue);
  };
  switch (image.bitCount) {
    case 1:
      return indexed((row[x / 8] >> (7 - x % 8)) & 1);
    case 4:
      return indexed((x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4);
    case 8:
      return indexed(row[x]);
    case 16: {
      std::uint32_t p = static_cast<std::uint32_t>(row[2 * x] | row[2 * x + 1] << 8);
      const std::uint32_t* m = image.mask565 ? kMasks565 : kMasks555;
      MaskField r = FieldOf(m[0]), g = FieldOf(m[1]), b = FieldOf(m[2]);
      return rgb(Extract(p, r), Extract(p, g), Extract(p, b));
    }
    case 24:
      return rgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    case 32:
      return rgb(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    default:
      return 0;
  }
}

}  // namespace dib

namespace dib {
namespace {

constexpr Quad kStandard16[16] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},   {0, 128, 0, 0},   {0, 128, 128, 0}, {128, 0, 0, 0},     {128, 0, 128, 0},
    {128, 128, 0, 0},   {192, 192, 192, 0}, {128, 128, 128, 0}, {0, 0, 255, 0}, {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {255, 255, 255, 0}};

Quad RgbQuad(std::uint32_t rgb) {
  return Quad{static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb >> 16), 0};
}

int Nearest(const std::vector<Quad>& palette, std::uint32_t rgb) {
  int r = static_cast<int>(rgb >> 16 & 0xFF), g = static_cast<int>(rgb >> 8 & 0xFF), b = static_cast<int>(rgb & 0xFF);
  int best = 0;
  long bestDistance = -1;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    int dr = palette[i].red - r, dg = palette[i].green - g, db = palette[i].blue - b;
    long d = static_cast<long>(dr) * dr + static_cast<long>(dg) * dg + static_cast<long>(db) * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

void PutIndex(std::uint8_t* row, int bitCount, std::int32_t x, std::uint32_t index) {
  switch (bitCount) {
    case 1: {
      std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x % 8));
      row[x / 8] = index ? (row[x / 8] | bit) : (row[x / 8] & ~bit);
      break;
    }
    case 4:
      row[x / 2] = (x & 1) ? static_cast<std::uint8_t>((row[x / 2] & 0xF0) | (index & 0x0F))
                           : static_cast<std::uint8_t>((row[x / 2] & 0x0F) | index << 4);
      break;
    default:
      row[x] = static_cast<std::uint8_t>(index);
  }
}

std::uint32_t GetIndex(const std::uint8_t* row, int bitCount, std::int32_t x) {
  switch (bitCount) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case 4:
      return (x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
    default:
      return row[x];
  }
}

void PutRgb(std::uint8_t* row, int bitCount, bool mask565, std::int32_t x, std::uint32_t rgb, std::uint8_t extra) {
  std::uint32_t r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
  switch (bitCount) {
    case 16: {
      std::uint32_t p = mask565 ? (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3) : (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
      row[2 * x] = static_cast<std::uint8_t>(p);
      row[2 * x + 1] = static_cast<std::uint8_t>(p >> 8);
      break;
    }
    case 24:
      row[3 * x] = static_cast<std::uint8_t>(b);
      row[3 * x + 1] = static_cast<std::uint8_t>(g);
      row[3 * x + 2] = static_cast<std::uint8_t>(r);
      break;
    default:
      row[4 * x] = static_cast<std::uint8_t>(b);
      row[4 * x + 1] = static_cast<std::uint8_t>(g);
      row[4 * x + 2] = static_cast<std::uint8_t>(r);
      row[4 * x + 3] = extra;
  }
}

}  // namespace

std::vector<Quad> DefaultPalette(int bitCount) {
  if (bitCount == 1) return {Quad{0, 0, 0, 0}, Quad{255, 255, 255, 0}};
  if (bitCount == 4) return std::vector<Quad>(std::begin(kStandard16), std::end(kStandard16));
  std::vector<Quad> palette;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette.push_back(Quad{static_cast<std::uint8_t>(b * 51), static_cast<std::uint8_t>(g * 51),
                               static_cast<std::uint8_t>(r * 51), 0});
  for (int i = 1; i <= 40; ++i) {
    std::uint8_t v = static_cast<std::uint8_t>(i * 255 / 41);
    palette.push_back(Quad{v, v, v, 0});
  }
  return palette;
}

Image ConvertImage(const Image& src, int bitCount, bool mask565, const std::vector<Quad>* palette) {
  Image out;
  out.width = src.width;
  out.height = src.height;
  out.bitCount = bitCount;
  out.mask565 = bitCount == 16 && mask565;
  const std::uint64_t srcStride = RowBytes(src.width, src.bitCount);
  const std::uint64_t dstStride = RowBytes(src.width, bitCount);
  out.bits.assign(dstStride * static_cast<std::uint64_t>(src.height), 0);

  if (bitCount > 8) {
    for (std::int32_t y = 0; y < src.height; ++y) {
      const std::uint8_t* s = src.bits.data() + static_cast<std::uint64_t>(y) * srcStride;
      std::uint8_t* d = out.bits.data() + static_cast<std::uint64_t>(y) * dstStride;
      for (std::int32_t x = 0; x < src.width; ++x) {
        // PixelRgb counts rows from the top; storage row y is picture row height - 1 - y.
        std::uint8_t extra = src.bitCount == 32 ? s[4 * x + 3] : 0;
        PutRgb(d, bitCount, out.mask565, x, PixelRgb(src, x, src.height - 1 - y), extra);
      }
    }
    return out;
  }

  const std::uint32_t capacity = 1u << bitCount;
  if (palette) {
    out.colors.assign(palette->begin(), palette->begin() + std::min<std::size_t>(palette->size(), capacity));
  } else if (src.bitCount <= bitCount && !src.colors.empty()) {
    // Indices stay as they are under the same table.
    out.colors = src.colors;
    for (std::int32_t y = 0; y < src.height; ++y) {
      const std::uint8_t* s = src.bits.data() + static_cast<std::uint64_t>(y) * srcStride;
      std::uint8_t* d = out.bits.data() + static_cast<std::uint64_t>(y) * dstStride;
      for (std::int32_t x = 0; x < src.width; ++x) PutIndex(d, bitCount, x, GetIndex(s, src.bitCount, x));
    }
    return out;
  } else {
    // The picture's own colours when they fit.
    std::unordered_map<std::uint32_t, std::uint32_t> seen;
    bool fits = true;
    for (std::int32_t y = 0; y < src.height && fits; ++y)
      for (std::int32_t x = 0; x < src.width; ++x) {
        std::uint32_t c = PixelRgb(src, x, y);
        if (seen.count(c) == 0) {
          if (seen.size() == capacity) {
            fits = false;
            break;
          }
          seen.emplace(c, static_cast<std::uint32_t>(out.colors.size()));
          out.colors.push_back(RgbQuad(c));
        }
      }
    if (!fits || out.colors.empty()) out.colors = DefaultPalette(bitCount);
  }

  // Nearest entries, remembered per colour (bounded).
  std::unordered_map<std::uint32_t, std::uint32_t> lookup;
  for (std::int32_t y = 0; y < src.height; ++y) {
    std::uint8_t* d = out.bits.data() + static_cast<std::uint64_t>(src.height - 1 - y) * dstStride;
    for (std::int32_t x = 0; x < src.width; ++x) {
      std::uint32_t c = PixelRgb(src, x, y);
      auto it = lookup.find(c);
      if (it == lookup.end()) {
        if (lookup.size() >= 65536) lookup.clear();
        it = lookup.emplace(c, static_cast<std::uint32_t>(Nearest(out.colors, c))).first;
      }
      PutIndex(d, bitCount, x, it->second);
    }
  }
  return out;
}

}  // namespace dib
