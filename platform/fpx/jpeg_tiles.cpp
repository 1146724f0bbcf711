#include "jpeg_tiles.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

namespace fpx {

namespace {

// libjpeg reports failures through its error manager; this one jumps back to the call.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool outOfMemory = false;
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->outOfMemory = err->pub.msg_code == JERR_OUT_OF_MEMORY;
  std::longjmp(err->jump, 1);
}

// An allocation that fails inside a libjpeg call-back must not unwind through libjpeg's C
// frames: the call-back reports it as libjpeg's own out-of-memory error instead, after the
// exception has been left behind.
void OutOfMemory(j_common_ptr cinfo) {
  cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
  (*cinfo->err->error_exit)(cinfo);
}

bool Append(std::vector<uint8_t>* out, const uint8_t* from, size_t size) noexcept {
  try {
    out->insert(out->end(), from, from + size);
    return true;
  } catch (...) {
    return false;
  }
}

void SilentMessage(j_common_ptr) {}

// Compressed output into a growing vector.
struct VectorDestination {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* out;
  size_t start;
  uint8_t buffer[4096];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = sizeof d->buffer;
}

boolean EmptyBuffer(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (!Append(d->out, d->buffer, sizeof d->buffer)) OutOfMemory(reinterpret_cast<j_common_ptr>(cinfo));
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = sizeof d->buffer;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (!Append(d->out, d->buffer, sizeof d->buffer - d->pub.free_in_buffer))
    OutOfMemory(reinterpret_cast<j_common_ptr>(cinfo));
}

}  // namespace

struct JpegTileEncoder::State {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  VectorDestination dest{};
  std::vector<uint8_t> tables;
  int channels = 0;
  bool subsampled = false;
  bool created = false;
  bool ok = false;
  std::vector<JSAMPROW> rows;           // a band's rows, tile after tile
  std::vector<uint8_t> band, head;      // a band compressed as one image; the tiles' headers
};

JpegTileEncoder::JpegTileEncoder(int channels, int quality) : state_(new State) {
  State& s = *state_;
  s.channels = channels;
  s.cinfo.err = jpeg_std_error(&s.err.pub);
  s.err.pub.error_exit = ErrorExit;
  s.err.pub.output_message = SilentMessage;
  if (setjmp(s.err.jump)) return;
  jpeg_create_compress(&s.cinfo);
  s.created = true;
  s.dest.pub.init_destination = InitDestination;
  s.dest.pub.empty_output_buffer = EmptyBuffer;
  s.dest.pub.term_destination = TermDestination;
  s.cinfo.dest = &s.dest.pub;
  s.cinfo.image_width = 64;
  s.cinfo.image_height = 64;
  s.cinfo.input_components = channels;
  s.cinfo.in_color_space = channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&s.cinfo);
  jpeg_set_quality(&s.cinfo, quality < 1 ? 1 : (quality > 100 ? 100 : quality), TRUE);
  // Colour is stored as the format's own writers store it, the chroma at half the size in
  // both directions (the luminance component has sampling factors 2 x 2), except at the
  // highest qualities, which keep every chroma sample: hard colour edges would lose more to
  // the sub-sampling than the quality leaves to the quantisation.
  s.subsampled = channels == 3 && quality < kFullChromaQuality;
  for (int c = 0; c < s.cinfo.num_components; ++c) {
    s.cinfo.comp_info[c].h_samp_factor = c == 0 && s.subsampled ? 2 : 1;
    s.cinfo.comp_info[c].v_samp_factor = c == 0 && s.subsampled ? 2 : 1;
  }
  s.cinfo.write_JFIF_header = FALSE;
  s.cinfo.write_Adobe_marker = FALSE;
  s.cinfo.optimize_coding = FALSE;  // the Huffman tables are shared by every tile
  s.dest.out = &s.tables;
  jpeg_write_tables(&s.cinfo);  // marks every table as written: tiles leave them out
  s.ok = true;
}

JpegTileEncoder::~JpegTileEncoder() {
  if (state_->created) jpeg_destroy_compress(&state_->cinfo);
}

bool JpegTileEncoder::ok() const { return state_->ok; }
bool JpegTileEncoder::outOfMemory() const { return state_->err.outOfMemory; }
const std::vector<uint8_t>& JpegTileEncoder::Tables() const { return state_->tables; }
uint32_t JpegTileEncoder::ChromaSubsampling() const { return state_->subsampled ? 0x22 : 0x11; }

