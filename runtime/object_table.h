#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

namespace runtime {

// A caller's name for an object: 0 or more names a slot; ANY_NUMBER asks for a dynamic object, which
// is then named by the handle that the creating call returned.
using ObjectNumber = std::int32_t;
inline constexpr ObjectNumber ANY_NUMBER = -1;

// Numbered objects of one library. `Record` is value-initialised when it is allocated and again when
// it is released ("zeroed"); `record.is_live()` tells a live record from a free one. Before a live
// record is zeroed by a reuse of its number or by free_all_objects, the library's free step is given
// the record itself: it gives back what zeroing alone would not (flushes and closes a file, say) and
// never calls back into the table.
//
// Slot records are kept for the life of the table, so a released number reuses its record. Dynamic
// records live only while allocated; their handles are negative numbers below ANY_NUMBER, so a handle
// never equals a slot index.
template <typename Record>
class ObjectTable {
 public:
  // The library's free step for one live record; false when the system reported a failure.
  using FreeCallback = bool (*)(Record&);

  struct Allocation {
    Record* record;
    ObjectNumber number;  // the slot number, or the new handle for ANY_NUMBER
  };

  ObjectTable(std::int32_t growth_step, FreeCallback free_callback)
      : growth_step_(growth_step), free_callback_(free_callback), slots_(static_cast<std::size_t>(growth_step)) {}
  ObjectTable(const ObjectTable&) = delete;
  ObjectTable& operator=(const ObjectTable&) = delete;

  // A value-initialised record for the number. A slot that holds a live record first has the free
  // step run on it. For ANY_NUMBER a new dynamic record. Returns a null record for a number below
  // ANY_NUMBER.
  Allocation allocate_object(ObjectNumber number) {
    if (number == ANY_NUMBER) {
      dynamic_.push_front(Dynamic{next_handle_--, std::make_unique<Record>()});
      return {dynamic_.front().record.get(), dynamic_.front().handle};
    }
    if (number < 0) return {nullptr, number};
    if (static_cast<std::size_t>(number) >= slots_.size())
      slots_.resize(static_cast<std::size_t>(number) + static_cast<std::size_t>(growth_step_));
    auto& slot = slots_[static_cast<std::size_t>(number)];
    if (slot) {
      if (free_callback_ && slot->is_live()) free_callback_(*slot);
      *slot = Record();
    } else {
      slot = std::make_unique<Record>();
    }
    return {slot.get(), number};
  }

  // The live record named by the number or handle, or null.
  Record* get_object(ObjectNumber number) {
    Record* record = find_object(number);
    return record && record->is_live() ? record : nullptr;
  }

  // The record named by the number or handle, live or not, or null. A handle is found only while
  // the table has it issued.
  Record* find_object(ObjectNumber number) {
    if (is_slot(number)) return slots_[static_cast<std::size_t>(number)].get();
    for (auto& entry : dynamic_)
      if (entry.handle == number) return entry.record.get();
    return nullptr;
  }

  // Zeroes a slot's record (the slot keeps it) or unlinks and frees a dynamic record.
  void release_object(ObjectNumber number) {
    if (is_slot(number)) {
      if (auto& slot = slots_[static_cast<std::size_t>(number)]) *slot = Record();
      return;
    }
    dynamic_.remove_if([number](const Dynamic& entry) { return entry.handle == number; });
  }

  // Runs the free step on every live object and releases it: numbers in ascending order, then the
  // dynamic records from the newest. True when every free step succeeded. Does nothing without a
  // free step.
  bool free_all_objects() {
    if (!free_callback_) return true;
    bool succeeded = true;
    cursor_ = 0;
    ObjectNumber number;
    while (Record* record = next_live_object(number)) {
      if (!free_callback_(*record)) succeeded = false;
      release_object(number);
    }
    return succeeded;
  }

  // The next live record from the cursor, with its number or handle; null when none is left.
  Record* next_live_object(ObjectNumber& number) {
    while (static_cast<std::size_t>(cursor_) < slots_.size()) {
      auto& slot = slots_[static_cast<std::size_t>(cursor_)];
      ObjectNumber index = cursor_++;
      if (slot && slot->is_live()) {
        number = index;
        return slot.get();
      }
    }
    if (dynamic_.empty()) return nullptr;
    number = dynamic_.front().handle;
    return dynamic_.front().record.get();
  }

  std::int32_t capacity() const { return static_cast<std::int32_t>(slots_.size()); }
  bool slot_is_null(ObjectNumber number) const { return !is_slot(number) || !slots_[static_cast<std::size_t>(number)]; }

 private:
  struct Dynamic {
    ObjectNumber handle;
    std::unique_ptr<Record> record;
  };

  bool is_slot(ObjectNumber number) const { return number >= 0 && static_cast<std::size_t>(number) < slots_.size(); }

  std::int32_t growth_step_;
  FreeCallback free_callback_;
  std::vector<std::unique_ptr<Record>> slots_;
  std::list<Dynamic> dynamic_;  // newest first
  ObjectNumber next_handle_ = ANY_NUMBER - 1;
  std::int32_t cursor_ = 0;
};

// A new table with `growth_step` initial slots.
template <typename Record>
std::unique_ptr<ObjectTable<Record>> create_object_table(std::int32_t growth_step,
                                                         typename ObjectTable<Record>::FreeCallback free_callback) {
  return std::make_unique<ObjectTable<Record>>(growth_step, free_callback);
}

}  // namespace runtime
