// SPDX-License-Identifier: Apache-2.0

#include "svf/line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::svf {

namespace {
constexpr std::size_t kBufferSize = 1 << 16;
}

std::string LineReader::Open(const std::string& path) {
  Close();
  // Opened without blocking, so that a FIFO with no writer cannot hang the
  // open, and checked on the open file itself: only a regular file is read
  // (a FIFO or a device could feed the player without end, and the file is
  // read twice).
  errno = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno != 0 ? std::strerror(errno) : "it cannot be opened";
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool folder = S_ISDIR(st.st_mode);
    ::close(fd);
    return folder ? "it is a folder" : "it is not a regular file";
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file_ = ::fdopen(fd, "rb");
  if (file_ == nullptr) {
    ::close(fd);
    return "it cannot be opened";
  }
  buffer_.resize(kBufferSize);
  pos_ = end_ = 0;
  cr_at_ = lf_at_ = kUnknown;
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
  cr_at_ = lf_at_ = kUnknown;
  if (end_ == 0) {
    if (std::ferror(file_) != 0) failed_ = true;
    eof_ = true;
    return false;
  }
  return true;
}

bool LineReader::AtEnd() { return !Fill(); }

bool LineReader::ReadLine(std::string& line) {
  std::string_view view;
  const bool ok = ReadLine(view);
  line.assign(view);
  return ok;
}

bool LineReader::ReadLine(std::string_view& line) {
  line = {};
  if (!Fill()) return false;
  // A line that lies whole in the buffer is handed out as it stands there;
  // one that runs on into the next buffer is gathered in spanning_.
  bool spanning = false;
  const auto keep = [&](const char* from, std::size_t size) {
    if (!spanning) spanning_.clear();
    spanning = true;
    spanning_.append(from, size);
  };
  for (;;) {
    const char* start = buffer_.data() + pos_;
    const std::size_t avail = end_ - pos_;
    // The line ends at the first CR or LF. Where the next of each stands in
    // the buffer is kept, so that a file with only one kind of line end is
    // not searched for the other to the end of the buffer at every line.
    const auto next = [&](char c, std::size_t& at) {
      if (at < pos_ || at == kUnknown) {
        const void* found = std::memchr(start, c, avail);
        at = found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data()) : end_;
      }
      return at < end_ ? buffer_.data() + at : nullptr;
    };
    const char* cr = next('\r', cr_at_);
    const char* lf = next('\n', lf_at_);
    const char* stop = cr == nullptr ? lf : lf == nullptr ? cr : std::min(cr, lf);
    if (stop == nullptr) {
      keep(start, avail);
      pos_ = end_;
      if (spanning_.size() > max_line) {
        too_long_ = failed_ = true;
        spanning_.clear();
        return false;
      }
      if (!Fill()) {  // last line without a line end
        line = spanning_;
        return true;
      }
      continue;
    }
    const auto size = static_cast<std::size_t>(stop - start);
    pos_ += size + 1;
    if (*stop == '\r' && pos_ == end_) {
      // The LF of a CR LF may be in the next buffer, which replaces this one.
      keep(start, size);
      if (Fill() && buffer_[pos_] == '\n') ++pos_;
      line = spanning_;
      return true;
    }
    if (*stop == '\r' && buffer_[pos_] == '\n') ++pos_;
    if (spanning) {
      spanning_.append(start, size);
      line = spanning_;
    } else {
      line = std::string_view(start, size);
    }
    return true;
  }
}

}  // namespace tavrin::svf
