#pragma once

// The build sets PCRE2_CODE_UNIT_WIDTH to 16: the engine matches the program's UTF-16 Texts as they are.
#include <pcre2.h>

#include <cstddef>
#include <memory>

#include "runtime/object_table.h"
#include "runtime/text.h"

// Shared between the library's own source files, and the seam its tests use; not for callers.
namespace pattern::detail {

// Owner of one of the engine's objects, freed by its own free call.
template <typename T, void (*Free)(T*)>
struct EngineFree {
  void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)>
using EngineOwner = std::unique_ptr<T, EngineFree<T, Free>>;

using MatchData = EngineOwner<pcre2_match_data, pcre2_match_data_free>;

// The compiled pattern of a live number, or null.
const pcre2_code* compiled_pattern(runtime::ObjectNumber number);

// The text as the engine matches it: up to its first zero unit, each unpaired surrogate as U+FFFD
// (the engine takes well-formed UTF-16 only). A view of the text itself unless a surrogate had to be
// replaced; then `repaired` holds the copy and the view is of it. Never a view without data.
runtime::TextView engine_subject(runtime::TextView text, runtime::Text& repaired);

// One search from `start`, under the library's limits, with the JIT's code where the pattern has it and
// the interpreter where the JIT's stack is too small. The engine's result: the group pairs found, 0
// when they did not all fit `data`, or a negative code.
int search(const pcre2_code* compiled, runtime::TextView subject, std::size_t start, pcre2_match_data* data);

// Keeps the outcome of a search for get_match_error: 0, or the engine's negative error code.
void set_match_error(runtime::ObjectNumber number, int error);

// Units of the character that starts at `at`: 2 for a surrogate pair, else 1.
std::size_t character_length(runtime::TextView subject, std::size_t at);

// Patterns compiled while refused get no JIT code, as on a system whose security software refuses
// executable memory.
void refuse_jit(bool refused);

}  // namespace pattern::detail
