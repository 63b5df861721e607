#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "files/folders.h"
#include "files/system_path_posix.h"
#include "runtime/system_posix.h"
#include "updater/single_instance.h"

namespace updater {

namespace {

// Makes the folder and any missing folder above it, each for this user alone, as a program may make
// a missing configuration folder.
void make_missing_folders(const std::string& folder) {
  for (std::size_t cut = folder.find('/', 1); cut != std::string::npos; cut = folder.find('/', cut + 1))
    ::mkdir(folder.substr(0, cut).c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
}

}  // namespace

RunClaim claim_run() {
  // A lock on the user's configuration folder itself, where the add-ons folder lives too: nothing is
  // made in it, and a missing one is made first. The descriptor stays open until the process ends,
  // which releases the lock, also after a crash.
  RunClaim claim{ClaimOutcome::FAILED, files::get_user_folder(files::USER_FOLDER_APPDATA)};
  if (claim.path.empty()) return claim;
  const std::string folder = files::posix_path::system_path(claim.path);
  auto open_folder = [&] {
    return runtime::UniqueDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  };
  runtime::UniqueDescriptor descriptor = open_folder();
  if (!descriptor && errno == ENOENT) {
    make_missing_folders(folder);
    descriptor = open_folder();
  }
  if (!descriptor) return claim;
  int locked;
  do locked = ::flock(descriptor.get(), LOCK_EX | LOCK_NB);
  while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    if (errno == EWOULDBLOCK) claim.outcome = ClaimOutcome::ANOTHER_RUN;
    return claim;
  }
  static runtime::UniqueDescriptor held(descriptor.release());
  claim.outcome = ClaimOutcome::CLAIMED;
  return claim;
}

}  // namespace updater
