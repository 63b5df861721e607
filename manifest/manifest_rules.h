#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "manifest/manifest_reader.h"
#include "runtime/text.h"

// What a run makes of a manifest's text: text in, decision out, no files and no dialogs.
namespace manifest {

// The largest manifest, in bytes, that is read or written: its text must fit the signed 32-bit lengths
// of Text operations and of the pattern engine.
inline constexpr std::int64_t MAX_MANIFEST_BYTES = 0x7FFFFFFF;

enum class ManifestOutcome { REWRITTEN, SKIPPED, FAILED };
struct ManifestDecision {
  ManifestOutcome outcome = ManifestOutcome::SKIPPED;
  Text new_text;  // set only when rewritten
};

// The rules of one manifest: the value of its top-level key set to `version`, or, when it has none and
// `add_key` (asked only then) says yes, a key line added before the first section. A text the screen
// reader refuses, or whose key holds a list or a value over several lines, fails; so does a new text
// that does not read back as the old one with the key set to the version.
ManifestDecision decide_manifest_text(const ManifestGrammar& grammar, TextView text, TextView version,
                                      const std::function<bool()>& add_key);

// The string of the text's top-level key, where it stands on the key's line; nothing otherwise.
std::optional<Text> read_key_version(const ManifestGrammar& grammar, TextView text);

// True when `later` is exactly what the rules make of `earlier` with the version of later's own key,
// the key added where earlier had none: later is an update run's work on earlier, and earlier can be
// made again from it.
bool is_rewrite_of(const ManifestGrammar& grammar, TextView earlier, TextView later);

// True for a version that the screen reader accepts: four ASCII digits, a full stop and one digit,
// optionally a full stop and one more digit. A zero unit anywhere makes it invalid.
bool is_valid_version(TextView version);

}  // namespace manifest
