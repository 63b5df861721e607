#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pattern/compiled_pattern.h"
#include "runtime/text.h"

// A manifest's text read the way the screen reader reads it: with ConfigObj, UTF-8, list values on.
// This is the only place that knows the syntax; everything else asks it for items and positions.
namespace manifest {

using runtime::Text;
using runtime::TextView;

// ConfigObj's line grammar, compiled once for every text a run reads. Its patterns are ConfigObj's own
// regular expressions, with Python's white space spelt out: the engine's \s knows ASCII only.
class ManifestGrammar {
 public:
  ManifestGrammar();
  bool is_compiled() const;

 private:
  friend class ManifestReader;
  pattern::CompiledPattern keyword_, section_marker_, value_, list_member_;
  pattern::CompiledPattern single_line_double_, single_line_single_, closing_line_double_, closing_line_single_;
};

// One section marker or key, in the order of the text.
struct ManifestItem {
  enum class Kind { SECTION, KEY };
  Kind kind = Kind::KEY;
  // A section's own depth (the number of its brackets); for a key, the depth of the section it is in:
  // 0 before the first section marker, the only keys the screen reader reads.
  std::size_t depth = 0;
  Text name;                 // unquoted
  std::vector<Text> values;  // a key's string, or the members of its list
  bool is_list = false;
  std::size_t line_start = 0;  // where the item's (first) line starts in the text
  // A value that stands on its key's line, not a list: where its characters lie in the text, inside
  // its quotes if it has any.
  bool is_on_key_line = false;
  std::size_t value_start = 0;
  std::size_t value_end = 0;
};

// Reads a text item by item. The text may start with a byte-order mark, which is not part of its first
// line; positions count from the start of the whole text.
class ManifestReader {
 public:
  enum class Status { ITEM, END, REFUSED };
  // Whether a name that stands twice in one section refuses the text. Only a reader that follows
  // another, item for item, over a text that it accepted may leave them unchecked: the same names then
  // stand in the same sections.
  enum class Names { CHECKED, UNCHECKED };

  ManifestReader(const ManifestGrammar& grammar, TextView text, Names names = Names::CHECKED);

  // The next item; END after the last one; REFUSED where ConfigObj refuses the text (the screen reader
  // then loads nothing of it), and every call after that. A name that stands twice in one section is
  // refused where that section ends: a text is whole only once END comes.
  Status next(ManifestItem& item);

 private:
  struct Line {
    TextView content;  // without its CR or LF
    std::size_t start;
  };
  std::optional<Line> next_line();
  std::optional<Status> read_section(const Line& line, ManifestItem& item);
  std::optional<Status> read_plain_key(const Line& line, ManifestItem& item);
  Status read_key(const Line& line, ManifestItem& item);
  Status add_key(TextView name, ManifestItem& item);
  bool read_value(TextView value, std::size_t value_start, ManifestItem& item);
  bool read_multiline_value(TextView value, std::size_t value_start, ManifestItem& item);
  Status refuse();

  const ManifestGrammar& grammar_;
  TextView text_;
  std::size_t position_;
  bool refused_ = false;
  bool check_names_;
  // The names of keys and sections of each section on the path to the current one, with their hashes:
  // a name may stand only once in one section. Sorted and compared when the section ends, which takes
  // a fraction of the time and memory of a hash set of a large manifest's names. Empty where names are
  // not checked.
  using SectionNames = std::vector<std::pair<std::size_t, TextView>>;
  std::vector<SectionNames> names_;
  void add_name(TextView name);
  bool end_sections(std::size_t depth);
};

// What the rules need of a whole text.
struct ManifestReading {
  bool is_readable = false;
  std::optional<ManifestItem> key;      // the top-level lastTestedNVDAVersion
  std::optional<ManifestItem> minimum;  // the top-level minimumNVDAVersion
  std::size_t first_section_line;       // the text's length when there is no section marker
};

inline constexpr TextView KEY = u"lastTestedNVDAVersion";
inline constexpr TextView MINIMUM_KEY = u"minimumNVDAVersion";

ManifestReading read_manifest(const ManifestGrammar& grammar, TextView text);

// True when both texts are readable and read alike, item for item, except for the top-level key `key`,
// which `changed` must hold as the one string `value`.
bool reads_as_before(const ManifestGrammar& grammar, TextView original, TextView changed, TextView key, TextView value);

}  // namespace manifest
