#pragma once

// The Windows dialogs' private pieces: handle owners, the modal-state mechanism shared by every dialog,
// and the input dialog's ids. Tests include this header to drive the mechanism directly.

#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "dialogs/dialogs.h"

namespace dialogs {

// Owns one Windows handle; Release is the call that gives it back, Empty the value that holds nothing.
template <typename Handle, auto Release, Handle Empty = Handle{}>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Empty)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, Empty));
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Empty; }
  void reset(Handle handle = Empty) noexcept {
    if (handle_ != Empty) Release(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Empty;
};

// Imported system functions are not constant expressions, so the owners name these wrappers instead.
inline void free_module(HMODULE module) noexcept { FreeLibrary(module); }
inline void destroy_accelerators(HACCEL table) noexcept { DestroyAcceleratorTable(table); }

using UniqueModule = UniqueHandle<HMODULE, free_module>;
using UniqueAccelerators = UniqueHandle<HACCEL, destroy_accelerators>;

// Runs a callable when the scope ends, on every path out of it.
template <typename Callable>
class ScopeExit {
 public:
  explicit ScopeExit(Callable callable) : callable_(std::move(callable)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() { callable_(); }

 private:
  Callable callable_;
};

// A Text as Windows wants it: zero-terminated, or a null pointer for the absent Text.
class WideArgument {
 public:
  explicit WideArgument(TextView text) : absent_(runtime::is_absent(text)), copy_(runtime::until_terminator(text)) {}
  const wchar_t* get() const noexcept { return absent_ ? nullptr : reinterpret_cast<const wchar_t*>(copy_.c_str()); }
  bool absent() const noexcept { return absent_; }
  std::size_t size() const noexcept { return copy_.size(); }

 private:
  bool absent_;
  Text copy_;
};

// One top-level window that disable_thread_windows looked at and kept.
struct ThreadWindowRecord {
  DWORD thread = 0;
  HWND window = nullptr;
  bool was_topmost = false;
  bool disabled_here = false;
};

// The window a new dialog is to be owned by: the foreground window when it belongs to this process.
HWND find_owner_window();

// Before a modal dialog: records the calling thread's visible top-level windows, disables those that are
// enabled (except the foreground window) and takes the topmost ones out of the topmost band.
void disable_thread_windows();

// After the dialog: puts back and forgets every record of the calling thread, newest first.
void restore_thread_windows();

// A copy of the process-wide record list, newest first.
std::vector<ThreadWindowRecord> thread_window_records();

// The input dialog's control and command ids.
inline constexpr int ID_INPUT_EDIT = 10;
inline constexpr int ID_INPUT_OK = 1000;
inline constexpr int ID_INPUT_CANCEL = 1001;

// The folder browser's callback: selects the initial folder (data) once the browser is up.
int CALLBACK browse_callback(HWND window, UINT message, LPARAM parameter, LPARAM data);

}  // namespace dialogs
