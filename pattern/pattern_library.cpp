#include <pcre.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "pattern/pattern.h"
#include "pattern/pattern_internal.h"
#include "runtime/program_end.h"
#include "runtime/utf8.h"

namespace pattern {

namespace {

struct CompiledPatternDeleter {
  void operator()(pcre* compiled) const { pcre_free(compiled); }
};

// One compiled pattern and its scan. Releasing the record (assigning a fresh one) frees everything it
// owns, so the table's zeroing of a record is the whole free step.
struct PatternRecord {
  std::unique_ptr<pcre, CompiledPatternDeleter> compiled;
  std::int32_t group_count = 0;
  std::string subject;  // UTF-8 copy of the text under scan
  // The UTF-8 form of the text last given to a search: the searches of one text (a match, its scan,
  // its replacement) convert it once.
  std::string converted;
  std::vector<int> offsets;  // 3 x (group_count + 1), kept for every later scan of this pattern
  std::int32_t scan_position = 0;
  std::int32_t subject_length = 0;
  std::int32_t has_match = 0;
  std::int32_t match_error = 0;
  // The Text position of a byte offset of the subject, last worked out for get_match_position.
  std::int32_t counted_bytes = 0;
  std::int32_t counted_units = 0;

  bool is_live() const { return compiled != nullptr; }
};

using PatternTable = runtime::ObjectTable<PatternRecord>;

std::unique_ptr<PatternTable> pattern_table;

PatternRecord* get_pattern(ObjectNumber number) { return pattern_table ? pattern_table->get_object(number) : nullptr; }

}  // namespace

namespace detail {

const pcre* compiled_pattern(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  return record ? record->compiled.get() : nullptr;
}

const std::string& converted_text(ObjectNumber number, TextView text) {
  static const std::string none;
  PatternRecord* record = get_pattern(number);
  if (!record) return none;
  if (!runtime::is_utf8_form_of(text, record->converted)) {
    record->converted.clear();
    record->converted = to_utf8(text);
  }
  return record->converted;
}

void set_match_error(ObjectNumber number, int error) {
  if (PatternRecord* record = get_pattern(number)) record->match_error = error;
}

std::size_t utf8_sequence_length(unsigned char lead) {
  return std::max<std::size_t>(1, runtime::utf8_sequence_length(lead));
}

std::size_t count_text_units(std::string_view utf8) {
  // One unit per character, two for the four-byte ones (a surrogate pair).
  std::size_t units = 0;
  for (char byte : utf8) {
    const auto b = static_cast<unsigned char>(byte);
    units += (b & 0xC0) != 0x80 ? (b >= 0xF0 ? 2 : 1) : 0;
  }
  return units;
}

}  // namespace detail

void init_pattern_library() {
  pattern_table = runtime::create_object_table<PatternRecord>(16, [](PatternRecord&) { return true; });
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
  const std::string utf8 = to_utf8(pattern);
  const char* error = nullptr;
  int error_offset = 0;
  pcre* compiled = pcre_compile(utf8.c_str(), flags | PCRE_UTF8 | PCRE_NO_UTF8_CHECK, &error, &error_offset, nullptr);
  if (!compiled) {
    pattern_table->release_object(allocation.number);
    return 0;
  }
  PatternRecord& record = *allocation.record;
  record.compiled.reset(compiled);
  int group_count = 0;
  pcre_fullinfo(compiled, nullptr, PCRE_INFO_CAPTURECOUNT, &group_count);
  record.group_count = group_count;
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
    const std::string& utf8 = detail::converted_text(number, text);
    if (utf8.size() > INT_MAX) {
      record->match_error = PCRE_ERROR_BADLENGTH;
      return 0;
    }
    int result = pcre_exec(record->compiled.get(), nullptr, utf8.data(), static_cast<int>(utf8.size()), 0,
                           PCRE_NO_UTF8_CHECK, nullptr, 0);
    record->match_error = result < 0 && result != PCRE_ERROR_NOMATCH ? result : 0;
    return result >= 0 ? 1 : 0;
  } catch (const std::bad_alloc&) {
    record->match_error = PCRE_ERROR_NOMEMORY;
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
  record->subject.clear();
  record->subject.shrink_to_fit();
  record->scan_position = 0;
  record->subject_length = 0;
  record->has_match = 0;
  record->match_error = 0;
  record->counted_bytes = 0;
  record->counted_units = 0;
  try {
    if (record->offsets.empty()) record->offsets.assign(3 * (static_cast<std::size_t>(record->group_count) + 1), 0);
    const std::string& utf8 = detail::converted_text(number, text);
    if (utf8.size() > INT_MAX) {
      record->match_error = PCRE_ERROR_BADLENGTH;
      return 0;
    }
    record->subject_length = static_cast<std::int32_t>(utf8.size());
    record->subject = utf8;
    return 1;
  } catch (const std::bad_alloc&) {
    record->subject_length = 0;
    record->match_error = PCRE_ERROR_NOMEMORY;
    return 0;
  }
}

int next_match(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  if (!record) return 0;
  // Searching from the very end never starts, so an empty text has no matches to scan.
  if (record->scan_position >= record->subject_length) {
    record->has_match = 0;
    return 0;
  }
  int result =
      pcre_exec(record->compiled.get(), nullptr, record->subject.data(), record->subject_length, record->scan_position,
                PCRE_NO_UTF8_CHECK, record->offsets.data(), static_cast<int>(record->offsets.size()));
  record->match_error = result < 0 && result != PCRE_ERROR_NOMATCH ? result : 0;
  if (result <= 0) {
    record->has_match = 0;
    return 0;
  }
  record->has_match = 1;
  const int start = record->offsets[0];
  const int end = record->offsets[1];
  if (start == end) {
    // Step over the whole character so the next search neither repeats this match nor starts
    // inside a UTF-8 sequence.
    std::size_t step =
        start < record->subject_length
            ? detail::utf8_sequence_length(static_cast<unsigned char>(record->subject[static_cast<std::size_t>(start)]))
            : 1;
    record->scan_position = start + static_cast<std::int32_t>(step);
  } else {
    record->scan_position = end;
  }
  return 1;
}

std::int32_t get_match_error(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  return record ? record->match_error : 0;
}

Text get_group_text(ObjectNumber number, std::int32_t index) {
  PatternRecord* record = get_pattern(number);
  if (!record || !record->has_match || index < 1 || index > record->group_count) return {};
  const auto at = static_cast<std::size_t>(index) * 2;
  return utf8_range_to_text(record->subject, record->offsets[at], record->offsets[at + 1]);
}

std::int32_t get_match_position(ObjectNumber number) {
  PatternRecord* record = get_pattern(number);
  if (!record || !record->has_match) return -1;
  const int start = record->offsets[0];
  // A scan moves left to right, so counting on from the last answer keeps a whole scan linear.
  if (start < record->counted_bytes) record->counted_bytes = record->counted_units = 0;
  const std::string_view counted(record->subject.data() + record->counted_bytes,
                                 static_cast<std::size_t>(start - record->counted_bytes));
  record->counted_units += static_cast<std::int32_t>(detail::count_text_units(counted));
  record->counted_bytes = start;
  return record->counted_units;
}

std::string to_utf8(TextView text) { return runtime::utf16_to_utf8(text); }

Text utf8_range_to_text(std::string_view subject, std::int32_t start, std::int32_t end) {
  // Offsets outside the subject can only come from a caller's mistake; they give nothing rather than
  // reading past the buffer.
  if (start < 0 || end <= start || static_cast<std::size_t>(end) > subject.size()) return {};
  return runtime::utf8_to_utf16(subject.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

}  // namespace pattern