namespace {

// Splits a band compressed as one image of tiles stacked one above the other, a restart
// marker after each tile, into one stream per tile: each takes the band's headers (its
// frame header saying 64 rows, no restart interval) and its own entropy-coded segment. A
// restart resets every prediction, so each segment decodes by itself. False when the band
// is not laid out so (it always is, as libjpeg writes it).
bool SplitBand(const std::vector<uint8_t>& band, int tiles, std::vector<uint8_t>& head, std::vector<uint8_t>& out,
               std::vector<size_t>& ends) {
  const uint8_t* b = band.data();
  const size_t n = band.size();
  if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  head.assign(b, b + 2);
  size_t i = 2, height = 0;
  for (;;) {  // the markers up to and with the start of scan
    if (i + 4 > n || b[i] != 0xFF) return false;
    const uint8_t marker = b[i + 1];
    const size_t length = size_t{b[i + 2]} << 8 | b[i + 3];
    if (length < 2 || i + 2 + length > n) return false;
    if (marker != 0xDD) {  // the band's restart interval stays behind
      if (marker == 0xC0 || marker == 0xC1) {
        if (length < 7) return false;
        height = head.size() + 5;
      }
      head.insert(head.end(), b + i, b + i + 2 + length);
    }
    i += 2 + length;
    if (marker == 0xDA) break;
  }
  if (height == 0) return false;
  head[height] = 0;
  head[height + 1] = 64;
  size_t start = i;
  int found = 0;
  for (size_t j = i; j + 1 < n; ++j) {
    if (b[j] != 0xFF) continue;
    const uint8_t marker = b[j + 1];
    if (marker == 0x00 || marker == 0xFF) {  // a stuffed byte, a fill byte
      if (marker == 0x00) ++j;
      continue;
    }
    if (!((marker >= 0xD0 && marker <= 0xD7) || marker == 0xD9) || ++found > tiles) return false;
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), b + start, b + j);
    out.push_back(0xFF);
    out.push_back(0xD9);
    ends.push_back(out.size());
    if (marker == 0xD9) break;
    start = j + 2;
    ++j;
  }
  return found == tiles;
}

}  // namespace

// Compresses the rows in s.rows, `tiles` tiles stacked, into s.band.
bool JpegTileEncoder::CompressStack(State& s, uint32_t tiles) {
  if (setjmp(s.err.jump)) {
    jpeg_abort_compress(&s.cinfo);
    return false;
  }
  s.cinfo.image_height = 64 * tiles;
  s.cinfo.restart_interval = s.subsampled ? 16 : 64;  // the MCUs of one tile
  s.dest.out = &s.band;
  jpeg_start_compress(&s.cinfo, FALSE);
  while (s.cinfo.next_scanline < s.cinfo.image_height)
    jpeg_write_scanlines(&s.cinfo, s.rows.data() + s.cinfo.next_scanline, s.cinfo.image_height - s.cinfo.next_scanline);
  jpeg_finish_compress(&s.cinfo);
  return true;
}

bool JpegTileEncoder::EncodeBand(const uint8_t* pixels, size_t stride, uint32_t tiles, std::vector<uint8_t>& out,
                                 std::vector<size_t>& ends) {
  State& s = *state_;
  if (!s.ok) return false;
  out.clear();
  ends.clear();
  const size_t tileBytes = size_t{64} * static_cast<size_t>(s.channels);
  // A JPEG image is at most 65500 rows high: a wide band goes in parts of 1000 tiles.
  constexpr uint32_t kTilesPerPart = 1000;
  for (uint32_t first = 0; first < tiles; first += kTilesPerPart) {
    const uint32_t count = std::min(kTilesPerPart, tiles - first);
    try {
      s.rows.resize(size_t{count} * 64);
      s.band.clear();
    } catch (...) {
      s.err.outOfMemory = true;
      s.ok = false;
      return false;
    }
    for (uint32_t t = 0; t < count; ++t)
      for (size_t y = 0; y < 64; ++y)
        s.rows[t * 64 + y] = const_cast<uint8_t*>(pixels) + y * stride + (first + t) * tileBytes;
    if (!CompressStack(s, count)) {
      s.ok = false;
      return false;
    }
    bool split = false;
    try {
      split = SplitBand(s.band, static_cast<int>(count), s.head, out, ends);
    } catch (...) {
      s.err.outOfMemory = true;
    }
    if (!split) {
      s.ok = false;
      return false;
    }
  }
  return true;
}

struct JpegTileDecoder::State {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  std::vector<uint8_t> row;
  bool created = false;
  // The shared tables the decompressor holds now (libjpeg keeps tables from one stream to
  // the next): a level's tiles all name the same ones, so they are read once, not per tile.
  const uint8_t* loadedTables = nullptr;
  size_t loadedTablesSize = 0;
};

namespace {

// Whether a stream defines tables of its own (a quantisation or Huffman table before its
// scan): then the tables the decompressor held before are replaced.
bool DefinesTables(const uint8_t* data, size_t size) {
  size_t i = 2;  // after the start of image
  while (i + 4 <= size) {
    if (data[i] != 0xFF) return true;  // not a marker where one belongs: assume the worst
    const uint8_t marker = data[i + 1];
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (marker == 0xDB || marker == 0xC4) return true;
    if (marker == 0xDA || marker == 0xD9) return false;  // start of scan, end of image
    i += 2 + (size_t{data[i + 2]} << 8 | data[i + 3]);
  }
  return true;
}

}  // namespace

