#pragma once

// The owners of the POSIX values that the program and its tests hold.

#include <dirent.h>
#include <unistd.h>

#include "runtime/unique_handle.h"

namespace runtime {

struct DescriptorTraits {
  using Value = int;
  static Value empty() noexcept { return -1; }
  // Not retried on EINTR: the descriptor is gone either way.
  static void release(Value value) noexcept { ::close(value); }
};
using UniqueDescriptor = UniqueHandle<DescriptorTraits>;

struct FolderStreamTraits {
  using Value = DIR*;
  static Value empty() noexcept { return nullptr; }
  static void release(Value value) noexcept { closedir(value); }
};
using UniqueFolderStream = UniqueHandle<FolderStreamTraits>;

}  // namespace runtime
