#include "encoder/driver/encoding_job.h"

#include "platform/error.h"

void run_encoding_job(const EncodeOptions&, time_t) {
  throw Error("Error: the wavelet encoder is not available in this build.");
}
