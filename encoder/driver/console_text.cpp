#include "encoder/driver/console_text.h"

#include <string>

#include "platform/version.h"

namespace {

// A line of `width` characters: "* " + text, padded with blanks, closed by "*".
void boxed_line(FILE* out, const std::string& text, size_t width) {
  std::string line = "* " + text;
  if (line.size() < width - 1) line.append(width - 1 - line.size(), ' ');
  std::fprintf(out, "%s*\n", line.c_str());
}

void stars(FILE* out, size_t width) { std::fprintf(out, "%s\n", std::string(width, '*').c_str()); }

}  // namespace

void print_banner(FILE* out) {
  const Version v = program_version();
  std::fprintf(out, "\n");
  stars(out, 68);
  std::fprintf(out, "* Vexal v%d.%d.%d.%s*\n", v.major, v.minor, v.patch, std::string(52, ' ').c_str());
  boxed_line(out, "Copyright (c) Vexal developers. All rights reserved.", 68);
  boxed_line(out, "Wavelet coding methods may be covered by patents.", 68);
  stars(out, 68);
}

void print_tiff_acknowledgement(FILE* out) {
  std::fprintf(out, "\n");
  stars(out, 55);
  boxed_line(out, "This program uses the TIFF library (libtiff):", 55);
  boxed_line(out, "Copyright (c) 1988-1997 Sam Leffler", 55);
  boxed_line(out, "Copyright (c) 1991-1997 Silicon Graphics, Inc.", 55);
  stars(out, 55);
  std::fprintf(out, "\n");
}

void print_version_display(FILE* out) {
  print_banner(out);
  std::fprintf(out, "\n");
  stars(out, 78);
  boxed_line(out, "Reading of LZW-compressed TIFF files uses the LZW algorithm. The LZW", 78);
  boxed_line(out, "patents (US 4,558,302 and its foreign counterparts) have expired in all", 78);
  boxed_line(out, "countries; earlier releases required a licence from the patent holder", 78);
  boxed_line(out, "for products that wrote or read LZW-compressed data. No licence is", 78);
  boxed_line(out, "needed to use this program. This notice is kept for those who", 78);
  boxed_line(out, "distribute older releases.", 78);
  stars(out, 78);
  std::fprintf(out, "\n");
  const Version v = program_version();
  std::fprintf(out, "Version: %d.%d.%d\n\n", v.major, v.minor, v.patch);
}

void print_usage(FILE* out) {
  static const char* const kColors =
      "     black [0_0_0]\n"
      "     white [255_255_255]\n"
      "     red   [255_0_0]\n"
      "     green [0_255_0]\n"
      "     blue  [0_0_255]\n";
  std::fputs(
      "Usage: vexal_encode [Image Type] [-mos] -i Input [-o Output] [-n Nlev]\n"
      "[-b Blocksize] [-c Compression Ratio] [-t Temp Dir] [-v Version]\n"
      "[-bgc color] [-tpc color] [-h Help]\n"
      "Encode Input Images to Vexal format.\n\n"
      "  Image type                               (default: -tif)\n"
      "    -tif     TIFF 6.0 format\n"
      "    -tifw    TIFF 6.0 format with TIFF World File\n"
      "    -tifg    Geo TIFF format\n"
      "    -bbb     BIP, BIL or BSQ format\n"
      "    -doq     Digital Orthophoto Quadrangle format\n"
      "    -rast    Sun Raster Image format\n"
      "    -lan     ERDAS LAN Image format\n"
      "    -idb     ASI Image Database format\n"
      "  -mos     Mosaic files                    (default: off)\n"
      "  -i       Input filename                  (required)\n"
      "  -o       Output Vexal filename           (default: <input filename>.vxl)\n"
      "  -n       Nlev                            (default: 4)\n"
      "  -b       Blocksize                       (default: 512)\n"
      "  -c       Target compression ratio        (default: 20)\n"
      "  -t       Path to temp directory\n"
      "  -v       Display version information and exit\n"
      "  -g       Gamma: spatial frequency weight (default: 2.0)\n"
      "  -w       Weight: intensity weight        (default: 4.0)\n"
      "  -nodata  Honour the input's nodata value (always on for 16-bit, float\n"
      "           and separately coded bands): record it, fill nodata areas\n"
      "           smoothly, restore them on decoding; in a mosaic, a tile's\n"
      "           nodata pixels leave the tiles below\n"
      "  -bgc     Background color                (default: black)\n",
      out);
  std::fputs(kColors, out);
  std::fputs("  -tpc     Transparency value              (default: none)\n", out);
  std::fputs(kColors, out);
  std::fputs("  -h       Display this help and exit\n", out);
}

namespace {

// Accepted but left out of the usage text above; the options of new modes go here.
constexpr OptionHelp kMoreOptions[] = {
    {"-jpeg", "JPEG (JFIF) format"},
    {"-dicom", "DICOM format"},
    {"-rfi", "Raw float image format (the encoder's own intermediate)"},
    {"-nd", "No dither on the luminance band      (default: dither)"},
    {"-ht", "Hit target: up to three encodings, keeping the nearest ratio"},
    {"-wl", "Bits per input sample, for -c and -ht (default: 8)"},
    {"-ir", "Input bit rate, for -ht               (default: the -wl value)"},
    {"-r", "Accepted for compatibility; no effect"},
    {"-region", "x0 y0 x1 y1: encode only these inclusive input pixels, placed where they lie"},
    {"-info", "Describe the input and the expected output size; encode nothing"},
    {"-rdo", "Rate-distortion mode: least error for the size; -c = raw 8-bit bytes / file bytes"},
    {"-psnr", "With -rdo: encode for this luma PSNR in dB instead of a size"},
    {"-threads", "Threads, 1 to 1024; same output for any (default: every core)"},
    {"-stats", "Record each band's minimum, maximum, mean and standard deviation (for GDAL)"},
    {"-q", "Quiet: no banners and no progress; errors and notes still print"},
};

}  // namespace

const ProgramHelp& encode_help() {
  static const ProgramHelp help{"vexal_encode", print_usage, kMoreOptions};
  return help;
}
