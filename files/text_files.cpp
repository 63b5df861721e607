#include "files/text_files.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "files/file_handle.h"
#include "runtime/program_end.h"
#include "runtime/utf8.h"

namespace files {

namespace {

constexpr std::int32_t BUFFER_SIZE = 4096;
constexpr std::int32_t TABLE_GROWTH_STEP = 16;
constexpr std::int32_t STATE_WRITING = 0;
constexpr std::int32_t STATE_READING = 1;

struct FileRecord {
  FileHandle handle;
  std::unique_ptr<char[]> buffer;  // null for an unbuffered file
  std::int32_t buffer_size = 0;
  // Reading: read-ahead bytes not yet consumed. Writing: free bytes left in the buffer.
  std::int32_t remaining = 0;
  std::int32_t filled = 0;  // bytes the last refill placed in the buffer
  std::int32_t buffer_state = STATE_READING;
  std::int32_t default_encoding = 0;
  bool read_only = false;
  // A read or write of the system failed (bytes reported as taken never reached the file, or a read
  // ended early); close_file reports it.
  bool io_failed = false;

  bool is_live() const { return handle.is_open(); }
};

std::unique_ptr<runtime::ObjectTable<FileRecord>> file_table;

FileRecord* get_file(ObjectNumber number) { return file_table ? file_table->get_object(number) : nullptr; }

std::size_t write_through(FileRecord& file, const char* source, std::size_t count) {
  std::size_t written = write_to_handle(file.handle, source, count);
  if (written != count) file.io_failed = true;
  return written;
}

// A failed read counts as the end of the file for the reader; close_file reports it.
std::int32_t read_through(FileRecord& file, char* destination, std::int32_t count) {
  std::int32_t got = read_from_handle(file.handle, destination, count);
  if (got >= 0) return got;
  file.io_failed = true;
  return 0;
}

std::size_t flush_file_buffer(FileRecord& file) {
  if (file.buffer_state != STATE_WRITING) return 0;
  auto pending = static_cast<std::size_t>(file.buffer_size - file.remaining);
  std::size_t written = pending > 0 ? write_through(file, file.buffer.get(), pending) : 0;
  file.remaining = file.buffer_size;
  return written;
}

// The table's free step and close_file's: writes what is buffered and closes; false when a read or
// write of the system failed or the close did.
bool close_file_record(FileRecord& file) {
  if (file.buffer) {
    flush_file_buffer(file);
    file.buffer.reset();
  }
  bool succeeded = !file.io_failed;
  if (!file.handle.close()) succeeded = false;
  return succeeded;
}

std::int32_t buffered_read(FileRecord& file, char* destination, std::int32_t count) {
  if (file.buffer_state == STATE_WRITING) {
    flush_file_buffer(file);
    file.buffer_state = STATE_READING;
    file.remaining = 0;
    file.filled = 0;
  }
  char* buffer = file.buffer.get();
  if (file.remaining >= count) {
    std::memcpy(destination, buffer + (file.filled - file.remaining), static_cast<std::size_t>(count));
    file.remaining -= count;
    return count;
  }
  std::int32_t taken = file.remaining;
  std::memcpy(destination, buffer + (file.filled - file.remaining), static_cast<std::size_t>(taken));
  std::int32_t need = count - taken;
  file.remaining = 0;
  if (need >= file.buffer_size) {
    file.filled = 0;
    return taken + read_through(file, destination + taken, need);
  }
  std::int32_t got = read_through(file, buffer, file.buffer_size);
  file.filled = file.remaining = got;
  std::int32_t more = std::min(need, got);
  std::memcpy(destination + taken, buffer, static_cast<std::size_t>(more));
  file.remaining -= more;
  return taken + more;
}

// Counts are of the size type throughout, so that no length is cut before it is compared.
std::size_t buffered_write(FileRecord& file, const char* source, std::size_t count) {
  if (file.read_only) return 0;
  if (file.buffer_state == STATE_READING) {
    // The system's pointer stands after the read-ahead; the caller writes at the logical position.
    if (file.remaining > 0)
      move_handle_pointer(file.handle, -static_cast<std::int64_t>(file.remaining), MoveFrom::current);
    file.buffer_state = STATE_WRITING;
    file.remaining = file.buffer_size;
  }
  const auto free = static_cast<std::size_t>(file.remaining);
  const auto size = static_cast<std::size_t>(file.buffer_size);
  if (free > count) {
    std::memcpy(file.buffer.get() + (size - free), source, count);
    file.remaining -= static_cast<std::int32_t>(count);
    return count;
  }
  // Taking more bytes after the earlier ones were lost would report them as written.
  if (flush_file_buffer(file) != size - free) return 0;
  if (count >= size) return write_through(file, source, count);
  std::memcpy(file.buffer.get(), source, count);
  file.remaining -= static_cast<std::int32_t>(count);
  return count;
}

std::int32_t read_bytes(FileRecord& file, char* destination, std::int32_t count) {
  return file.buffer ? buffered_read(file, destination, count) : read_through(file, destination, count);
}

std::int32_t write_bytes(FileRecord& file, std::string_view bytes) {
  // The count must fit the 32-bit result: a longer text is refused whole, nothing written.
  if (file.read_only || bytes.empty() || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return 0;
  std::size_t written =
      file.buffer ? buffered_write(file, bytes.data(), bytes.size()) : write_through(file, bytes.data(), bytes.size());
  return static_cast<std::int32_t>(written);
}

// Puts the last `count` bytes read back, so that the next read starts with them.
void give_back(FileRecord& file, std::int32_t count) {
  if (!file.buffer) {
    move_handle_pointer(file.handle, -static_cast<std::int64_t>(count), MoveFrom::current);
    return;
  }
  if (file.remaining + count <= file.filled) {
    file.remaining += count;
    return;
  }
  // The bytes straddled a refill: drop the read-ahead and step the system's pointer back instead.
  move_handle_pointer(file.handle, -static_cast<std::int64_t>(file.remaining + count), MoveFrom::current);
  file.remaining = 0;
  file.filled = 0;
}

// One character's bytes, 1 to 4; 0 at the end of the file, also for a character cut short by it.
// Sequences are not checked here: the conversion of the whole read replaces what is invalid.
std::int32_t read_utf8_character(FileRecord& file, char* character) {
  if (read_bytes(file, character, 1) < 1) return 0;
  const auto length =
      static_cast<std::int32_t>(runtime::utf8_sequence_length(static_cast<unsigned char>(character[0])));
  if (length == 1) return 1;
  if (length == 0) {
    character[0] = '?';
    return 1;
  }
  if (read_bytes(file, character + 1, length - 1) < length - 1) return 0;
  return length;
}

Text utf16le_to_text(std::string_view bytes) {
  Text text(bytes.size() / 2, u'\0');
  for (std::size_t index = 0; index < text.size(); ++index)
    text[index] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * index]) |
                                        static_cast<unsigned char>(bytes[2 * index + 1]) << 8);
  return text;
}

