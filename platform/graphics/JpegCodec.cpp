#include "platform/graphics/JpegCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

// libjpeg reports errors by calling error_exit, which must not return. Ours longjmps back to the
// guarded function that started the operation; that function turns the failure into
// EJpegCodecError after it has returned. Between a setjmp and the libjpeg calls it guards no
// object with a destructor is alive, and every callback handed to libjpeg is free of C++
// exceptions, so the jump skips only libjpeg's own frames.

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;  // first: libjpeg sees only this part
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Fails the current operation with a message of our own.
[[noreturn]] void Fail(j_common_ptr cinfo, const char* message) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::snprintf(err->message, sizeof err->message, "%s", message);
  std::longjmp(err->jump, 1);
}

// Warnings (level -1) are counted; trace messages are dropped; nothing is printed.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ++cinfo->err->num_warnings;
}

void OutputMessage(j_common_ptr) {}

void InitErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
  err.message[0] = '\0';
}

// Source over one memory block. At its end it supplies a fake EOI marker once (libjpeg then
// finishes the picture with what it has, warning "Premature end of JPEG file"); a second request
// is an error, so no reader can loop on missing data.
struct SourceManager {
  jpeg_source_mgr pub;
  bool eoiInserted;
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<SourceManager*>(cinfo->src);
  if (src->eoiInserted) ERREXIT(cinfo, JERR_INPUT_EOF);
  WARNMS(cinfo, JWRN_JPEG_EOF);
  src->eoiInserted = true;
  src->pub.next_input_byte = kFakeEoi;
  src->pub.bytes_in_buffer = sizeof kFakeEoi;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  auto n = static_cast<unsigned long>(count);
  while (n > src->bytes_in_buffer) {
    n -= src->bytes_in_buffer;
    FillInputBuffer(cinfo);
  }
  src->next_input_byte += n;
  src->bytes_in_buffer -= n;
}

void TermSource(j_decompress_ptr) {}

// Stops files with an absurd number of scans: each scan walks every block of its components.
void MonitorScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kJpegMaxScans)
    Fail(cinfo, "JPEG data has too many scans");
}

struct Decoder {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  SourceManager src{};
  jpeg_progress_mgr monitor{};
  bool created = false;

  Decoder() {
    InitErrorManager(err);
    cinfo.err = &err.pub;
    src.pub.init_source = InitSource;
    src.pub.fill_input_buffer = FillInputBuffer;
    src.pub.skip_input_data = SkipInputData;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = TermSource;
    monitor.progress_monitor = MonitorScans;
  }
  ~Decoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
};

// Creates the decompressor over the data and reads the header; checks the size limits.
// Called only from a guarded function (errors longjmp).
void OpenAndReadHeader(Decoder& d, const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels) {
  d.created = true;
  jpeg_create_decompress(&d.cinfo);
  d.src.pub.next_input_byte = data;
  d.src.pub.bytes_in_buffer = size;
  d.src.eoiInserted = false;
  d.cinfo.src = &d.src.pub;
  d.cinfo.progress = &d.monitor;
  jpeg_read_header(&d.cinfo, TRUE);
  const auto pixels = std::uint64_t{d.cinfo.image_width} * d.cinfo.image_height;
  auto* common = reinterpret_cast<j_common_ptr>(&d.cinfo);
  if (pixels > maxPixels) Fail(common, "JPEG image is too large");
  if (pixels > kJpegPixelsPerByte * static_cast<std::uint64_t>(size))
    Fail(common, "JPEG image is larger than its data can hold");
}

bool GuardedReadHeader(Decoder& d, const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels) {
  if (setjmp(d.err.jump)) return false;
  OpenAndReadHeader(d, data, size, maxPixels);
  return true;
}

// Grey levels in the first third of a row become three equal channels, in place (from the end,
// so that no level is overwritten before it is read).
void SpreadGrey(std::uint8_t* row, unsigned width) {
  for (unsigned x = width; x-- > 0;) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
}

