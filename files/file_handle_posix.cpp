#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "files/file_handle.h"
#include "files/system_path_posix.h"
#include "files/text_files.h"
#include "runtime/utf8.h"

namespace files {

namespace {

int as_descriptor(const FileHandle& handle) { return static_cast<int>(handle.native()); }

// Windows-1252 stands in for the ANSI code page. Its five undefined bytes map to the C1 controls of
// the same value, as Windows converts them.
constexpr std::array<char16_t, 32> WINDOWS_1252_HIGH = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t windows_1252_to_unit(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return WINDOWS_1252_HIGH[byte - 0x80];
  return byte;
}

char unit_to_windows_1252(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
  for (std::size_t index = 0; index < WINDOWS_1252_HIGH.size(); ++index)
    if (WINDOWS_1252_HIGH[index] == unit) return static_cast<char>(0x80 + index);
  return '?';
}

}  // namespace

bool close_native_file(std::intptr_t native) noexcept {
  // Never retry close on EINTR: the descriptor is gone either way.
  return ::close(static_cast<int>(native)) == 0;
}

FileHandle open_file_handle(TextView path, std::int32_t mode, std::int32_t /*share_mode*/) {
  int flags;
  switch (mode) {
    case FILE_MODE_READ:
      flags = O_RDONLY;
      break;
    case FILE_MODE_UPDATE:
      flags = O_RDWR | O_CREAT;
      break;
    case FILE_MODE_CREATE:
      flags = O_RDWR | O_CREAT | O_TRUNC;
      break;
    default:
      return FileHandle();
  }
  std::string name = posix_path::system_path(path);
  // A read never waits for a FIFO's writer: only regular files are read, which the check below
  // makes sure of once the open has returned.
  if (mode == FILE_MODE_READ) flags |= O_NONBLOCK;
  int descriptor = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
  if (descriptor < 0 && mode == FILE_MODE_CREATE) descriptor = ::open(name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (descriptor < 0) return FileHandle();
  FileHandle handle(descriptor);
  // Windows refuses to open a folder as a file; a read-only open of one succeeds here, as does one of
  // a FIFO, a socket or a device, whose reads may block or never end (opens for writing fail on a
  // folder by themselves). O_NONBLOCK may stay: it changes nothing for a regular file.
  struct stat status;
  if (mode == FILE_MODE_READ && (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) return FileHandle();
  return handle;
}

std::int32_t read_from_handle(const FileHandle& handle, char* destination, std::int32_t count) {
  std::int32_t total = 0;
  while (total < count) {
    ssize_t read = ::read(as_descriptor(handle), destination + total, static_cast<std::size_t>(count - total));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return -1;
    if (read == 0) break;
    total += static_cast<std::int32_t>(read);
  }
  return total;
}

std::size_t write_to_handle(const FileHandle& handle, const char* source, std::size_t count) {
  std::size_t total = 0;
  while (total < count) {
    ssize_t written = ::write(as_descriptor(handle), source + total, count - total);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    total += static_cast<std::size_t>(written);
  }
  return total;
}

bool move_handle_pointer(const FileHandle& handle, std::int64_t distance, MoveFrom origin) {
  return ::lseek(as_descriptor(handle), static_cast<off_t>(distance), origin == MoveFrom::end ? SEEK_END : SEEK_CUR) >=
         0;
}

// Descriptor 0 is a valid file, so the result is shifted by one to stay non-zero.
std::intptr_t handle_result(const FileHandle& handle) { return handle.native() + 1; }

Text ansi_to_text(std::string_view bytes) {
  Text text;
  text.reserve(bytes.size());
  for (char byte : bytes) text.push_back(windows_1252_to_unit(static_cast<unsigned char>(byte)));
  return text;
}

std::string text_to_ansi(TextView text) {
  TextView units = runtime::until_terminator(text);
  std::string bytes;
  bytes.reserve(units.size());
  for (std::size_t index = 0; index < units.size(); ++index) {
    // A surrogate pair is one character that the code page lacks: one question mark.
    if (runtime::is_high_surrogate(units[index]) && index + 1 < units.size() &&
        runtime::is_low_surrogate(units[index + 1])) {
      bytes.push_back('?');
      ++index;
      continue;
    }
    bytes.push_back(unit_to_windows_1252(units[index]));
  }
  return bytes;
}

}  // namespace files
