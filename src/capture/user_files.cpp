#include "capture/user_files.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "capture/privileges.h"

namespace vestrel {

namespace {

constexpr uid_t kUnchanged = static_cast<uid_t>(-1);

// The groups a user is in, its own group first; just that group for a user
// without a name.
std::vector<gid_t> groupsOf(const DropTarget& user) {
  if (!user.userName) return {user.gid};
  int count = 32;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  while (getgrouplist(user.userName->c_str(), user.gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
  }
  groups.resize(static_cast<size_t>(count));
  return groups;
}

std::vector<gid_t> currentGroups() {
  const int count = getgroups(0, nullptr);
  if (count <= 0) return {};
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int read = getgroups(count, groups.data());
  groups.resize(read > 0 ? static_cast<size_t>(read) : 0);
  return groups;
}

// While it lives, file access is checked against the user's ids and groups
// (the file-system ids, which only open and its kin look at); the process
// stays root for everything else, and is root again when it ends.
class UserFileAccess {
 public:
  explicit UserFileAccess(const DropTarget& user) : savedGroups_(currentGroups()) {
    const std::vector<gid_t> groups = groupsOf(user);
    groupsChanged_ = setgroups(groups.size(), groups.data()) == 0;
    savedGroup_ = setfsgid(user.gid);
    savedUser_ = setfsuid(user.uid);
    // Both calls answer with the old id, even when they fail: ask again.
    ok_ = groupsChanged_ && static_cast<uid_t>(setfsuid(kUnchanged)) == user.uid &&
          static_cast<gid_t>(setfsgid(kUnchanged)) == user.gid;
  }
  ~UserFileAccess() {
    setfsuid(static_cast<uid_t>(savedUser_));
    setfsgid(static_cast<gid_t>(savedGroup_));
    if (groupsChanged_) static_cast<void>(setgroups(savedGroups_.size(), savedGroups_.data()));
  }
  UserFileAccess(const UserFileAccess&) = delete;
  UserFileAccess& operator=(const UserFileAccess&) = delete;

  bool ok() const { return ok_; }

 private:
  std::vector<gid_t> savedGroups_;
  bool groupsChanged_ = false;
  int savedGroup_ = 0;
  int savedUser_ = 0;
  bool ok_ = false;
};

// Open for writing, created if missing, not yet emptied; -1 on failure.
int openForWriting(const char* name) {
  constexpr mode_t kNewFileMode = 0666;  // less the umask, as fopen makes it
  std::optional<UserFileAccess> access;
  if (const auto invoker = sudoInvoker(processPrivileges())) {
    access.emplace(*invoker);
    if (!access->ok()) {
      errno = EPERM;
      return -1;
    }
  }
  return open(name, O_WRONLY | O_CREAT | O_CLOEXEC, kNewFileMode);
}

}  // namespace

std::optional<FileId> fileIdOf(int descriptor) {
  struct stat status {};
  if (fstat(descriptor, &status) != 0) return std::nullopt;
  return FileId{status.st_dev, status.st_ino};
}

OutputFile createOutputFile(const char* name, std::optional<FileId> input) {
  OutputFile result;
  const int descriptor = openForWriting(name);
  if (descriptor < 0) {
    result.error = errno;
    return result;
  }
  // Emptied only once it is known not to be the input: a second name for
  // the same file (a link, ./x for x) must not destroy it.
  struct stat status {};
  const bool known = fstat(descriptor, &status) == 0;
  if (input && known && *input == FileId{status.st_dev, status.st_ino}) {
    close(descriptor);
    result.isInput = true;
    return result;
  }
  // Pipes, terminals and devices have nothing to empty.
  if (known && S_ISREG(status.st_mode) && ftruncate(descriptor, 0) != 0) {
    result.error = errno;
    close(descriptor);
    return result;
  }
  result.file.reset(fdopen(descriptor, "w"));
  if (!result.file) {
    result.error = errno;
    close(descriptor);
  }
  return result;
}

}  // namespace vestrel
