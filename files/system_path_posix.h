#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/text.h"
#include "runtime/utf8.h"

// How the POSIX port's paths meet the system: callers write Windows paths, in which both the slash
// and the backslash separate components, and a backslash that is part of a name travels as
// NAME_BACKSLASH.
namespace files::posix_path {

using runtime::NAME_BACKSLASH;
using runtime::Text;
using runtime::TextView;

// The path with every backslash turned into a slash, still as a Text.
inline Text with_slashes(TextView path) {
  Text slashed(path);
  for (char16_t& unit : slashed)
    if (unit == u'\\') unit = u'/';
  return slashed;
}

// The path as the system names it.
inline std::string system_path(TextView path) {
  Text system = with_slashes(path);
  for (char16_t& unit : system)
    if (unit == NAME_BACKSLASH) unit = u'\\';
  return runtime::utf16_to_utf8(system);
}

// A path of the system as a Text that system_path turns back into the same path; nothing when the
// path holds NAME_BACKSLASH itself, which the port's paths cannot carry.
inline std::optional<Text> to_path_text(std::string_view system) {
  Text text = runtime::utf8_to_utf16(system);
  for (char16_t& unit : text) {
    if (unit == NAME_BACKSLASH) return std::nullopt;
    if (unit == u'\\') unit = NAME_BACKSLASH;
  }
  return text;
}

}  // namespace files::posix_path
