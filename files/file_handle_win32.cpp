#include <windows.h>

#include <algorithm>

#include "files/file_handle.h"
#include "files/held_files_win32.h"
#include "files/text_files.h"
#include "runtime/system_win32.h"

namespace files {

namespace {

HANDLE as_handle(const FileHandle& handle) { return reinterpret_cast<HANDLE>(handle.native()); }

struct OpenArguments {
  DWORD access;
  DWORD disposition;
};

}  // namespace

bool close_native_file(std::intptr_t native) noexcept { return CloseHandle(reinterpret_cast<HANDLE>(native)) != 0; }

FileHandle open_file_handle(TextView path, std::int32_t mode, std::int32_t share_mode) {
  OpenArguments arguments;
  switch (mode) {
    case FILE_MODE_READ:
      arguments = {GENERIC_READ, OPEN_EXISTING};
      break;
    case FILE_MODE_UPDATE:
      arguments = {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS};
      break;
    case FILE_MODE_CREATE:
      arguments = {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS};
      break;
    default:
      return FileHandle();
  }
  const runtime::WideText name(path);
  auto share = static_cast<DWORD>(share_mode);
  HANDLE handle = INVALID_HANDLE_VALUE;
  auto open = [&] {
    handle = CreateFileW(name.get(), arguments.access, share, nullptr, arguments.disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    return handle != INVALID_HANDLE_VALUE;
  };
  // A reader waits out another program's brief hold on the file; writers are not made to wait.
  if (mode == FILE_MODE_READ)
    retry_while_held(name.get(), open);
  else
    open();
  // A file that may be written but not read (or that CREATE_ALWAYS refuses) can still be emptied.
  if (handle == INVALID_HANDLE_VALUE && mode == FILE_MODE_CREATE)
    handle = CreateFileW(name.get(), GENERIC_WRITE, share, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return FileHandle();
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

std::int32_t read_from_handle(const FileHandle& handle, char* destination, std::int32_t count) {
  DWORD read = 0;
  if (!ReadFile(as_handle(handle), destination, static_cast<DWORD>(count), &read, nullptr)) return -1;
  return static_cast<std::int32_t>(read);
}

std::size_t write_to_handle(const FileHandle& handle, const char* source, std::size_t count) {
  // One WriteFile takes a 32-bit count: a longer run goes in pieces.
  constexpr std::size_t PIECE = 1u << 30;
  std::size_t total = 0;
  while (total < count) {
    DWORD written = 0;
    auto piece = static_cast<DWORD>(std::min(PIECE, count - total));
    if (!WriteFile(as_handle(handle), source + total, piece, &written, nullptr) || written == 0) break;
    total += written;
  }
  return total;
}

bool move_handle_pointer(const FileHandle& handle, std::int64_t distance, MoveFrom origin) {
  auto low = static_cast<LONG>(static_cast<std::uint64_t>(distance) & 0xFFFFFFFFu);
  auto high = static_cast<LONG>(distance >> 32);
  DWORD method = origin == MoveFrom::end ? FILE_END : FILE_CURRENT;
  SetLastError(NO_ERROR);
  DWORD result = SetFilePointer(as_handle(handle), low, &high, method);
  return result != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

std::intptr_t handle_result(const FileHandle& handle) { return handle.native(); }

Text ansi_to_text(std::string_view bytes) {
  if (bytes.empty()) return Text();
  int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (length <= 0) return Text();
  std::wstring units(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), units.data(), length);
  return runtime::text_from_wide(units);
}

std::string text_to_ansi(TextView text) {
  const runtime::WideText units(text);
  int size = WideCharToMultiByte(CP_ACP, 0, units.get(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
  if (WideCharToMultiByte(CP_ACP, 0, units.get(), -1, bytes.data(), size, nullptr, nullptr) <= 0) return std::string();
  bytes.resize(static_cast<std::size_t>(size) - 1);
  return bytes;
}

}  // namespace files
