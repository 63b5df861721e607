// Replace-all and a full scan over manifest-like texts of 16 and 64 MiB with one key line every
// 64 bytes (a million matches at 64 MiB). Both must grow linearly with the text; the summary at the
// end prints the 64/16 time ratio of each, which should stay near 4.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace {

constexpr char16_t MANIFEST_KEY_PATTERN[] =
    uR"(^([\s\h]*lastTestedNVDAVersion[\s\h]*=[\s\h]*"?)(\d+)\.(\d+)(?:\.(\d+))?("?[\s\h]*)$)";
// Two lines of 64 bytes in all, one of them a key line.
constexpr char16_t BLOCK[] = u"lastTestedNVDAVersion = 2019.3\nsummary = an add-on, tested.....\n";
static_assert(sizeof(BLOCK) / sizeof(char16_t) - 1 == 64);
constexpr std::size_t MIB = 1024 * 1024;
constexpr double RATIO_LIMIT = 4.5;

const pattern::Text& text_of(std::int64_t mebibytes) {
  static std::map<std::int64_t, pattern::Text> texts;
  auto& text = texts[mebibytes];
  if (text.empty()) {
    const std::size_t blocks = static_cast<std::size_t>(mebibytes) * MIB / 64;
    text.reserve(blocks * 64);
    for (std::size_t i = 0; i < blocks; ++i) text += BLOCK;
  }
  return text;
}

void compile_key_pattern() {
  static bool compiled = false;
  if (compiled) return;
  pattern::init_pattern_library();
  compiled = pattern::compile_pattern(0, MANIFEST_KEY_PATTERN, pattern::PATTERN_MULTILINE) != 0;
}

void replace_all(benchmark::State& state) {
  compile_key_pattern();
  const pattern::Text& text = text_of(state.range(0));
  std::size_t result_size = 0;
  for (auto _ : state) {
    pattern::Text result = pattern::replace_all(0, text, u"lastTestedNVDAVersion = \"2036.1.1\"");
    result_size = result.size();
    benchmark::DoNotOptimize(result.data());
  }
  state.counters["matches"] = static_cast<double>(text.size() / 64);
  state.counters["out_MiB"] = static_cast<double>(result_size) / MIB;
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void scan_all_matches(benchmark::State& state) {
  compile_key_pattern();
  const pattern::Text& text = text_of(state.range(0));
  std::int64_t matches = 0;
  for (auto _ : state) {
    matches = 0;
    pattern::examine_matches(0, text);
    while (pattern::next_match(0)) ++matches;
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// Other work on the machine only ever slows a run down, so the summary takes the fastest repetition.
BENCHMARK(replace_all)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(3);
BENCHMARK(scan_all_matches)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(3);

// Keeps the fastest processor time of each benchmark for the summary, and prints the usual table meanwhile.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      const double time = run.GetAdjustedCPUTime();
      auto [entry, added] = times_ms.try_emplace(name, time);
      if (!added && time < entry->second) entry->second = time;
    }
  }
  std::map<std::string, double> times_ms;
};

}  // namespace

int main(int argc, char** argv) {
  // glibc serves blocks above its adaptive threshold (up to 32 MiB) from fresh pages on every call and
  // smaller ones from reused heap, which would charge page faults to the 64 MiB runs alone. A fixed
  // low threshold gives both sizes fresh pages, so the ratio measures the operations themselves.
  mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  bool linear = true;
  std::printf("\n%-18s %12s %12s %10s\n", "operation (CPU)", "16 MiB (ms)", "64 MiB (ms)", "64/16");
  for (const char* name : {"replace_all", "scan_all_matches"}) {
    auto small = reporter.times_ms.find(std::string(name) + "/16");
    auto large = reporter.times_ms.find(std::string(name) + "/64");
    if (small == reporter.times_ms.end() || large == reporter.times_ms.end()) continue;
    const double ratio = large->second / small->second;
    std::printf("%-18s %12.1f %12.1f %10.2f\n", name, small->second, large->second, ratio);
    if (ratio > RATIO_LIMIT) linear = false;
  }
  std::printf("%s (a linear operation stays at or below %.1f)\n", linear ? "linear" : "NOT LINEAR", RATIO_LIMIT);
  pattern::end_pattern_library();
  return linear ? 0 : 1;
}
