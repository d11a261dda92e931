// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <deque>
#include <functional>
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

// Writes the lines to the window's log, in order.
void AppendLines(Window& window, const std::vector<LogLine>& lines);

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
  void Fill(Slot slot, std::vector<LogLine> lines);
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
    std::vector<LogLine> lines;  // its own, once filled, then those logged after it
  };

  void Add(std::string_view text, bool no_break);
  // Lets the places be filled.
  void Settle();
  void Drain();

  Window& inner_;
  std::deque<Place> queue_;
  Slot first_ = 0;  // the slot number of queue_.front()
  std::size_t held_ = 0;  // lines waiting in queue_
  bool settling_ = false;
};

}  // namespace tavrin
