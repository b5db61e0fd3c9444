// Output naming that never overwrites, and the plain-text report written beside the output.
#pragma once

#include <cstdio>
#include <ctime>

#include "platform/file_specification.h"

class Image;

// The requested name, or base1.ext .. base999.ext when it or its report name exists.
Quorvale::FileSpecification unique_output_name(const Quorvale::FileSpecification& requested);

// The report's name: the output name with the extension "txt".
Quorvale::FileSpecification report_name(const Quorvale::FileSpecification& output);

struct ReportInputs {
  const char* input_name;
  Quorvale::FileSpecification output;
  double input_size;  // the image's file_size
  int image_type;
  float target_ratio;
  int input_bit_rate;
  int word_length;
  time_t start_time;
  time_t completion_time;
  float weight;
  float gamma;
};

void write_report(const ReportInputs& inputs);

// One line: "N bytes", or "x.xx Kb/Mb/Gb (1,234,567 bytes)".
void format_size(FILE* stream, double bytes);
