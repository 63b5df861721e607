// The manifest rules as a filter, for the differential test: reads texts from standard input, each as a
// 32-bit little-endian byte count and its UTF-8 bytes, and writes for each its outcome (0 rewritten,
// 1 skipped, 2 failed), whether the add-key question was asked (it is answered Yes), and the new text,
// counted the same way. The version to set is the first argument.
#include <cstdint>
#include <cstdio>
#include <string>

#include "manifest/manifest_rules.h"
#include "pattern/pattern.h"
#include "runtime/utf8.h"

namespace {

bool read_exactly(std::string& bytes, std::size_t size) {
  bytes.resize(size);
  return size == 0 || std::fread(bytes.data(), 1, size, stdin) == size;
}

std::uint32_t read_size(bool& ok) {
  unsigned char size[4];
  ok = std::fread(size, 1, 4, stdin) == 4;
  return ok ? size[0] | size[1] << 8 | size[2] << 16 | static_cast<std::uint32_t>(size[3]) << 24 : 0;
}

void write_record(unsigned char outcome, bool asked, const std::string& text) {
  const auto size = static_cast<std::uint32_t>(text.size());
  const unsigned char head[6] = {outcome,
                                 static_cast<unsigned char>(asked),
                                 static_cast<unsigned char>(size),
                                 static_cast<unsigned char>(size >> 8),
                                 static_cast<unsigned char>(size >> 16),
                                 static_cast<unsigned char>(size >> 24)};
  std::fwrite(head, 1, sizeof head, stdout);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  pattern::init_pattern_library();
  const manifest::ManifestGrammar grammar;
  const runtime::Text version = runtime::utf8_to_utf16(argv[1]);
  std::string bytes;
  for (;;) {
    bool ok = false;
    const std::uint32_t size = read_size(ok);
    if (!ok) break;
    if (!read_exactly(bytes, size)) return 1;
    bool asked = false;
    const manifest::ManifestDecision decision =
        manifest::decide_manifest_text(grammar, runtime::utf8_to_utf16(bytes), version, [&] {
          asked = true;
          return true;
        });
    write_record(static_cast<unsigned char>(decision.outcome), asked, runtime::utf16_to_utf8(decision.new_text));
  }
  pattern::end_pattern_library();
  return 0;
}
