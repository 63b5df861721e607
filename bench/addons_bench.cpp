// Scale in add-ons: the whole updater, answers piped in, over a fresh folder of 1,000 and of 10,000
// add-ons, beside the file-system floor doing the same work on the same data. Prints the medians as a
// Markdown table with the ratio updater / floor (target: at most 1.25) and the growth from the smallest
// to the largest folder per add-on (target: linear, at most 1.5 times the smallest's cost per add-on).
//
// addons_bench <updater> <floor> <data folder> [runs] [add-on counts...]

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr double RATIO_LIMIT = 1.25;
constexpr double PER_ADDON_GROWTH_LIMIT = 1.5;

struct Row {
  std::size_t addons = 0;
  double updater_ms = 0, floor_ms = 0;          // elapsed
  double updater_cpu_ms = 0, floor_cpu_ms = 0;  // user and system time
};

struct Timing {
  double ms = 0;
  double cpu_ms = 0;
};

// Each run gets its own fresh folder, since a run rewrites the manifests and leaves backups behind.
Timing time_once(const std::vector<std::string>& command, const fs::path& data, std::size_t addons, bool is_updater,
                 bool& valid) {
  bench::remove_folder(data);
  const fs::path folder = bench::make_addons_folder(data, addons);
  bench::settle_file_system(data);
  std::vector<std::string> arguments = command;
  if (!is_updater) {
    arguments.push_back(folder.string());
    arguments.emplace_back(bench::NEW_VERSION);
  }
  const std::string answers = "y\n" + std::string(bench::NEW_VERSION) + "\n";
  bench::ChildRun run =
      bench::run_child(arguments, is_updater ? data : fs::path(), is_updater ? answers : "", data / "output.txt");
  // A run that did not rewrite every manifest measured something else.
  const std::string count = std::to_string(addons);
  const std::string expected =
      is_updater ? count + " manifests found, 0 skipped, 0 failed, " + count + " modified." : count + " modified";
  if (run.exit_status != 0 || run.output.find(expected) == std::string::npos) valid = false;
  const std::string sample = bench::read_file(folder / "benchAddon00000" / "manifest.ini");
  if (sample.find("lastTestedNVDAVersion = " + std::string(bench::NEW_VERSION) + "\r\n") == std::string::npos)
    valid = false;
  bench::remove_folder(data);
  return {run.seconds * 1000, run.cpu_seconds * 1000};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: addons_bench <updater> <floor> <data folder> [runs] [add-on counts...]\n");
    return 2;
  }
  const std::string updater = fs::absolute(argv[1]).string();
  const std::string floor = fs::absolute(argv[2]).string();
  const fs::path data = fs::absolute(argv[3]) / "addons-bench";
  const int runs = argc > 4 ? std::atoi(argv[4]) : 5;
  std::vector<std::size_t> counts;
  for (int i = 5; i < argc; ++i) counts.push_back(static_cast<std::size_t>(std::atol(argv[i])));
  if (counts.empty()) counts = {1000, 10000};

  std::fprintf(stderr, "manifest: %zu bytes, CR LF, key line second to last\n", bench::make_manifest(0).size());
  bool valid = true;
  std::vector<Row> rows;
  for (std::size_t addons : counts) {
    std::vector<double> updater_ms, floor_ms, updater_cpu_ms, floor_cpu_ms;
    for (int run = 0; run < runs; ++run) {
      // Alternating the order spreads the other work on the machine over both programs alike.
      bool updater_first = run % 2 == 0;
      for (int turn = 0; turn < 2; ++turn) {
        bool is_updater = (turn == 0) == updater_first;
        Timing timing = time_once({is_updater ? updater : floor}, data, addons, is_updater, valid);
        (is_updater ? updater_ms : floor_ms).push_back(timing.ms);
        (is_updater ? updater_cpu_ms : floor_cpu_ms).push_back(timing.cpu_ms);
        std::fprintf(stderr, "  %6zu add-ons, %-7s run %d: %8.1f ms elapsed, %8.1f ms CPU\n", addons,
                     is_updater ? "updater" : "floor", run + 1, timing.ms, timing.cpu_ms);
      }
    }
    rows.push_back({addons, bench::median(updater_ms), bench::median(floor_ms), bench::median(updater_cpu_ms),
                    bench::median(floor_cpu_ms)});
  }
  bench::remove_folder(data);

  bool within = valid;
  std::printf(
      "| add-ons | updater CPU (ms) | floor CPU (ms) | updater / floor | updater elapsed (ms) | floor elapsed (ms) "
      "| updater / floor, elapsed |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Row& row : rows) {
    const double ratio = row.updater_cpu_ms / row.floor_cpu_ms;
    if (ratio > RATIO_LIMIT) within = false;
    std::printf("| %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f |\n", bench::with_thousands(row.addons).c_str(),
                row.updater_cpu_ms, row.floor_cpu_ms, ratio, row.updater_ms, row.floor_ms,
                row.updater_ms / row.floor_ms);
  }
  std::printf(
      "\nMedians of %d runs each, a fresh add-ons folder for every run. CPU is the child's user and system time, "
      "which other work on the machine does not lengthen; the target is a CPU ratio of at most %.2f.\n",
      runs, RATIO_LIMIT);
  if (rows.size() >= 2) {
    const Row& small = rows.front();
    const Row& large = rows.back();
    const double scale = static_cast<double>(large.addons) / static_cast<double>(small.addons);
    const double updater_growth = large.updater_cpu_ms / small.updater_cpu_ms / scale;
    const double floor_growth = large.floor_cpu_ms / small.floor_cpu_ms / scale;
    if (updater_growth > PER_ADDON_GROWTH_LIMIT) within = false;
    std::printf("CPU time per add-on at %s over that at %s: updater %.2f, floor %.2f (linear: at most %.1f).\n",
                bench::with_thousands(large.addons).c_str(), bench::with_thousands(small.addons).c_str(),
                updater_growth, floor_growth, PER_ADDON_GROWTH_LIMIT);
  }
  if (!valid) std::printf("INVALID: a run did not rewrite every manifest\n");
  std::printf("%s\n", within ? "within the targets" : "OUTSIDE THE TARGETS");
  return within ? 0 : 1;
}
