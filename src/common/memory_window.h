// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "common/window.h"

namespace tavrin {

// A window held in memory: every control is a plain field, the log is one
// string, and every message box is recorded instead of shown. Used by the
// tests and as the base of the console window.
class MemoryWindow : public Window {
 public:
  struct PinBox {
    std::vector<std::string> entries;
    int index = -1;
  };

  void AddPinEntry(Signal signal, const std::string& text) override;
  void SetPinListIndex(Signal signal, int index) override;
  [[nodiscard]] int PinListIndex(Signal signal) const override;

  [[nodiscard]] std::string BaudText() const override { return baud_text; }
  [[nodiscard]] int MaxClkValue() const override { return max_clk; }
  void SetMaxClkValue(int value) override { max_clk = value; }
  [[nodiscard]] int SingleStepValue() const override { return single_step; }
  [[nodiscard]] int StandardSvfValue() const override { return standard_svf; }

  void AddInterfaceEntry(const std::string& text) override;
  [[nodiscard]] int InterfaceEntryCount() const override;
  void SelectInterfaceEntry(int index) override;
  [[nodiscard]] std::string InterfaceText() const override { return interface_text; }

  void SetDevStateColour(std::uint32_t colour) override { dev_state_colour = colour; }
  void SetIspStateColour(std::uint32_t colour) override { isp_state_colour = colour; }

  [[nodiscard]] std::string SelectedFileName() const override { return selected_file; }
  [[nodiscard]] std::string FilePathText() const override { return file_path; }
  void SetFilePathText(const std::string& text) override { file_path = text; }
  [[nodiscard]] std::string DirPath() const override { return dir_path; }
  void SetDirPath(const std::string& path) override { dir_path = path; }

  void SetProgressMax(int max) override { progress_max = max; }
  void SetProgressValue(int value) override { progress_value = value; }
  void SetTimeLeft(std::string_view text) override { time_left = text; }

  void AppendLog(std::string_view text) override;
  void AppendLogNoBreak(std::string_view text) override;
  void ReplaceLog(std::string_view text) override;
  void RepaintLog() override { ++repaints; }

  void ShowMessage(std::string_view text) override;
  void ProcessPendingEvents() override;

  // The log's lines without their CR LF (a last line without a break included).
  [[nodiscard]] std::vector<std::string> LogLines() const;

  std::array<PinBox, 4> pins;
  std::string baud_text = "150000";
  int max_clk = 1;
  int single_step = 1;
  int standard_svf = 0;
  std::vector<std::string> interface_entries;
  int interface_index = -1;
  std::string interface_text = "No Interfaces yet..";
  std::uint32_t dev_state_colour = 255;
  std::uint32_t isp_state_colour = 255;
  std::string selected_file;
  std::string file_path = "file";
  std::string dir_path;
  int progress_max = 100;
  int progress_value = 0;
  std::string time_left;
  std::string log = "Merrow Log...\r\n";
  int repaints = 0;
  std::vector<std::string> messages;
  long long events_processed = 0;

  // Runs inside ProcessPendingEvents: the test's stand-in for the operator.
  std::function<void()> on_events;
  // Runs inside ShowMessage after the text is recorded.
  std::function<void(std::string_view)> on_message;
};

}  // namespace tavrin
