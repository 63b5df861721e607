#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "pattern/pattern.h"
#include "pattern/pattern_internal.h"
#include "runtime/program_end.h"
#include "runtime/utf8.h"

namespace pattern {

namespace {

using detail::EngineOwner;
using detail::MatchData;

static_assert(PATTERN_ERROR_MATCH_LIMIT == PCRE2_ERROR_MATCHLIMIT);

constexpr std::uint32_t MATCH_LIMIT = 10'000'000;
// Every step deeper is also a step counted by the match limit, so a search stops at the match limit
// before this one. The frames behind that depth are bounded by memory alone: an allocation that fails
// is an engine error like the others.
constexpr std::uint32_t DEPTH_LIMIT = MATCH_LIMIT;
constexpr std::uint32_t HEAP_LIMIT_KIB = UINT32_MAX;
// The JIT's stack is fixed when it is made; a search that needs more runs again in the interpreter.
constexpr std::size_t JIT_STACK_START = 32 * 1024;
constexpr std::size_t JIT_STACK_MAXIMUM = 1024 * 1024;

// PCRE 8's compile options that callers pass, and the engine's options for them.
constexpr std::pair<std::int32_t, std::uint32_t> COMPILE_OPTIONS[] = {
    {0x1, PCRE2_CASELESS},
    {0x2, PCRE2_MULTILINE},
    {0x4, PCRE2_DOTALL},
    {0x8, PCRE2_EXTENDED},
    {0x10, PCRE2_ANCHORED},
    {0x20, PCRE2_DOLLAR_ENDONLY},
    {0x200, PCRE2_UNGREEDY},
    {0x800, 0},
    {0x1000, PCRE2_NO_AUTO_CAPTURE},
    {0x2000, 0},
    {0x40000, PCRE2_FIRSTLINE},
    {0x80000, PCRE2_DUPNAMES},
};

using CompiledCode = EngineOwner<pcre2_code, pcre2_code_free>;

// One compiled pattern and its scan. Releasing the record (assigning a fresh one) frees everything it
// owns, so the table's zeroing of a record is the whole free step.
struct PatternRecord {
  CompiledCode compiled;
  std::int32_t group_count = 0;
  MatchData scan_groups;  // the current match of the scan, kept for every later scan of this pattern
  MatchData test_groups;  // match_pattern's, apart so that a test leaves the scan as it is
  Text subject;           // the text under scan, as the engine sees it
  std::size_t scan_position = 0;
  bool has_match = false;
  std::int32_t match_error = 0;

