#include "encoder/driver/encode_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/thread_pool.h"

namespace {

struct TypeFlag {
  const char* flag;
  int code;
};

constexpr TypeFlag kTypeFlags[] = {
    {"-tif", kTypeTIFF},   {"-tifw", kTypeTIFW}, {"-tifg", kTypeTIFG},    {"-doq", kTypeDOQ},
    {"-bbb", kTypeBBB},    {"-rast", kTypeRAST}, {"-lan", kTypeLAN},      {"-idb", kTypeIDB},
    {"-dicom", kTypeDICOM}, {"-jpeg", kTypeJPEG}, {"-rfi", kTypeRFI},
};

Color named_or_parsed_color(const std::string& text) {
  if (text == "black" || text == "BLACK") return {0, 0, 0};
  if (text == "white" || text == "WHITE") return {255, 255, 255};
  if (text == "red" || text == "RED") return {255, 0, 0};
  if (text == "green" || text == "GREEN") return {0, 255, 0};
  if (text == "blue" || text == "BLUE") return {0, 0, 255};
  return parse_color(text);
}

bool is_flag(const char* arg, int& type_code) {
  for (const TypeFlag& t : kTypeFlags) {
    if (std::strcmp(arg, t.flag) == 0) {
      type_code = t.code;
      return true;
    }
  }
  return false;
}

// The four inclusive corners after -region; all of them whole numbers in a sane range.
std::array<int64_t, 4> parse_region(int argc, const char* const* argv, int& i) {
  constexpr const char* kMessage = "Error: -region needs four whole numbers: x0 y0 x1 y1.";
  std::array<int64_t, 4> corners{};
  for (int64_t& c : corners) {
    if (++i >= argc) throw Error(kMessage);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(argv[i], &end, 10);
    if (end == argv[i] || *end != '\0' || errno == ERANGE || v < -(1LL << 40) || v > (1LL << 40))
      throw Error(kMessage);
    c = v;
  }
  return corners;
}

// The value of a real-valued option: the whole text a number (its range is the option's to
// check), else one line saying so.
double parse_real(const std::string& option, const char* text) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0')
    throw Error(format_message("Error: %s needs a number, not \"%s\".", option.c_str(), text));
  return v;
}

}  // namespace

Color parse_color(const std::string& text) {
  size_t underscores = 0;
  for (char c : text) underscores += c == '_';
  if (underscores != 2) throw Error("Error: unrecognized color specification.");
  Color color{};
  size_t start = 0;
  for (int k = 0; k < 3; ++k) {
    const size_t end = text.find('_', start);
    const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
    int value = 0;
    if (std::sscanf(part.c_str(), "%d", &value) != 1)
      throw Error("Error: unable to convert color specification.");
    color[k] = static_cast<uint8_t>(value & 0xFF);
    start = end + 1;
  }
  return color;
}

