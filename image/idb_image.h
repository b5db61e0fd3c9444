// Image databases: a directory tree whose leaves are equally sized ERDAS LAN tiles, read as one
// mosaic. The root has four subtrees side by side; each of those holds up to four strips one
// above the other; deeper levels split 2 x 2 into subdirectories a, b, c, d (row order) down
// to tile directories holding 0.lan to 3.lan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_mosaic.h"

struct IDBTile {
  std::string path;
  int64_t x = 0, y = 0;  // pixel offset of the tile in the database
};

// Walks the tree under `root` and returns its tiles in tree order with their offsets. Throws
// the database errors ("IDB root directory %s does not exist.", mismatched depths or sizes...).
std::vector<IDBTile> find_idb_tiles(const std::string& root);

class IDBImage : public ImageMosaic {
 public:
  explicit IDBImage(const Quorvale::FileSpecification& root);
};
