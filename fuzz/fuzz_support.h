#pragma once

#include <string>
#include <string_view>

#include "runtime/text.h"

// What the fuzz targets share: a temporary folder for the process, whole-file writes and reads with
// plain system calls, and the report of a broken property.
namespace fuzz {

// A folder of this process's own under the system's temporary folder, made on first use and removed
// with everything in it when the process exits normally. Ends in a slash.
const std::string& temporary_folder();

// The file holds exactly these bytes afterwards. Aborts when the system refuses.
void write_whole_file(const std::string& path, std::string_view bytes);
// The file's bytes, or nothing when it cannot be opened; `exists` tells the two empty cases apart.
std::string read_whole_file(const std::string& path, bool* exists = nullptr);
void remove_tree(const std::string& path);

// Makes the folder current for the code under test, which works with relative paths; leave_folder
// goes back, and so does a failed property, so that libFuzzer's files land where it was told.
void enter_folder(const std::string& path);
void leave_folder();

// The path as the libraries take it.
runtime::Text to_text(const std::string& path);

// A property that failed: prints what and where with the values involved, then aborts so that
// libFuzzer keeps the input.
[[noreturn]] void fail(const char* what, std::string_view detail = {});
#define FUZZ_CHECK(condition, detail)                     \
  do {                                                    \
    if (!(condition)) ::fuzz::fail(#condition, (detail)); \
  } while (0)

// Printable forms for the reports.
std::string show_bytes(std::string_view bytes);
std::string show_text(runtime::TextView text);

}  // namespace fuzz
