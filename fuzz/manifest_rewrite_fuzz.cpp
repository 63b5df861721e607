// The manifest rewrite on arbitrary manifest bytes, through update_addon_manifest on a real add-ons
// folder in a temporary folder, with the Yes/No answer waiting on standard input. What the rules decide
// is held against the screen reader's own reader by the differential test (tests/manifest); this target
// checks what needs no reader at all, on the bytes on disk afterwards:
// - bytes that are not well-formed UTF-8, or hold a zero, are left alone without a question as failed,
//   and a manifest of only a byte-order mark is skipped, unasked, as an empty one is;
// - every manifest is counted found and exactly one of skipped, failed and modified; one that is not
//   modified keeps its bytes and gets no backup, and one that is modified has its old bytes in the
//   backup, keeps a byte-order mark in front, and differs from them;
// - a question answered No leaves the manifest alone;
// - a second run with the same version asks nothing, changes nothing and backs nothing up.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "dialogs/dialogs.h"
#include "files/text_files.h"
#include "fuzz/fuzz_support.h"
#include "pattern/pattern.h"
#include "runtime/utf8.h"
#include "updater/manifest_rewrite.h"

namespace {

using runtime::Text;

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

struct Folder {
  std::string root, addons, manifest, backups, backup;
};

const Folder& folder() {
  static const Folder paths = [] {
    Folder f;
    f.root = fuzz::temporary_folder();
    f.addons = f.root + "addons/";
    f.manifest = f.addons + "sample/manifest.ini";
    f.backups = f.root + "manifest backups";
    f.backup = f.backups + "/sample/manifest.ini";
    return f;
  }();
  return paths;
}

struct Outcome {
  updater::RunState state;
  bool asked;
  std::string manifest;
  bool backed_up;
  std::string backup;
};

// One add-on through the updater, as the run walks it; `answer` waits on standard input for a question.
Outcome update(std::string_view old_bytes, const Text& version, char answer) {
  const Folder& f = folder();
  fuzz::remove_tree(f.backups);
  fuzz::write_whole_file(f.manifest, old_bytes);
  const char line[2] = {answer, '\n'};
  if (::ftruncate(0, 0) != 0 || ::pwrite(0, line, 2, 0) != 2 || ::lseek(0, 0, SEEK_SET) != 0) fuzz::fail("answer file");

  Outcome outcome;
  outcome.state.version_text = version;
  fuzz::enter_folder(f.addons);
  updater::update_addon_manifest(outcome.state, u"sample");
  fuzz::leave_folder();
  outcome.asked = ::lseek(0, 0, SEEK_CUR) != 0;
  outcome.manifest = fuzz::read_whole_file(f.manifest);
  outcome.backup = fuzz::read_whole_file(f.backup, &outcome.backed_up);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  files::init_file_library();
  pattern::init_pattern_library();
  dialogs::init_dialogs();

  const Folder& f = folder();
  if (::mkdir(f.addons.c_str(), 0755) != 0 || ::mkdir((f.addons + "sample").c_str(), 0755) != 0)
    fuzz::fail("mkdir", f.addons);
  // The questions go to the terminal dialogs: their text to nowhere, their answers from a file.
  int answers = ::open((f.root + "answers").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  int nowhere = ::open("/dev/null", O_WRONLY);
  if (answers < 0 || nowhere < 0 || ::dup2(answers, 0) < 0 || ::dup2(nowhere, 1) < 0) fuzz::fail("redirect");
  ::close(answers);
  ::close(nowhere);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto options = input.ConsumeIntegral<std::uint8_t>();
  const auto year = input.ConsumeIntegral<std::uint16_t>();
  const auto numbers = input.ConsumeIntegral<std::uint8_t>();
  const std::string old_bytes = input.ConsumeRemainingBytesAsString();
  const bool yes = (options & 1) != 0;

  // A version as the prompt accepts it: four digits, a full stop and a digit, maybe a third number.
  std::string version_bytes = std::to_string(1000 + year % 9000) + "." + std::to_string(numbers % 10);
  if (options & 2) version_bytes += "." + std::to_string(numbers / 10 % 10);
  const Text version = runtime::utf8_to_utf16(version_bytes);

  const Outcome first = update(old_bytes, version, yes ? 'y' : 'n');
  const updater::RunState& counts = first.state;
  const std::string context = "manifest: " + fuzz::show_bytes(old_bytes) + "\nversion: " + version_bytes +
                              "\nanswer: " + (yes ? "yes" : "no") + "\nafter: " + fuzz::show_bytes(first.manifest) +
                              "\ncounts: found " + std::to_string(counts.found_count) + ", skipped " +
                              std::to_string(counts.skipped_count) + ", failed " + std::to_string(counts.failed_count) +
                              ", modified " + std::to_string(counts.modified_count) + (first.asked ? ", asked" : "");

  FUZZ_CHECK(counts.found_count == 1, context);
  FUZZ_CHECK(counts.skipped_count + counts.failed_count + counts.modified_count == 1, context);
  auto check_left_alone = [&](const char* outcome, const std::int32_t& counter) {
    FUZZ_CHECK(counter == 1, context + "\nexpected: " + outcome);
    FUZZ_CHECK(first.manifest == old_bytes, context);
    FUZZ_CHECK(!first.backed_up, context);
  };
  if (old_bytes.empty() || old_bytes == BYTE_ORDER_MARK) {
    check_left_alone("skipped", counts.skipped_count);
    FUZZ_CHECK(!first.asked, context);
    return 0;
  }
  if (old_bytes.find('\0') != std::string::npos || !runtime::is_valid_utf8(old_bytes)) {
    check_left_alone("failed", counts.failed_count);
    FUZZ_CHECK(!first.asked, context);
    return 0;
  }

  if (counts.modified_count == 0) {
    FUZZ_CHECK(first.manifest == old_bytes && !first.backed_up, context);
    return 0;
  }
  FUZZ_CHECK(yes || !first.asked, context);
  FUZZ_CHECK(first.manifest != old_bytes, context);
  FUZZ_CHECK(first.backed_up && first.backup == old_bytes, context + "\nbackup: " + fuzz::show_bytes(first.backup));
  FUZZ_CHECK(!old_bytes.starts_with(BYTE_ORDER_MARK) || first.manifest.starts_with(BYTE_ORDER_MARK), context);

  // The same version again reads the key back: nothing changes, nothing is backed up.
  const Outcome second = update(first.manifest, version, 'n');
  const std::string again = context + "\nsecond run: " + fuzz::show_bytes(second.manifest) +
                            (second.asked ? ", asked" : "") + ", skipped " + std::to_string(second.state.skipped_count);
  FUZZ_CHECK(!second.asked, again);
  FUZZ_CHECK(second.manifest == first.manifest, again);
  FUZZ_CHECK(second.state.skipped_count == 1 && !second.backed_up, again);
  return 0;
}
