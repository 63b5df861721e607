#include "bench/bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace bench {

namespace fs = std::filesystem;

std::string make_manifest(std::size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "benchAddon%05zu", index);
  std::string text;
  text += "name = " + std::string(name) + "\r\n";
  text += "summary = \"Synthetic add-on " + std::string(name) + " for the benchmarks\"\r\n";
  text +=
      "description = \"\"\"Adds commands that read the status bar, the clock and the battery level aloud, and "
      "keeps a short history of what was spoken so that it can be reviewed later with the keyboard. Nothing "
      "here is loaded by the screen reader; the manifest only has the size and shape of a real one.\"\"\"\r\n";
  text += "author = \"Benchmark Author <bench.author@example.org>\"\r\n";
  text += "url = https://example.org/addons/" + std::string(name) + "\r\n";
  text += "version = 1." + std::to_string(index % 10) + ".2\r\n";
  text += "docFileName = readme.html\r\n";
  text += "minimumNVDAVersion = 2019.3\r\n";
  text += OLD_KEY_LINE;
  text += "updateChannel = None\r\n";
  return text;
}

fs::path make_addons_folder(const fs::path& folder, std::size_t count) {
  const fs::path addons = folder / "nvda" / "addons";
  fs::create_directories(addons);
  for (std::size_t index = 0; index < count; ++index) {
    char name[32];
    std::snprintf(name, sizeof name, "benchAddon%05zu", index);
    fs::create_directory(addons / name);
    write_file(addons / name / "manifest.ini", make_manifest(index));
  }
  return addons;
}

void write_file(const fs::path& file, std::string_view bytes) {
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!stream) throw std::runtime_error("cannot write " + file.string());
}

std::string read_file(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

ChildRun run_child(const std::vector<std::string>& arguments, const fs::path& config_home, std::string_view input,
                   const fs::path& output_file) {
  int answers[2];
  if (pipe(answers) != 0) throw std::runtime_error("pipe");
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const std::string config = config_home.string();
  const std::string output = output_file.string();

  ChildRun run;
  const auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) _exit(126);
    dup2(answers[0], 0);
    dup2(out, 1);
    close(answers[0]);
    close(answers[1]);
    close(out);
    if (!config.empty()) setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(answers[0]);
  // A program that stops reading early must not end the benchmark with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  std::size_t done = 0;
  while (done < input.size()) {
    ssize_t written = write(answers[1], input.data() + done, input.size() - done);
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  close(answers[1]);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) throw std::runtime_error("wait4");
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  auto seconds_of = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
  run.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
  run.peak_kib = usage.ru_maxrss;
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.output = read_file(output_file);
  return run;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string with_thousands(std::size_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) grouped += ',';
    grouped += digits[at];
  }
  return grouped;
}

void settle_file_system(const fs::path& folder) {
  int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  syncfs(descriptor);
  close(descriptor);
}

void remove_folder(const fs::path& folder) {
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace bench
