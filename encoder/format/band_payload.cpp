#include "encoder/format/band_payload.h"

#include "encoder/format/block_coder.h"
#include "encoder/format/ht_desc_io.h"
#include "platform/error.h"

BandPayload read_band_payload(FILE* in, int64_t offset, size_t count) {
  if (ftello(in) != offset) throw Error("File offset error in subroutine decode_indices.\n");
  BandPayload p;
  HuffmanTableDescriptor desc;
  if (ReadHTDesc(in, desc) != 0) throw Error("Error encountered in ReadHTDesc.");
  if (read_float(in, p.step) != 0) throw Error("Error encountered in read_float.");
  p.indices.assign(count, 0);
  size_t decoded = 0;
  if (expand_data(in, desc, p.indices, decoded) != 0) throw Error("Error encountered in expand_data.");
  if (decoded != count) throw Error("Incorrect number of symbols decoded.");
  return p;
}
