// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::svf {

// Reads a text file line by line. A line ends at CR LF, at a single CR or at
// a single LF; the line end is not part of the line. Closes the file when it
// goes out of scope.
class LineReader {
 public:
  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() { Close(); }

  // Empty on success, else the reason in words.
  std::string Open(const std::string& path);
  void Close();
  [[nodiscard]] bool IsOpen() const { return file_ != nullptr; }

  // True when no line is left (also after a read error).
  [[nodiscard]] bool AtEnd();
  // The next line; false at the end of the file or on a read error.
  bool ReadLine(std::string& line);
  // The same, without copying a line that lies whole in the buffer: the
  // view is valid until the next call.
  bool ReadLine(std::string_view& line);
  [[nodiscard]] bool Failed() const { return failed_; }
  // A line longer than max_line ends the reading with TooLong() set.
  [[nodiscard]] bool TooLong() const { return too_long_; }
  std::size_t max_line = std::size_t{64} << 20;

 private:
  bool Fill();
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  // Where the next CR and LF stand in the buffer (end_ when there is none
  // left in it), found at most once per buffer and line end.
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  std::size_t cr_at_ = kUnknown;
  std::size_t lf_at_ = kUnknown;
  std::string spanning_;  // a line that began in an earlier buffer
  bool eof_ = false;
  bool failed_ = false;
  bool too_long_ = false;
};

}  // namespace tavrin::svf
