#include "encoder/driver/report.h"

#include <cmath>
#include <string>

#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

bool is_txt(const std::string& ext) {
  return ext.size() == 3 && (ext[0] == 't' || ext[0] == 'T') && (ext[1] == 'x' || ext[1] == 'X') &&
         (ext[2] == 't' || ext[2] == 'T');
}

bool taken(const FileSpecification& name) {
  return Quorvale::exists(name) || Quorvale::exists(report_name(name));
}

std::string grouped_digits(double n) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%lf", n);
  const int digits = static_cast<int>(std::log10(n)) + 1;
  std::string out;
  for (int i = 0; i < digits; ++i) {
    if (i > 0 && (digits - i) % 3 == 0) out += ',';
    out += buffer[i];
  }
  return out;
}

const char* type_line(int code) {
  switch (code) {
    case 0: return "TIFF\n";
    case 1: return "TIFF World\n";
    case 2: return "Geo TIFF\n";
    case 3: return "USGS DOQ\n";
    case 4: return "BIL/BIP/BSQ\n";
    case 5: return "Sun Rasterfile\n";
    case 6: return "ERDAS LAN\n";
    case 7: return "ASI Image Database\n";
    case 10: return "JPEG\n";
    default: return "unknown\n";
  }
}

const char* georef_line(int code) {
  switch (code) {
    case 1: return "Georeferencing: TIFW\n";
    case 2: return "Georeferencing: Geo TIFF\n";
    case 3: return "Georeferencing: DOQ\n";
    case 4: return "Georeferencing: BIL/BIP/BSQ\n";
    case 6: return "Georeferencing: ERDAS LAN\n";
    default: return "Georeferencing: None\n";
  }
}

}  // namespace

FileSpecification report_name(const FileSpecification& output) {
  FileSpecification report(output);
  report.set_extension("txt");
  return report;
}

FileSpecification unique_output_name(const FileSpecification& requested) {
  const std::string ext = requested.extension();
  if (is_txt(ext)) throw Error("Output file name may not end in \".txt\".");
  if (!taken(requested)) return requested;
  const std::string base = requested.without_extension().file_name();
  for (int i = 1; i <= 999; ++i) {
    FileSpecification candidate(requested);
    // A name without an extension stays without one: "plain1", never "plain1.".
    candidate.set_file_name(base + std::to_string(i) + (ext.empty() ? "" : "." + ext));
    if (!taken(candidate)) return candidate;
  }
  throw Error("Failed to create a unique file name for output file.");
}

void format_size(FILE* stream, double n) {
  if (n < 1024) {
    std::fprintf(stream, "%lu bytes\n", static_cast<unsigned long>(n));
    return;
  }
  const std::string grouped = grouped_digits(n);
  if (n < 1048576.0)
    std::fprintf(stream, "%.2f Kb (%s bytes)\n", n * (1.0f / 1024), grouped.c_str());
  else if (n < 1073741824.0)
    std::fprintf(stream, "%.2f Mb (%s bytes)\n", n * (1.0f / 1048576), grouped.c_str());
  else
    std::fprintf(stream, "%.2f Gb (%s bytes)\n", n * (1.0f / 1073741824), grouped.c_str());
}

void write_report(const ReportInputs& in) {
  const FileSpecification report = report_name(in.output);
  FILE* f = report.open("w");
  if (!f)
    throw Error(
        "Error opening report file for write. Check to see that the target drive is not full or "
        "write protected.");
  const double output_size = static_cast<double>(Quorvale::file_size_of(in.output));
  std::fprintf(f, "Input filename:  %s\n", in.input_name);
  std::fprintf(f, "Output filename: %s\n", in.output.path());
  std::fprintf(f, "Input filesize: ");
  format_size(f, in.input_size);
  std::fprintf(f, "Output filesize: ");
  format_size(f, output_size);
  std::fprintf(f, "Input BitRate: %d\n", in.input_bit_rate);
  std::fprintf(f, "Input Wordlength (in bits): %d\n", in.word_length);
  std::fprintf(f, "Target compression ratio: %.2f\n", in.target_ratio);
  std::fprintf(f, "Actual compression ratio: %.2f\n", in.input_size / output_size);
  std::fprintf(f, "File type: %s%s", type_line(in.image_type), georef_line(in.image_type));
  std::tm local{};
  localtime_r(&in.start_time, &local);
  char text[64];
  std::fprintf(f, "\nStart time: %s", asctime_r(&local, text));
  localtime_r(&in.completion_time, &local);
  std::fprintf(f, "Completion time: %s", asctime_r(&local, text));
  std::fprintf(f, "Intensity weight: %.2f\n", in.weight);
  std::fprintf(f, "Gamma: %.2f\n", in.gamma);
  if (std::fclose(f) != 0) throw WriteError(report.str());
}