// The layout (the caller's: it has a destructor) goes to the target, which may throw: that
// happens between libjpeg calls, so the exception passes through this function's frame only.
bool GuardedDecode(Decoder& d, const std::uint8_t* data, std::size_t size, const TJpegDecodeOptions& opt,
                   const TJpegProgress& progress, const TJpegRowTarget& target, TJpegLayout& layout) {
  if (setjmp(d.err.jump)) return false;
  OpenAndReadHeader(d, data, size, opt.MaxPixels);
  jpeg_decompress_struct& c = d.cinfo;
  c.scale_num = 1;
  c.scale_denom = static_cast<unsigned>(opt.ScaleDenom);
  c.do_fancy_upsampling = opt.Smoothing ? TRUE : FALSE;
  c.do_block_smoothing = opt.Smoothing ? TRUE : FALSE;
  c.dct_method = opt.FastDct ? JDCT_IFAST : JDCT_ISLOW;
  const bool grey = opt.Grayscale || c.jpeg_color_space == JCS_GRAYSCALE;
  const bool quantize = opt.QuantizeColors > 0;
  // With Bgr, libjpeg delivers blue, green, red (also from a grey file); a colour file shown in
  // grey comes as grey levels that the rows spread.
  bool spread = false;
  if (!opt.Bgr || quantize)
    c.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  else if (opt.Grayscale && c.jpeg_color_space != JCS_GRAYSCALE) {
    c.out_color_space = JCS_GRAYSCALE;
    spread = true;
  } else {
    c.out_color_space = JCS_EXT_BGR;
  }
  if (quantize) {
    c.quantize_colors = TRUE;
    c.desired_number_of_colors = opt.QuantizeColors;
  }
  jpeg_start_decompress(&c);

  layout.Width = static_cast<int>(c.output_width);
  layout.Height = static_cast<int>(c.output_height);
  layout.Channels = spread ? 3 : c.output_components;
  if (c.quantize_colors) {
    layout.ColorMap.resize(static_cast<std::size_t>(c.actual_number_of_colors));
    for (int i = 0; i < c.actual_number_of_colors; ++i)
      for (int k = 0; k < 3; ++k)
        layout.ColorMap[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)] =
            c.colormap[c.out_color_components == 3 ? k : 0][i];
  }
  const TJpegRows rows = target(layout);
  if (progress) progress(0, layout.Height);
  while (c.output_scanline < c.output_height) {
    JSAMPROW batch[8];
    const unsigned first = c.output_scanline;
    const unsigned count = std::min(8u, c.output_height - first);
    for (unsigned i = 0; i < count; ++i) batch[i] = rows.Top + rows.Stride * static_cast<std::ptrdiff_t>(first + i);
    const unsigned done = jpeg_read_scanlines(&c, batch, count);
    if (spread)
      for (unsigned i = 0; i < done; ++i) SpreadGrey(batch[i], c.output_width);
    if (progress) progress(static_cast<int>(c.output_scanline), layout.Height);
  }
  return true;
}

bool GuardedFinish(Decoder& d) {
  if (setjmp(d.err.jump)) return false;
  jpeg_finish_decompress(&d.cinfo);
  return true;
}

// Destination growing one vector.
struct DestinationManager {
  jpeg_destination_mgr pub;
  std::vector<std::uint8_t>* out;
};

constexpr std::size_t kFirstOutputBlock = 64 * 1024;

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<DestinationManager*>(cinfo->dest);
  bool ok = true;
  try {
    dest->out->resize(kFirstOutputBlock);
  } catch (...) {
    ok = false;
  }
  if (!ok) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  dest->pub.next_output_byte = dest->out->data();
  dest->pub.free_in_buffer = dest->out->size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<DestinationManager*>(cinfo->dest);
  const std::size_t used = dest->out->size();
  bool ok = true;
  try {
    dest->out->resize(used * 2);
  } catch (...) {
    ok = false;
  }
  if (!ok) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  dest->pub.next_output_byte = dest->out->data() + used;
  dest->pub.free_in_buffer = dest->out->size() - used;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<DestinationManager*>(cinfo->dest);
  dest->out->resize(dest->out->size() - dest->pub.free_in_buffer);  // shrinking: no allocation
}

struct Encoder {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  DestinationManager dest{};
  bool created = false;

  explicit Encoder(std::vector<std::uint8_t>* out) {
    InitErrorManager(err);
    cinfo.err = &err.pub;
    dest.pub.init_destination = InitDestination;
    dest.pub.empty_output_buffer = EmptyOutputBuffer;
    dest.pub.term_destination = TermDestination;
    dest.out = out;
  }
  ~Encoder() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
};

