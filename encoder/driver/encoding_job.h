// One encoding as the command line describes it: image, output name, encoder, report.
#pragma once

#include <ctime>
#include <functional>

#include "encoder/driver/encode_options.h"

// `announce` prints the banners once the output place and the input are known to be usable.
void run_encoding_job(const EncodeOptions& options, time_t start_time,
                      const std::function<void()>& announce);
