#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "runtime/object_table.h"
#include "runtime/text.h"

// Regular expressions compiled under object numbers and run over Texts, matched as the UTF-16 they
// are: positions are Text positions. A text is matched up to its first zero unit, and an unpaired
// surrogate in it is matched, and handed back, as U+FFFD.
namespace pattern {

using runtime::ANY_NUMBER;
using runtime::ObjectNumber;
using runtime::Text;
using runtime::TextView;

// Compile option: ^ and $ match at every line start and end (LF line ends). The option bits keep the
// values of PCRE 8's compile options, which callers have always passed.
inline constexpr std::int32_t PATTERN_MULTILINE = 2;

// get_match_error's code for a search stopped by the match limit (10,000,000).
inline constexpr std::int32_t PATTERN_ERROR_MATCH_LIMIT = -47;

// Creates the pattern table and registers the library's end step. Call once before anything else.
void init_pattern_library();
// Frees every live pattern.
void end_pattern_library();

// Compiles `pattern` under the number, freeing what the number held first (so a failed compile
// leaves the number empty). `flags` are PCRE 8 compile options (caseless 0x1, multiline 0x2, dotall
// 0x4, extended 0x8, anchored 0x10, dollar end-only 0x20, ungreedy 0x200, no auto-capture 0x1000,
// first line 0x40000, duplicate names 0x80000; 0x800 and 0x2000, UTF, are always in force); other
// bits fail the compile. Returns non-zero on success (for ANY_NUMBER, the new pattern's handle), 0 on
// failure.
std::intptr_t compile_pattern(ObjectNumber number, TextView pattern, std::int32_t flags);
// Frees one pattern; ANY_NUMBER frees all of them.
void free_pattern(ObjectNumber number);
// 1 when the pattern matches anywhere in the text, else 0 (also for an empty number).
int match_pattern(ObjectNumber number, TextView text);
// The number of capturing groups; 0 for an empty number.
std::int32_t count_pattern_groups(ObjectNumber number);
// Starts a scan of a copy of the text (ending any earlier scan of the number). 1 when set up, else 0.
int examine_matches(ObjectNumber number, TextView text);
// Moves the scan to the next match. 1 when one was found, else 0. An empty match is reported once and
// the scan moves on by one whole character.
int next_match(ObjectNumber number);
// Group `index` (1-based) of the current match; the empty Text when there is no current match, the
// index is out of range, or the group did not take part.
Text get_group_text(ObjectNumber number, std::int32_t index);
// The position in the examined text, in Text units, where the current match starts; -1 when there
// is no current match.
std::int32_t get_match_position(ObjectNumber number);
// The text with every match, left to right and without overlap, replaced by `replacement` taken
// literally (no group references, no escapes). The empty Text for an empty number or absent text, and
// when the engine stops with an error part-way, so that a partly replaced text is never handed out.
Text replace_all(ObjectNumber number, TextView text, TextView replacement);
// As replace_all, but only the matches for which `chooses` is true are replaced; the others stay as
// they are. It is called for every match, left to right, with the Text position where it starts.
Text replace_matches(ObjectNumber number, TextView text, TextView replacement,
                     const std::function<bool(std::int32_t)>& chooses);
// 0 when the last call of match_pattern, examine_matches, next_match or replace_all on the number
// ended normally (a match or none); otherwise the engine's negative error code (its match limit, no
// memory), which those calls report as no match or an empty Text. 0 for an empty number.
std::int32_t get_match_error(ObjectNumber number);

// UTF-8 form of a Text up to its first zero unit (unpaired surrogates become U+FFFD).
std::string to_utf8(TextView text);
// The Text of the bytes [start, end) of a UTF-8 subject; an empty or unset (-1, -1) range gives the
// empty Text.
Text utf8_range_to_text(std::string_view subject, std::int32_t start, std::int32_t end);

}  // namespace pattern
