#include "decoder/decode_command.h"

#include <malloc.h>
#include <tiffio.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decoder/geokeys.h"
#include "decoder/reader_access.h"
#include "decoder/region_decoder.h"
#include "decoder/subband_geometry.h"
#include "decoder/tiff_output.h"
#include "decoder/tiff_writer.h"
#include "decoder/vxl_file.h"
#include "decoder/vxl_info.h"
#include "platform/error.h"
#include "platform/file_specification.h"
#include "platform/file_copy.h"
#include "platform/interrupt.h"
#include "platform/output_target.h"
#include "platform/program_help.h"
#include "platform/temp_file.h"
#include "platform/thread_pool.h"

namespace {

struct DecodeOptions {
  std::string input, output;
  bool info = false;
  bool world_file = false;
  bool stats = false;
  int level = 0;
  int threads = 0;  // 0: every core the process may use
  std::optional<Window> window;
  TiffOptions tiff;
};

void print_usage(FILE* out) {
  std::fputs(
      "Usage: vexal_decode -i Input.vxl -o Output.tif [-l Level] [-win x0 y0 x1 y1] [-wf]\n"
      "                    [-threads N] [-co KEY=VALUE]...\n"
      "       vexal_decode -info Input.vxl\n"
      "Decode a region of a Vexal file at any scale to TIFF (GeoTIFF when georeferenced).\n\n"
      "  -i       Input Vexal filename              (required)\n"
      "  -o       Output TIFF filename              (required)\n"
      "  -l       Level: 0 full size, k 1/2^k size  (default: 0)\n"
      "  -win     Inclusive window x0 y0 x1 y1 in the pixels of that level\n"
      "                                             (default: the whole image)\n"
      "  -wf      Also write a world file (.tfw) beside the output\n"
      "  -co      TIFF creation option: COMPRESS=NONE|DEFLATE|LZW|ZSTD, TILED=YES|NO,\n"
      "           BIGTIFF=YES|NO (default: uncompressed strips; tiled BigTIFF past 4 GiB)\n"
      "  -info    List size, levels, subbands and metadata of a Vexal file\n"
      "  -stats   Print the bytes read and the time taken on standard error\n"
      "  -threads Threads for decoding              (default: every core available)\n"
      "  -h       Display this help and exit\n",
      out);
}

// Options left out of the usage text above; the options of new modes go here.
const std::vector<OptionHelp> kMoreOptions = {
    {"-q", "Quiet, as for vexal_encode: nothing but errors (decoding prints no banner or progress)"},
};

// Whole decimal numbers only: a window or level that is not a number is an error, not 0.
int parse_int(const char* text, const char* what) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < -2147483647L || v > 2147483647L)
    throw Error(format_message("Error: %s must be a whole number, not \"%s\".", what, text));
  return int(v);
}

bool parse(int argc, const char* const* argv, DecodeOptions& o) {
  if (argc < 2) return false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](int n) {
      if (i + n >= argc) throw Error("Error: option " + a + " needs a value.");
    };
    if (a == "-h") return false;
    if (a == "-wf") { o.world_file = true; continue; }
    if (a == "-stats") { o.stats = true; continue; }
    if (a == "-q") continue;  // scripts may pass it to both programs
    if (a == "-i" || a == "-o" || a == "-info" || a == "-l" || a == "-threads" || a == "-co") {
      value(1);
      const char* v = argv[++i];
      if (a == "-threads") o.threads = platform::parse_thread_count(v);
      else if (a == "-co") parse_tiff_option(v, o.tiff);
      else if (a == "-i") o.input = v;
      else if (a == "-o") o.output = v;
      else if (a == "-info") { o.input = v; o.info = true; }
      else o.level = parse_int(v, "the level");
      continue;
    }
    if (a == "-win") {
      value(4);
      Window w;
      w.x0 = parse_int(argv[i + 1], "x0");
      w.y0 = parse_int(argv[i + 2], "y0");
      w.x1 = parse_int(argv[i + 3], "x1");
      w.y1 = parse_int(argv[i + 4], "y1");
      o.window = w;
      i += 4;
      continue;
    }
    std::fprintf(stderr, "Unrecognized option: %s\n\n", argv[i]);
    return false;
  }
  if (o.input.empty()) throw Error("Error: missing required option -i");
  if (!o.info && o.output.empty()) throw Error("Error: missing required option -o");
  return true;
}

