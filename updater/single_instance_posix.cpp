#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "files/folders.h"
#include "runtime/utf8.h"
#include "updater/single_instance.h"

namespace updater {

bool is_another_instance_running() {
  // The user's configuration folder, where the add-ons folder lives too. The descriptor stays open
  // until the process ends, which releases the lock, also after a crash.
  const std::string folder = runtime::utf16_to_utf8(files::get_user_folder(files::USER_FOLDER_APPDATA));
  if (folder.empty()) return false;
  int lock = ::open((folder + "quillbrook.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return false;
  int locked;
  do locked = ::flock(lock, LOCK_EX | LOCK_NB);
  while (locked != 0 && errno == EINTR);
  return locked != 0 && errno == EWOULDBLOCK;
}

}  // namespace updater
