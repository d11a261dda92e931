// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "adapter/d2xx.h"
#include "common/flags.h"
#include "common/window.h"

namespace tavrin::adapter {

// The pin masks of the four JTAG signals: 2 to the power of the chosen list
// index, 0 for a typed text that is no entry.
struct PinMasks {
  std::uint8_t tck = 0;
  std::uint8_t tms = 0;
  std::uint8_t tdi = 0;
  std::uint8_t tdo = 0;
};

// The entries of each pin combo box, in pin order.
inline constexpr const char* kPinEntries[8] = {"D0 - TxD", "D1 - RxD", "D2 - RTS", "D3 - CTS",
                                               "D4 - DTR", "D5 - DSR", "D6 - DCD", "D7 - RI"};

// The latency timer the set-up gives the chip, in milliseconds.
inline constexpr std::uint8_t kLatencyTimerMs = 16;
inline constexpr const char* kMsgOpenFirst = "Please open an interface first..";
inline constexpr const char* kMsgPortSetup = "Port Setup missing or outdated.  Re-run bitbang setup";

// Finding, opening, closing and setting up the adapter: the "Manual
// Functions" of the window, on the chip call set.
class Adapter {
 public:
  Adapter(D2xx& chip, Window& window) : chip_(chip), window_(window) {}
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;

  // Discovery and connection.
  void cmd_Find_Click();
  void cmd_OpenInterface_Click();
  void cmd_CloseInterface_Click();
  // Opens the adapter with this serial number, as Open does by description:
  // for hosts with several adapters of the same description.
  void OpenBySerialNumber(const std::string& serial);
  void ShowBadResult(FtStatus status, std::string_view label);
  void ShutdownInterface();
  // The last FT_Close failed: the chip may still be open, and its pins
  // driven. Cleared by the next close that succeeds.
  [[nodiscard]] bool CloseFailed() const { return close_failed_; }

  // Bit-bang set-up and pin assignment.
  void cmd_FTSetup_Click();
  // What a run does first: with no adapter open, Find, Open and the set-up,
  // each as its button does. True when the set-up is valid; otherwise the
  // operator is told "Port Setup missing or outdated...".
  bool SetUpIfNeeded();
  void cmb_TCK_Change() { PortSetupValid = kFalse; }
  void cmb_TMS_Change() { PortSetupValid = kFalse; }
  void cmb_TDI_Change() { PortSetupValid = kFalse; }
  void cmb_TDO_Change() { PortSetupValid = kFalse; }
  void txt_Baud_Change();

  // The pin masks as the combo boxes stand now.
  [[nodiscard]] PinMasks Pins() const;
  // The direction mask of the set-up: TMS, TDI and TCK as outputs.
  [[nodiscard]] std::uint8_t DirectionMask() const;

  [[nodiscard]] D2xx& Chip() { return chip_; }
  [[nodiscard]] Window& Ui() { return window_; }

  Flag InterfaceOpen = kFalse;
  Flag PortSetupValid = kFalse;
  FtHandle DeviceHandle = 0;

  // The text handed to FT_OpenEx by the last Open.
  [[nodiscard]] const std::string& LastOpenedDescription() const { return last_description_; }
  // What the open adapter is ("FT232R USB UART (serial A100001)", "virtual
  // board (built-in board)"), or the text it was opened by when the chip
  // cannot tell; empty while none is open.
  [[nodiscard]] std::string OpenedName() const;

 private:
  void Open(const std::string& what, std::uint32_t flags);
  std::uint64_t bad_results_ = 0;  // chip calls that failed, as reported
  D2xx& chip_;
  Window& window_;
  std::string last_description_;
  bool close_failed_ = false;
};

// What ShowBadResult says of a failed chip call.
std::string BadResultText(FtStatus status, std::string_view label);

// The description part of a list entry: the text after its first " - ", or
// the whole text when it has none (typed by the operator).
std::string DescriptionOfEntry(const std::string& entry);

}  // namespace tavrin::adapter
