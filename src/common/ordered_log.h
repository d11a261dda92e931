// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/window.h"

namespace tavrin {

// One line for the log: AppendLog, or AppendLogNoBreak when no_break.
struct LogLine {
  std::string text;
  bool no_break = false;
};

// Lines for the log, kept in one text: the lines of a scan's report, or
// those that wait in an OrderedLog. Cleared, it keeps its memory, so that
// lines made again and again (one report a scan) cost no allocation.
class LogLines {
 public:
  LogLines() = default;
  LogLines(std::initializer_list<LogLine> lines) {
    for (const LogLine& l : lines) Add({l.text}, l.no_break);
  }

  // A line made of these pieces, one after the other.
  void Add(std::initializer_list<std::string_view> pieces, bool no_break = false);
  // A line of another list.
  void Add(const LogLines& other, std::size_t i) { Add({other.Text(i)}, other.NoBreak(i)); }
  void Clear() {
    text_.clear();
    ends_.clear();
  }
  [[nodiscard]] std::size_t size() const { return ends_.size(); }
  [[nodiscard]] bool empty() const { return ends_.empty(); }
  [[nodiscard]] std::string_view Text(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1].end;
    return std::string_view(text_).substr(begin, ends_[i].end - begin);
  }
  [[nodiscard]] bool NoBreak(std::size_t i) const { return ends_[i].no_break; }
  // Writes the lines to the window's log, in order.
  void AppendTo(Window& window) const;

 private:
  struct End {
    std::size_t end;
    bool no_break;
  };
  std::string text_;
  std::vector<End> ends_;
};

// A window that keeps the log in statement order while the answers to
// earlier scans are still on their way: Reserve marks the place of lines
// that come later (a scan's result), and every line logged after it waits
// until Fill gives them. Everything else goes straight to the window; a
// message box or a new log first lets the reserved places be filled
// (`settle`), so the log is complete when the operator is asked.
class OrderedLog final : public Window {
 public:
  using Slot = std::uint64_t;
  // Held lines beyond this many make the places be filled (a file may log
  // many lines and clock nothing after a scan).
  static constexpr std::size_t kMaxHeldLines = 4096;

  explicit OrderedLog(Window& inner) : inner_(inner) {}

  // Makes the reserved places be filled: writes out what is queued and
  // waits for its answers.
  std::function<void()> settle;
  // Runs at every event pass, before the window's own.
  std::function<void()> on_events;

  Slot Reserve();
  // The lines for the place; lines waiting behind it go out with them,
  // up to the next place not yet filled. Filling a place twice, or one that
  // does not exist, changes nothing.
  void Fill(Slot slot, const LogLines& lines);
  // Places not yet filled.
  [[nodiscard]] bool Waiting() const { return !queue_.empty(); }

  void AddPinEntry(Signal signal, const std::string& text) override { inner_.AddPinEntry(signal, text); }
  void SetPinListIndex(Signal signal, int index) override { inner_.SetPinListIndex(signal, index); }
  [[nodiscard]] int PinListIndex(Signal signal) const override { return inner_.PinListIndex(signal); }
  [[nodiscard]] std::string BaudText() const override { return inner_.BaudText(); }
  [[nodiscard]] int MaxClkValue() const override { return inner_.MaxClkValue(); }
  void SetMaxClkValue(int value) override { inner_.SetMaxClkValue(value); }
  [[nodiscard]] int SingleStepValue() const override { return inner_.SingleStepValue(); }
  [[nodiscard]] int StandardSvfValue() const override { return inner_.StandardSvfValue(); }
  void AddInterfaceEntry(const std::string& text) override { inner_.AddInterfaceEntry(text); }
  [[nodiscard]] int InterfaceEntryCount() const override { return inner_.InterfaceEntryCount(); }
  void SelectInterfaceEntry(int index) override { inner_.SelectInterfaceEntry(index); }
  [[nodiscard]] std::string InterfaceText() const override { return inner_.InterfaceText(); }
  void SetDevStateColour(std::uint32_t colour) override { inner_.SetDevStateColour(colour); }
  void SetIspStateColour(std::uint32_t colour) override { inner_.SetIspStateColour(colour); }
  [[nodiscard]] std::string SelectedFileName() const override { return inner_.SelectedFileName(); }
  [[nodiscard]] std::string FilePathText() const override { return inner_.FilePathText(); }
  void SetFilePathText(const std::string& text) override { inner_.SetFilePathText(text); }
  [[nodiscard]] std::string DirPath() const override { return inner_.DirPath(); }
  void SetDirPath(const std::string& path) override { inner_.SetDirPath(path); }
  void SetProgressMax(int max) override { inner_.SetProgressMax(max); }
  void SetProgressValue(int value) override { inner_.SetProgressValue(value); }
  void SetTimeLeft(std::string_view text) override { inner_.SetTimeLeft(text); }

  void AppendLog(std::string_view text) override { Add(text, false); }
  void AppendLogNoBreak(std::string_view text) override { Add(text, true); }
  void ReplaceLog(std::string_view text) override;
  void RepaintLog() override { inner_.RepaintLog(); }

  void ShowMessage(std::string_view text) override;
  void ProcessPendingEvents() override {
    if (on_events) on_events();
    inner_.ProcessPendingEvents();
  }
  void ProcessPendingEventsNow() override {
    if (on_events) on_events();
    inner_.ProcessPendingEventsNow();
  }

 private:
  struct Place {
    bool filled = false;
    LogLines own;    // its lines, once filled
    LogLines after;  // those logged after it was reserved, before the next place
  };

  void Add(std::string_view text, bool no_break);
  // Lets the places be filled.
  void Settle();
  // Writes out the filled places at the front.
  void Drain();

  Window& inner_;
  // Places written out are kept for later ones, with the memory of their
  // lines: a run reserves one for every scan.
  std::deque<std::unique_ptr<Place>> queue_;
  std::vector<std::unique_ptr<Place>> spare_;
  Slot first_ = 0;        // the slot number of queue_.front()
  std::size_t held_ = 0;  // lines waiting in queue_
  bool settling_ = false;
};

}  // namespace tavrin
