// SPDX-License-Identifier: Apache-2.0

#include "common/ordered_log.h"

#include <algorithm>

namespace tavrin {

void LogLines::Add(std::initializer_list<std::string_view> pieces, bool no_break) {
  for (const std::string_view piece : pieces) text_.append(piece);
  ends_.push_back({text_.size(), no_break});
}

void LogLines::AppendTo(Window& window) const {
  for (std::size_t i = 0; i < size(); ++i) {
    if (NoBreak(i)) {
      window.AppendLogNoBreak(Text(i));
    } else {
      window.AppendLog(Text(i));
    }
  }
}

OrderedLog::Slot OrderedLog::Reserve() {
  if (spare_.empty()) {
    queue_.push_back(std::make_unique<Place>());
  } else {
    queue_.push_back(std::move(spare_.back()));
    spare_.pop_back();
  }
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
  queue_.back()->after.Add({text}, no_break);
  if (++held_ > kMaxHeldLines) Settle();
}

void OrderedLog::Fill(Slot slot, const LogLines& lines) {
  if (slot < first_ || slot - first_ >= queue_.size()) return;
  Place& place = *queue_[static_cast<std::size_t>(slot - first_)];
  if (place.filled) return;
  place.filled = true;
  if (slot == first_) {
    // The usual case, the answers coming in order: the lines go out at
    // once, without being copied.
    std::unique_ptr<Place> front = std::move(queue_.front());
    queue_.pop_front();
    ++first_;
    held_ -= std::min(held_, front->after.size());
    lines.AppendTo(inner_);
    front->after.AppendTo(inner_);
    front->filled = false;
    front->after.Clear();
    spare_.push_back(std::move(front));
    Drain();
    return;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) place.own.Add(lines, i);
  held_ += lines.size();
  Drain();
}

void OrderedLog::Drain() {
  while (!queue_.empty() && queue_.front()->filled) {
    std::unique_ptr<Place> place = std::move(queue_.front());
    queue_.pop_front();
    ++first_;
    held_ -= std::min(held_, place->own.size() + place->after.size());
    place->own.AppendTo(inner_);
    place->after.AppendTo(inner_);
    place->filled = false;
    place->own.Clear();
    place->after.Clear();
    spare_.push_back(std::move(place));
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
