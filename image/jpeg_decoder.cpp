#include "image/jpeg_decoder.h"

#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdio>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "platform/error.h"

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so libjpeg's pointer to it is a pointer to the whole
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
  void (*standard_emit)(j_common_ptr, int) = nullptr;
};

[[noreturn]] void leave_library(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  longjmp(manager->jump, 1);
}

// Warnings after which libjpeg goes on with made-up pixels.
bool loses_pixels(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
      return true;
    default:
      return false;
  }
}

void emit_message(j_common_ptr cinfo, int level) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0 && loses_pixels(cinfo->err->msg_code)) leave_library(cinfo);
  manager->standard_emit(cinfo, level);
}

// Progressive and multi-scan files keep every coefficient of the image in memory, sized from
// the header. Each 8 x 8 block costs 128 bytes there and at least one bit of the file (its DC
// code), so 1024 bytes per file byte (doubled, plus a floor) covers any genuine file, while a
// small file whose header claims a huge image fails with libjpeg's "Backing store not
// supported" instead of allocating gigabytes.
long whole_image_memory_bound(FILE* file) {
  constexpr int64_t kFloor = int64_t{64} << 20;
  if (fseeko(file, 0, SEEK_END) != 0) return kFloor;
  const int64_t size = ftello(file);
  std::rewind(file);
  if (size < 0 || size > (int64_t{1} << 40)) return size < 0 ? kFloor : LONG_MAX;
  return static_cast<long>(kFloor + 2048 * size);
}

}  // namespace

struct JpegDecoder::State {
  jpeg_decompress_struct cinfo{};
  ErrorManager error;
  FILE* file = nullptr;
  bool created = false;
  bool failed = false;

  // Runs libjpeg calls with the error manager's jump target set; false when libjpeg failed.
  // The calls made through it own no objects with destructors, so the jump skips none.
  template <class Calls>
  bool guarded(Calls calls) {
    if (setjmp(error.jump) != 0) return false;
    calls();
    return true;
  }

  ~State() {
    if (created) jpeg_destroy_decompress(&cinfo);
    if (file) std::fclose(file);
  }
};

JpegDecoder::JpegDecoder(const std::string& path) : state_(std::make_unique<State>()), path_(path) {
  State& s = *state_;
  s.cinfo.err = jpeg_std_error(&s.error.pub);
  s.error.pub.error_exit = leave_library;
  s.error.standard_emit = s.error.pub.emit_message;
  s.error.pub.emit_message = emit_message;
  check(s.guarded([&] { jpeg_create_decompress(&s.cinfo); }));
  s.created = true;
  s.file = std::fopen(path.c_str(), "rb");
  if (!s.file) throw OpenError(path, "read");
  s.cinfo.mem->max_memory_to_use = whole_image_memory_bound(s.file);
  check(s.guarded([&] {
    jpeg_stdio_src(&s.cinfo, s.file);
    jpeg_read_header(&s.cinfo, TRUE);
    jpeg_calc_output_dimensions(&s.cinfo);
  }));
}

JpegDecoder::~JpegDecoder() = default;

void JpegDecoder::check(bool ok) {
  if (!ok) state_->failed = true;
  if (state_->failed) throw Error(state_->error.message);
}

int JpegDecoder::width() const { return static_cast<int>(state_->cinfo.output_width); }
int JpegDecoder::height() const { return static_cast<int>(state_->cinfo.output_height); }
int JpegDecoder::components() const { return state_->cinfo.output_components; }
bool JpegDecoder::cmyk() const { return state_->cinfo.out_color_space == JCS_CMYK; }
bool JpegDecoder::adobe_marker() const { return state_->cinfo.saw_Adobe_marker; }

void JpegDecoder::start() {
  check(true);
  State& s = *state_;
  check(s.guarded([&] { jpeg_start_decompress(&s.cinfo); }));
}

void JpegDecoder::read_row(uint8_t* row) {
  check(true);
  State& s = *state_;
  JDIMENSION got = 0;
  check(s.guarded([&] {
    JSAMPROW rows[1] = {row};
    got = jpeg_read_scanlines(&s.cinfo, rows, 1);
  }));
  if (got != 1) throw ReadError(path_);
}
