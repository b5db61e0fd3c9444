// The options of one encoding, as the command line sets them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// Input type code; also written into the report.
enum ImageTypeCode {
  kTypeTIFF = 0,
  kTypeTIFW = 1,
  kTypeTIFG = 2,
  kTypeDOQ = 3,
  kTypeBBB = 4,
  kTypeRAST = 5,
  kTypeLAN = 6,
  kTypeIDB = 7,
  kTypeRFI = 8,
  kTypeDICOM = 9,
  kTypeJPEG = 10,
};

using Color = std::array<uint8_t, 3>;

struct EncodeOptions {
  std::optional<std::string> input_name;
  std::optional<std::string> output_name;
  std::optional<std::string> temp_dir;
  int image_type = kTypeTIFF;
  int mosaic = 0;
  int32_t nlev = 4;
  int32_t block_size = 512;
  float target_ratio = 20.0f;
  int32_t word_length = 8;
  int32_t input_bit_rate = 8;
  bool input_bit_rate_given = false;
  float target_bit_rate = 0.4f;
  float gamma = 2.0f;
  float weight = 4.0f;
  Color background = {0, 0, 0};
  std::optional<Color> transparency;
  uint8_t dither = 1;
  uint8_t hit_target = 0;
  bool weights_given = false;  // -g or -w on the command line
  bool rdo = false;            // the rate-distortion mode
  double psnr = 0.0;           // its luma PSNR target in dB; 0: a size target (-c)
  bool psnr_given = false;
  bool nodata = false;  // -nodata: honour the input's nodata value
  bool statistics = false;  // -stats: record each band's statistics of the source
  int version_requested = 0;
  bool quiet = false;  // -q: no banners and no progress; errors, warnings and notes still print
  int threads = 0;  // -threads; 0: every core the process may use
  // -region x0 y0 x1 y1: inclusive input pixels to encode instead of the whole image.
  std::optional<std::array<int64_t, 4>> region;
  // -info: describe the input and the expected output, encode nothing.
  bool info_only = false;
};

// What the parser decided.
enum class ParseOutcome { kRun, kUsage };

// Fills `options` from the arguments (argv[0] is the program). Returns kUsage when the usage
// text must be printed and the program end with status 1 ("Unrecognized option: " is printed
// here before returning kUsage). Raises Error for bad colours, a missing -i, -mos with a type
// that has no mosaic reader and a -region without four whole numbers.
ParseOutcome parse_command_line(int argc, const char* const* argv, EncodeOptions& options);

// Raises Error for values no encoding can take: a PSNR target without -rdo or out of range, and
// gamma or weight that are not positive numbers. parse_command_line ends with it.
void check_option_values(const EncodeOptions& options);

// "R_G_B" with exactly two underscores; each part's low 8 bits.
Color parse_color(const std::string& text);

// The input's file name with its last extension replaced by "vxl" (no directory part).
std::string default_output_name(const std::string& input_name);

// The reader factory's word for a type code ("TIFF", "TIFF_MOSAIC", ...), or empty when the type
// has no such reader.
std::string type_word(int image_type, bool mosaic);

// -tif, -tifw or -tifg.
bool is_tiff_family(int image_type);