JpegTileDecoder::JpegTileDecoder() : state_(new State) {
  State& s = *state_;
  s.cinfo.err = jpeg_std_error(&s.err.pub);
  s.err.pub.error_exit = ErrorExit;
  s.err.pub.output_message = SilentMessage;
  if (setjmp(s.err.jump)) return;
  jpeg_create_decompress(&s.cinfo);
  s.created = true;
}

JpegTileDecoder::~JpegTileDecoder() {
  if (state_->created) jpeg_destroy_decompress(&state_->cinfo);
}

JpegTileDecoder::Result JpegTileDecoder::Decode(const uint8_t* tables, size_t tablesSize, const uint8_t* data,
                                                size_t size, int channels, bool colorConversion, int tileWidth,
                                                int tileHeight, int validWidth, int validHeight, uint8_t* out) {
  State& s = *state_;
  if (!s.created) return Result::kBadData;
  volatile Result failure = Result::kBadTables;
  if (setjmp(s.err.jump)) {
    jpeg_abort_decompress(&s.cinfo);
    s.loadedTables = nullptr;  // they may be half replaced
    return s.err.outOfMemory ? Result::kNoMemory : failure;
  }
  if (tables != nullptr && (tables != s.loadedTables || tablesSize != s.loadedTablesSize)) {
    s.loadedTables = nullptr;
    jpeg_mem_src(&s.cinfo, const_cast<uint8_t*>(tables), static_cast<unsigned long>(tablesSize));
    if (jpeg_read_header(&s.cinfo, FALSE) != JPEG_HEADER_TABLES_ONLY) {
      jpeg_abort_decompress(&s.cinfo);
      return Result::kBadTables;
    }
    s.loadedTables = tables;
    s.loadedTablesSize = tablesSize;
  }
  failure = Result::kBadData;
  if (size == 0) return Result::kBadData;
  if (DefinesTables(data, size)) s.loadedTables = nullptr;
  jpeg_mem_src(&s.cinfo, const_cast<uint8_t*>(data), static_cast<unsigned long>(size));
  if (jpeg_read_header(&s.cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_abort_decompress(&s.cinfo);
    return Result::kBadData;
  }
  if (s.cinfo.num_components != channels) {
    jpeg_abort_decompress(&s.cinfo);
    return Result::kBadData;
  }
  // The tile header, not the markers, says how colours were stored.
  if (channels == 3) {
    s.cinfo.jpeg_color_space = colorConversion ? JCS_YCbCr : JCS_RGB;
    s.cinfo.out_color_space = JCS_RGB;
  } else if (channels == 1) {
    s.cinfo.jpeg_color_space = JCS_GRAYSCALE;
    s.cinfo.out_color_space = JCS_GRAYSCALE;
  } else {
    s.cinfo.jpeg_color_space = colorConversion ? JCS_YCCK : JCS_CMYK;
    s.cinfo.out_color_space = JCS_CMYK;
  }
  jpeg_start_decompress(&s.cinfo);
  if (static_cast<int>(s.cinfo.output_width) < validWidth || static_cast<int>(s.cinfo.output_height) < validHeight ||
      s.cinfo.output_components != channels) {
    jpeg_abort_decompress(&s.cinfo);
    return Result::kBadData;
  }
  if (static_cast<int>(s.cinfo.output_width) <= tileWidth && static_cast<int>(s.cinfo.output_height) <= tileHeight) {
    // The usual case: rows go straight into the tile.
    JSAMPROW rows[64];
    const size_t stride = static_cast<size_t>(tileWidth) * channels;
    while (s.cinfo.output_scanline < s.cinfo.output_height) {
      const JDIMENSION first = s.cinfo.output_scanline;
      const JDIMENSION count = std::min<JDIMENSION>(64, s.cinfo.output_height - first);
      for (JDIMENSION r = 0; r < count; ++r) rows[r] = out + (first + r) * stride;
      jpeg_read_scanlines(&s.cinfo, rows, count);
    }
    jpeg_finish_decompress(&s.cinfo);
    return Result::kOk;
  }
  const size_t rowBytes = static_cast<size_t>(s.cinfo.output_width) * channels;
  bool haveRow = true;
  try {
    s.row.resize(rowBytes);
  } catch (const std::bad_alloc&) {
    haveRow = false;
  }
  if (!haveRow) {
    jpeg_abort_decompress(&s.cinfo);
    return Result::kNoMemory;
  }
  const int copyWidth = std::min<int>(tileWidth, static_cast<int>(s.cinfo.output_width));
  while (s.cinfo.output_scanline < s.cinfo.output_height) {
    const int y = static_cast<int>(s.cinfo.output_scanline);
    JSAMPROW row = s.row.data();
    jpeg_read_scanlines(&s.cinfo, &row, 1);
    if (y < tileHeight) std::memcpy(out + static_cast<size_t>(y) * tileWidth * channels, row, copyWidth * channels);
  }
  jpeg_finish_decompress(&s.cinfo);
  return Result::kOk;
}

}  // namespace fpx
