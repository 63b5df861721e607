#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "runtime/utf8.h"

namespace fuzz {

namespace {

std::string* folder = nullptr;
int previous_folder = -1;

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

void remove_folder_at_exit() {
  if (folder) remove_tree(*folder);
}

}  // namespace

const std::string& temporary_folder() {
  if (!folder) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quillbrook-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) fail("mkdtemp", pattern);
    folder = new std::string(pattern + "/");
    std::atexit(remove_folder_at_exit);
  }
  return *folder;
}

void write_whole_file(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) fail("open for writing", path);
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written <= 0) fail("write", path);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  ::close(fd);
}

std::string read_whole_file(const std::string& path, bool* exists) {
  std::string bytes;
  int fd = ::open(path.c_str(), O_RDONLY);
  if (exists) *exists = fd >= 0;
  if (fd < 0) return bytes;
  char chunk[8192];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return bytes;
}

void remove_tree(const std::string& path) { ::nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS); }

void enter_folder(const std::string& path) {
  if (previous_folder < 0) previous_folder = ::open(".", O_RDONLY | O_DIRECTORY);
  if (::chdir(path.c_str()) != 0) fail("chdir", path);
}

void leave_folder() {
  if (previous_folder < 0) return;
  if (::fchdir(previous_folder) != 0) std::perror("fchdir");
  ::close(previous_folder);
  previous_folder = -1;
}

runtime::Text to_text(const std::string& path) { return runtime::utf8_to_utf16(path); }

void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "\n*** property failed: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::fflush(stderr);
  leave_folder();
  std::abort();
}

std::string show_bytes(std::string_view bytes) {
  std::string shown;
  char hex[5];
  for (unsigned char byte : bytes) {
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += static_cast<char>(byte);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    }
  }
  return shown;
}

std::string show_text(runtime::TextView text) {
  std::string shown;
  char hex[8];
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F && unit != u'\\') {
      shown += static_cast<char>(unit);
    } else {
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(unit));
      shown += hex;
    }
  }
  return shown;
}

}  // namespace fuzz
