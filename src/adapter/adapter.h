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

inline constexpr const char* kMsgOpenFirst = "Please open an interface first..";
inline constexpr const char* kMsgPortSetup = "Port Setup missing or outdated.  Re-run bitbang setup";

// Finding, opening, closing and setting up the adapter: the "Manual
// Functions" of the window, on the chip call set.
class Adapter {
 public:
  Adapter(D2xx& chip, Window& window) : chip_(chip), window_(window), reporting_(*this) {}
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

  // The chip, for the clock stream and the command line. A failure of
  // FT_Purge or FT_GetBitMode through it, which its callers go on from (the
  // start of a run's stream), is shown with the call's name.
  [[nodiscard]] D2xx& Chip() { return reporting_; }
  [[nodiscard]] Window& Ui() { return window_; }

  Flag InterfaceOpen = kFalse;
  Flag PortSetupValid = kFalse;
  FtHandle DeviceHandle = 0;

  // The text handed to FT_OpenEx by the last Open.
  [[nodiscard]] const std::string& LastOpenedDescription() const { return last_description_; }

 private:
  void Open(const std::string& what, std::uint32_t flags);

  // Passes every call on to the chip; shows a failed FT_Purge or
  // FT_GetBitMode through the adapter.
  class ReportingChip final : public D2xx {
   public:
    explicit ReportingChip(Adapter& adapter) : adapter_(adapter) {}
    FtStatus FT_ListDevices(std::uint32_t* count, std::uint32_t flags) override {
      return Inner().FT_ListDevices(count, flags);
    }
    FtStatus FT_ListDevices(std::uint32_t index, char* buffer, std::size_t buffer_size,
                            std::uint32_t flags) override {
      return Inner().FT_ListDevices(index, buffer, buffer_size, flags);
    }
    FtStatus FT_OpenEx(const std::string& arg, std::uint32_t flags, FtHandle* handle) override {
      return Inner().FT_OpenEx(arg, flags, handle);
    }
    FtStatus FT_Close(FtHandle handle) override { return Inner().FT_Close(handle); }
    FtStatus FT_GetQueueStatus(FtHandle handle, std::uint32_t* rx_bytes) override {
      return Inner().FT_GetQueueStatus(handle, rx_bytes);
    }
    FtStatus FT_SetUSBParameters(FtHandle handle, std::uint32_t in_size, std::uint32_t out_size) override {
      return Inner().FT_SetUSBParameters(handle, in_size, out_size);
    }
    FtStatus FT_SetLatencyTimer(FtHandle handle, std::uint8_t ms) override {
      return Inner().FT_SetLatencyTimer(handle, ms);
    }
    FtStatus FT_SetBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override {
      return Inner().FT_SetBitMode(handle, mask, mode);
    }
    FtStatus FT_SetBaudRate(FtHandle handle, std::uint32_t rate) override {
      return Inner().FT_SetBaudRate(handle, rate);
    }
    FtStatus FT_SetDivisor(FtHandle handle, std::uint16_t divisor) override {
      return Inner().FT_SetDivisor(handle, divisor);
    }
    FtStatus FT_Write(FtHandle handle, const std::uint8_t* data, std::uint32_t size,
                      std::uint32_t* written) override {
      return Inner().FT_Write(handle, data, size, written);
    }
    FtStatus FT_Read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) override {
      return Inner().FT_Read(handle, buffer, size, read);
    }
    FtStatus FT_GetBitMode(FtHandle handle, std::uint8_t* pins) override;
    FtStatus FT_Purge(FtHandle handle, std::uint32_t mask) override;
    [[nodiscard]] std::string LastErrorText() const override { return adapter_.chip_.LastErrorText(); }

   private:
    D2xx& Inner() { return adapter_.chip_; }
    Adapter& adapter_;
  };

  D2xx& chip_;
  Window& window_;
  ReportingChip reporting_;
  std::string last_description_;
  bool close_failed_ = false;
};

// The description part of a list entry: the text after its first " - ", or
// the whole text when it has none (typed by the operator).
std::string DescriptionOfEntry(const std::string& entry);

}  // namespace tavrin::adapter
