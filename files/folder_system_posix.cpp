#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "files/file_handle.h"
#include "files/folder_system.h"
#include "files/system_path_posix.h"
#include "runtime/system_posix.h"
#include "runtime/utf8.h"

namespace files::folder_system {

namespace {

using DirHandle = runtime::UniqueFolderStream;

using posix_path::system_path;
using posix_path::with_slashes;

constexpr char16_t NAME_BACKSLASHES[] = {u'\\', runtime::NAME_BACKSLASH, 0};

// Windows wildcards: `*` is any run of units, `?` exactly one. As on Windows, a final "." followed
// only by `*`s also matches where a name has no dot left, so "*.*" matches every name. Names compare
// unit for unit: the file system tells "A" from "a", so the pattern does too.
bool matches_wildcard(std::u16string_view name, std::u16string_view pattern) {
  std::size_t n = 0, p = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  if (p < pattern.size() && pattern[p] == u'.') {
    ++p;
    while (p < pattern.size() && pattern[p] == u'*') ++p;
  }
  return p == pattern.size();
}

// A symbolic link reports what it points to; a dangling one reports itself.
bool stat_entry(int folder, const char* path, FolderEntry& entry) {
  struct stat status;
  if (fstatat(folder, path, &status, 0) != 0 && fstatat(folder, path, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  entry.is_folder = S_ISDIR(status.st_mode);
  entry.size = entry.is_folder ? 0 : static_cast<std::int64_t>(status.st_size);
  return true;
}

bool is_folder_path(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

class DirectorySearch final : public FolderSearch {
 public:
  DirectorySearch(DirHandle dir, Text pattern) : dir_(std::move(dir)), pattern_(std::move(pattern)) {}

  bool next_entry(FolderEntry& entry) override {
    while (dirent* item = readdir(dir_.get())) {
      // A name with a backslash could not be named again through a path, where the backslash
      // separates components, nor could one that is not UTF-8, which has no Text of its own (and no
      // Windows name holds either): such an entry is not listed at all.
      if (!runtime::is_valid_utf8(item->d_name)) continue;
      FolderEntry found{runtime::utf8_to_utf16(item->d_name)};
      if (found.name.find_first_of(NAME_BACKSLASHES) != Text::npos) continue;
      if (!matches_wildcard(found.name, pattern_)) continue;
      // The file system usually tells a folder apart in the entry itself, which spares a status query
      // for each sub-folder of a large folder; anything else is asked for (a file's size, a link's
      // target). An entry removed since readdir saw it is passed over.
      if (item->d_type == DT_DIR) {
        found.is_folder = true;
        found.size = 0;
      } else if (!stat_entry(dirfd(dir_.get()), item->d_name, found)) {
        continue;
      }
      entry = std::move(found);
      return true;
    }
    return false;
  }

 private:
  DirHandle dir_;
  Text pattern_;
};

// A search for a name without wildcards has its one entry and nothing more.
class EndedSearch final : public FolderSearch {
 public:
  bool next_entry(FolderEntry&) override { return false; }
};

std::string home_folder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) return user->pw_dir;
  return {};
}

std::string config_home() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') return config;
  std::string home = home_folder();
  return home.empty() ? std::string() : home + "/.config";
}

// The user folder named XDG_<key>_DIR: from the environment, else from user-dirs.dirs, a shell
// fragment of lines like XDG_DOWNLOAD_DIR="$HOME/Downloads". Empty when neither names one.
std::string xdg_user_dir(std::string_view key) {
  std::string variable = "XDG_" + std::string(key) + "_DIR";
  if (const char* value = std::getenv(variable.c_str()); value && value[0] == '/') return value;
  std::string config = config_home();
  if (config.empty()) return {};
  std::ifstream file(config + "/user-dirs.dirs");
  std::string line, found;
  while (std::getline(file, line)) {
    std::string_view rest(line);
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    if (!rest.starts_with(variable + "=")) continue;
    rest.remove_prefix(variable.size() + 1);
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
    std::string value;
    if (rest.starts_with("$HOME"))
      value = home_folder() + std::string(rest.substr(5));
    else
      value = rest;
    // Only absolute values are meaningful; a later line wins, as when the shell reads the file.
    if (!value.empty() && value[0] == '/') found = value;
  }
  return found;
}

// A backslash in the folder's name stays part of the name.
Text closed_folder(const std::string& folder) {
  if (folder.empty()) return {};
  std::optional<Text> text = posix_path::to_path_text(folder);
  if (!text) return {};
  if (text->back() != u'/') text->push_back(u'/');
  return *text;
}

}  // namespace

SearchStart start_search(const Text& path) {
  Text slashed = with_slashes(path);
  auto cut = slashed.rfind(u'/');
  Text folder = cut == Text::npos ? Text(u".") : slashed.substr(0, cut + 1);
  Text pattern = cut == Text::npos ? slashed : slashed.substr(cut + 1);
  std::string folder_bytes = system_path(folder);

  SearchStart start;
  if (pattern.find_first_of(u"*?") == Text::npos) {
    start.first.name = pattern;
    if (!pattern.empty() && stat_entry(AT_FDCWD, system_path(slashed).c_str(), start.first)) {
      start.outcome = SearchOutcome::found;
      start.search = std::make_unique<EndedSearch>();
      return start;
    }
    start.first = {};
    start.outcome = is_folder_path(folder_bytes) ? SearchOutcome::nothing_matched : SearchOutcome::failed;
    return start;
  }

  DirHandle dir(opendir(folder_bytes.c_str()));
  if (!dir) return start;
  auto search = std::make_unique<DirectorySearch>(std::move(dir), std::move(pattern));
  if (search->next_entry(start.first)) {
    start.outcome = SearchOutcome::found;
    start.search = std::move(search);
  } else {
    start.outcome = SearchOutcome::nothing_matched;
  }
  return start;
}

bool has_drive_letters() { return false; }

bool is_known_drive(const Text&) { return false; }

std::optional<bool> read_is_folder(const Text& path) {
  struct stat status;
  if (stat(system_path(path).c_str(), &status) != 0) return std::nullopt;
  return S_ISDIR(status.st_mode);
}

bool make_folder(const Text& path) { return mkdir(system_path(path).c_str(), 0777) == 0; }

namespace {

// The folder that holds the file, where a rename is recorded.
std::string folder_of(const std::string& file) {
  const std::size_t cut = file.rfind('/');
  return cut == std::string::npos ? "." : cut == 0 ? "/" : file.substr(0, cut);
}

// A rename is on the disk only once its folder is.
bool flush_folder(const std::string& folder) {
  FileHandle handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!handle.is_open()) return false;
  bool flushed = ::fsync(static_cast<int>(handle.native())) == 0;
  return handle.close() && flushed;
}

mode_t process_umask() {
  static const mode_t mask = [] {
    mode_t value = ::umask(0);
    ::umask(value);
    return value;
  }();
  return mask;
}

}  // namespace