// Returns false when libjpeg failed; a null row from the source leaves *badRow set.
bool GuardedEncode(Encoder& e, int width, int height, int channels, const TJpegRowSource& rows,
                   const TJpegEncodeOptions& opt, bool* badRow) {
  if (setjmp(e.err.jump)) return false;
  e.created = true;
  jpeg_create_compress(&e.cinfo);
  jpeg_compress_struct& c = e.cinfo;
  c.dest = &e.dest.pub;
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = channels;
  c.in_color_space = channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, opt.Quality, TRUE);
  if (opt.Progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    const std::uint8_t* row = rows(static_cast<int>(c.next_scanline));
    if (!row) {
      *badRow = true;
      return true;  // the caller raises; the compressor is destroyed unfinished
    }
    JSAMPROW line = const_cast<JSAMPROW>(row);  // libjpeg only reads input rows
    jpeg_write_scanlines(&c, &line, 1);
  }
  jpeg_finish_compress(&c);
  return true;
}

}  // namespace

TJpegHeader JpegReadHeader(const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels) {
  if (!data && size) throw EJpegCodecError("JPEG data missing");
  Decoder d;
  if (!GuardedReadHeader(d, data, size, maxPixels)) throw EJpegCodecError(d.err.message);
  TJpegHeader h;
  h.Width = static_cast<int>(d.cinfo.image_width);
  h.Height = static_cast<int>(d.cinfo.image_height);
  h.Components = d.cinfo.num_components;
  h.Progressive = jpeg_has_multiple_scans(&d.cinfo) && d.cinfo.progressive_mode;
  return h;
}

int JpegDecodeInto(const std::uint8_t* data, std::size_t size, const TJpegDecodeOptions& options,
                   const TJpegRowTarget& target, const TJpegProgress& progress) {
  if (!data && size) throw EJpegCodecError("JPEG data missing");
  const int s = options.ScaleDenom;
  if (s != 1 && s != 2 && s != 4 && s != 8) throw EJpegCodecError("JPEG scale must be 1/1, 1/2, 1/4 or 1/8");
  if (options.QuantizeColors != 0 && (options.QuantizeColors < 8 || options.QuantizeColors > 256))
    throw EJpegCodecError("JPEG colour count must be 0 or 8 to 256");
  Decoder d;
  TJpegLayout layout;
  if (!GuardedDecode(d, data, size, options, progress, target, layout)) throw EJpegCodecError(d.err.message);
  // All rows are out; a failure while reading what follows them leaves the picture whole.
  if (!GuardedFinish(d)) ++d.err.pub.num_warnings;
  return static_cast<int>(std::min<long>(d.err.pub.num_warnings, 1L << 30));
}

TJpegPicture JpegDecode(const std::uint8_t* data, std::size_t size, const TJpegDecodeOptions& options,
                        const TJpegProgress& progress) {
  TJpegPicture out;
  out.Warnings = JpegDecodeInto(
      data, size, options,
      [&](const TJpegLayout& layout) {
        out.Width = layout.Width;
        out.Height = layout.Height;
        out.Channels = layout.Channels;
        out.ColorMap = layout.ColorMap;
        const std::size_t stride = static_cast<std::size_t>(layout.Width) * static_cast<std::size_t>(layout.Channels);
        out.Pixels.resize(stride * static_cast<std::size_t>(layout.Height));
        return TJpegRows{out.Pixels.data(), static_cast<std::ptrdiff_t>(stride)};
      },
      progress);
  return out;
}

std::vector<std::uint8_t> JpegEncode(int width, int height, int channels, const TJpegRowSource& rows,
                                     const TJpegEncodeOptions& options) {
  if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
    throw EJpegCodecError("JPEG image size out of range");
  if (channels != 1 && channels != 3) throw EJpegCodecError("JPEG encoding takes 1 or 3 channels");
  if (options.Quality < 1 || options.Quality > 100) throw EJpegCodecError("JPEG quality must be 1 to 100");
  if (!rows) throw EJpegCodecError("JPEG rows missing");
  std::vector<std::uint8_t> out;
  bool badRow = false;
  {
    Encoder e(&out);
    if (!GuardedEncode(e, width, height, channels, rows, options, &badRow)) throw EJpegCodecError(e.err.message);
  }
  if (badRow) throw EJpegCodecError("JPEG rows missing");
  return out;
}

std::vector<std::uint8_t> JpegEncode(int width, int height, int channels, const std::uint8_t* pixels,
                                     const TJpegEncodeOptions& options) {
  if (!pixels) throw EJpegCodecError("JPEG pixels missing");
  const std::size_t stride = static_cast<std::size_t>(std::max(width, 0)) * static_cast<std::size_t>(channels);
  return JpegEncode(
      width, height, channels,
      [&](int y) { return pixels + stride * static_cast<std::size_t>(y); }, options);
}
