#include "svf/line_reader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tavrin::svf {

namespace {
constexpr std::size_t kBufferSize = 1 << 16;
}

std::string LineReader::Open(const std::string& path) {
  Close();
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "it is a folder";
  errno = 0;
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) return errno != 0 ? std::strerror(errno) : "it cannot be opened";
  buffer_.resize(kBufferSize);
  pos_ = end_ = 0;
  eof_ = failed_ = too_long_ = false;
  return {};
}

void LineReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool LineReader::Fill() {
  if (pos_ < end_) return true;
  if (file_ == nullptr || eof_ || failed_) return false;
  end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  pos_ = 0;
  if (end_ == 0) {
    if (std::ferror(file_) != 0) failed_ = true;
    eof_ = true;
    return false;
  }
  return true;
}

bool LineReader::AtEnd() { return !Fill(); }

bool LineReader::ReadLine(std::string& line) {
  line.clear();
  if (!Fill()) return false;
  for (;;) {
    const char* start = buffer_.data() + pos_;
    const std::size_t avail = end_ - pos_;
    const void* cr = std::memchr(start, '\r', avail);
    const void* lf = std::memchr(start, '\n', avail);
    const char* stop = nullptr;
    if (cr != nullptr && lf != nullptr) stop = std::min(static_cast<const char*>(cr), static_cast<const char*>(lf));
    else if (cr != nullptr) stop = static_cast<const char*>(cr);
    else if (lf != nullptr) stop = static_cast<const char*>(lf);
    if (stop == nullptr) {
      line.append(start, avail);
      pos_ = end_;
      if (line.size() > max_line) {
        too_long_ = failed_ = true;
        line.clear();
        return false;
      }
      if (!Fill()) return true;  // last line without a line end
      continue;
    }
    line.append(start, static_cast<std::size_t>(stop - start));
    pos_ += static_cast<std::size_t>(stop - start) + 1;
    if (*stop == '\r' && Fill() && buffer_[pos_] == '\n') ++pos_;
    return true;
  }
}

}  // namespace tavrin::svf