std::string default_output_name(const std::string& input_name) {
  std::string name = input_name;
  const size_t sep = name.find_last_of("\\/");
  if (sep != std::string::npos) name = name.substr(sep + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name + ".vxl";
}

bool is_tiff_family(int image_type) {
  return image_type == kTypeTIFF || image_type == kTypeTIFW || image_type == kTypeTIFG;
}

std::string type_word(int image_type, bool mosaic) {
  static const char* const kWords[] = {"TIFF", "TIFW", "TIFG", "DOQ",   "BBB",  "RAST",
                                       "LAN",  "IDB",  "RFI",  "DICOM", "JPEG"};
  if (image_type < 0 || image_type > kTypeJPEG) return "";
  if (image_type == kTypeIDB) return "IDB";
  const std::string word = kWords[image_type];
  if (!mosaic) return word;
  if (image_type == kTypeDICOM || image_type == kTypeJPEG) return "";
  return word + "_MOSAIC";
}

ParseOutcome parse_command_line(int argc, const char* const* argv, EncodeOptions& o) {
  if (argc < 2) return ParseOutcome::kUsage;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-') return ParseOutcome::kUsage;
    int type_code = 0;
    if (is_flag(arg, type_code)) {
      o.image_type = type_code;
      continue;
    }
    const std::string a = arg;
    if (a == "-mos") { o.mosaic = 1; continue; }
    if (a == "-nd") { o.dither = 0; continue; }
    if (a == "-ht") { o.hit_target = 1; continue; }
    if (a == "-rdo") { o.rdo = true; continue; }
    if (a == "-nodata") { o.nodata = true; continue; }
    if (a == "-stats") { o.statistics = true; continue; }
    if (a == "-v") { o.version_requested = 1; continue; }
    if (a == "-q") { o.quiet = true; continue; }
    if (a == "-h") return ParseOutcome::kUsage;
    if (a == "-info") { o.info_only = true; continue; }
    if (a == "-region") { o.region = parse_region(argc, argv, i); continue; }
    static const char* const kValued[] = {"-i", "-o", "-t", "-n", "-b", "-c", "-wl",
                                          "-ir", "-r", "-g", "-w", "-bgc", "-tpc",
                                          "-threads", "-psnr"};
    bool valued = false;
    for (const char* v : kValued) valued = valued || a == v;
    if (!valued) {
      std::fprintf(stderr, "Unrecognized option: %s\n\n", arg);
      return ParseOutcome::kUsage;
    }
    if (i + 1 >= argc) return ParseOutcome::kUsage;  // an option without its value
    const char* value = argv[++i];
    if (a == "-i") o.input_name = *value ? std::optional<std::string>(value) : std::nullopt;
    else if (a == "-o") o.output_name = *value ? std::optional<std::string>(value) : std::nullopt;
    else if (a == "-t") o.temp_dir = *value ? std::optional<std::string>(value) : std::nullopt;
    else if (a == "-n") o.nlev = std::atoi(value);
    else if (a == "-b") o.block_size = std::atoi(value);
    else if (a == "-c") o.target_ratio = static_cast<float>(parse_real(a, value));
    else if (a == "-wl") o.word_length = std::atoi(value);
    else if (a == "-ir") { o.input_bit_rate = std::atoi(value); o.input_bit_rate_given = true; }
    else if (a == "-r") { /* accepted; the target bit rate is always recomputed */ }
    else if (a == "-g") { o.gamma = static_cast<float>(parse_real(a, value)); o.weights_given = true; }
    else if (a == "-w") { o.weight = static_cast<float>(parse_real(a, value)); o.weights_given = true; }
    else if (a == "-psnr") { o.psnr = parse_real(a, value); o.psnr_given = true; }
    else if (a == "-bgc") o.background = named_or_parsed_color(value);
    else if (a == "-tpc") o.transparency = named_or_parsed_color(value);
    else if (a == "-threads") o.threads = platform::parse_thread_count(value);
  }
  o.target_bit_rate = static_cast<float>(o.word_length) / o.target_ratio;
  if (!o.input_bit_rate_given) o.input_bit_rate = o.word_length;
  if (o.input_name && !o.output_name) o.output_name = default_output_name(*o.input_name);
  if (!o.input_name && !o.version_requested) throw Error("Error: missing required option -i");
  if (o.mosaic && (o.image_type == kTypeDICOM || o.image_type == kTypeJPEG))
    throw Error(format_message("Error: %s input cannot be mosaicked.",
                               o.image_type == kTypeJPEG ? "JPEG" : "DICOM"));
  check_option_values(o);
  return ParseOutcome::kRun;
}

void check_option_values(const EncodeOptions& o) {
  if (o.psnr_given && !o.rdo) throw Error("Error: -psnr is a target of the -rdo mode; add -rdo.");
  if (o.psnr_given && !(o.psnr > 0.0 && o.psnr < 200.0))
    throw Error("Error: the PSNR target must be a positive number of dB (below 200).");
  // A ratio is raw bytes over file bytes. The default mode counts them in word-length samples,
  // so a ratio below 1 asks more than 8 bits of a 16-bit or float sample; -rdo counts 8-bit
  // samples, which it never stores at more than their own size.
  if (!(o.target_ratio > 0.0f) || !std::isfinite(o.target_ratio))
    throw Error("Error: -c (compression ratio) must be a positive number.");
  if (o.rdo && !o.psnr_given && o.target_ratio < 1.0f)
    throw Error("Error: -rdo needs -c 1 or more (raw 8-bit sample bytes per file byte).");
  // Zero or negative weights make the quantiser's steps meaningless (-g 0 stores the input
  // twice over); nothing is read before they are refused.
  if (!(o.gamma > 0.0f) || !std::isfinite(o.gamma))
    throw Error("Error: -g (gamma) must be a positive number.");
  if (!(o.weight > 0.0f) || !std::isfinite(o.weight))
    throw Error("Error: -w (intensity weight) must be a positive number.");
}
