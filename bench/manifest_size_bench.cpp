// Scale in manifest size: the whole updater, answers piped in, on one add-on whose manifest is 1, 16
// or 64 MiB: the key line, then 64-byte lines of keys of their own (a million at 64 MiB), CR LF
// throughout. Times the run and reads the child's peak resident set. Prints a Markdown table; the
// targets are a time growth from 16 to 64 MiB of at most 4.5 and a peak of at most 4 times the
// manifest's size. Then a second table for manifests with 200,000 blank lines before the key line,
// right before it and before another line above it; the target is under 1 s each.
//
// manifest_size_bench <updater> <data folder> [runs] [sizes in MiB...]

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t MIB = 1024 * 1024;
constexpr double GROWTH_LIMIT = 4.5;
constexpr double BLANK_LINES_LIMIT_MS = 1000;
constexpr std::size_t BLANK_LINES = 200'000;
constexpr double MEMORY_LIMIT = 4;
constexpr std::size_t LINE_SIZE = 64;
// The key line's value goes from 2019.3 to the longer version.
constexpr std::size_t GROWTH_PER_KEY = 2;

// The key line and then lines of other keys, each 64 bytes, up to the size.
std::string make_large_manifest(std::size_t size) {
  std::string manifest = "lastTestedNVDAVersion = 2019.3\r\n";
  manifest.reserve(size + LINE_SIZE);
  char line[LINE_SIZE + 1];
  for (unsigned index = 0; manifest.size() < size; ++index) {
    std::snprintf(line, sizeof line, "summary%08u = an add-on tested with an earlier release ...\r\n", index);
    manifest.append(line, LINE_SIZE);
  }
  return manifest;
}

struct Row {
  std::size_t mebibytes = 0;
  double ms = 0;  // user and system time
  double elapsed_ms = 0;
  double peak_mib = 0;
};

