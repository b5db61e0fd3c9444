// Metadata values as people read them: for the -info listing and for the library's records.
#pragma once

#include <string>

#include "metadata/metadata.h"

// Value k of the record: a number as printf prints it ("%.15g" for doubles), a text without its
// trailing newlines.
std::string metadata_value_text(const MetadataRecord& record, int k);
// Value k of a numeric record as a double (exact for every integer type); 0 for a text.
double metadata_number(const MetadataRecord& record, int k);
