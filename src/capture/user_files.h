// Files the program writes for its user: the traffic log. Run through sudo,
// the program is root when it opens them, and root may write anywhere and
// follows any symbolic link; so they are opened with the identity of the
// user who ran sudo, and end up owned by that user, as if the user had made
// them. A link planted by someone else then leads only where that user
// could write anyway.
#pragma once

#include <sys/types.h>

#include <optional>

#include "output/owned_file.h"

namespace vestrel {

// Which file an open descriptor is, to tell two names of one file apart.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};

// The file behind an open descriptor; nothing when it cannot be told.
std::optional<FileId> fileIdOf(int descriptor);

struct OutputFile {
  OwnedFile file;        // open for writing, emptied; null on failure
  int error = 0;         // errno of the failure
  bool isInput = false;  // the file is the one not to overwrite: left as it was
};

// Opens name for writing and empties it, creating it when missing (as
// fopen's "w" does), with the invoking user's identity under sudo. A file
// that turns out to be input (the capture being read) is left untouched.
OutputFile createOutputFile(const char* name, std::optional<FileId> input = std::nullopt);

}  // namespace vestrel
