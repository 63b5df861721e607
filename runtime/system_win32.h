#pragma once

// The owners of the Windows values that the program and its tests hold, and the one bridge between a
// Text and the wide strings that Windows calls take.

#include <windows.h>
// windows.h first: the COM header builds on its types; it declares CoTaskMemFree.
#include <objbase.h>

#include <cwchar>
#include <string_view>

#include "runtime/text.h"
#include "runtime/unique_handle.h"

namespace runtime {

struct KernelHandleTraits {
  using Value = HANDLE;
  static Value empty() noexcept { return nullptr; }
  static void release(Value value) noexcept { CloseHandle(value); }
};
// A process, thread or job handle (files and searches use INVALID_HANDLE_VALUE for nothing).
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

struct FindTraits {
  using Value = HANDLE;
  static Value empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void release(Value value) noexcept { FindClose(value); }
};
using UniqueFind = UniqueHandle<FindTraits>;

struct ModuleTraits {
  using Value = HMODULE;
  static Value empty() noexcept { return nullptr; }
  static void release(Value value) noexcept { FreeLibrary(value); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

struct AcceleratorTraits {
  using Value = HACCEL;
  static Value empty() noexcept { return nullptr; }
  static void release(Value value) noexcept { DestroyAcceleratorTable(value); }
};
using UniqueAccelerators = UniqueHandle<AcceleratorTraits>;

// Memory that a shell or COM call allocated for the caller (CoTaskMemFree).
template <typename Pointer>
struct CoTaskTraits {
  using Value = Pointer;
  static Value empty() noexcept { return nullptr; }
  static void release(Value value) noexcept { CoTaskMemFree(const_cast<void*>(static_cast<const void*>(value))); }
};
template <typename Pointer>
using UniqueCoTaskMemory = UniqueHandle<CoTaskTraits<Pointer>>;

// A Text as a Windows call takes it: zero-terminated (cut at its first zero unit), or a null pointer
// for the absent Text.
class WideText {
 public:
  explicit WideText(TextView text) : absent_(is_absent(text)), copy_(until_terminator(text)) {}
  const wchar_t* get() const noexcept { return absent_ ? nullptr : reinterpret_cast<const wchar_t*>(copy_.c_str()); }
  bool absent() const noexcept { return absent_; }
  std::size_t size() const noexcept { return copy_.size(); }

 private:
  bool absent_;
  Text copy_;
};

// Wide units that a Windows call handed back, as a Text.
inline Text text_from_wide(std::wstring_view units) {
  return Text(reinterpret_cast<const char16_t*>(units.data()), units.size());
}

}  // namespace runtime
