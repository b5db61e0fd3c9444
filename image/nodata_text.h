// GDAL_NODATA text read as a sample value of the image it belongs to. GDAL itself reads any
// text (an "abc" as 0) and keeps values no sample can hold; here such a tag is reported and
// set aside, so that the value recorded in the output is one its pixels can have.
#pragma once

#include <optional>
#include <string>

// The value `text` names (surrounding spaces allowed) when a sample of the image's type can
// hold it: an integer in range for 8-bit and 16-bit samples (signed ones when
// `signed_samples`), any float value (not-a-number and infinities included) for float ones.
std::optional<double> nodata_sample(const std::string& text, int data_type, bool signed_samples);

// "8-bit", "16-bit unsigned", "16-bit signed" or "float", for messages.
std::string sample_type_name(int data_type, bool signed_samples);