std::string text_to_utf16le(TextView text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

bool unit_is(const char* unit, std::int32_t length, std::int32_t encoding, char value) {
  if (encoding == ENCODING_UTF16) return length == 2 && unit[0] == value && unit[1] == 0;
  return length == 1 && unit[0] == value;
}

}  // namespace

void init_file_library() {
  // A second call keeps the table and the files open in it.
  if (!file_table) file_table = runtime::create_object_table<FileRecord>(TABLE_GROWTH_STEP, close_file_record);
  runtime::register_end_step(runtime::EndStep::files, end_file_library);
}

void end_file_library() {
  if (file_table) close_file(ANY_NUMBER);
}

std::intptr_t open_file_object(ObjectNumber number, TextView path, std::int32_t mode, std::int32_t flags) {
  if (!file_table) return 0;
  std::int32_t encoding = flags & ENCODING_MASK;
  if (encoding == 0) encoding = ENCODING_UTF8;
  auto allocation = file_table->allocate_object(number);
  if (!allocation.record) return 0;
  std::int32_t share_mode = (flags & OPEN_SHARE_ALL) ? SHARE_ALL : (flags & OPEN_SHARE_READ) ? SHARE_READ : SHARE_NONE;
  FileHandle handle = open_file_handle(path, mode, share_mode);
  if (!handle.is_open()) {
    file_table->release_object(allocation.number);
    return 0;
  }
  FileRecord& file = *allocation.record;
  file.handle = std::move(handle);
  // Without memory for a buffer the file still works, unbuffered.
  if (!(flags & OPEN_UNBUFFERED)) file.buffer.reset(new (std::nothrow) char[BUFFER_SIZE]);
  file.buffer_size = BUFFER_SIZE;
  file.remaining = 0;
  file.filled = 0;
  file.buffer_state = STATE_READING;
  file.default_encoding = encoding;
  file.read_only = mode == FILE_MODE_READ;
  if (mode == FILE_MODE_UPDATE && (flags & OPEN_AT_END)) move_handle_pointer(file.handle, 0, MoveFrom::end);
  return number == ANY_NUMBER ? allocation.number : handle_result(file.handle);
}

