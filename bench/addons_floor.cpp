// The file-system floor of an update run: the same work on every add-on as the updater does, done
// with the plainest system calls and nothing else (no dialogs, no UTF-16, no pattern engine), and
// written as durably (temporary file, flush, rename, folder flush). The updater's time over this one's
// is what its own code costs.
//
// addons_floor <add-ons folder> <version>; prints the number of manifests rewritten.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view KEY = "lastTestedNVDAVersion";
constexpr std::size_t CHUNK = 64 * 1024;

bool read_whole(const char* path, std::string& bytes) {
  int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  bytes.clear();
  char chunk[CHUNK];
  ssize_t got;
  while ((got = read(descriptor, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<std::size_t>(got));
  close(descriptor);
  return got == 0;
}

// Durably, as the program writes: a temporary file beside the file, flushed, renamed over it, and
// the folder flushed.
bool write_durably(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".new";
  int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (descriptor < 0) return false;
  bool complete =
      write(descriptor, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && fdatasync(descriptor) == 0;
  if (close(descriptor) != 0 || !complete || rename(temporary.c_str(), path.c_str()) != 0) return false;
  const std::string folder = path.substr(0, path.rfind('/'));
  int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  bool flushed = fsync(directory) == 0;
  return close(directory) == 0 && flushed;
}

// Every key line's value, the digits and dots after "= ", becomes the version.
std::string with_version(const std::string& text, std::string_view version) {
  std::string result;
  result.reserve(text.size() + 16);
  std::size_t from = 0;
  for (std::size_t key = text.find(KEY); key != std::string::npos; key = text.find(KEY, from)) {
    std::size_t value = key + KEY.size();
    while (value < text.size() && (text[value] == ' ' || text[value] == '=')) ++value;
    std::size_t end = value;
    while (end < text.size() && (text[end] == '.' || (text[end] >= '0' && text[end] <= '9'))) ++end;
    result.append(text, from, value - from);
    result.append(version);
    from = end;
  }
  result.append(text, from);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || chdir(argv[1]) != 0) {
    std::fprintf(stderr, "usage: addons_floor <add-ons folder> <version>\n");
    return 2;
  }
  const std::string_view version = argv[2];
  DIR* folder = opendir(".");
  if (!folder) return 1;
  std::string manifest, backup, bytes;
  int modified = 0;
  while (dirent* entry = readdir(folder)) {
    if (entry->d_name[0] == '.') continue;
    manifest = std::string(entry->d_name) + "/manifest.ini";
    struct stat status;
    if (stat(manifest.c_str(), &status) != 0) continue;
    if (!read_whole(manifest.c_str(), bytes)) continue;
    mkdir("../manifest backups", 0777);
    mkdir(("../manifest backups/" + std::string(entry->d_name)).c_str(), 0777);
    backup = "../manifest backups/" + manifest;
    // A copy is its own read of the source, as any copy routine does it.
    std::string copied;
    if (!read_whole(manifest.c_str(), copied) || !write_durably(backup, copied)) return 1;
    if (!write_durably(manifest, with_version(bytes, version))) return 1;
    ++modified;
  }
  closedir(folder);
  std::printf("%d modified\n", modified);
  return 0;
}
