// SPDX-License-Identifier: Apache-2.0

#pragma once
// Running tavrin-play in this process, on the computer's devices or on an
// injected chip, with its output captured in temporary files.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapter/d2xx.h"
#include "cli/play.h"

namespace tavrin::cli::testing {

struct PlayResult {
  int status = -1;
  std::string out;
  std::string err;
  // The last line on standard error: the summary of a run.
  [[nodiscard]] std::string Summary() const {
    std::string e = err;
    if (!e.empty() && e.back() == '\n') e.pop_back();
    return e.substr(e.rfind('\n') == std::string::npos ? 0 : e.rfind('\n') + 1);
  }
};

inline std::string ReadAll(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

// A folder of the test's own files, removed with it.
class TempDir {
 public:
  TempDir() {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("tavrin-cli-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    std::filesystem::create_directories(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::filesystem::path p = path_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  [[nodiscard]] std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Plays with the given arguments; the chip, when given, replaces the
// computer's devices; out, when given, replaces the captured standard output.
inline PlayResult PlayInProcess(std::vector<std::string> args, adapter::D2xx* chip = nullptr,
                                const std::string& answers = "", std::FILE* out = nullptr) {
  args.insert(args.begin(), "tavrin-play");
  std::vector<const char*> argv;
  argv.reserve(args.size());
  for (const auto& a : args) argv.push_back(a.c_str());
  std::FILE* captured = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::FILE* term = std::tmpfile();
  std::fputs(answers.c_str(), term);
  std::rewind(term);
  PlayEnvironment environment;
  environment.out = out != nullptr ? out : captured;
  environment.err = err;
  environment.terminal = term;
  environment.chip = chip;
  PlayResult r;
  r.status = PlayMain(static_cast<int>(argv.size()), argv.data(), environment);
  r.out = ReadAll(captured);
  r.err = ReadAll(err);
  std::fclose(captured);
  std::fclose(err);
  std::fclose(term);
  return r;
}

}  // namespace tavrin::cli::testing