Window checked_window(const DecodeOptions& o, const VxlFile& f) {
  if (o.level < 0 || o.level > f.levels())
    throw Error(format_message("Error: level %d is outside 0..%d for %s.", o.level, f.levels(),
                               f.name().c_str()));
  const int w = reduced_size(f.width(), o.level), h = reduced_size(f.height(), o.level);
  const Window win = o.window.value_or(Window{0, 0, w - 1, h - 1});
  if (win.x0 < 0 || win.y0 < 0 || win.x1 < win.x0 || win.y1 < win.y0 || win.x1 >= w || win.y1 >= h)
    throw Error(format_message(
        "Error: window %d %d %d %d is not inside the %d x %d image of level %d.", win.x0, win.y0,
        win.x1, win.y1, w, h, o.level));
  return win;
}

void refuse_overwriting_input(const std::string& input, const std::string& output) {
  if (Quorvale::same_file(input, output))
    throw Error(format_message("Error: the output %s is the input file; choose another name.",
                               output.c_str()));
}

// The name's extension in lower case; "" when its last part has none.
std::string lower_extension(const std::string& name) {
  const size_t slash = name.rfind('/'), dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash + 2) || dot == 0)
    return "";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// Only TIFF is written: another extension would get TIFF bytes under a misleading name.
void refuse_other_formats(const DecodeOptions& o) {
  const std::string ext = lower_extension(o.output);
  if (ext.empty() || ext == "tif" || ext == "tiff") return;
  throw Error(format_message(
      "Error: vexal_decode writes TIFF only (.tif or .tiff), not %s; gdal_translate %s %s writes "
      "other formats through the VXL plugin.",
      o.output.c_str(), o.input.c_str(), o.output.c_str()));
}

// Where the TIFF goes: a regular file (or a new name) is replaced whole by renaming a finished
// temporary onto it, through any symbolic links; a character device such as a null device gets
// the finished file's bytes front to back (libtiff seeks, which a device ignores), made in the
// temporary folder rather than beside the device; nothing else that carries the name is touched.
struct OutputPlan {
  std::string target;
  bool direct = false;
};

OutputPlan plan_output(const DecodeOptions& o, bool world_file) {
  const platform::OutputKind kind = platform::output_kind(o.output);
  using platform::OutputKind;
  if (kind == OutputKind::kAbsent || kind == OutputKind::kRegular)
    return {platform::link_target(o.output), false};
  if (kind == OutputKind::kFifo)
    throw Error(format_message("Error: the output %s is a FIFO, which cannot take a TIFF (its "
                               "writing needs to seek); name a file.",
                               o.output.c_str()));
  if (kind != OutputKind::kCharacterDevice)
    throw Error(format_message("Error: the output %s is %s; name a file.", o.output.c_str(),
                               platform::output_kind_words(kind)));
  if (world_file)
    throw Error(format_message("Error: the output %s is a device: -wf has nowhere to put a "
                               "world file beside it.",
                               o.output.c_str()));
  return {o.output, true};
}

// Made before decoding, so that an output folder that cannot be written fails at once.
Quorvale::ScopedTempFile temp_file_beside(const std::string& output) {
  const Quorvale::FileSpecification dir = Quorvale::directory_of(output);
  try {
    return Quorvale::ScopedTempFile(&dir);
  } catch (const Error&) {
    throw Error(format_message("Error: cannot create %s: its folder %s cannot be written.",
                               output.c_str(), dir.path()));
  }
}

// $TMPDIR, else /tmp: never the current folder, which may be the device's.
Quorvale::ScopedTempFile temp_file_in_temporary_folder() {
  const char* env = std::getenv("TMPDIR");
  const Quorvale::FileSpecification folder(env && *env ? env : "/tmp");
  return Quorvale::ScopedTempFile(&folder);
}

// Bytes this process has read through read(2) so far (0 where /proc is absent).
unsigned long long bytes_read() {
  FILE* f = std::fopen("/proc/self/io", "r");
  if (!f) return 0;
  unsigned long long n = 0;
  char line[128];
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "rchar: %llu", &n) == 1) break;
  std::fclose(f);
  return n;
}

