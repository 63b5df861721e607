#pragma once

#include <sys/mount.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace test_support {

// A small file system of its own (needs root), mounted for one test and unmounted when it goes.
class ScopedTmpfs {
 public:
  ScopedTmpfs(const std::filesystem::path& where, std::size_t bytes) : where_(where) {
    std::filesystem::create_directories(where);
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~ScopedTmpfs() {
    if (mounted_ && umount(where_.c_str()) != 0) umount2(where_.c_str(), MNT_DETACH);
  }
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path where_;
  bool mounted_ = false;
};

}  // namespace test_support
