#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/object_table.h"
#include "runtime/text.h"

// Open files under object numbers, with buffered reading and writing of Text in UTF-8, UTF-16 or
// the ANSI code page.
namespace files {

using runtime::ANY_NUMBER;
using runtime::ObjectNumber;
using runtime::Text;
using runtime::TextView;

// Open modes.
inline constexpr std::int32_t FILE_MODE_READ = 1;    // read only; the file must exist
inline constexpr std::int32_t FILE_MODE_UPDATE = 2;  // read and write; created when missing; never truncated
inline constexpr std::int32_t FILE_MODE_CREATE = 3;  // read and write; emptied or created

// Encoding codes (bits 0-4 of the open flags and the read flags). 0 means the default: UTF-8 when
// opening, the file's default when reading. Any other code means the ANSI code page.
inline constexpr std::int32_t ENCODING_MASK = 0x1F;
inline constexpr std::int32_t ENCODING_UTF8 = 2;
inline constexpr std::int32_t ENCODING_UTF16 = 25;

// Open flags.
inline constexpr std::int32_t OPEN_SHARE_READ = 0x20000;
inline constexpr std::int32_t OPEN_SHARE_ALL = 0x40000;  // wins over OPEN_SHARE_READ
inline constexpr std::int32_t OPEN_UNBUFFERED = 0x80000;
inline constexpr std::int32_t OPEN_AT_END = 0x100000;  // FILE_MODE_UPDATE only

// Read flag: read to the end of the file instead of one line.
inline constexpr std::int32_t READ_WHOLE_FILE = 0x10000;

// Creates the file table and registers the library's end step. Call once before anything else.
void init_file_library();
// Closes every open file (pending bytes are written first).
void end_file_library();

// Opens or creates the file and binds it to the number (closing what the number held first).
// Returns non-zero on success (for ANY_NUMBER, the new number), 0 on failure (the number is then free).
std::intptr_t open_file_object(ObjectNumber number, TextView path, std::int32_t mode, std::int32_t flags);
std::intptr_t open_file_for_reading(ObjectNumber number, TextView path, std::int32_t flags);
std::intptr_t open_file_for_update(ObjectNumber number, TextView path, std::int32_t flags);

// One line (LF, CR or CR LF ends it and is dropped), or with READ_WHOLE_FILE the rest of the file.
// A zero unit ends any read. The empty Text for a number that is not open.
Text read_file_text(ObjectNumber number, std::int32_t flags);
// Writes the text in the file's default encoding at the current position. Returns the bytes taken
// (written or buffered); 0 for a number that is not open, an empty text, a read-only file or a failed
// write.
std::int32_t write_file_text(ObjectNumber number, TextView text);
// Writes the pending bytes and closes the file; the number is free afterwards whatever happens.
// Returns non-zero when every read and write of the file and the close succeeded, 0 when one failed
// (so a read that ended early is told from the end of the file) or the number was not open.
// ANY_NUMBER closes every open file.
int close_file(ObjectNumber number);
// Non-zero when the number holds an open file.
int is_file_open(ObjectNumber number);

// The rest of the file from the current position as raw bytes, at most `limit` of them, through the
// same buffered reads as read_file_text (zero bytes included, nothing converted): lets a caller check
// that a file would survive a conversion before it rewrites it. The empty string for a number that is
// not open. `expected`, the size the caller believes the file has, is room taken at once, so that a
// large file is not copied as its buffer grows.
std::string read_file_bytes(ObjectNumber number, std::size_t limit, std::size_t expected = 0);

// Conversions at the file boundary.
Text utf8_to_text(std::string_view bytes);
// The Text in the given encoding code's byte form: UTF-8 for ENCODING_UTF8, else the ANSI code page.
std::string text_to_multibyte(TextView text, std::int32_t encoding);

}  // namespace files
