#pragma once

#include "runtime/text.h"

namespace texts {

// A number as the user's keyboard types it, in ASCII: Arabic-Indic (U+0660 to U+0669), Eastern
// Arabic-Indic (U+06F0 to U+06F9) and full-width (U+FF10 to U+FF19) digits become 0 to 9, the
// full-width full stop (U+FF0E) and the Arabic decimal separator (U+066B) a full stop. Every other
// unit stays as it is.
runtime::Text with_ascii_digits(runtime::TextView typed);

}  // namespace texts
