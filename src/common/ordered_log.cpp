// SPDX-License-Identifier: Apache-2.0

#include "common/ordered_log.h"

#include <algorithm>

namespace tavrin {

void AppendLines(Window& window, const std::vector<LogLine>& lines) {
  for (const LogLine& line : lines) {
    if (line.no_break) {
      window.AppendLogNoBreak(line.text);
    } else {
      window.AppendLog(line.text);
    }
  }
}

OrderedLog::Slot OrderedLog::Reserve() {
  queue_.emplace_back();
  return first_ + queue_.size() - 1;
}

void OrderedLog::Add(std::string_view text, bool no_break) {
  if (queue_.empty()) {
    if (no_break) {
      inner_.AppendLogNoBreak(text);
    } else {
      inner_.AppendLog(text);
    }
    return;
  }
  queue_.back().lines.push_back(LogLine{std::string(text), no_break});
  if (++held_ > kMaxHeldLines) Settle();
}

void OrderedLog::Fill(Slot slot, std::vector<LogLine> lines) {
  if (slot < first_ || slot - first_ >= queue_.size()) return;
  Place& place = queue_[static_cast<std::size_t>(slot - first_)];
  if (place.filled) return;
  // Its own lines go before those that were logged after it was reserved.
  lines.insert(lines.end(), std::make_move_iterator(place.lines.begin()), std::make_move_iterator(place.lines.end()));
  held_ += lines.size() - place.lines.size();
  place.lines = std::move(lines);
  place.filled = true;
  Drain();
}

void OrderedLog::Drain() {
  while (!queue_.empty() && queue_.front().filled) {
    const Place place = std::move(queue_.front());
    queue_.pop_front();
    ++first_;
    held_ -= std::min(held_, place.lines.size());
    AppendLines(inner_, place.lines);
  }
}

void OrderedLog::Settle() {
  if (queue_.empty() || settling_) return;
  settling_ = true;
  if (settle) settle();
  settling_ = false;
  // A place still open (the settle was asked for from inside a scan) keeps
  // its lines: they follow when it is filled.
}

void OrderedLog::ReplaceLog(std::string_view text) {
  Settle();
  inner_.ReplaceLog(text);
}

void OrderedLog::ShowMessage(std::string_view text) {
  Settle();
  inner_.ShowMessage(text);
}

}  // namespace tavrin