void run(const DecodeOptions& o) {
  const auto started = std::chrono::steady_clock::now();
  const unsigned long long read_before = bytes_read();
  platform::install_interrupt_handlers();
  // Under a file-size limit (ulimit -f) a write then fails with EFBIG and the partial output is
  // removed, instead of the run being killed.
  std::signal(SIGXFSZ, SIG_IGN);
  // Failures reach the user as one message naming the file; libtiff's lines would repeat them.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  vexal::Reader reader(o.input);
  const VxlFile& file = vexal::ReaderAccess::file(reader);
  if (o.info) {
    print_vxl_info(file, stdout);
    return;
  }
  const Window win = checked_window(o, file);
  const int threads = platform::thread_count(o.threads);
  set_region_decoder_threads(threads);
  // The synthesis allocates a plane per level and frees the last one: keep freed memory for
  // the next instead of returning it to the system and faulting fresh zeroed pages back in.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  Georeference g;
  const bool georeferenced = georeference_for(file.metadata(), o.level, win, g);
  const bool world_file = o.world_file && georeferenced;
  refuse_overwriting_input(o.input, o.output);
  if (world_file) refuse_overwriting_input(o.input, world_file_name(o.output));
  refuse_other_formats(o);
  const OutputPlan plan = plan_output(o, world_file);
  // Written under temporary names beside the outputs and renamed when complete, so that a
  // failure or Ctrl-C leaves nothing half-written and an earlier output stays whole until then.
  Quorvale::ScopedTempFile tiff =
      plan.direct ? temp_file_in_temporary_folder() : temp_file_beside(plan.target);
  // The pixels come through the reading library, a band of rows (or a tile) at a time, so that
  // memory stays bounded whatever the size of the output.
  TiffLayout layout{win.width(), win.height(), reader.bands(), reader.sample_type(),
                    reader.color_scheme(), {}, {}};
  layout.band_colors = reader.band_colors();
  layout.nodata = reader.nodata();
  std::optional<TiffGeoreference> placed;
  if (georeferenced)
    placed = TiffGeoreference{g.x_origin, g.y_origin, g.x_scale, g.y_scale,
                              geokeys_of(file.metadata())};
  try {
    write_tiff(tiff.name().str(), layout, o.tiff, placed ? &*placed : nullptr,
               [&](int x0, int y0, int x1, int y1, void* planar) {
                 platform::throw_if_interrupted();
                 reader.read(o.level, win.x0 + x0, win.y0 + y0, win.x0 + x1, win.y0 + y1, planar);
               },
               // One thread writes while the others decode the next band of rows.
               threads > 1);
  } catch (const WriteError& e) {
    // A device's bytes are made in the temporary folder: a full one is named as such.
    if (plan.direct) throw TempWriteError(tiff.name().str(), e.error_number());
    throw WriteError(o.output, e.error_number());
  } catch (const OpenError&) {
    throw WriteError(o.output);
  }
  std::optional<Quorvale::ScopedTempFile> world;
  if (world_file) {
    world.emplace(temp_file_beside(o.output));
    write_world_file(world->stream(), world_file_name(o.output), g);
  }
  platform::throw_if_interrupted();
  if (plan.direct) {
    std::unique_ptr<FILE, int (*)(FILE*)> device(std::fopen(plan.target.c_str(), "wb"), std::fclose);
    if (!device) throw WriteError(o.output);
    platform::copy_file_into(tiff.name(), device.get(), o.output);
  } else {
    tiff.commit_to(plan.target);
  }
  if (world) world->commit_to(world_file_name(o.output));
  if (o.stats) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const unsigned long long n = bytes_read() - read_before;
    std::fprintf(stderr, "Read %llu of %llu bytes (%.3f %%) in %.3f s.\n", n,
                 static_cast<unsigned long long>(file.size()), 100.0 * double(n) / double(file.size()),
                 seconds);
  }
}

}  // namespace

int run_vexal_decode(int argc, const char* const* argv) {
  const ProgramHelp help{"vexal_decode", print_usage, kMoreOptions};
  if (const auto status = answer_help_or_version(argc, argv, help)) return *status;
  try {
    DecodeOptions options;
    if (!parse(argc, argv, options)) {
      print_usage(stderr);
      return 1;
    }
    run(options);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown exception encountered.\n");
  }
  return 1;
}
