// A static-file HTTP server with range requests on 127.0.0.1 (Debian's nginx), serving one
// folder for the life of the object, with an access log to count requests by. Not available
// (ok() false) where nginx is not installed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/scratch_dir.h"

namespace vexal_test {

class LoopbackHttp {
 public:
  explicit LoopbackHttp(const std::filesystem::path& root);
  ~LoopbackHttp();
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;

  bool ok() const { return pid_ > 0; }
  // "http://127.0.0.1:PORT/" + name.
  std::string url(const std::string& name) const;
  // Requests logged so far for paths that end in `name`.
  int requests_for(const std::string& name) const;

 private:
  ScratchDir conf_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace vexal_test
