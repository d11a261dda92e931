// SPDX-License-Identifier: Apache-2.0

#pragma once
// The FtdiApi seam on a simulated USB FT232R: what libftdi1 does on the host
// (its read buffer, its write chunks, the requests each call sends) over
// the chip and bus model of usb_chip.h, all on one simulated clock. The
// real-adapter backend (FtdiD2xx) runs on it unchanged.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "adapter/ftdi/ftdi_api.h"
#include "adapter/usbsim/sim_clock.h"
#include "adapter/usbsim/timing.h"
#include "adapter/usbsim/usb_chip.h"
#include "board/board_spec.h"

namespace tavrin::adapter::usbsim {

inline constexpr const char* kSimDescription = "FT232R USB UART";
inline constexpr const char* kSimSerial = "USBSIM01";
// libftdi's defaults: transfer chunks, and how long a bulk transfer may take.
inline constexpr unsigned kDefaultChunk = 4096;
inline constexpr Ticks kWriteTimeout = 5000 * kTicksPerMs;
// The largest chunk size accepted; libftdi itself takes any.
inline constexpr unsigned kMaxChunk = 1U << 20;

// One simulated chip on the bus. The chip outlives the ports opened on it;
// Chip() gives it to tests and to the estimate's counts.
class SimFtdiApi final : public ftdi::FtdiApi {
 public:
  SimFtdiApi(const board::BoardSpec& board, const HostProfile& host, SimClock& clock);

  int ListDevices(std::vector<ftdi::UsbDeviceInfo>* devices) override;
  int Open(std::uint32_t location, std::unique_ptr<ftdi::FtdiPort>* port) override;
  [[nodiscard]] std::string ErrorString() const override { return error_; }

  [[nodiscard]] UsbFt232r& Chip() { return *chip_; }
  [[nodiscard]] const UsbFt232r& Chip() const { return *chip_; }
  // Whether a port is open on the chip now.
  [[nodiscard]] bool IsOpen() const { return *open_; }
  // The board's name in what the chip is called once open.
  std::string board_name = "built-in board";

 private:
  std::shared_ptr<UsbFt232r> chip_;
  std::shared_ptr<bool> open_;
  std::string error_;
};

}  // namespace tavrin::adapter::usbsim
