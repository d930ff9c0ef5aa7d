// A file this program writes and closes itself.
#pragma once

#include <cstdio>
#include <memory>

namespace vestrel {

struct FileCloser {
  // Only output files are closed here, and their writes were flushed and
  // checked before: the close has nothing left to report.
  void operator()(FILE* file) const { static_cast<void>(std::fclose(file)); }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace vestrel
