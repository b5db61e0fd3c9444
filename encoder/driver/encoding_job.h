// One encoding as the command line describes it: image, output name, encoder, report.
#pragma once

#include <ctime>

#include "encoder/driver/encode_options.h"

void run_encoding_job(const EncodeOptions& options, time_t start_time);
