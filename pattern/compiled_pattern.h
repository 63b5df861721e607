#pragma once

#include <cstdint>
#include <utility>

#include "pattern/pattern.h"

namespace pattern {

// A pattern compiled under a handle of its own (ANY_NUMBER), freed with its owner. The pattern library
// must be started first; once it has ended, the handle names nothing and freeing it does nothing.
class CompiledPattern {
 public:
  CompiledPattern(TextView pattern, std::int32_t flags)
      : number_(static_cast<ObjectNumber>(compile_pattern(ANY_NUMBER, pattern, flags))) {}
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;
  CompiledPattern(CompiledPattern&& other) noexcept : number_(std::exchange(other.number_, 0)) {}
  CompiledPattern& operator=(CompiledPattern&& other) noexcept {
    std::swap(number_, other.number_);
    return *this;
  }
  ~CompiledPattern() {
    if (is_compiled()) free_pattern(number_);
  }

  // The handle to hand to the library's calls; meaningful only while compiled.
  ObjectNumber number() const { return number_; }
  bool is_compiled() const { return number_ != 0; }

 private:
  ObjectNumber number_;  // 0: nothing compiled (handles are negative)
};

}  // namespace pattern
