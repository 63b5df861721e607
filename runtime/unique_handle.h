#pragma once

#include <utility>

// The one owner of a system resource and the one scope guard, for every platform.
namespace runtime {

// Owns one system value (a handle, a module, a descriptor, a DIR*). Traits names its type (Value), the
// value that holds nothing (empty()) and the call that gives it back (release()). Move-only.
template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Value value) noexcept : value_(value) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Value get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::empty(); }
  // For calls that hand a new value back through a pointer; the old one is given back first.
  Value* put() noexcept {
    reset();
    return &value_;
  }
  // Hands the value to the caller, who then owns it.
  Value release() noexcept { return std::exchange(value_, Traits::empty()); }
  void reset(Value value = Traits::empty()) noexcept {
    const Value old = std::exchange(value_, value);
    if (old != Traits::empty()) Traits::release(old);
  }

 private:
  Value value_ = Traits::empty();
};

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

}  // namespace runtime