  bool is_live() const { return compiled != nullptr; }
};

using PatternTable = runtime::ObjectTable<PatternRecord>;

// What every compile and every search of the library shares.
struct Engine {
  EngineOwner<pcre2_compile_context, pcre2_compile_context_free> compile_settings;
  EngineOwner<pcre2_match_context, pcre2_match_context_free> match_settings;
  EngineOwner<pcre2_jit_stack, pcre2_jit_stack_free> jit_stack;
};

std::unique_ptr<PatternTable> pattern_table;
std::unique_ptr<Engine> engine;
bool jit_refused = false;

PatternRecord* get_pattern(ObjectNumber number) { return pattern_table ? pattern_table->get_object(number) : nullptr; }

std::unique_ptr<Engine> make_engine() {
  auto made = std::make_unique<Engine>();
  made->compile_settings.reset(pcre2_compile_context_create(nullptr));
  made->match_settings.reset(pcre2_match_context_create(nullptr));
  if (!made->compile_settings || !made->match_settings) return nullptr;
  pcre2_set_newline(made->compile_settings.get(), PCRE2_NEWLINE_LF);
  pcre2_match_context* settings = made->match_settings.get();
  pcre2_set_match_limit(settings, MATCH_LIMIT);
  pcre2_set_depth_limit(settings, DEPTH_LIMIT);
  pcre2_set_heap_limit(settings, HEAP_LIMIT_KIB);
  // Without a stack of its own the JIT has 32 KiB of the thread's stack.
  made->jit_stack.reset(pcre2_jit_stack_create(JIT_STACK_START, JIT_STACK_MAXIMUM, nullptr));
  if (made->jit_stack) pcre2_jit_stack_assign(settings, nullptr, made->jit_stack.get());
  return made;
}

// The engine's options for the caller's, or false for a bit the library does not take.
bool engine_options(std::int32_t flags, std::uint32_t& options) {
  options = PCRE2_UTF | PCRE2_NO_UTF_CHECK;
  for (const auto& [flag, option] : COMPILE_OPTIONS) {
    if (flags & flag) options |= option;
    flags &= ~flag;
  }
  return flags == 0;
}

PCRE2_SPTR as_units(const char16_t* text) { return reinterpret_cast<PCRE2_SPTR>(text); }

}  // namespace

namespace detail {

const pcre2_code* compiled_pattern(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  return record ? record->compiled.get() : nullptr;
}

TextView engine_subject(TextView text, Text& repaired) {
  text = runtime::until_terminator(text);
  if (runtime::is_absent(text)) return u"";
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char16_t unit = text[at];
    if (runtime::is_high_surrogate(unit) && at + 1 < text.size() && runtime::is_low_surrogate(text[at + 1])) {
      ++at;
    } else if (runtime::is_high_surrogate(unit) || runtime::is_low_surrogate(unit)) {
      if (repaired.empty()) repaired.assign(text);
      repaired[at] = u'\uFFFD';
    }
  }
  return repaired.empty() ? text : TextView(repaired);
}

int search(const pcre2_code* compiled, TextView subject, std::size_t start, pcre2_match_data* data) {
  pcre2_match_context* settings = engine ? engine->match_settings.get() : nullptr;
  int result =
      pcre2_match(compiled, as_units(subject.data()), subject.size(), start, PCRE2_NO_UTF_CHECK, data, settings);
  if (result == PCRE2_ERROR_JIT_STACKLIMIT)
    result = pcre2_match(compiled, as_units(subject.data()), subject.size(), start, PCRE2_NO_UTF_CHECK | PCRE2_NO_JIT,
                         data, settings);
  return result;
}

void set_match_error(ObjectNumber number, int error) {
  if (PatternRecord* record = get_pattern(number)) record->match_error = error;
}

std::size_t character_length(TextView subject, std::size_t at) {
  return at + 1 < subject.size() && runtime::is_high_surrogate(subject[at]) &&
                 runtime::is_low_surrogate(subject[at + 1])
             ? 2
             : 1;
}

void refuse_jit(bool refused) { jit_refused = refused; }

}  // namespace detail

void init_pattern_library() {
  pattern_table = runtime::create_object_table<PatternRecord>(16, [](PatternRecord&) { return true; });
  engine = make_engine();
  runtime::register_end_step(runtime::EndStep::patterns, end_pattern_library);
}

void end_pattern_library() {
  if (pattern_table) pattern_table->free_all_objects();
}

std::intptr_t compile_pattern(ObjectNumber number, TextView pattern, std::int32_t flags) {
  if (!pattern_table) return 0;
  // Frees whatever the number held, so a failed compile below leaves it empty.
  auto allocation = pattern_table->allocate_object(number);
  if (!allocation.record) return 0;
  std::uint32_t options = 0;
  pcre2_code* compiled = nullptr;
  if (engine && engine_options(flags, options)) {
    try {
      Text repaired;
      const TextView source = detail::engine_subject(pattern, repaired);
      int error = 0;
      PCRE2_SIZE error_offset = 0;
      compiled = pcre2_compile(as_units(source.data()), source.size(), options, &error, &error_offset,
                               engine->compile_settings.get());
    } catch (const std::bad_alloc&) {
      compiled = nullptr;
    }
  }
  if (!compiled) {
    pattern_table->release_object(allocation.number);
    return 0;
  }
  PatternRecord& record = *allocation.record;
  record.compiled.reset(compiled);
  // Without JIT code (no executable memory to be had) the interpreter runs the same searches.
  if (!jit_refused) pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
  std::uint32_t group_count = 0;
  pcre2_pattern_info(compiled, PCRE2_INFO_CAPTURECOUNT, &group_count);
  record.group_count = static_cast<std::int32_t>(group_count);
  if (number == ANY_NUMBER) return allocation.number;
  return reinterpret_cast<std::intptr_t>(compiled);
}

void free_pattern(ObjectNumber number) {
  if (!pattern_table) return;
  if (number == ANY_NUMBER) {
    pattern_table->free_all_objects();
    return;
  }
  if (!pattern_table->get_object(number)) return;
  pattern_table->release_object(number);
}

