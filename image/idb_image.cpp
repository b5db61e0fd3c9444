#include "image/idb_image.h"

#include <memory>

#include "image/lan_image.h"
#include "platform/error.h"

using Quorvale::FileSpecification;

namespace {

// Offsets are handed to the LAN tiles as int; this keeps them, and their shifts, in range.
constexpr int64_t kMaxOffset = 1000000000;

int64_t ipow2(int exponent) {
  if (exponent < 0 || exponent > 30) throw Error("Exponent error in subroutine ipow.");
  return int64_t{1} << exponent;
}

bool exists(const std::string& path) { return Quorvale::exists(FileSpecification(path)); }

bool ends_with(const std::string& text, const char* tail) {
  const std::string t(tail);
  return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

struct Node {
  std::string path;
  int depth = 0;
  bool leaf = false;
  std::unique_ptr<Node> children[4];
};

class TreeBuilder {
 public:
  std::unique_ptr<Node> build_root(const std::string& root) {
    if (!exists(root))
      throw Error(format_message("IDB root directory %s does not exist.", root.c_str()));
    leaf_depth_ = -1;
    return build(root, 0);
  }

  int leaf_depth() const { return leaf_depth_; }
  int tile_width() const { return width_; }
  int tile_height() const { return height_; }

 private:
  std::unique_ptr<Node> build(const std::string& path, int depth) {
    auto node = std::make_unique<Node>();
    node->path = path;
    node->depth = depth;
    if (depth == 0) {
      for (int k = 0; k < 4; ++k) node->children[k] = build(path + "/00" + std::to_string(k), 1);
    } else if (depth == 1) {
      for (int k = 0; k < 4; ++k) {
        const std::string name = path + "00" + std::to_string(k);
        if (exists(name)) node->children[k] = build(name, 2);
      }
    } else {
      build_lower(node.get());
    }
    return node;
  }

  void build_lower(Node* node) {
    bool any = false;
    for (int k = 0; k < 4; ++k) {
      const std::string name = node->path + "/" + static_cast<char>('a' + k);
      if (exists(name)) {
        any = true;
        node->children[k] = build(name, node->depth + 1);
      }
    }
    if (!any) build_tile_directory(node);
  }

  void build_tile_directory(Node* node) {
    if (ends_with(node->path, "lan") || ends_with(node->path, "LAN")) {
      node->leaf = true;
      register_tile(*node);
      return;
    }
    bool any = false;
    for (int k = 0; k < 4; ++k) {
      const std::string name = node->path + "/" + std::to_string(k) + ".lan";
      if (exists(name)) {
        any = true;
        node->children[k] = build(name, node->depth + 1);
      }
    }
    if (!any)
      throw Error(format_message(
          "IDB error: The directory %s contains no subdirectories or .lan files.",
          node->path.c_str()));
  }

  void register_tile(const Node& leaf) {
    LANImage tile(leaf.path);
    if (leaf_depth_ < 0) {
      leaf_depth_ = leaf.depth;
      width_ = tile.image_width;
      height_ = tile.image_height;
      return;
    }
    if (leaf.depth != leaf_depth_) throw Error("IDB Error: Incompatible subdirectory depth.");
    if (tile.image_width != width_ || tile.image_height != height_)
      throw Error("IDB Error: All of the .lan images do not have the same dimensions.");
  }

  int leaf_depth_ = -1;
  int width_ = 0, height_ = 0;
};

class OffsetAssigner {
 public:
  OffsetAssigner(int leaf_depth, int width, int height, std::vector<IDBTile>* tiles)
      : d_(leaf_depth), w_(width), h_(height), tiles_(*tiles) {}

  void assign(const Node& node, int64_t x, int64_t y) {
    if (x > kMaxOffset || y > kMaxOffset)
      throw Error("IDB Error: the database is larger than the largest image size.");
    if (node.leaf) {
      tiles_.push_back({node.path, x, y});
      return;
    }
    for (int k = 0; k < 4; ++k) {
      if (!node.children[k]) continue;
      int64_t cx, cy;
      if (node.depth == 0) {
        cx = k * ipow2(d_ - 2) * w_;
        cy = 0;
      } else if (node.depth == 1) {
        cx = x;
        cy = k * ipow2(d_ - 2) * h_;
      } else {
        const int64_t s = ipow2(d_ - node.depth - 1);
        cx = x + (k % 2) * s * w_;
        cy = y + (k / 2) * s * h_;
      }
      assign(*node.children[k], cx, cy);
    }
  }

 private:
  int d_, w_, h_;
  std::vector<IDBTile>& tiles_;
};

std::vector<std::unique_ptr<ImageFile>> open_tiles(const FileSpecification& root) {
  const std::vector<IDBTile> tiles = find_idb_tiles(root.str());
  if (tiles.empty())
    throw Error(format_message("IDB error: The database %s contains no .lan files.", root.path()));
  std::vector<std::unique_ptr<ImageFile>> members;
  for (const IDBTile& tile : tiles)
    members.push_back(std::make_unique<LANImage>(tile.path, static_cast<int>(tile.x),
                                                 static_cast<int>(tile.y)));
  return members;
}

}  // namespace

std::vector<IDBTile> find_idb_tiles(const std::string& root) {
  TreeBuilder builder;
  std::unique_ptr<Node> tree = builder.build_root(root);
  std::vector<IDBTile> tiles;
  if (builder.leaf_depth() < 0) return tiles;
  OffsetAssigner(builder.leaf_depth(), builder.tile_width(), builder.tile_height(), &tiles)
      .assign(*tree, 0, 0);
  return tiles;
}

IDBImage::IDBImage(const FileSpecification& root) : ImageMosaic(open_tiles(root)) {
  color_scheme = nband == 1 ? kSchemeGray : kSchemeRGB;
}
