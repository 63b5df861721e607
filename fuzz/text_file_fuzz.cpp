// The text-file reader on arbitrary file contents: every encoding, line and whole-file reads and raw
// byte reads in any order, buffered and unbuffered, against a model of the reader's unit-by-unit
// rules; and whole-file reads from the start against a direct conversion of the bytes.
//
// Input: control values (taken from the end) choose the encoding, buffering, an optional run of
// padding before the contents (so that short inputs reach the 4096-byte buffer's edges) and a
// sequence of reads; the rest is the file's contents.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>

#include "files/file_handle.h"
#include "files/text_files.h"
#include "fuzz/fuzz_support.h"
#include "runtime/utf8.h"

namespace {

using runtime::Text;
using runtime::TextView;

constexpr std::int32_t ENCODING_ANSI = 1;
constexpr std::int32_t ENCODINGS[] = {files::ENCODING_UTF8, files::ENCODING_UTF16, ENCODING_ANSI, 0};
constexpr std::size_t MAXIMUM_PADDING = 8300;
constexpr int OPERATIONS = 16;

enum class Operation { line, whole_file, bytes };

// The reader's rules, walked over the bytes from a position.
class ReaderModel {
 public:
  ReaderModel(std::string_view bytes, std::int32_t default_encoding)
      : bytes_(bytes), default_encoding_(default_encoding == 0 ? files::ENCODING_UTF8 : default_encoding) {}

  std::size_t position() const { return position_; }

  Text read_text(std::int32_t read_encoding, bool whole_file) {
    const std::int32_t encoding = read_encoding == 0 ? default_encoding_ : read_encoding;
    const std::size_t unit_size = encoding == files::ENCODING_UTF16 ? 2 : 1;
    std::string collected;
    for (;;) {
      std::string unit;
      if (encoding == files::ENCODING_UTF8) {
        if (!read_utf8_character(unit)) break;
      } else if (!take(unit_size, unit)) {
        break;
      }
      if (unit[0] == 0 && (unit_size == 1 || unit[1] == 0)) break;
      if (!whole_file) {
        if (is_unit(unit, encoding, '\n')) break;
        if (is_unit(unit, encoding, '\r')) {
          std::string next;
          if (take(unit_size, next) && !is_unit(next, encoding, '\n')) position_ -= unit_size;
          break;
        }
      }
      collected += unit;
    }
    if (encoding == files::ENCODING_UTF16) return units_of(collected);
    if (encoding == files::ENCODING_UTF8) return files::utf8_to_text(collected);
    return files::ansi_to_text(collected);
  }

  std::string read_bytes() {
    std::string rest(bytes_.substr(position_));
    position_ = bytes_.size();
    return rest;
  }

  static Text units_of(std::string_view bytes) {
    Text text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return text;
  }

 private:
  // A short read still consumes what it got.
  bool take(std::size_t count, std::string& unit) {
    const std::size_t available = std::min(count, bytes_.size() - position_);
    unit.assign(bytes_.substr(position_, available));
    position_ += available;
    return available == count;
  }

  bool read_utf8_character(std::string& character) {
    if (!take(1, character)) return false;
    const auto lead = static_cast<unsigned char>(character[0]);
    if (lead < 0x80) return true;
    std::size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0) {
      character[0] = '?';
      return true;
    }
    std::string rest;
    if (!take(length - 1, rest)) return false;
    character += rest;
    return true;
  }

  static bool is_unit(const std::string& unit, std::int32_t encoding, char value) {
    if (encoding == files::ENCODING_UTF16) return unit.size() == 2 && unit[0] == value && unit[1] == 0;
    return unit.size() == 1 && unit[0] == value;
  }

  std::string_view bytes_;
  std::int32_t default_encoding_;
  std::size_t position_ = 0;
};

// The whole file from its start, converted directly; nothing when the conversion is not defined
// independently of the reader (UTF-8 that is not well formed).
std::optional<Text> direct_conversion(std::string_view bytes, std::int32_t encoding) {
  if (encoding == files::ENCODING_UTF16) {
    Text units = ReaderModel::units_of(bytes);
    return units.substr(0, units.find(u'\0'));
  }
  std::string_view before_zero = bytes.substr(0, bytes.find('\0'));
  if (encoding == ENCODING_ANSI) return files::ansi_to_text(before_zero);
  if (!runtime::is_valid_utf8(before_zero)) return std::nullopt;
  return runtime::utf8_to_utf16(before_zero);
}