int match_pattern(ObjectNumber number, TextView text) {
  PatternRecord* record = get_pattern(number);
  if (!record) return 0;
  try {
    if (!record->test_groups) record->test_groups.reset(pcre2_match_data_create(1, nullptr));
    if (!record->test_groups) throw std::bad_alloc();
    Text repaired;
    const int result =
        detail::search(record->compiled.get(), detail::engine_subject(text, repaired), 0, record->test_groups.get());
    record->match_error = result < 0 && result != PCRE2_ERROR_NOMATCH ? result : 0;
    return result >= 0 ? 1 : 0;
  } catch (const std::bad_alloc&) {
    record->match_error = PCRE2_ERROR_NOMEMORY;
    return 0;
  }
}

std::int32_t count_pattern_groups(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  return record ? record->group_count : 0;
}

int examine_matches(ObjectNumber number, TextView text) {
  PatternRecord* record = get_pattern(number);
  if (!record) return 0;
  // Whatever happens below, the earlier scan is over.
  record->scan_position = 0;
  record->has_match = false;
  record->match_error = 0;
  try {
    if (!record->scan_groups)
      record->scan_groups.reset(pcre2_match_data_create_from_pattern(record->compiled.get(), nullptr));
    if (!record->scan_groups) throw std::bad_alloc();
    Text repaired;
    const TextView subject = detail::engine_subject(text, repaired);
    // The copy's room is kept for the next scan (the lines of one manifest, say), unless it is far
    // larger than this text needs.
    if (record->subject.capacity() > 4096 && record->subject.capacity() / 4 > subject.size())
      Text().swap(record->subject);
    if (subject.data() == repaired.data())
      record->subject = std::move(repaired);
    else
      record->subject.assign(subject);
    return 1;
  } catch (const std::bad_alloc&) {
    Text().swap(record->subject);
    record->match_error = PCRE2_ERROR_NOMEMORY;
    return 0;
  }
}

int next_match(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  if (!record) return 0;
  // Searching from the very end never starts, so an empty text has no matches to scan.
  if (record->scan_position >= record->subject.size()) {
    record->has_match = false;
    return 0;
  }
  const int result =
      detail::search(record->compiled.get(), record->subject, record->scan_position, record->scan_groups.get());
  record->match_error = result < 0 && result != PCRE2_ERROR_NOMATCH ? result : 0;
  if (result <= 0) {
    record->has_match = false;
    return 0;
  }
  record->has_match = true;
  const PCRE2_SIZE* groups = pcre2_get_ovector_pointer(record->scan_groups.get());
  const std::size_t start = groups[0];
  const std::size_t end = groups[1];
  // An empty match steps over the whole character, so that the next search neither repeats it nor
  // starts inside a surrogate pair.
  record->scan_position = start == end ? start + detail::character_length(record->subject, start) : end;
  return 1;
}

std::int32_t get_match_error(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  return record ? record->match_error : 0;
}

Text get_group_text(ObjectNumber number, std::int32_t index) {
  PatternRecord* record = get_pattern(number);
  if (!record || !record->has_match || index < 1 || index > record->group_count) return {};
  const PCRE2_SIZE* groups = pcre2_get_ovector_pointer(record->scan_groups.get());
  const PCRE2_SIZE start = groups[2 * index];
  const PCRE2_SIZE end = groups[2 * index + 1];
  // A group that took no part is unset at both ends.
  if (start == PCRE2_UNSET || end <= start || end > record->subject.size()) return {};
  return record->subject.substr(start, end - start);
}

std::int32_t get_match_position(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  if (!record || !record->has_match) return -1;
  return static_cast<std::int32_t>(pcre2_get_ovector_pointer(record->scan_groups.get())[0]);
}

std::string to_utf8(TextView text) { return runtime::utf16_to_utf8(text); }

Text utf8_range_to_text(std::string_view subject, std::int32_t start, std::int32_t end) {
  // Offsets outside the subject can only come from a caller's mistake; they give nothing rather than
  // reading past the buffer.
  if (start < 0 || end <= start || static_cast<std::size_t>(end) > subject.size()) return {};
  return runtime::utf8_to_utf16(subject.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

}  // namespace pattern
