#pragma once

#include <pcre.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/object_table.h"
#include "runtime/text.h"

// Shared between the library's own source files; not for callers.
namespace pattern::detail {

// The compiled pattern of a live number, or null.
const pcre* compiled_pattern(runtime::ObjectNumber number);

// The UTF-8 form of the text for a search by a live number (empty for another number), kept until
// a search is given another text.
const std::string& converted_text(runtime::ObjectNumber number, runtime::TextView text);

// Keeps the outcome of a search for get_match_error: 0, or the engine's negative error code.
void set_match_error(runtime::ObjectNumber number, int error);

// Bytes of the UTF-8 sequence that starts with `lead` (1 for a byte that cannot start one).
std::size_t utf8_sequence_length(unsigned char lead);

// The number of Text units that the well-formed UTF-8 bytes convert to.
std::size_t count_text_units(std::string_view utf8);

}  // namespace pattern::detail