bench::ChildRun run_once(const std::string& updater, const fs::path& data, const std::string& manifest,
                         std::size_t keys, bool& valid) {
  bench::remove_folder(data);
  const fs::path addon = data / "nvda" / "addons" / "large";
  fs::create_directories(addon);
  bench::write_file(addon / "manifest.ini", manifest);
  bench::settle_file_system(data);
  const std::string answers = "y\n" + std::string(bench::NEW_VERSION) + "\n";
  bench::ChildRun run = bench::run_child({updater}, data, answers, data / "output.txt");
  if (run.exit_status != 0 || run.output.find("1 modified.") == std::string::npos ||
      fs::file_size(addon / "manifest.ini") != manifest.size() + keys * GROWTH_PER_KEY)
    valid = false;
  bench::remove_folder(data);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: manifest_size_bench <updater> <data folder> [runs] [sizes in MiB...]\n");
    return 2;
  }
  const std::string updater = fs::absolute(argv[1]).string();
  const fs::path data = fs::absolute(argv[2]) / "manifest-size-bench";
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  std::vector<std::size_t> sizes;
  for (int i = 4; i < argc; ++i) sizes.push_back(static_cast<std::size_t>(std::atol(argv[i])));
  if (sizes.empty()) sizes = {1, 16, 64};

  bool valid = true;
  // The program's own resident set, on a manifest of ordinary size, for reading the peaks below.
  const double baseline_mib = run_once(updater, data, bench::make_manifest(0), 1, valid).peak_kib / 1024.0;

  std::vector<Row> rows;
  for (std::size_t mebibytes : sizes) {
    const std::string manifest = make_large_manifest(mebibytes * MIB);
    std::vector<double> ms, elapsed_ms, peak;
    for (int run = 0; run < runs; ++run) {
      bench::ChildRun result = run_once(updater, data, manifest, 1, valid);
      ms.push_back(result.cpu_seconds * 1000);
      elapsed_ms.push_back(result.seconds * 1000);
      peak.push_back(result.peak_kib / 1024.0);
      std::fprintf(stderr, "  %3zu MiB run %d: %8.1f ms, peak %7.1f MiB\n", mebibytes, run + 1, ms.back(), peak.back());
    }
    rows.push_back({mebibytes, bench::median(ms), bench::median(elapsed_ms), bench::median(peak)});
  }

  // Each blank line starts a line where the key could begin; the search must not rescan the run from
  // every one of them.
  struct BlankCase {
    const char* name;
    std::string manifest;
  };
  std::string blanks;
  for (std::size_t i = 0; i < BLANK_LINES; ++i) blanks += "\r\n";
  const std::string key = "lastTestedNVDAVersion = 2019.3\r\n";
  const BlankCase blank_cases[] = {
      {"right before the key line", "name = x\r\n" + blanks + key},
      {"before another line above the key line", "name = x\r\n" + blanks + "summary = y\r\n" + key},
  };
  std::vector<Row> blank_rows;
  for (const BlankCase& c : blank_cases) {
    std::vector<double> ms, elapsed_ms, peak;
    for (int run = 0; run < runs; ++run) {
      bench::ChildRun result = run_once(updater, data, c.manifest, 1, valid);
      ms.push_back(result.cpu_seconds * 1000);
      elapsed_ms.push_back(result.seconds * 1000);
      peak.push_back(result.peak_kib / 1024.0);
      std::fprintf(stderr, "  blank lines %s, run %d: %8.1f ms\n", c.name, run + 1, elapsed_ms.back());
    }
    blank_rows.push_back({0, bench::median(ms), bench::median(elapsed_ms), bench::median(peak)});
  }
  bench::remove_folder(data);

  bool within = valid;
  std::printf("| manifest | keys | CPU (ms) | elapsed (ms) | peak memory (MiB) | peak / manifest size |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|\n");
  for (const Row& row : rows) {
    const double ratio = row.peak_mib / static_cast<double>(row.mebibytes);
    // At 1 MiB the program's own few MiB dominate the peak; the rule is for large manifests.
    if (row.mebibytes >= 16 && ratio > MEMORY_LIMIT) within = false;
    std::printf("| %zu MiB | %s | %.1f | %.1f | %.1f | %.1f |\n", row.mebibytes,
                bench::with_thousands(row.mebibytes * MIB / LINE_SIZE).c_str(), row.ms, row.elapsed_ms, row.peak_mib,
                ratio);
  }
  std::printf(
      "\nWhole program on one add-on, medians of %d runs; peak memory is the child's peak resident set "
      "(%.1f MiB on a %zu-byte manifest).\n",
      runs, baseline_mib, bench::make_manifest(0).size());
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i].mebibytes != 16 || rows[i + 1].mebibytes != 64) continue;
    const double growth = rows[i + 1].ms / rows[i].ms;
    if (growth > GROWTH_LIMIT) within = false;
    std::printf(
        "CPU time from 16 to 64 MiB: %.2f times (linear: at most %.1f); peak memory at most %.0f times the "
        "manifest's size.\n",
        growth, GROWTH_LIMIT, MEMORY_LIMIT);
  }

  std::printf("\n| 200,000 blank lines (CR LF) | manifest | CPU (ms) | elapsed (ms) | peak memory (MiB) |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (std::size_t i = 0; i < blank_rows.size(); ++i) {
    const Row& row = blank_rows[i];
    if (row.elapsed_ms >= BLANK_LINES_LIMIT_MS) within = false;
    std::printf("| %s | %s bytes | %.1f | %.1f | %.1f |\n", blank_cases[i].name,
                bench::with_thousands(blank_cases[i].manifest.size()).c_str(), row.ms, row.elapsed_ms, row.peak_mib);
  }
  std::printf("\nMedians of %d runs; target: under %.0f ms elapsed each.\n", runs, BLANK_LINES_LIMIT_MS);
  if (!valid) std::printf("INVALID: a run did not rewrite the manifest as expected\n");
  std::printf("%s\n", within ? "within the targets" : "OUTSIDE THE TARGETS");
  return within ? 0 : 1;
}
