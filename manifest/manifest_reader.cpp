#include "manifest/manifest_reader.h"

#include <algorithm>

#include "pattern/pattern.h"

namespace manifest {

namespace {

// Python's white space (str.isspace, and \s in its patterns), in the engine's class syntax.
#define MANIFEST_SPACE               \
  u"\\t\\n\\x0b\\x0c\\r\\x1c-\\x1f " \
  u"\\x{85}\\x{a0}\\x{1680}\\x{2000}-\\x{200a}\\x{2028}\\x{2029}\\x{202f}\\x{205f}\\x{3000}"
#define MANIFEST_S u"[" MANIFEST_SPACE u"]"
#define MANIFEST_NS u"[^" MANIFEST_SPACE u"]"

// ConfigObj's patterns, with one change that keeps every match as it is and every search linear: where
// a lazy run is followed by white space and then a character that ends it ("=", "]", ",", "#" or the
// line end), the run takes white space only in front of a character that does not end it. A run that
// stopped inside the white space would meet the same end, so no match moves; but each stop no longer
// rescans the white space after it, which on a long run of blanks made a search quadratic.
#define MANIFEST_RUN(ENDS) u"(?:[^" ENDS MANIFEST_SPACE u"]|" MANIFEST_S u"++(?=[^" ENDS MANIFEST_SPACE u"]))"

// A key line holds an "=" somewhere; without one, every indentation would be tried in turn.
constexpr TextView KEYWORD = u"^(?=[^=]*=)(" MANIFEST_S u"*)((?:\".*?\")|(?:'.*?')|(?:[^'\"=]" MANIFEST_RUN(
    u"=") u"*+))" MANIFEST_S u"*=" MANIFEST_S u"*(.*)$";
// A quoted name ends at a quote, whatever white space comes before it.
constexpr TextView SECTION_MARKER = u"^(" MANIFEST_S u"*)((?:\\[" MANIFEST_S u"*)+)((?:\"" MANIFEST_S u"*" MANIFEST_NS
                                    u".*?\")|(?:'" MANIFEST_S u"*" MANIFEST_NS u".*?')|(?:[^'\"" MANIFEST_SPACE
                                    u"]" MANIFEST_RUN(u"") u"*?))((?:" MANIFEST_S u"*\\])+)" MANIFEST_S u"*(#.*)?$";
constexpr TextView VALUE =
    u"^(?:(?:((?:(?:(?:\".*?\")|(?:'.*?')|(?:[^'\",#][^,#]*+)"
    u")" MANIFEST_S u"*," MANIFEST_S u"*)*)((?:\".*?\")|(?:'.*?')|(?:[^'\",#" MANIFEST_SPACE u"]" MANIFEST_RUN(
        u",#") u"*+)|(?:(?<!,)))?)|(,))" MANIFEST_S u"*(#.*)?$";
constexpr TextView LIST_MEMBER =
    u"((?:\".*?\")|(?:'.*?')|(?:[^'\",#]?" MANIFEST_RUN(u",") u"*+))" MANIFEST_S u"*," MANIFEST_S u"*";
constexpr TextView SINGLE_LINE_DOUBLE = u"^\"\"\"(.*?)\"\"\"" MANIFEST_S u"*(#.*)?$";
constexpr TextView SINGLE_LINE_SINGLE = u"^'''(.*?)'''" MANIFEST_S u"*(#.*)?$";
constexpr TextView CLOSING_LINE_DOUBLE = u"^(.*?)\"\"\"" MANIFEST_S u"*(#.*)?$";
constexpr TextView CLOSING_LINE_SINGLE = u"^(.*?)'''" MANIFEST_S u"*(#.*)?$";

#undef MANIFEST_RUN
#undef MANIFEST_NS
#undef MANIFEST_S
#undef MANIFEST_SPACE

constexpr char16_t BYTE_ORDER_MARK = 0xFEFF;
constexpr TextView TRIPLE_DOUBLE = u"\"\"\"";
constexpr TextView TRIPLE_SINGLE = u"'''";

bool is_space(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The ends of a line for Python's str.splitlines.
bool is_line_break(char16_t c) {
  return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || (c >= 0x1C && c <= 0x1E) || c == 0x85 || c == 0x2028 ||
         c == 0x2029;
}

bool is_quote(char16_t c) { return c == u'"' || c == u'\''; }

// A blank line, or one whose first character after white space is "#".
bool is_comment(TextView line) {
  std::size_t at = 0;
  while (at < line.size() && is_space(line[at])) ++at;
  return at == line.size() || line[at] == u'#';
}

// ConfigObj's unquoting: the quotes come off a text that starts and ends with the same one.
TextView unquoted(TextView text) {
  if (text.empty() || !is_quote(text.front()) || text.front() != text.back()) return text;
  return text.size() >= 2 ? text.substr(1, text.size() - 2) : TextView(u"");
}
Text unquote(TextView text) { return Text(unquoted(text)); }

// A match of a pattern anchored at the start of the subject, with its groups; false for no match and
// for an engine that gave up (its match limit): the text is then refused rather than misread.
class Match {
 public:
  Match(const pattern::CompiledPattern& compiled, TextView subject) : number_(compiled.number()) {
    matched_ = pattern::examine_matches(number_, subject) && pattern::next_match(number_) &&
               pattern::get_match_error(number_) == 0;
  }
  explicit operator bool() const { return matched_; }
  Text group(std::int32_t index) const { return pattern::get_group_text(number_, index); }

 private:
  runtime::ObjectNumber number_;
  bool matched_;
};

}  // namespace

ManifestGrammar::ManifestGrammar()
    : keyword_(KEYWORD, 0),
      section_marker_(SECTION_MARKER, 0),
      value_(VALUE, 0),
      list_member_(LIST_MEMBER, 0),
      single_line_double_(SINGLE_LINE_DOUBLE, 0),
      single_line_single_(SINGLE_LINE_SINGLE, 0),
      closing_line_double_(CLOSING_LINE_DOUBLE, 0),
      closing_line_single_(CLOSING_LINE_SINGLE, 0) {}

bool ManifestGrammar::is_compiled() const {
  return keyword_.is_compiled() && section_marker_.is_compiled() && value_.is_compiled() &&
         list_member_.is_compiled() && single_line_double_.is_compiled() && single_line_single_.is_compiled() &&
         closing_line_double_.is_compiled() && closing_line_single_.is_compiled();
}

ManifestReader::ManifestReader(const ManifestGrammar& grammar, TextView text, Names names)
    : grammar_(grammar),
      text_(text),
      position_(!text.empty() && text[0] == BYTE_ORDER_MARK ? 1 : 0),
      check_names_(names == Names::CHECKED),
      names_(1) {
  if (!grammar.is_compiled()) refused_ = true;
}

std::optional<ManifestReader::Line> ManifestReader::next_line() {
  if (position_ >= text_.size()) return std::nullopt;
  const std::size_t start = position_;
  std::size_t end = start;
  while (end < text_.size() && !is_line_break(text_[end])) ++end;
  position_ = end;
  if (end < text_.size()) {
    position_ = end + (text_[end] == u'\r' && end + 1 < text_.size() && text_[end + 1] == u'\n' ? 2 : 1);
    // Only a CR or LF comes off a line; the other breaks stay at its end, as white space.
    if (text_[end] != u'\r' && text_[end] != u'\n') ++end;
  }
  return Line{text_.substr(start, end - start), start};
}

void ManifestReader::add_name(TextView name) {
  if (check_names_) names_.back().emplace_back(std::hash<TextView>{}(name), name);
}

// Ends every section below the given depth; false when a name stood twice in one of them.
bool ManifestReader::end_sections(std::size_t depth) {
  for (std::size_t level = depth; level < names_.size(); ++level) {
    SectionNames& names = names_[level];
    std::sort(names.begin(), names.end());
    if (std::adjacent_find(names.begin(), names.end()) != names.end()) return false;
  }
  names_.resize(depth);
  return true;
}

ManifestReader::Status ManifestReader::refuse() {
  refused_ = true;
  return Status::REFUSED;
}

ManifestReader::Status ManifestReader::next(ManifestItem& item) {
  if (refused_) return Status::REFUSED;
  for (;;) {
    const std::optional<Line> line = next_line();
    if (!line) return end_sections(0) ? Status::END : refuse();
    if (is_comment(line->content)) continue;
    item = ManifestItem();
    item.line_start = line->start;
    if (std::optional<Status> plain = read_plain_key(*line, item)) return *plain;
    if (std::optional<Status> section = read_section(*line, item)) return *section;
    return read_key(*line, item);
  }
}

std::optional<ManifestReader::Status> ManifestReader::read_section(const Line& line, ManifestItem& item) {
  Match marker{grammar_.section_marker_, line.content};
  // A line that is not a section marker is read as a key, as ConfigObj reads it.
  if (!marker) return std::nullopt;
  const Text open = marker.group(2), close = marker.group(4);
  const auto depth = static_cast<std::size_t>(std::count(open.begin(), open.end(), u'['));
  if (depth != static_cast<std::size_t>(std::count(close.begin(), close.end(), u']'))) return refuse();
  // A section is a child of the current one, its sibling, or a sibling of one of its parents.
  if (depth > names_.size() || !end_sections(depth)) return refuse();
  item.kind = ManifestItem::Kind::SECTION;
  item.depth = depth;
  // The name as it stands in the line, after the indentation and the brackets.
  const TextView name = unquoted(line.content.substr(marker.group(1).size() + open.size(), marker.group(3).size()));
  item.name = Text(name);
  add_name(name);
  names_.emplace_back();
  return Status::ITEM;
}

ManifestReader::Status ManifestReader::read_key(const Line& line, ManifestItem& item) {
  Match keyword{grammar_.keyword_, line.content};
  if (!keyword) return refuse();
  const Text value = keyword.group(3);
  std::size_t value_start = line.start + line.content.size() - value.size();
  // An empty value goes before a line break that stays at the line's end, not after it.
  if (value.empty() && !line.content.empty() && is_line_break(line.content.back())) --value_start;
  const TextView opening = TextView(value).substr(0, 3);
  const bool triple = opening == TRIPLE_DOUBLE || opening == TRIPLE_SINGLE;
  if (!(triple ? read_multiline_value(value, value_start, item) : read_value(value, value_start, item)))
    return refuse();
  // The name as it stands in the line, after the indentation.
  return add_key(unquoted(line.content.substr(keyword.group(1).size(), keyword.group(2).size())), item);
}

ManifestReader::Status ManifestReader::add_key(TextView name, ManifestItem& item) {
  item.kind = ManifestItem::Kind::KEY;
  item.depth = names_.size() - 1;
  item.name = Text(name);
  add_name(name);
  return Status::ITEM;
}

// Most lines of a manifest are a plain key, "=" and a plain or quoted value. ConfigObj's patterns can
// read such a line in one way only, which this reads without them; any other line is left to them.
std::optional<ManifestReader::Status> ManifestReader::read_plain_key(const Line& line, ManifestItem& item) {
  const TextView content = line.content;
  auto skip_spaces = [&](std::size_t at) {
    while (at < content.size() && is_space(content[at])) ++at;
    return at;
  };
  auto is_word = [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
  };
  const std::size_t key_start = skip_spaces(0);
  std::size_t key_end = key_start;
  while (key_end < content.size() && is_word(content[key_end])) ++key_end;
  std::size_t at = skip_spaces(key_end);
  if (key_end == key_start || at == content.size() || content[at] != u'=') return std::nullopt;
  const std::size_t value = skip_spaces(at + 1);
  const TextView rest = content.substr(value);
  auto has_quote = [](TextView text) { return text.find_first_of(u"\"'") != TextView::npos; };

  std::size_t start = value, end = value;
  if (!rest.empty() && is_quote(rest[0])) {
    // One quoted string with no other quote in the line, then white space and maybe a comment.
    const std::size_t closing = rest.find(rest[0], 1);
    if (closing == TextView::npos || has_quote(rest.substr(1, closing - 1))) return std::nullopt;
    const TextView after = rest.substr(closing + 1);
    std::size_t tail = 0;
    while (tail < after.size() && is_space(after[tail])) ++tail;
    if (tail < after.size() && (after[tail] != u'#' || has_quote(after.substr(tail)))) return std::nullopt;
    start = value + 1;
    end = value + closing;
  } else {
    // Unquoted: no quote and no comma before a comment; the value ends before the white space in
    // front of it.
    const std::size_t comment = std::min(rest.find(u'#'), rest.size());
    const TextView head = rest.substr(0, comment);
    if (has_quote(head) || head.find(u',') != TextView::npos) return std::nullopt;
    std::size_t length = head.size();
    while (length > 0 && is_space(head[length - 1])) --length;
    end = value + length;
    // An empty value goes before a line break that stays at the line's end, not after it.
    if (rest.empty() && !content.empty() && is_line_break(content.back())) start = end = value - 1;
  }
  item.is_on_key_line = true;
  item.values.emplace_back(content.substr(start, end - start));
  item.value_start = line.start + start;
  item.value_end = line.start + end;
  return add_key(content.substr(key_start, key_end - key_start), item);
}

bool ManifestReader::read_value(TextView value, std::size_t value_start, ManifestItem& item) {
  item.is_on_key_line = true;
  item.value_start = item.value_end = value_start;
  // The engine finds no match in an empty subject; ConfigObj reads an empty value as the empty string.
  if (value.empty()) {
    item.values.emplace_back();
    return true;
  }
  Match read{grammar_.value_, value};
  if (!read) return false;
  const Text members = read.group(1), last = read.group(2);
  if (!read.group(3).empty()) {  // a lone comma: the empty list
    item.is_list = true;
    return true;
  }
  if (members.empty()) {
    item.values.push_back(last.empty() ? Text() : unquote(last));
    const bool quoted = !last.empty() && is_quote(last.front());
    item.value_start = value_start + (quoted ? 1 : 0);
    item.value_end = item.value_start + item.values[0].size();
    return true;
  }
  item.is_list = true;
  const runtime::ObjectNumber member = grammar_.list_member_.number();
  if (!pattern::examine_matches(member, members)) return false;
  while (pattern::next_match(member)) {
    const Text text = pattern::get_group_text(member, 1);
    if (text.empty()) return false;  // ConfigObj cannot unquote an empty member
    item.values.push_back(unquote(text));
  }
  if (pattern::get_match_error(member) != 0) return false;
  if (!last.empty()) item.values.push_back(unquote(last));
  return true;
}

bool ManifestReader::read_multiline_value(TextView value, std::size_t value_start, ManifestItem& item) {
  const bool is_double = value[0] == u'"';
  const TextView quote = is_double ? TRIPLE_DOUBLE : TRIPLE_SINGLE;
  if (Match single{is_double ? grammar_.single_line_double_ : grammar_.single_line_single_, value}) {
    item.is_on_key_line = true;
    item.values.push_back(single.group(1));
    item.value_start = value_start + quote.size();
    item.value_end = item.value_start + item.values[0].size();
    return true;
  }
  // The quote that would close the value stands on its own line but cannot close it there.
  if (value.substr(3).find(quote) != TextView::npos) return false;
  Text joined(value.substr(3));
  for (;;) {
    const std::optional<Line> line = next_line();
    if (!line) return false;  // never closed
    joined += u'\n';
    if (line->content.find(quote) == TextView::npos) {
      joined += line->content;
      continue;
    }
    Match closing{is_double ? grammar_.closing_line_double_ : grammar_.closing_line_single_, line->content};
    if (!closing) return false;
    item.values.push_back(joined + closing.group(1));
    return true;
  }
}

ManifestReading read_manifest(const ManifestGrammar& grammar, TextView text) {
  ManifestReading reading;
  reading.first_section_line = text.size();
  ManifestReader reader(grammar, text);
  ManifestItem item;
  ManifestReader::Status status;
  while ((status = reader.next(item)) == ManifestReader::Status::ITEM) {
    if (item.kind == ManifestItem::Kind::SECTION) {
      if (reading.first_section_line == text.size()) reading.first_section_line = item.line_start;
    } else if (item.depth == 0 && item.name == KEY) {
      reading.key = std::move(item);
    } else if (item.depth == 0 && item.name == MINIMUM_KEY) {
      reading.minimum = std::move(item);
    }
  }
  reading.is_readable = status == ManifestReader::Status::END;
  return reading;
}

namespace {

bool is_top_level_key(const ManifestItem& item, TextView key) {
  return item.kind == ManifestItem::Kind::KEY && item.depth == 0 && item.name == key;
}

bool reads_alike(const ManifestItem& a, const ManifestItem& b) {
  return a.kind == b.kind && a.depth == b.depth && a.name == b.name && a.is_list == b.is_list && a.values == b.values;
}

}  // namespace

bool reads_as_before(const ManifestGrammar& grammar, TextView original, TextView changed, TextView key,
                     TextView value) {
  // The changed text must read item for item as the original, so its names stand where the original's
  // do and are checked once; only the key is new among them, and a top-level section of its name
  // would stand beside it.
  ManifestReader before(grammar, original), after(grammar, changed, ManifestReader::Names::UNCHECKED);
  ManifestItem old_item, new_item;
  bool key_read = false, section_named_key = false;
  for (;;) {
    ManifestReader::Status old_status = before.next(old_item);
    while (old_status == ManifestReader::Status::ITEM && is_top_level_key(old_item, key))
      old_status = before.next(old_item);
    ManifestReader::Status new_status = after.next(new_item);
    while (new_status == ManifestReader::Status::ITEM && is_top_level_key(new_item, key)) {
      if (key_read || new_item.is_list || new_item.values.size() != 1 || new_item.values[0] != value) return false;
      key_read = true;
      new_status = after.next(new_item);
    }
    if (old_status != new_status) return false;
    if (old_status != ManifestReader::Status::ITEM)
      return old_status == ManifestReader::Status::END && key_read && !section_named_key;
    if (!reads_alike(old_item, new_item)) return false;
    if (old_item.kind == ManifestItem::Kind::SECTION && old_item.depth == 1 && old_item.name == key)
      section_named_key = true;
  }
}

}  // namespace manifest
