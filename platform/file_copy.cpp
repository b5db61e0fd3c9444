#include "platform/file_copy.h"

#include <memory>
#include <vector>

#include "platform/error.h"

namespace platform {

void copy_file_into(const Quorvale::FileSpecification& from, FILE* to, const std::string& to_name) {
  std::unique_ptr<FILE, int (*)(FILE*)> in(from.open("rb"), std::fclose);
  if (!in) throw ReadError(from.str());
  std::vector<char> chunk(1 << 20);
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), in.get())) > 0)
    if (std::fwrite(chunk.data(), 1, n, to) != n) throw WriteError(to_name);
  if (std::ferror(in.get())) throw ReadError(from.str());
  if (std::fflush(to) != 0) throw WriteError(to_name);
}

}  // namespace platform
