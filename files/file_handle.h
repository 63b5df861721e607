#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/text.h"

// The few system calls of the text-file library, declared once and defined per platform.
namespace files {

using runtime::Text;
using runtime::TextView;

// Owns one open file of the system (a Windows file handle or a POSIX descriptor). Move-only; the
// destructor closes without reporting, close() reports.
class FileHandle {
 public:
  // Both INVALID_HANDLE_VALUE and the invalid descriptor are -1.
  static constexpr std::intptr_t EMPTY = -1;

  FileHandle() = default;
  explicit FileHandle(std::intptr_t native) noexcept : native_(native) {}
  FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, EMPTY)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      close();
      native_ = std::exchange(other.native_, EMPTY);
    }
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { close(); }

  bool is_open() const noexcept { return native_ != EMPTY; }
  std::intptr_t native() const noexcept { return native_; }
  // Closes the file; false when the system reported a failure. The owner is empty afterwards.
  bool close() noexcept;

 private:
  std::intptr_t native_ = EMPTY;
};

// Opens the file with the access and creation rules of the open mode (1 read, 2 update, 3 create)
// and the share mode (0, 1 or 7, as Windows counts them). An empty owner on failure.
FileHandle open_file_handle(TextView path, std::int32_t mode, std::int32_t share_mode);

// Up to `count` bytes, fewer only at the end of the file; -1 when the system failed.
std::int32_t read_from_handle(const FileHandle& handle, char* destination, std::int32_t count);

// The bytes written; fewer than `count` when the system failed.
std::size_t write_to_handle(const FileHandle& handle, const char* source, std::size_t count);

enum class MoveFrom { current, end };
bool move_handle_pointer(const FileHandle& handle, std::int64_t distance, MoveFrom origin);

// What open_file_object returns for a fixed number: non-zero for every open file.
std::intptr_t handle_result(const FileHandle& handle);

// The Text in the ANSI code page; empty when it cannot be converted.
std::string text_to_ansi(TextView text);

}  // namespace files