std::string describe(std::string_view bytes, std::int32_t flags, const std::string& trace) {
  return "contents: " + fuzz::show_bytes(bytes) + "\nopen flags: " + std::to_string(flags) + "\nreads: " + trace;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  files::init_file_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::temporary_folder() + "contents";
  static const Text path_text = fuzz::to_text(path);

  FuzzedDataProvider input(data, size);
  const auto options = input.ConsumeIntegral<std::uint8_t>();
  const auto padding_choice = input.ConsumeIntegral<std::uint16_t>();
  const auto operations = input.ConsumeIntegral<std::uint64_t>();
  const std::int32_t encoding = ENCODINGS[options & 3];
  const bool unbuffered = (options & 4) != 0;
  std::string bytes;
  if (options & 8) bytes.assign(padding_choice % MAXIMUM_PADDING, (options & 16) ? 'x' : '\n');
  bytes += input.ConsumeRemainingBytesAsString();
  fuzz::write_whole_file(path, bytes);

  const std::int32_t flags =
      encoding | (unbuffered ? files::OPEN_UNBUFFERED : 0) | ((options & 32) ? files::OPEN_SHARE_READ : 0);
  std::string trace;

  // Whole-file reads from the start match a direct conversion of the bytes.
  FUZZ_CHECK(files::open_file_for_reading(1, path_text, flags) != 0, path);
  const Text whole = files::read_file_text(1, files::READ_WHOLE_FILE);
  const std::optional<Text> direct = direct_conversion(bytes, encoding == 0 ? files::ENCODING_UTF8 : encoding);
  if (direct)
    FUZZ_CHECK(whole == *direct, describe(bytes, flags, "whole") + "\nread: " + fuzz::show_text(whole) +
                                     "\nexpected: " + fuzz::show_text(*direct));
  FUZZ_CHECK(files::close_file(1) != 0, path);

  // Reads in any order and encoding on one open file follow the model and never lose their place.
  FUZZ_CHECK(files::open_file_for_reading(0, path_text, flags) != 0, path);
  ReaderModel model(bytes, encoding);
  auto check_read = [&](Operation operation, std::int32_t read_encoding) {
    if (operation == Operation::bytes) {
      trace += "bytes ";
      std::string expected = model.read_bytes();
      std::string got = files::read_file_bytes(0, SIZE_MAX);
      FUZZ_CHECK(got == expected, describe(bytes, flags, trace) + "\nread: " + fuzz::show_bytes(got) +
                                      "\nexpected: " + fuzz::show_bytes(expected));
      return;
    }
    const bool whole_file = operation == Operation::whole_file;
    trace += std::string(whole_file ? "whole/" : "line/") + std::to_string(read_encoding) + " ";
    Text expected = model.read_text(read_encoding, whole_file);
    Text got = files::read_file_text(0, read_encoding | (whole_file ? files::READ_WHOLE_FILE : 0));
    FUZZ_CHECK(got == expected, describe(bytes, flags, trace) + "\nread: " + fuzz::show_text(got) +
                                    "\nexpected: " + fuzz::show_text(expected));
  };
  for (int i = 0; i < OPERATIONS; ++i) {
    const auto choice = static_cast<unsigned>(operations >> (4 * i)) & 15u;
    const Operation operation = (choice & 3) == 3   ? Operation::bytes
                                : (choice & 3) == 2 ? Operation::whole_file
                                                    : Operation::line;
    check_read(operation, ENCODINGS[choice >> 2]);
  }
  // Then line by line to the end, after which every read is empty.
  while (model.position() < bytes.size()) check_read(Operation::line, 0);
  check_read(Operation::line, 0);
  check_read(Operation::whole_file, 0);
  check_read(Operation::bytes, 0);
  FUZZ_CHECK(files::close_file(0) != 0, path);
  FUZZ_CHECK(files::is_file_open(0) == 0, path);
  FUZZ_CHECK(files::read_file_text(0, 0).empty(), path);
  return 0;
}