std::intptr_t open_file_for_reading(ObjectNumber number, TextView path, std::int32_t flags) {
  return open_file_object(number, path, FILE_MODE_READ, flags);
}

std::intptr_t open_file_for_update(ObjectNumber number, TextView path, std::int32_t flags) {
  return open_file_object(number, path, FILE_MODE_UPDATE, flags);
}

Text read_file_text(ObjectNumber number, std::int32_t flags) {
  FileRecord* file = get_file(number);
  if (!file) return Text();
  std::int32_t encoding = flags & ENCODING_MASK;
  if (encoding == 0) encoding = file->default_encoding;
  bool whole_file = (flags & READ_WHOLE_FILE) != 0;
  std::int32_t unit_size = encoding == ENCODING_UTF16 ? 2 : 1;

  std::string collected;
  for (;;) {
    char unit[4];
    std::int32_t length;
    if (encoding == ENCODING_UTF8) {
      length = read_utf8_character(*file, unit);
      if (length == 0) break;
    } else {
      length = read_bytes(*file, unit, unit_size);
      if (length < unit_size) break;
    }
    if (unit[0] == 0 && (unit_size == 1 || unit[1] == 0)) break;
    if (!whole_file) {
      if (unit_is(unit, length, encoding, '\n')) break;
      if (unit_is(unit, length, encoding, '\r')) {
        char next[2];
        if (read_bytes(*file, next, unit_size) == unit_size && !unit_is(next, unit_size, encoding, '\n'))
          give_back(*file, unit_size);
        break;
      }
    }
    collected.append(unit, static_cast<std::size_t>(length));
  }

  if (encoding == ENCODING_UTF16) return utf16le_to_text(collected);
  if (encoding == ENCODING_UTF8) return utf8_to_text(collected);
  return ansi_to_text(collected);
}

std::string read_file_bytes(ObjectNumber number, std::size_t limit, std::size_t expected) {
  FileRecord* file = get_file(number);
  if (!file) return std::string();
  std::string collected;
  // One more than expected, to read the end of the file without growing.
  collected.reserve(std::min(limit, expected < SIZE_MAX ? expected + 1 : expected));
  char chunk[BUFFER_SIZE];
  while (collected.size() < limit) {
    auto wanted = static_cast<std::int32_t>(std::min<std::size_t>(BUFFER_SIZE, limit - collected.size()));
    std::int32_t got = read_bytes(*file, chunk, wanted);
    collected.append(chunk, static_cast<std::size_t>(got));
    if (got < wanted) break;
  }
  return collected;
}

std::int32_t write_file_text(ObjectNumber number, TextView text) {
  FileRecord* file = get_file(number);
  if (!file) return 0;
  TextView units = runtime::until_terminator(text);
  // Every unit takes at least a byte: a text this long cannot be counted, and is not converted.
  if (units.empty() || units.size() > static_cast<std::size_t>(INT32_MAX)) return 0;
  if (file->default_encoding == ENCODING_UTF16) return write_bytes(*file, text_to_utf16le(units));
  return write_bytes(*file, text_to_multibyte(units, file->default_encoding));
}

int close_file(ObjectNumber number) {
  if (!file_table) return 0;
  if (number == ANY_NUMBER) return file_table->free_all_objects() ? 1 : 0;
  FileRecord* file = get_file(number);
  if (!file) return 0;
  const bool succeeded = close_file_record(*file);
  file_table->release_object(number);
  return succeeded ? 1 : 0;
}

int is_file_open(ObjectNumber number) { return get_file(number) ? 1 : 0; }

Text utf8_to_text(std::string_view bytes) {
  // The conversion stops at the first zero byte, also one taken in as part of a longer character.
  return runtime::utf8_to_utf16(bytes.substr(0, bytes.find('\0')));
}

std::string text_to_multibyte(TextView text, std::int32_t encoding) {
  if (encoding == ENCODING_UTF8) return runtime::utf16_to_utf8(text);
  return text_to_ansi(text);
}

}  // namespace files
