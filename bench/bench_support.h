#pragma once

// What the process benchmarks share: synthetic add-ons folders, a timed child process with its answers
// piped in, and the small statistics and formatting the tables need.

#include <sys/resource.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// The key line as most manifests spell it, and the version every run writes.
inline constexpr std::string_view OLD_KEY_LINE = "lastTestedNVDAVersion = 2023.1\r\n";
inline constexpr std::string_view NEW_VERSION = "2036.1.1";

// A realistic manifest of about 600 bytes with CR LF line ends and the key line second to last.
std::string make_manifest(std::size_t index);

// Makes `folder` (nvda/addons below it is the add-ons folder) with `count` add-ons of one manifest each.
// Returns the add-ons folder.
std::filesystem::path make_addons_folder(const std::filesystem::path& folder, std::size_t count);

// Writes `bytes` as the whole file.
void write_file(const std::filesystem::path& file, std::string_view bytes);
std::string read_file(const std::filesystem::path& file);

struct ChildRun {
  double seconds = 0;      // from just before the fork to the end of the wait
  double cpu_seconds = 0;  // the child's user and system time: what it ran, not what it waited for
  long peak_kib = 0;       // the child's peak resident set
  int exit_status = -1;    // -1 when it did not end normally
  std::string output;      // what it wrote to standard output
};

// Runs `arguments` with XDG_CONFIG_HOME set to `config_home` (when not empty), `input` on its standard
// input (written whole before the wait; it must fit a pipe) and standard output captured in `output_file`.
ChildRun run_child(const std::vector<std::string>& arguments, const std::filesystem::path& config_home,
                   std::string_view input, const std::filesystem::path& output_file);

double median(std::vector<double> values);

// 10000 as "10,000".
std::string with_thousands(std::size_t value);

// Writes back everything pending on the file system that holds `folder`, so that a timed run does not
// pay for the writes of the one before it or of making its data.
void settle_file_system(const std::filesystem::path& folder);

// Removes the folder and all it holds; a left-over folder from an interrupted run is no error.
void remove_folder(const std::filesystem::path& folder);

}  // namespace bench
