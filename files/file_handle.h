#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/text.h"
#include "runtime/unique_handle.h"

// The few system calls of the text-file library, declared once and defined per platform.
namespace files {

using runtime::Text;
using runtime::TextView;

// Closes a file of the system; false when the system reported a failure.
bool close_native_file(std::intptr_t native) noexcept;

struct NativeFileTraits {
  using Value = std::intptr_t;
  // Both INVALID_HANDLE_VALUE and the invalid descriptor are -1.
  static Value empty() noexcept { return -1; }
  static void release(Value value) noexcept { close_native_file(value); }
};

// Owns one open file of the system (a Windows file handle or a POSIX descriptor). Move-only; the
// destructor closes without reporting, close() reports.
class FileHandle : public runtime::UniqueHandle<NativeFileTraits> {
 public:
  using UniqueHandle::UniqueHandle;

  bool is_open() const noexcept { return static_cast<bool>(*this); }
  std::intptr_t native() const noexcept { return get(); }
  // Closes the file; false when the system reported a failure. The owner is empty afterwards.
  bool close() noexcept { return !is_open() || close_native_file(release()); }
};

// Share modes of open_file_handle, as Windows counts them (POSIX has no share modes).
inline constexpr std::int32_t SHARE_NONE = 0;
inline constexpr std::int32_t SHARE_READ = 1;
inline constexpr std::int32_t SHARE_ALL = 7;

// Opens the file with the access and creation rules of the open mode (1 read, 2 update, 3 create)
// and the share mode. An empty owner on failure. An open for reading waits out another program's
// brief hold on the file.
FileHandle open_file_handle(TextView path, std::int32_t mode, std::int32_t share_mode);

// Up to `count` bytes, fewer only at the end of the file; -1 when the system failed.
std::int32_t read_from_handle(const FileHandle& handle, char* destination, std::int32_t count);

// The bytes written; fewer than `count` when the system failed.
std::size_t write_to_handle(const FileHandle& handle, const char* source, std::size_t count);

// True when the file, read from where its pointer stands to its end, holds exactly `bytes`; read
// piece by piece, so that no second copy of a large file is made.
inline bool handle_holds_bytes(const FileHandle& handle, std::string_view bytes) {
  char piece[16 * 1024];
  std::size_t compared = 0;
  for (;;) {
    const std::int32_t got = read_from_handle(handle, piece, static_cast<std::int32_t>(sizeof piece));
    if (got < 0) return false;
    if (got == 0) return compared == bytes.size();
    const auto count = static_cast<std::size_t>(got);
    if (bytes.substr(compared, count) != std::string_view(piece, count)) return false;
    compared += count;
  }
}

enum class MoveFrom { current, end };
bool move_handle_pointer(const FileHandle& handle, std::int64_t distance, MoveFrom origin);

// What open_file_object returns for a fixed number: non-zero for every open file.
std::intptr_t handle_result(const FileHandle& handle);

// The Text in the ANSI code page; empty when it cannot be converted.
std::string text_to_ansi(TextView text);

// Bytes in the ANSI code page as a Text.
Text ansi_to_text(std::string_view bytes);

}  // namespace files
