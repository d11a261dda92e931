// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin {

// The four JTAG signals, each assigned to one of the adapter's data pins.
enum class Signal { TCK, TMS, TDI, TDO };

// Everything the procedures read from and write to the operator's window.
// The Qt window implements it with widgets, the command-line player on the
// console, and the tests in memory.
class Window {
 public:
  virtual ~Window() = default;

  // Pin combo boxes: the list index of the chosen entry, -1 when the operator
  // typed a text that is no entry.
  virtual void AddPinEntry(Signal signal, const std::string& text) = 0;
  virtual void SetPinListIndex(Signal signal, int index) = 0;
  [[nodiscard]] virtual int PinListIndex(Signal signal) const = 0;

  // "Baud Register", "Max CLK" and "Single Step" (check box values: 0 or 1).
  [[nodiscard]] virtual std::string BaudText() const = 0;
  [[nodiscard]] virtual int MaxClkValue() const = 0;
  virtual void SetMaxClkValue(int value) = 0;
  [[nodiscard]] virtual int SingleStepValue() const = 0;
  // "Standard SVF": read files as standard SVF (revision E).
  [[nodiscard]] virtual int StandardSvfValue() const = 0;

  // The adapter list (cmb_Interfaces).
  virtual void AddInterfaceEntry(const std::string& text) = 0;
  [[nodiscard]] virtual int InterfaceEntryCount() const = 0;
  virtual void SelectInterfaceEntry(int index) = 0;
  [[nodiscard]] virtual std::string InterfaceText() const = 0;

  // Indicator shapes.
  virtual void SetDevStateColour(std::uint32_t colour) = 0;
  virtual void SetIspStateColour(std::uint32_t colour) = 0;

  // File chooser: the name of the file chosen (clicked in the file list or
  // typed into the path box; empty when the box holds a folder or a
  // pattern), the path box and the folder list's path.
  [[nodiscard]] virtual std::string SelectedFileName() const = 0;
  [[nodiscard]] virtual std::string FilePathText() const = 0;
  virtual void SetFilePathText(const std::string& text) = 0;
  [[nodiscard]] virtual std::string DirPath() const = 0;
  virtual void SetDirPath(const std::string& path) = 0;

  // Progress bar.
  virtual void SetProgressMax(int max) = 0;
  virtual void SetProgressValue(int value) = 0;
  // How long the run has left, as "about 3 min 20 s left"; empty when it
  // cannot be told (yet) or no run is under way.
  virtual void SetTimeLeft(std::string_view text) { (void)text; }

  // Log pane. Lines end in CR LF.
  virtual void AppendLog(std::string_view text) = 0;
  virtual void AppendLogNoBreak(std::string_view text) = 0;
  virtual void ReplaceLog(std::string_view text) = 0;
  virtual void RepaintLog() = 0;

  // The operator: a modal message box with an OK button, and letting the
  // window handle what is pending (clicks on Step or Break, closing).
  virtual void ShowMessage(std::string_view text) = 0;
  // Called once per block of clocks and once per statement: a window may
  // skip most calls, so that a run is not slowed down by it.
  virtual void ProcessPendingEvents() = 0;
  // Called from waits (RUNTEST, the counting pass) every few milliseconds:
  // the window handles its events now, so that it repaints and Break and
  // closing are seen.
  virtual void ProcessPendingEventsNow() { ProcessPendingEvents(); }
};

}  // namespace tavrin