bool remove_file_waiting(const SystemName& name) noexcept { return ::unlink(name.c_str()) == 0 || errno == ENOENT; }

ReplaceOutcome replace_file_durably(const Text& path, std::string_view bytes, const Text& model,
                                    const std::function<bool()>& still_expected) {
  const std::string target = system_path(path);
  std::string temporary_name = target + runtime::utf16_to_utf8(TEMPORARY_SUFFIX);
  // Taken before the rename, so that nothing after it can fail for want of memory.
  const std::string folder = folder_of(target);
  struct stat status;
  const mode_t mode = ::stat(system_path(model).c_str(), &status) == 0 ? status.st_mode & 07777 : 0666;
  // Made afresh, so that nothing planted at the name (a link) is written through.
  auto make = [&] { return ::open(temporary_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode); };
  int descriptor = make();
  if (descriptor < 0 && errno == EEXIST) {
    // What cannot be removed from the name fails the replace, as on Windows: only a folder that takes
    // no new file at all is told apart below.
    if (::unlink(temporary_name.c_str()) != 0 && errno != ENOENT) return ReplaceOutcome::failed;
    descriptor = make();
  }
  if (descriptor < 0)
    return errno == EACCES || errno == EPERM ? ReplaceOutcome::folder_refused : ReplaceOutcome::failed;
  TemporaryFile temporary(std::move(temporary_name), FileHandle(descriptor));
  bool written = write_to_handle(temporary.file(), bytes.data(), bytes.size()) == bytes.size() &&
                 ((mode & process_umask()) == 0 || ::fchmod(descriptor, mode) == 0) && ::fdatasync(descriptor) == 0;
  written = temporary.close() && written;
  if (!written) return ReplaceOutcome::failed;
  if (!still_expected()) return ReplaceOutcome::changed;
  if (::rename(temporary.name().c_str(), target.c_str()) != 0) return ReplaceOutcome::failed;
  temporary.renamed();
  return flush_folder(folder) ? ReplaceOutcome::replaced : ReplaceOutcome::replaced_unflushed;
}

bool is_writable(const Text& path) { return ::faccessat(AT_FDCWD, system_path(path).c_str(), W_OK, AT_EACCESS) == 0; }

bool change_current_folder(const Text& path) { return chdir(system_path(path).c_str()) == 0; }

Text read_current_folder() {
  std::error_code error;
  auto folder = std::filesystem::current_path(error);
  if (error) return {};
  return posix_path::to_path_text(folder.native()).value_or(Text());
}

char16_t closing_separator() { return u'/'; }

Text user_folder(std::int32_t id) {
  constexpr std::string_view XDG_KEYS[] = {"DESKTOP", "",       "DOWNLOAD", "DOCUMENTS", "",
                                           "",        "VIDEOS", "MUSIC",    "PICTURES",  "PUBLICSHARE"};
  if (id < 0 || id >= static_cast<std::int32_t>(std::size(XDG_KEYS))) return {};
  if (id == 4) return closed_folder(config_home());
  std::string_view key = XDG_KEYS[id];
  std::string folder = key.empty() ? std::string() : xdg_user_dir(key);
  return closed_folder(folder.empty() ? home_folder() : folder);
}

}  // namespace files::folder_system
