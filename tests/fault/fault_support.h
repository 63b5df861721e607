#pragma once

// What the fault tests share beside the sample add-ons: the failing resources (a small file system,
// folders the program may not touch).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/sample_addons.h"
#include "tests/support/scoped_tmpfs_posix.h"

namespace fault {

namespace fs = std::filesystem;

constexpr uid_t NOBODY = 65534;  // the user that the driver runs the program as when the test is root

using namespace sample_addons;

using test_support::ScopedTmpfs;

// Fills the file system that holds `folder` with a file of its own, then gives back `free_pages`
// pages of 4096 bytes, so that the next writes find exactly that much room.
inline void fill_leaving(const fs::path& folder, std::size_t free_pages) {
  int filler = open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (filler < 0) return;
  const std::string block(4096, 'f');
  off_t size = 0;
  while (write(filler, block.data(), block.size()) == static_cast<ssize_t>(block.size())) size += 4096;
  off_t given_back = static_cast<off_t>(free_pages) * 4096;
  if (ftruncate(filler, size > given_back ? size - given_back : 0) != 0) size = 0;
  close(filler);
}

// Hands a tree to the user the program runs as, so that the modes a test sets are the ones that
// hold for it (as root the driver runs the program as NOBODY; otherwise the test's user owns it).
inline void give_to_program(const fs::path& tree) {
  if (geteuid() != 0) return;
  if (lchown(tree.c_str(), NOBODY, NOBODY) != 0) return;
  for (const auto& entry : fs::recursive_directory_iterator(tree))
    if (lchown(entry.path().c_str(), NOBODY, NOBODY) != 0) return;
}

}  // namespace fault
