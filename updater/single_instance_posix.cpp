#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <string>

#include "files/folders.h"
#include "runtime/system_posix.h"
#include "runtime/utf8.h"
#include "updater/single_instance.h"

namespace updater {

bool is_another_instance_running() {
  // A lock on the user's configuration folder itself, where the add-ons folder lives too: nothing is
  // made there. The descriptor stays open until the process ends, which releases the lock, also after
  // a crash.
  const std::string folder = runtime::utf16_to_utf8(files::get_user_folder(files::USER_FOLDER_APPDATA));
  if (folder.empty()) return false;
  runtime::UniqueDescriptor claim(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!claim) return false;
  int locked;
  do locked = ::flock(claim.get(), LOCK_EX | LOCK_NB);
  while (locked != 0 && errno == EINTR);
  if (locked != 0) return errno == EWOULDBLOCK;
  static runtime::UniqueDescriptor held(claim.release());
  return false;
}

}  // namespace updater
